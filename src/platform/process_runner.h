#pragma once
// Runs one child process and reports what happened: its output in pieces as it comes, silence,
// abort, exit status. It knows nothing of what the output means; callers pass hooks. The write runs
// the uploader through it, the diagnostics their system tools; both wait in the event loop.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

namespace nx7
{

// At most this many bytes are handed to the output hook per piece.
constexpr qint64 kToolReadChunk = 2049;

struct ProcessSpec {
    QString program;
    QStringList arguments;
    // Windows: the command line's tail exactly as given (cmd.exe /C takes it unquoted).
    QString nativeArguments;
    // "NAME=value" entries added to (or replacing in) the tool's own environment for the child.
    QStringList environment;
};

struct ProcessHooks {
    // Each piece read (1..kToolReadChunk bytes), also after the process has ended. Returning
    // false ends the process (and its process group) at once; what it had printed is still read.
    std::function<bool(const QByteArray& piece)> output;
    // Polled once per pass; true ends the process.
    std::function<bool()> abort;
    // Called once per pass of the wait loop (about every 50 ms or sooner).
    std::function<void()> pass;
    // End the process after this many milliseconds on the program's clock without output (0: never).
    std::uint32_t silenceLimitMs = 0;
};

enum class ProcessEnd {
    Exited,          // ended by itself; exitCode holds its status
    Crashed,         // ended by a signal (or a crash)
    StartFailed,     // never ran; error says why
    Aborted,         // hooks.abort asked for the end
    Silent,          // silenceLimitMs passed without output
    StoppedByOutput, // hooks.output returned false
    ReadFailed,      // its output could not be read
};

struct ProcessResult {
    ProcessEnd end = ProcessEnd::Exited;
    int exitCode = 0;
    QString error;
    // Bytes received in all.
    qint64 bytes = 0;
};

// Starts `job` in a process group of its own (so ending it ends whatever it started; on Linux the
// child is also killed when the tool dies, however it dies), with no
// standard input and standard error merged into standard output, and waits for its end while
// processing events. Output is handed on as soon as Qt reads it from the pipe, so nothing piles up
// here however fast the child prints. No process is left behind on any way out.
ProcessResult RunProcess(const ProcessSpec& job, const ProcessHooks& hooks);

} // namespace nx7
