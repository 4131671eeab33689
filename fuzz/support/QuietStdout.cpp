// Linked into every fuzz target. The parsers print diagnostic lines to
// standard output on almost every input; written out, they would cost more
// than the parsing. Before the first input the stream loses its buffer, so it
// formats nothing, and printf's stdout goes to /dev/null, fully buffered. The
// parsers' code paths stay the same; libFuzzer reports on standard error.
#include <cstdio>
#include <iostream>

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    std::cout.rdbuf(nullptr);
    std::FILE* sink = std::freopen("/dev/null", "w", stdout);
    (void)sink;  // without /dev/null the lines simply stay on the terminal
    return 0;
}
