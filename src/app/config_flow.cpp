#include "app/config_dialog.h"

#include "comm/board_commands.h"
#include "core/app_core.h"
#include "settings/option_settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

namespace nx7
{

namespace
{

constexpr int kBoardWaitMs = 2000;

std::uint32_t OctetsValue(const TUpdownNumberEdit* a, const TUpdownNumberEdit* b, const TUpdownNumberEdit* c,
                          const TUpdownNumberEdit* d)
{
    auto octet = [](const TUpdownNumberEdit* e) { return static_cast<std::uint32_t>(e->IntValue() & 0xFF); };
    return octet(a) << 24 | octet(b) << 16 | octet(c) << 8 | octet(d);
}

void ShowOctets(std::uint32_t value, TUpdownNumberEdit* a, TUpdownNumberEdit* b, TUpdownNumberEdit* c,
                TUpdownNumberEdit* d)
{
    a->SetValue((value >> 24) & 0xFF);
    b->SetValue((value >> 16) & 0xFF);
    c->SetValue((value >> 8) & 0xFF);
    d->SetValue(value & 0xFF);
}

} // namespace

void MnSetConfigClick(AppCore& app, QWidget* owner, const std::function<int(TConfig1Dlg&)>& exec)
{
    TOptionSettings& s = app.Settings;
    TCPIPPARAM& net = app.NetParams;

    TConfig1Dlg dlg(app.Ui, owner);
    Config1Dlg = &dlg;
    struct Forget {
        ~Forget() { Config1Dlg = nullptr; }
    } forget;

    dlg.CBUseSpiffs->setChecked(s.fWrSpiffs != 0);
    dlg.Edesptool->setText(s.App_ESPTool);
    dlg.Edespota->setText(s.App_ESPOta);
    dlg.EdPartationFile->setText(s.PartitionTables);
    dlg.EdspiffsOffset->SetValue(s.SpiffSOffset);
    dlg.RGSPISpeed->SetItemIndex(s.SPISpeed);
    dlg.RGSPIMode->SetItemIndex(s.SPIMode);
    dlg.RGUploadSpeed->SetItemIndex(s.UploadSpeed);
    ShowOctets(net.IPAddr, dlg.EdTCIP1, dlg.EdTCIP2, dlg.EdTCIP3, dlg.EdTCIP4);
    dlg.EdTCPPort->SetValue(net.Port);
    ShowOctets(net.NetMask, dlg.EdMask1, dlg.EdMask2, dlg.EdMask3, dlg.EdMask4);
    dlg.CBSSID->clear();
    dlg.CBSSID->addItem(net.SSID);
    dlg.CBSSID->setCurrentIndex(0);
    dlg.EdPass->setText(net.Password);
    dlg.CBAPMode->setChecked(true);
    dlg.RGDHCP2->SetItemIndex((net.Flags >> 5) & 1);

    const int result = exec ? exec(dlg) : dlg.exec();
    if (result != 1)
        return;

    s.fWrSpiffs = dlg.CBUseSpiffs->isChecked() ? 1 : 0;
    s.App_ESPTool = dlg.Edesptool->text();
    s.App_ESPOta = dlg.Edespota->text();
    s.PartitionTables = dlg.EdPartationFile->text();
    // The offset is a 32-bit pattern, as the settings file keeps hexadecimal numbers.
    s.SpiffSOffset = static_cast<int>(static_cast<std::uint32_t>(dlg.EdspiffsOffset->IntValue()));
    s.SPISpeed = dlg.RGSPISpeed->ItemIndex();
    s.SPIMode = dlg.RGSPIMode->ItemIndex();
    s.UploadSpeed = dlg.RGUploadSpeed->ItemIndex();

    const std::uint32_t address = OctetsValue(dlg.EdTCIP1, dlg.EdTCIP2, dlg.EdTCIP3, dlg.EdTCIP4);
    const std::uint32_t mask = OctetsValue(dlg.EdMask1, dlg.EdMask2, dlg.EdMask3, dlg.EdMask4);
    const auto port = static_cast<std::uint16_t>(dlg.EdTCPPort->IntValue() & 0xFFFF);
    const unsigned apBit = dlg.CBAPMode->isChecked() ? 1 : 0;
    const unsigned dhcpBit = dlg.RGDHCP2->ItemIndex() == 1 ? 1 : 0;

    // Without an engine there is no board to write to: the outcome is a failure, not a crash.
    auto board = [&app](const std::function<bool(BoardCommands&)>& command) {
        if (!app.Engine())
            return false;
        BoardCommands commands = app.Commands();
        return command(commands);
    };

    bool ok = true;
    const QString ssid = dlg.CBSSID->currentText();
    const QString password = dlg.EdPass->text();
    if (ssid != net.SSID || password != net.Password) {
        net.SSID = ssid;
        net.Password = password;
        ok = board([&](BoardCommands& c) { return c.WriteWifiSettings(ssid, password, kBoardWaitMs); });
    }

    if (net.IPAddr != address || net.Port != port || ((net.Flags >> 6) & 1u) != apBit ||
        ((net.Flags >> 5) & 1u) != dhcpBit || net.NetMask != mask) {
        net.IPAddr = address;
        net.Port = port;
        net.Flags = static_cast<std::uint8_t>((net.Flags & ~0x60u) | apBit << 6 | dhcpBit << 5);
        net.NetMask = mask;
        MirrorNetParams(net, s);
        ok = board([&](BoardCommands& c) { return c.SetNetParams(net, kBoardWaitMs); });
    }

    app.AddLog(ok ? QStringLiteral("OK: 設定") : QStringLiteral("NG: 設定"), false);
}

} // namespace nx7
