#pragma once
// The log pane (the main window's Memo1, or standard output when headless) as the engine and the
// flows see it.
#include <QString>

namespace nx7
{

class LogPane
{
public:
    virtual ~LogPane() = default;
    virtual int LineCount() const = 0;
    virtual void Clear() = 0;
    // Appends one line (no time stamp, no prefix).
    virtual void AppendLine(const QString& line) = 0;
    // Appends raw tool output as one entry: line breaks inside show as line breaks.
    virtual void AppendRaw(const QString& text) = 0;
};

// Tool output as one pane entry: line breaks of any kind become pane line breaks, and a final line
// break adds no empty line.
inline QString ToolOutputEntry(const QString& text)
{
    QString t = text;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (t.endsWith(QLatin1Char('\n')))
        t.chop(1);
    return t;
}

// The 2000-line rule shared by AddLog and the engine's TraceLine.
constexpr int kMaxLogLines = 2000;

inline void AppendLogLine(LogPane& pane, const QString& line)
{
    if (pane.LineCount() >= kMaxLogLines)
        pane.Clear();
    pane.AppendLine(line);
}

} // namespace nx7
