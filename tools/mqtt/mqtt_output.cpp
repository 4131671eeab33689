#include "mqtt_output.h"

#include <pthread.h>

#include <mosquitto.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "discovery.h"
#include "local_time.h"

namespace mqtt {

namespace {
constexpr int kQos = 1;

// The first line of the password file, without its line end.
bool ReadPassword(const std::string& path, std::string& out, std::string& error) {
    std::ifstream in(path);
    if (!in || !std::getline(in, out)) {
        error = "cannot read the MQTT password file " + path;
        return false;
    }
    if (!out.empty() && out.back() == '\r') out.pop_back();
    return true;
}

// libmosquitto is set up once per process.
void InitLibrary() {
    static const int once = mosquitto_lib_init();
    (void)once;
}
}  // namespace

MqttOutput::MqttOutput(site::SiteModel& model, MqttSettings settings, std::string version)
    : model_(model),
      settings_(std::move(settings)),
      nowEpochMs_(site::NowEpochMs),
      version_(std::move(version)) {}

MqttOutput::~MqttOutput() {
    Stop();
    if (client_ != nullptr) mosquitto_destroy(client_);
}

bool MqttOutput::Start(const std::string& databasePath, std::string& error) {
    const auto maxBytes = static_cast<uint64_t>(settings_.outboxMaxMb * 1024 * 1024);
    if (!outbox_.Open(databasePath.empty() ? ":memory:" : databasePath, maxBytes, error)) return false;
    model_.SetOutboxMessages(outbox_.Count());
    InitLibrary();
    const std::string id = settings_.clientId.empty() ? "trm27k-" + settings_.site : settings_.clientId;
    client_ = mosquitto_new(id.c_str(), true, this);
    if (client_ == nullptr) {
        error = "cannot create the MQTT client";
        return false;
    }
    const std::string status = StatusTopic(settings_);
    mosquitto_will_set(client_, status.c_str(), 7, "offline", kQos, true);
    if (!settings_.user.empty()) {
        std::string password;
        if (!settings_.passwordFile.empty() && !ReadPassword(settings_.passwordFile, password, error)) {
            return false;
        }
        mosquitto_username_pw_set(client_, settings_.user.c_str(),
                                  settings_.passwordFile.empty() ? nullptr : password.c_str());
    }
    if (!settings_.caFile.empty() &&
        mosquitto_tls_set(client_, settings_.caFile.c_str(), nullptr, nullptr, nullptr, nullptr) != MOSQ_ERR_SUCCESS) {
        error = "cannot use the CA file " + settings_.caFile;
        return false;
    }
    mosquitto_threaded_set(client_, true);
    mosquitto_connect_callback_set(client_, &MqttOutput::OnConnect);
    mosquitto_disconnect_callback_set(client_, &MqttOutput::OnDisconnect);
    mosquitto_publish_callback_set(client_, &MqttOutput::OnPublish);
    mosquitto_message_callback_set(client_, &MqttOutput::OnMessage);
    mosquitto_subscribe_callback_set(client_, &MqttOutput::OnSubscribe);
    thread_ = std::thread([this] {
        pthread_setname_np(pthread_self(), "mqtt");  // as top -H and ps -L show it
        Run();
    });
    network_ = std::thread([this] {
        pthread_setname_np(pthread_self(), "mqtt-net");
        RunNetwork();
    });
    return true;
}

// Waits `seconds` or until the stop; true when stopped.
bool MqttOutput::SleepUnlessStopped(int seconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    return networkWake_.wait_for(lock, std::chrono::seconds(seconds), [this] { return stopNetwork_; });
}

// The client's network: connect, run until the connection fails, wait, and
// connect again; the wait doubles from 1 s up to the cap and starts over once
// a connection stood. A broker that is down at the start is no different.
void MqttOutput::RunNetwork() {
    int delay = 1;
    bool up = mosquitto_connect(client_, settings_.host.c_str(), settings_.port,
                                settings_.keepaliveSeconds) == MOSQ_ERR_SUCCESS;
    while (true) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopNetwork_) break;
        }
        if (up) {
            // A publish from another thread wakes the loop at once, and the
            // keepalive needs it about once a second: a longer wait only saves
            // wake-ups.
            const int rc = mosquitto_loop(client_, 1000, 1);
            up = rc == MOSQ_ERR_SUCCESS;
            if (up) delay = 1;
            if (!up) TellUplink(false, mosquitto_strerror(rc));
            continue;
        }
        TellUplink(false, "cannot reach the broker");
        if (SleepUnlessStopped(delay)) break;
        delay = std::min(delay * 2, settings_.maxBackoffSeconds);
        up = mosquitto_reconnect(client_) == MOSQ_ERR_SUCCESS;
    }
}

void MqttOutput::Stop() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
    // Give the last "offline" a moment to reach the broker before the disconnect.
    for (int k = 0; k < 20 && finalMid_ >= 0; ++k) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (std::find(acked_.begin(), acked_.end(), finalMid_) != acked_.end()) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    mosquitto_disconnect(client_);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopNetwork_ = true;
    }
    networkWake_.notify_all();
    network_.join();
}

void MqttOutput::Enqueue(Item item) {
    const bool staged = item.what != Item::What::Availability;  // the status is sent from the snapshot
    const uint64_t seq = item.snapshot->seq;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (queue_.size() >= kQueueLimit) {
            // Give up the oldest cycle: a newer one carries the newer states.
            for (auto it = queue_.begin(); it != queue_.end(); ++it) {
                if (it->what == Item::What::Cycle) {
                    queue_.erase(it);
                    ++stats_.queueDrops;
                    break;
                }
            }
        }
        newest_ = item.snapshot;
        queue_.push_back(std::move(item));
    }
    wake_.notify_one();
    if (stagedByHistory_ && staged) writeSoon_(seq);
}

void MqttOutput::OnCycle(const site::SnapshotPtr& snapshot) {
    Enqueue({Item::What::Cycle, snapshot, {}});
}

void MqttOutput::OnAlarms(const std::vector<site::AlarmEvent>& events, const site::SnapshotPtr& snapshot) {
    Enqueue({Item::What::Alarms, snapshot, events});
}

void MqttOutput::OnAvailability(const site::AvailabilityChange&, const site::SnapshotPtr& snapshot) {
    Enqueue({Item::What::Availability, snapshot, {}});
}

MqttOutput::Stats MqttOutput::GetStats() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stats_;
}

// The output's thread: stage what the model reported into the outbox, take
// acknowledgements, keep status and discovery current, send in order.
void MqttOutput::Run() {
    bool online = false;  // as this thread last saw it
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
        wake_.wait_for(lock, std::chrono::seconds(1), [this] {
            return stop_ || (!stagedByHistory_ && !queue_.empty()) ||
                   !acked_.empty() || connectionChanged_ || discoveryDue_;
        });
        std::deque<Item> items;
        if (!stagedByHistory_) items.swap(queue_);
        if (newest_) latest_ = newest_;
        const bool stopping = stop_;
        const bool connected = connected_;
        const bool changed = connectionChanged_;
        const bool discovery = discoveryDue_;
        connectionChanged_ = discoveryDue_ = false;
        lock.unlock();

        Stage(items);
        std::vector<int64_t> delivered;
        {
            std::lock_guard<std::mutex> send(sendMutex_);
            if (changed || connected != online_) {
                online_ = connected;
                inflight_.clear();  // unacknowledged rows are sent again after a reconnect
                sentUpTo_ = 0;
                lastStatus_.clear();
                discoveryShape_.clear();
                discovered_.clear();
                awaitingMarker_ = true;
                childAvailability_.clear();
            }
            delivered = TakeAcknowledgements();
            online = online_;
        }
        outbox_.Remove(delivered);
        if (online && latest_) {
            SendStatus(*latest_);
            if (discovery) {  // Home Assistant started: every config again
                discoveryShape_.clear();
                discovered_.clear();
                awaitingMarker_ = false;
            }
            if (!awaitingMarker_ || MarkerAnswered()) SendDiscovery(*latest_);
            SendChildAvailability(*latest_);  // staleness comes with time alone: every turn
        }
        SendCommitted();
        model_.SetOutboxMessages(outbox_.Count());
        ReportDrops(false);
        if (stopping) break;
        lock.lock();
    }
    ReportDrops(true);
    {
        std::lock_guard<std::mutex> send(sendMutex_);
        online_ = false;  // nothing is sent after the "offline"
    }
    int mid = 0;
    if (online && PublishNow({Kind::State, StatusTopic(settings_), "offline", true}, &mid)) finalMid_ = mid;
}

// Messages the full outbox gave up: counted in the model at once, told by a
// "storage" event and a log line at most once a minute (and at the stop),
// with the drops by kind since the last time.
void MqttOutput::ReportDrops(bool stopping) {
    const std::array<uint64_t, 3> dropped = outbox_.Dropped();
    model_.SetOutboxDropped(dropped);
    if (dropped == dropsTold_) return;
    const auto now = Clock::now();
    if (!stopping && dropsToldAt_ != Clock::time_point{} && now - dropsToldAt_ < std::chrono::minutes(1)) return;
    Json::Value v(Json::objectValue);
    v["target"] = "outbox";
    v["state"] = "dropped";
    v["reason"] = "the outbox is full (--outbox-max-mb); the oldest messages were given up";
    uint64_t total = 0;
    for (size_t k = 0; k < dropped.size(); ++k) {
        v["dropped"][site::kOutboxKinds[k]] = static_cast<Json::UInt64>(dropped[k] - dropsTold_[k]);
        total += dropped[k] - dropsTold_[k];
    }
    std::fprintf(stderr, "trm27k-monitor: the MQTT outbox is full: %llu messages given up\n",
                 static_cast<unsigned long long>(total));
    model_.Report("storage", std::move(v));
    dropsTold_ = dropped;
    dropsToldAt_ = now;
}

// Without a history file: everything queued since the last turn goes into
// the outbox in a transaction of its own.
void MqttOutput::Stage(const std::deque<Item>& items) {
    if (items.empty()) return;
    uint64_t seq = 0;
    valuesBefore_ = values_;
    const std::vector<Message> messages = MessagesOf(items, seq);
    const bool written = messages.empty() || outbox_.Append(messages, seq);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!written) PutBackStaged();
        refreshStaged_ = snapshotStaged_ = false;
    }
    if (written) return;
    Json::Value v(Json::objectValue);
    v["target"] = "outbox";
    v["state"] = "failed";
    v["reason"] = "the outbox could not be written";
    v["lost"] = static_cast<Json::UInt64>(messages.size());
    model_.Report("storage", std::move(v));
}

// Inside the history's transaction: what the model reported up to the end
// of cycle `seq`, the newest cycle this output asked a write for or the
// history's rows reach, so a crash never leaves the history holding a cycle
// the outbox lost.
bool MqttOutput::StageWithin(sqlite3* db, uint64_t seq, std::string& error) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        size_t end = seq == UINT64_MAX ? queue_.size() : 0;
        for (size_t k = 0; k < queue_.size() && seq != UINT64_MAX; ++k) {
            const Item& item = queue_[k];
            if (item.what == Item::What::Cycle && item.snapshot->seq <= seq) end = k + 1;
        }
        staged_.assign(std::make_move_iterator(queue_.begin()),
                       std::make_move_iterator(queue_.begin() + static_cast<std::ptrdiff_t>(end)));
        queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(end));
    }
    stagedSeq_ = 0;
    valuesBefore_ = values_;
    stagedMessages_ = MessagesOf(staged_, stagedSeq_);
    return stagedMessages_.empty() || outbox_.AppendWithin(db, stagedMessages_, stagedSeq_, error);
}

// Committed: the rows are the sender's. Rolled back: the items go back in
// front of what came since, and the history's next write tries them again.
void MqttOutput::AfterCommit(bool committed) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!committed) {
            alarmsListDue_ = alarmsListDue_ || alarmsListStaged_;
            PutBackStaged();
            staged_.insert(staged_.end(), std::make_move_iterator(queue_.begin()),
                           std::make_move_iterator(queue_.end()));
            queue_.swap(staged_);
        }
        staged_.clear();
        alarmsListStaged_ = false;
        refreshStaged_ = snapshotStaged_ = false;
    }
    if (committed && !stagedMessages_.empty()) {
        uint64_t bytes = 0;
        for (const Message& m : stagedMessages_) bytes += m.payload.size();
        outbox_.Committed(stagedMessages_.size(), bytes, stagedSeq_);
        // Sent from here, not by waking the output's thread: one thread
        // fewer between a cycle's end and the broker.
        SendCommitted();
    }
    stagedMessages_.clear();
}

std::vector<Message> MqttOutput::MessagesOf(const std::deque<Item>& items, uint64_t& seq) {
    std::vector<Message> messages;
    for (const Item& item : items) {
        seq = std::max(seq, item.snapshot->seq);
        switch (item.what) {
            case Item::What::Cycle:
                StageCycle(*item.snapshot, messages);
                // A consumer of the retained list (Home Assistant's alarm
                // sensors) gets one even when no alarm ever changes.
                if (alarmsListDue_) messages.push_back(AlarmsMessage(settings_, *item.snapshot));
                alarmsListStaged_ = alarmsListStaged_ || alarmsListDue_;
                alarmsListDue_ = false;
                break;
            case Item::What::Alarms:
                for (const site::AlarmEvent& e : item.events) messages.push_back(AlarmMessage(settings_, e));
                messages.push_back(AlarmsMessage(settings_, *item.snapshot));
                break;
            case Item::What::Availability: break;  // the status follows the newest snapshot
        }
    }
    return messages;
}

// Staged messages that were not written: the value topics are as they were
// before, and a refresh among them is due again. Called with mutex_ held.
void MqttOutput::PutBackStaged() {
    values_ = valuesBefore_;
    refreshDue_ = refreshDue_ || refreshStaged_;
    if (snapshotStaged_) lastSnapshot_ = Clock::time_point{};
}

// What this cycle reports beyond the values that moved: every value on its
// topic when asked for; every child's values in one message each when the
// refresh interval passed since the last time (the first cycle of a run too).
MqttOutput::Refresh MqttOutput::TakeRefresh() {
    const auto now = Clock::now();
    std::lock_guard<std::mutex> lock(mutex_);
    Refresh r;
    r.values = refreshDue_;
    r.snapshot = lastSnapshot_ == Clock::time_point{} ||
                 (settings_.refreshSeconds > 0 && now - lastSnapshot_ >= std::chrono::seconds(settings_.refreshSeconds));
    refreshDue_ = false;
    refreshStaged_ = refreshStaged_ || r.values;
    snapshotStaged_ = snapshotStaged_ || r.snapshot;
    if (r.snapshot) lastSnapshot_ = now;
    return r;
}

// Report by exception per value (value_topics.h); on a refresh every value,
// and the active-alarm list beside them; with the JSON state, a child's state
// when its cycle counted as changed and at least every heartbeat.
void MqttOutput::StageCycle(const site::Snapshot& snapshot, std::vector<Message>& out) {
    const Refresh refresh = TakeRefresh();
    alarmsListDue_ = alarmsListDue_ || refresh.values || refresh.snapshot;
    const auto now = Clock::now();
    const auto heartbeat = std::chrono::seconds(settings_.heartbeatSeconds);
    for (const site::ChildState& child : snapshot.children) {
        if (child.seq != snapshot.seq) continue;  // not published in this cycle
        values_.Collect(settings_, child, refresh.values, out);
        if (refresh.snapshot) out.push_back(ValuesMessage(settings_, child));
        if (!settings_.stateJson) continue;
        auto last = lastState_.find(child.dataId);
        const bool due = last == lastState_.end() || now - last->second >= heartbeat;
        if (!child.changed && !due) continue;
        out.push_back(StateMessage(settings_, child, snapshot.cycleEpochMs));
        lastState_[child.dataId] = now;
    }
}

// The outbox rows of what the broker acknowledged, out of the window; the
// caller removes them from the outbox without holding up the sending.
std::vector<int64_t> MqttOutput::TakeAcknowledgements() {
    std::vector<int> acked;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        acked.swap(acked_);
        stats_.acknowledged += acked.size();
    }
    std::vector<int64_t> rows;
    for (const int mid : acked) {
        auto it = inflight_.find(mid);
        if (it == inflight_.end()) continue;  // status, discovery, or from before a reconnect
        rows.push_back(it->second);
        inflight_.erase(it);
    }
    return rows;
}

// Either thread that saw rows committed (the output's, or the history's
// right after its transaction) sends what the window allows.
void MqttOutput::SendCommitted() {
    std::lock_guard<std::mutex> send(sendMutex_);
    if (online_) SendPending();
}

void MqttOutput::SendPending() {
    while (inflight_.size() < kWindow) {
        const auto rows = outbox_.Pending(sentUpTo_, static_cast<int>(kWindow - inflight_.size()));
        if (rows.empty()) return;
        for (const OutboxRow& row : rows) {
            int mid = 0;
            if (!PublishNow(row.message, &mid)) return;
            inflight_[mid] = row.id;
            sentUpTo_ = row.id;
        }
    }
}

// "online" only while the line is up and the poll is not stalled.
void MqttOutput::SendStatus(const site::Snapshot& snapshot) {
    const std::string status = snapshot.Available() ? "online" : "offline";
    if (status == lastStatus_) return;
    int mid = 0;
    if (PublishNow({Kind::State, StatusTopic(settings_), status, true}, &mid)) lastStatus_ = status;
}

// Each child's values are current until the model's freshness rule says
// they are stale; told on change, checked on every turn of this thread, so
// a line that stays down turns them unavailable without any cycle.
void MqttOutput::SendChildAvailability(const site::Snapshot& snapshot) {
    const int64_t now = nowEpochMs_();
    for (const site::ChildState& child : snapshot.children) {
        const std::string state = ChildAvailability(child, now);
        auto sent = childAvailability_.find(child.dataId);
        if (sent != childAvailability_.end() && sent->second == state) continue;
        int mid = 0;
        if (!PublishNow({Kind::State, ChildAvailabilityTopic(settings_, child.dataId), state, true}, &mid)) return;
        childAvailability_[child.dataId] = state;
    }
}

// After a connect: whether the broker answered what it holds of the
// discovery; what it kept needs no sending again.
bool MqttOutput::MarkerAnswered() {
    std::lock_guard<std::mutex> lock(mutex_);
    const DiscoveryMarker::Answer answer = marker_.Judge(Clock::now());
    if (answer == DiscoveryMarker::Answer::Waiting) return false;
    if (answer == DiscoveryMarker::Answer::Kept) discovered_ = marker_.KeptConfigs();
    awaitingMarker_ = false;
    return true;
}

// Sent after each connect (what the broker lost of it), when Home Assistant
// comes online, and when what the site shows changed (a child, a channel, a
// battery, a rule, the model): only the configs that changed, and an empty
// config for an entity gone; then the marker that names the pass.
void MqttOutput::SendDiscovery(const site::Snapshot& snapshot) {
    if (!settings_.discovery) return;
    const std::string shape = DiscoveryShape(snapshot);
    if (shape == discoveryShape_ && !markerDue_) return;
    std::vector<Message> configs = DiscoveryMessages(settings_, snapshot, version_);  // the site's device first
    for (const auto& [topic, payload] : discovered_) {
        const bool kept = std::any_of(configs.begin(), configs.end(), [&](const Message& m) { return m.topic == topic; });
        if (!kept) configs.push_back({Kind::State, topic, "", true});  // an empty config removes the entity
    }
    for (const Message& m : configs) {
        auto sent = discovered_.find(m.topic);
        if (sent != discovered_.end() && sent->second == m.payload) continue;
        int mid = 0;
        if (!PublishNow(m, &mid)) return;  // tried again on the next turn
        if (m.payload.empty()) discovered_.erase(m.topic);
        else discovered_[m.topic] = m.payload;
        markerDue_ = true;
    }
    discoveryShape_ = shape;
    if (!markerDue_) return;
    std::string token;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        token = marker_.Completed(discovered_);
    }
    int mid = 0;
    if (PublishNow({Kind::State, DiscoveryMarkerTopic(settings_), token, true}, &mid)) markerDue_ = false;
}

bool MqttOutput::PublishNow(const Message& m, int* mid) {
    const int rc = mosquitto_publish(client_, mid, m.topic.c_str(), static_cast<int>(m.payload.size()),
                                     m.payload.data(), kQos, m.retain);
    if (rc != MOSQ_ERR_SUCCESS) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    ++stats_.sent;
    return true;
}

// The broker reached or lost: the model's uplink state and an "mqtt" event
// when it changes, and a line on standard error the first time it is lost.
void MqttOutput::TellUplink(bool up, const std::string& reason) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!up && stop_) return;  // the stop's own disconnect
    }
    const std::string broker = settings_.host + ":" + std::to_string(settings_.port);
    if (up) uplinkLossTold_ = false;
    if (!up && !uplinkLossTold_) {
        uplinkLossTold_ = true;
        std::fprintf(stderr, "trm27k-monitor: warning: the MQTT broker %s cannot be reached (%s); "
                     "messages wait in the outbox\n", broker.c_str(), reason.c_str());
    }
    Json::Value v(Json::objectValue);
    v["state"] = up ? "up" : "down";
    v["broker"] = broker;
    if (!up) v["reason"] = reason;
    model_.SetUplink(up, std::move(v));
}

void MqttOutput::OnConnect(mosquitto* client, void* self, int rc) {
    auto* out = static_cast<MqttOutput*>(self);
    if (rc != 0) {
        out->TellUplink(false, mosquitto_connack_string(rc));
        return;
    }
    out->TellUplink(true, "");
    const std::string topic = out->settings_.discoveryPrefix + "/status";
    if (out->settings_.discovery) {
        mosquitto_subscribe(client, nullptr, topic.c_str(), kQos);
        mosquitto_subscribe(client, &out->markerMid_, DiscoveryMarkerTopic(out->settings_).c_str(), kQos);
    }
    mosquitto_subscribe(client, nullptr, RefreshTopic(out->settings_).c_str(), kQos);
    {
        std::lock_guard<std::mutex> lock(out->mutex_);
        out->marker_.Connected(Clock::now());
        out->connected_ = true;
        out->connectionChanged_ = true;
        // A broker that restarted may have lost the retained values, and the
        // full outbox may have given up the newest of some while it was away.
        out->refreshDue_ = true;
    }
    out->wake_.notify_one();
}

void MqttOutput::OnDisconnect(mosquitto*, void* self, int) {
    auto* out = static_cast<MqttOutput*>(self);
    {
        std::lock_guard<std::mutex> lock(out->mutex_);
        out->connected_ = false;
        out->connectionChanged_ = true;
    }
    out->wake_.notify_one();
}

void MqttOutput::OnPublish(mosquitto*, void* self, int mid) {
    auto* out = static_cast<MqttOutput*>(self);
    {
        std::lock_guard<std::mutex> lock(out->mutex_);
        out->acked_.push_back(mid);
    }
    out->wake_.notify_one();
}

// Home Assistant announces its start on DISCOVERY/status with "online":
// discovery and every value again. Any live message on the refresh topic
// asks for every value; a retained one there is left alone, or each connect
// would be a refresh.
void MqttOutput::OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
    auto* out = static_cast<MqttOutput*>(self);
    const std::string payload(static_cast<const char*>(message->payload),
                              static_cast<size_t>(message->payloadlen));
    if (message->topic == DiscoveryMarkerTopic(out->settings_)) {
        if (!message->retain) return;  // the monitor's own marker coming back live
        std::lock_guard<std::mutex> lock(out->mutex_);
        out->marker_.Heard(payload);
        return;
    }
    const bool refresh = message->topic == RefreshTopic(out->settings_) && !message->retain;
    // A retained "online" is Home Assistant's old announcement, heard again at each connect.
    const bool homeAssistant = message->topic != RefreshTopic(out->settings_) && payload == "online" &&
                               !message->retain;
    if (!refresh && !homeAssistant) return;
    {
        std::lock_guard<std::mutex> lock(out->mutex_);
        out->discoveryDue_ = out->discoveryDue_ || homeAssistant;
        out->refreshDue_ = true;
    }
    out->wake_.notify_one();
}

void MqttOutput::OnSubscribe(mosquitto*, void* self, int mid, int, const int*) {
    auto* out = static_cast<MqttOutput*>(self);
    if (mid != out->markerMid_) return;
    std::lock_guard<std::mutex> lock(out->mutex_);
    out->marker_.Subscribed(Clock::now());
}

}  // namespace mqtt
