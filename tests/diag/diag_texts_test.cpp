// Cause-and-action lines: each failure gets both lines, with the concrete values a user needs.
#include "diag/diag_texts.h"

#include "support/pty_pair.h"

#include "support/qt_printers.h"
#include <QSet>
#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace nx7::diag
{
namespace
{

void ExpectTwoLines(const CauseAction& t)
{
    const QStringList lines = t.Lines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines.at(0).startsWith(QStringLiteral("原因: "))) << lines.at(0).toStdString();
    EXPECT_TRUE(lines.at(1).startsWith(QStringLiteral("対処: "))) << lines.at(1).toStdString();
    EXPECT_GT(t.cause.size(), 5);
    EXPECT_GT(t.action.size(), 5);
    EXPECT_EQ(t.Block(), lines.join(QLatin1Char('\n')));
}

// Every listed value must appear somewhere in the two lines.
void ExpectMentions(const CauseAction& t, const QStringList& values)
{
    ExpectTwoLines(t);
    const QString all = t.Block();
    for (const QString& v : values)
        EXPECT_TRUE(all.contains(v)) << "missing " << v.toStdString() << " in\n" << all.toStdString();
}

TEST(DiagTexts, SerialAndBoardFailuresNameTheirValues)
{
    ExpectMentions(SerialPortMissing(QStringLiteral("/dev/ttyUSB0")), {QStringLiteral("/dev/ttyUSB0")});
    ExpectMentions(SerialPortBusy(QStringLiteral("/dev/ttyUSB0")),
                   {QStringLiteral("/dev/ttyUSB0"), QStringLiteral("他のプログラム")});
    ExpectMentions(SerialPortPermission(QStringLiteral("/dev/ttyUSB0"), QStringLiteral("uucp")),
                   {QStringLiteral("uucp"), QStringLiteral("sudo usermod -aG uucp $USER"),
                    QStringLiteral("ログインし直して")});
    // Group unknown: the usual group is suggested.
    ExpectMentions(SerialPortPermission(QStringLiteral("/dev/ttyACM0"), QString()),
                   {QStringLiteral("sudo usermod -aG dialout $USER")});
    ExpectMentions(SerialPortVanished(QStringLiteral("COM3")), {QStringLiteral("COM3")});
    ExpectMentions(BoardSilentSerial(QStringLiteral("/dev/ttyUSB1"), 115200),
                   {QStringLiteral("/dev/ttyUSB1"), QStringLiteral("115200 bps")});
    ExpectMentions(BoardSilentTcp(QStringLiteral("192.168.0.10"), 10777),
                   {QStringLiteral("192.168.0.10:10777")});
}

TEST(DiagTexts, DeviceGroupIsTheFilesGroup)
{
    QTemporaryFile file;
    ASSERT_TRUE(file.open());
    struct stat st {
    };
    ASSERT_EQ(::stat(file.fileName().toLocal8Bit().constData(), &st), 0);
    const struct group* gr = ::getgrgid(st.st_gid);
    const QString expected = gr ? QString::fromLocal8Bit(gr->gr_name) : QString::number(st.st_gid);
    EXPECT_EQ(DeviceGroup(file.fileName()), expected);
    EXPECT_EQ(DeviceGroup(QStringLiteral("/dev/no-such-port-here")), QString());
}

TEST(DiagTexts, ApNotJoinedListsAdaptersAndNamesTheNetwork)
{
    NetAdapter wifi{QStringLiteral("wlp2s0"), true, true, {{QHostAddress(QStringLiteral("10.1.2.3")), 24}}};
    NetAdapter wired{QStringLiteral("enp3s0"), false, true, {}};
    NetAdapter lo{QStringLiteral("lo"), false, true, {{QHostAddress(QStringLiteral("127.0.0.1")), 8}}};
    const CauseAction t = ApNotJoined(QStringLiteral("IFB-AP-0042"), {lo, wifi, wired}, 15000);
    ExpectMentions(t, {QStringLiteral("IFB-AP-0042"), QStringLiteral("wlp2s0 10.1.2.3/24"),
                       QStringLiteral("enp3s0 (アドレスなし)"), QStringLiteral("15秒")});
    EXPECT_FALSE(t.cause.contains(QStringLiteral("127.0.0.1")));
}

TEST(DiagTexts, UploaderCannotStartNamesPathAndReason)
{
    ExpectMentions(
        UploaderCannotStart(QStringLiteral("/opt/tools/espota"), QStringLiteral("No such file or directory")),
        {QStringLiteral("/opt/tools/espota"), QStringLiteral("No such file or directory")});
    ExpectTwoLines(UploaderCannotStart(QString(), QString()));
}

UploadContext Context()
{
    UploadContext ctx;
    ctx.boardAddress = QStringLiteral("192.168.4.1");
    ctx.pcAddress = QStringLiteral("192.168.4.2");
    ctx.hostPort = 3233;
    ctx.ssid = QStringLiteral("IFB-AP-0042");
    ctx.uploaderPath = QStringLiteral("/opt/tools/espota");
    return ctx;
}

UploaderFacts Facts(UploaderClass cls)
{
    UploaderFacts f;
    f.cls = cls;
    f.address = QStringLiteral("192.168.4.1");
    return f;
}

TEST(DiagTexts, EachUploaderClassHasItsOwnWords)
{
    const UploadContext ctx = Context();
    struct Row {
        UploaderClass cls;
        QStringList mentions;
    };
    UploaderFacts lost = Facts(UploaderClass::TransferLost);
    lost.percent = 45;
    lost.reason = QStringLiteral("timed out");
    UploaderFacts bad = Facts(UploaderClass::BadAnswer);
    bad.reason = QStringLiteral("Not Enough Space");
    const QList<Row> rows = {
        {UploaderClass::BadArguments, {QStringLiteral("/opt/tools/espota")}},
        {UploaderClass::ListenFailed, {QStringLiteral("3233"), QStringLiteral("192.168.4.2")}},
        {UploaderClass::HostNotFound, {QStringLiteral("192.168.4.1")}},
        {UploaderClass::InvitationUnanswered,
         {QStringLiteral("192.168.4.1"), QStringLiteral("3232"), QStringLiteral("IFB-AP-0042")}},
        {UploaderClass::AuthRefused,
         {QStringLiteral("アップロード用パスワード"), QStringLiteral("パスワードが違います")}},
        {UploaderClass::AuthNoAnswer, {QStringLiteral("応答しなく")}},
        {UploaderClass::SchemeMismatch, {QStringLiteral("方式")}},
        {UploaderClass::NoConnectBack,
         {QStringLiteral("3233"), QStringLiteral("ファイアウォール"), QStringLiteral("更新領域")}},
        {UploaderClass::ResultUnclear, {QStringLiteral("すべて送りました")}},
        {UploaderClass::BoardRejected, {QStringLiteral("NG")}},
        {UploaderClass::UnknownFailure, {QStringLiteral("サポート情報を保存")}},
    };
    QSet<QString> causes;
    for (const Row& r : rows) {
        SCOPED_TRACE(ClassName(r.cls).toStdString());
        const CauseAction t = UploaderFailure(Facts(r.cls), ctx);
        ExpectMentions(t, r.mentions);
        causes.insert(t.cause);
    }
    EXPECT_EQ(causes.size(), rows.size()) << "two classes share a cause text";
    ExpectMentions(UploaderFailure(lost, ctx), {QStringLiteral("45%"), QStringLiteral("timed out")});
    ExpectMentions(UploaderFailure(bad, ctx), {QStringLiteral("Not Enough Space")});
    EXPECT_TRUE(UploaderFailure(Facts(UploaderClass::Success), ctx).IsEmpty());
}

TEST(DiagTexts, FirewallClassNamesTheFirewallAndTheExactRule)
{
    struct Row {
        FirewallKind kind;
        int hostPort;
        QString name;
        QString rule;
    };
    const QList<Row> rows = {
        {FirewallKind::Ufw, 3233, QStringLiteral("ufw"), QStringLiteral("sudo ufw allow 3233/tcp")},
        {FirewallKind::Firewalld, 3233, QStringLiteral("firewalld"),
         QStringLiteral("sudo firewall-cmd --add-port=3233/tcp")},
        {FirewallKind::Nftables, 3233, QStringLiteral("nftables"),
         QStringLiteral("sudo nft add rule inet filter input tcp dport 3233 accept")},
        // The uploader's own random port: the whole range has to be opened.
        {FirewallKind::Ufw, 0, QStringLiteral("ufw"), QStringLiteral("sudo ufw allow 10000:60000/tcp")},
    };
    for (const Row& r : rows) {
        UploadContext ctx = Context();
        ctx.hostPort = r.hostPort;
        ctx.firewall.kind = r.kind;
        ctx.firewall.active = true;
        const CauseAction t = UploaderFailure(Facts(UploaderClass::NoConnectBack), ctx);
        ExpectMentions(t, {r.name, r.rule});
        EXPECT_EQ(FirewallRule(ctx.firewall, r.hostPort), r.rule);
    }
    FirewallState nft{FirewallKind::Nftables,  true, {}, QStringLiteral("ip"), QStringLiteral("fw"),
                      QStringLiteral("in_pub")};
    EXPECT_EQ(FirewallRule(nft, 3233),
              QStringLiteral("sudo nft add rule ip fw in_pub tcp dport 3233 accept"));
    EXPECT_EQ(FirewallRule(FirewallState{}, 3233), QString());
}

TEST(DiagTexts, VerdictTimeoutAndVersionTexts)
{
    ExpectMentions(BoardReportedFailure(QStringLiteral("MD5 Check Failed")),
                   {QStringLiteral("MD5 Check Failed")});
    ExpectMentions(NoResultInTime(60000), {QStringLiteral("60秒")});
    ExpectMentions(VersionAfterRestartDiffers(QStringLiteral("3030KMT26"), QStringLiteral("3030KMT27")),
                   {QStringLiteral("ボードは 3030KMT26 で動いています"), QStringLiteral("3030KMT27")});
    ExpectTwoLines(VersionAfterRestartDiffers(QString(), QStringLiteral("3030KMT27")));
}

TEST(DiagTexts, VersionChange)
{
    EXPECT_EQ(VersionChangeText(QStringLiteral("3030KMT26"), QStringLiteral("3030KMT27")),
              QStringLiteral("3030KMT26 → 3030KMT27"));
    const QString same = VersionChangeText(QStringLiteral("3030KMT27"), QStringLiteral("3030KMT27"));
    EXPECT_TRUE(same.startsWith(QStringLiteral("3030KMT27 → 3030KMT27")));
    EXPECT_TRUE(same.contains(QStringLiteral("同じバージョン")));
    EXPECT_TRUE(VersionsEqual(QStringLiteral("3030KMT27"), QStringLiteral("3030KMT27")));
    // A version that only shares a prefix is another version.
    EXPECT_FALSE(VersionsEqual(QStringLiteral("3030KMT27a"), QStringLiteral("3030KMT27")));
    EXPECT_EQ(VersionChangeText(QString(), QStringLiteral("3030KMT27")), QStringLiteral("不明 → 3030KMT27"));
}

} // namespace
} // namespace nx7::diag

namespace nx7::diag
{
namespace
{

TEST(SerialFailures, OpenErrorsAreToldApartOnRealDevices)
{
    test::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    // Another program holds the port: Qt says "permission", the device's rights say "busy".
    QSerialPort holder(pty.slavePath());
    ASSERT_TRUE(holder.open(QIODevice::ReadWrite));
    QSerialPort second(pty.slavePath());
    EXPECT_FALSE(second.open(QIODevice::ReadWrite));
    EXPECT_EQ(ClassifySerialError(pty.slavePath(), second.error()), SerialFailure::Busy);
    ExpectMentions(SerialPortFailure(pty.slavePath(), second.error()),
                   {pty.slavePath(), QStringLiteral("他のプログラム")});

    QSerialPort missing(QStringLiteral("/dev/ttyNoSuchPort9"));
    EXPECT_FALSE(missing.open(QIODevice::ReadWrite));
    EXPECT_EQ(ClassifySerialError(QStringLiteral("/dev/ttyNoSuchPort9"), missing.error()),
              SerialFailure::Missing);
    // A bare name is looked up under /dev/.
    EXPECT_EQ(ClassifySerialError(QStringLiteral("ttyNoSuchPort9"), QSerialPort::PermissionError),
              SerialFailure::Missing);

    EXPECT_EQ(ClassifySerialError(pty.slavePath(), QSerialPort::ResourceError), SerialFailure::Vanished);
    ExpectTwoLines(SerialPortFailure(pty.slavePath(), QSerialPort::UnknownError));
}

TEST(SerialFailures, DeviceWithoutRightsIsAPermissionProblem)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may open any device";
    QTemporaryFile file;
    ASSERT_TRUE(file.open());
    ASSERT_TRUE(file.setPermissions(QFileDevice::ReadOwner));
    EXPECT_EQ(ClassifySerialError(file.fileName(), QSerialPort::PermissionError), SerialFailure::Permission);
    ExpectMentions(SerialPortFailure(file.fileName(), QSerialPort::PermissionError),
                   {QStringLiteral("sudo usermod -aG"), DeviceGroup(file.fileName())});
}

TEST(DiagTexts, ExplainUploaderRunClassifiesAndWords)
{
    UploaderRun run;
    run.output = QStringLiteral("Sending invitation to 192.168.4.1 \nAuthenticating...FAIL\n"
                                "14:01:00 [ERROR]: Authentication Failed: Authentication Failed\n");
    run.exitCode = 1;
    UploaderFacts facts;
    const CauseAction t = ExplainUploaderRun(run, Context(), &facts);
    EXPECT_EQ(facts.cls, UploaderClass::AuthRefused);
    EXPECT_EQ(t.cause, UploaderFailure(facts, Context()).cause);
}

} // namespace
} // namespace nx7::diag
