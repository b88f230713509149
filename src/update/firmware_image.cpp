#include "update/firmware_image.h"

#include <QDir>
#include <QFile>
#include <QObject>
#include <QRegularExpression>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace nx7
{

namespace
{
QString& RootOverride()
{
    static QString root;
    return root;
}

#ifdef Q_OS_UNIX
// The descriptor that carries the lock, closed with the file object it hangs on (a child object
// goes after the QTemporaryFile's destructor has removed the file).
class ImageLockHolder : public QObject
{
public:
    ImageLockHolder(int fd, QObject* owner)
        : QObject(owner)
        , m_fd(fd)
    {
    }
    ~ImageLockHolder() override { ::close(m_fd); }

private:
    int m_fd;
};

// True when `fd` is still the file named `path` (not removed, not replaced).
bool StillAt(int fd, const QByteArray& path)
{
    struct stat held = {};
    struct stat named = {};
    return ::fstat(fd, &held) == 0 && ::lstat(path.constData(), &named) == 0 && held.st_dev == named.st_dev &&
           held.st_ino == named.st_ino;
}

bool NoLocksHere(int error)
{
    return error == ENOLCK || error == EOPNOTSUPP || error == EINVAL || error == ENOSYS;
}
#endif
} // namespace

void SetFirmwareResourceRoot(const QString& root)
{
    QString r = root;
    if (!r.isEmpty() && !r.endsWith(QLatin1Char('/')))
        r += QLatin1Char('/');
    RootOverride() = r;
}

QString FirmwareResourcePath(const QString& firmwareId)
{
    const QString root = RootOverride().isEmpty() ? QStringLiteral(":/RCDATAT/") : RootOverride();
    return root + firmwareId;
}

QByteArray LoadFirmwareImage(const QString& firmwareId, QString* error)
{
    const QString path = FirmwareResourcePath(firmwareId);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("ファームウェアのイメージが見つかりませんでした。\n\n") + path;
        return {};
    }
    QByteArray image = file.readAll();
    // An empty image would only make the board reject the upload later, with a vaguer message.
    if (image.isEmpty()) {
        if (error)
            *error = QStringLiteral("ファームウェアのイメージを読み込めませんでした。\n\n") + path;
        return {};
    }
    if (error)
        error->clear();
    return image;
}

bool LockImageFile(QFile& file)
{
#ifdef Q_OS_UNIX
    const QByteArray path = QFile::encodeName(file.fileName());
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        // A file system without advisory locks: the image is used unguarded, as before.
        return NoLocksHere(error);
    }
    // The lock must be on the file this object made, and that file still at its path.
    struct stat own = {};
    struct stat locked = {};
    const bool same = !file.isOpen() || file.handle() < 0 ||
                      (::fstat(file.handle(), &own) == 0 && ::fstat(fd, &locked) == 0 &&
                       own.st_dev == locked.st_dev && own.st_ino == locked.st_ino);
    if (!same || !StillAt(fd, path)) {
        ::close(fd);
        return false;
    }
    new ImageLockHolder(fd, &file);
    return true;
#else
    Q_UNUSED(file);
    return true;
#endif
}

QStringList RemoveStaleImages(const QString& folder)
{
    QStringList removed;
#ifdef Q_OS_UNIX
    static const QRegularExpression name(QStringLiteral("^UOf-[A-Za-z0-9]{6}\\.bin$"));
    const QDir dir(folder);
    const QFileInfoList entries =
        dir.entryInfoList({QStringLiteral("UOf-??????.bin")}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QFileInfo& entry : entries) {
        if (entry.isSymLink() || !name.match(entry.fileName()).hasMatch())
            continue;
        const QByteArray path = QFile::encodeName(entry.absoluteFilePath());
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0)
            continue;
        struct stat st = {};
        // Held by a running write (its lock), or not a leftover of ours: it stays.
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0 && StillAt(fd, path) && ::unlink(path.constData()) == 0)
            removed << entry.absoluteFilePath();
        ::close(fd);
    }
#else
    Q_UNUSED(folder);
#endif
    return removed;
}

} // namespace nx7
