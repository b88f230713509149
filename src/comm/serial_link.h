#pragma once
// The serial line to the board (link mode 0).
#include "comm/link.h"

class QSerialPort;

namespace nx7
{

class SerialLink : public Link
{
    Q_OBJECT
public:
    // `line` is applied at every Open(); the COM name is resolved through `settingsPath`'s port map.
    SerialLink(const SerialLine& line, const QString& settingsPath);
    ~SerialLink() override;

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
    void OnReadyRead();
    void OnError(int error);
    // The COM name with the device it stands for: "COM3 (/dev/ttyUSB2)".
    QString DeviceText() const;
    // Runs a port call whose failure on this device is expected and harmless (DTR/RTS on a
    // pseudo-terminal): its error is neither traced nor kept.
    template <typename F> void Quietly(F&& call);

    SerialLine m_line;
    QString m_settingsPath;
    QString m_device;
    QSerialPort* m_port;
    bool m_suppressErrors = false;
    bool m_lossPending = false;
};

} // namespace nx7
