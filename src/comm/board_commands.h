#pragma once
// The interface-board command set: every request the tool sends, its wait, and the reply fields
// it reads. Log lines go through the main window's AddLog (`addLog(text, force)`).
#include "comm/board_types.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

namespace nx7::codec
{
struct FrameView;
}

namespace nx7
{

class TTComXDlg;

class BoardCommands
{
public:
    using LogFn = std::function<void(const QString& text, bool force)>;

    BoardCommands(TTComXDlg& engine, LogFn addLog);

    bool GetIFBMode(int timeoutMs, std::uint16_t& mode);
    // The same read for a caller that must not take a board's OTA status for its mode: false with
    // `*otaStatus` set when the board answered with its OTA status.
    bool GetIFBMode(int timeoutMs, std::uint16_t& mode, bool* otaStatus);
    bool GetOtaStatus(std::uint16_t& port, std::uint32_t& address);
    bool DousaModeSet(std::uint16_t mode, int timeoutMs);
    bool ESP32_RestartCmd(int timeoutMs);
    // Reopens the link on `comPort` first when it is down and then calls `linkReopened` (which
    // starts Timer1).
    bool SetOtaMode(std::uint8_t value, bool withFlag, int comPort,
                    const std::function<void()>& linkReopened);
    // `id`, when given, receives the id as logged ("1234").
    bool GetTargetId(QString* id = nullptr);
    // The same request, unlogged and waiting at most `timeoutMs`: whether a board is there and which.
    bool ProbeTargetId(int timeoutMs, QString* id);
    bool GetWifiSsid(int timeoutMs, TCPIPPARAM& record);
    bool GetWifiPassword(int timeoutMs, TCPIPPARAM& record);
    bool GetNetParams(int timeoutMs, TCPIPPARAM& record);
    bool GetApInfo(bool force, AccessPointRecord& ap);
    // Refuse (false, log line) a text longer than 253 bytes in CP932.
    bool SetWifiSsid(const QString& text, int timeoutMs);
    bool SetWifiPassword(const QString& text, int timeoutMs);
    bool SetNetParams(const TCPIPPARAM& record, int timeoutMs);

    bool ReadWifiSettings(int timeoutMs, TCPIPPARAM& record);
    bool WriteWifiSettings(const QString& ssid, const QString& password, int timeoutMs);
    // Empties `romVersion` first.
    bool ReadRomVersion(QString& romVersion);
    bool ReadModelName(QString& modelName);

private:
    void Log(const QString& text, bool force);
    // Builds the request, writes its bytes to the log when the transmit trace is on, sends it.
    void Send(const std::vector<std::uint8_t>& data);
    codec::FrameView Reply() const;
    bool GetWifiText(std::uint8_t sub, int timeoutMs, QString& field);
    bool TextFits(const QByteArray& bytes, const QString& what);

    TTComXDlg& m_engine;
    LogFn m_addLog;
};

} // namespace nx7
