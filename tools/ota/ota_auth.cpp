#include "ota/ota_auth.h"

#include <QCryptographicHash>
#include <QPasswordDigestor>
#include <QRandomGenerator>

namespace nx7::ota
{

namespace
{
constexpr int kPbkdf2Iterations = 10000;
constexpr int kKeyBytes = 32;
} // namespace

QByteArray Md5Hex(const QByteArray& data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex();
}

QByteArray Sha256Hex(const QByteArray& data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
}

std::optional<AuthScheme> SchemeOfNonce(const QByteArray& nonce)
{
    if (nonce.size() == 32)
        return AuthScheme::Md5;
    if (nonce.size() == 64)
        return AuthScheme::Sha256;
    return std::nullopt;
}

int TokenLength(AuthScheme scheme)
{
    return scheme == AuthScheme::Md5 ? 32 : 64;
}

QByteArray MakeNonce(AuthScheme scheme)
{
    QByteArray raw(TokenLength(scheme) / 2, '\0');
    for (char& c : raw)
        c = static_cast<char>(QRandomGenerator::system()->bounded(256));
    return raw.toHex();
}

QByteArray MakeCnonce(AuthScheme scheme, const QByteArray& fileName, qint64 size, const QByteArray& md5Hex,
                      const QByteArray& address)
{
    const QByteArray text = fileName + QByteArray::number(size) + md5Hex + address;
    return scheme == AuthScheme::Md5 ? Md5Hex(text) : Sha256Hex(text);
}

QByteArray Md5Response(const QByteArray& password, const QByteArray& nonce, const QByteArray& cnonce)
{
    return Md5Hex(Md5Hex(password) + ':' + nonce + ':' + cnonce);
}

QByteArray Sha256Key(const QByteArray& passwordHash, const QByteArray& nonce, const QByteArray& cnonce)
{
    return QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256, passwordHash, nonce + ':' + cnonce,
                                              kPbkdf2Iterations, kKeyBytes)
        .toHex();
}

QByteArray Sha256Response(const QByteArray& passwordHash, const QByteArray& nonce, const QByteArray& cnonce)
{
    return Sha256Hex(Sha256Key(passwordHash, nonce, cnonce) + ':' + nonce + ':' + cnonce);
}

QByteArray ResponseFor(AuthScheme scheme, const QByteArray& password, const QByteArray& nonce,
                       const QByteArray& cnonce, bool md5PasswordHash)
{
    if (scheme == AuthScheme::Md5)
        return Md5Response(password, nonce, cnonce);
    return Sha256Response(md5PasswordHash ? Md5Hex(password) : Sha256Hex(password), nonce, cnonce);
}

} // namespace nx7::ota
