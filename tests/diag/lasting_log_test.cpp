// The log file beside the settings: what goes in, how passwords are hidden, how many files stay.
#include "diag/lasting_log.h"

#include "support/memory_log.h"

#include "support/qt_printers.h"
#include <QDir>
#include <QFile>
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

TEST_F(LastingLogTest, PasswordsMaskedUnlessDiagnostic)
{
    LastingLog log(&pane, Folder(), clock);
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

    log.SetDiagnostic(true);
    log.AppendLine(command);
    text = ReadAll(log.FilePath());
    EXPECT_TRUE(text.contains(kUploadPassword));
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
