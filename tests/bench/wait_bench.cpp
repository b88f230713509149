// What a reply wait costs against a board on a real pseudo-terminal:
//  1. process CPU time during a WaitReply for a reply that never comes (goal: < 1% of a core);
//  2. delay from the reply's bytes reaching the line to WaitReply returning (goal: <= 50 ms;
//     frames are assembled as their bytes arrive, so the median is a few milliseconds, not half
//     a timer tick).
// The board is a thread on the pty's master side that answers after a random pause.
// Options: --seconds N (silent wait, default 10), --samples N (default 60).
#include "comm/engine.h"
#include "comm/frame_codec.h"
#include "support/pty_pair.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <random>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

using SteadyClock = std::chrono::steady_clock;

double ProcessCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Reads requests on the master side; when `answer` is set, replies to each after a random pause
// and records when the reply's bytes were written.
class Board
{
public:
    explicit Board(int masterFd)
        : m_fd(masterFd)
        , m_thread([this] { Run(); })
    {
    }
    ~Board()
    {
        m_stop = true;
        m_thread.join();
    }
    std::atomic<bool> answer{false};
    std::atomic<std::int64_t> replyWrittenNs{0};

private:
    void Run()
    {
        std::mt19937 rng(11);
        const std::vector<std::uint8_t> data{0x00, 0x05, 0x00, 0x01, 0x00};
        const auto reply = nx7::codec::BuildFrame(0, 0x30, data);
        while (!m_stop) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0)
                continue;
            char buf[512];
            if (::read(m_fd, buf, sizeof buf) <= 0 || !answer)
                continue;
            // Requests are 8 bytes; one read holds one.
            std::this_thread::sleep_for(std::chrono::microseconds(rng() % 100000));
            replyWrittenNs = SteadyClock::now().time_since_epoch().count();
            if (::write(m_fd, reply.data(), reply.size()) < 0)
                std::perror("write");
        }
    }
    int m_fd;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

int Arg(int argc, char** argv, const char* name, int def)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0)
            return std::atoi(argv[i + 1]);
    }
    return def;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = Arg(argc, argv, "--seconds", 10);
    const int samples = Arg(argc, argv, "--samples", 60);

    QTemporaryDir dir;
    nx7::test::PtyPair pty;
    const QString ini = dir.filePath(QStringLiteral("bench.ini"));
    if (!pty.ok() || !nx7::test::PinPort(ini, 9, pty.slavePath())) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }
    nx7::TTComXDlg engine(0, 0, 0, QString(), 0, 9, 4, 0, nullptr, nullptr, ini);
    if (!engine.IsConnected()) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(pty.slavePath()));
        return 1;
    }
    QTimer timer1;
    timer1.setTimerType(Qt::PreciseTimer);
    timer1.setInterval(50);
    QObject::connect(&timer1, &QTimer::timeout, [&] { engine.AssembleFrames(); });
    timer1.start();
    Board board(pty.masterFd());

    // 1. A wait that sees nothing.
    const std::vector<std::uint8_t> request{0x00};
    engine.SendRequest(request, false);
    const double cpu0 = ProcessCpuSeconds();
    const auto t0 = SteadyClock::now();
    const bool got = engine.WaitReply(2, seconds * 1000);
    const double wall = std::chrono::duration<double>(SteadyClock::now() - t0).count();
    const double cpu = ProcessCpuSeconds() - cpu0;
    const double share = 100.0 * cpu / wall;
    std::printf("silent wait: %.2f s wall, %.4f s CPU = %.3f%% of a core (goal < 1%%) %s%s\n", wall, cpu,
                share, share < 1.0 ? "PASS" : "FAIL", got ? " [unexpected reply]" : "");

    // 2. Reply delay.
    board.answer = true;
    std::vector<double> delays;
    for (int i = 0; i < samples; ++i) {
        board.replyWrittenNs = 0;
        engine.SendRequest(request, false);
        const bool ok = engine.WaitReply(2, 2000);
        const auto end = SteadyClock::now().time_since_epoch().count();
        if (!ok || board.replyWrittenNs == 0) {
            std::printf("sample %d: no reply\n", i);
            continue;
        }
        delays.push_back(static_cast<double>(end - board.replyWrittenNs) / 1e6);
    }
    if (delays.empty())
        return 1;
    std::sort(delays.begin(), delays.end());
    const auto at = [&](double q) {
        return delays[static_cast<std::size_t>(q * static_cast<double>(delays.size() - 1))];
    };
    std::printf("reply delay over %zu samples: min %.1f ms, median %.1f ms, p90 %.1f ms, max %.1f ms "
                "(goal max <= 50, median a few ms) %s\n",
                delays.size(), delays.front(), at(0.5), at(0.9), delays.back(),
                delays.back() <= 50.0 ? "PASS" : "FAIL");
    return 0;
}
