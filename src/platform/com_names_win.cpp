#include "platform/com_names_system.h"

#include <QRegularExpression>

#include "platform/win_api.h"

namespace nx7
{

int ComNumberOfDevice(const QString& devicePath)
{
    static const QRegularExpression re(QStringLiteral("^(?:\\\\\\\\\\.\\\\)?COM([0-9]+)$"),
                                       QRegularExpression::CaseInsensitiveOption);
    const auto match = re.match(devicePath);
    if (!match.hasMatch())
        return 0;
    bool ok = false;
    const int number = match.captured(1).toInt(&ok);
    return ok && number >= 1 && number <= 255 ? number : 0;
}

QString TableDeviceOfNumber(int number)
{
    // The device namespace reaches every COM number, also those above 9.
    if (number < 1 || number > 255)
        return {};
    return QStringLiteral("\\\\.\\COM%1").arg(number);
}

QList<SerialDevice> SystemSerialDevices()
{
    // Every serial driver enters its ports here: value name the driver's device, data "COM<n>".
    QList<SerialDevice> devices;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return devices;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameLength = 256;
        wchar_t data[64];
        DWORD dataBytes = sizeof data;
        DWORD type = 0;
        const LONG rc = RegEnumValueW(key, index, name, &nameLength, nullptr, &type,
                                      reinterpret_cast<BYTE*>(data), &dataBytes);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        if (rc != ERROR_SUCCESS || type != REG_SZ)
            continue;
        const QString com =
            QString::fromWCharArray(data, static_cast<int>(dataBytes / sizeof(wchar_t))).trimmed();
        const int number = ComNumberOfDevice(QString(com).remove(QChar(0)));
        if (number == 0)
            continue;
        SerialDevice d;
        d.device = TableDeviceOfNumber(number);
        d.description = QString::fromWCharArray(name, static_cast<int>(nameLength));
        devices.append(d);
    }
    RegCloseKey(key);
    return devices;
}

} // namespace nx7
