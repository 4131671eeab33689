#pragma once
// Every object the agent answers for, as one list sorted by OID: the rows of
// entPhysicalTable, entPhySensorTable, entStateTable and the active-alarm
// table, built from one entity tree and the active alarms. A GET looks an OID
// up, a GETNEXT takes the first one after it; nothing is built per request.
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <cstdint>
#include <string>
#include <vector>

#include "entity_tree.h"

namespace snmp {

// The private module's root: net-snmp's experimental arc until the project
// has a Private Enterprise Number of its own.
constexpr oid kEnterpriseRoot[] = {1, 3, 6, 1, 4, 1, 8072, 9999, 27};

// The subtrees the agent registers with the master agent.
struct Subtree {
    const oid* name;
    size_t length;
};
const std::vector<Subtree>& Subtrees();

struct AlarmRow {
    uint32_t index = 0;
    int level = 0;
    std::string text;      // the device's text, and its detail's
    std::string name;      // English
    int entity = kChassisIndex;
    std::string raised;    // DateAndTime, 11 octets; empty when unknown
};

struct Cell {
    std::vector<oid> name;
    u_char type = ASN_INTEGER;  // ASN_OBJECT_ID: zeroDotZero
    long number = 0;
    std::string bytes;
};

class MibView {
public:
    // `uptimeCs`: the agent's uptime now, in hundredths of a second, which
    // sensor timestamps are counted against.
    void Build(const EntityTree& tree, const std::vector<AlarmRow>& alarms, int64_t nowEpochMs, long uptimeCs,
               long updateRateMs);
    // The cell of `name`, or with `next` the first cell after it (or at it,
    // when `inclusive`) below `root`; nullptr when there is none.
    const Cell* Find(const oid* name, size_t length, bool next, bool inclusive, const Subtree& root) const;
    const std::vector<Cell>& Cells() const { return cells_; }

private:
    std::vector<Cell> cells_;
};

// The varbinds of a raise or clear notification, after snmpTrapOID.0.
void AlarmVarbinds(const AlarmRow& alarm, netsnmp_variable_list** list);
// An alarm's raised time as DateAndTime in UTC; empty for a text that is no time.
std::string DateAndTimeOf(const std::string& isoTime);

}  // namespace snmp
