#include "platform/console_text.h"

namespace nx7
{

bool WriteConsoleLine(std::FILE*, const QString&)
{
    return false;
}

} // namespace nx7
