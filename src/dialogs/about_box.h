#pragma once
// TAboutBox: the version block of the executable. Created once at start-up and shown any number of
// times; Ctrl-clicks on the program icon, counted over the whole run, switch the diagnostic output
// on once they reach a small threshold, and from then on every click on the icon does.
// Below the version block it names the settings file in use. The box keeps its design size unless
// its texts need more room.
#include <QDialog>
#include <QSize>
#include <functional>

class QFrame;
class QLabel;
class QPushButton;

namespace nx7
{

// The program's icon, drawn in code; reports clicks with the modifier keys held at that moment.
class TProgramIcon : public QWidget
{
    Q_OBJECT
public:
    explicit TProgramIcon(QWidget* parent = nullptr);

signals:
    void clicked(Qt::KeyboardModifiers modifiers);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};

class TAboutBox : public QDialog
{
    Q_OBJECT
public:
    static constexpr int DiagnosticClicks = 3;
    static constexpr QSize DesignSize{298, 218};

    // `onDiagnostic` switches the diagnostic output on (the application's SwitchDiagnosticsOn).
    TAboutBox(QWidget* parent, std::function<void()> onDiagnostic);

    void ProgramIconClick(Qt::KeyboardModifiers modifiers);
    // Shows "設定ファイル: " and the path; hidden while the path is empty.
    void SetSettingsPath(const QString& path);

    QFrame* Panel1;
    TProgramIcon* ProgramIcon;
    QLabel* ProductName;
    QLabel* Version;
    QLabel* Copyright;
    QLabel* Comments;
    QLabel* SettingsFile;
    QPushButton* OKButton;

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::function<void()> m_onDiagnostic;
    int m_ctrlClicks = 0;
};

} // namespace nx7
