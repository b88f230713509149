#pragma once
// Scripted faults and notifications: one directive per line of a scenario file, or one per
// --fault option. Pure: parsing and matching only.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ifbsim
{

// Which requests a directive applies to: DATA starting with these bytes, or every request.
struct Selector {
    bool any = false;
    std::vector<std::uint8_t> prefix;
    bool Matches(std::span<const std::uint8_t> data) const;
};

struct Fault {
    enum class Kind { Silent, Nack, Short, Late, BadChecksum, MisplacedCr, Noise, Split, WithNote };
    Kind kind = Kind::Silent;
    Selector selector;
    int times = -1; // how many matching requests it affects; -1: all
    int used = 0;
    std::uint8_t nackCode = 0;
    std::uint8_t nackDetail = 0;
    int ms = 0;                // Late: delay; Split: gap between bytes
    int count = 0;             // Noise: bytes before the reply
    std::uint8_t noteCode = 0; // WithNote: a notification in the same write as the answer
    std::vector<std::uint8_t> noteData;

    // Counts one use when it applies to this request.
    bool Take(std::span<const std::uint8_t> data);
};

struct Notification {
    std::uint8_t code = 0;
    std::vector<std::uint8_t> data;
    int afterMs = 0;
};

// Faults of the board's OTA service (with --ota-service); they apply to every transfer of the run.
struct OtaFaults {
    bool wrongPassword = false; // the board expects a password other than the uploader's
    int dropAfterBytes = -1;    // the board aborts the connection once this many image bytes arrived
    int corruptAt = -1;         // the board flips the received byte at this offset
    bool firstOnly = false;     // the faults spoil the first transfer only (a retry then succeeds)
    bool Any() const { return wrongPassword || dropAfterBytes >= 0 || corruptAt >= 0; }
};

struct Scenario {
    std::vector<Fault> faults;
    std::vector<Notification> sends;
    bool usbOnly = false;
    int dropAfter = -1; // the link goes down after this many requests; -1: never
    int dropForMs = -1; // and comes back after this long; -1: stays down
    OtaFaults ota;

    // Adds one directive; an empty or comment line is fine. On error returns a message.
    std::optional<std::string> AddLine(const std::string& line);
};

// Parses hexadecimal bytes written together or with blanks ("4F4B", "4F 4B"); nullopt on error.
std::optional<std::vector<std::uint8_t>> ParseHexBytes(const std::string& text);

} // namespace ifbsim
