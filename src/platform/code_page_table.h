#pragma once
// The code page 932 table of the system, one file per platform: Qt's converter on Linux, the
// Win32 conversion functions on Windows (a Qt built without ICU has no CP932 of its own).
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace nx7
{

// The characters of a run of double-byte pairs, as the table converts them (a pair the table does
// not know may give a substitute character or none).
QString DecodeTablePairs(QByteArrayView pairs);
// The bytes of one character, or empty when the table has no exact form for it.
QByteArray EncodeTableChar(char16_t c);

} // namespace nx7
