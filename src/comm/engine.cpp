#include "comm/engine.h"

#include "comm/reply_decoder.h"
#include "platform/code_page.h"
#include "platform/com_names.h"
#include "platform/event_wait.h"
#include "platform/helpers.h"
#include "platform/ini_file.h"
#include "platform/log_pane.h"
#include "platform/tick_clock.h"
#include "platform/ui_seam.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QList>
#include <QSerialPort>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

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
constexpr int kServerReadChunk = 256;
constexpr int kClientReadChunk = 1024;
// A refused connection fails at once; retrying without a pause would spin a core.
constexpr int kReconnectDelayMs = 200;
// Longest real-time block of one waiting pass; any event ends it sooner.
constexpr int kMaxWaitSliceMs = 50;

const QString kComDebug = QStringLiteral("ComDebug");

bool IsAllowedBaudRate(int rate)
{
    static const int rates[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                19200, 38400, 56000, 57600, 115200, 128000, 256000};
    for (int r : rates) {
        if (r == rate)
            return true;
    }
    return false;
}

QSerialPort::Parity ParityOfCode(int code)
{
    switch (code) {
    case 1:
        return QSerialPort::OddParity;
    case 2:
        return QSerialPort::EvenParity;
    case 3:
        return QSerialPort::MarkParity;
    case 4:
        return QSerialPort::SpaceParity;
    default:
        return QSerialPort::NoParity;
    }
}

int CodeOfParity(QSerialPort::Parity parity)
{
    switch (parity) {
    case QSerialPort::OddParity:
        return 1;
    case QSerialPort::EvenParity:
        return 2;
    case QSerialPort::MarkParity:
        return 3;
    case QSerialPort::SpaceParity:
        return 4;
    default:
        return 0;
    }
}

QSerialPort::StopBits StopBitsOfCode(int code)
{
    switch (code) {
    case 1:
        return QSerialPort::OneAndHalfStop;
    case 2:
        return QSerialPort::TwoStop;
    default:
        return QSerialPort::OneStop;
    }
}

int CodeOfStopBits(QSerialPort::StopBits bits)
{
    switch (bits) {
    case QSerialPort::OneAndHalfStop:
        return 1;
    case QSerialPort::TwoStop:
        return 2;
    default:
        return 0;
    }
}

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

QString ComErrorText(unsigned flags)
{
    static const struct {
        unsigned flag;
        const char* name;
    } names[] = {{ComFrame, "Frame"}, {ComParity, "Parity"}, {ComOverrun, "Overrun"}, {ComBreak, "Break"},
                 {ComIo, "IO"},       {ComMode, "Mode"},     {ComRxOver, "RxOver"},   {ComTxFull, "TxFull"}};
    QStringList set;
    for (const auto& n : names) {
        if (flags & n.flag)
            set.append(QString::fromLatin1(n.name));
    }
    if (set.isEmpty())
        return QStringLiteral("<Ok>");
    return QStringLiteral("<ComError:") + set.join(QLatin1Char(',')) + QStringLiteral(">");
}

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
        const int kind = codec::ReplyKindForCode(code);
        if (kind >= 0)
            q.ReplyKind = kind;
        if (codec::CopiesToLastReply(code)) {
            std::memcpy(q.LastReply.data(), frame, static_cast<std::size_t>(length));
            q.LastReplyLength = length;
        }
        q.DecodeReply(frame, length);
    }

    void OnChecksumError(const std::uint8_t* frame, int length) override
    {
        q.TraceLine(QStringLiteral("SUM EEROR"));
        if (!Ui)
            return;
        MessageRequest box;
        box.text = QStringLiteral("SUM EEROR: ") +
                   QString::fromLatin1(codec::HexBytes(frame, static_cast<std::size_t>(length - 1)));
        box.caption = QStringLiteral("確認");
        box.icon = MsgIcon::Question;
        box.buttons = MsgButtons::Yes;
        Ui->Message(box);
    }

    void OnRxTrace(const std::string& line) override { q.TraceLine(QString::fromLatin1(line)); }

    void ResetReceive() { q.m_assembler.ResetReceive(); }

    // Runs a QSerialPort call whose failure on this device is expected and harmless (DTR/RTS on
    // a pseudo-terminal): its error is neither traced nor kept.
    template <typename F> void Quietly(F&& call)
    {
        SuppressSerialErrors = true;
        call();
        CommX1->clearError();
        SuppressSerialErrors = false;
    }

    void CommX1RxChar()
    {
        const qint64 count = CommX1->bytesAvailable();
        if (count <= 0)
            return;
        const QByteArray bytes = CommX1->read(count);
        q.AppendReceived(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                         static_cast<int>(bytes.size()));
    }

    void CommX1Error(QSerialPort::SerialPortError error)
    {
        if (SuppressSerialErrors || LossPending)
            return;
        switch (error) {
        case QSerialPort::WriteError:
            q.TraceLine(ComErrorText(ComIo));
            return;
        case QSerialPort::ReadError:
        case QSerialPort::ResourceError:
            break;
        default:
            return; // open failures are reported by the open; time-outs belong to the waits
        }
        q.TraceLine(ComErrorText(ComIo));
        // A tty that fails to read is gone (unplugged, hung up) and would report the same error on
        // every pass of the event loop: close it, so the link reads as down and can be reopened.
        LossPending = true;
        QMetaObject::invokeMethod(
            &q,
            [this] {
                LossPending = false;
                if (CommX1->isOpen())
                    Quietly([this] { CommX1->close(); });
                q.Connected = false;
            },
            Qt::QueuedConnection);
    }

    void OpenSerial()
    {
        const QString device = DeviceOfComName(q.m_portName, SettingsPath);
        bool ok = false;
        if (!device.isEmpty()) {
            CommX1->setPortName(device);
            SuppressSerialErrors = true;
            ok = CommX1->open(QIODevice::ReadWrite);
            CommX1->clearError();
            SuppressSerialErrors = false;
        }
        if (ok) {
            // Both lines are held off; with hardware flow control the driver owns RTS.
            Quietly([this] { CommX1->setDataTerminalReady(false); });
            if (CommX1->flowControl() != QSerialPort::HardwareControl)
                Quietly([this] { CommX1->setRequestToSend(false); });
            q.Connected = true;
            return;
        }
        q.Connected = false;
        if (Ui) {
            MessageRequest box;
            box.text = q.m_portName + QStringLiteral("がオープン出来ません!!\n\n") +
                       QStringLiteral("  ポート及びパラメータ設定を再確認してください。");
            box.icon = MsgIcon::Error;
            box.buttons = MsgButtons::Ok;
            Ui->Message(box);
        }
    }

    void ReadFromClient(QTcpSocket* socket)
    {
        const QByteArray bytes = socket->read(kClientReadChunk);
        if (!bytes.isEmpty())
            q.AppendReceived(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                             static_cast<int>(bytes.size()));
        // Qt signals new data only once; the rest is taken by a further read event.
        if (socket->bytesAvailable() > 0)
            QTimer::singleShot(0, socket, [this, socket] { ReadFromClient(socket); });
    }

    void ServerSocket1ClientRead(QTcpSocket* socket)
    {
        q.TraceLine(QStringLiteral("ServerSocket1ClientRead"));
        const QByteArray bytes = socket->read(kServerReadChunk);
        if (!bytes.isEmpty())
            q.AppendReceived(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                             static_cast<int>(bytes.size()));
        if (socket->bytesAvailable() > 0)
            QTimer::singleShot(0, socket, [this, socket] { ServerSocket1ClientRead(socket); });
    }

    void ServerSocket1Accept()
    {
        while (ServerSocket1->hasPendingConnections()) {
            QTcpSocket* socket = ServerSocket1->nextPendingConnection();
            if (!socket)
                break;
            Clients.append(socket);
            QObject::connect(socket, &QTcpSocket::readyRead, &q,
                             [this, socket] { ServerSocket1ClientRead(socket); });
            QObject::connect(socket, &QTcpSocket::disconnected, &q,
                             [this, socket] { ServerSocket1ClientDisconnect(socket); });
            q.TraceLine(QStringLiteral("ServerSocket1ClientConnect"));
            q.TraceLine(QStringLiteral("ActiveConnections: ") + QString::number(Clients.size()));
            q.Connected = true;
        }
    }

    void ServerSocket1ClientDisconnect(QTcpSocket* socket)
    {
        if (!Clients.removeOne(socket))
            return;
        QObject::disconnect(socket, nullptr, &q, nullptr);
        socket->deleteLater();
        q.TraceLine(QStringLiteral("ServerSocket1ClientDisconnect"));
        q.Connected = false;
    }

    void CloseServer()
    {
        ServerSocket1->close();
        const QList<QTcpSocket*> clients = Clients;
        for (QTcpSocket* socket : clients)
            socket->abort(); // emits disconnected, which removes it from the list
        for (QTcpSocket* socket : clients)
            ServerSocket1ClientDisconnect(socket); // a socket that did not report it
    }

    void StartServer()
    {
        const auto port = static_cast<quint16>(q.ListenPort);
        if (ServerSocket1->isListening() && ServerSocket1->serverPort() == port)
            return;
        ServerSocket1->close();
        const QHostAddress address =
            g_listenAddress.isEmpty() ? QHostAddress(QHostAddress::Any) : QHostAddress(g_listenAddress);
        if (ServerSocket1->listen(address, port))
            q.TraceLine(QStringLiteral("ServerSocket1Listen"));
    }

    void ConnectClient()
    {
        ReconnectTimer.stop();
        if (ClientSocket1->state() != QAbstractSocket::UnconnectedState)
            ClientSocket1->abort();
        const auto port = static_cast<quint16>(q.RemotePort);
        const QString text = q.RemoteAddress.trimmed();
        bool numeric = false;
        const qulonglong value = text.toULongLong(&numeric, 10);
        if (numeric && value <= 0xFFFFFFFFull)
            ClientSocket1->connectToHost(QHostAddress(static_cast<quint32>(value)), port);
        else
            ClientSocket1->connectToHost(text, port);
    }

    void ClientSocket1Error(QAbstractSocket::SocketError error)
    {
        // A peer's orderly close is a disconnect, not an error.
        if (error == QAbstractSocket::RemoteHostClosedError)
            return;
        ClientSocket1->abort();
        ReconnectTimer.start(kReconnectDelayMs);
        q.TraceLine(QStringLiteral("ClientSocket1Error"));
    }

    void StartTcp()
    {
        if (q.IsServer != 0)
            StartServer();
        else
            ConnectClient();
    }

    TTComXDlg& q;
    LogPane* Log;
    UserInteraction* Ui;
    QString SettingsPath;
    QSerialPort* CommX1 = nullptr;
    QTcpServer* ServerSocket1 = nullptr;
    QTcpSocket* ClientSocket1 = nullptr;
    QList<QTcpSocket*> Clients; // accepted and still connected, oldest first
    QTimer ReconnectTimer;
    bool SuppressSerialErrors = false;
    bool LossPending = false;
};

void TTComXDlg::SetListenAddress(const QString& address)
{
    g_listenAddress = address;
}

TTComXDlg::TTComXDlg(int listenPort, int isServer, int remotePort, const QString& remoteAddress, int linkMode,
                     int portNumber, int speedCode, int parityCode, LogPane* logPane, UserInteraction* ui,
                     const QString& settingsPath, QObject* parent)
    : QObject(parent)
    , d(std::make_unique<Impl>(*this, logPane, ui, settingsPath))
{
    d->CommX1 = new QSerialPort(this);
    d->CommX1->setPortName(QStringLiteral("COM1"));
    d->CommX1->setBaudRate(19200);
    d->CommX1->setDataBits(QSerialPort::Data8);
    d->CommX1->setParity(QSerialPort::NoParity);
    d->CommX1->setStopBits(QSerialPort::OneStop);
    d->CommX1->setFlowControl(QSerialPort::NoFlowControl);
    d->ServerSocket1 = new QTcpServer(this);
    d->ClientSocket1 = new QTcpSocket(this);
    d->ReconnectTimer.setSingleShot(true);

    connect(d->CommX1, &QSerialPort::readyRead, this, [this] { d->CommX1RxChar(); });
    connect(d->CommX1, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError e) { d->CommX1Error(e); });
    connect(d->ServerSocket1, &QTcpServer::newConnection, this, [this] { d->ServerSocket1Accept(); });
    connect(d->ClientSocket1, &QTcpSocket::readyRead, this, [this] { d->ReadFromClient(d->ClientSocket1); });
    connect(d->ClientSocket1, &QTcpSocket::connected, this, [this] {
        d->ResetReceive();
        TraceLine(QStringLiteral("ClientSocket1Connect00"));
        Connected = true;
    });
    connect(d->ClientSocket1, &QTcpSocket::disconnected, this, [this] {
        d->ResetReceive();
        TraceLine(QStringLiteral("ClientSocket1Disconnect00"));
        Connected = false;
    });
    connect(d->ClientSocket1, &QTcpSocket::errorOccurred, this,
            [this](QAbstractSocket::SocketError e) { d->ClientSocket1Error(e); });
    connect(&d->ReconnectTimer, &QTimer::timeout, this, [this] { d->ConnectClient(); });

    LinkMode = linkMode;
    ReplyKind = 0;
    TxTrace = false;
    RxTrace = false;
    LoadComDebug();
    if (LinkMode == 0) {
        m_portName = PortNameOfNumber(portNumber);
        int speed = 19200;
        switch (speedCode) {
        case 1:
            speed = 9600;
            break;
        case 2:
            speed = 38400;
            break;
        case 3:
            speed = 57600;
            break;
        case 4:
            speed = 115200;
            break;
        default:
            break;
        }
        d->CommX1->setBaudRate(speed);
        d->CommX1->setParity(parityCode == 0   ? QSerialPort::NoParity
                             : parityCode == 1 ? QSerialPort::OddParity
                                               : QSerialPort::EvenParity);
    }
    IsServer = isServer;
    ListenPort = listenPort;
    RemotePort = remotePort;
    RemoteAddress = remoteAddress;
    Connected = false;

    if (LinkMode == 2)
        d->StartTcp();
    else if (LinkMode == 0)
        OpenLink();
}

TTComXDlg::~TTComXDlg()
{
    // Tear the components down while the engine is whole: their last signals must not reach it.
    d->ReconnectTimer.stop();
    QList<QObject*> parts{d->CommX1, d->ServerSocket1, d->ClientSocket1};
    for (QTcpSocket* socket : std::as_const(d->Clients))
        parts.append(socket);
    for (QObject* part : parts)
        QObject::disconnect(part, nullptr, this, nullptr);
    for (QTcpSocket* socket : std::as_const(d->Clients))
        delete socket;
    d->Clients.clear();
    delete d->ClientSocket1;
    delete d->ServerSocket1;
    delete d->CommX1;
}

void TTComXDlg::OpenLink()
{
    // Take the link down.
    if (LinkMode == 2) {
        if (Connected) {
            if (IsServer != 0)
                d->CloseServer();
            else
                d->ClientSocket1->abort();
            WaitConnected(false);
        }
    } else if (LinkMode == 0) {
        if (d->CommX1->isOpen())
            d->Quietly([this] { d->CommX1->close(); });
        Connected = false;
    }
    d->ResetReceive();

    if (LinkMode == 2) {
        d->StartTcp();
        WaitConnected(true);
        return;
    }
    if (LinkMode != 0)
        return;
    d->OpenSerial();
}

void TTComXDlg::ReopenLink(int portNumber)
{
    // The name only matters to the next open, so it may change before the old port is closed.
    if (LinkMode == 0)
        m_portName = PortNameOfNumber(portNumber & 0xFF);
    OpenLink();
}

bool TTComXDlg::IsConnected() const
{
    if (LinkMode == 2)
        return Connected;
    return d->CommX1->isOpen();
}

int TTComXDlg::SendFrame(const std::uint8_t* bytes, int count)
{
    ReplyKind = 0;
    m_assembler.DropPartialFrame();
    if (!bytes || count <= 0)
        return 0;

    if (LinkMode == 2) {
        if (!Connected)
            return 0;
        QTcpSocket* socket = nullptr;
        if (IsServer != 0) {
            if (d->Clients.isEmpty())
                return 0;
            socket = d->Clients.last();
        } else {
            socket = d->ClientSocket1;
        }
        const qint64 n = socket->write(reinterpret_cast<const char*>(bytes), count);
        if (n <= 0)
            return 0;
        socket->flush();
        return static_cast<int>(n);
    }
    if (LinkMode != 0 || !d->CommX1->isOpen())
        return 0;

    QSerialPort& port = *d->CommX1;
    if (port.write(reinterpret_cast<const char*>(bytes), count) < 0)
        return 0;
    // The write blocks until the bytes are out or the line's write time-out has passed.
    QDeadlineTimer deadline(100LL * count + 1000);
    while (port.isOpen() && port.bytesToWrite() > 0 && !deadline.hasExpired()) {
        if (!port.waitForBytesWritten(static_cast<int>(deadline.remainingTime())))
            break;
    }
    if (!port.isOpen())
        return 0;
    const qint64 left = port.bytesToWrite();
    if (left > 0)
        port.clear(QSerialPort::Output); // what the time-out cut off is not sent later
    return count - static_cast<int>(left);
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

void TTComXDlg::LoadComDebug()
{
    IniFile ini;
    ini.Load(d->SettingsPath); // a missing or unreadable file gives the defaults
    if (LinkMode == 0) {
        QSerialPort& port = *d->CommX1;
        m_portName = PortNameOfNumber(ini.ReadInteger(kComDebug, QStringLiteral("Port"), 1) & 0xFF);
        const int rate = ini.ReadInteger(kComDebug, QStringLiteral("BaudRate"), 19200);
        port.setBaudRate(IsAllowedBaudRate(rate) ? rate : 9600);
        port.setParity(ParityOfCode(ini.ReadInteger(kComDebug, QStringLiteral("ParityBits"), 0)));
        const int size = ini.ReadInteger(kComDebug, QStringLiteral("ByteSize"), 8);
        port.setDataBits(size >= 5 && size <= 8 ? static_cast<QSerialPort::DataBits>(size)
                                                : QSerialPort::Data8);
        port.setStopBits(StopBitsOfCode(ini.ReadInteger(kComDebug, QStringLiteral("StopBits"), 0)));
        const int flow = ini.ReadInteger(kComDebug, QStringLiteral("FlowCont"), 0);
        port.setFlowControl(QSerialPort::NoFlowControl);
        if (flow == 1)
            port.setFlowControl(QSerialPort::HardwareControl);
        else if (flow == 2)
            port.setFlowControl(QSerialPort::SoftwareControl);
    }
    IDNo = static_cast<std::uint8_t>(ini.ReadInteger(kComDebug, QStringLiteral("IDNo"), 0) & 0xFF);
    DispCont1 = ini.ReadInteger(kComDebug, QStringLiteral("fDispCont1"), 1);
    MaxRecNo = ini.ReadInteger(kComDebug, QStringLiteral("MAX_REC_NO"), 200);
}

void TTComXDlg::SaveComDebug()
{
    const QString& path = d->SettingsPath;
    if (path.isEmpty())
        return;
    if (QFileInfo::exists(path)) {
        // Read-only: the owner's write bit is clear (so it holds for root too).
        if (!(QFile::permissions(path) & QFileDevice::WriteOwner))
            return;
    } else {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
            return;
        file.close();
    }
    IniFile ini;
    if (!ini.Load(path))
        return;
    if (LinkMode == 0) {
        const QSerialPort& port = *d->CommX1;
        if (const auto number = PortNumberOfName(m_portName))
            ini.WriteInteger(kComDebug, QStringLiteral("Port"), *number);
        ini.WriteInteger(kComDebug, QStringLiteral("BaudRate"), port.baudRate());
        ini.WriteInteger(kComDebug, QStringLiteral("ParityBits"), CodeOfParity(port.parity()));
        ini.WriteInteger(kComDebug, QStringLiteral("ByteSize"), static_cast<int>(port.dataBits()));
        ini.WriteInteger(kComDebug, QStringLiteral("StopBits"), CodeOfStopBits(port.stopBits()));
        const int flow = port.flowControl() == QSerialPort::HardwareControl   ? 1
                         : port.flowControl() == QSerialPort::SoftwareControl ? 2
                                                                              : 0;
        ini.WriteInteger(kComDebug, QStringLiteral("FlowCont"), flow);
    }
    ini.WriteInteger(kComDebug, QStringLiteral("IDNo"), IDNo);
    ini.WriteInteger(kComDebug, QStringLiteral("fDispCont1"), DispCont1);
    ini.WriteInteger(kComDebug, QStringLiteral("MAX_REC_NO"), MaxRecNo);
    ini.Save(path); // a failure leaves the file as it was
}

void TTComXDlg::TraceLine(const QString& text, bool force)
{
    if ((TxTrace || force) && d->Log)
        AppendLogLine(*d->Log, text);
}

void TTComXDlg::ResetPulse()
{
    if (!d->CommX1->isOpen())
        return;
    QSerialPort& port = *d->CommX1;
    d->Quietly([&port] { port.setRequestToSend(true); });
    d->Quietly([&port] { port.setDataTerminalReady(true); });
    d->Quietly([&port] { port.setDataTerminalReady(false); });
    PumpSleep(100);
    if (port.isOpen())
        d->Quietly([&port] { port.setDataTerminalReady(true); });
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
        if (ReplyKind == kind) {
            if (LastReply[2] == 0x30)
                return true;
            if (LastReply[2] == 0x31)
                TraceLine(QStringLiteral("NACK 受信"));
            return false;
        }
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
        if (ReplyKind != 0) {
            if (LastReply[2] == 0x30)
                return true;
            if (LastReply[2] == 0x31) {
                TraceLine(QStringLiteral("NACK 受信"));
                if (LastReply[4] == 0 && d->Ui) {
                    MessageRequest box;
                    box.text = QStringLiteral("NACK : 0x00");
                    box.buttons = MsgButtons::Ok;
                    d->Ui->Message(box);
                }
            }
            return false;
        }
        if (TickTimer(1, kAnyReplyWaitMs)) {
            TraceLine(QStringLiteral("レスポンス待ち　タイムオーバー"));
            return false;
        }
    }
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

void TTComXDlg::DecodeReply(const std::uint8_t* frame, int length)
{
    const bool wantText = TxTrace && d->Log;
    const codec::DecodeResult result = codec::DecodeReply(codec::FrameView{frame, length}, wantText);
    if (result.otaResult) {
        OtaResultArrived = true;
        OtaResultOk = *result.otaResult;
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
        TraceLine(QString::fromLatin1(codec::HexBytes(frame.data(), frame.size())));
    SendFrame(frame.data(), static_cast<int>(frame.size()));
    return frame;
}

void TTComXDlg::RequestRomVersion()
{
    SendRequest({0x90}, true);
}

void TTComXDlg::RequestModelName()
{
    TraceLine(QStringLiteral("機種名（ModelName）の取得"));
    SendRequest({0x93}, true);
}

int TTComXDlg::BaudRate() const
{
    return d->CommX1->baudRate();
}

bool TTComXDlg::SerialOpen() const
{
    return d->CommX1->isOpen();
}

int TTComXDlg::ActiveConnections() const
{
    return static_cast<int>(d->Clients.size());
}

} // namespace nx7
