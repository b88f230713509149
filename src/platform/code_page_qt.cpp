#include "platform/code_page_table.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace nx7
{

QString DecodeTablePairs(QByteArrayView pairs)
{
    // Opening the converter is slow; a stateless one can serve every call of its thread.
    thread_local QStringDecoder decoder("Windows-31J", QStringConverter::Flag::Stateless);
    return decoder.decode(pairs);
}

QByteArray EncodeTableChar(char16_t c)
{
    // The converter does not flag every failure (it may answer with its own substitute bytes, and
    // after one failure it can spoil later characters), so each character gets a fresh converter
    // and is accepted only when it decodes back to itself.
    const QString piece(QChar{c});
    QStringEncoder encoder("Windows-31J", QStringConverter::Flag::Stateless);
    const QByteArray bytes = encoder.encode(piece);
    QStringDecoder decoder("Windows-31J", QStringConverter::Flag::Stateless);
    if (encoder.hasError() || bytes.isEmpty() || QString(decoder.decode(bytes)) != piece)
        return {};
    return bytes;
}

} // namespace nx7
