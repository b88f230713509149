// Windows names its serial ports itself: a COM name is the device, and the present ports are the
// ones the serial drivers list in the registry. The port map of the settings file has no meaning
// here and is not read.
#include "platform/com_names.h"

#include <QRegularExpression>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace nx7
{

int ComNumberOfDevice(const QString& devicePath)
{
    static const QRegularExpression re(QStringLiteral("^(?:\\\\\\\\\\.\\\\)?COM([0-9]{1,3})$"),
                                       QRegularExpression::CaseInsensitiveOption);
    const auto match = re.match(devicePath);
    if (!match.hasMatch())
        return 0;
    const int number = match.captured(1).toInt();
    return number >= 1 && number <= 255 ? number : 0;
}

QMap<int, QString> ReadPortMap(const QString&)
{
    return {};
}

QString DeviceOfComName(const QString& comName, const QString&)
{
    const int number = ComNumberOfDevice(comName);
    return number ? QStringLiteral("COM%1").arg(number) : QString();
}

QList<SerialDevice> PresentSerialDevices(const QString&)
{
    QList<SerialDevice> devices;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return devices;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameLength = 256;
        wchar_t data[64] = {};
        DWORD dataBytes = sizeof(data) - sizeof(wchar_t); // room for a terminator the data may lack
        DWORD type = 0;
        const LONG rc = ::RegEnumValueW(key, index, name, &nameLength, nullptr, &type,
                                        reinterpret_cast<BYTE*>(data), &dataBytes);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        if (rc != ERROR_SUCCESS || type != REG_SZ)
            continue;
        const QString port = QString::fromWCharArray(data).trimmed();
        SerialDevice d;
        d.number = ComNumberOfDevice(port);
        if (d.number == 0)
            continue;
        d.device = QStringLiteral("COM%1").arg(d.number);
        d.description =
            QString::fromWCharArray(name, static_cast<qsizetype>(nameLength)); // the driver's device
        devices.append(d);
    }
    ::RegCloseKey(key);
    return devices;
}

} // namespace nx7
