#pragma once
// The serial devices of the PC with their COM numbers and details, opened from the port dialog so
// the user can tell which port is the board's.
#include <QString>
#include <QWidget>

class QPushButton;
class QTreeWidget;

namespace nx7
{

class DeviceListWindow : public QWidget
{
    Q_OBJECT
public:
    // `iniPath`: the settings file whose pinned ports are listed too (empty: the program's own).
    explicit DeviceListWindow(const QString& iniPath, QWidget* parent = nullptr);

    // Lists the present devices again, in COM-number order.
    void Refresh();

    QTreeWidget* DeviceList;
    QPushButton* RefreshButton;
    QPushButton* CloseButton;

private:
    QString m_iniPath;
};

} // namespace nx7
