#include "comm/protocol.h"

#include <algorithm>

namespace nx7::codec
{

std::vector<std::uint8_t> RequestEcho(std::span<const std::uint8_t> requestData)
{
    if (requestData.empty())
        return {};
    const std::uint8_t sub = requestData[0];
    if ((sub == +Request::ReadItem || sub == +Request::WriteItem) && requestData.size() >= 2)
        return {sub, requestData[1]};
    return {sub};
}

bool EchoMatches(std::span<const std::uint8_t> echo, std::span<const std::uint8_t> replyData)
{
    if (echo.empty() || replyData.size() < echo.size())
        return false;
    return std::equal(echo.begin(), echo.end(), replyData.begin());
}

} // namespace nx7::codec
