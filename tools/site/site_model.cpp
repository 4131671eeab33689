#include "site_model.h"

#include <algorithm>
#include <chrono>
#include <tuple>

namespace site {

void DurationHistogram::Observe(double seconds) {
    const auto* bound = std::lower_bound(kBounds.begin(), kBounds.end(), seconds);
    if (bound != kBounds.end()) ++counts[static_cast<size_t>(bound - kBounds.begin())];
    ++count;
    sum += seconds;
}

const ChildState* Snapshot::Child(unsigned int dataId, int recordType) const {
    for (const ChildState& child : children) {
        if (child.dataId == dataId && child.recordType == recordType) return &child;
    }
    return nullptr;
}

namespace {
auto RuleKey(const rule_value& r) { return std::tie(r.data_id, r.key, r.detail); }

int64_t NowEpochMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}
}  // namespace

SiteModel::SiteModel(std::string site) {
    working_.site = std::move(site);
    current_ = std::make_shared<const Snapshot>(working_);
}

void SiteModel::SetThresholds(unsigned int dataId, int recordType, const ChangeThresholds& limits) {
    std::lock_guard<std::mutex> lock(mutex_);
    limits_.push_back({dataId, recordType, limits});
}

void SiteModel::AddListener(SiteListener* listener) {
    std::lock_guard<std::mutex> lock(mutex_);
    listeners_.push_back(listener);
}

void SiteModel::StartSequenceAt(uint64_t seq) {
    std::lock_guard<std::mutex> lock(mutex_);
    working_.seq = seq;
    Publish();
}

void SiteModel::RestoreRules(const std::vector<RuleState>& active) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const RuleState& r : active) {
        auto at = std::lower_bound(working_.rules.begin(), working_.rules.end(), r.rule,
                                   [](const RuleState& s, const rule_value& v) { return RuleKey(s.rule) < RuleKey(v); });
        if (at == working_.rules.end() || RuleKey(at->rule) != RuleKey(r.rule)) working_.rules.insert(at, r);
    }
    Publish();
}

ChangeThresholds SiteModel::LimitsOf(unsigned int dataId, int recordType) const {
    for (const Limit& l : limits_) {
        if (l.dataId == dataId && l.recordType == recordType) return l.limits;
    }
    return ThresholdsOf(recordType, Json::Value());
}

ChildState& SiteModel::ChildFor(unsigned int dataId, int recordType, const std::string& device) {
    for (ChildState& child : working_.children) {
        if (child.dataId == dataId && child.recordType == recordType) return child;
    }
    ChildState& added = working_.children.emplace_back();
    added.dataId = dataId;
    added.recordType = recordType;
    added.device = device;
    return added;
}

void SiteModel::OnRecord(unsigned int dataId, const std::string& device, int recordType,
                         const uint8_t* image, size_t length, const std::string& time) {
    const Layout* layout = LayoutOf(recordType);
    std::lock_guard<std::mutex> lock(mutex_);
    ChildState& child = ChildFor(dataId, recordType, device);
    child.changed = layout == nullptr ||
                    CountsAsChanged(*layout, child.image, image, length, LimitsOf(dataId, recordType));
    child.image.assign(image, image + length);
    child.time = time;
    child.epochMs = NowEpochMs();
    child.seq = working_.seq + 1;  // the cycle in progress
}

uint64_t SiteModel::SeqOf(unsigned int dataId) const {
    uint64_t seq = 0;
    for (const ChildState& child : working_.children) {
        if (child.dataId == dataId) seq = std::max(seq, child.seq);
    }
    return seq != 0 ? seq : working_.seq;
}

std::vector<AlarmEvent> SiteModel::OnRules(const std::vector<rule_value>& rules,
                                           const std::string& time) {
    std::vector<AlarmEvent> events;
    std::vector<SiteListener*> listeners;
    SnapshotPtr published;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto& known = working_.rules;
        for (const rule_value& rule : rules) {
            auto at = std::lower_bound(known.begin(), known.end(), rule,
                                       [](const RuleState& s, const rule_value& r) {
                                           return RuleKey(s.rule) < RuleKey(r);
                                       });
            if (at == known.end() || RuleKey(at->rule) != RuleKey(rule)) {
                at = known.insert(at, RuleState{rule, ""});
                at->rule.active = 0;  // a rule seen first changes state only when active
            }
            const bool active = rule.active != 0;
            if ((at->rule.active != 0) != active) {
                AlarmEvent e{rule, active, active ? time : at->raisedTime, active ? "" : time,
                             SeqOf(rule.data_id)};
                events.push_back(std::move(e));
                at->raisedTime = active ? time : "";
            }
            at->rule = rule;
        }
        if (events.empty()) return events;
        Publish();
        listeners = listeners_;
        published = current_;
    }
    for (SiteListener* l : listeners) l->OnAlarms(events, published);
    return events;
}

void SiteModel::OnCycleEnd(double seconds, const std::string& time) {
    std::vector<SiteListener*> listeners;
    SnapshotPtr published;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++working_.seq;
        ++working_.counters.cycles;
        working_.cycleTime = time;
        working_.cycleEpochMs = NowEpochMs();
        working_.lastCycleSeconds = seconds;
        working_.cycleSeconds.Observe(seconds);
        Publish();
        listeners = listeners_;
        published = current_;
    }
    for (SiteListener* l : listeners) l->OnCycle(published);
}

void SiteModel::SetLink(bool up) {
    std::vector<SiteListener*> listeners;
    SnapshotPtr published;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (working_.linkUp == up) return;
        working_.linkUp = up;
        working_.availabilityEpochMs = NowEpochMs();
        Publish();
        listeners = listeners_;
        published = current_;
    }
    for (SiteListener* l : listeners) l->OnAvailability(published);
}

void SiteModel::SetStalled(bool stalled) {
    std::vector<SiteListener*> listeners;
    SnapshotPtr published;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (working_.stalled == stalled) return;
        working_.stalled = stalled;
        working_.availabilityEpochMs = NowEpochMs();
        Publish();
        listeners = listeners_;
        published = current_;
    }
    for (SiteListener* l : listeners) l->OnAvailability(published);
}

// Counters reach readers with the next published snapshot, so counting costs
// no copy per exchange.
void SiteModel::Add(Count counter) {
    std::lock_guard<std::mutex> lock(mutex_);
    Counters& c = working_.counters;
    switch (counter) {
        case Count::Exchange: ++c.exchanges; break;
        case Count::Timeout: ++c.timeouts; break;
        case Count::FrameError: ++c.frameErrors; break;
        case Count::Reconnect: ++c.reconnects; break;
        case Count::StorageFailure: ++c.storageFailures; break;
    }
}

void SiteModel::SetOutboxMessages(uint64_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (working_.outboxMessages == count) return;
    working_.outboxMessages = count;
    Publish();
}

void SiteModel::Publish() {
    std::atomic_store(&current_, SnapshotPtr(std::make_shared<Snapshot>(working_)));
}

SnapshotPtr SiteModel::Current() const {
    return std::atomic_load(&current_);
}

}  // namespace site
