#!/usr/bin/env python3
"""Measures the web build: its size, and the time of one edit of a large
picture in the page (headless Chromium, the page on a throwaway server on
127.0.0.1) against the same call of the native library on this machine.

    web/measure.py [--page build/web/page] [--library build/release/lib/libKorvaneTintwell.so]
                   [--width 4000] [--height 3000] [--runs 5]

Prints Markdown tables. The page is timed from the input file in the page's
memory to the output file there: the copy into the library's in-memory file
system, the call of Tintwell (to after stdout is flushed) and the copy out,
with what the call spent growing files and memory and taking stdout. The
native side times the same call through ctypes, with the input in the page
cache and the output written to a file.
"""
import argparse
import base64
import ctypes
import gzip
import http.server
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

EDIT = ("brighten", 2, 40)
BROWSER_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync"]
WASM_PREFIX = b"data:application/octet-stream;base64,"


def write_picture(path, width, height):
    """A bottom-up 24-bit BMP of random pixels."""
    row = (width * 3 + 3) // 4 * 4
    size = row * height
    header = b"BM" + (54 + size).to_bytes(4, "little") + bytes(4) + (54).to_bytes(4, "little")
    header += (40).to_bytes(4, "little") + width.to_bytes(4, "little") + height.to_bytes(4, "little")
    header += (1).to_bytes(2, "little") + (24).to_bytes(2, "little") + bytes(4) + size.to_bytes(4, "little")
    header += (2835).to_bytes(4, "little") * 2 + bytes(8)
    with open(path, "wb") as file:
        file.write(header)
        file.write(os.urandom(size))


def sizes(page):
    script = open(os.path.join(page, "tintwell-web.js"), "rb").read()
    start = script.rindex(WASM_PREFIX) + len(WASM_PREFIX)  # the last: the first is the prefix itself
    end = script.index(b'"', start)
    wasm = base64.b64decode(script[start:end])
    return {
        "tintwell-web.js (the WebAssembly inside, as base64)": len(script),
        "tintwell-web.js, gzip -9": len(gzip.compress(script, 9)),
        "the WebAssembly alone": len(wasm),
        "the whole page (every file)": sum(os.path.getsize(os.path.join(page, name)) for name in os.listdir(page)),
    }


class ResultServer(http.server.SimpleHTTPRequestHandler):
    """Serves the page's folder; takes the page's results by POST."""
    results = None
    arrived = threading.Event()

    def do_POST(self):
        length = int(self.headers["Content-Length"])
        ResultServer.results = json.loads(self.rfile.read(length))
        self.send_response(204)
        self.end_headers()
        ResultServer.arrived.set()

    def log_message(self, *args):
        pass


def page_times(page, picture, runs, scratch):
    site = os.path.join(scratch, "site")
    shutil.copytree(page, site)
    shutil.copy(picture, os.path.join(site, "large.bmp"))
    plan = {"pictures": {"large.bmp": {"url": "large.bmp"}},
            "jobs": [{"picture": "large.bmp", "function": EDIT[1], "amount": EDIT[2], "keep": False}] * runs}
    with open(os.path.join(site, "jobs.js"), "w") as file:
        file.write("const TINTWELL_SELFTEST = " + json.dumps(plan) + ";\n")
    server = http.server.ThreadingHTTPServer(
        ("127.0.0.1", 0), lambda *args: ResultServer(*args, directory=site))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    url = f"http://127.0.0.1:{server.server_address[1]}/index.html?selftest=jobs.js&report=/results"
    profile = os.path.join(scratch, "profile")
    browser = subprocess.Popen(["chromium", *BROWSER_FLAGS, f"--user-data-dir={profile}", url],
                               env={**os.environ, "HOME": profile},
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        if not ResultServer.arrived.wait(600):
            sys.exit("the page sent no results within 10 minutes")
    finally:
        browser.terminate()
        browser.wait()
        server.shutdown()
    if "error" in ResultServer.results:
        sys.exit(f"the page failed: {ResultServer.results}")
    for result in ResultServer.results["jobs"]:
        if result["result"] != 999:
            sys.exit(f"the page's call returned {result['result']}")
    return ResultServer.results["jobs"]


def native_times(library_path, picture, runs, scratch):
    library = ctypes.CDLL(library_path)
    library.Tintwell.restype = ctypes.c_int32
    library.Tintwell.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int32, ctypes.c_int32]
    libc = ctypes.CDLL(None)

    def utf16(text):
        return ctypes.create_string_buffer(text.encode("utf-16-le") + b"\0\0")

    input_name, output_name = utf16(picture), utf16(os.path.join(scratch, "native-out.bmp"))
    times = []
    saved = os.dup(1)
    quiet = os.open(os.devnull, os.O_WRONLY)
    os.dup2(quiet, 1)  # the library's messages
    try:
        for _ in range(runs):
            start = time.perf_counter()
            result = library.Tintwell(input_name, output_name, EDIT[2], EDIT[1])
            libc.fflush(None)
            times.append((time.perf_counter() - start) * 1000)
            if result != 999:
                raise SystemExit(f"the native call returned {result}")
    finally:
        os.dup2(saved, 1)
        os.close(quiet)
    return times


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--page", default="build/web/page")
    parser.add_argument("--library", default="build/release/lib/libKorvaneTintwell.so")
    parser.add_argument("--width", type=int, default=4000)
    parser.add_argument("--height", type=int, default=3000)
    parser.add_argument("--runs", type=int, default=5)
    arguments = parser.parse_args()
    with tempfile.TemporaryDirectory() as scratch:
        picture = os.path.join(scratch, "large.bmp")
        write_picture(picture, arguments.width, arguments.height)
        page_runs = page_times(arguments.page, picture, arguments.runs, scratch)
        native = native_times(arguments.library, picture, arguments.runs, scratch)
    print("| web build | bytes |\n|---|---|")
    for what, size in sizes(arguments.page).items():
        print(f"| {what} | {size:,} |")
    print(f"\n| {EDIT[0]} {EDIT[2]}, {arguments.width} x {arguments.height}, {arguments.runs} runs "
          "| median ms | fastest ms |\n|---|---|---|")
    page = [run["milliseconds"] for run in page_runs]
    for what, times in (("in the page, input in memory to output in memory", page), ("native library", native)):
        print(f"| {what} | {statistics.median(times):.1f} | {min(times):.1f} |")
    print(f"\npage / native, medians: {statistics.median(page) / statistics.median(native):.1f}x")
    print_breakdown(page_runs)


# Where the page's time goes: each part's median over the runs.
BREAKDOWN = (("copy into the in-memory file system", "intoFilesMs", "ms"),
             ("the call of Tintwell, stdout flushed", "callMs", "ms"),
             ("  of which: growing the output file", "fileGrowthMs", "ms"),
             ("  times the output file grew", "fileGrowths", ""),
             ("  bytes copied as it grew", "fileBytesCopied", ""),
             ("  of which: growing the memory", "memoryGrowthMs", "ms"),
             ("  times the memory grew", "memoryGrowths", ""),
             ("  of which: taking stdout", "stdoutMs", "ms"),
             ("  bytes printed", "stdoutBytes", ""),
             ("copy out of the in-memory file system", "outOfFilesMs", "ms"),
             ("the library's memory after the call, bytes", "memoryBytes", ""))


def print_breakdown(page_runs):
    print("\n| in the page, median of the runs | value |\n|---|---|")
    for what, key, unit in BREAKDOWN:
        value = statistics.median(run["timings"][key] for run in page_runs)
        print(f"| {what} | {value:.1f} ms |" if unit else f"| {what} | {value:,.0f} |")


if __name__ == "__main__":
    main()
