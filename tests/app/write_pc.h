#pragma once
// The PC side of a write in the window tests: a small stand-in for the image the tool carries, and
// a Wi-Fi adapter on the board's access point through which the network checks pass.
#include "core/app_core.h"
#include "diag/fake_network.h"
#include "platform/adapters.h"
#include "update/firmware_image.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <memory>
#include <optional>

namespace nx7::test
{

inline bool PrepareWritePc(const QString& folder)
{
    const QString fw = folder + QStringLiteral("/fw");
    if (!QDir().mkpath(fw))
        return false;
    QFile image(fw + QStringLiteral("/3030KMT27"));
    if (!image.open(QIODevice::WriteOnly))
        return false;
    image.write(QByteArray("\xE9") + QByteArray(4095, 'i'));
    image.close();
    SetFirmwareResourceRoot(fw);
    const QList<AdapterInfo> adapters = ParseAdapterList(QStringLiteral("Wi-Fi=192.168.4.10"));
    SetAdapterProvider([adapters] { return std::optional<QList<AdapterInfo>>(adapters); });
    auto network = std::make_shared<diag::test::FakeNetwork>();
    network->adapters = {
        diag::test::Adapter(QStringLiteral("wlan0"), true, {QStringLiteral("192.168.4.10/24")})};
    network->route = diag::test::Via(QStringLiteral("wlan0"));
    AppCore::SetDefaultNetwork(network);
    return true;
}

} // namespace nx7::test
