"""The web updater against qor-flash, on the same simulated wire.

One imager and six, 1 MiB each, on lines timed like a 921600 baud wire
(qor-imager-sim --wire): the wall time of qor-flash --usb, and of the page in
headless Chromium through the Web Serial stand-in (tests/web), from the click
on the main button to the closing dialog. During the page's runs the
browser's long-task timeline records every task of the page's main thread
over 50 ms, and the stand-in times the page's own turnaround: from the
imager's answer handed to the page's stream to the page's next write, the
part of each block's round trip that is the page's and not the test's
WebSocket bridge. One table; targets are reported as met or missed, never
asserted.

    scripts/bench-web.sh [--repeat N]
"""

import argparse
import os
import pathlib
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "web"))
sys.dont_write_bytecode = True
from harness import WebHarness  # noqa: E402
from page_test import sample_image  # noqa: E402

MIB = 1024 * 1024
RATIO_TOLERANCE = 0.01
LONG_TASK_MS = 50

# Installed before the page's scripts: every long task of the main thread,
# and the times of the click that starts a run and of the dialog that ends it.
TIMELINE = """
window.__bench = {longTasks: [], start: null, end: null};
new PerformanceObserver((list) => {
  for (const task of list.getEntries()) {
    window.__bench.longTasks.push([task.startTime, task.duration]);
  }
}).observe({type: 'longtask', buffered: true});
document.addEventListener('click', (e) => {
  if (e.target.id === 'main') window.__bench.start = performance.now();
}, true);
new MutationObserver(() => {
  const dialog = document.getElementById('outcome');
  if (dialog && dialog.open && window.__bench.end === null) window.__bench.end = performance.now();
}).observe(document, {subtree: true, attributes: true, attributeFilter: ['open']});
"""


def flash_seconds(tools, devices, image_path):
    """Wall time of one qor-flash --usb run of `devices` simulated imagers."""
    with tempfile.TemporaryDirectory() as work:
        work = pathlib.Path(work)
        (work / "ports").mkdir()
        sim = subprocess.Popen(
            [tools["sim"], "--count", str(devices), "--wire", "--link",
             str(work / "ports" / "ttyACM0"), "--sysfs", str(work / "sysfs")],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        try:
            for _ in range(devices):
                if not sim.stdout.readline():
                    raise RuntimeError("the simulator did not report its ports: " +
                                       sim.stderr.read())
            env = dict(os.environ, QOR_SYSFS_ROOT=str(work / "sysfs"),
                       QOR_PORT_DIR=str(work / "ports"))
            start = time.monotonic()
            done = subprocess.run([tools["flash"], "--usb", "--quiet", str(image_path)],
                                  env=env, capture_output=True, text=True, timeout=300)
            seconds = time.monotonic() - start
            if done.returncode != 0:
                raise RuntimeError(f"qor-flash exited with {done.returncode}: {done.stderr}")
            return seconds
        finally:
            sim.terminate()
            sim.wait(timeout=10)


def page_run(tools, devices, image_path, image):
    """One run of the page: its wall time and its main thread's long tasks."""
    with WebHarness(tools["site"], usb=devices, usb_options=("--wire",),
                    simulator=tools["sim"]) as h:
        h.driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": TIMELINE})
        h.load()
        h.wait_for_page("document.getElementById('main').textContent")
        for slot in range(devices):
            asked = len(h.requests())
            h.chooser_picks(f"usb{slot}")
            h.driver.find_element("id", "grant").click()
            h.wait_until(lambda: len(h.requests()) > asked, what="the chooser")
        h.driver.find_element("id", "image").send_keys(str(image_path))
        h.driver.find_element("id", "main").click()
        h.wait_for_page("window.__bench.end !== null", timeout=300)
        bench = h.driver.execute_script("return window.__bench")
        told = h.driver.execute_script(
            "return document.getElementById('outcome-text').textContent")
        if told != "The updates were successfully installed":
            raise RuntimeError(f"the page's run failed: {told}")
        for slot in range(devices):
            record = h.wait_for_record(f"usb{slot}", lambda r: r["run"]["completed"])
            if record["run"]["image"] != image:
                raise RuntimeError(f"usb{slot} received other bytes than the image")
        turnarounds = h.port_state("usb0")["turnarounds"]
        # The tasks of the run itself; loading the page is not part of it.
        during = [duration for start, duration in bench["longTasks"]
                  if bench["start"] <= start <= bench["end"]]
        return (bench["end"] - bench["start"]) / 1000, during, turnarounds


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=1, help="runs of each, figures their median")
    parser.add_argument("--sim", default=str(ROOT / "build/release/tools/qor-imager-sim"))
    parser.add_argument("--flash", default=str(ROOT / "build/release/app/qor-flash"))
    parser.add_argument("--site", default=str(ROOT / "build/web/site"))
    args = parser.parse_args()
    tools = {"sim": args.sim, "flash": args.flash, "site": args.site}

    image = sample_image(MIB)
    with tempfile.TemporaryDirectory() as folder:
        image_path = pathlib.Path(folder) / "image.bin"
        image_path.write_bytes(image)
        rows = []
        for devices in (1, 6):
            flash = statistics.median(flash_seconds(tools, devices, image_path)
                                      for _ in range(args.repeat))
            runs = [page_run(tools, devices, image_path, image) for _ in range(args.repeat)]
            page = statistics.median(seconds for seconds, _, _ in runs)
            tasks = [task for _, long_tasks, _ in runs for task in long_tasks]
            turnarounds = sorted(t for _, _, times in runs for t in times)
            rows.append((devices, flash, page, tasks, turnarounds))

    print("| imagers of 1 MiB, 921600 baud wire | qor-flash | page | page / qor-flash "
          "| page's added time a block | page's own turnaround p50 / p99 "
          "| longest main-thread task | target |")
    print("|---|---|---|---|---|---|---|---|")
    for devices, flash, page, tasks, turnarounds in rows:
        ratio = page / flash
        added_ms = (page - flash) * 1000 / (MIB // 1024)
        p50 = turnarounds[len(turnarounds) // 2] if turnarounds else 0.0
        p99 = turnarounds[int(len(turnarounds) * 0.99)] if turnarounds else 0.0
        longest = max(tasks, default=0.0)
        if devices == 1:
            met = abs(ratio - 1) <= RATIO_TOLERANCE
            target = f"ratio within {RATIO_TOLERANCE}: {'met' if met else 'missed'}"
        else:
            met = longest <= LONG_TASK_MS
            target = (f"no task over {LONG_TASK_MS} ms: {'met' if met else 'missed'}"
                      f" ({len(tasks)} over 50 ms)")
        print(f"| {devices} | {flash:.2f} s | {page:.2f} s | {ratio:.3f} | {added_ms:.2f} ms "
              f"| {p50:.2f} / {p99:.2f} ms | {longest:.0f} ms | {target} |")


if __name__ == "__main__":
    main()
