"""The tracker's boot loader, as the program meets it on the line.

The user starts it by holding the power button while pressing Reset. At its menu it answers the
request byte "1" with its waiting text, which tells how to abort (the program looks for "abort"
in it), and restarts the tracker into normal mode on the byte "2". Requests that arrive
together, or while it is still sending an answer, get one answer: a waiting text is a prompt,
not a count.

After its waiting text it waits for the firmware image (see ymodem): from then on every byte
from the program goes to the receiver, until the transfer ends, fails or times out and the boot
loader is back at its menu. A restart ends the transfer with it.
"""

REQUEST = b"1"
RESET = b"2"
WAITING_TEXT = b"\r\nWaiting for the file to be sent ... (press 'a' to abort)\r\n"


class BootLoader:
    """send(bytes) writes to the line, restart() resets the tracker; start_receiver() starts a
    transfer and returns its receiver (see ymodem.Receiver: feed and stop)."""

    def __init__(self, send, restart, start_receiver):
        self._send = send
        self._restart = restart
        self._start_receiver = start_receiver
        self._receiver = None

    def on_bytes(self, data):
        if self._receiver is not None:
            # Bytes go either to a transfer that takes them or, once it has ended, to the menu.
            if self._receiver.feed(data):
                return
            self._receiver = None
        # Whatever follows a reset is lost in the restart.
        requests, reset, _ = data.partition(RESET)
        if REQUEST in requests:
            self._send(WAITING_TEXT)
            if not reset:
                self._receiver = self._start_receiver()
        if reset:
            self._restart()

    def stop_receiving(self):
        """The tracker restarts or goes away: a transfer under way ends with it, and is over
        when this returns, so that nothing more is written to the line."""
        receiver, self._receiver = self._receiver, None
        if receiver is not None:
            receiver.stop()
