#pragma once
// The INFO bytes of the simulated power system's replies, one builder per
// command of the poll, in exactly the layouts the driver parses.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "scenario.h"

namespace sim {

class InfoWriter;

// One command the power system answers. Columns: CID1, CID2, name, the
// builder of the reply's INFO, and the INFO offset of the reply's unit count
// byte (AC or DC screens, rectifier modules), -1 when it has none.
struct CommandRow {
    uint8_t cid1;
    uint8_t cid2;
    const char* name;
    void (*build)(const Scenario&, InfoWriter&);
    int countOffset;
};
extern const std::array<CommandRow, 11> kCommands;

// The row of (cid1, cid2), or nullptr for a command the power system does not know.
const CommandRow* FindCommand(uint8_t cid1, uint8_t cid2);

// Appends INFO bytes. A group longer than a count byte can announce is cut
// at 255 items, so the count always matches the items sent; Clamped() tells.
class InfoWriter {
public:
    explicit InfoWriter(std::vector<uint8_t>& out) : out_(out) {}
    void Byte(uint8_t b) { out_.push_back(b); }
    void Value(const Wire4& v) { out_.insert(out_.end(), v.bytes.begin(), v.bytes.end()); }
    void Count(size_t n);
    void Bytes(const std::vector<uint8_t>& group);  // count byte, then the bytes
    void Values(const std::vector<Wire4>& group);   // count byte, then the values
    std::vector<uint8_t>& Out() { return out_; }
    bool Clamped() const { return clamped_; }

private:
    std::vector<uint8_t>& out_;
    bool clamped_ = false;
};

// Fills `out` (cleared first, its capacity reused) with the INFO of the reply
// to (cid1, cid2). False, with `out` empty, for an unknown command. `clamped`,
// when given, tells whether some group had to be cut at 255 items.
bool BuildInfo(const Scenario& s, uint8_t cid1, uint8_t cid2, std::vector<uint8_t>& out,
               bool* clamped = nullptr);
// The same into a new vector; `known` tells whether the command is known.
std::vector<uint8_t> BuildInfo(const Scenario& s, uint8_t cid1, uint8_t cid2, bool& known);

}  // namespace sim
