// The password challenge on the wire, against values worked out once outside this code base: what
// the real uploader sends to a board played here byte by byte, and whether the board's service
// takes a response computed here with Qt's own hashes. The uploader and the board share one
// implementation of the challenge, so a fault in it would otherwise pass every transfer test.
#include "ota/ota_device.h"
#include "support/wait_until.h"

#include <QCryptographicHash>
#include <QFile>
#include <QNetworkDatagram>
#include <QPasswordDigestor>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <gtest/gtest.h>

#include <functional>

using namespace nx7::ota;
using nx7::test::WaitUntil;

namespace
{

// Image of 3000 bytes: 0xE9 then 2999 'i'. Its MD5, and the uploader's cnonce for file name
// "fw.bin" and address "127.0.0.1", in each scheme; password "secret".
const QByteArray kFileMd5 = "1fe013f5b965d698df34773115da61ac";
const QByteArray kMd5Nonce = "00112233445566778899aabbccddeeff";
const QByteArray kMd5Cnonce = "c03c45884c87613441735e582a2f7a72";
const QByteArray kMd5Response = "9ef45476d77e1a822a5e374aee45b4fe";
const QByteArray kShaNonce = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
const QByteArray kShaCnonce = "463cacd72496e0e6d47244940ce1ae7b09d1d0e05e035388399a831cbd0508f2";
const QByteArray kShaResponse = "5ee351a838f524e685958218ea4e696a5a25ec7cb730cdc7187060ea07d7ad9c";
// The same challenge keyed with MD5hex(password), the uploader's second try.
const QByteArray kShaMd5KeyResponse = "8acd8e4196f16d66e93d3c14afc4269b3d9bcb720391ce8cc2d88a5a9b5fe810";

QByteArray Image()
{
    return QByteArray(1, static_cast<char>(0xE9)) + QByteArray(2999, 'i');
}

QNetworkDatagram NextDatagram(QUdpSocket& socket, int boundMs = 10000)
{
    WaitUntil([&socket] { return socket.hasPendingDatagrams(); }, boundMs);
    return socket.hasPendingDatagrams() ? socket.receiveDatagram() : QNetworkDatagram();
}

// The board end of the invitation, played by hand: answers each invitation with a challenge and
// each response with the given verdicts.
class UploaderAgainstScriptedBoard : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        QFile f(dir.filePath(QStringLiteral("fw.bin")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(Image());
        f.close();
        ASSERT_TRUE(board.bind(QHostAddress::LocalHost, 0));
        uploader.setProgram(QStringLiteral(NX7_ESPOTA_PATH));
        uploader.setWorkingDirectory(dir.path());
        uploader.setProcessChannelMode(QProcess::MergedChannels);
        uploader.setArguments({QStringLiteral("-i"), QStringLiteral("127.0.0.1"), QStringLiteral("-I"),
                               QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                               QString::number(board.localPort()), QStringLiteral("-a"),
                               QStringLiteral("secret"), QStringLiteral("-f"), QStringLiteral("fw.bin"),
                               QStringLiteral("-t"), QStringLiteral("3")});
        uploader.start();
        ASSERT_TRUE(uploader.waitForStarted(5000));
    }
    void TearDown() override
    {
        if (uploader.state() != QProcess::NotRunning) {
            uploader.kill();
            uploader.waitForFinished(3000);
        }
    }

    // One invitation answered with `nonce`; returns the uploader's answer to the challenge.
    QByteArray Challenge(const QByteArray& nonce)
    {
        const QNetworkDatagram invitation = NextDatagram(board);
        const QList<QByteArray> fields = invitation.data().split(' ');
        EXPECT_EQ(fields.size(), 4) << invitation.data().constData();
        if (fields.size() == 4) {
            EXPECT_EQ(fields[0], "0");
            EXPECT_EQ(fields[2], "3000");
            EXPECT_EQ(fields[3], kFileMd5 + '\n');
        }
        board.writeDatagram("AUTH " + nonce, invitation.senderAddress(),
                            static_cast<quint16>(invitation.senderPort()));
        const QNetworkDatagram response = NextDatagram(board);
        lastSender = response;
        return response.data();
    }
    void Answer(const QByteArray& text)
    {
        board.writeDatagram(text, lastSender.senderAddress(), static_cast<quint16>(lastSender.senderPort()));
    }
    QString Finish()
    {
        EXPECT_TRUE(uploader.waitForFinished(10000));
        EXPECT_EQ(uploader.exitCode(), 1);
        return QString::fromUtf8(uploader.readAll());
    }

    QTemporaryDir dir;
    QUdpSocket board;
    QProcess uploader;
    QNetworkDatagram lastSender;
};

TEST_F(UploaderAgainstScriptedBoard, Md5ChallengeAnswer)
{
    EXPECT_EQ(Challenge(kMd5Nonce), "200 " + kMd5Cnonce + ' ' + kMd5Response + '\n');
    Answer("Authentication Failed");
    EXPECT_TRUE(Finish().contains(QStringLiteral("Authentication Failed")));
}

TEST_F(UploaderAgainstScriptedBoard, Sha256ChallengeAnswerThenTheMd5KeyedRetry)
{
    EXPECT_EQ(Challenge(kShaNonce), "200 " + kShaCnonce + ' ' + kShaResponse + '\n');
    Answer("Authentication Failed");
    EXPECT_EQ(Challenge(kShaNonce), "200 " + kShaCnonce + ' ' + kShaMd5KeyResponse + '\n');
    Answer("Authentication Failed");
    EXPECT_TRUE(Finish().contains(QStringLiteral("Authentication Failed")));
}

// The challenge arithmetic of the public uploader, written here on Qt's own hashes.
QByteArray HexOf(const QByteArray& data, QCryptographicHash::Algorithm algorithm)
{
    return QCryptographicHash::hash(data, algorithm).toHex();
}

QByteArray ShaResponse(const QByteArray& passwordHash, const QByteArray& nonce, const QByteArray& cnonce)
{
    const QByteArray key = QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256, passwordHash,
                                                              nonce + ':' + cnonce, 10000, 32)
                               .toHex();
    return HexOf(key + ':' + nonce + ':' + cnonce, QCryptographicHash::Sha256);
}

QByteArray ExpectedResponse(DeviceAuth auth, const QByteArray& password, const QByteArray& nonce,
                            const QByteArray& cnonce)
{
    switch (auth) {
    case DeviceAuth::Md5:
        return HexOf(HexOf(password, QCryptographicHash::Md5) + ':' + nonce + ':' + cnonce,
                     QCryptographicHash::Md5);
    case DeviceAuth::Sha256:
        return ShaResponse(HexOf(password, QCryptographicHash::Sha256), nonce, cnonce);
    case DeviceAuth::Sha256Md5PwHash:
        return ShaResponse(HexOf(password, QCryptographicHash::Md5), nonce, cnonce);
    }
    return {};
}

// The helper above reproduces the published values before it is trusted with the board.
TEST(ChallengeArithmetic, ReproducesThePublishedValues)
{
    EXPECT_EQ(ExpectedResponse(DeviceAuth::Md5, "secret", kMd5Nonce, kMd5Cnonce), kMd5Response);
    EXPECT_EQ(ExpectedResponse(DeviceAuth::Sha256, "secret", kShaNonce, kShaCnonce), kShaResponse);
    EXPECT_EQ(ExpectedResponse(DeviceAuth::Sha256Md5PwHash, "secret", kShaNonce, kShaCnonce),
              kShaMd5KeyResponse);
    EXPECT_EQ(ExpectedResponse(DeviceAuth::Md5, "secret", "fcea920f7412b5da7be0cf42b8c93759",
                               "e294c64c8b034b54938d1bdea38e9144"),
              "3a9c5d64220b478bd9f073f41a2f0a80");
    EXPECT_EQ(ExpectedResponse(DeviceAuth::Sha256, "secret",
                               "8bb0cf6eb9b17d0f7d22b456f121257dc1254e1f01665370476383ea776df414",
                               "99495c7861112f897bb535a891b00d1a69d087b835f6fbb5eeb9a8a4ca4e4a9f"),
              "03562a05dec677404f1f78f511e78962d85c7f22c731cad85c62c0ac006abcdc");
}

// The board's service takes the right response in every scheme and refuses one wrong character.
TEST(BoardChallenge, AcceptsTheResponseComputedIndependently)
{
    const struct {
        const char* name;
        DeviceAuth auth;
        int nonceLength;
        const QByteArray& cnonce;
    } cases[] = {
        {"md5", DeviceAuth::Md5, 32, kMd5Cnonce},
        {"sha256", DeviceAuth::Sha256, 64, kShaCnonce},
        {"sha256 keyed by md5", DeviceAuth::Sha256Md5PwHash, 64, kShaCnonce},
    };
    for (const auto& c : cases) {
        for (const bool right : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (right ? ", right response" : ", wrong response"));
            QTcpServer back; // where an accepting board connects to
            ASSERT_TRUE(back.listen(QHostAddress::LocalHost, 0));
            OtaDeviceConfig config;
            config.port = 0;
            config.password = "secret";
            config.auth = c.auth;
            OtaDeviceService service(config);
            ASSERT_TRUE(service.Start());
            QUdpSocket uploader;
            ASSERT_TRUE(uploader.bind(QHostAddress::LocalHost, 0));
            uploader.writeDatagram("0 " + QByteArray::number(back.serverPort()) + " 3000 " + kFileMd5 + '\n',
                                   QHostAddress::LocalHost, service.Port());
            const QByteArray challenge = NextDatagram(uploader, 5000).data();
            ASSERT_TRUE(challenge.startsWith("AUTH ")) << challenge.constData();
            const QByteArray nonce = challenge.mid(5).trimmed();
            ASSERT_EQ(nonce.size(), c.nonceLength);
            QByteArray response = ExpectedResponse(c.auth, "secret", nonce, c.cnonce);
            if (!right)
                response[3] = response[3] == '0' ? '1' : '0';
            uploader.writeDatagram("200 " + c.cnonce + ' ' + response + '\n', QHostAddress::LocalHost,
                                   service.Port());
            EXPECT_EQ(NextDatagram(uploader, 5000).data(),
                      right ? QByteArray("OK") : QByteArray("Authentication Failed"));
            service.Stop();
        }
    }
}

} // namespace
