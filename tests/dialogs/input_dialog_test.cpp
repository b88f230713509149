#include "gui_helpers.h"
#include "update/input_dialog.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QUrl>
#include <gtest/gtest.h>

using namespace nx7;
using nx7::test::Child;
using nx7::test::ExecWith;

namespace
{
class UrlCatcher : public QObject
{
    Q_OBJECT
public slots:
    void open(const QUrl& url) { opened.append(url); }

public:
    QList<QUrl> opened;
};

class InputDialogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        dlg.beep = [this] { ++beeps; };
        dlg.EF1->setText("unchanged");
    }
    QString MakeFile(const QString& name)
    {
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        return f.fileName();
    }
    QString MakeFolder(const QString& name)
    {
        EXPECT_TRUE(QDir(dir.path()).mkpath(name));
        return dir.filePath(name);
    }

    QTemporaryDir dir;
    TInputDlg1 dlg;
    int beeps = 0;
};
} // namespace

TEST_F(InputDialogTest, ControlsAndTexts)
{
    EXPECT_EQ(dlg.objectName(), "InputDlg1");
    for (const char* name : {"ST1", "ST2", "URL"})
        ASSERT_NE(Child<QLabel>(&dlg, name), nullptr) << name;
    ASSERT_NE(Child<QLineEdit>(&dlg, "EF1"), nullptr);
    ASSERT_NE(Child<QToolButton>(&dlg, "SB1"), nullptr);
    EXPECT_EQ(Child<QPushButton>(&dlg, "Button1")->text(), "OK");
    EXPECT_EQ(Child<QPushButton>(&dlg, "Button2")->text(), "キャンセル");
    EXPECT_TRUE(dlg.Button1->isDefault());
    dlg.show();
    EXPECT_FALSE(dlg.ST2->isVisible());
    EXPECT_FALSE(dlg.URL->isVisible());
}

TEST_F(InputDialogTest, DropAcceptsOnlyExistingFilesWithAnAcceptedExtension)
{
    struct Case {
        QString path;
        const char* dropExt;
        bool accepted;
    };
    MakeFolder("dotted.dir");
    const Case cases[] = {
        {MakeFile("espota.EXE"), "exe", true},
        {MakeFile("espota.exe"), "EXE", true},
        {MakeFolder("x.exe"), "exe", false},
        {MakeFile("espota.py"), "exe", false},
        {dir.filePath("missing.exe"), "exe", false},
        {MakeFile("espota.exe.bak"), "exe", false},
        {MakeFile("espota"), "exe", false},
        // Several extensions; an empty entry stands for "no extension".
        {MakeFile("espota"), "exe;py;", true},
        {MakeFile("espota.py"), "exe;py;", true},
        {MakeFile("espota.txt"), "exe;py;", false},
        // A "." in a folder name is no extension.
        {MakeFile("dotted.dir/espota"), "exe;py;", true},
        {MakeFile("dotted.dir/espota"), "dir/espota", false},
        {QString(), "exe;py;", false},
    };
    for (const Case& c : cases) {
        dlg.EF1->setText("unchanged");
        dlg.DropExt = c.dropExt;
        const int beepsBefore = beeps;
        dlg.FileDrop1Drop({c.path, MakeFile("second.exe")});
        if (c.accepted) {
            EXPECT_EQ(dlg.EF1->text(), QDir::toNativeSeparators(c.path)) << c.path.toStdString();
            EXPECT_EQ(beeps, beepsBefore) << c.path.toStdString();
        } else {
            EXPECT_EQ(dlg.EF1->text(), "unchanged") << c.path.toStdString();
            EXPECT_EQ(beeps, beepsBefore + 1) << c.path.toStdString();
        }
    }
}

TEST_F(InputDialogTest, RealDropEventReachesTheHandler)
{
    dlg.DropExt = "exe";
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    // What the system sends for a drag from a file manager: enter, then drop on the target.
    const auto dropFile = [&](const QString& path) {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(path)});
        const QPoint at = dlg.EF1->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(dlg.EF1, &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(dlg.EF1, &drop);
    };
    const QString good = MakeFile("espota.exe");
    dropFile(good);
    EXPECT_EQ(dlg.EF1->text(), QDir::toNativeSeparators(good));
    dropFile(MakeFile("readme.txt"));
    EXPECT_EQ(dlg.EF1->text(), QDir::toNativeSeparators(good));
    EXPECT_EQ(beeps, 1);
}

TEST(InputDialog, FilterAndFolderConversions)
{
    const std::pair<const char*, const char*> filters[] = {
        {"espota実行ファイル|*.exe", "espota実行ファイル (*.exe)"},
        {"a|*.exe;*.py|b|*", "a (*.exe *.py);;b (*)"},
        // The uploader's names on a desktop without extensions, and everything else.
        {"espota|espota;espota.py;espota.exe|すべてのファイル|*",
         "espota (espota espota.py espota.exe);;すべてのファイル (*)"},
        {"", ""},
    };
    for (const auto& [in, out] : filters)
        EXPECT_EQ(TInputDlg1::QtFileFilter(in), out) << in;

#ifndef Q_OS_WIN
    const std::pair<const char*, const char*> folders[] = {
        {"/opt/tools/espota.exe", "/opt/tools"}, {"/espota", "/"}, {"espota.exe", ""}, {"", ""},
        {"/opt/tools/", "/opt/tools"},           {"//x", "//"},
    };
    for (const auto& [in, out] : folders)
        EXPECT_EQ(TInputDlg1::FolderPart(in), out) << in;
#endif
}

TEST_F(InputDialogTest, BrowseStartsInTheFieldsFolderAndTakesThePick)
{
    const QString picked = MakeFile("espota.exe");
    dlg.BrowseFilter = "espota実行ファイル|*.exe";
    dlg.EF1->setText(dir.filePath("old/espota.exe"));
    QString startFolder;
    QStringList nameFilters;
    QTimer::singleShot(0, [&] {
        auto* fd = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(fd, nullptr);
        EXPECT_EQ(fd->objectName(), "OpenDialog");
        startFolder = fd->directory().absolutePath();
        nameFilters = fd->nameFilters();
        fd->selectFile(picked);
        static_cast<QDialog*>(fd)->accept();
    });
    QDir(dir.path()).mkpath("old");
    dlg.SpeedButton1Click();
    EXPECT_EQ(startFolder, QDir(dir.filePath("old")).absolutePath());
    EXPECT_EQ(nameFilters, QStringList{"espota実行ファイル (*.exe)"});
    EXPECT_EQ(dlg.EF1->text(), QDir::toNativeSeparators(picked));

    QTimer::singleShot(0, [] { QApplication::activeModalWidget()->close(); });
    dlg.SpeedButton1Click();
    EXPECT_EQ(dlg.EF1->text(), QDir::toNativeSeparators(picked)) << "cancel leaves the field";
}

TEST_F(InputDialogTest, UrlClickOpensTheAddress)
{
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("https", &catcher, "open");
    dlg.URL->setText("https://example.org/espota");
    dlg.URL->show();
    dlg.show();
    QTest::mouseClick(dlg.URL, Qt::LeftButton);
    QDesktopServices::unsetUrlHandler("https");
    ASSERT_EQ(catcher.opened.size(), 1);
    EXPECT_EQ(catcher.opened.first(), QUrl("https://example.org/espota"));
}

TEST_F(InputDialogTest, ResultsOneForOkAndTwoOtherwise)
{
    EXPECT_EQ(ExecWith(dlg, [&] { QTest::mouseClick(dlg.Button1, Qt::LeftButton); }), 1);
    EXPECT_EQ(ExecWith(dlg, [&] { QTest::keyClick(dlg.EF1, Qt::Key_Return); }), 1);
    EXPECT_EQ(ExecWith(dlg, [&] { QTest::mouseClick(dlg.Button2, Qt::LeftButton); }), 2);
    EXPECT_EQ(ExecWith(dlg, [&] { QTest::keyClick(&dlg, Qt::Key_Escape); }), 2);
    EXPECT_EQ(ExecWith(dlg, [&] { dlg.close(); }), 2);
}

#include "input_dialog_test.moc"
