#pragma once
// TOpenCom1Dlg: the serial port, speed and (shown only) parity chosen before the link opens.
// While shown it re-enumerates the ports about once a second, the stand-in for the system's
// device-change notification, and rebuilds the list only when the set of ports changed.
// Result 1 for Open, 2 for Cancel, Esc or the close box.
#include "dialogs/radio_group.h"

#include <QDialog>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <functional>

class QCheckBox;
class QLabel;
class QListWidget;
class QPushButton;

namespace nx7
{

class DeviceListWindow;

class TOpenCom1Dlg : public QDialog
{
    Q_OBJECT
public:
    explicit TOpenCom1Dlg(QWidget* parent = nullptr);

    // Fills the list; `selected` (-1: none) becomes the selected line and is shown in STComPort.
    void SetLines(const QStringList& lines, int selected);
    QStringList Lines() const;
    int SelectedLine() const; // -1 when no line is selected
    int SpeedItem() const;    // -1 when none is checked
    void SetSpeedItem(int item);
    int ParityItem() const;
    void SetParityItem(int item);

    // Gives the current port lines; without it the list is never refreshed.
    void SetEnumerate(std::function<QStringList()> enumerate) { m_enumerate = std::move(enumerate); }
    void SetRefreshInterval(int ms) { m_deviceTimer.setInterval(ms); }
    // Settings file whose pinned ports the device list shows (empty: the program's own).
    void SetSettingsPath(const QString& path) { m_settingsPath = path; }

    // Clears the list and adds `lines`; no line is selected afterwards and STComPort keeps its text.
    void RefreshPortList(const QStringList& lines);
    // Enumerates and refreshes when the set of ports is no longer the one listed.
    void CheckDevices();
    // Shows the device list window.
    void Button1Click();
    DeviceListWindow* DeviceList() const;

    QLabel* Label1;
    QLabel* STComPort;
    QListWidget* LBComPort;
    TRadioGroup* RGComSpeed;
    TRadioGroup* RGParity;
    QPushButton* Button1;
    QCheckBox* USE_USBOTA;
    QPushButton* OKBtn;
    QPushButton* CancelBtn;

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void LBComPortClick();

    std::function<QStringList()> m_enumerate;
    QTimer m_deviceTimer;
    QString m_settingsPath;
    QPointer<DeviceListWindow> m_devices;
};

} // namespace nx7
