#include "console_log.h"

#include <QTime>

#include <cstdio>

namespace nx7::espota
{

namespace
{
QString Prefix(const char* level)
{
    return QTime::currentTime().toString(QStringLiteral("HH:mm:ss")) + QStringLiteral(" [") +
           QLatin1String(level) + QStringLiteral("]: ");
}
} // namespace

void ConsoleLog::Write(const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}

void ConsoleLog::Line(const char* level, const QString& text)
{
    EndLine();
    Write(Prefix(level) + text + QLatin1Char('\n'));
}

void ConsoleLog::Begin(const QString& text)
{
    EndLine();
    Write(Prefix("INFO") + text);
    m_lineOpen = true;
}

void ConsoleLog::Append(const QString& text, bool open)
{
    Write(text);
    m_lineOpen = open;
}

void ConsoleLog::EndLine()
{
    if (m_lineOpen) {
        Write(QStringLiteral("\n"));
        m_lineOpen = false;
    }
}

} // namespace nx7::espota
