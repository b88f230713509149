#include "comm/frame_codec.h"

#include "comm/protocol.h"

#include <cstring>

namespace nx7::codec
{

std::uint8_t FrameChecksum(const std::uint8_t* buffer)
{
    const int len = buffer[3];
    unsigned sum = 0;
    for (int i = 0; i < len + 5; ++i)
        sum += buffer[i];
    return static_cast<std::uint8_t>(sum & 0xFF);
}

std::vector<std::uint8_t> BuildFrame(std::uint8_t id, std::uint8_t code, std::span<const std::uint8_t> data)
{
    if (data.size() > 255)
        return {};
    std::vector<std::uint8_t> frame;
    frame.reserve(data.size() + kMinFrame);
    frame.push_back(kStx);
    frame.push_back(id);
    frame.push_back(code);
    frame.push_back(static_cast<std::uint8_t>(data.size()));
    frame.insert(frame.end(), data.begin(), data.end());
    frame.push_back(kEtx);
    frame.push_back(FrameChecksum(frame.data()));
    frame.push_back(kCr);
    return frame;
}

int ReplyKindForCode(std::uint8_t code)
{
    switch (static_cast<ReplyCode>(code)) {
    case ReplyCode::Ack:
        return +Kind::Ack;
    case ReplyCode::Nack:
        return +Kind::Nack;
    case ReplyCode::TextNote:
        return +Kind::TextNote;
    case ReplyCode::TagDataD:
        return +Kind::TagDataD;
    case ReplyCode::TagDataI:
        return +Kind::TagDataI;
    case ReplyCode::TagId:
        return +Kind::TagId;
    case ReplyCode::TagDataL:
        return +Kind::TagDataL;
    case ReplyCode::Extension:
        return +Kind::Extension;
    case ReplyCode::Display:
        return +Kind::Display;
    case ReplyCode::ProtocolNote:
        return +Kind::ProtocolNote;
    default:
        return -1;
    }
}

bool IsReplyCode(std::uint8_t code)
{
    return code == +ReplyCode::Ack || code == +ReplyCode::Nack;
}

bool CopiesToLastReply(std::uint8_t code)
{
    return IsReplyCode(code) || code == +ReplyCode::Extension;
}

std::string HexBytes(const std::uint8_t* bytes, std::size_t count)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(count * 3);
    for (std::size_t i = 0; i < count; ++i) {
        text.push_back(digits[bytes[i] >> 4]);
        text.push_back(digits[bytes[i] & 0x0F]);
        text.push_back(' ');
    }
    return text;
}

bool IsSecretFrameByte(const std::uint8_t* frame, int index)
{
    if (index < 6)
        return false;
    const bool itemRequest = frame[4] == +Request::ReadItem || frame[4] == +Request::WriteItem;
    const bool carrier = frame[2] == kIfbCommand || frame[2] == +ReplyCode::Ack;
    const int len = frame[3];
    if (!itemRequest || !carrier || frame[5] != +Item::Password || len <= 2)
        return false;
    return index < 4 + len || index == 5 + len;
}

std::string TraceHex(const std::uint8_t* frame, std::size_t count)
{
    std::string text = HexBytes(frame, count);
    if (count < 7)
        return text;
    for (std::size_t i = 6; i < count; ++i) {
        if (IsSecretFrameByte(frame, static_cast<int>(i)))
            text.replace(i * 3, 2, "**");
    }
    return text;
}

FrameAssembler::FrameAssembler()
{
    std::memset(RxRing, 0, sizeof RxRing);
    std::memset(FrameBuf, 0, sizeof FrameBuf);
}

void FrameAssembler::AppendReceived(const std::uint8_t* bytes, std::size_t count)
{
    if (count == 0)
        return;
    // A burst that fills the ring or runs past the unread bytes keeps the newest 16384 bytes.
    const bool fills = static_cast<std::size_t>(Unread()) + count >= static_cast<std::size_t>(kRingSize);
    while (count > 0) {
        // Copy in pieces of at most one ring's length so any count stays inside the ring.
        const std::size_t room = static_cast<std::size_t>(kRingSize - RxHead);
        const std::size_t chunk = count < room ? count : room;
        std::memcpy(RxRing + RxHead, bytes, chunk);
        RxHead += static_cast<int>(chunk);
        if (RxHead >= kRingSize)
            RxHead = 0;
        bytes += chunk;
        count -= chunk;
    }
    if (fills) {
        RxTail = RxHead;
        RxFull = true;
    }
}

int FrameAssembler::Unread() const
{
    if (RxHead > RxTail)
        return RxHead - RxTail;
    if (RxHead < RxTail)
        return kRingSize - RxTail + RxHead;
    return RxFull ? kRingSize : 0;
}

void FrameAssembler::ResetReceive()
{
    RxHead = 0;
    RxTail = 0;
    RxFull = false;
    IdleCountdown = 0;
    InFrame = false;
    // A run in progress (re-entered from a sink callback) must not go on with the old bytes.
    m_resetInRun = m_running;
}

namespace
{

// Appends one received byte to the run's trace line: "** " for a byte of a password in the frame
// it joins (FrameIndex is where it goes in that frame).
inline void TraceByte(std::string& trace, const FrameAssembler& a, std::uint8_t byte)
{
    static const char digits[] = "0123456789ABCDEF";
    if (a.InFrame && IsSecretFrameByte(a.FrameBuf, a.FrameIndex)) {
        trace += "** ";
        return;
    }
    trace.push_back(digits[byte >> 4]);
    trace.push_back(digits[byte & 0x0F]);
    trace.push_back(' ');
}

// The CR has arrived where LEN put it: the frame is reported, valid or not.
inline void CompleteFrame(FrameAssembler& a, FrameAssembler::Sink& sink)
{
    a.FrameBuf[a.FrameIndex] = kCr;
    a.InFrame = false;
    const int end = a.FrameEnd;
    const bool valid = FrameChecksum(a.FrameBuf) == a.FrameBuf[end - 1] && a.FrameBuf[end - 2] == kEtx;
    if (valid)
        sink.OnValidFrame(a.FrameBuf, end + 1);
    else
        sink.OnChecksumError(a.FrameBuf, end + 1);
}

// A byte outside a frame: only an STX counts, and starts one.
inline void AwaitStx(FrameAssembler& a, std::uint8_t byte)
{
    if (byte != kStx)
        return;
    a.InFrame = true;
    a.FrameBuf[0] = byte;
    a.FrameIndex = 1;
    a.FrameEnd = kMinFrame;
}

// A byte inside a frame other than its closing CR: LEN sets where the CR belongs.
inline void PlaceByte(FrameAssembler& a, std::uint8_t byte)
{
    if (a.FrameIndex == 3) {
        a.FrameBuf[a.FrameIndex++] = byte;
        a.FrameEnd = byte + 6;
        return;
    }
    if (a.FrameIndex > a.FrameEnd) {
        // The byte after a misplaced CR position ends the frame unseen.
        a.InFrame = false;
        return;
    }
    a.FrameBuf[a.FrameIndex++] = byte;
}

} // namespace

bool FrameAssembler::Assemble(Sink& sink, bool rxTrace)
{
    if (m_running)
        return false;
    m_running = true;

    int unread = Unread();
    if (unread == 0) {
        // A quiet run: a partial frame survives kIdleRuns of them.
        if (IdleCountdown > 0)
            --IdleCountdown;
        else
            InFrame = false;
        m_running = false;
        return true;
    }

    IdleCountdown = kIdleRuns;
    RxFull = false;
    m_resetInRun = false;
    std::string trace;
    if (rxTrace) {
        trace.reserve(3 + static_cast<std::size_t>(unread) * 3);
        trace = "RX:";
    }
    for (; unread > 0; --unread) {
        const std::uint8_t byte = RxRing[RxTail];
        if (++RxTail >= kRingSize)
            RxTail = 0;
        if (rxTrace)
            TraceByte(trace, *this, byte);
        if (!InFrame) {
            AwaitStx(*this, byte);
            continue;
        }
        // FrameEnd is never 3 (at least 6 once LEN is in, 7 before), so the CR check may come
        // before LEN's.
        if (FrameIndex == FrameEnd && byte == kCr) {
            CompleteFrame(*this, sink);
            // A sink callback that reset the receive path ends the run.
            if (m_resetInRun)
                break;
            continue;
        }
        PlaceByte(*this, byte);
    }

    if (rxTrace)
        sink.OnRxTrace(trace);
    m_running = false;
    return true;
}

} // namespace nx7::codec
