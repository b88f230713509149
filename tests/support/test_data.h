#pragma once
// Small helpers the tests share: hex byte lists and whole-file reads and writes.
#include <QByteArray>
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

} // namespace nx7::test
