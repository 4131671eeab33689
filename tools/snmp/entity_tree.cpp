#include "entity_tree.h"

#include <algorithm>
#include <cmath>

#include "record_values.h"
#include "sensor_table.h"

namespace snmp {

namespace {
// What each record type is on the entity tree: the child's own name, and its
// channel records' name and class (0: the channels are no entities of their
// own, their sensors sit in the child).
struct ChildKind {
    int recordType;
    const char* name;
    const char* channelName;
    int channelClass;
};

constexpr ChildKind kKinds[] = {
    {5175, "AC screen", "channel", 0},
    {5176, "DC screen", nullptr, 0},
    {5177, "rectifier group", "rectifier module", kPowerSupply},
};

const ChildKind* KindOf(int recordType) {
    for (const ChildKind& kind : kKinds) {
        if (kind.recordType == recordType) return &kind;
    }
    return nullptr;
}

// Builds the entities of one child inside its block of indexes.
class ChildBuilder {
public:
    ChildBuilder(EntityTree& tree, const site::ChildState& child, int base, int status)
        : tree_(tree), child_(child), next_(base), status_(status) {}

    void Build(const ChildKind& kind, const site::Layout& layout, int relPos);

private:
    int Add(int containedIn, int entityClass, int relPos, std::string name) {
        tree_.entities.push_back({next_, containedIn, entityClass, relPos, std::move(name), ""});
        return next_++;
    }
    void AddSensor(int containedIn, const std::string& prefix, const SensorRow& row,
                   const site::Field* field, const uint8_t* base, size_t item);
    void AddRows(const site::Table& table, Where where, int containedIn, const std::string& prefix,
                 const uint8_t* base);
    void AddBatteries(const site::Table& table, int screen, const std::string& prefix);
    void AddState(int index) {
        tree_.states.push_back({index, status_ == kOk ? kOperEnabled
                                       : status_ == kNonOperational ? kOperDisabled
                                                                    : kOperUnknown, 0});
    }

    EntityTree& tree_;
    const site::ChildState& child_;
    int next_;
    int status_;  // the child's sensors' status while their values are there
};

void ChildBuilder::AddSensor(int containedIn, const std::string& prefix, const SensorRow& row,
                             const site::Field* field, const uint8_t* base, size_t item) {
    Sensor s;
    s.index = Add(containedIn, kSensor, -1, prefix + " " + row.name);
    s.type = row.type;
    s.precision = row.precision;
    s.epochMs = child_.epochMs;
    s.status = status_;
    const std::optional<float> v = field == nullptr ? std::nullopt : site::ReadFloat(*field, base, item);
    const std::optional<int32_t> scaled = v ? Scaled(*v, row.precision) : std::nullopt;
    if (status_ == kOk && !scaled) s.status = kUnavailable;
    if (s.status == kOk) s.value = *scaled;
    tree_.sensors.push_back(s);
}

void ChildBuilder::AddRows(const site::Table& table, Where where, int containedIn, const std::string& prefix,
                           const uint8_t* base) {
    for (const SensorRow& row : kSensorRows) {
        if (row.recordType != child_.recordType || row.where != where) continue;
        AddSensor(containedIn, prefix, row, site::FindField(table, row.field), base, 0);
    }
}

// Battery string k holds item k of each battery array; there are as many
// strings as the longer array counts, at most what the record keeps.
void ChildBuilder::AddBatteries(const site::Table& table, int screen, const std::string& prefix) {
    const uint8_t* image = child_.image.data();
    size_t strings = 0;
    for (const SensorRow& row : kBatteryRows) {
        const site::Field* values = site::FindField(table, row.field);
        if (row.recordType == child_.recordType && values != nullptr) {
            strings = std::max(strings, site::AnnouncedItems(*values, image));
        }
    }
    for (size_t k = 0; k < strings; ++k) {
        const std::string name = prefix + " battery " + std::to_string(k + 1);
        const int battery = Add(screen, kModule, static_cast<int>(k + 1), name);
        AddState(battery);
        for (const SensorRow& row : kBatteryRows) {
            const site::Field* values = site::FindField(table, row.field);
            const bool there = values != nullptr && k < site::AnnouncedItems(*values, image);
            AddSensor(battery, name, row, there ? values : nullptr, image, k);
        }
    }
}

void ChildBuilder::Build(const ChildKind& kind, const site::Layout& layout, int relPos) {
    const std::string name = std::string(kind.name) + " " + std::to_string(child_.dataId);
    const int screen = Add(kChassisIndex, kModule, relPos, name);
    tree_.owners.push_back({child_.dataId, screen});
    AddState(screen);
    const std::optional<size_t> channels = site::ChannelCount(layout, child_.image.data(), child_.image.size());
    if (!channels) return;  // an image that does not fit its layout has no values to show
    const uint8_t* image = child_.image.data();
    AddRows(layout.header, Where::Header, screen, name, image);
    AddBatteries(layout.header, screen, name);
    for (size_t c = 0; c < *channels; ++c) {
        const uint8_t* record = image + layout.headerSize + c * layout.channelSize;
        std::string prefix = name + " " + kind.channelName + " " + std::to_string(c + 1);
        int container = screen;
        if (kind.channelClass != 0) {
            prefix = std::string(kind.channelName) + " " + std::to_string(c + 1);
            container = Add(screen, kind.channelClass, static_cast<int>(c + 1), prefix);
            AddState(container);
        }
        AddRows(layout.channel, Where::Channel, container, prefix, record);
    }
}

// A child's line is its own power system's (with several, one silent
// system's sensors are nonoperational, the others' are not).
int ChildStatus(const site::Snapshot& snapshot, const site::ChildState& child, int64_t nowEpochMs) {
    const site::DeviceState* system = snapshot.Device(child.system);
    if (!(system != nullptr && snapshot.Several() ? system->linkUp : snapshot.linkUp)) return kNonOperational;
    return site::IsStale(child, nowEpochMs) ? kUnavailable : kOk;
}

void MarkAlarms(const site::Snapshot& snapshot, EntityTree& tree) {
    for (const site::RuleState& r : snapshot.rules) {
        if (r.raisedTime.empty()) continue;
        const int index = tree.EntityOf(r.rule.data_id);
        for (StateRow& row : tree.states) {
            if (row.index == index) row.alarmBits |= AlarmBit(r.rule.level);
        }
    }
}
}  // namespace

int EntityTree::EntityOf(unsigned int dataId) const {
    for (const Owner& o : owners) {
        if (o.dataId == dataId) return o.index;
    }
    return kChassisIndex;
}

uint8_t AlarmBit(int level) {
    // BITS: bit 0 is the first octet's high bit; critical(2), major(3),
    // minor(4), warning(5).
    return level >= 1 && level <= 4 ? static_cast<uint8_t>(0x80 >> (level + 1)) : 0;
}

std::optional<int32_t> Scaled(float value, int precision) {
    const double scaled = std::round(static_cast<double>(value) * std::pow(10.0, precision));
    if (!std::isfinite(scaled) || std::fabs(scaled) > 1e9) return std::nullopt;
    return static_cast<int32_t>(scaled);
}

EntityTree BuildTree(const site::Snapshot& snapshot, int64_t nowEpochMs) {
    EntityTree tree;
    tree.entities.push_back({kChassisIndex, 0, kChassis, -1, "power system", snapshot.model});
    tree.states.push_back({kChassisIndex, snapshot.seq == 0 ? kOperUnknown
                                          : snapshot.Available() ? kOperEnabled : kOperDisabled, 0});
    std::vector<const site::ChildState*> children;
    for (const site::ChildState& c : snapshot.children) children.push_back(&c);
    std::sort(children.begin(), children.end(),
              [](const site::ChildState* a, const site::ChildState* b) { return a->dataId < b->dataId; });
    int position = 0;
    for (const site::ChildState* child : children) {
        const ChildKind* kind = KindOf(child->recordType);
        const site::Layout* layout = site::LayoutOf(child->recordType);
        if (kind == nullptr || layout == nullptr) continue;
        ++position;
        ChildBuilder(tree, *child, position * kBlock, ChildStatus(snapshot, *child, nowEpochMs))
            .Build(*kind, *layout, position);
    }
    MarkAlarms(snapshot, tree);
    return tree;
}

}  // namespace snmp
