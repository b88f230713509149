// Windows: the system's code page 932 itself, whatever the user's code page is.
#include "platform/code_page_codec.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace nx7::cp932
{

namespace
{
constexpr UINT kCodePage = 932;

// The character of one pair, or U+FFFD when the code page does not define it.
QChar DecodePair(const char* pair)
{
    wchar_t c = 0;
    if (::MultiByteToWideChar(kCodePage, MB_ERR_INVALID_CHARS, pair, 2, &c, 1) != 1)
        return QChar(QChar::ReplacementCharacter);
    return QChar(static_cast<char16_t>(c));
}
} // namespace

QByteArray EncodeChar(char16_t c)
{
    const wchar_t in = static_cast<wchar_t>(c);
    char bytes[2] = {};
    BOOL usedDefault = FALSE;
    const int n =
        ::WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, &in, 1, bytes, 2, nullptr, &usedDefault);
    if (n <= 0 || usedDefault)
        return QByteArray(1, '?');
    // Only a form that reads back as the same character counts.
    wchar_t back = 0;
    if (::MultiByteToWideChar(kCodePage, MB_ERR_INVALID_CHARS, bytes, n, &back, 1) != 1 || back != in)
        return QByteArray(1, '?');
    return QByteArray(bytes, n);
}

QString DecodePairs(const QByteArray& pairs)
{
    const int count = static_cast<int>(pairs.size());
    QString text(count / 2, Qt::Uninitialized);
    const int n = ::MultiByteToWideChar(kCodePage, MB_ERR_INVALID_CHARS, pairs.constData(), count,
                                        reinterpret_cast<wchar_t*>(text.data()), count / 2);
    if (n == count / 2)
        return text;
    // A pair the code page does not know fails the whole run: pair by pair.
    text.clear();
    for (int k = 0; k + 1 < count; k += 2)
        text += DecodePair(pairs.constData() + k);
    return text;
}

} // namespace nx7::cp932
