// The log file beside the settings: what goes in, how passwords are hidden, how many files stay.
#include "diag/lasting_log.h"

#include "support/memory_log.h"
#include "support/small_disk.h"

#include "support/qt_printers.h"
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace nx7::diag
{
namespace
{

const QString kUploadPassword = QStringLiteral("Up1oadPw-77");
const QString kApPassword = QStringLiteral("ApPw-Secret9");

QString ReadAll(const QString& path)
{
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    return QString::fromUtf8(f.readAll());
}

class LastingLogTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QDateTime now{QDate(2026, 12, 10), QTime(14, 3, 7, 250)};
    LastingLog::Clock clock = [this] { return now; };
    test::MemoryLog pane;
    QString Folder() const { return dir.filePath(QStringLiteral("log")); }
};

TEST_F(LastingLogTest, EveryLineGoesToPaneAndFileWithTimeOfDay)
{
    LastingLog log(&pane, Folder(), clock);
    ASSERT_TRUE(log.IsOpen());
    EXPECT_EQ(QFileInfo(log.FilePath()).fileName(), QStringLiteral("nx7ifbprog-20261210-140307.log"));

    AppendLogLine(log, QStringLiteral("OK: Program Update"));
    now = now.addSecs(2);
    log.AppendRaw(QStringLiteral("Sending invitation to 192.168.4.1 \r\nUploading....\r\n"));
    log.LogDialog(QStringLiteral("書き込み結果"), QStringLiteral("NG\nタイムアウトしました。"));
    log.LogUploaderOutput(QStringLiteral("14:03:09 [ERROR]: No response from device\n"));
    log.LogTrace(QStringLiteral("TX: 02 10 90 03"));

    EXPECT_EQ(pane.lines, (QStringList{QStringLiteral("OK: Program Update"),
                                       QStringLiteral("Sending invitation to 192.168.4.1 "),
                                       QStringLiteral("Uploading...."), QString()}));
    EXPECT_EQ(ReadAll(log.FilePath()),
              QStringLiteral("14:03:07.250 OK: Program Update\n"
                             "14:03:09.250 Sending invitation to 192.168.4.1 \n"
                             "14:03:09.250 Uploading....\n"
                             "14:03:09.250 [dialog] 書き込み結果: NG\n"
                             "14:03:09.250 [dialog] タイムアウトしました。\n"
                             "14:03:09.250 [uploader] 14:03:09 [ERROR]: No response from device\n"));

    // The trace goes in only with the diagnostic switch; clearing the pane keeps the file.
    log.SetDiagnostic(true);
    log.LogTrace(QStringLiteral("TX: 02 10 90 03"));
    log.Clear();
    EXPECT_EQ(pane.LineCount(), 0);
    EXPECT_TRUE(ReadAll(log.FilePath()).endsWith(QStringLiteral("14:03:09.250 [trace] TX: 02 10 90 03\n")));
    EXPECT_TRUE(ReadAll(log.FilePath()).contains(QStringLiteral("OK: Program Update")));
}

// Passwords stay out of the file with the diagnostic switch off and on (it was left unmasked with
// the switch on); the pane shows what the flow wrote.
TEST_F(LastingLogTest, PasswordsMaskedWithOrWithoutDiagnostic)
{
    for (const bool diagnostic : {false, true}) {
        SCOPED_TRACE(diagnostic ? "diagnostic" : "plain");
        now = now.addSecs(1);
        test::MemoryLog pane;
        LastingLog log(&pane, Folder(), clock);
        log.SetDiagnostic(diagnostic);
        log.SetSecrets({kUploadPassword});
        log.AddSecret(kApPassword);
        const QString command =
            QStringLiteral("\"/opt/espota\" -i 192.168.4.1 -p 3232 --auth=%1 -f \"/tmp/UOf.bin\"")
                .arg(kUploadPassword);
        log.AppendLine(command);
        log.LogDialog(QStringLiteral("OTA経由のアップデート開始"),
                      QStringLiteral("SSID      : IFB-AP\nPassword  : ") + kApPassword);
        log.AppendRaw(QStringLiteral("cmd was --auth=OtherPw123\n"));
        // The pane shows what the flow wrote.
        EXPECT_TRUE(pane.Contains(command));

        QString text = ReadAll(log.FilePath());
        EXPECT_FALSE(text.contains(kUploadPassword));
        EXPECT_FALSE(text.contains(kApPassword));
        EXPECT_FALSE(text.contains(QStringLiteral("OtherPw123")));
        EXPECT_TRUE(text.contains(QStringLiteral("--auth=*** -f")));
        EXPECT_TRUE(text.contains(QStringLiteral("Password  : ***")));
        log.LogTrace(QStringLiteral("uploader at --auth=") + kUploadPassword);
        log.LogUploaderOutput(kApPassword + QLatin1Char('\n'));
        log.EndUploaderOutput();
        text = ReadAll(log.FilePath());
        EXPECT_FALSE(text.contains(kUploadPassword));
        EXPECT_FALSE(text.contains(kApPassword));
    }
}

// A flooding uploader: the file keeps the output's first 64 Ki characters and its last 16 Ki, with
// one line saying how much was left out between them, as the pane does; what came after the
// uploader goes on normally. 30 MB of output made a 38 MB log before.
TEST_F(LastingLogTest, UploaderOutputKeptWithinThePanesBound)
{
    LastingLog log(&pane, Folder(), clock);
    const QString line = QStringLiteral("Uploading: [=====>      ] 42%% flooding line of the uploader\n");
    const QString piece = line.repeated(200);
    qint64 sent = 0;
    for (int i = 0; i < 3000; ++i) {
        log.LogUploaderOutput(piece);
        sent += piece.size();
    }
    log.LogUploaderOutput(QStringLiteral("the last words\n"));
    log.EndUploaderOutput();
    log.AppendLine(QStringLiteral("after the uploader"));

    const QString text = ReadAll(log.FilePath());
    EXPECT_GT(sent, 30'000'000);
    // 80 Ki characters of output, each line with its stamp and tag.
    EXPECT_LT(QFileInfo(log.FilePath()).size(), 160 * 1024);
    EXPECT_EQ(text.count(QStringLiteral("途中の出力")), 1);
    const QRegularExpressionMatch omitted =
        QRegularExpression(QStringLiteral("…（途中の出力 (\\d+) 行・(\\d+) 文字を省略しました）…"))
            .match(text);
    ASSERT_TRUE(omitted.hasMatch());
    EXPECT_GT(omitted.captured(2).toLongLong(), sent - 100 * 1024);
    EXPECT_TRUE(text.contains(QStringLiteral("[uploader] the last words\n")));
    EXPECT_TRUE(text.endsWith(QStringLiteral("14:03:07.250 after the uploader\n")));
    // The next run of the uploader starts with its own first part again.
    log.LogUploaderOutput(QStringLiteral("second run\n"));
    EXPECT_TRUE(ReadAll(log.FilePath()).endsWith(QStringLiteral("[uploader] second run\n")));
}

// A full disk: an entry that does not fit is cut off again (the file holds whole lines only), the
// pane is told once with the path and the cause, and when room comes back the file says how many
// entries are missing.
TEST_F(LastingLogTest, FullDiskKeepsWholeEntriesAndSaysSoOnce)
{
    ASSERT_TRUE(QDir().mkpath(Folder()));
    const int status = test::RunOnSmallDisk(Folder(), 64, [&] {
        test::MemoryLog childPane;
        LastingLog log(&childPane, Folder(), clock);
        log.AppendLine(QStringLiteral("before"));
        if (!test::FillDisk(Folder()))
            return 100;
        const QByteArray before = ReadAll(log.FilePath()).toUtf8();
        log.AppendLine(QString(6000, QLatin1Char('x')));
        log.AppendLine(QString(6000, QLatin1Char('y')));
        EXPECT_EQ(ReadAll(log.FilePath()).toUtf8(), before);
        const QStringList said = childPane.lines.filter(QStringLiteral("ログファイルに書き込めません"));
        EXPECT_EQ(said.size(), 1);
        EXPECT_EQ(said.value(0),
                  QStringLiteral("ログファイルに書き込めません: ") + log.FilePath() +
                      QStringLiteral(": ディスクの空き容量が不足しています (No space left on device)"));
        QFile::remove(QDir(Folder()).filePath(QStringLiteral("filler")));
        log.AppendLine(QStringLiteral("room again"));
        EXPECT_TRUE(ReadAll(log.FilePath())
                        .endsWith(QStringLiteral(
                            "14:03:07.250 （ログファイルに書き込めなかった記録が 2 件あります）\n"
                            "14:03:07.250 room again\n")));
        return ::testing::Test::HasFailure() ? 1 : 0;
    });
    if (status == test::kNoSmallDisk)
        GTEST_SKIP() << "no mount namespace here";
    EXPECT_EQ(status, 0);
}

TEST_F(LastingLogTest, KeepsTheNewestTwentyByName)
{
    QDir().mkpath(Folder());
    auto touch = [&](const QString& name) {
        QFile f(QDir(Folder()).filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    };
    for (int day = 1; day <= 25; ++day)
        touch(QStringLiteral("nx7ifbprog-202611%1-120000.log").arg(day, 2, 10, QLatin1Char('0')));
    touch(QStringLiteral("notes.txt"));
    touch(QStringLiteral("nx7ifbprog-settings-backup.log"));

    LastingLog log(&pane, Folder(), clock);
    const QStringList files = LastingLog::LogFiles(Folder());
    ASSERT_EQ(files.size(), kKeptLogFiles);
    EXPECT_EQ(QFileInfo(files.first()).fileName(), QStringLiteral("nx7ifbprog-20261107-120000.log"));
    EXPECT_EQ(files.last(), log.FilePath());
    // Files that are not this tool's logs stay.
    EXPECT_TRUE(QFile::exists(QDir(Folder()).filePath(QStringLiteral("notes.txt"))));
    EXPECT_TRUE(QFile::exists(QDir(Folder()).filePath(QStringLiteral("nx7ifbprog-settings-backup.log"))));
}

TEST_F(LastingLogTest, SecondRunInTheSameSecondGetsItsOwnFile)
{
    LastingLog first(&pane, Folder(), clock);
    first.AppendLine(QStringLiteral("first"));
    LastingLog second(nullptr, Folder(), clock);
    second.AppendLine(QStringLiteral("second"));
    EXPECT_NE(first.FilePath(), second.FilePath());
    EXPECT_EQ(QFileInfo(second.FilePath()).fileName(), QStringLiteral("nx7ifbprog-20261210-140307-2.log"));
    EXPECT_FALSE(ReadAll(first.FilePath()).contains(QStringLiteral("second")));
    EXPECT_EQ(LastingLog::LogFiles(Folder()).last(), second.FilePath());
}

TEST_F(LastingLogTest, UnwritableFolderLeavesThePaneWorking)
{
    QFile blocker(dir.filePath(QStringLiteral("blocker")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    LastingLog log(&pane, dir.filePath(QStringLiteral("blocker/log")), clock);
    EXPECT_FALSE(log.IsOpen());
    log.AppendLine(QStringLiteral("still shown"));
    EXPECT_TRUE(pane.Contains(QStringLiteral("still shown")));
}

} // namespace
} // namespace nx7::diag
