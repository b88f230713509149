// The board's OTA service against the real uploader executable, on loopback.
#include "ota/esp_image.h"
#include "ota/ota_auth.h"
#include "ota/ota_device.h"
#include "support/wait_until.h"

#include <QElapsedTimer>
#include <QFile>
#include <QNetworkDatagram>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

using namespace nx7::ota;
using nx7::test::WaitUntil;

namespace
{

struct EspotaRun {
    bool finished = false;
    int exitCode = -1;
    QString output;
    qint64 elapsedMs = 0;
};

struct DeviceResult {
    bool arrived = false;
    bool ok = false;
    QByteArray image;
    QString message;
};

// The uploader's whole output lines, in order.
QList<int> Percentages(const QString& output)
{
    QList<int> out;
    static const QRegularExpression re(QStringLiteral("Uploading: (?:\\[[= ]*\\] )?(\\d{1,3})%"));
    for (auto it = re.globalMatch(output); it.hasNext();)
        out.append(it.next().captured(1).toInt());
    return out;
}

class OtaTransfer : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    void TearDown() override
    {
        if (m_device)
            m_device->Stop();
    }

    QString WriteFile(const QString& name, const QByteArray& bytes)
    {
        const QString path = m_dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }

    quint16 StartDevice(OtaDeviceConfig cfg)
    {
        cfg.port = 0;
        m_device = std::make_unique<OtaDeviceService>(cfg);
        QObject::connect(m_device.get(), &OtaDeviceService::TransferFinished,
                         [this](bool ok, const QByteArray& image, const QString& message) {
                             m_result.arrived = true;
                             m_result.ok = ok;
                             m_result.image = image;
                             m_result.message = message;
                         });
        QString error;
        EXPECT_TRUE(m_device->Start(&error)) << error.toStdString();
        return m_device->Port();
    }

    // The uploader runs while this process keeps serving the board side in its event loop.
    EspotaRun Run(const QStringList& args, int boundMs = 30000,
                  const std::function<void(QProcess&)>& prepare = {})
    {
        EspotaRun r;
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        if (prepare)
            prepare(p);
        QElapsedTimer t;
        t.start();
        p.start(QStringLiteral(NX7_ESPOTA_PATH), args);
        if (!p.waitForStarted(5000))
            return r;
        WaitUntil([&p] { return p.state() == QProcess::NotRunning; }, boundMs);
        r.elapsedMs = t.elapsed();
        if (p.state() != QProcess::NotRunning) {
            p.kill();
            p.waitForFinished(2000);
        } else {
            r.finished = p.exitStatus() == QProcess::NormalExit;
            r.exitCode = p.exitCode();
        }
        r.output = QString::fromLocal8Bit(p.readAll());
        return r;
    }

    // The command line the tool builds, pointed at the test board.
    QStringList ToolArgs(quint16 port, const QString& password, const QString& file) const
    {
        return {QStringLiteral("-i"),
                QStringLiteral("127.0.0.1"),
                QStringLiteral("-p"),
                QString::number(port),
                QStringLiteral("--auth=") + password,
                QStringLiteral("-f"),
                file};
    }

    QTemporaryDir m_dir;
    std::unique_ptr<OtaDeviceService> m_device;
    DeviceResult m_result;
};

void ExpectCleanSuccess(const EspotaRun& r)
{
    EXPECT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_FALSE(r.output.contains(QLatin1String("Error"))) << r.output.toStdString();
    EXPECT_FALSE(r.output.contains(QLatin1String("ERROR"))) << r.output.toStdString();
    EXPECT_TRUE(r.output.contains(QLatin1String("Result: OK"))) << r.output.toStdString();
}

void ExpectFailure(const EspotaRun& r, const QString& text)
{
    EXPECT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 1);
    // The error is a log line of its own, not glued to a progress line.
    static const QRegularExpression errorLine(QStringLiteral("(^|\n)\\d\\d:\\d\\d:\\d\\d \\[ERROR\\]: "));
    EXPECT_TRUE(r.output.contains(errorLine)) << r.output.toStdString();
    EXPECT_TRUE(r.output.contains(text)) << "missing \"" << text.toStdString() << "\" in\n"
                                         << r.output.toStdString();
}

TEST_F(OtaTransfer, ImageArrivesByteForByteWithTheToolsCommandLine)
{
    OtaDeviceConfig cfg;
    cfg.password = "KW5GDH4072";
    const quint16 port = StartDevice(cfg);
    const QByteArray image = BuildAppImage(QStringLiteral("3030KMT27"), QStringLiteral("ifb"), 1536 * 1024);
    const EspotaRun r =
        Run(ToolArgs(port, QStringLiteral("KW5GDH4072"), WriteFile(QStringLiteral("UOf.bin"), image)));
    ExpectCleanSuccess(r);
    WaitUntil([this] { return m_result.arrived; }, 2000);
    ASSERT_TRUE(m_result.arrived);
    EXPECT_TRUE(m_result.ok);
    EXPECT_EQ(m_result.message, QStringLiteral("OK"));
    EXPECT_TRUE(m_result.image == image) << "received " << m_result.image.size() << " of " << image.size();
    EXPECT_EQ(AppVersionOfImage(m_result.image), QStringLiteral("3030KMT27"));
    EXPECT_TRUE(r.output.contains(QLatin1String("Authenticating...OK")));
    // Without -r: one line per tenth, which the tool turns into its progress bar.
    EXPECT_EQ(Percentages(r.output), (QList<int>{0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100}));
    EXPECT_TRUE(r.output.contains(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d \\[INFO\\]: "),
                                                     QRegularExpression::MultilineOption)));
}

TEST_F(OtaTransfer, EveryAuthenticationKindAndTheFileSystemCommandSucceed)
{
    const struct {
        const char* name;
        QByteArray password;
        DeviceAuth auth;
        QStringList extra;
        QByteArray content; // empty: an application image
        const char* mustShow;
    } cases[] = {
        {"no password", "", DeviceAuth::Md5, {}, {}, "Waiting for device"},
        {"md5", "pw", DeviceAuth::Md5, {}, {}, "Authenticating...OK"},
        {"sha256", "pw", DeviceAuth::Sha256, {}, {}, "Authenticating...OK"},
        {"sha256 over md5 hash", "pw", DeviceAuth::Sha256Md5PwHash, {}, {}, "Authenticating...FAIL"},
        {"file system", "", DeviceAuth::Md5, {QStringLiteral("-s")}, QByteArray(5000, 'S'), "Result: OK"},
        {"progress bar", "", DeviceAuth::Md5, {QStringLiteral("-r")}, {}, "100% Done...\r\n"},
        {"host name and local address",
         "",
         DeviceAuth::Md5,
         {QStringLiteral("-i"), QStringLiteral("localhost"), QStringLiteral("-I"),
          QStringLiteral("127.0.0.1")},
         {},
         "Starting on 127.0.0.1:"},
        // 64 chunks exactly: the last count and the verdict come together.
        {"exact chunk multiple",
         "",
         DeviceAuth::Md5,
         {},
         BuildAppImage(QStringLiteral("V"), QStringLiteral("p"), 65536),
         "Result: OK"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_result = {};
        OtaDeviceConfig cfg;
        cfg.password = c.password;
        cfg.auth = c.auth;
        const quint16 port = StartDevice(cfg);
        QByteArray content = c.content;
        if (content.isEmpty())
            content = BuildAppImage(QStringLiteral("V"), QStringLiteral("p"), 100 * 1024);
        const QString file = WriteFile(QStringLiteral("img.bin"), content);
        QStringList args = ToolArgs(port, QString::fromUtf8(c.password), file) + c.extra;
        if (c.password.isEmpty())
            args.removeAt(4);
        const EspotaRun r = Run(args);
        ExpectCleanSuccess(r);
        EXPECT_TRUE(r.output.contains(QLatin1String(c.mustShow))) << r.output.toStdString();
        WaitUntil([this] { return m_result.arrived; }, 2000);
        EXPECT_TRUE(m_result.ok);
        EXPECT_TRUE(m_result.image == content);
        m_device->Stop();
    }
}

TEST_F(OtaTransfer, BoardFailuresEndInAnErrorLineAndExitOne)
{
    const QByteArray image = BuildAppImage(QStringLiteral("V"), QStringLiteral("p"), 1536 * 1024);
    const struct {
        const char* name;
        std::function<void(OtaDeviceConfig&)> setup;
        QStringList extra;
        QByteArray content; // empty: the image
        QString text;
        bool transferEnds; // the board reports a finished (failed) transfer
    } cases[] = {
        {"wrong password md5",
         [](OtaDeviceConfig& c) { c.faults.wrongPassword = true; },
         {},
         {},
         QStringLiteral("Authentication Failed"),
         false},
        {"wrong password sha256",
         [](OtaDeviceConfig& c) {
             c.auth = DeviceAuth::Sha256;
             c.faults.wrongPassword = true;
         },
         {},
         {},
         QStringLiteral("Authentication Failed"),
         false},
        {"cut in the middle",
         [](OtaDeviceConfig& c) { c.faults.dropAfterBytes = 700 * 1024 + 17; },
         {},
         {},
         QStringLiteral("Error Uploading"),
         true},
        {"cut before the first byte",
         [](OtaDeviceConfig& c) { c.faults.dropAfterBytes = 0; },
         {},
         {},
         QStringLiteral("Error Uploading"),
         true},
        {"corrupted byte",
         [](OtaDeviceConfig& c) { c.faults.corruptOffset = 1000000; },
         {},
         {},
         QStringLiteral("Error Uploading: MD5 Check Failed"),
         true},
        {"announced md5 differs",
         [](OtaDeviceConfig&) {},
         {QStringLiteral("-m"), QStringLiteral("0123456789abcdef0123456789abcdef")},
         {},
         QStringLiteral("Error Uploading: MD5 Check Failed"),
         true},
        {"not an image",
         [](OtaDeviceConfig&) {},
         {},
         QByteArray(50000, 'x'),
         QStringLiteral("Error Uploading: Wrong Magic Byte"),
         true},
        {"too large",
         [](OtaDeviceConfig& c) { c.maxImageSize = 1310720; },
         {},
         {},
         QStringLiteral("Error Uploading: Not Enough Space"),
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_result = {};
        OtaDeviceConfig cfg;
        cfg.password = "pw";
        c.setup(cfg);
        const quint16 port = StartDevice(cfg);
        const QString file = WriteFile(QStringLiteral("img.bin"), c.content.isEmpty() ? image : c.content);
        const EspotaRun r = Run(ToolArgs(port, QStringLiteral("pw"), file) + c.extra);
        ExpectFailure(r, c.text);
        WaitUntil([this] { return m_result.arrived; }, c.transferEnds ? 3000 : 100);
        EXPECT_EQ(m_result.arrived, c.transferEnds);
        EXPECT_FALSE(m_result.ok);
        m_device->Stop();
    }
}

TEST_F(OtaTransfer, AFailedAuthenticationLeavesTheBoardReadyForTheNextTry)
{
    OtaDeviceConfig cfg;
    cfg.password = "right";
    const quint16 port = StartDevice(cfg);
    const QByteArray image = BuildAppImage(QStringLiteral("V"), QStringLiteral("p"), 20000);
    const QString file = WriteFile(QStringLiteral("img.bin"), image);
    ExpectFailure(Run(ToolArgs(port, QStringLiteral("wrong"), file)),
                  QStringLiteral("Authentication Failed"));
    ExpectCleanSuccess(Run(ToolArgs(port, QStringLiteral("right"), file)));
    WaitUntil([this] { return m_result.arrived; }, 2000);
    EXPECT_TRUE(m_result.ok);
}

// The tool hands the password over out of band, so no process list shows it: from an environment
// variable (removed from the uploader's own environment after reading) or a file descriptor.
TEST_F(OtaTransfer, ThePasswordComesFromTheEnvironmentOrADescriptor)
{
    OtaDeviceConfig cfg;
    cfg.password = "right pass";
    const quint16 port = StartDevice(cfg);
    const QString file =
        WriteFile(QStringLiteral("img.bin"), BuildAppImage(QStringLiteral("V"), QStringLiteral("p"), 20000));
    const QStringList base{QStringLiteral("-i"),  QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                           QString::number(port), QStringLiteral("-f"),        file};
    struct Case {
        const char* name;
        QStringList extra;
        QByteArray environment; // value of NX7_OTA_PASSWORD; null: unset
        QByteArray descriptor;  // written into a pipe handed over as --auth-fd; null: none
        int exitCode;
        QString text;
    };
    const Case cases[] = {
        {"environment",
         {QStringLiteral("--auth-env"), QStringLiteral("NX7_OTA_PASSWORD")},
         "right pass",
         {},
         0,
         QStringLiteral("Authenticating...OK")},
        {"wrong password in the environment",
         {QStringLiteral("--auth-env"), QStringLiteral("NX7_OTA_PASSWORD")},
         "wrong",
         {},
         1,
         QStringLiteral("Authentication Failed")},
        {"variable not set",
         {QStringLiteral("--auth-env"), QStringLiteral("NX7_OTA_PASSWORD")},
         {},
         {},
         2,
         QStringLiteral("NX7_OTA_PASSWORD is not set")},
        {"descriptor, line end", {}, {}, "right pass\n", 0, QStringLiteral("Authenticating...OK")},
        {"descriptor, CR LF", {}, {}, "right pass\r\nmore", 0, QStringLiteral("Authenticating...OK")},
        {"descriptor, no line end", {}, {}, "right pass", 0, QStringLiteral("Authenticating...OK")},
        {"descriptor too long", {}, {}, QByteArray(5000, 'x'), 2, QStringLiteral("too long")},
        {"two sources",
         {QStringLiteral("-a"), QStringLiteral("right pass"), QStringLiteral("--auth-env"),
          QStringLiteral("NX7_OTA_PASSWORD")},
         "right pass",
         {},
         2,
         QStringLiteral("Only one of")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int pipeFds[2] = {-1, -1};
        QStringList args = base + c.extra;
        if (!c.descriptor.isNull()) {
            ASSERT_EQ(::pipe(pipeFds), 0);
            // Only the read end goes to the uploader.
            ::fcntl(pipeFds[1], F_SETFD, FD_CLOEXEC);
            ASSERT_EQ(::write(pipeFds[1], c.descriptor.constData(), static_cast<size_t>(c.descriptor.size())),
                      c.descriptor.size());
            ::close(pipeFds[1]);
            args << QStringLiteral("--auth-fd") << QString::number(pipeFds[0]);
        }
        const EspotaRun r = Run(args, 20000, [&c](QProcess& p) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.remove(QStringLiteral("NX7_OTA_PASSWORD"));
            if (!c.environment.isNull())
                env.insert(QStringLiteral("NX7_OTA_PASSWORD"), QString::fromUtf8(c.environment));
            p.setProcessEnvironment(env);
        });
        if (pipeFds[0] >= 0)
            ::close(pipeFds[0]);
        EXPECT_TRUE(r.finished);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.output.toStdString();
        EXPECT_TRUE(r.output.contains(c.text)) << r.output.toStdString();
    }
}

// A scripted board at the UDP level, for the answers the real service never gives.
class ScriptedBoard
{
public:
    explicit ScriptedBoard(std::function<QByteArray(const QByteArray&)> answer)
        : m_answer(std::move(answer))
    {
        m_udp.bind(QHostAddress::LocalHost, 0);
        QObject::connect(&m_udp, &QUdpSocket::readyRead, [this] {
            while (m_udp.hasPendingDatagrams()) {
                const QNetworkDatagram d = m_udp.receiveDatagram();
                ++received;
                const QByteArray a = m_answer(d.data());
                if (!a.isEmpty())
                    m_udp.writeDatagram(a, d.senderAddress(), static_cast<quint16>(d.senderPort()));
            }
        });
    }
    quint16 Port() const { return m_udp.localPort(); }
    int received = 0;

private:
    QUdpSocket m_udp;
    std::function<QByteArray(const QByteArray&)> m_answer;
};

TEST_F(OtaTransfer, SilentOrStrangeBoardsFailWithinTheTimeout)
{
    const QString file =
        WriteFile(QStringLiteral("img.bin"), BuildAppImage(QStringLiteral("V"), QStringLiteral("p"), 4096));
    const struct {
        const char* name;
        std::function<QByteArray(const QByteArray&)> answer;
        QString text;
        int expectedInvitations;
        qint64 minMs;
        qint64 maxMs;
    } cases[] = {
        // Ten invitations, each waited for 0.3 s.
        {"never answers", [](const QByteArray&) { return QByteArray(); },
         QStringLiteral("No response from the ESP"), 10, 2700, 8000},
        {"agrees but never connects", [](const QByteArray&) { return QByteArray("OK"); },
         QStringLiteral("No response from device"), 1, 250, 4000},
        {"bad answer", [](const QByteArray&) { return QByteArray("HELLO"); },
         QStringLiteral("Bad Answer: HELLO"), 1, 0, 4000},
        {"nonce of a wrong length", [](const QByteArray&) { return QByteArray("AUTH 1234"); },
         QStringLiteral("Bad Answer: AUTH 1234"), 1, 0, 4000},
        {"silent after the challenge",
         [](const QByteArray& d) {
             return d.startsWith("200 ") ? QByteArray() : "AUTH " + MakeNonce(AuthScheme::Md5);
         },
         QStringLiteral("No Answer to our Authentication"), 1, 250, 4000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedBoard board(c.answer);
        const EspotaRun r = Run({QStringLiteral("-i"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                                 QString::number(board.Port()), QStringLiteral("-a"), QStringLiteral("pw"),
                                 QStringLiteral("-f"), file, QStringLiteral("-t"), QStringLiteral("0.3")},
                                15000);
        ExpectFailure(r, c.text);
        EXPECT_GE(r.elapsedMs, c.minMs);
        EXPECT_LE(r.elapsedMs, c.maxMs);
        const int invitations = c.expectedInvitations;
        EXPECT_EQ(board.received, invitations + (QByteArray(c.name) == "silent after the challenge" ? 1 : 0));
    }
}

TEST_F(OtaTransfer, BadOptionsShowUsageAndExitTwo)
{
    const QString file = WriteFile(QStringLiteral("img.bin"), QByteArray(100, '\xE9'));
    const QString ip = QStringLiteral("127.0.0.1");
    const QStringList cases[] = {
        {QStringLiteral("--bogus"), QStringLiteral("-i"), ip, QStringLiteral("-f"), file},
        {QStringLiteral("-f"), file},
        {QStringLiteral("-i"), ip},
        {QStringLiteral("-i"), ip, QStringLiteral("-f"), file, QStringLiteral("-t"), QStringLiteral("abc")},
        {QStringLiteral("-i"), ip, QStringLiteral("-f"), file, QStringLiteral("-t"), QStringLiteral("0")},
        {QStringLiteral("-i"), ip, QStringLiteral("-f"), file, QStringLiteral("-p"), QStringLiteral("0")},
        {QStringLiteral("-i"), ip, QStringLiteral("-f"), file, QStringLiteral("-P"), QStringLiteral("70000")},
        {QStringLiteral("-i"), ip, QStringLiteral("-f"), file, QStringLiteral("-m"), QStringLiteral("xyz")},
        {QStringLiteral("-i"), ip, QStringLiteral("-f"), file, QStringLiteral("stray")},
        {QStringLiteral("-i"), ip, QStringLiteral("-f")},
    };
    for (const QStringList& args : cases) {
        const EspotaRun r = Run(args, 10000);
        EXPECT_TRUE(r.finished);
        EXPECT_EQ(r.exitCode, 2) << args.join(' ').toStdString() << "\n" << r.output.toStdString();
        EXPECT_TRUE(r.output.contains(QLatin1String("[ERROR]"))) << args.join(' ').toStdString();
        EXPECT_TRUE(r.output.contains(QLatin1String("Usage:"))) << args.join(' ').toStdString();
    }
}

TEST_F(OtaTransfer, LocalProblemsAreErrorsToo)
{
    const QString empty = WriteFile(QStringLiteral("empty.bin"), {});
    const struct {
        QStringList args;
        QString text;
    } cases[] = {
        {{QStringLiteral("-i"), QStringLiteral("127.0.0.1"), QStringLiteral("-f"),
          m_dir.filePath(QStringLiteral("missing.bin"))},
         QStringLiteral("Cannot read")},
        {{QStringLiteral("-i"), QStringLiteral("127.0.0.1"), QStringLiteral("-f"), empty},
         QStringLiteral("is empty")},
        {{QStringLiteral("-i"), QStringLiteral("no-such-host.invalid"), QStringLiteral("-t"),
          QStringLiteral("2"), QStringLiteral("-f"),
          WriteFile(QStringLiteral("x.bin"), QByteArray(10, '\xE9'))},
         QStringLiteral("Host no-such-host.invalid Not Found")},
    };
    for (const auto& c : cases) {
        const EspotaRun r = Run(c.args, 10000);
        ExpectFailure(r, c.text);
    }
}

// The board side alone, driven by raw sockets.
TEST(OtaDevice, MalformedInvitationsAreIgnoredAndAStalledUploadIsAbandoned)
{
    OtaDeviceConfig cfg;
    cfg.port = 0;
    cfg.idleMs = 40;
    cfg.idleRepeats = 3;
    OtaDeviceService device(cfg);
    ASSERT_TRUE(device.Start());
    DeviceResult result;
    QObject::connect(&device, &OtaDeviceService::TransferFinished,
                     [&result](bool ok, const QByteArray& image, const QString& message) {
                         result = {true, ok, image, message};
                     });

    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    const QByteArray md5(32, 'a');
    const QByteArray port = QByteArray::number(server.serverPort());
    QUdpSocket udp;
    QByteArray answers;
    QObject::connect(&udp, &QUdpSocket::readyRead, [&] {
        while (udp.hasPendingDatagrams())
            answers += udp.receiveDatagram().data() + '|';
    });
    for (const QByteArray& bad :
         {"0 " + port + " 5000 " + md5.left(31) + "\n", "7 " + port + " 5000 " + md5 + "\n",
          "0 " + port + " 5000\n", "0 0 5000 " + md5 + "\n", "0 " + port + " 0 " + md5 + "\n",
          QByteArray("garbage")})
        udp.writeDatagram(bad, QHostAddress::LocalHost, device.Port());
    WaitUntil([] { return false; }, 150);
    EXPECT_TRUE(answers.isEmpty()) << answers.constData();

    udp.writeDatagram("0 " + port + " 5000 " + md5 + "\n", QHostAddress::LocalHost, device.Port());
    WaitUntil([&] { return !answers.isEmpty() && server.hasPendingConnections(); }, 3000);
    EXPECT_EQ(answers, "OK|");
    ASSERT_TRUE(server.hasPendingConnections());
    std::unique_ptr<QTcpSocket> conn(server.nextPendingConnection());

    // One short chunk, then silence: the count comes back, is repeated three times, then the board gives up.
    QByteArray chunk(100, 'z');
    chunk[0] = '\xE9';
    conn->write(chunk);
    QByteArray counts;
    bool closed = false;
    QObject::connect(conn.get(), &QTcpSocket::readyRead, [&] { counts += conn->readAll(); });
    QObject::connect(conn.get(), &QTcpSocket::disconnected, [&] { closed = true; });
    WaitUntil([&] { return closed; }, 3000);
    EXPECT_TRUE(closed);
    counts += conn->readAll();
    EXPECT_EQ(counts, "100100100100");
    EXPECT_TRUE(result.arrived);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.image, chunk);
}

TEST(OtaDevice, LargeWritesAreTakenInPiecesOfAtMost1460Bytes)
{
    OtaDeviceConfig cfg;
    cfg.port = 0;
    OtaDeviceService device(cfg);
    ASSERT_TRUE(device.Start());
    DeviceResult result;
    QObject::connect(&device, &OtaDeviceService::TransferFinished,
                     [&result](bool ok, const QByteArray& image, const QString& message) {
                         result = {true, ok, image, message};
                     });
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    QByteArray data = BuildAppImage(QStringLiteral("V"), QStringLiteral("p"), 64 * 1024);
    QUdpSocket udp;
    udp.writeDatagram("0 " + QByteArray::number(server.serverPort()) + ' ' + QByteArray::number(data.size()) +
                          ' ' + Md5Hex(data) + '\n',
                      QHostAddress::LocalHost, device.Port());
    WaitUntil([&] { return server.hasPendingConnections(); }, 3000);
    ASSERT_TRUE(server.hasPendingConnections());
    std::unique_ptr<QTcpSocket> conn(server.nextPendingConnection());
    conn->write(data); // all at once: the board must still answer per read of at most 1460 bytes
    QByteArray answer;
    QObject::connect(conn.get(), &QTcpSocket::readyRead, [&] { answer += conn->readAll(); });
    WaitUntil([&] { return result.arrived; }, 5000);
    WaitUntil([&] { return answer.endsWith("OK"); }, 1000);
    ASSERT_TRUE(result.arrived);
    EXPECT_TRUE(result.ok) << result.message.toStdString();
    EXPECT_TRUE(answer.endsWith("OK"));
    // At least size/1460 reads, so at least that many counts of at most four digits each.
    const qsizetype digits = answer.size() - 2;
    EXPECT_GE(digits, 3 * ((data.size() + 1459) / 1460));
    EXPECT_FALSE(answer.contains(QByteArray::number(data.size())));
}

} // namespace
