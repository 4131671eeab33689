// The value query of the children, per call, as the host asks it: through
// the device base, with a key the host keeps.
#include <benchmark/benchmark.h>

#include <string>

#include "alloc_counter.h"
#include "reference_rig.h"

namespace {

// Runs Get_Value(0, key) on child `dataId` of a warmed-up reference system.
void QueryValue(benchmark::State& state, unsigned int dataId, const std::string& key) {
    bench::ReferenceRig rig;
    if (!rig.WarmUp()) {
        state.SkipWithError("the reference cycle did not complete");
        return;
    }
    const std::shared_ptr<SMDVDevice> child = rig.Power().GetChildVDevice(dataId);
    if (!child) {
        state.SkipWithError("no such child");
        return;
    }
    const SMDVDevice& device = *child;
    uint64_t allocations = 0;
    for (auto _ : state) {
        const uint64_t before = bench::AllocationCount();
        float value = device.Get_Value(0, key);
        benchmark::DoNotOptimize(value);
        allocations += bench::AllocationCount() - before;
    }
    state.counters["allocs_per_call"] =
        benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
}

void BM_GetValueAcChannel(benchmark::State& state) { QueryValue(state, 11, "channel_1_b"); }
void BM_GetValueAcScreen(benchmark::State& state) { QueryValue(state, 11, "ia"); }
void BM_GetValueDc(benchmark::State& state) { QueryValue(state, 21, "v"); }
BENCHMARK(BM_GetValueAcChannel);
BENCHMARK(BM_GetValueAcScreen);
BENCHMARK(BM_GetValueDc);

}  // namespace
