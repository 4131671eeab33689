#pragma once
// The one model of the site. The poll thread and the threshold worker feed
// it with everything that happens; the outputs (event file, history, MQTT,
// HTTP, summary, service status) are its listeners and read its snapshots.
// The model is the only alarm tracker, the only change rule, the only
// counter set and the only place that decides the device model.
//
// Feeding never waits on a reader: every change of state publishes a new
// immutable snapshot that readers pick up with one atomic load, and
// listeners are told on the feeding thread and must only queue what they
// need. Listeners may be added at any time; one added late misses what came
// before it.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <json/json.h>

#include "change_rule.h"
#include "site_snapshot.h"

namespace site {

using SnapshotPtr = std::shared_ptr<const Snapshot>;

class SiteListener {
public:
    virtual ~SiteListener() = default;
    // Something happened, as the event file writes it: its kind ("command",
    // "record", "rules", "alarm", "timeout", "link", "storage", "cycle", ...)
    // and its fields. Every counter of the model moved before this call.
    virtual void OnEvent(const char* /*kind*/, const Json::Value& /*fields*/) {}
    // A poll cycle completed: its records and rule batches came before.
    virtual void OnCycle(const SnapshotPtr& /*snapshot*/) {}
    // Alarm rules changed state, in batch order.
    virtual void OnAlarms(const std::vector<AlarmEvent>& /*events*/, const SnapshotPtr& /*snapshot*/) {}
    // A power system's line went up or down, or its poll stalled or resumed:
    // `change` says which flipped, so no listener decides it again.
    virtual void OnAvailability(const AvailabilityChange& /*change*/, const SnapshotPtr& /*snapshot*/) {}
};

class SiteModel {
public:
    explicit SiteModel(std::string site);

    // Set up before the first feed.
    void SetThresholds(unsigned int dataId, int recordType, const ChangeThresholds& limits);
    // The thresholds of every AC and DC child of a device configuration
    // ("acSetting", "dcSetting"), over the children's own defaults.
    void SetThresholdsOf(const Json::Value& deviceConfig);
    // True: a "rules" event for every batch; false: only for batches in
    // which some rule changed state.
    void ReportEveryRuleBatch(bool every) { everyRuleBatch_ = every; }
    void AddListener(SiteListener* listener);
    // A power system of the site (name, main device data id, address, port);
    // without any, the site is one unnamed power system.
    void AddDevice(const DeviceState& device);
    // Cycle numbers continue from here (a restart keeps them growing).
    void StartSequenceAt(uint64_t seq);
    // Rules that were active when the last run stopped, so that their clear
    // after a restart is reported; no events.
    void RestoreRules(const std::vector<RuleState>& active);

    // Something happened: counted (see the counter table) and told to the
    // listeners as one event.
    void Report(const char* kind, Json::Value fields);
    // Counted as Report counts it, told to no listener: a repeat of a
    // failure already told (a disk that stays full).
    void CountOnly(const char* kind, const Json::Value& fields);
    // A child published its image for the cycle in progress; `time` is local time.
    // `system` names the power system it belongs to.
    void OnRecord(unsigned int dataId, const std::string& device, int recordType,
                  const uint8_t* image, size_t length, const std::string& time,
                  const std::string& system = "");
    // One batch of rules of a device; returns the raises and clears it caused.
    std::vector<AlarmEvent> OnRules(const std::vector<rule_value>& rules, const std::string& time,
                                    const std::string& device = "");
    // The cycle completed: a "cycle" event (with the process's resident
    // memory when it is known) and every listener's OnCycle.
    // `system` names the power system whose cycle it was.
    void OnCycleEnd(double seconds, const std::string& time, long rssKb = -1,
                    const std::string& system = "");
    // A power system's line or stall changed; `event`, when not null, is the
    // "link" or "stalled" event that tells it (it gains "system" when the
    // site has several).
    void SetSystemLink(const std::string& system, bool up, Json::Value event = Json::Value());
    void SetSystemStalled(const std::string& system, bool stalled, Json::Value event = Json::Value());
    // The same for the power systems of one line (told as one event).
    void SetSystemsLink(const std::vector<std::string>& systems, bool up, Json::Value event = Json::Value());
    // The same for every power system of the site at once.
    void SetLink(bool up, Json::Value event = Json::Value());
    void SetStalled(bool stalled, Json::Value event = Json::Value());
    // The MQTT broker was reached or lost; `event` is the "mqtt" event that
    // tells it.
    void SetUplink(bool up, Json::Value event);
    // Messages waiting in the MQTT outbox, and those it gave up by kind (its
    // owner reports them).
    void SetOutboxMessages(uint64_t count);
    void SetOutboxDropped(const std::array<uint64_t, 3>& dropped);

    // The newest snapshot; never null.
    SnapshotPtr Current() const;

private:
    struct Limit {
        unsigned int dataId;
        int recordType;
        ChangeThresholds limits;
    };
    // The image of each child's last change, what the next is judged against.
    struct Reference {
        unsigned int dataId;
        int recordType;
        std::vector<uint8_t> image;
    };
    std::vector<uint8_t>& ReferenceOf(unsigned int dataId, int recordType);
    ChildState& ChildFor(unsigned int dataId, int recordType, const std::string& device);
    ChangeThresholds LimitsOf(unsigned int dataId, int recordType) const;
    uint64_t SeqOf(unsigned int dataId) const;
    RuleState& RuleFor(const rule_value& rule, const std::string& device);
    void Count(const char* kind, const Json::Value& fields);
    void Tell(const char* kind, const Json::Value& fields);
    void ReportRules(const std::string& device, const std::vector<rule_value>& rules, bool changed);
    void ReportAlarms(const std::vector<AlarmEvent>& events, const std::string& device);
    void ClearUnconfirmedModelCheck(const std::string& time);
    void Availability(const std::vector<std::string>* systems, bool DeviceState::*member, bool value, const char* kind,
                      Json::Value event);
    bool Flip(DeviceState& device, bool DeviceState::*member, bool value, AvailabilityChange& change);
    void UpdateSiteAvailability();
    void Publish();

    mutable std::mutex mutex_;  // the working state; held only by feeders
    Snapshot working_;          // its rules are published from rules_
    std::vector<RuleState> rules_;
    bool rulesChanged_ = false;
    std::vector<Limit> limits_;
    std::vector<Reference> references_;
    using ListenerList = std::shared_ptr<const std::vector<SiteListener*>>;
    ListenerList Listeners() const;
    ListenerList listeners_ = std::make_shared<const std::vector<SiteListener*>>();
    bool everyRuleBatch_ = true;
    bool modelCheckReported_ = false;  // this run's model check reported a mismatch
    SnapshotPtr current_;
};

// The device model a snapshot's rules and cycles tell (see Snapshot::model);
// with a `dataId` other than 0, only the rules of that main device count.
std::string DeviceModelOf(const std::vector<RuleState>& rules, uint64_t cycles, unsigned int dataId = 0);

}  // namespace site
