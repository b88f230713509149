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

} // namespace
