#!/usr/bin/env python3
"""Home Assistant discovery against what the monitor really publishes: a
mosquitto broker, the simulator and the monitor, with the first AC channel's
frequency not provided, the third rectifier module failed and the first DC
screen's batteries discharging. Every discovery payload's template is
rendered with Jinja2, as Home Assistant renders it, against the retained
message of its state topic (none for a value not provided): a measurement yields a number or None (unknown),
never an error and never a 0 the device did not send; against an empty
state it yields None. Every payload has a device, a unique id, availability
whose topics are published, a device class that fits its unit, and a
via_device that names a device some payload announces.

    ha_discovery_test.py MONITOR SIM WORKDIR

Exit 0 on success, 1 on a failed check. Processes are started and stopped
by their ids; traffic stays on loopback.
"""
import json
import os
import shutil
import signal
import socket
import subprocess
import sys

import jinja2

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from checks import Failed, check, free_port, wait_for  # noqa: E402

SCENARIO = {
    "ac": {"0": {"channels": {"0": {"f": "20202020"}}}},
    "rc": {"modules": {"2": {"fault": 1}}},
    "dc": {"0": {"m": [-12.5, -11.75]}},
}
UNITS = {"voltage": "V", "current": "A", "frequency": "Hz", "temperature": "\u00b0C"}
BINARY_CLASSES = {"problem", "connectivity"}
SITE = "ha"


def listening(port):
    with socket.socket() as s:
        return s.connect_ex(("127.0.0.1", port)) == 0


def start(args, **kw):
    return subprocess.Popen(args, stdin=subprocess.DEVNULL, **kw)


def stop(proc):
    if proc.poll() is None:
        os.kill(proc.pid, signal.SIGTERM)
        try:
            proc.wait(timeout=20)
        except subprocess.TimeoutExpired:
            os.kill(proc.pid, signal.SIGKILL)
            proc.wait()


def retained(log):
    """The newest payload of every topic in the subscriber's log."""
    latest = {}
    with open(log, encoding="utf-8") as f:
        for line in f:
            if line.endswith("\n") and "\t" in line:
                topic, payload = line[:-1].split("\t", 1)
                latest[topic] = payload
    return latest


def render(env, template, payload):
    try:
        value_json = json.loads(payload)
    except ValueError:
        value_json = None
    return env.from_string(template).render(value_json=value_json, value=payload).strip()


def is_number(text):
    try:
        float(text)
        return True
    except ValueError:
        return False


def check_config(topic, config, topics, announced):
    check("unique_id" in config and "identifiers" in config.get("device", {}), topic + ": device, unique_id")
    component = topic.split("/")[1]
    if component == "sensor":
        check(UNITS.get(config.get("device_class")) == config.get("unit_of_measurement"),
              "%s: %s in %s" % (topic, config.get("device_class"), config.get("unit_of_measurement")))
    else:
        check(component == "binary_sensor" and config.get("device_class") in BINARY_CLASSES
              and "unit_of_measurement" not in config, topic + ": binary sensor class")
    if config["state_topic"] == "trm27k/%s/status" % SITE:
        check(config["device_class"] == "connectivity", topic + ": the status topic is the link's state")
    else:
        check(config.get("availability") and config.get("availability_mode") == "all", topic + ": availability")
        for a in config["availability"]:
            check(topics.get(a["topic"]) == a["payload_available"], topic + ": " + a["topic"] + " online")
    via = config["device"].get("via_device")
    check(via is None or via in announced, topic + ": via_device %s is announced" % via)


def check_renders(env, configs, topics):
    shown = {}
    for topic, config in configs.items():
        # A value on a topic of its own has no retained message while the
        # power system does not provide it.
        plain = "value_json" not in config.get("value_template", "value_json")
        state = topics.get(config["state_topic"], "" if plain else None)
        check(state is not None, topic + ": its state topic has a retained message")
        if "value_template" not in config:
            continue
        value = render(env, config["value_template"], state)
        empty = render(env, config["value_template"], "" if plain else "{}")
        if topic.split("/")[1] == "sensor":
            check(value == "None" or (is_number(value) and float(value) != 0.0), "%s renders %r" % (topic, value))
            check(empty == "None", "%s renders %r for an empty state" % (topic, empty))
        else:
            check(value in ("ON", "OFF"), "%s renders %r" % (topic, value))
            check(empty in ("None", "OFF"), "%s renders %r for an empty state" % (topic, empty))
        shown[config["name"] + "@" + config["device"]["identifiers"][0]] = value
    return shown


def check_scenario(shown):
    ac, dc, rc = "@trm27k_ha_11", "@trm27k_ha_21", "@trm27k_ha_1"
    expected = {
        "Channel 1 frequency" + ac: "None", "Channel 2 frequency" + ac: "50.0",
        "Channel 1 phase A voltage" + ac: "230.1", "Phase A current" + ac: "12.5",
        "Battery 1 current" + dc: "-12.5", "Battery 2 temperature" + dc: "25.5",
        "Module 3 fault" + rc: "ON", "Module 2 fault" + rc: "OFF", "Output voltage" + rc: "53.5",
        "Rectifier module fault" + rc: "ON", "AC input voltage high" + ac: "OFF",
    }
    for name, value in expected.items():
        check(shown.get(name) == value, "%s shows %r, not %r" % (name, shown.get(name), value))
    check(is_number(shown.get("Module 1 output current" + rc, "")), "module 1 output current")


def check_all(env, topics):
    configs = {t: json.loads(p) for t, p in topics.items() if t.startswith("homeassistant/") and p}
    link = configs.get("homeassistant/binary_sensor/trm27k_ha/link/config")
    check(link and link["payload_on"] == topics.get(link["state_topic"]), "the link is on")
    announced = {i for c in configs.values() for i in c["device"]["identifiers"]}
    check(len({c["unique_id"] for c in configs.values()}) == len(configs), "unique ids are unique")
    for topic, config in configs.items():
        check_config(topic, config, topics, announced)
    check_scenario(check_renders(env, configs, topics))
    return len(configs)


def run(monitor, sim, work):
    env = jinja2.Environment()
    port = free_port()
    conf = os.path.join(work, "mosquitto.conf")
    with open(conf, "w") as f:
        f.write("listener %d 127.0.0.1\nallow_anonymous true\n" % port)
    scenario = os.path.join(work, "scenario.json")
    with open(scenario, "w") as f:
        json.dump(SCENARIO, f)
    log = os.path.join(work, "messages.tsv")
    procs = []
    try:
        procs.append(start(["/usr/sbin/mosquitto", "-c", conf], stderr=subprocess.DEVNULL))
        sub_out = open(log, "w")
        wait_for(10, lambda: listening(port), "the broker")
        procs.append(start(["mosquitto_sub", "-h", "127.0.0.1", "-p", str(port), "-t", "trm27k/#",
                            "-t", "homeassistant/#", "-F", "%t\t%p"], stdout=sub_out))
        procs.append(start([sim, "--pty", "--scenario", scenario], stdout=subprocess.PIPE, text=True))
        pty = procs[-1].stdout.readline().strip()
        check(pty, "the simulator's pseudo-terminal")
        procs.append(start([monitor, "--fast", "--quiet", "--port", pty, "--site", SITE,
                            "--mqtt", "127.0.0.1:%d" % port, "--mqtt-heartbeat", "0",
                            "--plugin-stdout", os.path.join(work, "plugin.log")],
                           stderr=open(os.path.join(work, "monitor.err"), "w")))

        # Checked again until everything the monitor sends has arrived; the
        # last failure is the one reported.
        last = [None]

        def attempt():
            try:
                return check_all(env, retained(log))
            except Failed as e:
                last[0] = e
                return None
        try:
            count = wait_for(60, attempt, "states, alarms and discovery")
        except Failed:
            raise last[0] or Failed("nothing arrived")
        print("%d discovery payloads rendered" % count)
    finally:
        for proc in reversed(procs):
            stop(proc)


def main():
    monitor, sim, work = sys.argv[1:4]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    try:
        run(monitor, sim, work)
    except Failed as e:
        print("FAILED:", e)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
