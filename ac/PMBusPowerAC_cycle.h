#pragma once
// The AC child's configuration, end of cycle and value query.
// Included from PMBusPowerAC.h only.

// Stores the data id in the record and reads the change thresholds.
template <class TeleAC, class TeleACChannel, int RT_AC>
int PMBusPowerAC<TeleAC, TeleACChannel, RT_AC>::InitV(SMDVDevice* parent, unsigned int id,
                                                      const Json::Value& entry) {
    tele.id = id;
    child::ReadAppSetting(entry, diff_v, diff_i);
    return SMDSPDevice::InitV(parent, id, entry);
}

// End of a poll cycle: stamp, publish the image, pass every AC rule (11 per
// channel, then 9 for the screen, numbered from 1), and queue the work item
// that batches the rules and saves its own copy of the image.
template <class TeleAC, class TeleACChannel, int RT_AC>
void PMBusPowerAC<TeleAC, TeleACChannel, RT_AC>::RoundDone() {
    updateTime_ = host_local_now();
    child::StampNow(tele.ttime);
    child::BuildImage(send_buffer, send_length, tele, channels);
    dataReady_ = true;
    SendSP(RT_AC, send_buffer.get(), send_length, false);
    ruleSeq_ = 1;
    for (size_t k = 0; k < channels.size(); ++k) PassChannelRules(channels[k], k + 1);
    PassScreenRules();
    DoImpCheckAlert();
    HandOverCycle(child::ImageCopy(send_buffer, send_length));
}

template <class TeleAC, class TeleACChannel, int RT_AC>
void PMBusPowerAC<TeleAC, TeleACChannel, RT_AC>::PassChannelRules(const TeleACChannel& ch,
                                                                  size_t position) {
    const std::string prefix = std::string(ac::kChannelPrefix) + std::to_string(position);
    for (const auto& row : ac::kChannelAlarms) {
        uint8_t state = 0;
        switch (row.state) {
            case ac::ChannelState::A: state = ch.a_alert; break;
            case ac::ChannelState::B: state = ch.b_alert; break;
            case ac::ChannelState::C: state = ch.c_alert; break;
            case ac::ChannelState::F: state = ch.f_alert; break;
        }
        CheckThresholdBool(row.level, row.key, row.code, row.name, prefix + row.detail,
                           state == row.value, ruleSeq_++);
    }
}

template <class TeleAC, class TeleACChannel, int RT_AC>
void PMBusPowerAC<TeleAC, TeleACChannel, RT_AC>::PassScreenRules() {
    for (const auto& row : ac::kScreenAlarms) {
        uint8_t state = 0;
        switch (row.state) {
            case ac::PhaseState::IA: state = tele.ia_alert; break;
            case ac::PhaseState::IB: state = tele.ib_alert; break;
            case ac::PhaseState::IC: state = tele.ic_alert; break;
        }
        CheckThresholdBool(row.level, row.key, row.code, row.name, row.detail,
                           state == row.value, ruleSeq_++);
    }
}

// Screen keys "ia", "ib", "ic" and their "_alert" states, or a channel key
// (see ac_channel_key.h) with the letter a, b, c or f.
template <class TeleAC, class TeleACChannel, int RT_AC>
float PMBusPowerAC<TeleAC, TeleACChannel, RT_AC>::Get_Value(unsigned int /*index*/,
                                                            const std::string& key) const {
    child::RequireFresh(dataReady_, updateTime_);
    if (key == "ia") return tele.ia;
    if (key == "ib") return tele.ib;
    if (key == "ic") return tele.ic;
    if (key == "ia_alert") return tele.ia_alert;
    if (key == "ib_alert") return tele.ib_alert;
    if (key == "ic_alert") return tele.ic_alert;
    const ac::ChannelKey found = ac::FindChannelKey(key);
    if (!found.found) throw std::out_of_range(child::kNotProvided);
    if (found.tooLarge || static_cast<size_t>(found.channel) >= channels.size()) {
        throw std::out_of_range(child::kChannelOutOfRange);
    }
    const TeleACChannel& ch = channels[static_cast<size_t>(found.channel)];
    switch (found.letter) {
        case 'a': return ch.a;
        case 'b': return ch.b;
        case 'c': return ch.c;
        case 'f': return ch.f;
        default: throw std::out_of_range(child::kNotProvided);
    }
}
