#pragma once
// The monitor's side of the serial line for the host: writes commands,
// drops input nobody asked for, and remembers when a command really left and
// whether the line failed, so the poll loop can time replies and notice a
// lost line.
//
// After a reply timeout the line is suspect (a late reply may still come):
// commands are then held until the poll loop has seen the line quiet, and
// only then written.
#include <chrono>
#include <cstdint>
#include <string>

#include "SMDController.h"

namespace monitor {

class LineTransport : public host::SerialTransport {
public:
    using Clock = std::chrono::steady_clock;

    // The descriptor to write to; -1 while the line is down.
    void Attach(int fd);
    int Fd() const { return fd_; }

    // Writes the command now, or holds it while the line must first be quiet.
    bool Write(const uint8_t* bytes, size_t count) override;
    void DiscardInput() override;

    // While set, commands wait in HeldCommand() for WriteHeld().
    void SetHold(bool hold) { hold_ = hold; }
    bool Holding() const { return hold_; }
    bool HasHeld() const { return !held_.empty(); }
    // Writes the held command (input received so far is dropped first).
    bool WriteHeld();
    // Forgets a held command (its exchange ended without it).
    void DropHeld() { held_.clear(); }

    // When the last command left, and how many have.
    Clock::time_point LastWrite() const { return lastWrite_; }
    uint64_t Writes() const { return writes_; }
    // A write failed: the line is lost. The reason stays until Attach.
    bool Failed() const { return failed_; }
    const std::string& FailReason() const { return reason_; }

private:
    bool WriteNow(const uint8_t* bytes, size_t count);

    int fd_ = -1;
    bool hold_ = false;
    std::string held_;
    Clock::time_point lastWrite_{};
    uint64_t writes_ = 0;
    bool failed_ = false;
    std::string reason_;
};

}  // namespace monitor
