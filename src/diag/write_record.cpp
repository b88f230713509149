#include "diag/write_record.h"

#include "platform/file_save.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>

namespace nx7::diag
{

namespace
{

constexpr char kBom[] = "\xEF\xBB\xBF";
constexpr char kLineEnd[] = "\r\n";

QString Number(double value, int decimals)
{
    return value < 0 ? QString() : QString::number(value, 'f', decimals);
}

} // namespace

QString WriteRecordPath(const QString& settingsFolder)
{
    return QDir(settingsFolder).filePath(QStringLiteral("log/results.csv"));
}

QStringList WriteRecordColumns()
{
    return {QStringLiteral("time"),         QStringLiteral("port"),           QStringLiteral("model"),
            QStringLiteral("target id"),    QStringLiteral("version before"), QStringLiteral("version after"),
            QStringLiteral("verdict"),      QStringLiteral("failure class"),  QStringLiteral("duration s"),
            QStringLiteral("transfer KB/s")};
}

QString CsvField(const QString& text)
{
    const bool quote = text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"')) ||
                       text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r')) ||
                       text.startsWith(QLatin1Char(' ')) || text.endsWith(QLatin1Char(' '));
    if (!quote)
        return text;
    QString inner = text;
    inner.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + inner + QLatin1Char('"');
}

QString WriteRecordLine(const WriteRecord& r)
{
    const QStringList fields{
        r.time.isValid() ? r.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString(),
        r.port,
        r.model,
        r.targetId,
        r.versionBefore,
        r.versionAfter,
        r.verdict,
        r.failureClass,
        Number(r.durationMs < 0 ? -1.0 : r.durationMs / 1000.0, 1),
        Number(r.transferKBps, 1),
    };
    QStringList out;
    out.reserve(fields.size());
    for (const QString& f : fields)
        out << CsvField(f);
    return out.join(QLatin1Char(','));
}

bool AppendWriteRecord(const QString& path, const WriteRecord& record, QString* error)
{
    auto fail = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), why);
        return false;
    };
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath()))
        return fail(QStringLiteral("フォルダを作成できません"));

    const bool existed = info.exists();
    QFile file(path);
    // Read-write (not truncating) so the last byte can be looked at; everything goes at the end.
    // Unbuffered, so a failed write is seen here and not in a later flush.
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered))
        return fail(FileErrorCause(errno, file.errorString()));
    QByteArray out;
    const qint64 size = file.size();
    if (size == 0) {
        out += kBom;
        out += WriteRecordColumns().join(QLatin1Char(',')).toUtf8();
        out += kLineEnd;
    } else if (file.seek(size - 1) && file.read(1) != "\n") {
        out += kLineEnd;
    }
    out += WriteRecordLine(record).toUtf8();
    out += kLineEnd;
    // One write at the end: another instance appending at the same time cannot split the line.
    // A failed one is cut off again, so the file keeps exactly the records it had.
    QString cause;
    if (!AppendWhole(file, out, &cause)) {
        file.close();
        if (!existed)
            QFile::remove(path);
        return fail(cause);
    }
    return true;
}

QString SessionCounters::Text() const
{
    return QStringLiteral("OK %1 / NG %2").arg(ok).arg(ng);
}

} // namespace nx7::diag
