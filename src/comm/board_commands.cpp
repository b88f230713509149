#include "comm/board_commands.h"

#include "comm/engine.h"
#include "comm/protocol.h"
#include "comm/reply_decoder.h"
#include "platform/code_page.h"

#include <algorithm>

namespace nx7
{

using codec::Item;
using codec::Request;

namespace
{

// Longest text a request frame can carry after the two sub-code bytes (LEN <= 255).
constexpr int kMaxTextBytes = 253;

QString Text(const std::string& bytes)
{
    return FromAnsi(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QString DottedBytes(const std::uint8_t* bytes, bool reversed)
{
    QStringList parts;
    for (int i = 0; i < 4; ++i)
        parts.append(QString::number(bytes[reversed ? 3 - i : i]));
    return parts.join(QLatin1Char('.'));
}

std::vector<std::uint8_t> TextRequest(std::uint8_t sub, const QByteArray& text)
{
    // Sized up front: growing a vector made from a brace list trips GCC 12's bounds warning.
    std::vector<std::uint8_t> data(2 + static_cast<std::size_t>(text.size()));
    data[0] = +Request::WriteItem;
    data[1] = sub;
    std::copy(text.begin(), text.end(), data.begin() + 2);
    return data;
}

} // namespace

BoardCommands::BoardCommands(TTComXDlg& engine, LogFn addLog)
    : m_engine(engine)
    , m_addLog(std::move(addLog))
{
}

void BoardCommands::Log(const QString& text, bool force)
{
    if (m_addLog)
        m_addLog(text, force);
}

void BoardCommands::Send(const std::vector<std::uint8_t>& data)
{
    const std::vector<std::uint8_t> frame = m_engine.BuildRequest(data);
    if (frame.empty())
        return;
    if (m_engine.TxTrace)
        Log(QString::fromLatin1(codec::TraceHex(frame.data(), frame.size())), false);
    m_engine.SendFrame(frame.data(), static_cast<int>(frame.size()));
}

codec::FrameView BoardCommands::Reply() const
{
    return codec::FrameView{m_engine.LastReply.data(), m_engine.LastReplyLength};
}

bool BoardCommands::GetIFBMode(int timeoutMs, std::uint16_t& mode)
{
    Send({+Request::ModeOrStatus});
    if (!m_engine.WaitReply(2, timeoutMs))
        return false;
    // An acknowledgement too short to carry the mode word is no answer.
    const auto word = codec::ParseIfbMode(Reply());
    if (!word)
        return false;
    mode = *word;
    return true;
}

bool BoardCommands::GetIFBMode(int timeoutMs, std::uint16_t& mode, bool* otaStatus)
{
    *otaStatus = false;
    std::uint16_t word = 0;
    if (!GetIFBMode(timeoutMs, word))
        return false;
    if (codec::IsOtaStatusReply(Reply())) {
        *otaStatus = true;
        return false;
    }
    mode = word;
    return true;
}

bool BoardCommands::GetOtaStatus(std::uint16_t& port, std::uint32_t& address)
{
    Send({+Request::ModeOrStatus});
    if (!m_engine.WaitAnyReply())
        return false;
    const auto status = codec::ParseOtaStatus(Reply());
    if (!status)
        return false;
    port = status->port;
    address = status->Address();
    Log(QStringLiteral("OTA Port        : ") + QString::number(port), false);
    Log(QStringLiteral("OTA IP Address  : ") + DottedBytes(status->address.data(), false), false);
    return true;
}

bool BoardCommands::DousaModeSet(std::uint16_t mode, int timeoutMs)
{
    Send({+Request::SetMode, static_cast<std::uint8_t>(mode & 0xFF), static_cast<std::uint8_t>(mode >> 8)});
    return m_engine.WaitReply(2, timeoutMs);
}

bool BoardCommands::ESP32_RestartCmd(int timeoutMs)
{
    Log(QStringLiteral("RESTART_CMD: "), false);
    Send({+Request::Restart});
    return m_engine.WaitReply(2, timeoutMs);
}

bool BoardCommands::SetOtaMode(std::uint8_t value, bool withFlag, int comPort,
                               const std::function<void()>& linkReopened)
{
    if (!m_engine.IsConnected()) {
        m_engine.ReopenLink(comPort);
        if (linkReopened)
            linkReopened();
    }
    std::vector<std::uint8_t> data{+Request::OtaMode, value};
    if (withFlag)
        data.push_back(0x01);
    Send(data);
    const bool ok = m_engine.WaitAnyReply();
    if (ok)
        Log(QStringLiteral("OK"), false);
    return ok;
}

bool BoardCommands::GetTargetId(QString* idText)
{
    Send({+Request::TargetId});
    if (!m_engine.WaitAnyReply())
        return false;
    const auto id = codec::ParseTargetId(Reply());
    if (!id)
        return false;
    Log(QStringLiteral("ターゲットID情報"), false);
    const QString text = QStringLiteral("%1").arg(*id, 4, 16, QLatin1Char('0')).toUpper();
    Log(QStringLiteral("ID : ") + text, true);
    if (idText)
        *idText = text;
    return true;
}

bool BoardCommands::ProbeTargetId(int timeoutMs, QString* idText)
{
    Send({+Request::TargetId});
    if (!m_engine.WaitReply(+codec::Kind::Ack, timeoutMs))
        return false;
    const auto id = codec::ParseTargetId(Reply());
    if (!id)
        return false;
    if (idText)
        *idText = QStringLiteral("%1").arg(*id, 4, 16, QLatin1Char('0')).toUpper();
    return true;
}

bool BoardCommands::GetWifiText(std::uint8_t sub, int timeoutMs, QString& field)
{
    Send({+Request::ReadItem, sub});
    if (!m_engine.WaitReply(2, timeoutMs))
        return false;
    field = Text(codec::ParseWifiText(Reply()));
    Log(field, false);
    return true;
}

bool BoardCommands::GetWifiSsid(int timeoutMs, TCPIPPARAM& record)
{
    return GetWifiText(+Item::Ssid, timeoutMs, record.SSID);
}

bool BoardCommands::GetWifiPassword(int timeoutMs, TCPIPPARAM& record)
{
    return GetWifiText(+Item::Password, timeoutMs, record.Password);
}

bool BoardCommands::GetNetParams(int timeoutMs, TCPIPPARAM& record)
{
    Send({+Request::ReadItem, +Item::NetParams});
    const bool ok = m_engine.WaitReply(2, timeoutMs);
    if (ok) {
        if (const auto block = codec::ParseNetParamsBlock(Reply()))
            record.FromBlock(block->data());
    }
    Log(ok ? QStringLiteral("OK") : QStringLiteral("NG"), false);
    return ok;
}

bool BoardCommands::GetApInfo(bool force, AccessPointRecord& ap)
{
    Send({+Request::ReadItem, +Item::ApInfo});
    const bool ok = m_engine.WaitAnyReply();
    const auto info = ok ? codec::ParseApInfo(Reply()) : std::nullopt;
    if (!info) {
        Log(QStringLiteral("NG"), force);
        return false;
    }
    ap.IpAddr = info->Address();
    Log(QStringLiteral("IP  : ") + DottedBytes(info->address.data(), true), force);
    ap.OtaPort = info->port;
    Log(QStringLiteral("Port: ") + QString::number(info->port), force);
    ap.NetworkName.clear();
    ap.NetworkName.append(Text(info->name));
    Log(QStringLiteral("AP  : ") + ap.NetworkName, force);
    return true;
}

bool BoardCommands::TextFits(const QByteArray& bytes, const QString& what)
{
    if (bytes.size() <= kMaxTextBytes)
        return true;
    Log(QStringLiteral("NG : %1が長すぎます（%2バイト、最大%3バイト）")
            .arg(what)
            .arg(bytes.size())
            .arg(kMaxTextBytes),
        true);
    return false;
}

bool BoardCommands::SetWifiSsid(const QString& text, int timeoutMs)
{
    const QByteArray bytes = ToAnsi(text);
    if (!TextFits(bytes, QStringLiteral("SSID")))
        return false;
    Send(TextRequest(+Item::Ssid, bytes));
    const bool ok = m_engine.WaitReply(2, timeoutMs);
    if (ok)
        Log(QStringLiteral("OK"), false);
    return ok;
}

bool BoardCommands::SetWifiPassword(const QString& text, int timeoutMs)
{
    const QByteArray bytes = ToAnsi(text);
    if (!TextFits(bytes, QStringLiteral("パスワード")))
        return false;
    Send(TextRequest(+Item::Password, bytes));
    const bool ok = m_engine.WaitReply(2, timeoutMs);
    Log(ok ? QStringLiteral("OK") : QStringLiteral("NG"), false);
    return ok;
}

bool BoardCommands::SetNetParams(const TCPIPPARAM& record, int timeoutMs)
{
    const auto block = record.ToBlock();
    std::vector<std::uint8_t> data(2 + block.size());
    data[0] = +Request::WriteItem;
    data[1] = +Item::NetParams;
    std::copy(block.begin(), block.end(), data.begin() + 2);
    Send(data);
    const bool ok = m_engine.WaitReply(2, timeoutMs);
    Log(ok ? QStringLiteral("OK") : QStringLiteral("NG"), false);
    return ok;
}

bool BoardCommands::ReadWifiSettings(int timeoutMs, TCPIPPARAM& record)
{
    GetWifiSsid(timeoutMs, record);
    return GetWifiPassword(timeoutMs, record);
}

bool BoardCommands::WriteWifiSettings(const QString& ssid, const QString& password, int timeoutMs)
{
    // Refuse before anything is sent, so the board never keeps half of a change.
    if (!TextFits(ToAnsi(ssid), QStringLiteral("SSID")) ||
        !TextFits(ToAnsi(password), QStringLiteral("パスワード")))
        return false;
    SetWifiSsid(ssid, timeoutMs);
    return SetWifiPassword(password, timeoutMs);
}

bool BoardCommands::ReadRomVersion(QString& romVersion)
{
    romVersion.clear();
    Log(QStringLiteral("I/FボードのＲＯＭのバージョン情報"), false);
    m_engine.RequestRomVersion();
    if (!m_engine.WaitAnyReply())
        return false;
    romVersion = Text(codec::ParseVersionText(Reply()));
    return true;
}

bool BoardCommands::ReadModelName(QString& modelName)
{
    Log(QStringLiteral("機種名（ModelName）の取得"), false);
    m_engine.RequestModelName();
    if (!m_engine.WaitAnyReply())
        return false;
    modelName = Text(codec::ParseVersionText(Reply()));
    return true;
}

} // namespace nx7
