"""The tracker's boot loader, as the program meets it on the line.

The user starts it by holding the power button while pressing Reset. At its menu it answers the
request byte "1" with its waiting text, which tells how to abort (the program looks for "abort"
in it), and restarts the tracker into normal mode on the byte "2". Requests that arrive
together, or while it is still sending an answer, get one answer: a waiting text is a prompt,
not a count.

After its waiting text it waits for the firmware image (see ymodem): from then on every byte
from the program goes to the receiver, until the transfer ends, fails or times out and the boot
loader is back at its menu. A restart ends the transfer with it.

How it answers is a choice of the test:
    abort    the waiting text, in one write (what the tracker does)
    plain    a waiting text without "abort", and no transfer after it: the boot loader stays at
             its menu and answers every "1" again
    pieces   the waiting text in two writes, cut inside "abort", PIECES_PAUSE_S apart, so that
             the program reads them separately
    silent   no answer at all
"""

REQUEST = b"1"
RESET = b"2"
WAITING_TEXT = b"\r\nWaiting for the file to be sent ... (press 'a' to abort)\r\n"
PLAIN_WAITING_TEXT = b"\r\nWaiting for the file to be sent ...\r\n"
ANSWERS = ("abort", "plain", "pieces", "silent")
# Longer than the program's 100 ms wait before it reads, so each piece is a read of its own.
PIECES_PAUSE_S = 0.25
PIECES_CUT = WAITING_TEXT.index(b"abort") + 2
# The answers after which the boot loader waits for the file.
WAITING_ANSWERS = ("abort", "pieces")


class BootLoader:
    """send(bytes) writes to the line, pause(seconds) waits, restart() resets the tracker;
    start_receiver() starts a transfer and returns its receiver (see ymodem.Receiver: feed and
    stop), or is None for a boot loader that only answers."""

    def __init__(self, answer, send, pause, restart, start_receiver=None):
        self.answer = answer
        self._send = send
        self._pause = pause
        self._restart = restart
        self._start_receiver = start_receiver
        self._receiver = None

    @property
    def answer(self):
        return self._answer

    @answer.setter
    def answer(self, answer):
        if answer not in ANSWERS:
            raise ValueError("answer %r is none of %s" % (answer, ", ".join(ANSWERS)))
        self._answer = answer

    @property
    def receiving(self):
        """Whether a transfer is under way (bytes from the program go to it, not to the menu)."""
        return self._receiver is not None and self._receiver.active

    def on_bytes(self, data):
        if self._receiver is not None:
            # Bytes go either to a transfer that takes them or, once it has ended, to the menu.
            if self._receiver.feed(data):
                return
            self._receiver = None
        # Whatever follows a reset is lost in the restart.
        requests, reset, _ = data.partition(RESET)
        if REQUEST in requests:
            # Read once: a test may change the answer meanwhile, and the transfer must follow
            # only the waiting text that was really sent.
            answer = self._answer
            self._answer_request(answer)
            if not reset and answer in WAITING_ANSWERS and self._start_receiver is not None:
                self._receiver = self._start_receiver()
        if reset:
            self._restart()

    def stop_receiving(self):
        """The tracker restarts or goes away: a transfer under way ends with it, and is over
        when this returns, so that nothing more is written to the line."""
        receiver, self._receiver = self._receiver, None
        if receiver is not None:
            receiver.stop()

    def _answer_request(self, answer):
        if answer == "abort":
            self._send(WAITING_TEXT)
        elif answer == "plain":
            self._send(PLAIN_WAITING_TEXT)
        elif answer == "pieces":
            self._send(WAITING_TEXT[:PIECES_CUT])
            self._pause(PIECES_PAUSE_S)
            self._send(WAITING_TEXT[PIECES_CUT:])
