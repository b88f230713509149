// Arbitrary bytes as a settings file: every encoding, every reader, then a save of the keys the
// tool writes. An unchanged document must come back byte for byte, and what was written must read
// back as written.
#include "platform/ini_file.h"

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

using nx7::IniFile;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    IniFile ini = IniFile::Parse(bytes);
    if (ini.Serialize() != bytes)
        __builtin_trap();

    for (const QString& section : ini.Sections()) {
        if (!ini.HasSection(section))
            __builtin_trap();
        for (const QString& key : ini.Keys(section)) {
            if (!ini.Value(section, key))
                __builtin_trap();
            (void)ini.ReadInteger(section, key, 7);
            (void)nx7::ParseIniInteger(*ini.Value(section, key));
        }
    }

    // Writing what is already there changes nothing (a few keys: each write indexes the document
    // again, and the fuzzer's time is better spent on more inputs).
    int rewrites = 0;
    for (const QString& section : ini.Sections()) {
        for (const QString& key : ini.Keys(section)) {
            if (rewrites++ < 4)
                ini.WriteString(section, key, *ini.Value(section, key));
        }
    }
    if (ini.Serialize() != bytes)
        __builtin_trap();

    // A save of a few keys of section "Option", one of them new, then a fresh read of the result.
    ini.WriteInteger(QStringLiteral("Option"), QStringLiteral("ComPort"), 12);
    ini.WriteString(QStringLiteral("Option"), QStringLiteral("TCPServAddr"), QStringLiteral("192.168.0.10"));
    ini.WriteInteger(QStringLiteral("ComDebug"), QStringLiteral("MAX_REC_NO"), -5);
    const IniFile back = IniFile::Parse(ini.Serialize());
    if (back.encoding() != ini.encoding() ||
        back.ReadInteger(QStringLiteral("Option"), QStringLiteral("ComPort"), 0) != 12 ||
        back.ReadString(QStringLiteral("Option"), QStringLiteral("TCPServAddr"), {}) !=
            QStringLiteral("192.168.0.10") ||
        back.ReadInteger(QStringLiteral("ComDebug"), QStringLiteral("MAX_REC_NO"), 0) != -5)
        __builtin_trap();
    return 0;
}
