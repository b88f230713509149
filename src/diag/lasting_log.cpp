#include "diag/lasting_log.h"

#include "diag/secret_mask.h"
#include "platform/app_paths.h"
#include "platform/file_save.h"

#include <QDir>
#include <QRegularExpression>
#include <algorithm>

namespace nx7::diag
{

namespace
{
const QString kPrefix = QStringLiteral("nx7ifbprog-");

const QRegularExpression& LogNamePattern()
{
    static const QRegularExpression re(QStringLiteral(R"(^nx7ifbprog-\d{8}-\d{6}(-\d+)?\.log$)"));
    return re;
}
} // namespace

QString LogFolder()
{
    return SettingsFolder() + QStringLiteral("log/");
}

QString LastingLog::FileNameFor(const QDateTime& start)
{
    return kPrefix + start.toString(QStringLiteral("yyyyMMdd-HHmmss")) + QStringLiteral(".log");
}

QStringList LastingLog::LogFiles(const QString& folder)
{
    QStringList names;
    for (const QString& n : QDir(folder).entryList(QDir::Files)) {
        if (LogNamePattern().match(n).hasMatch())
            names << n;
    }
    // By name without the extension, so that a same-second "-2" file sorts after its first.
    std::sort(names.begin(), names.end(),
              [](const QString& a, const QString& b) { return a.chopped(4) < b.chopped(4); });
    for (QString& n : names)
        n = QDir(folder).filePath(n);
    return names;
}

void LastingLog::PruneOldLogs(const QString& folder, int keep)
{
    const QStringList files = LogFiles(folder);
    for (qsizetype i = 0; i + keep < files.size(); ++i)
        QFile::remove(files.at(i));
}

LastingLog::LastingLog(LogPane* inner, const QString& folder, Clock clock)
    : m_inner(inner)
    , m_clock(clock ? std::move(clock) : Clock([] { return QDateTime::currentDateTime(); }))
{
    QDir().mkpath(folder);
    const QDateTime start = m_clock();
    QString path = QDir(folder).filePath(FileNameFor(start));
    // Two runs in the same second: the later one gets a suffix instead of appending to the first.
    for (int n = 2; QFile::exists(path); ++n)
        path = QDir(folder).filePath(
            FileNameFor(start).replace(QStringLiteral(".log"), QStringLiteral("-%1.log").arg(n)));
    m_file.setFileName(path);
    // Unbuffered: every entry is on disk when Write returns, and a failed one is seen there.
    if (m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text | QIODevice::Unbuffered))
        PruneOldLogs(folder);
}

LastingLog::~LastingLog()
{
    EndUploaderOutput();
}

void LastingLog::AddSecret(const QString& secret)
{
    if (!secret.isEmpty() && !m_secrets.contains(secret))
        m_secrets << secret;
}

int LastingLog::LineCount() const
{
    return m_inner ? m_inner->LineCount() : 0;
}

void LastingLog::Clear()
{
    if (m_inner)
        m_inner->Clear();
}

void LastingLog::AppendLine(const QString& line)
{
    if (m_inner)
        m_inner->AppendLine(line);
    Write(QString(), line);
}

void LastingLog::AppendRaw(const QString& text)
{
    if (m_inner)
        m_inner->AppendRaw(text);
    Write(QString(), ToolOutputEntry(text));
}

void LastingLog::LogDialog(const QString& caption, const QString& text)
{
    Write(QStringLiteral("[dialog] "), caption.isEmpty() ? text : caption + QStringLiteral(": ") + text);
}

void LastingLog::LogUploaderOutput(const QString& text)
{
    // The same bound as the pane: a flooding uploader must not fill the disk.
    if (!m_uploaderLimiter)
        m_uploaderLimiter = std::make_unique<OutputLimiter>(m_uploaderSink);
    m_uploaderLimiter->Append(text);
}

void LastingLog::EndUploaderOutput()
{
    if (!m_uploaderLimiter)
        return;
    m_uploaderLimiter->Finish();
    m_uploaderLimiter.reset();
}

void LastingLog::UploaderSink::AppendLine(const QString& line)
{
    m_log.Write(QStringLiteral("[uploader] "), line);
}

void LastingLog::UploaderSink::AppendRaw(const QString& text)
{
    m_log.Write(QStringLiteral("[uploader] "), ToolOutputEntry(text));
}

void LastingLog::LogTrace(const QString& line)
{
    if (m_diagnostic)
        Write(QStringLiteral("[trace] "), line);
}

void LastingLog::LogNote(const QString& line)
{
    Write(QString(), line);
}

void LastingLog::Write(const QString& tag, const QString& text)
{
    if (!m_file.isOpen())
        return;
    // No password goes to disk, whatever the diagnostic switch says: a log file travels.
    const QString shown = MaskForFile(text, m_secretsSource ? m_secrets + m_secretsSource() : m_secrets);
    const QString stamp = m_clock().toString(QStringLiteral("HH:mm:ss.zzz ")) + tag;
    QString out;
    if (m_lostEntries > 0)
        out += m_clock().toString(QStringLiteral("HH:mm:ss.zzz ")) +
               QStringLiteral("（ログファイルに書き込めなかった記録が %1 件あります）\n").arg(m_lostEntries);
    // Continuation lines of a multi-line entry keep the entry's stamp, so grep finds them all.
    for (const QString& line : shown.split(QLatin1Char('\n')))
        out += stamp + line + QLatin1Char('\n');
    QString cause;
    if (AppendWhole(m_file, out.toUtf8(), &cause)) {
        m_lostEntries = 0;
        return;
    }
    ++m_lostEntries;
    if (!m_writeFailureSaid && m_inner) {
        m_writeFailureSaid = true;
        m_inner->AppendLine(QStringLiteral("ログファイルに書き込めません: ") +
                            QDir::toNativeSeparators(m_file.fileName()) + QStringLiteral(": ") + cause);
    }
}

} // namespace nx7::diag
