#include "alarm_tracker.h"

namespace monitor {

std::vector<AlarmChange> AlarmTracker::Apply(const std::vector<rule_value>& rules) {
    std::vector<AlarmChange> changes;
    for (const rule_value& rule : rules) {
        Key key{rule.data_id, rule.key, rule.detail};
        auto it = state_.find(key);
        const bool wasActive = it != state_.end() && it->second.active != 0;
        if (wasActive != (rule.active != 0)) changes.push_back({rule, rule.active != 0});
        if (it == state_.end()) {
            state_.emplace(std::move(key), rule);
        } else {
            it->second = rule;
        }
    }
    return changes;
}

void AlarmTracker::Restore(const rule_value& rule) {
    rule_value active = rule;
    active.active = 1;
    state_[Key{rule.data_id, rule.key, rule.detail}] = std::move(active);
}

std::vector<rule_value> AlarmTracker::Active() const {
    std::vector<rule_value> active;
    for (const auto& [key, rule] : state_) {
        if (rule.active != 0) active.push_back(rule);
    }
    return active;
}

}  // namespace monitor
