#include "SimTestKit.h"

namespace sim_testing {

namespace {
// Values 100.5, 101, 101.5, ...: never four equal bytes.
struct Counter {
    float next = 100.5f;
    uint8_t byte = 1;
    sim::Wire4 Value() {
        const sim::Wire4 v = sim::Wire4::Of(next);
        next += 0.5f;
        return v;
    }
    std::vector<sim::Wire4> Values(size_t n) {
        std::vector<sim::Wire4> out;
        for (size_t k = 0; k < n; ++k) out.push_back(Value());
        return out;
    }
    std::vector<uint8_t> Bytes(size_t n) {
        std::vector<uint8_t> out;
        for (size_t k = 0; k < n; ++k) out.push_back(byte = static_cast<uint8_t>(byte % 250 + 1));
        return out;
    }
    uint8_t Byte() { return Bytes(1)[0]; }
};

void FillAc(sim::AcScreen& screen, size_t channels, Counter& c) {
    screen.channels.assign(channels, sim::AcChannel{});
    for (sim::AcChannel& ch : screen.channels) {
        ch.a = c.Value(), ch.b = c.Value(), ch.c = c.Value(), ch.f = c.Value();
        ch.aAlert = c.Byte(), ch.bAlert = c.Byte(), ch.cAlert = c.Byte(), ch.fAlert = c.Byte();
        ch.user = c.Values(30);
        ch.alarmUser = c.Bytes(18);
    }
    screen.ia = c.Value(), screen.ib = c.Value(), screen.ic = c.Value();
    screen.iaAlert = c.Byte(), screen.ibAlert = c.Byte(), screen.icAlert = c.Byte();
    screen.status = c.Bytes(13);
}

void FillDc(sim::DcScreen& screen, Counter& c) {
    screen.v = c.Value(), screen.i = c.Value();
    screen.m = c.Values(3), screen.n = c.Values(4), screen.user = c.Values(55);
    screen.vAlarm = c.Byte();
    screen.fuses = c.Bytes(6);
    screen.alarmUser = c.Bytes(151);
}

void FillModule(sim::RcModule& module, Counter& c) {
    module.value = c.Value();
    module.analog = c.Values(13);
    const std::vector<uint8_t> status = c.Bytes(3);
    std::copy(status.begin(), status.end(), module.status.begin());
    module.statusUser = c.Bytes(16);
    module.fault = c.Byte();
    module.alarmUser = c.Bytes(18);
}
}  // namespace

sim::Scenario DistinctScenario(const std::vector<size_t>& channels, size_t dcScreens,
                               size_t modules) {
    Counter c;
    sim::Scenario s = sim::DefaultScenario();
    s.ac.assign(channels.size(), sim::AcScreen{});
    for (size_t k = 0; k < channels.size(); ++k) FillAc(s.ac[k], channels[k], c);
    s.dc.assign(dcScreens, sim::DcScreen{});
    for (sim::DcScreen& screen : s.dc) FillDc(screen, c);
    s.groupValue = c.Value();
    s.modules.assign(modules, sim::RcModule{});
    for (sim::RcModule& module : s.modules) FillModule(module, c);
    for (sim::Wire4& v : s.acParam) v = c.Value();
    for (sim::Wire4& v : s.dcParam) v = c.Value();
    s.dcParamExtra = c.Values(67);
    return s;
}

Children::Children(size_t acCount, size_t dcCount) {
    parent->Init(controller, 1, Json::Value());
    for (size_t k = 0; k < acCount; ++k) {
        ac.push_back(std::make_shared<TRM27KAC>());
        ac.back()->InitV(parent.get(), static_cast<unsigned>(11 + k),
                         Json::Value(Json::objectValue));
    }
    for (size_t k = 0; k < dcCount; ++k) {
        dc.push_back(std::make_shared<TRM27KDC>());
        dc.back()->InitV(parent.get(), static_cast<unsigned>(21 + k),
                         Json::Value(Json::objectValue));
    }
    rc->InitV(parent.get(), 1, Json::Value(Json::objectValue));
}

}  // namespace sim_testing
