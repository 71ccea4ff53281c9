"""The tracker's settings, as the program meets them on the line in normal mode.

The tracker keeps a list of settings, each an 8-bit text (Cyrillic as cp1251 bytes is usual; a
text may hold commas). Asked with the pair of lines

    GSS,KestrelonKV-718,3,0,OO=20*26!<CR><LF>
    GSC,KestrelonKV-718,L0*76!<CR><LF>

it answers with one record per setting, one line each:

    GSs,KestrelonKV-718,<kind>,<number>,<text>*<check>!<CR><LF>

kind 1 for the first (number 0), kind 0 for those between, kind 2 for the last (number n-1);
<check> is the XOR of every character from the first letter up to before "*", as two upper-case
hex digits. A line "GSS,KestrelonKV-718,<kind>,<number>,<text>*QQ!<CR><LF>" (any two characters
in place of QQ) sets setting <number> to <text>. Installing new firmware puts the factory values
back, which differ from any the tracker is given, so a tracker after an upgrade has its old
settings only if they were really written back.

Faults, for the exchanges the program must survive (FAULTS); `fault_at` is the record that the
fault touches (for "stall": the restore command after which the tracker stops taking bytes),
and `fault_once` plays the fault on the first dump only, so that a repeated query gets a whole
dump. It logs:
    query    the pair came (data: what the tracker does about it)
    restore  a set command came (data: its raw bytes)
    factory  the settings went back to their factory values
"""

import dataclasses
import threading

IDENTITY = b"KestrelonKV-718"
SET_WORD, QUERY_WORD, RECORD_WORD = b"GSS", b"GSC", b"GSs"
OO_TEXT = b"GSS,KestrelonKV-718,3,0,OO=20"
L0_TEXT = b"GSC,KestrelonKV-718,L0"
# The first record, those between, and the last.
FIRST, MIDDLE, LAST = 1, 0, 2
# More than the program's 100 ms wait for the next byte of a line.
BREAK_PAUSE_S = 0.3
# How long the tracker waits before it offers the rest of a record that the line did not take.
WRITE_RETRY_S = 0.01

DEFAULT_PAYLOADS = tuple(text.encode("cp1251") for text in (
    "ID=KV718A-0042",
    "APN=internet.mts.ru",
    "SERVER=gps.kestrelon.ru,5050",
    "NAME=Иван Петров",
    "SOS=+79161234567",
    "SMS=Помогите! Я здесь",
    "TZ=+3",
    "INTERVAL=60",
    "ZONE=55.7558,37.6173,500",
    "NOTE=Дача, гараж",
))

FAULTS = {
    "silent": "never answers the query",
    "wrong-first": "the first record is not kind 1 number 0 (it goes as kind 0)",
    "garbled": "record fault_at has '#' where its '*' belongs",
    "broken": "record fault_at goes in two pieces with BREAK_PAUSE_S of silence between",
    "no-cr": "record fault_at ends with '!' and LF, without CR",
    "out-of-order": "records fault_at and fault_at + 1 go in swapped order",
    "no-last": "the last record is not sent",
    "line-510": "setting fault_at is so long that its record has 510 characters before the LF",
    "line-511": "setting fault_at is so long that its record has 511 characters before the LF",
    "stall": "after restore command number fault_at (from 1) the tracker takes no more bytes",
}


def checksum(text):
    """The two hex digits that follow "*": the XOR of every byte of text."""
    value = 0
    for byte in text:
        value ^= byte
    return b"%02X" % value


def record(kind, number, payload):
    text = b"%s,%s,%d,%d,%s" % (RECORD_WORD, IDENTITY, kind, number, payload)
    return text + b"*" + checksum(text) + b"!\r\n"


def padded(kind, number, payload, length):
    """payload with "x" after it, so that its record has `length` characters before the LF."""
    missing = length - (len(record(kind, number, payload)) - 1)
    if missing < 0:
        raise ValueError("the record of %r is longer than %d characters" % (payload, length))
    return payload + b"x" * missing


def numbered_payloads(count):
    """count settings: the default ones, then "P<number>=<number>" for the rest."""
    return tuple(DEFAULT_PAYLOADS[i] if i < len(DEFAULT_PAYLOADS) else b"P%d=%d" % (i, i) for i in range(count))


@dataclasses.dataclass(frozen=True)
class SettingsOptions:
    payloads: tuple = DEFAULT_PAYLOADS
    fault: object = None
    fault_at: int = 1
    fault_once: bool = False

    def __post_init__(self):
        if len(self.payloads) < 2:
            raise ValueError("a dump has at least two records")
        if self.fault is not None and self.fault not in FAULTS:
            raise ValueError("fault %r is none of %s" % (self.fault, ", ".join(FAULTS)))
        last = len(self.payloads) - (2 if self.fault == "out-of-order" else 1)
        if self.fault not in (None, "stall") and not 0 <= self.fault_at <= last:
            raise ValueError("fault %s at record %d: there are records 0 to %d" % (self.fault, self.fault_at, last))


def kind_of(number, count):
    return FIRST if number == 0 else LAST if number == count - 1 else MIDDLE


class Stopped(Exception):
    pass


class SettingsInterpreter:
    """Reads the program's lines in normal mode and answers them. send(bytes) writes to the line
    and returns how many bytes it took; stall() makes the line take no more bytes; log is the
    tracker's EventLog. The settings survive restarts; reset() forgets a half-read line and
    ends a dump under way."""

    def __init__(self, options, send, stall, log):
        self.options = options
        self._send = send
        self._stall = stall
        self._log = log
        self._lock = threading.Lock()
        payloads = list(options.payloads)
        if options.fault in ("line-510", "line-511"):
            at = options.fault_at
            payloads[at] = padded(kind_of(at, len(payloads)), at, payloads[at], int(options.fault[5:]))
        self._payloads = payloads
        self._line = bytearray()
        self._queried = False
        self._dumps = 0
        self._restores = 0
        self._dumper = None
        self._stop = threading.Event()

    def settings(self):
        with self._lock:
            return list(self._payloads)

    def factory_reset(self):
        with self._lock:
            self._payloads = [b"FACTORY%d=0" % number for number in range(len(self._payloads))]
        self._log.add("factory")

    def on_bytes(self, data):
        self._line += data
        while b"\n" in self._line:
            line, _, rest = self._line.partition(b"\n")
            self._line = bytearray(rest)
            self._on_line(bytes(line) + b"\n")

    def reset(self):
        self._line.clear()
        self._queried = False
        self._end_dump()

    def _end_dump(self):
        dumper, self._dumper = self._dumper, None
        if dumper is not None:
            self._stop.set()
            dumper.join()
            self._stop.clear()

    def _on_line(self, line):
        # Bytes the tracker ignored before the command (a "1" meant for the boot loader) are not part of it.
        starts = [i for i in (line.find(SET_WORD + b","), line.find(QUERY_WORD + b",")) if i >= 0]
        line = line[min(starts):] if starts else line
        if line.startswith(OO_TEXT + b"*"):
            self._queried = True
        elif line.startswith(L0_TEXT + b"*") and self._queried:
            self._queried = False
            self._query()
        elif line.startswith(SET_WORD + b"," + IDENTITY + b","):
            self._restore(line)

    def _restore(self, line):
        self._log.add("restore", line)
        self._restores += 1
        fields = line.split(b",", 4)
        payload, star, _ = fields[-1].rpartition(b"*")
        if len(fields) == 5 and star and fields[3].isdigit():
            with self._lock:
                if int(fields[3]) < len(self._payloads):
                    self._payloads[int(fields[3])] = payload
        if self.options.fault == "stall" and self._restores == self.options.fault_at:
            self._stall()

    def _query(self):
        self._end_dump()
        self._dumps += 1
        o = self.options
        fault = o.fault if not o.fault_once or self._dumps == 1 else None
        if fault == "silent":
            self._log.add("query", "silent")
            return
        payloads = self.settings()
        records = [record(kind_of(n, len(payloads)), n, payload) for n, payload in enumerate(payloads)]
        pieces = [[line] for line in records]
        at = o.fault_at
        if fault == "wrong-first":
            pieces[0] = [record(MIDDLE, 0, payloads[0])]
        elif fault == "garbled":
            star = records[at].rindex(b"*")
            pieces[at] = [records[at][:star] + b"#" + records[at][star + 1:]]
        elif fault == "broken":
            half = len(records[at]) // 2
            pieces[at] = [records[at][:half], None, records[at][half:]]
        elif fault == "no-cr":
            pieces[at] = [records[at][:-2] + b"\n"]
        elif fault == "out-of-order":
            pieces[at], pieces[at + 1] = pieces[at + 1], pieces[at]
        elif fault == "no-last":
            pieces.pop()
        self._log.add("query", "a dump of %d records%s" % (len(payloads), ", " + fault if fault else ""))
        self._dumper = threading.Thread(target=self._dump, args=(pieces,), name="settings-dump", daemon=True)
        self._dumper.start()

    def _dump(self, pieces):
        """Writes each piece whole, waiting while the line does not take it (None: a pause)."""
        try:
            for piece in (piece for record_pieces in pieces for piece in record_pieces):
                if piece is None:
                    self._pause(BREAK_PAUSE_S)
                    continue
                while piece:
                    piece = piece[self._send(piece):]
                    if piece:
                        self._pause(WRITE_RETRY_S)
        except (Stopped, OSError, RuntimeError):
            pass  # the tracker restarted or its line went away: the dump ends with it

    def _pause(self, seconds):
        if self._stop.wait(seconds):
            raise Stopped()
