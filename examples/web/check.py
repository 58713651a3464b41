#!/usr/bin/env python3
"""Checks the web example as clients meet it: every file of the site through curl with each
content coding (each form decompressed equals the file), HEAD, 304 for a matching If-None-Match;
then the table of requests (--table) sent as written over a socket, odd targets, bodies and
pipelining included; with --browser, a page loaded in headless Chromium with its stylesheet
applied and its image loaded, and a screenshot kept. With --live, a server built with
VORMESTA_LIVE: the stylesheet edited, and what it serves next."""
import argparse
import gzip
import os
import pathlib
import re
import socket
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


def read_table(path):
    """The rows of the table: name, the request's bytes, and per request what it must answer."""
    rows = []
    for line in pathlib.Path(path).read_text(encoding="utf-8").splitlines():
        if line.startswith("=="):
            rows.append({"name": line[3:], "request": [], "answers": []})
        elif not rows or line.startswith("#") or (not line and not rows[-1]["request"]):
            continue
        elif line.startswith("-> "):
            rows[-1]["answers"].append([line[3:]])
        elif rows[-1]["answers"]:
            if line:
                rows[-1]["answers"][-1].append(line)
        else:
            rows[-1]["request"].append(line)
    return rows


def exchange(address, data, methods):
    """Sends `data` on one connection and reads an answer per method: status, headers, body."""
    answers = []
    with socket.create_connection(address, timeout=10) as connection:
        connection.sendall(data)
        buffer = b""
        for method in methods:
            while b"\r\n\r\n" not in buffer:
                more = connection.recv(65536)
                if not more:
                    return answers
                buffer += more
            head, _, buffer = buffer.partition(b"\r\n\r\n")
            lines = head.decode("latin-1").split("\r\n")
            headers = {}
            for line in lines[1:]:
                name, _, value = line.partition(":")
                headers[name.strip().lower()] = value.strip()
            status = int(lines[0].split()[1])
            length = 0 if method == "HEAD" or status == 304 else int(headers.get("content-length", 0))
            while len(buffer) < length:
                more = connection.recv(65536)
                if not more:
                    break
                buffer += more
            answers.append((status, headers, buffer[:length]))
            buffer = buffer[length:]
    return answers


def check_table(base, site, table, known):
    address = (base.split("//")[1].split(":")[0], int(base.rsplit(":", 1)[1].strip("/")))
    tags = {}

    def resolve(text):
        def value(match):
            words = match.group(2).split(" ")
            if match.group(1) == "size":
                return str((site / match.group(2)).stat().st_size)
            coding = words[-1] if words[-1] in ("gzip", "br", "zstd") else None
            path = " ".join(words[:-1] if coding else words)
            if (path, coding) not in tags:
                accept = f"Accept-Encoding: {coding}\r\n" if coding else ""
                target = urllib.parse.quote(path)
                answer = exchange(address, f"GET /{target} HTTP/1.1\r\nHost: t\r\n{accept}\r\n"
                                  .encode(), ["GET"])
                tags[path, coding] = answer[0][1].get("etag", "") if answer else ""
            return tags[path, coding]
        return re.sub(r"\{(etag|size) ([^}]*)\}", value, text)

    rows = [row for row in read_table(table) if "[single-page]" not in row["name"]]
    for row in rows:
        lines = [resolve(line) for line in row["request"]]
        methods = [line.split()[0] for line in lines
                   if re.fullmatch(r"[A-Z]+ \S+ HTTP/\d\.\d", line)]
        answers = exchange(address, "".join(line + "\r\n" for line in lines).encode("utf-8"),
                           methods)
        what = row["name"]
        before = len(failures)
        expect(len(answers) == len(row["answers"]), f"{what}: {len(answers)} answers")
        for (status, headers, body), want in zip(answers, row["answers"]):
            expect(str(status) == want[0], f"{what}: status {status}")
            for line in want[1:]:
                if line.startswith("!"):
                    expect(line[1:].lower() not in headers, f"{what}: {line[1:]} present")
                elif line.startswith("body: "):
                    kind, _, rest = line[6:].partition(" ")
                    if kind == "empty":
                        expect(body == b"", f"{what}: a body")
                    elif kind == "range":
                        path, first, last = rest.rsplit(" ", 2)
                        data = (site / path).read_bytes()[int(first):int(last) + 1]
                        expect(body == data, f"{what}: not the range")
                    else:
                        words = rest.split(" ")
                        coding = words[-1] if words[-1] in ("gzip", "br", "zstd") else None
                        path = " ".join(words[:-1] if coding else words)
                        expect(headers.get("content-encoding") == coding and
                               decode(coding, body) == (site / path).read_bytes(),
                               f"{what}: not the body of {rest}")
                else:
                    name, _, value = line.partition(": ")
                    have = headers.get(name.lower())
                    expect(have == resolve(value), f"{what}: {name}: {have}")
        # What the server library does before the responder is reached: said, not hidden.
        if what in known:
            failed = len(failures) > before
            del failures[before:]
            expect(failed, f"{what}: passes now; take it off the known list")
            print(f"known: {what}: {known[what]}")
    return rows


def check_browser(base, chromium, screenshot):
    flags = [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
             "--virtual-time-budget=10000"]
    dom = subprocess.run(flags + ["--dump-dom", base], stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, text=True, timeout=120).stdout
    expect('data-ready="yes"' in dom, "the page's script ran")
    expect("header background: rgb(32, 96, 160)" in dom, "the stylesheet applied")
    expect("logo width: 64" in dom, "the image loaded")
    expect("sound sought to 6 s of 12 s" in dom, "the sound sought (a range asked for)")
    subprocess.run(flags + ["--window-size=800,600", f"--screenshot={screenshot}", base],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
    expect(os.path.exists(screenshot) and os.path.getsize(screenshot) > 1000, "a screenshot")
    print(f"screenshot: {screenshot}")


def check_live(base, site):
    """An edit is served at the next request, bytes as they are, with a validator that follows
    them: 304 for the new one, 200 for the old, and a range of the new bytes."""
    path = site / "css" / "site.css"
    before = path.read_bytes()
    url = base + "css/site.css"
    try:
        _, headers, body = curl(url, "-H", "Accept-Encoding: gzip, br")
        expect(body == before and "content-encoding" not in headers, "live: the bytes as built")
        old_tag = headers.get("etag", "")
        expect(old_tag.startswith('W/"'), f"live: a weak validator, not {old_tag!r}")
        edited = before + b"\n/* edited */\n"
        path.write_bytes(edited)
        status, headers, body = curl(url, "-H", "Accept-Encoding: gzip, br")
        expect(status == 200 and body == edited, "live: the edit served at the next request")
        expect(headers.get("content-length") == str(len(edited)), "live: Content-Length")
        tag = headers.get("etag", "")
        expect(tag != old_tag, "live: the validator follows the bytes")
        expect(curl(url, "-H", f"If-None-Match: {tag}")[0] == 304, "live: 304 for the new tag")
        expect(curl(url, "-H", f"If-None-Match: {old_tag}")[0] == 200, "live: 200 for the old")
        status, _, body = curl(url, "-H", "Range: bytes=-14")
        expect(status == 206 and body == edited[-14:], "live: a range of the new bytes")
    finally:
        path.write_bytes(before)
    return [path]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--server", required=True)
    parser.add_argument("--site", required=True)
    parser.add_argument("--table", help="the table of requests and their answers")
    parser.add_argument("--known", action="append", default=[], metavar="ROW=WHY",
                        help="a row the server library answers otherwise, and why")
    parser.add_argument("--browser", help="headless Chromium to load the page with")
    parser.add_argument("--screenshot", default="web-example.png")
    parser.add_argument("--live", action="store_true", help="the server reads --site live")
    args = parser.parse_args()
    process, base = start(args.server)
    try:
        if args.browser:
            check_browser(base, args.browser, os.path.abspath(args.screenshot))
        elif args.live:
            files = check_live(base, pathlib.Path(args.site))
            print(f"{len(files)} file edited and served live")
        else:
            files = check_files(base, pathlib.Path(args.site))
            rows = check_table(base, pathlib.Path(args.site), args.table,
                               dict(known.split("=", 1) for known in args.known))
            print(f"{len(files)} files and {len(rows)} rows of requests checked")
    finally:
        process.terminate()
        process.wait()
    expect(process.returncode == 0, f"the server ended with {process.returncode}")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
