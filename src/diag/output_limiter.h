#pragma once
// Keeps a flood of tool output from filling the log pane and the memory: the first part is shown
// as it comes, the last part is held and shown at the end, and one line says how much was left out
// in between.
#include <QString>

namespace nx7
{

class LogPane;

class OutputLimiter
{
public:
    // `headChars` are shown live; afterwards at most about `tailChars` are held for the end.
    explicit OutputLimiter(LogPane& pane, qsizetype headChars = 64 * 1024, qsizetype tailChars = 16 * 1024);

    // One piece of output, as one pane entry while the head lasts.
    void Append(const QString& text);
    // Shows the omission line and the held tail (nothing when everything was shown). Call once,
    // after the last piece.
    void Finish();

    qint64 OmittedChars() const { return m_omittedChars; }
    qint64 OmittedLines() const { return m_omittedLines; }

private:
    void Omit(qsizetype count);

    LogPane& m_pane;
    qsizetype m_headLeft;
    qsizetype m_tailChars;
    QString m_tail;
    qint64 m_omittedChars = 0;
    qint64 m_omittedLines = 0;
};

// "…（途中の出力 N 行・M 文字を省略しました）…"
QString OmittedOutputLine(qint64 lines, qint64 chars);

} // namespace nx7
