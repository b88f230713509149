#pragma once
// Waiting while keeping the window alive, without spinning a core: every wait blocks in Qt's
// event loop until an event arrives or a short bound passes.
#include <cstdint>

namespace nx7
{

// Processes the events that are pending now; does not block.
void ProcessPendingEvents();
// Blocks until at least one event has arrived or `maxRealMs` real milliseconds have passed,
// processing what arrived. The flows' "process pending messages" in a wait loop.
void WaitForEvents(int maxRealMs = 20);
// A pause of `ms` milliseconds on the program's tick clock that keeps processing events.
void PumpSleep(std::uint32_t ms);

} // namespace nx7
