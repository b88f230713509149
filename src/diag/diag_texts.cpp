#include "diag/diag_texts.h"

#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace nx7::diag
{

namespace
{

// The uploader's own choice of host port when none is given.
constexpr int kRandomPortLow = 10000;
constexpr int kRandomPortHigh = 60000;

QString Seconds(int ms)
{
    return QString::number(ms / 1000.0) + QStringLiteral("秒");
}

QString HostPortText(int hostPort)
{
    if (hostPort > 0)
        return QString::number(hostPort);
    return QStringLiteral("%1～%2のいずれか").arg(kRandomPortLow).arg(kRandomPortHigh);
}

QString InParens(const QString& text)
{
    return text.isEmpty() ? QString() : QStringLiteral("（%1）").arg(text);
}

QString RetryLater()
{
    return QStringLiteral("もう一度書き込みを行ってください。");
}

QString SendSupport()
{
    return QStringLiteral(
        "続く場合はメニュー「サポート情報を保存...」で保存したファイルをサポートに送ってください。");
}

QString JoinOnly(const QString& ssid)
{
    return QStringLiteral("PCのWi-Fiをボードのネットワーク「%1」だけに接続し、有線LANとVPNを外してから、")
        .arg(ssid);
}

bool IsLoopbackOnly(const NetAdapter& a)
{
    if (a.addresses.isEmpty())
        return false;
    for (const NetAddress& n : a.addresses) {
        if (!n.ip.isLoopback())
            return false;
    }
    return true;
}

} // namespace

QStringList CauseAction::Lines() const
{
    return {QStringLiteral("原因: ") + cause, QStringLiteral("対処: ") + action};
}

QString CauseAction::Block() const
{
    return Lines().join(QLatin1Char('\n'));
}

CauseAction SerialPortMissing(const QString& port)
{
    return {
        QStringLiteral("シリアルポート %1 が見つかりません。ケーブルが外れているか、ポートの指定が違います。")
            .arg(port),
        QStringLiteral("USBケーブルの接続を確かめ、設定で正しいポートを選んでください。")};
}

CauseAction SerialPortBusy(const QString& port)
{
    return {
        QStringLiteral("シリアルポート %1 は他のプログラムが使用中です。").arg(port),
        QStringLiteral(
            "%1 を使っている他のプログラム（ターミナルソフトなど）を終了してから、もう一度実行してください。")
            .arg(port)};
}

CauseAction SerialPortPermission(const QString& port, const QString& group)
{
    const QString g = group.isEmpty() ? QStringLiteral("dialout") : group;
    return {QStringLiteral("シリアルポート %1 を開く権限がありません（デバイスのグループ: %2）。")
                .arg(port, group.isEmpty() ? QStringLiteral("不明") : group),
            QStringLiteral(
                "端末で sudo usermod -aG %1 $USER を実行し、一度ログアウトしてログインし直してください。")
                .arg(g)};
}

CauseAction SerialPortVanished(const QString& port)
{
    return {
        QStringLiteral("実行中にシリアルポート %1 が消えました。ケーブルが抜けたか、ボードが再起動しました。")
            .arg(port),
        QStringLiteral("ケーブルをつなぎ直し、%1 が現れてからもう一度実行してください。").arg(port)};
}

QString DeviceGroup(const QString& port)
{
#ifdef Q_OS_UNIX
    const QString path = port.startsWith(QLatin1Char('/')) ? port : QStringLiteral("/dev/") + port;
    struct stat st {
    };
    if (::stat(path.toLocal8Bit().constData(), &st) != 0)
        return {};
    if (const struct group* gr = ::getgrgid(st.st_gid))
        return QString::fromLocal8Bit(gr->gr_name);
    return QString::number(st.st_gid);
#else
    Q_UNUSED(port);
    return {};
#endif
}

SerialFailure ClassifySerialError(const QString& port, QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return SerialFailure::Missing;
    case QSerialPort::ResourceError:
        return SerialFailure::Vanished;
    case QSerialPort::PermissionError:
    case QSerialPort::OpenError:
        break;
    default:
        return SerialFailure::Other;
    }
#ifdef Q_OS_UNIX
    const QString path = port.startsWith(QLatin1Char('/')) ? port : QStringLiteral("/dev/") + port;
    if (!QFileInfo::exists(path))
        return SerialFailure::Missing;
    if (::access(path.toLocal8Bit().constData(), R_OK | W_OK) != 0)
        return SerialFailure::Permission;
    return SerialFailure::Busy;
#else
    // Windows refuses a port held by another program with "access denied"; rights are not the issue.
    Q_UNUSED(port);
    return SerialFailure::Busy;
#endif
}

CauseAction SerialPortFailure(const QString& port, QSerialPort::SerialPortError error)
{
    switch (ClassifySerialError(port, error)) {
    case SerialFailure::Missing:
        return SerialPortMissing(port);
    case SerialFailure::Busy:
        return SerialPortBusy(port);
    case SerialFailure::Permission:
        return SerialPortPermission(port, DeviceGroup(port));
    case SerialFailure::Vanished:
        return SerialPortVanished(port);
    case SerialFailure::Other:
        break;
    }
    return {QStringLiteral("シリアルポート %1 を使えません（エラー %2）。")
                .arg(port)
                .arg(static_cast<int>(error)),
            QStringLiteral("ケーブルをつなぎ直し、設定のポートを確かめてから、もう一度実行してください。")};
}

CauseAction BoardRefused(const QString& place)
{
    return {
        QStringLiteral(
            "%1 のボードが要求を拒否しました（NACK）。ボードは応答していますが、要求を受け付けていません。")
            .arg(place),
        QStringLiteral("ボードのID番号とモデルがこのツールに合っているか確かめ、ボードを再起動してからもう一"
                       "度実行してください。")};
}

CauseAction TcpLinkLost(const QString& place)
{
    return {QStringLiteral("書き込み中にI/Fボードとの TCP 接続（%1）が切れました。").arg(place),
            QStringLiteral("ネットワークの接続とI/Fボードの電源を確かめてから、もう一度実行してください。")};
}

CauseAction WriteStopped(const QString& boardReport)
{
    const QString report =
        boardReport.isEmpty()
            ? QStringLiteral("書き込み結果の通知はまだありませんでした")
            : QStringLiteral("I/Fボードは書き込み結果「%1」を通知していました").arg(boardReport);
    return {QStringLiteral("書き込みは途中で中止されました（%1）。").arg(report),
            QStringLiteral("I/Fボードのバージョンを確かめ、必要ならもう一度書き込んでください。")};
}

CauseAction BoardSilentSerial(const QString& port, int baud)
{
    return {QStringLiteral("%1（%2 bps）でボードから応答がありません。").arg(port).arg(baud),
            QStringLiteral("ボードの電源とケーブル、設定の通信速度（%1 "
                           "bps）とパリティがボードと合っているか確かめてください。")
                .arg(baud)};
}

CauseAction BoardSilentTcp(const QString& address, int port)
{
    return {QStringLiteral("%1:%2 でボードから応答がありません。").arg(address).arg(port),
            QStringLiteral(
                "ボードの電源とネットワーク接続、設定のアドレスとポート番号（%1:%2）を確かめてください。")
                .arg(address)
                .arg(port)};
}

QString AdapterSummary(const QList<NetAdapter>& adapters)
{
    QStringList parts;
    for (const NetAdapter& a : adapters) {
        if (IsLoopbackOnly(a))
            continue;
        QStringList addrs;
        for (const NetAddress& n : a.addresses)
            addrs << n.ip.toString() +
                         (n.prefixLength >= 0 ? QStringLiteral("/%1").arg(n.prefixLength) : QString());
        parts << a.name + QLatin1Char(' ') +
                     (addrs.isEmpty() ? QStringLiteral("(アドレスなし)") : addrs.join(QLatin1Char(' ')));
    }
    return parts.isEmpty() ? QStringLiteral("アダプタなし") : parts.join(QStringLiteral(", "));
}

CauseAction ApNotJoined(const QString& ssid, const QList<NetAdapter>& seen, int waitMs)
{
    return {
        QStringLiteral("%1以内にPCがボードのアクセスポイント「%2」に接続しませんでした（PCのアダプタ: %3）。")
            .arg(Seconds(waitMs), ssid, AdapterSummary(seen)),
        QStringLiteral("PCのWi-Fiをネットワーク「%1」に接続してから、もう一度書き込みを行ってください。")
            .arg(ssid)};
}

CauseAction UploaderCannotStart(const QString& path, const QString& why)
{
    if (path.isEmpty())
        return {QStringLiteral("アップロードツールのパスが設定されていません。"),
                QStringLiteral("設定でアップロードツールのファイルを選んでください。")};
    return {
        QStringLiteral("アップロードツール %1 を起動できません%2。").arg(path, InParens(why)),
        QStringLiteral(
            "設定のアップロードツールのパスを確かめ、ファイルがあって実行できることを確認してください。")};
}

QString FirewallRule(const FirewallState& firewall, int hostPort)
{
    const bool one = hostPort > 0;
    const QString port = QString::number(hostPort);
    switch (firewall.kind) {
    case FirewallKind::Ufw:
        return QStringLiteral("sudo ufw allow %1/tcp")
            .arg(one ? port : QStringLiteral("%1:%2").arg(kRandomPortLow).arg(kRandomPortHigh));
    case FirewallKind::Firewalld:
        return QStringLiteral("sudo firewall-cmd --add-port=%1/tcp")
            .arg(one ? port : QStringLiteral("%1-%2").arg(kRandomPortLow).arg(kRandomPortHigh));
    case FirewallKind::Nftables: {
        const QString family = firewall.nftFamily.isEmpty() ? QStringLiteral("inet") : firewall.nftFamily;
        const QString table = firewall.nftTable.isEmpty() ? QStringLiteral("filter") : firewall.nftTable;
        const QString chain = firewall.nftChain.isEmpty() ? QStringLiteral("input") : firewall.nftChain;
        return QStringLiteral("sudo nft add rule %1 %2 %3 tcp dport %4 accept")
            .arg(family, table, chain,
                 one ? port : QStringLiteral("%1-%2").arg(kRandomPortLow).arg(kRandomPortHigh));
    }
    case FirewallKind::None:
    case FirewallKind::Unknown:
        break;
    }
    return {};
}

namespace
{

CauseAction NoConnectBackText(const UploaderFacts& f, const UploadContext& ctx)
{
    const QString fw =
        ctx.firewall.active ? FirewallName(ctx.firewall.kind) : QStringLiteral("PCのファイアウォール");
    CauseAction t;
    t.cause =
        QStringLiteral("ボード（%1）がPCのポート %2 に接続し返せませんでした。%3が受信を止めているか、"
                       "PCが別のアダプタのアドレスでボードに接続しています。イメージがボードの更新領域に"
                       "収まらない場合も同じになります。")
            .arg(f.address.isEmpty() ? ctx.boardAddress : f.address, HostPortText(ctx.hostPort), fw);
    const QString rule = FirewallRule(ctx.firewall, ctx.hostPort);
    if (!rule.isEmpty())
        t.action = QStringLiteral("%1でTCPポート %2 の受信を許可してください: %3 。その後、")
                       .arg(fw, HostPortText(ctx.hostPort), rule);
    else
        t.action = QStringLiteral("PCのファイアウォールでTCPポート %1 の受信を許可し、")
                       .arg(HostPortText(ctx.hostPort));
    t.action += JoinOnly(ctx.ssid) + RetryLater();
    return t;
}

} // namespace

CauseAction UploaderFailure(const UploaderFacts& f, const UploadContext& ctx)
{
    const QString addr = f.address.isEmpty() ? ctx.boardAddress : f.address;
    switch (f.cls) {
    case UploaderClass::Success:
        return {};
    case UploaderClass::BadArguments:
        return {QStringLiteral("アップロードツールに渡した引数が足りません（%1）。").arg(ctx.uploaderPath),
                QStringLiteral("設定のアップロードツールが正しい版か確かめてください。") + SendSupport()};
    case UploaderClass::ListenFailed:
        return {QStringLiteral("PCのポート %1（アドレス "
                               "%2）で待ち受けできません%3。ポートが使用中か、PCにそのアドレスがありません。")
                    .arg(HostPortText(ctx.hostPort),
                         ctx.pcAddress.isEmpty() ? QStringLiteral("すべて") : ctx.pcAddress,
                         InParens(f.reason)),
                QStringLiteral(
                    "ポート %1 を使っている他のプログラムを終了するか、設定のOTA用ポート番号を変えてから、")
                        .arg(HostPortText(ctx.hostPort)) +
                    RetryLater()};
    case UploaderClass::HostNotFound:
        return {QStringLiteral("ボードのアドレス %1 を使えません。").arg(addr),
                QStringLiteral("ソフトとボードを再起動し、") + RetryLater()};
    case UploaderClass::InvitationUnanswered:
        return {QStringLiteral("ボード（%1 ポート "
                               "%2）の更新サービスに届きませんでした（%3回試行）。PCがボードのネットワークに"
                               "接続していないか、経路が別のアダプタやVPNを通っています。")
                    .arg(addr)
                    .arg(ctx.boardPort)
                    .arg(qMax(f.invitationTries, 1)),
                JoinOnly(ctx.ssid) + RetryLater()};
    case UploaderClass::BadAnswer:
        return {QStringLiteral(
                    "ボードが書き込みを受け付けませんでした（応答: %1）。空き容量不足などが考えられます。")
                    .arg(f.reason.isEmpty() ? QStringLiteral("不明") : f.reason),
                QStringLiteral("ボードを再起動してから、") + RetryLater() + SendSupport()};
    case UploaderClass::AuthRefused:
        return {QStringLiteral("ボードが%1を受け付けませんでした（パスワードが違います）。")
                    .arg(ctx.passwordName),
                QStringLiteral("%1がボードの設定と一致しているか確かめてください。ボードに合った版のソフトを"
                               "使ってください。")
                    .arg(ctx.passwordName)};
    case UploaderClass::AuthNoAnswer:
        return {QStringLiteral(
                    "%1の確認中にボードが応答しなくなりました（ボードが処理中か、Wi-Fiの電波が弱い）。")
                    .arg(ctx.passwordName),
                QStringLiteral("PCをボードに近づけ、ボードを再起動してから、") + RetryLater()};
    case UploaderClass::SchemeMismatch:
        return {QStringLiteral("ボードとアップロードツールのパスワード確認方式が合いません（%1）。")
                    .arg(f.failureLine),
                QStringLiteral("ボードに合った版のアップロードツールを設定で選んでください。")};
    case UploaderClass::NoConnectBack:
        return NoConnectBackText(f, ctx);
    case UploaderClass::TransferLost:
        return {QStringLiteral("転送中（%1まで送信）にWi-Fiの接続が切れました%"
                               "2。ボードとの距離が遠いか、ボードが処理中でした。")
                    .arg(f.percent >= 0 ? QStringLiteral("%1%").arg(f.percent)
                                        : QStringLiteral("%1KB").arg(f.chunks),
                         InParens(f.reason)),
                QStringLiteral("PCをボードに近づけ、ボードの他の動作を止めてから、") + RetryLater()};
    case UploaderClass::ResultUnclear:
        return {QStringLiteral("イメージはすべて送りましたが、ボードから正しい結果が返りませんでした%1。")
                    .arg(InParens(f.reason.isEmpty() ? f.failureLine : f.reason)),
                QStringLiteral(
                    "ボードの結果通知と再起動後のバージョンで判定します。NGの場合はボードを再起動し、") +
                    RetryLater()};
    case UploaderClass::BoardRejected:
        return BoardReportedFailure(f.reason);
    case UploaderClass::UnknownFailure:
        break;
    }
    return {
        QStringLiteral("アップロードツールが失敗しました（%1）。")
            .arg(f.failureLine.isEmpty() ? QStringLiteral("出力から原因を特定できません") : f.failureLine),
        QStringLiteral("ソフトとボードを再起動し、") + RetryLater() + SendSupport()};
}

CauseAction ExplainUploaderRun(const UploaderRun& run, const UploadContext& ctx, UploaderFacts* facts)
{
    const UploaderFacts f = ClassifyUploaderOutput(run);
    if (facts)
        *facts = f;
    return UploaderFailure(f, ctx);
}

CauseAction BoardReportedFailure(const QString& reason)
{
    return {
        QStringLiteral(
            "ボードが書き込み結果をNGと通知しました%1。イメージを受け付けなかったか、書き込めませんでした。")
            .arg(InParens(reason)),
        QStringLiteral("ボードを再起動し、") + RetryLater() + SendSupport()};
}

CauseAction NoResultInTime(int waitMs)
{
    return {QStringLiteral("%1以内にボードから書き込み結果の通知がありませんでした。").arg(Seconds(waitMs)),
            QStringLiteral("ボードとPCの接続（シリアルケーブルとWi-Fi）を確かめ、") + RetryLater()};
}

CauseAction VersionAfterRestartDiffers(const QString& running, const QString& expected)
{
    if (running.isEmpty())
        return {QStringLiteral("再起動後のボードのバージョンを読めませんでした（書き込んだのは %1）。")
                    .arg(expected),
                QStringLiteral("ボードとの接続を確かめ、ソフトを再起動してバージョンを確認してください。")};
    return {QStringLiteral("再起動後もボードは %1 で動いています（書き込んだのは "
                           "%2）。イメージが拒否されたか、元の版に戻されました。")
                .arg(running, expected),
            QStringLiteral("ボードを再起動し、") + RetryLater() + SendSupport()};
}

CauseAction PcNotInBoardSubnet(const QString& boardAddress, const QString& ssid,
                               const QList<NetAdapter>& seen)
{
    return {
        QStringLiteral("PCにボード（%1）と同じネットワークのアドレスがありません（PCのアダプタ: %2）。")
            .arg(boardAddress, AdapterSummary(seen)),
        QStringLiteral("PCのWi-Fiをネットワーク「%1」に接続し、アドレスが割り当てられるまで待ってください。")
            .arg(ssid)};
}

CauseAction RouteThroughOtherAdapter(const QString& boardAddress, const QString& routeAdapter,
                                     const QString& expectedAdapter)
{
    return {QStringLiteral("ボード（%1）への経路が %2 ではなく %3 "
                           "を通っています（有線LAN、VPN、またはアドレス範囲の重複）。")
                .arg(boardAddress, expectedAdapter, routeAdapter),
            QStringLiteral("%1 を切断するかVPNを外してから、").arg(routeAdapter) + RetryLater()};
}

CauseAction HostPortUnbindable(const QString& pcAddress, int hostPort, const QString& why)
{
    return {QStringLiteral("PCのアドレス %1 のポート %2 で待ち受けできません%3。")
                .arg(pcAddress, HostPortText(hostPort), InParens(why)),
            QStringLiteral(
                "ポート %1 を使っている他のプログラムを終了するか、設定のOTA用ポート番号を変えてください。")
                .arg(HostPortText(hostPort))};
}

CauseAction FirewallActive(const FirewallState& firewall, int hostPort)
{
    return {
        QStringLiteral(
            "PCのファイアウォール（%1）が有効で、ボードからポート %2/tcp への接続を止める可能性があります。")
            .arg(FirewallName(firewall.kind), HostPortText(hostPort)),
        QStringLiteral("次のコマンドでボードからの接続を許可してください: %1")
            .arg(FirewallRule(firewall, hostPort))};
}

bool VersionsEqual(const QString& running, const QString& image)
{
    return !running.isEmpty() && running == image;
}

QString VersionChangeText(const QString& running, const QString& image)
{
    const QString from = running.isEmpty() ? QStringLiteral("不明") : running;
    if (VersionsEqual(running, image))
        return QStringLiteral("%1 → %2（同じバージョンです。書き込んでも変わりません）").arg(from, image);
    return QStringLiteral("%1 → %2").arg(from, image);
}

} // namespace nx7::diag
