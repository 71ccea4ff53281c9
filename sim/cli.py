"""The simulated tracker's command line, for people and for scripts/run.sh.

    python3 -m sim --prefix DIR serve        plug in until Ctrl-C, showing every event with the
                                             seconds since start
    python3 -m sim --prefix DIR present      plug in and leave it there
    python3 -m sim --prefix DIR absent       take away what "present" left
    python3 -m sim --prefix DIR press-reset [--no-power]
                                             press Reset on the tracker that "serve" or "present"
                                             keeps, holding the power button unless --no-power

Options before the action: --port N (default 7), --kind stm|prolific|generic. serve's options
(present takes them too) choose the tracker's behaviour: its mode, its restarts, how its boot
loader receives, and its settings and their faults (see --help), e.g.

    serve --boot-loader --paced --cancel-block 3
    serve --setting "NAME=Иван" --setting "ZONE=55.7,37.6" --settings-fault broken=1 --settings-fault-once

serve prints "present on COM<n>" as its first line once the port and its device key are in
place; --quiet shows nothing after it.

While serve runs in a terminal it reads commands: "r" + Enter presses Reset holding the power
button (boot loader), "n" + Enter presses Reset alone (normal mode), "q" + Enter quits. SIGUSR1
and SIGUSR2 press Reset the same two ways; that is how press-reset reaches the holder, whose
process id is in $PREFIX/kvsim-comN.json while it runs.
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

from sim import presence
from sim.events import describe
from sim.settings import DEFAULT_PAYLOADS, FAULTS, SettingsOptions, numbered_payloads
from sim.tracker import BOOT, DEFAULT_RESET_RETURN_S, NORMAL, Tracker
from sim.ymodem import ReceiverOptions

KINDS = {"stm": presence.STM_VCP, "prolific": presence.PROLIFIC, "generic": presence.GENERIC_USB_SERIAL}
COMMAND_POLL_S = 0.2
HOLDER_STOP_TIMEOUT_S = 30
SIGNAL_COMMANDS = {signal.SIGINT: "q", signal.SIGTERM: "q", signal.SIGUSR1: "r", signal.SIGUSR2: "n"}
COMMANDS_HELP = ("Commands: r + Enter holds the power button and presses Reset (boot loader), "
                 "n + Enter presses Reset alone (normal mode), q + Enter quits.")


def state_path(prefix, port):
    return os.path.join(os.path.abspath(prefix), "kvsim-com%d.json" % port)


def serve(args):
    receiver = ReceiverOptions(paced=args.paced, cancel_block=args.cancel_block,
                               received_dir=os.path.abspath(args.received_dir or os.path.join(args.prefix,
                                                                                              "kvsim-received")))
    name, _, at = (args.settings_fault or "").partition("=")
    try:
        settings = SettingsOptions(payloads=tuple(args.setting) if args.setting else numbered_payloads(
                                       args.settings_count or len(DEFAULT_PAYLOADS)),
                                   fault=name or None, fault_at=int(at or 1), fault_once=args.settings_fault_once)
    except ValueError as error:
        print("settings: %s" % error, file=sys.stderr)
        return 2
    tracker = Tracker(args.prefix, args.port, KINDS[args.kind], mode=BOOT if args.boot_loader else NORMAL,
                      reset_return_s=args.reset_return, reset_button_gone_s=args.reset_button_gone,
                      receiver=receiver, settings=settings)
    commands = queue.SimpleQueue()
    for sig, command in SIGNAL_COMMANDS.items():
        signal.signal(sig, lambda *_, command=command: commands.put(command))
    tracker.plug()
    state = state_path(args.prefix, args.port)
    try:
        with open(state + ".tmp", "w") as f:
            json.dump({"pid": os.getpid(), "key": tracker.port.key}, f)
        os.replace(state + ".tmp", state)
        print("present on %s" % tracker.port_name, flush=True)
        if not args.quiet:
            print("%s on %s in %s mode; Ctrl-C takes it away"
                  % (tracker.port.friendly_name, tracker.port.pty_path, tracker.mode), flush=True)
            tracker.log.follow(lambda event: print(describe(event, tracker.log.started_at), flush=True))
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
            elif not args.quiet:
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


def present(args):
    state = state_path(args.prefix, args.port)
    if os.path.exists(state):
        print("COM%d is already present (%s)" % (args.port, state), file=sys.stderr)
        return 1
    command = [sys.executable, "-m", "sim", "--prefix", args.prefix, "--port", str(args.port), "--kind", args.kind,
               "serve", "--quiet"] + args.options
    # The holder finds this package where this process found it, wherever it was started from.
    source = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(filter(None, (source, os.environ.get("PYTHONPATH")))))
    holder = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, start_new_session=True,
                              env=env)
    # The holder prints nothing after its first line, so nothing waits on the pipe once it is closed.
    with holder.stdout:
        first = holder.stdout.readline().decode().strip()
    if first != "present on COM%d" % args.port:
        holder.terminate()
        print("the holder process ended with %s before the port was present" % holder.wait(), file=sys.stderr)
        return 1
    print("COM%d present (holder process %d)" % (args.port, holder.pid))
    return 0


def absent(args):
    state = state_path(args.prefix, args.port)
    key = presence.Presence(args.prefix, args.port, KINDS[args.kind]).key
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


def command_line():
    parser = argparse.ArgumentParser(prog="python3 -m sim",
                                     description="Simulated KV-718A tracker for a Wine prefix.")
    parser.add_argument("--prefix", default=os.environ.get("WINEPREFIX"), help="Wine prefix (default $WINEPREFIX)")
    parser.add_argument("--port", type=int, default=7, help="COM port number, 5 or above (default 7)")
    parser.add_argument("--kind", choices=sorted(KINDS), default="stm", help="USB bridge (default stm)")
    sub = parser.add_subparsers(dest="action", required=True)
    serve_parser = sub.add_parser("serve", help="plug the tracker in until Ctrl-C")
    serve_parser.add_argument("--quiet", action="store_true", help="show nothing after the first line")
    serve_parser.add_argument("--boot-loader", action="store_true", help="start in the boot loader")
    serve_parser.add_argument("--reset-return", type=lambda text: None if text == "never" else seconds(text),
                              default=DEFAULT_RESET_RETURN_S, metavar="SECONDS|never",
                              help="how long the device is away after \"2\" (default %s)" % DEFAULT_RESET_RETURN_S)
    serve_parser.add_argument("--reset-button-gone", type=seconds, default=0, metavar="SECONDS",
                              help="how long the device is away after the Reset button (default 0)")
    serve_parser.add_argument("--paced", action="store_true", help="the program's bytes reach it at 115200 bit/s")
    serve_parser.add_argument("--cancel-block", type=int, metavar="N",
                              help="answer block N of the firmware with CAN CAN (0 is the header)")
    serve_parser.add_argument("--received-dir", metavar="DIR",
                              help="where received files stay (default $PREFIX/kvsim-received)")
    serve_parser.add_argument("--setting", action="append", type=lambda text: text.encode("cp1251"), metavar="TEXT",
                              help="a setting, in cp1251; as often as needed, in order (default: %d settings, "
                                   "some in Russian)" % len(DEFAULT_PAYLOADS))
    serve_parser.add_argument("--settings-count", type=int, metavar="N",
                              help="N settings: the default ones, then P<number>=<number>")
    serve_parser.add_argument("--settings-fault", metavar="NAME[=RECORD]",
                              help="a fault of the settings dump or restore: %s" % ", ".join(FAULTS))
    serve_parser.add_argument("--settings-fault-once", action="store_true",
                              help="play the settings fault on the first dump only")
    present_parser = sub.add_parser("present", help="plug the tracker in and leave it there; takes serve's options")
    present_parser.add_argument("options", nargs=argparse.REMAINDER, help="options of serve")
    sub.add_parser("absent", help="take the tracker away")
    reset = sub.add_parser("press-reset", help="press Reset on the tracker that present or serve keeps")
    reset.add_argument("--no-power", action="store_true",
                       help="without holding the power button: restart in normal mode")
    return parser


def main(argv=None):
    parser = command_line()
    args = parser.parse_args(argv)
    if not args.prefix:
        parser.error("--prefix or $WINEPREFIX is needed")
    return {"serve": serve, "present": present, "absent": absent, "press-reset": press_reset}[args.action](args)
