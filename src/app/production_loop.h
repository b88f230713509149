#pragma once
// Board after board: write the present board, wait for the next one (the port comes back, or a
// board answers with another target id), check it as at start-up, write it; until a stop is asked
// for. Shared by the window's "連続書き込み" and the headless --repeat.
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

namespace nx7
{

class AppCore;

struct ProductionBoard {
    enum class Result { Ok, Ng, NotWritten, CheckFailed };
    QString targetId;
    QString versionBefore;
    QString versionAfter;
    Result result = Result::NotWritten;
};

struct ProductionSummary {
    int ok = 0;
    int ng = 0;
    int notWritten = 0;  // the write ended before it began (the join declined, the board silent)
    int checkFailed = 0; // boards that did not pass the start-up checks
    QList<ProductionBoard> boards;
    // The board the link leads to at the end passed the checks and has not been written: a loop
    // started again may begin with it.
    bool presentBoardWritable = false;

    int Written() const { return ok + ng; }
    // At least one board written, every one OK, none refused or left unwritten.
    bool AllOk() const { return Written() > 0 && ng == 0 && notWritten == 0 && checkFailed == 0; }
    // The log lines said when the loop ends.
    QStringList Lines() const;
};

struct ProductionLoopOptions {
    // Asked between steps and while waiting; AppCore::WriteAbortRequested also ends the loop.
    std::function<bool()> stopRequested;
    // How to stop, said with the waiting line ("Ctrl+C で終了します。").
    QString stopHint;
    // False: the present board was written already; the loop begins by waiting for the next one.
    bool writePresentBoard = true;
    // Pace of the presence probes and the wait for each answer (tick-clock milliseconds).
    int pollMs = 1000;
    int probeMs = 500;
};

// Runs until a stop is requested, then logs the summary and returns it. Needs the engine and a
// board that passed the start-up checks.
ProductionSummary RunProductionLoop(AppCore& app, const ProductionLoopOptions& options);

} // namespace nx7
