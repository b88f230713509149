#pragma once
// TAboutBox: the version block of the executable. Created once at start-up and shown any number of
// times; Ctrl-clicks on the program icon, counted over the whole run, switch the diagnostic output
// on once they reach a small threshold, and from then on every click on the icon does.
#include <QDialog>
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

    // `onDiagnostic` switches the diagnostic output on (the application's SwitchDiagnosticsOn).
    TAboutBox(QWidget* parent, std::function<void()> onDiagnostic);

    void ProgramIconClick(Qt::KeyboardModifiers modifiers);

    QFrame* Panel1;
    TProgramIcon* ProgramIcon;
    QLabel* ProductName;
    QLabel* Version;
    QLabel* Copyright;
    QLabel* Comments;
    QPushButton* OKButton;

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::function<void()> m_onDiagnostic;
    int m_ctrlClicks = 0;
};

} // namespace nx7
