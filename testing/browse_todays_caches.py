#!/usr/bin/python3
"""The caches today's browsers just wrote become a collection that is browsed offline.

A user's home is made in a temporary directory (XDG_CACHE_HOME and XDG_CONFIG_HOME below
it, under names other than the defaults, so that both the browsers and lumbra-cli must
honour them). A small site (SITE_DIR: main/ is http://127.0.0.1:PORT/, other/ is
http://localhost:PORT/, "@PORT@" in its pages is the port; packed.html and style.css are sent
gzip-encoded; moved.html answers 301 and a missing file 404) is served on a free port, and
headless browsers visit its pages and quit, their profiles where a user's lie: Chromium
(through Selenium) in its first profile with its default backend on Linux (Simple Cache) and
in a second profile with its blockfile backend (the default on Windows), and Firefox ESR
(through its Marionette protocol) in a profile listed in ~/.mozilla/firefox/profiles.ini.
Then, with the server stopped:

- `lumbra-cli caches` must list the three caches;
- `lumbra-cli --yes add` turns each cache into a collection of its own; on disk, every
  document the server sent with 200 is stored, nothing else is, every stored document equals
  the bytes sent (decoded), and in the pages and the style sheet everything but the links is
  unchanged while every link leads to the same document as before: a local file that exists
  when that document is stored, its web address when not. The same after a rebuild;
- each collection's lumbra.htm is opened in headless Chromium and clicked through (a log or
  the new pages in the top bar, a site in the left frame, a page in the right frame, links
  between pages and hosts): every page shown is a local copy, its images and its style
  sheet's image load.

usage: browse_todays_caches.py LUMBRA_CLI SITE_DIR
"""

import difflib
import glob
import gzip
import hashlib
import html.parser
import http.server
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

# The pages each browser visits, in order ({port} is the server's).
VISITS = ["http://127.0.0.1:{port}/index.html", "http://127.0.0.1:{port}/about.html",
          "http://127.0.0.1:{port}/docs/rules.html", "http://127.0.0.1:{port}/packed.html",
          "http://127.0.0.1:{port}/moved.html", "http://127.0.0.1:{port}/missing.html",
          "http://localhost:{port}/index.html"]
GZIP_SENT = {"/packed.html", "/style.css"}
REDIRECTS = {"/moved.html": "/about.html"}
TYPES = {".html": "text/html; charset=utf-8", ".css": "text/css", ".png": "image/png",
         ".gif": "image/gif", ".jpg": "image/jpeg"}
FIREFOX_PROFILE = "lumbra0.default-esr"
STARTED = time.monotonic()


def step(text):
    print(f"[{time.monotonic() - STARTED:5.1f}s] {text}", flush=True)


def fail(text):
    sys.exit(f"FAILED: {text}")


# ---------------------------------------------------------------------------- the site


class Site:
    """The site served on 127.0.0.1 at a free port; remembers every answer it sent."""

    def __init__(self, root):
        self.root = root
        self.lock = threading.Lock()
        self.answers = []  # (url, status, what the Content-Encoding was)
        site = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_GET(self):
                url = site.url_of(self.headers.get("Host", ""), self.path)
                status, body, ctype, extra = site.resolve(url)
                encoding = ""
                if status == 200 and urllib.parse.urlsplit(url).path in GZIP_SENT and \
                        "gzip" in self.headers.get("Accept-Encoding", ""):
                    body, encoding = gzip.compress(body, mtime=0), "gzip"
                    extra = extra + [("Content-Encoding", "gzip"), ("Vary", "Accept-Encoding")]
                self.send_response(status)
                self.send_header("Content-Type", ctype)
                self.send_header("Content-Length", str(len(body)))
                self.send_header("Cache-Control", "max-age=86400")
                self.send_header("Last-Modified", "Mon, 02 Mar 2020 09:30:00 GMT")
                self.send_header("ETag", '"%s"' % hashlib.sha1(body).hexdigest()[:16])
                for name, value in extra:
                    self.send_header(name, value)
                try:
                    self.end_headers()
                    self.wfile.write(body)
                except (BrokenPipeError, ConnectionResetError):
                    return  # the browser let go of it (a favicon as it quits, say): not sent
                with site.lock:
                    site.answers.append((url, status, encoding))

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.port = self.server.server_address[1]
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def url_of(self, host_header, target):
        host = "localhost" if host_header.rsplit(":", 1)[0] == "localhost" else "127.0.0.1"
        return f"http://{host}:{self.port}{urllib.parse.urlsplit(target).path}"

    def resolve(self, url):
        """(status, body before any Content-Encoding, content type, extra headers)."""
        parts = urllib.parse.urlsplit(url)
        if parts.hostname == "127.0.0.1" and parts.path in REDIRECTS:
            target = REDIRECTS[parts.path]
            return (301, b'<html><body><a href="%s">moved</a></body></html>' % target.encode(),
                    TYPES[".html"], [("Location", target)])
        root = os.path.join(self.root, "other" if parts.hostname == "localhost" else "main")
        file = os.path.normpath(os.path.join(root, parts.path.lstrip("/")))
        if not file.startswith(root + os.sep) or not os.path.isfile(file):
            with open(os.path.join(self.root, "404.html"), "rb") as f:
                return 404, f.read(), TYPES[".html"], []
        with open(file, "rb") as f:
            body = f.read()
        extension = os.path.splitext(file)[1]
        if extension == ".html":
            body = body.replace(b"@PORT@", str(self.port).encode())
        return 200, body, TYPES.get(extension, "application/octet-stream"), []

    def take_answers(self):
        with self.lock:
            answers, self.answers = self.answers, []
        return answers

    def stop(self):
        self.server.shutdown()
        self.server.server_close()
        self.thread.join()


# ---------------------------------------------------------------------------- the browsers


def chromium_options(profile, extra=()):
    options = Options()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
                 "--no-default-browser-check", "--disable-sync", "--disable-component-update",
                 "--disable-background-networking", "--user-data-dir=" + profile, *extra):
        options.add_argument(flag)
    return options


def visit_with_chromium(env, urls, profile_directory, extra=()):
    """Chromium with its user data where a user's lie ($XDG_CONFIG_HOME/chromium); the disk
    cache of the profile then goes where Chromium puts a user's cache, below
    $XDG_CACHE_HOME."""
    profile = os.path.join(env["XDG_CONFIG_HOME"], "chromium")
    options = chromium_options(profile, ["--profile-directory=" + profile_directory, *extra])
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver", env=env),
                              options=options)
    try:
        driver.set_page_load_timeout(20)
        for url in urls:
            driver.get(url)
    except Exception:
        driver.quit()
        raise
    # The browser itself shuts down, as when its user closes it, so that the cache is left
    # as a closed browser leaves it; then chromedriver ends.
    try:
        driver.execute_cdp_cmd("Browser.close", {})
    except Exception:  # the session ends with the browser
        pass
    lock = os.path.join(profile, "SingletonLock")
    deadline = time.monotonic() + 20
    while os.path.lexists(lock) and time.monotonic() < deadline:
        time.sleep(0.1)
    try:
        driver.quit()
    except Exception:
        pass
    if os.path.lexists(lock):
        fail("Chromium did not quit within 20 s of Browser.close (its SingletonLock stays)")


class Marionette:
    """Firefox's own remote protocol (Debian has no geckodriver): '<length>:<json>'."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=30)
        self.buffer = b""
        self.id = 0
        self.read()  # the greeting

    def read(self):
        while b":" not in self.buffer:
            self.buffer += self.receive()
        length, rest = self.buffer.split(b":", 1)
        while len(rest) < int(length):
            rest += self.receive()
        self.buffer = rest[int(length):]
        return json.loads(rest[:int(length)])

    def receive(self):
        chunk = self.sock.recv(65536)
        if not chunk:
            raise OSError("Marionette closed the connection")
        return chunk

    def command(self, name, params):
        self.id += 1
        data = json.dumps([0, self.id, name, params]).encode()
        self.sock.sendall(b"%d:%s" % (len(data), data))
        while True:
            message = self.read()
            if message[0] == 1 and message[1] == self.id:
                if message[2]:
                    raise RuntimeError(f"{name}: {message[2]}")
                return message[3]


def place_firefox_profile(home):
    """A profile as Firefox makes one for a user: listed in ~/.mozilla/firefox/profiles.ini,
    its directory beside it. Marionette listens on a free port it writes into the profile."""
    firefox = os.path.join(home, ".mozilla", "firefox")
    profile = os.path.join(firefox, FIREFOX_PROFILE)
    os.makedirs(profile)
    with open(os.path.join(firefox, "profiles.ini"), "w", encoding="ascii") as f:
        f.write(f"[Profile0]\nName=default-esr\nIsRelative=1\nPath={FIREFOX_PROFILE}\n"
                "Default=1\n\n[General]\nStartWithLastProfile=1\nVersion=2\n")
    prefs = {"marionette.port": 0, "browser.shell.checkDefaultBrowser": False,
             "browser.startup.page": 0, "browser.startup.homepage_override.mstone": "ignore",
             "datareporting.policy.dataSubmissionEnabled": False,
             "toolkit.telemetry.reportingpolicy.firstRun": False,
             "app.update.disabledForTesting": True,
             "network.captive-portal-service.enabled": False,
             "network.connectivity-service.enabled": False}
    with open(os.path.join(profile, "user.js"), "w", encoding="ascii") as f:
        for name, value in prefs.items():
            f.write(f"user_pref({json.dumps(name)}, {json.dumps(value)});\n")
    return profile


def visit_with_firefox(env, profile, urls, work):
    errors = os.path.join(work, "firefox.stderr")
    with open(errors, "wb") as stderr:
        process = subprocess.Popen(
            ["firefox-esr", "--headless", "--no-remote", "--marionette", "--profile", profile],
            env=env, stdout=subprocess.DEVNULL, stderr=stderr)

    def failed(what):
        if process.poll() is None:
            process.kill()
            process.wait()
        with open(errors, encoding="utf-8", errors="replace") as f:
            fail(f"Firefox: {what}; its stderr:\n{f.read()[-3000:]}")

    def marionette_port():
        try:
            with open(os.path.join(profile, "MarionetteActivePort"), encoding="ascii") as f:
                return int(f.read())
        except (OSError, ValueError):
            return None

    deadline = time.monotonic() + 30
    while not marionette_port():
        if process.poll() is not None or time.monotonic() > deadline:
            failed("Marionette did not start")
        time.sleep(0.1)
    try:
        marionette = Marionette(marionette_port())
        marionette.command("WebDriver:NewSession",
                           {"capabilities": {"pageLoadStrategy": "normal"}})
        for url in urls:
            marionette.command("WebDriver:Navigate", {"url": url})
    except (OSError, RuntimeError, ValueError) as e:
        failed(f"visiting the site: {e}")
    try:  # the answer may be lost as the browser goes
        marionette.command("Marionette:Quit", {"flags": ["eAttemptQuit"]})
    except (OSError, RuntimeError, ValueError):
        pass
    try:
        status = process.wait(timeout=30)
    except subprocess.TimeoutExpired:
        failed("it did not quit within 30 s")
    if status != 0:
        failed(f"it exited {status}")


def listing(directory):
    found = []
    for root, dirs, files in os.walk(directory):
        found += [os.path.join(root, name) for name in dirs + files]
    return "\n".join(sorted(found)[:80])


# ---------------------------------------------------------------------------- lumbra-cli


def run(cli, env, start, *args, expect=0):
    done = subprocess.run([cli, "-C", start, *args], env=env, capture_output=True, text=True,
                          errors="replace", check=False)
    if done.returncode != expect:
        log = os.path.join(start, "lumbralog.txt")
        tail = ""
        if os.path.exists(log):
            with open(log, encoding="cp932", errors="replace") as f:  # the system's code page
                tail = "\nlumbralog.txt (end):\n" + "".join(f.readlines()[-40:])
        fail(f"lumbra-cli {' '.join(args)} exited {done.returncode}, not {expect}:\n"
             f"stdout:\n{done.stdout[-3000:]}\nstderr:\n{done.stderr[-3000:]}{tail}")
    return done.stdout


# ---------------------------------------------------------------------------- on disk


def stored_path(tree, url):
    """Where the add job keeps the document of `url` (all of the site's URLs are plain: a
    host, a port and a path with an extension that fits)."""
    parts = urllib.parse.urlsplit(url)
    return os.path.join(tree, f"{parts.hostname}-{parts.port}", parts.path.lstrip("/"))


class Document(html.parser.HTMLParser):
    """A page as its parts: the markup and text with every link value taken out, and the
    links in order."""

    LINKS = {"href", "src"}

    def __init__(self, text):
        super().__init__(convert_charrefs=True)
        self.parts, self.links = [], []
        self.feed(text)
        self.close()

    def handle_starttag(self, tag, attrs):
        kept = []
        for name, value in attrs:
            if name in self.LINKS and value is not None:
                self.links.append(value)
                value = "<link>"
            kept.append((name, value))
        self.parts.append(("start", tag, tuple(kept)))

    def handle_endtag(self, tag):
        self.parts.append(("end", tag))

    def handle_data(self, data):
        self.parts.append(("text", data))

    def handle_comment(self, data):
        self.parts.append(("comment", data))

    def handle_decl(self, decl):
        self.parts.append(("decl", decl))


CSS_URL = re.compile(r"""url\(\s*(['"]?)(.*?)\1\s*\)""")


def style_sheet(text):
    links = [m.group(2) for m in CSS_URL.finditer(text)]
    return [CSS_URL.sub("url(<link>)", text)], links


def documents_sent(answers):
    return sorted({url for url, status, _ in answers if status == 200})


def compare_collection(name, tree, site, answers, failures):
    """The documents the server sent with 200 against what the add job stored in `tree`."""
    sent = documents_sent(answers)
    url_of_file = {os.path.realpath(stored_path(tree, url)): url for url in sent}
    stored = set()
    for root, dirs, files in os.walk(tree):
        dirs[:] = [d for d in dirs if not d.startswith(".")]
        stored |= {os.path.realpath(os.path.join(root, f)) for f in files
                   if not f.startswith(".")}
    for extra in sorted(stored - set(url_of_file)):
        failures.append(f"{name}: stored, but never sent with 200: {extra}")
    for url in sent:
        path = stored_path(tree, url)
        if not os.path.isfile(path):
            failures.append(f"{name}: {url} was sent with 200 but is not stored as {path}")
            continue
        with open(path, "rb") as f:
            have = f.read()
        want = site.resolve(url)[1]
        extension = os.path.splitext(path)[1]
        if extension not in (".html", ".css"):
            if have != want:
                failures.append(f"{name}: {path} ({len(have)} bytes) is not the "
                                f"{len(want)} bytes sent for {url}")
            continue
        read = (lambda b: (lambda d: (d.parts, d.links))(Document(b.decode("utf-8")))) \
            if extension == ".html" else (lambda b: style_sheet(b.decode("utf-8")))
        try:
            (have_parts, have_links), (want_parts, want_links) = read(have), read(want)
        except UnicodeDecodeError as e:
            failures.append(f"{name}: {path} is not the UTF-8 text sent: {e}")
            continue
        if have_parts != want_parts or len(have_links) != len(want_links):
            diff = difflib.unified_diff(want.decode().splitlines(), have.decode().splitlines(),
                                        "sent", "stored", lineterm="")
            failures.append(f"{name}: {path} differs from what was sent for {url} beyond its "
                            "links:\n" + "\n".join(diff))
            continue
        here = "file://" + urllib.parse.quote(os.path.abspath(path))
        for old, new in zip(want_links, have_links):
            before = urllib.parse.urljoin(url, old)
            after = urllib.parse.urljoin(here, new)
            where = f"{name}: in {path}, the link {old!r} (now {new!r})"
            if after.startswith("file:"):
                local, _, fragment = after.partition("#")
                file = urllib.parse.unquote(urllib.parse.urlsplit(local).path)
                if not os.path.isfile(file):
                    failures.append(f"{where} names a file that does not exist: {file}")
                    continue
                after = url_of_file.get(os.path.realpath(file), file) + (
                    "#" + fragment if fragment else "")
            elif before.split("#")[0] in sent:
                failures.append(f"{where} is not local, though {before} is stored")
                continue
            if after != before:
                failures.append(f"{where} leads to {after}, not to {before}")
    return sent


# ---------------------------------------------------------------------------- in a browser


class Browse:
    def __init__(self, driver):
        self.driver = driver
        self.failures = []

    def expect(self, ok, what):
        if not ok:
            self.failures.append(what)
        return ok

    def url(self):
        return self.driver.execute_script("return document.URL")

    def in_frame(self, name):
        self.driver.switch_to.default_content()
        self.driver.switch_to.frame(name)

    def page_is_shown(self, where):
        url = self.url()
        body = self.driver.execute_script("return document.body ? document.body.innerText : ''")
        return self.expect(url.startswith("file:///") and "ERR_" not in body,
                           f"{where}: not a local copy, or an error page: {url}")

    def images_load(self, where, at_least):
        images = self.driver.execute_script(
            "return Array.from(document.images).map(i => [i.src, i.complete && i.naturalWidth])")
        self.expect(len(images) >= at_least, f"{where}: {len(images)} images, not {at_least}")
        for src, width in images:
            self.expect(src.startswith("file:///") and width and width > 0,
                        f"{where}: the image {src} is not a local copy that loads")

    def background_loads(self, where):
        """The style sheet's image (style.css came gzip-encoded) is local and loads."""
        width = self.driver.execute_async_script("""
            const done = arguments[arguments.length - 1];
            const m = /url\\("?([^")]*)"?\\)/.exec(getComputedStyle(document.body).backgroundImage);
            if (!m || !m[1].startsWith('file:///')) return done(m ? m[1] : 'none');
            const image = new Image();
            image.onload = () => done(image.naturalWidth);
            image.onerror = () => done('failed: ' + m[1]);
            image.src = m[1];""")
        self.expect(isinstance(width, int) and width > 0,
                    f"{where}: the style sheet's background image: {width}")

    def click(self, frame, text, where):
        self.in_frame(frame)
        for link in self.driver.find_elements(By.TAG_NAME, "a"):
            if text in link.text:
                link.click()
                return True
        return self.expect(False, f"{where}: no link '{text}' in the frame {frame}")

    def follow(self, text, where):
        """Clicks a link of the page shown; it must lead to a local copy."""
        for link in self.driver.find_elements(By.TAG_NAME, "a"):
            if link.text == text:
                link.click()
                return self.page_is_shown(f"{where}, after '{text}'")
        return self.expect(False, f"{where}: no link '{text}' on {self.url()}")

    def open_from_index(self, ending, where):
        """Clicks the local link of an entry of the index page (it opens a window) and
        switches to that window."""
        self.in_frame("home")
        self.page_is_shown(where + ", the index page")
        before = set(self.driver.window_handles)
        for link in self.driver.find_elements(By.TAG_NAME, "a"):
            href = link.get_attribute("href") or ""
            if href.startswith("file:///") and href.endswith(ending):
                link.click()
                break
        else:
            return self.expect(False, f"{where}: no local link to {ending} in the index page")
        opened = [h for h in self.driver.window_handles if h not in before]
        if not self.expect(len(opened) == 1, f"{where}: the page opened in no window"):
            return False
        self.driver.switch_to.window(opened[0])
        return self.page_is_shown(where + ", the page")


def browse(collections, port, profile):
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"),
                              options=chromium_options(profile, ["--window-size=1200,700"]))
    b = Browse(driver)
    try:
        for name, index, log, site in collections:
            page = "index.html"
            where = f"{name}'s collection"
            driver.get("file://" + os.path.join(index, "lumbra.htm"))
            main = driver.current_window_handle
            for frame in ("top", "www", "home"):
                b.in_frame(frame)
                b.page_is_shown(f"{where}: the frame {frame} of lumbra.htm")
            if not (b.click("top", log, where) and b.click("www", site, where)
                    and b.open_from_index(f"/{site}/{page}", f"{where}, {site}")):
                continue
            if site.startswith("127.0.0.1"):  # the home page of the club
                b.images_load(f"{where}, {page}", 1)
                b.background_loads(f"{where}, {page}")
                if b.follow("About the club", where):
                    b.images_load(f"{where}, about.html", 2)
                    b.expect(b.url().endswith(f"/{site}/about.html"), f"{where}: {b.url()}")
                    b.driver.back()
                if b.follow("The boat shed", where):  # to the other host
                    b.images_load(f"{where}, the boat shed", 1)
                    b.expect(b.url().endswith(f"/localhost-{port}/index.html"),
                             f"{where}: the boat shed is {b.url()}")
            else:  # the boat shed, and back to the club through an absolute link
                b.images_load(f"{where}, {page}", 1)
                if b.follow("Back to the club", where):
                    b.images_load(f"{where}, the club", 1)
                    b.background_loads(f"{where}, the club")
                    if b.follow("The rules", where):
                        b.images_load(f"{where}, the rules", 1)
                        b.background_loads(f"{where}, the rules")
            driver.close()
            driver.switch_to.window(main)
    finally:
        driver.quit()
    return b.failures


# ---------------------------------------------------------------------------- the test


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    cli, site_dir = (os.path.abspath(arg) for arg in sys.argv[1:])
    if not shutil.which("firefox-esr"):
        fail("firefox-esr is not installed (scripts/setup installs it)")
    work = tempfile.mkdtemp(prefix="lumbra-todays-caches-")
    try:
        failures = test(cli, site_dir, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for failure in failures:
        print("FAILED:", failure)
    step(f"{len(failures)} failures")
    sys.exit(1 if failures else 0)


def test(cli, site_dir, work):
    home = os.path.join(work, "home")
    env = dict(os.environ, HOME=home, XDG_CACHE_HOME=os.path.join(home, "xdg-cache"),
               XDG_CONFIG_HOME=os.path.join(home, "xdg-config"))
    for variable in ("XDG_CACHE_HOME", "XDG_CONFIG_HOME"):
        os.makedirs(env[variable])
    chromium = os.path.join(env["XDG_CACHE_HOME"], "chromium")
    firefox_profile = place_firefox_profile(home)
    firefox_local = os.path.join(env["XDG_CACHE_HOME"], "mozilla", "firefox", FIREFOX_PROFILE)
    # (name, the cache directory, what CACHE_DIR names, a file that shows the cache is there,
    # the browser, profile and layout `lumbra-cli caches` names it by)
    caches = [("Chromium", os.path.join(chromium, "Default", "Cache", "Cache_Data"),
               os.path.join(chromium, "Default", "Cache", "Cache_Data"), "*_0",
               ("Chromium", "Default", "Chromium Simple Cache")),
              ("Chromium blockfile", os.path.join(chromium, "Profile 1", "Cache", "Cache_Data"),
               os.path.join(chromium, "Profile 1"), "data_1",
               ("Chromium", "Profile 1", "Chromium blockfile")),
              ("Firefox", os.path.join(firefox_local, "cache2"), firefox_local, "entries/*",
               ("Firefox", FIREFOX_PROFILE, "Firefox cache2"))]

    # Chromium's default backend on Linux (Simple Cache) in its first profile, its blockfile
    # backend (the default on Windows) in a second one, Firefox's cache2 in its profile.
    site = Site(site_dir)
    answers = {}
    try:
        urls = [url.format(port=site.port) for url in VISITS]
        step(f"the site is served on 127.0.0.1:{site.port}; Chromium visits it")
        visit_with_chromium(env, urls, "Default")
        answers["Chromium"] = site.take_answers()
        step("Chromium visits it in a second profile, with the blockfile backend")
        visit_with_chromium(env, urls, "Profile 1",
                            ["--enable-features=DiskCacheBackendExperiment:backend/blockfile"])
        answers["Chromium blockfile"] = site.take_answers()
        step("Firefox visits it")
        visit_with_firefox(env, firefox_profile, urls, work)
        answers["Firefox"] = site.take_answers()
    finally:
        site.stop()
    step("the server is stopped")
    for name, cache, _, marker, _ in caches:
        if not glob.glob(os.path.join(glob.escape(cache), marker)):
            fail(f"{name}'s cache is not in {cache}; below the home:\n{listing(home)}")

    # One line per cache: browser, profile, layout, directory, entries, bytes (tabs between);
    # the entries are the documents the browser was sent with 200, once each.
    listed = run(cli, env, work, "caches")
    rows = sorted(tuple(line.split("\t")[:5]) for line in listed.splitlines())
    want = sorted((*named_by, cache, str(len(documents_sent(answers[name]))))
                  for name, cache, _, _, named_by in caches)
    if rows != want:
        fail("lumbra-cli caches does not list the three caches as they are:\n"
             + "\n".join("\t".join(row) for row in want) + "\nbut:\n" + listed)
    step("lumbra-cli caches lists the three")

    # Each cache becomes a collection of its own. CACHE_DIR names the cache directory of
    # Chromium's first profile, and the profile directory of the others (Firefox's is its
    # local directory, which holds cache2), as a user may name either.
    starts, trees, indexes = {}, {}, {}
    for name, _, named, _, _ in caches:
        base = os.path.join(work, name.lower().replace(" ", "-"))
        starts[name], trees[name], indexes[name] = (
            os.path.join(base, d) for d in ("start", "save/log", "index"))
        os.makedirs(starts[name])
        run(cli, env, starts[name], "settings", "CACHE_DIR=" + named,
            "LOG_DIR_A=" + trees[name], "INDEX_DIR=" + indexes[name])
        run(cli, env, starts[name], "--yes", "--exec-log", "add")
    step("lumbra-cli add: each cache is a collection")

    # What the add stored, and the same after a rebuild of the log (which rewrites every
    # page again and writes the log's index).
    failures = []
    for job in ("add", "rebuild"):
        for name in starts:
            if job == "rebuild":
                run(cli, env, starts[name], "--yes", "--exec-log", "rebuild")
            sent = compare_collection(f"{name}, after {job}", trees[name], site, answers[name],
                                      failures)
            if len(sent) < 10:
                failures.append(f"{name}: only {len(sent)} documents were sent: {sent}")
            encoded = {urllib.parse.urlsplit(url).path for url, _, how in answers[name] if how}
            if job == "add" and encoded != GZIP_SENT:
                failures.append(f"{name}: not sent gzip-encoded as meant: {GZIP_SENT - encoded}")
        step(f"the collections are checked on disk after {job}")

    # Chromium's through the log, Firefox's through the pages of its add.
    failures += browse([("Chromium", indexes["Chromium"], ":log", f"127.0.0.1-{site.port}"),
                        ("Chromium blockfile", indexes["Chromium blockfile"], "新規",
                         f"127.0.0.1-{site.port}"),
                        ("Firefox", indexes["Firefox"], "新規", f"localhost-{site.port}")],
                       site.port, os.path.join(work, "browse-profile"))
    step("the collections are browsed")
    return failures


if __name__ == "__main__":
    main()
