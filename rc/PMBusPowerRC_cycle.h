#pragma once
// The rectifier child's binding, cached image, end of cycle and value query.
// Included from PMBusPowerRC.h only.

// Stores the data id in the record; the child reads no settings of its own.
template <class TeleRC, class TeleRCChannel, int RT_RC>
int PMBusPowerRC<TeleRC, TeleRCChannel, RT_RC>::InitV(SMDVDevice* parent, unsigned int id,
                                                      const Json::Value& config) {
    tele.id = id;
    return SMDSPDevice::InitV(parent, id, config);
}

// The image's length is judged against its own module count before anything
// is taken: a half-taken image would replace the live record with module
// records that do not match its count. A taken image's count is provisional.
// Both lines go to standard output whatever the outcome; the second only once
// the image holds a whole group record.
template <class TeleRC, class TeleRCChannel, int RT_RC>
bool PMBusPowerRC<TeleRC, TeleRCChannel, RT_RC>::LoadFromCache(const unsigned char* data,
                                                               int length) {
    std::cout << "rc data_len:" << length << " vs " << kImageHeader << std::endl;
    if (length < kImageHeader) return false;
    const auto countOf = [length](const TeleRC& incoming) {
        const uint8_t count = incoming.channel_count;
        std::cout << "rc channelLen " << kImageModule << " and " << static_cast<int>(count)
                  << " left:" << length - kImageHeader << std::endl;
        return count;
    };
    if (!child::ApplyImage(data, length, tele, channels, countOf)) return false;
    moduleCount_.MarkProvisional();  // the first live analog reply has the last word
    dataReady_ = true;
    updateTime_ = host_local_now();
    return true;
}

// End of a poll cycle: stamp, publish the image, pass the fault check of
// every module (numbered from 1), then the model's catalogue, and queue the
// work item that batches the rules and saves its own copy of the image.
template <class TeleRC, class TeleRCChannel, int RT_RC>
void PMBusPowerRC<TeleRC, TeleRCChannel, RT_RC>::RoundDone() {
    dataReady_ = true;
    updateTime_ = host_local_now();
    child::StampNow(tele.ttime);
    child::BuildImage(send_buffer, send_length, tele, channels);
    SendSP(RT_RC, send_buffer.get(), send_length, false);
    ruleSeq_ = 1;
    for (size_t k = 0; k < channels.size(); ++k) PassModuleRules(channels[k], k, rc::kModuleFault);
    DoImpCheckAlert();
    HandOverCycle(child::ImageCopy(send_buffer, send_length));
}

template <class TeleRC, class TeleRCChannel, int RT_RC>
template <size_t N>
void PMBusPowerRC<TeleRC, TeleRCChannel, RT_RC>::PassModuleRules(
    const TeleRCChannel& module, size_t index, const std::array<rc::ModuleRule, N>& rules) {
    static_assert(rc::ReadsInside(rc::kModuleAlarms, TeleRCChannel::P41_44_SIZE()));
    const std::string prefix = rc::kModulePrefix + std::to_string(index + 1);
    for (const rc::ModuleRule& row : rules) {
        const uint8_t value =
            row.source == rc::ModuleByte::Fault ? module.fault : module.alarm_user[row.index];
        CheckThresholdBool(row.level, row.key, row.code, row.name, prefix + row.detail,
                           value == row.active, ruleSeq_);
        if (row.advances) ++ruleSeq_;
    }
}

// Always fails: no data yet, data too old, or (fresh data) no such key.
template <class TeleRC, class TeleRCChannel, int RT_RC>
float PMBusPowerRC<TeleRC, TeleRCChannel, RT_RC>::Get_Value(unsigned int /*index*/,
                                                            const std::string& /*key*/) const {
    child::RequireFresh(dataReady_, updateTime_);
    throw std::out_of_range(child::kNotReady);
}
