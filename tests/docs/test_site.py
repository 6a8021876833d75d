"""The built documentation site (scripts/build-docs.sh), read as a person would.

Headless Chromium, driven through the DevTools protocol, opens the index page, the API reference,
the search page and the pages with charts; each must render (styles applied, no script error, every
image loaded), the API reference must show every class and member of the type stubs with its
docstring, and a search for "kelvin" must find the catalogue. Screenshots of each go into
build/docs/screenshots. Every link between the site's own pages, anchors included, must resolve.

Run from scripts/build-docs.sh --check, after the build. CHROMIUM may name the browser binary.
"""

import ast
import base64
import json
import os
import pathlib
import re
import shutil
import signal
import subprocess
import tempfile
import time
import urllib.parse

import html5lib
import pytest
import websocket

ROOT = pathlib.Path(__file__).resolve().parents[2]
HTML = ROOT / "build" / "docs" / "html"
SHOTS = ROOT / "build" / "docs" / "screenshots"
STUBS = ROOT / "stubs" / "tolvat-stubs" / "__init__.pyi"
DOCS = ROOT / "docs"

# Guards against a browser that hangs, not timings: a page of this site loads in well under a second.
HANG_GUARD = 120.0


def page_url(relative):
    return (HTML / relative).as_uri()


class DevTools:
    """One browser page, driven over the DevTools protocol's WebSocket."""

    def __init__(self, socket_url):
        self.socket = websocket.create_connection(socket_url, timeout=HANG_GUARD, suppress_origin=True)
        self.last_id = 0
        self.pending = []
        self.errors = []
        target = self.call("Target.createTarget", url="about:blank")["targetId"]
        self.session = self.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
        for domain in ("Page", "Runtime", "Log"):
            self.call(f"{domain}.enable", session=self.session)
        self.call("Emulation.setDeviceMetricsOverride", session=self.session,
                  width=1280, height=900, deviceScaleFactor=1, mobile=False)

    def _receive(self):
        message = json.loads(self.socket.recv())
        method = message.get("method")
        if method == "Runtime.exceptionThrown":
            self.errors.append(message["params"]["exceptionDetails"].get("text", "exception"))
        elif method == "Log.entryAdded" and message["params"]["entry"]["level"] == "error":
            self.errors.append(message["params"]["entry"]["text"])
        return message

    def call(self, method, session=None, **params):
        self.last_id += 1
        request = {"id": self.last_id, "method": method, "params": params}
        if session:
            request["sessionId"] = session
        self.socket.send(json.dumps(request))
        while True:
            message = self._receive()
            if message.get("id") == self.last_id:
                if "error" in message:
                    raise RuntimeError(f"{method}: {message['error']}")
                return message["result"]
            if "method" in message:
                self.pending.append(message)

    def open(self, url):
        """Navigates and returns once the page's load event has fired."""
        self.pending.clear()
        self.errors.clear()
        self.call("Page.navigate", session=self.session, url=url)
        while not any(m["method"] == "Page.loadEventFired" for m in self.pending):
            message = self._receive()
            if "method" in message:
                self.pending.append(message)

    def evaluate(self, expression):
        """The JSON value of a JavaScript expression; a promise is awaited."""
        result = self.call("Runtime.evaluate", session=self.session, expression=expression,
                           awaitPromise=True, returnByValue=True)
        if "exceptionDetails" in result:
            raise AssertionError(f"script failed: {result['exceptionDetails']}")
        return result["result"].get("value")

    def screenshot(self, name):
        data = base64.b64decode(self.call("Page.captureScreenshot", session=self.session, format="png")["data"])
        SHOTS.mkdir(parents=True, exist_ok=True)
        path = SHOTS / f"{name}.png"
        path.write_bytes(data)
        return path, data

    def close(self):
        self.socket.close()


@pytest.fixture(scope="module")
def browser():
    assert (HTML / "index.html").is_file(), "build the site first: scripts/build-docs.sh"
    binary = next((shutil.which(name) for name in (os.environ.get("CHROMIUM"), "chromium", "chromium-browser",
                                                   "google-chrome") if name and shutil.which(name)), None)
    assert binary, "no Chromium: install Debian's chromium package, or set CHROMIUM"
    # Chromium's helper processes may still write into the profile for a moment after the browser
    # ends: they are ended with it (one process group), and the folder's removal does not wait.
    with tempfile.TemporaryDirectory(ignore_cleanup_errors=True) as profile:
        log = open(pathlib.Path(profile) / "chromium.log", "wb")
        process = subprocess.Popen(
            [binary, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--no-default-browser-check", "--disable-extensions", "--allow-file-access-from-files",
             "--remote-debugging-address=127.0.0.1", "--remote-debugging-port=0",
             f"--user-data-dir={profile}", "about:blank"],
            stdin=subprocess.DEVNULL, stdout=log, stderr=log, start_new_session=True)
        try:
            # Chromium writes the port it listens on, and the browser's path, into the profile.
            port_file = pathlib.Path(profile) / "DevToolsActivePort"
            deadline = time.monotonic() + HANG_GUARD
            while not (port_file.is_file() and len(port_file.read_text().split()) == 2):
                assert process.poll() is None, "Chromium ended: " + (pathlib.Path(profile) / "chromium.log").read_text()
                assert time.monotonic() < deadline, "Chromium opened no DevTools port"
                time.sleep(0.05)
            port, path = port_file.read_text().split()
            tools = DevTools(f"ws://127.0.0.1:{port}{path}")
            yield tools
            tools.close()
        finally:
            process.terminate()
            try:
                process.wait(timeout=HANG_GUARD)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
            try:
                os.killpg(process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            log.close()


# What "renders" means for every page: the document loaded, every style sheet and image arrived,
# the theme's styles are in force (its sans-serif font and its sidebar laid out beside the text),
# and the article has a heading and text a reader can see.
RENDERED = """(() => {
  const article = document.querySelector("article");
  const heading = article && article.querySelector("h1");
  const sidebar = document.querySelector(".sidebar-tree");
  return {
    ready: document.readyState,
    title: document.title,
    heading: heading ? heading.innerText : null,
    textLength: article ? article.innerText.length : 0,
    styleSheets: [...document.querySelectorAll('link[rel="stylesheet"]')].map(l => [l.href, l.sheet !== null]),
    font: getComputedStyle(document.body).fontFamily,
    sidebarWidth: sidebar ? sidebar.getBoundingClientRect().width : 0,
    images: [...document.images].map(i => [i.src, i.complete && i.naturalWidth > 0 && i.naturalHeight > 0]),
  };
})()"""


def assert_rendered(browser, name, expected_heading):
    state = browser.evaluate(RENDERED)
    path, png = browser.screenshot(name)
    assert png.startswith(b"\x89PNG\r\n\x1a\n") and len(png) > 10_000, f"{path} is no real screenshot"
    assert state["ready"] == "complete"
    if expected_heading is not None:
        assert state["heading"] is not None and expected_heading in state["heading"], state["heading"]
    assert state["textLength"] > 200
    assert state["styleSheets"] and all(loaded for _, loaded in state["styleSheets"]), state["styleSheets"]
    assert "sans-serif" in state["font"] and "Times" not in state["font"], state["font"]
    assert state["sidebarWidth"] > 100
    assert all(loaded for _, loaded in state["images"]), [src for src, ok in state["images"] if not ok]
    assert browser.errors == [], browser.errors
    return state


def test_index_page(browser):
    browser.open(page_url("index.html"))
    assert_rendered(browser, "index", "tolvat")
    links = browser.evaluate("[...document.querySelectorAll('.sidebar-tree a')].map(a => a.innerText)")
    for entry in ("API reference", "Catalogue reference"):
        assert entry in links, links
    # The examples are highlighted as Python sessions.
    assert browser.evaluate("document.querySelectorAll('article .highlight .gp').length") >= 4


def stub_members():
    """{id on the API page: [docstring or None, one per definition]} of every class, member and alias."""
    tree = ast.parse(STUBS.read_text(encoding="utf-8"))
    members = {}

    def visit(body, prefix):
        for index, node in enumerate(body):
            if isinstance(node, (ast.ClassDef, ast.FunctionDef)):
                # Each overload carries its own docstring.
                members.setdefault(prefix + node.name, []).append(ast.get_docstring(node))
                if isinstance(node, ast.ClassDef):
                    visit(node.body, prefix + node.name + ".")
            elif isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name):
                following = body[index + 1] if index + 1 < len(body) else None
                doc = following.value.value if isinstance(following, ast.Expr) and isinstance(
                    following.value, ast.Constant) else None
                members.setdefault(prefix + node.target.id, []).append(doc)

    visit(tree.body, "tolvat.")
    return members


def words(text):
    return re.findall(r"[A-Za-z0-9_]+", text)


def test_api_page_shows_every_member_of_the_stubs_with_its_docstring(browser):
    browser.open(page_url("api/tolvat/index.html"))
    assert_rendered(browser, "api", "tolvat")
    # An entry is a <dt> per signature (overloads have several) and one <dd> with the text.
    shown = browser.evaluate("""Object.fromEntries([...document.querySelectorAll("dt[id^='tolvat.']")].map(dt => {
        let text = dt.nextElementSibling;
        while (text && text.tagName === "DT") text = text.nextElementSibling;
        return [dt.id, text ? text.innerText : ""];
      }))""")
    members = stub_members()
    assert {"tolvat.Tolvat", "tolvat.LogTolvat", "tolvat.Tolvat.as_unit", "tolvat.LogTolvat.__add__"} <= members.keys()
    undocumented = sorted(name for name, docs in members.items() if not all(docs))
    assert undocumented == [], f"members of the stubs without a docstring: {undocumented}"
    missing = sorted(members.keys() - shown.keys())
    assert missing == [], f"not on the API page: {missing}"
    for name, docs in members.items():
        for doc in docs:
            first = " ".join(words(doc.strip().splitlines()[0]))
            assert first in " ".join(words(shown[name])), (name, doc, shown[name])


def chart_pages():
    """The pages whose Markdown shows SVG charts."""
    return sorted(page.relative_to(DOCS).with_suffix(".html").as_posix()
                  for page in DOCS.rglob("*.md") if re.search(r"\]\([^)]*\.svg\)|<img [^>]*\.svg", page.read_text()))


def test_charts_load(browser):
    pages = chart_pages()
    if (DOCS / "performance.md").is_file():
        assert "performance.html" in pages, "the performance page shows no chart"
    for page in pages:
        browser.open(page_url(page))
        name = page.replace("/", "-").removesuffix(".html")
        state = assert_rendered(browser, name, "")
        charts = [src for src, _ in state["images"] if src.endswith(".svg")]
        assert charts, f"no chart shown on {page}"
        # The first chart, as the reader sees it.
        browser.evaluate("document.querySelector(\"img[src$='.svg']\").scrollIntoView()")
        browser.screenshot(name + "-chart")


def test_search_for_kelvin_finds_the_catalogue(browser):
    browser.open(page_url("search.html") + "?q=kelvin")
    # The results are filled in by script once the index is loaded, and each hit's excerpt once its
    # page's text is fetched: wait for the closing summary and every excerpt.
    results = browser.evaluate("""new Promise(resolve => {
        const done = () => {
          const summary = document.querySelector("#search-results .search-summary");
          if (!summary || !summary.innerText) return false;
          const hits = [...document.querySelectorAll("#search-results ul.search li")];
          if (hits.some(hit => !hit.querySelector(".context"))) return false;
          resolve({summary: summary.innerText,
                   hits: [...document.querySelectorAll("#search-results ul.search li a")].map(a => a.href)});
          return true;
        };
        if (!done()) new MutationObserver((_, observer) => { if (done()) observer.disconnect(); })
            .observe(document.body, {childList: true, subtree: true, characterData: true});
      })""")
    state = assert_rendered(browser, "search", None)
    assert state["title"].startswith("Search")
    pages = {urllib.parse.urlsplit(hit).path.rsplit("/", 1)[-1] for hit in results["hits"]}
    assert "catalogue.html" in pages, results


def test_internal_links_resolve():
    """Every link, image and script of every page that stays on the site names a file and an anchor that exist."""
    pages = sorted(HTML.rglob("*.html"))
    assert len(pages) > 5
    ids = {}

    def ids_of(path):
        if path not in ids:
            document = html5lib.parse(path.read_bytes(), namespaceHTMLElements=False)
            ids[path] = {element.get("id") for element in document.iter() if element.get("id")} | {
                element.get("name") for element in document.iter("a") if element.get("name")}
        return ids[path]

    broken = []
    checked = 0
    for page in pages:
        document = html5lib.parse(page.read_bytes(), namespaceHTMLElements=False)
        for element in document.iter():
            link = element.get("href") if element.tag in ("a", "link") else element.get("src")
            if not link or element.tag not in ("a", "link", "img", "script"):
                continue
            parts = urllib.parse.urlsplit(link)
            if parts.scheme or parts.netloc:
                continue
            target = (page.parent / urllib.parse.unquote(parts.path)).resolve() if parts.path else page
            if target.is_dir():
                target = target / "index.html"
            checked += 1
            if not target.is_file():
                broken.append(f"{page.relative_to(HTML)}: {link}")
            elif parts.fragment and target.suffix == ".html" and urllib.parse.unquote(parts.fragment) not in ids_of(target):
                broken.append(f"{page.relative_to(HTML)}: {link} (no such anchor)")
    assert checked > 500
    assert broken == []
