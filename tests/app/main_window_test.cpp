// The real main window under the offscreen platform: its controls, menus and hints, the log pane's
// rules, and whole starts and writes against ifb-sim over a pseudo-terminal with every modal dialog
// scripted through the seam's beforeExec hook.
#include "app/main_window.h"
#include "app/qt_ui.h"
#include "app/write_pc.h"
#include "diag/fake_network.h"
#include "dialogs/about_box.h"
#include "dialogs/guage_dialog.h"
#include "e2e/e2e_support.h"
#include "platform/adapters.h"
#include "platform/app_paths.h"
#include "platform/tick_clock.h"
#include "update/auto_join.h"
#include "update/firmware_image.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

using namespace nx7;

namespace
{

// Writes here never join an access point by themselves: the tests stay off the system's bus.
const bool kNoAutoJoin = [] {
    nx7::SetAutoJoinFactory([] { return std::unique_ptr<nx7::AutoJoin>(); });
    return true;
}();

const QString kCaption = QStringLiteral("I/Fボード ファームウェアアップデート for PB-RL11 (3030KMT27)");

// Scripts the modal dialogs the window runs: a handler per objectName, run inside the dialog's own
// loop. Anything unscripted is recorded and dismissed, and a dialog left open is failed and closed,
// so a surprise never hangs the run.
class DialogScript
{
public:
    using Handler = std::function<void(QDialog*)>;

    DialogScript()
    {
        QtUserInteraction::beforeExec = [this](QDialog* d) { Arrive(d); };
    }
    ~DialogScript() { QtUserInteraction::beforeExec = {}; }
    DialogScript(const DialogScript&) = delete;
    DialogScript& operator=(const DialogScript&) = delete;

    void On(const QString& name, Handler handler) { m_handlers[name] = std::move(handler); }

    static Handler Click(const QString& button)
    {
        return [button](QDialog* d) {
            auto* b = d->findChild<QPushButton*>(button);
            ASSERT_NE(b, nullptr) << qPrintable(button);
            b->click();
        };
    }

    QStringList seen; // objectNames in order; message boxes as "QMessageBox: <text>"

private:
    void Arrive(QDialog* d)
    {
        QString name = d->objectName();
        if (auto* box = qobject_cast<QMessageBox*>(d))
            name = QStringLiteral("QMessageBox: ") + box->text();
        seen.append(name);
        const Handler handler = m_handlers.value(d->objectName());
        QTimer::singleShot(0, d, [d, handler] {
            if (handler)
                handler(d);
            else
                d->reject();
        });
        QTimer::singleShot(15000, d, [d, name] {
            ADD_FAILURE() << "dialog left open: " << qPrintable(name);
            d->reject();
        });
    }

    QMap<QString, Handler> m_handlers;
};

QStringList LinesOf(const QPlainTextEdit* memo)
{
    const QString text = memo->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

class MainWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        // The settings live beside "the executable": put it in this test's own folder.
        SetExecutablePathOverride(dir.filePath(QStringLiteral("nx7ifbprog")));
        ini = dir.filePath(QStringLiteral("Orvanta/nx7ifbprog.ini"));
    }

    void TearDown() override
    {
        window.reset();
        SetExecutablePathOverride(QString());
    }

    void WriteIni(const QString& text)
    {
        ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("Orvanta"))));
        QFile f(ini);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text.toUtf8());
    }

    QString ReadIni() const
    {
        QFile f(ini);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    TNX7IFBProgAppForm& Window()
    {
        if (!window)
            window = std::make_unique<TNX7IFBProgAppForm>();
        return *window;
    }

    template <typename T> T* Find(const char* name)
    {
        T* found = Window().findChild<T*>(QLatin1String(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    QPlainTextEdit* Memo() { return Find<QPlainTextEdit>("Memo1"); }

    // This run's log file (the only one in the test's settings folder).
    QString RunLogText() const
    {
        const QDir logs(dir.filePath(QStringLiteral("Orvanta/log")));
        const QStringList files = logs.entryList({QStringLiteral("nx7ifbprog-*.log")}, QDir::Files);
        if (files.size() != 1)
            return QString();
        QFile run(logs.filePath(files.first()));
        return run.open(QIODevice::ReadOnly) ? QString::fromUtf8(run.readAll()) : QString();
    }

    QTemporaryDir dir;
    QString ini;
    std::unique_ptr<TNX7IFBProgAppForm> window;
};

// --- The window as built --------------------------------------------------------------------------

TEST_F(MainWindowTest, CaptionPanelAndToolbarInOrder)
{
    EXPECT_EQ(Window().windowTitle(), kCaption);
    ASSERT_NE(Find<QWidget>("Panel4"), nullptr);
    ASSERT_NE(Find<QStatusBar>("StatusBar"), nullptr);
    auto* espota = Find<QLineEdit>("Sel_espota");
    auto* firm = Find<QLineEdit>("Sel_firm");
    ASSERT_TRUE(espota && firm);
    EXPECT_TRUE(espota->isReadOnly());
    EXPECT_TRUE(firm->isReadOnly());
    // Filled by the first show only.
    EXPECT_TRUE(firm->text().isEmpty());

    auto* bar = Find<QToolBar>("ToolBar1");
    ASSERT_NE(bar, nullptr);
    QStringList items;
    for (QAction* a : bar->actions()) {
        const QWidget* w = bar->widgetForAction(a);
        QString item = a->isSeparator() || !w ? QStringLiteral("-") : w->objectName();
        item += a->isVisible() ? QStringLiteral(" shown") : QStringLiteral(" hidden");
        items.append(item);
    }
    EXPECT_EQ(items, (QStringList{"ToolButton2 shown", "- hidden", "TBSetConfig hidden", "ToolButton4 hidden",
                                  "ToolButton3 shown", "TBExit shown"}));
    EXPECT_FALSE(Find<QToolButton>("TBSetConfig")->isEnabled());

    struct Button {
        const char* name;
        QString caption;
        QString hint;
    };
    for (const Button& b :
         {Button{"ToolButton2", QStringLiteral("書き込み開始"), QStringLiteral("書き込み開始")},
          Button{"TBSetConfig", QString(), QStringLiteral("パラメータ設定")},
          Button{"ToolButton4", QStringLiteral("再設定"), QStringLiteral("読み込みファイル再設定")},
          Button{"TBExit", QStringLiteral("Exit"), QStringLiteral("アプリケーションの終了")}}) {
        auto* button = Find<QToolButton>(b.name);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->text(), b.caption) << b.name;
        EXPECT_EQ(button->toolTip(), b.hint) << b.name;
        EXPECT_EQ(button->statusTip(), b.hint) << b.name;
    }
}

// Each menu's items in order: objectName (or "-" for a separator), caption, shown or hidden.
QStringList MenuItems(const QMenu* menu)
{
    QStringList items;
    for (const QAction* a : menu->actions()) {
        if (a->isSeparator())
            items.append(QStringLiteral("-"));
        else
            items.append(a->objectName() + QLatin1Char('|') + a->text() + QLatin1Char('|') +
                         (a->isVisible() ? QStringLiteral("shown") : QStringLiteral("hidden")));
    }
    return items;
}

TEST_F(MainWindowTest, MainMenuItemsHiddenItemsAndHints)
{
    QMenuBar* bar = Window().menuBar();
    EXPECT_EQ(bar->objectName(), QStringLiteral("MainMenu1"));
    QStringList top;
    for (const QAction* a : bar->actions())
        top.append(a->text() + QLatin1Char('|') + a->statusTip());
    EXPECT_EQ(top,
              (QStringList{"ファイル(&F)|ファイル関連のコマンド", "設定|", "ヘルプ(&H)|ヘルプトピック"}));

    auto* file = Find<QMenu>("File1");
    auto* settings = Find<QMenu>("MnSettings");
    auto* help = Find<QMenu>("Help1");
    ASSERT_TRUE(file && settings && help);
    EXPECT_EQ(
        MenuItems(file),
        (QStringList{"FileSaveItem|書き込み開始|shown", "ContinuousWrite|連続書き込み|shown",
                     "MnSupportBundle|サポート情報を保存...|shown", "-", "FileExitItem|終了(&X)|shown"}));
    // The restart item's caption ends in a blank.
    EXPECT_EQ(MenuItems(settings),
              (QStringList{"MnSetConfig|パラメータ設定...|hidden", "-", "ESP32_Restart|リスタート |hidden",
                           "MnESP32Reset|リセット|hidden", "-", "N5|テスト|hidden", "-",
                           "N7|実行ファイル再設定|shown", "N8|書き込みファームウェア再設定|hidden"}));
    EXPECT_EQ(MenuItems(help), (QStringList{"HelpAboutItem|バージョン情報(&A)...|shown"}));

    struct Hint {
        const char* item;
        QString shortHint; // tool tip
        QString longHint;  // status-bar text
    };
    for (const Hint& h :
         {Hint{"FileExitItem", QStringLiteral("終了"), QStringLiteral("アプリケーションの終了")},
          Hint{"HelpAboutItem", QStringLiteral("バージョン情報"),
               QStringLiteral("プログラム情報，バージョン番号，著作権の表示")},
          Hint{"N7", QString(), QStringLiteral("espota.exeの再設定")},
          Hint{"N8", QString(), QStringLiteral("書き込むファームウェアの再設定")}}) {
        auto* action = Find<QAction>(h.item);
        ASSERT_NE(action, nullptr);
        if (!h.shortHint.isEmpty()) {
            EXPECT_EQ(action->toolTip(), h.shortHint) << h.item;
        }
        EXPECT_EQ(action->statusTip(), h.longHint) << h.item;
    }

    // The write command's shortcut sits on an action of the window that no menu shows.
    auto* save = Find<QAction>("FileSave1");
    ASSERT_NE(save, nullptr);
    EXPECT_EQ(save->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
    EXPECT_TRUE(Window().actions().contains(save));
    EXPECT_FALSE(file->actions().contains(save));
}

TEST_F(MainWindowTest, LogPaneContextMenuClearsIt)
{
    QPlainTextEdit* memo = Memo();
    ASSERT_NE(memo, nullptr);
    auto* popup = memo->findChild<QMenu*>(QStringLiteral("PopupMenu1"));
    ASSERT_NE(popup, nullptr);
    QStringList items;
    for (const QAction* a : popup->actions())
        items.append(a->objectName() + QLatin1Char('|') + a->text());
    EXPECT_EQ(items, (QStringList{"MnCopy|コピー", "MnSelectAll|すべて選択", "MnSaveLog|ログを保存...",
                                  "MnClear|クリア"}));
    EXPECT_TRUE(memo->isReadOnly());
    QAction* clear = popup->actions().last();
    EXPECT_EQ(clear->objectName(), QStringLiteral("MnClear"));
    EXPECT_EQ(clear->text(), QStringLiteral("クリア"));

    Window().AddLog(QStringLiteral("one"), true);
    Window().AddLog(QStringLiteral("two"), true);
    ASSERT_EQ(LinesOf(memo), (QStringList{"one", "two"}));

    // A right click on the pane opens that menu.
    Q_EMIT memo->customContextMenuRequested(QPoint(5, 5));
    EXPECT_TRUE(popup->isVisible());
    clear->trigger();
    popup->close();
    EXPECT_TRUE(memo->toPlainText().isEmpty());
    // Cleared means no lines: the next line is the first.
    Window().AddLog(QStringLiteral("three"), true);
    EXPECT_EQ(LinesOf(memo), (QStringList{"three"}));
}

// The pane's text leaves the window by copy, by "ログを保存..." and in the run's log file and the
// support zip; only the copy (the person's own selection) may carry a password.
TEST_F(MainWindowTest, LogCopiesSavedLogRunLogAndSupportZip)
{
    AppCore& core = Window().Core();
    const QStringList passwords{core.UploadPassword, core.ApRecord.Password};
    core.AddLog(QStringLiteral("uploader --auth=") + passwords.at(0) + QStringLiteral(" ap ") +
                    passwords.at(1),
                true);
    core.AddLog(QStringLiteral("second line"), true);

    QPlainTextEdit* memo = Memo();
    Find<QAction>("MnSelectAll")->trigger();
    Find<QAction>("MnCopy")->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), memo->toPlainText());
    EXPECT_TRUE(memo->isReadOnly());

    const auto expectNoPassword = [&passwords](const QString& text, const char* what) {
        for (const QString& p : passwords)
            EXPECT_FALSE(text.contains(p)) << what << " holds " << p.toStdString();
    };
    const QString saved = dir.filePath(QStringLiteral("pane.log"));
    ASSERT_TRUE(Window().SaveLogTo(saved));
    QFile pane(saved);
    ASSERT_TRUE(pane.open(QIODevice::ReadOnly));
    const QString paneText = QString::fromUtf8(pane.readAll());
    EXPECT_TRUE(paneText.contains(QStringLiteral("second line")));
    expectNoPassword(paneText, "the saved pane");

    const QDir logs(dir.filePath(QStringLiteral("Orvanta/log")));
    const QStringList files = logs.entryList({QStringLiteral("nx7ifbprog-*.log")}, QDir::Files);
    ASSERT_EQ(files.size(), 1);
    QFile run(logs.filePath(files.first()));
    ASSERT_TRUE(run.open(QIODevice::ReadOnly));
    const QString runText = QString::fromUtf8(run.readAll());
    EXPECT_TRUE(runText.contains(QStringLiteral("second line")));
    EXPECT_TRUE(runText.contains(QStringLiteral("--auth=***")));
    expectNoPassword(runText, "the run's log");

    const QString zip = dir.filePath(QStringLiteral("support.zip"));
    ASSERT_TRUE(Window().SupportBundleTo(zip));
    QProcess unzip;
    unzip.start(QStringLiteral("unzip"), {QStringLiteral("-p"), zip});
    ASSERT_TRUE(unzip.waitForFinished(20000));
    const QString content = QString::fromUtf8(unzip.readAllStandardOutput());
    EXPECT_TRUE(content.contains(QStringLiteral("second line")));
    expectNoPassword(content, "the support zip");
}

// "ログを保存..." proposes the run's own file name (its start time), as the run's log file has it.
TEST_F(MainWindowTest, SaveLogProposesTheRunsFileName)
{
    Window();
    const QDir logs(dir.filePath(QStringLiteral("Orvanta/log")));
    const QStringList files = logs.entryList({QStringLiteral("nx7ifbprog-*.log")}, QDir::Files);
    ASSERT_EQ(files.size(), 1);
    const QString proposed = Window().ProposedLogFileName();
    EXPECT_EQ(QFileInfo(proposed).fileName(), files.first());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^nx7ifbprog-\\d{8}-\\d{6}(-\\d+)?\\.log$"))
                    .match(QFileInfo(proposed).fileName())
                    .hasMatch())
        << qPrintable(proposed);
    EXPECT_NE(QFileInfo(proposed).absolutePath(), logs.absolutePath()) << "not over the run's own log";
}

// Aligned labels in the log (the version and board tables) need a fixed-width face.
TEST_F(MainWindowTest, LogPaneUsesAFixedWidthFont)
{
    const QFontMetrics fm(Memo()->font());
    EXPECT_EQ(fm.horizontalAdvance(QStringLiteral("iiiiiiii")),
              fm.horizontalAdvance(QStringLiteral("MMMMMMMM")))
        << qPrintable(QFontInfo(Memo()->font()).family());
    EXPECT_EQ(fm.horizontalAdvance(QStringLiteral("ID   : ")),
              fm.horizontalAdvance(QStringLiteral("SSID : ")));
}

// The label above the path names the configured uploader's own file; without one, the usual name.
TEST_F(MainWindowTest, UploaderLabelNamesTheConfiguredFile)
{
    auto* label = Find<QLabel>("Label1");
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), QStringLiteral("実行ファイル(espota.exe)"));
    const auto& show = Window().Core().View.showUploaderPath;
    ASSERT_TRUE(show);
    show(QStringLiteral("/usr/libexec/nx7ifbprog/espota"));
    EXPECT_EQ(label->text(), QStringLiteral("実行ファイル(espota)"));
    EXPECT_EQ(Find<QLineEdit>("Sel_espota")->text(), QStringLiteral("/usr/libexec/nx7ifbprog/espota"));
    show(QStringLiteral("C:\\ツール\\espota.exe"));
    EXPECT_EQ(label->text(), QStringLiteral("実行ファイル(espota.exe)"));
}

TEST_F(MainWindowTest, SettingsFolderBesideTheExecutableAndDefaultsWithoutAFile)
{
    ASSERT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("Orvanta"))));
    AppCore& core = Window().Core();
    EXPECT_TRUE(QFileInfo(dir.filePath(QStringLiteral("Orvanta"))).isDir());
    EXPECT_EQ(core.SettingsPath, ini);
    // Nothing is written until the window closes.
    EXPECT_FALSE(QFileInfo::exists(ini));
    const TOptionSettings defaults;
    EXPECT_EQ(core.Settings.ComPort, defaults.ComPort);
    EXPECT_EQ(core.Settings.CONECT_WAIT_TIME, 15000);
    EXPECT_EQ(core.Settings.Prog_WAIT_TIME, 60000);
    EXPECT_EQ(core.Settings.SelectModel, 1);
    EXPECT_EQ(core.Settings.binPath_Mode, 1);
    EXPECT_FALSE(core.VerboseLog);
    EXPECT_EQ(core.UploadPassword, QStringLiteral("KW5GDH4072"));
    EXPECT_EQ(core.ApRecord.Password, QStringLiteral("MervoxTqLu"));

    EXPECT_EQ(core.Timer1.objectName(), QStringLiteral("Timer1"));
    EXPECT_EQ(core.Timer1.interval(), 50);
    EXPECT_FALSE(core.Timer1.isActive());
    EXPECT_EQ(core.Engine(), nullptr);
}

TEST_F(MainWindowTest, AboutBoxNamesTheSettingsFileInUse)
{
    TAboutBox box(&Window(), [] {});
    Window().SetAboutBox(&box);
    QString shown;
    QTimer::singleShot(0, &box, [&] {
        shown = box.SettingsFile->isVisible() ? box.SettingsFile->text() : QString();
        box.OKButton->click();
    });
    Window().HelpAbout1Execute();
    EXPECT_EQ(shown, QStringLiteral("設定ファイル: ") + ini);
}

// The command line of the real executable: an option it does not know is named before the usage;
// a known option in the wrong place, or options that do not go together, only bring the usage.
TEST(CommandLine, UnknownOptionIsNamedBeforeTheUsage)
{
    e2e::ToolFolder tool;
    ASSERT_TRUE(tool.ok());
    struct Case {
        QStringList args;
        QString named;
    };
    const Case cases[] = {
        {{"--frobnicate"}, "--frobnicate"},
        {{"--headless", "--writ", "--yes"}, "--writ"},
        {{"--yes"}, ""},
        {{"--headless", "--port"}, "--port"},
        {{"--headless", "--yes", "--no"}, ""},
        {{"--headless", "--port", "COM0"}, ""},
        {{"--headless", "--port=COM256"}, ""},
        {{"--headless", "--port", "LPT1"}, ""},
        {{"--write"}, ""},
        {{"--force"}, ""},
        {{"--support-bundle", "b.zip", "--headless", "--write"}, ""},
        {{"--support-bundle=b.zip", "--port", "COM3"}, ""},
    };
    for (const Case& c : cases) {
        const e2e::RunResult r = tool.Run(c.args, 20000);
        const QString what = c.args.join(QLatin1Char(' '));
        EXPECT_EQ(r.exitCode, 2) << qPrintable(what);
        EXPECT_TRUE(r.out.isEmpty()) << qPrintable(what);
        QStringList lines = r.err.split(QLatin1Char('\n'));
        if (!c.named.isEmpty()) {
            EXPECT_EQ(lines.takeFirst(), QStringLiteral("不明なオプション: ") + c.named) << qPrintable(what);
        }
        EXPECT_TRUE(lines.value(0).startsWith(QStringLiteral("Usage: nx7ifbprog"))) << qPrintable(r.err);
    }
}

TEST_F(MainWindowTest, ExistingOptionValuesAreLoaded)
{
    WriteIni(QStringLiteral("[Option]\r\nComPort=12\r\nCONECT_WAIT_TIME=777\r\nApp_ESPOta=/opt/espota\r\n"));
    EXPECT_EQ(Window().Core().Settings.ComPort, 12);
    EXPECT_EQ(Window().Core().Settings.CONECT_WAIT_TIME, 777);
    EXPECT_EQ(Window().Core().Settings.App_ESPOta, QStringLiteral("/opt/espota"));
}

// Exit and 終了 run the shutdown: without an engine it only saves section Option.
class ExitCommandTest : public MainWindowTest, public ::testing::WithParamInterface<const char*>
{
};

TEST_P(ExitCommandTest, SavesTheSettingsAndCloses)
{
    // Never shown, so no verification and no engine: the close only writes the settings.
    Window();
    ASSERT_FALSE(QFileInfo::exists(ini));
    const QString name = QString::fromLatin1(GetParam());
    if (auto* button = Window().findChild<QToolButton*>(name))
        button->click();
    else if (auto* action = Window().findChild<QAction*>(name))
        action->trigger();
    else
        FAIL() << GetParam();
    const QString saved = ReadIni();
    EXPECT_TRUE(saved.contains(QStringLiteral("[Option]")));
    EXPECT_TRUE(saved.contains(QStringLiteral("USBchange=1")));
    EXPECT_TRUE(saved.contains(QStringLiteral("OldDousaMode=0")));
}

INSTANTIATE_TEST_SUITE_P(Commands, ExitCommandTest, ::testing::Values("TBExit", "FileExitItem"));

// --- AddLog through the real log pane -------------------------------------------------------------

TEST_F(MainWindowTest, AddLogDropsUnforcedLinesWhileVerboseLogIsOff)
{
    QPlainTextEdit* memo = Memo();
    ASSERT_NE(memo, nullptr);
    Window().AddLog(QStringLiteral("step"), false);
    EXPECT_TRUE(memo->toPlainText().isEmpty());
    Window().AddLog(QStringLiteral("IFB-ROMVer : 3030KMT27"), true);
    EXPECT_EQ(LinesOf(memo), (QStringList{"IFB-ROMVer : 3030KMT27"}));
    Window().Core().VerboseLog = true;
    Window().AddLog(QStringLiteral("step"), false);
    EXPECT_EQ(LinesOf(memo), (QStringList{"IFB-ROMVer : 3030KMT27", "step"}));
}

TEST_F(MainWindowTest, AddLogEmptiesAFullPaneBeforeTheNextLine)
{
    QPlainTextEdit* memo = Memo();
    ASSERT_NE(memo, nullptr);
    for (int i = 1; i <= 1999; ++i)
        Window().AddLog(QStringLiteral("line %1").arg(i), true);
    // 1999 lines are not yet full.
    Window().AddLog(QStringLiteral("line 2000"), true);
    ASSERT_EQ(memo->document()->blockCount(), 2000);
    EXPECT_EQ(memo->document()->firstBlock().text(), QStringLiteral("line 1"));
    EXPECT_EQ(memo->document()->lastBlock().text(), QStringLiteral("line 2000"));

    // An unforced line with VerboseLog off does not count as the next line.
    Window().AddLog(QStringLiteral("dropped"), false);
    EXPECT_EQ(memo->document()->blockCount(), 2000);

    Window().AddLog(QStringLiteral("after"), true);
    EXPECT_EQ(LinesOf(memo), (QStringList{"after"}));
}

TEST_F(MainWindowTest, AnEmptyFirstLineStaysALine)
{
    QPlainTextEdit* memo = Memo();
    ASSERT_NE(memo, nullptr);
    Window().AddLog(QString(), true); // ConnectBoard writes an empty result text like this
    Window().AddLog(QStringLiteral("next"), true);
    EXPECT_EQ(LinesOf(memo), (QStringList{"", "next"}));
}

// --- Whole runs against the simulated board -------------------------------------------------------

// After its restart the board is asked for its mode until it answers.
const QStringList kCheck{"GetMode",         "ModeSet(0000)", "Restart",    "GetMode",   "GetWifiSsid",
                         "GetWifiPassword", "GetNetParams",  "RomVersion", "ModelName", "TargetId"};
const QStringList kRestore{"ModeSet(0105)", "Restart"};

const QString kUploaderOutput =
    QStringLiteral("Sending invitation to 192.168.4.1 \nAuthenticating...OK\n"
                   "Uploading: [============================================================] 100% Done...");

class BoardWindowTest : public MainWindowTest
{
protected:
    void TearDown() override
    {
        if (sampler)
            sampler->stop();
        if (watcher)
            qApp->removeEventFilter(watcher.get());
        MainWindowTest::TearDown();
        sim.Stop();
        SetClock(nullptr);
        SetFirmwareResourceRoot(QString());
        SetAdapterProvider({});
        AppCore::SetDefaultNetwork(nullptr);
    }

    // Settings with short waits, the stand-in uploader and COM9, then the simulator pinned as COM9
    // with a mode word worth restoring; then the window.
    void StartBoard(const QStringList& simArgs)
    {
        uploader = e2e::WriteStandInUploader(dir.path(), dir.filePath(QStringLiteral("args.txt")),
                                             kUploaderOutput, 0.3);
        ASSERT_FALSE(uploader.isEmpty());
        WriteIni(QStringLiteral("[Option]\nComPort=9\nCHK_IFB_TIME=1200\nCONECT_WAIT_TIME=4000\n"
                                "Prog_WAIT_TIME=8000\nApp_ESPOta=%1\n")
                     .arg(uploader));
        const QStringList args{QStringLiteral("--restart-ms"), QStringLiteral("60"),
                               QStringLiteral("--mode"),       QStringLiteral("0x0105"),
                               QStringLiteral("--model"),      QStringLiteral("PB-RL11 IFB")};
        ASSERT_TRUE(sim.Start(ini, 9, dir.filePath(QStringLiteral("record.txt")), args + simArgs))
            << qPrintable(sim.Stderr());

        // The image the tool carries, and a PC Wi-Fi address on the board's network.
        ASSERT_TRUE(test::PrepareWritePc(dir.path()));

        // The protocol's fixed pauses and reply waits run four times faster.
        SetClock(&clock);
        Window();
    }

    // Shows the window, accepts the port dialog as offered and waits for the verification.
    bool ShowAndVerify(bool* ready)
    {
        script.On(QStringLiteral("OpenCom1Dlg"), DialogScript::Click(QStringLiteral("OKBtn")));
        QSignalSpy spy(window.get(), &TNX7IFBProgAppForm::firstShowFinished);
        window->show();
        if (!spy.wait(20000))
            return false;
        *ready = spy.first().first().toBool();
        return true;
    }

    // Calls `probe` every 20 ms while flows run (timers fire in their event pumping).
    void Sample(std::function<void()> probe)
    {
        sampler = std::make_unique<QTimer>();
        QObject::connect(sampler.get(), &QTimer::timeout, std::move(probe));
        sampler->start(20);
    }

    // Calls `probe` at every event the application delivers while flows run: a step that ends
    // within one timer period is still seen, since its dialog is shown through events.
    void Watch(std::function<void()> probe)
    {
        class Filter : public QObject
        {
        public:
            explicit Filter(std::function<void()> f)
                : m_probe(std::move(f))
            {
            }
            bool eventFilter(QObject*, QEvent* event) override
            {
                // Shows and timer ticks only: other events also arrive while a dialog is torn down.
                if (!m_busy && (event->type() == QEvent::Show || event->type() == QEvent::Timer)) {
                    m_busy = true;
                    m_probe();
                    m_busy = false;
                }
                return false;
            }

        private:
            std::function<void()> m_probe;
            bool m_busy = false;
        };
        watcher = std::make_unique<Filter>(std::move(probe));
        qApp->installEventFilter(watcher.get());
    }

    QString ProgressState() const
    {
        TGuage1Dlg* p = window->Ui().CurrentProgress();
        if (!p)
            return QString();
        QString state = p->Label1->text();
        if (p->CT->isVisible())
            state += QStringLiteral(" [") + p->CT->text() + QLatin1Char(']');
        state += p->isVisible() && p->isEnabled() ? QStringLiteral(" usable") : QStringLiteral(" unusable");
        // The window's own controls; the log pane stays readable throughout.
        state += window->findChild<QWidget*>(QStringLiteral("Panel4"))->isEnabled()
                     ? QStringLiteral(", window on")
                     : QStringLiteral(", window off");
        return state;
    }

    SteadyTickClock clock{4.0};
    e2e::Simulator sim;
    DialogScript script;
    QString uploader;
    std::unique_ptr<QTimer> sampler;
    std::unique_ptr<QObject> watcher;
};

TEST_F(BoardWindowTest, StartShowsTheBoardAndCloseRestoresItsMode)
{
    StartBoard({});
    bool ready = false;
    ASSERT_TRUE(ShowAndVerify(&ready));
    ASSERT_TRUE(ready) << qPrintable(script.seen.join(QLatin1Char('\n')));
    EXPECT_EQ(script.seen, QStringList{"OpenCom1Dlg"});

    EXPECT_EQ(Find<QLineEdit>("Sel_espota")->text(), uploader);
    EXPECT_EQ(Find<QLineEdit>("Sel_firm")->text(), QStringLiteral("Ver : 3030KMT27"));
    // VerboseLog off: only the board facts.
    EXPECT_EQ(LinesOf(Memo()),
              (QStringList{"IFB-ROMVer : 3030KMT27", "IFB-ModelName : PB-RL11 IFB", "ID : 1234"}));
    EXPECT_EQ(Window().windowTitle(), kCaption);
    EXPECT_TRUE(Window().centralWidget()->isEnabled());
    EXPECT_TRUE(Window().Core().Timer1.isActive());
    ASSERT_NE(Window().Core().Engine(), nullptr);
    // Shown for real: the hidden toolbar buttons stay hidden.
    EXPECT_TRUE(Find<QToolButton>("ToolButton2")->isVisible());
    EXPECT_TRUE(Find<QToolButton>("ToolButton2")->isEnabled());
    EXPECT_TRUE(Find<QToolButton>("TBExit")->isVisible());
    EXPECT_FALSE(Find<QToolButton>("TBSetConfig")->isVisible());
    EXPECT_FALSE(Find<QToolButton>("ToolButton4")->isVisible());
    EXPECT_EQ(sim.Requests(), kCheck);

    Window().close();
    EXPECT_FALSE(Window().isVisible());
    EXPECT_EQ(Window().Core().Engine(), nullptr);
    EXPECT_FALSE(Window().Core().Timer1.isActive());
    EXPECT_EQ(sim.Requests(), kCheck + kRestore);
    const QString saved = ReadIni();
    for (const char* key : {"OldDousaMode=5", "fNoVerCheck=0", "ComPort=9", "ProgMode=0"})
        EXPECT_TRUE(saved.contains(QLatin1String(key))) << key;
    EXPECT_TRUE(saved.contains(QStringLiteral("COM9="))) << "the pinned port is kept";
}

TEST_F(BoardWindowTest, WriteWithCtrlSAndTheCommandStaysWithdrawn)
{
    // The station joins after 200 ms: replies count on arrival, so the link wait would otherwise be
    // over before the progress sampler looks.
    StartBoard({QStringLiteral("--ota-result"), QStringLiteral("OK"), QStringLiteral("--rom-after-update"),
                QStringLiteral("3030KMT27"), QStringLiteral("--station-after-ms"), QStringLiteral("200")});
    bool ready = false;
    Window().Core().VerboseLog = true;
    ASSERT_TRUE(ShowAndVerify(&ready));
    ASSERT_TRUE(ready) << qPrintable(script.seen.join(QLatin1Char('\n')));
    EXPECT_EQ(Window().statusBar()->currentMessage(), QString()) << "the check's title went with its step";
    const QStringList startLog = LinesOf(Memo());
    EXPECT_TRUE(startLog.contains(QStringLiteral("Find NX7 IFB")));
    EXPECT_TRUE(startLog.contains(QStringLiteral("COM Port : COM9")));
    const qsizetype checkRequests = sim.Requests().size();

    QStringList joinMemo;
    bool joinUsable = false;
    bool windowOffDuringJoin = false;
    bool logReadableDuringJoin = false;
    script.On(QStringLiteral("Msg1Dlg"), [&](QDialog* d) {
        joinMemo = LinesOf(d->findChild<QPlainTextEdit*>(QStringLiteral("Memo1")));
        joinUsable = d->isVisible() && d->isEnabled();
        windowOffDuringJoin = !Find<QAction>("FileSave1")->isEnabled() &&
                              !Find<QWidget>("Panel4")->isEnabled() && !Find<QAction>("MnClear")->isEnabled();
        // Not greyed out: the log can still be read, scrolled and copied, only not edited.
        logReadableDuringJoin = Memo()->isEnabled() && Memo()->isReadOnly();
        DialogScript::Click(QStringLiteral("OKBtn"))(d);
    });
    QString verdict;
    QColor verdictColour;
    QString detail;
    QString resultCaption;
    script.On(QStringLiteral("ResultDlg"), [&](QDialog* d) {
        auto* st1 = d->findChild<QLabel*>(QStringLiteral("ST1"));
        auto* st2 = d->findChild<QLabel*>(QStringLiteral("ST2"));
        ASSERT_TRUE(st1 && st2);
        verdict = st1->text();
        verdictColour = st1->palette().color(QPalette::WindowText);
        detail = st2->text();
        resultCaption = d->windowTitle();
        DialogScript::Click(QStringLiteral("Button1"))(d);
    });
    QStringList progress;
    Watch([&] {
        const QString state = ProgressState();
        if (!state.isEmpty() && !progress.contains(state))
            progress.append(state);
    });

    auto* counters = Find<QLabel>("SessionCounters");
    ASSERT_NE(counters, nullptr);
    EXPECT_EQ(counters->text(), QStringLiteral("OK 0 / NG 0"));
    Window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Window()));
    QTest::keyClick(&Window(), Qt::Key_S, Qt::ControlModifier);

    EXPECT_EQ(script.seen, (QStringList{"OpenCom1Dlg", "Msg1Dlg", "ResultDlg"}));
    EXPECT_EQ(counters->text(), QStringLiteral("OK 1 / NG 0"));
    // The record line carries what the start-up read: the board's model and target id.
    QFile record(dir.filePath(QStringLiteral("Orvanta/log/results.csv")));
    ASSERT_TRUE(record.open(QIODevice::ReadOnly));
    const QStringList rows =
        QString::fromUtf8(record.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows.at(1).split(QLatin1Char(',')).mid(2, 6),
              (QStringList{"PB-RL11 IFB", "1234", "3030KMT27", "3030KMT27", "OK", ""}));
    EXPECT_EQ(
        joinMemo,
        (QStringList{"SSID      : IFB-SIM-OTA", "Password  : MervoxTqLu",
                     "Version   : 3030KMT27 → 3030KMT27（同じバージョンです。書き込んでも変わりません）"}));
    EXPECT_TRUE(joinUsable);
    EXPECT_TRUE(windowOffDuringJoin);
    EXPECT_TRUE(logReadableDuringJoin);
    EXPECT_EQ(resultCaption, QStringLiteral("書き込み結果"));
    EXPECT_EQ(verdict, QStringLiteral("OK"));
    EXPECT_EQ(verdictColour, QColor(0, 0, 255));
    EXPECT_EQ(detail, QStringLiteral("\nファームウェア書き込みが正常に完了しました。"));
    // The link wait, then the write with its banner; usable while the window is disabled.
    EXPECT_TRUE(
        progress.contains(QStringLiteral("------- Check WiFi AP Connection ---------- usable, window off")))
        << qPrintable(progress.join(QLatin1Char('\n')));
    EXPECT_TRUE(
        progress.contains(QStringLiteral("------- WiFi OTA Mode ---------- [書き込み中] usable, window off")))
        << qPrintable(progress.join(QLatin1Char('\n')));
    EXPECT_EQ(Window().Ui().CurrentProgress(), nullptr);

    QStringList written = sim.Requests().mid(checkRequests);
    written.removeAll(QStringLiteral("GetMode")); // the status polls, any number
    EXPECT_EQ(written, (QStringList{"GetApInfo", "SetOtaMode(02 01)", "Restart", "ModelName", "RomVersion"} +
                        kRestore));

    QFile args(dir.filePath(QStringLiteral("args.txt")));
    ASSERT_TRUE(args.open(QIODevice::ReadOnly));
    const QStringList argv = QString::fromUtf8(args.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(argv.size(), 11);
    EXPECT_EQ(argv.mid(0, 10), (QStringList{"-i", "192.168.4.1", "-p", "3232", "-I", "192.168.4.10", "-P",
                                            "3233", "--auth=KW5GDH4072", "-f"}));
    const QString tempImage = argv.last();
    EXPECT_TRUE(tempImage.startsWith(dir.filePath(QStringLiteral("Orvanta/UOf-")))) << qPrintable(tempImage);
    EXPECT_FALSE(QFileInfo::exists(tempImage));

    const QStringList log = LinesOf(Memo());
    EXPECT_TRUE(log.contains(QStringLiteral("OK: Program Update")));
    EXPECT_TRUE(log.contains(QStringLiteral("IFB-ROMVer : 3030KMT27")));
    EXPECT_TRUE(log.join(QLatin1Char('\n')).contains(QStringLiteral("100% Done...")));
    ASSERT_GE(log.size(), 2);
    EXPECT_TRUE(log.at(log.size() - 2).startsWith(QStringLiteral("実行時間: ")));
    EXPECT_EQ(log.last(), QStringLiteral("OK:ファームウェア書き込みが正常に完了しました。"));

    // Outcome 0: button and menu item withdrawn, the window itself usable again, Ctrl+S kept.
    EXPECT_FALSE(Find<QToolButton>("ToolButton2")->isEnabled());
    EXPECT_FALSE(Find<QAction>("FileSaveItem")->isVisible());
    EXPECT_TRUE(Window().centralWidget()->isEnabled());
    EXPECT_TRUE(Find<QWidget>("Panel4")->isEnabled());
    EXPECT_TRUE(Memo()->isReadOnly()); // always: the pane is a record, not an editor
    EXPECT_TRUE(Find<QAction>("MnClear")->isEnabled());
    EXPECT_TRUE(Window().menuBar()->isEnabled());
    EXPECT_TRUE(Find<QToolBar>("ToolBar1")->isEnabled());
    EXPECT_TRUE(Find<QAction>("FileSave1")->isEnabled());

    // Ctrl+S still starts a write: declined at the join dialog, the board is restarted.
    qApp->removeEventFilter(watcher.get());
    script.On(QStringLiteral("Msg1Dlg"), DialogScript::Click(QStringLiteral("CancelBtn")));
    // The write ended by restarting the board: give it its restart time first.
    QTest::qWait(300);
    const qsizetype afterWrite = sim.Requests().size();
    Window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Window()));
    QTest::keyClick(&Window(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(script.seen, (QStringList{"OpenCom1Dlg", "Msg1Dlg", "ResultDlg", "Msg1Dlg"}));
    // The cancel is in the pane and in the run's log, not only the dialog's texts.
    const QString cancelled = QStringLiteral("「OTA経由のアップデート開始」はキャンセルされました。");
    EXPECT_TRUE(LinesOf(Memo()).contains(cancelled));
    EXPECT_TRUE(RunLogText().contains(cancelled));
    // The board restarted by the last write is heard again first.
    EXPECT_EQ(sim.Requests().mid(afterWrite),
              (QStringList{"GetMode", "GetApInfo", "SetOtaMode(02 01)", "Restart"}));
    EXPECT_FALSE(Find<QToolButton>("ToolButton2")->isEnabled());

    // ProgMode set by the write reaches the settings file at the close.
    Window().close();
    EXPECT_EQ(sim.Requests().mid(sim.Requests().size() - 2), kRestore);
    EXPECT_TRUE(ReadIni().contains(QStringLiteral("ProgMode=1")));
}

// "連続書き込み" writes the board at hand, waits for the next one (another target id), writes it;
// "停止", shown only while the loop runs and usable while it waits, ends it with the summary.
TEST_F(BoardWindowTest, ContinuousWriteRunsUntilTheStopButton)
{
    StartBoard({QStringLiteral("--ota-result"), QStringLiteral("OK"), QStringLiteral("--next-boards"),
                QStringLiteral("0x2222")});
    bool ready = false;
    ASSERT_TRUE(ShowAndVerify(&ready));
    ASSERT_TRUE(ready) << qPrintable(script.seen.join(QLatin1Char('\n')));
    script.On(QStringLiteral("Msg1Dlg"), DialogScript::Click(QStringLiteral("OKBtn")));
    // Nobody clicks the result boxes: board after board they close by themselves.
    script.On(QStringLiteral("ResultDlg"), [](QDialog*) {});
    const int closeAfter = TNX7IFBProgAppForm::LoopResultCloseMs;
    TNX7IFBProgAppForm::LoopResultCloseMs = 200;
    auto* stop = Find<QToolButton>("StopContinuous");
    ASSERT_NE(stop, nullptr);
    EXPECT_FALSE(stop->isVisible());

    bool shownWhileRunning = false;
    bool clicked = false;
    Sample([&] {
        if (clicked || !window->ContinuousRunning())
            return;
        shownWhileRunning = shownWhileRunning || stop->isVisible();
        // Both boards written: the loop waits for a third one when the button is pressed.
        if (window->Core().Counters.Total() >= 2 && stop->isVisible() && stop->isEnabled()) {
            clicked = true;
            QTest::mouseClick(stop, Qt::LeftButton);
        }
    });
    Find<QAction>("ContinuousWrite")->trigger();
    sampler->stop();
    TNX7IFBProgAppForm::LoopResultCloseMs = closeAfter;

    EXPECT_TRUE(clicked);
    EXPECT_TRUE(shownWhileRunning);
    EXPECT_FALSE(stop->isVisible());
    EXPECT_FALSE(window->ContinuousRunning());
    EXPECT_EQ(script.seen, (QStringList{"OpenCom1Dlg", "Msg1Dlg", "ResultDlg", "Msg1Dlg", "ResultDlg"}));
    EXPECT_EQ(Find<QLabel>("SessionCounters")->text(), QStringLiteral("OK 2 / NG 0"));
    const QStringList log = LinesOf(Memo());
    for (const char* line : {"連続書き込みを停止します。", "書き込んだI/Fボード: 2 (OK 2 / NG 0)",
                             "ID 1234: 3030KMT27 -> 3030KMT27 OK", "ID 2222: 3030KMT27 -> 3030KMT27 OK"})
        EXPECT_TRUE(log.contains(QString::fromUtf8(line))) << line << "\n" << qPrintable(log.join('\n'));
    EXPECT_TRUE(Window().menuBar()->isEnabled());
    EXPECT_TRUE(Find<QWidget>("Panel4")->isEnabled());

    // Started again, the loop does not write the board it wrote last: it waits for the next one.
    clicked = false;
    Sample([&] {
        if (!clicked && window->ContinuousRunning() && stop->isVisible()) {
            clicked = true;
            QTest::mouseClick(stop, Qt::LeftButton);
        }
    });
    Find<QAction>("ContinuousWrite")->trigger();
    EXPECT_TRUE(clicked);
    EXPECT_EQ(window->Core().Counters.Total(), 2);
    EXPECT_EQ(script.seen.size(), 5);
}

// Closing the window while the loop waits for the next board ends the loop with its summary, then
// the close runs as usual and gives the board its mode back.
TEST_F(BoardWindowTest, CloseWhileTheLoopWaitsEndsItAndRestoresTheBoard)
{
    StartBoard({QStringLiteral("--ota-result"), QStringLiteral("OK")});
    bool ready = false;
    ASSERT_TRUE(ShowAndVerify(&ready));
    ASSERT_TRUE(ready) << qPrintable(script.seen.join(QLatin1Char('\n')));
    script.On(QStringLiteral("Msg1Dlg"), DialogScript::Click(QStringLiteral("OKBtn")));
    script.On(QStringLiteral("ResultDlg"), DialogScript::Click(QStringLiteral("Button1")));
    bool closed = false;
    bool stayedOpen = false;
    Sample([&] {
        if (closed || window->Core().Counters.Total() < 1 ||
            !LinesOf(Memo()).contains(
                QStringLiteral("次のI/Fボードを待っています。止めるには「停止」を押してください。")))
            return;
        closed = true;
        window->close();
        stayedOpen = window->isVisible();
    });
    Find<QAction>("ContinuousWrite")->trigger();
    ASSERT_TRUE(closed);
    EXPECT_TRUE(stayedOpen) << "the close waits for the loop's end";
    EXPECT_FALSE(Window().isVisible());
    EXPECT_EQ(Window().Core().Engine(), nullptr);
    EXPECT_TRUE(LinesOf(Memo()).contains(QStringLiteral("書き込んだI/Fボード: 1 (OK 1 / NG 0)")));
    EXPECT_EQ(sim.Requests().mid(sim.Requests().size() - 2), kRestore);
}

TEST_F(BoardWindowTest, CloseDuringTheVerificationWaitsForItsEnd)
{
    StartBoard({});
    bool closeRequested = false;
    bool stayedOpen = false;
    Sample([&] {
        if (closeRequested || !window->Ui().CurrentProgress())
            return;
        // The title bar's close while the board check runs.
        closeRequested = true;
        window->close();
        stayedOpen = window->isVisible() && window->Core().Engine();
    });
    bool ready = false;
    ASSERT_TRUE(ShowAndVerify(&ready));
    ASSERT_TRUE(closeRequested);
    EXPECT_TRUE(stayedOpen);
    // The verification ran to its end, then the close restored the mode.
    EXPECT_TRUE(ready);
    EXPECT_EQ(sim.Requests(), kCheck + kRestore);
    EXPECT_FALSE(Window().isVisible());
    EXPECT_EQ(Window().Core().Engine(), nullptr);
}

TEST_F(BoardWindowTest, RefusedBoardClosesTheWindowAfterRestoringTheMode)
{
    StartBoard({QStringLiteral("--model"), QStringLiteral("PB-RL12")});
    bool ready = true;
    ASSERT_TRUE(ShowAndVerify(&ready));
    EXPECT_FALSE(ready);
    EXPECT_EQ(
        script.seen,
        (QStringList{
            "OpenCom1Dlg",
            "QMessageBox: 対応外のI/Fボードです。\n\nお使いのI/Fボード対応のツールをお使いください。"}));
    EXPECT_FALSE(Window().isVisible());
    EXPECT_EQ(sim.Requests(), kCheck.mid(0, 9) + kRestore);
    EXPECT_EQ(Window().Core().Engine(), nullptr);
    EXPECT_TRUE(Find<QLineEdit>("Sel_firm")->text().isEmpty());
}

} // namespace
