#!/usr/bin/env python3
"""The status page in a real browser: headless chromium, driven through its
DevTools protocol, loads the page from a monitor that polls the simulator.
It checks in the rendered page one AC channel, one DC screen and one
rectifier module against the simulator's scenario and a value the device did
not provide; raises an alarm by changing the scenario and sees it appear
without a reload; draws a trend and checks that the chart has points; checks
that a phone-sized screen needs no sideways scrolling. It saves screenshots
and the page's weight and render times in OUTDIR.

    page_test.py MONITOR SIM OUTDIR

Exit 0 on success, 1 on a failed check, 77 (skipped) without chromium.
Processes are started and stopped by their ids; traffic stays on loopback.
"""
import base64
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from checks import Failed, check, free_port, wait_for  # noqa: E402

SKIP = 77
# The scenario: phase B current of the first AC screen not provided.
QUIET = {"ac": {"0": {"ib": "20202020"}}}
# ... and the third voltage alarm of its first channel raised.
ALARM = {"ac": {"0": {"ib": "20202020", "channels": {"0": {"c_alert": 2}}}}}
# The simulator's defaults, as the page shows them.
EXPECTED = {
    "11:channels.0.a": "230.1\u00a0V", "11:channels.0.b": "229.6\u00a0V",
    "11:channels.0.c": "231.0\u00a0V", "11:channels.0.f": "50.00\u00a0Hz",
    "11:ia": "12.5\u00a0A", "11:ib": "\u2014", "11:ic": "12.8\u00a0A",
    "21:v": "53.50\u00a0V", "21:i": "42.0\u00a0A", "21:m_values.0": "5.2\u00a0A",
    "21:n_values.1": "25.5\u00a0\u00b0C",
}
# The chart library (131 KB) comes gzipped: the whole page weighs far less.
WEIGHT_LIMIT = 80 * 1024


def write_scenario(path, scenario):
    with open(path + ".new", "w") as f:
        json.dump(scenario, f)
    os.rename(path + ".new", path)  # the simulator never reads half a file


def get_json(url):
    try:
        with urllib.request.urlopen(url, timeout=2) as r:
            return json.load(r)
    except OSError:
        return None


class DevTools:
    """One page target of chromium over its DevTools WebSocket."""

    def __init__(self, url):
        import websocket  # Debian's python3-websocket
        self.ws = websocket.create_connection(url, timeout=30, suppress_origin=True)
        self.next_id = 0
        self.events = []

    def call(self, method, **params):
        self.next_id += 1
        self.ws.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            message = json.loads(self.ws.recv())
            if message.get("id") == self.next_id:
                if "error" in message:
                    raise Failed(method + ": " + message["error"]["message"])
                return message["result"]
            self.events.append(message)

    def eval(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True, awaitPromise=True)
        if "exceptionDetails" in result:
            raise Failed("script failed: " + expression + ": " + json.dumps(result["exceptionDetails"]))
        return result["result"].get("value")

    def screenshot(self, path):
        """The whole page, not only what the window shows."""
        size = self.call("Page.getLayoutMetrics")["cssContentSize"]
        clip = {"x": 0, "y": 0, "width": size["width"], "height": size["height"], "scale": 1}
        shot = self.call("Page.captureScreenshot", format="png", clip=clip, captureBeyondViewport=True)
        with open(path, "wb") as f:
            f.write(base64.b64decode(shot["data"]))


def start_chromium(profile):
    browser = shutil.which("chromium")
    args = [browser, "--headless=new", "--disable-gpu", "--disable-dev-shm-usage", "--no-first-run",
            "--no-default-browser-check",
            "--remote-debugging-address=127.0.0.1", "--remote-debugging-port=0",
            "--user-data-dir=" + profile, "--window-size=1280,1000", "about:blank"]
    if os.geteuid() == 0:
        args.insert(1, "--no-sandbox")  # chromium refuses root otherwise
    process = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    port_file = os.path.join(profile, "DevToolsActivePort")
    wait_for(30, lambda: os.path.exists(port_file) and open(port_file).read().count("\n") >= 1,
             "chromium's DevTools port")
    port = int(open(port_file).read().split()[0])
    pages = wait_for(10, lambda: [t for t in get_json("http://127.0.0.1:%d/json/list" % port) or []
                                  if t["type"] == "page"], "a page target")
    return process, DevTools(pages[0]["webSocketDebuggerUrl"])


def text_of(page, field):
    return page.eval("(document.querySelector('[data-field=\"%s\"]') || {}).textContent" % field)


def load_page(page, url):
    """Navigates and returns the weight of the page's files and its times."""
    page.call("Network.enable")
    page.call("Page.enable")
    page.call("Page.navigate", url=url)
    wait_for(15, lambda: page.eval("performance.getEntriesByName('values-shown').length > 0"),
             "the page showing values")
    # After the load event every file has finished; the call collects their events.
    wait_for(10, lambda: page.eval("document.readyState") == "complete", "the load event")
    sizes = {}
    kinds = {}
    for e in page.events:
        if e.get("method") == "Network.responseReceived":
            kinds[e["params"]["requestId"]] = (e["params"]["type"], e["params"]["response"]["url"])
        if e.get("method") == "Network.loadingFinished":
            sizes[e["params"]["requestId"]] = e["params"]["encodedDataLength"]
    files = {kinds[r][1]: n for r, n in sizes.items() if r in kinds and kinds[r][0] in ("Document", "Stylesheet", "Script")}
    times = page.eval("""(() => {
        const nav = performance.getEntriesByType('navigation')[0];
        const paint = performance.getEntriesByName('first-contentful-paint')[0];
        return {first_contentful_paint_ms: paint ? paint.startTime : null,
                values_shown_ms: performance.getEntriesByName('values-shown')[0].startTime,
                load_event_ms: nav.loadEventEnd};
    })()""")
    return files, times


def banner(page):
    return page.eval("(() => { const b = document.getElementById('status-banner');"
                     " return b.className + '|' + b.textContent; })()")


def check_values(page):
    wait_for(10, lambda: text_of(page, "21:v") == EXPECTED["21:v"], "DC values")
    for field, expected in EXPECTED.items():
        shown = text_of(page, field)
        check(shown == expected, "%s shows %r, not %r" % (field, shown, expected))
    modules = page.eval("Array.from(document.querySelectorAll('[data-field$=\":modules.1.module_value\"]'))"
                        ".map(td => td.textContent + '|' + td.nextElementSibling.textContent)")
    check(modules == ["24.8\u00a0A|normal"], "rectifier module 2 shows %r" % modules)
    check(page.eval("document.getElementById('model').textContent") == "TRM27K", "device model")
    check(page.eval("document.getElementById('link').textContent").startswith("up"), "link state")
    check(page.eval("document.getElementById('uplink-fact').hidden"), "no MQTT broker line without --mqtt")
    wait_for(10, lambda: banner(page) == "status normal|All normal", "the green banner, not %r" % banner(page))


def check_alarm_appears(page, scenario):
    page.eval("window.stillTheSamePage = true")
    check(page.eval("document.querySelectorAll('#active-alarms tr').length") == 0, "no alarm at first")
    write_scenario(scenario, ALARM)
    rows = wait_for(20, lambda: page.eval(
        "Array.from(document.querySelectorAll('#active-alarms tr')).map(r => r.textContent)"), "the alarm row")
    check(page.eval("window.stillTheSamePage === true"), "the page was reloaded")
    check(len(rows) == 1, "one active alarm, not %r" % rows)
    check(page.eval("document.getElementById('alarm-counts').textContent").startswith("1 \u00d7 level"),
          "the overview counts the alarm")
    wait_for(10, lambda: page.eval("Array.from(document.querySelectorAll('#recent-alarms tr.raised')).length"),
             "the raise in the recent history")
    # The banner names the worst alarm in English; the value in alarm stands out.
    wait_for(10, lambda: banner(page).startswith("status warning|Level 2 alarm: "), "the amber banner")
    check(page.eval("document.querySelector('[data-field=\"11:channels.0.c\"]').classList.contains('alarm')"),
          "the voltage in alarm is highlighted")
    check(not page.eval("document.querySelector('[data-field=\"11:channels.0.a\"]').classList.contains('alarm')"),
          "only the voltage in alarm is highlighted")


def check_trend(page):
    index = page.eval("Array.from(document.getElementById('trend-series').options)"
                      ".findIndex(o => o.textContent === 'AC 11 channel 1: phase voltages')")
    check(index >= 0, "a trend of the first channel's phase voltages is offered")
    page.eval("document.getElementById('trend-series').selectedIndex = %d;"
              "document.querySelector('#trend-form button[value=\"3600\"]').click()" % index)
    wait_for(10, lambda: page.eval("(() => { const g = trm27kPage.chart(); return g && g.numRows() > 0; })()"),
             "the chart's rows")
    chart = page.eval("""(() => {
        const g = trm27kPage.chart();
        const canvas = document.querySelector('#trend-chart canvas');
        const pixels = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
        let inked = 0;
        for (let k = 3; k < pixels.length; k += 4) inked += pixels[k] > 0;
        return {rows: g.numRows(), labels: g.getLabels(), first: g.getValue(0, 1), inked};
    })()""")
    check(chart["labels"] == ["Time", "A", "B", "C"], "three phases on one chart: %r" % chart["labels"])
    check(abs(chart["first"] - 230.1) < 0.01, "the trend's first value is %r" % chart["first"])
    check(chart["inked"] > 100, "the chart drew its lines (%d pixels)" % chart["inked"])


def check_phone(page, outdir):
    page.call("Emulation.setDeviceMetricsOverride", width=390, height=844, deviceScaleFactor=1, mobile=True)
    time.sleep(0.5)
    overflow = page.eval("document.documentElement.scrollWidth - window.innerWidth")
    page.screenshot(os.path.join(outdir, "status-page-phone.png"))
    check(overflow <= 0, "a phone-sized screen scrolls sideways by %d px" % overflow)


def system(data_id, name, first_child):
    children = lambda base: [{"data_id": base + first_child}, {"data_id": base + first_child + 1}]
    return {"data_id": data_id, "address": data_id, "name": name, "acSetting": children(10),
            "dcSetting": children(20), "rcSetting": {}}


def check_two_systems(monitor, sim, scratch, page, processes):
    """Two power systems on one line: each panel and the link say whose they are."""
    config = os.path.join(scratch, "two.json")
    with open(config, "w") as f:
        json.dump({"devices": [system(1, "addr1", 1), system(2, "annex", 3)]}, f)
    simulator = subprocess.Popen([sim, "--pty", "--address", "1,2"],
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    processes.append(simulator)
    line = simulator.stdout.readline().strip()
    base = "http://127.0.0.1:%d" % free_port()
    processes.append(subprocess.Popen(
        [monitor, "--fast", "--quiet", "--port", line, "--config", config, "--http", base[7:],
         "--plugin-stdout", os.devnull], stdout=subprocess.DEVNULL,
        stderr=open(os.path.join(scratch, "monitor.err"), "a")))
    wait_for(20, lambda: len((get_json(base + "/api/state") or {}).get("children", [])) == 10,
             "both systems' first cycles")
    page.call("Page.navigate", url=base + "/")
    owners = lambda: sorted(t.split(" \u00b7 ")[0] for t in page.eval(
        "Array.from(document.querySelectorAll('#children h2')).map(h => h.textContent)") or [])
    wait_for(15, lambda: owners() == ["addr1"] * 5 + ["annex"] * 5,
             "panel titles naming their power system")
    check(page.eval("document.getElementById('link').textContent") == "addr1 up, annex up",
          "the link fact names each power system")


def run(monitor, sim, outdir, scratch):
    scenario = os.path.join(scratch, "scenario.json")
    write_scenario(scenario, QUIET)
    processes = []
    try:
        simulator = subprocess.Popen([sim, "--pty", "--scenario", scenario], stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, text=True)
        processes.append(simulator)
        line = simulator.stdout.readline().strip()
        port = free_port()
        base = "http://127.0.0.1:%d" % port
        processes.append(subprocess.Popen(
            [monitor, "--fast", "--quiet", "--port", line, "--history", os.path.join(scratch, "h.db"),
             "--http", "127.0.0.1:%d" % port, "--site", "cabinet-7", "--plugin-stdout", os.devnull],
            stdout=subprocess.DEVNULL, stderr=open(os.path.join(scratch, "monitor.err"), "w"),
            # Values count as stale 8 s after their cycle here, not 61 s.
            env=dict(os.environ, TRM27K_TEST_STALE_AFTER_MS="8000")))
        wait_for(20, lambda: len((get_json(base + "/api/state") or {}).get("children", [])) == 5,
                 "the monitor's first cycle")
        chromium, page = start_chromium(os.path.join(scratch, "profile"))
        processes.append(chromium)
        files, times = load_page(page, base + "/")
        weight = sum(files.values())
        with open(os.path.join(outdir, "page-measure.json"), "w") as f:
            json.dump({"files": files, "weight_bytes": weight, **times}, f, indent=1)
        print("page weight %d bytes in %d files; first paint %.0f ms, values shown %.0f ms"
              % (weight, len(files), times["first_contentful_paint_ms"] or -1, times["values_shown_ms"]))
        check(len(files) == 5, "the page is five files: %r" % sorted(files))
        check(weight < WEIGHT_LIMIT, "the page weighs %d bytes" % weight)
        check_values(page)
        check_alarm_appears(page, scenario)
        check_trend(page)
        page.screenshot(os.path.join(outdir, "status-page.png"))
        check_phone(page, outdir)
        # The line lost: the banner turns grey and says since when.
        simulator.send_signal(signal.SIGTERM)
        wait_for(30, lambda: banner(page).startswith("status nodata|No data since "), "the grey banner")
        wait_for(30, lambda: page.eval("document.querySelectorAll('#children .panel.stale').length") == 5,
                 "every panel greyed once its values are stale")
        check("no longer current" in page.eval("document.querySelector('[data-updated]').textContent"),
              "a stale panel tells its age")
        check_two_systems(monitor, sim, scratch, page, processes)
    finally:
        for p in reversed(processes):
            if p.poll() is None:
                p.send_signal(signal.SIGTERM)
                try:
                    p.wait(10)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()


def main():
    if len(sys.argv) != 4:
        print(__doc__)
        return 2
    if shutil.which("chromium") is None:
        print("skipped: no chromium here (Debian's chromium package is not available on this architecture)")
        return SKIP
    monitor, sim, outdir = sys.argv[1:]
    os.makedirs(outdir, exist_ok=True)
    scratch = tempfile.mkdtemp(prefix="trm27k-page-")
    try:
        run(monitor, sim, outdir, scratch)
    except Failed as e:
        print("FAIL: " + str(e))
        print("monitor's standard error:\n" + open(os.path.join(scratch, "monitor.err")).read()[-2000:])
        return 1
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    print("ok: values, alarm without reload, trend and phone layout; screenshots in " + outdir)
    return 0


if __name__ == "__main__":
    sys.exit(main())
