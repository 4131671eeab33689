#pragma once
// The DC child's configuration, end of cycle and value query.
// Included from PMBusPowerDC.h only.

// Stores the data id in the record and reads the change thresholds. They feed
// no change indication: the record is published and saved every cycle.
template <class TeleDC, int RT_DC>
int PMBusPowerDC<TeleDC, RT_DC>::InitV(SMDVDevice* parent, unsigned int id,
                                       const Json::Value& entry) {
    tele.id = id;
    child::ReadAppSetting(entry, diff_v, diff_i);
    return SMDSPDevice::InitV(parent, id, entry);
}

// End of a poll cycle: stamp and publish the record, pass the voltage rules
// (sequence 1 and 2), the fuse rules when exactly ALERT_M_SIZE() fuse states
// came, then the model's catalogue, and queue the work item that batches the
// rules and saves its own copy of the record.
template <class TeleDC, int RT_DC>
void PMBusPowerDC<TeleDC, RT_DC>::RoundDone() {
    updateTime_ = host_local_now();
    child::StampNow(tele.ttime);
    dataReady_ = true;
    last_v = tele.v;
    last_i = tele.i;
    const auto* record = reinterpret_cast<const uint8_t*>(&tele);
    SendSP(RT_DC, record, sizeof(TeleDC), false);
    ruleSeq_ = 1;
    PassVoltageRules();
    if (tele.alert_m_count == TeleDC::ALERT_M_SIZE()) PassFuseRules();
    DoImpCheckAlert();
    // A copy, not the record: the work item may run after the next cycle's
    // parsers have rewritten it, or on another thread while they do.
    HandOverCycle(std::vector<uint8_t>(record, record + sizeof(TeleDC)));
}

template <class TeleDC, int RT_DC>
void PMBusPowerDC<TeleDC, RT_DC>::PassVoltageRules() {
    const uint8_t state = tele.v_alarm;
    for (const auto& row : dc::kVoltageAlarms) {
        CheckThresholdBool(row.level, row.key, row.code, row.name, row.detail, state == row.value,
                           ruleSeq_++);
    }
}

template <class TeleDC, int RT_DC>
void PMBusPowerDC<TeleDC, RT_DC>::PassFuseRules() {
    const dc::AlarmRow& row = dc::kFuseAlarm;
    for (int k = 0; k < TeleDC::ALERT_M_SIZE(); ++k) {
        const std::string detail = dc::kFusePrefix + std::to_string(k + 1) + row.detail;
        CheckThresholdBool(row.level, row.key, row.code, row.name, detail,
                           tele.alert_m[k] == row.value, ruleSeq_++);
    }
}

template <class TeleDC, int RT_DC>
float PMBusPowerDC<TeleDC, RT_DC>::Get_Value(unsigned int /*index*/, const std::string& key) const {
    child::RequireFresh(dataReady_, updateTime_);
    if (key == "v") return tele.v;
    if (key == "i") return tele.i;
    throw std::out_of_range(child::kNotReady);
}
