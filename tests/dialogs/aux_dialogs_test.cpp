#include "dialogs/guage_dialog.h"
#include "dialogs/msg_dialog.h"
#include "dialogs/result_dialog.h"
#include "dialogs/version_info.h"
#include "gui_helpers.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

using namespace nx7;
using nx7::test::Child;
using nx7::test::ExecWith;

TEST(GuageDialog, ControlsAndInitialState)
{
    TGuage1Dlg dlg;
    EXPECT_EQ(dlg.objectName(), "Guage1Dlg");
    EXPECT_EQ(dlg.windowTitle(), "変換実行中");
    auto* label1 = Child<QLabel>(&dlg, "Label1");
    auto* ct = Child<QLabel>(&dlg, "CT");
    auto* dot = Child<QLabel>(&dlg, "dot");
    auto* bar = Child<QProgressBar>(&dlg, "ProgressBar1");
    auto* button = Child<QPushButton>(&dlg, "Button1");
    ASSERT_TRUE(label1 && ct && dot && bar && button && Child<QFrame>(&dlg, "Panel2"));
    EXPECT_TRUE(label1->text().isEmpty());
    EXPECT_EQ(ct->text(), "書き込み中");
    EXPECT_EQ(dot->text(), "・・・");
    EXPECT_EQ(button->text(), "&Cancel");
    EXPECT_EQ(ct->font().pixelSize(), 40);
    EXPECT_EQ(ct->font().families().value(0), "Tahoma");
    EXPECT_TRUE(ct->font().families().contains("Noto Sans CJK JP"));
    dlg.show();
    EXPECT_FALSE(ct->isVisible());
    EXPECT_FALSE(dot->isVisible());
    EXPECT_TRUE(bar->isVisible());
}

TEST(GuageDialog, PercentIsWrittenOnTheBarAndTheMarqueeHasNoNumber)
{
    TGuage1Dlg dlg;
    dlg.show();
    dlg.SetPercent(42);
    EXPECT_TRUE(dlg.ProgressBar1->isTextVisible());
    EXPECT_EQ(dlg.ProgressBar1->text(), QStringLiteral("42%"));
    dlg.SetPercent(100);
    EXPECT_EQ(dlg.ProgressBar1->text(), QStringLiteral("100%"));
    dlg.SetMarquee();
    EXPECT_FALSE(dlg.ProgressBar1->isTextVisible());
}

TEST(GuageDialog, HasNoCloseBoxAndIgnoresCloseAndEsc)
{
    TGuage1Dlg dlg;
    EXPECT_FALSE(dlg.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(dlg.windowFlags() & Qt::WindowSystemMenuHint);
    EXPECT_TRUE(dlg.windowFlags() & Qt::CustomizeWindowHint);
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    QTest::keyClick(&dlg, Qt::Key_Escape);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_FALSE(dlg.close());
    EXPECT_TRUE(dlg.isVisible());
    dlg.reject();
    EXPECT_TRUE(dlg.isVisible());
    dlg.Finish();
    EXPECT_FALSE(dlg.isVisible());
}

// A close the dialog refuses is answered with why, and for the write with the way out.
TEST(GuageDialog, RefusedCloseSaysWhyItStays)
{
    struct Case {
        bool write;
        Qt::Key key; // 0: the window's close
        QString says;
    };
    const Case cases[] = {
        {false, Qt::Key_Escape,
         QStringLiteral("処理中はこの画面を閉じられません。処理が終わると自動的に閉じます。")},
        {true, Qt::Key(0),
         QStringLiteral(
             "書き込み中はこの画面を閉じられません。中止するには、メインウィンドウを閉じてください。")},
    };
    for (const Case& c : cases) {
        TGuage1Dlg dlg;
        dlg.Button1->hide();
        dlg.CT->setVisible(c.write);
        dlg.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
        EXPECT_FALSE(dlg.CloseNote->isVisible()) << "nothing to explain before a close was tried";
        if (c.key)
            QTest::keyClick(&dlg, c.key);
        else
            dlg.close();
        EXPECT_TRUE(dlg.isVisible());
        EXPECT_TRUE(dlg.CloseNote->isVisible());
        EXPECT_EQ(dlg.CloseNote->text(), c.says);
        dlg.Finish();
    }
}

TEST(GuageDialog, MarqueeThenPercentKeepsTheDots)
{
    TGuage1Dlg dlg;
    dlg.show();
    dlg.SetMarquee();
    EXPECT_EQ(dlg.ProgressBar1->minimum(), 0);
    EXPECT_EQ(dlg.ProgressBar1->maximum(), 0);

    dlg.Panel2->hide();
    dlg.SetDots("・・");
    dlg.SetPercent(42);
    EXPECT_TRUE(dlg.Panel2->isVisible());
    EXPECT_TRUE(dlg.ProgressBar1->isVisible());
    EXPECT_EQ(dlg.ProgressBar1->maximum(), 100);
    EXPECT_EQ(dlg.ProgressBar1->value(), 42);
    EXPECT_TRUE(dlg.dot->isVisible());
    EXPECT_EQ(dlg.dot->text(), "・・");
    dlg.SetPercent(250);
    EXPECT_EQ(dlg.ProgressBar1->value(), 100);
}

TEST(MsgDialog, ControlsAndTexts)
{
    TMsg1Dlg dlg;
    EXPECT_EQ(dlg.objectName(), "Msg1Dlg");
    EXPECT_EQ(dlg.windowTitle(), "ダイアログ");
    for (const char* name : {"lMessage1", "lMessage2", "STMessage1", "STMessage2"})
        ASSERT_NE(Child<QLabel>(&dlg, name), nullptr) << name;
    auto* memo = Child<QPlainTextEdit>(&dlg, "Memo1");
    ASSERT_NE(memo, nullptr);
    EXPECT_TRUE(memo->isReadOnly());
    EXPECT_EQ(Child<QPushButton>(&dlg, "OKBtn")->text(), "OK");
    EXPECT_EQ(Child<QPushButton>(&dlg, "CancelBtn")->text(), "キャンセル");
    EXPECT_TRUE(dlg.OKBtn->isDefault());
    dlg.show();
    EXPECT_TRUE(dlg.STMessage1->text().isEmpty());
    EXPECT_TRUE(dlg.STMessage2->text().isEmpty());
    EXPECT_FALSE(dlg.STMessage1->isVisible());
    EXPECT_FALSE(dlg.STMessage2->isVisible());
}

TEST(MsgDialog, AnswersOneForOkAndTwoForEveryWayOfDeclining)
{
    struct Case {
        const char* name;
        std::function<void(TMsg1Dlg&)> act;
        int expected;
    };
    const Case cases[] = {
        {"OK button", [](TMsg1Dlg& d) { QTest::mouseClick(d.OKBtn, Qt::LeftButton); }, 1},
        {"Enter in the memo", [](TMsg1Dlg& d) { QTest::keyClick(d.Memo1, Qt::Key_Return); }, 1},
        {"Enter on the dialog", [](TMsg1Dlg& d) { QTest::keyClick(&d, Qt::Key_Enter); }, 1},
        {"Cancel button", [](TMsg1Dlg& d) { QTest::mouseClick(d.CancelBtn, Qt::LeftButton); }, 2},
        {"Esc", [](TMsg1Dlg& d) { QTest::keyClick(&d, Qt::Key_Escape); }, 2},
        {"close box", [](TMsg1Dlg& d) { d.close(); }, 2},
    };
    for (const Case& c : cases) {
        TMsg1Dlg dlg;
        dlg.Memo1->appendPlainText("SSID: x");
        EXPECT_EQ(ExecWith(dlg, [&] { c.act(dlg); }), c.expected) << c.name;
    }
}

TEST(ResultDialog, VerdictTakesTheCallersColour)
{
    TResultDlg dlg;
    EXPECT_EQ(dlg.objectName(), "ResultDlg");
    ASSERT_NE(Child<QLabel>(&dlg, "ST1"), nullptr);
    ASSERT_NE(Child<QLabel>(&dlg, "ST2"), nullptr);
    EXPECT_EQ(Child<QPushButton>(&dlg, "Button1")->text(), "OK");
    EXPECT_TRUE(dlg.ST1->text().isEmpty());
    EXPECT_EQ(dlg.ST1->font().pixelSize(), 64);
    EXPECT_EQ(dlg.ST1->font().families().value(0), "Tahoma");

    for (const QColor colour : {QColor(0, 0, 255), QColor(255, 0, 0), QColor(12, 34, 56)}) {
        dlg.SetVerdict("NG", colour);
        EXPECT_EQ(dlg.ST1->text(), "NG");
        EXPECT_EQ(dlg.ST1->palette().color(QPalette::WindowText), colour);
    }
    EXPECT_EQ(ExecWith(dlg, [&] { QTest::mouseClick(dlg.Button1, Qt::LeftButton); }), 1);
}

TEST(VersionInfo, IndexToKeyTable)
{
    SetVersionStrings({{"CompanyName", "c"},
                       {"FileDescription", "fd"},
                       {"FileVersion", "fv"},
                       {"InternalName", "in"},
                       {"LegalCopyright", "lc"},
                       {"OriginalFilename", "of"},
                       {"ProductName", "pn"},
                       {"ProductVersion", "pv"}});
    const std::pair<int, const char*> table[] = {{0, "c"},  {1, "fd"},  {2, "fv"}, {3, "in"},
                                                 {4, "lc"}, {5, "of"},  {6, "pv"}, {7, "pn"},
                                                 {8, "pv"}, {99, "pv"}, {-1, "pv"}};
    for (const auto& [index, value] : table)
        EXPECT_EQ(GetVersionInfoText(index), value) << index;

    SetVersionStrings({{"ProductName", "pn"}});
    EXPECT_EQ(GetVersionInfoText(7), "pn");
    EXPECT_EQ(GetVersionInfoText(2), "");
    EXPECT_EQ(GetVersionInfoText(99), "");
    SetVersionStrings({});
    EXPECT_EQ(GetVersionInfoText(7), "");
    ResetVersionStrings();
}

TEST(VersionInfo, BuiltInStringsCarryTheBuildVersionInFourParts)
{
    ResetVersionStrings();
    const QMap<QString, QString> builtIn = BuiltInVersionStrings();
    for (const char* key : {"CompanyName", "FileDescription", "FileVersion", "InternalName", "LegalCopyright",
                            "OriginalFilename", "ProductName", "ProductVersion"})
        EXPECT_FALSE(builtIn.value(key).isEmpty()) << key;
    const QString version = FourPartVersion(NX7_TEST_PROJECT_VERSION);
    EXPECT_EQ(version.split('.').size(), 4);
    EXPECT_EQ(GetVersionInfoText(2), version);
    EXPECT_EQ(GetVersionInfoText(6), version);
    EXPECT_EQ(GetVersionInfoText(7), "I/Fボード ファームウェアアップデート");

    EXPECT_EQ(FourPartVersion("2.3"), "2.3.0.0");
    EXPECT_EQ(FourPartVersion("1.2.3.4.5"), "1.2.3.4");
    EXPECT_EQ(FourPartVersion(""), "0.0.0.0");
}
