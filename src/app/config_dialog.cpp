#include "app/config_dialog.h"

#include "platform/ui_seam.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace nx7
{

QPointer<TConfig1Dlg> Config1Dlg;

namespace
{

const QString& CsvTypeMessage()
{
    static const QString text = QStringLiteral("ファイルの種別が違います。CSVファイルをDropしてください");
    return text;
}

QString NativePath(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

TUpdownNumberEdit* OctetField(const QString& name, QWidget* parent)
{
    auto* edit = new TUpdownNumberEdit(parent);
    edit->setObjectName(name);
    edit->SetLimits(0, 255);
    return edit;
}

QLabel* Label(const QString& name, const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    return label;
}

QPushButton* BrowseButton(const QString& name, QWidget* parent)
{
    auto* button = new QPushButton(QStringLiteral("..."), parent);
    button->setObjectName(name);
    button->setFixedWidth(32);
    return button;
}

} // namespace

TConfig1Dlg::TConfig1Dlg(UserInteraction& ui, QWidget* parent)
    : QDialog(parent)
    , m_ui(ui)
{
    setObjectName(QStringLiteral("Config1Dlg"));
    setWindowTitle(QStringLiteral("プログラムの設定"));
    resize(487, 474);
    OpenFile = [](QWidget* owner, const QString& folder, const QString& filter) {
        return QFileDialog::getOpenFileName(owner, QString(), folder, filter);
    };

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));

    // Page "USB/RS232C": the serial flashing options.
    TS_USB = new QWidget;
    TS_USB->setObjectName(QStringLiteral("TS_USB"));
    Edesptool = new QLineEdit(TS_USB);
    Edesptool->setObjectName(QStringLiteral("Edesptool"));
    SBesptool = BrowseButton(QStringLiteral("SBesptool"), TS_USB);
    RGSPISpeed = new TRadioGroup(QStringLiteral("RGSPISpeed"), QStringLiteral("SPI Speed"),
                                 {QStringLiteral("80MHz"), QStringLiteral("40MHz")}, 1, TS_USB);
    RGSPIMode = new TRadioGroup(
        QStringLiteral("RGSPIMode"), QStringLiteral("SPI Mode"),
        {QStringLiteral("QIO"), QStringLiteral("DIO"), QStringLiteral("QOUT"), QStringLiteral("DOUT")}, 1,
        TS_USB);
    RGUploadSpeed =
        new TRadioGroup(QStringLiteral("RGUploadSpeed"), QStringLiteral("Upload Speed"),
                        {QStringLiteral("921600"), QStringLiteral("115200"), QStringLiteral("256000"),
                         QStringLiteral("230400"), QStringLiteral("512000"), QStringLiteral("1500000")},
                        1, TS_USB);
    CB_fBoot = new QCheckBox(QStringLiteral("bootloader"), TS_USB);
    CB_fBoot->setObjectName(QStringLiteral("CB_fBoot"));
    CBUseSpiffs = new QCheckBox(QStringLiteral("spiffs"), TS_USB);
    CBUseSpiffs->setObjectName(QStringLiteral("CBUseSpiffs"));
    GroupBox3 = new QGroupBox(TS_USB);
    GroupBox3->setObjectName(QStringLiteral("GroupBox3"));
    StaticText5 =
        Label(QStringLiteral("StaticText5"), QStringLiteral("Partition Tables(CSV File)"), GroupBox3);
    EdPartationFile = new QLineEdit(GroupBox3);
    EdPartationFile->setObjectName(QStringLiteral("EdPartationFile"));
    BTPartationFile = BrowseButton(QStringLiteral("BTPartationFile"), GroupBox3);
    StaticText6 = Label(QStringLiteral("StaticText6"), QStringLiteral("Offset(HEX)"), GroupBox3);
    EdspiffsOffset = new TUpdownNumberEdit(GroupBox3);
    EdspiffsOffset->setObjectName(QStringLiteral("EdspiffsOffset"));
    EdspiffsOffset->SetHexadecimal(true);

    {
        auto* page = new QVBoxLayout(TS_USB);
        auto* toolRow = new QHBoxLayout;
        toolRow->addWidget(Label(QStringLiteral("StaticText1"), QStringLiteral("esptool"), TS_USB));
        toolRow->addWidget(Edesptool, 1);
        toolRow->addWidget(SBesptool);
        page->addLayout(toolRow);
        auto* groups = new QHBoxLayout;
        auto* left = new QVBoxLayout;
        left->addWidget(RGSPISpeed);
        left->addWidget(RGSPIMode);
        left->addStretch(1);
        groups->addLayout(left);
        groups->addWidget(RGUploadSpeed, 0, Qt::AlignTop);
        auto* boxes = new QVBoxLayout;
        boxes->addWidget(CB_fBoot);
        boxes->addWidget(CBUseSpiffs);
        boxes->addStretch(1);
        groups->addLayout(boxes);
        page->addLayout(groups);
        auto* spiffs = new QGridLayout(GroupBox3);
        spiffs->addWidget(StaticText5, 0, 0, 1, 2);
        spiffs->addWidget(EdPartationFile, 1, 0);
        spiffs->addWidget(BTPartationFile, 1, 1);
        auto* offsetRow = new QHBoxLayout;
        offsetRow->addWidget(StaticText6);
        offsetRow->addWidget(EdspiffsOffset);
        offsetRow->addStretch(1);
        spiffs->addLayout(offsetRow, 2, 0, 1, 2);
        page->addWidget(GroupBox3);
        page->addStretch(1);
    }

    // Page "OTA": the uploader and the board's Wi-Fi and network parameters.
    TS_OTA = new QWidget;
    TS_OTA->setObjectName(QStringLiteral("TS_OTA"));
    Edespota = new QLineEdit(TS_OTA);
    Edespota->setObjectName(QStringLiteral("Edespota"));
    SBEdespota = BrowseButton(QStringLiteral("SBEdespota"), TS_OTA);
    CBAPMode = new QCheckBox(QStringLiteral("APモード"), TS_OTA);
    CBAPMode->setObjectName(QStringLiteral("CBAPMode"));
    CBAPMode->setChecked(true);
    CBAPMode->setEnabled(false);
    GroupBox1 = new QGroupBox(QStringLiteral("WiFi 設定"), TS_OTA);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    CBSSID = new QComboBox(GroupBox1);
    CBSSID->setObjectName(QStringLiteral("CBSSID"));
    CBSSID->setEditable(true);
    CBSSID->setInsertPolicy(QComboBox::NoInsert);
    EdPass = new QLineEdit(GroupBox1);
    EdPass->setObjectName(QStringLiteral("EdPass"));
    EdPass->setEchoMode(QLineEdit::Password);
    EdPass->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    GroupBox2 = new QGroupBox(QStringLiteral("TCP/IP 設定"), TS_OTA);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    RGDHCP2 =
        new TRadioGroup(QStringLiteral("RGDHCP2"), QStringLiteral("DHCP"),
                        {QStringLiteral("手動（IP指定）"), QStringLiteral("自動（DHCP）")}, 2, GroupBox2);
    EdTCIP1 = OctetField(QStringLiteral("EdTCIP1"), GroupBox2);
    EdTCIP2 = OctetField(QStringLiteral("EdTCIP2"), GroupBox2);
    EdTCIP3 = OctetField(QStringLiteral("EdTCIP3"), GroupBox2);
    EdTCIP4 = OctetField(QStringLiteral("EdTCIP4"), GroupBox2);
    EdTCPPort = new TUpdownNumberEdit(GroupBox2);
    EdTCPPort->setObjectName(QStringLiteral("EdTCPPort"));
    EdTCPPort->SetLimits(0, 65535);
    EdMask1 = OctetField(QStringLiteral("EdMask1"), GroupBox2);
    EdMask2 = OctetField(QStringLiteral("EdMask2"), GroupBox2);
    EdMask3 = OctetField(QStringLiteral("EdMask3"), GroupBox2);
    EdMask4 = OctetField(QStringLiteral("EdMask4"), GroupBox2);

    {
        auto* page = new QVBoxLayout(TS_OTA);
        auto* otaRow = new QHBoxLayout;
        otaRow->addWidget(Label(QStringLiteral("StaticText2"), QStringLiteral("espota"), TS_OTA));
        otaRow->addWidget(Edespota, 1);
        otaRow->addWidget(SBEdespota);
        page->addLayout(otaRow);
        page->addWidget(CBAPMode);
        auto* wifi = new QGridLayout(GroupBox1);
        wifi->addWidget(Label(QStringLiteral("StaticText3"), QStringLiteral("SSID"), GroupBox1), 0, 0);
        wifi->addWidget(CBSSID, 0, 1);
        wifi->addWidget(Label(QStringLiteral("StaticText4"), QStringLiteral("Password"), GroupBox1), 1, 0);
        wifi->addWidget(EdPass, 1, 1);
        page->addWidget(GroupBox1);
        auto* net = new QGridLayout(GroupBox2);
        net->addWidget(RGDHCP2, 0, 0, 1, 5);
        net->addWidget(Label(QStringLiteral("StaticText7"), QStringLiteral("IPアドレス"), GroupBox2), 1, 0);
        net->addWidget(EdTCIP1, 1, 1);
        net->addWidget(EdTCIP2, 1, 2);
        net->addWidget(EdTCIP3, 1, 3);
        net->addWidget(EdTCIP4, 1, 4);
        net->addWidget(Label(QStringLiteral("StaticText8"), QStringLiteral("ポート番号"), GroupBox2), 2, 0);
        net->addWidget(EdTCPPort, 2, 1, 1, 2);
        net->addWidget(Label(QStringLiteral("StaticText9"), QStringLiteral("ネットマスク"), GroupBox2), 3, 0);
        net->addWidget(EdMask1, 3, 1);
        net->addWidget(EdMask2, 3, 2);
        net->addWidget(EdMask3, 3, 3);
        net->addWidget(EdMask4, 3, 4);
        page->addWidget(GroupBox2);
        page->addStretch(1);
    }

    PageControl1->addTab(TS_USB, QStringLiteral("USB/RS232C"));
    PageControl1->addTab(TS_OTA, QStringLiteral("OTA"));
    PageControl1->setCurrentIndex(0);

    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setDefault(true);
    CancelBtn = new QPushButton(QStringLiteral("キャンセル"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));

    auto* outer = new QVBoxLayout(this);
    outer->addWidget(PageControl1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);
    outer->addLayout(buttons);

    FileDrop1 = new TFileDrop(QStringLiteral("FileDrop1"), Edesptool);
    FileDrop2 = new TFileDrop(QStringLiteral("FileDrop2"), EdPartationFile);
    FileDrop3 = new TFileDrop(QStringLiteral("FileDrop3"), Edespota);

    connect(OKBtn, &QPushButton::clicked, this, [this] { done(1); });
    connect(CancelBtn, &QPushButton::clicked, this, [this] { done(2); });
    // Also when the box is set by the program, so the group always matches the box.
    connect(CBUseSpiffs, &QCheckBox::toggled, this, &TConfig1Dlg::CBUseSpiffsClick);
    connect(SBesptool, &QPushButton::clicked, this, &TConfig1Dlg::SBesptoolClick);
    connect(SBEdespota, &QPushButton::clicked, this, &TConfig1Dlg::SBEdespotaClick);
    connect(BTPartationFile, &QPushButton::clicked, this, &TConfig1Dlg::BTPartationFileClick);
    connect(FileDrop1, &TFileDrop::Dropped, this, &TConfig1Dlg::FileDrop1Drop);
    connect(FileDrop2, &TFileDrop::Dropped, this, &TConfig1Dlg::FileDrop2Drop);
    connect(FileDrop3, &TFileDrop::Dropped, this, &TConfig1Dlg::FileDrop3Drop);

    CBUseSpiffsClick();
}

void TConfig1Dlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_placed)
        return;
    m_placed = true;
    if (QScreen* s = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(s->availableGeometry().center());
        move(frame.topLeft());
    }
}

void TConfig1Dlg::reject()
{
    // Esc and the close box answer as the cancel button does.
    done(2);
}

void TConfig1Dlg::CBUseSpiffsClick()
{
    const bool on = CBUseSpiffs->isChecked();
    for (QWidget* w : {static_cast<QWidget*>(StaticText5), static_cast<QWidget*>(EdPartationFile),
                       static_cast<QWidget*>(BTPartationFile), static_cast<QWidget*>(StaticText6),
                       static_cast<QWidget*>(EdspiffsOffset)})
        w->setEnabled(on);
}

void TConfig1Dlg::SBesptoolClick()
{
    const QString file = OpenFile(this, FolderOfPath(Edesptool->text()),
                                  QtFileFilter(QStringLiteral("esptool実行ファイル|*.exe")));
    if (!file.isEmpty())
        Edesptool->setText(NativePath(file));
}

void TConfig1Dlg::SBEdespotaClick()
{
    const QString file = OpenFile(this, FolderOfPath(Edespota->text()),
                                  QtFileFilter(QStringLiteral("espota実行ファイル|*.exe")));
    if (!file.isEmpty())
        Edespota->setText(NativePath(file));
}

void TConfig1Dlg::BTPartationFileClick()
{
    const QString current = EdPartationFile->text();
    const QString file = OpenFile(this, current.isEmpty() ? QString() : FolderOfPath(current),
                                  QtFileFilter(QStringLiteral("Partition Tablesファイル|*.csv")));
    if (file.isEmpty())
        return;
    EdPartationFile->setText(NativePath(file));
    ReadSpiffsOffset(file);
}

void TConfig1Dlg::BringToFront()
{
    raise();
    activateWindow();
}

void TConfig1Dlg::DropExecutable(QLineEdit* field, const QStringList& paths)
{
    if (paths.isEmpty())
        return;
    BringToFront();
    if (QFileInfo(paths.first()).isFile())
        field->setText(NativePath(paths.first()));
    else
        m_ui.Beep();
}

void TConfig1Dlg::FileDrop1Drop(const QStringList& paths)
{
    DropExecutable(Edesptool, paths);
}

void TConfig1Dlg::FileDrop3Drop(const QStringList& paths)
{
    DropExecutable(Edespota, paths);
}

void TConfig1Dlg::FileDrop2Drop(const QStringList& paths)
{
    if (paths.isEmpty())
        return;
    BringToFront();
    const QFileInfo info(paths.first());
    // Something that is no file cannot be read as a table either: the beep is all.
    if (!info.isFile()) {
        m_ui.Beep();
        return;
    }
    if (QString::compare(info.suffix(), QStringLiteral("csv"), Qt::CaseInsensitive) != 0) {
        m_ui.Message(ErrorBox(CsvTypeMessage()));
        return;
    }
    EdPartationFile->setText(NativePath(paths.first()));
    ReadSpiffsOffset(paths.first());
}

bool TConfig1Dlg::ReadSpiffsOffset(const QString& path)
{
    QFile file(path);
    QByteArray bytes;
    bool ok = file.open(QIODevice::ReadOnly);
    if (ok) {
        bytes = file.readAll();
        ok = file.error() == QFileDevice::NoError;
    }
    if (!ok) {
        m_ui.Message(ErrorBox(
            QStringLiteral("ファイル \"%1\" を開けません。\n%2").arg(NativePath(path), file.errorString())));
        return false;
    }
    if (const std::optional<int> offset = SpiffsOffsetOf(bytes))
        EdspiffsOffset->SetValue(static_cast<std::uint32_t>(*offset));
    return true;
}

QString FolderOfPath(const QString& path)
{
    qsizetype cut = path.lastIndexOf(QLatin1Char('/'));
#ifdef Q_OS_WIN
    cut = std::max({cut, path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf(QLatin1Char(':'))});
#endif
    return cut < 0 ? QString() : path.left(cut + 1);
}

} // namespace nx7
