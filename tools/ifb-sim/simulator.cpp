#include "simulator.h"

#include "board_text.h"

#include "comm/frame_codec.h"

#include <QDateTime>

#include <cstdio>
#include <deque>

namespace ifbsim
{

namespace
{

QByteArray Hex(const QByteArray& bytes)
{
    const std::string text =
        nx7::codec::HexBytes(reinterpret_cast<const std::uint8_t*>(bytes.constData()), bytes.size());
    return QByteArray::fromStdString(text).trimmed();
}

QByteArray Frame(std::uint8_t id, std::uint8_t code, std::span<const std::uint8_t> data)
{
    const std::vector<std::uint8_t> f = nx7::codec::BuildFrame(id, code, data);
    return QByteArray(reinterpret_cast<const char*>(f.data()), static_cast<qsizetype>(f.size()));
}

// Noise that never holds an STX, so it cannot start a frame of its own.
QByteArray Noise(int count)
{
    static const char pattern[] = "\x55\xAA\x00\xFF\x0D\x03\x7E\x45";
    QByteArray out;
    for (int i = 0; i < count; ++i)
        out.append(pattern[i % 8]);
    return out;
}

} // namespace

// One channel's receive path and its ordered, paced output.
class Simulator::Port : public QObject, private nx7::codec::FrameAssembler::Sink
{
public:
    Port(Simulator* sim, Channel* channel)
        : QObject(sim)
        , m_sim(sim)
        , m_channel(channel)
        , m_assembler(std::make_unique<nx7::codec::FrameAssembler>())
    {
        // A partial request is forgotten after about a second without new bytes.
        m_idle.setInterval(10);
        connect(&m_idle, &QTimer::timeout, this, [this] {
            m_assembler->Assemble(*this, false);
            if (!m_assembler->InFrame)
                m_idle.stop();
        });
        m_gap.setSingleShot(true);
        connect(&m_gap, &QTimer::timeout, this, [this] { Pump(true); });
    }

    Channel* channel() const { return m_channel; }

    void Feed(const QByteArray& bytes)
    {
        // Pieces well inside the ring, so a burst never overwrites what is not yet assembled.
        for (qsizetype at = 0; at < bytes.size(); at += 4096) {
            const QByteArray piece = bytes.mid(at, 4096);
            m_assembler->AppendReceived(reinterpret_cast<const std::uint8_t*>(piece.constData()),
                                        static_cast<std::size_t>(piece.size()));
            m_assembler->Assemble(*this, false);
        }
        if (m_assembler->InFrame && !m_idle.isActive())
            m_idle.start();
    }

    // Queues bytes to go out `gapMs` after the previous item; `after` runs once they are written.
    void Enqueue(const QByteArray& bytes, int gapMs, std::function<void()> after = {})
    {
        m_out.push_back({bytes, gapMs, std::move(after)});
        if (!m_gap.isActive())
            Pump(false);
    }

private:
    struct Item {
        QByteArray bytes;
        int gapMs;
        std::function<void()> after;
    };

    void Pump(bool gapDone)
    {
        while (!m_out.empty()) {
            Item& item = m_out.front();
            if (item.gapMs > 0 && !gapDone) {
                m_gap.start(item.gapMs);
                return;
            }
            gapDone = false;
            if (m_channel)
                m_channel->Write(item.bytes);
            auto after = std::move(item.after);
            m_out.pop_front();
            if (after)
                after();
        }
    }

    void OnValidFrame(const std::uint8_t* frame, int length) override
    {
        m_sim->OnFrame(this, QByteArray(reinterpret_cast<const char*>(frame), length), true);
    }
    void OnChecksumError(const std::uint8_t* frame, int length) override
    {
        m_sim->OnFrame(this, QByteArray(reinterpret_cast<const char*>(frame), length), false);
    }
    void OnRxTrace(const std::string&) override {}

    Simulator* m_sim;
    QPointer<Channel> m_channel;
    std::unique_ptr<nx7::codec::FrameAssembler> m_assembler;
    QTimer m_idle;
    QTimer m_gap;
    std::deque<Item> m_out;
};

Simulator::Simulator(const BoardConfig& board, Scenario scenario, OtaResultTrigger* trigger, QObject* parent)
    : QObject(parent)
    , m_board(board)
    , m_scenario(std::move(scenario))
    , m_trigger(trigger)
{
    m_clock.start();
    m_trigger->setParent(this);
    connect(m_trigger, &OtaResultTrigger::Result, this, &Simulator::OnOtaResult);
    connect(m_trigger, &OtaResultTrigger::Log, this, &Simulator::Log);
}

Simulator::~Simulator() = default;

bool Simulator::OpenRecord(const QString& path, QString* error)
{
    m_record.setFileName(path);
    if (!m_record.open(QIODevice::WriteOnly | QIODevice::Append)) {
        *error = m_record.errorString();
        return false;
    }
    return true;
}

void Simulator::Log(const QString& text) const
{
    if (!m_verbose)
        return;
    std::fprintf(stderr, "ifb-sim %6lld ms: %s\n", static_cast<long long>(m_clock.elapsed()),
                 text.toLocal8Bit().constData());
    std::fflush(stderr);
}

void Simulator::Record(const QByteArray& frame)
{
    if (!m_record.isOpen())
        return;
    m_record.write(Hex(frame) + '\n');
    m_record.flush();
}

void Simulator::ReadControl()
{
    if (m_controlPath.isEmpty())
        return;
    QFile f(m_controlPath);
    if (!f.open(QIODevice::ReadOnly) || f.size() <= m_controlRead || !f.seek(m_controlRead))
        return;
    const QByteArray more = f.readAll();
    // A line still being written waits for its newline.
    const qsizetype end = more.lastIndexOf('\n');
    if (end < 0)
        return;
    m_controlRead += end + 1;
    for (const QByteArray& line : more.left(end).split('\n')) {
        Scenario added;
        const auto error = added.AddLine(line.trimmed().toStdString());
        const bool onlyFaults =
            added.sends.empty() && !added.usbOnly && added.dropAfter < 0 && !added.ota.Any();
        if (error || !onlyFaults) {
            std::fprintf(stderr, "ifb-sim: --control: %s\n",
                         error ? error->c_str() : "only answer faults can be added while running");
            std::fflush(stderr);
            continue;
        }
        for (const Fault& fault : added.faults) {
            m_scenario.faults.push_back(fault);
            Log(QStringLiteral("control: %1").arg(QString::fromUtf8(line.trimmed())));
        }
    }
}

void Simulator::AddChannel(Channel* channel)
{
    auto port = std::make_unique<Port>(this, channel);
    Port* p = port.get();
    m_ports[channel] = std::move(port);
    connect(channel, &Channel::Received, p, [p](const QByteArray& bytes) { p->Feed(bytes); });
    connect(channel, &Channel::Down, this, [this, channel] {
        Log(QStringLiteral("link down: %1").arg(channel->Describe()));
        // Deferred: the end of a connection can be reported from inside this port's own output.
        auto it = m_ports.find(channel);
        if (it != m_ports.end()) {
            it->second.release()->deleteLater();
            m_ports.erase(it);
        }
    });
    Log(QStringLiteral("link up: %1").arg(channel->Describe()));
    LinkUpOnce();
}

void Simulator::AttachPty(PtyChannel* pty)
{
    m_pty = pty;
    AddChannel(pty);
}

void Simulator::AttachServer(TcpServerLink* server)
{
    m_server = server;
    connect(server, &TcpServerLink::NewChannel, this, &Simulator::AddChannel);
}

void Simulator::AttachClient(TcpClientLink* client)
{
    m_client = client;
    connect(client, &TcpClientLink::NewChannel, this, &Simulator::AddChannel);
}

void Simulator::LinkUpOnce()
{
    // Scripted notifications count their delay from the moment the tool can first hear the board.
    if (m_wasUp)
        return;
    m_wasUp = true;
    for (const Notification& n : m_scenario.sends) {
        const QByteArray data(reinterpret_cast<const char*>(n.data.data()),
                              static_cast<qsizetype>(n.data.size()));
        const std::uint8_t code = n.code;
        QTimer::singleShot(n.afterMs, this, [this, code, data] { SendNotification(code, data); });
    }
}

void Simulator::SendNotification(std::uint8_t code, const QByteArray& data)
{
    const QByteArray frame =
        Frame(0, code, std::span(reinterpret_cast<const std::uint8_t*>(data.constData()), data.size()));
    Log(QStringLiteral("notify %1").arg(QString::fromLatin1(Hex(frame))));
    if (m_linkDown)
        return;
    for (auto& [channel, port] : m_ports) {
        if (channel->IsUp())
            port->Enqueue(frame, 0);
    }
}

void Simulator::OnOtaResult(const QByteArray& text, const QString& romVersion)
{
    m_board.NoteUpdateResult(text == "OK",
                             romVersion.isEmpty() ? std::nullopt : std::optional(BoardText(romVersion)));
    SendNotification(+ReplyCode::TextNote, text);
}

void Simulator::OnFrame(Port* port, const QByteArray& frame, bool checksumOk)
{
    const int number = ++m_requests;
    ReadControl();
    Record(frame);
    Log(QStringLiteral("request %1%2: %3")
            .arg(number)
            .arg(checksumOk ? QString() : QStringLiteral(" (bad checksum)"))
            .arg(QString::fromLatin1(Hex(frame))));

    const auto* bytes = reinterpret_cast<const std::uint8_t*>(frame.constData());
    const std::span<const std::uint8_t> data(bytes + 4, bytes[3]);
    const std::int64_t now = m_clock.elapsed();
    Answer answer; // silent unless decided otherwise

    if (m_linkDown) {
        Log(QStringLiteral("  link is down: no answer"));
    } else if (m_board.Restarting(now)) {
        Log(QStringLiteral("  restarting: no answer"));
    } else if (!checksumOk) {
        answer = Board::ChecksumError();
    } else if (m_scenario.usbOnly && !m_board.InUsbMode() &&
               !(data.size() == 3 && data[0] == +Request::SetMode && (data[1] & 0x7) == 0)) {
        Log(QStringLiteral("  not in USB mode: no answer"));
    } else {
        bool decided = false;
        for (Fault& f : m_scenario.faults) {
            if (f.kind == Fault::Kind::Silent && f.Take(data)) {
                Log(QStringLiteral("  fault: no answer"));
                decided = true;
                break;
            }
            if (f.kind == Fault::Kind::Short && f.Take(data)) {
                // An acknowledgement cut short: the request's first byte and nothing after it.
                answer.reply = true;
                answer.code = kAck;
                answer.data = {data.empty() ? std::uint8_t{0} : data[0]};
                decided = true;
                break;
            }
            if (f.kind == Fault::Kind::Nack && f.Take(data)) {
                answer.reply = true;
                answer.code = kNack;
                answer.data = {f.nackCode, f.nackDetail};
                decided = true;
                break;
            }
        }
        if (!decided) {
            const bool wasOta = m_board.InOta();
            answer = m_board.Handle(bytes[2], data, now);
            if (answer.restarting && wasOta)
                m_trigger->OtaModeLeft();
            if (answer.nextBoard) {
                m_trigger->SetVerdict(QByteArray::fromStdString(answer.nextBoard->verdict));
                Log(QStringLiteral("next board: target id %1, verdict %2")
                        .arg(answer.nextBoard->targetId, 4, 16, QLatin1Char('0'))
                        .arg(answer.nextBoard->verdict.empty()
                                 ? QStringLiteral("none")
                                 : QString::fromStdString(answer.nextBoard->verdict)));
            }
            if (answer.enteredOta)
                m_trigger->OtaModeEntered();
            if (answer.stationJoined)
                m_trigger->StationJoined();
        }
    }
    Respond(port, frame, answer, number);
}

void Simulator::Respond(Port* port, const QByteArray& request, const Answer& answer, int requestNumber)
{
    const bool drop = requestNumber == m_scenario.dropAfter;
    if (!answer.reply) {
        if (drop)
            DropLink();
        return;
    }
    const auto* req = reinterpret_cast<const std::uint8_t*>(request.constData());
    const std::span<const std::uint8_t> data(req + 4, req[3]);
    QByteArray frame = Frame(req[1], answer.code, answer.data);

    int delayMs = 0;
    int gapMs = 0;
    QByteArray noise;
    QByteArray note;
    for (Fault& f : m_scenario.faults) {
        switch (f.kind) {
        case Fault::Kind::Late:
            if (f.Take(data))
                delayMs = f.ms;
            break;
        case Fault::Kind::BadChecksum:
            if (f.Take(data))
                frame[frame.size() - 2] = static_cast<char>(frame[frame.size() - 2] ^ 0x5A);
            break;
        case Fault::Kind::MisplacedCr:
            // The CR comes one byte late: the tool takes the stray byte and drops the frame.
            if (f.Take(data))
                frame.insert(frame.size() - 1, '\x0A');
            break;
        case Fault::Kind::Noise:
            if (f.Take(data))
                noise += Noise(f.count);
            break;
        case Fault::Kind::Split:
            if (f.Take(data))
                gapMs = qMax(1, f.ms);
            break;
        case Fault::Kind::WithNote:
            if (f.Take(data))
                note += Frame(0, f.noteCode, f.noteData);
            break;
        default:
            break;
        }
    }
    Log(QStringLiteral("  answer%1%2: %3%4")
            .arg(delayMs ? QStringLiteral(" after %1 ms").arg(delayMs) : QString())
            .arg(gapMs ? QStringLiteral(" byte by byte") : QString())
            .arg(QString::fromLatin1(Hex(frame)))
            .arg(note.isEmpty() ? QString() : QStringLiteral(" + ") + QString::fromLatin1(Hex(note))));
    frame += note;

    QPointer<Port> target(port);
    const bool reboot = answer.restarting;
    auto deliver = [this, target, frame, noise, gapMs, drop, reboot] {
        std::function<void()> after;
        if (drop)
            after = [this] { DropLink(); };
        else if (reboot)
            after = [this] { RebootLinks(); };
        if (!target || m_linkDown || !target->channel() || !target->channel()->IsUp()) {
            if (after)
                after();
            return;
        }
        if (!noise.isEmpty())
            target->Enqueue(noise, 0);
        if (gapMs == 0) {
            target->Enqueue(frame, 0, std::move(after));
            return;
        }
        for (qsizetype i = 0; i < frame.size(); ++i)
            target->Enqueue(frame.mid(i, 1), i == 0 ? 0 : gapMs, i + 1 == frame.size() ? after : nullptr);
    };
    if (delayMs > 0)
        QTimer::singleShot(delayMs, this, deliver);
    else
        deliver();
}

void Simulator::RebootLinks()
{
    // A rebooting board closes its TCP connections and takes no new ones until it is up again.
    if (m_linkDown || (!m_server && !m_client))
        return;
    Log(QStringLiteral("restart: TCP connections closed for %1 ms").arg(m_board.RestartMs()));
    if (m_server)
        m_server->Stop();
    if (m_client)
        m_client->Stop();
    QTimer::singleShot(m_board.RestartMs(), this, [this] {
        if (m_linkDown)
            return;
        if (m_server && !m_server->Resume())
            Log(QStringLiteral("cannot listen again"));
        if (m_client)
            m_client->Start();
    });
}

void Simulator::DropLink()
{
    if (m_linkDown)
        return;
    m_linkDown = true;
    Log(QStringLiteral("dropping the link"));
    if (m_pty)
        m_pty->SetMuted(true);
    if (m_server)
        m_server->Stop();
    if (m_client)
        m_client->Stop();
    if (m_scenario.dropForMs >= 0)
        QTimer::singleShot(m_scenario.dropForMs, this, &Simulator::RestoreLink);
}

void Simulator::RestoreLink()
{
    m_linkDown = false;
    Log(QStringLiteral("link restored"));
    if (m_pty)
        m_pty->SetMuted(false);
    if (m_server && !m_server->Resume())
        Log(QStringLiteral("cannot listen again"));
    if (m_client)
        m_client->Start();
}

} // namespace ifbsim
