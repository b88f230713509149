#include "diag/bundle_parts.h"

#include <QDateTime>
#include <QSerialPortInfo>

#include <archive.h>
#include <archive_entry.h>

namespace nx7::diag
{

bool PackZip(const QList<ZipEntry>& entries, QByteArray* zip, QString* error)
{
    QByteArray& buffer = *zip;
    struct archive* a = archive_write_new();
    archive_write_set_format_zip(a);
    // Into memory first, so the file on disk is replaced in one step.
    auto writeCb = [](struct archive*, void* client, const void* data, size_t size) -> la_ssize_t {
        static_cast<QByteArray*>(client)->append(static_cast<const char*>(data),
                                                 static_cast<qsizetype>(size));
        return static_cast<la_ssize_t>(size);
    };
    bool ok = archive_write_open(a, &buffer, nullptr, writeCb, nullptr) == ARCHIVE_OK;
    const time_t now = static_cast<time_t>(QDateTime::currentSecsSinceEpoch());
    for (const ZipEntry& e : entries) {
        if (!ok)
            break;
        struct archive_entry* entry = archive_entry_new();
        const QByteArray name = e.name.toUtf8();
        archive_entry_set_pathname_utf8(entry, name.constData());
        archive_entry_set_size(entry, e.data.size());
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_perm(entry, 0644);
        archive_entry_set_mtime(entry, now, 0);
        ok = archive_write_header(a, entry) == ARCHIVE_OK &&
             archive_write_data(a, e.data.constData(), static_cast<size_t>(e.data.size())) == e.data.size();
        archive_entry_free(entry);
    }
    const QString archiveError =
        QString::fromLocal8Bit(archive_error_string(a) ? archive_error_string(a) : "archive error");
    ok = archive_write_close(a) == ARCHIVE_OK && ok;
    archive_write_free(a);
    if (!ok && error)
        *error = archiveError;
    return ok;
}

QStringList SystemSerialPorts()
{
    QStringList lines;
    for (const QSerialPortInfo& p : QSerialPortInfo::availablePorts()) {
        lines << QStringLiteral("%1 %2 [%3] vid=%4 pid=%5")
                     .arg(p.systemLocation(), p.description(), p.manufacturer())
                     .arg(p.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                     .arg(p.productIdentifier(), 4, 16, QLatin1Char('0'));
    }
    return lines;
}

} // namespace nx7::diag
