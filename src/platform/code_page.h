#pragma once
// The system 8-bit code page of the board's texts, the uploader's output and the path check:
// Windows-31J (CP932) on every platform.
#include <QByteArray>
#include <QString>

namespace nx7
{

// Characters CP932 cannot represent become '?', as the Windows conversion's default character.
QByteArray ToAnsi(const QString& text);
// Bytes 0x00-0x7F decode to themselves; a lead byte without a trail byte after it (at the end, or
// before a byte that cannot follow it) and an unknown pair give U+FFFD.
QString FromAnsi(const QByteArray& bytes);
QString FromAnsi(const char* bytes, qsizetype count);
// How many of `bytes` end on a character boundary: all of them, or one fewer when the last byte is
// a lead byte still waiting for its trail byte (read the way FromAnsi reads).
qsizetype CompleteAnsiLength(const QByteArray& bytes);

} // namespace nx7
