#include "discovery/device_list_window.h"
#include "discovery/port_dialog.h"
#include "gui_helpers.h"
#include "support/pty_pair.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

using namespace nx7;
using nx7::test::Child;

namespace
{
QStringList RadioTexts(const QGroupBox* group)
{
    QStringList texts;
    for (const QRadioButton* b : group->findChildren<QRadioButton*>())
        texts.append(b->text());
    return texts;
}

void ClickLine(TOpenCom1Dlg& dlg, int row)
{
    QListWidget* list = dlg.LBComPort;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
}
} // namespace

TEST(PortDialog, ControlsAndTexts)
{
    TOpenCom1Dlg dlg;
    EXPECT_EQ(dlg.objectName(), "OpenCom1Dlg");
    EXPECT_EQ(dlg.size(), QSize(479, 370));
    EXPECT_EQ(dlg.minimumSize(), dlg.maximumSize());
    EXPECT_EQ(Child<QLabel>(&dlg, "Label1")->text(), "COM Port");
    ASSERT_NE(Child<QLabel>(&dlg, "STComPort"), nullptr);
    ASSERT_NE(Child<QListWidget>(&dlg, "LBComPort"), nullptr);
    auto* speed = Child<QGroupBox>(&dlg, "RGComSpeed");
    auto* parity = Child<QGroupBox>(&dlg, "RGParity");
    ASSERT_TRUE(speed && parity);
    EXPECT_EQ(speed->title(), "Speed");
    EXPECT_EQ(RadioTexts(speed), QStringList({"9600bps", "19.2kbps", "38.4kbps", "57.6kbps", "115.2kbps"}));
    EXPECT_EQ(parity->title(), "Parity");
    EXPECT_EQ(RadioTexts(parity), QStringList({"なし", "奇数", "偶数"}));
    EXPECT_FALSE(parity->isEnabled());
    EXPECT_EQ(Child<QPushButton>(&dlg, "Button1")->text(), "ポートの確認...");
    auto* usb = Child<QCheckBox>(&dlg, "USE_USBOTA");
    ASSERT_NE(usb, nullptr);
    EXPECT_EQ(usb->text(), "USBモードで実行");
    EXPECT_FALSE(usb->isChecked());
    EXPECT_EQ(Child<QPushButton>(&dlg, "OKBtn")->text(), "Open");
    EXPECT_TRUE(dlg.OKBtn->isDefault());
    EXPECT_EQ(Child<QPushButton>(&dlg, "CancelBtn")->text(), "キャンセル");
    dlg.show();
    EXPECT_FALSE(usb->isVisible());
}

TEST(PortDialog, AnswersOneForOpenAndTwoForEveryWayOfDeclining)
{
    struct Case {
        const char* name;
        std::function<void(TOpenCom1Dlg&)> act;
        int expected;
    };
    const Case cases[] = {
        {"Open button", [](TOpenCom1Dlg& d) { QTest::mouseClick(d.OKBtn, Qt::LeftButton); }, 1},
        {"Enter", [](TOpenCom1Dlg& d) { QTest::keyClick(&d, Qt::Key_Return); }, 1},
        {"Cancel button", [](TOpenCom1Dlg& d) { QTest::mouseClick(d.CancelBtn, Qt::LeftButton); }, 2},
        {"Esc", [](TOpenCom1Dlg& d) { QTest::keyClick(&d, Qt::Key_Escape); }, 2},
        {"close box", [](TOpenCom1Dlg& d) { d.close(); }, 2},
    };
    for (const Case& c : cases) {
        TOpenCom1Dlg dlg;
        dlg.SetLines({"COM1(Serial)"}, 0);
        EXPECT_EQ(nx7::test::ExecWith(dlg, [&] { c.act(dlg); }), c.expected) << c.name;
    }
}

TEST(PortDialog, PreselectionAndClickShowTheLine)
{
    TOpenCom1Dlg dlg;
    dlg.SetLines({"COM1(Serial)", "COM33(USB Serial)"}, 1);
    dlg.SetSpeedItem(4);
    dlg.SetParityItem(2);
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    EXPECT_EQ(dlg.SelectedLine(), 1);
    EXPECT_EQ(dlg.STComPort->text(), "COM33(USB Serial)");
    EXPECT_EQ(dlg.SpeedItem(), 4);
    EXPECT_EQ(dlg.ParityItem(), 2);

    ClickLine(dlg, 0);
    EXPECT_EQ(dlg.SelectedLine(), 0);
    EXPECT_EQ(dlg.STComPort->text(), "COM1(Serial)");

    dlg.SetLines({}, -1);
    EXPECT_EQ(dlg.SelectedLine(), -1);
    EXPECT_TRUE(dlg.STComPort->text().isEmpty());
    dlg.SetSpeedItem(9);
    EXPECT_EQ(dlg.SpeedItem(), -1);
}

TEST(PortDialog, RebuildsTheListOnlyWhenTheSetOfPortsChanged)
{
    QStringList present = {"COM1(Serial)", "COM33(USB Serial)"};
    int enumerations = 0;
    TOpenCom1Dlg dlg;
    dlg.SetLines(present, 1);
    dlg.SetEnumerate([&] {
        ++enumerations;
        return present;
    });
    dlg.SetRefreshInterval(10);
    dlg.show();

    // Same set: the user's selection survives the polling.
    QTRY_VERIFY_WITH_TIMEOUT(enumerations >= 3, 2000);
    EXPECT_EQ(dlg.SelectedLine(), 1);

    present = {"COM1(Serial)", "COM33(USB Serial)", "COM97(ACM)"};
    QTRY_COMPARE_WITH_TIMEOUT(dlg.Lines(), present, 2000);
    EXPECT_EQ(dlg.SelectedLine(), -1);
    EXPECT_EQ(dlg.STComPort->text(), "COM33(USB Serial)") << "STComPort keeps its text";

    ClickLine(dlg, 2);
    EXPECT_EQ(dlg.STComPort->text(), "COM97(ACM)");

    // Not polled while hidden.
    dlg.hide();
    const int before = enumerations;
    QTest::qWait(60);
    EXPECT_EQ(enumerations, before);
}

TEST(PortDialog, DeviceButtonListsPinnedSerialDevices)
{
    nx7::test::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    QTemporaryDir dir;
    const QString ini = dir.filePath("tool.ini");
    ASSERT_TRUE(nx7::test::PinPort(ini, 201, pty.slavePath()));

    TOpenCom1Dlg dlg;
    dlg.SetSettingsPath(ini);
    dlg.show();
    QTest::mouseClick(dlg.Button1, Qt::LeftButton);
    DeviceListWindow* devices = dlg.DeviceList();
    ASSERT_NE(devices, nullptr);
    EXPECT_TRUE(devices->isVisible());
    EXPECT_TRUE(devices->isWindow());

    QTreeWidgetItem* found = nullptr;
    for (int i = 0; i < devices->DeviceList->topLevelItemCount(); ++i) {
        if (devices->DeviceList->topLevelItem(i)->text(0) == "COM201")
            found = devices->DeviceList->topLevelItem(i);
    }
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->text(1), pty.slavePath());

    // A second press brings back the same window.
    QTest::mouseClick(dlg.Button1, Qt::LeftButton);
    EXPECT_EQ(dlg.DeviceList(), devices);
}
