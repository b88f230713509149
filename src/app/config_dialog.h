#pragma once
// TConfig1Dlg: the parameter settings dialog. It edits the tool paths and flashing options of the
// settings record and the board's Wi-Fi and network parameters; MnSetConfigClick writes what
// changed to the record and, at once, to the board.
#include "app/partition_table.h"
#include "dialogs/file_drop.h"
#include "dialogs/radio_group.h"
#include "dialogs/updown_number_edit.h"

#include <QDialog>
#include <QGroupBox>
#include <QPointer>
#include <QStringList>
#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace nx7
{

class AppCore;
class UserInteraction;

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

// The folder part of a path, up to and including its last separator ("" when it has none).
QString FolderOfPath(const QString& path);

// Shows the dialog for the main window's settings record and board network record, and applies
// OK. `exec` replaces the modal loop (tests edit the controls and answer 1 for OK).
void MnSetConfigClick(AppCore& app, QWidget* owner, const std::function<int(TConfig1Dlg&)>& exec = {});

} // namespace nx7
