#!/usr/bin/env python3
"""Runs brfupdate once in the current directory and prints its figures.

With --rate or --rtt, brfupdate talks to the update server through a relay
on the loopback interface that plays a player's line. --rate: one token
bucket for every connection (so parallel downloads share the line), refilled
at RATE bytes a second and holding at most BURST bytes; only the
server-to-client direction is limited, requests pass as they come. --rtt:
a round trip of RTT milliseconds between the player and the server. Every
chunk the relay forwards, in either direction, is held RTT/2 (a delay queue
per direction and connection, order kept, on top of the bucket), and a new
connection's first bytes from the client are held until one RTT after the
relay accepted it, as a connect costs a round trip: a TCP connect plus an
HTTP request costs two round trips before the first byte of the answer, every
further request on a kept connection at least one. The bytes in the delay
queue towards the client are bounded (a window of RATE x RTT + 256 KiB),
so a client that stops reading stops the server as TCP would. Slow start
and losses are not played. The relay's sockets have TCP_NODELAY. Without
either option, brfupdate talks to the server directly.

The command gets "--server URL" appended, unless one of its arguments holds
"{url}", which is replaced by the URL instead (so the relay can be checked
with curl), or --fill is given: --fill TEMPLATE DEST writes DEST from
TEMPLATE with every "{url}" replaced (for the input files of other clients).

The relay reads the requests in every client-to-server stream (request
line and header block, a body when Content-Length says so; so it counts
requests, not connections, also on kept connections) and, with --requests
FILE, writes one line per request: seconds from the start, connection
number, method, request target, Range header (or "-"), tab-separated.

Every line brfupdate prints on standard output is stamped when it arrives;
"ready" is the stamp of its last line (the update-finished line of the
action log). The relay stamps the last byte it hands to the client. All
stamps come from the same monotonic clock.

Prints one JSON object:
  code        brfupdate's exit status
  wall        seconds from start to exit
  ready       seconds from start to the last action-log line
  last_line   that line
  peak_kb     brfupdate's peak resident memory in kilobytes, as the launcher
              update_bench_peak (--launcher) reports it: a process forked
              from this interpreter would count the interpreter's size too
  with the relay also:
  last_byte   seconds from start to the relay's last byte to the client
  gap         ready - last_byte
  bytes       bytes the relay carried to the client
  line_rate   bytes / (last byte - first byte), bytes a second
  connections connections the relay accepted
  requests    HTTP requests the relay saw from the client
  rtt_ms      the round trip played
"""
import argparse
import asyncio
import json
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time


class Bucket:
    """One token bucket; a taker whose tokens are not there yet waits in line."""

    def __init__(self, rate, burst):
        self.rate = float(rate)
        self.burst = float(burst)
        self.tokens = float(burst)
        self.stamp = time.monotonic()
        self.lock = asyncio.Lock()

    async def take(self, count):
        async with self.lock:
            now = time.monotonic()
            self.tokens = min(self.burst, self.tokens + (now - self.stamp) * self.rate)
            self.stamp = now
            # The debt is paid by waiting; sleeping a little too long is
            # made good at the next refill, up to the burst.
            self.tokens -= count
            if self.tokens < 0:
                await asyncio.sleep(-self.tokens / self.rate)


class Window:
    """Bytes a connection may have on the way to the client (its TCP window)."""

    def __init__(self, size):
        self.free = size
        self.changed = asyncio.Condition()

    async def take(self, count):
        async with self.changed:
            await self.changed.wait_for(lambda: self.free >= count)
            self.free -= count

    async def give(self, count):
        async with self.changed:
            self.free += count
            self.changed.notify_all()


class Requests:
    """Finds the HTTP requests in one client-to-server stream."""

    LIMIT = 64 * 1024
    END = re.compile(rb"\r?\n\r?\n")

    def __init__(self):
        self.buffer = b""
        self.body = 0

    def feed(self, data):
        """Returns (method, target, range) of every request head completed by data."""
        found = []
        self.buffer += data
        while self.buffer:
            if self.body:
                taken = min(self.body, len(self.buffer))
                self.body -= taken
                self.buffer = self.buffer[taken:]
                continue
            self.buffer = self.buffer.lstrip(b"\r\n")
            end = self.END.search(self.buffer)
            if end is None:
                if len(self.buffer) > self.LIMIT:
                    self.buffer = b""  # not HTTP: nothing more to count
                break
            head = self.buffer[:end.start()].decode("latin-1")
            self.buffer = self.buffer[end.end():]
            lines = head.split("\n")
            words = lines[0].strip().split(" ")
            method = words[0]
            target = " ".join(words[1:-1]) if len(words) > 2 else " ".join(words[1:])
            ranges = "-"
            for line in lines[1:]:
                name, _, value = line.partition(":")
                name = name.strip().lower()
                if name == "content-length" and value.strip().isdigit():
                    self.body = int(value.strip())
                elif name == "range":
                    ranges = value.strip()
            found.append((method, target, ranges))
        return found


def no_delay(writer):
    sock = writer.get_extra_info("socket")
    if sock is not None:
        try:
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        except OSError:
            pass


async def sleep_until(due):
    delay = due - time.monotonic()
    if delay > 0:
        await asyncio.sleep(delay)


class Relay:
    CHUNK = 16 * 1024

    def __init__(self, upstream_host, upstream_port, rate, burst, rtt=0.0):
        self.upstream = (upstream_host, upstream_port)
        self.rate = rate
        self.burst = burst
        self.rtt = rtt  # seconds
        self.window = int(max(rate, 0) * rtt) + 256 * 1024
        self.port = None
        self.first_byte = None
        self.last_byte = None
        self.bytes = 0
        self.connections = 0
        self.request_log = []  # (stamp, connection, method, target, range)
        self.errors = []
        self._ready = threading.Event()
        self._loop = None
        self._stop = None

    def start(self):
        thread = threading.Thread(target=self._run, daemon=True)
        thread.start()
        self._ready.wait()
        if self.port is None:
            raise RuntimeError("the relay did not start: " + "; ".join(self.errors))
        self._thread = thread

    def stop(self):
        if self._loop is not None:
            self._loop.call_soon_threadsafe(self._stop.set)
            self._thread.join(timeout=10)

    def _run(self):
        try:
            asyncio.run(self._main())
        except Exception as error:  # reported by start() or in the figures
            self.errors.append(repr(error))
            self._ready.set()

    async def _main(self):
        self._loop = asyncio.get_running_loop()
        self._stop = asyncio.Event()
        self.bucket = Bucket(self.rate, self.burst) if self.rate > 0 else None
        server = await asyncio.start_server(self._serve, "127.0.0.1", 0, backlog=256)
        self.port = server.sockets[0].getsockname()[1]
        self._ready.set()
        async with server:
            await self._stop.wait()

    async def _serve(self, client_reader, client_writer):
        try:
            await self._connection(client_reader, client_writer)
        except asyncio.CancelledError:
            pass  # the relay stops with the connection still open

    async def _connection(self, client_reader, client_writer):
        # The kernel finished the handshake at once; in the played world the
        # client can send only one round trip after its SYN (about now).
        accepted = time.monotonic()
        connected = accepted + self.rtt
        half = self.rtt / 2
        self.connections += 1
        number = self.connections
        no_delay(client_writer)
        try:
            server_reader, server_writer = await asyncio.open_connection(*self.upstream)
        except OSError as error:
            self.errors.append(f"cannot reach the server: {error}")
            client_writer.close()
            return
        no_delay(server_writer)
        # drain() returns only once the transport has handed everything to
        # the kernel, so the stamp after it is the time the bytes left.
        client_writer.transport.set_write_buffer_limits(0)
        requests = Requests()
        upward = asyncio.Queue()
        downward = asyncio.Queue()
        window = Window(self.window)

        async def read_requests():
            try:
                while True:
                    data = await client_reader.read(65536)
                    now = time.monotonic()
                    for method, target, ranges in requests.feed(data):
                        self.request_log.append((now, number, method, target, ranges))
                    await upward.put((max(now, connected) + half, data))
                    if not data:
                        break
            except (ConnectionError, OSError):
                await upward.put((time.monotonic() + half, b""))

        async def send_requests():
            try:
                while True:
                    due, data = await upward.get()
                    await sleep_until(due)
                    if not data:
                        if server_writer.can_write_eof():
                            server_writer.write_eof()
                        break
                    server_writer.write(data)
                    await server_writer.drain()
            except (ConnectionError, OSError):
                pass

        async def read_responses():
            try:
                while True:
                    data = await server_reader.read(self.CHUNK)
                    if data:
                        await window.take(len(data))
                        if self.bucket is not None:
                            await self.bucket.take(len(data))
                    await downward.put((time.monotonic() + half, data))
                    if not data:
                        break
            except (ConnectionError, OSError):
                await downward.put((time.monotonic() + half, b""))

        async def send_responses():
            try:
                while True:
                    due, data = await downward.get()
                    await sleep_until(due)
                    if not data:
                        break
                    client_writer.write(data)
                    await client_writer.drain()
                    await window.give(len(data))
                    now = time.monotonic()
                    if self.first_byte is None:
                        self.first_byte = now
                    self.last_byte = now
                    self.bytes += len(data)
            except (ConnectionError, OSError):
                pass

        helpers = [asyncio.ensure_future(job())
                   for job in (read_requests, send_requests, read_responses)]
        try:
            await send_responses()
        finally:
            for job in helpers:
                job.cancel()
            for writer in (client_writer, server_writer):
                try:
                    writer.close()
                except Exception:
                    pass


def main():
    parser = argparse.ArgumentParser(
        description=__doc__.split("\n\n")[0],
        epilog="Example: measure_update.py --server 127.0.0.1:8080 --rate 6291456 "
        "--log out.txt -- /path/brfupdate --timeout 30",
    )
    parser.add_argument("--server", required=True, metavar="HOST:PORT",
                        help="the update server (plain HTTP)")
    parser.add_argument("--rate", type=float, default=0,
                        help="the line's rate in bytes a second (default: unlimited; "
                        "without --rate and --rtt, no relay)")
    parser.add_argument("--burst", type=int, default=64 * 1024,
                        help="the bucket's size in bytes (default 65536)")
    parser.add_argument("--rtt", type=float, default=0, metavar="MS",
                        help="the round trip to the server in milliseconds (default 0)")
    parser.add_argument("--requests", metavar="FILE",
                        help="writes the requests the relay saw here, one a line")
    parser.add_argument("--fill", nargs=2, action="append", default=[],
                        metavar=("TEMPLATE", "DEST"),
                        help="writes DEST: TEMPLATE with every {url} replaced by the URL")
    parser.add_argument("--launcher", required=True, metavar="UPDATE_BENCH_PEAK",
                        help="the launcher that measures the command's peak memory")
    parser.add_argument("--log", help="writes brfupdate's stdout here, each line stamped "
                        "with its seconds from the start")
    parser.add_argument("--stderr", help="writes brfupdate's stderr here (default: discarded)")
    parser.add_argument("--deadline", type=float, default=900,
                        help="kills brfupdate after this many seconds (default 900)")
    parser.add_argument("command", nargs=argparse.REMAINDER,
                        help="-- brfupdate and its options (--server is added)")
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command:
        parser.error("no brfupdate command given")
    host, _, port = args.server.rpartition(":")

    relay = None
    if args.rate > 0 or args.rtt > 0:
        relay = Relay(host, int(port), args.rate, args.burst, args.rtt / 1000)
        relay.start()
        url = f"http://127.0.0.1:{relay.port}/"
    else:
        url = f"http://{host}:{port}/"

    for template, dest in args.fill:
        with open(template, encoding="utf-8") as source, \
                open(dest, "w", encoding="utf-8") as filled:
            filled.write(source.read().replace("{url}", url))
    if any("{url}" in arg for arg in command):
        command = [arg.replace("{url}", url) for arg in command]
    elif not args.fill:
        command = command + ["--server", url]
    handle, peak_file = tempfile.mkstemp(prefix="brf-update-peak.")
    os.close(handle)
    errors = open(args.stderr, "wb") if args.stderr else subprocess.DEVNULL
    start = time.monotonic()
    process = subprocess.Popen([args.launcher, peak_file] + command, stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=errors, start_new_session=True)
    timer = threading.Timer(args.deadline, lambda: os.killpg(process.pid, signal.SIGKILL))
    timer.daemon = True
    timer.start()
    lines = []
    try:
        for raw in process.stdout:
            lines.append((time.monotonic(), raw.decode("utf-8", "replace").rstrip("\r\n")))
        process.wait()
    finally:
        # brfupdate runs in a session of its own (so the deadline can end
        # it with the launcher): an interrupt must not leave it running.
        if process.poll() is None:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
    end = time.monotonic()
    timer.cancel()
    try:
        with open(peak_file) as peak:
            peak_kb = int(peak.read())
    except (OSError, ValueError):
        peak_kb = None
    os.unlink(peak_file)
    if relay is not None:
        relay.stop()

    if args.log:
        with open(args.log, "w") as log:
            for stamp, text in lines:
                log.write(f"{stamp - start:9.3f} {text}\n")
    figures = {
        "code": process.returncode,
        "wall": end - start,
        "ready": (lines[-1][0] - start) if lines else None,
        "last_line": lines[-1][1] if lines else "",
        "peak_kb": peak_kb,
    }
    if relay is not None:
        figures["bytes"] = relay.bytes
        figures["connections"] = relay.connections
        figures["requests"] = len(relay.request_log)
        figures["rtt_ms"] = args.rtt
        figures["relay_errors"] = relay.errors
        if relay.last_byte is not None:
            figures["last_byte"] = relay.last_byte - start
            if figures["ready"] is not None:
                figures["gap"] = figures["ready"] - figures["last_byte"]
            span = relay.last_byte - relay.first_byte
            figures["line_rate"] = relay.bytes / span if span > 0 else None
    if relay is not None and args.requests:
        with open(args.requests, "w", encoding="utf-8") as log:
            for stamp, number, method, target, ranges in relay.request_log:
                log.write(f"{stamp - start:.3f}\t{number}\t{method}\t{target}\t{ranges}\n")
    print(json.dumps(figures))
    return 0


if __name__ == "__main__":
    sys.exit(main())
