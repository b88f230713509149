// Arbitrary bytes through the receive ring, the assembler, the decoder and every reply reader,
// the way the serial and socket events deliver them: in pieces, across the ring's end.
#include "comm/frame_codec.h"
#include "comm/reply_decoder.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

using namespace nx7::codec;

namespace
{

void ReadEverything(const FrameView& view)
{
    (void)DecodeReply(view, true);
    (void)ParseIfbMode(view);
    (void)ParseOtaStatus(view);
    (void)ParseTargetId(view);
    (void)ParseWifiText(view);
    (void)ParseNetParamsBlock(view);
    (void)ParseApInfo(view);
    (void)ParseVersionText(view);
}

// Each frame is looked at in a block of exactly its size (so ASan sees any read past it) and in
// the fixed last-reply record, as the commands read it.
struct Checker : FrameAssembler::Sink {
    void OnValidFrame(const std::uint8_t* frame, int length) override
    {
        if (length != frame[3] + 7 || FrameChecksum(frame) != frame[length - 2] || frame[length - 1] != kCr)
            __builtin_trap();
        std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[static_cast<std::size_t>(length)]);
        std::memcpy(exact.get(), frame, static_cast<std::size_t>(length));
        ReadEverything(FrameView{exact.get(), length});
        if (CopiesToLastReply(frame[2])) {
            std::memcpy(lastReply, frame, static_cast<std::size_t>(length));
            lastLength = length;
        }
        ReadEverything(FrameView{lastReply, lastLength});
    }
    void OnChecksumError(const std::uint8_t* frame, int length) override
    {
        if (length < kMinFrame || length > kMaxFrame)
            __builtin_trap();
        (void)HexBytes(frame, static_cast<std::size_t>(length - 1));
    }
    void OnRxTrace(const std::string& line) override { (void)line; }

    std::uint8_t lastReply[kMaxFrame] = {};
    int lastLength = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3)
        return 0;
    // Two bytes choose where the ring starts, one the piece size and the trace switch.
    const int start = ((data[0] << 8) | data[1]) % kRingSize;
    const std::size_t piece = 1 + (data[2] & 0x7F) * 3;
    const bool trace = (data[2] & 0x80) != 0;
    data += 3;
    size -= 3;

    auto assembler = std::make_unique<FrameAssembler>();
    assembler->RxHead = assembler->RxTail = start;
    Checker checker;
    for (std::size_t i = 0; i < size; i += piece) {
        const std::size_t n = piece < size - i ? piece : size - i;
        assembler->AppendReceived(data + i, n);
        assembler->Assemble(checker, trace);
        if (assembler->RxHead < 0 || assembler->RxHead >= kRingSize || assembler->RxTail < 0 ||
            assembler->RxTail >= kRingSize || assembler->FrameIndex > kMaxFrame)
            __builtin_trap();
    }
    for (int idle = 0; idle < 3; ++idle)
        assembler->Assemble(checker, trace);

    // The raw input as a frame record whose LEN says anything.
    std::unique_ptr<std::uint8_t[]> raw(new std::uint8_t[size ? size : 1]);
    if (size)
        std::memcpy(raw.get(), data, size);
    ReadEverything(FrameView{raw.get(), static_cast<int>(size < kMaxFrame ? size : kMaxFrame)});
    return 0;
}
