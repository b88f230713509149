#include "diag/secret_mask.h"

#include "comm/frame_codec.h"

#include <QRegularExpression>
#include <algorithm>
#include <cstdint>
#include <vector>

namespace nx7::diag
{

QString MaskSecrets(const QString& text, const QStringList& secrets)
{
    QString out = text;
    // Longest first, so that a secret containing another is masked whole.
    QStringList sorted = secrets;
    std::sort(sorted.begin(), sorted.end(),
              [](const QString& a, const QString& b) { return a.size() > b.size(); });
    for (const QString& s : sorted) {
        // Wi-Fi and upload passwords are far longer; masking one or two characters everywhere
        // would only wreck the text.
        if (s.size() >= kMinSecretLength)
            out.replace(s, kMask);
    }
    static const QRegularExpression auth(QStringLiteral(R"((--auth[= ])("[^"\r\n]*"|[^\s"]+))"));
    out.replace(auth, QStringLiteral("\\1") + kMask);
    static const QRegularExpression labelled(
        QStringLiteral(R"(((?:password|passwd|パスワード)[ \t]*[:=：][ \t]*)(\S+))"),
        QRegularExpression::CaseInsensitiveOption);
    out.replace(labelled, QStringLiteral("\\1") + kMask);
    return out;
}

QString MaskTraceHex(const QString& text)
{
    // A run of bytes as the trace writes them: two hex digits (or "**") and a blank each.
    static const QRegularExpression run(QStringLiteral(R"((?:(?:[0-9A-F]{2}|\*\*)(?: |$))+)"),
                                        QRegularExpression::MultilineOption);
    QString out = text;
    auto it = run.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        const qsizetype start = m.capturedStart();
        const QStringList tokens = m.captured().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        std::vector<std::uint8_t> bytes;
        bytes.reserve(static_cast<std::size_t>(tokens.size()));
        for (const QString& t : tokens)
            bytes.push_back(static_cast<std::uint8_t>(t == QLatin1String("**") ? 0 : t.toUInt(nullptr, 16)));
        for (std::size_t stx = 0; stx + 6 < bytes.size(); ++stx) {
            if (bytes[stx] != codec::kStx)
                continue;
            for (std::size_t i = stx + 6; i < bytes.size(); ++i) {
                if (codec::IsSecretFrameByte(bytes.data() + stx, static_cast<int>(i - stx)))
                    out.replace(start + static_cast<qsizetype>(i) * 3, 2, QStringLiteral("**"));
            }
        }
    }
    return out;
}

QString MaskForFile(const QString& text, const QStringList& secrets)
{
    return MaskTraceHex(MaskSecrets(text, secrets));
}

QString MaskSettingsText(const QString& text, const QStringList& secrets)
{
    static const QRegularExpression key(
        QStringLiteral(R"(^(\s*[^=;\[\r\n]*(?:pass|pwd|auth|secret|key)[^=\r\n]*=)([^\r\n]*))"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::MultilineOption);
    QString out = text;
    out.replace(key, QStringLiteral("\\1") + kMask);
    return MaskSecrets(out, secrets);
}

} // namespace nx7::diag
