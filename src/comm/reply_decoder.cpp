#include "comm/reply_decoder.h"

#include "comm/frame_codec.h"
#include "comm/protocol.h"

namespace nx7::codec
{

namespace
{

const char kHex[] = "0123456789ABCDEF";

void AppendHex(std::string& out, std::uint8_t byte)
{
    out.push_back(kHex[byte >> 4]);
    out.push_back(kHex[byte & 0x0F]);
}

std::string IsoErrorText(std::uint8_t detail)
{
    switch (detail) {
    case 0x01:
        return "The command is not supported, i.e. the request code is not recognised.";
    case 0x02:
        return "he command is not recognised, for example: a format error occurred.";
    case 0x03:
        return "The option is not supported.";
    case 0x0F:
        return "Unknown error.";
    case 0x10:
        return "The specified block is not available (doesn’t exist).";
    case 0x11:
        return "The specified block is already -locked and thus cannot be locked again";
    case 0x12:
        return "The specified block is locked and its content cannot be changed.";
    case 0x13:
        return "The specified block was not successfully programmed.";
    case 0x14:
        return "The specified block was not successfully locked.";
    case 0x15:
        return "The specified block is read-protected.";
    default:
        return "? 'DF' Custom command error codes";
    }
}

std::string EpcErrorText(std::uint8_t detail)
{
    switch (detail) {
    case 0x00:
        return "Other error";
    case 0x03:
        return "Memory overrun";
    case 0x04:
        return "Memory locked";
    case 0x0B:
        return "Insufficient power";
    case 0x0F:
        return "Non-specific error";
    default:
        return "??? error";
    }
}

// One length-prefixed field of a protocol notification; `index` moves past it. The field's
// bytes are cut at the end of the data.
std::string TagField(const FrameView& frame, int& index)
{
    const int n = frame.At(index);
    ++index;
    std::string text;
    const int end = frame.DataEnd();
    for (int i = index; i < index + n && i < end; ++i) {
        AppendHex(text, frame.bytes[i]);
        text.push_back(' ');
    }
    index += n;
    return text;
}

void DecodeProtocol(const FrameView& frame, DecodeResult& result)
{
    const std::uint8_t kind = frame.At(4);
    if (kind > 8) {
        std::string text = "DEBG: ";
        const int count = frame.Len() - 1;
        for (int k = 0; k < count && frame.Has(5 + k) && 5 + k < frame.DataEnd(); ++k) {
            AppendHex(text, frame.bytes[5 + k]);
            if (k < 5)
                text.push_back(' ');
        }
        result.lines.push_back({text, false});
    } else if (kind == 8) {
        int index = 5;
        result.lines.push_back({"UII  : " + TagField(frame, index), false});
        if (index < frame.DataEnd()) {
            result.lines.push_back({"data : " + TagField(frame, index), false});
            if (index < frame.DataEnd())
                result.lines.push_back({"TID  : " + TagField(frame, index), false});
        }
    }
}

void DecodeDisplayUnit(const FrameView& frame, DecodeResult& result)
{
    switch (frame.At(4)) {
    case 0:
        result.lines.push_back({"LCDB_RWLCDDATA受信", false});
        break;
    case 1:
        result.lines.push_back({"LCDB_SWINFO受信", false});
        break;
    case 2:
        result.lines.push_back({"LCDB_RWRTCDATA受信", false});
        break;
    case 3:
        // A frame too short to carry the clock registers gets no clock line.
        if (frame.Has(11)) {
            std::uint8_t regs[7];
            for (int i = 0; i < 7; ++i)
                regs[i] = frame.bytes[5 + i];
            result.lines.push_back({ClockLine(regs), false});
        }
        result.lines.push_back({"LCDB_RDRTCDATA受信", false});
        break;
    default:
        break;
    }
}

std::uint32_t Le32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

} // namespace

int FrameView::DataEnd() const
{
    const int end = 4 + Len();
    return end < length ? end : length;
}

std::string FrameView::Bytes(int start, int count) const
{
    if (count <= 0 || start < 0 || start >= length)
        return {};
    const int end = start + count < length ? start + count : length;
    return std::string(reinterpret_cast<const char*>(bytes) + start, static_cast<std::size_t>(end - start));
}

std::string NackText(std::uint8_t code, std::uint8_t detail)
{
    switch (static_cast<NackCode>(code)) {
    case NackCode::Crc:
        return "CRCエラー";
    case NackCode::CommandTimeOver:
        return "CMD_TIME_OVER受信";
    case NackCode::TagDataError:
        return "タグデータ受信エラー";
    case NackCode::NoTagAnswer:
        return "タグからの応答なし";
    case NackCode::Iso15693:
        return IsoErrorText(detail);
    case NackCode::EpcTag:
        return EpcErrorText(detail);
    case NackCode::DataCount:
        return "データ数エラー";
    case NackCode::BadSum:
        return "コマンドのサム値エラー";
    case NackCode::BadId:
        return "コマンドのＩＤ値のエラー";
    case NackCode::BadCommand:
        return "不正なコマンド";
    case NackCode::DoubleRead:
        return "２度読みエラーー";
    case NackCode::Password:
        return "PassWordエラー";
    default:
        return "??? NACK受信";
    }
}

std::string ClockLine(const std::uint8_t regs[7])
{
    static const char* const kWeekdays[8] = {"", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat", ""};
    const std::uint8_t sec = regs[0], min = regs[1], hour = regs[2], day = regs[3], month = regs[4],
                       weekday = regs[5], year = regs[6];
    const int y = 2000 + (year >> 4) * 10 + (year & 0x0F);
    const int mo = (month & 0x0F) + ((month & 0x10) ? 10 : 0);
    const int d = (day & 0x0F) + 10 * ((day >> 4) & 0x03);
    const int h = (hour & 0x0F) + 10 * ((hour >> 4) & 0x03);
    const int mi = (min & 0x0F) + 10 * ((min >> 4) & 0x07);
    const int s = (sec & 0x0F) + 10 * ((sec >> 4) & 0x07);
    return std::to_string(y) + "/" + std::to_string(mo) + "/" + std::to_string(d) + "(" +
           kWeekdays[weekday & 0x07] + ") " + std::to_string(h) + ":" + std::to_string(mi) + ":" +
           std::to_string(s) + " ";
}

DecodeResult DecodeReply(const FrameView& frame, bool wantText)
{
    DecodeResult result;
    if (frame.length < kMinFrame)
        return result;
    const std::uint8_t code = frame.bytes[2];
    if (code == +ReplyCode::TextNote) {
        const std::string text = frame.Bytes(4, frame.Len());
        if (text == "OK")
            result.otaResult = true;
        else if (text == "BR")
            result.otaResult = false;
        return result;
    }
    if (!wantText)
        return result;

    switch (static_cast<ReplyCode>(code)) {
    case ReplyCode::Ack:
    case ReplyCode::Extension:
    case ReplyCode::TagDataD:
    case ReplyCode::TagDataI:
    case ReplyCode::TagDataL:
        break;
    case ReplyCode::Nack:
        result.lines.push_back({NackText(frame.bytes[4], frame.bytes[5]), false});
        break;
    case ReplyCode::Message:
        if (frame.At(4) == 0x4D)
            result.lines.push_back({frame.Bytes(5, frame.Len() - 1), true});
        break;
    case ReplyCode::TagId: {
        std::string text = "UID2: ";
        for (int i = 12; i >= 5; --i) {
            if (frame.Has(i))
                AppendHex(text, frame.bytes[i]);
        }
        result.lines.push_back({text, false});
        break;
    }
    case ReplyCode::ProtocolNote:
        DecodeProtocol(frame, result);
        break;
    case ReplyCode::Display:
        DecodeDisplayUnit(frame, result);
        break;
    default:
        result.lines.push_back({"レスポンスフォーマットエラー", false});
        break;
    }
    return result;
}

std::optional<std::uint16_t> ParseIfbMode(const FrameView& frame)
{
    if (!frame.Has(8))
        return std::nullopt;
    return static_cast<std::uint16_t>(Le32(frame.bytes + 5) & 0xFFFF);
}

bool IsOtaStatusReply(const FrameView& frame)
{
    const int len = frame.Len();
    return len == 10 || len == 11;
}

std::uint32_t OtaStatus::Address() const
{
    return Le32(address.data());
}

std::optional<OtaStatus> ParseOtaStatus(const FrameView& frame)
{
    const int len = frame.Len();
    if ((len != 10 && len != 11) || frame.At(7) != 1 || !frame.Has(14))
        return std::nullopt;
    OtaStatus status;
    status.port = static_cast<std::uint16_t>(frame.bytes[9] + 256 * frame.bytes[10]);
    for (int i = 0; i < 4; ++i)
        status.address[static_cast<std::size_t>(i)] = frame.bytes[11 + i];
    return status;
}

std::optional<std::uint16_t> ParseTargetId(const FrameView& frame)
{
    if (frame.Len() != 7 || frame.At(4) != 0x05 || !frame.Has(10))
        return std::nullopt;
    return static_cast<std::uint16_t>(frame.bytes[9] + 256 * frame.bytes[10]);
}

std::string ParseWifiText(const FrameView& frame)
{
    return frame.Bytes(6, frame.Len() - 2);
}

std::optional<std::array<std::uint8_t, 25>> ParseNetParamsBlock(const FrameView& frame)
{
    if (frame.Len() != 27 || !frame.Has(30))
        return std::nullopt;
    std::array<std::uint8_t, 25> block{};
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = frame.bytes[6 + i];
    return block;
}

std::uint32_t ApInfo::Address() const
{
    return Le32(address.data());
}

std::optional<ApInfo> ParseApInfo(const FrameView& frame)
{
    if (frame.At(5) != 0x71 || !frame.Has(11))
        return std::nullopt;
    ApInfo info;
    for (int i = 0; i < 4; ++i)
        info.address[static_cast<std::size_t>(i)] = frame.bytes[6 + i];
    info.port = static_cast<std::uint16_t>(frame.bytes[10] + 256 * frame.bytes[11]);
    info.name = frame.Bytes(12, frame.Len() - 8);
    return info;
}

std::string ParseVersionText(const FrameView& frame)
{
    return frame.Bytes(5, frame.Len() - 1);
}

} // namespace nx7::codec
