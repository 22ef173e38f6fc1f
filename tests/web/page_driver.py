#!/usr/bin/env python3
"""Opens a page in headless Chromium and waits, in real time, until the page
says it is finished; then writes its DOM and, if asked, a screenshot.

    page_driver.py URL DOM_OUT [--screenshot PNG] [--window 1200,1500] [--seconds 300]

The page is finished when <body> has data-selftest (its self-test ended) or,
for a page opened without one, data-started. A browser's own timer
(--virtual-time-budget) does not wait for work that leaves the main thread
(decoding a picture, reading a file, encoding a PNG), so the page is asked
over the DevTools protocol on a pipe (--remote-debugging-pipe): JSON messages
ended by a NUL byte, the browser reading fd 3 and writing fd 4.
"""
import argparse
import base64
import fcntl
import json
import os
import subprocess
import sys
import tempfile
import time

FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--proxy-server=127.0.0.1:9", "--enable-unsafe-swiftshader", "--remote-debugging-pipe"]
FINISHED = "document.body && (document.body.dataset.selftest || document.body.dataset.started) || ''"


class Browser:
    def __init__(self, url, window, profile):
        to_browser_read, self.to_browser = os.pipe()
        self.from_browser, from_browser_write = os.pipe()
        # The browser's fds 3 and 4, whatever numbers the pipes got here.
        def give_pipes():
            # Moved out of the way first: either pipe may already be fd 3 or 4.
            reading, writing = (fcntl.fcntl(fd, fcntl.F_DUPFD, 10) for fd in (to_browser_read, from_browser_write))
            os.dup2(reading, 3)
            os.dup2(writing, 4)
        self.process = subprocess.Popen(
            ["chromium", *FLAGS, f"--window-size={window}", f"--user-data-dir={profile}", url],
            env={**os.environ, "HOME": profile}, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            close_fds=False, preexec_fn=give_pipes)
        os.close(to_browser_read)
        os.close(from_browser_write)
        os.set_inheritable(self.to_browser, False)
        self.pending = b""
        self.next_id = 0

    def call(self, method, session=None, **params):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params}
        if session:
            message["sessionId"] = session
        os.write(self.to_browser, json.dumps(message).encode() + b"\0")
        while True:
            reply = self.receive()
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise RuntimeError(f"{method}: {reply['error']}")
                return reply["result"]

    def receive(self):
        while b"\0" not in self.pending:
            chunk = os.read(self.from_browser, 1 << 20)
            if not chunk:
                raise RuntimeError("the browser closed its pipe")
            self.pending += chunk
        message, self.pending = self.pending.split(b"\0", 1)
        return json.loads(message)

    def close(self):
        try:
            self.call("Browser.close")
        except RuntimeError:
            pass
        try:
            self.process.wait(30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


def page_session(browser, deadline):
    while time.monotonic() < deadline:
        pages = [target for target in browser.call("Target.getTargets")["targetInfos"] if target["type"] == "page"]
        if pages:
            return browser.call("Target.attachToTarget", targetId=pages[0]["targetId"], flatten=True)["sessionId"]
        time.sleep(0.1)
    raise RuntimeError("the browser opened no page")


def evaluate(browser, session, expression):
    result = browser.call("Runtime.evaluate", session, expression=expression, returnByValue=True)
    return result["result"].get("value")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("url")
    parser.add_argument("dom")
    parser.add_argument("--screenshot")
    parser.add_argument("--window", default="1200,1500")
    parser.add_argument("--seconds", type=float, default=300)
    arguments = parser.parse_args()
    deadline = time.monotonic() + arguments.seconds
    with tempfile.TemporaryDirectory() as profile:
        browser = Browser(arguments.url, arguments.window, profile)
        try:
            session = page_session(browser, deadline)
            while not evaluate(browser, session, FINISHED):
                if time.monotonic() > deadline:
                    sys.exit(f"the page did not finish within {arguments.seconds:.0f} s")
                time.sleep(0.1)
            with open(arguments.dom, "w", encoding="utf-8") as file:
                file.write(evaluate(browser, session, "document.documentElement.outerHTML"))
            if arguments.screenshot:
                shot = browser.call("Page.captureScreenshot", session, format="png")
                with open(arguments.screenshot, "wb") as file:
                    file.write(base64.b64decode(shot["data"]))
        finally:
            browser.close()


if __name__ == "__main__":
    main()
