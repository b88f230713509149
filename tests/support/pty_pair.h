#pragma once
#include <QByteArray>
#include <QString>

namespace nx7::test
{

// A pseudo-terminal pair: the tool opens `slavePath()` as its serial port, the test plays the
// board on the master side.
class PtyPair
{
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }
    int masterFd() const { return m_master; }
    bool Write(const QByteArray& bytes);
    // Reads what has arrived within `waitMs`.
    QByteArray Read(int waitMs);

private:
    int m_master = -1;
    int m_slave = -1; // kept open so the master never sees a hang-up before the tool opens it
    QString m_slavePath;
};

// Writes "[PortMap]\nCOM<n>=<path>" into a settings file (creating it) so the tool opens the pty
// as COM<n>.
bool PinPort(const QString& iniPath, int number, const QString& devicePath);

} // namespace nx7::test
