#include "dialogs/about_box.h"
#include "dialogs/version_info.h"
#include "gui_helpers.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

using namespace nx7;
using nx7::test::Child;
using nx7::test::ExecWith;

namespace
{
class AboutBoxTest : public ::testing::Test
{
protected:
    void TearDown() override { ResetVersionStrings(); }
    void CtrlClick(TAboutBox& box)
    {
        QTest::mouseClick(box.ProgramIcon, Qt::LeftButton, Qt::ControlModifier);
    }
    void PlainClick(TAboutBox& box) { QTest::mouseClick(box.ProgramIcon, Qt::LeftButton); }
    int switched = 0;
};
} // namespace

TEST_F(AboutBoxTest, LabelsFilledOnceFromTheVersionStrings)
{
    SetVersionStrings({{"FileVersion", "9.8.7.6"},
                       {"ProductName", "製品"},
                       {"LegalCopyright", "(C) x"},
                       {"FileDescription", "説明"}});
    TAboutBox box(nullptr, [] {});
    EXPECT_EQ(box.objectName(), "AboutBox");
    EXPECT_EQ(box.windowTitle(), "バージョン情報");
    ASSERT_NE(Child<QFrame>(&box, "Panel1"), nullptr);
    ASSERT_NE(Child<QWidget>(&box, "ProgramIcon"), nullptr);
    EXPECT_EQ(Child<QLabel>(&box, "Version")->text(), "     Version 9.8.7.6");
    EXPECT_EQ(Child<QLabel>(&box, "ProductName")->text(), "製品");
    EXPECT_EQ(Child<QLabel>(&box, "Copyright")->text(), "(C) x");
    EXPECT_EQ(Child<QLabel>(&box, "Comments")->text(), "説明");
    EXPECT_EQ(Child<QPushButton>(&box, "OKButton")->text(), "OK");

    // Filled at creation only.
    SetVersionStrings({});
    EXPECT_EQ(ExecWith(box, [&] { QTest::mouseClick(box.OKButton, Qt::LeftButton); }), 1);
    EXPECT_EQ(box.Version->text(), "     Version 9.8.7.6");
}

TEST_F(AboutBoxTest, WithoutVersionStringsOnlyThePrefixShows)
{
    SetVersionStrings({});
    TAboutBox box(nullptr, [] {});
    EXPECT_EQ(box.Version->text(), "     Version ");
    EXPECT_TRUE(box.ProductName->text().isEmpty());
    EXPECT_TRUE(box.Copyright->text().isEmpty());
    EXPECT_TRUE(box.Comments->text().isEmpty());
}

TEST_F(AboutBoxTest, CtrlClicksSwitchDiagnosticsOnAtTheThresholdThenEveryClickDoes)
{
    TAboutBox box(nullptr, [this] { ++switched; });
    box.show();
    PlainClick(box);
    PlainClick(box);
    PlainClick(box);
    EXPECT_EQ(switched, 0) << "plain clicks never count";
    for (int i = 1; i < TAboutBox::DiagnosticClicks; ++i)
        CtrlClick(box);
    EXPECT_EQ(switched, 0) << "below the threshold";
    CtrlClick(box);
    EXPECT_EQ(switched, 1) << "at the threshold";
    PlainClick(box);
    CtrlClick(box);
    EXPECT_EQ(switched, 3) << "after the threshold every click switches it on again";
}

TEST_F(AboutBoxTest, CtrlClicksCountAcrossShowings)
{
    TAboutBox box(nullptr, [this] { ++switched; });
    for (int showing = 0; showing < TAboutBox::DiagnosticClicks; ++showing) {
        EXPECT_EQ(ExecWith(box,
                           [&] {
                               CtrlClick(box);
                               QTest::keyClick(&box, Qt::Key_Return);
                           }),
                  1);
    }
    EXPECT_EQ(switched, 1);
}
