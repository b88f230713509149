#pragma once
// The headless front-end: the same flows as the window, with log lines on standard output and
// dialogs printed on standard error and answered from the command line.
#include "platform/log_pane.h"
#include "platform/ui_seam.h"

#include <QString>
#include <cstdio>

namespace nx7
{

struct HeadlessOptions {
    bool write = false;
    bool repeat = false; // with write: board after board until interrupted
    bool yes = false;
    bool verbose = false;
    QString port; // "COM<n>" to accept in the port dialog; empty: the configured one
};

class AppCore;

// The support zip of this PC and this tool: logs, settings (passwords masked), versions, network,
// serial ports, firewall. `toolVersion` as the user sees it. Never through a symbolic link; over
// an existing file only when `overwrite` (the person confirmed it). False with `error` set on
// failure.
bool SaveSupportBundle(const AppCore& app, const QString& zipPath, const QString& toolVersion, QString* error,
                       bool overwrite);

// `--support-bundle FILE.zip [--force]`: the zip without a board and without a window; an
// existing file is replaced only with `force`. Returns the exit status (0 written, 1 not).
int RunSupportBundle(const QString& zipPath, const QString& toolVersion, bool force = false);

// Log-pane lines go to `out`, one line each, as the pane would show them.
class StreamLog : public LogPane
{
public:
    explicit StreamLog(std::FILE* out)
        : m_out(out)
    {
    }
    int LineCount() const override { return m_lines; }
    void Clear() override { m_lines = 0; }
    void AppendLine(const QString& line) override;
    void AppendRaw(const QString& text) override;

private:
    std::FILE* m_out;
    int m_lines = 0;
};

class HeadlessUi : public UserInteraction
{
public:
    HeadlessUi(HeadlessOptions options, std::FILE* err)
        : m_options(std::move(options))
        , m_err(err)
    {
    }
    MsgResult Message(const MessageRequest& request) override;
    void ProgressBegin(const ProgressRequest& request) override;
    void ProgressSetLabel(const QString& label) override;
    void ProgressSetDots(const QString&) override {}
    void ProgressSetPercent(int percent) override;
    void ProgressEnd() override { m_lastPercent = -1; }
    int MessageDialog(const MessageDialogRequest& request) override;
    void ResultDialog(const ResultDialogRequest& request) override;
    PortDialogResult PortDialog(const PortDialogRequest& request) override;
    UploaderDialogResult UploaderDialog(const UploaderDialogRequest& request) override;
    void SetStatusText(const QString&) override {}
    void Beep() override {}
    // The port the settings name ("COM<n>"): without --port, the only one the port dialog accepts.
    void SetConfiguredPort(const QString& name) { m_configuredPort = name; }

private:
    void Print(const QString& caption, const QString& text);
    HeadlessOptions m_options;
    std::FILE* m_err;
    int m_lastPercent = -1;
    int m_portDialogs = 0;
    QString m_configuredPort;
};

// Runs first show, optionally the write command once, then the close. Returns the exit status:
// 0 when the start ended ready and (with --write) the write ended with verdict OK, else 1;
// 128 + the signal number after SIGINT, SIGTERM, SIGHUP or SIGQUIT (the run then ends as a close does).
int RunHeadless(const HeadlessOptions& options);

} // namespace nx7
