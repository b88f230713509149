// A headless run opens only the port it was told to: the configured one, or --port. When that port
// is missing it names it and the ports that exist, sends nothing anywhere and keeps ComPort.
// Also where the real executable keeps its settings when its own folder cannot be written.
#include "e2e/e2e_support.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>
#include <unistd.h>

namespace nx7::e2e
{
namespace
{

const QStringList kFastClock{QStringLiteral("NX7IFBPROG_TIME_SCALE=4")};

TEST(MissingPortE2E, NoOtherPortIsOpenedAndComPortIsKept)
{
    struct Case {
        const char* name;
        int comPort;      // in the settings file
        QStringList args; // extra arguments
        QString missing;
    };
    const Case cases[] = {
        {"configured port missing", 12, {}, QStringLiteral("COM12")},
        {"--port missing, configured one present",
         9,
         {QStringLiteral("--port"), QStringLiteral("COM13")},
         QStringLiteral("COM13")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ToolFolder folder;
        ASSERT_TRUE(folder.ok());
        folder.AppendIni(QStringLiteral("[Option]\r\nComPort=%1\r\nCHK_IFB_TIME=1200\r\n").arg(c.comPort));
        // The board sits on COM9, the port the tool must not fall back to.
        Simulator sim;
        ASSERT_TRUE(sim.Start(folder.Ini(), 9, folder.Path(QStringLiteral("record.txt")),
                              {QStringLiteral("--rom-version"), QStringLiteral("3020KMT27")}))
            << qPrintable(sim.Stderr());
        const RunResult r = folder.Run(
            QStringList{QStringLiteral("--headless"), QStringLiteral("--yes"), QStringLiteral("--write")} +
                c.args,
            60000, kFastClock);
        ASSERT_TRUE(r.finished);
        EXPECT_EQ(r.exitCode, 1);
        const QString said = QStringLiteral("ポート %1 が見つかりません。存在するポート: ").arg(c.missing);
        const qsizetype at = r.err.indexOf(said);
        ASSERT_GE(at, 0) << qPrintable(r.err);
        const QString present = r.err.mid(at + said.size()).section(QLatin1Char('\n'), 0, 0);
        EXPECT_TRUE(present.startsWith(QStringLiteral("COM9(")) ||
                    present.contains(QStringLiteral(", COM9(")))
            << qPrintable(present);
        sim.Stop();
        EXPECT_TRUE(sim.Requests().isEmpty()) << qPrintable(sim.Requests().join(' '));
        EXPECT_TRUE(folder.ReadIni().contains(QStringLiteral("ComPort=%1\r\n").arg(c.comPort)))
            << qPrintable(folder.ReadIni());
    }
}

TEST(MissingPortE2E, ReadOnlySettingsFileIsReportedOnceWithItsPath)
{
    ToolFolder folder;
    ASSERT_TRUE(folder.ok());
    folder.AppendIni(QStringLiteral("[Option]\r\nComPort=200\r\n"));
    QFile::setPermissions(folder.Ini(),
                          QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    const RunResult r = folder.Run({QStringLiteral("--headless")});
    EXPECT_EQ(r.exitCode, 1);
    const QString message = QStringLiteral("[例外エラー] iniファイルの生成・更新に失敗しました。\n\n"
                                           "アクセス権限を確認してください。\n\n") +
                            QDir::toNativeSeparators(folder.Ini());
    EXPECT_EQ(r.err.count(message), 1) << qPrintable(r.err);
    EXPECT_EQ(r.err.count(QStringLiteral("[例外エラー]")), 1) << qPrintable(r.err);
}

// An installed copy: the executable's folder is not writable by the user who runs it. Run as an
// ordinary user (nobody) when the tests run as root, who may write anywhere.
TEST(SettingsLocationE2E, FolderThatCannotBeWrittenUsesTheUsersConfigFolder)
{
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (geteuid() == 0 && setpriv.isEmpty())
        GTEST_SKIP() << "setpriv is needed to run as an ordinary user";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString bin = dir.filePath(QStringLiteral("bin"));
    const QString home = dir.filePath(QStringLiteral("home"));
    ASSERT_TRUE(QDir().mkpath(bin) && QDir().mkpath(home));
    const QString exe = bin + QStringLiteral("/nx7ifbprog");
    ASSERT_TRUE(QFile::copy(ToolPath(), exe));
    const auto readExec = QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                          QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther;
    ASSERT_TRUE(QFile::setPermissions(exe, readExec));
    ASSERT_TRUE(QFile::setPermissions(bin, readExec));
    ASSERT_TRUE(QFile::setPermissions(home, readExec | QFileDevice::WriteOwner | QFileDevice::WriteGroup |
                                                QFileDevice::WriteOther));
    ASSERT_TRUE(QFile::setPermissions(dir.path(), readExec));

    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("HOME"), home);
    env.remove(QStringLiteral("XDG_CONFIG_HOME"));
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(home);
    const QStringList args{QStringLiteral("--headless"), QStringLiteral("--verbose"),
                           QStringLiteral("--port"), QStringLiteral("COM200")};
    if (geteuid() == 0)
        p.start(setpriv, QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                     QStringLiteral("--clear-groups"), exe} +
                             args);
    else
        p.start(exe, args);
    ASSERT_TRUE(p.waitForFinished(60000));
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QFile::setPermissions(dir.path(), readExec | QFileDevice::WriteOwner);
    QFile::setPermissions(bin, readExec | QFileDevice::WriteOwner);

    EXPECT_EQ(p.exitCode(), 1);
    const QString ini = home + QStringLiteral("/.config/Orvanta/nx7ifbprog.ini");
    EXPECT_TRUE(out.contains(QStringLiteral("Settings file : ") + ini)) << qPrintable(out);
    EXPECT_FALSE(err.contains(QStringLiteral("例外エラー"))) << qPrintable(err);
    EXPECT_FALSE(QFileInfo::exists(bin + QStringLiteral("/Orvanta")));
    QFile file(ini);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString saved = QString::fromUtf8(file.readAll());
    EXPECT_TRUE(saved.startsWith(QStringLiteral("[Option]\r\nComPort=1\r\n"))) << qPrintable(saved);
    EXPECT_TRUE(saved.contains(QStringLiteral("USBchange=1\r\n")));
}

} // namespace
} // namespace nx7::e2e
