"""What the serve tests share: ovrin serve on a free loopback port, plain
requests to it, and its event stream read as it comes."""
import http.client
import json
import os
import re
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "cli"))
from support import BUILD, OvrinCase, main  # noqa: E402,F401  (takes BUILD_DIR from the command line)


class Served:
    """A running `ovrin serve`; .host and .port tell where."""

    def __init__(self, process):
        self.process = process
        line = process.stdout.readline()
        match = re.search(r"http://([0-9.]+):(\d+)/", line)
        if not match:
            process.kill()
            raise AssertionError("serve printed no URL: %r %r" % (line, process.stderr.read()))
        self.host, self.port = match.group(1), int(match.group(2))
        self.url = "http://%s:%d/" % (self.host, self.port)
        self.origin = "http://%s:%d" % (self.host, self.port)

    def request(self, method, path, body=None, headers=None):
        """(status, headers, body text) of one request."""
        connection = http.client.HTTPConnection(self.host, self.port, timeout=10)
        try:
            connection.request(method, path, body=body, headers=headers or {})
            response = connection.getresponse()
            return response.status, dict(response.getheaders()), response.read().decode()
        finally:
            connection.close()

    def json(self, path):
        status, _, body = self.request("GET", path)
        assert status == 200, (status, body)
        return json.loads(body)

    def wait_connected(self, seconds=10):
        """Waits until serve has opened the meter."""
        deadline = time.monotonic() + seconds
        while self.json("/api/readings?after=999999")["state"].get("state") != "connected":
            assert time.monotonic() < deadline, "no meter connected within %s s" % seconds
            time.sleep(0.05)
        return self

    def measure(self):
        """POST /api/measure as the page sends it."""
        return self.request("POST", "/api/measure", body="{}",
                            headers={"Origin": self.origin, "Content-Type": "application/json"})

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(timeout=10)
        self.process.stdout.close()
        self.process.stderr.close()


class EventStream:
    """GET /events, read event by event."""

    def __init__(self, served, path="/events", headers=None, timeout=30):
        self.connection = http.client.HTTPConnection(served.host, served.port, timeout=timeout)
        self.connection.request("GET", path, headers=headers or {})
        self.response = self.connection.getresponse()
        self.status = self.response.status

    def next(self):
        """(event, id, data as JSON) of the next event; comments are skipped."""
        event, ident, data = None, None, None
        while True:
            line = self.response.readline().decode()
            if line == "":
                raise EOFError("the stream ended")
            line = line.rstrip("\n")
            if line.startswith("event: "):
                event = line[7:]
            elif line.startswith("id: "):
                ident = int(line[4:])
            elif line.startswith("data: "):
                data = json.loads(line[6:])
            elif line == "" and event is not None:
                return event, ident, data

    def readings(self, count):
        """The next `count` readings, skipping state events."""
        taken = []
        while len(taken) < count:
            event, ident, data = self.next()
            if event == "reading":
                assert ident == data["seq"], (ident, data)
                taken.append(data)
        return taken

    def close(self):
        self.response.close()
        self.connection.close()


class ServeCase(OvrinCase):
    def serve(self, *args, ports=()):
        served = Served(self.start_ovrin("serve", "--listen", "127.0.0.1:0", *args, ports=ports))
        self.addCleanup(served.stop)
        return served
