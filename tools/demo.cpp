// Feeds one AC analog block (two channels) to an AC child and prints what it
// decoded, with every diagnostic line on standard error.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <vector>

#include "PMBusProtocol.h"
#include "TRM27KAC.h"

namespace {
void PutFloat(std::vector<uint8_t>& out, float value) {
    uint8_t raw[4];
    std::memcpy(raw, &value, 4);
    out.insert(out.end(), raw, raw + 4);
}

std::vector<uint8_t> SampleAnalogBlock() {
    std::vector<uint8_t> block{2};  // two input channels
    const float voltages[2][4] = {{230.5f, 231.0f, 229.8f, 50.0f}, {0.0f, 0.0f, 0.0f, 49.9f}};
    for (const auto& ch : voltages) {
        for (float v : ch) PutFloat(block, v);
        block.push_back(30);  // user-defined values, all "not provided"
        block.insert(block.end(), 30 * 4, 0x20);
    }
    PutFloat(block, 12.5f);
    PutFloat(block, 13.0f);
    block.insert(block.end(), 4, 0x20);  // ic not provided
    return block;
}

class StderrController : public SMDController {};
class DemoParent : public PMBusProtocol {
public:
    bool LoadFromCache(const unsigned char*, int) override { return true; }
    bool process_payload() override { return true; }
};
}  // namespace

int main() {
    auto controller = std::make_shared<StderrController>();
    controller->SetLogSink([](const host::LogLine& line) { std::cerr << line.text << "\n"; });
    DemoParent parent;
    parent.Init(controller, 1, Json::Value());
    TRM27KAC ac;
    ac.InitV(&parent, 11, Json::Value(Json::objectValue));
    const std::vector<uint8_t> block = SampleAnalogBlock();
    const int used = ac.parse40_41(block.data(), static_cast<int>(block.size()));
    std::printf("block of %zu bytes, parser took %d\n", block.size(), used);
    for (size_t k = 0; k < ac.channels.size(); ++k) {
        const auto ch = ac.channels[k];
        std::printf("channel %zu: a=%.1f b=%.1f c=%.1f f=%.1f\n", k, ch.a, ch.b, ch.c, ch.f);
    }
    std::printf("ia=%.1f ib=%.1f ic=%.1f\n", ac.tele.ia, ac.tele.ib, ac.tele.ic);
    return used == static_cast<int>(block.size()) ? 0 : 1;
}
