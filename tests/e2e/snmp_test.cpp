// The SNMP output end to end: the monitor as an AgentX subagent of Debian's
// snmpd, read with snmpwalk by numeric OID against the simulator's values,
// notifications to snmptrapd, and the subagent joining a restarted snmpd.
#include <gtest/gtest.h>

#include "Emulator.h"
#include "ProcessKit.h"
#include "SnmpDaemons.h"

using namespace testing_support;

namespace {
const std::string kMonitor = TRM27K_MONITOR_PATH;
const std::string kSim = TRM27K_SIM_PATH;
const std::string kEntPhysical = ".1.3.6.1.2.1.47.1.1.1.1";
const std::string kSensor = ".1.3.6.1.2.1.99.1.1.1";
const std::string kState = ".1.3.6.1.2.1.131.1.1.1";
const std::string kAlarm = ".1.3.6.1.4.1.8072.9999.27.1.1.1";

// The entity index of the entity named `name`, as text; empty when none is.
std::string IndexOf(const std::map<std::string, std::string>& entities, const std::string& name) {
    const std::string column = kEntPhysical + ".7.";
    for (const auto& [oid, value] : entities) {
        if (oid.rfind(column, 0) == 0 && value == "\"" + name + "\"") return oid.substr(column.size());
    }
    return "";
}

size_t SnmpEvents(const std::string& events, const char* state) {
    size_t n = 0;
    for (const auto& e : EventsOf(ReadEvents(events), "snmp")) n += e["state"].asString() == state;
    return n;
}

void SetScenario(const std::string& path, const std::string& text) {
    WriteFile(path + ".new", text);
    std::rename((path + ".new").c_str(), path.c_str());
}

struct Site {
    explicit Site(const std::string& dir, const std::string& scenarioText) : scenario(dir + "/scenario.json") {
        WriteFile(scenario, scenarioText);
        sim = std::make_unique<Process>(std::vector<std::string>{kSim, "--pty", "--scenario", scenario}, true);
    }
    void StartMonitor(const std::string& dir, const std::string& socket) {
        monitor = std::make_unique<Process>(
            std::vector<std::string>{kMonitor, "--fast", "--quiet", "--port", sim->FirstLine(), "--events",
                                     dir + "/events.jsonl", "--events-omit", "command,record,rules,cycle",
                                     "--snmp-agentx", socket},
            false, dir + "/monitor.err");
    }
    std::string scenario;
    std::unique_ptr<Process> sim;
    std::unique_ptr<Process> monitor;
};
}  // namespace

TEST(SnmpEndToEnd, EntityAndSensorTablesAndReconnect) {
    // Under qemu-arm the host's snmpd and snmptrapd, started from the
    // emulated test, never come up; the module is cross-built and packaged,
    // and these run natively and under the sanitizers.
    if (IsEmulated()) GTEST_SKIP() << "snmpd cannot be started from an emulated test";
    const ScratchDir scratch("snmp");
    const std::string& dir = scratch.Path();
    MasterAgent snmpd(dir, 0);
    ASSERT_TRUE(snmpd.Start()) << FileText(snmpd.Log());
    // Phase B current of the first AC screen is sent as not provided.
    Site site(dir, R"({"ac": {"0": {"ib": "20202020"}}})");
    site.StartMonitor(dir, snmpd.Socket());
    std::map<std::string, std::string> sensors;
    ASSERT_TRUE(WaitUntil(60, [&] {
        sensors = Walk(snmpd.Port(), kSensor);
        return sensors.size() > 20;
    })) << FileText(dir + "/monitor.err");
    const auto entities = Walk(snmpd.Port(), kEntPhysical);

    EXPECT_EQ("3", entities.at(kEntPhysical + ".5.1")) << "the power system is the chassis";
    EXPECT_NE(std::string::npos, entities.at(kEntPhysical + ".13.1").find("TRM27K"));
    const std::string dc = IndexOf(entities, "DC screen 21");
    const std::string bus = IndexOf(entities, "DC screen 21 bus voltage");
    ASSERT_FALSE(dc.empty());
    ASSERT_FALSE(bus.empty());
    EXPECT_EQ("1", entities.at(kEntPhysical + ".4." + dc));
    EXPECT_EQ(dc, entities.at(kEntPhysical + ".4." + bus));
    EXPECT_EQ("8", entities.at(kEntPhysical + ".5." + bus));
    const std::string module = IndexOf(entities, "rectifier module 1");
    ASSERT_FALSE(module.empty());
    EXPECT_EQ(module, entities.at(kEntPhysical + ".4." + IndexOf(entities, "rectifier module 1 output current")));

    // 53.5 V at precision 2, volts DC, ok.
    EXPECT_EQ("4", sensors.at(kSensor + ".1." + bus));
    EXPECT_EQ("2", sensors.at(kSensor + ".3." + bus));
    EXPECT_EQ("5350", sensors.at(kSensor + ".4." + bus));
    EXPECT_EQ("1", sensors.at(kSensor + ".5." + bus));
    const std::string voltage = IndexOf(entities, "AC screen 11 channel 1 voltage A");
    ASSERT_FALSE(voltage.empty());
    EXPECT_EQ("3", sensors.at(kSensor + ".1." + voltage));
    EXPECT_EQ("2301", sensors.at(kSensor + ".4." + voltage));
    const std::string missing = IndexOf(entities, "AC screen 11 phase B current");
    ASSERT_FALSE(missing.empty());
    EXPECT_EQ("2", sensors.at(kSensor + ".5." + missing)) << "not provided: unavailable";
    EXPECT_EQ("1", sensors.at(kSensor + ".5." + IndexOf(entities, "AC screen 11 phase A current")));
    const auto states = Walk(snmpd.Port(), kState);
    EXPECT_EQ("3", states.at(kState + ".3.1")) << "the power system is enabled";

    // snmpd restarts: the subagent is lost for a moment and joins again.
    snmpd.Stop();
    ASSERT_TRUE(WaitUntil(30, [&] { return SnmpEvents(dir + "/events.jsonl", "down") == 1; }));
    ASSERT_TRUE(snmpd.Start());
    ASSERT_TRUE(WaitUntil(40, [&] { return Walk(snmpd.Port(), kSensor + ".4." + bus).size() == 1; }))
        << FileText(dir + "/monitor.err");
    EXPECT_EQ(2u, SnmpEvents(dir + "/events.jsonl", "up")) << "the first join and the one after the restart";
    EXPECT_NE(std::string::npos, FileText(dir + "/monitor.err").find("cannot be reached"));
    EXPECT_EQ(0, site.monitor->Stop());
    EXPECT_EQ(0, site.sim->Stop());
    snmpd.Stop();
}

TEST(SnmpEndToEnd, AlarmRaiseAndClearReachTheTrapSink) {
    // Under qemu-arm the host's snmpd and snmptrapd, started from the
    // emulated test, never come up; the module is cross-built and packaged,
    // and these run natively and under the sanitizers.
    if (IsEmulated()) GTEST_SKIP() << "snmpd cannot be started from an emulated test";
    const ScratchDir scratch("snmptrap");
    const std::string& dir = scratch.Path();
    TrapSink sink(dir);
    ASSERT_TRUE(sink.Start()) << FileText(sink.Log());
    MasterAgent snmpd(dir, sink.Port());
    ASSERT_TRUE(snmpd.Start()) << FileText(snmpd.Log());
    Site site(dir, "{}");
    site.StartMonitor(dir, snmpd.Socket());
    ASSERT_TRUE(WaitUntil(60, [&] { return !Walk(snmpd.Port(), kSensor + ".4").empty(); }));
    EXPECT_TRUE(Walk(snmpd.Port(), kAlarm).empty());

    SetScenario(site.scenario, R"({"ac": {"0": {"channels": {"0": {"c_alert": 2}}}}})");
    // snmptrapd names the OIDs from "iso" and parts varbinds with a tab.
    const std::string raised = "8072.9999.27.0.1\t";
    ASSERT_TRUE(WaitUntil(30, [&] { return FileText(sink.Log()).find(raised) != std::string::npos; }))
        << FileText(sink.Log());
    // The alarm's row: level, texts, the AC screen it concerns.
    const auto alarms = Walk(snmpd.Port(), kAlarm);
    ASSERT_FALSE(alarms.empty());
    const auto entities = Walk(snmpd.Port(), kEntPhysical);
    const std::string entity = kAlarm + ".5.1";
    ASSERT_EQ(1u, alarms.count(entity));
    EXPECT_EQ(IndexOf(entities, "AC screen 11"), alarms.at(entity));
    EXPECT_NE(std::string::npos, FileText(sink.Log()).find("8072.9999.27.1.1.1.5.1 = INTEGER: " + alarms.at(entity)));

    SetScenario(site.scenario, "{}");
    const std::string cleared = "8072.9999.27.0.2\t";
    ASSERT_TRUE(WaitUntil(30, [&] { return FileText(sink.Log()).find(cleared) != std::string::npos; }))
        << FileText(sink.Log());
    EXPECT_TRUE(Walk(snmpd.Port(), kAlarm).empty());
    EXPECT_EQ(0, site.monitor->Stop());
    EXPECT_EQ(0, site.sim->Stop());
    snmpd.Stop();
    sink.Stop();
}
