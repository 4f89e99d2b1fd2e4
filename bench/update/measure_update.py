#!/usr/bin/env python3
"""Runs brfupdate once in the current directory and prints its figures.

With --rate, brfupdate talks to the update server through a relay on the
loopback interface that plays a player's line: one token bucket for every
connection (so parallel downloads share the line), refilled at RATE bytes a
second and holding at most BURST bytes. Only the server-to-client direction
is limited; requests pass as they come. Without --rate, brfupdate talks to
the server directly. The command gets "--server URL" appended, unless one
of its arguments holds "{url}", which is replaced by the URL instead (so
the relay can be checked with curl).

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
  with --rate also:
  last_byte   seconds from start to the relay's last byte to the client
  gap         ready - last_byte
  bytes       bytes the relay carried to the client
  line_rate   bytes / (last byte - first byte), bytes a second
  connections connections the relay accepted
"""
import argparse
import asyncio
import json
import os
import signal
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


class Relay:
    CHUNK = 16 * 1024

    def __init__(self, upstream_host, upstream_port, rate, burst):
        self.upstream = (upstream_host, upstream_port)
        self.rate = rate
        self.burst = burst
        self.port = None
        self.first_byte = None
        self.last_byte = None
        self.bytes = 0
        self.connections = 0
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
        self.bucket = Bucket(self.rate, self.burst)
        server = await asyncio.start_server(self._serve, "127.0.0.1", 0)
        self.port = server.sockets[0].getsockname()[1]
        self._ready.set()
        async with server:
            await self._stop.wait()

    async def _serve(self, client_reader, client_writer):
        self.connections += 1
        try:
            server_reader, server_writer = await asyncio.open_connection(*self.upstream)
        except OSError as error:
            self.errors.append(f"cannot reach the server: {error}")
            client_writer.close()
            return
        # drain() returns only once the transport has handed everything to
        # the kernel, so the stamp after it is the time the bytes left.
        client_writer.transport.set_write_buffer_limits(0)

        async def requests():
            try:
                while True:
                    data = await client_reader.read(65536)
                    if not data:
                        break
                    server_writer.write(data)
                    await server_writer.drain()
                if server_writer.can_write_eof():
                    server_writer.write_eof()
            except (ConnectionError, OSError):
                pass

        async def responses():
            try:
                while True:
                    data = await server_reader.read(self.CHUNK)
                    if not data:
                        break
                    await self.bucket.take(len(data))
                    client_writer.write(data)
                    await client_writer.drain()
                    now = time.monotonic()
                    if self.first_byte is None:
                        self.first_byte = now
                    self.last_byte = now
                    self.bytes += len(data)
            except (ConnectionError, OSError):
                pass

        up = asyncio.ensure_future(requests())
        await responses()
        up.cancel()
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
                        help="the line's rate in bytes a second (default: no relay)")
    parser.add_argument("--burst", type=int, default=64 * 1024,
                        help="the bucket's size in bytes (default 65536)")
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
    if args.rate > 0:
        relay = Relay(host, int(port), args.rate, args.burst)
        relay.start()
        url = f"http://127.0.0.1:{relay.port}/"
    else:
        url = f"http://{host}:{port}/"

    if any("{url}" in arg for arg in command):
        command = [arg.replace("{url}", url) for arg in command]
    else:
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
        figures["relay_errors"] = relay.errors
        if relay.last_byte is not None:
            figures["last_byte"] = relay.last_byte - start
            if figures["ready"] is not None:
                figures["gap"] = figures["ready"] - figures["last_byte"]
            span = relay.last_byte - relay.first_byte
            figures["line_rate"] = relay.bytes / span if span > 0 else None
    print(json.dumps(figures))
    return 0


if __name__ == "__main__":
    sys.exit(main())
