#include "diag/secret_mask.h"

#include <QRegularExpression>
#include <algorithm>

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
