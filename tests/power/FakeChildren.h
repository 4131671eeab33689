#pragma once
// Child devices that record every parser call and answer with scripted
// results, so the main device's dispatch can be checked call by call.
#include <deque>
#include <string>
#include <vector>

#include "Bytes.h"
#include "JsonText.h"
#include "PMBusPower.h"
#include "RecordingController.h"

namespace testing_support {

struct ParseCall {
    std::string parser;
    Bytes block;          // the bytes the parser was given
    const uint8_t* data;  // where they were given
};

// Shared by all fakes of a test: the order of every parser and RoundDone call.
inline std::vector<std::string>& CallLog() {
    static std::vector<std::string> log;
    return log;
}

class FakeChild : public SMDSPDevice {
public:
    bool LoadFromCache(const unsigned char*, int) override { return true; }
    void RoundDone() override { CallLog().push_back("RoundDone " + std::to_string(DataId())); }

    // Scripted results; when none is left, `block` bytes (or all, if negative).
    std::deque<int> results;
    int block = -1;
    std::vector<ParseCall> calls;

protected:
    int Answer(const char* parser, const uint8_t* data, int size) {
        calls.push_back({parser, Bytes(data, data + size), data});
        CallLog().push_back(std::string(parser) + " " + std::to_string(DataId()));
        if (!results.empty()) {
            const int r = results.front();
            results.pop_front();
            return r;
        }
        return block < 0 ? size : block;
    }
};

class FakeAC : public FakeChild {
public:
    FakeAC() { block = 3; }
    int parse40_41(const uint8_t* d, int n) { return Answer("40_41", d, n); }
    int parse40_43(const uint8_t* d, int n) { return Answer("40_43", d, n); }
    int parse40_44(const uint8_t* d, int n) { return Answer("40_44", d, n); }
};

class FakeDC : public FakeChild {
public:
    explicit FakeDC(const std::string& model) : model_text(model) { block = 2; }
    int parse42_41(const uint8_t* d, int n) { return Answer("42_41", d, n); }
    int parse42_44(const uint8_t* d, int n) { return Answer("42_44", d, n); }
    std::string model_text;
};

class FakeRC : public FakeChild {
public:
    int parse41_41(const uint8_t* d, int n) { return Answer("41_41", d, n); }
    int parse41_43(const uint8_t* d, int n) { return Answer("41_43", d, n); }
    int parse41_44(const uint8_t* d, int n) { return Answer("41_44", d, n); }
    int parse40_46(const uint8_t* d, int n) { return Answer("40_46", d, n); }
    int parse42_46(const uint8_t* d, int n) { return Answer("42_46", d, n); }
    int InitV(SMDVDevice* parent, unsigned int id, const Json::Value& setting) override {
        if (setting.isObject() && setting.isMember("throw")) throw std::runtime_error("refused");
        return FakeChild::InitV(parent, id, setting);
    }
};

class FakePower : public PMBusPower<FakeAC, FakeDC, FakeRC> {
public:
    FakePower() : PMBusPower({"TRM27K"}) {
        deviceType_ = "trm27k";
        version_ = 0x21;
    }
    void SetVersion(uint8_t v) { version_ = v; }
};

// A configured main device with `ac` AC children (ids 11, 12, ...) and `dc`
// DC children (ids 21, 22, ...), bound to a recording controller.
struct PowerRig {
    std::shared_ptr<RecordingController> controller = std::make_shared<RecordingController>();
    std::shared_ptr<FakePower> power = std::make_shared<FakePower>();
    bool configured = false;

    PowerRig(int ac, int dc, bool ready = false) {
        CallLog().clear();
        Json::Value setting(Json::objectValue);
        for (int i = 0; i < ac; ++i) setting["acSetting"][i]["data_id"] = 11 + i;
        for (int i = 0; i < dc; ++i) setting["dcSetting"][i]["data_id"] = 21 + i;
        if (ac == 0) setting["acSetting"] = Json::Value(Json::arrayValue);
        if (dc == 0) setting["dcSetting"] = Json::Value(Json::arrayValue);
        setting["rcSetting"] = Json::Value(Json::objectValue);
        power->Init(controller, 1, setting);
        configured = power->InitSetting(setting);
        power->SetDataReady(ready);
    }
    FakeAC& Ac(size_t i) { return *power->AcDevices().at(i); }
    FakeDC& Dc(size_t i) { return *power->DcDevices().at(i); }
    FakeRC& Rc() { return *power->RcDevice(); }

    // Makes the last update old enough for the 2-second gate, then polls.
    bool Refresh() {
        power->SetUpdateTime(host_local_now() - boost::posix_time::seconds(3));
        return power->RefreshStatus();
    }
    bool Feed(uint8_t cid1, const Bytes& info) {
        const Bytes reply = Reply(cid1, info);
        return power->HandleReply(reply.data(), reply.size());
    }
    int Step() const { return power->Step(); }
    // The steps of the commands sent so far.
    std::vector<int> SentSteps() const {
        std::vector<int> steps;
        for (const auto& c : controller->commands) steps.push_back(c.step);
        return steps;
    }
    // A well-formed reply for the current step with this rig's fakes.
    Bytes InfoFor(int step, uint8_t flag = 0) {
        const auto nAc = static_cast<uint8_t>(power->AcDevices().size());
        const auto nDc = static_cast<uint8_t>(power->DcDevices().size());
        switch (step) {
            case 0: case 1: case 2: { Bytes b{flag, nAc}; PutN(b, 0xA0, 3u * nAc); return b; }
            case 7: case 8: { Bytes b{flag, nDc}; PutN(b, 0xD0, 2u * nDc); return b; }
            case 14: { Bytes b{'T', 'R', 'M', '2', '7', 'K'}; PutN(b, 0, 14); return b; }
            default: return Bytes{flag, 1, 2, 3};
        }
    }
    static uint8_t Cid1For(int step) {
        if (step == 14 || step <= 3) return 0x40;
        return step <= 6 ? 0x41 : 0x42;
    }
    // Answers the command of the current step with a well-formed reply.
    bool Answer(uint8_t flag = 0) { return Feed(Cid1For(Step()), InfoFor(Step(), flag)); }
    // Runs from the current state until the cycle ends; returns the steps sent.
    std::vector<int> RunCycle(uint8_t flag = 0) {
        if (!Refresh()) return {};
        for (int guard = 0; guard < 20 && Answer(flag); ++guard) {}
        return SentSteps();
    }
};

}  // namespace testing_support
