#pragma once
// TInputDlg1: the uploader's path, typed, browsed for or dropped onto the field. The dialog checks
// only dropped files; the selection flow checks the path when the user presses OK.
// Result 1 for OK, 2 for Cancel, Esc or the close box.
#include <QDialog>
#include <QStringList>
#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace nx7
{

class TFileDrop;

class TInputDlg1 : public QDialog
{
    Q_OBJECT
public:
    explicit TInputDlg1(QWidget* parent = nullptr);

    // A file dropped onto EF1: the first one goes into EF1 when it is an existing file whose
    // extension DropExt accepts; otherwise a beep and EF1 stays as it was.
    void FileDrop1Drop(const QStringList& files);
    // Browse: a file-open dialog with BrowseFilter, starting in the folder of EF1's text.
    void SpeedButton1Click();
    // Opens the address shown in URL; a failure is not reported.
    void URLClick();

    // Extension of `path`: the text after the last "." of its file name, empty when the name has
    // none. `dropExt` lists the accepted extensions separated by ';', compared without regard to
    // case; an empty entry (as in "exe;py;") accepts files without extension, such as an uploader
    // named plainly "espota". Only the file name is looked at, so a "." in a folder name never counts.
    static bool DropExtensionMatches(const QString& path, const QString& dropExt);
    // nx7::QtFileFilter: "text|*.a;*.b|text2|*.c" -> "text (*.a *.b);;text2 (*.c)".
    static QString QtFileFilter(const QString& browseFilter);
    // The text up to the last separator (on Windows also a drive colon), without that separator
    // unless it is the root or follows a drive colon or another separator; empty without one.
    static QString FolderPart(const QString& path);

    QLabel* ST1;
    QLineEdit* EF1;
    QToolButton* SB1;
    QLabel* ST2;
    QLabel* URL;
    QPushButton* Button1;
    QPushButton* Button2;
    TFileDrop* FD1; // files dropped onto EF1

    QString BrowseFilter; // Windows form: "description|patterns|..."
    QString DropExt;
    std::function<void()> beep; // the standard beep; tests replace it

public slots:
    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
};

} // namespace nx7
