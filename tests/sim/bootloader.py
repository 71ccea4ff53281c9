"""The tracker's boot loader, as the program meets it on the line.

The user starts it by holding the power button while pressing Reset. It answers the request
byte "1" with its waiting text, which tells how to abort (the program looks for "abort" in it),
and restarts the tracker into normal mode on the byte "2". Requests that arrive together, or
while it is still sending an answer, get one answer: a waiting text is a prompt, not a count.

How it answers is a choice of the test:
    abort    the waiting text, in one write (what the tracker does)
    plain    a waiting text without "abort"
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


class BootLoader:
    """send(bytes) writes to the line, pause(seconds) waits, restart() resets the tracker."""

    def __init__(self, answer, send, pause, restart):
        self.answer = answer
        self._send = send
        self._pause = pause
        self._restart = restart

    @property
    def answer(self):
        return self._answer

    @answer.setter
    def answer(self, answer):
        if answer not in ANSWERS:
            raise ValueError("answer %r is none of %s" % (answer, ", ".join(ANSWERS)))
        self._answer = answer

    def on_bytes(self, data):
        # Whatever follows a reset is lost in the restart.
        requests, reset, _ = data.partition(RESET)
        if REQUEST in requests:
            self._answer_request()
        if reset:
            self._restart()

    def _answer_request(self):
        if self._answer == "abort":
            self._send(WAITING_TEXT)
        elif self._answer == "plain":
            self._send(PLAIN_WAITING_TEXT)
        elif self._answer == "pieces":
            self._send(WAITING_TEXT[:PIECES_CUT])
            self._pause(PIECES_PAUSE_S)
            self._send(WAITING_TEXT[PIECES_CUT:])
