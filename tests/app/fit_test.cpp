// Every window and dialog under the offscreen platform, filled with the longest texts it shows,
// with Qt's Japanese texts installed as the program does: no label, button or field may be
// smaller than its text needs. Also: Qt's own standard buttons read in Japanese.
#include "app/config_dialog.h"
#include "app/main_window.h"
#include "app/qt_ui.h"
#include "dialogs/about_box.h"
#include "dialogs/guage_dialog.h"
#include "dialogs/msg_dialog.h"
#include "dialogs/result_dialog.h"
#include "discovery/device_list_window.h"
#include "discovery/port_dialog.h"
#include "netjoin/ap_join.h"
#include "platform/app_paths.h"
#include "support/qt_printers.h"
#include "support/scripted_ui.h"
#include "update/input_dialog.h"
#include "update/ota_update.h"
#include "update/uploader_selection.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLayout>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <gtest/gtest.h>
#include <memory>

using namespace nx7;

namespace
{

QString Plain(QString text)
{
    // "&Cancel" shows as "Cancel"; "&&" as "&".
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QStringLiteral("\x01"), QStringLiteral("&"));
    return text;
}

QString Describe(const QWidget* w, const QString& text)
{
    // Qt's inner widgets (a spin box's line edit) are named after the widget that holds them.
    QString name = w->objectName();
    if (name.startsWith(QLatin1String("qt_")) && w->parentWidget())
        name = w->parentWidget()->objectName() + QLatin1Char('/') + name;
    return QStringLiteral("%1 %2 \"%3\"")
        .arg(QString::fromLatin1(w->metaObject()->className()), name, text.left(40));
}

int LineWidth(const QFontMetrics& fm, const QString& text)
{
    int widest = 0;
    for (const QString& line : text.split(QLatin1Char('\n')))
        widest = std::max(widest, fm.horizontalAdvance(line));
    return widest;
}

// The widgets of `top` the person can see that are smaller than their text needs.
QStringList Clipped(const QWidget* top)
{
    QStringList clipped;
    for (const QWidget* w : top->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(top))
            continue;
        const QSize size = w->size();
        if (const auto* label = qobject_cast<const QLabel*>(w)) {
            if (label->text().isEmpty())
                continue;
            const QSize need = label->minimumSizeHint();
            const int needHeight = label->wordWrap() ? label->heightForWidth(size.width()) : need.height();
            if ((!label->wordWrap() && size.width() < need.width()) || size.height() < needHeight)
                clipped.append(Describe(w, label->text()) + QStringLiteral(" %1x%2 < %3x%4")
                                                                .arg(size.width())
                                                                .arg(size.height())
                                                                .arg(need.width())
                                                                .arg(needHeight));
        } else if (const auto* button = qobject_cast<const QAbstractButton*>(w)) {
            const QString text = Plain(button->text());
            if (text.isEmpty())
                continue;
            // Check and radio boxes need their indicator too: their hint is exactly that much. A
            // push button's hint adds a minimum width; its text and a small bevel must fit.
            const bool indicator = qobject_cast<const QCheckBox*>(w) || qobject_cast<const QRadioButton*>(w);
            const int need =
                indicator ? button->sizeHint().width() : LineWidth(button->fontMetrics(), text) + 2 * 4;
            if (size.width() < need)
                clipped.append(Describe(w, text) +
                               QStringLiteral(" width %1 < %2").arg(size.width()).arg(need));
        } else if (const auto* edit = qobject_cast<const QLineEdit*>(w)) {
            if (edit->text().isEmpty())
                continue;
            const QMargins m = edit->textMargins();
            const int frame =
                edit->hasFrame() ? 2 * edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, edit)
                                 : 0;
            // QLineEdit keeps two pixels either side of its text.
            const int room = size.width() - frame - m.left() - m.right() - 2 * 2;
            const int need = edit->fontMetrics().horizontalAdvance(edit->text());
            if (room < need)
                clipped.append(Describe(w, edit->text()) +
                               QStringLiteral(" room %1 < %2").arg(room).arg(need));
        }
    }
    return clipped;
}

// Shows a dialog without running its loop, lets the layout settle, and lists what is cut off.
QStringList ClippedWhenShown(QWidget& window)
{
    window.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    QApplication::processEvents();
    const QStringList clipped = Clipped(&window);
    window.hide();
    return clipped;
}

QString Joined(const QStringList& list)
{
    return list.join(QLatin1Char('\n'));
}

class WindowFit : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        // As the program starts: Qt's Japanese texts where installed.
        translated = InstallQtTranslations(*qApp);
    }

    static inline bool translated = false;
};

// The cause and action lines the NG verdict may carry below its detail.
const QString kLongCauseAndAction =
    QStringLiteral("\n\n原因: ボードからの応答がありませんでした（ケーブルの抜け、電源断、別のポート）。\n"
                   "対処: ケーブルと電源を確認し、接続製品とソフトを再起動してもう一度書き込んでください。");

} // namespace

TEST_F(WindowFit, StandardButtonsReadInJapanese)
{
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!QFile::exists(folder + QStringLiteral("/qtbase_ja.qm")))
        GTEST_SKIP() << "Qt's Japanese translations are not installed (qt6-translations-l10n)";
    ASSERT_TRUE(translated);
    QDialogButtonBox box(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Yes |
                         QDialogButtonBox::No);
    EXPECT_EQ(Plain(box.button(QDialogButtonBox::Cancel)->text()), QStringLiteral("キャンセル"));
    EXPECT_TRUE(Plain(box.button(QDialogButtonBox::Yes)->text()).startsWith(QStringLiteral("はい")))
        << qPrintable(box.button(QDialogButtonBox::Yes)->text());
    EXPECT_TRUE(Plain(box.button(QDialogButtonBox::No)->text()).startsWith(QStringLiteral("いいえ")))
        << qPrintable(box.button(QDialogButtonBox::No)->text());

    // A question the flows ask, as the person sees it.
    QtUserInteraction ui(nullptr);
    QStringList buttons;
    QtUserInteraction::beforeExec = [&](QDialog* d) {
        auto* question = qobject_cast<QMessageBox*>(d);
        ASSERT_NE(question, nullptr);
        for (QAbstractButton* b : question->buttons())
            buttons.append(Plain(b->text()));
        QTimer::singleShot(0, d, [question] { question->button(QMessageBox::No)->click(); });
    };
    MessageRequest request;
    request.text = QStringLiteral("ファームウェア書き込みは完了していません。\n中止しますか。");
    request.buttons = MsgButtons::YesNo;
    request.icon = MsgIcon::Question;
    EXPECT_EQ(ui.Message(request), MsgResult::No);
    QtUserInteraction::beforeExec = {};
    ASSERT_EQ(buttons.size(), 2);
    for (const QString& text : buttons)
        EXPECT_TRUE(text.startsWith(QStringLiteral("はい")) || text.startsWith(QStringLiteral("いいえ")))
            << qPrintable(text);
}

TEST(QtTranslations, MissingCatalogueInstallsNothing)
{
    QTemporaryDir empty;
    ASSERT_TRUE(empty.isValid());
    const QString before = QDialogButtonBox(QDialogButtonBox::Cancel).buttons().value(0)->text();
    EXPECT_FALSE(InstallQtTranslations(*qApp, empty.path()));
    EXPECT_EQ(QDialogButtonBox(QDialogButtonBox::Cancel).buttons().value(0)->text(), before);
}

TEST_F(WindowFit, ResultDialogGrowsToEveryVerdictsDetail)
{
    for (WriteOutcome outcome :
         {WriteOutcome::Success, WriteOutcome::Aborted, WriteOutcome::Timeout, WriteOutcome::UploaderError}) {
        for (const QString& extra : {QString(), kLongCauseAndAction}) {
            const WriteResultTexts texts = WriteResultFor(outcome);
            TResultDlg dialog;
            dialog.setWindowTitle(QStringLiteral("書き込み結果"));
            dialog.SetVerdict(texts.verdict, Qt::red);
            dialog.ST2->setText(texts.detail + extra);
            EXPECT_EQ(Joined(ClippedWhenShown(dialog)), QString())
                << static_cast<int>(outcome) << qPrintable(extra);
            // Never smaller than the design; the button stays below the text.
            EXPECT_GE(dialog.width(), TResultDlg::DesignSize.width());
            EXPECT_GE(dialog.height(), TResultDlg::DesignSize.height());
            EXPECT_GE(dialog.Button1->geometry().top(), dialog.ST2->geometry().bottom());
        }
    }
}

TEST_F(WindowFit, ResultDialogKeepsItsDesignSizeForAShortDetail)
{
    TResultDlg dialog;
    dialog.SetVerdict(QStringLiteral("OK"), Qt::blue);
    dialog.ST2->setText(QStringLiteral("\n完了"));
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    EXPECT_EQ(dialog.width(), TResultDlg::DesignSize.width());
    EXPECT_LE(dialog.height(), TResultDlg::DesignSize.height() + 8) << "only the layout's own margins";
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize()) << "the person cannot resize it";
}

TEST_F(WindowFit, AboutBoxShowsProductNameAndSettingsFile)
{
    TAboutBox box(nullptr, [] {});
    EXPECT_FALSE(box.SettingsFile->isVisibleTo(&box));
    box.SetSettingsPath(QStringLiteral("/home/ユーザー/.config/Orvanta/nx7ifbprog.ini"));
    EXPECT_EQ(box.SettingsFile->text(),
              QStringLiteral("設定ファイル: /home/ユーザー/.config/Orvanta/nx7ifbprog.ini"));
    EXPECT_EQ(Joined(ClippedWhenShown(box)), QString());
    EXPECT_TRUE(box.ProductName->text().contains(QStringLiteral("ファームウェアアップデート")));
}

TEST_F(WindowFit, MessageProgressAndUploaderDialogs)
{
    TMsg1Dlg join;
    join.setWindowTitle(QStringLiteral("Wi-Fi接続"));
    join.lMessage1->setText(QStringLiteral("パソコンを以下のWi-Fiアクセスポイント\nに接続してください。"));
    join.lMessage2->setText(QStringLiteral("接続完了後OKを押してください。\n書き込みが開始されます。"));
    join.Memo1->appendPlainText(QStringLiteral("SSID : NX7-IFB-0123456789AB"));
    join.Memo1->appendPlainText(QStringLiteral("PASS : 0123456789abcdef"));
    EXPECT_EQ(Joined(ClippedWhenShown(join)), QString());

    for (const QString& title : {QStringLiteral("------- Check IFB ----------"),
                                 QStringLiteral("------- Check WiFi AP Connection ----------"),
                                 QStringLiteral("------- WiFi OTA Mode ----------")}) {
        TGuage1Dlg progress;
        progress.setWindowTitle(QStringLiteral("しばらくお待ちください"));
        progress.Button1->hide();
        progress.Label1->setText(title);
        progress.CT->show();
        progress.SetDots(QStringLiteral("・・・・・・"));
        progress.SetPercent(100);
        EXPECT_EQ(Joined(ClippedWhenShown(progress)), QString()) << qPrintable(title);
        progress.Finish();
    }

    const UploaderDialogRequest request = UploaderSelectionRequest(QStringLiteral("/usr/local/bin/espota"));
    TInputDlg1 uploader;
    uploader.setWindowTitle(request.caption);
    uploader.ST1->setText(request.prompt);
    uploader.EF1->setText(request.path);
    uploader.ST2->setText(request.downloadNote);
    uploader.ST2->show();
    uploader.URL->setText(request.url);
    uploader.URL->show();
    EXPECT_EQ(Joined(ClippedWhenShown(uploader)), QString());

    // Where the program brings its own uploader, the dialog names and offers it instead.
    const UploaderDialogRequest own =
        UploaderSelectionRequest(QString(), QStringLiteral("/home/user/.local/libexec/nx7ifbprog/espota"));
    TInputDlg1 offered;
    offered.setWindowTitle(own.caption);
    offered.ST1->setText(own.prompt);
    offered.EF1->setText(own.path);
    offered.ST2->setText(own.downloadNote);
    offered.ST2->show();
    offered.URL->hide();
    EXPECT_EQ(Joined(ClippedWhenShown(offered)), QString());
}

// The automatic join failed: the dialog turns into the manual one with the reason below the network
// and password. All of it shows at once, from its first line, on the screen.
TEST_F(WindowFit, JoinDialogFallbackShowsEveryLineWithoutScrolling)
{
    const QString ssid = QStringLiteral("NX7-IFB-0123456789AB");
    const diag::CauseAction why =
        netjoin::ExplainJoinFailure(netjoin::JoinFailure::Refused, ssid,
                                    QStringLiteral("org.freedesktop.NetworkManager.network-control, "
                                                   "org.freedesktop.NetworkManager.settings.modify.own"));
    MessageDialogRequest request;
    request.caption = QStringLiteral("OTA経由のアップデート開始");
    request.message1 = QStringLiteral("パソコンをI/Fボードのアクセスポイントに自動で接続しています。");
    request.message2 = QStringLiteral("しばらくお待ちください。");
    const QStringList manualLines{QStringLiteral("SSID      : ") + ssid,
                                  QStringLiteral("Password  : 0123456789abcdef"),
                                  QStringLiteral("Version   : 3030KMT26 → 3030KMT27")};
    request.whileShown = [&](MessageDialogRequest& shown, const std::function<void(const QString&)>&,
                             const std::function<bool()>&) {
        shown.message1 = QStringLiteral("パソコンを以下のWi-Fiアクセスポイント\nに接続してください。");
        shown.message2 = QStringLiteral("接続完了後OKを押してください。\n書き込みが開始されます。");
        shown.memoLines = manualLines + why.Lines();
        return false;
    };

    QtUserInteraction ui(nullptr);
    bool checked = false;
    QtUserInteraction::beforeExec = [&](QDialog* d) {
        // Runs after the work fell back to the manual texts (queued behind it), once laid out.
        QTimer::singleShot(100, d, [&, d] {
            auto* join = qobject_cast<TMsg1Dlg*>(d);
            ASSERT_NE(join, nullptr);
            EXPECT_EQ(join->Memo1->toPlainText(), (manualLines + why.Lines()).join(QLatin1Char('\n')));
            EXPECT_EQ(join->Memo1->verticalScrollBar()->maximum(), 0) << "every line without scrolling";
            EXPECT_EQ(join->Memo1->verticalScrollBar()->value(), 0);
            EXPECT_EQ(join->Memo1->horizontalScrollBar()->maximum(), 0);
            EXPECT_EQ(Joined(Clipped(join)), QString());
            EXPECT_GE(join->width(), TMsg1Dlg::DesignSize.width());
            if (const QScreen* screen = join->screen()) {
                EXPECT_TRUE(screen->availableGeometry().contains(join->frameGeometry()))
                    << join->frameGeometry().width() << "x" << join->frameGeometry().height();
            }
            checked = true;
            join->OKBtn->click();
        });
    };
    EXPECT_EQ(ui.MessageDialog(request), TMsg1Dlg::ResultOk);
    QtUserInteraction::beforeExec = {};
    EXPECT_TRUE(checked);
}

TEST_F(WindowFit, PortDialogAndDeviceList)
{
    TOpenCom1Dlg port;
    port.setWindowTitle(QStringLiteral("シリアルポートのオープン"));
    port.SetLines({QStringLiteral("COM1"), QStringLiteral("COM33"), QStringLiteral("COM255")}, 2);
    port.SetEnumerate([] { return QStringList{QStringLiteral("COM1"), QStringLiteral("COM255")}; });
    EXPECT_EQ(Joined(ClippedWhenShown(port)), QString());

    DeviceListWindow devices{QString()};
    EXPECT_EQ(Joined(ClippedWhenShown(devices)), QString());
}

TEST_F(WindowFit, ParameterDialogOnEveryPageWithTheWidestValues)
{
    test::ScriptedUi ui;
    TConfig1Dlg dialog(ui);
    dialog.EdspiffsOffset->SetValue(0xFFFFFFFFu);
    dialog.Edespota->setText(QStringLiteral("/usr/local/bin/espota"));
    dialog.Edesptool->setText(QStringLiteral("/usr/local/bin/esptool"));
    dialog.EdPartationFile->setText(QStringLiteral("/home/user/partitions.csv"));
    for (TUpdownNumberEdit* octet : {dialog.EdTCIP1, dialog.EdTCIP2, dialog.EdTCIP3, dialog.EdTCIP4})
        octet->SetValue(255);
    dialog.EdTCPPort->SetValue(65535);
    for (int page = 0; page < dialog.PageControl1->count(); ++page) {
        dialog.PageControl1->setCurrentIndex(page);
        EXPECT_EQ(Joined(ClippedWhenShown(dialog)), QString()) << "page " << page;
    }
}

TEST_F(WindowFit, MainWindowHasItsDesignClientAreaAndNothingCut)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    SetExecutablePathOverride(dir.filePath(QStringLiteral("nx7ifbprog")));
    {
        // Shown and taken down before the event loop runs again: the board verification the first
        // show schedules never starts; only the layout matters here.
        TNX7IFBProgAppForm window;
        window.findChild<QLineEdit*>(QStringLiteral("Sel_espota"))
            ->setText(QStringLiteral("/usr/local/bin/espota"));
        window.findChild<QLineEdit*>(QStringLiteral("Sel_firm"))->setText(QStringLiteral("Ver : 3030KMT27"));
        window.show();
        EXPECT_EQ(window.width(), TNX7IFBProgAppForm::ClientSize.width());
        EXPECT_EQ(window.height() - window.menuBar()->height(), TNX7IFBProgAppForm::ClientSize.height());

        // Toolbar, panel, log pane and status bar share the design's client area, no more.
        const int parts = window.findChild<QToolBar*>(QStringLiteral("ToolBar1"))->height() +
                          window.findChild<QWidget*>(QStringLiteral("Panel4"))->height() +
                          window.findChild<QPlainTextEdit*>(QStringLiteral("Memo1"))->height() +
                          window.statusBar()->height();
        EXPECT_EQ(parts, TNX7IFBProgAppForm::ClientSize.height());
        EXPECT_EQ(Joined(Clipped(&window)), QString());
    }
    SetExecutablePathOverride(QString());
}
