#pragma once
// The serial line to the board (link mode 0) on Windows, on the Win32 communications API: the COM
// name is the device ("\\.\COM9"). A reader thread blocks in ReadFile with short time-outs and hands
// the bytes to the owner's thread; WaitCommEvent is not used, since Wine answers it at once with no
// event and the tool must run there too.
#include "comm/link.h"

#include <atomic>
#include <thread>

namespace nx7
{

class WinSerialLink : public Link
{
    Q_OBJECT
public:
    // `line` is applied at every Open(). The settings path is not needed: Windows names the ports.
    WinSerialLink(const SerialLine& line, const QString& settingsPath);
    ~WinSerialLink() override;

    bool Open() override;
    void Close() override;
    bool IsUp() const override;
    int Write(const std::uint8_t* bytes, int count) override;
    LinkKind Kind() const override { return LinkKind::Serial; }
    QString Describe() const override { return m_line.comName; }
    const SerialLine* Line() const override { return &m_line; }
    void SetComName(const QString& name) override { m_line.comName = name; }
    void ReadSettings(const IniFile& ini) override;
    void WriteSettings(IniFile& ini) const override;
    void ResetPulse() override;

private:
    void ReadLoop(void* handle, unsigned generation);
    // Runs on the owner's thread.
    void Deliver(const QByteArray& bytes, unsigned generation);
    void ReportLoss(unsigned generation);
    bool ApplyLine();
    void Escape(unsigned function);

    SerialLine m_line;
    QString m_settingsPath;   // where the port map lives
    void* m_handle = nullptr; // INVALID_HANDLE_VALUE is never kept: closed is nullptr
    std::thread m_reader;
    std::atomic<bool> m_stop{false};
    // Counts the opens: bytes and losses from a reader of an earlier open are dropped.
    unsigned m_generation = 0;
};

} // namespace nx7
