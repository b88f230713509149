#include "platform/console_text.h"

#include <io.h>

#include "platform/win_api.h"

namespace nx7
{

bool WriteConsoleLine(std::FILE* stream, const QString& line)
{
    const intptr_t os = _get_osfhandle(_fileno(stream));
    if (os == -1)
        return false;
    HANDLE handle = reinterpret_cast<HANDLE>(os);
    DWORD mode = 0;
    if (!::GetConsoleMode(handle, &mode))
        return false; // a file or a pipe
    std::fflush(stream);
    const QString text = line + QLatin1Char('\n');
    DWORD written = 0;
    return ::WriteConsoleW(handle, text.utf16(), static_cast<DWORD>(text.size()), &written, nullptr) != FALSE;
}

} // namespace nx7
