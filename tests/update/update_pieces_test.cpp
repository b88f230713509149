// Pure pieces of the update: texts, command line, quoting, temporary path, image loading.
#include "platform/app_paths.h"
#include "update/firmware_image.h"
#include "update/ota_update.h"
#include "update/tool_runner.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <gtest/gtest.h>

using namespace nx7;

TEST(ProgressDots, FollowsTheTableAndWraps)
{
    const QStringList expected = {
        QStringLiteral("・　　"), QStringLiteral("・　　"), QStringLiteral("・・　"),
        QStringLiteral("・・　"), QStringLiteral("・・・"), QStringLiteral("・・・"),
        QStringLiteral("　・・"), QStringLiteral("　・・"), QStringLiteral("　　・"),
        QStringLiteral("　　・"),
    };
    for (int n = 0; n < 10; ++n)
        EXPECT_EQ(ProgressDots(n), expected[n]) << n;
    EXPECT_EQ(ProgressDots(10), expected[0]);
}

TEST(QuoteForInterpreter, KeepsEveryCharacterLiteralForSh)
{
    struct Case {
        QString piece;
        QString quoted;
    };
    const Case cases[] = {
        {QStringLiteral("/opt/espota"), QStringLiteral("'/opt/espota'")},
        {QString(), QStringLiteral("''")},
        {QStringLiteral("/my tools/espota"), QStringLiteral("'/my tools/espota'")},
        {QStringLiteral("/it's/espota"), QStringLiteral("'/it'\\''s/espota'")},
        {QStringLiteral("/$HOME/`id`/\"x\""), QStringLiteral("'/$HOME/`id`/\"x\"'")},
        {QStringLiteral("''"), QStringLiteral("''\\'''\\'''")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(QuoteForInterpreter(c.piece), c.quoted) << c.piece.toStdString();
}

TEST(ParseUploadPercent, TakesTheLastPercentageOfAChunk)
{
    struct Case {
        QString text;
        int percent;
    };
    const Case cases[] = {
        {QStringLiteral("Uploading: 37%"), 37},
        {QStringLiteral("\rUploading: [=====     ] 37% "), 37},
        {QStringLiteral("Uploading: [=] 5% \rUploading: [==] 12% "), 12},
        {QStringLiteral("\rUploading: [====] 100% Done...\r\n"), 100},
        {QStringLiteral("0%"), 0},
        {QStringLiteral("Sending invitation to 192.168.4.1 "), -1},
        {QStringLiteral("1234%"), -1},
        {QStringLiteral("250%"), -1},
        {QString(), -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseUploadPercent(c.text), c.percent) << c.text.toStdString();
}

TEST(UploaderCommand, PiecesInOrderWithQuotedPaths)
{
    // The access point's address bytes 01 00 A8 C0 as GetApInfo stores them (little-endian).
    const std::uint32_t address = 0x01u | (0x00u << 8) | (0xA8u << 16) | (0xC0u << 24);
    EXPECT_EQ(FormatApAddress(address), QStringLiteral("192.168.0.1"));
    EXPECT_EQ(FormatApAddress(0x0104A8C0u), QStringLiteral("1.4.168.192"));

    EXPECT_EQ(
        BuildUploaderCommand(QStringLiteral("/opt/my tools/espota.py"), FormatApAddress(address), 3232,
                             QStringLiteral("KW5GDH4072"), QStringLiteral("/srv/Orvanta/UOf.bin")),
        QStringLiteral(
            "'/opt/my tools/espota.py' -i 192.168.0.1 -p 3232 --auth=KW5GDH4072 -f '/srv/Orvanta/UOf.bin'"));
    // A password the shell would split or expand is quoted as well.
    EXPECT_EQ(BuildUploaderCommand(QStringLiteral("/e"), QStringLiteral("1.2.3.4"), 3232,
                                   QStringLiteral("a b$c"), QStringLiteral("/f")),
              QStringLiteral("'/e' -i 1.2.3.4 -p 3232 --auth='a b$c' -f '/f'"));
}

TEST(TemporaryFirmwareFolder, SettingsFolderOrUserDataFolder)
{
    SetExecutablePathOverride(QStringLiteral("/srv/Tools/Updater"));
    EXPECT_EQ(TemporaryFirmwareFolder(1), QStringLiteral("/srv/Tools/Orvanta/"));
    EXPECT_TRUE(TemporaryFirmwareFolder(0).endsWith(QStringLiteral("/novalk/Updater/")));
    EXPECT_EQ(TemporaryFirmwareFolder(2), TemporaryFirmwareFolder(0));
    SetExecutablePathOverride(QString());
}

TEST(WriteResult, TextsColoursAndClosingLinesOfEachOutcome)
{
    struct Case {
        int outcome;
        QString verdict;
        unsigned rgb;
        QString detail;
        QStringList closing;
        bool again;
    };
    const Case cases[] = {
        {0,
         QStringLiteral("OK"),
         0x0000FF,
         QStringLiteral("\nファームウェア書き込みが正常に完了しました。"),
         {QStringLiteral("OK:ファームウェア書き込みが正常に完了しました。")},
         false},
        {2,
         QStringLiteral("NG"),
         0xFF0000,
         QStringLiteral("\nタイムアウトしました。\n\n接続を確認し、もう一度書き込みを行ってください。"),
         {QStringLiteral("NG:タイムアウトしました。"),
          QStringLiteral("接続を確認し、もう一度書き込みを行ってください。")},
         true},
        {3,
         QStringLiteral("NG"),
         0xFF0000,
         QStringLiteral("\nespota.exeでエラーが発生しました。\n\n接続製品とソフトを再起動してください。"),
         {QStringLiteral("NG:ファームウェアの書き込みを中止しました。")},
         false},
        {1,
         QStringLiteral("NG"),
         0xFF0000,
         QStringLiteral("\nファームウェア書き込みを中止しました。\n\nソフトを再起動し、もう一度書き込みを行っ"
                        "てください。"),
         {QStringLiteral("NG:ファームウェアの書き込みを中止しました。"),
          QStringLiteral("ソフトを再起動し、もう一度書き込みを行ってください。")},
         false},
    };
    for (const Case& c : cases) {
        const WriteResultTexts t = WriteResultFor(static_cast<WriteOutcome>(c.outcome));
        EXPECT_EQ(t.verdict, c.verdict) << c.outcome;
        EXPECT_EQ(t.verdictRgb, c.rgb) << c.outcome;
        EXPECT_EQ(t.detail, c.detail) << c.outcome;
        EXPECT_EQ(t.closingLines, c.closing) << c.outcome;
        EXPECT_EQ(t.offerWriteAgain, c.again) << c.outcome;
    }
}

TEST(FirmwareImage, ReadsTheWholeImageOrSaysWhatIsMissing)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QByteArray image(70000, '\0');
    image[0] = static_cast<char>(0xE9);
    image[69999] = 'z';
    {
        QFile f(dir.filePath(QStringLiteral("3030KMT27")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(image);
    }
    QFile(dir.filePath(QStringLiteral("EMPTY"))).open(QIODevice::WriteOnly);
    SetFirmwareResourceRoot(dir.path());

    QString error = QStringLiteral("stale");
    EXPECT_EQ(LoadFirmwareImage(QStringLiteral("3030KMT27"), &error), image);
    EXPECT_TRUE(error.isEmpty());

    EXPECT_TRUE(LoadFirmwareImage(QStringLiteral("NOPE"), &error).isEmpty());
    EXPECT_TRUE(error.contains(dir.filePath(QStringLiteral("NOPE")))) << error.toStdString();

    EXPECT_TRUE(LoadFirmwareImage(QStringLiteral("EMPTY"), &error).isEmpty());
    EXPECT_FALSE(error.isEmpty());

    SetFirmwareResourceRoot(QString());
    EXPECT_EQ(FirmwareResourcePath(QStringLiteral("3030KMT27")), QStringLiteral(":/RCDATAT/3030KMT27"));
}

namespace
{
QString WriteFileIn(const QString& folder, const QString& name)
{
    QFile f(folder + name);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("image");
    return f.fileName();
}
} // namespace

// Two tools may run side by side on one PC: the start of one removes the images a killed run left,
// never the one the other is writing with.
TEST(TemporaryImages, StartRemovesLeftoversButNotAnImageInUse)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.path() + QLatin1Char('/');
    const QString stale = WriteFileIn(folder, QStringLiteral("UOf-abc123.bin"));
    const QString unlike = WriteFileIn(folder, QStringLiteral("UOf-abc123.bin.bak"));
    const QString fixedName = WriteFileIn(folder, QStringLiteral("UOf.bin"));
    QTemporaryDir elsewhere;
    const QString target = WriteFileIn(elsewhere.path() + QLatin1Char('/'), QStringLiteral("UOf-target.bin"));
    const QString link = folder + QStringLiteral("UOf-link01.bin");
    ASSERT_TRUE(QFile::link(target, link));

    QString inUsePath;
    {
        QTemporaryFile inUse(folder + QStringLiteral("UOf-XXXXXX.bin"));
        ASSERT_TRUE(inUse.open());
        ASSERT_TRUE(LockImageFile(inUse));
        inUse.write("image");
        // The write closes its image before the uploader reads it: the lock stays.
        inUse.close();
        inUsePath = inUse.fileName();

        EXPECT_EQ(RemoveStaleImages(folder), QStringList{stale});
        for (const QString& kept : {inUsePath, unlike, fixedName, link, target})
            EXPECT_TRUE(QFileInfo::exists(kept) || QFileInfo(kept).isSymLink()) << kept.toStdString();
    }
    // The write's end removes its image; the lock goes with it.
    EXPECT_FALSE(QFileInfo::exists(inUsePath));
    EXPECT_TRUE(RemoveStaleImages(folder).isEmpty());
}

// Another start may take a just-created image for a leftover before it is locked: the lock then
// says so, and the write makes a new file.
TEST(TemporaryImages, ALockOnAFileNoLongerAtItsPathFails)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.path() + QLatin1Char('/');
    struct Case {
        const char* name;
        bool replace; // another file now has the name
    };
    for (const Case c : {Case{"removed", false}, Case{"replaced", true}}) {
        SCOPED_TRACE(c.name);
        QTemporaryFile image(folder + QStringLiteral("UOf-XXXXXX.bin"));
        ASSERT_TRUE(image.open());
        ASSERT_TRUE(QFile::remove(image.fileName()));
        if (c.replace)
            WriteFileIn(QString(), image.fileName());
        EXPECT_FALSE(LockImageFile(image));
    }
}
