#include "diag/support_bundle.h"

#include "diag/bundle_parts.h"
#include "diag/lasting_log.h"
#include "diag/secret_mask.h"
#include "platform/code_page.h"
#include "platform/file_save.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QSysInfo>
#include <QTextStream>

namespace nx7::diag
{

namespace
{

using Entry = ZipEntry;

QString ReadText(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = f.readAll();
    // Settings may be UTF-16 with a byte-order mark, UTF-8, or the legacy 8-bit code page.
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        auto decode =
            QStringDecoder(bytes.startsWith("\xFF\xFE") ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE);
        return decode(bytes.mid(2));
    }
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.mid(3));
    auto utf8 = QStringDecoder(QStringDecoder::Utf8);
    const QString text = utf8(bytes);
    return utf8.hasError() ? FromAnsi(bytes) : text;
}

QString SystemText(const SupportBundleInput& in)
{
    QStringList lines;
    lines << QStringLiteral("created: %1").arg(QDateTime::currentDateTime().toString(Qt::ISODate))
          << QStringLiteral("tool version: %1").arg(in.toolVersion)
          << QStringLiteral("image version: %1").arg(in.imageVersion)
          << QStringLiteral("board version: %1")
                 .arg(in.boardVersion.isEmpty() ? QStringLiteral("(unknown)") : in.boardVersion)
          << QStringLiteral("Qt: %1 (built with %2)")
                 .arg(QString::fromLatin1(qVersion()), QStringLiteral(QT_VERSION_STR))
          << QStringLiteral("OS: %1").arg(QSysInfo::prettyProductName())
          << QStringLiteral("kernel: %1 %2").arg(QSysInfo::kernelType(), QSysInfo::kernelVersion())
          << QStringLiteral("CPU: %1").arg(QSysInfo::currentCpuArchitecture());
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QString SerialText(const SupportBundleInput& in)
{
    QStringList lines = in.serialPorts;
    if (lines.isEmpty()) {
        lines = SystemSerialPorts();
    }
    if (lines.isEmpty())
        lines << QStringLiteral("(no serial ports)");
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

bool WriteZip(const QList<Entry>& entries, const QString& zipPath, QString* error, BundleTarget target)
{
    auto fail = [&](const QString& why) {
        if (error)
            *error = QDir::toNativeSeparators(zipPath) + QStringLiteral(": ") + why;
        return false;
    };
    // A link could point anywhere (another user's file, a file of the system): never followed.
    if (QFileInfo(zipPath).isSymLink())
        return fail(QStringLiteral("シンボリックリンクには書き込みません"));
    if (target == BundleTarget::New && QFileInfo::exists(zipPath))
        return fail(QStringLiteral("同じ名前のファイルが既にあります"));
    QByteArray buffer;
    QString packError;
    if (!PackZip(entries, &buffer, &packError))
        return fail(packError);
    FileSaveOptions options;
    options.existing = target == BundleTarget::New ? ExistingFile::Keep : ExistingFile::Replace;
    const FileSaveResult saved = SaveWholeFile(zipPath, buffer, options);
    if (!saved.Saved())
        return fail(saved.cause);
    return true;
}

} // namespace

bool WriteSupportBundle(const SupportBundleInput& in, const QString& zipPath, QString* error,
                        BundleTarget target)
{
    SystemNetworkView system;
    const NetworkView& net = in.network ? *in.network : system;
    auto text = [&](const QString& name, const QString& body) {
        return Entry{name, MaskForFile(body, in.secrets).toUtf8()};
    };

    QList<Entry> entries;
    entries << text(QStringLiteral("system.txt"), SystemText(in));

    // The current log and the one before it.
    QStringList logs = LastingLog::LogFiles(in.logFolder);
    QString current = in.currentLog.isEmpty() && !logs.isEmpty() ? logs.last() : in.currentLog;
    QString previous;
    for (qsizetype i = logs.size() - 1; i >= 0; --i) {
        if (QFileInfo(logs.at(i)).canonicalFilePath() != QFileInfo(current).canonicalFilePath()) {
            previous = logs.at(i);
            break;
        }
    }
    for (const QString& path : {current, previous}) {
        if (!path.isEmpty() && QFileInfo::exists(path))
            entries << text(QStringLiteral("logs/") + QFileInfo(path).fileName(), ReadText(path));
    }

    if (!in.settingsPath.isEmpty() && QFileInfo::exists(in.settingsPath)) {
        entries << Entry{QStringLiteral("settings/") + QFileInfo(in.settingsPath).fileName(),
                         MaskSettingsText(ReadText(in.settingsPath), in.secrets).toUtf8()};
    }
    entries << text(QStringLiteral("network.txt"),
                    DescribeNetwork(net).join(QLatin1Char('\n')) + QLatin1Char('\n'));
    entries << text(QStringLiteral("serial-ports.txt"), SerialText(in));
    return WriteZip(entries, zipPath, error, target);
}

} // namespace nx7::diag
