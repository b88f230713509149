#pragma once
// The converter under the code page functions (code_page.cpp): Qt's Windows-31J codec, or on
// Windows the system's own code page 932 (Qt there has no codec for it).
#include <QByteArray>
#include <QString>

namespace nx7::cp932
{

// The CP932 form of one BMP character other than ASCII and the single bytes code_page.cpp maps
// itself, or "?".
QByteArray EncodeChar(char16_t c);
// Well-formed lead and trail byte pairs (an even count): one character each, U+FFFD for a pair
// the code page does not know.
QString DecodePairs(const QByteArray& pairs);

} // namespace nx7::cp932
