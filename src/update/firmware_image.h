#pragma once
// The firmware image the tool carries: a Qt resource named by the firmware identifier.
#include <QByteArray>
#include <QString>

namespace nx7
{

// Folder the image is looked up in (default ":/RCDATAT/"); tests point it at a file folder.
// Empty: back to the default.
void SetFirmwareResourceRoot(const QString& root);
QString FirmwareResourcePath(const QString& firmwareId);

// The whole image; an empty array with `error` set when it is missing, unreadable or empty.
QByteArray LoadFirmwareImage(const QString& firmwareId, QString* error);

} // namespace nx7
