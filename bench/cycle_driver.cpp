// trm27k-cycles N [--line]: runs N steady-state poll cycles of the reference
// system and exits, for counting instructions under callgrind. Two runs with
// different N cancel the start-up: (total(N2) - total(N1)) / (N2 - N1) is
// the cost of one cycle. --line feeds the replies as line bytes.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "reference_rig.h"

int main(int argc, char** argv) {
    const long cycles = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 0;
    const bool line = argc > 2 && std::strcmp(argv[2], "--line") == 0;
    if (cycles <= 0 || (argc > 2 && !line)) {
        std::fprintf(stderr, "usage: trm27k-cycles N [--line]\n");
        return 2;
    }
    if (std::freopen("/dev/null", "w", stdout) == nullptr) return 2;  // the plug-in's lines
    std::shared_ptr<bench::QuietController> controller =
        line ? std::make_shared<bench::FramingController>()
             : std::make_shared<bench::QuietController>();
    bench::ReferenceRig rig(controller);
    if (!(line ? rig.WarmUpFromLine() : rig.WarmUp())) {
        std::fprintf(stderr, "trm27k-cycles: the reference cycle did not complete\n");
        return 1;
    }
    for (long k = 0; k < cycles; ++k) {
        if (!(line ? rig.RunCycleFromLine() : rig.RunCycle())) {
            std::fprintf(stderr, "trm27k-cycles: cycle %ld did not complete\n", k + 1);
            return 1;
        }
    }
    return 0;
}
