#pragma once
// A controller for fuzz targets. Log lines are formatted as in the product (the
// sink counts them and keeps nothing), work items run at once, pauses are
// skipped. Every published image is checked against the shape its record type
// announces, and every history save must equal the image published just before.
// Nothing grows from one input to the next.
#include <cstdint>
#include <cstring>
#include <vector>

#include "FuzzCheck.h"
#include "PMBusProtocol.h"
#include "SMDController.h"
#include "tele_trm27k_ac.h"
#include "tele_trm27k_dc.h"
#include "tele_trm27k_rc.h"

namespace fuzzkit {

constexpr int kAcRecord = 5175;
constexpr int kDcRecord = 5176;
constexpr int kRcRecord = 5177;

// True when `length` is the image length that the image's own unit count gives.
inline bool ImageShapeHolds(int type, const uint8_t* data, unsigned int length) {
    switch (type) {
        case kAcRecord: {
            const size_t header = sizeof(tele_c_trm27k_ac);
            if (length < header) return false;
            const size_t count = data[offsetof(tele_c_trm27k_ac, channel_count)];
            return length == header + count * sizeof(tele_c_trm27k_ac_channel);
        }
        case kDcRecord: return length == sizeof(tele_c_trm27k_dc);
        case kRcRecord: {
            const size_t header = sizeof(tele_c_trm27k_rc);
            if (length < header) return false;
            const size_t count = data[offsetof(tele_c_trm27k_rc, channel_count)];
            return length == header + count * sizeof(tele_c_trm27k_rc_channel);
        }
        default: return false;
    }
}

class FuzzController : public SMDController {
public:
    FuzzController() {
        SetLogSink([this](const host::LogLine& line) {
            ++logLines;
            logBytes += line.text.size();
        });
    }

    bool SendCommand(PMBusProtocol& /*device*/, uint8_t cid1, uint8_t cid2, const uint8_t* info,
                     int infoLength) override {
        FUZZ_CHECK(infoLength >= 0 && (infoLength == 0 || info != nullptr), "command INFO");
        ++commands;
        lastCid1 = cid1;
        lastCid2 = cid2;
        return true;
    }
    void PublishRecord(SMDVDevice& /*device*/, int type, const uint8_t* data, unsigned int length,
                       bool /*flag*/) override {
        FUZZ_CHECK(data != nullptr && ImageShapeHolds(type, data, length),
                   "published image disagrees with its own unit count");
        ++published;
        lastType = type;
        lastImage.assign(data, data + length);
    }
    void SaveHistory(SMDVDevice& /*device*/, const uint8_t* data, unsigned int length) override {
        FUZZ_CHECK(length == lastImage.size() && std::memcmp(data, lastImage.data(), length) == 0,
                   "history copy differs from the published image");
        ++saved;
    }
    bool BatchCheck(SMDVDevice& /*device*/, const std::vector<rule_value>& rules) override {
        ++batches;
        return rules.size() % 2 == 1;  // both outcomes of the threshold service
    }
    void Pause(unsigned int /*microseconds*/) override {}

    size_t logLines = 0;
    size_t logBytes = 0;
    size_t commands = 0;
    size_t published = 0;
    size_t saved = 0;
    size_t batches = 0;
    uint8_t lastCid1 = 0;
    uint8_t lastCid2 = 0;
    int lastType = 0;
    std::vector<uint8_t> lastImage;
};

// A bare serial device as the parent of a child under test, so the child
// reaches the controller exactly as in the product.
class FuzzParent : public PMBusProtocol {
public:
    bool LoadFromCache(const unsigned char*, int) override { return true; }
    bool process_payload() override { return true; }
};

}  // namespace fuzzkit
