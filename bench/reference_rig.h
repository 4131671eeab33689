#pragma once
// The reference system every benchmark measures: the TRM27K main device set up
// as the monitor's built-in configuration (2 AC screens, 2 DC screens, the
// rectifier group), answered with the replies of the simulator's default
// scenario (3 channels per AC screen, 4 rectifier modules), behind a
// controller whose hooks do as little as possible.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "SMDController.h"
#include "TRM27K.h"

namespace bench {

// Hooks that do the least possible: a command is counted, never framed; the
// pause is skipped; records are counted, history and rules dropped, and work
// items run at once (the base class defaults).
class QuietController : public SMDController {
public:
    bool SendCommand(PMBusProtocol& device, uint8_t cid1, uint8_t cid2, const uint8_t* info,
                     int infoLength) override;
    void PublishRecord(SMDVDevice& device, int type, const uint8_t* data, unsigned int length,
                       bool flag) override;
    void Pause(unsigned int /*microseconds*/) override {}

    uint64_t Commands() const { return commands_; }
    uint64_t Records() const { return records_; }

private:
    uint64_t commands_ = 0;
    uint64_t records_ = 0;
};

// As QuietController, but every command goes through the host's own
// SendCommand, which frames it and writes it to a transport that only counts
// the bytes, as a host does before the line.
class FramingController : public QuietController {
public:
    FramingController();
    bool SendCommand(PMBusProtocol& device, uint8_t cid1, uint8_t cid2, const uint8_t* info,
                     int infoLength) override;
    uint64_t BytesFramed() const;

private:
    class CountingTransport;
    std::shared_ptr<CountingTransport> transport_;
};

// One reply of the poll in both forms the main device takes.
struct ReferenceReply {
    uint8_t cid1 = 0;
    uint8_t cid2 = 0;                  // the command it answers
    std::vector<uint8_t> decoded;      // VER ADR CID1 RTN LENID(le16) INFO, for HandleReply
    std::string frame;                 // the line bytes, '~' to CR, for process()
    const uint8_t* Info() const { return decoded.data() + PMBusProtocol::kReplyHeader; }
    int InfoLength() const { return static_cast<int>(decoded.size() - PMBusProtocol::kReplyHeader); }
};

// The bytes one cycle puts on the line, and the time the line needs for them:
// 10 bits a byte at 9600 baud, and the 20 ms pause before each reply is examined.
struct CycleTraffic {
    uint64_t commandBytes = 0;
    uint64_t replyBytes = 0;
    uint64_t replies = 0;
    double LineSeconds() const;
};

class ReferenceRig {
public:
    explicit ReferenceRig(std::shared_ptr<QuietController> controller =
                              std::make_shared<QuietController>());

    // One poll cycle, from RefreshStatus through every reply to the last
    // RoundDone; false when it did not end with every child published.
    bool RunCycle();
    // The same with every reply arriving as line bytes through process().
    bool RunCycleFromLine();
    uint64_t ReplyBytesFed() const { return replyBytesFed_; }
    // Cycles until the steady state: the model query done, the main device
    // marked ready as the monitor does, every buffer at its size.
    bool WarmUp();
    // WarmUp, then one cycle from the line, which sizes the receive buffers.
    bool WarmUpFromLine() { return WarmUp() && RunCycleFromLine(); }

    // Passes the 2-second gate and sends the first command of a cycle.
    bool StartCycle();
    // Hands the reply to the current step's command to the main device.
    bool HandleCurrent();
    const ReferenceReply& ReplyFor(int step) const;

    TRM27K& Power() { return *power_; }
    QuietController& Controller() { return *controller_; }
    // Every child, in the order the end of a cycle closes them.
    std::vector<std::shared_ptr<SMDVDevice>> ChildrenInClosingOrder() const;

private:
    bool CycleEnded(uint64_t recordsBefore) const;

    std::shared_ptr<QuietController> controller_;
    std::shared_ptr<TRM27K> power_;
    std::vector<ReferenceReply> replies_;  // indexed by poll step
    uint64_t replyBytesFed_ = 0;
};

// The traffic of one steady-state cycle of the reference system, counted on a
// rig of its own whose controller frames every command.
bool MeasureSteadyCycleTraffic(CycleTraffic& out);

}  // namespace bench
