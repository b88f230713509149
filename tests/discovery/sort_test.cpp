#include "discovery/connect_board.h"
#include "discovery/enum_com.h"

#include <gtest/gtest.h>

namespace nx7
{
namespace
{

QStringList Sorted(const QStringList& names)
{
    QList<COMPPORT_NMAE> ports;
    for (const QString& n : names)
        ports.append({n, QString()});
    TEnumCom::SortPorts(ports);
    QStringList out;
    for (const auto& p : ports)
        out.append(p.PortName);
    return out;
}

TEST(SortKeyCompare, SingleDigitPortsComeBeforeTwoDigitOnes)
{
    EXPECT_EQ(Sorted({"COM10", "COM3", "COM1", "COM2"}), QStringList({"COM1", "COM2", "COM3", "COM10"}));
}

TEST(SortKeyCompare, FiveCharacterNamesCompareAsPlainText)
{
    EXPECT_EQ(Sorted({"COM11", "COM100", "COM10", "COM9"}),
              QStringList({"COM9", "COM10", "COM100", "COM11"}));
}

TEST(SortKeyCompare, Cases)
{
    struct Case {
        const char* a;
        const char* b;
        int sign;
    };
    const Case cases[] = {
        {"com4", "COM4", 0},  // letters compare without regard to case
        {"COM3", "COM03", 0}, // the inserted zero
        {"COM3", "COM10", -1}, {"COM9", "COM10", -1}, {"COM", "COM1", -1}, // a prefix comes first
        {"COMA", "COM1", 1},                                               // "COM0A" against "COM01"
        {"", "COM1", -1},
    };
    for (const Case& c : cases) {
        const int r = SortKeyCompare(QString::fromUtf8(c.a), QString::fromUtf8(c.b));
        EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a << " vs " << c.b;
        const int back = SortKeyCompare(QString::fromUtf8(c.b), QString::fromUtf8(c.a));
        EXPECT_EQ((back > 0) - (back < 0), -c.sign) << c.b << " vs " << c.a;
    }
}

TEST(PortDialogItems, SpeedAndParityCodes)
{
    // ComSpeed -> dialog item -> ComSpeed: unknown codes select 19.2kbps and come back as 0.
    const int codes[][2] = {{1, 0}, {0, 1}, {2, 2}, {3, 3}, {4, 4}, {7, 1}, {-1, 1}};
    for (const auto& c : codes) {
        EXPECT_EQ(SpeedItemOfCode(c[0]), c[1]) << c[0];
    }
    EXPECT_EQ(SpeedCodeOfItem(SpeedItemOfCode(7)), 0);
    EXPECT_EQ(SpeedCodeOfItem(SpeedItemOfCode(0)), 0);
    EXPECT_EQ(SpeedCodeOfItem(SpeedItemOfCode(1)), 1);
    EXPECT_EQ(ParityItemOfCode(0), 0);
    EXPECT_EQ(ParityItemOfCode(1), 1);
    EXPECT_EQ(ParityItemOfCode(5), 2);
}

} // namespace
} // namespace nx7
