#pragma once
#include "platform/tick_clock.h"

#include <cstdint>

namespace nx7::test
{

// A tick clock the test moves by hand; installs itself as the program's clock while it lives.
class ManualClock : public TickClock
{
public:
    explicit ManualClock(std::uint32_t start = 0)
        : m_now(start)
    {
        SetClock(this);
    }
    ~ManualClock() override { SetClock(nullptr); }
    std::uint32_t TickCount() override { return m_now; }
    void Advance(std::uint32_t ms) { m_now += ms; }
    void Set(std::uint32_t now) { m_now = now; }

private:
    std::uint32_t m_now;
};

} // namespace nx7::test
