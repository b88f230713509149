#include "support/wait_until.h"

#include "platform/event_wait.h"

#include <QElapsedTimer>

namespace nx7::test
{

bool WaitUntil(const std::function<bool()>& done, int realMs)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() >= realMs)
            return false;
        WaitForEvents(10);
    }
    return true;
}

} // namespace nx7::test
