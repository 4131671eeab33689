#pragma once
// The JSON keys of a scenario, one table per object kind. Columns: key, and
// the member it sets, by kind: a 4-byte value, a byte, a group of values, a
// group of bytes, or a function for nested objects and fixed-size groups.
// tools/sim/README.md documents the same keys.
#include <array>

#include "json_fields.h"

namespace sim {
namespace fields {

constexpr std::array<FieldRow<AcChannel>, 11> kAcChannelKeys = {{
    ValueKey("a", &AcChannel::a),
    ValueKey("b", &AcChannel::b),
    ValueKey("c", &AcChannel::c),
    ValueKey("f", &AcChannel::f),
    ByteKey("a_alert", &AcChannel::aAlert),
    ByteKey("b_alert", &AcChannel::bAlert),
    ByteKey("c_alert", &AcChannel::cAlert),
    ByteKey("f_alert", &AcChannel::fAlert),
    ValuesKey("user", &AcChannel::user),
    BytesKey("extra", &AcChannel::extra),
    BytesKey("alarm_user", &AcChannel::alarmUser),
}};

inline bool ReadAcChannel(const Json::Value& j, AcChannel& ch, const Path& path,
                          std::string& error) {
    return ApplyObject(j, ch, kAcChannelKeys, path, error);
}

inline bool ReadAcChannels(const Json::Value& j, AcScreen& screen, const Path& path,
                           std::string& error) {
    return ApplyGroup(j, screen.channels, ReadAcChannel, DefaultAcChannel, path, error);
}

constexpr std::array<FieldRow<AcScreen>, 9> kAcScreenKeys = {{
    CustomKey("channels", &ReadAcChannels),
    ValueKey("ia", &AcScreen::ia),
    ValueKey("ib", &AcScreen::ib),
    ValueKey("ic", &AcScreen::ic),
    ByteKey("ia_alert", &AcScreen::iaAlert),
    ByteKey("ib_alert", &AcScreen::ibAlert),
    ByteKey("ic_alert", &AcScreen::icAlert),
    BytesKey("breakers", &AcScreen::breakers),
    BytesKey("status", &AcScreen::status),
}};

constexpr std::array<FieldRow<DcScreen>, 8> kDcScreenKeys = {{
    ValueKey("v", &DcScreen::v),
    ValueKey("i", &DcScreen::i),
    ValuesKey("m", &DcScreen::m),
    ValuesKey("n", &DcScreen::n),
    ValuesKey("user", &DcScreen::user),
    ByteKey("v_alarm", &DcScreen::vAlarm),
    BytesKey("fuses", &DcScreen::fuses),
    BytesKey("alarm_user", &DcScreen::alarmUser),
}};

inline bool ReadModuleStatus(const Json::Value& j, RcModule& module, const Path& path,
                             std::string& error) {
    return ApplyFixed(j, module.status, ReadByte, path, error);
}

constexpr std::array<FieldRow<RcModule>, 6> kModuleKeys = {{
    ValueKey("value", &RcModule::value),
    ValuesKey("analog", &RcModule::analog),
    CustomKey("status", &ReadModuleStatus),
    BytesKey("status_user", &RcModule::statusUser),
    ByteKey("fault", &RcModule::fault),
    BytesKey("alarm_user", &RcModule::alarmUser),
}};

inline bool ReadAcScreen(const Json::Value& j, AcScreen& screen, const Path& path,
                         std::string& error) {
    return ApplyObject(j, screen, kAcScreenKeys, path, error);
}
inline bool ReadDcScreen(const Json::Value& j, DcScreen& screen, const Path& path,
                         std::string& error) {
    return ApplyObject(j, screen, kDcScreenKeys, path, error);
}
inline bool ReadModule(const Json::Value& j, RcModule& module, const Path& path,
                       std::string& error) {
    return ApplyObject(j, module, kModuleKeys, path, error);
}

inline bool ReadAc(const Json::Value& j, Scenario& s, const Path& path, std::string& error) {
    return ApplyGroup(j, s.ac, ReadAcScreen, DefaultAcScreen, path, error);
}
inline bool ReadDc(const Json::Value& j, Scenario& s, const Path& path, std::string& error) {
    return ApplyGroup(j, s.dc, ReadDcScreen, DefaultDcScreen, path, error);
}
inline bool ReadModules(const Json::Value& j, Scenario& s, const Path& path, std::string& error) {
    return ApplyGroup(j, s.modules, ReadModule, DefaultRcModule, path, error);
}

// The "rc" object sets members of the scenario itself.
constexpr std::array<FieldRow<Scenario>, 2> kRcKeys = {{
    ValueKey("group_value", &Scenario::groupValue),
    CustomKey("modules", &ReadModules),
}};

inline bool ReadRc(const Json::Value& j, Scenario& s, const Path& path, std::string& error) {
    return ApplyObject(j, s, kRcKeys, path, error);
}

inline bool ReadModel(const Json::Value& j, Scenario& s, const Path& path, std::string& error) {
    if (!j.isString() || j.asString().size() > kModelLength) {
        return Fail(error, path, "expected a text of at most 20 bytes");
    }
    s.model = ModelText(j.asString());
    return true;
}

inline bool ReadAcParam(const Json::Value& j, Scenario& s, const Path& path, std::string& error) {
    return ApplyFixed(j, s.acParam, ReadValue, path, error);
}
inline bool ReadDcParam(const Json::Value& j, Scenario& s, const Path& path, std::string& error) {
    return ApplyFixed(j, s.dcParam, ReadValue, path, error);
}

inline bool ReadNoise(const Json::Value& j, Scenario& s, const Path& path, std::string& error) {
    if (!j.isBool()) return Fail(error, path, "expected true or false");
    s.noise = j.asBool();
    return true;
}

constexpr std::array<FieldRow<Scenario>, 15> kScenarioKeys = {{
    ByteKey("address", &Scenario::address),
    BytesKey("silent", &Scenario::silent),
    ByteKey("version", &Scenario::version),
    CustomKey("model", &ReadModel),
    ByteKey("ac_dataflag", &Scenario::acDataFlag),
    ByteKey("rc_dataflag", &Scenario::rcDataFlag),
    ByteKey("dc_dataflag", &Scenario::dcDataFlag),
    CustomKey("ac", &ReadAc),
    CustomKey("dc", &ReadDc),
    CustomKey("rc", &ReadRc),
    CustomKey("ac_param", &ReadAcParam),
    ValuesKey("ac_param_extra", &Scenario::acParamExtra),
    CustomKey("dc_param", &ReadDcParam),
    ValuesKey("dc_param_extra", &Scenario::dcParamExtra),
    CustomKey("noise", &ReadNoise),
}};

}  // namespace fields
}  // namespace sim
