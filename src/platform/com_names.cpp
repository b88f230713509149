#include "platform/com_names.h"

#include "platform/com_names_system.h"
#include "platform/ini_file.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace nx7
{

QMap<int, QString> ReadPortMap(const QString& iniPath)
{
    QMap<int, QString> map;
    IniFile ini;
    if (!ini.Load(iniPath))
        return map;
    const QString section = QStringLiteral("PortMap");
    for (const QString& key : ini.Keys(section)) {
        if (!key.startsWith(QLatin1String("COM"), Qt::CaseInsensitive))
            continue;
        bool ok = false;
        const int number = key.mid(3).toInt(&ok, 10);
        if (!ok || number < 1 || number > 255)
            continue;
        const QString path = ini.ReadString(section, key, QString()).trimmed();
        if (!path.isEmpty())
            map.insert(number, path);
    }
    return map;
}

QString DeviceOfComName(const QString& comName, const QString& iniPath)
{
    if (!comName.startsWith(QLatin1String("COM"), Qt::CaseInsensitive))
        return {};
    bool ok = false;
    const int number = comName.mid(3).toInt(&ok, 10);
    if (!ok)
        return {};
    const QMap<int, QString> pins = ReadPortMap(iniPath);
    if (pins.contains(number))
        return pins.value(number);
    return TableDeviceOfNumber(number);
}

namespace
{
// Pins are often links (/dev/serial/by-id/...): compare the devices they lead to, or the system's
// device would be listed twice, under its table number and under the pin.
QString DeviceIdentity(const QString& path)
{
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? info.absoluteFilePath() : canonical;
}
} // namespace

QList<SerialDevice> PresentSerialDevices(const QString& iniPath)
{
    const QMap<int, QString> pins = ReadPortMap(iniPath);
    QMap<QString, int> pinnedByPath;
    for (auto it = pins.cbegin(); it != pins.cend(); ++it)
        pinnedByPath.insert(DeviceIdentity(it.value()), it.key());

    QList<SerialDevice> devices;
    QMap<int, bool> seen;
    for (SerialDevice d : SystemSerialDevices()) {
        const QString canonical = DeviceIdentity(d.device);
        if (pinnedByPath.contains(canonical))
            d.number = pinnedByPath.value(canonical);
        else
            d.number = ComNumberOfDevice(d.device);
        // A table number that a pin has taken for another device stays with the pin.
        if (d.number == 0 || (pins.contains(d.number) && !pinnedByPath.contains(canonical)))
            continue;
        seen.insert(d.number, true);
        devices.append(d);
    }
    for (auto it = pins.cbegin(); it != pins.cend(); ++it) {
        if (seen.contains(it.key()) || !QFileInfo::exists(it.value()))
            continue;
        SerialDevice d;
        d.number = it.key();
        d.device = it.value();
        devices.append(d);
    }
    return devices;
}

} // namespace nx7
