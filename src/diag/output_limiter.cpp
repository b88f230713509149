#include "diag/output_limiter.h"

#include "platform/log_pane.h"

namespace nx7
{

QString OmittedOutputLine(qint64 lines, qint64 chars)
{
    return QStringLiteral("…（途中の出力 %1 行・%2 文字を省略しました）…").arg(lines).arg(chars);
}

OutputLimiter::OutputLimiter(LogPane& pane, qsizetype headChars, qsizetype tailChars)
    : m_pane(pane)
    , m_headLeft(headChars)
    , m_tailChars(tailChars)
{
}

void OutputLimiter::Omit(qsizetype count)
{
    m_omittedChars += count;
    for (qsizetype i = 0; i < count; ++i) {
        if (m_tail.at(i) == QLatin1Char('\n'))
            ++m_omittedLines;
    }
    m_tail.remove(0, count);
}

void OutputLimiter::Append(const QString& text)
{
    if (m_headLeft > 0) {
        m_pane.AppendRaw(text);
        m_headLeft -= text.size();
        return;
    }
    m_tail += text;
    // Trimmed in steps so a steady flood costs a copy per tail's worth of text, not per piece.
    if (m_tail.size() > 2 * m_tailChars)
        Omit(m_tail.size() - m_tailChars);
}

void OutputLimiter::Finish()
{
    if (m_tail.isEmpty())
        return;
    if (m_tail.size() > m_tailChars)
        Omit(m_tail.size() - m_tailChars);
    if (m_omittedChars > 0) {
        // The tail starts with a whole line.
        const qsizetype lineEnd = m_tail.indexOf(QLatin1Char('\n'));
        if (lineEnd >= 0 && lineEnd + 1 < m_tail.size())
            Omit(lineEnd + 1);
        m_pane.AppendLine(OmittedOutputLine(m_omittedLines, m_omittedChars));
    }
    m_pane.AppendRaw(m_tail);
    m_tail.clear();
}

} // namespace nx7
