#include "platform/app_paths.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace nx7
{

namespace
{
QString& Override()
{
    static QString path;
    return path;
}
} // namespace

QString ExecutablePath()
{
    if (!Override().isEmpty())
        return Override();
    return QCoreApplication::applicationFilePath();
}

void SetExecutablePathOverride(const QString& path)
{
    Override() = path;
}

QString ExecutableDir()
{
    const QString path = ExecutablePath();
    const qsizetype cut = path.lastIndexOf(QLatin1Char('/'));
    return cut < 0 ? QString() : path.left(cut + 1);
}

QString ExecutableBaseName()
{
    const QString path = ExecutablePath();
    QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot > 0)
        name.truncate(dot);
    return name;
}

QString PortableSettingsFolder()
{
    return ExecutableDir() + QStringLiteral("Orvanta/");
}

QString UserSettingsFolder()
{
#ifdef Q_OS_WIN
    // A Windows user's program settings live in the roaming profile (%APPDATA%).
    QString base = QDir::fromNativeSeparators(qEnvironmentVariable("APPDATA"));
    if (base.isEmpty())
        base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
#else
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
#endif
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/Orvanta/");
}

namespace
{
// Whether `folder` can be written, or could be created because the nearest folder above it that
// exists can be written. Tried with a real file: permission bits say nothing of access control
// lists or read-only mounts.
bool CanWriteOrCreate(const QString& folder)
{
    QString path = QDir::cleanPath(folder);
    for (;;) {
        const QFileInfo info(path);
        if (info.exists()) {
            if (!info.isDir())
                return false;
            QTemporaryFile probe(path + QStringLiteral("/.nx7ifbprog-XXXXXX"));
            return probe.open();
        }
        const QString parent = info.path();
        if (parent == path || parent.isEmpty())
            return false;
        path = parent;
    }
}
} // namespace

QString SettingsFolder()
{
    QString portable = PortableSettingsFolder();
    const QFileInfo file(portable + ExecutableBaseName() + QStringLiteral(".ini"));
    // A writable file in a folder that is not is still saved in place.
    if ((file.exists() && file.isFile() && file.isWritable()) || CanWriteOrCreate(portable))
        return portable;
    return UserSettingsFolder();
}

QString SettingsFilePath()
{
    const QString folder = SettingsFolder();
    QDir().mkpath(folder);
    return folder + ExecutableBaseName() + QStringLiteral(".ini");
}

QString SettingsFileLogLine(const QString& path)
{
    return QStringLiteral("Settings file : ") + QDir::toNativeSeparators(path);
}

int RemoveSaveLeftovers(const QString& path, int minAgeSeconds)
{
    const QFileInfo target(path);
    const QDir dir = target.absoluteDir();
    // The save's temporaries are the file name, a dot and six letters or digits.
    const QRegularExpression pattern(QLatin1Char('^') + QRegularExpression::escape(target.fileName()) +
                                     QStringLiteral("\\.[A-Za-z0-9]{6}$"));
    const QDateTime oldest = QDateTime::currentDateTimeUtc().addSecs(-minAgeSeconds);
    int removed = 0;
    const QFileInfoList entries = dir.entryInfoList({target.fileName() + QStringLiteral(".??????")},
                                                    QDir::Files | QDir::Hidden | QDir::System);
    for (const QFileInfo& entry : entries) {
        if (entry.isSymLink() || !entry.isFile() || !pattern.match(entry.fileName()).hasMatch())
            continue;
        if (entry.lastModified().toUTC() > oldest)
            continue;
        if (QFile::remove(entry.filePath()))
            ++removed;
    }
    return removed;
}

QString UserDataFolder()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::homePath();
    return base + QStringLiteral("/novalk/") + ExecutableBaseName() + QLatin1Char('/');
}

} // namespace nx7
