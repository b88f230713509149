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

namespace nx7::codec
{

void ReplyMatcher::Sent(std::span<const std::uint8_t> frame)
{
    m_answered = false;
    m_nack = false;
    // STX, ID, command, LEN >= 1, DATA..., ETX, SUM, CR.
    m_pending = frame.size() >= 8 && frame[0] == 0x02 && frame[3] >= 1 && frame.size() >= frame[3] + 7u;
    m_echo = m_pending ? RequestEcho(frame.subspan(4, frame[3])) : std::vector<std::uint8_t>{};
}

bool ReplyMatcher::Offer(std::span<const std::uint8_t> frame)
{
    if (!m_pending || frame.size() < 7)
        return false;
    const bool nack = frame[2] == +ReplyCode::Nack;
    if (!nack) {
        if (frame[2] != +ReplyCode::Ack)
            return false;
        // DATA as far as the frame really holds it, whatever LEN claims.
        const std::size_t len = std::min<std::size_t>(frame[3], frame.size() - 7);
        if (!EchoMatches(m_echo, frame.subspan(4, len)))
            return false;
    }
    m_pending = false;
    m_answered = true;
    m_nack = nack;
    return true;
}

} // namespace nx7::codec
