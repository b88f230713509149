#include "discovery/port_dialog.h"

#include "dialogs/ui_support.h"
#include "discovery/device_list_window.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace nx7
{

namespace
{
// An index without an item checks none (the group itself would check its last item).
void CheckItem(TRadioGroup* group, int item)
{
    group->SetItemIndex(item < group->Count() ? item : -1);
}
} // namespace

TOpenCom1Dlg::TOpenCom1Dlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint)
    , Label1(new QLabel(QStringLiteral("COM Port"), this))
    , STComPort(new QLabel(this))
    , LBComPort(new QListWidget(this))
    , Button1(new QPushButton(QStringLiteral("ポートの確認..."), this))
    , USE_USBOTA(new QCheckBox(QStringLiteral("USBモードで実行"), this))
    , OKBtn(new QPushButton(QStringLiteral("Open"), this))
    , CancelBtn(new QPushButton(QStringLiteral("キャンセル"), this))
{
    setObjectName(QStringLiteral("OpenCom1Dlg"));
    setFixedSize(479, 370);
    RGComSpeed =
        new TRadioGroup(QStringLiteral("RGComSpeed"), QStringLiteral("Speed"),
                        {QStringLiteral("9600bps"), QStringLiteral("19.2kbps"), QStringLiteral("38.4kbps"),
                         QStringLiteral("57.6kbps"), QStringLiteral("115.2kbps")},
                        1, this);
    RGParity =
        new TRadioGroup(QStringLiteral("RGParity"), QStringLiteral("Parity"),
                        {QStringLiteral("なし"), QStringLiteral("奇数"), QStringLiteral("偶数")}, 1, this);
    // It only shows the setting.
    RGParity->setEnabled(false);

    Label1->setObjectName(QStringLiteral("Label1"));
    STComPort->setObjectName(QStringLiteral("STComPort"));
    LBComPort->setObjectName(QStringLiteral("LBComPort"));
    Button1->setObjectName(QStringLiteral("Button1"));
    USE_USBOTA->setObjectName(QStringLiteral("USE_USBOTA"));
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));

    STComPort->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    STComPort->setAlignment(Qt::AlignCenter);
    STComPort->setTextFormat(Qt::PlainText);
    STComPort->setMinimumHeight(24);
    LBComPort->setSelectionMode(QAbstractItemView::SingleSelection);
    USE_USBOTA->setChecked(false);
    USE_USBOTA->hide();

    OKBtn->setDefault(true);
    connect(OKBtn, &QPushButton::clicked, this, [this] { done(1); });
    connect(CancelBtn, &QPushButton::clicked, this, [this] { done(2); });
    connect(Button1, &QPushButton::clicked, this, &TOpenCom1Dlg::Button1Click);
    connect(LBComPort, &QListWidget::itemSelectionChanged, this, &TOpenCom1Dlg::LBComPortClick);

    m_deviceTimer.setInterval(1000);
    connect(&m_deviceTimer, &QTimer::timeout, this, &TOpenCom1Dlg::CheckDevices);

    auto* left = new QVBoxLayout;
    left->addWidget(Label1);
    left->addWidget(STComPort);
    left->addWidget(LBComPort, 1);
    auto* right = new QVBoxLayout;
    right->addWidget(RGComSpeed);
    right->addWidget(RGParity);
    right->addWidget(Button1);
    right->addWidget(USE_USBOTA);
    right->addStretch();
    auto* top = new QHBoxLayout;
    top->addLayout(left, 1);
    top->addLayout(right);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addLayout(buttons);
}

void TOpenCom1Dlg::SetLines(const QStringList& lines, int selected)
{
    RefreshPortList(lines);
    if (selected >= 0 && selected < LBComPort->count()) {
        LBComPort->setCurrentRow(selected);
        STComPort->setText(LBComPort->item(selected)->text());
    } else {
        STComPort->clear();
    }
}

QStringList TOpenCom1Dlg::Lines() const
{
    QStringList lines;
    for (int i = 0; i < LBComPort->count(); ++i)
        lines.append(LBComPort->item(i)->text());
    return lines;
}

int TOpenCom1Dlg::SelectedLine() const
{
    const QList<QListWidgetItem*> items = LBComPort->selectedItems();
    return items.isEmpty() ? -1 : LBComPort->row(items.first());
}

int TOpenCom1Dlg::SpeedItem() const
{
    return RGComSpeed->ItemIndex();
}

void TOpenCom1Dlg::SetSpeedItem(int item)
{
    CheckItem(RGComSpeed, item);
}

int TOpenCom1Dlg::ParityItem() const
{
    return RGParity->ItemIndex();
}

void TOpenCom1Dlg::SetParityItem(int item)
{
    CheckItem(RGParity, item);
}

void TOpenCom1Dlg::RefreshPortList(const QStringList& lines)
{
    const QSignalBlocker block(LBComPort);
    LBComPort->clear();
    LBComPort->addItems(lines);
    LBComPort->clearSelection();
    LBComPort->setCurrentRow(-1);
}

void TOpenCom1Dlg::CheckDevices()
{
    if (!m_enumerate)
        return;
    const QStringList lines = m_enumerate();
    if (lines != Lines())
        RefreshPortList(lines);
}

void TOpenCom1Dlg::LBComPortClick()
{
    const int row = SelectedLine();
    if (row >= 0)
        STComPort->setText(LBComPort->item(row)->text());
}

void TOpenCom1Dlg::Button1Click()
{
    if (!m_devices) {
        // A child window of the dialog, so the dialog's modality does not block it.
        m_devices = new DeviceListWindow(m_settingsPath, this);
        m_devices->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_devices->Refresh();
    m_devices->show();
    m_devices->raise();
    m_devices->activateWindow();
}

DeviceListWindow* TOpenCom1Dlg::DeviceList() const
{
    return m_devices.data();
}

void TOpenCom1Dlg::reject()
{
    // Esc and the close box answer as the cancel button does.
    done(2);
}

void TOpenCom1Dlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    CentreOnScreen(this);
    m_deviceTimer.start();
}

void TOpenCom1Dlg::hideEvent(QHideEvent* event)
{
    m_deviceTimer.stop();
    QDialog::hideEvent(event);
}

} // namespace nx7
