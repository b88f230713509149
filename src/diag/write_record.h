#pragma once
// The record of writes: one line per write, single or repeated, appended to
// `<settings folder>/log/results.csv` so that a production run leaves a list of which board got
// what. UTF-8 with a byte-order mark (spreadsheet programs need it to read the Japanese right),
// the mark and the header line written only when the file is new; lines end with CR LF.
#include <QDateTime>
#include <QString>
#include <QStringList>

namespace nx7::diag
{

struct WriteRecord {
    QDateTime time;           // when the write ended
    QString port;             // "/dev/ttyUSB0", "COM3", "192.168.0.10:10777"
    QString model;            // the board's model name
    QString targetId;         // the board's target id
    QString versionBefore;    // ROM version before the write ("" when unknown)
    QString versionAfter;     // ROM version after the restart ("" when not read)
    QString verdict;          // "OK" or "NG"
    QString failureClass;     // empty for OK
    qint64 durationMs = -1;   // whole write; < 0: unknown (empty column)
    double transferKBps = -1; // image size over the upload time; < 0: unknown (empty column)
};

// `<folder>/log/results.csv`; `settingsFolder` with or without a trailing separator.
QString WriteRecordPath(const QString& settingsFolder);

// The column names, in order.
QStringList WriteRecordColumns();

// One field as CSV wants it: quoted (inner quotes doubled) when it holds a comma, a quote, a
// line break or leading/trailing spaces; as it is otherwise.
QString CsvField(const QString& text);

// One record as a CSV line, without the line end.
QString WriteRecordLine(const WriteRecord& record);

// Appends `record` to the file at `path`, creating its folder and, for a new or empty file, the
// byte-order mark and the header line. Existing content is never rewritten: a file whose last
// line lacks its end gets one first, so the new record starts on a line of its own. False with
// `error` (the path and the system's reason) when the folder or the file cannot be written.
bool AppendWriteRecord(const QString& path, const WriteRecord& record, QString* error = nullptr);

// OK / NG counts of the writes of this session, for the window's counters and the summary.
struct SessionCounters {
    int ok = 0;
    int ng = 0;

    void Count(bool success) { ++(success ? ok : ng); }
    int Total() const { return ok + ng; }
    // "OK 3 / NG 1"
    QString Text() const;
};

} // namespace nx7::diag
