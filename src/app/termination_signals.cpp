#include "app/termination_signals.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace nx7
{

#ifdef Q_OS_UNIX
namespace
{

int g_pipe[2] = {-1, -1};
// A closed terminal (SIGHUP) and SIGQUIT end a write as SIGTERM does, instead of leaving the board
// in OTA mode and the image behind.
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kSignalCount = sizeof(kSignals) / sizeof(kSignals[0]);
struct sigaction g_old[kSignalCount];
struct sigaction g_oldPipe;

void Handler(int signo)
{
    const int saved = errno;
    // A closed terminal often takes the reader of piped output along (`... | tee`): writing on must
    // not kill the tool before it has put the board back.
    if (signo == SIGHUP) {
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        ::sigaction(SIGPIPE, &ignore, nullptr);
    }
    const char byte = static_cast<char>(signo);
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

} // namespace
#endif

TerminationSignals::TerminationSignals(std::function<void(int)> onSignal, QObject* parent)
    : QObject(parent)
    , m_onSignal(std::move(onSignal))
{
#ifdef Q_OS_UNIX
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_pipe) != 0)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &TerminationSignals::Drain);
    struct sigaction action = {};
    action.sa_handler = Handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGPIPE, nullptr, &g_oldPipe);
    for (int i = 0; i < kSignalCount; ++i)
        ::sigaction(kSignals[i], &action, &g_old[i]);
#endif
}

TerminationSignals::~TerminationSignals()
{
#ifdef Q_OS_UNIX
    if (!m_notifier)
        return;
    for (int i = 0; i < kSignalCount; ++i)
        ::sigaction(kSignals[i], &g_old[i], nullptr);
    ::sigaction(SIGPIPE, &g_oldPipe, nullptr);
    m_notifier.reset();
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
#endif
}

void TerminationSignals::Drain()
{
#ifdef Q_OS_UNIX
    char byte = 0;
    while (::read(g_pipe[0], &byte, 1) == 1) {
        if (m_onSignal)
            m_onSignal(static_cast<unsigned char>(byte));
    }
#endif
}

} // namespace nx7
