#pragma once
// A log pane that also keeps everything on disk: every pane line and every dialog text with the
// time of day, the uploader's output (within the pane's bound: its first and last part, and one
// line saying how much was left out), and the protocol trace when the diagnostic switch is on.
// One file per run, `<settings folder>/log/nx7ifbprog-YYYYMMDD-HHMMSS.log`; the newest 20 are
// kept. Passwords are written as "***", the diagnostic switch on or off. A write that fails (a
// full disk) is cut off again, so the file holds whole entries only; the pane is told once.
#include "diag/output_limiter.h"
#include "platform/log_pane.h"

#include <QDateTime>
#include <QFile>
#include <QStringList>
#include <functional>
#include <memory>

namespace nx7::diag
{

constexpr int kKeptLogFiles = 20;

class LastingLog : public LogPane
{
public:
    using Clock = std::function<QDateTime()>;

    // `inner` (may be null) is the pane shown to the user; `folder` gets the files (created when
    // missing). A file that cannot be opened leaves the log pane working without a file.
    LastingLog(LogPane* inner, const QString& folder, Clock clock = {});
    ~LastingLog() override;

    bool IsOpen() const { return m_file.isOpen(); }
    QString FilePath() const { return m_file.fileName(); }

    void SetDiagnostic(bool on) { m_diagnostic = on; }
    bool Diagnostic() const { return m_diagnostic; }
    // The current passwords; a later call replaces the list.
    void SetSecrets(const QStringList& secrets) { m_secrets = secrets; }
    void AddSecret(const QString& secret);
    // Asked at every write for the passwords known then (they change while the tool runs).
    void SetSecretsSource(std::function<QStringList()> source) { m_secretsSource = std::move(source); }

    // The pane: everything goes on to `inner` unchanged and into the file.
    int LineCount() const override;
    void Clear() override; // clears the pane only; the file keeps everything
    void AppendLine(const QString& line) override;
    void AppendRaw(const QString& text) override;

    // File only.
    void LogDialog(const QString& caption, const QString& text);
    // One piece of the uploader's output; a run's output is kept within the pane's bound.
    void LogUploaderOutput(const QString& text);
    // The uploader has ended: the omission line and the held last part are written.
    void EndUploaderOutput();
    void LogTrace(const QString& line); // written only while the diagnostic switch is on
    void LogNote(const QString& line);

    // The file name a run started at `start` gets.
    static QString FileNameFor(const QDateTime& start);
    // Deletes the oldest files (by name) of this tool in `folder` so that `keep` remain.
    static void PruneOldLogs(const QString& folder, int keep = kKeptLogFiles);
    // This tool's log files in `folder`, oldest first.
    static QStringList LogFiles(const QString& folder);

private:
    // The uploader's output as the limiter hands it on.
    class UploaderSink : public LogPane
    {
    public:
        explicit UploaderSink(LastingLog& log)
            : m_log(log)
        {
        }
        int LineCount() const override { return 0; }
        void Clear() override {}
        void AppendLine(const QString& line) override;
        void AppendRaw(const QString& text) override;

    private:
        LastingLog& m_log;
    };

    void Write(const QString& tag, const QString& text);

    LogPane* m_inner;
    Clock m_clock;
    QFile m_file;
    bool m_diagnostic = false;
    QStringList m_secrets;
    std::function<QStringList()> m_secretsSource;
    UploaderSink m_uploaderSink{*this};
    std::unique_ptr<OutputLimiter> m_uploaderLimiter;
    bool m_writeFailureSaid = false;
    int m_lostEntries = 0; // entries not written since the last one that was
};

// `<settings folder>/log/`.
QString LogFolder();

} // namespace nx7::diag
