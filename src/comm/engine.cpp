#include "comm/engine.h"

#include "comm/link.h"
#include "comm/protocol.h"
#include "comm/reply_decoder.h"
#include "platform/code_page.h"
#include "platform/com_names.h"
#include "platform/event_wait.h"
#include "platform/helpers.h"
#include "platform/ini_file.h"
#include "platform/log_pane.h"
#include "platform/tick_clock.h"
#include "platform/ui_seam.h"

#include <QFile>
#include <QFileInfo>

#include <cstring>

namespace nx7
{

namespace
{

// One start mark for every wait of the program: a wait started inside another restarts it.
std::uint32_t g_tickMark = 0;
QString g_listenAddress;

constexpr int kConnectWaitMs = 12000;
constexpr int kAnyReplyWaitMs = 2000;
// Longest real-time block of one waiting pass; any event ends it sooner.
constexpr int kMaxWaitSliceMs = 50;

const QString kComDebug = QStringLiteral("ComDebug");

// Real milliseconds to block in one waiting pass of a wait of `timeoutMs` on the tick clock.
int WaitSlice(std::uint32_t timeoutMs)
{
    const std::uint32_t elapsed = Clock().TickCount() - g_tickMark;
    if (elapsed >= timeoutMs)
        return 1;
    const double realLeft = static_cast<double>(timeoutMs - elapsed) / Clock().Rate();
    if (realLeft >= kMaxWaitSliceMs)
        return kMaxWaitSliceMs;
    return realLeft < 1.0 ? 1 : static_cast<int>(realLeft) + 1;
}

} // namespace

class TTComXDlg::Impl : public codec::FrameAssembler::Sink
{
public:
    Impl(TTComXDlg& engine, LogPane* logPane, UserInteraction* ui, const QString& settingsPath)
        : q(engine)
        , Log(logPane)
        , Ui(ui)
        , SettingsPath(settingsPath)
    {
    }

    void OnValidFrame(const std::uint8_t* frame, int length) override
    {
        const std::uint8_t code = frame[2];
        if (codec::IsReplyCode(code)) {
            if (!AcceptReply(frame, length)) {
                // Late or foreign: not the answer to what is being waited for.
                q.TraceLine(
                    QStringLiteral("要求と一致しない応答を無視: ") +
                    QString::fromLatin1(codec::TraceHex(frame, static_cast<std::size_t>(length))).trimmed());
            }
        } else if (const int kind = codec::ReplyKindForCode(code); kind >= 0) {
            q.ReplyKind = kind;
        }
        q.DecodeReply(frame, length);
    }

    // The reply to the waiting request is recorded; any other ACK or NACK is not.
    bool AcceptReply(const std::uint8_t* frame, int length)
    {
        if (!Matcher.Offer(std::span(frame, static_cast<std::size_t>(length))))
            return false;
        std::memcpy(q.LastReply.data(), frame, static_cast<std::size_t>(length));
        q.LastReplyLength = length;
        q.ReplyKind = Matcher.AnsweredByNack() ? +codec::Kind::Nack : +codec::Kind::Ack;
        return true;
    }

    void OnChecksumError(const std::uint8_t* frame, int length) override
    {
        q.TraceLine(QStringLiteral("SUM EEROR"));
        if (!Ui)
            return;
        MessageRequest box =
            OkBox(QStringLiteral("SUM EEROR: ") +
                      QString::fromLatin1(codec::TraceHex(frame, static_cast<std::size_t>(length - 1))),
                  QStringLiteral("確認"), MsgIcon::Question);
        box.buttons = MsgButtons::Yes;
        Ui->Message(box);
    }

    void OnRxTrace(const std::string& line) override { q.TraceLine(QString::fromLatin1(line)); }

    void ResetReceive() { q.m_assembler.ResetReceive(); }

    void OnReceived(const QByteArray& bytes)
    {
        q.AppendReceived(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                         static_cast<int>(bytes.size()));
        // A reply counts as soon as its bytes are in; the timer tick still runs the same assembly
        // (a run already in progress, re-entered through a modal box, leaves them for the next).
        q.AssembleFrames();
    }

    void ShowOpenFailure()
    {
        if (!Ui)
            return;
        Ui->Message(ErrorBox(q.PortName() + QStringLiteral("がオープン出来ません!!\n\n") +
                             QStringLiteral("  ポート及びパラメータ設定を再確認してください。")));
    }

    TTComXDlg& q;
    LogPane* Log;
    UserInteraction* Ui;
    QString SettingsPath;
    std::unique_ptr<Link> link;
    codec::ReplyMatcher Matcher;
    std::function<bool()> Interrupted;

    bool InterruptNow()
    {
        if (!Interrupted || !Interrupted())
            return false;
        q.TraceLine(QStringLiteral("レスポンス待ち　中断"));
        return true;
    }
};

void TTComXDlg::SetListenAddress(const QString& address)
{
    g_listenAddress = address;
}

LinkSettings TTComXDlg::SettingsOf(int listenPort, int isServer, int remotePort, const QString& remoteAddress,
                                   int linkMode, int portNumber, int speedCode, int parityCode,
                                   const QString& settingsPath)
{
    LinkSettings settings;
    settings.kind = LinkKindOf(linkMode);
    settings.server = isServer != 0;
    // In the server role the setting holds the board's address as well (its network record's).
    settings.boardAddress = static_cast<std::uint32_t>(isServer);
    settings.listenPort = listenPort;
    settings.listenAddress = g_listenAddress;
    settings.remotePort = remotePort;
    settings.remoteAddress = remoteAddress;
    settings.settingsPath = settingsPath;
    if (settings.kind == LinkKind::Serial) {
        IniFile ini;
        ini.Load(settingsPath); // a missing or unreadable file gives the defaults
        ReadComDebugLine(ini, settings.line);
        settings.line.comName = PortNameOfNumber(portNumber);
        settings.line.baudRate = BaudRateOfSpeedCode(speedCode);
        settings.line.parity = ParityOfSettingCode(parityCode);
    }
    return settings;
}

TTComXDlg::TTComXDlg(int listenPort, int isServer, int remotePort, const QString& remoteAddress, int linkMode,
                     int portNumber, int speedCode, int parityCode, LogPane* logPane, UserInteraction* ui,
                     const QString& settingsPath, QObject* parent)
    : TTComXDlg(SettingsOf(listenPort, isServer, remotePort, remoteAddress, linkMode, portNumber, speedCode,
                           parityCode, settingsPath),
                MakeLink, logPane, ui, settingsPath, parent)
{
}

TTComXDlg::TTComXDlg(const LinkSettings& settings, const LinkFactory& makeLink, LogPane* logPane,
                     UserInteraction* ui, const QString& settingsPath, QObject* parent)
    : QObject(parent)
    , d(std::make_unique<Impl>(*this, logPane, ui, settingsPath))
{
    ReplyKind = 0;
    TxTrace = false;
    RxTrace = false;
    LoadEngineKeys();
    IsServer =
        settings.server ? (settings.boardAddress != 0 ? static_cast<int>(settings.boardAddress) : 1) : 0;
    ListenPort = settings.listenPort;
    RemotePort = settings.remotePort;
    RemoteAddress = settings.remoteAddress;
    Connected = false;

    d->link = makeLink(settings);
    Link* link = d->link.get();
    LinkMode = LinkModeOf(link->Kind());
    connect(link, &Link::Received, this, [this](const QByteArray& bytes) { d->OnReceived(bytes); });
    connect(link, &Link::Trace, this, [this](const QString& text, bool force) { TraceLine(text, force); });
    connect(link, &Link::ConnectionChanged, this, [this](bool up) { Connected = up; });
    connect(link, &Link::ReceiveReset, this, [this] { d->ResetReceive(); });

    if (link->ConnectsLater())
        link->Open();
    else if (link->Kind() != LinkKind::None)
        OpenLink();
}

TTComXDlg::~TTComXDlg()
{
    // Tear the link down while the engine is whole: its last signals must not reach it.
    QObject::disconnect(d->link.get(), nullptr, this, nullptr);
    d->link.reset();
}

LinkKind TTComXDlg::Kind() const
{
    return d->link->Kind();
}

void TTComXDlg::OpenLink()
{
    Link& link = *d->link;
    // Take the link down.
    if (link.ConnectsLater()) {
        if (Connected) {
            link.Close();
            WaitConnected(false);
        }
    } else if (link.Kind() != LinkKind::None) {
        link.Close();
        Connected = false;
    }
    d->ResetReceive();

    if (link.ConnectsLater()) {
        link.Open();
        WaitConnected(true);
        return;
    }
    if (link.Kind() == LinkKind::None)
        return;
    Connected = link.Open();
    if (!Connected)
        d->ShowOpenFailure();
}

void TTComXDlg::ReopenLink(int portNumber)
{
    // The name only matters to the next open, so it may change before the old port is closed.
    d->link->SetComName(PortNameOfNumber(portNumber & 0xFF));
    OpenLink();
}

bool TTComXDlg::IsConnected() const
{
    if (d->link->ConnectsLater())
        return Connected;
    return d->link->IsUp();
}

int TTComXDlg::SendFrame(const std::uint8_t* bytes, int count)
{
    ReplyKind = 0;
    m_assembler.DropPartialFrame();
    // The request is pending from now on: its reply may come while the bytes are still going out.
    d->Matcher.Sent(bytes && count > 0 ? std::span(bytes, static_cast<std::size_t>(count))
                                       : std::span<const std::uint8_t>());
    if (!bytes || count <= 0)
        return 0;

    Link& link = *d->link;
    if (link.ConnectsLater() && !Connected && link.ReconnectsOnSend()) {
        // The board closes the connection whenever it reboots: one attempt to come back per send.
        link.Open();
        if (WaitConnected(true))
            TraceLine(QStringLiteral("TCP接続を再確立しました: ") + link.Describe(), true);
    }
    if (link.ConnectsLater() && !Connected)
        return 0;
    return link.Write(bytes, count);
}

bool TTComXDlg::WaitConnected(bool state)
{
    ProcessPendingEvents();
    TickTimer(0, kConnectWaitMs);
    for (;;) {
        const int slice = WaitSlice(kConnectWaitMs);
        WaitForEvents(slice < 10 ? slice : 10);
        if (Connected == state)
            return true;
        ProcessPendingEvents();
        if (TickTimer(1, kConnectWaitMs))
            return false;
    }
}

void TTComXDlg::LoadEngineKeys(const IniFile* loaded)
{
    IniFile own;
    if (!loaded)
        own.Load(d->SettingsPath); // a missing or unreadable file gives the defaults
    const IniFile& ini = loaded ? *loaded : own;
    IDNo = static_cast<std::uint8_t>(ini.ReadInteger(kComDebug, QStringLiteral("IDNo"), 0) & 0xFF);
    DispCont1 = ini.ReadInteger(kComDebug, QStringLiteral("fDispCont1"), 1);
    MaxRecNo = ini.ReadInteger(kComDebug, QStringLiteral("MAX_REC_NO"), 200);
}

void TTComXDlg::LoadComDebug()
{
    IniFile ini;
    ini.Load(d->SettingsPath); // a missing or unreadable file gives the defaults
    d->link->ReadSettings(ini);
    LoadEngineKeys(&ini);
}

void TTComXDlg::SaveComDebug()
{
    const QString& path = d->SettingsPath;
    if (path.isEmpty())
        return;
    // Read-only: the owner's write bit is clear (so it holds for root too).
    if (QFileInfo::exists(path) && !(QFile::permissions(path) & QFileDevice::WriteOwner))
        return;
    IniFile ini;
    if (!ini.Load(path))
        return;
    d->link->WriteSettings(ini);
    ini.WriteInteger(kComDebug, QStringLiteral("IDNo"), IDNo);
    ini.WriteInteger(kComDebug, QStringLiteral("fDispCont1"), DispCont1);
    ini.WriteInteger(kComDebug, QStringLiteral("MAX_REC_NO"), MaxRecNo);
    // A failure leaves the file as it was; a write that failed (a full disk) is said once.
    const FileSaveResult saved = ini.Write(path);
    if (saved.kind == FileSaveResult::Kind::WriteFailed)
        ReportIniSaveFailure(d->Ui, path, saved.cause);
}

void TTComXDlg::TraceLine(const QString& text, bool force)
{
    if ((TxTrace || force) && d->Log)
        AppendLogLine(*d->Log, text);
}

void TTComXDlg::ResetPulse()
{
    d->link->ResetPulse();
}

void TTComXDlg::AppendReceived(const std::uint8_t* bytes, int count)
{
    if (!bytes || count <= 0)
        return;
    m_assembler.AppendReceived(bytes, static_cast<std::size_t>(count));
}

void TTComXDlg::AssembleFrames()
{
    m_assembler.Assemble(*d, RxTrace);
}

bool TTComXDlg::WaitReply(int kind, int timeoutMs)
{
    const std::uint32_t timeout = timeoutMs > 0 ? static_cast<std::uint32_t>(timeoutMs) : 0;
    TickTimer(0, timeout);
    for (bool first = true;; first = false) {
        // The first pass only takes what is pending; later passes block until an event (a
        // Timer1 tick, received bytes) or the slice's end.
        if (first)
            ProcessPendingEvents();
        else
            WaitForEvents(WaitSlice(timeout));
        // Only the reply to the pending request counts; a NACK does not end a wait for an ACK.
        if (kind == +codec::Kind::Ack && d->Matcher.Answered() && !d->Matcher.AnsweredByNack())
            return true;
        if (kind == +codec::Kind::Nack && d->Matcher.AnsweredByNack()) {
            TraceLine(QStringLiteral("NACK 受信"));
            return false;
        }
        if (kind != +codec::Kind::Ack && kind != +codec::Kind::Nack && kind != 0 && ReplyKind == kind)
            return false; // a notification of that kind: it carries no acknowledgement
        if (d->InterruptNow())
            return false;
        if (TickTimer(1, timeout)) {
            TraceLine(QStringLiteral("レスポンス待ち　タイムオーバー"));
            return false;
        }
    }
}

bool TTComXDlg::WaitAnyReply()
{
    TickTimer(0, kAnyReplyWaitMs);
    for (bool first = true;; first = false) {
        if (first)
            ProcessPendingEvents();
        else
            WaitForEvents(WaitSlice(kAnyReplyWaitMs));
        // Notifications do not end the wait: only the pending request's ACK or a NACK does.
        if (d->Matcher.Answered()) {
            if (!d->Matcher.AnsweredByNack())
                return true;
            TraceLine(QStringLiteral("NACK 受信"));
            if (LastReply[4] == 0 && d->Ui) {
                d->Ui->Message(OkBox(QStringLiteral("NACK : 0x00")));
            }
            return false;
        }
        if (d->InterruptNow())
            return false;
        if (TickTimer(1, kAnyReplyWaitMs)) {
            TraceLine(QStringLiteral("レスポンス待ち　タイムオーバー"));
            return false;
        }
    }
}

void TTComXDlg::SetInterruptCheck(std::function<bool()> check)
{
    d->Interrupted = std::move(check);
}

bool TTComXDlg::LastReplyWasNack() const
{
    return d->Matcher.AnsweredByNack();
}

bool TTComXDlg::ReplyPending() const
{
    return d->Matcher.Pending();
}

bool TTComXDlg::TickTimer(int mode, std::uint32_t ms)
{
    if (mode == 0) {
        g_tickMark = Clock().TickCount();
        return true;
    }
    if (mode == 1)
        return Clock().TickCount() - g_tickMark >= ms;
    return false;
}

QString TTComXDlg::DescribeLink() const
{
    return d->link ? d->link->Describe() : QString();
}

void TTComXDlg::DecodeReply(const std::uint8_t* frame, int length)
{
    const bool wantText = TxTrace && d->Log;
    const codec::DecodeResult result = codec::DecodeReply(codec::FrameView{frame, length}, wantText);
    if (result.otaResult) {
        OtaResultArrived = true;
        OtaResultOk = *result.otaResult;
        OtaResultTime = QTime::currentTime();
    }
    for (const codec::TraceText& line : result.lines) {
        TraceLine(line.fromBoard
                      ? FromAnsi(line.text.data(), static_cast<qsizetype>(line.text.size()))
                      : QString::fromUtf8(line.text.data(), static_cast<qsizetype>(line.text.size())));
    }
}

std::vector<std::uint8_t> TTComXDlg::BuildRequest(const std::vector<std::uint8_t>& data) const
{
    return codec::BuildFrame(IDNo, codec::kIfbCommand, data);
}

std::vector<std::uint8_t> TTComXDlg::SendRequest(const std::vector<std::uint8_t>& data, bool traceTx)
{
    std::vector<std::uint8_t> frame = BuildRequest(data);
    if (frame.empty())
        return frame;
    if (traceTx)
        TraceLine(QString::fromLatin1(codec::TraceHex(frame.data(), frame.size())));
    SendFrame(frame.data(), static_cast<int>(frame.size()));
    return frame;
}

void TTComXDlg::RequestRomVersion()
{
    SendRequest({+codec::Request::RomVersion}, true);
}

void TTComXDlg::RequestModelName()
{
    TraceLine(QStringLiteral("機種名（ModelName）の取得"));
    SendRequest({+codec::Request::ModelName}, true);
}

const SerialLine& TTComXDlg::Line() const
{
    static const SerialLine none;
    const SerialLine* line = d->link->Line();
    return line ? *line : none;
}

int TTComXDlg::BaudRate() const
{
    return Line().baudRate;
}

bool TTComXDlg::SerialOpen() const
{
    return Kind() == LinkKind::Serial && d->link->IsUp();
}

int TTComXDlg::ActiveConnections() const
{
    return d->link->ActiveConnections();
}

} // namespace nx7
