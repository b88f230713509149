#pragma once
// TConfig1Dlg: the parameter settings dialog. It edits the tool paths and flashing options of the
// settings record and the board's Wi-Fi and network parameters; MnSetConfigClick writes what
// changed to the record and, at once, to the board.
#include <QAbstractSpinBox>
#include <QDialog>
#include <QGroupBox>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <optional>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;

namespace nx7
{

class AppCore;
class UserInteraction;

// A number field with up/down buttons. Decimal or hexadecimal (upper-case digits, no prefix); a
// limited field clamps what it is given or what is typed to the nearer bound. An unlimited
// hexadecimal field holds a 32-bit pattern (0 .. FFFFFFFF).
class TUpdownNumberEdit : public QAbstractSpinBox
{
    Q_OBJECT
public:
    explicit TUpdownNumberEdit(QWidget* parent = nullptr);

    void SetHexadecimal(bool hex);
    bool Hexadecimal() const { return m_hex; }
    void SetLimits(double min, double max);
    void SetUnlimited();
    bool Limited() const { return m_limited; }

    // The value the field shows, including text typed but not yet confirmed, after the limits.
    double Value() const;
    // Value() cut to an integer toward zero.
    qint64 IntValue() const;
    void SetValue(double value);

    // Wide enough for the widest value the field can hold (all eight hexadecimal digits, or the
    // longer bound), not only for the text it happens to show.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    void stepBy(int steps) override;
    QValidator::State validate(QString& input, int& pos) const override;
    void fixup(QString& input) const override;

protected:
    StepEnabled stepEnabled() const override;

private:
    std::optional<double> Parse(const QString& text) const;
    QString WidestText() const;
    double Bound(double value) const;
    QString Format(double value) const;
    void Commit();

    double m_value = 0;
    bool m_hex = false;
    bool m_limited = false;
    double m_min = 0;
    double m_max = 0;
};

// A titled group of exclusive radio buttons with an item index: -1 = none selected.
class TRadioGroup : public QGroupBox
{
    Q_OBJECT
public:
    TRadioGroup(const QString& objectName, const QString& title, const QStringList& items, int columns,
                QWidget* parent = nullptr);

    int ItemIndex() const;
    // An index past the last entry selects the last one; a negative one selects none.
    void SetItemIndex(int index);
    int Count() const;
    QRadioButton* Item(int index) const;

private:
    QButtonGroup* m_group;
};

// Accepts local files dragged onto `target` and hands over their paths in drop order.
class TFileDrop : public QObject
{
    Q_OBJECT
public:
    TFileDrop(const QString& objectName, QWidget* target);

signals:
    void Dropped(const QStringList& paths);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

class TConfig1Dlg : public QDialog
{
    Q_OBJECT
public:
    explicit TConfig1Dlg(UserInteraction& ui, QWidget* parent = nullptr);

    // The file-open dialog (parent, initial folder, Qt filter) -> chosen path or empty. Replaceable.
    std::function<QString(QWidget*, const QString&, const QString&)> OpenFile;

    void CBUseSpiffsClick();
    void SBesptoolClick();
    void SBEdespotaClick();
    void BTPartationFileClick();
    void FileDrop1Drop(const QStringList& paths); // Edesptool
    void FileDrop2Drop(const QStringList& paths); // EdPartationFile
    void FileDrop3Drop(const QStringList& paths); // Edespota
    // Puts the offset of the last spiffs line of a partition table into EdspiffsOffset; a file that
    // cannot be read is reported and changes nothing.
    bool ReadSpiffsOffset(const QString& path);

    QTabWidget* PageControl1;
    QWidget* TS_USB;
    QWidget* TS_OTA;

    QLineEdit* Edesptool;
    QPushButton* SBesptool;
    TRadioGroup* RGSPISpeed;
    TRadioGroup* RGSPIMode;
    TRadioGroup* RGUploadSpeed;
    QCheckBox* CB_fBoot;
    QCheckBox* CBUseSpiffs;
    QGroupBox* GroupBox3;
    QLabel* StaticText5;
    QLineEdit* EdPartationFile;
    QPushButton* BTPartationFile;
    QLabel* StaticText6;
    TUpdownNumberEdit* EdspiffsOffset;

    QLineEdit* Edespota;
    QPushButton* SBEdespota;
    QCheckBox* CBAPMode;
    QGroupBox* GroupBox1;
    QComboBox* CBSSID;
    QLineEdit* EdPass;
    QGroupBox* GroupBox2;
    TRadioGroup* RGDHCP2;
    TUpdownNumberEdit* EdTCIP1;
    TUpdownNumberEdit* EdTCIP2;
    TUpdownNumberEdit* EdTCIP3;
    TUpdownNumberEdit* EdTCIP4;
    TUpdownNumberEdit* EdTCPPort;
    TUpdownNumberEdit* EdMask1;
    TUpdownNumberEdit* EdMask2;
    TUpdownNumberEdit* EdMask3;
    TUpdownNumberEdit* EdMask4;

    QPushButton* OKBtn;
    QPushButton* CancelBtn;

    TFileDrop* FileDrop1;
    TFileDrop* FileDrop2;
    TFileDrop* FileDrop3;

public slots:
    void reject() override; // result 2, as the cancel button

protected:
    void showEvent(QShowEvent* event) override;

private:
    void BringToFront();
    void DropExecutable(QLineEdit* field, const QStringList& paths);

    UserInteraction& m_ui;
    bool m_placed = false;
};

// The open instance while MnSetConfigClick runs.
extern QPointer<TConfig1Dlg> Config1Dlg;

// "desc|*.exe|desc2|*.a;*.b" -> "desc (*.exe);;desc2 (*.a *.b)".
QString QtFileFilter(const QString& filter);
// Splits a line as a comma-separated list does: commas and blanks separate fields, a field in
// double quotes may hold blanks ("" inside it is one quote).
QStringList SplitCommaText(const QString& line);
// The folder part of a path, up to and including its last separator ("" when it has none).
QString FolderOfPath(const QString& path);

// Shows the dialog for the main window's settings record and board network record, and applies
// OK. `exec` replaces the modal loop (tests edit the controls and answer 1 for OK).
void MnSetConfigClick(AppCore& app, QWidget* owner, const std::function<int(TConfig1Dlg&)>& exec = {});

} // namespace nx7
