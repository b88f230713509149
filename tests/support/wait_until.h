#pragma once
// The tests' one way to wait for something that happens in the event loop.
#include <functional>

namespace nx7::test
{

// Runs the event loop (blocking until an event arrives, at most 10 ms at a time) until `done`
// holds or `realMs` real milliseconds have passed. Returns whether `done` held; with a `done` that
// never holds it is a pause that keeps sockets, timers and child processes served.
bool WaitUntil(const std::function<bool()>& done, int realMs = 5000);

} // namespace nx7::test
