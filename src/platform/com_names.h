#pragma once
// The COM-name map: serial devices are shown and stored as "COM" + number, as on Windows.
// On Linux /dev/ttyS<k> = k+1, /dev/ttyUSB<k> = k+33, /dev/ttyACM<k> = k+97; on Windows COM<n> is
// \\.\COM<n> and the system's list is the registry's SERIALCOMM key. Section "PortMap" of the
// settings file pins any path to a number (COM9=/dev/pts/4) and wins over the table.
#include <QList>
#include <QMap>
#include <QString>

namespace nx7
{

// Number of a device by the table alone; 0 when the path is not covered by it.
int ComNumberOfDevice(const QString& devicePath);

// Section "PortMap" of the settings file: number -> device path (numbers 1..255 only).
QMap<int, QString> ReadPortMap(const QString& iniPath);

// Device path of "COM<n>": the pinned path when there is one, else the table's path; empty when
// the name is no COM name or the number has no device.
QString DeviceOfComName(const QString& comName, const QString& iniPath);

struct SerialDevice {
    int number = 0;      // COM number
    QString device;      // device path
    QString description; // the system's description of the device
    QString manufacturer;
    QString serialNumber;
    int vendorId = -1;
    int productId = -1;
};

// Present serial devices with their COM numbers: the system's list mapped through the table and
// the pins, plus pinned devices that exist but that the system does not report. Devices with no
// number are left out. Not sorted.
QList<SerialDevice> PresentSerialDevices(const QString& iniPath);

} // namespace nx7
