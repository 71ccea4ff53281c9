"""The boot loader's YMODEM receiver: how the tracker takes a firmware image from the program.

Once the boot loader has sent its waiting text, it asks for the file with a start request byte
and takes one file by YMODEM (a batch of one): block 0 with the file's name and size, the data
blocks, EOT, and the empty block 0 that ends the batch. Then the boot loader is back at its menu.

The start request chooses how the blocks are checked and answered:
    C     CRC-16 on every block, each one answered (the tracker's way)
    NAK   an 8-bit sum instead of the CRC, each block answered
    G     CRC-16, streaming: no answer to block 0 or to the data blocks, and any error cancels
    None  never asks: a boot loader that waits for a file it never requests

A bad frame (wrong CRC or sum, wrong complement, a frame cut short) is NAKed once the line has
been quiet for a moment; a repeat of the block just taken is ACKed and dropped, as the sender
did not hear the ACK; any other block out of order cancels with CAN CAN.

ReceiverOptions also holds the faults that a test can ask for (see its fields and FAULTS), and
`paced`: bytes from the program then reach the receiver no faster than a 115200 bit/s line
carries them, as on the tracker's UART; a pseudo-terminal would hand them over all at once.

Every session (one answered "1") ends as an Upload, whether a file came or not. The receiver
logs to the tracker's EventLog:
    upload   the session starts, the header names the file, the file is kept, the session ends
    block    each frame read: its number on the wire, its data length, crc or sum, the verdict
    eot      the sender's end of file, and the answer to it
    fault    a fault that the test asked for is played
"""

import binascii
import collections
import dataclasses
import os
import threading
import time

SOH, STX, EOT, ACK, NAK, CAN = 0x01, 0x02, 0x04, 0x06, 0x15, 0x18
# The waiting text tells the user to press "a" to abort; the boot loader listens for it until
# the first frame starts.
ABORT_KEY = ord("a")
START_BYTES = {"C": b"C", "NAK": bytes([NAK]), "G": b"G", None: None}
MODES = {"C": "crc", "NAK": "checksum", "G": "streaming", None: "crc"}
BLOCK_SIZES = {SOH: 128, STX: 1024}
CANCEL = bytes([CAN, CAN])
NOISE = b"\x00\x55\xff"

# 115200 bit/s with a start and a stop bit around each byte (8N1): 86.8 us a byte.
LINE_BAUD = 115200
BITS_PER_BYTE = 10
BYTE_TIME_S = BITS_PER_BYTE / LINE_BAUD

# A request a second, as the tracker's boot loader does; the program waits up to 30 s for one.
START_INTERVAL_S = 1.0
# Twice the program's 30 s wait, so that the program is the one that gives up first.
GIVE_UP_S = 60.0
# Inside a frame the bytes follow each other at line speed: a second without one means the
# frame was cut short.
BYTE_TIMEOUT_S = 1.0
# After a bad frame the rest of it is still coming; the NAK waits until the line is quiet.
PURGE_QUIET_S = 1.0
# How long the receiver waits for the next frame before it asks again with a NAK.
FRAME_TIMEOUT_S = 10.0
# Bad frames or silences in a row before the receiver cancels.
MAX_ERRORS = 10

# Fault names for the command line: NAME=BLOCK or NAME, and the options they set. A block is
# counted as the sender sends them: 0 is the header, then the data blocks from 1, without the
# wrap of the number on the wire.
FAULTS = {
    "nak-once": "NAK the block once, then take the resend",
    "nak-ten": "NAK the block ten times, then take the resend",
    "nak-always": "NAK the block every time it comes",
    "can-once": "answer the block with one CAN, then take the resend",
    "cancel": "answer the block with CAN CAN",
    "silent-after": "take and answer the block, then never answer again until the tracker restarts",
    "noise": "send noise (00 55 FF) just before the block's ACK",
    "nak-first-eot": "NAK the first EOT",
    "nak-after-header": "send NAK instead of the start request after block 0",
}


@dataclasses.dataclass(frozen=True)
class ReceiverOptions:
    """How the boot loader receives: its start request ("C", "NAK", "G" or None), pacing, where
    it keeps the files, its timing, and the faults it plays. Blocks are counted as in FAULTS."""

    start: object = "C"
    paced: bool = False
    received_dir: object = None  # None: the file is kept in memory only
    first_request_s: float = 0.0  # from the waiting text to the first start request
    start_interval_s: float = START_INTERVAL_S
    give_up_s: float = GIVE_UP_S
    byte_timeout_s: float = BYTE_TIMEOUT_S
    purge_quiet_s: float = PURGE_QUIET_S
    frame_timeout_s: float = FRAME_TIMEOUT_S
    max_errors: int = MAX_ERRORS
    # From the ACK of the EOT to the request for the closing block 0: time for a test to see the
    # program's state at the end of the data.
    closing_request_delay_s: float = 0.0
    # Streaming: whether the empty block 0 that ends the batch gets an ACK.
    ack_streaming_end: bool = True
    nak_block: object = None
    nak_times: object = 1  # None: every time
    can_block: object = None
    cancel_block: object = None
    silent_after: object = None
    noise_block: object = None
    noise: bytes = NOISE
    nak_first_eot: bool = False
    nak_after_header: bool = False

    def __post_init__(self):
        if self.start not in START_BYTES:
            raise ValueError("start request %r is none of C, NAK, G, None" % (self.start,))

    @property
    def mode(self):
        return MODES[self.start]

    def with_fault(self, text):
        """These options with one more fault, given as on the command line: NAME=BLOCK or NAME."""
        name, _, block = text.partition("=")
        if name not in FAULTS:
            raise ValueError("fault %r is none of %s" % (name, ", ".join(FAULTS)))
        flags = {"nak-first-eot": "nak_first_eot", "nak-after-header": "nak_after_header"}
        if name in flags:
            if block:
                raise ValueError("fault %s takes no block" % name)
            return dataclasses.replace(self, **{flags[name]: True})
        if not block.isdigit():
            raise ValueError("fault %s needs a block: %s=N" % (name, name))
        block = int(block)
        if name.startswith("nak-"):
            return dataclasses.replace(self, nak_block=block,
                                       nak_times={"nak-once": 1, "nak-ten": 10, "nak-always": None}[name])
        field = {"can-once": "can_block", "cancel": "cancel_block", "silent-after": "silent_after",
                 "noise": "noise_block"}[name]
        return dataclasses.replace(self, **{field: block})


Frame = collections.namedtuple("Frame", "t number length verdict")


@dataclasses.dataclass
class Upload:
    """One session of the receiver, from the waiting text to its end.

    outcome: "complete" (the empty block 0 came), "empty batch" (it came instead of a file),
    "cancelled" (by the receiver), "sender cancelled", "no file" (no frame before give_up_s),
    "aborted" (the user's "a"), "stopped" (the tracker restarted or went away).
    name, size_field: the header's raw bytes; size: the size as a number (None without one).
    data: the file, cut to size; path: where it was written at EOT (None if it was not).
    blocks: (number on the wire, data length) of each data block taken, in order; frames:
    every frame read, with its verdict. Times are time.monotonic() values.
    """

    mode: str
    started_at: float
    outcome: str = "receiving"
    reason: str = ""
    complete: bool = False
    name: object = None
    size_field: object = None
    size: object = None
    header: object = None
    data: bytes = b""
    path: object = None
    blocks: list = dataclasses.field(default_factory=list)
    frames: list = dataclasses.field(default_factory=list)
    first_frame_at: object = None
    ended_at: object = None


def crc16(data):
    """CRC-16 as YMODEM uses it: polynomial 0x1021, starting at 0, high bit first."""
    return binascii.crc_hqx(data, 0)


def checksum(data):
    return sum(data) & 0xFF


class Stopped(Exception):
    """The tracker restarted or went away: the receiver ends at once, without another word."""


class _End(Exception):
    def __init__(self, outcome, reason):
        super().__init__(reason)
        self.outcome = outcome
        self.reason = reason


class Inbox:
    """Bytes from the program on their way to the receiver.

    Paced (byte_time_s > 0), a byte is there one byte time after the one before it, or after
    its own arrival if the line was idle: a running schedule, so that a late wake-up of the
    receiver does not slow the line down. Once closed it takes no more bytes; once stopped, a
    waiting take() raises Stopped.
    """

    def __init__(self, byte_time_s=0.0, clock=time.monotonic):
        self.byte_time_s = byte_time_s
        self._clock = clock
        # [base, bytes]: byte i of the chunk is there at base + (i + 1) * byte_time_s.
        self._chunks = collections.deque()
        self._free_at = float("-inf")
        self._changed = threading.Condition()
        self._closed = False
        self._stopped = False

    def put(self, data, now=None):
        """Takes bytes that arrived at `now` (default: the clock); False once closed."""
        with self._changed:
            if self._closed:
                return False
            if data:
                now = self._clock() if now is None else now
                base = max(now, self._free_at)
                self._chunks.append([base, bytes(data)])
                self._free_at = base + len(data) * self.byte_time_s
                self._changed.notify_all()
            return True

    def ready(self, now):
        """How many of the waiting bytes are there at `now`."""
        with self._changed:
            count = 0
            for base, data in self._chunks:
                there = len(data) if not self.byte_time_s else max(
                    0, min(len(data), int((now - base) / self.byte_time_s + 1e-6)))
                count += there
                if there < len(data):
                    break
            return count

    def due(self, count):
        """When the first `count` waiting bytes are all there."""
        with self._changed:
            for base, data in self._chunks:
                if count <= len(data):
                    return base + count * self.byte_time_s
                count -= len(data)
            return self._free_at

    def take(self, most, timeout_s):
        """Up to `most` bytes, as soon as they are there. Bytes already on their way are waited
        for however long they take; with none on the way, b"" after timeout_s (None: forever)."""
        with self._changed:
            deadline = None if timeout_s is None else self._clock() + timeout_s
            while not self._chunks:
                if self._stopped:
                    raise Stopped()
                remaining = None if deadline is None else deadline - self._clock()
                if remaining is not None and remaining <= 0:
                    return b""
                self._changed.wait(remaining)
            count = min(most, sum(len(data) for _, data in self._chunks))
            due = self.due(count)
            while True:
                if self._stopped:
                    raise Stopped()
                remaining = due - self._clock()
                if remaining <= 0:
                    break
                self._changed.wait(remaining)
            return self._pop(count)

    def pause(self, seconds):
        """Lets `seconds` go by without taking anything; raises Stopped if stopped meanwhile."""
        with self._changed:
            deadline = self._clock() + seconds
            while not self._stopped:
                remaining = deadline - self._clock()
                if remaining <= 0:
                    return
                self._changed.wait(remaining)
            raise Stopped()

    def _pop(self, count):
        taken = bytearray()
        while count:
            chunk = self._chunks[0]
            piece = chunk[1][:count]
            taken += piece
            count -= len(piece)
            if len(piece) == len(chunk[1]):
                self._chunks.popleft()
            else:
                chunk[0] += len(piece) * self.byte_time_s
                chunk[1] = chunk[1][len(piece):]
        return bytes(taken)

    def close(self):
        with self._changed:
            self._closed = True

    def stop(self):
        with self._changed:
            self._closed = self._stopped = True
            self._changed.notify_all()

    @property
    def closed(self):
        with self._changed:
            return self._closed


# What _read_frame finds on the line.
TIMEOUT, STRAY, SENDER_CANCEL, END_OF_FILE, BAD, GOOD = "timeout", "stray", "cancel", "eot", "bad", "good"
# Where the receiver is in the batch.
WAITING, HEADER, DATA, AFTER_EOT = "waiting", "header", "data", "after eot"


class Receiver:
    """One YMODEM session on its own thread. feed(bytes) hands it what the program wrote (False
    once it has ended: the bytes are the menu's again); send(bytes) writes to the line; log is
    the tracker's EventLog; on_end(upload) is called when it ends, from its thread."""

    def __init__(self, options, send, log, on_end=None, clock=time.monotonic):
        self.options = options
        self._write = send
        self._log = log
        self._on_end = on_end
        self._clock = clock
        self._inbox = Inbox(BYTE_TIME_S if options.paced else 0.0, clock)
        self._pending = bytearray()
        self._streaming = options.start == "G"
        self._check = "sum" if options.start == "NAK" else "crc"
        self._data = bytearray()
        self._refused = collections.Counter()  # block -> NAKs or CANs played on it
        self._noisy = set()
        self._eot_refused = False
        self.upload = Upload(mode=options.mode, started_at=clock())
        self._thread = threading.Thread(target=self._run, name="ymodem-receiver", daemon=True)

    def start(self):
        self._thread.start()
        return self

    def feed(self, data):
        return self._inbox.put(data)

    def stop(self):
        """Ends the session where it is, and returns once its thread is over."""
        self._inbox.stop()
        if self._thread.is_alive() and self._thread is not threading.current_thread():
            self._thread.join()

    def wait(self, timeout_s):
        """Waits for the session to end; whether it did."""
        self._thread.join(timeout_s)
        return not self._thread.is_alive()

    @property
    def active(self):
        return not self._inbox.closed

    # ---- the session ----

    def _run(self):
        upload = self.upload
        try:
            self._session()
        except _End as end:
            upload.outcome, upload.reason = end.outcome, end.reason
        except Stopped:
            upload.outcome, upload.reason = "stopped", "the tracker restarted or went away"
        except BaseException as error:
            upload.outcome, upload.reason = "error", repr(error)
            raise
        finally:
            if upload.ended_at is None:
                upload.ended_at = self._clock()
            upload.data = self._file_data()
            # Logged before the menu can take bytes again, so that the log reads in order.
            self._event("upload", "%s: %s" % (upload.outcome, upload.reason) if upload.reason else upload.outcome)
            self._inbox.close()
            if self._on_end is not None:
                self._on_end(upload)

    def _session(self):
        o = self.options
        start = START_BYTES[o.start]
        self._event("upload", "waiting for a file, %s" % (
            "asking with %s every %g s" % (o.start, o.start_interval_s) if start else "never asking"))
        now = self._clock()
        give_up_at = now + o.give_up_s
        ask_at = now + o.first_request_s
        state = WAITING
        index = 0  # the block the receiver takes next, counted as in FAULTS
        errors = 0
        while True:
            if state == WAITING:
                now = self._clock()
                if now >= give_up_at:
                    raise _End("no file", "no frame came within %g s" % o.give_up_s)
                if now >= ask_at:
                    if start:
                        self._send(start)
                    ask_at = now + o.start_interval_s
                timeout = max(0.0, min(ask_at, give_up_at) - now)
            else:
                timeout = o.frame_timeout_s
            found = self._read_frame(timeout)
            kind = found[0]
            if kind == TIMEOUT:
                if state != WAITING:
                    # Before the first data block, and after EOT, the sender waits for a start request.
                    again = bytes([NAK]) if state == DATA and index > 1 else start
                    errors = self._error(errors, "no frame for %g s" % timeout, again, purge=False)
                continue
            if kind == STRAY:
                if state == WAITING:
                    if found[1] == ABORT_KEY:
                        raise _End("aborted", "the user pressed 'a'")
                    continue
                self._frame_event(None, 0, "stray byte %02x" % found[1])
                errors = self._error(errors, "stray byte %02x" % found[1], bytes([NAK]))
                continue
            if kind == SENDER_CANCEL:
                self._purge()
                raise _End("sender cancelled", "CAN CAN from the sender")
            if kind == BAD:
                _, number, length, verdict = found
                self._frame_event(number, length, verdict)
                if state == WAITING:
                    state = HEADER
                errors = self._error(errors, verdict, bytes([NAK]))
                continue
            if kind == END_OF_FILE:
                if state in (WAITING, HEADER):
                    if state == HEADER:
                        errors = self._error(errors, "EOT before any header", bytes([NAK]))
                    continue
                if state == DATA and o.nak_first_eot and not self._eot_refused:
                    self._eot_refused = True
                    self._fault("NAK for the first EOT")
                    self._log.add("eot", "nak")
                    self._send(bytes([NAK]))
                    continue
                self._log.add("eot", "ack" if state == DATA else "ack again")
                if state == DATA:
                    self._keep_file()
                self._send(bytes([ACK]))
                if start:
                    if state == DATA and o.closing_request_delay_s:
                        self._inbox.pause(o.closing_request_delay_s)
                    self._send(start)
                state = AFTER_EOT
                errors = 0
                continue

            _, number, data = found
            if state in (WAITING, HEADER):
                if number != 0:
                    self._frame_event(number, len(data), "out of order (expected 0)")
                    self._cancel("block %d where block 0 belongs" % number)
                if not data.partition(b"\0")[0]:
                    self.upload.header, self.upload.name, self.upload.size_field = data, b"", b""
                    self._end_of_batch(number, data, "empty batch")
                errors = 0
                if self._new_block(0, number, data, self._take_header):
                    self._after_block(0)
                    if o.nak_after_header:
                        self._fault("NAK instead of the start request after block 0")
                        self._send(bytes([NAK]))
                    elif start:
                        self._send(start)
                    state, index = DATA, 1
                else:
                    state = HEADER
            elif state == DATA:
                if number == index % 256:
                    errors = 0
                    if self._new_block(index, number, data, self._take_data):
                        self._after_block(index)
                        index += 1
                elif number == (index - 1) % 256:
                    self._frame_event(number, len(data), "repeat")
                    if self._streaming:
                        self._cancel("block %d again while streaming" % number)
                    self._send(bytes([ACK]))
                    if index == 1 and start:
                        # Block 0 again: the sender missed the ACK, and waits for the request after it.
                        self._send(start)
                else:
                    self._frame_event(number, len(data), "out of order (expected %d)" % (index % 256))
                    self._cancel("block %d where block %d belongs" % (number, index % 256))
            else:
                if number != 0:
                    self._frame_event(number, len(data), "out of order (expected 0)")
                    self._cancel("block %d after EOT" % number)
                if data.partition(b"\0")[0]:
                    self._frame_event(number, len(data), "a second file")
                    self._cancel("a second file in the batch")
                self._end_of_batch(number, data, "complete")

    def _new_block(self, index, number, data, take):
        """Plays the faults on a block that is next in order, or takes it and ACKs it; whether it
        was taken."""
        o = self.options
        if o.cancel_block == index:
            self._frame_event(number, len(data), "cancelled")
            self._fault("CAN CAN for block %d" % index)
            self._cancel("the fault asked for block %d" % index)
        if o.nak_block == index and (o.nak_times is None or self._refused[index] < o.nak_times):
            self._refused[index] += 1
            self._frame_event(number, len(data), "refused")
            self._fault("NAK %d for block %d" % (self._refused[index], index))
            self._send(bytes([NAK]))
            return False
        if o.can_block == index and not self._refused[index]:
            self._refused[index] += 1
            self._frame_event(number, len(data), "refused")
            self._fault("one CAN for block %d" % index)
            self._send(bytes([CAN]))
            return False
        self._frame_event(number, len(data), "ok")
        take(number, data)
        if o.noise_block == index and index not in self._noisy:
            self._noisy.add(index)
            self._fault("noise before the ACK of block %d" % index)
            self._send(o.noise)
        if not self._streaming:
            self._send(bytes([ACK]))
        return True

    def _after_block(self, index):
        if self.options.silent_after == index:
            self._fault("silent after block %d" % index)
            # Everything the program writes from now on is swallowed, until the tracker restarts.
            while True:
                self._inbox.take(1 << 16, None)

    def _take_header(self, number, data):
        upload = self.upload
        name, _, rest = data.partition(b"\0")
        size_field = rest.partition(b"\0")[0].partition(b" ")[0]
        upload.header, upload.name, upload.size_field = data, name, size_field
        upload.size = int(size_field) if size_field.isdigit() else None
        self._event("upload", "file %s, size field %s" % (ascii(name)[1:], ascii(size_field)[1:]))

    def _take_data(self, number, data):
        self._data += data
        self.upload.blocks.append((number, len(data)))

    def _file_data(self):
        size = self.upload.size
        return bytes(self._data if size is None else self._data[:size])

    def _keep_file(self):
        upload = self.upload
        upload.data = self._file_data()
        short = "" if upload.size is None or len(upload.data) == upload.size else \
            ", %d short of its size" % (upload.size - len(upload.data))
        if self.options.received_dir is not None:
            base = upload.name.replace(b"\\", b"/").rpartition(b"/")[2]
            if base in (b"", b".", b".."):
                base = b"unnamed"
            os.makedirs(self.options.received_dir, exist_ok=True)
            upload.path = os.path.join(self.options.received_dir, os.fsdecode(base))
            with open(upload.path, "wb") as f:
                f.write(upload.data)
        self._event("upload", "%d bytes%s, %s" % (len(upload.data), short, upload.path or "kept in memory"))

    def _end_of_batch(self, number, data, outcome):
        self._frame_event(number, len(data), "end of batch")
        self.upload.complete = True
        if not self._streaming or self.options.ack_streaming_end:
            self._send(bytes([ACK]))
        self.upload.ended_at = self._clock()
        raise _End(outcome, "")

    def _error(self, errors, reason, again, purge=True):
        """A bad frame or a silence: cancels while streaming or after too many in a row, or
        asks again once the line is quiet; returns the errors in a row so far."""
        if self._streaming:
            self._cancel(reason)
        errors += 1
        if errors > self.options.max_errors:
            self._cancel("%d errors in a row, the last: %s" % (errors, reason))
        if purge:
            self._purge()
        if again:
            self._send(again)
        return errors

    def _cancel(self, reason):
        self._send(CANCEL)
        # What the sender still had on its way must not reach the menu as requests.
        self._purge()
        raise _End("cancelled", reason)

    # ---- the line ----

    def _read_frame(self, timeout_s):
        first = self._read(1, timeout_s)
        if not first:
            return (TIMEOUT,)
        start = first[0]
        if start in BLOCK_SIZES:
            if self.upload.first_frame_at is None:
                self.upload.first_frame_at = self._clock()
            length = BLOCK_SIZES[start]
            rest_length = 2 + length + (1 if self._check == "sum" else 2)
            rest = self._read(rest_length, self.options.byte_timeout_s)
            number = rest[0] if rest else None
            if len(rest) < rest_length:
                return (BAD, number, length, "cut short (%d of %d bytes)" % (1 + len(rest), 1 + rest_length))
            if rest[0] + rest[1] != 0xFF:
                return (BAD, number, length, "bad complement %02x" % rest[1])
            data, check = rest[2:2 + length], rest[2 + length:]
            if self._check == "sum":
                if checksum(data) != check[0]:
                    return (BAD, number, length, "bad sum")
            elif crc16(data) != int.from_bytes(check, "big"):
                return (BAD, number, length, "bad crc")
            return (GOOD, number, data)
        if start == EOT:
            return (END_OF_FILE,)
        if start == CAN:
            after = self._read(1, self.options.byte_timeout_s)
            if after == bytes([CAN]):
                return (SENDER_CANCEL,)
            # A lone CAN is line noise; whatever followed it is looked at afresh.
            self._pending[:0] = after
        return (STRAY, start)

    def _read(self, count, timeout_s):
        """Up to `count` bytes, each within timeout_s of the one before; fewer if the line falls
        silent."""
        taken = bytearray(self._pending[:count])
        del self._pending[:count]
        while len(taken) < count:
            more = self._inbox.take(count - len(taken), timeout_s)
            if not more:
                break
            taken += more
        return bytes(taken)

    def _purge(self):
        self._pending.clear()
        while self._inbox.take(1 << 16, self.options.purge_quiet_s):
            pass

    def _send(self, data):
        try:
            self._write(data)
        except (OSError, RuntimeError):
            # The line went away under the receiver: the tracker is restarting or unplugged.
            raise Stopped()

    def _event(self, kind, data):
        self._log.add(kind, data)

    def _fault(self, what):
        self._log.add("fault", what)

    def _frame_event(self, number, length, verdict):
        self.upload.frames.append(Frame(self._clock(), number, length, verdict))
        self._log.add("block", "%s %d %s %s" % ("?" if number is None else number, length, self._check, verdict))
