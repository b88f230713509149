// Entry point of the test build only: end-to-end runs compress the protocol's long fixed waits
// (NX7IFBPROG_TIME_SCALE) and inject the adapter list (NX7IFBPROG_ADAPTERS). The shipped executable
// has no such entry.
#include "app/app_main.h"
#include "platform/adapters.h"
#include "platform/tick_clock.h"

#include <QList>
#include <QString>
#include <cstdlib>
#include <memory>
#include <optional>

int main(int argc, char** argv)
{
    std::unique_ptr<nx7::SteadyTickClock> clock;
    if (const char* scale = std::getenv("NX7IFBPROG_TIME_SCALE")) {
        const double factor = std::atof(scale);
        if (factor > 0) {
            clock = std::make_unique<nx7::SteadyTickClock>(factor);
            nx7::SetClock(clock.get());
        }
    }
    if (const char* adapters = std::getenv("NX7IFBPROG_ADAPTERS")) {
        const QList<nx7::AdapterInfo> list = nx7::ParseAdapterList(QString::fromUtf8(adapters));
        nx7::SetAdapterProvider([list] { return std::optional<QList<nx7::AdapterInfo>>(list); });
    }
    const int status = nx7::RunApplication(argc, argv);
    nx7::SetClock(nullptr);
    return status;
}
