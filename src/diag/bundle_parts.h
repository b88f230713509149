#pragma once
// The platform's parts of the support bundle: packing the zip (libarchive, or Qt's own zip writer on
// Windows, where libarchive is not built) and the system's list of serial ports.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace nx7::diag
{

struct ZipEntry {
    QString name; // path inside the zip, '/' separated
    QByteArray data;
};

// The whole zip in memory; false with `error` set when it could not be packed.
bool PackZip(const QList<ZipEntry>& entries, QByteArray* zip, QString* error);
// One line per serial port the system reports: its location, description, maker and USB ids.
QStringList SystemSerialPorts();

} // namespace nx7::diag
