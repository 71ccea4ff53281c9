"""The simulated KV-718A tracker: its USB serial port, the line behind it, and what runs there.

It runs in one of two modes:

    normal   what it runs after a plain Reset or power-on: it ignores the boot loader's "1" and
             "2", and its settings interpreter answers the settings commands (settings)
    boot     its boot loader (bootloader), started by holding the power button while pressing
             Reset: it answers "1" with its waiting text and restarts into normal mode on "2";
             after the waiting text it takes a firmware image by YMODEM (ymodem)

A restart makes the USB device vanish for a while, as a real one does: after "2" for
reset_return_s (None: it stays away until come_back()), after the Reset button for reset_button_gone_s (0: it
stays present). The Python interface is described in sim/__init__.py; `python3 -m sim` is the
command line (sim/cli.py).
"""

import threading
import time

from . import presence
from .bootloader import BootLoader
from .events import EventLog
from .line import Line
from .settings import SettingsInterpreter, SettingsOptions
from .ymodem import Receiver, ReceiverOptions

NORMAL, BOOT = "normal", "boot"
# About as long as a real tracker takes to restart and show its USB device again.
DEFAULT_RESET_RETURN_S = 1.5


class Tracker:
    """A tracker on one USB serial port.

    While plugged in, a reader drains the line so that the program's writes never block, and
    logs what happens; the tracker's own thread answers what the program wrote, one batch of
    waiting bytes at a time. A restart runs on the thread that causes it, under the tracker's
    lock, so it is over before anything else happens to the tracker; unplug() cuts it short,
    and then the device does not come back.
    """

    def __init__(self, prefix, port=7, kind=presence.STM_VCP, friendly_name=None, instance=None, *,
                 mode=NORMAL, reset_return_s=DEFAULT_RESET_RETURN_S, reset_button_gone_s=0,
                 receiver=None, settings=None):
        if mode not in (NORMAL, BOOT):
            raise ValueError("mode %r is neither %r nor %r" % (mode, NORMAL, BOOT))
        self.port = presence.Presence(prefix, port, kind, friendly_name, instance)
        self._kind = kind
        self.log = EventLog()
        # How the boot loader takes the firmware image (ymodem.ReceiverOptions; None: as the tracker does).
        self.receiver = receiver or ReceiverOptions()
        self.settings_interpreter = SettingsInterpreter(settings or SettingsOptions(), send=self.send,
                                                        stall=lambda: self._line.stall(True), log=self.log)
        self.boot_loader = BootLoader(send=self.send, restart=self._reset_command,
                                      start_receiver=self._start_receiver)
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
            self.settings_interpreter.reset()
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

    def come_back(self, port=None):
        """The USB device that a restart took away comes back now, on COM<port> if given: after
        a restart Windows may give the tracker another port number."""
        with self._lock:
            if self._runner is None or self._line is not None:
                raise RuntimeError("the tracker is not away after a restart")
            if port is not None:
                self.port = presence.Presence(self.port.prefix, port, self._kind)
            self._connect("back")

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
        """Writes to the line; how many bytes it took."""
        line = self._line
        if line is None:
            raise RuntimeError("the tracker's port is not present")
        return line.write(data)

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

    def settings(self):
        """The tracker's settings now, in order (bytes each)."""
        return self.settings_interpreter.settings()

    def restores(self):
        """Every set command the tracker received: "restore" events, data the raw line."""
        return [event for event in self.log.events() if event.kind == "restore"]

    def wait_restores(self, count, timeout_s):
        """Waits until `count` (1 or more) set commands have come; their events, or None if
        fewer came within timeout_s."""
        def enough():
            restores = self.restores()
            return restores if len(restores) >= count else None
        return self.log.wait_for(enough, timeout_s)

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
                elif data:
                    self.settings_interpreter.on_bytes(data)

    def _deliver(self, data):
        with self._inbox_changed:
            self._inbox += data
            self._inbox_changed.notify_all()

    def _start_receiver(self):
        return Receiver(self.receiver, send=self.send, log=self.log, on_end=self._upload_ended).start()

    def _upload_ended(self, upload):
        if upload.outcome == "complete":
            # New firmware starts from its factory settings.
            self.settings_interpreter.factory_reset()
        with self._uploads_changed:
            self._uploads.append(upload)
            self._uploads_changed.notify_all()

    def _reset_command(self):
        self.log.add("reset", "command")
        self._restart(NORMAL, self.reset_return_s)

    def _restart(self, mode, gone_s):
        """Restarts the tracker in mode; its USB device vanishes for gone_s seconds (0: it stays,
        None: it does not come back)."""
        # A transfer or a dump ends with the restart, before the line can go away under it.
        self.boot_loader.stop_receiving()
        self.settings_interpreter.reset()
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
