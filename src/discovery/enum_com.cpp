#include "discovery/enum_com.h"

#include "platform/com_names.h"

#include <algorithm>

namespace nx7
{

int SortKeyCompare(const QString& a, const QString& b)
{
    QString ka = a;
    QString kb = b;
    if (ka.size() == 4)
        ka.insert(3, QLatin1Char('0'));
    if (kb.size() == 4)
        kb.insert(3, QLatin1Char('0'));
    const auto fold = [](QChar c) {
        const char16_t u = c.unicode();
        return (u >= u'a' && u <= u'z') ? static_cast<char16_t>(u - (u'a' - u'A')) : u;
    };
    const qsizetype n = std::min(ka.size(), kb.size());
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t ca = fold(ka.at(i));
        const char16_t cb = fold(kb.at(i));
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    if (ka.size() == kb.size())
        return 0;
    return ka.size() < kb.size() ? -1 : 1;
}

TEnumCom::TEnumCom(QString settingsPath)
    : m_settingsPath(std::move(settingsPath))
{
}

void TEnumCom::SortPorts(QList<COMPPORT_NMAE>& ports)
{
    std::sort(ports.begin(), ports.end(), [](const COMPPORT_NMAE& x, const COMPPORT_NMAE& y) {
        return SortKeyCompare(x.PortName, y.PortName) < 0;
    });
}

int TEnumCom::EnumeratePorts()
{
    const QList<SerialDevice> devices = PresentSerialDevices(m_settingsPath);
    for (const SerialDevice& d : devices) {
        // A pinned pseudo-terminal has no description of its own: its path tells the user more
        // than an empty pair of brackets.
        m_ports.append(
            {QStringLiteral("COM%1").arg(d.number), d.description.isEmpty() ? d.device : d.description});
    }
    SortPorts(m_ports);
    return static_cast<int>(devices.size());
}

QList<QString> PortListLines(const QString& settingsPath)
{
    TEnumCom enumerator(settingsPath);
    enumerator.EnumeratePorts();
    QList<QString> lines;
    for (const COMPPORT_NMAE& p : enumerator.Items())
        lines.append(p.PortName + QLatin1Char('(') + p.Description + QLatin1Char(')'));
    return lines;
}

} // namespace nx7
