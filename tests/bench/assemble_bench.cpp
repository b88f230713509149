// Throughput of the receive path: the ring and the assembler fed a mix of reply frames,
// notifications and noise, in the bursts a timer tick sees.
#include "comm/frame_codec.h"
#include "comm/reply_decoder.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

using namespace nx7::codec;

namespace
{

struct CountingSink : FrameAssembler::Sink {
    explicit CountingSink(bool decode)
        : decode(decode)
    {
    }
    void OnValidFrame(const std::uint8_t* frame, int length) override
    {
        ++frames;
        if (decode)
            benchmark::DoNotOptimize(DecodeReply(FrameView{frame, length}, false));
    }
    void OnChecksumError(const std::uint8_t*, int) override { ++errors; }
    void OnRxTrace(const std::string& line) override { benchmark::DoNotOptimize(line.size()); }
    bool decode;
    long frames = 0;
    long errors = 0;
};

// About `size` bytes: frames of every length between runs of noise that hold no STX.
std::vector<std::uint8_t> Traffic(std::size_t size)
{
    std::mt19937 rng(7);
    std::vector<std::uint8_t> out;
    const std::uint8_t codes[] = {0x30, 0x31, 0x44, 0x64, 0x69, 0x6C, 0x62};
    while (out.size() < size) {
        const std::size_t noise = rng() % 24;
        for (std::size_t i = 0; i < noise; ++i)
            out.push_back(static_cast<std::uint8_t>(0x20 + rng() % 0x5F));
        std::vector<std::uint8_t> data(rng() % 256);
        for (auto& b : data)
            b = static_cast<std::uint8_t>(rng());
        const auto frame = BuildFrame(0, codes[rng() % std::size(codes)], data);
        out.insert(out.end(), frame.begin(), frame.end());
    }
    out.resize(size);
    return out;
}

void Assemble(benchmark::State& state, bool decode, bool trace)
{
    const std::size_t burst = static_cast<std::size_t>(state.range(0));
    const std::vector<std::uint8_t> traffic = Traffic(1 << 20);
    FrameAssembler assembler;
    CountingSink sink(decode);
    std::size_t offset = 0;
    for (auto _ : state) {
        if (offset + burst > traffic.size())
            offset = 0;
        assembler.AppendReceived(traffic.data() + offset, burst);
        assembler.Assemble(sink, trace);
        offset += burst;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(burst));
    state.counters["frames"] =
        benchmark::Counter(static_cast<double>(sink.frames), benchmark::Counter::kIsRate);
}

void BM_Assemble(benchmark::State& state)
{
    Assemble(state, false, false);
}
void BM_AssembleAndDecode(benchmark::State& state)
{
    Assemble(state, true, false);
}
void BM_AssembleWithReceiveTrace(benchmark::State& state)
{
    Assemble(state, true, true);
}

} // namespace

BENCHMARK(BM_Assemble)->Arg(64)->Arg(1024)->Arg(16383);
BENCHMARK(BM_AssembleAndDecode)->Arg(1024)->Arg(16383);
BENCHMARK(BM_AssembleWithReceiveTrace)->Arg(16383);

BENCHMARK_MAIN();
