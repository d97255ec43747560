"""ovrin serve over HTTP against simulated meters: the readings as JSON, CSV
and events, the Measure request, what it refuses, and 32 streams under a
burst.

Usage: serve_test.py BUILD_DIR
"""
import csv
import http.client
import io
import os
import re
import socket
import stat
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from serving import EventStream, ServeCase, main  # noqa: E402


def wait_for(condition, seconds=10):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError("not within %s s" % seconds)


class ReadingsTest(ServeCase):
    def test_measure_reaches_json_events_and_csv_in_order(self):
        meter = self.sim("--value", "100", "--step", "5")
        served = self.serve(ports=[meter.path]).wait_connected()
        stream = EventStream(served)
        self.addCleanup(stream.close)
        self.assertEqual(stream.next()[0:2], ("state", None))
        for _ in range(3):
            self.assertEqual(served.measure()[0], 202)
        # seq 1 is the meter's answer to the start-up command.
        readings = stream.readings(4)
        self.assertEqual([r["seq"] for r in readings], [1, 2, 3, 4])
        self.assertEqual([r["value1"] for r in readings[1:]], [100, 105, 110])

        body = served.json("/api/readings?after=2")
        self.assertEqual(body["state"]["state"], "connected")
        self.assertEqual(body["state"]["port"], meter.path)
        self.assertEqual(body["state"]["device"], "pseudo-terminal")  # what the port is
        self.assertEqual([r["seq"] for r in body["readings"]], [3, 4])
        self.assertEqual(body["readings"], readings[2:])
        self.assertEqual(served.json("/api/readings?after=4")["readings"], [])
        self.assertEqual(len(served.json("/api/readings")["readings"]), 4)

        status, headers, text = served.request("GET", "/readings.csv")
        self.assertEqual(status, 200)
        self.assertIn("attachment", headers["Content-Disposition"])
        rows = list(csv.DictReader(io.StringIO(text)))
        self.assertEqual([row["value1"] for row in rows], ["0", "100", "105", "110"])
        self.assertEqual([row["time"] for row in rows], [r["time"] for r in readings])

        # SIGTERM (as Ctrl-C) ends the run at once, open streams and all.
        served.process.terminate()
        self.assertEqual(served.process.wait(timeout=10), 0)
        with self.assertRaises((EOFError, ConnectionError)):
            while True:
                stream.next()

    def test_a_stream_that_comes_back_gets_what_it_missed(self):
        meter = self.sim("--value", "7", "--step", "1")
        served = self.serve(ports=[meter.path]).wait_connected()
        for _ in range(3):
            served.measure()
        wait_for(lambda: len(served.json("/api/readings")["readings"]) == 4)
        # As a browser reconnects: the last id it saw, and the page's own ?after.
        for path, headers in (("/events", {"Last-Event-ID": "2"}), ("/events?after=2", {}),
                              ("/events?after=1", {"Last-Event-ID": "2"})):
            with self.subTest(path=path, headers=headers):
                stream = EventStream(served, path, headers)
                self.assertEqual([r["seq"] for r in stream.readings(2)], [3, 4])
                stream.close()

    def test_output_file_and_measure_without_a_meter(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        path = os.path.join(folder.name, "run.csv")
        meter = self.sim("--link", os.path.join(folder.name, "meter"))
        served = self.serve("--reconnect", "--format", "csv", "--output", path,
                            ports=[os.path.join(folder.name, "meter")]).wait_connected()
        served.measure()

        def lines():
            with open(path) as file:
                return len(file.read().splitlines())
        wait_for(lambda: lines() == 3)  # the header, the start-up answer, the distance
        meter.stop()
        wait_for(lambda: served.json("/api/readings")["state"]["state"] in ("lost", "reconnecting"))
        status, _, body = served.measure()
        self.assertEqual(status, 503, body)


class GuardsTest(ServeCase):
    def setUp(self):
        super().setUp()
        self.served = self.serve(ports=[self.sim().path]).wait_connected()

    def test_refusals(self):
        served = self.served
        port = served.port
        cases = [
            # name, method, path, body, headers, status
            ("foreign host", "GET", "/api/readings", None, {"Host": "attacker.example:%d" % port}, 403),
            ("rebinding host, right port", "GET", "/", None, {"Host": "rebind.example:%d" % port}, 403),
            ("wrong port in host", "GET", "/", None, {"Host": "127.0.0.1:1"}, 403),
            ("localhost", "GET", "/", None, {"Host": "localhost:%d" % port}, 200),
            ("measure, no origin", "POST", "/api/measure", "{}", {"Content-Type": "application/json"}, 403),
            ("measure, other origin", "POST", "/api/measure", "{}",
             {"Origin": "http://attacker.example", "Content-Type": "application/json"}, 403),
            ("measure, form post", "POST", "/api/measure", "a=1",
             {"Origin": served.origin, "Content-Type": "application/x-www-form-urlencoded"}, 415),
            ("measure, text", "POST", "/api/measure", "{}", {"Origin": served.origin, "Content-Type": "text/plain"}, 415),
            ("measure by GET", "GET", "/api/measure", None, {}, 405),
            ("body too large", "POST", "/api/measure", "x" * 5000,
             {"Origin": served.origin, "Content-Type": "application/json"}, 413),
            ("after not a number", "GET", "/api/readings?after=abc", None, {}, 400),
            ("after negative", "GET", "/api/readings?after=-1", None, {}, 400),
            ("after too large", "GET", "/api/readings?after=99999999999999999999", None, {}, 400),
            ("stream after not a number", "GET", "/events?after=x", None, {}, 400),
            ("bad Last-Event-ID", "GET", "/events", None, {"Last-Event-ID": "1e3"}, 400),
            ("unknown page", "GET", "/nothing", None, {}, 404),
            ("too many header fields", "GET", "/", None, {"X-%d" % i: "1" for i in range(70)}, 431),
            ("long URI", "GET", "/" + "a" * 3000, None, {}, 414),
        ]
        for name, method, path, body, headers, status in cases:
            with self.subTest(name):
                got, _, text = served.request(method, path, body, headers)
                self.assertEqual(got, status, text)
        # Whatever it refused, it goes on serving.
        self.assertEqual(served.request("GET", "/")[0], 200)

    def test_malformed_requests_get_a_clean_answer(self):
        cases = [
            ("not HTTP", b"hello\r\n\r\n"),
            ("no version", b"GET /\r\nHost: x\r\n\r\n"),
            ("header line too long", b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX: " + b"a" * 6000 + b"\r\n\r\n"),
            ("bad chunked body", b"POST /api/measure HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: chunked\r\n\r\n"
                                 b"zz\r\n"),
            ("binary", bytes(range(256)) + b"\r\n\r\n"),
        ]
        for name, data in cases:
            with self.subTest(name):
                with socket.create_connection((self.served.host, self.served.port), timeout=10) as raw:
                    raw.sendall(data)
                    raw.shutdown(socket.SHUT_WR)
                    answer = raw.recv(4096)
                self.assertRegex(answer.decode(errors="replace"), r"^(HTTP/1\.1 4\d\d |$)")
        self.assertIsNone(self.served.process.poll())
        self.assertEqual(self.served.request("GET", "/")[0], 200)

    def test_at_most_32_streams(self):
        streams = [EventStream(self.served) for _ in range(32)]
        try:
            self.assertEqual({s.status for s in streams}, {200})
            extra = EventStream(self.served)
            self.assertEqual(extra.status, 503)
            extra.close()
            # The page and the API still answer with every stream open.
            self.assertEqual(self.served.request("GET", "/api/readings")[0], 200)
        finally:
            for stream in streams:
                stream.close()
        # A stream that went away frees its place (found at its next write).
        def another():
            stream = EventStream(self.served)
            stream.close()
            return stream.status == 200
        wait_for(another, seconds=30)


class LoadTest(ServeCase):
    def test_32_streams_each_get_a_1000_line_burst_in_order(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        link = os.path.join(folder.name, "meter")
        served = self.serve("--reconnect", ports=[link])
        streams = [EventStream(served, timeout=60) for _ in range(32)]
        results = [None] * len(streams)

        def drain(index):
            first = streams[index].readings(1)
            arrived = time.monotonic()
            readings = first + streams[index].readings(1000)
            results[index] = (readings, arrived, time.monotonic())

        threads = [threading.Thread(target=drain, args=(i,)) for i in range(len(streams))]
        for thread in threads:
            thread.start()
        # The meter arrives once every stream is open: 1 000 distances in the
        # write that answers the start-up command.
        started = time.monotonic()
        self.sim("--link", link, "--burst", "1000", "--value", "1", "--step", "1", "--baud", "0")
        for thread in threads:
            thread.join(timeout=90)
        for stream in streams:
            stream.close()
        self.assertTrue(all(result is not None for result in results), "a stream did not get every reading")
        for readings, _, _ in results:
            self.assertEqual([r["seq"] for r in readings], list(range(1, 1002)))
            self.assertEqual([r["value1"] for r in readings[1:]], list(range(1, 1001)))
        first = min(arrived for _, arrived, _ in results)
        last = max(done for _, _, done in results)
        slowest = max(done - arrived for _, arrived, done in results)
        print("load: 32 streams x 1001 readings, all in order; from the first reading on any stream to the last "
              "on all %.3f s (slowest stream %.3f s); the meter found %.2f s after it started"
              % (last - first, slowest, first - started), file=sys.stderr)

class BeyondLoopbackTest(ServeCase):
    """--listen 0.0.0.0: the token of the printed link guards every request
    and any Host is answered. Every request goes to 127.0.0.1."""

    def beyond_loopback(self, *args):
        """ovrin serve on 0.0.0.0 with a meter of its own: (port, token)."""
        process = self.start_ovrin("serve", "--listen", "0.0.0.0:0", *args, ports=[self.sim().path])
        self.addCleanup(process.kill)
        process.stdout.readline()  # "open this link ..."
        link = re.search(r"http://\S+:(\d+)/\?token=([0-9a-f]{32})$", process.stdout.readline().strip())
        self.assertIsNotNone(link, "no link with a 128-bit token")
        return int(link.group(1)), link.group(2)

    @staticmethod
    def request(port, method, path, headers=None):
        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
        connection.request(method, path, body="{}" if method == "POST" else None, headers=headers or {})
        response = connection.getresponse()
        response.body = response.read().decode()
        connection.close()
        return response

    def test_the_token_admits_and_everything_else_is_refused(self):
        port, token = self.beyond_loopback()

        def request(method, path, headers):
            return self.request(port, method, path, headers)

        opened = request("GET", "/?token=" + token, {})
        self.assertEqual((opened.status, opened.getheader("Location")), (303, "/"))
        cookie = opened.getheader("Set-Cookie")
        self.assertEqual(cookie, "ovrin_token_%d=%s; HttpOnly; SameSite=Strict; Path=/" % (port, token))
        cookie = cookie.split(";")[0]
        lan = "mylaptop.local:%d" % port
        post = {"Cookie": cookie, "Content-Type": "application/json", "Host": lan}
        wait_for(lambda: '"state":"connected"' in request("GET", "/api/readings", {"Cookie": cookie}).body)
        rows = [  # what, method, path, headers, status
            ("no token", "GET", "/", {}, 401),
            ("a wrong token in the link", "GET", "/?token=" + "0" * 32, {}, 401),
            ("the token in a header of its own", "GET", "/api/readings", {"X-Token": token}, 401),
            ("the token as the path", "GET", "/" + token, {}, 401),
            ("a wrong cookie", "GET", "/api/readings", {"Cookie": "ovrin_token_%d=%s" % (port, "1" * 32)}, 401),
            ("the token in another port's cookie", "GET", "/api/readings", {"Cookie": "ovrin_token_1=" + token}, 401),
            ("the cookie, with the laptop's name as Host", "GET", "/api/readings", {"Cookie": cookie, "Host": lan}, 200),
            ("a Bearer header", "GET", "/readings.csv", {"Authorization": "Bearer " + token}, 200),
            ("Measure from another site", "POST", "/api/measure", dict(post, Origin="http://evil.example"), 403),
            ("Measure from the page", "POST", "/api/measure", dict(post, Origin="http://" + lan), 202),
        ]
        for what, method, path, headers, status in rows:
            self.assertEqual(request(method, path, headers).status, status, what)
        # One wrong token so far (a cookie is no guess); ten a minute are answered, then 429.
        for _ in range(9):
            self.assertEqual(request("GET", "/?token=" + "2" * 32, {}).status, 401)
        limited = request("GET", "/?token=" + "2" * 32, {})
        self.assertEqual((limited.status, limited.getheader("Retry-After")), (429, "60"))
        self.assertEqual(request("GET", "/", {}).status, 401, "without a token: not limited, just refused")

    def test_token_file_stale_cookie_the_right_link_during_the_limit_and_two_ports(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        path = os.path.join(folder.name, "token")
        kept = self.beyond_loopback("--token-file", path)
        self.assertEqual(stat.S_IMODE(os.stat(path).st_mode), 0o600, "the token file is its owner's alone")
        with open(path) as file:
            self.assertEqual(file.read(), kept[1] + "\n")
        port, token = self.beyond_loopback()  # a second serve, on another port
        for p, t in (kept, (port, token)):  # a cookie of each, side by side in one browser
            self.assertEqual(self.request(p, "GET", "/?token=" + t).getheader("Set-Cookie").split(";")[0],
                             "ovrin_token_%d=%s" % (p, t))
        # A tab left open from an earlier run on this port sends its cookie every few seconds.
        stale = {"Cookie": "ovrin_token_%d=%s" % (port, kept[1])}
        for _ in range(30):
            answer = self.request(port, "GET", "/api/readings", stale)
            self.assertEqual(answer.status, 401)
            self.assertIn("Open the link that <code>ovrin serve</code> printed", answer.body)
        for _ in range(10):  # the stale cookie counted for nothing: ten guesses are answered
            self.assertEqual(self.request(port, "GET", "/?token=" + "3" * 32).status, 401)
        self.assertEqual(self.request(port, "GET", "/?token=" + "3" * 32).status, 429)
        self.assertEqual(self.request(port, "GET", "/?token=" + token).status, 303, "the right link gets in")
        os.chmod(path, 0o644)
        refused = self.ovrin("serve", "--listen", "0.0.0.0:0", "--token-file", path)
        self.assertEqual(refused.returncode, 5, refused.stderr)
        self.assertIn("other users may read or change it (mode 0644): make it private with: chmod 600 " + path,
                      refused.stderr)
        os.chmod(path, 0o600)
        weak = ("is too weak: it needs 32 or more hex digits (128 bits); delete the file and serve writes a good "
                "one into it")
        for written, why in (("0123456789abcdef", weak),
                             ("0123456789abcdef-0123456789abcde", weak),  # 31 digits and a dash
                             ("not-a-token-at-all-not-a-token-at", "must be letters a-f, digits, - or _")):
            with open(path, "w") as file:
                file.write(written + "\n")
            refused = self.ovrin("serve", "--listen", "0.0.0.0:0", "--token-file", path)
            self.assertEqual(refused.returncode, 5, refused.stderr)
            self.assertIn(why, refused.stderr)

    def test_no_token_is_refused_beyond_loopback(self):
        result = self.ovrin("serve", "--listen", "0.0.0.0:0", "--no-token")
        self.assertEqual(result.returncode, 2)
        self.assertIn("--no-token: only with a loopback --listen", result.stderr)


if __name__ == "__main__":
    main(sys.argv[:1])
