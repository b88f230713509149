// The uploader run over real /bin/sh children: what its output means to the write.
#include "comm/uploader_handover.h"
#include "core/app_core.h"
#include "diag/lasting_log.h"
#include "diag/output_limiter.h"
#include "platform/adapters.h"
#include "platform/app_paths.h"
#include "support/memory_log.h"
#include "support/scripted_ui.h"
#include "update/tool_runner.h"
#include "update/uploader_password.h"
#include "update/uploader_selection.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/types.h>
#include <unistd.h>

using namespace nx7;
using nx7::test::MemoryLog;
using nx7::test::ScriptedUi;

namespace
{

const QString kLine1 = QStringLiteral("PC側IPアドレスの自動割付に失敗しました。");
const QString kLine2 = QStringLiteral("PCのセキュリティ設定などを確認してください。");

QList<AdapterInfo> Adapters(const QString& adapterText)
{
    return ParseAdapterList(adapterText);
}

class ToolRunnerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        UseAdapters(QString());
    }
    void TearDown() override { SetAdapterProvider({}); }

    void UseAdapters(const QString& adapterText)
    {
        const QList<AdapterInfo> list = Adapters(adapterText);
        SetAdapterProvider([list] { return std::optional<QList<AdapterInfo>>(list); });
    }

    // An executable sh script in the temporary folder.
    QString Script(const QString& name, const QByteArray& body)
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\n" + body);
        f.close();
        f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
        return path;
    }

    // Runs `command` as the uploader (a script of that one line) with no silence limit; `shown`:
    // with the log pane.
    UploaderRun Run(const QString& command, const std::function<bool()>& abort = {}, bool shown = true)
    {
        const QString tool = Script(QStringLiteral("tool.sh"), command.toUtf8() + "\n");
        return RunUploader(app, ResolveUploader(tool), {}, shown ? &log : nullptr, 0, abort);
    }

    QString RawText() const { return log.raw.join(QString()); }

    QTemporaryDir dir;
    ScriptedUi ui;
    MemoryLog log;
    AppCore app{ui, log};
};

TEST_F(ToolRunnerTest, NothingPrintedIsACleanCompletedRun)
{
    EXPECT_EQ(Run(QStringLiteral("true")).end, UploaderEnd::Finished);
    EXPECT_TRUE(log.raw.isEmpty());
    EXPECT_TRUE(app.ToolOutputClean);
    EXPECT_TRUE(ui.messages.isEmpty());
    EXPECT_FALSE(ui.dots.isEmpty());
}

TEST_F(ToolRunnerTest, ErrorWordsInTheOutput)
{
    struct Case {
        const char* name;
        QByteArray output;
        QString adapters;
        UploaderEnd end;
        bool clean;
        bool forcedLines;
    };
    const Case cases[] = {
        {"plain output", "Sending invitation\nUploading done\n", QString(), UploaderEnd::Aborted, true,
         false},
        {"Error inside a line", "12:00:01 [Uploading] Error while sending\n", QString(), UploaderEnd::Aborted,
         false, false},
        {"lower case error", "error: nothing to worry\n", QString(), UploaderEnd::Aborted, true, false},
        {"ERROR with Wi-Fi on the board network", "12:00:01 [ERROR]: No response\n",
         QStringLiteral("Ethernet=10.0.0.2;Wi-Fi=192.168.0.23"), UploaderEnd::Aborted, false, false},
        {"ERROR with the board network only on a wired adapter", "[ERROR]: No response\n",
         QStringLiteral("Ethernet=192.168.0.5;Wi-Fi=192.168.1.3"), UploaderEnd::Refused, false, true},
        {"ERROR with a self-assigned Wi-Fi address last", "[ERROR]: No response\n",
         QStringLiteral("Wi-Fi=192.168.0.5,169.254.7.9"), UploaderEnd::Refused, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log.Clear();
        log.raw.clear();
        app.ToolOutputClean = true;
        UseAdapters(c.adapters);
        QElapsedTimer t;
        t.start();
        // The child goes on sleeping after its output: a refusal must not wait for it. A run that
        // goes on is ended after a while; the refusal must come before that.
        const UploaderRun run =
            Run(QStringLiteral("printf '%1'\nsleep 5\necho late").arg(QString::fromLatin1(c.output)),
                [&t] { return t.elapsed() > 700; });
        EXPECT_EQ(run.end, c.end);
        if (c.forcedLines) {
            EXPECT_LT(t.elapsed(), 700);
        } else {
            EXPECT_GE(t.elapsed(), 700);
        }
        EXPECT_EQ(app.ToolOutputClean, c.clean);
        EXPECT_TRUE(RawText().startsWith(QString::fromLatin1(c.output)));
        const bool hasLines = log.lines.size() >= 3 && log.lines.at(log.lines.size() - 3) == kLine1 &&
                              log.lines.at(log.lines.size() - 2) == kLine2 && log.lines.last().isEmpty();
        EXPECT_EQ(hasLines, c.forcedLines);
        EXPECT_EQ(log.lines.contains(kLine1), c.forcedLines);
        if (c.forcedLines) {
            EXPECT_FALSE(RawText().contains(QStringLiteral("late")));
        }
    }
}

TEST_F(ToolRunnerTest, SelfAssignedAddressIsLoggedWhileCheckingAnError)
{
    UseAdapters(QStringLiteral("Wi-Fi=169.254.7.9,192.168.0.5"));
    EXPECT_EQ(Run(QStringLiteral("echo ERROR")).end, UploaderEnd::Finished);
    EXPECT_TRUE(log.Contains(QStringLiteral("IPv4:169.254.7.9")));
    EXPECT_FALSE(log.Contains(kLine1));
}

TEST_F(ToolRunnerTest, ALoneByteIsDroppedAndOutputConvertedFromTheCodePage)
{
    // "書込" in CP932, then a lone CR, then the rest.
    EXPECT_EQ(Run(QStringLiteral("printf '\\217\\221\\215\\236 A\\n'; sleep 0.3; printf '\\r'; sleep 0.3; "
                                 "printf 'ok\\n'"))
                  .end,
              UploaderEnd::Finished);
    EXPECT_EQ(log.raw, (QStringList{QStringLiteral("書込 A\n"), QStringLiteral("ok\n")}));
}

// The output comes in reads of whatever the pipe holds: a word or a double-byte character may be
// cut between two of them. Each printf below is one read (the pauses keep them apart).
TEST_F(ToolRunnerTest, WordsAndCharactersCutBetweenReadsAreJoined)
{
    struct Case {
        const char* name;
        const char* script; // printf arguments split at '|', one read each
        bool clean;
        bool refused; // "ERROR" seen with no Wi-Fi adapter on the board's network
        QString shown;
    };
    const Case cases[] = {
        {"ERROR cut after three letters", "'[ERR'|'OR]: No response\\n'", false, true, QString()},
        {"Error cut after one letter", "'x E'|'rror Uploading\\n'", false, false,
         QStringLiteral("x Error Uploading\n")},
        {"E arriving alone", "'E'|'RROR\\n'", false, true, QString()},
        {"a lone CR between is no join", "'ERR'|'\\r'|'OR\\n'", true, false, QStringLiteral("ERROR\n")},
        // "書込" in CP932: 8F 91 8D 9E, cut inside the first and inside the second character.
        {"double-byte character cut", "'A\\217'|'\\221\\215'|'\\236B\\n'", true, false,
         QStringLiteral("A書込B\n")},
        {"lead byte arriving alone", "'A'|'\\217'|'\\221\\n'", true, false, QStringLiteral("A書\n")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log.Clear();
        log.raw.clear();
        app.ToolOutputClean = true;
        QString body;
        for (const QByteArray& piece : QByteArray(c.script).split('|'))
            body += QStringLiteral("printf ") + QString::fromLatin1(piece) + QStringLiteral("; sleep 0.2\n");
        EXPECT_EQ(Run(body).end, c.refused ? UploaderEnd::Refused : UploaderEnd::Finished);
        EXPECT_EQ(app.ToolOutputClean, c.clean);
        EXPECT_EQ(log.lines.contains(kLine1), c.refused);
        if (!c.shown.isEmpty()) {
            EXPECT_EQ(RawText(), c.shown);
            EXPECT_FALSE(RawText().contains(QChar(QChar::ReplacementCharacter)));
        }
    }
}

TEST_F(ToolRunnerTest, LargeOutputLeftInThePipeIsReadCompletelyInPieces)
{
    EXPECT_EQ(Run(QStringLiteral("head -c 5000 /dev/zero | tr '\\0' x")).end, UploaderEnd::Finished);
    EXPECT_EQ(RawText(), QString(5000, QLatin1Char('x')));
    EXPECT_GE(log.raw.size(), 3);
    for (const QString& piece : log.raw)
        EXPECT_LE(piece.size(), 2049);
}

TEST_F(ToolRunnerTest, DotsAdvanceOnePerPassAlongTheTable)
{
    EXPECT_EQ(Run(QStringLiteral("sleep 0.6")).end, UploaderEnd::Finished);
    ASSERT_GE(ui.dots.size(), 6);
    for (int i = 0; i < ui.dots.size(); ++i)
        EXPECT_EQ(ui.dots.at(i), ProgressDots(i)) << i;
}

TEST_F(ToolRunnerTest, AbortEndsTheShellAndItsChildQuickly)
{
    const QString pidFile = dir.filePath(QStringLiteral("pid"));
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(
        Run(QStringLiteral("sleep 30 & echo $! > %1; wait; echo finished").arg(QuoteForInterpreter(pidFile)),
            [&t] { return t.elapsed() > 300; })
            .end,
        UploaderEnd::Aborted);
    EXPECT_LT(t.elapsed(), 3000);
    EXPECT_FALSE(RawText().contains(QStringLiteral("finished")));

    QFile f(pidFile);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const pid_t pid = f.readAll().trimmed().toInt();
    ASSERT_GT(pid, 0);
    // The orphaned sleep is gone (or only a zombie waiting to be reaped) shortly after.
    bool gone = false;
    for (int i = 0; i < 100 && !gone; ++i) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        gone = !stat.open(QIODevice::ReadOnly) || stat.readAll().contains(") Z ");
        if (!gone)
            ::usleep(20000);
    }
    EXPECT_TRUE(gone);
}

TEST_F(ToolRunnerTest, OutputPrintedBeforeAnAbortIsStillShownAndSearched)
{
    bool asked = false;
    // The abort comes while the tool's output still waits to be read.
    EXPECT_EQ(Run(QStringLiteral("printf 'Error: no answer\\n'; sleep 30"),
                  [&asked] {
                      if (!asked)
                          ::usleep(500000);
                      asked = true;
                      return true;
                  })
                  .end,
              UploaderEnd::Aborted);
    EXPECT_TRUE(RawText().contains(QStringLiteral("Error: no answer"))) << RawText().toStdString();
    EXPECT_FALSE(app.ToolOutputClean);
}

TEST_F(ToolRunnerTest, PercentagesReachTheProgressDialog)
{
    EXPECT_EQ(Run(QStringLiteral(
                      "printf 'Uploading: [=     ] 10%% '; sleep 0.2; printf '\\rUploading: [===   ] 3'; "
                      "sleep 0.2; printf '7%% '; sleep 0.2; printf '\\rUploading: [======] 100%% "
                      "Done...\\r\\n'"))
                  .end,
              UploaderEnd::Finished);
    EXPECT_EQ(ui.percents, (QList<int>{10, 37, 100}));
    // The dots keep going alongside.
    EXPECT_FALSE(ui.dots.isEmpty());
}

TEST_F(ToolRunnerTest, WithoutLogPaneOutputIsDrainedAndNotSearched)
{
    EXPECT_EQ(Run(QStringLiteral("echo ERROR; echo Error"), {}, false).end, UploaderEnd::Finished);
    EXPECT_TRUE(app.ToolOutputClean);
    EXPECT_TRUE(log.lines.isEmpty());
}

TEST_F(ToolRunnerTest, NastyPathReachesTheToolAsOneArgumentAndRunsNothingElse)
{
    const QString oldCwd = QDir::currentPath();
    QDir::setCurrent(dir.path());
    const QString nasty =
        QStringLiteral("it's a \"dir\" $HOME `touch PWNED1` $(touch PWNED2); touch PWNED3 \\");
    ASSERT_TRUE(QDir(dir.path()).mkdir(nasty));
    const QString tool = dir.filePath(nasty + QStringLiteral("/espota"));
    const QString argvFile = dir.filePath(QStringLiteral("argv"));
    {
        QFile f(tool);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\nprintf '%s\\0' \"$0\" \"$@\" > " + QuoteForInterpreter(argvFile).toUtf8() + "\n");
        f.close();
        f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
    }
    const QString image = dir.filePath(nasty + QStringLiteral("/UOf.bin"));
    // The command line as the log shows it, read by /bin/sh.
    EXPECT_EQ(Run(QuoteForInterpreter(tool) + QStringLiteral(" -f ") + QuoteForInterpreter(image)).end,
              UploaderEnd::Finished);
    QDir::setCurrent(oldCwd);

    QFile f(argvFile);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QList<QByteArray> args = f.readAll().split('\0');
    ASSERT_FALSE(args.isEmpty());
    args.removeLast(); // after the last terminator
    ASSERT_EQ(args.size(), 3);
    EXPECT_EQ(QString::fromUtf8(args.at(0)), tool);
    EXPECT_EQ(args.at(1), QByteArray("-f"));
    EXPECT_EQ(QString::fromUtf8(args.at(2)), image);
    for (const char* name : {"PWNED1", "PWNED2", "PWNED3"})
        EXPECT_FALSE(QFile::exists(dir.filePath(QString::fromLatin1(name)))) << name;
}

} // namespace

namespace
{

TEST_F(ToolRunnerTest, FloodIsShownAsItsHeadAndTailWhileEveryByteIsSearched)
{
    // About 3 MB with an error word deep inside the part that is left out, and one at the end.
    EXPECT_EQ(Run(QStringLiteral("yes 'Uploading chunk' | head -n 100000; echo 'x Error in the middle'; "
                                 "yes 'Uploading chunk' | head -n 100000; echo 'last line'"))
                  .end,
              UploaderEnd::Finished);
    EXPECT_FALSE(app.ToolOutputClean);
    const QString raw = RawText();
    EXPECT_LT(raw.size(), 128 * 1024);
    EXPECT_TRUE(raw.startsWith(QStringLiteral("Uploading chunk\nUploading chunk\n")));
    EXPECT_TRUE(raw.endsWith(QStringLiteral("Uploading chunk\nlast line\n")));
    EXPECT_FALSE(raw.contains(QStringLiteral("Error in the middle")));
    // One line says how much was left out; it stands between the head and the tail.
    const auto omission = std::find_if(log.lines.begin(), log.lines.end(), [](const QString& l) {
        return l.startsWith(QStringLiteral("…（途中の出力 "));
    });
    ASSERT_NE(omission, log.lines.end());
    EXPECT_EQ(log.lines.count(*omission), 1);
    EXPECT_LT(std::distance(omission, log.lines.end()), 2000);
    EXPECT_GT(std::distance(log.lines.begin(), omission), 1000);
}

TEST(OutputLimiter, HeadTailAndTheCountOfWhatWasLeftOut)
{
    MemoryLog log;
    {
        OutputLimiter limiter(log, 10, 10);
        for (int i = 0; i < 10; ++i)
            limiter.Append(QStringLiteral("line%1\n").arg(i));
        limiter.Finish();
    }
    // Head: the first pieces up to 10 characters; tail: whole lines within 10 characters.
    EXPECT_EQ(log.raw,
              (QStringList{QStringLiteral("line0\n"), QStringLiteral("line1\n"), QStringLiteral("line9\n")}));
    EXPECT_TRUE(log.Contains(OmittedOutputLine(7, 42)));

    // Output that fits is shown as it came, with no omission line.
    MemoryLog small;
    OutputLimiter fits(small, 100, 10);
    fits.Append(QStringLiteral("a\n"));
    fits.Append(QStringLiteral("b\n"));
    fits.Finish();
    EXPECT_EQ(small.raw, (QStringList{QStringLiteral("a\n"), QStringLiteral("b\n")}));
    EXPECT_EQ(small.lines.size(), 4);
}

// The uploader itself, started without a shell.
class UploaderRunTest : public ToolRunnerTest
{
protected:
    void TearDown() override
    {
        SetExecutablePathOverride(QString());
        ToolRunnerTest::TearDown();
    }
    UploaderRun RunIt(const QString& path, std::uint32_t silenceMs = 0,
                      const std::function<bool()>& abort = {})
    {
        return RunUploader(app, ResolveUploader(path), {QStringLiteral("-f"), QStringLiteral("x.bin")}, &log,
                           silenceMs, abort);
    }
};

TEST_F(UploaderRunTest, UploaderThatCannotStartIsNamedAtOnce)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder")));
    const QString plain = Script(QStringLiteral("plain"), "echo hi\n");
    QFile::setPermissions(plain, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QString noInterpreter = Script(QStringLiteral("needs-interp"), "");
    {
        QFile f(noInterpreter);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/nonexistent/interpreter\nprint('hi')\n");
    }
    struct Case {
        const char* name;
        QString path;
        QString cause;
    };
    const Case cases[] = {
        {"missing", dir.filePath(QStringLiteral("nothing-here")),
         QStringLiteral("アップローダーが見つかりません")},
        {"folder", dir.filePath(QStringLiteral("folder")), QStringLiteral("フォルダー")},
        {"no run permission", plain, QStringLiteral("実行権限がありません")},
        {"no interpreter", noInterpreter, QStringLiteral("起動できません")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QElapsedTimer t;
        t.start();
        const UploaderRun run = RunIt(c.path, 60000);
        EXPECT_EQ(run.end, UploaderEnd::CannotStart);
        EXPECT_TRUE(run.detail.contains(c.cause)) << run.detail.toStdString();
        EXPECT_TRUE(run.detail.contains(QDir::toNativeSeparators(c.path))) << run.detail.toStdString();
        EXPECT_LT(t.elapsed(), 5000);
    }
}

TEST_F(UploaderRunTest, RelativePathIsTakenFromTheExecutablesFolderAndAScriptWithoutRunBitRunsThroughPython)
{
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("app/tools")));
    SetExecutablePathOverride(dir.filePath(QStringLiteral("app/nx7ifbprog")));
    const QString script = dir.filePath(QStringLiteral("app/tools/espota.py"));
    QFile f(script);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("import sys\nprint('py:' + ' '.join(sys.argv[1:]))\n");
    f.close();

    const UploaderLaunch launch = ResolveUploader(QStringLiteral("tools/espota.py"));
    EXPECT_TRUE(launch.problem.isEmpty()) << launch.problem.toStdString();
    EXPECT_EQ(launch.path, script);
    EXPECT_TRUE(launch.program.endsWith(QStringLiteral("python3")));
    const UploaderRun run = RunIt(QStringLiteral("tools/espota.py"));
    EXPECT_EQ(run.end, UploaderEnd::Finished);
    EXPECT_TRUE(RawText().contains(QStringLiteral("py:-f x.bin"))) << RawText().toStdString();

    // A bare name is never looked up in PATH.
    EXPECT_EQ(ResolveUploader(QStringLiteral("sh")).path, dir.filePath(QStringLiteral("app/sh")));
    EXPECT_FALSE(ResolveUploader(QStringLiteral("sh")).problem.isEmpty());
}

TEST_F(UploaderRunTest, ExitStatusAndSignalAreReported)
{
    struct Case {
        const char* name;
        QByteArray body;
        UploaderEnd end;
        int exitCode;
    };
    const Case cases[] = {
        {"success", "echo done\n", UploaderEnd::Finished, 0},
        {"failure status", "echo 'No response'\nexit 3\n", UploaderEnd::Failed, 3},
        {"killed by a signal", "kill -KILL $$\n", UploaderEnd::Failed, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const UploaderRun run = RunIt(Script(QStringLiteral("u.sh"), c.body));
        EXPECT_EQ(run.end, c.end);
        if (c.exitCode >= 0) {
            EXPECT_EQ(run.exitCode, c.exitCode);
        }
        if (c.end == UploaderEnd::Failed) {
            EXPECT_FALSE(run.detail.isEmpty());
        }
    }
}

// A flooding uploader and the run's log file: its output is kept there within the pane's bound,
// with the omission line and the last words once the uploader has ended (4 MB of output wrote
// more than 4 MB of log before).
TEST_F(UploaderRunTest, FloodKeepsTheRunLogWithinThePanesBound)
{
    diag::LastingLog lasting(nullptr, dir.filePath(QStringLiteral("log")));
    ASSERT_TRUE(lasting.IsOpen());
    app.Lasting = &lasting;
    const UploaderRun run = RunIt(Script(QStringLiteral("flood.sh"),
                                         "yes 'Uploading: flood line of the uploader' | head -c 4000000\n"
                                         "echo; echo 'the last words'\n"));
    app.Lasting = nullptr;
    EXPECT_EQ(run.end, UploaderEnd::Finished);
    QFile f(lasting.FilePath());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(f.readAll());
    EXPECT_LT(text.size(), 400 * 1024);
    EXPECT_EQ(text.count(QStringLiteral("[uploader] …（途中の出力 ")), 1);
    EXPECT_TRUE(text.contains(QStringLiteral("[uploader] the last words\n")));
}

TEST_F(UploaderRunTest, SilenceEndsTheUploaderWhileSteadyOutputKeepsItRunning)
{
    // Prints every 100 ms for 1.2 s: never silent for 400 ms.
    QElapsedTimer t;
    t.start();
    UploaderRun run = RunIt(Script(QStringLiteral("steady.sh"),
                                   "i=0\nwhile [ $i -lt 12 ]; do printf '.x'; sleep 0.1; i=$((i+1)); done\n"),
                            400);
    EXPECT_EQ(run.end, UploaderEnd::Finished);
    EXPECT_GE(t.elapsed(), 1100);

    // Prints once, then a child of its own hangs: both are ended after the silence.
    const QString pidFile = dir.filePath(QStringLiteral("pid"));
    t.restart();
    run = RunIt(Script(QStringLiteral("hung.sh"), "echo started\nsleep 30 &\necho $! > " +
                                                      QuoteForInterpreter(pidFile).toUtf8() + "\nwait\n"),
                400);
    EXPECT_EQ(run.end, UploaderEnd::Silent);
    EXPECT_TRUE(run.detail.contains(QStringLiteral("400")));
    EXPECT_LT(t.elapsed(), 5000);
    QFile f(pidFile);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const pid_t pid = f.readAll().trimmed().toInt();
    ASSERT_GT(pid, 0);
    bool gone = false;
    for (int i = 0; i < 100 && !gone; ++i) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        gone = !stat.open(QIODevice::ReadOnly) || stat.readAll().contains(") Z ");
        if (!gone)
            ::usleep(20000);
    }
    EXPECT_TRUE(gone);
}

TEST_F(UploaderRunTest, KeptOutputHoldsACharacterCutBetweenReads)
{
    const UploaderRun run =
        RunIt(Script(QStringLiteral("cut.sh"), "printf 'A\\217'; sleep 0.2; printf '\\221B\\n'\n"));
    EXPECT_EQ(run.end, UploaderEnd::Finished);
    EXPECT_EQ(run.output, QStringLiteral("A書B\n"));
}

// The project's own uploader gets the password in its environment, so no command line shows it;
// any other uploader takes it only as an argument.
TEST_F(UploaderRunTest, OwnUploaderTakesThePasswordFromItsEnvironmentOthersFromTheArguments)
{
    const QString password = QStringLiteral("pa ss'wd$1");
    const QString seen = dir.filePath(QStringLiteral("seen"));
    const QByteArray body = "printf '%s\\n' \"$@\" > " + QuoteForInterpreter(seen).toUtf8() +
                            "\nprintf 'env:%s\\n' \"${NX7_OTA_PASSWORD-unset}\" >> " +
                            QuoteForInterpreter(seen).toUtf8() + "\n";
    // A stand-in that carries the marker (in a comment) is taken for the project's own.
    const QString own =
        Script(QStringLiteral("own"), "# " + QByteArray(handover::kOwnUploaderMarker) + "\n" + body);
    const QString other = Script(QStringLiteral("other"), body);
    struct Case {
        const char* name;
        QString path;
        QStringList arguments;
        QString environment;
    };
    const Case cases[] = {
        {"own", own, {QStringLiteral("--auth-env"), QStringLiteral("NX7_OTA_PASSWORD")}, password},
        {"other", other, {QStringLiteral("--auth=") + password}, QStringLiteral("unset")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UploaderLaunch launch = ResolveUploader(c.path);
        const QStringList arguments = UploaderPasswordArguments(launch, password);
        EXPECT_EQ(arguments, c.arguments);
        const QStringList tail{QStringLiteral("-f"), QStringLiteral("x.bin")};
        const UploaderRun run = RunUploader(app, launch, arguments + tail, &log, 0);
        EXPECT_EQ(run.end, UploaderEnd::Finished);
        QFile f(seen);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        const QStringList expected = c.arguments + tail + QStringList{QStringLiteral("env:") + c.environment};
        EXPECT_EQ(lines, expected);
    }
    // The tool's own environment never held it.
    EXPECT_FALSE(qEnvironmentVariableIsSet("NX7_OTA_PASSWORD"));
}

TEST_F(ToolRunnerTest, OwnUploaderIsRecognisedByTheMarkerInItsFile)
{
    const QByteArray marker(handover::kOwnUploaderMarker);
    auto file = [this](const QString& name, qint64 markerAt, const QByteArray& text) {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.resize(markerAt); // a sparse run of zero bytes before it
        f.seek(markerAt);
        f.write(text);
        return path;
    };
    struct Case {
        const char* name;
        QString path;
        bool own;
    };
    const Case cases[] = {
        {"the built uploader", QStringLiteral(NX7_ESPOTA_PATH), true},
        {"marker cut between two reads", file(QStringLiteral("cut"), 1024 * 1024 - 7, marker), true},
        {"marker past the bound", file(QStringLiteral("far"), 64LL * 1024 * 1024 + 10, marker), false},
        {"marker incomplete", file(QStringLiteral("part"), 100, marker.left(marker.size() - 1)), false},
        {"a shell script", Script(QStringLiteral("sh"), "echo hi\n"), false},
        {"missing", dir.filePath(QStringLiteral("nothing")), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsOwnUploader(c.path), c.own) << c.name;
}

// The silence limit counts from the last output: an uploader that printed steadily for a while
// and then hung is ended one limit after its last line, not one limit after its start, nor later.
TEST_F(UploaderRunTest, SilenceIsCountedFromTheLastOutput)
{
    QElapsedTimer t;
    t.start();
    const UploaderRun run =
        RunIt(Script(QStringLiteral("then-hangs.sh"),
                     "i=0\nwhile [ $i -lt 8 ]; do echo \"line $i\"; sleep 0.1; i=$((i+1)); done\nsleep 30\n"),
              1000);
    const qint64 spent = t.elapsed();
    EXPECT_EQ(run.end, UploaderEnd::Silent);
    EXPECT_TRUE(RawText().contains(QStringLiteral("line 7"))) << RawText().toStdString();
    // The last line comes about 0.7 s in: the end about 1.7 s in.
    EXPECT_GE(spent, 1650) << "ended before a whole limit had passed since the last output";
    EXPECT_LT(spent, 2500) << "silence counted from somewhere before the last output, or twice";
}

// A script whose name says ".PY" in capitals (copied from a medium that knows no case) is still
// the uploader, and without a run bit it still runs through python3.
TEST_F(UploaderRunTest, AnUploaderScriptNamedInCapitalsRunsThroughPython)
{
    const QString script = dir.filePath(QStringLiteral("ESPOTA.PY"));
    QFile f(script);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("import sys\nprint('py:' + ' '.join(sys.argv[1:]))\n");
    f.close();

    EXPECT_TRUE(IsAcceptableUploaderPath(script));
    const UploaderLaunch launch = ResolveUploader(script);
    EXPECT_TRUE(launch.problem.isEmpty()) << launch.problem.toStdString();
    EXPECT_TRUE(launch.program.endsWith(QStringLiteral("python3"))) << launch.program.toStdString();
    EXPECT_EQ(launch.arguments, QStringList{script});
    EXPECT_EQ(RunIt(script).end, UploaderEnd::Finished);
    EXPECT_TRUE(RawText().contains(QStringLiteral("py:-f x.bin"))) << RawText().toStdString();
}

} // namespace
