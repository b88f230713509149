#include "ota/ota_auth.h"

#include <gtest/gtest.h>

using namespace nx7::ota;

namespace
{

// Values from the protocol notes: password "secret", file "fw.bin", 102400 bytes, address 192.168.4.1.
const QByteArray kPassword = "secret";
const QByteArray kFileMd5 = "18d8f1a0ddc13ff5a11576a64c319a3c";

TEST(OtaAuth, Md5SchemeVector)
{
    const QByteArray nonce = "fcea920f7412b5da7be0cf42b8c93759";
    const QByteArray cnonce = MakeCnonce(AuthScheme::Md5, "fw.bin", 102400, kFileMd5, "192.168.4.1");
    EXPECT_EQ(cnonce, "e294c64c8b034b54938d1bdea38e9144");
    EXPECT_EQ(Md5Hex(kPassword), "5ebe2294ecd0e0f08eab7690d2a6ee69");
    EXPECT_EQ(Md5Response(kPassword, nonce, cnonce), "3a9c5d64220b478bd9f073f41a2f0a80");
    EXPECT_EQ(ResponseFor(AuthScheme::Md5, kPassword, nonce, cnonce), "3a9c5d64220b478bd9f073f41a2f0a80");
}

TEST(OtaAuth, Sha256SchemeVector)
{
    const QByteArray nonce = "8bb0cf6eb9b17d0f7d22b456f121257dc1254e1f01665370476383ea776df414";
    const QByteArray cnonce = MakeCnonce(AuthScheme::Sha256, "fw.bin", 102400, kFileMd5, "192.168.4.1");
    EXPECT_EQ(cnonce, "99495c7861112f897bb535a891b00d1a69d087b835f6fbb5eeb9a8a4ca4e4a9f");
    const QByteArray pwhash = Sha256Hex(kPassword);
    EXPECT_EQ(pwhash, "2bb80d537b1da3e38bd30361aa855686bde0eacd7162fef6a25fe97bf527a25b");
    EXPECT_EQ(Sha256Key(pwhash, nonce, cnonce),
              "343cc03e337bd77d656a20cce16dc9343f71627871cdce63bc6579c43928c38e");
    const QByteArray response = "03562a05dec677404f1f78f511e78962d85c7f22c731cad85c62c0ac006abcdc";
    EXPECT_EQ(Sha256Response(pwhash, nonce, cnonce), response);
    EXPECT_EQ(ResponseFor(AuthScheme::Sha256, kPassword, nonce, cnonce), response);
    // The fallback keys the same scheme with the MD5 hash, which must give another response.
    EXPECT_EQ(ResponseFor(AuthScheme::Sha256, kPassword, nonce, cnonce, true),
              Sha256Response(Md5Hex(kPassword), nonce, cnonce));
    EXPECT_NE(ResponseFor(AuthScheme::Sha256, kPassword, nonce, cnonce, true), response);
}

TEST(OtaAuth, SchemeFollowsNonceLength)
{
    const struct {
        int length;
        std::optional<AuthScheme> scheme;
    } cases[] = {{0, std::nullopt},  {31, std::nullopt},       {32, AuthScheme::Md5}, {33, std::nullopt},
                 {63, std::nullopt}, {64, AuthScheme::Sha256}, {65, std::nullopt}};
    for (const auto& c : cases)
        EXPECT_EQ(SchemeOfNonce(QByteArray(c.length, 'a')), c.scheme) << "length " << c.length;
}

TEST(OtaAuth, NoncesAreFreshLowercaseHexOfTheSchemeLength)
{
    for (AuthScheme s : {AuthScheme::Md5, AuthScheme::Sha256}) {
        const QByteArray a = MakeNonce(s);
        const QByteArray b = MakeNonce(s);
        EXPECT_EQ(a.size(), TokenLength(s));
        EXPECT_EQ(SchemeOfNonce(a), s);
        EXPECT_NE(a, b);
        for (char c : a)
            EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')) << a.constData();
    }
}

TEST(OtaAuth, ResponsesDependOnEveryInput)
{
    const QByteArray n = MakeNonce(AuthScheme::Md5);
    const QByteArray cn = MakeNonce(AuthScheme::Md5);
    const QByteArray base = Md5Response("pw", n, cn);
    EXPECT_NE(Md5Response("pw2", n, cn), base);
    EXPECT_NE(Md5Response("pw", MakeNonce(AuthScheme::Md5), cn), base);
    EXPECT_NE(Md5Response("pw", n, MakeNonce(AuthScheme::Md5)), base);
    EXPECT_EQ(Md5Response("", n, cn), Md5Hex(Md5Hex("") + ':' + n + ':' + cn));
}

} // namespace
