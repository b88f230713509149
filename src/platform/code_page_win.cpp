#include "platform/code_page_table.h"

#include "platform/win_api.h"

namespace nx7
{

namespace
{
constexpr UINT kCodePage = 932;
} // namespace

QString DecodeTablePairs(QByteArrayView pairs)
{
    if (pairs.isEmpty())
        return {};
    const int size = static_cast<int>(pairs.size());
    const int count = MultiByteToWideChar(kCodePage, 0, pairs.data(), size, nullptr, 0);
    if (count <= 0)
        return {};
    QString out(count, Qt::Uninitialized);
    MultiByteToWideChar(kCodePage, 0, pairs.data(), size, reinterpret_cast<wchar_t*>(out.data()), count);
    return out;
}

QByteArray EncodeTableChar(char16_t c)
{
    // No best fit: a character without its own form is refused, not replaced by a look-alike.
    const wchar_t wide = static_cast<wchar_t>(c);
    char bytes[4];
    BOOL usedDefault = FALSE;
    const int n = WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, &wide, 1, bytes, sizeof bytes, nullptr,
                                      &usedDefault);
    if (n <= 0 || usedDefault)
        return {};
    return QByteArray(bytes, n);
}

} // namespace nx7
