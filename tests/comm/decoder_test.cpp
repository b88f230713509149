// The reply decoder's trace texts and update result, and the field readers of the command
// replies, including frames whose LEN promises more than they hold.
#include "comm/frame_codec.h"
#include "comm/reply_decoder.h"
#include "support/test_data.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

using namespace nx7::codec;
using Bytes = std::vector<std::uint8_t>;

namespace
{

using nx7::test::FromHex;

// The frame in a heap block of exactly its size, so a read past its end is caught by ASan.
struct ExactFrame {
    explicit ExactFrame(const Bytes& bytes)
        : size(static_cast<int>(bytes.size()))
        , data(new std::uint8_t[bytes.size()])
    {
        std::copy(bytes.begin(), bytes.end(), data.get());
    }
    FrameView View() const { return FrameView{data.get(), size}; }
    int size;
    std::unique_ptr<std::uint8_t[]> data;
};

std::vector<std::string> Lines(std::uint8_t code, const std::string& dataHex)
{
    const ExactFrame f(BuildFrame(0, code, FromHex(dataHex)));
    std::vector<std::string> out;
    for (const TraceText& t : DecodeReply(f.View(), true).lines)
        out.push_back(t.text);
    return out;
}

using L = std::vector<std::string>;

} // namespace

TEST(ReplyDecoder, NackTexts)
{
    const struct {
        const char* data;
        const char* text;
    } cases[] = {
        {"01 00", "CRCエラー"},
        {"02 00", "CMD_TIME_OVER受信"},
        {"03 00", "タグデータ受信エラー"},
        {"04 00", "タグからの応答なし"},
        {"05 01", "The command is not supported, i.e. the request code is not recognised."},
        {"05 02", "he command is not recognised, for example: a format error occurred."},
        {"05 03", "The option is not supported."},
        {"05 0F", "Unknown error."},
        {"05 10", "The specified block is not available (doesn’t exist)."},
        {"05 11", "The specified block is already -locked and thus cannot be locked again"},
        {"05 12", "The specified block is locked and its content cannot be changed."},
        {"05 13", "The specified block was not successfully programmed."},
        {"05 14", "The specified block was not successfully locked."},
        {"05 15", "The specified block is read-protected."},
        {"05 A0", "? 'DF' Custom command error codes"},
        {"05 A5", "? 'DF' Custom command error codes"},
        {"0A 00", "Other error"},
        {"0A 03", "Memory overrun"},
        {"0A 04", "Memory locked"},
        {"0A 0B", "Insufficient power"},
        {"0A 0F", "Non-specific error"},
        {"0A 01", "??? error"},
        {"41 00", "データ数エラー"},
        {"42 00", "コマンドのサム値エラー"},
        {"43 00", "コマンドのＩＤ値のエラー"},
        {"44 00", "不正なコマンド"},
        {"45 00", "２度読みエラーー"},
        {"46 00", "PassWordエラー"},
        {"07 00", "??? NACK受信"},
        {"00 00", "??? NACK受信"},
        {"05", "The option is not supported."}, // DATA[1] is then the ETX
    };
    for (const auto& c : cases)
        EXPECT_EQ(Lines(0x31, c.data), L{c.text}) << c.data;
}

TEST(ReplyDecoder, NotificationTexts)
{
    const struct {
        std::uint8_t code;
        const char* data;
        L lines;
    } cases[] = {
        {0x30, "90 56 31", {}},
        {0x47, "01 02", {}},
        {0x64, "01", {}},
        {0x69, "01", {}},
        {0x4C, "01", {}},
        {0x45, "4D 48 65 6C 6C 6F", {"Hello"}},
        {0x45, "4D", {""}},
        {0x45, "4E 48 65", {}},
        {0x49, "00 01 02 03 04 05 06 07 08", {"UID2: 0807060504030201"}},
        {0x49, "00 01 02", {"UID2: 0D54030201"}}, // bytes 10..12 lie beyond the frame
        {0x6C, "09 01 02 03 04 05 06 07", {"DEBG: 01 02 03 04 05 0607"}},
        {0x6C, "FF", {"DEBG: "}},
        {0x6C, "08 02 E2 00 01 AA 00", {"UII  : E2 00 ", "data : AA ", "TID  : "}},
        {0x6C, "08 03 E2 00 11 02 AA BB 01 CC", {"UII  : E2 00 11 ", "data : AA BB ", "TID  : CC "}},
        {0x6C, "08 02 E2 00", {"UII  : E2 00 "}},
        {0x6C, "08 7F E2", {"UII  : E2 "}}, // a field longer than the data is cut
        {0x6C, "08", {"UII  : "}},
        {0x6C, "07 01 02", {}},
        {0x62, "00", {"LCDB_RWLCDDATA受信"}},
        {0x62, "01", {"LCDB_SWINFO受信"}},
        {0x62, "02", {"LCDB_RWRTCDATA受信"}},
        {0x62, "03 05 30 14 09 12 03 24", {"2024/12/9(Wed) 14:30:5 ", "LCDB_RDRTCDATA受信"}},
        {0x62, "03 59 59 23 31 09 06 99", {"2099/9/31(Sat) 23:59:59 ", "LCDB_RDRTCDATA受信"}},
        {0x62, "03 00 00 00 01 01 07 00", {"2000/1/1() 0:0:0 ", "LCDB_RDRTCDATA受信"}},
        {0x62, "03 00 00", {"LCDB_RDRTCDATA受信"}}, // no clock registers in the frame
        {0x62, "04", {}},
        {0x44, "4F 4B", {}},
        {0x20, "00", {"レスポンスフォーマットエラー"}},
        {0xFF, "", {"レスポンスフォーマットエラー"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Lines(c.code, c.data), c.lines) << int(c.code) << " " << c.data;
}

TEST(ReplyDecoder, MessageTextIsMarkedAsBoardText)
{
    const ExactFrame f(BuildFrame(0, 0x45, FromHex("4D 83 65 83 58 83 67")));
    const DecodeResult r = DecodeReply(f.View(), true);
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_TRUE(r.lines[0].fromBoard);
    EXPECT_EQ(r.lines[0].text, std::string("\x83\x65\x83\x58\x83\x67"));
}

TEST(ReplyDecoder, UpdateResultNotification)
{
    const struct {
        const char* text;
        std::optional<bool> result;
    } cases[] = {
        {"OK", true}, {"BR", false}, {"ok", std::nullopt}, {"OK!", std::nullopt}, {"", std::nullopt}};
    for (const auto& c : cases) {
        const std::string text = c.text;
        const ExactFrame f(BuildFrame(0, 0x44, Bytes(text.begin(), text.end())));
        for (bool wantText : {true, false}) {
            const DecodeResult r = DecodeReply(f.View(), wantText);
            EXPECT_EQ(r.otaResult, c.result) << c.text;
            EXPECT_TRUE(r.lines.empty());
        }
    }
}

TEST(ReplyDecoder, NoTextsWhenNotWanted)
{
    for (std::uint8_t code : {0x31, 0x45, 0x49, 0x6C, 0x62, 0x20}) {
        const ExactFrame f(BuildFrame(0, code, FromHex("4D 03 00 00 00 00 00 00 00")));
        EXPECT_TRUE(DecodeReply(f.View(), false).lines.empty()) << int(code);
    }
}

TEST(ReplyParsers, OperationModeWord)
{
    const ExactFrame ok(BuildFrame(0, 0x30, FromHex("00 05 00 01 00")));
    EXPECT_EQ(ParseIfbMode(ok.View()), std::uint16_t{5});
    const ExactFrame high(BuildFrame(0, 0x30, FromHex("00 02 01")));
    EXPECT_EQ(ParseIfbMode(high.View()), std::uint16_t{0x0102}); // bytes 7..8 are ETX and SUM
    const ExactFrame shortAck(BuildFrame(0, 0x30, FromHex("00")));
    EXPECT_EQ(ParseIfbMode(shortAck.View()), std::nullopt);
}

TEST(ReplyParsers, OtaStatus)
{
    const ExactFrame ok(BuildFrame(0, 0x30, FromHex("00 00 00 01 00 0A 0D C0 A8 04 01")));
    const auto s = ParseOtaStatus(ok.View());
    ASSERT_TRUE(s);
    EXPECT_EQ(s->port, 3338);
    EXPECT_EQ(s->address, (std::array<std::uint8_t, 4>{192, 168, 4, 1}));
    EXPECT_EQ(s->Address(), 0x0104A8C0u);

    // LEN 10: the fourth address byte is the ETX.
    const ExactFrame len10(BuildFrame(0, 0x30, FromHex("00 00 00 01 00 0A 0D C0 A8 04")));
    const auto s10 = ParseOtaStatus(len10.View());
    ASSERT_TRUE(s10);
    EXPECT_EQ(s10->address, (std::array<std::uint8_t, 4>{192, 168, 4, 3}));

    const ExactFrame notLinked(BuildFrame(0, 0x30, FromHex("00 00 00 00 00 0A 0D C0 A8 04 01")));
    EXPECT_FALSE(ParseOtaStatus(notLinked.View()));
    const ExactFrame len12(BuildFrame(0, 0x30, FromHex("00 00 00 01 00 0A 0D C0 A8 04 01 00")));
    EXPECT_FALSE(ParseOtaStatus(len12.View()));
}

TEST(ReplyParsers, TargetId)
{
    const ExactFrame ok(BuildFrame(0, 0x30, FromHex("05 00 00 00 00 34 12")));
    EXPECT_EQ(ParseTargetId(ok.View()), std::uint16_t{0x1234});
    const ExactFrame wrongEcho(BuildFrame(0, 0x30, FromHex("06 00 00 00 00 34 12")));
    EXPECT_FALSE(ParseTargetId(wrongEcho.View()));
    const ExactFrame wrongLen(BuildFrame(0, 0x30, FromHex("05 00 00 00 00 34 12 00")));
    EXPECT_FALSE(ParseTargetId(wrongLen.View()));
}

TEST(ReplyParsers, TextsTakeTheirBytesFromTheData)
{
    const ExactFrame ssid(BuildFrame(0, 0x30, FromHex("03 02 41 42 43")));
    EXPECT_EQ(ParseWifiText(ssid.View()), "ABC");
    for (const char* data : {"03 02", "03", ""}) {
        const ExactFrame empty(BuildFrame(0, 0x30, FromHex(data)));
        EXPECT_EQ(ParseWifiText(empty.View()), "") << data;
    }
    const ExactFrame version(BuildFrame(0, 0x30, FromHex("90 56 31 2E 30 30")));
    EXPECT_EQ(ParseVersionText(version.View()), "V1.00");
    const ExactFrame noVersion(BuildFrame(0, 0x30, {}));
    EXPECT_EQ(ParseVersionText(noVersion.View()), "");
    const ExactFrame longest(BuildFrame(0, 0x30, Bytes(255, 'x')));
    EXPECT_EQ(ParseWifiText(longest.View()).size(), 253u);
    EXPECT_EQ(ParseVersionText(longest.View()).size(), 254u);
}

TEST(ReplyParsers, NetParamsBlockOnlyWithLen27)
{
    Bytes data{0x03, 0x04};
    for (int i = 0; i < 25; ++i)
        data.push_back(static_cast<std::uint8_t>(i + 1));
    const ExactFrame ok(BuildFrame(0, 0x30, data));
    const auto block = ParseNetParamsBlock(ok.View());
    ASSERT_TRUE(block);
    EXPECT_EQ((*block)[0], 1);
    EXPECT_EQ((*block)[24], 25);
    data.pop_back();
    const ExactFrame len26(BuildFrame(0, 0x30, data));
    EXPECT_FALSE(ParseNetParamsBlock(len26.View()));
}

TEST(ReplyParsers, AccessPointInfo)
{
    const ExactFrame ok(BuildFrame(0, 0x30, FromHex("03 71 C0 A8 04 01 0A 0D 4E 58 37")));
    const auto ap = ParseApInfo(ok.View());
    ASSERT_TRUE(ap);
    EXPECT_EQ(ap->Address() & 0xFF, 192u);
    EXPECT_EQ(ap->Address(), 0x0104A8C0u);
    EXPECT_EQ(ap->port, 3338);
    EXPECT_EQ(ap->name, "NX7");

    const ExactFrame noName(BuildFrame(0, 0x30, FromHex("03 71 C0 A8 04 01 0A 0D")));
    ASSERT_TRUE(ParseApInfo(noName.View()));
    EXPECT_EQ(ParseApInfo(noName.View())->name, "");
    const ExactFrame wrongEcho(BuildFrame(0, 0x30, FromHex("03 72 C0 A8 04 01 0A 0D")));
    EXPECT_FALSE(ParseApInfo(wrongEcho.View()));
    // Too short to hold the address and port: refused instead of reading past the frame.
    const ExactFrame tooShort(BuildFrame(0, 0x30, FromHex("03 71")));
    EXPECT_FALSE(ParseApInfo(tooShort.View()));
}

// A view cut shorter than its LEN byte claims (as a fuzzer or a damaged record would give it):
// nothing reads past the view.
TEST(ReplyParsers, ViewsShorterThanTheirLenAreReadSafely)
{
    Bytes big = BuildFrame(0, 0x30, Bytes(255, 0x71));
    for (int cut = 0; cut <= 16; ++cut) {
        for (std::uint8_t code : {0x30, 0x31, 0x45, 0x49, 0x6C, 0x62, 0x44}) {
            Bytes bytes(big.begin(), big.begin() + cut);
            if (cut > 2)
                bytes[2] = code;
            if (cut > 4)
                bytes[4] = code == 0x6C ? 8 : 3;
            const ExactFrame f(bytes.empty() ? Bytes{0} : bytes);
            const FrameView v{f.data.get(), cut};
            (void)DecodeReply(v, true);
            (void)ParseIfbMode(v);
            (void)ParseOtaStatus(v);
            (void)ParseTargetId(v);
            (void)ParseWifiText(v);
            (void)ParseNetParamsBlock(v);
            (void)ParseApInfo(v);
            (void)ParseVersionText(v);
        }
    }
    SUCCEED();
}
