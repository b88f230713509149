#include "platform/helpers.h"
#include "support/fake_clock.h"

#include <gtest/gtest.h>

namespace
{

TEST(SubText, Pieces)
{
    struct Case {
        const char* text;
        int start;
        int count;
        const char* piece;
    };
    const Case cases[] = {
        {"3030KMT27", 5, 5, "KMT27"},
        {"12345678", 5, 5, "5678"},
        {"ABC", 5, 5, ""},
        {"COM3(x)", 0, 4, "COM3"},
        {"COM3(x)", -3, 4, "COM3"},
        {"ABC", 3, 1, "C"},
        {"ABC", 4, 1, ""},
        {"ABC", 1, 0, ""},
        {"ABC", 1, -1, ""},
        {"", 1, 1, ""},
        {"", 0, 1, ""},
        {"ABC", 2, 1000, "BC"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(nx7::SubText(QString::fromUtf8(c.text), c.start, c.count), QString::fromUtf8(c.piece))
            << c.text << " " << c.start << " " << c.count;
    // Positions count UTF-16 code units.
    EXPECT_EQ(nx7::SubText(QStringLiteral("日本語ABC"), 3, 2), QStringLiteral("語A"));
}

TEST(PortNumberOfName, NumbersAndConversionErrors)
{
    struct Case {
        const char* name;
        std::optional<int> number;
    };
    const Case cases[] = {
        {"COM3", 3},
        {"COM123", 123},
        {"COM0", 0},
        {"COM-2", -2},
        {"com7", 7},
        {"XYZ5", 5}, // only the first three characters are cut
        {"COM", std::nullopt},
        {"CNCA0", std::nullopt},
        {"", std::nullopt},
        {"CO", std::nullopt},
        {"COM3x", std::nullopt},
        {"COM 3", std::nullopt},
        {"COM-", std::nullopt},
        {"COM99999999999", std::nullopt},
        {"COM３", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(nx7::PortNumberOfName(QString::fromUtf8(c.name)), c.number) << c.name;
}

TEST(PortNameOfNumber, DecimalWithoutLeadingZeros)
{
    EXPECT_EQ(nx7::PortNameOfNumber(1), QStringLiteral("COM1"));
    EXPECT_EQ(nx7::PortNameOfNumber(12), QStringLiteral("COM12"));
    EXPECT_EQ(nx7::PortNameOfNumber(255), QStringLiteral("COM255"));
    for (int n : {1, 9, 10, 99, 100, 255})
        EXPECT_EQ(nx7::PortNumberOfName(nx7::PortNameOfNumber(n)), n);
}

TEST(IsPlainAnsiPath, SingleByteCharactersOnly)
{
    struct Case {
        QString path;
        bool plain;
    };
    const Case cases[] = {
        {QString(), true},
        {QStringLiteral("C:\\Program Files (x86)\\Tool-1_2 [a]{b}~!@#$%^&+=,;'`\\x.exe"), true},
        {QStringLiteral("/home/user/bin/nx7ifbprog"), true},
        {QStringLiteral("C:\\ツール\\x.exe"), false},  // double-byte: lead byte above 128
        {QStringLiteral("C:\\ﾂｰﾙ\\x.exe"), false},     // half-width katakana: one byte above 128
        {QStringLiteral("C:\\a") + QChar(0x80), true}, // byte 128 passes
        {QStringLiteral("C:\\、"), false},             // 0x81 0x41: 129 does not
        {QStringLiteral("C:\\€\\x.exe"), true},        // not representable: the default character '?'
    };
    for (const Case& c : cases)
        EXPECT_EQ(nx7::IsPlainAnsiPath(c.path), c.plain) << c.path.toStdString();
}

TEST(Deadline, MeasuresFromTheLastStartAcrossTheWrap)
{
    nx7::test::ManualClock clock(1000);
    EXPECT_TRUE(nx7::Deadline(0, 500));
    EXPECT_FALSE(nx7::Deadline(1, 500));
    EXPECT_TRUE(nx7::Deadline(1, 0));
    clock.Advance(499);
    EXPECT_FALSE(nx7::Deadline(1, 500));
    clock.Advance(1);
    EXPECT_TRUE(nx7::Deadline(1, 500));

    // Restarting discards the earlier start.
    EXPECT_TRUE(nx7::Deadline(0, 500));
    EXPECT_FALSE(nx7::Deadline(1, 500));

    // Started 100 ms before the counter wraps; checked after it.
    clock.Set(0xFFFFFFFFu - 99);
    nx7::Deadline(0, 0);
    clock.Set(200);
    EXPECT_FALSE(nx7::Deadline(1, 301));
    EXPECT_TRUE(nx7::Deadline(1, 300));
    EXPECT_TRUE(nx7::Deadline(1, 0));

    // Any other mode is false and leaves the start alone.
    EXPECT_FALSE(nx7::Deadline(2, 0));
    EXPECT_FALSE(nx7::Deadline(-1, 0));
    EXPECT_TRUE(nx7::Deadline(1, 300));
    EXPECT_FALSE(nx7::Deadline(1, 301));
}

} // namespace
