#pragma once
// The main window's first show (start-up verification) and its close (shutdown with the
// operation-mode restore). Shared by the window and the headless front-end.

#include "diag/diag_texts.h"

#include <QString>
#include <optional>

namespace nx7
{

class AppCore;

// Why a board did not pass the start-up checks: the refusal's text and caption (empty: the
// default error caption), and the cause and action where one is known.
struct BoardCheckFailure {
    QString text;
    QString caption;
    diag::CauseAction why;
};

// True when the window is ready for the write command; false after a refusal (the main window has
// then been asked to close).
bool FormShow(AppCore& app);
// Saves the settings, restores the board's operation mode, saves "ComDebug" and takes the engine
// down. Never refuses the close.
void FormCloseQuery(AppCore& app);
// The start-up checks on the board at the other end of the present link, without any dialog: the
// board check (mode, restart, Wi-Fi and network settings), then ROM version, model and target id.
// For a board that replaced the one checked at start-up. Nothing when it passed.
std::optional<BoardCheckFailure> CheckNextBoard(AppCore& app);
// The hidden "リスタート " item.
void ESP32_RestartClick(AppCore& app);

} // namespace nx7
