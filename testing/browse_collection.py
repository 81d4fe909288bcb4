#!/usr/bin/python3
"""The collection as its user sees it, in a real browser.

Builds a collection from the bundled examples with lumbra-cli (add, rebuild, unreferenced,
surf), opens lumbra.htm in headless Chromium and browses it as a user would: a log in the
top bar, a site in the left frame, a page in the right frame, and the same through the Surf
link. Every page reached must be a local copy (a file:// URL), show its local images, and no
frame may show an error page. Writes a screenshot of the frameset.

Then the collection is made portable (LINK_STYLE=relative, a rebuild and the surf job again),
its whole directory (start directory, LogTree and index directory) is renamed, and it is
browsed again where it now lies: every page must be a local copy below the new directory.

usage: browse_collection.py LUMBRA_CLI SOURCE_DIR SCREENSHOT
"""

import os
import shutil
import sqlite3
import subprocess
import sys
import tempfile

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By


def build_collection(cli, source, work):
    """The examples turned into a collection in `work`; returns the index directory."""
    start = os.path.join(work, "start")
    os.makedirs(start)
    shutil.copy(os.path.join(source, "examples", "lumbra-url.ini"), start)
    shutil.copytree(os.path.join(source, "examples", "surf-crawl"),
                    os.path.join(start, "crawl", "log"))
    database = sqlite3.connect(os.path.join(start, "lumbra.mdb"))
    for script in ("docs/surf-schema.sql", "examples/surf-sites.sql"):
        with open(os.path.join(source, script), encoding="utf-8") as sql:
            database.executescript(sql.read())
    database.commit()
    database.close()

    index = os.path.join(work, "index")
    run(cli, start, "settings", "CACHE_DIR=" + os.path.join(source, "examples", "sample-cache"),
        "LOG_DIR_A=" + os.path.join(work, "save", "log"), "INDEX_DIR=" + index)
    run(cli, start, "--yes", "add")
    run(cli, start, "--yes", "rebuild")
    run(cli, start, "--yes", "unreferenced", os.path.join(work, "save", "log", "www.example.jp"))
    run(cli, start, "--yes", "surf")
    return index


def make_relative_and_move(cli, work):
    """The collection in `work` turned relative and renamed; returns its new directory."""
    start = os.path.join(work, "start")
    run(cli, start, "settings", "LINK_STYLE=relative")
    run(cli, start, "--yes", "rebuild")
    run(cli, start, "--yes", "surf")
    moved = work + "-moved"
    os.rename(work, moved)
    return moved


def run(cli, start, *args):
    done = subprocess.run([cli, "-C", start, *args], capture_output=True, text=True,
                          errors="replace", check=False)
    if done.returncode != 0:
        sys.exit(f"lumbra-cli {' '.join(args)} exited {done.returncode}:\n{done.stderr}")


def browser(profile):
    options = Options()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                 "--no-first-run", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync", "--window-size=1200,700",
                 "--user-data-dir=" + profile):
        options.add_argument(flag)
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


class Checks:
    def __init__(self, driver, root, label):
        self.driver = driver
        self.root = "file://" + root + "/"  # where every local page must lie
        self.label = label
        self.failures = []

    def expect(self, ok, what):
        if not ok:
            self.failures.append(f"{self.label}: {what}")

    def in_frame(self, name):
        self.driver.switch_to.default_content()
        self.driver.switch_to.frame(name)

    def url(self):
        return self.driver.execute_script("return document.URL")

    def page_is_shown(self, where):
        """The current document is a local file, not an error page."""
        url = self.url()
        self.expect(url.startswith(self.root), f"{where}: not a local file of {self.root}: {url}")
        body = self.driver.execute_script("return document.body ? document.body.innerText : ''")
        self.expect("ERR_" not in body and not url.startswith("chrome-error"),
                    f"{where}: an error page at {url}")

    def images_loaded(self, where):
        images = self.driver.execute_script(
            "return Array.from(document.images).map(i => [i.src, i.complete && i.naturalWidth])")
        local = [(src, width) for src, width in images if src.startswith(self.root)]
        self.expect(local, f"{where}: no local image")
        for src, width in local:
            self.expect(width and width > 0, f"{where}: the image {src} did not load")

    def click(self, frame, text, where):
        """Clicks the first link of `frame` whose visible text contains `text`."""
        self.in_frame(frame)
        for link in self.driver.find_elements(By.TAG_NAME, "a"):
            if text in link.text:
                link.click()
                return True
        self.expect(False, f"{where}: no link '{text}' in frame {frame}")
        return False

    def open_page_from_index(self, page_ending, where):
        """Clicks the local link of an index entry; the page opens in a window of its own."""
        self.in_frame("home")
        self.page_is_shown(where + ", index page")
        before = set(self.driver.window_handles)
        for link in self.driver.find_elements(By.TAG_NAME, "a"):
            href = link.get_attribute("href") or ""
            if href.startswith(self.root) and href.endswith(page_ending):
                link.click()
                break
        else:
            self.expect(False, f"{where}: no local link to {page_ending}")
            return
        opened = [h for h in self.driver.window_handles if h not in before]
        self.expect(len(opened) == 1, f"{where}: the page did not open in a new window")
        if not opened:
            return
        main = self.driver.current_window_handle
        self.driver.switch_to.window(opened[0])
        self.page_is_shown(where + ", page")
        self.expect(self.url().endswith(page_ending), f"{where}: opened {self.url()}")
        self.images_loaded(where + ", page")
        self.driver.close()
        self.driver.switch_to.window(main)


def browse(root, screenshot, profile, label):
    """Clicks through the collection of `root`; the screenshot is taken when one is named."""
    index = os.path.join(root, "index")
    driver = browser(profile)
    checks = Checks(driver, root, label)
    try:
        driver.get("file://" + os.path.join(index, "lumbra.htm"))
        for frame in ("top", "www", "home"):
            checks.in_frame(frame)
            checks.page_is_shown(f"the {frame} frame of lumbra.htm")

        # A log, one of its sites, one of its pages.
        if checks.click("top", ":log", "log A") and checks.click("www", "www.example.jp", "log A"):
            driver.switch_to.default_content()
            if screenshot:
                driver.save_screenshot(screenshot)
            checks.open_page_from_index("/www.example.jp/home.html", "log A")

        # The pages of the surf job, through the Surf link.
        if checks.click("top", "Surf", "surf") and checks.click("www", "www.example.net", "surf"):
            checks.open_page_from_index("/www.example.net/index.html", "surf")

        # The link pages of the unreferenced job are reached through www_l.htm.
        driver.get("file://" + os.path.join(index, "www_l.htm"))
        checks.page_is_shown("www_l.htm")
        links = [a.get_attribute("href") for a in driver.find_elements(By.TAG_NAME, "a")]
        checks.expect(any(h and h.startswith(checks.root) and h.endswith(".link_htm.htm")
                          for h in links), "www_l.htm lists no local link page")
    finally:
        driver.quit()
    return checks.failures


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    cli, source, screenshot = sys.argv[1:]
    cli = os.path.abspath(cli)
    work = tempfile.mkdtemp(prefix="lumbra-browse-")
    moved = work
    try:
        build_collection(cli, os.path.abspath(source), work)
        failures = browse(work, os.path.abspath(screenshot), os.path.join(work, "profile"),
                          "absolute")
        moved = make_relative_and_move(cli, work)
        failures += browse(moved, None, os.path.join(moved, "profile"), "relative, moved")
    finally:
        shutil.rmtree(moved, ignore_errors=True)
    for failure in failures:
        print("FAILED:", failure)
    print(f"{len(failures)} failures; screenshot: {screenshot}")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
