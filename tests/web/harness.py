"""Browser tests of a web page that updates imagers over Web Serial.

    with WebHarness("web/dist", usb=3, rs232_baud=57600) as h:
        h.load("index.html")               # usb0..usb2 and rs232 plugged in
        h.chooser_picks("usb1")            # what the user picks next
        h.driver.find_element("id", "connect").click()
        h.wait_until(lambda: h.record("usb1")["run"]["completed"], what="the image")
        assert h.record("usb1")["run"]["image"] == image
        h.unplug("usb0"); h.plug("usb0")  # a fresh imager in that slot

Everything a harness starts (the simulators, the bridge, the HTTP server,
Chromium and its driver) is stopped when the `with` block ends, however it
ends. Imagers are named "usb0".."usbN-1" and "rs232".

Needs Debian's /usr/bin/python3 with python3-selenium and python3-websockets,
chromium and chromium-driver; QOR_IMAGER_SIM (or `simulator`) names the
simulator program.
"""

import contextlib
import json
import os
import pathlib
import sys
import threading
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

from bridge import Bridge, SimulatedImagers

# The page is served as a user serves it, with the isolation headers its
# threads need.
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "web"))
import serve  # noqa: E402

USB_INFO = {"usbVendorId": 0x3C7B, "usbProductId": 0x0E52}
STANDIN = pathlib.Path(__file__).with_name("serial_standin.js")

# Deadlines: seconds, so that a loaded two-core machine does not fail a test;
# never reached when all goes well.
WAIT_S = 10


class WebHarness(contextlib.AbstractContextManager):
    """Serves `page_dir` and opens it in headless Chromium with `usb` USB
    imagers and, given `rs232_baud`, one RS-232 imager listening at that rate.
    `usb_options` and `rs232_options` are further qor-imager-sim options;
    `languages` the browser's, most preferred first ("zh-CN,en")."""

    def __init__(self, page_dir, usb=1, rs232_baud=None, usb_options=(), rs232_options=(),
                 simulator=None, languages="en-US"):
        self._page_dir = str(page_dir)
        self._usb = usb
        self._rs232_baud = rs232_baud
        self._usb_options = tuple(usb_options)
        self._rs232_options = tuple(rs232_options)
        self._simulator = simulator or os.environ.get("QOR_IMAGER_SIM")
        if not self._simulator:
            raise RuntimeError("set QOR_IMAGER_SIM to the qor-imager-sim program")
        self._slots = {}  # imager id -> (SimulatedImagers, slot)
        self._plugged = set()
        self._last_records = {}  # imager id -> its record when it was unplugged
        self._standin_script = None
        self._languages = languages

    def __enter__(self):
        with contextlib.ExitStack() as stack:
            if self._usb:
                usb = SimulatedImagers(self._simulator, self._usb, self._usb_options)
                stack.callback(usb.stop)
                for slot in range(self._usb):
                    self._slots[f"usb{slot}"] = (usb, slot)
            if self._rs232_baud:
                rs232 = SimulatedImagers(self._simulator, 1,
                                         ("--rs232-baud", str(self._rs232_baud),
                                          *self._rs232_options))
                stack.callback(rs232.stop)
                self._slots["rs232"] = (rs232, 0)
            self.bridge = Bridge()
            stack.callback(self.bridge.stop)
            for imager, (sims, slot) in self._slots.items():
                self.bridge.attach(imager, sims.ports[slot])
                self._plugged.add(imager)

            self._http = serve.make_server(self._page_dir, quiet=True)
            stack.callback(self._http.server_close)
            threading.Thread(target=self._http.serve_forever, daemon=True).start()
            stack.callback(self._http.shutdown)
            self.base_url = f"http://127.0.0.1:{self._http.server_address[1]}/"

            options = webdriver.ChromeOptions()
            options.binary_location = os.environ.get("QOR_CHROMIUM", "/usr/bin/chromium")
            for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage"):
                options.add_argument(argument)
            options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
            # The browser's languages, as navigator.languages tells them.
            options.add_experimental_option("prefs", {"intl.accept_languages": self._languages})
            service = Service(os.environ.get("QOR_CHROMEDRIVER", "/usr/bin/chromedriver"))
            self.driver = webdriver.Chrome(service=service, options=options)
            stack.callback(self.driver.quit)
            self._stack = stack.pop_all()
        return self

    def __exit__(self, *exc):
        self._stack.close()
        return False

    @staticmethod
    def info(imager):
        """What getInfo() tells of the imager's port."""
        return {} if imager == "rs232" else dict(USB_INFO)

    def load(self, path="index.html", granted=()):
        """Opens the page with the stand-in in place of navigator.serial, the
        imagers plugged in now attached, and `granted` allowed from an earlier
        visit (getPorts() returns them)."""
        config = {
            "bridge": self.bridge.url,
            "ports": [{"id": i, "info": self.info(i)} for i in sorted(self._plugged)],
            "granted": list(granted),
        }
        if self._standin_script is not None:
            self.driver.execute_cdp_cmd("Page.removeScriptToEvaluateOnNewDocument",
                                        {"identifier": self._standin_script})
        source = STANDIN.read_text() + f"({json.dumps(config)});"
        self._standin_script = self.driver.execute_cdp_cmd(
            "Page.addScriptToEvaluateOnNewDocument", {"source": source})["identifier"]
        self.driver.get(self.base_url + path)

    def chooser_picks(self, *imagers):
        """The user's picks in the next requestPort() choosers, one each;
        None cancels."""
        self.driver.execute_script("window.__serialStandin.chooserPicks(...arguments)", *imagers)

    def plug(self, imager):
        """A fresh imager arrives in the slot; the page sees a new port."""
        sims, slot = self._slots[imager]
        if imager in self._plugged:
            # Still in its slot: an imager that hung up its line (a scripted
            # fault), which the page has seen go already.
            self._last_records[imager] = sims.record(slot)
            sims.unplug(slot)
        self.bridge.attach(imager, sims.plug(slot))
        self._plugged.add(imager)
        self._tell_page("plug(arguments[0], arguments[1])", imager, self.info(imager))

    def unplug(self, imager):
        """The imager goes: its line hangs up, the page's reads fail with a
        NetworkError and "disconnect" fires. Its record stays readable."""
        sims, slot = self._slots[imager]
        self._last_records[imager] = sims.record(slot)
        sims.unplug(slot)
        self.bridge.detach(imager)
        self._plugged.discard(imager)
        self._tell_page("unplug(arguments[0])", imager)

    def _tell_page(self, call, *args):
        # Before the first load() there is no page to tell: load() passes on
        # whatever is plugged in then.
        self.driver.execute_script(f"window.__serialStandin && window.__serialStandin.{call}",
                                   *args)

    def record(self, imager):
        """What the imager has received and sent (SimulatedImagers.record);
        for an unplugged one, as it was when it went."""
        if imager not in self._plugged:
            return self._last_records[imager]
        sims, slot = self._slots[imager]
        return sims.record(slot)

    def port_state(self, imager):
        """The stand-in's view of the imager's latest port: plugged, granted,
        open, options, opens (the options of every open) and signals."""
        return self.driver.execute_script("return window.__serialStandin.state(arguments[0])",
                                          imager)

    def requests(self):
        """Every requestPort() of the page: filters, the pick, granted."""
        return self.driver.execute_script("return window.__serialStandin.requests()")

    def call(self, body, *args, timeout=WAIT_S):
        """Runs `body` as an async function in the page (its arguments as
        `args`) and returns its result; raises PageError with the error's
        name and message when it throws."""
        self.driver.set_script_timeout(timeout)
        outcome = self.driver.execute_async_script(
            "const done = arguments[arguments.length - 1];"
            f"(async (...args) => {{ {body} }})(...Array.from(arguments).slice(0, -1))"
            ".then((value) => done({value}),"
            " (e) => done({error: `${e && e.name}: ${e && e.message}`}));", *args)
        if "error" in outcome:
            raise PageError(outcome["error"])
        return outcome.get("value")

    def wait_until(self, condition, timeout=WAIT_S, what="the condition"):
        """Waits until condition() is true, at most `timeout` seconds; its
        last value."""
        deadline = time.monotonic() + timeout
        while True:
            value = condition()
            if value:
                return value
            if time.monotonic() > deadline:
                raise AssertionError(f"{what} did not come within {timeout} s; "
                                     f"browser console: {self.console()}")
            time.sleep(0.02)

    def wait_for_page(self, expression, timeout=WAIT_S):
        """Waits until the JavaScript `expression` is truthy; its value."""
        return self.wait_until(lambda: self.driver.execute_script(f"return {expression}"),
                               timeout, what=expression)

    def wait_for_record(self, imager, condition, timeout=WAIT_S, what=None):
        """Waits until condition(record) holds and the imager has acted on
        every byte it received and handed over every reply it decided on, so
        that what it has not sent by then it will not send; the record."""
        def caught_up():
            r = self.record(imager)
            done = r["handled"] == len(r["received"]) and r["replies_pending"] == 0
            return r if done and condition(r) else None
        return self.wait_until(caught_up, timeout, what=what or f"{imager}'s record")

    def console(self):
        """The browser console's messages since the last call."""
        return [entry["message"] for entry in self.driver.get_log("browser")]


class PageError(Exception):
    """An error thrown in the page, as "Name: message"."""
