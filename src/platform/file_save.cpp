#include "platform/file_save.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <cerrno>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace nx7
{

namespace
{

FileSaveResult Failure(FileSaveResult::Kind kind, int errorNumber, const QString& systemText)
{
    return FileSaveResult{kind, FileErrorCause(errorNumber, systemText)};
}

// The sync's own failure counts: a file system may report a full disk only when the data goes out.
bool SyncToDisk(QFileDevice& file)
{
#ifndef Q_OS_WIN
    return ::fsync(file.handle()) == 0;
#else
    return file.flush();
#endif
}

bool Refused(const QString& path, const FileSaveOptions& options)
{
    const QFileInfo info(path);
    return options.existing == ExistingFile::Keep && (info.isSymLink() || info.exists());
}

// The file's own folder cannot be written: the new content goes into the file itself. The part
// past the old end is written first, so a full disk fails before a byte of the old content has
// changed; any later failure puts the old content back.
FileSaveResult RewriteInPlace(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    errno = 0;
    if (!file.open(QIODevice::ReadWrite | QIODevice::Unbuffered))
        return Failure(FileSaveResult::Kind::NoAccess, errno, file.errorString());
    const QByteArray old = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return Failure(FileSaveResult::Kind::NoAccess, errno, file.errorString());
    const qsizetype common = std::min(old.size(), bytes.size());
    auto restore = [&](int errorNumber) {
        const QString text = file.errorString();
        if (file.seek(0))
            file.write(old.left(common));
        file.resize(old.size());
        SyncToDisk(file);
        return Failure(FileSaveResult::Kind::WriteFailed, errorNumber, text);
    };
    errno = 0;
    if (bytes.size() > old.size()) {
        const QByteArray beyond = bytes.mid(old.size());
        if (!file.seek(old.size()) || file.write(beyond) != beyond.size() || !SyncToDisk(file))
            return restore(errno);
    }
    const QByteArray front = bytes.left(common);
    if (!file.seek(0) || file.write(front) != front.size())
        return restore(errno);
    if (bytes.size() < old.size() && !file.resize(bytes.size()))
        return restore(errno);
    if (!SyncToDisk(file))
        return restore(errno);
    return {};
}

} // namespace

QString FileErrorCause(int errorNumber, const QString& qtText)
{
    // A short write is no error to Qt ("Unknown error"); the system's number says what happened.
    const QString systemText = errorNumber != 0 ? qt_error_string(errorNumber) : qtText;
    QString known;
    switch (errorNumber) {
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        known = QStringLiteral("ディスクの空き容量が不足しています");
        break;
    case EROFS:
        known = QStringLiteral("読み取り専用のファイルシステムです");
        break;
    case EACCES:
    case EPERM:
        known = QStringLiteral("アクセスが拒否されました");
        break;
    case EIO:
        known = QStringLiteral("ディスクの読み書きでエラーが発生しました");
        break;
    case EFBIG:
        known = QStringLiteral("ファイルが大きすぎます");
        break;
    default:
        break;
    }
    if (known.isEmpty())
        return systemText.isEmpty() ? QStringLiteral("原因不明のエラー") : systemText;
    return systemText.isEmpty() ? known : known + QStringLiteral(" (") + systemText + QLatin1Char(')');
}

FileSaveResult SaveWholeFile(const QString& path, const QByteArray& bytes, const FileSaveOptions& options)
{
    if (Refused(path, options))
        return FileSaveResult{FileSaveResult::Kind::Exists,
                              QStringLiteral("同じ名前のファイルが既にあります")};
    const bool existed = QFileInfo::exists(path);
    QSaveFile file(path);
    errno = 0;
    // Unbuffered: a buffered write only fills memory and "succeeds"; the failure came at the
    // commit, which then put the half-written file in place all the same.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        const int errorNumber = errno;
        if (options.inPlaceFallback && existed)
            return RewriteInPlace(path, bytes);
        return Failure(FileSaveResult::Kind::NoAccess, errorNumber, file.errorString());
    }
    auto fail = [&](int errorNumber) {
        const QString text = file.errorString();
        file.cancelWriting();
        return Failure(FileSaveResult::Kind::WriteFailed, errorNumber, text);
    };
    errno = 0;
    if (file.write(bytes) != bytes.size())
        return fail(errno);
    if (!file.flush() || file.error() != QFileDevice::NoError)
        return fail(errno);
    if (!SyncToDisk(file))
        return fail(errno);
    // Something may have taken the name since the check above.
    if (Refused(path, options)) {
        file.cancelWriting();
        return FileSaveResult{FileSaveResult::Kind::Exists,
                              QStringLiteral("同じ名前のファイルが既にあります")};
    }
    errno = 0;
    if (!file.commit())
        return Failure(FileSaveResult::Kind::WriteFailed, errno, file.errorString());
    return {};
}

bool AppendWhole(QFile& file, const QByteArray& bytes, QString* cause)
{
    const qint64 size = file.size();
    errno = 0;
    if (file.write(bytes) == bytes.size() && file.flush())
        return true;
    const int errorNumber = errno;
    const QString text = file.errorString();
    // A part that made it to the disk is cut off again: the file ends where it ended.
    file.resize(size);
    if (cause)
        *cause = FileErrorCause(errorNumber, text);
    return false;
}

} // namespace nx7
