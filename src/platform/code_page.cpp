#include "platform/code_page.h"

#include "platform/code_page_codec.h"

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

bool IsTrailByte(unsigned char b)
{
    return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}
} // namespace

QByteArray ToAnsi(const QString& text)
{
    QByteArray out;
    out.reserve(text.size() * 2);
    // One code point at a time, so an unrepresentable character becomes exactly one '?'.
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < 0x80) {
            out.append(static_cast<char>(c));
        } else if (WindowsExtraByte(c) >= 0) {
            out.append(static_cast<char>(WindowsExtraByte(c)));
        } else if (QChar::isSurrogate(c)) {
            // The code page holds nothing outside the BMP; a pair is one character.
            if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
                ++i;
            out.append('?');
        } else {
            out.append(cp932::EncodeChar(c));
        }
    }
    return out;
}

QString FromAnsi(const QByteArray& bytes)
{
    // Only double-byte characters go through the converter: Windows keeps 0x00-0x7F as they are,
    // and a lone lead byte is handled here. Runs of well-formed pairs are converted together.
    QString out;
    out.reserve(bytes.size());
    QByteArray pairs;
    auto flushPairs = [&] {
        if (pairs.isEmpty())
            return;
        out += cp932::DecodePairs(pairs);
        pairs.clear();
    };
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes.at(i));
        if (IsLeadByte(b) && i + 1 < bytes.size() &&
            IsTrailByte(static_cast<unsigned char>(bytes.at(i + 1)))) {
            pairs.append(bytes.at(i));
            pairs.append(bytes.at(i + 1));
            ++i;
            continue;
        }
        flushPairs();
        if (b < 0x80)
            out += QChar(b);
        else if (const char16_t extra = WindowsExtraChar(b))
            out += QChar(extra);
        else if (b >= 0xA1 && b <= 0xDF)
            out += QChar(static_cast<char16_t>(0xFF61 + (b - 0xA1))); // half-width katakana
        else
            out += QChar(QChar::ReplacementCharacter); // a lead byte without its trail byte
    }
    flushPairs();
    return out;
}

QString FromAnsi(const char* bytes, qsizetype count)
{
    return FromAnsi(QByteArray(bytes, count));
}

qsizetype CompleteAnsiLength(const QByteArray& bytes)
{
    qsizetype i = 0;
    while (i < bytes.size()) {
        if (!IsLeadByte(static_cast<unsigned char>(bytes.at(i)))) {
            ++i;
        } else if (i + 1 == bytes.size()) {
            return i;
        } else {
            // A pair, or a lead byte FromAnsi gives up on: either way the next byte starts afresh
            // only when it cannot be this one's trail byte.
            i += IsTrailByte(static_cast<unsigned char>(bytes.at(i + 1))) ? 2 : 1;
        }
    }
    return bytes.size();
}

} // namespace nx7
