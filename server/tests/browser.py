"""Headless Chromium driven over its DevTools pipe (standard library only).

Chromium reads commands from descriptor 3 and writes answers and events to descriptor 4,
each a JSON text ended by a zero byte. One page, one session: navigate, evaluate, click
with the mouse, type, take screenshots.
"""
import base64
import json
import os
import select
import shutil
import subprocess
import tempfile
import time

CHROMIUM = shutil.which("chromium")


class BrowserError(Exception):
    pass


class Browser:
    def __init__(self, width, height, mobile=False, timeout=30):
        self.timeout = timeout
        self.profile = tempfile.mkdtemp(prefix="skv-chromium-")
        to_chrome_r, self._to_chrome = os.pipe()
        self._from_chrome, from_chrome_w = os.pipe()

        def wire():
            # Copies first: a pipe may already sit on 3 or 4, and dup2 onto itself would keep close-on-exec.
            r, w = os.dup(to_chrome_r), os.dup(from_chrome_w)
            os.dup2(r, 3)
            os.dup2(w, 4)

        self.proc = subprocess.Popen(
            [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--hide-scrollbars", "--remote-debugging-pipe", "--user-data-dir=" + self.profile, "about:blank"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            preexec_fn=wire, close_fds=False)
        os.close(to_chrome_r)
        os.close(from_chrome_w)
        self._buf = b""
        self._next_id = 0
        self._events = []
        self.session = None
        target = self.call("Target.createTarget", url="about:blank")["targetId"]
        self.session = self.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
        self.call("Page.enable")
        self.call("Emulation.setDeviceMetricsOverride", width=width, height=height, deviceScaleFactor=1,
                  mobile=mobile)

    def close(self):
        try:
            self.call("Browser.close", _session=False)
        except (BrowserError, OSError):
            pass
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        for fd in (self._to_chrome, self._from_chrome):
            os.close(fd)
        shutil.rmtree(self.profile, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # --- the wire ---

    def _read_message(self, deadline):
        while b"\0" not in self._buf:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self._from_chrome], [], [], left)[0]:
                raise BrowserError("chromium did not answer in time")
            chunk = os.read(self._from_chrome, 1 << 16)
            if not chunk:
                raise BrowserError("chromium closed its pipe")
            self._buf += chunk
        raw, self._buf = self._buf.split(b"\0", 1)
        return json.loads(raw)

    def call(self, method, _session=True, **params):
        self._next_id += 1
        msg = {"id": self._next_id, "method": method, "params": params}
        if _session and self.session:
            msg["sessionId"] = self.session
        os.write(self._to_chrome, json.dumps(msg).encode() + b"\0")
        deadline = time.monotonic() + self.timeout
        while True:
            reply = self._read_message(deadline)
            if reply.get("id") == self._next_id:
                if "error" in reply:
                    raise BrowserError("%s: %s" % (method, reply["error"]))
                return reply.get("result", {})
            if "method" in reply:
                self._events.append(reply)

    def wait_event(self, method):
        deadline = time.monotonic() + self.timeout
        while True:
            for i, ev in enumerate(self._events):
                if ev["method"] == method:
                    del self._events[i]
                    return ev.get("params", {})
            self._events.append(self._read_message(deadline))

    # --- what a test does ---

    def goto(self, url):
        self._events.clear()
        self.call("Page.navigate", url=url)
        self.wait_event("Page.loadEventFired")

    def js(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True)
        if "exceptionDetails" in result:
            raise BrowserError("script failed: %s" % result["exceptionDetails"])
        return result["result"].get("value")

    def url(self):
        return self.js("location.href")

    def click(self, selector):
        """A real mouse click in the middle of the element's first box; waits for the page it loads."""
        box = self.js("(() => { const e = document.querySelector(%s); e.scrollIntoView({block: 'center'});"
                      " const r = e.getClientRects()[0]; return [r.left + r.width / 2, r.top + r.height / 2]; })()"
                      % json.dumps(selector))
        self._events.clear()
        for kind in ("mousePressed", "mouseReleased"):
            self.call("Input.dispatchMouseEvent", type=kind, x=box[0], y=box[1], button="left", clickCount=1)
        self.wait_event("Page.loadEventFired")

    def type_and_enter(self, selector, text):
        """Focuses the field, types the text and presses Enter; waits for the page it loads."""
        self.js("document.querySelector(%s).focus()" % json.dumps(selector))
        self.call("Input.insertText", text=text)
        self._events.clear()
        for kind in ("rawKeyDown", "char", "keyUp"):
            extra = {"text": "\r"} if kind == "char" else {}
            self.call("Input.dispatchKeyEvent", type=kind, key="Enter", code="Enter", windowsVirtualKeyCode=13, **extra)
        self.wait_event("Page.loadEventFired")

    def screenshot(self, path, full_height=None):
        params = {"format": "png"}
        if full_height:
            width = self.js("document.documentElement.clientWidth")
            params.update(captureBeyondViewport=True,
                          clip={"x": 0, "y": 0, "width": width, "height": full_height, "scale": 1})
        with open(path, "wb") as f:
            f.write(base64.b64decode(self.call("Page.captureScreenshot", **params)["data"]))
