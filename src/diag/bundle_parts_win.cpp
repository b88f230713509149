// Windows: the zip comes from Qt's own zip writer (libarchive is not built for Windows here), the
// serial ports from the registry's list.
#include "diag/bundle_parts.h"

#include "platform/com_names.h"

#include <QBuffer>
#include <private/qzipwriter_p.h>

namespace nx7::diag
{

bool PackZip(const QList<ZipEntry>& entries, QByteArray* zip, QString* error)
{
    QBuffer buffer(zip);
    buffer.open(QIODevice::WriteOnly);
    QZipWriter writer(&buffer);
    writer.setCompressionPolicy(QZipWriter::AutoCompress);
    for (const ZipEntry& e : entries)
        writer.addFile(e.name, e.data);
    writer.close();
    if (writer.status() != QZipWriter::NoError) {
        if (error)
            *error = QStringLiteral("zip error %1").arg(static_cast<int>(writer.status()));
        return false;
    }
    return true;
}

QStringList SystemSerialPorts()
{
    QStringList lines;
    for (const SerialDevice& d : PresentSerialDevices(QString()))
        lines << QStringLiteral("%1 %2").arg(d.device, d.description);
    return lines;
}

} // namespace nx7::diag
