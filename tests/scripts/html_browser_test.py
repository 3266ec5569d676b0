#!/usr/bin/env python3
"""The HTML report in a real browser.

Writes a log, makes its report with logdesk-report --html, and opens it in
headless Chromium from a file:// URL, in a network namespace of its own
where one can be made (and with every name resolving to nothing in any
case), then checks that
  - the browser reported nothing on the console (a control page shows that
    what a page logs does reach the captured lines);
  - the rendered page holds no script, and no address outside the file;
  - every table of the rendered page (--dump-dom) equals the CSV page that
    logdesk-report --page ... writes for the same log, cell for cell, and
    every crawler of the tally has its tables;
  - the screenshot is no blank page and shows the crawlers' chart colours.

Usage: html_browser_test.py LOGDESK_REPORT OUT_DIR [CHROMIUM]
Exit status 77 (a skip for CTest) when Chromium is not installed, 1 on a
failure. OUT_DIR keeps the report and the screenshot for a person to look at.
"""

import csv
import html.parser
import io
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

SKIP = 77
# The chart colours of the registry: Baidu's and Google's pie slices.
BAIDU = (0x29, 0x32, 0xE1)
GOOGLE = (0xB9, 0x09, 0x25)
HOSTILE_URL = "/search/<script>alert(1)</script>"
CHINESE_URL = "/新闻/今日要闻.htm"

failures = []


def fail(message):
    failures.append(message)
    print("FAILED " + message)


def make_log(path):
    """Seven days of six crawlers and people, with statuses and times."""
    rng = random.Random(20240301)
    agents = [
        ("Mozilla/5.0+(compatible;+Baiduspider/2.0;++http://www.baidu.com/search/spider.html)", 900),
        ("Mozilla/5.0+(compatible;+Googlebot/2.1;++http://www.google.com/bot.html)", 500),
        ("Mozilla/5.0+(compatible;+bingbot/2.0;++http://www.bing.com/bingbot.htm)", 200),
        ("Sogou+web+spider/4.0(+http://www.sogou.com/docs/help/webmasters.htm#07)", 120),
        ("Mozilla/5.0+(compatible;+360Spider)", 80),
        ("Mozilla/5.0+(Windows+NT+10.0;+Win64;+x64)+AppleWebKit/537.36", 400),
    ]
    urls = ["/", "/index.htm", CHINESE_URL, HOSTILE_URL] + [
        "/news/%d.htm" % n for n in range(1, 40)
    ]
    statuses = [("200", "0")] * 8 + [("304", "0"), ("404", "2"), ("500", "0"), ("301", "0")]
    lines = [
        "#Software: Microsoft Internet Information Services 7.5",
        "#Fields: date time s-ip cs-method cs-uri-stem cs-uri-query s-port c-ip "
        "cs(User-Agent) sc-status sc-substatus sc-win32-status time-taken",
    ]
    for agent, visits in agents:
        for i in range(visits):
            day = 1 + rng.randrange(7)
            # Crawlers favour the first pages: some URLs are fetched much
            # more often than others.
            url = urls[min(int(rng.expovariate(0.15)), len(urls) - 1)]
            status, win32 = rng.choice(statuses)
            lines.append(
                "2024-03-%02d %02d:%02d:%02d 10.0.0.1 GET %s - 80 10.1.%d.%d %s %s 0 %s %d"
                % (day, rng.randrange(24), rng.randrange(60), rng.randrange(60), url,
                   rng.randrange(4), rng.randrange(250), agent, status, win32,
                   rng.randrange(5, 900)))
    with open(path, "wb") as out:
        out.write(("\r\n".join(lines) + "\r\n").encode("gbk"))


class Tables(html.parser.HTMLParser):
    """The rendered page's tables with their data-page and data-spider, and
    what of it could fetch: scripts and addresses outside the file."""

    def __init__(self):
        super().__init__()
        self.tables = []  # (page, spider, rows)
        self.scripts = 0
        self.outside = []
        self.ids = set()
        self.hrefs = []
        self._rows = None
        self._cell = None

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if "id" in a:
            self.ids.add(a["id"])
        if tag == "script":
            self.scripts += 1
        for name in ("src", "srcset", "action", "formaction", "poster", "data", "xlink:href"):
            if name in a:
                self.outside.append("%s %s=%s" % (tag, name, a[name]))
        if "href" in a:
            self.hrefs.append(a["href"])
        if tag in ("link", "iframe", "object", "embed", "img", "base", "image", "use"):
            self.outside.append(tag)
        if tag == "table" and "data-page" in a:
            self._rows = []
            self.tables.append((a["data-page"], a.get("data-spider"), self._rows))
        elif tag == "tr" and self._rows is not None:
            self._rows.append([])
        elif tag in ("td", "th") and self._rows is not None:
            self._cell = []

    def handle_endtag(self, tag):
        if tag in ("td", "th") and self._cell is not None:
            self._rows[-1].append("".join(self._cell))
            self._cell = None
        elif tag == "table":
            self._rows = None

    def handle_data(self, data):
        if self._cell is not None:
            self._cell.append(data)


def csv_page(report, log, *args):
    """A CSV page of logdesk-report, as rows of cells."""
    run = subprocess.run([report, *args, "--utf8", log], capture_output=True, timeout=120)
    if run.returncode != 0:
        fail("logdesk-report %s: exit %d: %s" % (" ".join(args), run.returncode,
                                                  run.stderr.decode(errors="replace")))
        return []
    return list(csv.reader(io.StringIO(run.stdout.decode("utf-8"), newline="")))


def short_name(display_name):
    cut = display_name.rfind("(")
    return display_name[:cut] if cut > 0 else display_name


def chromium_command(chromium, scratch, *mode):
    command = [
        chromium, "--headless", "--no-sandbox", "--disable-gpu", "--no-proxy-server",
        "--host-resolver-rules=MAP * ~NOTFOUND", "--disable-background-networking",
        "--disable-component-update", "--disable-sync", "--disable-default-apps",
        "--disable-extensions", "--disable-domain-reliability", "--no-first-run",
        "--no-default-browser-check", "--user-data-dir=" + os.path.join(scratch, "profile"),
        "--enable-logging=stderr", "--v=0", "--lang=zh-CN", "--hide-scrollbars",
        "--force-device-scale-factor=1", "--window-size=1200,1500", *mode,
    ]
    # A network namespace with nothing but a loopback that is down: the
    # browser could not reach anything even if it tried.
    if shutil.which("unshare") and subprocess.run(
            ["unshare", "--net", "true"], capture_output=True).returncode == 0:
        return ["unshare", "--net"] + command
    return command


def open_in_chromium(chromium, scratch, page, *mode):
    """Chromium's standard output and its console lines for the page."""
    run = subprocess.run(chromium_command(chromium, scratch, *mode, "file://" + page),
                         capture_output=True, timeout=180)
    if run.returncode != 0:
        fail("chromium %s: exit %d: %s" % (" ".join(mode), run.returncode,
                                            run.stderr.decode(errors="replace")[-2000:]))
    console = [line for line in run.stderr.decode(errors="replace").splitlines()
               if ":CONSOLE" in line]
    return run.stdout, console


def read_png(path):
    """(width, height, rows of (r, g, b) pixels) of an 8-bit RGB or RGBA PNG."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour not in (2, 6) or interlace != 0:
        raise ValueError("PNG of depth %d, colour type %d, interlace %d" % (depth, colour, interlace))
    bpp = 3 if colour == 2 else 4
    raw = zlib.decompress(idat)
    stride = width * bpp
    previous = bytearray(stride)
    pixels = []
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for i in range(stride):
            left = line[i - bpp] if i >= bpp else 0
            up = previous[i]
            corner = previous[i - bpp] if i >= bpp else 0
            if kind == 1:
                line[i] = (line[i] + left) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + up) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                pred = left if pa <= pb and pa <= pc else up if pb <= pc else corner
                line[i] = (line[i] + pred) & 0xFF
        pixels.append([tuple(line[x * bpp:x * bpp + 3]) for x in range(width)])
        previous = line
    return width, height, pixels


def near(pixel, colour, tolerance=3):
    return all(abs(a - b) <= tolerance for a, b in zip(pixel, colour))


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    report, out_dir = sys.argv[1], sys.argv[2]
    chromium = sys.argv[3] if len(sys.argv) > 3 else "/usr/bin/chromium"
    if not os.access(chromium, os.X_OK):
        print("skipped: no Chromium at " + chromium + " (the package chromium)")
        return SKIP
    os.makedirs(out_dir, exist_ok=True)
    scratch = tempfile.mkdtemp(prefix="logdesk-html-")
    try:
        return check(report, out_dir, chromium, scratch)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def check(report, out_dir, chromium, scratch):
    log = os.path.join(scratch, "ex240301.log")
    make_log(log)
    urls = os.path.join(scratch, "urls.txt")
    with open(urls, "w") as f:
        f.write("".join("https://www.example.com/news/%d.htm\n" % n for n in range(1, 60)))
    page = os.path.join(out_dir, "report.html")
    made = subprocess.run([report, "--html", page, "--urls", urls, log], capture_output=True,
                          timeout=120)
    if made.returncode != 0 or made.stdout:
        fail("logdesk-report --html: exit %d, %d bytes on standard output: %s"
             % (made.returncode, len(made.stdout), made.stderr.decode(errors="replace")))
        return 1

    # The console is captured: what a page logs shows up in these lines.
    control = os.path.join(scratch, "control.html")
    with open(control, "w") as f:
        f.write("<!DOCTYPE html><meta charset=utf-8><script>console.error('logdesk-control')"
                "</script>")
    _, console = open_in_chromium(chromium, scratch, control, "--dump-dom")
    if not any("logdesk-control" in line for line in console):
        fail("the control page's console.error was not captured: %r" % console)

    dom, console = open_in_chromium(chromium, scratch, page, "--dump-dom")
    for line in console:
        fail("console: " + line)
    rendered = Tables()
    rendered.feed(dom.decode("utf-8"))
    if rendered.scripts:
        fail("%d script elements in the rendered page" % rendered.scripts)
    for what in rendered.outside:
        fail("reaches outside the file: " + what)
    for href in rendered.hrefs:
        if not (href.startswith("#") and href[1:] in rendered.ids):
            fail("a link that is no anchor of the page: " + href)

    # Every table is its CSV page; every crawler of the tally has its own.
    spiders = csv_page(report, log, "--page", "spiders")
    expected_tables = {("spiders", None), ("spider-days", None), ("status", None),
                       ("timing", None), ("coverage", None)}
    for row in spiders[1:]:
        expected_tables |= {("status", short_name(row[0])), ("urls", short_name(row[0]))}
    seen = set()
    for name, spider, rows in rendered.tables:
        seen.add((name, spider))
        args = ["--page", name]
        if spider is not None:
            args += ["--spider", spider]
        if name == "urls":
            args += ["--sort", "1", "--desc"]
        if name == "coverage":
            args += ["--urls", urls]
        want = csv_page(report, log, *args)
        if name == "urls":
            want = want[:2 + 20]  # the captions, the summary and the top 20
        if rows != want:
            fail("table %s %s: the page shows\n  %r\nbut the CSV page is\n  %r"
                 % (name, spider or "", rows[:4], want[:4]))
    for missing in sorted(expected_tables - seen, key=str):
        fail("no table %s %s in the rendered page" % missing)
    if not any(name == "urls" and any(r and r[0] == HOSTILE_URL for r in rows)
               for name, _, rows in rendered.tables):
        fail("the URL with <script> is not shown as text")
    if not any(name == "urls" and any(r and r[0] == CHINESE_URL for r in rows)
               for name, _, rows in rendered.tables):
        fail("the GBK URL is not shown in UTF-8")

    shot = os.path.join(out_dir, "report.png")
    if os.path.exists(shot):
        os.remove(shot)
    _, console = open_in_chromium(chromium, scratch, page, "--screenshot=" + shot)
    for line in console:
        fail("console: " + line)
    try:
        width, height, pixels = read_png(shot)
    except (OSError, ValueError, zlib.error) as error:
        fail("screenshot %s: %s" % (shot, error))
        return 1
    counts = {}
    for row in pixels:
        for pixel in row:
            counts[pixel] = counts.get(pixel, 0) + 1
    most = max(counts.values())
    if len(counts) < 50 or most > 0.97 * width * height:
        fail("the screenshot is blank: %d colours, the commonest on %d of %d pixels"
             % (len(counts), most, width * height))
    for name, colour in (("Baidu", BAIDU), ("Google", GOOGLE)):
        found = sum(n for pixel, n in counts.items() if near(pixel, colour))
        if found < 400:
            fail("%s's chart colour #%02x%02x%02x on only %d pixels" % ((name,) + colour + (found,)))

    print("html report: %d tables checked against their CSV pages, screenshot %s (%dx%d, %d colours)"
          % (len(rendered.tables), shot, width, height, len(counts)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
