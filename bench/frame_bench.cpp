// The host's frame encoder and decoder, per frame, into reused buffers: the
// AC analog reply of the reference system (the longest reply of a cycle) and
// the command that asks for it.
#include <benchmark/benchmark.h>

#include <string>

#include "alloc_counter.h"
#include "pmbus_frame.h"
#include "poll_steps.h"
#include "reference_rig.h"

namespace {

constexpr int kAcAnalogStep = 0;
constexpr uint8_t kCommandGroup = 0xFF;

struct FrameCase {
    uint8_t ver, adr, cid1, cid2;
    std::vector<uint8_t> info;
};

FrameCase AcAnalogReply() {
    const bench::ReferenceRig rig;
    const bench::ReferenceReply& reply = rig.ReplyFor(kAcAnalogStep);
    return {reply.decoded[0], reply.decoded[1], reply.decoded[2], reply.decoded[3],
            std::vector<uint8_t>(reply.Info(), reply.Info() + reply.InfoLength())};
}

// As the main device frames it: its VER and address, the COMMAND GROUP byte.
FrameCase AcAnalogCommand() {
    bench::ReferenceRig rig;
    const power::PollStep* row = power::FindStep(kAcAnalogStep);
    return {rig.Power().Version(), rig.Power().Address(), row->cid1, row->cid2, {kCommandGroup}};
}

std::string Encoded(const FrameCase& c) {
    std::string frame;
    host::EncodeFrame(c.ver, c.adr, c.cid1, c.cid2, c.info.data(), c.info.size(), frame);
    return frame;
}

void ReportPerFrame(benchmark::State& state, uint64_t allocations, size_t frameBytes) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * frameBytes));
    state.counters["frame_bytes"] = static_cast<double>(frameBytes);
    state.counters["allocs_per_frame"] =
        benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
}

void Encode(benchmark::State& state, const FrameCase& c) {
    std::string frame = Encoded(c);  // the buffer a host reuses, already at its size
    uint64_t allocations = 0;
    for (auto _ : state) {
        const uint64_t before = bench::AllocationCount();
        host::EncodeFrame(c.ver, c.adr, c.cid1, c.cid2, c.info.data(), c.info.size(), frame);
        benchmark::DoNotOptimize(frame.data());
        allocations += bench::AllocationCount() - before;
    }
    ReportPerFrame(state, allocations, frame.size());
}

// Decodes the body, the characters between '~' and CR.
void Decode(benchmark::State& state, const FrameCase& c) {
    const std::string frame = Encoded(c);
    const std::string body = frame.substr(1, frame.size() - 2);
    host::DecodedFrame decoded;
    if (host::DecodeFrame(body.data(), body.size(), decoded) != host::FrameError::None) {
        state.SkipWithError("the frame does not decode");
        return;
    }
    uint64_t allocations = 0;
    for (auto _ : state) {
        const uint64_t before = bench::AllocationCount();
        benchmark::DoNotOptimize(host::DecodeFrame(body.data(), body.size(), decoded));
        allocations += bench::AllocationCount() - before;
    }
    ReportPerFrame(state, allocations, frame.size());
}

void BM_EncodeAcAnalogReply(benchmark::State& state) { Encode(state, AcAnalogReply()); }
void BM_DecodeAcAnalogReply(benchmark::State& state) { Decode(state, AcAnalogReply()); }
void BM_EncodeCommand(benchmark::State& state) { Encode(state, AcAnalogCommand()); }
void BM_DecodeCommand(benchmark::State& state) { Decode(state, AcAnalogCommand()); }
BENCHMARK(BM_EncodeAcAnalogReply);
BENCHMARK(BM_DecodeAcAnalogReply);
BENCHMARK(BM_EncodeCommand);
BENCHMARK(BM_DecodeCommand);

}  // namespace
