// Throughput of a 4 MiB upload through the real uploader and the board service on loopback,
// next to what this machine's loopback TCP allows for the same stop-and-wait pattern and for a
// plain stream. Not a test: it prints figures.
#include "ota/esp_image.h"
#include "ota/ota_device.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

constexpr qint64 kSize = 4 * 1024 * 1024;
constexpr int kRounds = 3;

double MBps(qint64 bytes, double ms)
{
    return ms > 0 ? (static_cast<double>(bytes) / 1e6) / (ms / 1000.0) : 0.0;
}

void NoDelay(int fd)
{
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// A connected loopback pair: {client, accepted}.
bool LoopbackPair(int* client, int* server)
{
    const int lfd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(lfd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(lfd, 1) != 0 ||
        getsockname(lfd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        close(lfd);
        return false;
    }
    *client = socket(AF_INET, SOCK_STREAM, 0);
    if (connect(*client, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(lfd);
        return false;
    }
    *server = accept(lfd, nullptr, nullptr);
    close(lfd);
    NoDelay(*client);
    NoDelay(*server);
    return *server >= 0;
}

// The transfer pattern of the upload without any of its software: 1024-byte chunks, each
// answered by a count from a reader taking at most 1460 bytes per read.
double RawStopAndWaitMs()
{
    int c = -1, s = -1;
    if (!LoopbackPair(&c, &s))
        return -1;
    std::thread board([s] {
        char buf[1460];
        qint64 got = 0;
        while (got < kSize) {
            const ssize_t n = recv(s, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            got += n;
            char count[16];
            const int m = std::snprintf(count, sizeof count, "%zd", n);
            if (send(s, count, static_cast<size_t>(m), MSG_NOSIGNAL) != m)
                break;
        }
    });
    std::vector<char> chunk(1024, 'x');
    char answer[64];
    QElapsedTimer t;
    t.start();
    for (qint64 sent = 0; sent < kSize; sent += 1024) {
        if (send(c, chunk.data(), chunk.size(), MSG_NOSIGNAL) != 1024 ||
            recv(c, answer, sizeof answer, 0) <= 0)
            break;
    }
    const double ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
    board.join();
    close(c);
    close(s);
    return ms;
}

double RawStreamMs()
{
    int c = -1, s = -1;
    if (!LoopbackPair(&c, &s))
        return -1;
    std::thread board([s] {
        std::vector<char> buf(64 * 1024);
        qint64 got = 0;
        while (got < kSize) {
            const ssize_t n = recv(s, buf.data(), buf.size(), 0);
            if (n <= 0)
                break;
            got += n;
        }
        send(s, "OK", 2, MSG_NOSIGNAL);
    });
    std::vector<char> block(64 * 1024, 'x');
    char answer[4];
    QElapsedTimer t;
    t.start();
    for (qint64 sent = 0; sent < kSize; sent += static_cast<qint64>(block.size())) {
        if (send(c, block.data(), block.size(), MSG_NOSIGNAL) <= 0)
            break;
    }
    recv(c, answer, sizeof answer, 0);
    const double ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
    board.join();
    close(c);
    close(s);
    return ms;
}

struct UploadTiming {
    bool ok = false;
    double wallMs = 0;     // process start to exit
    double transferMs = 0; // the data phase as the uploader measured it
};

UploadTiming Upload(const QString& file)
{
    UploadTiming r;
    nx7::ota::OtaDeviceConfig cfg;
    cfg.port = 0;
    cfg.password = "KW5GDH4072";
    nx7::ota::OtaDeviceService device(cfg);
    if (!device.Start())
        return r;
    bool deviceOk = false;
    QObject::connect(&device, &nx7::ota::OtaDeviceService::TransferFinished,
                     [&deviceOk](bool ok, const QByteArray&, const QString&) { deviceOk = ok; });
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    QEventLoop loop;
    QObject::connect(&p, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    QElapsedTimer t;
    t.start();
    p.start(QStringLiteral(NX7_ESPOTA_PATH),
            {QStringLiteral("-i"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
             QString::number(device.Port()), QStringLiteral("--auth=KW5GDH4072"), QStringLiteral("-d"),
             QStringLiteral("-f"), file});
    loop.exec();
    r.wallMs = static_cast<double>(t.nsecsElapsed()) / 1e6;
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished(2000);
        return r;
    }
    const QString out = QString::fromLocal8Bit(p.readAll());
    const auto m = QRegularExpression(QStringLiteral("Sent \\d+ bytes in (\\d+) ms")).match(out);
    r.transferMs = m.hasMatch() ? m.captured(1).toDouble() : 0;
    r.ok = p.exitCode() == 0 && deviceOk;
    if (!r.ok)
        std::fprintf(stderr, "%s\n", qPrintable(out));
    return r;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("UOf.bin"));
    {
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly) ||
            f.write(nx7::ota::BuildAppImage(QStringLiteral("3030KMT27"), QStringLiteral("ifb"), kSize)) <=
                0) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    std::vector<double> wall, transfer, stopWait, stream;
    for (int i = 0; i < kRounds; ++i) {
        const UploadTiming u = Upload(file);
        if (!u.ok) {
            std::fprintf(stderr, "upload %d failed\n", i + 1);
            return 1;
        }
        wall.push_back(u.wallMs);
        transfer.push_back(u.transferMs);
        stopWait.push_back(RawStopAndWaitMs());
        stream.push_back(RawStreamMs());
    }
    const double w = Median(wall), tr = Median(transfer), sw = Median(stopWait), st = Median(stream);
    std::printf("OTA upload of %lld bytes on loopback (median of %d)\n", static_cast<long long>(kSize),
                kRounds);
    std::printf("  espota + board service, whole run   : %8.1f ms  %7.2f MB/s\n", w, MBps(kSize, w));
    std::printf("  espota + board service, data phase  : %8.1f ms  %7.2f MB/s\n", tr, MBps(kSize, tr));
    std::printf("  raw TCP, 1024-byte stop-and-wait    : %8.1f ms  %7.2f MB/s\n", sw, MBps(kSize, sw));
    std::printf("  raw TCP, streamed                   : %8.1f ms  %7.2f MB/s\n", st, MBps(kSize, st));
    std::printf("  goal: well above 2 MB/s\n");
    return 0;
}
