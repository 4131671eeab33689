// Heap allocations of one steady-state poll cycle of the reference system,
// counted with the binary's own operator new (alloc_counter.cpp), in total
// and by part: the replies (dispatch and parsers), the image building, the
// rule passing, and the work item each child hands over at the end.
#include <benchmark/benchmark.h>

#include <functional>

#include "alloc_counter.h"
#include "poll_steps.h"
#include "reference_rig.h"

namespace {

using bench::AllocationCount;
using bench::AllocationScope;
using bench::ReferenceRig;

// The DC parameter query closes every cycle of a system with AC and DC screens.
constexpr int kClosingStep = 9;
// More replies than any cycle takes: a cycle that needs them has stalled.
constexpr int kMaxReplies = 16;

// True when the text lives outside the string object, in an allocation of its own.
bool OnHeap(const std::string& text) {
    const char* self = reinterpret_cast<const char*>(&text);
    return text.data() < self || text.data() >= self + sizeof text;
}

// Notes the allocation count at the two hooks that fall between the parts of
// a child's RoundDone: the record is published once its image is built, and
// the work item reaches RunWork once the rules are passed and it is made.
class MarkingController : public bench::QuietController {
public:
    void PublishRecord(SMDVDevice& device, int type, const uint8_t* data, unsigned int length,
                       bool flag) override {
        atPublish = AllocationCount();
        image = data;
        imageLength = length;
        QuietController::PublishRecord(device, type, data, length, flag);
    }
    void RunWork(std::function<void()> work) override {
        atRunWork = AllocationCount();
        work();
    }
    // Counts the texts the host copied into the rules on the heap.
    bool BatchCheck(SMDVDevice&, const std::vector<rule_value>& rules) override {
        rulesPassed += rules.size();
        for (const rule_value& rule : rules) {
            for (const std::string* text : {&rule.key, &rule.code, &rule.name, &rule.detail}) {
                if (OnHeap(*text)) ++heapTexts;
            }
        }
        return false;
    }

    uint64_t atPublish = 0;
    uint64_t atRunWork = 0;
    uint64_t heapTexts = 0;
    uint64_t rulesPassed = 0;
    const uint8_t* image = nullptr;
    unsigned int imageLength = 0;
};

// A device of no kind, for measuring the hand-over itself: every child hands
// its cycle over through the same SMDVDevice::HandOverCycle.
class SpareDevice : public SMDVDevice {
public:
    bool LoadFromCache(const unsigned char*, int) override { return true; }
};

// Allocations by part, summed over cycles; ruleCopies and rulesPassed are
// counts of texts and rules, not further allocations.
struct CycleSplit {
    uint64_t replies = 0;     // dispatch, parsers, the next command
    uint64_t image = 0;       // time stamp and image building
    uint64_t rules = 0;       // the rules passed (CheckThresholdBool and their texts)
    uint64_t ruleCopies = 0;  // of those, the texts the host copied into rule_value
    uint64_t rulesPassed = 0;
    uint64_t workItem = 0;    // image copy, closure, the work run, the rule list's capacity
    uint64_t Total() const { return replies + image + rules + workItem; }
};

class SplitRig {
public:
    SplitRig() : rig_(controller_), spare_(std::make_shared<SpareDevice>()) {
        spare_->Init(controller_, 0, Json::Value());
    }
    bool WarmUp() { return rig_.WarmUp(); }

    // One cycle as the main device runs it, except that the bench closes the
    // cycle itself so it can count each child's RoundDone part by part.
    bool Run(CycleSplit& out) {
        AllocationScope replies;
        if (!rig_.StartCycle()) return false;
        for (int n = 0; rig_.Power().Step() != kClosingStep; ++n) {
            if (n == kMaxReplies || !rig_.HandleCurrent()) return false;
        }
        // The closing reply's parser alone: through HandleReply it would also close the cycle.
        const bench::ReferenceReply& last = rig_.ReplyFor(kClosingStep);
        if (rig_.Power().RcDevice()->parse42_46(last.Info(), last.InfoLength()) < 0) return false;
        out.replies += replies.Count();
        for (const auto& child : rig_.ChildrenInClosingOrder()) CloseChild(*child, out);
        rig_.Power().SetStep(0);  // as the end of a cycle leaves the main device
        rig_.Power().Reset();
        return true;
    }

private:
    void CloseChild(SMDVDevice& child, CycleSplit& out) {
        const uint64_t copiesBefore = controller_->heapTexts;
        const uint64_t rulesBefore = controller_->rulesPassed;
        const uint64_t start = AllocationCount();
        child.RoundDone();
        const uint64_t end = AllocationCount();
        const uint64_t published = controller_->atPublish;
        const uint64_t workRuns = controller_->atRunWork;
        out.ruleCopies += controller_->heapTexts - copiesBefore;
        out.rulesPassed += controller_->rulesPassed - rulesBefore;
        const uint64_t madeBeforeRun = HandOverBeforeRun();
        out.image += published - start;
        out.rules += workRuns - published - madeBeforeRun;
        out.workItem += madeBeforeRun + (end - workRuns);
    }
    // What a hand-over allocates before its work runs (the image copy and the
    // closure), measured on the spare device with the image just published.
    uint64_t HandOverBeforeRun() {
        const uint8_t* image = controller_->image;
        const uint64_t start = AllocationCount();
        spare_->HandOverCycle(std::vector<uint8_t>(image, image + controller_->imageLength));
        return controller_->atRunWork - start;
    }

    std::shared_ptr<MarkingController> controller_ = std::make_shared<MarkingController>();
    ReferenceRig rig_;
    std::shared_ptr<SpareDevice> spare_;
};

void BM_CycleAllocations(benchmark::State& state) {
    ReferenceRig rig;
    if (!rig.WarmUp()) {
        state.SkipWithError("the reference cycle did not complete");
        return;
    }
    uint64_t total = 0;
    for (auto _ : state) {
        AllocationScope scope;
        if (!rig.RunCycle()) {
            state.SkipWithError("a cycle did not complete");
            break;
        }
        total += scope.Count();
    }
    state.counters["allocs_per_cycle"] =
        benchmark::Counter(static_cast<double>(total), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_CycleAllocations)->Unit(benchmark::kMicrosecond);

void BM_CycleAllocationsByPart(benchmark::State& state) {
    SplitRig rig;
    if (!rig.WarmUp()) {
        state.SkipWithError("the reference cycle did not complete");
        return;
    }
    CycleSplit split;
    for (auto _ : state) {
        if (!rig.Run(split)) {
            state.SkipWithError("a cycle did not complete");
            break;
        }
    }
    const auto perCycle = [](uint64_t n) {
        return benchmark::Counter(static_cast<double>(n), benchmark::Counter::kAvgIterations);
    };
    state.counters["replies"] = perCycle(split.replies);
    state.counters["image"] = perCycle(split.image);
    state.counters["rules"] = perCycle(split.rules);
    state.counters["rule_copies"] = perCycle(split.ruleCopies);
    state.counters["rules_passed"] = perCycle(split.rulesPassed);
    state.counters["work_item"] = perCycle(split.workItem);
    state.counters["total"] = perCycle(split.Total());
}
BENCHMARK(BM_CycleAllocationsByPart)->Unit(benchmark::kMicrosecond);

// The line form of the cycle: the host's frame receiver and decoder, and the
// framing of every command into a reused buffer, on top of the cycle.
void BM_CycleFromLineAllocations(benchmark::State& state) {
    ReferenceRig rig(std::make_shared<bench::FramingController>());
    if (!rig.WarmUpFromLine()) {
        state.SkipWithError("the reference cycle did not complete");
        return;
    }
    uint64_t total = 0;
    for (auto _ : state) {
        AllocationScope scope;
        if (!rig.RunCycleFromLine()) {
            state.SkipWithError("a cycle did not complete");
            break;
        }
        total += scope.Count();
    }
    state.counters["allocs_per_cycle"] =
        benchmark::Counter(static_cast<double>(total), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_CycleFromLineAllocations)->Unit(benchmark::kMicrosecond);

}  // namespace
