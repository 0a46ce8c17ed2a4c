"""The browser harness proves itself on a page of its own (probe_page/): the
stand-in's Web Serial API carries the first steps of an update to simulated
imagers, honours the chooser's filters and the line rate, and tells the page
of devices that come and go as Chromium does.

    QOR_IMAGER_SIM=build/default/tools/qor-imager-sim /usr/bin/python3 tests/web/standin_test.py
"""

import pathlib
import sys
import unittest

sys.dont_write_bytecode = True  # no caches in the source tree
from harness import PageError, WebHarness  # noqa: E402

PROBE_PAGE = pathlib.Path(__file__).with_name("probe_page")
RS232_BAUD = 57600
SETUP_PROBE = "05570e0d01ff88"  # the RS-232 imager's setup probe packet
SETUP_REPLY = "52a0ecfe74"


class StandinTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.h = WebHarness(PROBE_PAGE, usb=3, rs232_baud=RS232_BAUD).__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.h.__exit__(None, None, None)

    def click_connect(self):
        self.h.driver.execute_script("probe.result = null")
        self.h.driver.find_element("id", "connect").click()
        return self.h.wait_for_page("probe.result")

    def test_chooser_grants_a_usb_imager_that_answers_the_probe(self):
        h = self.h
        h.load()
        # The chooser lists only what the filters let through.
        h.chooser_picks("rs232", "usb0")
        self.assertEqual(self.click_connect(), "NotFoundError")
        self.assertEqual(self.click_connect(), "*echo")

        self.assertEqual(h.record("usb0")["received"], b"%QOR%*probe")
        self.assertEqual(h.record("usb1")["received"], b"")
        self.assertEqual([o["baudRate"] for o in h.port_state("usb0")["opens"]], [921600])
        self.assertEqual([r["granted"] for r in h.requests()], [False, True])
        self.assertEqual(h.requests()[1]["filters"], [{"usbVendorId": 0x3C7B,
                                                       "usbProductId": 0x0E52}])
        self.assertEqual(h.call("return (await navigator.serial.getPorts())"
                                ".map((p) => [p === probe.port, p.getInfo()]);"),
                         [[True, {"usbVendorId": 0x3C7B, "usbProductId": 0x0E52}]])

        # An open port cannot be opened again.
        with self.assertRaisesRegex(PageError, "^InvalidStateError"):
            h.call("await probe.port.open({baudRate: 921600});"
                   "await probe.port.open({baudRate: 921600});")

    def test_refuses_what_chromium_refuses(self):
        # Where a page would work with a lenient stand-in and fail in the
        # browser: each step's error name, or "ok".
        h = self.h
        h.load(granted=["usb2"])
        self.assertEqual(h.call("""
            const [port] = await navigator.serial.getPorts();
            const outcome = async (step) => {
              try { await step(); return 'ok'; } catch (e) { return e.name; }
            };
            const heap = new Uint8Array(new SharedArrayBuffer(8));
            return [
              await outcome(() => port.setSignals({dataTerminalReady: true})),
              await outcome(() => port.open({baudRate: 921600, dataBits: 5})),
              await outcome(() => port.open({baudRate: 921600, bufferSize: 8})),
              await outcome(() => port.setSignals({})),
              await outcome(() => port.writable.getWriter().write(heap)),
              await outcome(() => port.close()),  // the writer above holds the stream
              port.readable instanceof ReadableStream,  // still open
              await outcome(() => port.forget()),
              (await navigator.serial.getPorts()).length,
            ];"""), ["InvalidStateError", "TypeError", "ok", "TypeError", "TypeError",
                      "TypeError", True, "ok", 0])
        self.assertEqual(h.port_state("usb2")["granted"], False)

    def test_unplug_fails_the_read_and_replug_brings_a_new_port(self):
        h = self.h
        h.load(granted=["usb1"])
        # Without a user gesture the chooser is refused, as in Chromium.
        with self.assertRaisesRegex(PageError, "^SecurityError"):
            h.call("await navigator.serial.requestPort();")
        h.call("[probe.port] = await navigator.serial.getPorts();"
               "await probe.port.open({baudRate: 921600}); listen(probe.port);")

        h.unplug("usb1")
        self.assertEqual(h.wait_for_page("probe.readOutcome"), "NetworkError")
        self.assertEqual(h.driver.execute_script("return probe.events"), [
            {"type": "disconnect", "how": "listener", "isPort": True, "isOpenPort": True,
             "at": True},
            {"type": "disconnect", "how": "handler", "isOpenPort": True},
        ])
        self.assertEqual(h.call("return [probe.port.connected, probe.port.readable,"
                                " (await navigator.serial.getPorts()).length];"),
                         [False, None, 0])

        h.plug("usb1")
        self.assertEqual(h.call(
            "const [port] = await navigator.serial.getPorts();"
            "const event = probe.events[probe.events.length - 1];"
            "await port.open({baudRate: 921600});"
            "return [event.type, port === probe.lastTarget, port !== probe.port,"
            " await exchange(port)];"),
            ["connect", True, True, "*echo"])
        # The fresh imager heard only the new exchange.
        self.assertEqual(h.record("usb1")["received"], b"%QOR%*probe")

    def test_rs232_imager_answers_only_at_its_own_rate(self):
        h = self.h
        h.load(granted=["rs232"])
        send = ("const [port] = await navigator.serial.getPorts();"
                "await port.open({baudRate: args[0]});"
                "await write(port, new Uint8Array(args[1]));")
        packet = list(bytes.fromhex(SETUP_PROBE))
        self.assertEqual(h.call("return (await navigator.serial.getPorts())[0].getInfo();"), {})

        h.call(send + "probe.port = port;", 9600, packet)
        record = h.wait_for_record("rs232", lambda r: len(r["setup_packets"]) == 1)
        self.assertEqual(record["sent"], b"")
        h.call("await probe.port.close();")

        answer = h.call(send + "const b = await readUntil(port, (b) => b.length >= 5, 5000);"
                        "await port.close(); return b;", RS232_BAUD, packet)
        self.assertEqual(bytes(answer).hex(), SETUP_REPLY)
        packets = h.record("rs232")["setup_packets"]
        self.assertEqual([(p["bytes"].hex(), p["baud"]) for p in packets],
                         [(SETUP_PROBE, 9600), (SETUP_PROBE, RS232_BAUD)])


if __name__ == "__main__":
    unittest.main()
