#include "comm/win_serial_link.h"

#include "platform/com_names.h"
#include "platform/event_wait.h"
#include "platform/ini_file.h"

#include "platform/win_api.h"

#include <QAbstractEventDispatcher>

namespace nx7
{

namespace
{

// How long one ReadFile waits for a first byte. A write on this handle waits for a pending read
// (Windows serialises I/O on a handle opened without FILE_FLAG_OVERLAPPED), so this also bounds how
// late a write starts (each request would wait up to this long for its turn); and it is how soon
// the reader sees a Close(). 200 short waits a second cost next to nothing.
constexpr DWORD kReadSliceMs = 5;
constexpr DWORD kReadChunk = 4096;

BYTE WinParity(Parity parity)
{
    switch (parity) {
    case Parity::Odd:
        return ODDPARITY;
    case Parity::Even:
        return EVENPARITY;
    case Parity::Mark:
        return MARKPARITY;
    case Parity::Space:
        return SPACEPARITY;
    case Parity::None:
        break;
    }
    return NOPARITY;
}

BYTE WinStopBits(StopBits bits)
{
    switch (bits) {
    case StopBits::OneAndHalf:
        return ONE5STOPBITS;
    case StopBits::Two:
        return TWOSTOPBITS;
    case StopBits::One:
        break;
    }
    return ONESTOPBIT;
}

} // namespace

WinSerialLink::WinSerialLink(const SerialLine& line, const QString& settingsPath)
    : m_line(line)
    , m_settingsPath(settingsPath)
{
}

WinSerialLink::~WinSerialLink()
{
    Close();
}

bool WinSerialLink::Open()
{
    Close();
    // A pin of the port map wins; else \\.\COM<n>, which reaches every number.
    const QString path = DeviceOfComName(m_line.comName, m_settingsPath);
    if (path.isEmpty())
        return false;
    HANDLE h = ::CreateFileW(reinterpret_cast<LPCWSTR>(path.utf16()), GENERIC_READ | GENERIC_WRITE, 0,
                             nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    m_handle = h;
    if (!ApplyLine()) {
        ::CloseHandle(h);
        m_handle = nullptr;
        return false;
    }
    ::PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT);
    // Both lines are held off; with hardware flow control the driver owns RTS. A port that has no
    // control lines (a mapped pseudo-terminal) refuses these, which does no harm.
    Escape(CLRDTR);
    if (m_line.flow != FlowControl::Hardware)
        Escape(CLRRTS);
    m_stop = false;
    const unsigned generation = ++m_generation;
    m_reader = std::thread([this, h, generation] { ReadLoop(h, generation); });
    return true;
}

bool WinSerialLink::ApplyLine()
{
    HANDLE h = m_handle;
    ::SetupComm(h, kReadChunk, kReadChunk);
    DCB dcb = {};
    dcb.DCBlength = sizeof(dcb);
    if (!::GetCommState(h, &dcb))
        return false;
    dcb.BaudRate = static_cast<DWORD>(m_line.baudRate);
    dcb.ByteSize = static_cast<BYTE>(m_line.dataBits);
    dcb.Parity = WinParity(m_line.parity);
    dcb.StopBits = WinStopBits(m_line.stopBits);
    dcb.fBinary = TRUE;
    dcb.fParity = m_line.parity != Parity::None;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    const bool hardware = m_line.flow == FlowControl::Hardware;
    const bool software = m_line.flow == FlowControl::Software;
    dcb.fOutxCtsFlow = hardware;
    dcb.fRtsControl = hardware ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_DISABLE;
    dcb.fOutX = software;
    dcb.fInX = software;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.XonLim = kReadChunk / 4;
    dcb.XoffLim = kReadChunk / 4;
    if (!::SetCommState(h, &dcb))
        return false;
    // A read returns at once with what has come, or after kReadSliceMs with the first byte or
    // nothing. A write may take 100 ms a byte plus a second, as on the other platforms.
    COMMTIMEOUTS timeouts = {};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = kReadSliceMs;
    timeouts.WriteTotalTimeoutMultiplier = 100;
    timeouts.WriteTotalTimeoutConstant = 1000;
    return ::SetCommTimeouts(h, &timeouts) != FALSE;
}

void WinSerialLink::Close()
{
    if (!m_handle)
        return;
    m_stop = true;
    ++m_generation; // whatever the reader already posted is stale now
    if (m_reader.joinable())
        m_reader.join();
    ::CloseHandle(static_cast<HANDLE>(m_handle));
    m_handle = nullptr;
}

bool WinSerialLink::IsUp() const
{
    return m_handle != nullptr;
}

void WinSerialLink::ReadSettings(const IniFile& ini)
{
    ReadComDebugLine(ini, m_line);
}

void WinSerialLink::WriteSettings(IniFile& ini) const
{
    WriteComDebugLine(ini, m_line);
}

void WinSerialLink::ReadLoop(void* handle, unsigned generation)
{
    HANDLE h = static_cast<HANDLE>(handle);
    char buffer[kReadChunk];
    while (!m_stop) {
        DWORD got = 0;
        if (!::ReadFile(h, buffer, kReadChunk, &got, nullptr)) {
            if (m_stop)
                return;
            DWORD errors = 0;
            ::ClearCommError(h, &errors, nullptr);
            QMetaObject::invokeMethod(
                this, [this, generation] { ReportLoss(generation); }, Qt::QueuedConnection);
            return;
        }
        if (got > 0) {
            QByteArray bytes(buffer, static_cast<qsizetype>(got));
            QMetaObject::invokeMethod(
                this, [this, bytes, generation] { Deliver(bytes, generation); }, Qt::QueuedConnection);
        }
    }
}

void WinSerialLink::Deliver(const QByteArray& bytes, unsigned generation)
{
    if (generation != m_generation || !m_handle)
        return;
    emit Received(bytes);
    // The engine waits for a reply inside processEvents(WaitForMoreEvents); the Windows event
    // dispatcher stays in it after delivering this posted call, until the wait's timer ends it
    // (up to 50 ms a reply). The bytes are what the wait is for: end it now.
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
        dispatcher->interrupt();
}

void WinSerialLink::ReportLoss(unsigned generation)
{
    if (generation != m_generation || !m_handle)
        return;
    emit Trace(ComErrorText(ComIo), false);
    // Said at once and whatever the trace switches: the long waits that follow need a cause.
    emit Trace(QStringLiteral("ポート ") + m_line.comName + QStringLiteral(" との接続が切れました"), true);
    Close();
    emit ConnectionChanged(false);
}

int WinSerialLink::Write(const std::uint8_t* bytes, int count)
{
    if (!m_handle || count <= 0)
        return 0;
    HANDLE h = static_cast<HANDLE>(m_handle);
    DWORD written = 0;
    if (!::WriteFile(h, bytes, static_cast<DWORD>(count), &written, nullptr)) {
        DWORD errors = 0;
        ::ClearCommError(h, &errors, nullptr);
        emit Trace(ComErrorText(errors ? static_cast<unsigned>(errors) : static_cast<unsigned>(ComIo)),
                   false);
        return 0;
    }
    // Success means the bytes were taken: Wine reports 0 written for writes that went out, so the
    // count is not trusted.
    return count;
}

void WinSerialLink::Escape(unsigned function)
{
    if (m_handle)
        ::EscapeCommFunction(static_cast<HANDLE>(m_handle), function);
}

void WinSerialLink::ResetPulse()
{
    if (!m_handle)
        return;
    Escape(SETRTS);
    Escape(SETDTR);
    Escape(CLRDTR);
    PumpSleep(100);
    Escape(SETDTR);
}

} // namespace nx7
