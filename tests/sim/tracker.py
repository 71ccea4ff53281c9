"""The simulated KV-718A tracker, and a command line to make it present for a person.

For now the tracker is its USB serial port and the line behind it: it can be plugged in and
pulled out, and it records whatever the program writes to it. Its boot loader, reset and
settings interpreter are yet to come and will answer through the same line.

    python3 tests/sim/tracker.py --prefix DIR present     plug in; stays until "absent"
    python3 tests/sim/tracker.py --prefix DIR absent      pull out
    python3 tests/sim/tracker.py --prefix DIR serve       plug in until Ctrl-C, showing what
                                                          the program sends
Options: --port N (default 7), --kind stm|prolific|generic, --name "FRIENDLY NAME".

A pseudo-terminal lives only as long as the process that holds its master, so "present" leaves
a background "serve" holding it, with its process id in $PREFIX/kvsim-comN.json; "absent" ends
that process by its id and removes what it left.
"""

import argparse
import json
import os
import select
import signal
import subprocess
import sys
import threading
import time

if __package__ in (None, ""):
    sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    from sim import presence  # noqa: E402
else:
    from . import presence

KINDS = {"stm": presence.STM_VCP, "prolific": presence.PROLIFIC, "generic": presence.GENERIC_USB_SERIAL}
READ_POLL_S = 0.05
HOLDER_START_TIMEOUT_S = 60
HOLDER_STOP_TIMEOUT_S = 30


class Tracker:
    """A tracker on one USB serial port. While plugged in, a reader thread drains the line so
    that the program's writes never block, and keeps every byte it read."""

    def __init__(self, prefix, port=7, kind=presence.STM_VCP, friendly_name=None, instance=None):
        self.port = presence.Presence(prefix, port, kind, friendly_name, instance)
        self._received = bytearray()
        self._lock = threading.Lock()
        self._stop = threading.Event()
        self._reader = None

    @property
    def port_name(self):
        return self.port.port_name

    def plug(self):
        self.port.plug()
        self._stop.clear()
        self._reader = threading.Thread(target=self._read_line, name="tracker-" + self.port_name, daemon=True)
        self._reader.start()
        return self

    def unplug(self):
        if self._reader:
            self._stop.set()
            self._reader.join()
            self._reader = None
        self.port.unplug()

    def received(self):
        """Every byte that the program has written to the tracker since it was plugged in."""
        with self._lock:
            return bytes(self._received)

    def wait_received(self, predicate, timeout_s):
        """Polls until predicate(received bytes) holds; False after timeout_s."""
        deadline = time.monotonic() + timeout_s
        while True:
            data = self.received()
            if predicate(data):
                return True
            if time.monotonic() >= deadline:
                return False
            time.sleep(READ_POLL_S)

    def send(self, data):
        os.write(self.port.master_fd, data)

    def _read_line(self):
        fd = self.port.master_fd
        while not self._stop.is_set():
            ready, _, _ = select.select([fd], [], [], READ_POLL_S)
            if not ready:
                continue
            try:
                chunk = os.read(fd, 4096)
            except OSError:
                # EIO while no one has the port open: nothing to read yet.
                time.sleep(READ_POLL_S)
                continue
            with self._lock:
                self._received += chunk
            self.on_bytes(chunk)

    def on_bytes(self, chunk):
        """Hook for what the tracker does with bytes from the program; the plain line ignores them."""

    def __enter__(self):
        return self.plug()

    def __exit__(self, *exc):
        self.unplug()


def state_path(prefix, port):
    return os.path.join(os.path.abspath(prefix), "kvsim-com%d.json" % port)


def serve(args, quiet):
    tracker = Tracker(args.prefix, args.port, KINDS[args.kind], args.name)
    stop = threading.Event()
    for sig in (signal.SIGINT, signal.SIGTERM):
        signal.signal(sig, lambda *_: stop.set())
    if not quiet:
        tracker.on_bytes = lambda chunk: print("<- %s" % chunk.hex(" "), flush=True)
    tracker.plug()
    try:
        with open(state_path(args.prefix, args.port) + ".tmp", "w") as f:
            json.dump({"pid": os.getpid(), "pty": tracker.port.pty_path, "key": tracker.port.key}, f)
        os.replace(state_path(args.prefix, args.port) + ".tmp", state_path(args.prefix, args.port))
        print("%s present as %s on %s; Ctrl-C takes it away" % (tracker.port.friendly_name, tracker.port_name,
                                                                  tracker.port.pty_path), flush=True)
        while not stop.is_set():
            stop.wait(0.2)
    finally:
        tracker.unplug()
        if os.path.exists(state_path(args.prefix, args.port)):
            os.unlink(state_path(args.prefix, args.port))
    return 0


def present(args):
    state = state_path(args.prefix, args.port)
    if os.path.exists(state):
        print("COM%d is already present (%s)" % (args.port, state), file=sys.stderr)
        return 1
    command = [sys.executable, os.path.abspath(__file__), "--prefix", args.prefix, "--port", str(args.port),
               "--kind", args.kind, "serve", "--quiet"]
    if args.name:
        command[-2:-2] = ["--name", args.name]
    holder = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              start_new_session=True)
    deadline = time.monotonic() + HOLDER_START_TIMEOUT_S
    while not os.path.exists(state):
        if holder.poll() is not None:
            print("the holder process ended with %d before the port was present" % holder.returncode,
                  file=sys.stderr)
            return 1
        if time.monotonic() >= deadline:
            holder.terminate()
            print("the port was not present after %d s" % HOLDER_START_TIMEOUT_S, file=sys.stderr)
            return 1
        time.sleep(0.05)
    with open(state) as f:
        print("COM%d present on %s (holder process %d)" % (args.port, json.load(f)["pty"], holder.pid))
    return 0


def absent(args):
    state = state_path(args.prefix, args.port)
    key = presence.Presence(args.prefix, args.port, KINDS[args.kind], args.name).key
    if os.path.exists(state):
        with open(state) as f:
            info = json.load(f)
        key = info["key"]
        try:
            os.kill(info["pid"], signal.SIGTERM)
        except ProcessLookupError:
            pass
        deadline = time.monotonic() + HOLDER_STOP_TIMEOUT_S
        while os.path.exists("/proc/%d" % info["pid"]) and os.path.exists(state):
            if time.monotonic() >= deadline:
                print("holder process %d did not end within %d s" % (info["pid"], HOLDER_STOP_TIMEOUT_S),
                      file=sys.stderr)
                return 1
            time.sleep(0.05)
        if os.path.exists(state):
            os.unlink(state)
    # The holder removes its traces as it ends; do it again in case it was killed outright.
    presence.remove_traces(args.prefix, args.port, key)
    print("COM%d absent" % args.port)
    return 0


def main(argv=None):
    parser = argparse.ArgumentParser(description="Simulated KV-718A tracker for a Wine prefix.")
    parser.add_argument("--prefix", default=os.environ.get("WINEPREFIX"), help="Wine prefix (default $WINEPREFIX)")
    parser.add_argument("--port", type=int, default=7, help="COM port number, 5 or above (default 7)")
    parser.add_argument("--kind", choices=sorted(KINDS), default="stm", help="USB bridge (default stm)")
    parser.add_argument("--name", help="friendly name instead of the bridge's usual one")
    sub = parser.add_subparsers(dest="action", required=True)
    sub.add_parser("present", help="plug the tracker in and leave it there")
    sub.add_parser("absent", help="take the tracker away")
    serve_parser = sub.add_parser("serve", help="plug the tracker in until Ctrl-C")
    serve_parser.add_argument("--quiet", action="store_true", help="don't show the bytes received")
    args = parser.parse_args(argv)
    if not args.prefix:
        parser.error("--prefix or $WINEPREFIX is needed")
    if args.action == "serve":
        return serve(args, args.quiet)
    return present(args) if args.action == "present" else absent(args)


if __name__ == "__main__":
    sys.exit(main())
