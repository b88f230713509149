#include "platform/tick_clock.h"

#include <chrono>

namespace nx7
{

SteadyTickClock::SteadyTickClock(double scale, std::uint32_t offset)
    : m_scale(scale > 0 ? scale : 1.0)
    , m_offset(offset)
{
}

std::uint32_t SteadyTickClock::TickCount()
{
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    const auto scaled = static_cast<std::uint64_t>(static_cast<double>(ms) * m_scale);
    return static_cast<std::uint32_t>(scaled) + m_offset;
}

namespace
{
TickClock* g_clock = nullptr;
}

TickClock& Clock()
{
    static SteadyTickClock defaultClock;
    // Both operands are lvalues of the base type: no temporary is made.
    // cppcheck-suppress returnTempReference
    return g_clock ? *g_clock : defaultClock;
}

void SetClock(TickClock* clock)
{
    g_clock = clock;
}

} // namespace nx7
