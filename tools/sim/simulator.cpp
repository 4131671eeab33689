#include "simulator.h"

#include <json/json.h>

#include <algorithm>
#include <array>

#include "noise.h"
#include "replies.h"

namespace sim {

namespace {

struct StatsRow {
    const char* key;
    uint64_t SimStats::*counter;
};

// The counters of the stats file and their keys.
constexpr std::array<StatsRow, 15> kStatsRows = {{
    {"bytes_received", &SimStats::bytesReceived},
    {"bytes_sent", &SimStats::bytesSent},
    {"bad_frames", &SimStats::badFrames},
    {"other_address", &SimStats::otherAddress},
    {"commands", &SimStats::commands},
    {"unknown_commands", &SimStats::unknownCommands},
    {"wrong_version", &SimStats::wrongVersion},
    {"replies", &SimStats::replies},
    {"dropped", &SimStats::dropped},
    {"corrupted", &SimStats::corrupted},
    {"truncated", &SimStats::truncated},
    {"delayed", &SimStats::delayed},
    {"wrong_rtn", &SimStats::wrongRtn},
    {"wrong_count", &SimStats::wrongCount},
    {"duplicated", &SimStats::duplicated},
}};

}  // namespace

std::string StatsJson(const SimStats& stats) {
    Json::Value root(Json::objectValue);
    for (const StatsRow& row : kStatsRows) {
        root[row.key] = Json::Value(static_cast<Json::UInt64>(stats.*row.counter));
    }
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "  ";
    return Json::writeString(builder, root) + "\n";
}

Simulator::Simulator(const FaultPlan& plan) : scenario_(DefaultScenario()), faults_(plan) {}

void Simulator::Feed(const uint8_t* data, size_t count, std::vector<OutgoingReply>& replies) {
    std::lock_guard<std::mutex> lock(mutex_);
    stats_.bytesReceived += count;
    receiver_.Feed(
        data, count, [&](const char* body, size_t length) { OnFrame(body, length, replies); },
        [this] { ++stats_.badFrames; });
}

bool Simulator::SetScenario(const Scenario& scenario, std::string& error) {
    if (!ValidateScenario(scenario, error)) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    scenario_ = scenario;
    return true;
}

Scenario Simulator::GetScenario() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return scenario_;
}

SimStats Simulator::Stats() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stats_;
}

void Simulator::SetAddresses(std::vector<uint8_t> addresses) {
    std::lock_guard<std::mutex> lock(mutex_);
    addresses_ = std::move(addresses);
}

bool Simulator::Serves(uint8_t address) const {
    const auto has = [address](const std::vector<uint8_t>& list) {
        return std::find(list.begin(), list.end(), address) != list.end();
    };
    if (has(scenario_.silent)) return false;
    return addresses_.empty() ? address == scenario_.address : has(addresses_);
}

void Simulator::OnFrame(const char* body, size_t length, std::vector<OutgoingReply>& replies) {
    if (host::DecodeFrame(body, length, command_) != host::FrameError::None) {
        ++stats_.badFrames;
        return;
    }
    if (!Serves(command_.adr)) {
        ++stats_.otherAddress;
        return;
    }
    ++stats_.commands;
    Answer(replies);
}

// One reply to command_: the faults of this reply are drawn first, whatever
// the command, so the draws follow the command sequence one for one.
void Simulator::Answer(std::vector<OutgoingReply>& replies) {
    const FaultChoice faults = faults_.Next();
    if (faults.drop) {
        ++stats_.dropped;
        return;
    }
    const uint8_t rtn = BuildReplyInfo(faults);
    host::EncodeFrame(scenario_.version, command_.adr, command_.cid1, rtn, info_.data(),
                      info_.size(), frame_);
    Damage(faults);
    OutgoingReply reply{frame_, 0};
    if (faults.duplicate) {
        reply.bytes += frame_;
        ++stats_.duplicated;
    }
    if (faults.delay) {
        reply.delayMs = faults_.Plan().delayMs;
        ++stats_.delayed;
    }
    stats_.bytesSent += reply.bytes.size();
    ++stats_.replies;
    replies.push_back(std::move(reply));
}

// Fills info_ with the reply's INFO and returns its RTN, applying the faults
// that change the content (wrong RTN, wrong unit count).
uint8_t Simulator::BuildReplyInfo(const FaultChoice& faults) {
    info_.clear();
    if (command_.ver != scenario_.version) {
        ++stats_.wrongVersion;
        return kRtnVersionError;
    }
    const CommandRow* row = FindCommand(command_.cid1, command_.cid2);
    if (row == nullptr) {
        ++stats_.unknownCommands;
        return kRtnUnknownCommand;
    }
    if (faults.wrongRtn) {
        ++stats_.wrongRtn;
        return faults_.Plan().wrongRtnCode;
    }
    if (scenario_.noise) AddNoise(scenario_, noisy_, noiseRandom_);
    BuildInfo(scenario_.noise ? noisy_ : scenario_, row->cid1, row->cid2, info_);
    if (faults.wrongCount && ShiftCount(info_, row->countOffset, faults.countUp)) {
        ++stats_.wrongCount;
    }
    return kRtnNormal;
}

// The faults that damage the encoded frame on its way to the line.
void Simulator::Damage(const FaultChoice& faults) {
    if (faults.corrupt) {
        CorruptChecksum(frame_, faults.corruptPick);
        ++stats_.corrupted;
    }
    if (faults.truncate) {
        TruncateFrame(frame_, faults.cutAt, faults.cutKeepsCr);
        ++stats_.truncated;
    }
}

}  // namespace sim
