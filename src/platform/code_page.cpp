#include "platform/code_page.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace nx7
{

namespace
{
// Single bytes that Windows' code page 932 maps one to one although the codec's table leaves them
// out: 0x80 <-> U+0080, 0xA0 <-> U+F8F0, 0xFD..0xFF <-> U+F8F1..U+F8F3.
int WindowsExtraByte(char16_t c)
{
    if (c == 0x80)
        return 0x80;
    if (c == 0xF8F0)
        return 0xA0;
    if (c >= 0xF8F1 && c <= 0xF8F3)
        return 0xFD + (c - 0xF8F1);
    return -1;
}

char16_t WindowsExtraChar(unsigned char b)
{
    switch (b) {
    case 0x80:
        return 0x80;
    case 0xA0:
        return 0xF8F0;
    case 0xFD:
    case 0xFE:
    case 0xFF:
        return static_cast<char16_t>(0xF8F1 + (b - 0xFD));
    default:
        return 0;
    }
}

bool IsLeadByte(unsigned char b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
} // namespace

QByteArray ToAnsi(const QString& text)
{
    QByteArray out;
    out.reserve(text.size() * 2);
    // Encode one code point at a time so an unrepresentable character becomes exactly one '?'.
    // The converter does not flag every failure (it may answer with its own substitute bytes, and
    // after one failure it can spoil later characters), so each character gets a fresh converter
    // and is accepted only when it decodes back to itself.
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype n =
            (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) ? 2 : 1;
        const QStringView piece = QStringView(text).mid(i, n);
        i += n - 1;
        if (piece.size() == 1 && piece.at(0).unicode() < 0x80) {
            out.append(static_cast<char>(piece.at(0).unicode()));
            continue;
        }
        if (piece.size() == 1 && WindowsExtraByte(piece.at(0).unicode()) >= 0) {
            out.append(static_cast<char>(WindowsExtraByte(piece.at(0).unicode())));
            continue;
        }
        QStringEncoder encoder("Windows-31J", QStringConverter::Flag::Stateless);
        const QByteArray bytes = encoder.encode(piece);
        QStringDecoder decoder("Windows-31J", QStringConverter::Flag::Stateless);
        if (encoder.hasError() || bytes.isEmpty() || QString(decoder.decode(bytes)) != piece)
            out.append('?');
        else
            out.append(bytes);
    }
    return out;
}

QString FromAnsi(const QByteArray& bytes)
{
    QStringDecoder decoder("Windows-31J", QStringConverter::Flag::Stateless);
    QString out;
    qsizetype start = 0;
    qsizetype i = 0;
    while (i < bytes.size()) {
        const auto b = static_cast<unsigned char>(bytes.at(i));
        if (IsLeadByte(b) && i + 1 < bytes.size()) {
            i += 2;
            continue;
        }
        const char16_t extra = WindowsExtraChar(b);
        if (extra == 0) {
            ++i;
            continue;
        }
        out += decoder.decode(QByteArrayView(bytes).sliced(start, i - start));
        out += QChar(extra);
        start = ++i;
    }
    out += decoder.decode(QByteArrayView(bytes).sliced(start));
    return out;
}

QString FromAnsi(const char* bytes, qsizetype count)
{
    return FromAnsi(QByteArray(bytes, count));
}

} // namespace nx7
