#pragma once
// Tests that start the project's programs as processes. In a cross build the
// programs are foreign binaries and the machine has no binfmt handler, so the
// (emulated) test starts them through the emulator itself: a native program
// it can exec. TRM27K_TEST_EMULATOR holds the emulator's command line, its
// arguments separated by ';', as CMake's CMAKE_CROSSCOMPILING_EMULATOR.
#include <algorithm>
#include <string>
#include <vector>

namespace testing_support {

// `args` (the program's path first), behind the emulator's command line if any.
inline std::vector<std::string> EmulatedArgs(const std::vector<std::string>& args) {
    std::vector<std::string> out;
#ifdef TRM27K_TEST_EMULATOR
    const std::string emulator = TRM27K_TEST_EMULATOR;
    for (size_t start = 0; start <= emulator.size();) {
        const size_t end = std::min(emulator.find('|', start), emulator.size());
        if (end > start) out.push_back(emulator.substr(start, end - start));
        start = end + 1;
    }
#endif
    out.insert(out.end(), args.begin(), args.end());
    return out;
}

// True when the programs run under the emulator (a cross build's tests).
inline bool IsEmulated() {
#ifdef TRM27K_TEST_EMULATOR
    return true;
#else
    return false;
#endif
}

}  // namespace testing_support
