#include "site_model.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <tuple>

#include "hex_text.h"
#include "local_time.h"
#include "rule_json.h"

namespace site {

void DurationHistogram::Observe(double seconds) {
    const auto* bound = std::lower_bound(kBounds.begin(), kBounds.end(), seconds);
    if (bound != kBounds.end()) ++counts[static_cast<size_t>(bound - kBounds.begin())];
    ++count;
    sum += seconds;
}

const DeviceState* Snapshot::Device(const std::string& name) const {
    for (const DeviceState& d : devices) {
        if (d.name == name) return &d;
    }
    return nullptr;
}

const ChildState* Snapshot::Child(unsigned int dataId, int recordType) const {
    for (const ChildState& child : children) {
        if (child.dataId == dataId && child.recordType == recordType) return &child;
    }
    return nullptr;
}

int64_t AgeSeconds(const ChildState& child, int64_t nowEpochMs) {
    const int64_t ms = nowEpochMs - child.epochMs;
    return ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
}

namespace {
std::atomic<int64_t> staleAfterMs{kStaleAfterMs};
}  // namespace

void SetStaleAfterMsForTest(int64_t ms) { staleAfterMs = ms; }

bool IsStale(const ChildState& child, int64_t nowEpochMs) {
    return AgeSeconds(child, nowEpochMs) * 1000 >= staleAfterMs.load(std::memory_order_relaxed);
}

namespace {
auto RuleKey(const rule_value& r) { return std::tie(r.data_id, r.key, r.detail); }

// Which event moves which counter: an event of `kind`, and when `field` is
// set, only one that has that field (with `value`, when that is set too).
struct CounterRow {
    const char* kind;
    const char* field;
    const char* value;
    uint64_t Counters::*counter;
};
constexpr CounterRow kCounters[] = {
    {"command", nullptr, nullptr, &Counters::exchanges},
    {"timeout", nullptr, nullptr, &Counters::timeouts},
    {"frame_error", nullptr, nullptr, &Counters::frameErrors},
    {"link", "device", nullptr, &Counters::reconnects},  // only a reopened port names its device
    {"storage", "state", "failed", &Counters::storageFailures},
    {"cycle", nullptr, nullptr, &Counters::cycles},
    // An --on-alarm command that could not run, failed or passed its limit.
    {"alarm_command", "state", "dropped", &Counters::alarmCommandFailures},
    {"alarm_command", "state", "failed", &Counters::alarmCommandFailures},
    {"alarm_command", "state", "killed", &Counters::alarmCommandFailures},
};

bool Matches(const CounterRow& row, const char* kind, const Json::Value& fields) {
    if (std::strcmp(row.kind, kind) != 0) return false;
    if (row.field == nullptr) return true;
    const Json::Value* v = fields.find(row.field, row.field + std::strlen(row.field));
    return v != nullptr && (row.value == nullptr || (v->isString() && v->asString() == row.value));
}

// An alarm event: the rule as every output shows it, its device and state.
Json::Value AlarmJson(const AlarmEvent& e, const std::string& device) {
    Json::Value v = RuleJson(e.rule);
    v["device"] = device;
    v["state"] = e.raised ? "raised" : "cleared";
    return v;
}

// A rule in a batch: the batch names the data id once.
Json::Value BatchRuleJson(const rule_value& rule) {
    Json::Value v = RuleJson(rule);
    v.removeMember("data_id");
    v["active"] = rule.active != 0;
    v["seq"] = rule.sequence;
    return v;
}

constexpr const char* kAcceptedModel = "TRM27K";
constexpr const char* kModelRule = "device_model";
}  // namespace

// The plug-in reports a model it does not accept as an alarm whose detail
// ends in the text the device sent ("...检测型号:TEXT"); it says nothing when
// the model is accepted, so a completed cycle without that report means the
// device answered the accepted model.
std::string DeviceModelOf(const std::vector<RuleState>& rules, uint64_t cycles, unsigned int dataId) {
    static const std::string kMarker = "检测型号:";
    for (const RuleState& r : rules) {
        if (r.rule.key != kModelRule || r.rule.active == 0) continue;
        if (dataId != 0 && r.rule.data_id != dataId) continue;
        const size_t at = r.rule.detail.find(kMarker);
        if (at == std::string::npos) continue;
        const std::string model = r.rule.detail.substr(at + kMarker.size());
        const size_t end = model.find_last_not_of(std::string("\0 ", 2));
        return end == std::string::npos ? "" : model.substr(0, end + 1);
    }
    return cycles > 0 ? kAcceptedModel : "";
}

// A listener may be added while an output's thread already feeds the model
// (the MQTT client tells its broker's state as soon as it runs): the list is
// replaced whole, and every call walks the list it loaded.
SiteModel::ListenerList SiteModel::Listeners() const {
    return std::atomic_load(&listeners_);
}

SiteModel::SiteModel(std::string site) {
    working_.site = std::move(site);
    current_ = std::make_shared<const Snapshot>(working_);
}

void SiteModel::SetThresholds(unsigned int dataId, int recordType, const ChangeThresholds& limits) {
    std::lock_guard<std::mutex> lock(mutex_);
    limits_.push_back({dataId, recordType, limits});
}

void SiteModel::SetThresholdsOf(const Json::Value& config) {
    const std::pair<const char*, int> lists[] = {{"acSetting", 5175}, {"dcSetting", 5176}};
    for (const auto& [name, type] : lists) {
        const Json::Value& list = config[name];
        if (!list.isArray()) continue;
        for (const Json::Value& entry : list) {
            if (entry.isObject() && entry["data_id"].isUInt()) {
                SetThresholds(entry["data_id"].asUInt(), type, ThresholdsOf(type, entry));
            }
        }
    }
}

void SiteModel::AddListener(SiteListener* listener) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto grown = std::make_shared<std::vector<SiteListener*>>(*Listeners());
    grown->push_back(listener);
    std::atomic_store(&listeners_, ListenerList(std::move(grown)));
}

void SiteModel::AddDevice(const DeviceState& device) {
    std::lock_guard<std::mutex> lock(mutex_);
    working_.devices.push_back(device);
    Publish();
}

void SiteModel::StartSequenceAt(uint64_t seq) {
    std::lock_guard<std::mutex> lock(mutex_);
    working_.seq = seq;
    Publish();
}

RuleState& SiteModel::RuleFor(const rule_value& rule, const std::string& device) {
    auto& known = rules_;
    auto at = std::lower_bound(known.begin(), known.end(), rule,
                               [](const RuleState& s, const rule_value& r) { return RuleKey(s.rule) < RuleKey(r); });
    if (at == known.end() || RuleKey(at->rule) != RuleKey(rule)) {
        at = known.insert(at, RuleState{rule, "", device});
        at->rule.active = 0;  // a rule seen first changes state only when active
        rulesChanged_ = true;
    }
    if (!device.empty()) at->device = device;
    return *at;
}

void SiteModel::RestoreRules(const std::vector<RuleState>& active) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const RuleState& r : active) {
        RuleState& state = RuleFor(r.rule, r.device);
        if (state.rule.active == 0) state = r;
        state.seenActive = true;
        rulesChanged_ = true;
    }
    Publish();
}

void SiteModel::Count(const char* kind, const Json::Value& fields) {
    for (const CounterRow& row : kCounters) {
        if (Matches(row, kind, fields)) ++(working_.counters.*row.counter);
    }
}

// Listeners only queue; they are told outside the lock, so one that reads
// the model meanwhile never waits on a feeder.
void SiteModel::Tell(const char* kind, const Json::Value& fields) {
    const ListenerList listeners = Listeners();  // held for the loop
    for (SiteListener* l : *listeners) l->OnEvent(kind, fields);
}

void SiteModel::CountOnly(const char* kind, const Json::Value& fields) {
    std::lock_guard<std::mutex> lock(mutex_);
    Count(kind, fields);
}

// Counters reach readers with the next published snapshot, so counting costs
// no copy per exchange.
void SiteModel::Report(const char* kind, Json::Value fields) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Count(kind, fields);
    }
    Tell(kind, fields);
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

// A change is judged against the image of the last change, not the previous
// cycle's, so a value that creeps by less than its threshold per cycle is
// still reported once it moved by the threshold in all.
void SiteModel::OnRecord(unsigned int dataId, const std::string& device, int recordType,
                         const uint8_t* image, size_t length, const std::string& time,
                         const std::string& system) {
    const Layout* layout = LayoutOf(recordType);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ChildState& child = ChildFor(dataId, recordType, device);
        child.system = system;
        std::vector<uint8_t>& reference = ReferenceOf(dataId, recordType);
        child.limits = LimitsOf(dataId, recordType);
        child.changed = layout == nullptr || CountsAsChanged(*layout, reference, image, length, child.limits);
        child.image.assign(image, image + length);
        if (child.changed) reference = child.image;
        child.time = time;
        child.epochMs = site::NowEpochMs();
        child.seq = working_.seq + 1;  // the cycle in progress
    }
    if (Listeners()->empty()) return;
    Json::Value v(Json::objectValue);
    v["data_id"] = dataId;
    v["device"] = device;
    v["type"] = recordType;
    v["length"] = static_cast<Json::UInt64>(length);
    v["image"] = HexText(image, length);
    Tell("record", v);
}

std::vector<uint8_t>& SiteModel::ReferenceOf(unsigned int dataId, int recordType) {
    for (Reference& r : references_) {
        if (r.dataId == dataId && r.recordType == recordType) return r.image;
    }
    return references_.emplace_back(Reference{dataId, recordType, {}}).image;
}

uint64_t SiteModel::SeqOf(unsigned int dataId) const {
    uint64_t seq = 0;
    for (const ChildState& child : working_.children) {
        if (child.dataId == dataId) seq = std::max(seq, child.seq);
    }
    return seq != 0 ? seq : working_.seq;
}

std::vector<AlarmEvent> SiteModel::OnRules(const std::vector<rule_value>& rules,
                                           const std::string& time, const std::string& device) {
    std::vector<AlarmEvent> events;
    SnapshotPtr published;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const rule_value& rule : rules) {
            if (rule.key == kModelRule) modelCheckReported_ = true;
            RuleState& state = RuleFor(rule, device);
            const bool active = rule.active != 0;
            if ((state.rule.active != 0) != active) {
                events.push_back({rule, active, active ? time : state.raisedTime, active ? "" : time,
                                  SeqOf(rule.data_id)});
                state.raisedTime = active ? time : "";
                state.rule = rule;
                state.seenActive = state.seenActive || active;
                rulesChanged_ = true;
            }
        }
        if (!events.empty()) {
            working_.model = DeviceModelOf(rules_, working_.counters.cycles);
            for (DeviceState& d : working_.devices) d.model = DeviceModelOf(rules_, d.cycles, d.dataId);
            Publish();
            published = current_;
        }
    }
    ReportRules(device, rules, !events.empty());
    if (events.empty()) return events;
    ReportAlarms(events, device);
    const ListenerList listeners = Listeners();  // held for the loop
    for (SiteListener* l : *listeners) l->OnAlarms(events, published);
    return events;
}

void SiteModel::ReportRules(const std::string& device, const std::vector<rule_value>& rules, bool changed) {
    if (Listeners()->empty() || (!everyRuleBatch_ && !changed)) return;
    Json::Value batch(Json::objectValue);
    batch["data_id"] = rules.empty() ? 0u : rules.front().data_id;
    batch["device"] = device;
    batch["changed"] = changed;
    Json::Value& list = batch["rules"] = Json::Value(Json::arrayValue);
    for (const rule_value& rule : rules) list.append(BatchRuleJson(rule));
    Tell("rules", batch);
}

void SiteModel::ReportAlarms(const std::vector<AlarmEvent>& events, const std::string& device) {
    for (const AlarmEvent& e : events) Tell("alarm", AlarmJson(e, device));
}

// The plug-in checks the model once a run, in its first cycle, and reports
// only a mismatch: a mismatch restored from an earlier run that this run's
// check did not report again is over once the first cycle completes. It
// clears before the cycle's end is told, as a cycle's alarms always do.
void SiteModel::ClearUnconfirmedModelCheck(const std::string& time) {
    std::vector<std::pair<rule_value, std::string>> over;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (working_.counters.cycles != 0 || modelCheckReported_) return;
        for (const RuleState& r : rules_) {
            if (r.rule.key != kModelRule || r.rule.active == 0) continue;
            rule_value cleared = r.rule;
            cleared.active = 0;
            over.emplace_back(cleared, r.device);
        }
    }
    for (const auto& [rule, device] : over) OnRules({rule}, time, device);
}

void SiteModel::OnCycleEnd(double seconds, const std::string& time, long rssKb, const std::string& system) {
    ClearUnconfirmedModelCheck(time);
    SnapshotPtr published;
    Json::Value cycle(Json::objectValue);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++working_.seq;
        cycle["count"] = static_cast<Json::UInt64>(working_.counters.cycles + 1);
        if (working_.Several()) cycle["system"] = system;
        for (DeviceState& d : working_.devices) {
            if (d.name != system) continue;
            ++d.cycles;
            d.model = DeviceModelOf(rules_, d.cycles, d.dataId);
        }
        if (rssKb >= 0) cycle["rss_kb"] = static_cast<Json::Int64>(rssKb);
        Count("cycle", cycle);
        working_.cycleTime = time;
        working_.cycleEpochMs = site::NowEpochMs();
        working_.lastCycleSeconds = seconds;
        working_.cycleSeconds.Observe(seconds);
        working_.model = DeviceModelOf(rules_, working_.counters.cycles);
        Publish();
        published = current_;
    }
    Tell("cycle", cycle);
    const ListenerList listeners = Listeners();  // held for the loop
    for (SiteListener* l : *listeners) l->OnCycle(published);
}

// The first state of a power system counts as a change only when it is a
// fault, as a listener that starts with the line up has nothing to tell.
bool SiteModel::Flip(DeviceState& device, bool DeviceState::*member, bool value, AvailabilityChange& change) {
    const bool wasAvailable = device.Available();
    const bool first = !device.told;
    const bool moved = device.*member != value;
    device.*member = value;
    device.told = true;
    const bool faultFirst = member == &DeviceState::linkUp ? !value : value;
    const bool changed = first ? faultFirst : moved;
    if (!changed && !moved) return false;
    change.device = device.name;
    change.linkUp = device.linkUp;
    change.stalled = device.stalled;
    (member == &DeviceState::linkUp ? change.linkChanged : change.stallChanged) = changed;
    change.availabilityChanged = first ? !device.Available() : wasAvailable != device.Available();
    if (moved) device.availabilityEpochMs = site::NowEpochMs();
    return changed || moved;
}

// The site is up while some power system is: one that is silent or stalled
// never takes the others down with it.
void SiteModel::UpdateSiteAvailability() {
    bool link = false, stalled = !working_.devices.empty(), available = false;
    for (const DeviceState& d : working_.devices) {
        link = link || d.linkUp;
        stalled = stalled && d.stalled;
        available = available || d.Available();
    }
    if (link != working_.linkUp || stalled != working_.stalled) working_.availabilityEpochMs = site::NowEpochMs();
    working_.linkUp = link;
    working_.stalled = stalled;
    working_.available = available;
}

// `systems` null: every power system of the site (a site without named ones
// is one unnamed power system).
void SiteModel::Availability(const std::vector<std::string>* systems, bool DeviceState::*member, bool value, const char* kind,
                             Json::Value event) {
    std::vector<AvailabilityChange> changes;
    SnapshotPtr published;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (working_.devices.empty()) working_.devices.emplace_back();
        if (!event.isNull() && systems != nullptr && systems->size() == 1 && working_.Several()) {
            event["system"] = systems->front();
        }
        if (!event.isNull()) Count(kind, event);
        bool moved = false;
        for (DeviceState& d : working_.devices) {
            if (systems != nullptr && std::find(systems->begin(), systems->end(), d.name) == systems->end()) continue;
            AvailabilityChange change;
            if (!Flip(d, member, value, change)) continue;
            moved = true;
            changes.push_back(change);
        }
        if (moved) {
            UpdateSiteAvailability();
            Publish();
            published = current_;
        }
    }
    if (!event.isNull()) Tell(kind, event);
    if (!published) return;
    const ListenerList listeners = Listeners();  // held for the loop
    for (const AvailabilityChange& change : changes) {
        for (SiteListener* l : *listeners) l->OnAvailability(change, published);
    }
}

void SiteModel::SetSystemLink(const std::string& system, bool up, Json::Value event) {
    const std::vector<std::string> one{system};
    Availability(&one, &DeviceState::linkUp, up, "link", std::move(event));
}

void SiteModel::SetSystemStalled(const std::string& system, bool stalled, Json::Value event) {
    const std::vector<std::string> one{system};
    Availability(&one, &DeviceState::stalled, stalled, "stalled", std::move(event));
}

void SiteModel::SetSystemsLink(const std::vector<std::string>& systems, bool up, Json::Value event) {
    Availability(&systems, &DeviceState::linkUp, up, "link", std::move(event));
}

void SiteModel::SetLink(bool up, Json::Value event) {
    Availability(nullptr, &DeviceState::linkUp, up, "link", std::move(event));
}

void SiteModel::SetStalled(bool stalled, Json::Value event) {
    Availability(nullptr, &DeviceState::stalled, stalled, "stalled", std::move(event));
}

void SiteModel::SetUplink(bool up, Json::Value event) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const Snapshot::Uplink now = up ? Snapshot::Uplink::Up : Snapshot::Uplink::Down;
        if (working_.uplink == now) return;
        working_.uplink = now;
        Publish();
    }
    Tell("mqtt", event);
}

void SiteModel::SetOutboxMessages(uint64_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (working_.outboxMessages == count) return;
    working_.outboxMessages = count;
    Publish();
}

void SiteModel::SetOutboxDropped(const std::array<uint64_t, 3>& dropped) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (working_.outboxDropped == dropped) return;
    working_.outboxDropped = dropped;
    Publish();
}

void SiteModel::Publish() {
    if (rulesChanged_) working_.rules = SharedList<RuleState>(rules_);
    rulesChanged_ = false;
    std::atomic_store(&current_, SnapshotPtr(std::make_shared<Snapshot>(working_)));
}

SnapshotPtr SiteModel::Current() const {
    return std::atomic_load(&current_);
}

}  // namespace site
