#pragma once
// Records the board commands fill.
#include <QString>
#include <array>
#include <cstdint>

namespace nx7
{

// The board's network parameters; wire form: the 25-byte block, little-endian.
struct TCPIPPARAM {
    QString SSID;
    QString Password;
    std::uint8_t Flags = 0; // bit 5 DHCP, bit 6 access-point mode
    std::uint32_t NetMask = 0;
    std::uint16_t Port = 0;
    std::uint32_t IPAddr = 0;
    std::uint16_t ServPort = 0;
    std::uint32_t ServAddr = 0;
    std::uint32_t Extra1 = 0;
    std::uint32_t Extra2 = 0;

    static constexpr int kBlockSize = 25;
    std::array<std::uint8_t, kBlockSize> ToBlock() const;
    void FromBlock(const std::uint8_t* block); // reads 25 bytes
};

// The board's Wi-Fi access point as the OTA update uses it.
struct AccessPointRecord {
    QString NetworkName;
    QString Password = QStringLiteral("MervoxTqLu");
    std::uint16_t OtaPort = 0;
    std::uint32_t IpAddr = 0;
};

} // namespace nx7
