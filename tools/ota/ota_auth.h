#pragma once
// The password challenge of the OTA invitation, both generations: the older one keyed by MD5
// (32-character nonces) and the newer one keyed by SHA-256 and PBKDF2 (64-character nonces).
// All texts are lowercase hex in ASCII.
#include <QByteArray>
#include <optional>

namespace nx7::ota
{

enum class AuthScheme {
    Md5,    // nonce and cnonce of 32 hex characters
    Sha256, // nonce and cnonce of 64 hex characters
};

QByteArray Md5Hex(const QByteArray& data);
QByteArray Sha256Hex(const QByteArray& data);

// The scheme a nonce asks for, by its length; std::nullopt for any other length.
std::optional<AuthScheme> SchemeOfNonce(const QByteArray& nonce);
// Length in characters of the nonce, cnonce and response of a scheme.
int TokenLength(AuthScheme scheme);

// A fresh random nonce for the board side.
QByteArray MakeNonce(AuthScheme scheme);
// The uploader's cnonce: a hash of file name and address as given, size and MD5 of the file.
QByteArray MakeCnonce(AuthScheme scheme, const QByteArray& fileName, qint64 size, const QByteArray& md5Hex,
                      const QByteArray& address);

// Older scheme: MD5hex(MD5hex(password) ":" nonce ":" cnonce).
QByteArray Md5Response(const QByteArray& password, const QByteArray& nonce, const QByteArray& cnonce);

// Newer scheme, from the stored password hash (SHA256hex(password), or MD5hex(password) on boards
// that keep the older hash): key = hex(PBKDF2-HMAC-SHA256(hash, nonce ":" cnonce, 10000, 32)).
QByteArray Sha256Key(const QByteArray& passwordHash, const QByteArray& nonce, const QByteArray& cnonce);
// SHA256hex(key ":" nonce ":" cnonce).
QByteArray Sha256Response(const QByteArray& passwordHash, const QByteArray& nonce, const QByteArray& cnonce);

// Response of `scheme` for a plain password; `md5PasswordHash` keys the newer scheme with
// MD5hex(password) instead of SHA256hex(password).
QByteArray ResponseFor(AuthScheme scheme, const QByteArray& password, const QByteArray& nonce,
                       const QByteArray& cnonce, bool md5PasswordHash = false);

} // namespace nx7::ota
