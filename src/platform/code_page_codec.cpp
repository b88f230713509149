#include "platform/code_page_codec.h"

#include <QHash>
#include <QMutex>
#include <QStringDecoder>
#include <QStringEncoder>

namespace nx7::cp932
{

// The converter does not flag every failure (it may answer with its own substitute bytes, and
// after one failure it can spoil later characters), so each character gets a fresh converter and
// is accepted only when it decodes back to itself. Opening a converter is slow: each character is
// converted once and remembered.
QByteArray EncodeChar(char16_t c)
{
    static QMutex mutex;
    static QHash<char16_t, QByteArray> known;
    const QMutexLocker lock(&mutex);
    const auto found = known.constFind(c);
    if (found != known.constEnd())
        return *found;
    const QString piece(QChar{c});
    QStringEncoder encoder("Windows-31J", QStringConverter::Flag::Stateless);
    QByteArray bytes = encoder.encode(piece);
    QStringDecoder decoder("Windows-31J", QStringConverter::Flag::Stateless);
    if (encoder.hasError() || bytes.isEmpty() || QString(decoder.decode(bytes)) != piece)
        bytes = QByteArray(1, '?');
    known.insert(c, bytes);
    return bytes;
}

QString DecodePairs(const QByteArray& pairs)
{
    // Opening the converter is slow; a stateless one can serve every call of its thread. Its table
    // maps some control bytes (0x1A, 0x1C, 0x7F) to other control characters and swallows a lone
    // lead byte: the caller hands it pairs only.
    thread_local QStringDecoder decoder("Windows-31J", QStringConverter::Flag::Stateless);
    QString text = decoder.decode(pairs);
    if (text.size() != pairs.size() / 2) {
        // Something in the run did not give exactly one character: convert pair by pair.
        text.clear();
        for (qsizetype k = 0; k < pairs.size(); k += 2) {
            const QString one = decoder.decode(QByteArrayView(pairs).sliced(k, 2));
            text += one.size() == 1 ? one.at(0) : QChar(QChar::ReplacementCharacter);
        }
    }
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        // The converter's own substitute stands for a pair it does not know.
        out += c.unicode() < 0x80 ? QChar(QChar::ReplacementCharacter) : c;
    }
    return out;
}

} // namespace nx7::cp932
