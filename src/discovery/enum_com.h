#pragma once
// The PC's serial ports, each with its COM name and description, sorted so that single-digit
// port numbers come before two-digit ones.
#include <QList>
#include <QString>

namespace nx7
{

struct COMPPORT_NMAE {
    QString PortName;    // "COM7"
    QString Description; // the system's description of the device
};

// Order of two port names: a four-character name is compared as if "0" stood before its fourth
// character (COM3 as COM03); letters a-z count as A-Z; a prefix comes first. Negative, 0 or
// positive like strcmp.
int SortKeyCompare(const QString& a, const QString& b);

class TEnumCom
{
public:
    // `settingsPath` names the settings file whose section "PortMap" pins devices to numbers.
    explicit TEnumCom(QString settingsPath);
    // Appends one record per present port, sorts the whole list, returns the number of devices
    // visited.
    int EnumeratePorts();
    int Count() const { return static_cast<int>(m_ports.size()); }
    const COMPPORT_NMAE& Item(int index) const { return m_ports.at(index); }
    const QList<COMPPORT_NMAE>& Items() const { return m_ports; }
    // Sorts records in place (the order EnumeratePorts leaves them in).
    static void SortPorts(QList<COMPPORT_NMAE>& ports);

private:
    QString m_settingsPath;
    QList<COMPPORT_NMAE> m_ports;
};

// "COM<n>(<description>)" lines, in port order.
QList<QString> PortListLines(const QString& settingsPath);

} // namespace nx7
