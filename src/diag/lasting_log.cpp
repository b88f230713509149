#include "diag/lasting_log.h"

#include "diag/secret_mask.h"
#include "platform/app_paths.h"

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
    if (m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        PruneOldLogs(folder);
}

LastingLog::~LastingLog() = default;

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
    Write(QStringLiteral("[uploader] "), ToolOutputEntry(text));
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
    const QString shown =
        m_diagnostic ? text : MaskSecrets(text, m_secretsSource ? m_secrets + m_secretsSource() : m_secrets);
    const QString stamp = m_clock().toString(QStringLiteral("HH:mm:ss.zzz ")) + tag;
    QString out;
    // Continuation lines of a multi-line entry keep the entry's stamp, so grep finds them all.
    for (const QString& line : shown.split(QLatin1Char('\n')))
        out += stamp + line + QLatin1Char('\n');
    m_file.write(out.toUtf8());
    m_file.flush();
}

} // namespace nx7::diag
