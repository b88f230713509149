#pragma once
// The board's frame format and the receive path from raw bytes to validated frames.
// Pure: no Qt, no clock, no I/O, so it can be tested byte by byte and fuzzed.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace nx7::codec
{

constexpr std::uint8_t kStx = 0x02;
constexpr std::uint8_t kEtx = 0x03;
constexpr std::uint8_t kCr = 0x0D;
constexpr std::uint8_t kIfbCommand = 0x45; // 'E', the command byte of every interface-board request
constexpr int kRingSize = 16384;
constexpr int kMaxFrame = 262; // LEN 255 + 7
constexpr int kMinFrame = 7;
constexpr int kIdleRuns = 100;

// Sum of STX..ETX modulo 256. Reads LEN from offset 3 and adds LEN + 5 bytes: the buffer must hold them.
std::uint8_t FrameChecksum(const std::uint8_t* buffer);

// STX, id, code, LEN, data, ETX, SUM, CR. data longer than 255 bytes is a caller error (returns empty).
std::vector<std::uint8_t> BuildFrame(std::uint8_t id, std::uint8_t code, std::span<const std::uint8_t> data);

// Reply kind recorded for a response code; -1 when the code leaves the kind unchanged.
int ReplyKindForCode(std::uint8_t code);
// Whether a valid frame with this code is a copy-worthy record (ACK, NACK, 'G').
bool CopiesToLastReply(std::uint8_t code);
// Whether a frame with this code answers a request (ACK or NACK); every other code is a notification.
bool IsReplyCode(std::uint8_t code);

// Upper-case hex, each byte followed by one blank ("02 00 45 ").
std::string HexBytes(const std::uint8_t* bytes, std::size_t count);

// Whether byte `index` of a frame (bytes from STX; those before `index` and at least up to 5
// present) belongs to a password: the text of the password item in a request that writes it or
// in the acknowledgement of one that reads it, and that frame's checksum, which would give part of
// it away.
bool IsSecretFrameByte(const std::uint8_t* frame, int index);

// HexBytes of a frame for the trace: every byte of a password shown as "**" (the length stays
// visible, as LEN shows it anyway).
std::string TraceHex(const std::uint8_t* frame, std::size_t count);

// The 16384-byte receive ring and the frame assembler. Frames are reported to a sink; assembly
// runs only when Assemble() is called (from the 50 ms timer in the tool).
class FrameAssembler
{
public:
    class Sink
    {
    public:
        virtual ~Sink() = default;
        // A complete frame whose checksum and ETX are right. frame[0..length) is STX..CR.
        virtual void OnValidFrame(const std::uint8_t* frame, int length) = 0;
        // A frame with its CR in place but a wrong checksum or ETX.
        virtual void OnChecksumError(const std::uint8_t* frame, int length) = 0;
        // One "RX:" trace line per run, only when receive tracing is on.
        virtual void OnRxTrace(const std::string& line) = 0;
    };

    FrameAssembler();

    // Stores bytes into the ring; never assembles. A burst that fills the ring or runs past the
    // unread bytes leaves the newest 16384 bytes unread (the oldest are lost).
    void AppendReceived(const std::uint8_t* bytes, std::size_t count);
    // One assembler run. Returns false without doing anything when a run is already in progress
    // (a sink callback that pumps events may trigger a nested run).
    bool Assemble(Sink& sink, bool rxTrace);
    // Link opened, reopened, closed or a TCP peer (dis)connected. Called from inside a run (a sink
    // callback), it also ends that run: the bytes it had counted are gone.
    void ResetReceive();
    // A new request is being sent: a partial frame is dropped, unread bytes stay.
    void DropPartialFrame() { InFrame = false; }
    int Unread() const;

    // State, public so tests can set up and inspect the exact cases.
    std::uint8_t RxRing[kRingSize];
    int RxHead = 0;
    int RxTail = 0;
    bool RxFull = false; // head == tail with 16384 unread bytes
    int IdleCountdown = 0;
    bool InFrame = false;
    std::uint8_t FrameBuf[kMaxFrame];
    int FrameIndex = 0;
    int FrameEnd = kMinFrame;

private:
    bool m_running = false;
    bool m_resetInRun = false;
};

} // namespace nx7::codec
