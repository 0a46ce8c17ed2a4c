"""The web updater's page as a user works it, in headless Chromium, with the
simulated imagers behind the Web Serial stand-in: the page's own code runs
unchanged on the core built by the "web" preset.

    QOR_IMAGER_SIM=build/default/tools/qor-imager-sim QOR_WEB_SITE=build/web/site \\
        /usr/bin/python3 tests/web/page_test.py
"""

import os
import pathlib
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True  # no caches in the source tree
from harness import WebHarness  # noqa: E402

SITE = os.environ.get("QOR_WEB_SITE", "build/web/site")
SUCCESS = "The updates were successfully installed"


def sample_image(size):
    """An image the imagers take (magic 0x2A53504C, words 1 and 7), its body
    a pattern that shows any byte out of place."""
    body = bytearray(((i * 31) ^ (i >> 10)) & 0xFF for i in range(size))
    body[:12] = bytes([0x4C, 0x50, 0x53, 0x2A, 1, 0, 0, 0, 7, 0, 0, 0])
    return bytes(body)


class PageTest(unittest.TestCase):
    def setUp(self):
        self.files = tempfile.TemporaryDirectory()
        self.addCleanup(self.files.cleanup)

    def open_page(self, **options):
        self.h = WebHarness(SITE, **options)
        self.h.__enter__()
        self.addCleanup(self.h.__exit__, None, None, None)
        self.h.load()
        self.h.wait_for_page("document.getElementById('main').textContent")
        return self.h

    def element(self, element_id):
        return self.h.driver.find_element("id", element_id)

    def text(self, element_id):
        return self.h.driver.execute_script(
            "return document.getElementById(arguments[0]).textContent", element_id)

    def grant(self, imager):
        asked = len(self.h.requests())
        self.h.chooser_picks(imager)
        self.element("grant").click()
        self.h.wait_until(lambda: len(self.h.requests()) > asked, what="the chooser")

    def choose(self, name, content):
        path = pathlib.Path(self.files.name) / name
        path.write_bytes(content)
        self.element("image").send_keys(str(path))

    def outcome(self):
        """The text of the dialog the page opened, once it is open."""
        return self.h.wait_for_page(
            "document.getElementById('outcome').open &&"
            " document.getElementById('outcome-text').textContent", timeout=60)

    def statuses(self):
        return self.h.driver.execute_script(
            "return [...document.querySelectorAll('#devices .status')].map(s => s.textContent)")

    def test_two_usb_imagers_receive_exactly_the_image(self):
        h = self.open_page(usb=2)
        self.assertEqual(self.text("count"), "  Disconnected")
        self.grant("usb0")
        self.grant("usb1")
        h.wait_for_page("document.getElementById('count').textContent === '  2 Devices Connected'")
        image = sample_image(64 * 1024)
        self.choose("firmware.bin", image)
        self.element("main").click()
        self.assertEqual(self.outcome(), SUCCESS)
        for imager in ("usb0", "usb1"):
            record = h.wait_for_record(imager, lambda r: r["run"]["completed"])
            self.assertEqual(record["run"]["image"], image, imager)
            self.assertEqual([o["baudRate"] for o in h.port_state(imager)["opens"]], [921600])
        self.assertEqual(self.statuses(), [SUCCESS, SUCCESS])
        # The run is over: the controls are back and every port is closed.
        self.assertTrue(self.element("main").is_enabled())
        self.assertFalse(any(h.port_state(i)["open"] for i in ("usb0", "usb1")))

    def test_rs232_imager_found_at_57600_and_updated(self):
        h = self.open_page(usb=0, rs232_baud=57600)
        h.driver.find_element("css selector", "input[value=rs232]").click()
        self.assertEqual(self.text("main"), "Connect")
        self.grant("rs232")
        self.assertEqual(h.requests()[-1]["filters"], [])
        self.element("main").click()
        h.wait_for_page("document.getElementById('main').textContent === 'Browse..'", timeout=30)
        # The scan tries the rates in the window's order and stops at the answer.
        rates = [o["baudRate"] for o in h.port_state("rs232")["opens"]]
        self.assertEqual(rates, [9600, 115200, 57600])
        image = sample_image(32 * 1024)
        self.choose("firmware.bin", image)
        self.element("main").click()
        self.assertEqual(self.outcome(), SUCCESS)
        record = h.wait_for_record("rs232", lambda r: r["run"]["completed"])
        self.assertEqual(record["run"]["image"], image)
        self.assertEqual(h.port_state("rs232")["opens"][-1]["baudRate"], 115200)

    def test_refused_block_and_refused_file_are_told(self):
        h = self.open_page(usb=1, usb_options=("--block-fault", "nack", "--fault-block", "2"))
        self.grant("usb0")
        # Not firmware: refused before any imager is touched.
        self.choose("notes.txt", b"not firmware\n" * 100)
        self.assertEqual(self.outcome(), "Invalid File !")
        self.element("outcome-ok").click()
        self.assertEqual(h.record("usb0")["received"], b"")
        self.assertEqual(self.statuses(), [])

        self.choose("firmware.bin", sample_image(16 * 1024))
        self.element("main").click()
        told = self.outcome()
        self.assertTrue(told.startswith("Transmit File Failed"), told)
        self.assertEqual(self.statuses(), [told])
        self.assertEqual(h.wait_for_record("usb0", lambda r: True)["run"]["blocks"], 3)

    def test_imager_unplugged_half_way_fails_alone(self):
        # Timed like a wire, so that the transfer lasts long enough to be cut.
        h = self.open_page(usb=2, usb_options=("--wire",))
        self.grant("usb0")
        self.grant("usb1")
        image = sample_image(256 * 1024)
        self.choose("firmware.bin", image)
        self.element("main").click()
        h.wait_until(lambda: h.record("usb1")["run"]["blocks"] >= 16, timeout=30,
                     what="usb1 half-way")
        h.unplug("usb1")
        told = self.outcome()
        self.assertNotEqual(told, SUCCESS)
        self.assertEqual(h.record("usb0")["run"]["image"], image)
        self.assertFalse(h.record("usb1")["run"]["completed"])
        self.assertEqual(self.statuses()[0], SUCCESS)
        self.assertEqual(self.statuses()[1], told)
        h.wait_for_page("document.getElementById('count').textContent === '  1 Device Connected'")

    def test_dropped_file_is_checked_like_a_chosen_one(self):
        h = self.open_page(usb=1)
        self.grant("usb0")
        h.driver.execute_script("""
            const transfer = new DataTransfer();
            transfer.items.add(new File(['not firmware'], 'notes.txt'));
            document.body.dispatchEvent(new DragEvent('drop', {dataTransfer: transfer,
                                                               bubbles: true}));""")
        self.assertEqual(self.outcome(), "Invalid File !")
        self.assertEqual(h.record("usb0")["received"], b"")

    def test_browser_without_web_serial_is_told_where_the_programs_are(self):
        h = self.open_page(usb=0)
        h.driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument",
                                 {"source": "delete Navigator.prototype.serial;"})
        h.driver.refresh()
        note = h.wait_for_page("!document.getElementById('unsupported').hidden &&"
                               " document.getElementById('unsupported').textContent")
        self.assertIn("Chrome or Edge", note)
        self.assertTrue(h.driver.execute_script(
            "return document.getElementById('updater').hidden"))
        link = h.driver.find_element("css selector", "#unsupported a")
        self.assertTrue(link.get_attribute("href").endswith("/install.html"))

    def test_chinese_browser_gets_the_chinese_texts(self):
        h = self.open_page(usb=1, languages="zh-CN,zh")
        self.assertEqual(self.text("main"), "固件")
        self.assertEqual(self.text("count"), "离线")
        self.grant("usb0")
        self.choose("firmware.bin", sample_image(8 * 1024))
        self.element("main").click()
        self.assertEqual(self.outcome(), "软件更新成功")
        self.assertEqual(h.driver.execute_script("return document.documentElement.lang"), "zh-CN")


if __name__ == "__main__":
    unittest.main()
