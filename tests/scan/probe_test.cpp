// The model probe against a scripted device on a pseudo-terminal: what it
// takes for an answer, what it ignores, and that nothing keeps it past its
// deadline.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "model_probe.h"
#include "pmbus_frame.h"
#include "serial_port.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string ModelReply(uint8_t adr, const std::string& model, uint8_t rtn = 0) {
    std::string text = model;
    text.resize(20, '\0');
    std::string frame;
    host::EncodeFrame(0x21, adr, 0x40, rtn, reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                      frame);
    return frame;
}

// The device end of the line: waits for one command, then answers with
// `reply`; or, with `noiseEveryMs`, sends a byte that never makes a frame
// until the test ends.
class ScriptedDevice {
public:
    explicit ScriptedDevice(std::string reply, int noiseEveryMs = 0) {
        std::string error;
        opened_ = tools::OpenPty(pty_, error);
        if (opened_) thread_ = std::thread([this, reply, noiseEveryMs] { Serve(reply, noiseEveryMs); });
    }
    ~ScriptedDevice() {
        done_ = true;
        if (thread_.joinable()) thread_.join();
        tools::ClosePty(pty_);
    }
    bool Opened() const { return opened_; }
    const std::string& Path() const { return pty_.slavePath; }
    const std::string& Received() const { return received_; }

private:
    void Serve(const std::string& reply, int noiseEveryMs) {
        while (!done_ && received_.find('\r') == std::string::npos) {
            pollfd p{pty_.master, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            char c[64];
            const ssize_t n = ::read(pty_.master, c, sizeof c);
            if (n > 0) received_.append(c, static_cast<size_t>(n));
        }
        const auto* bytes = reinterpret_cast<const uint8_t*>(reply.data());
        tools::WriteAll(pty_.master, bytes, reply.size(), 9600);
        while (!done_ && noiseEveryMs > 0) {
            const uint8_t junk = 'A';
            tools::WriteAll(pty_.master, &junk, 1, 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(noiseEveryMs));
        }
    }
    tools::PtyPair pty_;
    bool opened_ = false;
    std::atomic<bool> done_{false};
    std::string received_;
    std::thread thread_;
};

scan::ProbeResult Probe(const ScriptedDevice& device, uint8_t address, const scan::ProbeTiming& timing) {
    std::string error;
    const int fd = scan::OpenForProbe(device.Path(), timing.baud, error);
    EXPECT_GE(fd, 0) << error;
    const scan::ProbeResult r = scan::ProbeModel(fd, address, timing);
    ::close(fd);
    return r;
}

// Before the right answer the line carries an echo of the command, a frame
// from another address, a broken frame and stray bytes: only the answer
// from the probed address counts, and its text is made printable.
TEST(ModelProbeTest, TakesOnlyTheProbedAddressesAnswer) {
    std::string command;
    host::EncodeFrame(0x21, 3, 0x40, 0x51, nullptr, 0, command);
    const std::string line = command + ModelReply(7, "OTHER") + "~2103400\r" + "xx" +
                             ModelReply(3, std::string("TRM27K\x01", 7));
    ScriptedDevice device(line);
    ASSERT_TRUE(device.Opened());
    const scan::ProbeResult r = Probe(device, 3, scan::ProbeTiming{});
    EXPECT_EQ(device.Received(), command) << "the model query, at address 3, version 0x21";
    ASSERT_EQ(r.outcome, scan::ProbeOutcome::Model) << r.error;
    EXPECT_EQ(r.model, "TRM27K\\x01");
    EXPECT_EQ(r.frameErrors, 1);

    ScriptedDevice refusing(ModelReply(3, "", 0x04));
    const scan::ProbeResult refused = Probe(refusing, 3, scan::ProbeTiming{});
    EXPECT_EQ(refused.outcome, scan::ProbeOutcome::Refused);
    EXPECT_EQ(refused.rtn, 0x04);
}

// Silence and endless noise both end at the deadline, not a byte later for
// every byte that came.
TEST(ModelProbeTest, SilenceAndNoiseEndAtTheDeadline) {
    scan::ProbeTiming timing;
    timing.firstByteMs = 300;
    timing.gapMs = 50;
    const int deadline = scan::ProbeDeadlineMs(timing);
    EXPECT_EQ(deadline, 300 + 61 + 50);
    for (const int noise : {0, 10}) {
        ScriptedDevice device("", noise);
        ASSERT_TRUE(device.Opened());
        const auto start = Clock::now();
        const scan::ProbeResult r = Probe(device, 1, timing);
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        EXPECT_EQ(r.outcome, scan::ProbeOutcome::NoAnswer) << "noise every " << noise << " ms";
        EXPECT_GE(r.waitedMs, deadline - 1);
        EXPECT_LT(took, deadline + 250);
    }
}

// A port another program holds is not written to.
TEST(ModelProbeTest, LockedPortIsLeftAlone) {
    ScriptedDevice device(ModelReply(1, "TRM27K"));
    std::string error;
    const int holder = scan::OpenForProbe(device.Path(), 9600, error);
    ASSERT_GE(holder, 0) << error;
    EXPECT_EQ(scan::OpenForProbe(device.Path(), 9600, error), -1);
    EXPECT_NE(error.find("in use"), std::string::npos) << error;
    ::close(holder);
    EXPECT_EQ(device.Received(), "");
}

}  // namespace
