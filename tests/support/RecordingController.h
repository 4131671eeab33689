#pragma once
// A controller for tests: records everything the devices hand to the host
// (commands, records, history saves, batches, work items, log lines) and lets
// the test decide when work items run. Pauses are recorded, never slept.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "PMBusProtocol.h"
#include "SMDController.h"
#include "SMDVDevice.h"

namespace testing_support {

struct SentCommand {
    uint8_t cid1;
    uint8_t cid2;
    std::vector<uint8_t> info;
    int step;  // the device's step_ when it sent
};

struct PublishedRecord {
    unsigned int dataId;
    std::string deviceType;
    int type;
    std::vector<uint8_t> image;
};

struct SavedHistory {
    unsigned int dataId;
    std::string deviceType;
    std::vector<uint8_t> image;
};

struct Batch {
    unsigned int dataId;
    std::string deviceType;
    std::vector<rule_value> rules;
};

enum class WorkMode { RunAtOnce, Hold };

class RecordingController : public SMDController {
public:
    RecordingController() {
        SetLogSink([this](const host::LogLine& line) { logs.push_back(line); });
    }

    bool SendCommand(PMBusProtocol& device, uint8_t cid1, uint8_t cid2, const uint8_t* info,
                     int infoLength) override {
        commands.push_back({cid1, cid2,
                            std::vector<uint8_t>(info, info + (info ? infoLength : 0)),
                            device.Step()});
        return true;
    }
    void PublishRecord(SMDVDevice& device, int type, const uint8_t* data, unsigned int length,
                       bool) override {
        records.push_back({device.DataId(), device.DeviceType(), type,
                           std::vector<uint8_t>(data, data + length)});
    }
    void SaveHistory(SMDVDevice& device, const uint8_t* data, unsigned int length) override {
        history.push_back({device.DataId(), device.DeviceType(),
                           std::vector<uint8_t>(data, data + length)});
    }
    void RunWork(std::function<void()> work) override {
        if (workMode == WorkMode::Hold) {
            held.push_back(std::move(work));
        } else {
            work();
        }
    }
    bool BatchCheck(SMDVDevice& device, const std::vector<rule_value>& rules) override {
        batches.push_back({device.DataId(), device.DeviceType(), rules});
        return batchResult;
    }
    void Pause(unsigned int microseconds) override { pauses.push_back(microseconds); }

    // Runs the held work items in the order they were handed over.
    void RunHeld() {
        auto items = std::move(held);
        held.clear();
        for (auto& item : items) item();
    }
    // Texts of every formatted log line so far.
    std::vector<std::string> LogTexts() const {
        std::vector<std::string> texts;
        for (const auto& line : logs) texts.push_back(line.text);
        return texts;
    }
    void Clear() {
        commands.clear();
        records.clear();
        history.clear();
        batches.clear();
        logs.clear();
        pauses.clear();
    }

    std::vector<SentCommand> commands;
    std::vector<PublishedRecord> records;
    std::vector<SavedHistory> history;
    std::vector<Batch> batches;
    std::vector<host::LogLine> logs;
    std::vector<unsigned int> pauses;
    std::vector<std::function<void()>> held;
    WorkMode workMode = WorkMode::RunAtOnce;
    bool batchResult = false;
};

// A bare serial device bound to a controller, used as the parent of a child
// under test, so the child reaches the controller exactly as in the product.
class ParentDevice : public PMBusProtocol {
public:
    bool LoadFromCache(const unsigned char*, int) override { return true; }
    bool process_payload() override { return true; }
};

}  // namespace testing_support
