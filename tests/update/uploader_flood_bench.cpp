// Memory figure of the uploader run: the real tool, headless, writes to ifb-sim while the uploader
// prints without pause (`yes`) for a few seconds. Prints the tool's peak resident set size and how
// much of the flood reached its log. Not a test: run by scripts/bench.sh.
#include "e2e/e2e_support.h"

#include <QCoreApplication>
#include <QFile>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

using namespace nx7::e2e;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 4;

    ToolFolder folder;
    if (!folder.ok()) {
        std::fprintf(stderr, "cannot prepare the tool folder\n");
        return 1;
    }
    const QString uploader = folder.Path(QStringLiteral("espota"));
    QFile f(uploader);
    if (!f.open(QIODevice::WriteOnly))
        return 1;
    f.write(
        QStringLiteral("#!/bin/sh\ntimeout %1 yes 'Uploading: [=========                ] 45% '\nexit 0\n")
            .arg(seconds)
            .toUtf8());
    f.close();
    f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    folder.AppendIni(QStringLiteral("[Option]\nComPort=9\nCHK_IFB_TIME=1200\nCONECT_WAIT_TIME=4000\n"
                                    "Prog_WAIT_TIME=8000\nApp_ESPOta=%1\n")
                         .arg(uploader));
    Simulator sim;
    if (!sim.Start(folder.Ini(), 9, folder.Path(QStringLiteral("record.txt")),
                   {"--restart-ms", "60", "--mode", "0x0105", "--ota-result", "OK", "--rom-after-update",
                    "3030KMT27", "--ota-result-delay-ms", "100"})) {
        std::fprintf(stderr, "ifb-sim did not start: %s\n", qPrintable(sim.Stderr()));
        return 1;
    }
    const RunResult r = folder.Run({"--headless", "--write", "--yes"}, 120000, {"NX7IFBPROG_TIME_SCALE=4"});
    struct rusage usage = {};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    qint64 logChars = 0;
    for (const QString& line : r.out)
        logChars += line.size() + 1;
    std::printf("uploader flood of %d s: exit %d, tool peak RSS %.1f MB, log %lld lines / %lld chars\n",
                seconds, r.exitCode, static_cast<double>(usage.ru_maxrss) / 1024.0,
                static_cast<long long>(r.out.size()), static_cast<long long>(logChars));
    return r.finished ? 0 : 1;
}
