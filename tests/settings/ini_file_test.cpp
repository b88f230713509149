#include "platform/code_page.h"
#include "platform/ini_file.h"
#include "settings/run_unprivileged.h"
#include "support/small_disk.h"
#include "support/test_data.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using nx7::IniFile;
using nx7::ParseIniInteger;

namespace
{

QByteArray Encoded(IniFile::Encoding encoding, const QString& text)
{
    switch (encoding) {
    case IniFile::Encoding::Ansi:
        return nx7::ToAnsi(text);
    case IniFile::Encoding::Utf8Bom:
        return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
    case IniFile::Encoding::Utf16LE:
        return QByteArray("\xFF\xFE") + QStringEncoder(QStringConverter::Utf16LE).encode(text);
    case IniFile::Encoding::Utf16BE:
        return QByteArray("\xFE\xFF") + QStringEncoder(QStringConverter::Utf16BE).encode(text);
    }
    return {};
}

using nx7::test::ReadAll;
using nx7::test::WriteAll;

const QString kSample = QStringLiteral("; 設定ファイル\r\n"
                                       "[ComDebug]\r\n"
                                       "Port=3\r\n"
                                       "\r\n"
                                       "[Option]\r\n"
                                       "  ComPort = 7  \r\n"
                                       "App_ESPOta=C:\\ツール\\espota.exe\r\n"
                                       "junk line without equals\r\n"
                                       "Unknown=keep me\r\n"
                                       "\r\n"
                                       "[PortMap]\r\n"
                                       "COM9=/dev/pts/4\r\n");

struct EncodingCase {
    const char* name;
    IniFile::Encoding encoding;
};

class IniEncoding : public ::testing::TestWithParam<EncodingCase>
{
};

TEST_P(IniEncoding, UnchangedDocumentRoundTripsByteForByte)
{
    const QByteArray bytes = Encoded(GetParam().encoding, kSample);
    IniFile ini = IniFile::Parse(bytes);
    EXPECT_EQ(ini.encoding(), GetParam().encoding);
    EXPECT_EQ(ini.ReadString("option", "app_espota", {}), QStringLiteral("C:\\ツール\\espota.exe"));
    // Writing the values the file already holds changes nothing, not even the blanks around them.
    ini.WriteInteger("Option", "ComPort", 7);
    ini.WriteString("ComDebug", "Port", "3");
    EXPECT_EQ(ini.Serialize(), bytes);
}

TEST_P(IniEncoding, ChangedAndNewKeysAreWrittenInTheFileEncodingAndLineBreaks)
{
    IniFile ini = IniFile::Parse(Encoded(GetParam().encoding, kSample));
    ini.WriteInteger("OPTION", "comport", 12);
    ini.WriteString("Option", "TCPServAddr", QStringLiteral("192.168.0.10"));
    ini.WriteString("Option", "ProgFile1", QStringLiteral("D:\\ファーム\\a.bin"));
    ini.WriteString("New", "Key", "v");
    QString expected = kSample;
    expected.replace(QStringLiteral("  ComPort = 7  \r\n"), QStringLiteral("ComPort=12\r\n"));
    expected.replace(
        QStringLiteral("Unknown=keep me\r\n"),
        QStringLiteral("Unknown=keep me\r\nTCPServAddr=192.168.0.10\r\nProgFile1=D:\\ファーム\\a.bin\r\n"));
    expected += QStringLiteral("[New]\r\nKey=v\r\n");
    EXPECT_EQ(ini.Serialize(), Encoded(GetParam().encoding, expected));
}

INSTANTIATE_TEST_SUITE_P(All, IniEncoding,
                         ::testing::Values(EncodingCase{"Ansi", IniFile::Encoding::Ansi},
                                           EncodingCase{"Utf8Bom", IniFile::Encoding::Utf8Bom},
                                           EncodingCase{"Utf16LE", IniFile::Encoding::Utf16LE},
                                           EncodingCase{"Utf16BE", IniFile::Encoding::Utf16BE}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(IniFile, BytesThatDoNotSurviveDecodingAreKeptOnUntouchedLines)
{
    // 0xED40 decodes to a character whose CP932 form is 0xFA5C; stray bytes decode to nothing
    // useful. Only the line that is written may change.
    QByteArray bytes("[Option]\nName=\xED\x40\n\x80\xFF\xA0 garbage\nComPort=1");
    IniFile ini = IniFile::Parse(bytes);
    EXPECT_EQ(ini.Serialize(), bytes);
    ini.WriteInteger("Option", "ComPort", 2);
    EXPECT_EQ(ini.Serialize(), QByteArray("[Option]\nName=\xED\x40\n\x80\xFF\xA0 garbage\nComPort=2"));
}

TEST(IniFile, LineBreaksOfEachLineAreKeptAndNewLinesUseTheFirstOne)
{
    const QByteArray bytes("[A]\nx=1\r\ny=2\rz=3");
    IniFile ini = IniFile::Parse(bytes);
    EXPECT_EQ(ini.Keys("a"), QStringList({"x", "y", "z"}));
    EXPECT_EQ(ini.Serialize(), bytes);
    ini.WriteInteger("A", "w", 4);
    // The last line had no break: it gets one before the new key follows it.
    EXPECT_EQ(ini.Serialize(), QByteArray("[A]\nx=1\r\ny=2\rz=3\nw=4\n"));
}

TEST(IniFile, NewKeyGoesAfterTheLastKeyOfItsSectionNotAfterTrailingComments)
{
    IniFile ini = IniFile::Parse("[A]\r\na=1\r\n\r\n; about B\r\n[B]\r\nb=2\r\n");
    ini.WriteInteger("a", "c", 3);
    ini.WriteInteger("b", "d", 4);
    EXPECT_EQ(ini.Serialize(), QByteArray("[A]\r\na=1\r\nc=3\r\n\r\n; about B\r\n[B]\r\nb=2\r\nd=4\r\n"));
    IniFile empty = IniFile::Parse("[Empty]\r\n[Next]\r\n");
    empty.WriteString("empty", "k", "v");
    EXPECT_EQ(empty.Serialize(), QByteArray("[Empty]\r\nk=v\r\n[Next]\r\n"));
}

TEST(IniFile, NewSectionFollowsTheLastLineWithoutABlankLine)
{
    const struct {
        QByteArray before;
        QByteArray after;
    } cases[] = {
        {"[ComDebug]\r\nBaudRate=1\r\n", "[ComDebug]\r\nBaudRate=1\r\n[Option]\r\nk=v\r\n"},
        {"[ComDebug]\nBaudRate=1", "[ComDebug]\nBaudRate=1\n[Option]\nk=v\n"}, // no final line break
        {"; note\r\n\r\n", "; note\r\n\r\n[Option]\r\nk=v\r\n"},               // blank lines stay as they are
        {"", "[Option]\r\nk=v\r\n"},
    };
    for (const auto& c : cases) {
        IniFile ini = IniFile::Parse(c.before);
        ini.WriteString("Option", "k", "v");
        EXPECT_EQ(ini.Serialize(), c.after) << c.before.toStdString();
    }
}

TEST(IniFile, ReadingFollowsTheProfileRules)
{
    const IniFile ini = IniFile::Parse(QByteArray("top=before any section\n"
                                                  "[ Option ]\n"
                                                  "\tKey One =  spaced value \t\n"
                                                  "Quoted=\" padded \"\n"
                                                  "Single='x'\n"
                                                  "Mismatched=\"x'\n"
                                                  ";Comment=not a key\n"
                                                  "=no name\n"
                                                  "Empty=\n"
                                                  "Dup=first\n"
                                                  "dup=second\n"
                                                  "Eq=a=b\n"
                                                  "[option]\n"
                                                  "Later=ignored\n"));
    EXPECT_EQ(ini.Sections(), QStringList({"Option"}));
    EXPECT_EQ(ini.Keys("OPTION"),
              QStringList({"Key One", "Quoted", "Single", "Mismatched", "Empty", "Dup", "Eq"}));
    EXPECT_EQ(ini.Value("option", "key one"), QStringLiteral("spaced value"));
    EXPECT_EQ(ini.Value("Option", "Quoted"), QStringLiteral(" padded "));
    EXPECT_EQ(ini.Value("Option", "Single"), QStringLiteral("x"));
    EXPECT_EQ(ini.Value("Option", "Mismatched"), QStringLiteral("\"x'"));
    EXPECT_EQ(ini.Value("Option", "Empty"), QString());
    EXPECT_EQ(ini.ReadString("Option", "Empty", "def"), QString());
    EXPECT_EQ(ini.ReadString("Option", "Missing", "def"), QStringLiteral("def"));
    EXPECT_EQ(ini.Value("Option", "DUP"), QStringLiteral("first"));
    EXPECT_EQ(ini.Value("Option", "Eq"), QStringLiteral("a=b"));
    EXPECT_FALSE(ini.Value("Option", "Later"));
    EXPECT_FALSE(ini.Value("Option", "top"));
    EXPECT_FALSE(ini.Value("Option", ";Comment"));
}

TEST(IniFile, RewrittenKeyKeepsItsSpellingAndLineBreaksInValuesCannotForgeLines)
{
    IniFile ini = IniFile::Parse("[opt]\r\ncomPORT=1\r\n");
    ini.WriteInteger("OPT", "ComPort", 5);
    ini.WriteString("Opt", "Path", "a\r\n[Evil]\nx=1");
    EXPECT_EQ(ini.Serialize(), QByteArray("[opt]\r\ncomPORT=5\r\nPath=a[Evil]x=1\r\n"));
    EXPECT_FALSE(IniFile::Parse(ini.Serialize()).HasSection("Evil"));
}

TEST(IniFile, NewDocumentIsCp932WithCrLf)
{
    IniFile ini;
    ini.WriteString("Option", "App_ESPOta", QStringLiteral("C:\\ツール\\espota.exe"));
    EXPECT_EQ(ini.encoding(), IniFile::Encoding::Ansi);
    EXPECT_EQ(ini.Serialize(),
              nx7::ToAnsi(QStringLiteral("[Option]\r\nApp_ESPOta=C:\\ツール\\espota.exe\r\n")));
}

TEST(IniFile, IntegersReadWithDefaults)
{
    const IniFile ini = IniFile::Parse("[N]\nhex=0x20000\nbad=12abc\nempty=\n");
    EXPECT_EQ(ini.ReadInteger("N", "hex", 7), 131072);
    EXPECT_EQ(ini.ReadInteger("N", "bad", 7), 7);
    EXPECT_EQ(ini.ReadInteger("N", "empty", 7), 7);
    EXPECT_EQ(ini.ReadInteger("N", "missing", 7), 7);
}

TEST(ParseIniInteger, Forms)
{
    struct Case {
        const char* text;
        std::optional<int> value;
    };
    const Case cases[] = {
        {"0", 0},
        {"65536", 65536},
        {"-5", -5},
        {"+5", 5},
        {" 42 ", 42},
        {"0x10000", 65536},
        {"0X1f", 31},
        {"$10", 16},
        {"$ff", 255},
        {"0x7FFFFFFF", 2147483647},
        {"0xFFFFFFFF", -1},
        {"0x80000000", -2147483647 - 1},
        {"0x00000000010", 16},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"2147483648", std::nullopt},
        {"-2147483649", std::nullopt},
        {"0x100000000", std::nullopt},
        {"", std::nullopt},
        {"-", std::nullopt},
        {"0x", std::nullopt},
        {"$", std::nullopt},
        {"0xG", std::nullopt},
        {"abc", std::nullopt},
        {"12abc", std::nullopt},
        {"1 2", std::nullopt},
        {"1.5", std::nullopt},
        {"-0x10", std::nullopt},
        {"１２", std::nullopt}, // full-width digits are no number
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseIniInteger(QString::fromUtf8(c.text)), c.value) << c.text;
}

class IniFiles : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QString Path(const QString& name) const { return dir.filePath(name); }
};

TEST_F(IniFiles, LoadOfMissingFileIsAnEmptyDocumentAndOfADirectoryFails)
{
    IniFile ini = IniFile::Parse("[Stale]\nk=v\n");
    EXPECT_TRUE(ini.Load(Path("none.ini")));
    EXPECT_TRUE(ini.Sections().isEmpty());
    ASSERT_TRUE(QDir(dir.path()).mkdir("sub"));
    EXPECT_FALSE(ini.Load(Path("sub")));
}

TEST_F(IniFiles, SaveReplacesTheFileAndLeavesNoTemporaryFileBehind)
{
    const QString path = Path("s.ini");
    ASSERT_TRUE(WriteAll(path, Encoded(IniFile::Encoding::Utf16LE, "[A]\r\nx=1\r\n")));
    IniFile ini;
    ASSERT_TRUE(ini.Load(path));
    ini.WriteInteger("A", "x", 2);
    ASSERT_TRUE(ini.Save(path));
    EXPECT_EQ(ReadAll(path), Encoded(IniFile::Encoding::Utf16LE, "[A]\r\nx=2\r\n"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList({"s.ini"}));
}

TEST_F(IniFiles, SaveRefusesAReadOnlyFileAndAMissingFolder)
{
    const QString path = Path("ro.ini");
    ASSERT_TRUE(WriteAll(path, "[A]\nx=1\n"));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    IniFile ini = IniFile::Parse("[A]\nx=2\n");
    EXPECT_FALSE(ini.Save(path));
    EXPECT_EQ(ReadAll(path), QByteArray("[A]\nx=1\n"));
    EXPECT_FALSE(ini.Save(Path("missing/dir/a.ini")));
    EXPECT_FALSE(QFile::exists(Path("missing")));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList({"ro.ini"}));
}

// A full disk: the save fails with its cause and the old file stays byte for byte, whether the
// new content goes to a temporary file beside it or, the folder not being writable, into the file
// itself (which first needs room past the old end).
TEST_F(IniFiles, FullDiskLeavesTheOldFileByteForByte)
{
    for (const bool inPlace : {false, true}) {
        SCOPED_TRACE(inPlace ? "in place" : "through a temporary file");
        QTemporaryDir disk;
        const QString path = disk.filePath("s.ini");
        const int status = nx7::test::RunOnSmallDisk(disk.path(), 64, [&] {
            const QByteArray before = "[A]\r\nx=1\r\n; " + QByteArray(3000, '-') + "\r\n";
            if (!WriteAll(path, before) || !nx7::test::FillDisk(disk.path()))
                return 100;
            IniFile ini = IniFile::Parse(before);
            ini.WriteString("A", "y", QString(9000, QLatin1Char('v')));
            const std::function<int()> save = [&] {
                const nx7::FileSaveResult r = ini.Write(path);
                EXPECT_EQ(r.kind, nx7::FileSaveResult::Kind::WriteFailed);
                EXPECT_TRUE(r.cause.startsWith(QStringLiteral("ディスクの空き容量が不足しています")))
                    << r.cause.toStdString();
                EXPECT_EQ(ReadAll(path), before);
                EXPECT_EQ(QDir(disk.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
                          QStringList({"filler", "s.ini"}));
                return ::testing::Test::HasFailure() ? 1 : 0;
            };
            if (!inPlace)
                return save();
            QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther |
                                            QFile::WriteOther);
            QFile::setPermissions(disk.path(),
                                  QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
            return nx7::test::RunUnprivileged(save);
        });
        if (status == nx7::test::kNoSmallDisk)
            GTEST_SKIP() << "no mount namespace here";
        EXPECT_EQ(status, 0);
    }
}

} // namespace
