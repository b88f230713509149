#pragma once
// The system's 32-bit millisecond tick counter (wraps after about 49.7 days), behind a small
// interface so tests can inject a clock and prove the wrap rules, and so long fixed waits can
// be compressed in end-to-end runs.
#include <cstdint>

namespace nx7
{

class TickClock
{
public:
    virtual ~TickClock() = default;
    virtual std::uint32_t TickCount() = 0;
    // How many clock milliseconds pass per real millisecond (1 for the real clock).
    virtual double Rate() const { return 1.0; }
};

// A steady clock; `scale` > 1 makes it run faster than real time (end-to-end runs only).
class SteadyTickClock : public TickClock
{
public:
    explicit SteadyTickClock(double scale = 1.0, std::uint32_t offset = 0);
    std::uint32_t TickCount() override;
    double Rate() const override { return m_scale; }

private:
    double m_scale;
    std::uint32_t m_offset;
};

// The process-wide clock. Defaults to a real steady clock.
TickClock& Clock();
// Replaces the process-wide clock (nullptr restores the default). The caller keeps ownership.
void SetClock(TickClock* clock);

} // namespace nx7
