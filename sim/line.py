"""The tracker's end of its USB serial line: the master side of the pseudo-terminal that Wine
opens as the COM port.

When the program opens and closes the port, Wine opens and closes the slave side. A program
that closes and reopens the port at once leaves the slave closed for well under a millisecond,
too short for any look at the master's hang-up state, so opens and closes are counted as the
kernel reports them through inotify on the slave's device node: each one, in order. The line
settings that the program makes through the slave belong to the pseudo-terminal, so most of
them can be read here too (see Line.settings).
"""

import collections
import ctypes
import fcntl
import os
import select
import struct
import termios
import threading

# How long the reader waits for bytes or opens before it looks at its stop flag again.
POLL_MS = 20
READ_SIZE = 4096

IN_CLOSE_WRITE = 0x08
IN_CLOSE_NOWRITE = 0x10
IN_OPEN = 0x20
INOTIFY_EVENT = struct.Struct("iIII")  # watch, mask, cookie, length of the name that follows
_libc = ctypes.CDLL(None, use_errno=True)

BAUD_RATES = {getattr(termios, name): int(name[1:]) for name in dir(termios)
              if name[0] == "B" and name[1:].isdigit()}

LineSettings = collections.namedtuple("LineSettings", "baud stop_bits rtscts ixon ixoff")


class OpenWatch:
    """The opens and closes of a device node, by anyone, as the kernel reports them."""

    def __init__(self, path):
        self.fd = _libc.inotify_init1(os.O_NONBLOCK | os.O_CLOEXEC)
        if self.fd < 0:
            raise OSError(ctypes.get_errno(), "inotify_init1 failed")
        if _libc.inotify_add_watch(self.fd, os.fsencode(path), IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0:
            error = ctypes.get_errno()
            os.close(self.fd)
            raise OSError(error, "cannot watch %s" % path)

    def changes(self):
        """+1 for each open and -1 for each close since the last call, in the order they happened."""
        changes = []
        while True:
            try:
                buffer = os.read(self.fd, READ_SIZE)
            except BlockingIOError:
                return changes
            offset = 0
            while offset < len(buffer):
                _, mask, _, name_length = INOTIFY_EVENT.unpack_from(buffer, offset)
                offset += INOTIFY_EVENT.size + name_length
                if mask & IN_OPEN:
                    changes.append(1)
                elif mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE):
                    changes.append(-1)

    def close(self):
        os.close(self.fd)


class Line:
    """Reads everything the program writes, logging rx and the program's opens and closes in
    `log`, and hands the bytes to deliver(bytes). Writes the tracker's answers, logging tx."""

    def __init__(self, master_fd, pty_path, log, deliver):
        self._fd = master_fd
        # A line that the program does not read must never stop the tracker.
        os.set_blocking(master_fd, False)
        self._pty_path = pty_path
        self._log = log
        self._deliver = deliver
        # Watching from now on, so that no open of the port can come before the watch.
        self._watch = OpenWatch(pty_path)
        self._stop = threading.Event()
        self._reader = threading.Thread(target=self._read, name="line-" + pty_path, daemon=True)
        self._write_lock = threading.Lock()
        self._closed = False
        # The tracker's own opens of the slave (to hold it, to stall it) are not the program's:
        # the lock keeps them and the reader's count of opens in step.
        self._own_lock = threading.Lock()
        self._own_fds = {}

    def start(self):
        self._reader.start()
        return self

    def stop(self):
        """Stops reading and writing, and lets go of the port if it was held or stalled; the
        pseudo-terminal itself stays open for its owner to close."""
        self._stop.set()
        self._reader.join()
        self._watch.close()
        with self._write_lock:
            self._closed = True
        self.hold_exclusively(False)
        self.stall(False)

    def write(self, data):
        """Bytes written while the program has the port closed wait in the pseudo-terminal and
        are read after its next open. What does not fit while the program reads nothing is
        lost, as a tracker cannot send faster than its host takes; tx shows what went out.
        Returns how many bytes went out."""
        with self._write_lock:
            if self._closed:
                raise OSError("the tracker's line is gone")
            try:
                written = os.write(self._fd, data)
            except BlockingIOError:
                written = 0
            if written:
                self._log.add("tx", bytes(data[:written]))
            return written

    def settings(self):
        """The line settings that the program last made on the port. Data bits and parity are
        not among them: Linux keeps every pseudo-terminal at 8 data bits without parity,
        whatever the program sets, so they cannot be seen here."""
        iflag, _, cflag, _, _, ospeed, _ = termios.tcgetattr(self._fd)
        return LineSettings(baud=BAUD_RATES.get(ospeed, ospeed), stop_bits=2 if cflag & termios.CSTOPB else 1,
                            rtscts=bool(cflag & termios.CRTSCTS), ixon=bool(iflag & termios.IXON),
                            ixoff=bool(iflag & termios.IXOFF))

    def hold_exclusively(self, hold):
        """Plays another program that has the port open exclusively (TIOCEXCL on the slave): an
        open by a process without CAP_SYS_ADMIN then fails with EBUSY."""
        self._own_open("hold", "release", hold, lambda fd: fcntl.ioctl(fd, termios.TIOCEXCL),
                       lambda fd: fcntl.ioctl(fd, termios.TIOCNXCL))

    def stall(self, stalled):
        """A tracker that takes no bytes off the line: the program's output is stopped, so its
        writes time out with nothing written. Opens and closes are still seen."""
        self._own_open("stall", "flow", stalled, lambda fd: termios.tcflow(fd, termios.TCOOFF),
                       lambda fd: termios.tcflow(fd, termios.TCOON))

    def _own_open(self, start_kind, end_kind, on, start, end):
        with self._own_lock:
            fd = self._own_fds.get(start_kind)
            if on and fd is None:
                fd = os.open(self._pty_path, os.O_RDWR | os.O_NOCTTY)
                start(fd)
                self._own_fds[start_kind] = fd
                self._log.add(start_kind)
            elif not on and fd is not None:
                end(fd)
                os.close(self._own_fds.pop(start_kind))
                self._log.add(end_kind)

    def _read(self):
        poller = select.poll()
        poller.register(self._watch.fd, select.POLLIN)
        slave_opens = 0  # the tracker's own included
        program_open = False
        polling_master = False
        while not self._stop.is_set():
            poller.poll(POLL_MS)
            moves = []
            with self._own_lock:
                for change in self._watch.changes():
                    slave_opens += change
                    if (slave_opens - len(self._own_fds) > 0) != program_open:
                        program_open = not program_open
                        moves.append("open" if program_open else "close")
            self._log_in_order(moves, self._read_waiting())
            # While no one has the slave open, the master reports a hang-up at once: leave it out.
            if (slave_opens > 0) != polling_master:
                polling_master = slave_opens > 0
                if polling_master:
                    poller.register(self._fd, select.POLLIN)
                else:
                    poller.unregister(self._fd)

    def _read_waiting(self):
        data = b""
        check = select.poll()
        check.register(self._fd, select.POLLIN)
        while True:
            ready = check.poll(0)
            if not (ready and ready[0][1] & select.POLLIN):
                return data
            try:
                data += os.read(self._fd, READ_SIZE)
            except OSError:
                # EIO: the port was closed and nothing is left to read.
                return data

    def _log_in_order(self, moves, data):
        """Bytes read together with opens and closes were written while the port was last open:
        before the last move if it was a close, after the last move if it was an open."""
        ends_closed = bool(moves) and moves[-1] == "close"
        for move in moves[:-1] if ends_closed else moves:
            self._log.add(move)
        if data:
            self._log.add("rx", data)
            self._deliver(data)
        if ends_closed:
            self._log.add("close")
