#pragma once
// Small helpers the tests share: hex byte lists and whole-file reads and writes.
#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QString>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace nx7::test
{

// "02 00 45" -> {0x02, 0x00, 0x45}
inline std::vector<std::uint8_t> FromHex(const std::string& hex)
{
    std::vector<std::uint8_t> out;
    std::istringstream in(hex);
    std::string piece;
    while (in >> piece)
        out.push_back(static_cast<std::uint8_t>(std::stoul(piece, nullptr, 16)));
    return out;
}

inline QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

inline bool WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// A loopback address of this test process's own, 127.<x>.<y>.<n> with x and y from the process id:
// programs that must use a fixed port (the uploader's 3232) then never meet those of a test run
// in another checkout at the same moment.
inline QString OwnLoopbackAddress(int n)
{
    const qint64 pid = QCoreApplication::applicationPid();
    return QStringLiteral("127.%1.%2.%3").arg(1 + (pid / 256) % 254).arg(pid % 256).arg(n);
}

} // namespace nx7::test
