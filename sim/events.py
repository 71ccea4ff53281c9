"""What happened between the program and the simulated tracker, in time order.

Every event has a time from time.monotonic(), so a test in the same process can compare it with
its own clock, a kind, and data:

    plug, unplug   the cable goes in or out (data: the pseudo-terminal, for plug)
    open, close    the program opens or closes the port (a port that is open when the device
                   goes away has no close: the program's handle is dead from then on)
    rx, tx         bytes from the program, bytes from the tracker (data: bytes)
    reset          the tracker restarts (data: "button, power held", "button" or "command")
    mode           the mode the tracker runs in after a restart (data: "normal" or "boot")
    gone, back     its USB device vanishes and comes back during a restart (data: the
                   pseudo-terminal, for back)
    hold, release  another program takes and leaves the port exclusively
    stall, flow    the tracker stops taking bytes off the line, and takes them again
    upload         the boot loader's transfer of a firmware image (see ymodem): it starts
                   waiting, rb takes over, the transfer ends (data: text)
    block          a frame that the boot loader answered (data: "NUMBER LENGTH ANSWER", e.g.
                   "1 1024 ack")
    eot            the program's end of file, and the boot loader's answer (data: "ack", "nak")
    fault          a fault that the test asked the boot loader to play (data: what it does)
    query          the settings query came (data: what the tracker does about it)
    restore        a settings set command came (data: its raw bytes)
    factory        new firmware put the settings back to their factory values

plug and back are logged as the COM link appears, before the device list shows the device
(0.1 to 0.5 s later); unplug and gone as the link disappears, before it leaves the list.
"""

import collections
import threading
import time

Event = collections.namedtuple("Event", "t kind data")


class EventLog:
    def __init__(self):
        self.started_at = time.monotonic()
        self._listener = None
        self._events = []
        self._changed = threading.Condition()

    def add(self, kind, data=None):
        with self._changed:
            # Timed under the lock, so that the log is in time order whichever thread adds.
            event = Event(time.monotonic(), kind, data)
            self._events.append(event)
            if self._listener:
                self._listener(event)
            self._changed.notify_all()
        return event

    def follow(self, listener):
        """Calls listener(event) with every event so far and each one from now on, in order,
        with the log locked: it must not use the log."""
        with self._changed:
            for event in self._events:
                listener(event)
            self._listener = listener

    def events(self):
        with self._changed:
            return list(self._events)

    def wait_for(self, condition, timeout_s):
        """Waits until condition() is true, waking at each new event; returns its last value."""
        with self._changed:
            return self._changed.wait_for(condition, timeout_s)

    def wait_event(self, match, timeout_s, after=None):
        """The first event later than time `after` for which match(event) holds, or of kind
        `match` if it is a string; waits up to timeout_s for it and returns None if none came."""
        matches = match if callable(match) else (lambda event: event.kind == match)
        return self.wait_for(
            lambda: next((e for e in self._events if (after is None or e.t > after) and matches(e)), None),
            timeout_s)


def describe(event, since):
    """One line for a person: seconds since `since`, the kind, and the data (bytes in hex and
    as text)."""
    line = "%8.3f %s" % (event.t - since, event.kind)
    if isinstance(event.data, bytes):
        return "%s %s  %s" % (line, event.data.hex(" "), ascii(event.data)[1:])
    return line if event.data is None else "%s %s" % (line, event.data)
