#pragma once
// Text for a console window. A Windows console shows what its code page can spell, and that is
// rarely UTF-8: Japanese lines go to it as UTF-16. Elsewhere, and where the stream is a file or a
// pipe, the caller writes UTF-8 bytes itself.
#include <QString>
#include <cstdio>

namespace nx7
{

// Writes `line` and a line break to the console behind `stream`; false (nothing written) when
// `stream` is no console or the platform has none of its own.
bool WriteConsoleLine(std::FILE* stream, const QString& line);

} // namespace nx7
