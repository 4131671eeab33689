#pragma once
// The site as the entity MIBs see it, built from one snapshot: the power
// system (chassis), its AC and DC screens, the rectifier group and modules,
// the battery strings and one sensor per value the status page shows, each
// with its entPhysicalIndex, its container, and for sensors the reading.
//
// Indexes stay put from one snapshot to the next: the power system is 1, each
// child (by data id) owns a block of kBlock indexes, and the entities inside
// a child are numbered in a fixed order within its block.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "site_snapshot.h"

namespace snmp {

constexpr int kChassisIndex = 1;
constexpr int kBlock = 10000;

// entPhysicalClass
enum EntityClass { kChassis = 3, kPowerSupply = 6, kSensor = 8, kModule = 9 };
// entPhySensorOperStatus
enum SensorStatus { kOk = 1, kUnavailable = 2, kNonOperational = 3 };
// entStateOper
enum OperState { kOperUnknown = 1, kOperDisabled = 2, kOperEnabled = 3 };

struct Entity {
    int index = 0;
    int containedIn = 0;
    int entityClass = kModule;
    int relPos = -1;
    std::string name;
    std::string model;  // the power system's model; empty for the parts
};

struct Sensor {
    int index = 0;       // the sensor's entity
    int type = 0;
    int precision = 0;
    int32_t value = 0;   // the reading times 10^precision; 0 when not ok
    int status = kUnavailable;
    int64_t epochMs = 0; // when the child published the reading
    long timeStampCs = 0;   // entPhySensorValueTimeStamp, set by the view
    long updateRateMs = 0;  // entPhySensorValueUpdateRate, set by the view
};

// entStateTable rows: the chassis, the screens, the group and its modules.
struct StateRow {
    int index = 0;
    int oper = kOperUnknown;
    uint8_t alarmBits = 0;  // entStateAlarm's first octet
};

struct EntityTree {
    std::vector<Entity> entities;  // by index
    std::vector<Sensor> sensors;   // by index
    std::vector<StateRow> states;  // by index
    // The entity an alarm of `dataId` concerns: the child's screen or group,
    // else the power system.
    int EntityOf(unsigned int dataId) const;
    struct Owner {
        unsigned int dataId;
        int index;
    };
    std::vector<Owner> owners;
};

EntityTree BuildTree(const site::Snapshot& snapshot, int64_t nowEpochMs);

// entStateAlarm's bit for an alarm level (1 critical, 2 major, 3 minor,
// 4 warning); 0 for a level outside.
uint8_t AlarmBit(int level);

// A reading as entPhySensorValue carries it; nothing when it is no number or
// beyond the object's range.
std::optional<int32_t> Scaled(float value, int precision);

}  // namespace snmp
