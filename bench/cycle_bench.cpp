// CPU time of one complete poll cycle of the reference system: every reply
// through process_payload and every child's RoundDone, pauses stubbed.
#include <benchmark/benchmark.h>

#include <ctime>

#include "reference_rig.h"

namespace {

using bench::ReferenceRig;

constexpr double kPerMillion = 1e6;

// CPU seconds this thread has used.
double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The cycle's CPU time as a share of its own line time, in parts per million
// (the goal, 0.1 %, is 1000 ppm).
void ReportLineShare(benchmark::State& state, double cpuSeconds) {
    bench::CycleTraffic traffic;
    if (!bench::MeasureSteadyCycleTraffic(traffic) || state.iterations() == 0) return;
    const double perCycle = cpuSeconds / static_cast<double>(state.iterations());
    state.counters["line_ms"] = traffic.LineSeconds() * 1e3;
    state.counters["cpu_ppm_of_line"] = perCycle / traffic.LineSeconds() * kPerMillion;
}

// Replies already decoded, handed to HandleReply: the plug-in's own work.
void BM_PollCycle(benchmark::State& state) {
    ReferenceRig rig;
    if (!rig.WarmUp()) {
        state.SkipWithError("the reference cycle did not complete");
        return;
    }
    const double cpuStart = ThreadCpuSeconds();
    for (auto _ : state) {
        if (!rig.RunCycle()) {
            state.SkipWithError("a cycle did not complete");
            break;
        }
    }
    ReportLineShare(state, ThreadCpuSeconds() - cpuStart);
}
BENCHMARK(BM_PollCycle)->Unit(benchmark::kMicrosecond);

// Replies as line bytes through process(), commands framed: the plug-in and
// the host's frame encoder, receiver and decoder together.
void BM_PollCycleFromLine(benchmark::State& state) {
    ReferenceRig rig(std::make_shared<bench::FramingController>());
    if (!rig.WarmUpFromLine()) {
        state.SkipWithError("the reference cycle did not complete");
        return;
    }
    const double cpuStart = ThreadCpuSeconds();
    for (auto _ : state) {
        if (!rig.RunCycleFromLine()) {
            state.SkipWithError("a cycle did not complete");
            break;
        }
    }
    ReportLineShare(state, ThreadCpuSeconds() - cpuStart);
}
BENCHMARK(BM_PollCycleFromLine)->Unit(benchmark::kMicrosecond);

}  // namespace
