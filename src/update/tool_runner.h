#pragma once
// Runs an external command line through the platform's command interpreter, copies its output into
// the log pane, watches it for the uploader's error words and keeps the progress dialog alive.
#include <QString>
#include <functional>

namespace nx7
{

class AppCore;
class LogPane;

// Text of the progress dialog's `dot` label for the animation counter n (0..9).
QString ProgressDots(int n);

// One command-line piece quoted for the interpreter RunTool uses: single quotes for /bin/sh (so
// blanks, quotes, `$` and backquotes stay literal), double quotes for cmd.exe.
QString QuoteForInterpreter(const QString& piece);

// The last upload percentage (0..100) the uploader printed in `text` ("Uploading: 37%",
// "... 37% "); -1 when there is none.
int ParseUploadPercent(const QString& text);

// The interpreter program RunTool starts (empty: the platform's own, /bin/sh or cmd.exe).
void SetToolInterpreter(const QString& program);

// True when the interpreter ran to its end or `abortCheck` ended it (what it printed until then is
// still shown and searched); false when the process could not be started, reading its output
// failed, or "ERROR" appeared and no Wi-Fi adapter is on the board's network. `logPane` may be
// null: the output is then drained and discarded.
bool RunTool(AppCore& app, const QString& command, LogPane* logPane,
             const std::function<bool()>& abortCheck = {});

} // namespace nx7
