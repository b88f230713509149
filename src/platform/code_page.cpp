#include "platform/code_page.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace nx7 {

QByteArray ToAnsi(const QString& text)
{
    QByteArray out;
    out.reserve(text.size() * 2);
    // Encode one code point at a time so an unrepresentable character becomes exactly one '?'.
    QStringEncoder encoder("Windows-31J", QStringConverter::Flag::Stateless);
    for (qsizetype i = 0; i < text.size(); ++i) {
        qsizetype n = (text.at(i).isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
        const QStringView piece = QStringView(text).mid(i, n);
        i += n - 1;
        if (piece.size() == 1 && piece.at(0).unicode() < 0x80) {
            out.append(static_cast<char>(piece.at(0).unicode()));
            continue;
        }
        QByteArray bytes = encoder.encode(piece);
        if (encoder.hasError() || bytes.isEmpty() || bytes == "\x1a") {
            encoder.resetState();
            out.append('?');
        } else {
            out.append(bytes);
        }
    }
    return out;
}

QString FromAnsi(const QByteArray& bytes)
{
    QStringDecoder decoder("Windows-31J");
    return decoder.decode(bytes);
}

QString FromAnsi(const char* bytes, qsizetype count)
{
    return FromAnsi(QByteArray(bytes, count));
}

} // namespace nx7
