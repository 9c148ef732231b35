#!/usr/bin/env python3
"""A small HTTP server for the tests: serves the files of one folder on 127.0.0.1, with Range,
and misbehaves in the ways a bad network or a bad server does, as chosen on its command line.

Faults (--fault, repeatable) touch only the files that --fault-glob matches (the packages);
other files (feed.json, its signature) are always served plainly:
  cut-once      the first GET of a package sends half of its body, then closes the connection
  stall-once    the first GET of a package sends half of its body, then sends nothing for
                --stall seconds before closing (longer than the client's receive time-out)
  503-once      the first GET of a package is answered 503 with Retry-After: --retry-after
  redirect-once the first GET of a package is answered 302 with Location: --location
  ignore-range  every GET of a package is answered 200 with the whole file, Range or not
  shifted-range a GET with Range is answered 206 with a Content-Range that starts at 0
  wrong-bytes   every body of a package has the byte at the file's middle inverted
  long-body     every body of a package has --extra bytes more than the file, and says so in
                its Content-Length

Each request is logged as one line to --log (and to stderr): method, path, the Range header
or "-", and the status, separated by single spaces, e.g.
  GET /CorvantaRemote-2.0.0.msi bytes=524288- 206

Bounded in time: the server ends after --lifetime seconds, and also as soon as its --port-file
is removed, so that a test that cannot end the process ends it by removing the file.
The port (given, or picked when 0) is printed on stdout and written to --port-file once the
server listens.
"""

import argparse
import contextlib
import fnmatch
import os
import re
import socket
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

FAULTS = ("cut-once", "stall-once", "503-once", "redirect-once", "ignore-range", "shifted-range",
          "wrong-bytes", "long-body")


class Server(ThreadingHTTPServer):
    """Serves with the faults of this run, and knows which of the "-once" ones have yet to fire."""

    daemon_threads = True

    def __init__(self, options):
        super().__init__(("127.0.0.1", options.port), Handler)
        self.options = options
        self.faults = set(options.fault)
        self.unfired = set(options.fault)
        self.lock = threading.Lock()
        self.deadline = time.monotonic() + options.lifetime

    def fire_once(self, fault):
        """Whether `fault` fires now: asked for, and not fired before."""
        with self.lock:
            fires = fault in self.unfired
            self.unfired.discard(fault)
            return fires

    def log(self, line):
        with self.lock:
            print(line, file=sys.stderr, flush=True)
            if self.options.log:
                with open(self.options.log, "a", encoding="ascii") as log:
                    log.write(line + "\n")

    def handle_error(self, request, client_address):
        # A client that hangs up (a stop, a time-out) is what these tests are about.
        if not isinstance(sys.exc_info()[1], ConnectionError):
            super().handle_error(request, client_address)


def parse_range(header, size):
    """(start, end) inclusive for "bytes=START-" or "bytes=START-END"; None when unsatisfiable
    or malformed."""
    match = re.fullmatch(r"bytes=([0-9]+)-([0-9]*)", header)
    if not match:
        return None
    start = int(match[1])
    end = min(int(match[2]), size - 1) if match[2] else size - 1
    return (start, end) if start < size and start <= end else None


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "FaultServer"

    def log_message(self, format, *args):  # pylint: disable=redefined-builtin
        pass  # each request is logged once, by log_request below

    def log_request(self, code="-", size="-"):
        header = self.headers.get("Range", "-") if self.headers else "-"
        self.server.log(f"{self.command} {self.path} {header} {code}")

    def do_GET(self):
        send_body = self.command == "GET"
        name = self.path.split("?", 1)[0].lstrip("/")
        path = os.path.join(self.server.options.folder, name)
        if "/" in name or "\\" in name or name.startswith(".") or not os.path.isfile(path):
            self.answer_empty(404)
            return
        with open(path, "rb") as file:
            data = file.read()
        package = fnmatch.fnmatch(name, self.server.options.fault_glob)
        if package and send_body and self.server.fire_once("503-once"):
            self.answer_empty(503, {"Retry-After": str(self.server.options.retry_after)})
            return
        if package and send_body and self.server.fire_once("redirect-once"):
            self.answer_empty(302, {"Location": self.server.options.location or self.path})
            return
        self.send_file(data, package, send_body)

    do_HEAD = do_GET

    def send_file(self, data, package, send_body):
        faults = self.server.faults if package else set()
        size = len(data)
        start, end, status = 0, size - 1, 200
        requested = self.headers.get("Range")
        if requested and "ignore-range" not in faults:
            span = parse_range(requested, size)
            if span is None:
                self.answer_empty(416, {"Content-Range": f"bytes */{size}"})
                return
            start, end, status = span[0], span[1], 206
        body = bytearray(data[start:end + 1])
        if "wrong-bytes" in faults and start <= size // 2 <= end:
            body[size // 2 - start] ^= 0xFF
        if "long-body" in faults:
            body += b"\0" * self.server.options.extra
        shown_start = 0 if "shifted-range" in faults else start
        headers = {"Content-Length": str(len(body)), "Content-Type": "application/octet-stream"}
        if status == 206:
            headers["Content-Range"] = f"bytes {shown_start}-{shown_start + end - start}/{size}"
        self.send_head(status, headers)
        if send_body:
            self.send_body(bytes(body), package)

    def send_body(self, body, package):
        cut = package and next(
            (fault for fault in ("cut-once", "stall-once") if self.server.fire_once(fault)), None)
        self.wfile.write(body[:len(body) // 2] if cut else body)
        if not cut:
            return
        self.wfile.flush()
        if cut == "stall-once":
            time.sleep(max(0.0, min(self.server.options.stall,
                                    self.server.deadline - time.monotonic())))
        self.close_connection = True
        with contextlib.suppress(OSError):
            self.connection.shutdown(socket.SHUT_RDWR)

    def answer_empty(self, status, headers=None):
        self.send_head(status, {**(headers or {}), "Content-Length": "0"})

    def send_head(self, status, headers):
        self.send_response(status)
        for key, value in headers.items():
            self.send_header(key, value)
        self.end_headers()


def parse_arguments():
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    add = parser.add_argument
    add("folder", help="the folder whose files are served")
    add("--port", type=int, default=0, help="0 (default) picks a free port")
    add("--port-file", help="written with the port once listening")
    add("--log", help="file to which each request is appended as one line")
    add("--fault", action="append", default=[], choices=FAULTS)
    add("--fault-glob", default="*.msi", help="the files the faults touch (default: *.msi)")
    add("--lifetime", type=float, default=60.0, help="seconds the server runs (default: 60)")
    add("--stall", type=float, default=10.0, help="seconds stall-once stalls (default: 10)")
    add("--retry-after", type=int, default=1, help="503-once's Retry-After (default: 1)")
    add("--location", help="redirect-once's Location (default: the same path)")
    add("--extra", type=int, default=1024, help="bytes long-body adds (default: 1024)")
    options = parser.parse_args()
    if not os.path.isdir(options.folder):
        parser.error(f"not a folder: {options.folder}")
    if options.lifetime <= 0 or options.stall < 0 or options.extra <= 0:
        parser.error("--lifetime and --extra must be positive, --stall not negative")
    return options


def announce_port(port, port_file):
    print(port, flush=True)
    if port_file:
        # Whole or not at all: a reader polling for the file never sees half a number.
        with open(port_file + ".new", "w", encoding="ascii") as file:
            file.write(f"{port}\n")
        os.replace(port_file + ".new", port_file)


def main():
    options = parse_arguments()
    server = Server(options)
    announce_port(server.server_address[1], options.port_file)
    threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.1},
                     daemon=True).start()
    while time.monotonic() < server.deadline and (
            not options.port_file or os.path.exists(options.port_file)):
        time.sleep(0.1)
    server.shutdown()
    server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
