#pragma once
// The uploader's output on standard error: "HH:MM:SS [LEVEL]: message" lines, plus progress text
// that may stay on one line (dots, the progress bar) until the next log line.
#include <QString>

namespace nx7::espota
{

class ConsoleLog
{
public:
    explicit ConsoleLog(bool debug)
        : m_debug(debug)
    {
    }
    void Info(const QString& text) { Line("INFO", text); }
    void Warning(const QString& text) { Line("WARNING", text); }
    void Error(const QString& text) { Line("ERROR", text); }
    void Debug(const QString& text)
    {
        if (m_debug)
            Line("DEBUG", text);
    }
    bool IsDebug() const { return m_debug; }
    // A log line prefix and `text`, with the line left open for Append().
    void Begin(const QString& text);
    // Text on the open line (or raw text when none is open); `open` says whether the line stays open.
    void Append(const QString& text, bool open = true);
    // Ends an open line.
    void EndLine();

private:
    void Line(const char* level, const QString& text);
    static void Write(const QString& text);

    bool m_debug;
    bool m_lineOpen = false;
};

} // namespace nx7::espota
