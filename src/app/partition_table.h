#pragma once
// Reading the spiffs offset out of a partition table (CSV) for the parameter dialog.
#include <QByteArray>
#include <QStringList>
#include <optional>

namespace nx7
{

// Splits a line as a comma-separated list does: commas and blanks separate fields, a field in
// double quotes may hold blanks ("" inside it is one quote).
QStringList SplitCommaText(const QString& line);

// The offset of the table's last spiffs line (a line of five fields or more whose third is
// "spiffs" in any case; an offset that is no number counts as 0); none without such a line. The
// text is CP932 unless a byte-order mark names its encoding.
std::optional<int> SpiffsOffsetOf(const QByteArray& table);

} // namespace nx7
