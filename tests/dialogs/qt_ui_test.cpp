#include "app/qt_ui.h"
#include "dialogs/guage_dialog.h"
#include "dialogs/msg_dialog.h"
#include "dialogs/result_dialog.h"
#include "discovery/port_dialog.h"
#include "gui_helpers.h"
#include "update/input_dialog.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QWindow>
#include <gtest/gtest.h>

using namespace nx7;

namespace
{
// A main window and the seam over it; every modal dialog is handed to `script` inside its loop.
class QtUiTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        main.resize(851, 406);
        main.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
        QtUserInteraction::beforeExec = [this](QDialog* d) {
            shown.append(d->objectName());
            QTimer::singleShot(0, d, [this, d] {
                if (script)
                    script(d);
            });
        };
    }
    void TearDown() override { QtUserInteraction::beforeExec = {}; }

    QMainWindow main;
    QtUserInteraction ui{&main};
    std::function<void(QDialog*)> script;
    QStringList shown;
};

QAbstractButton* BoxButton(QDialog* d, QMessageBox::StandardButton which)
{
    return qobject_cast<QMessageBox*>(d)->button(which);
}
} // namespace

TEST_F(QtUiTest, MessageBoxCaptionIconButtonsAndAnswer)
{
    struct Case {
        MessageRequest request;
        QString caption;
        QMessageBox::Icon icon;
        QList<QMessageBox::StandardButton> buttons;
        QMessageBox::StandardButton press; // NoButton: Esc
        MsgResult expected;
    };
    const Case cases[] = {
        {{"text", "", MsgIcon::None, MsgButtons::Ok},
         "エラー",
         QMessageBox::NoIcon,
         {QMessageBox::Ok},
         QMessageBox::Ok,
         MsgResult::Ok},
        {{"q?", "USBモードでの実行", MsgIcon::Exclamation, MsgButtons::YesNo},
         "USBモードでの実行",
         QMessageBox::Warning,
         {QMessageBox::Yes, QMessageBox::No},
         QMessageBox::Yes,
         MsgResult::Yes},
        {{"q?", "c", MsgIcon::Question, MsgButtons::YesNo},
         "c",
         QMessageBox::Question,
         {QMessageBox::Yes, QMessageBox::No},
         QMessageBox::No,
         MsgResult::No},
        {{"q?", "c", MsgIcon::Question, MsgButtons::YesNo},
         "c",
         QMessageBox::Question,
         {QMessageBox::Yes, QMessageBox::No},
         QMessageBox::NoButton,
         MsgResult::No},
        {{"done", "c", MsgIcon::Information, MsgButtons::Yes},
         "c",
         QMessageBox::Information,
         {QMessageBox::Yes},
         QMessageBox::NoButton,
         MsgResult::Yes},
        {{"bad", "", MsgIcon::Error, MsgButtons::Ok},
         "エラー",
         QMessageBox::Critical,
         {QMessageBox::Ok},
         QMessageBox::NoButton,
         MsgResult::Ok},
    };
    for (const Case& c : cases) {
        const QString what = c.request.text + "/" + c.caption;
        script = [&](QDialog* d) {
            auto* box = qobject_cast<QMessageBox*>(d);
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->windowTitle(), c.caption) << what.toStdString();
            EXPECT_EQ(box->text(), c.request.text);
            EXPECT_EQ(box->icon(), c.icon) << what.toStdString();
            EXPECT_EQ(box->buttons().size(), c.buttons.size()) << what.toStdString();
            for (QMessageBox::StandardButton b : c.buttons)
                EXPECT_NE(box->button(b), nullptr) << what.toStdString();
            EXPECT_TRUE(box->isEnabled());
            if (c.press == QMessageBox::NoButton)
                QTest::keyClick(box, Qt::Key_Escape);
            else
                BoxButton(d, c.press)->click();
        };
        EXPECT_EQ(ui.Message(c.request), c.expected) << what.toStdString();
    }
}

// Enter takes the default button: "はい" for an ordinary question, "いいえ" where yes would abort,
// overwrite or go on despite a failed check. Esc is "いいえ" in both.
TEST_F(QtUiTest, EnterAnswersTheDefaultAndAQuestionMarkedSafeDefaultsToNo)
{
    struct Case {
        bool defaultNo;
        Qt::Key key;
        QMessageBox::StandardButton defaultButton;
        MsgResult expected;
    };
    const Case cases[] = {
        {false, Qt::Key_Return, QMessageBox::Yes, MsgResult::Yes},
        {false, Qt::Key_Escape, QMessageBox::Yes, MsgResult::No},
        {true, Qt::Key_Return, QMessageBox::No, MsgResult::No},
        {true, Qt::Key_Enter, QMessageBox::No, MsgResult::No},
        {true, Qt::Key_Escape, QMessageBox::No, MsgResult::No},
    };
    for (const Case& c : cases) {
        MessageRequest request{"書き込み中です。中止して終了しますか？", "終了の確認", MsgIcon::Question,
                               MsgButtons::YesNo};
        request.defaultNo = c.defaultNo;
        script = [&](QDialog* d) {
            auto* box = qobject_cast<QMessageBox*>(d);
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->defaultButton(), box->button(c.defaultButton)) << c.defaultNo;
            QTest::keyClick(box, c.key);
        };
        EXPECT_EQ(ui.Message(request), c.expected) << c.defaultNo << " key " << c.key;
    }
}

TEST_F(QtUiTest, MessageBoxOwnershipAndDisabledMainWindow)
{
    QWindow* owner = nullptr;
    script = [&](QDialog* d) {
        owner = d->windowHandle() ? d->windowHandle()->transientParent() : nullptr;
        EXPECT_TRUE(d->isEnabled()) << "a flow disables the main window, never its questions";
        BoxButton(d, QMessageBox::Ok)->click();
    };
    main.setEnabled(false);
    ui.Message({"owned", "", MsgIcon::None, MsgButtons::Ok, true});
    EXPECT_EQ(owner, main.windowHandle());
    ui.Message({"free", "", MsgIcon::None, MsgButtons::Ok, false});
    EXPECT_EQ(owner, nullptr);
    main.setEnabled(true);
}

TEST_F(QtUiTest, ProgressDialogLifecycle)
{
    main.setEnabled(false);
    ui.ProgressBegin({"しばらくお待ちください", "------- Check IFB ----------", true, false});
    QPointer<TGuage1Dlg> dlg = ui.CurrentProgress();
    ASSERT_TRUE(dlg);
    EXPECT_EQ(dlg->objectName(), "Guage1Dlg");
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_TRUE(dlg->isEnabled());
    EXPECT_EQ(dlg->windowTitle(), "しばらくお待ちください");
    EXPECT_EQ(dlg->Label1->text(), "------- Check IFB ----------");
    EXPECT_FALSE(dlg->Button1->isVisible());
    EXPECT_FALSE(dlg->CT->isVisible());
    EXPECT_TRUE(dlg->Panel2->isVisible());
    EXPECT_EQ(dlg->ProgressBar1->maximum(), 0);
    EXPECT_EQ(dlg->windowHandle()->transientParent(), main.windowHandle());
    EXPECT_FALSE(dlg->close()) << "the user cannot dismiss it";
    ui.ProgressSetLabel("next");
    EXPECT_EQ(dlg->Label1->text(), "next");
    ui.ProgressEnd();
    EXPECT_FALSE(dlg) << "destroyed at the end of the step";
    EXPECT_EQ(ui.CurrentProgress(), nullptr);
    ui.ProgressEnd(); // no dialog: harmless
    main.setEnabled(true);
}

// The step's title in the status bar does not outlive the step; a status set by someone else stays.
TEST_F(QtUiTest, StatusBarStepTitleGoesWithItsProgressDialog)
{
    const QString title = "------- Check WiFi AP Connection ----------";
    ui.SetStatusText(title);
    ui.ProgressBegin({"しばらくお待ちください", title, false, false});
    EXPECT_EQ(main.statusBar()->currentMessage(), title);
    ui.ProgressEnd();
    EXPECT_EQ(main.statusBar()->currentMessage(), QString());

    ui.ProgressBegin({"しばらくお待ちください", title, false, false});
    ui.SetStatusText("書き込み中");
    ui.ProgressEnd();
    EXPECT_EQ(main.statusBar()->currentMessage(), "書き込み中");
}

TEST_F(QtUiTest, ProgressForTheWriteShowsBannerDotsAndPercent)
{
    ui.ProgressBegin({"しばらくお待ちください", "---- OTA ----", false, true});
    TGuage1Dlg* dlg = ui.CurrentProgress();
    ASSERT_NE(dlg, nullptr);
    EXPECT_TRUE(dlg->CT->isVisible());
    EXPECT_FALSE(dlg->Panel2->isVisible());
    EXPECT_FALSE(dlg->ProgressBar1->isVisible());
    ui.ProgressSetDots("・・・・");
    EXPECT_TRUE(dlg->dot->isVisible());
    EXPECT_EQ(dlg->dot->text(), "・・・・");
    ui.ProgressSetPercent(37);
    EXPECT_TRUE(dlg->ProgressBar1->isVisible());
    EXPECT_EQ(dlg->ProgressBar1->value(), 37);
    EXPECT_TRUE(dlg->dot->isVisible());
    ui.ProgressEnd();
}

TEST_F(QtUiTest, NestedProgressDialogsRestoreTheOuterOne)
{
    ui.ProgressBegin({"c", "outer", false, false});
    QPointer<TGuage1Dlg> outer = ui.CurrentProgress();
    ui.ProgressBegin({"c", "inner", false, false});
    QPointer<TGuage1Dlg> inner = ui.CurrentProgress();
    ASSERT_NE(outer, inner);
    ui.ProgressSetLabel("inner step");
    EXPECT_EQ(inner->Label1->text(), "inner step");
    EXPECT_EQ(outer->Label1->text(), "outer");
    ui.ProgressEnd();
    EXPECT_FALSE(inner);
    EXPECT_EQ(ui.CurrentProgress(), outer.data());
    ui.ProgressSetLabel("outer step");
    EXPECT_EQ(outer->Label1->text(), "outer step");
    ui.ProgressEnd();
    EXPECT_FALSE(outer);
}

TEST_F(QtUiTest, MessageDialogFilledAndAnswered)
{
    const MessageDialogRequest request{
        "OTA書き込み", "line 1", "line 2\nmore", {"SSID : ab", "PASS : cd"}, {}};
    for (const int answer : {1, 2}) {
        script = [&](QDialog* d) {
            auto* dlg = qobject_cast<TMsg1Dlg*>(d);
            ASSERT_NE(dlg, nullptr);
            EXPECT_EQ(dlg->windowTitle(), "OTA書き込み");
            EXPECT_EQ(dlg->lMessage1->text(), "line 1");
            EXPECT_EQ(dlg->lMessage2->text(), "line 2\nmore");
            EXPECT_EQ(dlg->Memo1->toPlainText(), "SSID : ab\nPASS : cd");
            (answer == 1 ? dlg->OKBtn : dlg->CancelBtn)->click();
        };
        EXPECT_EQ(ui.MessageDialog(request), answer);
    }
    EXPECT_EQ(shown, QStringList({"Msg1Dlg", "Msg1Dlg"}));
}

// Work that runs while the join dialog shows: its progress under the texts, OK waiting for its end;
// done, the dialog closes by itself; otherwise it shows the texts the work left and waits.
TEST_F(QtUiTest, MessageDialogWorkShowsProgressAndClosesByItself)
{
    MessageDialogRequest request{"OTA書き込み", "joining", "wait", {"SSID : ab"}, {}};
    bool okWaited = false;
    QString progressShown;
    request.whileShown = [&](MessageDialogRequest&, const std::function<void(const QString&)>& progress,
                             const std::function<bool()>&) {
        auto* dlg = qobject_cast<TMsg1Dlg*>(QApplication::activeModalWidget());
        EXPECT_NE(dlg, nullptr);
        if (!dlg)
            return false;
        progress(QStringLiteral("自動接続: 接続中..."));
        okWaited = !dlg->OKBtn->isEnabled();
        progressShown = dlg->STMessage1->isVisible() ? dlg->STMessage1->text() : QString();
        return true;
    };
    EXPECT_EQ(ui.MessageDialog(request), TMsg1Dlg::ResultOk);
    EXPECT_TRUE(okWaited);
    EXPECT_EQ(progressShown, QStringLiteral("自動接続: 接続中..."));
}

TEST_F(QtUiTest, MessageDialogWorkThatFailsLeavesTheManualTextsForAnAnswer)
{
    MessageDialogRequest request{"OTA書き込み", "joining", "wait", {"SSID : ab"}, {}};
    request.whileShown = [](MessageDialogRequest& shown, const std::function<void(const QString&)>& progress,
                            const std::function<bool()>&) {
        progress(QStringLiteral("自動接続: 接続中..."));
        shown.message1 = QStringLiteral("join by hand");
        shown.memoLines << QStringLiteral("原因: refused");
        return false;
    };
    script = [&](QDialog* d) {
        auto* dlg = qobject_cast<TMsg1Dlg*>(d);
        ASSERT_NE(dlg, nullptr);
        EXPECT_EQ(dlg->lMessage1->text(), "join by hand");
        EXPECT_EQ(dlg->lMessage2->text(), "wait");
        EXPECT_EQ(dlg->Memo1->toPlainText(), "SSID : ab\n原因: refused");
        EXPECT_FALSE(dlg->STMessage1->isVisible());
        EXPECT_TRUE(dlg->OKBtn->isEnabled());
        dlg->OKBtn->click();
    };
    EXPECT_EQ(ui.MessageDialog(request), TMsg1Dlg::ResultOk);
}

TEST_F(QtUiTest, MessageDialogCancelIsHeardWhileTheWorkRuns)
{
    MessageDialogRequest request{"OTA書き込み", "joining", "wait", {}, {}};
    bool heard = false;
    request.whileShown = [&](MessageDialogRequest&, const std::function<void(const QString&)>&,
                             const std::function<bool()>& cancelled) {
        // The person's click arrives while the work waits with the event loop running.
        auto* dlg = qobject_cast<TMsg1Dlg*>(QApplication::activeModalWidget());
        if (dlg)
            QTimer::singleShot(50, dlg, [dlg] { dlg->CancelBtn->click(); });
        QElapsedTimer t;
        t.start();
        while (!cancelled() && t.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        heard = cancelled();
        return true; // joined just as the person cancelled: the cancel stands
    };
    EXPECT_EQ(ui.MessageDialog(request), TMsg1Dlg::ResultCancel);
    EXPECT_TRUE(heard);
}

TEST_F(QtUiTest, ResultDialogShowsVerdictInColourCentredOnTheMainWindow)
{
    main.move(40, 30);
    QPoint dialogCentre;
    script = [&](QDialog* d) {
        auto* dlg = qobject_cast<TResultDlg*>(d);
        ASSERT_NE(dlg, nullptr);
        EXPECT_EQ(dlg->windowTitle(), "書き込み結果");
        EXPECT_EQ(dlg->ST1->text(), "OK");
        EXPECT_EQ(dlg->ST1->palette().color(QPalette::WindowText), QColor(0x12, 0x34, 0x56));
        EXPECT_EQ(dlg->ST2->text(), "\n完了");
        dialogCentre = dlg->frameGeometry().center();
        dlg->Button1->click();
    };
    ui.ResultDialog({"書き込み結果", "OK", 0x123456, "\n完了"});
    EXPECT_LE((dialogCentre - main.frameGeometry().center()).manhattanLength(), 4);
}

// Board after board the result box closes by itself: the loop (and its "停止") goes on without a
// click. Otherwise it waits for one.
TEST_F(QtUiTest, ResultDialogClosesByItselfWhenAskedTo)
{
    ui.SetResultCloseAfterMs(100);
    QElapsedTimer t;
    t.start();
    bool closedForIt = false;
    script = [&](QDialog* d) {
        // Nobody clicks; only a box that stays is closed here, late, so the test cannot hang.
        QTimer::singleShot(5000, d, [&, d] {
            closedForIt = true;
            d->reject();
        });
    };
    ui.ResultDialog({"書き込み結果", "OK", 0x0000FF, "\n完了"});
    EXPECT_FALSE(closedForIt);
    EXPECT_LT(t.elapsed(), 5000);
    EXPECT_EQ(shown, QStringList{"ResultDlg"});

    ui.SetResultCloseAfterMs(0);
    bool stillOpen = false;
    script = [&](QDialog* d) {
        QTimer::singleShot(400, d, [&, d] {
            stillOpen = d->isVisible();
            qobject_cast<TResultDlg*>(d)->Button1->click();
        });
    };
    ui.ResultDialog({"書き込み結果", "OK", 0x0000FF, "\n完了"});
    EXPECT_TRUE(stillOpen);
}

TEST_F(QtUiTest, PortDialogRoundTrip)
{
    QStringList present = {"COM1(a)", "COM2(b)"};
    PortDialogRequest request;
    request.caption = "シリアルポートのオープン";
    request.lines = present;
    request.selected = 1;
    request.speedItem = 3;
    request.parityItem = 2;
    request.enumerate = [&] { return present; };

    script = [&](QDialog* d) {
        auto* dlg = qobject_cast<TOpenCom1Dlg*>(d);
        ASSERT_NE(dlg, nullptr);
        EXPECT_EQ(dlg->windowTitle(), "シリアルポートのオープン");
        EXPECT_EQ(dlg->STComPort->text(), "COM2(b)");
        EXPECT_FALSE(dlg->RGParity->isEnabled());
        EXPECT_EQ(dlg->ParityItem(), 2);
        dlg->SetSpeedItem(4);
        dlg->OKBtn->click();
    };
    PortDialogResult result = ui.PortDialog(request);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.selected, 1);
    EXPECT_EQ(result.lines, present);
    EXPECT_EQ(result.speedItem, 4);
    EXPECT_EQ(result.parityItem, 2);

    // The set changes while the dialog is open: nothing selected, the new list reported.
    script = [&](QDialog* d) {
        auto* dlg = qobject_cast<TOpenCom1Dlg*>(d);
        present = {"COM3(c)"};
        dlg->CheckDevices();
        dlg->OKBtn->click();
    };
    result = ui.PortDialog(request);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.selected, -1);
    EXPECT_EQ(result.lines, QStringList{"COM3(c)"});

    script = [](QDialog* d) { qobject_cast<TOpenCom1Dlg*>(d)->CancelBtn->click(); };
    EXPECT_FALSE(ui.PortDialog(request).ok);
}

TEST_F(QtUiTest, UploaderDialogRoundTrip)
{
    UploaderDialogRequest request{"OTA書換ツールの選択",
                                  "OTA書換ツール「espota.exe」を選択してください。",
                                  "/old/espota.exe",
                                  "espota実行ファイル|*.exe",
                                  "exe",
                                  "espota.exeは下記URLよりダウンロードしてください。",
                                  "https://example.org/espota"};
    script = [&](QDialog* d) {
        auto* dlg = qobject_cast<TInputDlg1*>(d);
        ASSERT_NE(dlg, nullptr);
        EXPECT_EQ(dlg->windowTitle(), request.caption);
        EXPECT_EQ(dlg->ST1->text(), request.prompt);
        EXPECT_EQ(dlg->EF1->text(), "/old/espota.exe");
        EXPECT_EQ(dlg->BrowseFilter, request.browseFilter);
        EXPECT_EQ(dlg->DropExt, "exe");
        EXPECT_TRUE(dlg->ST2->isVisible());
        EXPECT_EQ(dlg->ST2->text(), request.downloadNote);
        EXPECT_TRUE(dlg->URL->isVisible());
        EXPECT_EQ(dlg->URL->text(), request.url);
        dlg->EF1->setText("/new/espota.exe");
        dlg->Button1->click();
    };
    UploaderDialogResult result = ui.UploaderDialog(request);
    EXPECT_EQ(result.result, 1);
    EXPECT_EQ(result.path, "/new/espota.exe");

    script = [](QDialog* d) { QTest::keyClick(d, Qt::Key_Escape); };
    result = ui.UploaderDialog(request);
    EXPECT_EQ(result.result, 2);
    EXPECT_EQ(result.path, "/old/espota.exe");
}

TEST_F(QtUiTest, StatusTextGoesToTheSinkOrTheStatusBar)
{
    ui.SetStatusText("------- Check IFB ----------");
    EXPECT_EQ(main.statusBar()->currentMessage(), "------- Check IFB ----------");

    QStringList received;
    QtUserInteraction withSink(&main, [&](const QString& t) { received.append(t); });
    withSink.SetStatusText("x");
    EXPECT_EQ(received, QStringList{"x"});
}
