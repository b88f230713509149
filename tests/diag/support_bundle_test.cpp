// The support bundle: read back with the archive library, checked for content and for the absence
// of every password.
#include "diag/support_bundle.h"

#include "diag/fake_network.h"
#include "diag/lasting_log.h"

#include "support/qt_printers.h"
#include "support/small_disk.h"
#include "support/test_data.h"
#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <functional>

#include <gtest/gtest.h>

#include <archive.h>
#include <archive_entry.h>

namespace nx7::diag
{
namespace
{

const QString kUploadPassword = QStringLiteral("Up1oadPw-77");
const QString kApPassword = QStringLiteral("ApPw-Secret9");
const QString kStationPassword = QStringLiteral("StaPw#4421");

QMap<QString, QString> ReadZip(const QString& path)
{
    QMap<QString, QString> files;
    struct archive* a = archive_read_new();
    archive_read_support_format_zip(a);
    if (archive_read_open_filename(a, path.toLocal8Bit().constData(), 10240) != ARCHIVE_OK) {
        archive_read_free(a);
        return files;
    }
    struct archive_entry* entry = nullptr;
    while (archive_read_next_header(a, &entry) == ARCHIVE_OK) {
        QByteArray data;
        char buf[4096];
        la_ssize_t n = 0;
        while ((n = archive_read_data(a, buf, sizeof buf)) > 0)
            data.append(buf, n);
        files.insert(QString::fromUtf8(archive_entry_pathname(entry)), QString::fromUtf8(data));
    }
    archive_read_free(a);
    return files;
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

class SupportBundleTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        logs = dir.filePath(QStringLiteral("Orvanta/log"));
        // An old log, the previous run's (written with the diagnostic switch on, so in clear) and
        // the current one.
        WriteFile(logs + QStringLiteral("/nx7ifbprog-20261201-080000.log"), "oldest run\n");
        WriteFile(logs + QStringLiteral("/nx7ifbprog-20261209-170000.log"),
                  "17:00:01.000 previous run --auth=" + kUploadPassword.toUtf8() +
                      "\n17:00:02.000 [dialog] Password  : " + kApPassword.toUtf8() + "\n");
        WriteFile(logs + QStringLiteral("/nx7ifbprog-20261210-140000.log"),
                  "14:00:00.000 current run\n14:00:01.000 Wi-Fi " + kStationPassword.toUtf8() + "\n");
        settings = dir.filePath(QStringLiteral("Orvanta/nx7ifbprog.ini"));
        WriteFile(settings, "[Option]\r\nComPort=3\r\nApp_ESPOta=/opt/espota\r\nUploadPassword=" +
                                kUploadPassword.toUtf8() + "\r\nWifiPass = hunter22\r\nNote=uses " +
                                kStationPassword.toUtf8() + "\r\n[ComDebug]\r\nBaudRate=115200\r\n");

        net.adapters = {test::Adapter(QStringLiteral("wlp2s0"), true, {QStringLiteral("192.168.4.2/24")})};
        net.routeTable = {
            QStringLiteral("192.168.4.0/24 dev wlp2s0 proto kernel scope link src 192.168.4.2")};
        net.firewall = FirewallState{FirewallKind::Ufw, true, QStringLiteral("Status: active\n"), {}, {}, {}};

        input.logFolder = logs;
        input.settingsPath = settings;
        input.secrets = {kUploadPassword, kApPassword, kStationPassword};
        input.toolVersion = QStringLiteral("1.0.1.0");
        input.imageVersion = QStringLiteral("3030KMT27");
        input.boardVersion = QStringLiteral("3030KMT26");
        input.network = &net;
        input.serialPorts = {QStringLiteral("/dev/ttyUSB0 CP2102 USB to UART")};
    }

    QTemporaryDir dir;
    QString logs, settings;
    test::FakeNetwork net;
    SupportBundleInput input;
};

TEST_F(SupportBundleTest, HoldsEverythingAskedForAndNoPassword)
{
    const QString zip = dir.filePath(QStringLiteral("support.zip"));
    QString error;
    ASSERT_TRUE(WriteSupportBundle(input, zip, &error)) << error.toStdString();
    const QMap<QString, QString> files = ReadZip(zip);
    // Readable by the common unzip tool too, not only by the library that wrote it.
    const QString unzip = QStandardPaths::findExecutable(QStringLiteral("unzip"));
    if (!unzip.isEmpty()) {
        QProcess p;
        p.start(unzip, {QStringLiteral("-tq"), zip});
        ASSERT_TRUE(p.waitForFinished(10000));
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardOutput().toStdString();
    }

    EXPECT_EQ(files.keys(),
              (QStringList{QStringLiteral("logs/nx7ifbprog-20261209-170000.log"),
                           QStringLiteral("logs/nx7ifbprog-20261210-140000.log"),
                           QStringLiteral("network.txt"), QStringLiteral("serial-ports.txt"),
                           QStringLiteral("settings/nx7ifbprog.ini"), QStringLiteral("system.txt")}));
    const QString system = files.value(QStringLiteral("system.txt"));
    for (const char* s : {"1.0.1.0", "3030KMT27", "3030KMT26", qVersion()})
        EXPECT_TRUE(system.contains(QString::fromUtf8(s))) << s;
    EXPECT_TRUE(system.contains(QStringLiteral("OS: ")));
    const QString network = files.value(QStringLiteral("network.txt"));
    EXPECT_TRUE(network.contains(QStringLiteral("wlp2s0 [wireless, up]: 192.168.4.2/24")));
    EXPECT_TRUE(network.contains(QStringLiteral("192.168.4.0/24 dev wlp2s0")));
    EXPECT_TRUE(network.contains(QStringLiteral("ufw: active")));
    EXPECT_TRUE(files.value(QStringLiteral("serial-ports.txt")).contains(QStringLiteral("/dev/ttyUSB0")));
    const QString ini = files.value(QStringLiteral("settings/nx7ifbprog.ini"));
    EXPECT_TRUE(ini.contains(QStringLiteral("ComPort=3")));
    EXPECT_TRUE(ini.contains(QStringLiteral("UploadPassword=***")));
    EXPECT_TRUE(ini.contains(QStringLiteral("WifiPass =***")));
    EXPECT_TRUE(ini.contains(QStringLiteral("[ComDebug]")));
    EXPECT_TRUE(files.value(QStringLiteral("logs/nx7ifbprog-20261210-140000.log"))
                    .contains(QStringLiteral("current run")));

    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        for (const QString& secret :
             {kUploadPassword, kApPassword, kStationPassword, QStringLiteral("hunter22")})
            EXPECT_FALSE(it.value().contains(secret))
                << secret.toStdString() << " in " << it.key().toStdString();
    }
}

TEST_F(SupportBundleTest, CurrentLogNamedExplicitlyAndPreviousIsTheOneBefore)
{
    input.currentLog = logs + QStringLiteral("/nx7ifbprog-20261209-170000.log");
    const QString zip = dir.filePath(QStringLiteral("b.zip"));
    ASSERT_TRUE(WriteSupportBundle(input, zip, nullptr));
    const QMap<QString, QString> files = ReadZip(zip);
    EXPECT_TRUE(files.contains(QStringLiteral("logs/nx7ifbprog-20261209-170000.log")));
    EXPECT_TRUE(files.contains(QStringLiteral("logs/nx7ifbprog-20261210-140000.log")));
    EXPECT_FALSE(files.contains(QStringLiteral("logs/nx7ifbprog-20261201-080000.log")));
}

TEST_F(SupportBundleTest, WorksWithoutLogsOrSettings)
{
    input.logFolder = dir.filePath(QStringLiteral("none"));
    input.settingsPath.clear();
    const QString zip = dir.filePath(QStringLiteral("c.zip"));
    ASSERT_TRUE(WriteSupportBundle(input, zip, nullptr));
    EXPECT_EQ(ReadZip(zip).keys(),
              (QStringList{QStringLiteral("network.txt"), QStringLiteral("serial-ports.txt"),
                           QStringLiteral("system.txt")}));
}

// A log written in clear (by an older tool, with the trace on) that holds the board's Wi-Fi
// password in the trace's hex, in a request that wrote it and a reply that read it, where the
// password itself is not among the passwords the bundle knows: the bundle masks the bytes again.
TEST_F(SupportBundleTest, RechecksTheTraceHexOfWhatItPacks)
{
    // "Sta#1" = 53 74 61 23 31
    WriteFile(logs + QStringLiteral("/nx7ifbprog-20261210-140000.log"),
              "14:00:00.000 02 00 45 07 04 03 53 74 61 23 31 03 F1 0D \n"
              "14:00:01.000 RX:02 00 30 07 03 03 53 74 61 23 31 03 DB 0D \n"
              "14:00:02.000 RX:02 00 30 07 03 02 53 74 61 23 31 03 DA 0D \n");
    const QString zip = dir.filePath(QStringLiteral("hex.zip"));
    ASSERT_TRUE(WriteSupportBundle(input, zip, nullptr));
    const QString log = ReadZip(zip).value(QStringLiteral("logs/nx7ifbprog-20261210-140000.log"));
    EXPECT_EQ(log, QStringLiteral("14:00:00.000 02 00 45 07 04 03 ** ** ** ** ** 03 ** 0D \n"
                                  "14:00:01.000 RX:02 00 30 07 03 03 ** ** ** ** ** 03 ** 0D \n"
                                  // The network name is no password.
                                  "14:00:02.000 RX:02 00 30 07 03 02 53 74 61 23 31 03 DA 0D \n"));
}

// Where the bundle goes: never through a symbolic link (to a file or to nothing), over an existing
// file only when asked; whatever is refused stays byte for byte.
TEST_F(SupportBundleTest, NoSymbolicLinkAndNoExistingFileUnlessAsked)
{
    const QString victim = dir.filePath(QStringLiteral("victim.txt"));
    WriteFile(victim, "precious\n");
    struct Case {
        const char* name;
        std::function<void(const QString&)> prepare;
        BundleTarget target;
        bool written;
    };
    const Case cases[] = {
        {"existing file", [](const QString& zip) { WriteFile(zip, "old zip"); }, BundleTarget::New, false},
        {"existing file, replace asked", [](const QString& zip) { WriteFile(zip, "old zip"); },
         BundleTarget::Replace, true},
        {"link to a file", [&](const QString& zip) { QFile::link(victim, zip); }, BundleTarget::New, false},
        {"link to a file, replace asked", [&](const QString& zip) { QFile::link(victim, zip); },
         BundleTarget::Replace, false},
        {"link to nothing",
         [&](const QString& zip) { QFile::link(dir.filePath(QStringLiteral("made.zip")), zip); },
         BundleTarget::Replace, false},
        {"nothing there", [](const QString&) {}, BundleTarget::New, true},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString zip = dir.filePath(QStringLiteral("target-%1.zip").arg(++n));
        c.prepare(zip);
        const bool link = QFileInfo(zip).isSymLink();
        const QByteArray before = QFile::exists(zip) ? nx7::test::ReadAll(zip) : QByteArray();
        QString error;
        EXPECT_EQ(WriteSupportBundle(input, zip, &error, c.target), c.written) << error.toStdString();
        if (c.written) {
            EXPECT_TRUE(ReadZip(zip).contains(QStringLiteral("system.txt")));
            continue;
        }
        EXPECT_TRUE(error.startsWith(QDir::toNativeSeparators(zip) + QStringLiteral(": ")))
            << error.toStdString();
        EXPECT_EQ(QFileInfo(zip).isSymLink(), link);
        if (!before.isEmpty()) {
            EXPECT_EQ(nx7::test::ReadAll(zip), before);
        }
        EXPECT_EQ(nx7::test::ReadAll(victim), QByteArray("precious\n"));
        EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("made.zip"))));
    }
}

// A full disk: the zip that was there stays byte for byte and the error names the cause.
TEST_F(SupportBundleTest, FullDiskLeavesTheOldZip)
{
    const QString folder = dir.filePath(QStringLiteral("out"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const int status = nx7::test::RunOnSmallDisk(folder, 64, [&] {
        const QString zip = folder + QStringLiteral("/support.zip");
        WriteFile(zip, "the old zip");
        if (!nx7::test::FillDisk(folder))
            return 100;
        QString error;
        EXPECT_FALSE(WriteSupportBundle(input, zip, &error, BundleTarget::Replace));
        EXPECT_EQ(nx7::test::ReadAll(zip), QByteArray("the old zip"));
        EXPECT_TRUE(error.contains(QStringLiteral("ディスクの空き容量が不足しています")))
            << error.toStdString();
        EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), (QStringList{"filler", "support.zip"}));
        return ::testing::Test::HasFailure() ? 1 : 0;
    });
    if (status == nx7::test::kNoSmallDisk)
        GTEST_SKIP() << "no mount namespace here";
    EXPECT_EQ(status, 0);
}

TEST_F(SupportBundleTest, UnwritablePlaceReportsAnError)
{
    QString error;
    EXPECT_FALSE(WriteSupportBundle(input, dir.filePath(QStringLiteral("missing/dir/x.zip")), &error));
    EXPECT_FALSE(error.isEmpty());
}

// The entries' names in the order written, a name written twice listed twice.
QStringList EntryNames(const QString& path)
{
    QStringList names;
    struct archive* a = archive_read_new();
    archive_read_support_format_zip(a);
    if (archive_read_open_filename(a, path.toLocal8Bit().constData(), 10240) == ARCHIVE_OK) {
        struct archive_entry* entry = nullptr;
        while (archive_read_next_header(a, &entry) == ARCHIVE_OK)
            names << QString::fromUtf8(archive_entry_pathname(entry));
    }
    archive_read_free(a);
    return names;
}

// The first run has a single log, the second run two: each goes in once, and with two the
// previous run's is the other one.
TEST(SupportBundleLogsTest, OneOrTwoRunLogsGoInOnceEach)
{
    const struct {
        const char* name;
        QStringList files; // oldest first; the last is the running log
        bool named;        // the running log's path handed in
    } cases[] = {
        {"one log", {QStringLiteral("nx7ifbprog-20261210-140000.log")}, false},
        {"one log, named", {QStringLiteral("nx7ifbprog-20261210-140000.log")}, true},
        {"two logs",
         {QStringLiteral("nx7ifbprog-20261209-170000.log"), QStringLiteral("nx7ifbprog-20261210-140000.log")},
         false},
        {"two logs, named",
         {QStringLiteral("nx7ifbprog-20261209-170000.log"), QStringLiteral("nx7ifbprog-20261210-140000.log")},
         true},
        {"two logs in the same second",
         {QStringLiteral("nx7ifbprog-20261210-140000.log"),
          QStringLiteral("nx7ifbprog-20261210-140000-2.log")},
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString logs = dir.filePath(QStringLiteral("log"));
        for (const QString& file : c.files)
            WriteFile(logs + QLatin1Char('/') + file, "run " + file.toUtf8() + "\n");
        SupportBundleInput input;
        input.logFolder = logs;
        if (c.named)
            input.currentLog = logs + QLatin1Char('/') + c.files.last();
        test::FakeNetwork net;
        input.network = &net;
        input.serialPorts = {QStringLiteral("/dev/ttyUSB0")};
        const QString zip = dir.filePath(QStringLiteral("b.zip"));
        ASSERT_TRUE(WriteSupportBundle(input, zip, nullptr));

        QStringList inZip = EntryNames(zip).filter(QRegularExpression(QStringLiteral("^logs/")));
        inZip.sort();
        QStringList expected;
        for (const QString& file : c.files)
            expected << QStringLiteral("logs/") + file;
        expected.sort();
        EXPECT_EQ(inZip, expected);
        const QMap<QString, QString> files = ReadZip(zip);
        for (const QString& file : c.files)
            EXPECT_EQ(files.value(QStringLiteral("logs/") + file),
                      QStringLiteral("run ") + file + QLatin1Char('\n'));
    }
}

} // namespace
} // namespace nx7::diag
