#include "platform/app_paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

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

QString SettingsFolder()
{
    return ExecutableDir() + QStringLiteral("Orvanta/");
}

QString SettingsFilePath()
{
    const QString folder = SettingsFolder();
    QDir().mkpath(folder);
    return folder + ExecutableBaseName() + QStringLiteral(".ini");
}

QString UserDataFolder()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::homePath();
    return base + QStringLiteral("/novalk/") + ExecutableBaseName() + QLatin1Char('/');
}

} // namespace nx7
