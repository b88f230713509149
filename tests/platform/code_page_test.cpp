#include "platform/code_page.h"

#include <gtest/gtest.h>

namespace
{

TEST(CodePage, RoundTripsWhatCp932Holds)
{
    const QString texts[] = {
        QStringLiteral("ABC xyz 0123 ~!"),
        QStringLiteral("I/Fボード ファームウェアアップデート"),
        QStringLiteral("ｱｲｳｴｵﾞﾟ｡"),
        QStringLiteral("①Ⅹ㈱∑髙﨑ⅰ"),
        QString(QChar(0x80)) + QChar(0xF8F0) + QChar(0xF8F1) + QChar(0xF8F2) + QChar(0xF8F3),
    };
    for (const QString& t : texts)
        EXPECT_EQ(nx7::FromAnsi(nx7::ToAnsi(t)), t) << t.toStdString();
}

TEST(CodePage, KnownBytes)
{
    EXPECT_EQ(nx7::ToAnsi(QStringLiteral("日本")), QByteArray("\x93\xFA\x96\x7B"));
    EXPECT_EQ(nx7::ToAnsi(QStringLiteral("ｱ")), QByteArray("\xB1"));
    EXPECT_EQ(nx7::ToAnsi(QString(QChar(0x80))), QByteArray("\x80"));
    // The Windows single bytes decode as themselves, but never when they are a trail byte.
    EXPECT_EQ(nx7::FromAnsi(QByteArray("a\x80\xA0\xFD\xFE\xFF")), QStringLiteral("a") + QChar(0x80) +
                                                                      QChar(0xF8F0) + QChar(0xF8F1) +
                                                                      QChar(0xF8F2) + QChar(0xF8F3));
    EXPECT_EQ(nx7::FromAnsi(QByteArray("\x81\x80\x81\xFC")), QStringLiteral("÷◯"));
    EXPECT_EQ(nx7::FromAnsi("AB\x82\xA0", 4), QStringLiteral("ABあ"));
    EXPECT_EQ(nx7::FromAnsi("AB\x82\xA0", 2), QStringLiteral("AB"));
}

TEST(CodePage, UnrepresentableCharacterBecomesOneQuestionMark)
{
    EXPECT_EQ(nx7::ToAnsi(QStringLiteral("a€b")), QByteArray("a?b"));
    EXPECT_EQ(nx7::ToAnsi(QStringLiteral("x😀y")), QByteArray("x?y")); // a surrogate pair is one character
    // A failure does not spoil the characters after it.
    EXPECT_EQ(nx7::ToAnsi(QStringLiteral("한日한ｱ")), QByteArray("?\x93\xFA?\xB1"));
    EXPECT_EQ(nx7::FromAnsi(QByteArray("\x81\x20\x93\xFA")).right(1), QStringLiteral("日"));
    // A lone surrogate does not upset what follows.
    EXPECT_EQ(nx7::ToAnsi(QString(QChar(0xD800)) + QStringLiteral("日")), QByteArray("?\x93\xFA"));
}

TEST(CodePage, AsciiBytesDecodeToThemselves)
{
    QByteArray all;
    QString expected;
    for (int b = 0; b < 0x80; ++b) {
        all.append(static_cast<char>(b));
        expected += QChar(b);
    }
    EXPECT_EQ(nx7::FromAnsi(all), expected);
    // The same control bytes inside Japanese text.
    EXPECT_EQ(nx7::FromAnsi(QByteArray("\x93\xFA\x1A\x1C\x7F\x82\xA0")),
              QStringLiteral("日") + QChar(0x1A) + QChar(0x1C) + QChar(0x7F) + QStringLiteral("あ"));
}

TEST(CodePage, BrokenDoubleByteCharactersShowAsReplacement)
{
    const QChar r(QChar::ReplacementCharacter);
    const struct {
        QByteArray bytes;
        QString text;
    } cases[] = {
        {QByteArray("AB\x82"), QStringLiteral("AB") + r},           // lone lead byte at the end
        {QByteArray("\x82"), QString(r)},                           // nothing else
        {QByteArray("\x81\x20Z"), r + QStringLiteral(" Z")},        // trail byte that cannot follow
        {QByteArray("\x81\x7F"), QString(r) + QChar(0x7F)},         // 0x7F is no trail byte
        {QByteArray("\xE0\x0D\x0A"), r + QStringLiteral("\r\n")},   // a line break stays one
        {QByteArray("\x85\x40\x82\xA0"), r + QStringLiteral("あ")}, // unknown pair, then a good one
        {QByteArray("\xB1\x82\xA0\xDF"), QStringLiteral("ｱあﾟ")},   // half-width kana between pairs
    };
    for (const auto& c : cases)
        EXPECT_EQ(nx7::FromAnsi(c.bytes), c.text) << c.bytes.toHex(' ').toStdString();
}

} // namespace
