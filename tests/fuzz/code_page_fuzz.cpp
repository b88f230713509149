// Arbitrary bytes through the 8-bit code page decoder, and the decoded text back through the
// encoder: ASCII stays itself, no byte turns into more than one character, and text that was
// decoded encodes back to bytes that decode to the same text.
#include "platform/code_page.h"

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString text = nx7::FromAnsi(bytes);
    if (text.size() > bytes.size() || (!bytes.isEmpty() && text.isEmpty()))
        __builtin_trap();
    bool ascii = true;
    for (char c : bytes)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii && text != QString::fromLatin1(bytes))
        __builtin_trap();

    // U+FFFD has no form in the code page: the encoder writes '?' for it.
    QString shown = text;
    shown.replace(QChar(QChar::ReplacementCharacter), QLatin1Char('?'));
    const QByteArray again = nx7::ToAnsi(shown);
    if (nx7::FromAnsi(again) != shown)
        __builtin_trap();

    // The same bytes as UTF-16 text, which mostly holds characters the code page lacks.
    const QString wide(reinterpret_cast<const QChar*>(data), static_cast<qsizetype>(size / 2));
    const QByteArray encoded = nx7::ToAnsi(wide);
    if (encoded.size() > 2 * wide.size())
        __builtin_trap();
    return 0;
}
