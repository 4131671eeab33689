#include "value_topics.h"

#include <algorithm>

#include "change_rule.h"
#include "float_json.h"
#include "record_values.h"

namespace mqtt {

namespace {
// How many entities a row makes for one child: one for a header field, one
// per channel record, one per array value the device announced (at most what
// the record keeps).
size_t CountOf(const site::Layout& layout, const EntityRow& row, const uint8_t* image, size_t channels) {
    if (row.scope == Scope::Header) return 1;
    if (row.scope == Scope::Channel) return channels;
    const site::Field* values = site::FindField(layout.header, row.field);
    return values != nullptr ? site::AnnouncedItems(*values, image) : 0;
}

std::optional<float> Measurement(const ValueSlot& slot) {
    if (slot.row->shape != Shape::Measurement) return std::nullopt;
    return site::ReadFloat(*slot.field, slot.base, slot.index);
}
}  // namespace

std::vector<ValueSlot> ValueSlots(const site::ChildState& child) {
    std::vector<ValueSlot> slots;
    const site::Layout* layout = site::LayoutOf(child.recordType);
    if (layout == nullptr) return slots;
    const uint8_t* image = child.image.data();
    const auto channels = site::ChannelCount(*layout, image, child.image.size());
    if (!channels) return slots;
    for (const EntityRow& row : kEntityRows) {
        if (row.recordType != child.recordType) continue;
        const bool inChannel = row.scope == Scope::Channel;
        const site::Field* field = site::FindField(inChannel ? layout->channel : layout->header, row.field);
        if (field == nullptr) continue;
        const size_t count = CountOf(*layout, row, image, *channels);
        for (size_t k = 0; k < count; ++k) {
            const bool numbered = row.scope != Scope::Header;
            std::string object = numbered ? row.idPrefix + std::to_string(k) + "_" + row.field : row.field;
            const uint8_t* base = inChannel ? image + layout->headerSize + layout->channelSize * k : image;
            slots.push_back({&row, k, std::move(object), field, base, row.scope == Scope::Element ? k : 0});
        }
    }
    return slots;
}

std::string ValueTopic(const MqttSettings& s, unsigned int dataId, const std::string& object) {
    return SiteBase(s) + std::to_string(dataId) + "/" + object;
}

namespace {
// A slot's value as JSON: the byte of a state, the number of a measurement;
// nothing when the power system did not provide it.
std::optional<Json::Value> ValueJson(const ValueSlot& slot) {
    if (slot.field->kind == site::Kind::U8) return Json::Value(slot.base[slot.field->offset]);
    const std::optional<float> v = site::ReadFloat(*slot.field, slot.base, slot.index);
    if (!v) return std::nullopt;
    return site::FloatJson(*v);
}
}  // namespace

std::optional<std::string> ValuePayload(const ValueSlot& slot) {
    const std::optional<Json::Value> v = ValueJson(slot);
    if (!v) return std::nullopt;
    return CompactJson(*v);
}

Message ValuesMessage(const MqttSettings& s, const site::ChildState& child) {
    Json::Value v(Json::objectValue);
    for (const ValueSlot& slot : ValueSlots(child)) {
        if (std::optional<Json::Value> value = ValueJson(slot)) v[slot.object] = std::move(*value);
    }
    return {Kind::State, ValueTopic(s, child.dataId, "values"), CompactJson(v), true};
}

void ValueReports::Collect(const MqttSettings& s, const site::ChildState& child, bool all,
                           std::vector<Message>& out) {
    const std::string prefix = ValueTopic(s, child.dataId, "");
    std::vector<std::string> kept;
    for (const ValueSlot& slot : ValueSlots(child)) {
        std::string topic = prefix + slot.object;
        const std::optional<std::string> payload = ValuePayload(slot);
        auto last = reported_.find(topic);
        if (!payload) continue;  // removed below when it was reported
        kept.push_back(topic);
        const std::optional<float> value = Measurement(slot);
        if (!all && last != reported_.end()) {
            const std::optional<float> limit = site::ValueThreshold(child.recordType, slot.row->field, child.limits);
            const bool moved = value && limit ? site::ValueMoved(last->second.value, value, *limit)
                                              : last->second.payload != *payload;
            if (!moved) continue;
        }
        out.push_back({Kind::State, topic, *payload, true});
        reported_[std::move(topic)] = {value, *payload};
    }
    // What this child reported before and no longer provides or has.
    for (auto it = reported_.lower_bound(prefix); it != reported_.end() && it->first.rfind(prefix, 0) == 0;) {
        if (std::find(kept.begin(), kept.end(), it->first) != kept.end()) {
            ++it;
            continue;
        }
        out.push_back({Kind::State, it->first, "", true});  // an empty retained message removes the value
        it = reported_.erase(it);
    }
}

}  // namespace mqtt
