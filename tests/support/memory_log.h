#pragma once
#include "platform/log_pane.h"

#include <QStringList>

namespace nx7::test
{

// A log pane that keeps its lines for assertions. Raw entries are split at line breaks.
class MemoryLog : public LogPane
{
public:
    int LineCount() const override { return static_cast<int>(lines.size()); }
    void Clear() override { lines.clear(); }
    void AppendLine(const QString& line) override { lines.append(line); }
    void AppendRaw(const QString& text) override
    {
        raw.append(text);
        QString t = text;
        t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        for (const QString& l : t.split(QLatin1Char('\n')))
            lines.append(l);
    }
    bool Contains(const QString& line) const { return lines.contains(line); }

    QStringList lines;
    QStringList raw;
};

} // namespace nx7::test
