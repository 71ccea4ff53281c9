"""The simulated KV-718A tracker, and a command line to make it present for a person.

The tracker is its USB serial port (presence), the line behind it (line) and what runs on it.
It runs in one of two modes:

    normal   what it runs after a plain Reset or power-on: it ignores the boot loader's "1" and
             "2" (its settings interpreter will answer here)
    boot     its boot loader (bootloader), started by holding the power button while pressing
             Reset: it answers "1" with its waiting text and restarts into normal mode on "2";
             after the waiting text it takes a firmware image by YMODEM (ymodem)

A restart makes the USB device vanish for a while, as a real one does: after "2" for
reset_return_s (None: it stays away), after the Reset button for reset_button_gone_s (0: it
stays present). Everything is logged with its time (see events): tracker.events(),
tracker.wait_event(). How the boot loader receives, and the faults it plays, are the `receiver`
option (ymodem.ReceiverOptions); every transfer it ran is in tracker.uploads(), and
tracker.wait_upload() waits for the next one to end.

    python3 sim/tracker.py --prefix DIR present     plug in; stays until "absent"
    python3 sim/tracker.py --prefix DIR absent      pull out
    python3 sim/tracker.py --prefix DIR press-reset [--no-power]
                                                          press Reset on the tracker that
                                                          "present" or "serve" keeps, holding
                                                          the power button unless --no-power
    python3 sim/tracker.py --prefix DIR serve       plug in until Ctrl-C, showing every
                                                          event with the seconds since start
Options: --port N (default 7), --kind stm|prolific|generic, --name "FRIENDLY NAME".
Options of present and serve:
    --boot-loader                 start in the boot loader
    --answer abort|plain|pieces|silent
                                  how the boot loader answers "1" (default abort)
    --reset-return SECONDS|never  how long the device is away after "2" (default 1.5)
    --reset-button-gone SECONDS   how long the device is away after the Reset button (default 0)
    --receiver-start C|NAK|G|none
                                  how the boot loader asks for the file: CRC, 8-bit sum,
                                  streaming, or never (default C)
    --start-interval SECONDS      between its requests for the file (default 1)
    --paced                       bytes from the program reach the receiver at 115200 bit/s
    --received-dir DIR            where received files are written (default $PREFIX/kvsim-received)
    --fault NAME[=BLOCK]          a fault of the receiver, for block BLOCK (0 is the header), as
                                  often as needed (see ymodem.FAULTS): nak-once, nak-ten,
                                  nak-always, can-once, cancel, silent-after, noise,
                                  nak-first-eot, nak-after-header (these two take no block)
    --quiet                       (serve) show nothing

While serve runs in a terminal, it reads commands: "r" + Enter presses Reset holding the power
button (boot loader), "n" + Enter presses Reset alone (normal mode), "q" + Enter quits. SIGUSR1
and SIGUSR2 press Reset the same two ways; that is how press-reset reaches the holder.

A pseudo-terminal lives only as long as the process that holds its master, so "present" leaves
a background "serve" holding it, with its process id in $PREFIX/kvsim-comN.json; "absent" ends
that process by its id and removes what it left.
"""

import argparse
import json
import os
import queue
import signal
import subprocess
import sys
import threading
import time

if __package__ in (None, ""):
    sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    from sim import presence  # noqa: E402
    from sim.bootloader import ANSWERS, BootLoader  # noqa: E402
    from sim.events import EventLog, describe  # noqa: E402
    from sim.line import Line  # noqa: E402
    from sim.ymodem import FAULTS, Receiver, ReceiverOptions  # noqa: E402
else:
    from . import presence
    from .bootloader import ANSWERS, BootLoader
    from .events import EventLog, describe
    from .line import Line
    from .ymodem import FAULTS, Receiver, ReceiverOptions

KINDS = {"stm": presence.STM_VCP, "prolific": presence.PROLIFIC, "generic": presence.GENERIC_USB_SERIAL}
NORMAL, BOOT = "normal", "boot"
# About as long as a real tracker takes to restart and show its USB device again.
DEFAULT_RESET_RETURN_S = 1.5
COMMAND_POLL_S = 0.2
HOLDER_START_TIMEOUT_S = 60
HOLDER_STOP_TIMEOUT_S = 30
SIGNAL_COMMANDS = {signal.SIGINT: "q", signal.SIGTERM: "q", signal.SIGUSR1: "r", signal.SIGUSR2: "n"}
COMMANDS_HELP = ("Commands: r + Enter holds the power button and presses Reset (boot loader), "
                 "n + Enter presses Reset alone (normal mode), q + Enter quits.")


class Tracker:
    """A tracker on one USB serial port.

    While plugged in, a reader drains the line so that the program's writes never block, and
    logs what happens; the tracker's own thread answers what the program wrote, one batch of
    waiting bytes at a time. A restart runs on the thread that causes it, under the tracker's
    lock, so it is over before anything else happens to the tracker; unplug() cuts it short,
    and then the device does not come back.
    """

    def __init__(self, prefix, port=7, kind=presence.STM_VCP, friendly_name=None, instance=None, *,
                 mode=NORMAL, answer="abort", reset_return_s=DEFAULT_RESET_RETURN_S, reset_button_gone_s=0,
                 receiver=None):
        if mode not in (NORMAL, BOOT):
            raise ValueError("mode %r is neither %r nor %r" % (mode, NORMAL, BOOT))
        self.port = presence.Presence(prefix, port, kind, friendly_name, instance)
        self.log = EventLog()
        # How the boot loader takes the firmware image (ymodem.ReceiverOptions; None: as the tracker does).
        self.receiver = receiver or ReceiverOptions()
        self.boot_loader = BootLoader(answer, send=self.send, pause=self._pause,
                                      restart=self._reset_command, start_receiver=self._start_receiver)
        self._uploads = []
        self._uploads_waited = 0
        self._uploads_changed = threading.Condition()
        self.reset_return_s = reset_return_s
        self.reset_button_gone_s = reset_button_gone_s
        self._mode = mode
        self._line = None
        self._runner = None
        self._lock = threading.Lock()
        self._stop = threading.Event()
        self._inbox = bytearray()
        self._inbox_changed = threading.Condition()

    @property
    def port_name(self):
        return self.port.port_name

    @property
    def mode(self):
        return self._mode

    def plug(self):
        with self._lock:
            if self._runner is None:
                self._stop.clear()
                self._connect("plug")
                self._runner = threading.Thread(target=self._run, name="tracker-" + self.port_name, daemon=True)
                self._runner.start()
        return self

    def unplug(self):
        with self._inbox_changed:
            self._stop.set()
            self._inbox_changed.notify_all()
        if self._runner is None:
            return
        self._runner.join()
        with self._lock:
            self._runner = None
            self.boot_loader.stop_receiving()
            if self._line is not None:
                self._disconnect("unplug")
            else:
                self.log.add("unplug")

    def press_reset(self, hold_power=True):
        """The user presses Reset, holding the power button to start the boot loader or not;
        returns once the tracker runs in its new mode (and is back, if the restart took it away)."""
        with self._lock:
            if self._runner is None:
                raise RuntimeError("the tracker is not plugged in")
            self.log.add("reset", "button, power held" if hold_power else "button")
            self._restart(BOOT if hold_power else NORMAL, self.reset_button_gone_s)

    def hold_exclusively(self, hold=True):
        """Another program takes the port exclusively (hold) or lets it go."""
        with self._lock:
            if self._line is not None:
                self._line.hold_exclusively(hold)
            elif hold:
                raise RuntimeError("the tracker's port is not present")

    def stall_line(self, stalled=True):
        """The tracker stops taking bytes off the line (stalled), so that the program's writes
        time out, or takes them again."""
        with self._lock:
            if self._line is None:
                raise RuntimeError("the tracker's port is not present")
            self._line.stall(stalled)

    def line_settings(self):
        """Baud rate, stop bits and flow control that the program set (see Line.settings)."""
        line = self._line
        if line is None:
            raise RuntimeError("the tracker's port is not present")
        return line.settings()

    def send(self, data):
        line = self._line
        if line is None:
            raise RuntimeError("the tracker's port is not present")
        line.write(data)

    def events(self):
        return self.log.events()

    def wait_event(self, match, timeout_s, after=None):
        """The first event later than time `after` of kind `match` (or for which match(event)
        holds); waits up to timeout_s for it and returns None if none came."""
        return self.log.wait_event(match, timeout_s, after)

    def received(self):
        """Every byte that the program has written to the tracker, over all its connections."""
        return b"".join(event.data for event in self.log.events() if event.kind == "rx")

    def wait_received(self, predicate, timeout_s):
        """Waits until predicate(received bytes) holds; False after timeout_s."""
        return bool(self.log.wait_for(lambda: predicate(self.received()), timeout_s))

    def uploads(self):
        """Every transfer that the boot loader ran and that has ended, in order (ymodem.Upload:
        a transfer that never got a file is there too, with first_frame_at None)."""
        with self._uploads_changed:
            return list(self._uploads)

    def wait_upload(self, timeout_s):
        """The next transfer to end after the one that the last call returned; waits up to
        timeout_s for it and returns None if none ended."""
        with self._uploads_changed:
            if not self._uploads_changed.wait_for(lambda: len(self._uploads) > self._uploads_waited, timeout_s):
                return None
            self._uploads_waited += 1
            return self._uploads[self._uploads_waited - 1]

    def _run(self):
        while True:
            with self._inbox_changed:
                self._inbox_changed.wait_for(lambda: self._inbox or self._stop.is_set())
            with self._lock:
                if self._stop.is_set():
                    return
                # Taken under the tracker's lock: a restart in between has emptied the inbox.
                with self._inbox_changed:
                    data = bytes(self._inbox)
                    self._inbox.clear()
                if data and self._mode == BOOT:
                    self.boot_loader.on_bytes(data)
                # In normal mode nothing answers yet; the settings interpreter will take the bytes here.

    def _deliver(self, data):
        with self._inbox_changed:
            self._inbox += data
            self._inbox_changed.notify_all()

    def _pause(self, seconds):
        self._stop.wait(seconds)

    def _start_receiver(self):
        return Receiver(self.receiver, send=self.send, log=self.log, on_end=self._upload_ended).start()

    def _upload_ended(self, upload):
        with self._uploads_changed:
            self._uploads.append(upload)
            self._uploads_changed.notify_all()

    def _reset_command(self):
        self.log.add("reset", "command")
        self._restart(NORMAL, self.reset_return_s)

    def _restart(self, mode, gone_s):
        """Restarts the tracker in mode; its USB device vanishes for gone_s seconds (0: it stays,
        None: it does not come back)."""
        # A transfer ends with the restart, before the line can go away under it.
        self.boot_loader.stop_receiving()
        back_at = None if gone_s is None else time.monotonic() + gone_s
        if gone_s != 0 and self._line is not None:
            self._disconnect("gone")
        self._mode = mode
        self.log.add("mode", mode)
        if self._line is None and back_at is not None and not self._stop.wait(max(0.0, back_at - time.monotonic())):
            self._connect("back")

    def _connect(self, kind):
        self.port.make_pty()
        try:
            # Reading before the port is linked, so that the program's first open is seen at once.
            self._line = Line(self.port.master_fd, self.port.pty_path, self.log, self._deliver).start()
            self.port.link()
            self.log.add(kind, self.port.pty_path)
            self.port.list_device()
        except BaseException:
            if self._line is not None:
                self._line.stop()
                self._line = None
            self.port.unplug()
            raise

    def _disconnect(self, kind):
        line, self._line = self._line, None
        line.stop()
        with self._inbox_changed:
            self._inbox.clear()
        self.port.unlink()
        self.log.add(kind)
        self.port.unlist_device()

    def __enter__(self):
        return self.plug()

    def __exit__(self, *exc):
        self.unplug()


def state_path(prefix, port):
    return os.path.join(os.path.abspath(prefix), "kvsim-com%d.json" % port)


def receiver_options(args):
    options = ReceiverOptions(start=None if args.receiver_start == "none" else args.receiver_start,
                              paced=args.paced, start_interval_s=args.start_interval,
                              received_dir=os.path.abspath(args.received_dir or os.path.join(args.prefix,
                                                                                             "kvsim-received")))
    for fault in args.fault:
        options = options.with_fault(fault)
    return options


def serve(args):
    tracker = Tracker(args.prefix, args.port, KINDS[args.kind], args.name, mode=BOOT if args.boot_loader else NORMAL,
                      answer=args.answer, reset_return_s=args.reset_return,
                      reset_button_gone_s=args.reset_button_gone, receiver=receiver_options(args))
    commands = queue.SimpleQueue()
    for sig, command in SIGNAL_COMMANDS.items():
        signal.signal(sig, lambda *_, command=command: commands.put(command))
    if not args.quiet:
        tracker.log.listener = lambda event: print(describe(event, tracker.log.started_at), flush=True)
    tracker.plug()
    state = state_path(args.prefix, args.port)
    try:
        with open(state + ".tmp", "w") as f:
            json.dump({"pid": os.getpid(), "pty": tracker.port.pty_path, "key": tracker.port.key}, f)
        os.replace(state + ".tmp", state)
        print("%s present as %s on %s in %s mode; Ctrl-C takes it away"
              % (tracker.port.friendly_name, tracker.port_name, tracker.port.pty_path, tracker.mode), flush=True)
        if sys.stdin.isatty():
            print(COMMANDS_HELP, flush=True)
            threading.Thread(target=read_commands, args=(commands,), daemon=True).start()
        while True:
            try:
                command = commands.get(timeout=COMMAND_POLL_S)
            except queue.Empty:
                continue
            if command == "q":
                break
            if command in ("r", "n"):
                tracker.press_reset(hold_power=command == "r")
            else:
                print(COMMANDS_HELP, flush=True)
    finally:
        tracker.unplug()
        if os.path.exists(state):
            os.unlink(state)
    return 0


def read_commands(commands):
    """Passes the person's lines on to serve; the end of input quits."""
    for line in sys.stdin:
        commands.put(line.strip())
    commands.put("q")


def holder_options(args):
    """The options of present, for the serve that holds the port."""
    options = ["--answer", args.answer,
               "--reset-return", "never" if args.reset_return is None else repr(args.reset_return),
               "--reset-button-gone", repr(args.reset_button_gone),
               "--receiver-start", args.receiver_start, "--start-interval", repr(args.start_interval)]
    if args.boot_loader:
        options.append("--boot-loader")
    if args.paced:
        options.append("--paced")
    if args.received_dir:
        options += ["--received-dir", os.path.abspath(args.received_dir)]
    for fault in args.fault:
        options += ["--fault", fault]
    return options


def present(args):
    state = state_path(args.prefix, args.port)
    if os.path.exists(state):
        print("COM%d is already present (%s)" % (args.port, state), file=sys.stderr)
        return 1
    command = [sys.executable, os.path.abspath(__file__), "--prefix", args.prefix, "--port", str(args.port),
               "--kind", args.kind] + (["--name", args.name] if args.name else []) + [
               "serve", "--quiet"] + holder_options(args)
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


def press_reset(args):
    state = state_path(args.prefix, args.port)
    if not os.path.exists(state):
        print("no tracker is present on COM%d (%s is missing)" % (args.port, state), file=sys.stderr)
        return 1
    with open(state) as f:
        os.kill(json.load(f)["pid"], signal.SIGUSR2 if args.no_power else signal.SIGUSR1)
    print("Reset pressed on COM%d%s" % (args.port, "" if args.no_power else ", holding the power button"))
    return 0


def seconds(text):
    value = float(text)
    if value < 0:
        raise argparse.ArgumentTypeError("%s: seconds cannot be negative" % text)
    return value


def seconds_or_never(text):
    return None if text == "never" else seconds(text)


def fault(text):
    try:
        ReceiverOptions().with_fault(text)
    except ValueError as e:
        raise argparse.ArgumentTypeError(str(e))
    return text


def command_line():
    parser = argparse.ArgumentParser(description="Simulated KV-718A tracker for a Wine prefix.")
    parser.add_argument("--prefix", default=os.environ.get("WINEPREFIX"), help="Wine prefix (default $WINEPREFIX)")
    parser.add_argument("--port", type=int, default=7, help="COM port number, 5 or above (default 7)")
    parser.add_argument("--kind", choices=sorted(KINDS), default="stm", help="USB bridge (default stm)")
    parser.add_argument("--name", help="friendly name instead of the bridge's usual one")
    tracker_options = argparse.ArgumentParser(add_help=False)
    tracker_options.add_argument("--boot-loader", action="store_true", help="start in the boot loader")
    tracker_options.add_argument("--answer", choices=ANSWERS, default="abort",
                                 help="how the boot loader answers \"1\" (default abort)")
    tracker_options.add_argument("--reset-return", type=seconds_or_never, default=DEFAULT_RESET_RETURN_S,
                                 metavar="SECONDS|never",
                                 help="how long the device is away after \"2\" (default %s)" % DEFAULT_RESET_RETURN_S)
    tracker_options.add_argument("--reset-button-gone", type=seconds, default=0, metavar="SECONDS",
                                 help="how long the device is away after the Reset button (default 0)")
    tracker_options.add_argument("--receiver-start", choices=("C", "NAK", "G", "none"), default="C",
                                 help="how the boot loader asks for the file (default C)")
    tracker_options.add_argument("--start-interval", type=seconds, default=ReceiverOptions.start_interval_s,
                                 metavar="SECONDS", help="between its requests for the file (default %g)"
                                 % ReceiverOptions.start_interval_s)
    tracker_options.add_argument("--paced", action="store_true",
                                 help="bytes from the program reach the receiver at 115200 bit/s")
    tracker_options.add_argument("--received-dir", metavar="DIR",
                                 help="where received files are written (default $PREFIX/kvsim-received)")
    tracker_options.add_argument("--fault", type=fault, action="append", default=[], metavar="NAME[=BLOCK]",
                                 help="a fault of the receiver, as often as needed: %s" % ", ".join(FAULTS))
    sub = parser.add_subparsers(dest="action", required=True)
    sub.add_parser("present", parents=[tracker_options], help="plug the tracker in and leave it there")
    sub.add_parser("absent", help="take the tracker away")
    reset_parser = sub.add_parser("press-reset", help="press Reset on the tracker that present or serve keeps")
    reset_parser.add_argument("--no-power", action="store_true",
                              help="without holding the power button: restart in normal mode")
    serve_parser = sub.add_parser("serve", parents=[tracker_options], help="plug the tracker in until Ctrl-C")
    serve_parser.add_argument("--quiet", action="store_true", help="show nothing")
    return parser


def main(argv=None):
    parser = command_line()
    args = parser.parse_args(argv)
    if not args.prefix:
        parser.error("--prefix or $WINEPREFIX is needed")
    return {"serve": serve, "present": present, "absent": absent, "press-reset": press_reset}[args.action](args)


if __name__ == "__main__":
    sys.exit(main())
