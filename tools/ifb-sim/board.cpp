#include "board.h"

#include <algorithm>
#include <utility>

namespace ifbsim
{

namespace
{

void AppendText(std::vector<std::uint8_t>& data, const std::string& text)
{
    // A reply carries at most 255 data bytes; longer texts are cut rather than corrupting LEN.
    const std::size_t room = data.size() < 255 ? 255 - data.size() : 0;
    const std::size_t n = std::min(room, text.size());
    data.insert(data.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n));
}

void AppendLe16(std::vector<std::uint8_t>& data, std::uint16_t v)
{
    data.push_back(static_cast<std::uint8_t>(v & 0xFF));
    data.push_back(static_cast<std::uint8_t>(v >> 8));
}

Answer Ack(std::vector<std::uint8_t> data)
{
    Answer a;
    a.reply = true;
    a.code = kAck;
    a.data = std::move(data);
    return a;
}

Answer Nack(std::uint8_t code, std::uint8_t detail = 0)
{
    Answer a;
    a.reply = true;
    a.code = kNack;
    a.data = {code, detail};
    return a;
}

} // namespace

BoardConfig::BoardConfig()
{
    // Access-point mode, mask 255.255.255.0, OTA port 3232, address 192.168.4.1.
    netBlock = {0x40, 0xFF, 0xFF, 0xFF, 0x00, 0xA0, 0x0C, 0xC0, 0xA8, 0x04, 0x01, 0, 0,
                0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0};
}

Board::Board(const BoardConfig& config)
    : m_config(config)
    , m_mode(config.modeWord)
    , m_rom(config.romVersion)
    , m_ssid(config.ssid)
    , m_wifiPassword(config.wifiPassword)
    , m_netBlock(config.netBlock)
    , m_targetId(config.targetId)
{
}

std::vector<std::uint8_t> RequestKey(std::span<const std::uint8_t> data)
{
    if (data.empty())
        return {};
    return nx7::codec::RequestEcho(data);
}

Answer Board::ChecksumError()
{
    return Nack(kNackBadSum);
}

void Board::NoteUpdateResult(bool ok, std::optional<std::string> romVersion)
{
    m_verdictNoted = true;
    // A failed transfer after a good one in the same session does not undo it.
    if (!ok)
        return;
    m_updatedOk = true;
    m_romPending = std::move(romVersion);
}

void Board::Restart(std::int64_t nowMs)
{
    m_silentUntil = nowMs + m_config.restartMs;
    m_inOta = false;
    m_polls = 0;
    m_joined = false;
    if (m_rollBackTo) {
        m_rom = *m_rollBackTo;
        m_rollBackTo.reset();
    }
    if (m_updatedOk) {
        m_updatedOk = false;
        if (m_config.rollBack)
            m_rollBackTo = m_rom;
        m_rom = m_romPending ? *m_romPending : m_config.romAfterUpdate.value_or(m_rom);
        m_romPending.reset();
    }
}

NextBoard Board::BecomeNextBoard()
{
    const NextBoard next = m_config.nextBoards[m_nextBoard++];
    m_mode = m_config.modeWord;
    m_rom = m_config.romVersion;
    m_ssid = m_config.ssid;
    m_wifiPassword = m_config.wifiPassword;
    m_netBlock = m_config.netBlock;
    m_targetId = next.targetId;
    m_updatedOk = false;
    m_romPending.reset();
    m_rollBackTo.reset();
    m_verdictNoted = false;
    m_modeSetAfterVerdict = false;
    return next;
}

Answer Board::StatusOrMode(std::int64_t nowMs)
{
    if (!m_inOta) {
        // The mode form: a 32-bit value whose low half is the operation-mode word.
        std::vector<std::uint8_t> d{+Request::ModeOrStatus};
        AppendLe16(d, m_mode);
        AppendLe16(d, 0);
        return Ack(d);
    }
    ++m_polls;
    Answer a;
    if (!m_joined && !m_config.noStation && m_polls >= m_config.stationAfterPolls &&
        (m_config.stationAfterMs < 0 || nowMs - m_otaSince >= m_config.stationAfterMs)) {
        m_joined = true;
        a.stationJoined = true;
    }
    // The status form: frame byte 7 tells whether a station has joined, then port and address.
    std::vector<std::uint8_t> d{+Request::ModeOrStatus, m_otaValue, 0x00,
                                static_cast<std::uint8_t>(m_joined ? 1 : 0),
                                static_cast<std::uint8_t>(m_joined ? 1 : 0)};
    AppendLe16(d, m_config.otaPort);
    d.insert(d.end(), m_config.otaAddress.begin(), m_config.otaAddress.end());
    a.reply = true;
    a.code = kAck;
    a.data = std::move(d);
    return a;
}

Answer Board::Handle(std::uint8_t command, std::span<const std::uint8_t> data, std::int64_t nowMs)
{
    if (command != nx7::codec::kIfbCommand)
        return Nack(kNackBadCommand);
    if (data.empty())
        return Nack(kNackDataCount);
    const std::size_t len = data.size();
    switch (static_cast<Request>(data[0])) {
    case Request::ModeOrStatus:
        if (len != 1)
            return Nack(kNackDataCount);
        return StatusOrMode(nowMs);
    case Request::SetMode:
        if (len != 3)
            return Nack(kNackDataCount);
        m_mode = static_cast<std::uint16_t>(data[1] | (data[2] << 8));
        m_modeSetAfterVerdict = m_modeSetAfterVerdict || m_verdictNoted;
        return Ack({+Request::SetMode});
    case Request::TargetId: {
        if (len != 1)
            return Nack(kNackDataCount);
        std::vector<std::uint8_t> d{+Request::TargetId, 0x00, 0x00, 0x00, 0x00};
        AppendLe16(d, m_targetId);
        return Ack(d);
    }
    case Request::Restart: {
        if (len != 1)
            return Nack(kNackDataCount);
        Restart(nowMs);
        Answer a = Ack({+Request::Restart});
        a.restarting = true;
        if (m_modeSetAfterVerdict && m_nextBoard < m_config.nextBoards.size())
            a.nextBoard = BecomeNextBoard();
        return a;
    }
    case Request::OtaMode: {
        if (len != 2 && len != 3)
            return Nack(kNackDataCount);
        Answer a = Ack({+Request::OtaMode});
        if (!m_inOta) {
            m_inOta = true;
            m_otaSince = nowMs;
            m_polls = 0;
            m_joined = false;
            a.enteredOta = true;
        }
        m_otaValue = data[1];
        return a;
    }
    case Request::RomVersion: {
        if (len != 1)
            return Nack(kNackDataCount);
        std::vector<std::uint8_t> d{+Request::RomVersion};
        AppendText(d, m_rom);
        return Ack(d);
    }
    case Request::ModelName: {
        if (len != 1)
            return Nack(kNackDataCount);
        std::vector<std::uint8_t> d{+Request::ModelName};
        AppendText(d, m_config.modelName);
        return Ack(d);
    }
    case Request::ReadItem: {
        if (len != 2)
            return Nack(kNackDataCount);
        std::vector<std::uint8_t> d{+Request::ReadItem, data[1]};
        switch (static_cast<Item>(data[1])) {
        case Item::Ssid:
            AppendText(d, m_ssid);
            return Ack(d);
        case Item::Password:
            AppendText(d, m_wifiPassword);
            return Ack(d);
        case Item::NetParams:
            d.insert(d.end(), m_netBlock.begin(), m_netBlock.end());
            return Ack(d);
        case Item::ApInfo: {
            // The address as a 32-bit number whose most significant byte is the first dotted number.
            d.insert(d.end(), m_config.apAddress.rbegin(), m_config.apAddress.rend());
            AppendLe16(d, m_config.apPort);
            AppendText(d, m_config.apName);
            return Ack(d);
        }
        default:
            return Nack(kNackBadCommand);
        }
    }
    case Request::WriteItem: {
        if (len < 2)
            return Nack(kNackDataCount);
        const std::string text(data.begin() + 2, data.end());
        switch (static_cast<Item>(data[1])) {
        case Item::Ssid:
            m_ssid = text;
            break;
        case Item::Password:
            m_wifiPassword = text;
            break;
        case Item::NetParams:
            if (len != 27)
                return Nack(kNackDataCount);
            std::copy(data.begin() + 2, data.end(), m_netBlock.begin());
            break;
        default:
            return Nack(kNackBadCommand);
        }
        return Ack({+Request::WriteItem, data[1]});
    }
    default:
        return Nack(kNackBadCommand);
    }
}

} // namespace ifbsim
