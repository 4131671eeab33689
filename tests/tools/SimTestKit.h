#pragma once
// Helpers shared by the simulator tests: command frames as the driver's host
// sends them, reply decoding, a scenario whose every value differs, and the
// real child devices bound to a recording controller.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Bytes.h"
#include "RecordingController.h"
#include "TRM27KAC.h"
#include "TRM27KDC.h"
#include "TRM27KRC.h"
#include "pmbus_frame.h"
#include "replies.h"
#include "simulator.h"

namespace sim_testing {

using testing_support::Bytes;

// A command frame; the AC commands carry the COMMAND GROUP byte as the driver sends them.
inline std::string Command(uint8_t cid1, uint8_t cid2, uint8_t adr = 1, uint8_t ver = 0x21) {
    const bool group = cid1 == 0x40 && cid2 >= 0x41 && cid2 <= 0x44;
    const uint8_t commandGroup = 0xFF;
    std::string frame;
    host::EncodeFrame(ver, adr, cid1, cid2, group ? &commandGroup : nullptr, group ? 1 : 0, frame);
    return frame;
}

inline std::vector<sim::OutgoingReply> Ask(sim::Simulator& sim, const std::string& bytes) {
    std::vector<sim::OutgoingReply> replies;
    sim.Feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), replies);
    return replies;
}

// Splits `bytes` into frames as a receiver on the line does and decodes them;
// returns how many decoded, `last` holding the last good one and `errors`
// the errors of the others.
inline int DecodeAll(const std::string& bytes, host::DecodedFrame& last,
                     std::vector<host::FrameError>* errors = nullptr) {
    host::FrameReceiver receiver;
    host::DecodedFrame frame;
    int good = 0;
    receiver.Feed(
        reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
        [&](const char* body, size_t n) {
            const host::FrameError e = host::DecodeFrame(body, n, frame);
            if (e == host::FrameError::None) {
                last = frame;
                ++good;
            } else if (errors != nullptr) {
                errors->push_back(e);
            }
        },
        [] {});
    return good;
}

// The INFO of the one reply to (cid1, cid2), checked to decode with RTN 0.
inline Bytes InfoOf(sim::Simulator& sim, uint8_t cid1, uint8_t cid2) {
    const auto replies = Ask(sim, Command(cid1, cid2));
    EXPECT_EQ(1u, replies.size());
    host::DecodedFrame frame;
    if (replies.size() != 1 || DecodeAll(replies[0].bytes, frame) != 1) return {};
    EXPECT_EQ(0, frame.cid2);
    return frame.info;
}

// A record field's four bytes as a wire value (packed fields are copied, never referenced).
inline sim::Wire4 W(const void* field) {
    sim::Wire4 w;
    std::memcpy(w.bytes.data(), field, 4);
    return w;
}

// Whether a forked child process runs here. Some user-mode emulators cannot
// run one (the child dies at once); the tests that need helper processes are
// skipped there rather than failed.
inline bool ChildProcessesWork() {
    static const bool works = [] {
        const pid_t pid = fork();
        if (pid == 0) _exit(0);
        int status = 0;
        return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
               WEXITSTATUS(status) == 0;
    }();
    return works;
}

// A scenario whose every value and byte differs from its neighbours, with
// `channels[k]` channels on AC screen k; no value has four equal bytes.
sim::Scenario DistinctScenario(const std::vector<size_t>& channels, size_t dcScreens,
                               size_t modules);

// The real child devices of one power system, bound as the main device binds them.
struct Children {
    std::shared_ptr<testing_support::RecordingController> controller =
        std::make_shared<testing_support::RecordingController>();
    std::shared_ptr<testing_support::ParentDevice> parent =
        std::make_shared<testing_support::ParentDevice>();
    std::vector<std::shared_ptr<TRM27KAC>> ac;
    std::vector<std::shared_ptr<TRM27KDC>> dc;
    std::shared_ptr<TRM27KRC> rc = std::make_shared<TRM27KRC>();

    Children(size_t acCount, size_t dcCount);
    // Hands each child its block from INFO offset `start`, as the main device
    // does; returns the offset reached, or -1 when a child refused its block.
    template <class Child, class Parse>
    static int Dispatch(const std::vector<std::shared_ptr<Child>>& children, Parse parse,
                        const Bytes& info, int start) {
        int pos = start;
        for (const auto& child : children) {
            const int used =
                ((*child).*parse)(info.data() + pos, static_cast<int>(info.size()) - pos);
            if (used < 0) return -1;
            pos += used;
        }
        return pos;
    }
};

}  // namespace sim_testing
