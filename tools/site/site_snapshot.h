#pragma once
// What the monitor knows about its site at one moment: the newest image of
// every child, every alarm rule seen with its state, link and poll state,
// counters and the cycle-duration histogram. A snapshot never changes once
// published; readers keep it as long as they like.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "change_rule.h"
#include "rule_value.h"

namespace site {

struct ChildState {
    unsigned int dataId = 0;
    int recordType = 0;
    std::string device;           // "trm27k-ac", "trm27k-dc", "trm27k-rc"
    std::string system;           // the power system it belongs to (DeviceState::name)
    std::vector<uint8_t> image;   // the newest published data image
    std::string time;             // local time of the cycle that published it
    int64_t epochMs = 0;          // the same moment, milliseconds since 1970 (UTC)
    uint64_t seq = 0;             // sequence number of that cycle
    bool changed = false;         // that cycle counted as changed
    ChangeThresholds limits{};    // the child's diff_v and diff_i, as the change rule takes them
};

// A child's values count as current as long as the child itself would answer
// them: its value queries fail with "data too old" 61 s after the last
// update, and every output leaves them out (or greys them) from then on.
constexpr int64_t kStaleAfterMs = 61 * 1000;
// Tests of whole runs shorten it (the monitor takes TRM27K_TEST_STALE_AFTER_MS)
// rather than wait a minute; set before any output reads the model.
void SetStaleAfterMsForTest(int64_t ms);
// Whole seconds since the child's values were published (negative: the clock
// went back, which counts as current, as it does in the child).
int64_t AgeSeconds(const ChildState& child, int64_t nowEpochMs);
bool IsStale(const ChildState& child, int64_t nowEpochMs);

struct RuleState {
    rule_value rule;              // as the newest batch gave it
    std::string raisedTime;       // when it became active; empty while inactive
    std::string device;           // device type of the batch: "trm27k", "trm27k-ac", ...
    bool seenActive = false;      // active at some time in this run, or restored active
};

// One alarm raise or clear, as the outputs report it.
struct AlarmEvent {
    rule_value rule;
    bool raised = false;
    std::string raisedTime;
    std::string clearedTime;      // empty for a raise
    uint64_t seq = 0;             // the cycle whose image the rule was checked on
};

// One power system of the site (a main device of the plug-in): where it is
// and whether it answers. A silent or stalled power system is unavailable on
// its own; the others go on.
struct DeviceState {
    std::string name;             // configured, or "addrN": the `device` of every output
    unsigned int dataId = 0;      // the main device's data id
    int address = 0;
    std::string port;
    bool linkUp = false;
    bool stalled = false;
    bool told = false;            // some link or stall state was told
    uint64_t cycles = 0;          // its completed poll cycles
    std::string model;            // as Snapshot::model, for this power system alone
    int64_t availabilityEpochMs = 0;  // when its link or stall last changed; 0: never

    bool Available() const { return linkUp && !stalled; }
};

// What changed when the model tells a listener of availability: the power
// system, and which of its states flipped. A first state counts as a change
// only when it is a fault (a start that finds the line up tells nothing).
struct AvailabilityChange {
    std::string device;           // DeviceState::name; empty for a site without named systems
    bool linkChanged = false;
    bool stallChanged = false;
    bool availabilityChanged = false;
    bool linkUp = false;
    bool stalled = false;
    bool Available() const { return linkUp && !stalled; }
};

struct Counters {
    uint64_t cycles = 0;
    uint64_t exchanges = 0;
    uint64_t timeouts = 0;
    uint64_t frameErrors = 0;
    uint64_t reconnects = 0;
    uint64_t storageFailures = 0;
    uint64_t alarmCommandFailures = 0;
};

// Cycle durations in seconds; the upper bounds cover a fast simulated cycle
// up to a paced cycle with several timeouts.
struct DurationHistogram {
    // 6, 7 and 8 s resolve the paced cycle at 9600 baud.
    static constexpr std::array<double, 13> kBounds = {0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 6, 7, 8, 10, 30, 60};
    std::array<uint64_t, kBounds.size()> counts{};  // per bucket, not cumulative
    uint64_t count = 0;
    double sum = 0;

    void Observe(double seconds);
};

// The kinds of MQTT message, in the outbox's order of giving up: states,
// active-alarm lists, alarm raises and clears; named so in every output.
constexpr const char* kOutboxKinds[] = {"state", "alarms", "alarm"};

// A list that snapshots share until it changes: every rule of the site is a
// few hundred entries, copied only when an alarm changes, not per snapshot.
template <class T>
class SharedList {
public:
    SharedList() : items_(std::make_shared<const std::vector<T>>()) {}
    explicit SharedList(std::vector<T> items)
        : items_(std::make_shared<const std::vector<T>>(std::move(items))) {}
    auto begin() const { return items_->begin(); }
    auto end() const { return items_->end(); }
    size_t size() const { return items_->size(); }
    bool empty() const { return items_->empty(); }
    const T& operator[](size_t k) const { return (*items_)[k]; }
    const std::vector<T>& Items() const { return *items_; }

private:
    std::shared_ptr<const std::vector<T>> items_;
};

struct Snapshot {
    std::string site;
    // The device model as far as the monitor can tell: empty until a cycle
    // completed; then the accepted model, unless the plug-in's model check
    // reported a mismatch, whose detail names what the device sent.
    std::string model;
    uint64_t seq = 0;             // sequence number of the newest completed cycle
    std::string cycleTime;        // local time it completed; empty before the first
    int64_t cycleEpochMs = 0;     // the same moment, milliseconds since 1970 (UTC); 0 before
    double lastCycleSeconds = 0;  // how long that cycle took
    // Site-wide: some power system's line is up; every one is stalled; some
    // one is available. With one power system, exactly its own state.
    bool linkUp = false;
    bool stalled = false;
    bool available = false;
    enum class Uplink { None, Up, Down } uplink = Uplink::None;  // the MQTT broker, when there is one
    int64_t availabilityEpochMs = 0;  // when the site-wide link or stall last changed; 0: never
    Counters counters;
    uint64_t outboxMessages = 0;  // MQTT messages waiting for the broker
    // MQTT messages the full outbox gave up, by kind (kOutboxKinds).
    std::array<uint64_t, 3> outboxDropped{};
    DurationHistogram cycleSeconds;
    std::vector<DeviceState> devices;  // the power systems, in configuration order
    std::vector<ChildState> children;  // in the order they first published
    SharedList<RuleState> rules;       // every rule seen, by data id, key, detail

    const ChildState* Child(unsigned int dataId, int recordType) const;
    const DeviceState* Device(const std::string& name) const;
    // Up: some power system's line is up and its poll is not stalled.
    bool Available() const { return available; }
    // Several power systems: outputs then name each value's `device`.
    bool Several() const { return devices.size() > 1; }
};

}  // namespace site
