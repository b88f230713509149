#pragma once
// The interface board's state and its answers to requests. Pure: no Qt, no I/O; time is passed in
// as a millisecond count so the caller decides what "now" is.
#include "comm/frame_codec.h"
#include "comm/product.h"
#include "comm/protocol.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ifbsim
{

using nx7::codec::Item;
using nx7::codec::NackCode;
using nx7::codec::ReplyCode;
using nx7::codec::Request;

constexpr std::uint8_t kAck = +ReplyCode::Ack;
constexpr std::uint8_t kNack = +ReplyCode::Nack;
constexpr std::uint8_t kNackDataCount = +NackCode::DataCount;
constexpr std::uint8_t kNackBadSum = +NackCode::BadSum;
constexpr std::uint8_t kNackBadCommand = +NackCode::BadCommand;

// A board that takes the place of the present one when its session ends (see Board::Handle).
struct NextBoard {
    std::uint16_t targetId = 0;
    std::string verdict = "OK"; // the update verdict it announces: "OK", "BR" or "" (none)
};

struct BoardConfig {
    std::uint16_t modeWord = 0x0001;
    std::string romVersion = nx7::product::kFirmwareId;
    std::optional<std::string> romAfterUpdate; // empty: the ROM version stays as it is
    bool rollBack = false; // the restart after the one that took an update brings the old version back
    std::string modelName = "PB-RL11";
    std::uint16_t targetId = 0x1234;
    std::string ssid = "IFB-SIM";
    std::string wifiPassword = "simpass01";
    std::array<std::uint8_t, 25> netBlock{};
    std::array<std::uint8_t, 4> apAddress{192, 168, 4, 1}; // dotted order, first number first
    std::uint16_t apPort = nx7::product::kOtaPort;
    std::string apName = "IFB-SIM-OTA";
    std::array<std::uint8_t, 4> otaAddress{192, 168, 4, 1};
    std::uint16_t otaPort = nx7::product::kOtaPort;
    int stationAfterPolls = 1; // the poll (counted in OTA mode) from which a station has joined
    int stationAfterMs = -1;   // additionally this long after entering OTA mode; -1: no delay
    bool noStation = false;
    int restartMs = 300;
    // Boards played one after another: when a session ends (an update verdict, then an
    // operation-mode set, then a restart) the next one answers after that restart's silence, with
    // its own target id and the configured ROM version, mode word and Wi-Fi settings.
    std::vector<NextBoard> nextBoards;

    BoardConfig();
};

// What a request leads to.
struct Answer {
    bool reply = false; // false: the board stays silent
    std::uint8_t code = kAck;
    std::vector<std::uint8_t> data;
    bool restarting = false;    // an acknowledged restart: silent for restartMs from now
    bool enteredOta = false;    // OTA mode was entered by this request
    bool stationJoined = false; // this poll is the first one reporting a joined station
    // This restart ended the session: the next board of the configuration answers from now on,
    // announcing this verdict.
    std::optional<NextBoard> nextBoard;
};

class Board
{
public:
    explicit Board(const BoardConfig& config);

    // `data` is the request's DATA; `command` its command byte.
    Answer Handle(std::uint8_t command, std::span<const std::uint8_t> data, std::int64_t nowMs);
    // A checksum-damaged request: the board refuses it.
    static Answer ChecksumError();

    // Whether the board is still restarting (answers nothing) at `nowMs`.
    bool Restarting(std::int64_t nowMs) const { return nowMs < m_silentUntil; }
    // The update result was announced; "OK" makes the next restart report the new ROM version:
    // `romVersion` when given (the received image's), else romAfterUpdate, else the old one.
    void NoteUpdateResult(bool ok, std::optional<std::string> romVersion = std::nullopt);
    std::uint16_t TargetId() const { return m_targetId; }

    bool InOta() const { return m_inOta; }
    int RestartMs() const { return m_config.restartMs; }
    std::uint16_t ModeWord() const { return m_mode; }
    bool InUsbMode() const { return (m_mode & 0x7) == 0; }

private:
    Answer StatusOrMode(std::int64_t nowMs);
    void Restart(std::int64_t nowMs);
    // Forgets the present board and becomes the next one of the configuration.
    NextBoard BecomeNextBoard();

    BoardConfig m_config;
    std::uint16_t m_mode;
    std::string m_rom;
    std::string m_ssid;
    std::string m_wifiPassword;
    std::array<std::uint8_t, 25> m_netBlock;
    bool m_inOta = false;
    std::uint8_t m_otaValue = 0;
    std::int64_t m_otaSince = 0;
    int m_polls = 0;
    bool m_joined = false;
    bool m_updatedOk = false;
    std::optional<std::string> m_romPending;
    std::optional<std::string> m_rollBackTo;
    std::int64_t m_silentUntil = 0;
    std::uint16_t m_targetId;
    // The session's end: a verdict was announced, then the operation mode was set.
    bool m_verdictNoted = false;
    bool m_modeSetAfterVerdict = false;
    std::size_t m_nextBoard = 0;
};

// Names a request for logs and selectors: its sub-code, and the second one for 03/04.
std::vector<std::uint8_t> RequestKey(std::span<const std::uint8_t> data);

} // namespace ifbsim
