// The classifier on the uploader's real output: the project's uploader run against the board's
// OTA service with a scripted fault each, on loopback. Each fault must land in its own class.
#include "diag/diag_texts.h"
#include "diag/uploader_output.h"
#include "ota/ota_device.h"

#include "support/qt_printers.h"
#include "support/wait_until.h"

#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace nx7::diag
{

using nx7::test::WaitUntil;
namespace
{

constexpr qint64 kImageSize = 20480;

class UploaderPhases : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        QByteArray image(kImageSize, '\0');
        image[0] = static_cast<char>(0xE9); // the image magic the board checks
        for (qsizetype i = 1; i < image.size(); ++i)
            image[i] = static_cast<char>(i * 7);
        m_image = m_dir.filePath(QStringLiteral("fw.bin"));
        QFile f(m_image);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(image);
    }
    void TearDown() override
    {
        if (m_device)
            m_device->Stop();
    }

    quint16 StartDevice(ota::OtaDeviceConfig cfg)
    {
        cfg.port = 0;
        cfg.connectTimeoutMs = 1000;
        m_device = std::make_unique<ota::OtaDeviceService>(cfg);
        QObject::connect(m_device.get(), &ota::OtaDeviceService::TransferFinished,
                         [this](bool ok, const QByteArray&, const QString&) {
                             m_verdict = ok ? BoardVerdict::Ok : BoardVerdict::Failed;
                         });
        EXPECT_TRUE(m_device->Start());
        return m_device->Port();
    }

    // Runs the uploader while the board side is served by this process's event loop.
    UploaderRun Run(const QStringList& extra, quint16 port)
    {
        QStringList args{
            QStringLiteral("-i"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"), QString::number(port),
            QStringLiteral("-t"), QStringLiteral("0.5"),       QStringLiteral("-f"), m_image};
        args << extra;
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral(NX7_ESPOTA_PATH), args);
        EXPECT_TRUE(p.waitForStarted(5000));
        WaitUntil([&p] { return p.state() == QProcess::NotRunning; }, 60000);
        UploaderRun run;
        if (p.state() != QProcess::NotRunning) {
            p.kill();
            p.waitForFinished(2000);
        } else {
            run.exitCode = p.exitCode();
        }
        run.output = QString::fromLocal8Bit(p.readAll());
        run.imageSize = kImageSize;
        return run;
    }

    QTemporaryDir m_dir;
    QString m_image;
    std::unique_ptr<ota::OtaDeviceService> m_device;
    BoardVerdict m_verdict = BoardVerdict::None;
};

struct Fault {
    const char* name;
    std::function<void(ota::OtaDeviceConfig&)> setup;
    UploaderClass expected;
};

TEST_F(UploaderPhases, EachBoardFaultLandsInItsClass)
{
    const QList<Fault> faults = {
        {"clean_md5", [](ota::OtaDeviceConfig&) {}, UploaderClass::Success},
        {"wrong_password_md5", [](ota::OtaDeviceConfig& c) { c.faults.wrongPassword = true; },
         UploaderClass::AuthRefused},
        {"wrong_password_sha256",
         [](ota::OtaDeviceConfig& c) {
             c.auth = ota::DeviceAuth::Sha256;
             c.faults.wrongPassword = true;
         },
         UploaderClass::AuthRefused},
        {"link_lost_mid_transfer", [](ota::OtaDeviceConfig& c) { c.faults.dropAfterBytes = 8192; },
         UploaderClass::TransferLost},
        {"image_rejected_at_the_end", [](ota::OtaDeviceConfig& c) { c.faults.corruptOffset = 100; },
         UploaderClass::ResultUnclear},
        {"no_room_for_the_image", [](ota::OtaDeviceConfig& c) { c.maxImageSize = 4096; },
         UploaderClass::BadAnswer},
    };
    for (const Fault& f : faults) {
        SCOPED_TRACE(f.name);
        ota::OtaDeviceConfig cfg;
        cfg.password = "otapw";
        f.setup(cfg);
        m_verdict = BoardVerdict::None;
        const quint16 port = StartDevice(cfg);
        UploaderRun run = Run({QStringLiteral("--auth=otapw"), QStringLiteral("-r")}, port);
        const UploaderFacts facts = ClassifyUploaderOutput(run);
        EXPECT_EQ(ClassName(facts.cls), ClassName(f.expected)) << run.output.toStdString();
        EXPECT_EQ(facts.address, QStringLiteral("127.0.0.1"));
        if (f.expected == UploaderClass::TransferLost) {
            EXPECT_GE(facts.percent, 0);
            EXPECT_LT(facts.percent, 100);
        }
        // With the board's own verdict the answer is the board's.
        WaitUntil([this] { return m_verdict != BoardVerdict::None; },
                  f.expected == UploaderClass::Success ? 3000 : 0);
        if (m_verdict == BoardVerdict::Failed) {
            run.verdict = m_verdict;
            EXPECT_EQ(ClassifyUploaderOutput(run).cls, UploaderClass::BoardRejected);
        }
        m_device->Stop();
    }
}

TEST_F(UploaderPhases, NobodyAnswersTheInvitation)
{
    QUdpSocket silent; // holds a port on which nothing answers
    ASSERT_TRUE(silent.bind(QHostAddress::LocalHost, 0));
    const UploaderRun run = Run({}, silent.localPort());
    const UploaderFacts facts = ClassifyUploaderOutput(run);
    EXPECT_EQ(facts.cls, UploaderClass::InvitationUnanswered) << run.output.toStdString();
    EXPECT_EQ(facts.invitationTries, 10);
}

TEST_F(UploaderPhases, HostPortTaken)
{
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress::LocalHost, 0));
    const quint16 port = StartDevice({});
    const UploaderRun run = Run({QStringLiteral("-I"), QStringLiteral("127.0.0.1"), QStringLiteral("-P"),
                                 QString::number(holder.serverPort())},
                                port);
    EXPECT_EQ(ClassifyUploaderOutput(run).cls, UploaderClass::ListenFailed) << run.output.toStdString();
}

// A board that answers the invitation with a fixed text and then says nothing more.
struct ScriptedAnswer {
    const char* name;
    QByteArray answer;
    UploaderClass expected;
};

TEST_F(UploaderPhases, BoardsThatStopAfterTheInvitation)
{
    const QList<ScriptedAnswer> rows = {
        // Invited (and with no password), but never connects back: firewall or wrong address.
        {"no_connect_back", "OK", UploaderClass::NoConnectBack},
        {"silent_after_challenge", "AUTH 0123456789abcdef0123456789abcdef", UploaderClass::AuthNoAnswer},
        {"unknown_scheme", "AUTH 0123456789abcdef", UploaderClass::SchemeMismatch},
        {"refused_job", "Busy", UploaderClass::BadAnswer},
    };
    for (const ScriptedAnswer& row : rows) {
        SCOPED_TRACE(row.name);
        QUdpSocket board;
        ASSERT_TRUE(board.bind(QHostAddress::LocalHost, 0));
        QObject::connect(&board, &QUdpSocket::readyRead, [&board, &row] {
            while (board.hasPendingDatagrams()) {
                QHostAddress from;
                quint16 fromPort = 0;
                QByteArray data(static_cast<int>(board.pendingDatagramSize()), '\0');
                board.readDatagram(data.data(), data.size(), &from, &fromPort);
                if (!data.startsWith("200 ")) // only the invitation gets the scripted answer
                    board.writeDatagram(row.answer, from, fromPort);
            }
        });
        const UploaderRun run = Run({QStringLiteral("--auth=otapw")}, board.localPort());
        const UploaderFacts facts = ClassifyUploaderOutput(run);
        EXPECT_EQ(ClassName(facts.cls), ClassName(row.expected)) << run.output.toStdString();
        if (row.expected == UploaderClass::NoConnectBack) {
            UploadContext ctx;
            ctx.boardAddress = QStringLiteral("127.0.0.1");
            ctx.hostPort = 3233;
            ctx.firewall = FirewallState{FirewallKind::Ufw, true, {}, {}, {}, {}};
            EXPECT_TRUE(
                UploaderFailure(facts, ctx).action.contains(QStringLiteral("sudo ufw allow 3233/tcp")));
        }
    }
}

} // namespace
} // namespace nx7::diag
