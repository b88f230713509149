#pragma once
// Hiding passwords in what the tool writes to disk. The passwords the tool knows are the upload
// password, the board access point's password and the board's Wi-Fi (station) password; the
// caller hands in their current values. Besides those values, anything that looks like a password
// assignment ("--auth=", "Password  : ", a settings key named like a password) is masked too.
#include <QString>
#include <QStringList>

namespace nx7::diag
{

inline const QString kMask = QStringLiteral("***");
constexpr int kMinSecretLength = 3; // shorter values are not looked for

QString MaskSecrets(const QString& text, const QStringList& secrets);

// The protocol trace's hex ("02 00 30 08 03 03 53 65 ..."): the bytes of a password item in a
// frame and that frame's checksum become "**", as the trace writes them; for text written before
// the trace masked them itself.
QString MaskTraceHex(const QString& text);

// Everything a file for someone else gets: MaskSecrets and MaskTraceHex.
QString MaskForFile(const QString& text, const QStringList& secrets);

// Settings file text: the value of every key whose name looks like a password (pass, pwd, auth,
// secret, key) becomes "***", and so does every known secret anywhere in the text.
QString MaskSettingsText(const QString& text, const QStringList& secrets);

} // namespace nx7::diag
