"""The boot loader's YMODEM receiver: how the tracker takes a firmware image from the program.

Once the boot loader has sent its waiting text, it asks for the file with 'C' every second until
the program's first frame starts. From then on the transfer belongs to lrzsz's rb, a YMODEM
receiver written by others, so that our sender is judged by a peer that does not share our
reading of the protocol. rb runs on pipes, not on the pseudo-terminal (there it would flush its
last answer away as it exits), behind a bridge that:

  * holds the program's bytes until rb has asked for the file itself: rb throws away whatever
    waits on its input when it starts, and its own first 'C' stays here, as the program has
    already answered ours;
  * delivers them at 115200 bit/s, 10 bits a byte, when `paced`, as the tracker's UART does
    (a pseudo-terminal hands them over all at once);
  * follows the frames and rb's answers for the upload record: block 0's name and size as rb
    accepted them, each answered frame, the answer to EOT;
  * plays the faults rb has no option for: never asking, and CAN CAN for a chosen block.

rb writes into a fresh folder per transfer (it refuses to overwrite and then aborts), and keeps
the folders of a name like c:/users/.../fw.dfu; the record's data is the one file it wrote.

Every session (one answered "1") ends as an Upload, whether a file came or not. It logs:
    upload   the session starts, rb starts, the session ends
    block    each frame that rb answered: "NUMBER LENGTH ANSWER" ("1 1024 ack"); the upload
             record's frames keep its times on the line and that of rb's answer going out
    eot      the program's end of file and rb's answer ("ack", "nak")
    fault    a fault that the test asked for is played
"""

import dataclasses
import os
import shutil
import subprocess
import tempfile
import threading
import time

SOH, STX, EOT, ACK, NAK, CAN = 0x01, 0x02, 0x04, 0x06, 0x15, 0x18
FRAME_LENGTHS = {SOH: 3 + 128 + 2, STX: 3 + 1024 + 2}
ANSWERS = {ACK: "ack", NAK: "nak", CAN: "can", ord("C"): "C"}
CANCEL = bytes([CAN, CAN])
RB_COMMAND = ("rb", "--ymodem", "--binary")

# 115200 bit/s with a start and a stop bit around each byte (8N1): 86.8 us a byte.
BYTE_TIME_S = 10 / 115200
# A request a second, as the tracker's boot loader does; the program waits up to 30 s for one.
START_INTERVAL_S = 1.0
# Twice the program's 30 s wait, so that the program is the one that gives up first.
GIVE_UP_S = 60.0
# After a cancel the rest of the program's frame is still coming: it must not reach the menu.
PURGE_QUIET_S = 1.0
# How often a held request looks whether the session has been stopped meanwhile.
HOLD_POLL_S = 0.05


@dataclasses.dataclass(frozen=True)
class ReceiverOptions:
    """How the boot loader receives. start: "C", or None for a boot loader that never asks;
    paced: at 115200 bit/s; cancel_block: the block answered with CAN CAN (0 is the header, then the data blocks by
    their number); received_dir: where rb's folders stay (None: removed after the transfer);
    hold_closing_request: None, or a threading.Event that the request for the closing block 0
    waits for after the ACK of EOT: the program stays at the end of the data until a test has
    seen it there and sets the event."""

    start: object = "C"
    paced: bool = False
    received_dir: object = None
    cancel_block: object = None
    hold_closing_request: object = None

    def __post_init__(self):
        if self.start not in ("C", None):
            raise ValueError("start request %r is neither C nor None" % (self.start,))


# t: when rb's answer came; first_byte_at: when the frame's first byte began on the line (paced)
# or reached the tracker (unpaced); last_byte_at: when its last byte had reached the tracker;
# answer_sent_at: when the tracker began to write rb's answer to the program.
Frame = dataclasses.make_dataclass("Frame", ["t", "number", "length", "verdict",
                                             ("first_byte_at", object, dataclasses.field(default=None)),
                                             ("last_byte_at", object, dataclasses.field(default=None)),
                                             ("answer_sent_at", object, dataclasses.field(default=None))])


@dataclasses.dataclass
class Upload:
    """One session, from the waiting text to its end.

    outcome: "complete" (rb took the file and the batch ended), "empty batch" (it ended without
    a file), "failed" (rb gave up; reason: its last words), "cancelled" (the fault), "no file"
    (no frame within GIVE_UP_S), "stopped" (the tracker restarted or went away), "error" (a
    fault of the simulator itself, e.g. no rb).
    name, size_field: block 0's raw name and size as rb accepted them; size: the size as a
    number. data: the file rb wrote; path: where it stays (None once removed). frames: each
    frame rb answered, with the time of the answer and "ack", "nak", "can" or "C" as verdict, and
    when the frame was on the line and when the answer went out (see Frame).
    Times are time.monotonic() values; first_frame_at is None if no frame ever started.
    """

    started_at: float
    outcome: str = "receiving"
    reason: str = ""
    name: object = None
    size_field: object = None
    size: object = None
    header: object = None
    data: bytes = b""
    path: object = None
    frames: list = dataclasses.field(default_factory=list)
    first_frame_at: object = None
    ended_at: object = None


class Stopped(Exception):
    """The tracker restarted or went away: the session ends at once, without another word."""


class _End(Exception):
    def __init__(self, outcome, reason=""):
        super().__init__(reason)
        self.outcome, self.reason = outcome, reason


class Frames:
    """Cuts the bytes on their way to rb into frames and pairs each with rb's answer, so that
    block 0 is read only as rb accepted it. A frame cut short is dropped at rb's next answer."""

    def __init__(self, upload, log):
        self._upload = upload
        self._log = log
        self._partial = bytearray()
        self._partial_from = None  # when the partial frame's first byte began on the line
        self._waiting = None  # the whole frame (or b"\x04" for EOT) that rb has yet to answer
        self._waiting_on_line = (None, None)  # its first byte's start and its last byte's arrival
        self.eot_acked = False

    def complete_in(self, data, line_from=None, byte_time=0.0):
        """The frames that these bytes complete, in order. line_from: when the first of them began
        on the line; each takes byte_time there (0 unpaced: all came at once)."""
        done = []
        for index, byte in enumerate(data):
            if self._partial:
                self._partial.append(byte)
            elif byte in FRAME_LENGTHS:
                self._partial = bytearray([byte])
                self._partial_from = None if line_from is None else line_from + index * byte_time
            elif byte == EOT:
                self._waiting = bytes([EOT])
            if self._partial and len(self._partial) == FRAME_LENGTHS[self._partial[0]]:
                self._waiting = bytes(self._partial)
                self._waiting_on_line = (self._partial_from,
                                         None if line_from is None else line_from + (index + 1) * byte_time)
                done.append(self._waiting)
                self._partial = bytearray()
        return done

    def answered(self, data):
        """Pairs rb's answer with the frame it answers; returns the upload record's Frame, if any."""
        self._partial = bytearray()
        waiting, self._waiting = self._waiting, None
        if waiting is None or not data:
            return None
        verdict = ANSWERS.get(data[0], "%02x" % data[0])
        if waiting == bytes([EOT]):
            self.eot_acked = verdict == "ack"
            self._log.add("eot", verdict)
            return None
        number, payload = waiting[1], waiting[3:-2]
        frame = Frame(time.monotonic(), number, len(payload), verdict, *self._waiting_on_line)
        self._upload.frames.append(frame)
        self._log.add("block", "%d %d %s" % (number, len(payload), verdict))
        if number == 0 and verdict == "ack" and self._upload.header is None:
            upload = self._upload
            name, _, rest = payload.partition(b"\0")
            upload.header, upload.name = payload, name
            upload.size_field = rest.partition(b"\0")[0].partition(b" ")[0]
            upload.size = int(upload.size_field) if upload.size_field.isdigit() else None
        return frame


class Receiver:
    """One session on its own thread. feed(bytes) hands it what the program wrote (False once
    it has ended: the bytes are the menu's again); send(bytes) writes to the line; log is the
    tracker's EventLog; on_end(upload) is called from its thread when it ends."""

    def __init__(self, options, send, log, on_end=None):
        self.options = options
        self._write = send
        self._log = log
        self._on_end = on_end
        self.upload = Upload(started_at=time.monotonic())
        self._frames = Frames(self.upload, log)
        self._changed = threading.Condition()
        self._chunks = []  # [time due at rb, bytes, when their first began on the line], in order
        self._free_at = 0.0
        self._closed = self._stopped = False
        self._rb = None
        self._rb_asked = self._rb_done = False
        self._thread = threading.Thread(target=self._run, name="ymodem-receiver", daemon=True)

    def start(self):
        self._thread.start()
        return self

    @property
    def active(self):
        with self._changed:
            return not self._closed

    def feed(self, data):
        now = time.monotonic()
        with self._changed:
            if self._closed:
                return False
            if self.upload.first_frame_at is None:
                # Before the first frame only stray requests come: they are not the file's.
                starts = [i for i, byte in enumerate(data) if byte in FRAME_LENGTHS]
                if not starts:
                    return True
                data = data[starts[0]:]
                self.upload.first_frame_at = now
            line_from = max(now, self._free_at)
            due = line_from + (len(data) * BYTE_TIME_S if self.options.paced else 0)
            self._free_at = due
            self._chunks.append([due, bytes(data), line_from])
            self._changed.notify_all()
            return True

    def stop(self):
        """Ends the session where it is, and returns once it is over."""
        with self._changed:
            self._stopped = True
            self._changed.notify_all()
        if self._thread.is_alive() and self._thread is not threading.current_thread():
            self._thread.join()

    # ---- the session ----

    def _run(self):
        upload = self.upload
        folder = None
        try:
            self._wait_for_first_frame()
            folder = tempfile.mkdtemp(prefix="rb-", dir=self._received_dir())
            self._receive(folder)
        except _End as end:
            upload.outcome, upload.reason = end.outcome, end.reason
        except Stopped:
            upload.outcome, upload.reason = "stopped", "the tracker restarted or went away"
        except BaseException as error:
            upload.outcome, upload.reason = "error", repr(error)
            raise
        finally:
            if folder is not None:
                self._take_file(folder)
            upload.ended_at = time.monotonic()
            if upload.outcome in ("cancelled", "failed"):
                self._purge()
            # Logged before the menu can take bytes again, so that the log reads in order.
            self._log.add("upload", "%s: %s" % (upload.outcome, upload.reason) if upload.reason else upload.outcome)
            with self._changed:
                self._closed = True
            if self._on_end is not None:
                self._on_end(upload)

    def _received_dir(self):
        if self.options.received_dir is None:
            return None
        os.makedirs(self.options.received_dir, exist_ok=True)
        return self.options.received_dir

    def _wait_for_first_frame(self):
        asks = self.options.start is not None
        self._log.add("upload", "waiting for a file, " + ("asking with C every %g s" % START_INTERVAL_S
                                                          if asks else "never asking"))
        give_up_at = time.monotonic() + GIVE_UP_S
        ask_at = time.monotonic()
        while True:
            with self._changed:
                while True:
                    if self._stopped:
                        raise Stopped()
                    if self._chunks:
                        return
                    now = time.monotonic()
                    if now >= give_up_at:
                        raise _End("no file", "no frame came within %g s" % GIVE_UP_S)
                    if asks and now >= ask_at:
                        break
                    self._changed.wait((min(give_up_at, ask_at) if asks else give_up_at) - now)
            self._send(b"C")
            ask_at += START_INTERVAL_S

    def _receive(self, folder):
        with tempfile.TemporaryFile() as errors:
            self._rb = subprocess.Popen(RB_COMMAND, cwd=folder, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=errors)
            self._log.add("upload", "rb takes the file in %s" % folder)
            answers = threading.Thread(target=self._pass_answers, args=(self._rb.stdout,), name="rb-answers",
                                       daemon=True)
            answers.start()
            try:
                self._pass_frames(self._rb.stdin)
            finally:
                self._end_rb()
                answers.join()
                self._rb.stdout.close()
            if self._rb.returncode != 0:
                errors.seek(0)
                words = [w.strip() for w in errors.read().decode(errors="replace").replace("\r", "\n").split("\n")]
                raise _End("failed", "rb ended with %d: %s" % (self._rb.returncode, " / ".join(filter(None, words))))

    def _pass_frames(self, rb_input):
        """Program to rb: each chunk once it is due on the line and rb has asked."""
        cancel = self.options.cancel_block
        while True:
            with self._changed:
                while True:
                    if self._stopped:
                        raise Stopped()
                    if self._rb_done:
                        return
                    now = time.monotonic()
                    if self._rb_asked and self._chunks and self._chunks[0][0] <= now:
                        _, data, line_from = self._chunks.pop(0)
                        break
                    self._changed.wait(self._chunks[0][0] - now if self._rb_asked and self._chunks else None)
            byte_time = BYTE_TIME_S if self.options.paced else 0.0
            for frame in self._frames.complete_in(data, line_from, byte_time):
                if cancel is not None and frame[1] == cancel % 256 and (self.upload.header is None) == (cancel == 0):
                    self._log.add("fault", "CAN CAN for block %d" % cancel)
                    self._end_rb()
                    self._send(CANCEL)
                    raise _End("cancelled", "the fault asked for block %d" % cancel)
            try:
                rb_input.write(data)
                rb_input.flush()
            except BrokenPipeError:
                pass  # rb has ended; what it answered last tells the rest

    def _pass_answers(self, rb_output):
        """rb to program. Its first 'C' stays here: the program has answered ours already."""
        try:
            first = True
            while True:
                data = os.read(rb_output.fileno(), 4096)
                if not data:
                    return
                if first:
                    first, data = False, data[1:]
                    with self._changed:
                        self._rb_asked = True
                        self._changed.notify_all()
                eot_acked = self._frames.eot_acked
                frame = self._frames.answered(data) if data else None
                if frame is not None:
                    frame.answer_sent_at = time.monotonic()
                hold = self.options.hold_closing_request
                if hold is not None and not eot_acked and self._frames.eot_acked:
                    # The ACK of EOT goes at once, the request for the closing block 0 once let go.
                    self._send(data[:1])
                    data = data[1:]
                    if self._held_until(hold):
                        return
                if data:
                    self._send(data)
        except Stopped:
            pass  # the line has gone: the session ends with the tracker
        finally:
            with self._changed:
                self._rb_done = True
                self._changed.notify_all()

    def _held_until(self, event):
        """Waits until the event is set; whether the session was stopped before."""
        while not event.wait(HOLD_POLL_S):
            with self._changed:
                if self._stopped:
                    return True
        return False

    def _end_rb(self):
        """Ends rb if it still runs; the pipes close with it."""
        if self._rb is not None and self._rb.poll() is None:
            self._rb.kill()
        if self._rb is not None:
            self._rb.wait()
            try:
                self._rb.stdin.close()
            except BrokenPipeError:
                pass  # what was left for it is of no use now

    def _take_file(self, folder):
        upload = self.upload
        files = [os.path.join(top, name) for top, _, names in os.walk(folder) for name in names]
        if len(files) == 1:
            with open(files[0], "rb") as f:
                upload.data = f.read()
            upload.path = files[0]
        if upload.outcome == "receiving":
            upload.outcome = "complete" if files else "empty batch"
        if self.options.received_dir is None:
            shutil.rmtree(folder, ignore_errors=True)
            upload.path = None

    def _purge(self):
        """Swallows what the program still sends until the line has been quiet for a moment."""
        while True:
            with self._changed:
                self._chunks.clear()
                if self._stopped or not self._changed.wait_for(lambda: self._chunks or self._stopped, PURGE_QUIET_S):
                    return

    def _send(self, data):
        try:
            self._write(data)
        except (OSError, RuntimeError):
            # The line went away under the receiver: the tracker is restarting or unplugged.
            raise Stopped()
