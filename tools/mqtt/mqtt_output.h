#pragma once
// The MQTT output: a reader of the site model that publishes states, alarms
// and Home Assistant discovery to a broker through libmosquitto, with every
// state and alarm kept in the outbox until the broker acknowledged it.
//
// The model's listener calls only queue a snapshot (bounded; the oldest
// cycle is given up first) and return, so neither the poll nor the threshold
// worker ever waits on the broker or the outbox. The output's own thread
// writes the outbox (or the history's thread, in its transaction) and sends
// from it in order, at most `kWindow` messages unacknowledged; rows the
// history committed are sent at once from its thread. A network thread runs
// the client and reconnects with a delay that doubles up to the configured
// cap.
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "discovery_marker.h"
#include "mqtt_settings.h"
#include "outbox.h"
#include "site_model.h"
#include "value_topics.h"

struct mosquitto;
struct sqlite3;
struct mosquitto_message;

namespace mqtt {

class MqttOutput : public site::SiteListener {
public:
    MqttOutput(site::SiteModel& model, MqttSettings settings, std::string version);
    ~MqttOutput() override;
    MqttOutput(const MqttOutput&) = delete;
    MqttOutput& operator=(const MqttOutput&) = delete;

    // Opens the outbox in `databasePath` (empty: in memory, bounded the
    // same way, and lost at a restart), sets up the client (Last Will,
    // credentials, TLS) and starts connecting; a broker that is down is not
    // an error: the outbox keeps what comes meanwhile.
    bool Start(const std::string& databasePath, std::string& error);
    // Before Start: the outbox rows are written in the history's transaction
    // (StageWithin inside it, AfterCommit once it ended) instead of in one of
    // their own, so after a crash the outbox holds every cycle the history
    // holds. `writeSoon(seq)` asks the history for that transaction at once,
    // up to cycle `seq`, so no state or alarm waits for the history's commit
    // interval.
    void StageWithHistory(std::function<void(uint64_t seq)> writeSoon) {
        stagedByHistory_ = true;
        writeSoon_ = std::move(writeSoon);
    }
    // Stages what the model reported up to the end of cycle `seq` (all of
    // it for the largest number: the last write at a stop).
    bool StageWithin(sqlite3* db, uint64_t seq, std::string& error);
    void AfterCommit(bool committed);
    // Before Start: the wall clock the children's freshness is judged by
    // (milliseconds since 1970), for tests that need a minute to pass.
    void SetClock(std::function<int64_t()> nowEpochMs) { nowEpochMs_ = std::move(nowEpochMs); }
    // Sends "offline", disconnects and stops; what is unsent stays in the outbox.
    void Stop();
    // The last sequence number the outbox saw, so the model continues after it.
    uint64_t LastSeq() { return outbox_.LastSeq(); }

    void OnCycle(const site::SnapshotPtr& snapshot) override;
    void OnAlarms(const std::vector<site::AlarmEvent>& events, const site::SnapshotPtr& snapshot) override;
    void OnAvailability(const site::AvailabilityChange& change, const site::SnapshotPtr& snapshot) override;

    struct Stats {
        uint64_t sent = 0;
        uint64_t acknowledged = 0;
        uint64_t queueDrops = 0;
    };
    Stats GetStats();

private:
    static constexpr size_t kQueueLimit = 1024;  // cycles; a paced cycle takes seconds
    static constexpr size_t kWindow = 32;
    using Clock = std::chrono::steady_clock;

    struct Item {
        enum class What { Cycle, Alarms, Availability } what;
        site::SnapshotPtr snapshot;
        std::vector<site::AlarmEvent> events;
    };

    void Enqueue(Item item);
    void Run();
    void RunNetwork();
    bool SleepUnlessStopped(int seconds);
    void Stage(const std::deque<Item>& items);
    std::vector<Message> MessagesOf(const std::deque<Item>& items, uint64_t& seq);
    void StageCycle(const site::Snapshot& snapshot, std::vector<Message>& out);
    struct Refresh {
        bool values = false;    // every value on its topic
        bool snapshot = false;  // every child's values in one message
    };
    Refresh TakeRefresh();
    void PutBackStaged();
    std::vector<int64_t> TakeAcknowledgements();
    void SendCommitted();
    void SendPending();
    void SendStatus(const site::Snapshot& snapshot);
    void SendChildAvailability(const site::Snapshot& snapshot);
    void SendDiscovery(const site::Snapshot& snapshot);
    bool MarkerAnswered();
    bool PublishNow(const Message& m, int* mid);
    void ReportDrops(bool stopping);
    void TellUplink(bool up, const std::string& reason);  // the network thread

    static void OnConnect(mosquitto*, void* self, int rc);
    static void OnDisconnect(mosquitto*, void* self, int rc);
    static void OnPublish(mosquitto*, void* self, int mid);
    static void OnMessage(mosquitto*, void* self, const mosquitto_message* message);
    static void OnSubscribe(mosquitto*, void* self, int mid, int count, const int* granted);

    site::SiteModel& model_;
    MqttSettings settings_;
    std::function<int64_t()> nowEpochMs_;
    std::string version_;
    Outbox outbox_;
    mosquitto* client_ = nullptr;

    std::mutex mutex_;  // queue_, acked_, the flags below
    std::condition_variable wake_;         // the output's thread
    std::condition_variable networkWake_;  // the network thread's reconnect wait
    std::deque<Item> queue_;
    site::SnapshotPtr newest_;  // the newest snapshot any listener call brought
    std::vector<int> acked_;
    bool stop_ = false;
    bool stopNetwork_ = false;
    bool connected_ = false;
    bool connectionChanged_ = false;
    bool discoveryDue_ = false;
    bool refreshDue_ = false;       // every value with the next cycle (a request, a reconnect)
    bool refreshStaged_ = false;    // ... and it is being staged
    bool snapshotStaged_ = false;   // a periodic snapshot is being staged
    Clock::time_point lastSnapshot_{};  // the last periodic snapshot
    DiscoveryMarker marker_;            // what the broker holds of the discovery
    Stats stats_;

    // Staged in the history's transaction, on the thread that writes it.
    bool stagedByHistory_ = false;
    std::function<void(uint64_t seq)> writeSoon_;
    std::deque<Item> staged_;  // put back at the front when the transaction fails
    std::vector<Message> stagedMessages_;
    uint64_t stagedSeq_ = 0;
    // Owned by whichever thread stages (the history's, or the output's own).
    ValueReports values_;        // what each value topic was last given
    ValueReports valuesBefore_;  // ... before the staging in progress, put back when it is not written

    // The sending, by the output's thread or right after a history commit.
    std::mutex sendMutex_;             // the three below
    std::map<int, int64_t> inflight_;  // message id -> outbox row
    int64_t sentUpTo_ = 0;             // highest outbox row handed to the client
    bool online_ = false;              // connected, as the output's thread last saw it

    // Owned by the output's thread.
    std::string lastStatus_;
    site::SnapshotPtr latest_;
    std::map<unsigned int, Clock::time_point> lastState_;  // per data id, the JSON states
    std::string discoveryShape_;                  // of the configs last sent
    DiscoveryMarker::Configs discovered_;  // what the broker holds
    bool awaitingMarker_ = false;  // after a connect, until the broker's marker tells what it holds
    bool markerDue_ = false;       // configs went out and their marker has not
    std::map<unsigned int, std::string> childAvailability_;  // data id -> what was sent
    bool alarmsListDue_ = true;    // the first cycle of a run also sends the active-alarm list
    bool alarmsListStaged_ = false;  // ... and it is in the history's open transaction
    int finalMid_ = -1;                // the last "offline", waited for at a stop
    std::array<uint64_t, 3> dropsTold_{};
    bool uplinkLossTold_ = false;  // the network thread
    int markerMid_ = 0;            // the network thread: the marker's subscription
    Clock::time_point dropsToldAt_{};
    std::thread thread_;
    std::thread network_;
};

}  // namespace mqtt
