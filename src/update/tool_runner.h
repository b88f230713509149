#pragma once
// The uploader run as the write sees it: the process runner underneath, and on top what the output
// means (the error words, the Wi-Fi adapter check, the upload percentage), the log pane held within
// bounds and the progress dialog kept alive.
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

namespace nx7
{

class AppCore;
class LogPane;

// Text of the progress dialog's `dot` label for the animation counter n (0..9).
QString ProgressDots(int n);

// One command-line piece quoted as the platform's command interpreter reads it, for the command line
// shown in the log: single quotes for /bin/sh (so blanks, quotes, `$` and backquotes stay literal),
// double quotes for cmd.exe.
QString QuoteForInterpreter(const QString& piece);

// The last upload percentage (0..100) the uploader printed in `text` ("Uploading: 37%",
// "... 37% "); -1 when there is none.
int ParseUploadPercent(const QString& text);

// How the configured uploader is started. A relative path is taken from the executable's folder
// (never from PATH); a ".py" file without the run bit runs through python3.
struct UploaderLaunch {
    QString path;    // the resolved uploader file (native separators)
    QString program; // what is started: the uploader itself or python3
    QStringList arguments;
    QString problem; // empty when it can be started; else one line naming the path and the cause
    // "NAME=value" entries added to the uploader's environment (the password for the project's own
    // uploader, see UploaderPasswordArguments).
    QStringList environment;
};
UploaderLaunch ResolveUploader(const QString& configured);

enum class UploaderEnd {
    Finished,    // exit status 0
    Failed,      // non-zero exit status or ended by a signal
    CannotStart, // never ran
    Refused,     // "ERROR" with no Wi-Fi adapter on the board's network (the forced lines are logged)
    Silent,      // no output for the silence limit: ended
    Aborted,     // abortCheck ended it
};

struct UploaderRun {
    UploaderEnd end = UploaderEnd::Finished;
    int exitCode = 0;
    QString detail; // start error or cause, for the log
    // When the uploader last printed (or started), on the program's tick clock.
    std::uint32_t lastOutputTick = 0;
    // What it printed, for telling its failures apart: all of it up to a bound; past that the
    // beginning and the latest part (a flooding uploader must not fill the memory).
    QString output;
};

// Runs the uploader with `arguments` after its own (`launch.arguments`), ended after
// `silenceLimitMs` without output. Its output is kept, read for the upload percentage, shown in
// `logPane` within bounds and searched for the error words ("Error" and "ERROR" clear
// app.ToolOutputClean; "ERROR" with no Wi-Fi adapter on the board's network ends it as Refused and
// logs the forced lines); with no `logPane` it is neither shown nor searched. The progress dots
// advance meanwhile.
UploaderRun RunUploader(AppCore& app, const UploaderLaunch& launch, const QStringList& arguments,
                        LogPane* logPane, std::uint32_t silenceLimitMs,
                        const std::function<bool()>& abortCheck = {});

} // namespace nx7
