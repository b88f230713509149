// The uploader selection loop around a scripted dialog.
#include "core/app_core.h"
#include "platform/app_paths.h"
#include "support/memory_log.h"
#include "support/scripted_ui.h"
#include "update/uploader_selection.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

#include <deque>

using namespace nx7;
using nx7::test::MemoryLog;
using nx7::test::ScriptedUi;

namespace
{

const QString kRefused =
    QStringLiteral("有効なファイルパスではありません。\n\n「espota.exe」を再選択してください。");
const QString kGiveUp = QStringLiteral("ファームウェア書き込みは完了していません。\n中止しますか。");

class UploaderSelectionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        // No uploader comes with this "program": the dialog asks as it always did.
        SetExecutablePathOverride(dir.filePath(QStringLiteral("bin/nx7ifbprog")));
        for (const char* name : {"ESPOTA.EXE", "espota.exe.bak", "espota.exe ", "espota.py", "espota",
                                 "Espota.Py", "my-espota.exe"})
            Touch(QString::fromLatin1(name));
        ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder")));
        ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("folder/espota.exe")));
        app.Settings.App_ESPOta = QStringLiteral("/old/espota.exe");
        ui.uploaderDialogHandler = [this](const UploaderDialogRequest& r) {
            if (replies.empty())
                return UploaderDialogResult{2, r.path};
            UploaderDialogResult next = replies.front();
            replies.pop_front();
            return next;
        };
    }
    void TearDown() override { SetExecutablePathOverride(QString()); }
    void Touch(const QString& name)
    {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    QString Path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

    QTemporaryDir dir;
    ScriptedUi ui;
    MemoryLog log;
    AppCore app{ui, log};
    std::deque<UploaderDialogResult> replies;
};

TEST_F(UploaderSelectionTest, AcceptsOnlyExistingFilesWithTheUploadersName)
{
    struct Case {
        const char* name;
        bool accepted;
    };
    const Case cases[] = {
        {"ESPOTA.EXE", true},     {"espota.py", true},           {"espota", true},
        {"Espota.Py", true},      {"espota.exe.bak", false},     {"espota.exe ", false},
        {"my-espota.exe", false}, {"missing/espota.exe", false}, {"folder/espota.exe", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsAcceptableUploaderPath(Path(c.name)), c.accepted) << c.name;
    EXPECT_FALSE(IsAcceptableUploaderPath(QString()));
}

TEST_F(UploaderSelectionTest, DialogTextsAndAcceptedPathStoredAsTyped)
{
    replies.push_back({1, Path("ESPOTA.EXE")});
    EXPECT_TRUE(SelectUploader(app, true));
    EXPECT_EQ(app.Settings.App_ESPOta, Path("ESPOTA.EXE"));
    ASSERT_EQ(ui.uploaderDialogs.size(), 1);
    const UploaderDialogRequest& r = ui.uploaderDialogs.first();
    EXPECT_EQ(r.caption, QStringLiteral("OTA書換ツールの選択"));
    EXPECT_EQ(r.prompt, QStringLiteral("OTA書換ツール「espota.exe」を選択してください。"));
    EXPECT_EQ(r.downloadNote, QStringLiteral("espota.exeは下記URLよりダウンロードしてください。"));
    EXPECT_EQ(r.path, QStringLiteral("/old/espota.exe"));
#ifdef Q_OS_WIN
    EXPECT_EQ(r.dropExt, QStringLiteral("exe"));
    EXPECT_EQ(r.browseFilter, QStringLiteral("espota実行ファイル|*.exe"));
#else
    // espota.exe, espota.py and a bare espota can all be dropped here.
    EXPECT_EQ(r.dropExt, QStringLiteral("exe;py;"));
    EXPECT_EQ(r.browseFilter, QStringLiteral("espota|espota;espota.py;espota.exe|すべてのファイル|*"));
#endif
    const QUrl url(r.url);
    EXPECT_TRUE(url.isValid());
    EXPECT_EQ(url.scheme(), QStringLiteral("https"));
    EXPECT_TRUE(ui.messages.isEmpty());
}

TEST_F(UploaderSelectionTest, RefusedPathsEmptyTheFieldAndShowTheMessage)
{
    replies.push_back({1, Path("espota.exe.bak")});
    replies.push_back({1, QString()});
    replies.push_back({1, Path("espota.py")});
    EXPECT_TRUE(SelectUploader(app, false));
    EXPECT_EQ(app.Settings.App_ESPOta, Path("espota.py"));
    ASSERT_EQ(ui.messages.size(), 2);
    for (const MessageRequest& m : ui.messages) {
        EXPECT_EQ(m.text, kRefused);
        EXPECT_TRUE(m.caption.isEmpty()); // the default title
        EXPECT_EQ(m.buttons, MsgButtons::Ok);
        EXPECT_TRUE(m.ownedByMainWindow);
    }
    ASSERT_EQ(ui.uploaderDialogs.size(), 3);
    EXPECT_TRUE(ui.uploaderDialogs.at(1).path.isEmpty());
    EXPECT_TRUE(ui.uploaderDialogs.at(2).path.isEmpty());
}

TEST_F(UploaderSelectionTest, CancelAtStartUpAsksAndNoShowsTheDialogAgain)
{
    replies.push_back({2, QStringLiteral("/typed/so/far")});
    replies.push_back({2, QStringLiteral("/typed/more")});
    ui.answers = {MsgResult::No, MsgResult::Yes};
    EXPECT_FALSE(SelectUploader(app, true));
    EXPECT_EQ(app.Settings.App_ESPOta, QStringLiteral("/old/espota.exe"));
    ASSERT_EQ(ui.uploaderDialogs.size(), 2);
    EXPECT_EQ(ui.uploaderDialogs.at(1).path, QStringLiteral("/typed/so/far"));
    ASSERT_EQ(ui.messages.size(), 2);
    for (const MessageRequest& m : ui.messages) {
        EXPECT_EQ(m.text, kGiveUp);
        EXPECT_EQ(m.caption, QStringLiteral("ファームウェア書き込みの中止"));
        EXPECT_EQ(m.buttons, MsgButtons::YesNo);
        EXPECT_TRUE(m.defaultNo) << "Enter must not give up the write";
        EXPECT_TRUE(m.ownedByMainWindow);
    }
}

TEST_F(UploaderSelectionTest, MenuCancelGivesUpSilentlyAndShowsTheUnchangedPath)
{
    QStringList shown;
    app.View.showUploaderPath = [&shown](const QString& p) { shown.append(p); };
    replies.push_back({2, Path("espota")});
    N7Click(app);
    EXPECT_TRUE(ui.messages.isEmpty());
    EXPECT_EQ(ui.uploaderDialogs.size(), 1);
    EXPECT_EQ(shown, QStringList{QStringLiteral("/old/espota.exe")});

    replies.push_back({1, Path("espota")});
    N7Click(app);
    EXPECT_EQ(shown.last(), Path("espota"));
}

TEST_F(UploaderSelectionTest, TheUploadersOwnFileNameForTheTexts)
{
    EXPECT_EQ(UploaderFileName(QString()), QStringLiteral("espota.exe"));
    EXPECT_EQ(UploaderFileName(QStringLiteral("C:\\ツール\\espota.exe")), QStringLiteral("espota.exe"));
    EXPECT_EQ(UploaderFileName(QStringLiteral("/usr/libexec/nx7ifbprog/espota")), QStringLiteral("espota"));
    EXPECT_EQ(UploaderFileName(QStringLiteral("/opt/esp/espota.py")), QStringLiteral("espota.py"));
}

// The NG texts name the uploader that ran; where it is espota.exe they stay as they are.
TEST_F(UploaderSelectionTest, NgTextsNameTheConfiguredUploader)
{
    const QString ng = QStringLiteral("NG: ERROR espota.exe");
    const QString detail =
        QStringLiteral("\nespota.exeでエラーが発生しました。\n\n接続製品とソフトを再起動してください。");
    EXPECT_EQ(NameUploaderIn(ng, QString()), ng);
    EXPECT_EQ(NameUploaderIn(ng, QStringLiteral("C:\\tools\\ESPOTA.EXE")), ng);
    EXPECT_EQ(NameUploaderIn(ng, QStringLiteral("/usr/libexec/nx7ifbprog/espota")),
              QStringLiteral("NG: ERROR espota"));
    EXPECT_EQ(
        NameUploaderIn(detail, QStringLiteral("/opt/esp/espota.py")),
        QStringLiteral("\nespota.pyでエラーが発生しました。\n\n接続製品とソフトを再起動してください。"));
}

#ifndef Q_OS_WIN
// The uploader that comes with the program is found beside an installed executable (prefix/bin and
// prefix/libexec/nx7ifbprog) and in the build tree (src/app and tools/espota); an uploader that
// cannot be run, or none, is not offered.
TEST_F(UploaderSelectionTest, PackagedUploaderInstalledOrInTheBuildTree)
{
    const auto make = [this](const QString& relative, bool executable) {
        const QString path = dir.filePath(relative);
        EXPECT_TRUE(QDir().mkpath(QFileInfo(path).path()));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.setPermissions(executable ? (QFileDevice::ReadOwner | QFileDevice::ExeOwner)
                                    : QFileDevice::ReadOwner);
        return QDir::cleanPath(path);
    };
    struct Case {
        const char* exe;
        const char* uploader;
        bool executable;
        bool found;
    };
    const Case cases[] = {
        {"usr/bin/nx7ifbprog", "usr/libexec/nx7ifbprog/espota", true, true},
        {"build/src/app/nx7ifbprog", "build/tools/espota/espota", true, true},
        {"plain/bin/nx7ifbprog", "plain/libexec/nx7ifbprog/espota", false, false},
        {"none/bin/nx7ifbprog", nullptr, false, false},
    };
    for (const Case& c : cases) {
        SetExecutablePathOverride(dir.filePath(QString::fromLatin1(c.exe)));
        const QString uploader = c.uploader ? make(QString::fromLatin1(c.uploader), c.executable) : QString();
        EXPECT_EQ(PackagedUploaderPath(), c.found ? uploader : QString()) << c.exe;
    }
}

// Offered: the dialog names the program's own uploader, puts it in the path field and sends nobody
// to a download page; a path already usable is left as it is.
TEST_F(UploaderSelectionTest, DialogOffersTheProgramsOwnUploader)
{
    const QString own = dir.filePath(QStringLiteral("usr/libexec/nx7ifbprog/espota"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(own).path()));
    {
        QFile f(own);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    }
    SetExecutablePathOverride(dir.filePath(QStringLiteral("usr/bin/nx7ifbprog")));

    replies.push_back({1, own});
    EXPECT_TRUE(SelectUploader(app, true));
    EXPECT_EQ(app.Settings.App_ESPOta, own);
    ASSERT_EQ(ui.uploaderDialogs.size(), 1);
    const UploaderDialogRequest& r = ui.uploaderDialogs.first();
    EXPECT_EQ(r.prompt, QStringLiteral("OTA書換ツール「espota」を選択してください。"));
    EXPECT_EQ(r.path, own) << "the missing /old/espota.exe is replaced by the offer";
    EXPECT_TRUE(r.url.isEmpty());
    EXPECT_EQ(r.downloadNote, QStringLiteral("このプログラムに付属のOTA書換ツール:\n") + own);

    const UploaderDialogRequest kept = UploaderSelectionRequest(Path("espota.py"), own);
    EXPECT_EQ(kept.path, Path("espota.py"));
}
#endif

} // namespace
