#include "mib_view.h"

#include <algorithm>
#include <ctime>
#include <iterator>

#include "local_time.h"
#include "sensor_table.h"

namespace snmp {

namespace {
constexpr oid kEntPhysicalEntry[] = {1, 3, 6, 1, 2, 1, 47, 1, 1, 1, 1};
constexpr oid kEntPhySensorEntry[] = {1, 3, 6, 1, 2, 1, 99, 1, 1, 1};
constexpr oid kEntStateEntry[] = {1, 3, 6, 1, 2, 1, 131, 1, 1, 1};
constexpr oid kAlarmEntry[] = {1, 3, 6, 1, 4, 1, 8072, 9999, 27, 1, 1, 1};

// Units per sensor type, as entPhySensorUnitsDisplay shows them.
const char* UnitsOf(int type) {
    switch (type) {
        case kVoltsAc: return "V AC";
        case kVoltsDc: return "V DC";
        case kAmperes: return "A";
        case kHertz: return "Hz";
        case kCelsius: return "C";
        default: return "";
    }
}

// One column of a table: its number, its type, and how a row fills it.
template <class Row>
struct Column {
    oid number;
    u_char type;
    void (*fill)(const Row&, Cell&);
};

constexpr Column<Entity> kEntityColumns[] = {
    {2, ASN_OCTET_STR, [](const Entity& e, Cell& c) { c.bytes = e.name; }},                 // Descr
    {3, ASN_OBJECT_ID, [](const Entity&, Cell&) {}},                                        // VendorType
    {4, ASN_INTEGER, [](const Entity& e, Cell& c) { c.number = e.containedIn; }},           // ContainedIn
    {5, ASN_INTEGER, [](const Entity& e, Cell& c) { c.number = e.entityClass; }},           // Class
    {6, ASN_INTEGER, [](const Entity& e, Cell& c) { c.number = e.relPos; }},                // ParentRelPos
    {7, ASN_OCTET_STR, [](const Entity& e, Cell& c) { c.bytes = e.name; }},                 // Name
    {8, ASN_OCTET_STR, [](const Entity&, Cell&) {}},                                        // HardwareRev
    {9, ASN_OCTET_STR, [](const Entity&, Cell&) {}},                                        // FirmwareRev
    {10, ASN_OCTET_STR, [](const Entity&, Cell&) {}},                                       // SoftwareRev
    {11, ASN_OCTET_STR, [](const Entity&, Cell&) {}},                                       // SerialNum
    {12, ASN_OCTET_STR, [](const Entity&, Cell&) {}},                                       // MfgName
    {13, ASN_OCTET_STR, [](const Entity& e, Cell& c) { c.bytes = e.model; }},               // ModelName
    {14, ASN_OCTET_STR, [](const Entity&, Cell&) {}},                                       // Alias
    {15, ASN_OCTET_STR, [](const Entity&, Cell&) {}},                                       // AssetID
    {16, ASN_INTEGER, [](const Entity& e, Cell& c) { c.number = e.entityClass == kPowerSupply ? 1 : 2; }},  // IsFRU
};

constexpr Column<Sensor> kSensorColumns[] = {
    {1, ASN_INTEGER, [](const Sensor& s, Cell& c) { c.number = s.type; }},
    {2, ASN_INTEGER, [](const Sensor&, Cell& c) { c.number = 9; }},  // units
    {3, ASN_INTEGER, [](const Sensor& s, Cell& c) { c.number = s.precision; }},
    {4, ASN_INTEGER, [](const Sensor& s, Cell& c) { c.number = s.value; }},
    {5, ASN_INTEGER, [](const Sensor& s, Cell& c) { c.number = s.status; }},
    {6, ASN_OCTET_STR, [](const Sensor& s, Cell& c) { c.bytes = UnitsOf(s.type); }},
    {7, ASN_TIMETICKS, [](const Sensor& s, Cell& c) { c.number = s.timeStampCs; }},
    {8, ASN_GAUGE, [](const Sensor& s, Cell& c) { c.number = s.updateRateMs; }},
};

constexpr Column<StateRow> kStateColumns[] = {
    {1, ASN_OCTET_STR, [](const StateRow&, Cell& c) { c.bytes.assign(8, '\0'); }},  // LastChanged: unknown
    {2, ASN_INTEGER, [](const StateRow&, Cell& c) { c.number = 1; }},               // Admin: unknown
    {3, ASN_INTEGER, [](const StateRow& s, Cell& c) { c.number = s.oper; }},
    {4, ASN_INTEGER, [](const StateRow&, Cell& c) { c.number = 1; }},               // Usage: unknown
    {5, ASN_OCTET_STR, [](const StateRow& s, Cell& c) { c.bytes.assign(1, static_cast<char>(s.alarmBits)); }},
    {6, ASN_INTEGER, [](const StateRow&, Cell& c) { c.number = 1; }},               // Standby: unknown
};

constexpr Column<AlarmRow> kAlarmColumns[] = {
    {2, ASN_INTEGER, [](const AlarmRow& a, Cell& c) { c.number = a.level; }},
    {3, ASN_OCTET_STR, [](const AlarmRow& a, Cell& c) { c.bytes = a.text.substr(0, 255); }},
    {4, ASN_OCTET_STR, [](const AlarmRow& a, Cell& c) { c.bytes = a.name.substr(0, 255); }},
    {5, ASN_INTEGER, [](const AlarmRow& a, Cell& c) { c.number = a.entity; }},
    {6, ASN_OCTET_STR, [](const AlarmRow& a, Cell& c) { c.bytes = a.raised.empty() ? std::string(8, '\0') : a.raised; }},
};

std::vector<oid> OidOf(const oid* entry, size_t length, oid column, oid index) {
    std::vector<oid> name(entry, entry + length);
    name.push_back(column);
    name.push_back(index);
    return name;
}

template <class Row, size_t N, size_t M, class IndexOf>
void AddColumns(const oid (&entry)[M], const Column<Row> (&columns)[N], const std::vector<Row>& rows,
                IndexOf indexOf, std::vector<Cell>& out) {
    for (const Column<Row>& column : columns) {
        for (const Row& row : rows) {
            Cell cell;
            cell.name = OidOf(entry, M, column.number, static_cast<oid>(indexOf(row)));
            cell.type = column.type;
            column.fill(row, cell);
            out.push_back(std::move(cell));
        }
    }
}

bool Below(const std::vector<oid>& name, const Subtree& root) {
    return name.size() >= root.length && std::equal(root.name, root.name + root.length, name.begin());
}

int Compare(const std::vector<oid>& a, const oid* b, size_t length) {
    return snmp_oid_compare(a.data(), a.size(), b, length);
}
}  // namespace

const std::vector<Subtree>& Subtrees() {
    static const std::vector<Subtree> subtrees = {
        {kEntPhysicalEntry, std::size(kEntPhysicalEntry) - 1},  // entPhysicalTable
        {kEntPhySensorEntry, std::size(kEntPhySensorEntry) - 1},
        {kEntStateEntry, std::size(kEntStateEntry) - 1},
        {kAlarmEntry, std::size(kAlarmEntry) - 1},
    };
    return subtrees;
}

void MibView::Build(const EntityTree& tree, const std::vector<AlarmRow>& alarms, int64_t nowEpochMs,
                    long uptimeCs, long updateRateMs) {
    cells_.clear();
    AddColumns(kEntPhysicalEntry, kEntityColumns, tree.entities, [](const Entity& e) { return e.index; }, cells_);
    // A reading's time as the agent's uptime when it was taken.
    std::vector<Sensor> sensors = tree.sensors;
    for (Sensor& s : sensors) {
        const long ageCs = static_cast<long>(std::max<int64_t>(0, nowEpochMs - s.epochMs) / 10);
        s.timeStampCs = std::max(0L, uptimeCs - ageCs);
        s.updateRateMs = updateRateMs;
    }
    AddColumns(kEntPhySensorEntry, kSensorColumns, sensors, [](const Sensor& s) { return s.index; }, cells_);
    AddColumns(kEntStateEntry, kStateColumns, tree.states, [](const StateRow& s) { return s.index; }, cells_);
    AddColumns(kAlarmEntry, kAlarmColumns, alarms, [](const AlarmRow& a) { return a.index; }, cells_);
    std::sort(cells_.begin(), cells_.end(), [](const Cell& a, const Cell& b) {
        return snmp_oid_compare(a.name.data(), a.name.size(), b.name.data(), b.name.size()) < 0;
    });
}

const Cell* MibView::Find(const oid* name, size_t length, bool next, bool inclusive, const Subtree& root) const {
    auto it = std::lower_bound(cells_.begin(), cells_.end(), 0, [&](const Cell& c, int) {
        return Compare(c.name, name, length) < 0;
    });
    if (!next) return it != cells_.end() && Compare(it->name, name, length) == 0 ? &*it : nullptr;
    if (it != cells_.end() && !inclusive && Compare(it->name, name, length) == 0) ++it;
    return it != cells_.end() && Below(it->name, root) ? &*it : nullptr;
}

void AlarmVarbinds(const AlarmRow& alarm, netsnmp_variable_list** list) {
    for (const Column<AlarmRow>& column : kAlarmColumns) {
        Cell cell;
        column.fill(alarm, cell);
        const std::vector<oid> name = OidOf(kAlarmEntry, std::size(kAlarmEntry), column.number, alarm.index);
        if (column.type == ASN_INTEGER) {
            snmp_varlist_add_variable(list, name.data(), name.size(), ASN_INTEGER, &cell.number, sizeof cell.number);
        } else {
            snmp_varlist_add_variable(list, name.data(), name.size(), ASN_OCTET_STR, cell.bytes.data(),
                                      cell.bytes.size());
        }
    }
}

std::string DateAndTimeOf(const std::string& isoTime) {
    std::time_t when = 0;
    std::tm utc{};
    if (!site::ParseIsoTime(isoTime, when) || gmtime_r(&when, &utc) == nullptr) return "";
    const int year = utc.tm_year + 1900;
    const char octets[11] = {static_cast<char>(year >> 8), static_cast<char>(year & 0xFF),
                             static_cast<char>(utc.tm_mon + 1), static_cast<char>(utc.tm_mday),
                             static_cast<char>(utc.tm_hour), static_cast<char>(utc.tm_min),
                             static_cast<char>(utc.tm_sec), 0, '+', 0, 0};
    return std::string(octets, sizeof octets);
}

}  // namespace snmp
