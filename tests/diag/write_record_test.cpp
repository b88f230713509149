// The record of writes: the file's shape when new and when grown, CSV quoting that survives a
// round trip, and what happens to files that are damaged or cannot be written.
#include "diag/write_record.h"

#include "support/qt_printers.h"
#include "support/small_disk.h"
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace nx7::diag
{
namespace
{

QByteArray ReadBytes(const QString& path)
{
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    return f.readAll();
}

void WriteBytes(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// A reader as a spreadsheet program reads the file: quoted fields may hold commas, doubled
// quotes and line breaks; records end with CR LF.
QList<QStringList> ParseCsv(const QString& text)
{
    QList<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"')) {
                field += c;
                ++i;
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            row << field;
            field.clear();
        } else if (c == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n')) {
            row << field;
            rows << row;
            row.clear();
            field.clear();
            ++i;
        } else {
            field += c;
        }
    }
    EXPECT_TRUE(field.isEmpty() && row.isEmpty()) << "last record without its line end";
    return rows;
}

WriteRecord Sample()
{
    WriteRecord r;
    r.time = QDateTime(QDate(2026, 12, 10), QTime(15, 4, 5));
    r.port = QStringLiteral("/dev/ttyUSB0");
    r.model = QStringLiteral("NX7-IFB");
    r.targetId = QStringLiteral("A1B2C3");
    r.versionBefore = QStringLiteral("3030KMT26");
    r.versionAfter = QStringLiteral("3030KMT27");
    r.verdict = QStringLiteral("OK");
    r.durationMs = 41234;
    r.transferKBps = 52.25;
    return r;
}

class WriteRecordTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QString Path() const { return WriteRecordPath(dir.path()); }
};

TEST_F(WriteRecordTest, NewFileGetsMarkAndHeaderOnceThenOneLinePerWrite)
{
    EXPECT_EQ(Path(), dir.filePath(QStringLiteral("log/results.csv")));
    EXPECT_EQ(WriteRecordPath(dir.path() + QLatin1Char('/')), Path());

    ASSERT_TRUE(AppendWriteRecord(Path(), Sample()));
    WriteRecord ng = Sample();
    ng.verdict = QStringLiteral("NG");
    ng.versionAfter.clear();
    ng.failureClass = QStringLiteral("transfer lost");
    ng.durationMs = -1;
    ng.transferKBps = -1;
    ASSERT_TRUE(AppendWriteRecord(Path(), ng));

    const QByteArray expected =
        "\xEF\xBB\xBF"
        "time,port,model,target id,version before,version after,verdict,failure class,"
        "duration s,transfer KB/s\r\n"
        "2026-12-10 15:04:05,/dev/ttyUSB0,NX7-IFB,A1B2C3,3030KMT26,3030KMT27,OK,,41.2,52.3\r\n"
        "2026-12-10 15:04:05,/dev/ttyUSB0,NX7-IFB,A1B2C3,3030KMT26,,NG,transfer lost,,\r\n";
    EXPECT_EQ(ReadBytes(Path()), expected);
}

TEST(CsvFieldTest, QuotesOnlyWhatNeedsIt)
{
    const struct {
        QString in;
        QString out;
    } cases[] = {
        {QStringLiteral("3030KMT27"), QStringLiteral("3030KMT27")},
        {QString(), QString()},
        {QStringLiteral("応答なし"), QStringLiteral("応答なし")},
        {QStringLiteral("a,b"), QStringLiteral("\"a,b\"")},
        {QStringLiteral("say \"hi\""), QStringLiteral("\"say \"\"hi\"\"\"")},
        {QStringLiteral("two\nlines"), QStringLiteral("\"two\nlines\"")},
        {QStringLiteral("cr\rhere"), QStringLiteral("\"cr\rhere\"")},
        {QStringLiteral(" padded "), QStringLiteral("\" padded \"")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CsvField(c.in), c.out) << c.in.toStdString();
}

TEST_F(WriteRecordTest, AwkwardFieldsComeBackUnchanged)
{
    WriteRecord r = Sample();
    r.port = QStringLiteral("192.168.0.10:10777");
    r.model = QStringLiteral("Reader, \"rev B\"");
    r.failureClass = QStringLiteral("認証失敗\r\n2行目, \"引用\"");
    r.verdict = QStringLiteral("NG");
    ASSERT_TRUE(AppendWriteRecord(Path(), r));
    ASSERT_TRUE(AppendWriteRecord(Path(), Sample()));

    const QByteArray bytes = ReadBytes(Path());
    ASSERT_TRUE(bytes.startsWith("\xEF\xBB\xBF"));
    const QList<QStringList> rows = ParseCsv(QString::fromUtf8(bytes.mid(3)));
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0], WriteRecordColumns());
    for (const QStringList& row : rows)
        EXPECT_EQ(row.size(), WriteRecordColumns().size()) << row.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(rows[1][1], r.port);
    EXPECT_EQ(rows[1][2], r.model);
    EXPECT_EQ(rows[1][7], r.failureClass);
    EXPECT_EQ(rows[2][2], QStringLiteral("NX7-IFB"));
}

TEST_F(WriteRecordTest, ExistingContentIsKeptByteForByte)
{
    const struct {
        const char* name;
        QByteArray before;
        QByteArray joint; // what separates the old content from the new line
    } cases[] = {
        {"complete last line", QByteArray("\xEF\xBB\xBFtime,x\r\nold,line\r\n"), QByteArray()},
        {"last line cut short", QByteArray("\xEF\xBB\xBFtime,x\r\nold,li"), QByteArray("\r\n")},
        {"file edited elsewhere, LF only", QByteArray("time,x\nold\n"), QByteArray()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteBytes(Path(), c.before);
        ASSERT_TRUE(AppendWriteRecord(Path(), Sample()));
        EXPECT_EQ(ReadBytes(Path()), c.before + c.joint + WriteRecordLine(Sample()).toUtf8() + "\r\n");
    }
}

TEST_F(WriteRecordTest, EmptyFileIsTreatedAsNew)
{
    WriteBytes(Path(), QByteArray());
    ASSERT_TRUE(AppendWriteRecord(Path(), Sample()));
    EXPECT_TRUE(ReadBytes(Path()).startsWith("\xEF\xBB\xBFtime,port,"));
}

TEST_F(WriteRecordTest, UnwritablePlaceReportsInsteadOfFailingQuietly)
{
    // A plain file where the log folder should be: nothing can be created below it, whoever runs
    // the test.
    WriteBytes(dir.filePath(QStringLiteral("blocked")), "x");
    const QString path = WriteRecordPath(dir.filePath(QStringLiteral("blocked")));
    QString error;
    EXPECT_FALSE(AppendWriteRecord(path, Sample(), &error));
    EXPECT_TRUE(error.contains(QDir::toNativeSeparators(path))) << error.toStdString();
    EXPECT_EQ(ReadBytes(dir.filePath(QStringLiteral("blocked"))), QByteArray("x"));

    // A folder where the file should be.
    QDir().mkpath(Path());
    EXPECT_FALSE(AppendWriteRecord(Path(), Sample(), &error));
    EXPECT_FALSE(AppendWriteRecord(Path(), Sample())); // no error out-parameter: still no crash
}

// A full disk: the record that does not fit is not half written (the part that fitted in the
// file's last block is cut off again), a new file is not left empty behind, and the error names
// the path and the cause.
TEST_F(WriteRecordTest, FullDiskLeavesTheFileAsItWas)
{
    const QString folder = dir.filePath(QStringLiteral("log"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const int status = test::RunOnSmallDisk(folder, 64, [&] {
        // Ten bytes short of a whole block: the record's start still fits, the rest does not.
        QByteArray before = "\xEF\xBB\xBFtime\r\n";
        before += QByteArray(4096 - 10 - before.size() - 2, 'x') + "\r\n";
        WriteBytes(Path(), before);
        if (!test::FillDisk(folder))
            return 100;
        QString error;
        EXPECT_FALSE(AppendWriteRecord(Path(), Sample(), &error));
        EXPECT_EQ(ReadBytes(Path()), before);
        EXPECT_TRUE(error.startsWith(QDir::toNativeSeparators(Path()) + QStringLiteral(": ")))
            << error.toStdString();
        EXPECT_TRUE(error.contains(QStringLiteral("ディスクの空き容量が不足しています")))
            << error.toStdString();

        const QString fresh = dir.filePath(QStringLiteral("log/other.csv"));
        EXPECT_FALSE(AppendWriteRecord(fresh, Sample(), &error));
        EXPECT_FALSE(QFile::exists(fresh));
        return ::testing::Test::HasFailure() ? 1 : 0;
    });
    if (status == test::kNoSmallDisk)
        GTEST_SKIP() << "no mount namespace here";
    EXPECT_EQ(status, 0);
}

TEST(SessionCountersTest, CountsAndText)
{
    SessionCounters c;
    EXPECT_EQ(c.Text(), QStringLiteral("OK 0 / NG 0"));
    for (bool ok : {true, false, true, true})
        c.Count(ok);
    EXPECT_EQ(c.ok, 3);
    EXPECT_EQ(c.ng, 1);
    EXPECT_EQ(c.Total(), 4);
    EXPECT_EQ(c.Text(), QStringLiteral("OK 3 / NG 1"));
}

} // namespace
} // namespace nx7::diag
