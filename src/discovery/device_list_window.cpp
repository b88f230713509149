#include "discovery/device_list_window.h"

#include "platform/app_paths.h"
#include "platform/com_names.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace nx7
{

namespace
{
QString UsbId(int id)
{
    return id < 0 ? QString() : QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0')).toUpper();
}
} // namespace

DeviceListWindow::DeviceListWindow(const QString& iniPath, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , DeviceList(new QTreeWidget(this))
    , RefreshButton(new QPushButton(QStringLiteral("最新の情報に更新"), this))
    , CloseButton(new QPushButton(QStringLiteral("閉じる"), this))
    , m_iniPath(iniPath)
{
    setObjectName(QStringLiteral("DeviceListWindow"));
    setWindowTitle(QStringLiteral("シリアルポートの確認"));
    DeviceList->setObjectName(QStringLiteral("DeviceList"));
    RefreshButton->setObjectName(QStringLiteral("RefreshButton"));
    CloseButton->setObjectName(QStringLiteral("CloseButton"));

    DeviceList->setRootIsDecorated(false);
    DeviceList->setHeaderLabels({QStringLiteral("ポート"), QStringLiteral("デバイス"), QStringLiteral("説明"),
                                 QStringLiteral("製造元"), QStringLiteral("ベンダーID"),
                                 QStringLiteral("プロダクトID"), QStringLiteral("シリアル番号")});
    DeviceList->header()->setSectionResizeMode(QHeaderView::ResizeToContents);

    connect(RefreshButton, &QPushButton::clicked, this, &DeviceListWindow::Refresh);
    connect(CloseButton, &QPushButton::clicked, this, &QWidget::close);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(RefreshButton);
    buttons->addWidget(CloseButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(DeviceList, 1);
    layout->addLayout(buttons);
    resize(720, 260);
}

void DeviceListWindow::Refresh()
{
    QList<SerialDevice> devices = PresentSerialDevices(m_iniPath.isEmpty() ? SettingsFilePath() : m_iniPath);
    std::sort(devices.begin(), devices.end(),
              [](const SerialDevice& a, const SerialDevice& b) { return a.number < b.number; });
    DeviceList->clear();
    for (const SerialDevice& d : devices) {
        DeviceList->addTopLevelItem(
            new QTreeWidgetItem({QStringLiteral("COM") + QString::number(d.number), d.device, d.description,
                                 d.manufacturer, UsbId(d.vendorId), UsbId(d.productId), d.serialNumber}));
    }
}

} // namespace nx7
