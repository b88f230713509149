#include "platform/com_names.h"
#include "support/pty_pair.h"

#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace
{

TEST(ComNames, TableNumbers)
{
    struct Case {
        const char* device;
        int number;
    };
    const Case cases[] = {
        {"/dev/ttyS0", 1},     {"/dev/ttyS31", 32},         {"/dev/ttyS32", 0},   {"/dev/ttyUSB0", 33},
        {"/dev/ttyUSB63", 96}, {"/dev/ttyUSB64", 0},        {"/dev/ttyACM0", 97}, {"/dev/ttyACM63", 160},
        {"/dev/ttyACM64", 0},  {"/dev/pts/3", 0},           {"/dev/ttyS", 0},     {"ttyS0", 0},
        {"/dev/ttyS1x", 0},    {"/dev/ttyS99999999999", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(nx7::ComNumberOfDevice(QString::fromLatin1(c.device)), c.number) << c.device;
}

class PortMap : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QString ini = dir.filePath("a.ini");

    void Write(const QByteArray& text)
    {
        QFile f(ini);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
};

TEST_F(PortMap, PinsWithNumbersOutsideOneTo255AreIgnored)
{
    Write("[Option]\r\nCOM5=/dev/wrong\r\n"
          "[portmap]\r\n"
          "COM9 = /dev/pts/4 \r\n"
          "com10=/dev/serial/by-id/usb-x\r\n"
          "COM0=/dev/zero0\r\n"
          "COM256=/dev/big\r\n"
          "COM-3=/dev/neg\r\n"
          "COMX=/dev/x\r\n"
          "Port7=/dev/p7\r\n"
          "COM255=/dev/last\r\n"
          "COM1=\r\n");
    const QMap<int, QString> pins = nx7::ReadPortMap(ini);
    EXPECT_EQ(pins.keys(), QList<int>({9, 10, 255}));
    EXPECT_EQ(pins.value(9), QStringLiteral("/dev/pts/4"));
    EXPECT_EQ(pins.value(10), QStringLiteral("/dev/serial/by-id/usb-x"));
    EXPECT_TRUE(nx7::ReadPortMap(dir.filePath("missing.ini")).isEmpty());
}

TEST_F(PortMap, DeviceOfComNamePrefersThePin)
{
    Write("[PortMap]\r\nCOM33=/dev/pinned\r\nCOM200=/dev/other\r\n");
    struct Case {
        const char* name;
        const char* device;
    };
    const Case cases[] = {
        {"COM1", "/dev/ttyS0"},
        {"COM32", "/dev/ttyS31"},
        {"COM33", "/dev/pinned"},
        {"COM34", "/dev/ttyUSB1"},
        {"COM97", "/dev/ttyACM0"},
        {"COM160", "/dev/ttyACM63"},
        {"COM161", ""},
        {"COM200", "/dev/other"},
        {"com200", "/dev/other"},
        {"COM0", ""},
        {"COM", ""},
        {"CNCA0", ""},
        {"COM-1", ""},
        {"COM3x", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(nx7::DeviceOfComName(QString::fromLatin1(c.name), ini), QString::fromLatin1(c.device))
            << c.name;
}

TEST_F(PortMap, PresentDevicesListPinnedDevicesThatExist)
{
    nx7::test::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    ASSERT_TRUE(nx7::test::PinPort(ini, 250, pty.slavePath()));
    ASSERT_TRUE(nx7::test::PinPort(ini, 251, dir.filePath("gone")));
    int found = 0;
    for (const nx7::SerialDevice& d : nx7::PresentSerialDevices(ini)) {
        EXPECT_NE(d.number, 251);
        if (d.number == 250) {
            ++found;
            EXPECT_EQ(d.device, pty.slavePath());
        }
    }
    EXPECT_EQ(found, 1);
}

TEST_F(PortMap, SystemDevicePinnedThroughALinkIsListedOnceUnderThePin)
{
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    if (ports.isEmpty())
        GTEST_SKIP() << "no serial device on this machine";
    const QString device = ports.front().systemLocation();
    const QString link = dir.filePath("by-id-link");
    ASSERT_TRUE(QFile::link(device, link));
    ASSERT_TRUE(nx7::test::PinPort(ini, 200, link));
    QList<int> numbers;
    for (const nx7::SerialDevice& d : nx7::PresentSerialDevices(ini)) {
        if (QFileInfo(d.device).canonicalFilePath() == QFileInfo(device).canonicalFilePath())
            numbers.append(d.number);
    }
    EXPECT_EQ(numbers, QList<int>({200}));
}

} // namespace
