"""The page of ovrin serve in headless Chromium, driven by Selenium: Measure
by click and by keyboard, the value in #latest, the table and the plot, the
CSV download, a phone-sized screen, and a screenshot for the build folder.

Usage: browser_test.py BUILD_DIR
"""
import os
import re
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from serving import BUILD, ServeCase, main  # noqa: E402

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import WebDriverWait
    MISSING = [path for path in ("/usr/bin/chromium", "/usr/bin/chromedriver") if not os.access(path, os.X_OK)]
except ImportError:
    MISSING = ["python3-selenium"]
needs_chromium = unittest.skipIf(MISSING, "needs Chromium, chromedriver and Selenium (missing: %s)" % ", ".join(MISSING))


def chromium(downloads, profile, *extra):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    # Headless as root on a machine with no network beyond loopback.
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--user-data-dir=" + profile, "--window-size=1100,900", *extra):
        options.add_argument(flag)
    options.add_experimental_option("prefs", {"download.default_directory": downloads,
                                              "download.prompt_for_download": False})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


@needs_chromium
class PageTest(ServeCase):
    def setUp(self):
        super().setUp()
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)
        self.downloads = os.path.join(self.folder.name, "downloads")
        os.mkdir(self.downloads)
        self.browser = chromium(self.downloads, os.path.join(self.folder.name, "profile"))
        self.addCleanup(self.browser.quit)
        self.wait = WebDriverWait(self.browser, 20)

    def text(self, element_id):
        return self.browser.find_element(By.ID, element_id).text

    def test_measure_shows_the_value_everywhere_and_the_csv_downloads(self):
        meter = self.sim("--value", "12345", "--step", "111")
        served = self.serve(ports=[meter.path]).wait_connected()
        self.browser.get(served.url)
        self.wait.until(lambda _: self.text("state").startswith("connected"))
        self.assertEqual(self.text("state"), "connected %s \u2014 pseudo-terminal" % meter.path)

        self.browser.find_element(By.ID, "measure").click()
        self.wait.until(lambda _: self.text("latest") == "12345")
        # By keyboard: Tab reaches the button, Enter presses it.
        body = self.browser.find_element(By.TAG_NAME, "body")
        for _ in range(10):
            if self.browser.switch_to.active_element.get_attribute("id") == "measure":
                break
            body = self.browser.switch_to.active_element
            body.send_keys(Keys.TAB)
        focused = self.browser.switch_to.active_element
        self.assertEqual(focused.get_attribute("id"), "measure")
        self.assertTrue(focused.get_attribute("aria-label"))
        focused.send_keys(Keys.ENTER)
        self.wait.until(lambda _: self.text("latest") == "12456")

        rows = self.browser.find_elements(By.CSS_SELECTOR, "#readings tbody tr")
        self.assertEqual([row.find_elements(By.TAG_NAME, "td")[3].text for row in rows], ["12456", "12345", "0"])
        self.assertEqual(len(self.browser.find_element(By.ID, "plot-line").get_attribute("points").split()), 2)

        self.browser.find_element(By.ID, "download").click()
        path = os.path.join(self.downloads, "readings.csv")
        self.wait.until(lambda _: os.path.exists(path) and os.path.getsize(path) > 0)
        with open(path) as file:
            lines = file.read().splitlines()
        self.assertEqual(lines[0], "seq,time,kind,auxDigit,value1,value2,line")
        self.assertEqual([line.split(",")[4] for line in lines[1:]], ["0", "12345", "12456"])

        self.browser.save_screenshot(os.path.join(BUILD, "serve-page.png"))

    def test_phone_sized_screen_and_a_meter_error(self):
        meter = self.sim("--error", "252")
        served = self.serve(ports=[meter.path]).wait_connected()
        self.browser.set_window_size(390, 844)
        self.browser.get(served.url)
        self.wait.until(lambda _: self.text("state").startswith("connected"))
        self.browser.find_element(By.ID, "measure").click()
        self.wait.until(lambda _: self.text("latest") == "Error 252")
        self.assertIn("Temperature too high", self.text("latest-detail"))
        self.assertIn("Temperature too high", self.browser.find_element(By.CSS_SELECTOR, "#readings tbody tr").text)
        # Nothing runs off the side of a phone's screen but the table, which
        # scrolls in its own box.
        width = self.browser.execute_script("return document.documentElement.scrollWidth")
        inner = self.browser.execute_script("return window.innerWidth")
        self.assertLessEqual(width, inner)
        button = self.browser.find_element(By.ID, "measure")
        self.assertTrue(button.is_displayed())
        self.assertGreaterEqual(button.size["height"], 40)  # big enough for a finger
        self.browser.save_screenshot(os.path.join(BUILD, "serve-page-phone.png"))

    def test_a_page_that_reconnects_misses_nothing_and_repeats_nothing(self):
        meter = self.sim("--value", "5", "--step", "1")
        served = self.serve(ports=[meter.path]).wait_connected()
        self.browser.get(served.url)
        self.wait.until(lambda _: self.text("state").startswith("connected"))
        served.measure()
        rows = lambda: [row.get_attribute("data-seq")  # noqa: E731
                        for row in self.browser.find_elements(By.CSS_SELECTOR, "#readings tbody tr")]
        self.wait.until(lambda _: rows() == ["2", "1"])
        # The stream drops; readings come while the page is away; it comes back.
        self.browser.execute_script("stream.close();")
        for _ in range(3):
            served.measure()
        self.wait.until(lambda _: len(served.json("/api/readings?after=2")["readings"]) == 3)
        self.assertEqual(rows(), ["2", "1"])
        self.browser.execute_script("connect();")
        self.wait.until(lambda _: rows() == ["5", "4", "3", "2", "1"])
        self.assertEqual(self.text("latest"), "8")
        served.measure()
        self.wait.until(lambda _: rows()[0] == "6")
        self.assertEqual(rows(), ["6", "5", "4", "3", "2", "1"])

@needs_chromium
class TabletTest(ServeCase):
    """The page from a name that is not this machine's, as a tablet on the
    network opens it: Chromium is told the name is 127.0.0.1."""

    NAME = "tablet-test.invalid"

    def test_the_printed_link_opens_the_page_and_a_browser_without_it_is_refused(self):
        meter = self.sim("--value", "2500")
        process = self.start_ovrin("serve", "--listen", "0.0.0.0:0", ports=[meter.path])
        self.addCleanup(process.kill)
        process.stdout.readline()
        link = re.sub(r"^http://[^/]+:", "http://%s:" % self.NAME, process.stdout.readline().strip())
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        browsers = []
        for profile in ("tablet", "stranger"):
            browser = chromium(folder.name, os.path.join(folder.name, profile),
                               "--host-resolver-rules=MAP %s 127.0.0.1" % self.NAME)
            self.addCleanup(browser.quit)
            browsers.append(browser)
        tablet, stranger = browsers
        wait = WebDriverWait(tablet, 20)

        tablet.get(link)
        self.assertNotIn("token=", tablet.current_url, "the token stays out of the address bar")
        wait.until(lambda _: tablet.find_element(By.ID, "state").text.startswith("connected"))
        tablet.find_element(By.ID, "measure").click()
        wait.until(lambda _: tablet.find_element(By.ID, "latest").text == "2500")
        tablet.refresh()  # the cookie, not the link, lets it in now
        wait.until(lambda _: tablet.find_element(By.ID, "state").text.startswith("connected"))

        stranger.get(link.split("?")[0])
        self.assertIn("open the link that", stranger.find_element(By.TAG_NAME, "body").text.lower())
        self.assertEqual(stranger.find_elements(By.ID, "measure"), [])

        # serve again on the same port, with a new token: the open page asks
        # for the new link instead of sending its old cookie for ever, and
        # the new link gets in at once.
        process.kill()
        process.wait()
        port = re.search(r":(\d+)/", link).group(1)
        again = self.start_ovrin("serve", "--listen", "0.0.0.0:" + port, ports=[meter.path])
        self.addCleanup(again.kill)
        again.stdout.readline()
        new_link = re.sub(r"^http://[^/]+:", "http://%s:" % self.NAME, again.stdout.readline().strip())
        wait.until(lambda _: tablet.find_element(By.ID, "state").text == "this link has expired")
        self.assertIn("open the link it printed", tablet.find_element(By.ID, "message").text)
        tablet.get(new_link)
        wait.until(lambda _: tablet.find_element(By.ID, "state").text.startswith("connected"))


if __name__ == "__main__":
    main(sys.argv[:1])
