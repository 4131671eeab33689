#pragma once
// The one model of the site. The poll thread and the threshold worker feed
// it; the outputs (MQTT, HTTP, ...) read it. Feeding never waits on a reader:
// every change publishes a new immutable snapshot that readers pick up with
// one atomic load, and listeners are told on the feeding thread and must only
// queue what they need.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "change_rule.h"
#include "site_snapshot.h"

namespace site {

using SnapshotPtr = std::shared_ptr<const Snapshot>;

class SiteListener {
public:
    virtual ~SiteListener() = default;
    // A poll cycle completed (poll thread).
    virtual void OnCycle(const SnapshotPtr& snapshot) = 0;
    // Alarm rules changed state (threshold worker), in batch order.
    virtual void OnAlarms(const std::vector<AlarmEvent>& events, const SnapshotPtr& snapshot) = 0;
    // The line went up or down, or the poll stalled or resumed.
    virtual void OnAvailability(const SnapshotPtr& snapshot) = 0;
};

class SiteModel {
public:
    explicit SiteModel(std::string site);

    // Set up before the first feed.
    void SetThresholds(unsigned int dataId, int recordType, const ChangeThresholds& limits);
    void AddListener(SiteListener* listener);
    // Cycle numbers continue from here (a restart keeps them growing).
    void StartSequenceAt(uint64_t seq);
    // Rules that were active when the last run stopped, so that their clear
    // after a restart is reported; no events.
    void RestoreRules(const std::vector<RuleState>& active);

    // A child published its image for the cycle in progress; `time` is local time.
    void OnRecord(unsigned int dataId, const std::string& device, int recordType,
                  const uint8_t* image, size_t length, const std::string& time);
    // One batch of rules; returns the raises and clears it caused.
    std::vector<AlarmEvent> OnRules(const std::vector<rule_value>& rules, const std::string& time);
    void OnCycleEnd(double seconds, const std::string& time);
    void SetLink(bool up);
    void SetStalled(bool stalled);
    enum class Count { Exchange, Timeout, FrameError, Reconnect, StorageFailure };
    void Add(Count counter);
    // Messages waiting in the MQTT outbox (its owner reports them).
    void SetOutboxMessages(uint64_t count);

    // The newest snapshot; never null.
    SnapshotPtr Current() const;

private:
    struct Limit {
        unsigned int dataId;
        int recordType;
        ChangeThresholds limits;
    };
    ChildState& ChildFor(unsigned int dataId, int recordType, const std::string& device);
    ChangeThresholds LimitsOf(unsigned int dataId, int recordType) const;
    uint64_t SeqOf(unsigned int dataId) const;
    void Publish();

    mutable std::mutex mutex_;  // the working state; held only by feeders
    Snapshot working_;
    std::vector<Limit> limits_;
    std::vector<SiteListener*> listeners_;
    SnapshotPtr current_;
};

}  // namespace site
