#pragma once
// The connection to the board at start: port dialog, engine creation, board check and the offer
// to drive a silent board into USB mode.
#include "comm/serial_line.h" // the port dialog's speed and parity items

#include <QString>

namespace nx7
{

class AppCore;
class TTComXDlg;

namespace diag
{
struct CauseAction;
} // namespace diag

// True when the link is up and the board passed the check. May ask the main window to close.
// `why` (optional) receives the cause and action of a failure (empty when the person cancelled).
bool ConnectBoard(AppCore& app, diag::CauseAction* why = nullptr);

// Why the link could not be opened (the serial device looked at: missing, held, no rights), and
// why a board stays silent on an open link, with the port and speed or address tried.
diag::CauseAction LinkOpenFailure(const AppCore& app, const TTComXDlg& engine);
diag::CauseAction BoardSilent(const AppCore& app, const TTComXDlg& engine);
// The board check; `useUsbOta` is the dialog's USE_USBOTA box (the USB route).
bool CheckIFB(AppCore& app, int timeoutMs, bool useUsbOta);
// Wi-Fi name and password, then the network block; on success refreshes the TCP settings.
bool ReadBoardNetParams(AppCore& app, int timeoutMs);

// Texts of the USB-mode offer.
QString UsbOfferText(int usbWaitMode);

} // namespace nx7
