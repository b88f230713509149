#include "comm/serial_line.h"

#include "platform/helpers.h"
#include "platform/ini_file.h"

#include <QStringList>

#include <array>
#include <utility>

namespace nx7
{

namespace
{

const QString kComDebug = QStringLiteral("ComDebug");

struct SpeedEntry {
    int code; // the settings' ComSpeed
    int rate;
};
// In the port dialog's order (rising speed): the index is the dialog's item.
constexpr std::array<SpeedEntry, 5> kSpeeds{{{1, 9600}, {0, 19200}, {2, 38400}, {3, 57600}, {4, 115200}}};

constexpr int kAllowedRates[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                 19200, 38400, 56000, 57600, 115200, 128000, 256000};

// The "ComDebug" codes; the index is the code.
constexpr std::array<Parity, 5> kParityCodes{Parity::None, Parity::Odd, Parity::Even, Parity::Mark,
                                             Parity::Space};
constexpr std::array<StopBits, 3> kStopCodes{StopBits::One, StopBits::OneAndHalf, StopBits::Two};
constexpr std::array<FlowControl, 3> kFlowCodes{FlowControl::None, FlowControl::Hardware,
                                                FlowControl::Software};

// The value of `code` in a code-indexed table; codes outside it give the table's first value.
template <typename T, std::size_t N> T OfCode(const std::array<T, N>& table, int code)
{
    return code >= 0 && static_cast<std::size_t>(code) < N ? table[static_cast<std::size_t>(code)] : table[0];
}

template <typename T, std::size_t N> int CodeOf(const std::array<T, N>& table, T value)
{
    for (std::size_t i = 0; i < N; ++i) {
        if (table[i] == value)
            return static_cast<int>(i);
    }
    return 0;
}

bool IsAllowedBaudRate(int rate)
{
    for (int r : kAllowedRates) {
        if (r == rate)
            return true;
    }
    return false;
}

} // namespace

int BaudRateOfSpeedCode(int speedCode)
{
    for (const SpeedEntry& s : kSpeeds) {
        if (s.code == speedCode)
            return s.rate;
    }
    return 19200;
}

int SpeedItemOfCode(int speedCode)
{
    for (std::size_t item = 0; item < kSpeeds.size(); ++item) {
        if (kSpeeds[item].code == speedCode)
            return static_cast<int>(item);
    }
    return 1;
}

int SpeedCodeOfItem(int item)
{
    return item >= 0 && static_cast<std::size_t>(item) < kSpeeds.size()
               ? kSpeeds[static_cast<std::size_t>(item)].code
               : 0;
}

Parity ParityOfSettingCode(int parityCode)
{
    if (parityCode == 0)
        return Parity::None;
    return parityCode == 1 ? Parity::Odd : Parity::Even;
}

int ParityItemOfCode(int parityCode)
{
    return CodeOf(kParityCodes, ParityOfSettingCode(parityCode));
}

void ReadComDebugLine(const IniFile& ini, SerialLine& line)
{
    line.comName = PortNameOfNumber(ini.ReadInteger(kComDebug, QStringLiteral("Port"), 1) & 0xFF);
    const int rate = ini.ReadInteger(kComDebug, QStringLiteral("BaudRate"), 19200);
    line.baudRate = IsAllowedBaudRate(rate) ? rate : 9600;
    line.parity = OfCode(kParityCodes, ini.ReadInteger(kComDebug, QStringLiteral("ParityBits"), 0));
    const int size = ini.ReadInteger(kComDebug, QStringLiteral("ByteSize"), 8);
    line.dataBits = size >= 5 && size <= 8 ? size : 8;
    line.stopBits = OfCode(kStopCodes, ini.ReadInteger(kComDebug, QStringLiteral("StopBits"), 0));
    line.flow = OfCode(kFlowCodes, ini.ReadInteger(kComDebug, QStringLiteral("FlowCont"), 0));
}

void WriteComDebugLine(IniFile& ini, const SerialLine& line)
{
    if (const auto number = PortNumberOfName(line.comName))
        ini.WriteInteger(kComDebug, QStringLiteral("Port"), *number);
    ini.WriteInteger(kComDebug, QStringLiteral("BaudRate"), line.baudRate);
    ini.WriteInteger(kComDebug, QStringLiteral("ParityBits"), CodeOf(kParityCodes, line.parity));
    ini.WriteInteger(kComDebug, QStringLiteral("ByteSize"), line.dataBits);
    ini.WriteInteger(kComDebug, QStringLiteral("StopBits"), CodeOf(kStopCodes, line.stopBits));
    ini.WriteInteger(kComDebug, QStringLiteral("FlowCont"), CodeOf(kFlowCodes, line.flow));
}

QString ComErrorText(unsigned flags)
{
    static const struct {
        unsigned flag;
        const char* name;
    } names[] = {{ComFrame, "Frame"}, {ComParity, "Parity"}, {ComOverrun, "Overrun"}, {ComBreak, "Break"},
                 {ComIo, "IO"},       {ComMode, "Mode"},     {ComRxOver, "RxOver"},   {ComTxFull, "TxFull"}};
    QStringList set;
    for (const auto& n : names) {
        if (flags & n.flag)
            set.append(QString::fromLatin1(n.name));
    }
    if (set.isEmpty())
        return QStringLiteral("<Ok>");
    return QStringLiteral("<ComError:") + set.join(QLatin1Char(',')) + QStringLiteral(">");
}

} // namespace nx7
