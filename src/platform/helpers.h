#pragma once
// Small helpers shared by the flows: text pieces, port names, the path check and the
// flow-level stopwatch.
#include <QString>
#include <cstdint>
#include <optional>

namespace nx7
{

// The piece of at most `count` characters of `text` that begins at the 1-based `start`.
QString SubText(const QString& text, int start, int count);

// The decimal number after the first three characters ("COM12" -> 12). std::nullopt when that
// tail is not a valid decimal integer: the caller must handle it.
[[nodiscard]] std::optional<int> PortNumberOfName(const QString& name);

// "COM" followed by the decimal number.
QString PortNameOfNumber(int number);

// True when the path in CP932 holds no byte above 128.
bool IsPlainAnsiPath(const QString& path);

// One program-wide stopwatch on the tick clock. Mode 0 starts it (true); mode 1 is true when
// `timeoutMs` have passed since the last start (modulo 2^32); any other mode is false.
bool Deadline(int mode, std::uint32_t timeoutMs);

// Sets a flag for as long as it lives (a state that holds during one step, on every way out).
class ScopedFlag
{
public:
    explicit ScopedFlag(bool& flag)
        : m_flag(flag)
    {
        m_flag = true;
    }
    ~ScopedFlag() { m_flag = false; }
    ScopedFlag(const ScopedFlag&) = delete;
    ScopedFlag& operator=(const ScopedFlag&) = delete;

private:
    bool& m_flag;
};

// printf-style number texts used where reply bytes are shown.
inline QString UnsignedText(std::uint32_t value)
{
    return QString::number(value);
}

} // namespace nx7
