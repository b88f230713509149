#include "app/main_window.h"

#include "app/config_dialog.h"
#include "app/headless.h"
#include "app/production_loop.h"
#include "app/qt_ui.h"
#include "app/startup_flow.h"
#include "diag/lasting_log.h"
#include "diag/logged_ui.h"
#include "diag/secret_mask.h"
#include "dialogs/about_box.h"
#include "dialogs/version_info.h"
#include "platform/app_paths.h"
#include "platform/file_save.h"
#include "update/ota_update.h"
#include "update/uploader_selection.h"
#include "update/wifi_check.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace nx7
{

namespace
{
const char* const kCream = "#FFFBF0";

// The label above the uploader path names the file configured; without one, the usual name.
QString UploaderLabelText(const QString& path)
{
    const QString name = UploaderFileName(path);
    return QStringLiteral("実行ファイル(%1)").arg(name);
}

QFont NamedFont(const QString& family, const QString& fallback, int pixelSize)
{
    QFont font(family);
    font.setFamilies({family, fallback});
    font.setPixelSize(pixelSize);
    return font;
}
} // namespace

int MemoLogPane::LineCount() const
{
    const QTextDocument* doc = m_memo->document();
    if (doc->isEmpty() && !m_hasEntry)
        return 0;
    return doc->blockCount();
}

void MemoLogPane::Clear()
{
    m_memo->clear();
    m_hasEntry = false;
}

void MemoLogPane::Append(const QString& text)
{
    if (m_memo->document()->isEmpty() && m_hasEntry) {
        // The pane holds one empty line: appendPlainText would write into it instead of after it.
        QTextCursor cursor(m_memo->document());
        cursor.movePosition(QTextCursor::End);
        cursor.insertBlock();
        cursor.insertText(text);
    } else {
        m_memo->appendPlainText(text);
    }
    m_hasEntry = true;
}

void MemoLogPane::AppendLine(const QString& line)
{
    Append(line);
}

void MemoLogPane::AppendRaw(const QString& text)
{
    Append(ToolOutputEntry(text));
}

TNX7IFBProgAppForm::TNX7IFBProgAppForm(QWidget* parent)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("NX7IFBProgAppForm"));
    // 1. The window and its controls.
    BuildControls();
    BuildMenus();

    m_log = std::make_unique<MemoLogPane>(Memo1);
    // The pane's lines and every dialog's text also go to this run's log file.
    m_lasting = std::make_unique<diag::LastingLog>(m_log.get(), diag::LogFolder());
    m_ui = std::make_unique<QtUserInteraction>(
        this, [this](const QString& text) { statusBar()->showMessage(text); });
    m_loggedUi = std::make_unique<diag::LoggedUi>(*m_ui, m_lasting.get());
    m_core = std::make_unique<AppCore>(*m_loggedUi, *m_lasting);
    m_loggedUi->SetPaneLine([core = m_core.get()](const QString& line) { core->AddLog(line, true); });
    m_core->Lasting = m_lasting.get();
    m_lasting->SetSecretsSource([core = m_core.get()] { return core->Secrets(); });
    m_core->Timer1.setObjectName(QStringLiteral("Timer1"));
    m_core->View.setMainEnabled = [this](bool enabled) {
        // Dialogs owned by the window must stay usable while a flow runs, so only the window's
        // own controls and the write shortcut are disabled.
        // The log pane stays enabled (readable, scrollable, copyable); it is always read-only.
        m_panel->setEnabled(enabled);
        m_clearLog->setEnabled(enabled);
        menuBar()->setEnabled(enabled);
        ToolBar1->setEnabled(enabled);
        FileSave1->setEnabled(enabled);
    };
    m_core->View.setWriteCommandAvailable = [this](bool available) {
        ToolButton2->setEnabled(available);
        FileSaveItem->setVisible(available);
    };
    m_core->View.showUploaderPath = [this](const QString& path) {
        Sel_espota->setText(path);
        m_uploaderLabel->setText(UploaderLabelText(path));
    };
    m_core->View.showFirmware = [this](const QString& text) { Sel_firm->setText(text); };
    // The session's OK / NG counts stay at the right of the status bar, beside its messages.
    auto* counters = new QLabel(m_core->Counters.Text(), this);
    counters->setObjectName(QStringLiteral("SessionCounters"));
    statusBar()->addPermanentWidget(counters);
    m_core->View.showSessionCounters = [counters](const QString& text) { counters->setText(text); };
    // Outside the parts a running flow disables, so a production run can be stopped while it waits.
    StopContinuous = new QToolButton(this);
    StopContinuous->setObjectName(QStringLiteral("StopContinuous"));
    StopContinuous->setText(QStringLiteral("停止"));
    StopContinuous->setToolTip(QStringLiteral("連続書き込みを停止"));
    StopContinuous->setToolButtonStyle(Qt::ToolButtonTextOnly);
    StopContinuous->hide();
    connect(StopContinuous, &QToolButton::clicked, this, &TNX7IFBProgAppForm::StopContinuousClick);
    statusBar()->addPermanentWidget(StopContinuous);
    m_core->View.closeMainWindow = [this] {
        m_closeByFlow = true;
        close();
        m_closeByFlow = false;
    };

    // 2.-7. Verbose log off, settings, access point, upload password, FirmwareId.
    m_core->Initialise(SettingsFilePath());
    // 8. Caption.
    setWindowTitle(MainWindowCaption(m_core->FirmwareId));

    CentreOnScreen();
}

void TNX7IFBProgAppForm::CentreOnScreen()
{
    if (const QScreen* screen = QApplication::primaryScreen()) {
        QRect frame = geometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

TNX7IFBProgAppForm::~TNX7IFBProgAppForm()
{
    // The core refers to the log pane and the seam: take it down first.
    m_core.reset();
    m_loggedUi.reset();
    m_lasting.reset();
}

void TNX7IFBProgAppForm::BuildControls()
{
    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFixedHeight(30);
    ToolBar1->setStyleSheet(QStringLiteral("QToolBar { background: %1; }").arg(QLatin1String(kCream)));
    addToolBar(Qt::TopToolBarArea, ToolBar1);

    const auto makeButton = [this](const char* name, const QString& caption, const QString& hint) {
        auto* button = new QToolButton(ToolBar1);
        button->setObjectName(QLatin1String(name));
        button->setText(caption);
        button->setToolTip(hint);
        button->setStatusTip(hint);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        return button;
    };
    ToolButton2 = makeButton("ToolButton2", QStringLiteral("書き込み開始"), QStringLiteral("書き込み開始"));
    connect(ToolButton2, &QToolButton::clicked, this, &TNX7IFBProgAppForm::FileSave1Execute);
    ToolBar1->addWidget(ToolButton2);
    ToolBar1->addSeparator()->setVisible(false);

    TBSetConfig = makeButton("TBSetConfig", QString(), QStringLiteral("パラメータ設定"));
    TBSetConfig->setEnabled(false);
    connect(TBSetConfig, &QToolButton::clicked, this, &TNX7IFBProgAppForm::MnSetConfigClick);
    ToolBar1->addWidget(TBSetConfig)->setVisible(false);

    ToolButton4 =
        makeButton("ToolButton4", QStringLiteral("再設定"), QStringLiteral("読み込みファイル再設定"));
    connect(ToolButton4, &QToolButton::clicked, this, &TNX7IFBProgAppForm::N7Click);
    ToolBar1->addWidget(ToolButton4)->setVisible(false);

    auto* gap = new QWidget(ToolBar1);
    gap->setObjectName(QStringLiteral("ToolButton3"));
    gap->setFixedWidth(38);
    ToolBar1->addWidget(gap);

    TBExit = makeButton("TBExit", QStringLiteral("Exit"), QStringLiteral("アプリケーションの終了"));
    connect(TBExit, &QToolButton::clicked, this, &TNX7IFBProgAppForm::FileExit1Execute);
    ToolBar1->addWidget(TBExit);

    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("ClientArea"));
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* panel = new QFrame(central);
    m_panel = panel;
    panel->setObjectName(QStringLiteral("Panel4"));
    panel->setFixedHeight(147);
    panel->setAutoFillBackground(true);
    panel->setStyleSheet(QStringLiteral("QFrame#Panel4 { background: %1; }").arg(QLatin1String(kCream)));
    auto* panelLayout = new QVBoxLayout(panel);

    auto* uploaderLabel = new QLabel(UploaderLabelText(QString()), panel);
    m_uploaderLabel = uploaderLabel;
    uploaderLabel->setObjectName(QStringLiteral("Label1"));
    uploaderLabel->setAlignment(Qt::AlignCenter);
    uploaderLabel->setStyleSheet(QStringLiteral("color: blue;"));
    panelLayout->addWidget(uploaderLabel);

    Sel_espota = new QLineEdit(panel);
    Sel_espota->setObjectName(QStringLiteral("Sel_espota"));
    Sel_espota->setReadOnly(true);
    Sel_espota->setFrame(true);
    Sel_espota->setFont(NamedFont(QStringLiteral("ＭＳ 明朝"), QStringLiteral("Noto Serif CJK JP"), 19));
    Sel_espota->setStyleSheet(QStringLiteral("color: blue;"));
    panelLayout->addWidget(Sel_espota);

    auto* firmwareRow = new QHBoxLayout();
    auto* firmwareLabel = new QLabel(QStringLiteral("書き込むファームウェアバージョン"), panel);
    firmwareLabel->setObjectName(QStringLiteral("Label2"));
    firmwareLabel->setAlignment(Qt::AlignCenter);
    firmwareRow->addWidget(firmwareLabel, 1);
    Sel_firm = new QLineEdit(panel);
    Sel_firm->setObjectName(QStringLiteral("Sel_firm"));
    Sel_firm->setReadOnly(true);
    Sel_firm->setFixedWidth(220);
    firmwareRow->addWidget(Sel_firm);
    panelLayout->addLayout(firmwareRow);
    layout->addWidget(panel);

    Memo1 = new QPlainTextEdit(central);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    // Fixed-width, so that labels and values of the log's tables line up.
    QFont memoFont = NamedFont(QStringLiteral("ＭＳ ゴシック"), QStringLiteral("Noto Sans Mono CJK JP"), 18);
    memoFont.setFamilies({QStringLiteral("ＭＳ ゴシック"), QStringLiteral("Noto Sans Mono CJK JP"),
                          QStringLiteral("DejaVu Sans Mono"), QStringLiteral("monospace")});
    memoFont.setStyleHint(QFont::Monospace);
    memoFont.setFixedPitch(true);
    Memo1->setFont(memoFont);
    Memo1->setStyleSheet(QStringLiteral("QPlainTextEdit { background: %1; }").arg(QLatin1String(kCream)));
    Memo1->setReadOnly(true);
    Memo1->setContextMenuPolicy(Qt::CustomContextMenu);
    auto* popup = new QMenu(Memo1);
    popup->setObjectName(QStringLiteral("PopupMenu1"));
    // Copying and saving work while a flow runs; only clearing waits for it.
    QAction* copy = popup->addAction(QStringLiteral("コピー"));
    copy->setObjectName(QStringLiteral("MnCopy"));
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    connect(copy, &QAction::triggered, Memo1, &QPlainTextEdit::copy);
    Memo1->addAction(copy);
    QAction* selectAll = popup->addAction(QStringLiteral("すべて選択"));
    selectAll->setObjectName(QStringLiteral("MnSelectAll"));
    connect(selectAll, &QAction::triggered, Memo1, &QPlainTextEdit::selectAll);
    QAction* saveLog = popup->addAction(QStringLiteral("ログを保存..."));
    saveLog->setObjectName(QStringLiteral("MnSaveLog"));
    connect(saveLog, &QAction::triggered, this, &TNX7IFBProgAppForm::SaveLogClick);
    QAction* clear = popup->addAction(QStringLiteral("クリア"));
    clear->setObjectName(QStringLiteral("MnClear"));
    m_clearLog = clear;
    connect(clear, &QAction::triggered, this, &TNX7IFBProgAppForm::MnClearClick);
    connect(Memo1, &QWidget::customContextMenuRequested, this,
            [this, popup](const QPoint& pos) { popup->popup(Memo1->mapToGlobal(pos)); });
    layout->addWidget(Memo1, 1);
    setCentralWidget(central);

    statusBar()->setObjectName(QStringLiteral("StatusBar"));
    resize(ClientSize);
}

void TNX7IFBProgAppForm::BuildMenus()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));

    const auto item = [this](QMenu* menu, const char* name, const QString& caption, const QString& shortHint,
                             const QString& longHint, bool visible, auto handler) {
        QAction* action = menu->addAction(caption);
        action->setObjectName(QLatin1String(name));
        if (!shortHint.isEmpty())
            action->setToolTip(shortHint);
        if (!longHint.isEmpty())
            action->setStatusTip(longHint);
        action->setVisible(visible);
        connect(action, &QAction::triggered, this, handler);
        return action;
    };

    QMenu* file = bar->addMenu(QStringLiteral("ファイル(&F)"));
    file->setObjectName(QStringLiteral("File1"));
    file->menuAction()->setStatusTip(QStringLiteral("ファイル関連のコマンド"));
    FileSaveItem = item(file, "FileSaveItem", QStringLiteral("書き込み開始"), QString(), QString(), true,
                        &TNX7IFBProgAppForm::FileSave1Execute);
    ContinuousWrite = item(file, "ContinuousWrite", QStringLiteral("連続書き込み"), QString(),
                           QStringLiteral("書き込みの後、次のI/Fボードを待って続けて書き込む"), true,
                           &TNX7IFBProgAppForm::ContinuousWriteClick);
    item(file, "MnSupportBundle", QStringLiteral("サポート情報を保存..."), QString(),
         QStringLiteral("ログ・設定・ネットワークの情報をzipファイルに保存"), true,
         &TNX7IFBProgAppForm::SupportBundleClick);
    file->addSeparator();
    FileExitItem =
        item(file, "FileExitItem", QStringLiteral("終了(&X)"), QStringLiteral("終了"),
             QStringLiteral("アプリケーションの終了"), true, &TNX7IFBProgAppForm::FileExit1Execute);

    QMenu* settings = bar->addMenu(QStringLiteral("設定"));
    settings->setObjectName(QStringLiteral("MnSettings"));
    item(settings, "MnSetConfig", QStringLiteral("パラメータ設定..."), QString(), QString(), false,
         &TNX7IFBProgAppForm::MnSetConfigClick);
    settings->addSeparator();
    item(settings, "ESP32_Restart", QStringLiteral("リスタート "), QString(), QString(), false,
         &TNX7IFBProgAppForm::ESP32_RestartClick);
    item(settings, "MnESP32Reset", QStringLiteral("リセット"), QString(), QString(), false,
         &TNX7IFBProgAppForm::MnESP32ResetClick);
    settings->addSeparator();
    item(settings, "N5", QStringLiteral("テスト"), QString(), QString(), false, &TNX7IFBProgAppForm::N5Click);
    settings->addSeparator();
    item(settings, "N7", QStringLiteral("実行ファイル再設定"), QString(),
         QStringLiteral("espota.exeの再設定"), true, &TNX7IFBProgAppForm::N7Click);
    item(settings, "N8", QStringLiteral("書き込みファームウェア再設定"), QString(),
         QStringLiteral("書き込むファームウェアの再設定"), false, &TNX7IFBProgAppForm::N8Click);

    QMenu* help = bar->addMenu(QStringLiteral("ヘルプ(&H)"));
    help->setObjectName(QStringLiteral("Help1"));
    help->menuAction()->setStatusTip(QStringLiteral("ヘルプトピック"));
    item(help, "HelpAboutItem", QStringLiteral("バージョン情報(&A)..."), QStringLiteral("バージョン情報"),
         QStringLiteral("プログラム情報，バージョン番号，著作権の表示"), true,
         &TNX7IFBProgAppForm::HelpAbout1Execute);

    // The write command's action carries Ctrl+S although no menu item shows it.
    FileSave1 = new QAction(QStringLiteral("書き込み開始"), this);
    FileSave1->setObjectName(QStringLiteral("FileSave1"));
    FileSave1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    FileSave1->setShortcutContext(Qt::WindowShortcut);
    connect(FileSave1, &QAction::triggered, this, &TNX7IFBProgAppForm::FileSave1Execute);
    addAction(FileSave1);
}

template <typename F> void TNX7IFBProgAppForm::RunFlow(F&& flow)
{
    ++m_busy;
    flow();
    --m_busy;
    if (m_busy == 0 && m_closePending) {
        m_closePending = false;
        close();
    }
    if (m_busy == 0 && m_shutdownDone && !isVisible())
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
}

void TNX7IFBProgAppForm::showEvent(QShowEvent* event)
{
    if (!m_sizedToClientArea) {
        // The design's client area holds toolbar, panel, log pane and status bar; the menu bar
        // comes on top of it, and only a shown menu bar knows its height.
        m_sizedToClientArea = true;
        resize(ClientSize.width(), ClientSize.height() + menuBar()->sizeHint().height());
        CentreOnScreen();
    }
    QMainWindow::showEvent(event);
    if (!m_firstShowDone && m_busy == 0) {
        ++m_busy; // holds closes from the title bar until the verification ran
        QTimer::singleShot(0, this, [this] {
            --m_busy;
            FormShow();
        });
    }
}

void TNX7IFBProgAppForm::FormShow()
{
    if (m_firstShowDone)
        return;
    RunFlow([this] { m_ready = nx7::FormShow(*m_core); });
    m_firstShowDone = true;
    Q_EMIT firstShowFinished(m_ready);
}

void TNX7IFBProgAppForm::closeEvent(QCloseEvent* event)
{
    if (m_busy > 0 && !m_closeByFlow) {
        event->ignore();
        if (m_core->WriteRunning && !m_core->WriteAbortRequested()) {
            // A write may take minutes: ask whether to give it up; "no" lets it go on.
            MessageRequest ask = YesNoBox(QStringLiteral("書き込み中です。中止して終了しますか？"),
                                          QStringLiteral("終了の確認"));
            ask.defaultNo = true;
            // Asked through the logged seam, and the answer in the pane: the run log shows why a
            // write ended.
            const bool quit = m_loggedUi->Message(ask) == MsgResult::Yes;
            m_core->AddLog(ask.caption + QStringLiteral(": ") + ask.text +
                               (quit ? QStringLiteral(" → はい") : QStringLiteral(" → いいえ")),
                           true);
            if (!quit)
                return;
            m_core->AbortWrite();
            if (m_busy == 0) {
                // The write ended while the question was open.
                QTimer::singleShot(0, this, &QWidget::close);
                return;
            }
        }
        // A flow is talking to the board: close right after it ends (a production run ends too).
        m_stopContinuous = true;
        m_closePending = true;
        return;
    }
    FormCloseQuery(*m_core);
    m_shutdownDone = true;
    event->accept();
    if (m_busy == 0)
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
}

void TNX7IFBProgAppForm::FileSave1Execute()
{
    if (m_busy > 0 || !m_core->Engine())
        return;
    const int verdicts = m_core->Counters.Total();
    RunFlow([this] { nx7::FileSave1Execute(*m_core); });
    if (m_core->Counters.Total() != verdicts)
        m_presentWritable = false;
}

void TNX7IFBProgAppForm::ContinuousWriteClick()
{
    if (m_busy > 0 || !m_core->Engine())
        return;
    m_stopContinuous = false;
    m_continuousRunning = true;
    StopContinuous->show();
    m_ui->SetResultCloseAfterMs(LoopResultCloseMs);
    RunFlow([this] {
        m_core->SetMainEnabled(false);
        ProductionLoopOptions options;
        options.stopHint = QStringLiteral("止めるには「停止」を押してください。");
        options.stopRequested = [this] { return m_stopContinuous; };
        options.writePresentBoard = m_presentWritable;
        m_presentWritable = RunProductionLoop(*m_core, options).presentBoardWritable;
        m_core->SetMainEnabled(true);
    });
    m_ui->SetResultCloseAfterMs(0);
    StopContinuous->hide();
    m_continuousRunning = false;
}

void TNX7IFBProgAppForm::StopContinuousClick()
{
    if (!m_continuousRunning)
        return;
    m_stopContinuous = true;
    m_core->AddLog(QStringLiteral("連続書き込みを停止します。"), true);
}

void TNX7IFBProgAppForm::FileExit1Execute()
{
    close();
}

void TNX7IFBProgAppForm::HelpAbout1Execute()
{
    if (m_aboutBox) {
        m_aboutBox->SetSettingsPath(m_core->SettingsPath);
        m_aboutBox->exec();
    }
}

void TNX7IFBProgAppForm::MnClearClick()
{
    m_log->Clear();
}

void TNX7IFBProgAppForm::SaveLogClick()
{
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("ログを保存"), ProposedLogFileName(),
                                     QStringLiteral("ログファイル (*.log *.txt)"));
    if (!path.isEmpty() && !SaveLogTo(path))
        AddLog(QStringLiteral("ログを保存できませんでした: ") + QDir::toNativeSeparators(path), true);
}

QString TNX7IFBProgAppForm::ProposedLogFileName() const
{
    const QString name = m_lasting->IsOpen() ? QFileInfo(m_lasting->FilePath()).fileName()
                                             : diag::LastingLog::FileNameFor(m_runStart);
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return folder.isEmpty() ? name : QDir(folder).filePath(name);
}

bool TNX7IFBProgAppForm::SaveLogTo(const QString& path)
{
    // Passwords stay out of files, as in the lasting log, whatever the diagnostic switch says.
    const QString text = diag::MaskForFile(Memo1->toPlainText(), m_core->Secrets());
    return SaveWholeFile(path, text.toUtf8() + '\n').Saved();
}

void TNX7IFBProgAppForm::SupportBundleClick()
{
    // The dialog's own overwrite question is the asking; a symbolic link is refused by the save.
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("サポート情報を保存"), QStringLiteral("nx7ifbprog-support.zip"),
        QStringLiteral("zipファイル (*.zip)"), nullptr, QFileDialog::DontResolveSymlinks);
    if (!path.isEmpty())
        SupportBundleTo(path);
}

bool TNX7IFBProgAppForm::SupportBundleTo(const QString& path)
{
    QString error;
    if (!SaveSupportBundle(*m_core, path, GetVersionInfoText(2), &error, true)) {
        m_core->Ui.Message(ErrorBox(QStringLiteral("サポート情報を保存できませんでした。\n\n") + error));
        return false;
    }
    AddLog(QStringLiteral("サポート情報を保存しました: ") + QDir::toNativeSeparators(path), true);
    return true;
}

void TNX7IFBProgAppForm::N7Click()
{
    RunFlow([this] { nx7::N7Click(*m_core); });
}

void TNX7IFBProgAppForm::MnSetConfigClick()
{
    RunFlow([this] { nx7::MnSetConfigClick(*m_core, this); });
}

void TNX7IFBProgAppForm::N5Click()
{
    RunFlow([this] { nx7::N5Click(*m_core); });
}

void TNX7IFBProgAppForm::ESP32_RestartClick()
{
    RunFlow([this] { nx7::ESP32_RestartClick(*m_core); });
}

void TNX7IFBProgAppForm::MnESP32ResetClick()
{
    if (TTComXDlg* engine = m_core->Engine(); engine && engine->SerialOpen())
        engine->ResetPulse();
}

} // namespace nx7
