#include "platform/helpers.h"

#include "platform/code_page.h"
#include "platform/tick_clock.h"

namespace nx7
{

QString SubText(const QString& text, int start, int count)
{
    if (text.size() < start || count < 1)
        return {};
    if (start < 1)
        start = 1;
    return text.mid(start - 1, count);
}

std::optional<int> PortNumberOfName(const QString& name)
{
    const QString tail = SubText(name, 4, static_cast<int>(name.size()) - 3);
    if (tail.isEmpty())
        return std::nullopt;
    // Signed decimal: an optional sign, then digits only.
    int i = 0;
    if (tail.at(0) == QLatin1Char('-') || tail.at(0) == QLatin1Char('+'))
        i = 1;
    if (i >= tail.size())
        return std::nullopt;
    for (int k = i; k < tail.size(); ++k) {
        if (tail.at(k) < QLatin1Char('0') || tail.at(k) > QLatin1Char('9'))
            return std::nullopt;
    }
    bool ok = false;
    const int value = tail.toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

QString PortNameOfNumber(int number)
{
    return QStringLiteral("COM") + QString::number(number);
}

bool IsPlainAnsiPath(const QString& path)
{
    const QByteArray bytes = ToAnsi(path);
    for (char c : bytes) {
        if (static_cast<unsigned char>(c) > 128)
            return false;
    }
    return true;
}

namespace
{
std::uint32_t g_deadlineStart = 0;
}

bool Deadline(int mode, std::uint32_t timeoutMs)
{
    if (mode == 0) {
        g_deadlineStart = Clock().TickCount();
        return true;
    }
    if (mode == 1)
        return static_cast<std::uint32_t>(Clock().TickCount() - g_deadlineStart) >= timeoutMs;
    return false;
}

} // namespace nx7
