// The frame codec: checksum and request vectors, and the receive ring and assembler fed byte
// streams the way the serial and socket events deliver them.
#include "comm/frame_codec.h"
#include "comm/protocol.h"
#include "support/test_data.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

using nx7::codec::FrameAssembler;
using Bytes = std::vector<std::uint8_t>;

namespace
{

using nx7::test::FromHex;

std::string ToHex(const Bytes& bytes)
{
    return nx7::codec::HexBytes(bytes.data(), bytes.size());
}

struct Recorder : FrameAssembler::Sink {
    void OnValidFrame(const std::uint8_t* frame, int length) override
    {
        valid.emplace_back(frame, frame + length);
    }
    void OnChecksumError(const std::uint8_t* frame, int length) override
    {
        bad.emplace_back(frame, frame + length);
    }
    void OnRxTrace(const std::string& line) override { traces.push_back(line); }

    std::vector<Bytes> valid;
    std::vector<Bytes> bad;
    std::vector<std::string> traces;
};

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes Reply(std::uint8_t code, const Bytes& data)
{
    return nx7::codec::BuildFrame(0, code, data);
}

void Feed(FrameAssembler& assembler, const Bytes& bytes)
{
    assembler.AppendReceived(bytes.data(), bytes.size());
}

} // namespace

TEST(FrameCodec, RequestsAndRepliesMatchTheWireVectors)
{
    struct Case {
        const char* name;
        std::uint8_t code;
        const char* data;
        const char* frame;
    } cases[] = {
        {"rom version", 0x45, "90", "02 00 45 01 90 03 DB 0D"},
        {"mode / ota status", 0x45, "00", "02 00 45 01 00 03 4B 0D"},
        {"restart", 0x45, "0A", "02 00 45 01 0A 03 55 0D"},
        {"mode set 0", 0x45, "01 00 00", "02 00 45 03 01 00 00 03 4E 0D"},
        {"ota mode 2 + flag", 0x45, "0B 02 01", "02 00 45 03 0B 02 01 03 5B 0D"},
        {"target id", 0x45, "05", "02 00 45 01 05 03 50 0D"},
        {"wifi ssid", 0x45, "03 02", "02 00 45 02 03 02 03 51 0D"},
        {"net params", 0x45, "03 04", "02 00 45 02 03 04 03 53 0D"},
        {"ap info", 0x45, "03 71", "02 00 45 02 03 71 03 C0 0D"},
        {"model name", 0x45, "93", "02 00 45 01 93 03 DE 0D"},
        {"ack with version", 0x30, "90 56 31 2E 30 30", "02 00 30 06 90 56 31 2E 30 30 03 E0 0D"},
    };
    for (const Case& c : cases) {
        const Bytes frame = nx7::codec::BuildFrame(0, c.code, FromHex(c.data));
        EXPECT_EQ(ToHex(frame), std::string(c.frame) + " ") << c.name;
        EXPECT_EQ(nx7::codec::FrameChecksum(frame.data()), frame[frame.size() - 2]) << c.name;
    }
    EXPECT_TRUE(nx7::codec::BuildFrame(0, 0x45, Bytes(256, 0)).empty());
    EXPECT_EQ(nx7::codec::BuildFrame(0, 0x45, Bytes(255, 0)).size(), 262u);
}

TEST(FrameCodec, ReplyKindsAndLastReplyCopies)
{
    const struct {
        std::uint8_t code;
        int kind;
        bool copied;
    } cases[] = {{0x30, 2, true},   {0x31, 6, true},   {0x44, 3, false}, {0x64, 4, false},  {0x69, 5, false},
                 {0x49, 7, false},  {0x4C, 8, false},  {0x47, 9, true},  {0x62, 10, false}, {0x6C, 11, false},
                 {0x45, -1, false}, {0x00, -1, false}, {0xFF, -1, false}};
    for (const auto& c : cases) {
        EXPECT_EQ(nx7::codec::ReplyKindForCode(c.code), c.kind) << int(c.code);
        EXPECT_EQ(nx7::codec::CopiesToLastReply(c.code), c.copied) << int(c.code);
    }
}

// The same stream, delivered in pieces of every size with a run after each piece, gives the same
// frames as delivered whole.
TEST(FrameAssembler, SplitDeliveryGivesTheSameFrames)
{
    const Bytes stream =
        Concat({FromHex("11 22 33"), Reply(0x30, FromHex("90 56 31 2E 30 30")), FromHex("FF"),
                Reply(0x31, FromHex("05 02")), Reply(0x30, {}), Reply(0x44, Bytes(255, 0x02))});
    Recorder whole;
    FrameAssembler a;
    Feed(a, stream);
    a.Assemble(whole, false);
    ASSERT_EQ(whole.valid.size(), 4u);
    EXPECT_EQ(whole.valid[0], Reply(0x30, FromHex("90 56 31 2E 30 30")));
    EXPECT_EQ(whole.valid[3].size(), 262u);

    for (std::size_t piece : {1u, 2u, 5u, 7u, 64u, 261u}) {
        Recorder split;
        FrameAssembler b;
        for (std::size_t i = 0; i < stream.size(); i += piece) {
            const std::size_t n = std::min(piece, stream.size() - i);
            b.AppendReceived(stream.data() + i, n);
            b.Assemble(split, false);
        }
        EXPECT_EQ(split.valid, whole.valid) << "piece " << piece;
        EXPECT_TRUE(split.bad.empty());
    }
}

TEST(FrameAssembler, AppendWrapsTheRingEnd)
{
    FrameAssembler a;
    a.RxHead = a.RxTail = 16300;
    Bytes burst(300);
    for (std::size_t i = 0; i < burst.size(); ++i)
        burst[i] = static_cast<std::uint8_t>(i);
    Feed(a, burst);
    EXPECT_EQ(a.RxHead, 216);
    EXPECT_EQ(a.Unread(), 300);
    EXPECT_EQ(a.RxRing[16300], 0);
    EXPECT_EQ(a.RxRing[16383], 83);
    EXPECT_EQ(a.RxRing[0], 84);
    EXPECT_EQ(a.RxRing[215], static_cast<std::uint8_t>(299));

    // Exactly up to the end: the head comes back to 0.
    FrameAssembler b;
    b.RxHead = b.RxTail = 16000;
    Feed(b, Bytes(384, 0));
    EXPECT_EQ(b.RxHead, 0);

    // A burst longer than the ring stays inside it (it overwrites unread bytes).
    FrameAssembler c;
    Feed(c, Bytes(20000, 0xAA));
    EXPECT_EQ(c.RxHead, 20000 - 16384);
}

TEST(FrameAssembler, FrameAcrossTheRingEndAssembles)
{
    const Bytes frame = Reply(0x30, FromHex("90 56 31 2E 30 30"));
    for (int start : {16384 - 1, 16384 - 4, 16384 - 12}) {
        FrameAssembler a;
        a.RxHead = a.RxTail = start;
        Recorder r;
        Feed(a, frame);
        a.Assemble(r, false);
        ASSERT_EQ(r.valid.size(), 1u) << start;
        EXPECT_EQ(r.valid[0], frame);
        EXPECT_EQ(a.RxTail, a.RxHead);
    }
}

TEST(FrameAssembler, NoiseBeforeAFrameIsSkipped)
{
    Bytes noise(100);
    for (std::size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<std::uint8_t>(0x30 + i); // never 0x02
    const Bytes frame = Reply(0x30, FromHex("00 05 00"));
    FrameAssembler a;
    Recorder r;
    Feed(a, Concat({noise, frame, noise}));
    a.Assemble(r, false);
    ASSERT_EQ(r.valid.size(), 1u);
    EXPECT_EQ(r.valid[0], frame);
    EXPECT_FALSE(a.InFrame);
}

TEST(FrameAssembler, LenZeroFrameIsValid)
{
    FrameAssembler a;
    Recorder r;
    Feed(a, FromHex("02 00 30 00 03 35 0D"));
    a.Assemble(r, false);
    ASSERT_EQ(r.valid.size(), 1u);
    EXPECT_EQ(r.valid[0].size(), 7u);
}

TEST(FrameAssembler, ChecksumOrEtxErrorsAreReportedWithTheWholeFrame)
{
    Bytes badSum = Reply(0x30, FromHex("00 05"));
    badSum[badSum.size() - 2] ^= 0x01;
    Bytes badEtx = Reply(0x30, FromHex("00 05"));
    badEtx[badEtx.size() - 3] = 0x04;
    badEtx[badEtx.size() - 2] = nx7::codec::FrameChecksum(badEtx.data());
    for (const Bytes& frame : {badSum, badEtx}) {
        FrameAssembler a;
        Recorder r;
        Feed(a, Concat({frame, Reply(0x30, {})}));
        a.Assemble(r, false);
        EXPECT_TRUE(r.valid.size() == 1u && r.valid[0] == Reply(0x30, {})) << ToHex(frame);
        ASSERT_EQ(r.bad.size(), 1u);
        EXPECT_EQ(r.bad[0], frame);
    }
}

// The byte at the CR position is not 0x0D: it is taken, the next byte ends the frame unseen.
TEST(FrameAssembler, MisplacedCrDropsTheFrameAndOneMoreByte)
{
    Bytes broken = Reply(0x30, FromHex("00 05"));
    broken.back() = 0x0A;
    const Bytes good = Reply(0x30, FromHex("00 07 09")); // no 0x02 inside

    FrameAssembler a;
    Recorder r;
    Feed(a, Concat({broken, FromHex("55"), good}));
    a.Assemble(r, false);
    ASSERT_EQ(r.valid.size(), 1u);
    EXPECT_EQ(r.valid[0], good);
    EXPECT_TRUE(r.bad.empty());

    // A frame that starts right at the swallowed byte is lost.
    FrameAssembler b;
    Recorder r2;
    Feed(b, Concat({broken, good, good}));
    b.Assemble(r2, false);
    ASSERT_EQ(r2.valid.size(), 1u);
    EXPECT_TRUE(r2.bad.empty());
}

TEST(FrameAssembler, StxInsideAFrameIsData)
{
    const Bytes frame = Reply(0x30, FromHex("02 02 02"));
    FrameAssembler a;
    Recorder r;
    Feed(a, frame);
    a.Assemble(r, false);
    ASSERT_EQ(r.valid.size(), 1u);
    EXPECT_EQ(r.valid[0], frame);
}

TEST(FrameAssembler, PartialFrameSurvivesHundredIdleRunsOnly)
{
    const Bytes frame = Reply(0x30, FromHex("00 05 00 01 00"));
    const Bytes head(frame.begin(), frame.begin() + 5);
    const Bytes tail(frame.begin() + 5, frame.end());
    for (int idle : {100, 101}) {
        FrameAssembler a;
        Recorder r;
        Feed(a, head);
        a.Assemble(r, false);
        for (int i = 0; i < idle; ++i)
            a.Assemble(r, false);
        Feed(a, tail);
        a.Assemble(r, false);
        EXPECT_EQ(r.valid.size(), idle == 100 ? 1u : 0u) << idle;
    }
}

TEST(FrameAssembler, DropPartialFrameKeepsUnreadBytes)
{
    const Bytes frame = Reply(0x30, FromHex("00 05 00 01 00"));
    FrameAssembler a;
    Recorder r;
    Feed(a, Bytes(frame.begin(), frame.begin() + 6));
    a.Assemble(r, false);
    ASSERT_TRUE(a.InFrame);
    a.DropPartialFrame();
    // The rest of the old frame is noise now; a whole frame already in the ring survives.
    Feed(a, Concat({Bytes(frame.begin() + 6, frame.end()), frame}));
    a.Assemble(r, false);
    ASSERT_EQ(r.valid.size(), 1u);
    EXPECT_EQ(r.valid[0], frame);
}

TEST(FrameAssembler, ReceiveTraceListsEveryConsumedByteOncePerRun)
{
    FrameAssembler a;
    Recorder r;
    Feed(a, FromHex("AB 02 00"));
    a.Assemble(r, true);
    a.Assemble(r, true); // nothing new: no line
    Feed(a, FromHex("30 00 03 35 0D"));
    a.Assemble(r, true);
    ASSERT_EQ(r.traces.size(), 2u);
    EXPECT_EQ(r.traces[0], "RX:AB 02 00 ");
    EXPECT_EQ(r.traces[1], "RX:30 00 03 35 0D ");
    EXPECT_EQ(r.valid.size(), 1u);

    FrameAssembler b;
    Recorder quiet;
    Feed(b, FromHex("02 00 30 00 03 35 0D"));
    b.Assemble(quiet, false);
    EXPECT_TRUE(quiet.traces.empty());
}

// The password item's text and its frame's checksum never show in the trace's hex, in a request
// that writes it or in the acknowledgement that reads it; every other frame shows whole.
TEST(FrameCodec, TraceHexMasksPasswordBytesOnly)
{
    const Bytes secret = FromHex("53 65 63 72 65 74"); // "Secret"
    struct Case {
        const char* name;
        Bytes frame;
        std::string shown;
    };
    const Case cases[] = {
        {"write password", nx7::codec::BuildFrame(0, 0x45, Concat({FromHex("04 03"), secret})),
         "02 00 45 08 04 03 ** ** ** ** ** ** 03 ** 0D "},
        {"read password reply", Reply(0x30, Concat({FromHex("03 03"), secret})),
         "02 00 30 08 03 03 ** ** ** ** ** ** 03 ** 0D "},
        {"read password request", nx7::codec::BuildFrame(0, 0x45, FromHex("03 03")),
         "02 00 45 02 03 03 03 52 0D "},
        {"write network name", nx7::codec::BuildFrame(0, 0x45, Concat({FromHex("04 02"), secret})), ""},
        {"read network name reply", Reply(0x30, Concat({FromHex("03 02"), secret})), ""},
        {"NACK of a password write", Reply(0x31, Concat({FromHex("04 03"), secret})), ""},
    };
    for (const Case& c : cases) {
        const std::string shown = c.shown.empty() ? ToHex(c.frame) : c.shown;
        EXPECT_EQ(nx7::codec::TraceHex(c.frame.data(), c.frame.size()), shown) << c.name;
    }
}

// The receive trace masks the password of a reply even when the reply comes in pieces over
// several runs, and the frame itself is assembled unchanged.
TEST(FrameAssembler, ReceiveTraceMasksAPasswordReplyAcrossRuns)
{
    const Bytes frame = Reply(0x30, Concat({FromHex("03 03"), FromHex("53 65 63 72 65 74")}));
    FrameAssembler a;
    Recorder r;
    for (const auto& piece :
         {Bytes(frame.begin(), frame.begin() + 7), Bytes(frame.begin() + 7, frame.begin() + 10),
          Bytes(frame.begin() + 10, frame.end())}) {
        Feed(a, piece);
        a.Assemble(r, true);
    }
    EXPECT_EQ(r.traces,
              (std::vector<std::string>{"RX:02 00 30 08 03 03 ** ", "RX:** ** ** ", "RX:** ** 03 ** 0D "}));
    ASSERT_EQ(r.valid.size(), 1u);
    EXPECT_EQ(r.valid[0], frame);
}

// A sink that pumps events (a modal box) can start a nested run: it must return at once.
TEST(FrameAssembler, NestedRunReturnsAtOnce)
{
    struct Nesting : Recorder {
        FrameAssembler* a = nullptr;
        bool nestedResult = true;
        void OnValidFrame(const std::uint8_t* frame, int length) override
        {
            Recorder::OnValidFrame(frame, length);
            nestedResult = a->Assemble(*this, false);
        }
    } sink;
    FrameAssembler a;
    sink.a = &a;
    Feed(a, Concat({Reply(0x30, {}), Reply(0x30, FromHex("01"))}));
    EXPECT_TRUE(a.Assemble(sink, false));
    EXPECT_FALSE(sink.nestedResult);
    EXPECT_EQ(sink.valid.size(), 2u);
}

// A full ring is data: exactly 16384 unread bytes (from any start) all reach the assembler, and a
// burst beyond the ring keeps its newest 16384 bytes, so a reply at its end still assembles.
TEST(FrameAssembler, AFullRingIsNotEmpty)
{
    const Bytes reply = Reply(0x30, FromHex("90 56 31"));
    for (int start : {0, 5000, 16383}) {
        for (std::size_t total : {std::size_t{16384}, std::size_t{20000}}) {
            FrameAssembler a;
            a.RxHead = a.RxTail = start;
            Bytes burst(total - reply.size(), 0x55);
            burst.insert(burst.end(), reply.begin(), reply.end());
            Feed(a, burst);
            EXPECT_EQ(a.Unread(), 16384) << start << " " << total;
            Recorder r;
            a.Assemble(r, false);
            ASSERT_EQ(r.valid.size(), 1u) << start << " " << total;
            EXPECT_EQ(r.valid[0], reply);
            EXPECT_EQ(a.Unread(), 0);
        }
    }
    // One byte short of full stays what the head and tail say.
    FrameAssembler b;
    Feed(b, Bytes(16383, 0x55));
    EXPECT_EQ(b.Unread(), 16383);
}

// A sink that empties the ring from inside a run (a link reset while a modal box pumps events):
// the run stops there, and neither its old bytes nor a second frame from them come back.
TEST(FrameAssembler, ResetInsideARunDropsTheRest)
{
    struct Resetting : Recorder {
        FrameAssembler* assembler = nullptr;
        void OnValidFrame(const std::uint8_t* frame, int length) override
        {
            Recorder::OnValidFrame(frame, length);
            if (valid.size() == 1)
                assembler->ResetReceive();
        }
    };
    FrameAssembler a;
    const Bytes first = Reply(0x30, FromHex("00"));
    const Bytes second = Reply(0x30, FromHex("0A"));
    Feed(a, Concat({first, second, second}));
    Resetting sink;
    sink.assembler = &a;
    a.Assemble(sink, false);
    EXPECT_EQ(sink.valid.size(), 1u);
    EXPECT_EQ(a.Unread(), 0);
    a.Assemble(sink, false);
    EXPECT_EQ(sink.valid.size(), 1u);

    // New bytes after the reset are assembled as usual.
    Feed(a, second);
    a.Assemble(sink, false);
    ASSERT_EQ(sink.valid.size(), 2u);
    EXPECT_EQ(sink.valid[1], second);
}

TEST(Protocol, AnAckMatchesItsRequestByTheEcho)
{
    using nx7::codec::EchoMatches;
    using nx7::codec::RequestEcho;
    const struct {
        const char* request;
        const char* reply;
        bool matches;
    } cases[] = {
        {"90", "90 56 31", true}, {"90", "93 56 31", false},      {"90", "", false},
        {"0B 02 01", "0B", true}, {"03 71", "03 71 C0 A8", true}, {"03 71", "03 02 C0", false},
        {"03 71", "03", false},   {"04 02 41 42", "04 02", true}, {"04 03 41", "04 02", false},
        {"01 00 00", "01", true}, {"00", "00 01 00 00 00", true}, {"", "00", false},
    };
    for (const auto& c : cases) {
        const Bytes request = FromHex(c.request);
        const Bytes reply = FromHex(c.reply);
        EXPECT_EQ(EchoMatches(RequestEcho(request), reply), c.matches) << c.request << " / " << c.reply;
    }
}

// The waiting request takes the first ACK with its echo or the first NACK; everything before,
// after, or without a request waiting is turned away.
TEST(Protocol, ReplyMatcherTakesOnlyTheWaitingRequestsReply)
{
    using nx7::codec::BuildFrame;
    using nx7::codec::ReplyMatcher;
    const Bytes romRequest = BuildFrame(0, 0x45, FromHex("90"));
    const Bytes romAck = Reply(0x30, FromHex("90 56 31"));
    const Bytes modeAck = Reply(0x30, FromHex("00 05 00 00 00"));
    const Bytes nack = Reply(0x31, FromHex("44 00"));

    ReplyMatcher m;
    EXPECT_FALSE(m.Offer(romAck)); // nothing sent yet
    EXPECT_FALSE(m.Offer(nack));
    m.Sent(romRequest);
    EXPECT_TRUE(m.Pending());
    EXPECT_FALSE(m.Offer(modeAck)); // a late answer to another request
    EXPECT_FALSE(m.Offer(Reply(0x44, FromHex("90"))));
    EXPECT_FALSE(m.Answered());
    EXPECT_TRUE(m.Offer(romAck));
    EXPECT_TRUE(m.Answered());
    EXPECT_FALSE(m.AnsweredByNack());
    EXPECT_FALSE(m.Offer(romAck)); // taken once
    EXPECT_FALSE(m.Offer(nack));

    m.Sent(romRequest);
    EXPECT_FALSE(m.Answered());
    EXPECT_TRUE(m.Offer(nack));
    EXPECT_TRUE(m.AnsweredByNack());
    EXPECT_FALSE(m.Pending());

    // An ACK whose LEN claims more than the frame holds is read only as far as it goes.
    m.Sent(BuildFrame(0, 0x45, FromHex("03 71")));
    Bytes cut = Reply(0x30, FromHex("03"));
    cut[3] = 40;
    EXPECT_FALSE(m.Offer(cut));
    // A frame too short to carry a sub-code leaves nothing waiting.
    m.Sent(BuildFrame(0, 0x45, {}));
    EXPECT_FALSE(m.Pending());
    EXPECT_FALSE(m.Offer(nack));
}
