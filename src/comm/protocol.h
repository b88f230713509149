#pragma once
// The board protocol's vocabulary, shared by the tool and the simulator so the two cannot drift:
// request sub-codes, the items of the read/write requests, response codes, reply kinds and NACK
// codes, and the rule that ties an acknowledgement to its request. Pure: no Qt.
#include <cstdint>
#include <span>
#include <vector>

namespace nx7::codec
{

// DATA[0] of a request.
enum class Request : std::uint8_t {
    ModeOrStatus = 0x00, // operation-mode word, or the OTA status while in OTA mode
    SetMode = 0x01,
    ReadItem = 0x03, // followed by an Item
    WriteItem = 0x04,
    TargetId = 0x05,
    Restart = 0x0A,
    OtaMode = 0x0B,
    RomVersion = 0x90,
    ModelName = 0x93,
};

// DATA[1] of ReadItem / WriteItem.
enum class Item : std::uint8_t {
    Ssid = 0x02,
    Password = 0x03,
    NetParams = 0x04,
    ApInfo = 0x71,
};

// Byte 2 of a reply.
enum class ReplyCode : std::uint8_t {
    Ack = 0x30,
    Nack = 0x31,
    TextNote = 0x44,     // 'D'
    Message = 0x45,      // 'E'
    Extension = 0x47,    // 'G'
    TagId = 0x49,        // 'I'
    TagDataL = 0x4C,     // 'L'
    Display = 0x62,      // 'b'
    TagDataD = 0x64,     // 'd'
    TagDataI = 0x69,     // 'i'
    ProtocolNote = 0x6C, // 'l'
};

// What the engine records for a valid frame (`ReplyKind`).
enum class Kind : int {
    None = 0,
    Ack = 2,
    TextNote = 3,
    TagDataD = 4,
    TagDataI = 5,
    Nack = 6,
    TagId = 7,
    TagDataL = 8,
    Extension = 9,
    Display = 10,
    ProtocolNote = 11,
};

// DATA[0] of a NACK.
enum class NackCode : std::uint8_t {
    Crc = 0x01,
    CommandTimeOver = 0x02,
    TagDataError = 0x03,
    NoTagAnswer = 0x04,
    Iso15693 = 0x05,
    EpcTag = 0x0A,
    DataCount = 0x41,
    BadSum = 0x42,
    BadId = 0x43,
    BadCommand = 0x44,
    DoubleRead = 0x45,
    Password = 0x46,
};

constexpr std::uint8_t operator+(Request r)
{
    return static_cast<std::uint8_t>(r);
}
constexpr std::uint8_t operator+(Item i)
{
    return static_cast<std::uint8_t>(i);
}
constexpr std::uint8_t operator+(ReplyCode c)
{
    return static_cast<std::uint8_t>(c);
}
constexpr std::uint8_t operator+(NackCode c)
{
    return static_cast<std::uint8_t>(c);
}
constexpr int operator+(Kind k)
{
    return static_cast<int>(k);
}

// The sub-code bytes an acknowledgement of this request DATA begins with: DATA[0], and DATA[1]
// too for the item requests. Empty for empty DATA.
std::vector<std::uint8_t> RequestEcho(std::span<const std::uint8_t> requestData);

// Whether the reply DATA `replyData` of an ACK begins with `echo`.
bool EchoMatches(std::span<const std::uint8_t> echo, std::span<const std::uint8_t> replyData);

} // namespace nx7::codec

namespace nx7::codec
{

// Ties replies to the one request that is waiting: an ACK counts when its DATA begins with the
// request's echo, a NACK counts while the request waits; the first that counts ends the wait.
class ReplyMatcher
{
public:
    // A request frame (STX..CR) has been sent; a frame too short to hold a sub-code leaves nothing
    // waiting.
    void Sent(std::span<const std::uint8_t> requestFrame);
    // Offers a valid ACK or NACK frame (STX..CR); true when it is the reply to the waiting request.
    bool Offer(std::span<const std::uint8_t> replyFrame);

    bool Pending() const { return m_pending; }
    bool Answered() const { return m_answered; }
    bool AnsweredByNack() const { return m_answered && m_nack; }

private:
    std::vector<std::uint8_t> m_echo;
    bool m_pending = false;
    bool m_answered = false;
    bool m_nack = false;
};

} // namespace nx7::codec
