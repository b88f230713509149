#pragma once
// What the COM-name map asks of the system, one file per platform: the device of a number by the
// table, and the serial devices the system reports.
#include "platform/com_names.h"

namespace nx7
{

// The table's device of "COM<number>"; empty outside the table.
QString TableDeviceOfNumber(int number);
// The serial devices the system reports, with their descriptions; `number` is left 0.
QList<SerialDevice> SystemSerialDevices();

} // namespace nx7
