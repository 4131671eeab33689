// The benchmark program. The plug-in writes a few lines per cycle to standard
// output (the AC analog values, the DC block heads); here they go to
// /dev/null, as a host sends them to its log, and the report goes to the
// standard output the program was started with.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <iostream>

int main(int argc, char** argv) {
    // A file description of its own, so it keeps the original output when fd 1 moves.
    std::ofstream report("/dev/stdout", std::ios::app);
    if (!report || std::freopen("/dev/null", "w", stdout) == nullptr) {
        std::cerr << "trm27k-bench: cannot set up the output\n";
        return 2;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
    benchmark::ConsoleReporter console(benchmark::ConsoleReporter::OO_None);
    console.SetOutputStream(&report);
    console.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&console);
    benchmark::Shutdown();
    return 0;
}
