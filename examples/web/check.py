#!/usr/bin/env python3
"""Checks the web example as clients meet it: every file of the site through curl with each
content coding (each form decompressed equals the file), HEAD, 304 for a matching If-None-Match,
404, 405 and a path that climbs out; with --browser, a page loaded in headless Chromium with its
stylesheet applied and its image loaded, and a screenshot kept."""
import argparse
import gzip
import os
import pathlib
import subprocess
import sys
import tempfile
import urllib.parse

failures = []


def expect(ok, what):
    if not ok:
        failures.append(what)
        print("FAILED:", what)


def decode(coding, body):
    if coding is None:
        return body
    if coding == "gzip":
        return gzip.decompress(body)
    tool = {"br": ["brotli", "-d", "-c"], "zstd": ["zstd", "-d", "-c", "-q"]}[coding]
    return subprocess.run(tool, input=body, stdout=subprocess.PIPE, check=True).stdout


def curl(url, *options):
    """Status, headers (lower-case names) and body of one request."""
    with tempfile.TemporaryDirectory() as work:
        head, body = os.path.join(work, "head"), os.path.join(work, "body")
        subprocess.run(["curl", "-s", "--path-as-is", "-D", head, "-o", body, *options, url],
                       check=True)
        lines = pathlib.Path(head).read_bytes().decode("latin-1").splitlines()
        headers = {}
        for line in lines[1:]:
            name, _, value = line.partition(":")
            if value:
                headers[name.strip().lower()] = value.strip()
        data = pathlib.Path(body).read_bytes() if os.path.exists(body) else b""
        return int(lines[0].split()[1]), headers, data


def start(server):
    process = subprocess.Popen([server, "0"], stdout=subprocess.PIPE, text=True)
    line = process.stdout.readline()
    if "http://" not in line:
        process.kill()
        sys.exit(f"the server did not start: {line!r}")
    return process, line.split()[-1]


def check_files(base, site):
    files = sorted(p for p in site.rglob("*") if p.is_file())
    for path in files:
        relative = path.relative_to(site).as_posix()
        url = base + urllib.parse.quote(relative)
        expected = path.read_bytes()
        for accept in ["", "gzip", "br", "zstd", "gzip, br", "br;q=0, gzip", "*"]:
            options = ["-H", f"Accept-Encoding: {accept}"] if accept else []
            what = f"{relative} with Accept-Encoding '{accept}'"
            status, headers, body = curl(url, *options)
            coding = headers.get("content-encoding")
            expect(status == 200, f"{what}: status {status}")
            expect(coding in (None, "gzip", "br"), f"{what}: coding {coding}")
            expect(coding is None or coding in accept or accept == "*",
                   f"{what}: {coding} was not asked for")
            expect(not (accept == "br;q=0, gzip" and coding == "br"), f"{what}: br with q=0")
            expect(decode(coding, body) == expected, f"{what}: the bytes")
            expect(coding is None or len(body) < len(expected), f"{what}: a larger form")
            expect(headers.get("content-length") == str(len(body)), f"{what}: Content-Length")
            expect(headers.get("content-type", "") != "", f"{what}: Content-Type")
            expect(headers.get("etag", "").startswith('"'), f"{what}: ETag")
            expect(coding is None or headers.get("vary") == "Accept-Encoding", f"{what}: Vary")
            # HEAD: the same headers (curl reads no content after them).
            h_status, h_headers, _ = curl(url, "-I", *options)
            expect(h_status == 200 and h_headers.get("etag") == headers.get("etag") and
                   h_headers.get("content-length") == headers.get("content-length"),
                   f"{what}: HEAD")
            # The validator: 304 when it matches (weak comparison too), 200 when not.
            tag = headers.get("etag", "")
            for match, answer in [(tag, 304), ("W/" + tag, 304), (f'"x", {tag}', 304),
                                  ("*", 304), ('"other"', 200)]:
                c_status, c_headers, c_body = curl(url, "-H", f"If-None-Match: {match}",
                                                   *options)
                expect(c_status == answer and (answer == 200 or c_body == b""),
                       f"{what}: If-None-Match {match} gave {c_status}")
    return files


def check_refusals(base, site):
    status, headers, body = curl(base)
    expect(status == 200 and body == (site / "index.html").read_bytes(), "/ is index.html")
    expect(headers.get("content-type") == "text/html; charset=utf-8", "index.html's type")
    for path in ["missing.html", "index.htm", "css", "css/", "INDEX.HTML"]:
        expect(curl(base + path)[0] == 404, f"{path}: 404")
    for method in ["POST", "PUT", "DELETE"]:
        status, headers, _ = curl(base, "-X", method)
        expect(status == 405 and headers.get("allow") == "GET, HEAD", f"{method}: 405")
    for path in ["../etc/passwd", "%2e%2e/index.html", "css/../index.html", "css/%2E%2E/x"]:
        expect(curl(base + path)[0] == 400, f"{path}: refused")


def check_browser(base, chromium, screenshot):
    flags = [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
             "--virtual-time-budget=10000"]
    dom = subprocess.run(flags + ["--dump-dom", base], stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, text=True, timeout=120).stdout
    expect('data-ready="yes"' in dom, "the page's script ran")
    expect("header background: rgb(32, 96, 160)" in dom, "the stylesheet applied")
    expect("logo width: 64" in dom, "the image loaded")
    subprocess.run(flags + ["--window-size=800,600", f"--screenshot={screenshot}", base],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
    expect(os.path.exists(screenshot) and os.path.getsize(screenshot) > 1000, "a screenshot")
    print(f"screenshot: {screenshot}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--server", required=True)
    parser.add_argument("--site", required=True)
    parser.add_argument("--browser", help="headless Chromium to load the page with")
    parser.add_argument("--screenshot", default="web-example.png")
    args = parser.parse_args()
    process, base = start(args.server)
    try:
        if args.browser:
            check_browser(base, args.browser, os.path.abspath(args.screenshot))
        else:
            files = check_files(base, pathlib.Path(args.site))
            check_refusals(base, pathlib.Path(args.site))
            print(f"{len(files)} files checked")
    finally:
        process.terminate()
        process.wait()
    expect(process.returncode == 0, f"the server ended with {process.returncode}")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
