#include "comm/board_types.h"

namespace nx7
{

namespace
{

template <typename T> void PutLe(std::uint8_t* out, T value)
{
    for (std::size_t i = 0; i < sizeof(T); ++i)
        out[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * i));
}

template <typename T> T GetLe(const std::uint8_t* in)
{
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i)
        value |= static_cast<std::uint64_t>(in[i]) << (8 * i);
    return static_cast<T>(value);
}

} // namespace

std::array<std::uint8_t, TCPIPPARAM::kBlockSize> TCPIPPARAM::ToBlock() const
{
    std::array<std::uint8_t, kBlockSize> block{};
    block[0] = Flags;
    PutLe(&block[1], NetMask);
    PutLe(&block[5], Port);
    PutLe(&block[7], IPAddr);
    PutLe(&block[11], ServPort);
    PutLe(&block[13], ServAddr);
    PutLe(&block[17], Extra1);
    PutLe(&block[21], Extra2);
    return block;
}

void TCPIPPARAM::FromBlock(const std::uint8_t* block)
{
    Flags = block[0];
    NetMask = GetLe<std::uint32_t>(block + 1);
    Port = GetLe<std::uint16_t>(block + 5);
    IPAddr = GetLe<std::uint32_t>(block + 7);
    ServPort = GetLe<std::uint16_t>(block + 11);
    ServAddr = GetLe<std::uint32_t>(block + 13);
    Extra1 = GetLe<std::uint32_t>(block + 17);
    Extra2 = GetLe<std::uint32_t>(block + 21);
}

} // namespace nx7
