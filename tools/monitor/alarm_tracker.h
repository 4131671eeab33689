#pragma once
// The threshold service's memory: the state of every rule, keyed by
// (data id, key, detail), so rules that share a key (one per channel or
// fuse) are told apart. A batch turns state changes into alarm events.
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "rule_value.h"

namespace monitor {

struct AlarmChange {
    rule_value rule;  // the rule as the batch gave it
    bool raised;  // false: cleared
};

class AlarmTracker {
public:
    // Applies one batch; returns the rules whose state changed, in batch order.
    // A rule seen for the first time changes state only when it is active.
    std::vector<AlarmChange> Apply(const std::vector<rule_value>& rules);
    // Takes a rule as active without a change: an alarm still active from
    // before a restart, so it is not raised again.
    void Restore(const rule_value& rule);
    // Every active rule, in key order.
    std::vector<rule_value> Active() const;

private:
    using Key = std::tuple<unsigned int, std::string, std::string>;
    std::map<Key, rule_value> state_;
};

}  // namespace monitor
