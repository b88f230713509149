#pragma once
// The firmware image the tool carries: a Qt resource named by the firmware identifier; and the
// temporary image files "UOf-XXXXXX.bin" a write hands to the uploader.
#include <QByteArray>
#include <QString>
#include <QStringList>

class QFile;

namespace nx7
{

// Folder the image is looked up in (default ":/RCDATAT/"); tests point it at a file folder.
// Empty: back to the default.
void SetFirmwareResourceRoot(const QString& root);
QString FirmwareResourcePath(const QString& firmwareId);

// The whole image; an empty array with `error` set when it is missing, unreadable or empty.
QByteArray LoadFirmwareImage(const QString& firmwareId, QString* error);

// A write holds an advisory lock on its temporary image for as long as the file exists, so that the
// start of another instance (two boards on one PC) tells an image in use from one a killed run left.
// Call it right after `file` was created. The lock lasts as long as the `file` object (also after
// file.close(); it is released after a QTemporaryFile removed its file). False only when the file
// is no longer the one at its path: a starting instance took it for a leftover in the instant
// between its creation and the lock; make a new file. Where the platform or the file system has no
// such locks, true without a lock.
bool LockImageFile(QFile& file);

// Removes the temporary images ("UOf-" + six letters or digits + ".bin", regular files of this
// user) in `folder` that no running write holds. Returns the paths removed.
QStringList RemoveStaleImages(const QString& folder);

} // namespace nx7
