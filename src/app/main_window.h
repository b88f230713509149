#pragma once
// The main window: toolbar, uploader/firmware panel, log pane, status bar and menus. Its state and
// operations live in AppCore; this class is the thin view around it.
#include "core/app_core.h"
#include "platform/log_pane.h"

#include <QDateTime>
#include <QMainWindow>
#include <QSize>
#include <memory>

class QAction;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QToolBar;
class QToolButton;

namespace nx7
{

namespace diag
{
class LastingLog;
class LoggedUi;
} // namespace diag

class QtUserInteraction;
class TAboutBox;

// Memo1 as the flows' log pane.
class MemoLogPane : public LogPane
{
public:
    explicit MemoLogPane(QPlainTextEdit* memo)
        : m_memo(memo)
    {
    }
    int LineCount() const override;
    void Clear() override;
    void AppendLine(const QString& line) override;
    void AppendRaw(const QString& text) override;

private:
    void Append(const QString& text);
    QPlainTextEdit* m_memo;
    // An empty document looks the same with no line and with one empty line: remember which.
    bool m_hasEntry = false;
};

class TNX7IFBProgAppForm : public QMainWindow
{
    Q_OBJECT
public:
    // Toolbar, panel, log pane and status bar; the menu bar is extra.
    static constexpr QSize ClientSize{851, 406};

    explicit TNX7IFBProgAppForm(QWidget* parent = nullptr);
    ~TNX7IFBProgAppForm() override;

    AppCore& Core() { return *m_core; }
    QtUserInteraction& Ui() { return *m_ui; }
    void SetAboutBox(TAboutBox* box) { m_aboutBox = box; }
    // Whether the start-up verification ended with the window ready.
    bool Ready() const { return m_ready; }
    bool FirstShowDone() const { return m_firstShowDone; }

    void AddLog(const QString& text, bool force) { m_core->AddLog(text, force); }

    // Handlers.
    void FileSave1Execute();
    // "連続書き込み": board after board until "停止" (StopContinuous) or the close.
    void ContinuousWriteClick();
    void StopContinuousClick();
    bool ContinuousRunning() const { return m_continuousRunning; }
    // Board after board, each result box closes by itself after this long: nobody has to click it
    // and "停止" is reachable again soon.
    static inline int LoopResultCloseMs = 4000;
    void FileExit1Execute();
    void HelpAbout1Execute();
    void MnClearClick();
    // The log pane's "ログを保存..." and the file menu's "サポート情報を保存...": a file dialog, then
    // the file. The *To variants write to a given path (tests, no dialog); false when it failed.
    void SaveLogClick();
    bool SaveLogTo(const QString& path);
    // The file "ログを保存..." proposes: named after the run's start, as its run log is.
    QString ProposedLogFileName() const;
    void SupportBundleClick();
    bool SupportBundleTo(const QString& path);
    void N7Click();
    void N8Click() {}
    void MnSetConfigClick();
    void N5Click();
    void ESP32_RestartClick();
    void MnESP32ResetClick();
    void FormShow();

Q_SIGNALS:
    void firstShowFinished(bool ready);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    void BuildMenus();
    void CentreOnScreen();
    // Runs a flow with the busy mark set, so a close request from the title bar waits for it.
    template <typename F> void RunFlow(F&& flow);

    QPlainTextEdit* Memo1 = nullptr;
    QFrame* m_panel = nullptr;
    QAction* m_clearLog = nullptr;
    std::unique_ptr<MemoLogPane> m_log;
    std::unique_ptr<diag::LastingLog> m_lasting;
    std::unique_ptr<QtUserInteraction> m_ui;
    std::unique_ptr<diag::LoggedUi> m_loggedUi;
    std::unique_ptr<AppCore> m_core;
    TAboutBox* m_aboutBox = nullptr;

    QToolBar* ToolBar1 = nullptr;
    QToolButton* ToolButton2 = nullptr;
    QToolButton* TBSetConfig = nullptr;
    QToolButton* ToolButton4 = nullptr;
    QToolButton* TBExit = nullptr;
    QLineEdit* Sel_espota = nullptr;
    QLineEdit* Sel_firm = nullptr;
    QAction* FileSave1 = nullptr; // carries Ctrl+S; never withdrawn
    QAction* FileSaveItem = nullptr;
    QAction* ContinuousWrite = nullptr;
    QToolButton* StopContinuous = nullptr;
    QAction* FileExitItem = nullptr;

    bool m_firstShowDone = false;
    bool m_sizedToClientArea = false;
    bool m_ready = false;
    int m_busy = 0;
    bool m_closeByFlow = false;
    QLabel* m_uploaderLabel = nullptr;
    QDateTime m_runStart = QDateTime::currentDateTime();
    bool m_closePending = false;
    bool m_shutdownDone = false;
    bool m_continuousRunning = false;
    bool m_stopContinuous = false;
    // The board at the other end passed the checks and has not been written yet: a production run
    // begins with it; otherwise it waits for the next board.
    bool m_presentWritable = true;
};

} // namespace nx7
