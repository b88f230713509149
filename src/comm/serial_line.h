#pragma once
// Serial line settings and every encoding of them: the settings' speed and parity codes, the port
// dialog's speed items, and the "ComDebug" section's keys. Each encoding is one table read both
// ways. Free of any serial API, so every platform's serial link applies the same settings.
#include <QString>

namespace nx7
{

class IniFile;

enum class Parity { None, Odd, Even, Mark, Space };
enum class StopBits { One, OneAndHalf, Two };
enum class FlowControl { None, Hardware, Software };

struct SerialLine {
    QString comName = QStringLiteral("COM1"); // resolved to a device through the settings' port map
    int baudRate = 19200;
    int dataBits = 8; // 5 to 8
    Parity parity = Parity::None;
    StopBits stopBits = StopBits::One;
    FlowControl flow = FlowControl::None;
};

// The settings' ComSpeed code (0 19200, 1 9600, 2 38400, 3 57600, 4 115200; any other 19200).
int BaudRateOfSpeedCode(int speedCode);
// The port dialog lists the speeds in rising order: its item of a ComSpeed code (any other code
// shows 19.2kbps) and the code of an item (an item outside the list gives 0).
int SpeedItemOfCode(int speedCode);
int SpeedCodeOfItem(int item);
// The settings' Parity code: 0 none, 1 odd, any other even.
Parity ParityOfSettingCode(int parityCode);
// The port dialog's parity item (none, odd, even) of a Parity code.
int ParityItemOfCode(int parityCode);

// "ComDebug": Port, BaudRate (a rate outside the allowed list reads as 9600), ParityBits (0 none,
// 1 odd, 2 even, 3 mark, 4 space), ByteSize (5-8, else 8), StopBits (0 one, 1 one and a half,
// 2 two), FlowCont (0 none, 1 hardware, 2 software).
void ReadComDebugLine(const IniFile& ini, SerialLine& line);
// The port is written only when its name is a "COM<n>".
void WriteComDebugLine(IniFile& ini, const SerialLine& line);

// The trace text of a set of serial line errors, flags as the Windows CE_* bits:
// "<ComError:Frame,Parity>" or "<Ok>".
enum ComErrorFlag : unsigned {
    ComRxOver = 0x0001,
    ComOverrun = 0x0002,
    ComParity = 0x0004,
    ComFrame = 0x0008,
    ComBreak = 0x0010,
    ComTxFull = 0x0100,
    ComIo = 0x0400,
    ComMode = 0x8000,
};
QString ComErrorText(unsigned flags);

} // namespace nx7
