// The board simulator's OTA service against the project's real uploader: the board is put into OTA
// mode over its pseudo-terminal, espota uploads with the tool's command line, and the board's
// verdict and new ROM version come back over the pseudo-terminal.
#include "ota/esp_image.h"
#include "sim_harness.h"
#include "support/test_data.h"

#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QUdpSocket>

#include <gtest/gtest.h>

using namespace simtest;

namespace
{

// Each test takes its own loopback address, so programs running in parallel can all use port 3232.
const QString kUploadAddress = nx7::test::OwnLoopbackAddress(150);
const QString kFailureAddress = nx7::test::OwnLoopbackAddress(151);
const QString kTakenAddress = nx7::test::OwnLoopbackAddress(152);
const QString kToolPassword = QStringLiteral("KW5GDH4072");

QByteArray Reply(std::uint8_t code, const QByteArray& data)
{
    const auto* d = reinterpret_cast<const std::uint8_t*>(data.constData());
    const std::vector<std::uint8_t> f = nx7::codec::BuildFrame(0, code, {d, d + data.size()});
    return QByteArray(reinterpret_cast<const char*>(f.data()), static_cast<qsizetype>(f.size()));
}

// Readable in failure messages.
std::string HexOf(const QByteArray& bytes)
{
    return Hex(bytes).toStdString();
}

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct UploadRun {
    bool finished = false;
    int exitCode = -1;
    QString output;
};

// The uploader with the tool's command line; `extra` goes before the file.
UploadRun RunEspota(const QString& address, const QString& file, const QStringList& extra = {})
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral(NX7_BINARY_DIR "/tools/espota/espota"),
            QStringList{QStringLiteral("-i"), address, QStringLiteral("-p"), QStringLiteral("3232"),
                        QStringLiteral("--auth=") + kToolPassword} +
                extra + QStringList{QStringLiteral("-f"), file});
    UploadRun r;
    if (!p.waitForStarted(5000))
        return r;
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished(2000);
    } else {
        r.finished = p.exitStatus() == QProcess::NormalExit;
        r.exitCode = p.exitCode();
    }
    r.output = QString::fromLocal8Bit(p.readAll());
    return r;
}

class SimOta : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        image = nx7::ota::BuildAppImage(QStringLiteral("3030KMT27"), QStringLiteral("ifb"), 200000);
        imagePath = dir.filePath("UOf.bin");
        QFile f(imagePath);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(image);
        savedPath = dir.filePath("received.bin");
    }
    void TearDown() override { StopSim(); }

    void StopSim()
    {
        talk.reset();
        pty.reset();
        if (sim) {
            EXPECT_TRUE(sim->Stop()) << sim->Stderr().toStdString();
        }
        sim.reset();
    }
    void Start(const QString& address, const QStringList& extra)
    {
        sim = std::make_unique<SimProcess>();
        const QString line =
            sim->Start(QStringList{"--ota-service", "--ap-ip", address, "--rom-version", "3030KMT26",
                                   "--restart-ms", "50", "--save-image", savedPath} +
                       extra);
        ASSERT_TRUE(line.startsWith(QLatin1String("PTY /")))
            << line.toStdString() << sim->Stderr().toStdString();
        pty = std::make_unique<PtyPeer>(line.mid(4));
        ASSERT_TRUE(pty->ok());
        talk = std::make_unique<Conversation>(*pty);
    }
    // SetOtaMode, then the first status poll reports the PC on the access point.
    void EnterOtaMode()
    {
        ASSERT_EQ(HexOf(talk->Ask(Request({0x0B, 0x02, 0x01}))), HexOf(Reply(0x30, "\x0B")));
        const QByteArray status = talk->Ask(Request({0x00}));
        ASSERT_EQ(status.size(), 18);
        ASSERT_EQ(static_cast<int>(status.at(7)), 1);
    }
    std::string RomVersion() { return talk->Ask(Request({0x90})).mid(5, 9).toStdString(); }
    void Restart()
    {
        ASSERT_EQ(HexOf(talk->Ask(Request({0x0A}))), HexOf(Reply(0x30, "\x0A")));
        QThread::msleep(120);
    }

    QTemporaryDir dir;
    QByteArray image;
    QString imagePath;
    QString savedPath;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<PtyPeer> pty;
    std::unique_ptr<Conversation> talk;
};

void ExpectCleanRun(const UploadRun& r)
{
    ASSERT_TRUE(r.finished) << r.output.toStdString();
    EXPECT_EQ(r.exitCode, 0) << r.output.toStdString();
    EXPECT_FALSE(r.output.contains(QLatin1String("Error")) || r.output.contains(QLatin1String("ERROR")))
        << r.output.toStdString();
    EXPECT_TRUE(r.output.contains(QLatin1String("Result: OK"))) << r.output.toStdString();
}

struct SchemeCase {
    const char* name;
    QStringList simArgs;
};

class SimOtaUpload : public SimOta, public ::testing::WithParamInterface<SchemeCase>
{
};

TEST_P(SimOtaUpload, ReceivesTheImageAnnouncesOkAndRunsItsVersionAfterTheRestart)
{
    Start(kUploadAddress, GetParam().simArgs);
    // The tool takes the upload address from the access-point information.
    QStringList littleEndian;
    for (const QString& part : kUploadAddress.split(QLatin1Char('.')))
        littleEndian.prepend(QStringLiteral("%1").arg(part.toInt(), 2, 16, QLatin1Char('0')).toUpper());
    EXPECT_EQ(HexOf(talk->Ask(Request({0x03, 0x71})).mid(6, 4)),
              littleEndian.join(QLatin1Char(' ')).toStdString());
    EnterOtaMode();

    talk->Clear();
    ExpectCleanRun(RunEspota(kUploadAddress, imagePath));
    ASSERT_TRUE(talk->WaitFrames(1, 3000));
    EXPECT_EQ(HexOf(talk->frames.at(0)), HexOf(Reply(0x44, "OK")));
    EXPECT_FALSE(talk->WaitFrames(2, 300)) << "one verdict per transfer";
    EXPECT_TRUE(ReadFile(savedPath) == image) << "the saved image differs from the uploaded one";

    // The new version only runs after the restart.
    EXPECT_EQ(RomVersion(), "3030KMT26");
    Restart();
    EXPECT_EQ(RomVersion(), "3030KMT27");

    // Out of OTA mode nobody answers the invitation.
    const UploadRun late =
        RunEspota(kUploadAddress, imagePath, {QStringLiteral("-t"), QStringLiteral("0.1")});
    EXPECT_EQ(late.exitCode, 1);
    EXPECT_TRUE(late.output.contains(QLatin1String("No response from the ESP"))) << late.output.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Schemes, SimOtaUpload,
                         ::testing::Values(SchemeCase{"md5", {}}, SchemeCase{"sha256",
                                                                             {QStringLiteral("--ota-auth"),
                                                                              QStringLiteral("sha256")}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimOta, FailedTransfersAnnounceBrOrNothingAndKeepTheRomVersion)
{
    enum class Saved { Nothing, Prefix, Corrupted };
    struct Case {
        const char* name;
        QStringList simArgs;
        const char* uploaderError;
        const char* verdict; // nullptr: no notification at all
        Saved saved;
        qsizetype at; // Prefix: bytes received; Corrupted: the flipped byte
    };
    const Case cases[] = {
        {"the board expects another password",
         {"--fault", "ota-wrong-password"},
         "Authentication Failed",
         nullptr,
         Saved::Nothing,
         0},
        {"the board's password differs",
         {"--ota-password", "secret9"},
         "Authentication Failed",
         nullptr,
         Saved::Nothing,
         0},
        {"connection dropped",
         {"--fault", "ota-drop after 5000"},
         "Error Uploading: connection closed by the device after",
         "BR",
         Saved::Prefix,
         5000},
        {"transfer corrupted",
         {"--fault", "ota-corrupt at 1000"},
         "Error Uploading: MD5 Check Failed",
         "BR",
         Saved::Corrupted,
         1000},
        {"image larger than the partition",
         {"--ota-max-size", "100000"},
         "Error Uploading: Not Enough Space",
         "BR",
         Saved::Nothing,
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(savedPath);
        Start(kFailureAddress, c.simArgs);
        EnterOtaMode();
        talk->Clear();
        const UploadRun r = RunEspota(kFailureAddress, imagePath);
        ASSERT_TRUE(r.finished) << r.output.toStdString();
        EXPECT_EQ(r.exitCode, 1) << r.output.toStdString();
        EXPECT_TRUE(r.output.contains(QLatin1String(c.uploaderError))) << r.output.toStdString();

        // The timed stand-in verdict ("OK" by default) is off: only the transfer speaks.
        if (c.verdict) {
            ASSERT_TRUE(talk->WaitFrames(1, 3000));
            EXPECT_EQ(HexOf(talk->frames.at(0)), HexOf(Reply(0x44, c.verdict)));
            EXPECT_FALSE(talk->WaitFrames(2, 300));
        } else {
            EXPECT_FALSE(talk->WaitFrames(1, 500));
        }

        const QByteArray saved = ReadFile(savedPath);
        switch (c.saved) {
        case Saved::Nothing:
            EXPECT_FALSE(QFile::exists(savedPath));
            break;
        case Saved::Prefix:
            EXPECT_TRUE(saved == image.left(c.at)) << saved.size();
            break;
        case Saved::Corrupted: {
            QByteArray expected = image;
            expected[c.at] = static_cast<char>(expected[c.at] ^ 0xFF);
            EXPECT_TRUE(saved == expected) << saved.size();
            break;
        }
        }
        Restart();
        EXPECT_EQ(RomVersion(), "3030KMT26");

        StopSim();
    }
}

TEST_F(SimOta, ATakenPortIsReportedAndTheBoardGoesOn)
{
    QUdpSocket taken;
    ASSERT_TRUE(taken.bind(QHostAddress(kTakenAddress), 3232, QAbstractSocket::DontShareAddress));
    Start(kTakenAddress, {});
    EnterOtaMode();
    // Written when OTA mode begins, before the mode request is acknowledged.
    sim->process().setReadChannel(QProcess::StandardError);
    QString err;
    for (int i = 0; i < 30 && !err.contains(QLatin1Char('\n')); ++i) {
        sim->process().waitForReadyRead(100);
        err += sim->Stderr();
    }
    EXPECT_TRUE(err.contains(QStringLiteral("the OTA service cannot listen on %1:3232").arg(kTakenAddress)))
        << err.toStdString();
    EXPECT_EQ(static_cast<int>(talk->Ask(Request({0x00})).at(7)), 1);
    EXPECT_EQ(RomVersion(), "3030KMT26");
}

TEST(SimOtaOptions, RefusesWhatCannotWork)
{
    struct Case {
        QStringList args;
        const char* message;
    };
    const Case cases[] = {
        {{"--ota-service"}, "loopback"},
        {{"--ota-service", "--ap-ip", "192.168.4.1"}, "loopback"},
        {{"--fault", "ota-corrupt"}, "need --ota-service"},
        {{"--save-image", "x.bin"}, "needs --ota-service"},
        {{"--ota-service", "--ap-ip", "127.0.0.1", "--ota-auth", "plain"}, "--ota-auth"},
        {{"--ota-service", "--ap-ip", "127.0.0.1", "--fault", "ota-drop after many"}, "ota-drop"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        SimProcess bad;
        bad.Start(c.args, false);
        ASSERT_TRUE(bad.process().waitForFinished(5000));
        EXPECT_EQ(bad.process().exitCode(), 2);
        EXPECT_TRUE(bad.Stderr().contains(QLatin1String(c.message)));
    }
}

} // namespace
