#pragma once
// The main window's first show (start-up verification) and its close (shutdown with the
// operation-mode restore). Shared by the window and the headless front-end.

namespace nx7
{

class AppCore;

// True when the window is ready for the write command; false after a refusal (the main window has
// then been asked to close).
bool FormShow(AppCore& app);
// Saves the settings, restores the board's operation mode, saves "ComDebug" and takes the engine
// down. Never refuses the close.
void FormCloseQuery(AppCore& app);
// The hidden "リスタート " item.
void ESP32_RestartClick(AppCore& app);

} // namespace nx7
