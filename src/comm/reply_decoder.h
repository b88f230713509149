#pragma once
// What a validated reply frame means: the trace texts of NACKs and notifications, the update
// result, and the field readers of the command replies. Pure: bytes in, values out; every read
// stays inside the frame whatever its LEN byte claims.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace nx7::codec
{

// A frame STX..CR as received (or as the last-reply record holds it); `length` bounds every read.
struct FrameView {
    const std::uint8_t* bytes = nullptr;
    int length = 0;

    bool Has(int index) const { return index >= 0 && index < length; }
    std::uint8_t At(int index) const { return Has(index) ? bytes[index] : 0; }
    int Len() const { return At(3); }
    // Index one past the last data byte (the ETX position), never beyond the frame.
    int DataEnd() const;
    // Up to `count` bytes from `start`, cut at the end of the frame; empty for count <= 0.
    std::string Bytes(int start, int count) const;
};

// One trace line: UTF-8 text, or bytes from the board in the system code page.
struct TraceText {
    std::string text;
    bool fromBoard = false;
};

struct DecodeResult {
    std::vector<TraceText> lines;
    // Set by a 'D' notification "OK" (true) or "BR" (false).
    std::optional<bool> otaResult;
};

// The decoder's reading of one valid frame. Trace texts are built only when `wantText`.
DecodeResult DecodeReply(const FrameView& frame, bool wantText);

// Trace texts of a NACK's error code and detail code.
std::string NackText(std::uint8_t code, std::uint8_t detail);
// Clock line of a display unit's clock registers (frame bytes 5..11).
std::string ClockLine(const std::uint8_t regs[7]);

// Field readers of the command replies (frame byte offsets counted from STX).
// Operation-mode word: low 16 bits of bytes 5..8; none when the frame is too short to hold them.
std::optional<std::uint16_t> ParseIfbMode(const FrameView& frame);
// A board still in OTA mode answers the mode read with its OTA status (LEN 10 or 11), which holds
// no mode word.
bool IsOtaStatusReply(const FrameView& frame);

struct OtaStatus {
    std::uint16_t port = 0;
    std::array<std::uint8_t, 4> address{}; // wire order, frame byte 11 first
    std::uint32_t Address() const;         // frame byte 11 least significant
};
// Accepted only with LEN 10 or 11 and byte 7 = 1.
std::optional<OtaStatus> ParseOtaStatus(const FrameView& frame);

// Accepted only with LEN 7 and byte 4 = 0x05: bytes 9..10.
std::optional<std::uint16_t> ParseTargetId(const FrameView& frame);

// Text of LEN - 2 bytes from byte 6 (network name, password).
std::string ParseWifiText(const FrameView& frame);

// The 25-byte network parameter block from byte 6, only with LEN 27.
std::optional<std::array<std::uint8_t, 25>> ParseNetParamsBlock(const FrameView& frame);

struct ApInfo {
    std::array<std::uint8_t, 4> address{}; // frame bytes 6..9
    std::uint16_t port = 0;
    std::string name;              // bytes in the system code page
    std::uint32_t Address() const; // frame byte 6 least significant
};
// Accepted only when byte 5 is 0x71 and the frame holds the address and port bytes.
std::optional<ApInfo> ParseApInfo(const FrameView& frame);

// Text of LEN - 1 bytes from byte 5 (ROM version, model name).
std::string ParseVersionText(const FrameView& frame);

} // namespace nx7::codec
