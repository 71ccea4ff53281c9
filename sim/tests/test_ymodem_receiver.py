"""The simulated tracker's boot loader receiving a firmware image by YMODEM, without Wine.

The frames are built here from the protocol's description, with a CRC of this file's own, so
that the receiver is checked against the protocol and not against itself. Most scenarios feed
the receiver directly and read its answers; the last ones go through the tracker and a real
pseudo-terminal, as the program's bytes do. Time-outs are cut short so that everything runs in
a few seconds.
"""

import os
import queue
import random
import select
import sys
import tempfile
import threading
import time
import unittest
import unittest.mock
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2]))
from sim import ymodem  # noqa: E402
from sim.bootloader import WAITING_TEXT, BootLoader  # noqa: E402
from sim.events import EventLog, describe  # noqa: E402
from sim import tracker as sim_tracker  # noqa: E402
from sim.tracker import BOOT, Tracker  # noqa: E402
from sim.ymodem import Inbox, Receiver, ReceiverOptions  # noqa: E402

SOH, STX, EOT, ACK, NAK, CAN = b"\x01", b"\x02", b"\x04", b"\x06", b"\x15", b"\x18"
CPMEOF = b"\x1a"
BYTE_S = 10 / 115200
# Short enough for quick tests, long enough for a busy machine to keep the bytes of one frame
# together.
FAST = dict(first_request_s=0, start_interval_s=30, byte_timeout_s=0.15, purge_quiet_s=0.05, frame_timeout_s=1.0,
            give_up_s=5)
ANSWER_TIMEOUT_S = 2.0
QUIET_S = 0.1


def _crc_table():
    table = []
    for byte in range(256):
        crc = byte << 8
        for _ in range(8):
            crc = (crc << 1) ^ 0x1021 if crc & 0x8000 else crc << 1
        table.append(crc & 0xFFFF)
    return table


CRC_TABLE = _crc_table()


def crc_xmodem(data):
    crc = 0
    for byte in data:
        crc = ((crc << 8) & 0xFFFF) ^ CRC_TABLE[(crc >> 8) ^ byte]
    return crc


def frame(number, data, check="crc", length=None, complement=None):
    """One block as the sender puts it on the line: data padded to 128 or 1024 bytes."""
    length = length or (128 if len(data) <= 128 else 1024)
    data = data + (b"\0" if number == 0 else CPMEOF) * (length - len(data))
    tail = crc_xmodem(data).to_bytes(2, "big") if check == "crc" else bytes([sum(data) & 0xFF])
    complement = 255 - number % 256 if complement is None else complement
    return (SOH if length == 128 else STX) + bytes([number % 256, complement]) + data + tail


def header(name, size_field, more=b"", check="crc"):
    return frame(0, name + b"\0" + size_field + more, check, 128)


def end_of_batch(check="crc"):
    return frame(0, b"", check, 128)


def pieces(payload, size):
    return [payload[i:i + size] for i in range(0, len(payload), size)]


class Link:
    """The program's end of the line: write(bytes), read(count, timeout_s), and checks of the answers."""

    def expect(self, answer, what=""):
        self.test.assertEqual(answer, self.read(len(answer)), what)

    def expect_quiet(self, seconds=QUIET_S):
        self.test.assertEqual(b"", self.read(1, seconds), "an answer where none belongs")


class Direct(Link):
    """The program's side of a receiver fed directly: what it writes, and the answers."""

    def __init__(self, test, **options):
        self.test = test
        self.log = EventLog()
        self.answers = queue.Queue()
        self.ended = queue.Queue()
        self._buffer = b""
        self.options = ReceiverOptions(**dict(FAST, **options))
        self.receiver = Receiver(self.options, send=self.answers.put, log=self.log, on_end=self.ended.put).start()
        test.addCleanup(self.receiver.stop)

    def write(self, data):
        self.test.assertTrue(self.receiver.feed(data), "the receiver had ended")

    def read(self, count, timeout_s=ANSWER_TIMEOUT_S):
        deadline = time.monotonic() + timeout_s
        while len(self._buffer) < count:
            try:
                self._buffer += self.answers.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                break
        data, self._buffer = self._buffer[:count], self._buffer[count:]
        return data

    def finish(self, timeout_s=ANSWER_TIMEOUT_S):
        try:
            return self.ended.get(timeout=timeout_s)
        except queue.Empty:
            self.test.fail("the receiver did not end")

    def kinds(self, kind):
        return [e.data for e in self.log.events() if e.kind == kind]


def send_file(test, link, name, payload, size_field=None, block_size=1024, check="crc", more=b""):
    """Sends one file as a batch, checking every answer of a receiver that answers each block."""
    start = b"C" if check == "crc" else NAK
    size_field = str(len(payload)).encode() if size_field is None else size_field
    test.assertEqual(start, link.read(1), "the start request")
    link.write(header(name, size_field, more, check))
    test.assertEqual(ACK + start, link.read(2), "block 0")
    for number, data in enumerate(pieces(payload, block_size), 1):
        link.write(frame(number, data, check, block_size))
        test.assertEqual(ACK, link.read(1), "block %d" % number)
    link.write(EOT)
    test.assertEqual(ACK + start, link.read(2), "EOT")
    link.write(end_of_batch(check))
    test.assertEqual(ACK, link.read(1), "end of batch")


def begin(test, link, size=3000, name=b"kv718a.dfu"):
    """The start request and block 0, answered as usual."""
    link.expect(b"C")
    link.write(header(name, str(size).encode()))
    link.expect(ACK + b"C", "block 0")


class WholeFiles(unittest.TestCase):
    def test_the_crc_is_the_one_that_the_protocol_names(self):
        # The catalogue's check value for CRC-16/XMODEM.
        self.assertEqual(0x31C3, crc_xmodem(b"123456789"))
        self.assertEqual(0x31C3, ymodem.crc16(b"123456789"))

    def test_files_of_several_sizes_arrive_whole_and_cut_to_their_size(self):
        for size in (0, 1024, 1500):
            with self.subTest(size=size), tempfile.TemporaryDirectory() as received:
                link = Direct(self, received_dir=received)
                payload = random.Random(size).randbytes(size)
                # A path with folders, and the further fields that a header may carry.
                send_file(self, link, b"fw/new/kv718a.dfu", payload, more=b" 14033402547 100644")
                upload = link.finish()
                self.assertEqual(("complete", True, "crc"), (upload.outcome, upload.complete, upload.mode))
                self.assertEqual((b"fw/new/kv718a.dfu", str(size).encode(), size),
                                 (upload.name, upload.size_field, upload.size))
                self.assertEqual(payload, upload.data)
                self.assertEqual([(n, 1024) for n in range(1, (size + 1023) // 1024 + 1)], upload.blocks)
                self.assertEqual(os.path.join(received, "kv718a.dfu"), upload.path)
                self.assertEqual(payload, Path(upload.path).read_bytes())
                self.assertLessEqual(upload.started_at, upload.first_frame_at)
                self.assertLessEqual(upload.first_frame_at, upload.ended_at)
                self.assertFalse(link.receiver.active)

    def test_short_blocks_and_a_header_without_size(self):
        link = Direct(self)
        payload = bytes(range(256)) * 2 + b"tail"
        send_file(self, link, b"kv.bin", payload, size_field=b"", block_size=128)
        upload = link.finish()
        # Without a size the padding of the last block stays: nothing says where the file ends.
        self.assertEqual((b"", None, None), (upload.size_field, upload.size, upload.path))
        self.assertEqual(payload + CPMEOF * 124, upload.data)
        self.assertEqual([(n, 128) for n in range(1, 6)], upload.blocks)

    def test_block_numbers_wrap_after_255(self):
        for block_size, count in ((128, 300), (1024, 257)):
            with self.subTest(block_size=block_size):
                link = Direct(self)
                payload = random.Random(count).randbytes(block_size * (count - 1) + 77)
                send_file(self, link, b"big.dfu", payload, block_size=block_size)
                upload = link.finish()
                self.assertEqual(payload, upload.data)
                self.assertEqual([n % 256 for n in range(1, count + 1)], [n for n, _ in upload.blocks])

    def test_checksum_mode_when_the_boot_loader_starts_with_nak(self):
        link = Direct(self, start="NAK")
        payload = b"\xff" * 700
        send_file(self, link, b"kv.dfu", payload, check="sum")
        upload = link.finish()
        self.assertEqual(("complete", "checksum", payload), (upload.outcome, upload.mode, upload.data))
        self.assertIn("1 1024 sum ok", link.kinds("block"))

    def test_crc_frames_answering_a_nak_start_are_refused(self):
        link = Direct(self, start="NAK")
        link.expect(NAK)
        link.write(header(b"kv.dfu", b"10"))
        # The extra check byte is taken for the sum, which does not match; the rest is purged.
        link.expect(NAK)
        link.expect_quiet()
        self.assertEqual([], link.receiver.upload.blocks)

    def test_streaming_mode_answers_only_the_start_and_the_end(self):
        for ack_end in (True, False):
            with self.subTest(ack_streaming_end=ack_end):
                link = Direct(self, start="G", ack_streaming_end=ack_end)
                payload = random.Random(5).randbytes(2500)
                link.expect(b"G")
                link.write(header(b"kv.dfu", b"2500"))
                link.expect(b"G", "block 0 is not ACKed, the file is asked for at once")
                for number, data in enumerate(pieces(payload, 1024), 1):
                    link.write(frame(number, data))
                link.expect_quiet()
                link.write(EOT)
                link.expect(ACK + b"G")
                link.write(end_of_batch())
                if ack_end:
                    link.expect(ACK)
                upload = link.finish()
                link.expect_quiet(0.05)
                self.assertEqual(("complete", "streaming", payload), (upload.outcome, upload.mode, upload.data))

    def test_an_empty_batch_ends_at_once(self):
        link = Direct(self)
        link.expect(b"C")
        link.write(end_of_batch())
        link.expect(ACK)
        upload = link.finish()
        self.assertEqual(("empty batch", True, b""), (upload.outcome, upload.complete, upload.name))


class DamagedFrames(unittest.TestCase):
    def damaged_then_good(self, damaged, verdict):
        link = Direct(self)
        begin(self, link)
        good = frame(1, b"A" * 1024)
        link.write(damaged(good))
        link.expect(NAK)
        link.write(good)
        link.expect(ACK)
        self.assertIn(verdict, " / ".join(link.kinds("block")))
        self.assertEqual([(1, 1024)], link.receiver.upload.blocks)

    def test_damaged_frames_are_naked_and_the_resend_taken(self):
        cases = {
            "bad crc": lambda f: f[:-1] + bytes([f[-1] ^ 1]),
            "bad complement": lambda f: f[:2] + b"\x00" + f[3:],
            "cut short": lambda f: f[:600],
            "stray byte": lambda f: b"\x7e",
        }
        for verdict, damage in cases.items():
            with self.subTest(verdict):
                self.damaged_then_good(damage, verdict)

    def test_the_nak_waits_until_the_line_is_quiet(self):
        link = Direct(self, purge_quiet_s=0.3)
        begin(self, link)
        link.write(frame(1, b"B" * 1024)[:-1] + b"\x00")
        time.sleep(0.1)
        last = time.monotonic()
        link.write(b"more of the broken frame")
        link.expect(NAK)
        self.assertGreaterEqual(time.monotonic() - last, 0.3)
        link.expect_quiet()

    def test_a_repeat_is_acked_and_dropped(self):
        link = Direct(self)
        begin(self, link, size=2048)
        for block in (frame(1, b"1" * 1024), frame(1, b"1" * 1024), frame(2, b"2" * 1024)):
            link.write(block)
            link.expect(ACK)
        link.write(EOT)
        link.expect(ACK + b"C")
        self.assertEqual(["1 1024 crc ok", "1 1024 crc repeat", "2 1024 crc ok"], link.kinds("block")[1:])
        link.write(end_of_batch())
        self.assertEqual(b"1" * 1024 + b"2" * 1024, link.finish().data)

    def test_block_0_again_gets_its_ack_and_the_request_again(self):
        link = Direct(self)
        begin(self, link)
        link.write(header(b"kv718a.dfu", b"3000"))
        link.expect(ACK + b"C")

    def test_a_block_out_of_order_cancels(self):
        for expected, sent in ((1, 2), (1, 255), (2, 0)):
            with self.subTest(expected=expected, sent=sent):
                link = Direct(self)
                begin(self, link)
                if expected == 2:
                    link.write(frame(1, b"x"))
                    link.expect(ACK)
                link.write(frame(sent, b"y"))
                link.expect(CAN + CAN)
                upload = link.finish()
                self.assertEqual("cancelled", upload.outcome)
                self.assertFalse(link.receiver.feed(b"1"), "the receiver still took bytes after its end")

    def test_a_data_block_where_block_0_belongs_cancels(self):
        link = Direct(self)
        link.expect(b"C")
        link.write(frame(1, b"no header"))
        link.expect(CAN + CAN)
        self.assertEqual("cancelled", link.finish().outcome)

    def test_too_many_errors_in_a_row_cancel(self):
        link = Direct(self, max_errors=3)
        begin(self, link)
        broken = frame(1, b"z")[:-1] + b"\x00"
        for _ in range(3):
            link.write(broken)
            link.expect(NAK)
        link.write(broken)
        link.expect(CAN + CAN)
        self.assertIn("4 errors in a row", link.finish().reason)

    def test_a_silent_sender_is_asked_again(self):
        link = Direct(self, frame_timeout_s=0.25)
        begin(self, link)
        # Before the first data block the sender waits for a start request, afterwards for a NAK.
        link.expect(b"C", "after a silence following block 0")
        link.write(frame(1, b"q"))
        link.expect(ACK)
        link.expect(NAK, "after a silence following block 1")

    def test_any_error_cancels_a_streaming_transfer(self):
        link = Direct(self, start="G")
        link.expect(b"G")
        link.write(header(b"kv.dfu", b"100"))
        link.expect(b"G")
        link.write(frame(1, b"s")[:-1] + b"\x00")
        link.expect(CAN + CAN)
        self.assertEqual("cancelled", link.finish().outcome)

    def test_the_sender_cancels(self):
        link = Direct(self)
        begin(self, link)
        link.write(CAN + CAN + CAN)
        upload = link.finish()
        self.assertEqual(("sender cancelled", False), (upload.outcome, upload.complete))
        link.expect_quiet(0.05)

    def test_eot_again_after_its_ack_is_answered_again(self):
        link = Direct(self)
        begin(self, link, size=10)
        link.write(frame(1, b"0123456789"))
        link.expect(ACK)
        link.write(EOT)
        link.expect(ACK + b"C")
        link.write(EOT)
        link.expect(ACK + b"C")
        link.write(end_of_batch())
        link.expect(ACK)
        self.assertEqual(b"0123456789", link.finish().data)


class Waiting(unittest.TestCase):
    def test_start_requests_repeat_until_the_first_frame(self):
        link = Direct(self, start_interval_s=0.05)
        link.expect(b"CCC")
        link.write(header(b"kv.dfu", b"1"))
        # Requests that were on their way before the frame, then the answer to it.
        answers = link.read(40, 0.3).lstrip(b"C")
        self.assertEqual(ACK + b"C", answers)

    def test_the_boot_loader_gives_up_and_stops_asking(self):
        link = Direct(self, start_interval_s=0.05, give_up_s=0.3)
        upload = link.finish()
        self.assertEqual(("no file", None), (upload.outcome, upload.first_frame_at))
        requests = link.read(100, 0.1)
        self.assertTrue(3 <= len(requests) <= 7 and set(requests) == {ord("C")}, requests)
        link.expect_quiet()

    def test_stray_bytes_before_the_file_are_ignored_and_a_stops_it(self):
        link = Direct(self)
        link.expect(b"C")
        link.write(b"11\r\n")
        link.expect_quiet()
        self.assertTrue(link.receiver.active)
        link.write(b"a")
        self.assertEqual("aborted", link.finish().outcome)

    def test_a_boot_loader_that_never_asks(self):
        link = Direct(self, start=None, start_interval_s=0.05, give_up_s=0.3)
        link.expect_quiet(0.4)
        self.assertEqual("no file", link.finish().outcome)
        self.assertIn("never asking", link.kinds("upload")[0])


class Faults(unittest.TestCase):
    def test_fault_names_set_their_options(self):
        base = ReceiverOptions()
        self.assertEqual((3, 10), (lambda o: (o.nak_block, o.nak_times))(base.with_fault("nak-ten=3")))
        self.assertEqual((0, None), (lambda o: (o.nak_block, o.nak_times))(base.with_fault("nak-always=0")))
        self.assertEqual(7, base.with_fault("noise=7").noise_block)
        self.assertTrue(base.with_fault("nak-first-eot").nak_first_eot)
        for wrong in ("nak-once", "nak-once=x", "nak-first-eot=2", "drop=1"):
            with self.subTest(wrong), self.assertRaises(ValueError):
                base.with_fault(wrong)

    def test_refusing_a_block_a_number_of_times(self):
        for fault, refusals in (("nak-once=2", 1), ("nak-ten=2", 10)):
            with self.subTest(fault):
                link = Direct(self, **vars_of(ReceiverOptions().with_fault(fault)))
                begin(self, link)
                link.write(frame(1, b"one"))
                link.expect(ACK)
                for _ in range(refusals):
                    link.write(frame(2, b"two"))
                    link.expect(NAK)
                link.write(frame(2, b"two"))
                link.expect(ACK)
                self.assertEqual([(1, 128), (2, 128)], link.receiver.upload.blocks)
                self.assertEqual(refusals, len(link.kinds("fault")))

    def test_refusing_a_block_every_time(self):
        link = Direct(self, nak_block=1, nak_times=None, max_errors=2)
        begin(self, link)
        for _ in range(15):
            link.write(frame(1, b"never"))
            link.expect(NAK)
        # The refusals are the fault's, not errors of the line: the receiver does not give up.
        self.assertTrue(link.receiver.active)

    def test_one_can_then_the_resend_is_taken(self):
        link = Direct(self, can_block=1)
        begin(self, link)
        link.write(frame(1, b"first"))
        link.expect(CAN)
        link.expect_quiet(0.1)
        link.write(frame(1, b"first"))
        link.expect(ACK)
        self.assertEqual([(1, 128)], link.receiver.upload.blocks)

    def test_can_can_cancels(self):
        link = Direct(self, cancel_block=2)
        begin(self, link)
        link.write(frame(1, b"x"))
        link.expect(ACK)
        link.write(frame(2, b"y"))
        link.expect(CAN + CAN)
        self.assertEqual(("cancelled", [(1, 128)]), (link.finish().outcome, link.receiver.upload.blocks))

    def test_silent_after_a_block_until_stopped(self):
        for block in (0, 1):
            with self.subTest(block=block):
                link = Direct(self, silent_after=block)
                link.expect(b"C")
                link.write(header(b"kv.dfu", b"10"))
                if block == 0:
                    # ACKed, and then no request for the file.
                    link.expect(ACK)
                    link.expect_quiet()
                else:
                    link.expect(ACK + b"C")
                    link.write(frame(1, b"x"))
                    link.expect(ACK)
                for more in (frame(2, b"y"), EOT, EOT, b"1"):
                    link.write(more)
                link.expect_quiet()
                self.assertTrue(link.receiver.active)
                link.receiver.stop()
                self.assertEqual("stopped", link.finish().outcome)

    def test_noise_before_an_ack_and_the_resend_is_a_repeat(self):
        noise = b"\x00\x55\xff"
        link = Direct(self, noise_block=0)
        link.expect(b"C")
        link.write(header(b"kv.dfu", b"10"))
        link.expect(noise + ACK + b"C")
        link.write(header(b"kv.dfu", b"10"))
        link.expect(ACK + b"C", "block 0 again")

        link = Direct(self, noise_block=1)
        begin(self, link)
        link.write(frame(1, b"x"))
        link.expect(noise + ACK)
        link.write(frame(1, b"x"))
        link.expect(ACK)
        link.expect_quiet(0.05)
        self.assertEqual(["1 128 crc ok", "1 128 crc repeat"], link.kinds("block")[1:])

    def test_the_first_eot_is_naked(self):
        link = Direct(self, nak_first_eot=True)
        begin(self, link, size=1)
        link.write(frame(1, b"x"))
        link.expect(ACK)
        link.write(EOT)
        link.expect(NAK)
        link.write(EOT)
        link.expect(ACK + b"C")
        self.assertEqual(["nak", "ack"], link.kinds("eot"))

    def test_nak_instead_of_the_request_after_block_0(self):
        link = Direct(self, nak_after_header=True)
        link.expect(b"C")
        link.write(header(b"kv.dfu", b"1"))
        link.expect(ACK + NAK)
        # Taken as a request for block 0 again, or for the file: both go on.
        link.write(header(b"kv.dfu", b"1"))
        link.expect(ACK + b"C")
        link.write(frame(1, b"x"))
        link.expect(ACK)


class CommandLine(unittest.TestCase):
    def test_receiver_options_reach_the_holder_that_present_leaves(self):
        parser = sim_tracker.command_line()
        present = parser.parse_args(["--prefix", "/p", "present", "--receiver-start", "G", "--paced",
                                     "--start-interval", "0.5", "--received-dir", "/r", "--fault", "nak-ten=3",
                                     "--fault", "nak-first-eot"])
        serve = parser.parse_args(["--prefix", "/p", "serve"] + sim_tracker.holder_options(present))
        expected = ReceiverOptions(start="G", paced=True, start_interval_s=0.5, received_dir="/r", nak_block=3,
                                   nak_times=10, nak_first_eot=True)
        self.assertEqual(expected, sim_tracker.receiver_options(present))
        self.assertEqual(expected, sim_tracker.receiver_options(serve))

    def test_defaults_and_wrong_faults(self):
        parser = sim_tracker.command_line()
        options = sim_tracker.receiver_options(parser.parse_args(["--prefix", "/p", "serve",
                                                                  "--receiver-start", "none"]))
        self.assertEqual(ReceiverOptions(start=None, received_dir="/p/kvsim-received"), options)
        with open(os.devnull, "w") as quiet, unittest.mock.patch("sys.stderr", quiet), \
                self.assertRaises(SystemExit):
            parser.parse_args(["--prefix", "/p", "serve", "--fault", "nak-once"])


def vars_of(options):
    """The fields of options that differ from the defaults, to combine them with FAST."""
    default = ReceiverOptions()
    return {k: v for k, v in vars(options).items() if getattr(default, k) != v}


class Pacing(unittest.TestCase):
    def test_the_line_schedule_at_115200_bit_per_second(self):
        now = [100.0]
        inbox = Inbox(ymodem.BYTE_TIME_S, clock=lambda: now[0])
        self.assertAlmostEqual(86.8e-6, ymodem.BYTE_TIME_S, delta=0.1e-6)
        inbox.put(b"\0" * 1029)
        self.assertAlmostEqual(0.0893, inbox.due(1029) - 100.0, delta=0.0001)
        self.assertEqual(0, inbox.ready(100.0))
        self.assertEqual(1, inbox.ready(100.0 + BYTE_S))
        self.assertEqual(1024, inbox.ready(100.0 + 1024.5 * BYTE_S))
        self.assertEqual(1029, inbox.ready(100.2))
        # Bytes that arrive while the line is busy queue behind the others...
        now[0] = 100.01
        inbox.put(b"\1" * 10)
        self.assertAlmostEqual(100.0 + 1039 * BYTE_S, inbox.due(1039), delta=1e-9)
        # ...and after a quiet spell they start from their own arrival.
        inbox = Inbox(ymodem.BYTE_TIME_S, clock=lambda: now[0])
        inbox.put(b"ab", now=5.0)
        inbox.put(b"cd", now=6.0)
        self.assertAlmostEqual(6.0 + 2 * BYTE_S, inbox.due(4), delta=1e-9)
        self.assertEqual(2, inbox.ready(5.5))

    def test_unpaced_bytes_are_there_at_once(self):
        inbox = Inbox(0.0, clock=lambda: 7.0)
        inbox.put(b"\0" * 1029)
        self.assertEqual(1029, inbox.ready(7.0))

    def test_a_paced_receiver_answers_a_1k_frame_after_its_time_on_the_line(self):
        link = Direct(self, paced=True)
        begin(self, link)
        sent = time.monotonic()
        link.write(frame(1, b"p" * 1024))
        link.expect(ACK)
        elapsed = time.monotonic() - sent
        self.assertGreaterEqual(elapsed, 1029 * BYTE_S)
        self.assertLess(elapsed, 1029 * BYTE_S + 0.5)


class Menu(unittest.TestCase):
    """The boot loader's menu around the receiver, with the tracker played by lists."""

    def setUp(self):
        self.sent, self.restarts, self.receivers = [], [], []
        self.log = EventLog()

    def boot_loader(self, answer="abort", **options):
        def start_receiver():
            receiver = Receiver(ReceiverOptions(**dict(FAST, **options)), send=self.sent.append, log=self.log).start()
            self.addCleanup(receiver.stop)
            self.receivers.append(receiver)
            return receiver
        return BootLoader(answer, send=self.sent.append, pause=time.sleep, restart=lambda: self.restarts.append(1),
                          start_receiver=start_receiver)

    def test_while_receiving_the_menu_does_not_answer(self):
        loader = self.boot_loader(give_up_s=0.3)
        loader.on_bytes(b"1")
        self.assertEqual([WAITING_TEXT], self.sent[:1])
        self.assertTrue(loader.receiving)
        loader.on_bytes(b"12")
        self.assertEqual(([], 1, [WAITING_TEXT]), (self.restarts, len(self.receivers),
                                                    [s for s in self.sent if s == WAITING_TEXT]))
        self.assertTrue(self.receivers[0].wait(2))
        self.assertEqual("no file", self.receivers[0].upload.outcome)
        # Back at the menu: a request is answered again and a new transfer starts; "2" restarts.
        loader.on_bytes(b"1")
        self.assertEqual(2, self.sent.count(WAITING_TEXT))
        self.assertEqual(2, len(self.receivers))
        loader.stop_receiving()
        loader.on_bytes(b"2")
        self.assertEqual([1], self.restarts)

    def test_a_stopped_transfer_writes_nothing_more(self):
        loader = self.boot_loader(start_interval_s=0.01)
        loader.on_bytes(b"1")
        time.sleep(0.05)
        loader.stop_receiving()
        written = len(self.sent)
        time.sleep(0.1)
        self.assertEqual(written, len(self.sent))
        self.assertEqual("stopped", self.receivers[0].upload.outcome)
        self.assertFalse(loader.receiving)

    def test_answers_without_the_waiting_text_start_no_transfer(self):
        for answer in ("plain", "silent"):
            with self.subTest(answer):
                loader = self.boot_loader(answer)
                loader.on_bytes(b"1")
                self.assertFalse(loader.receiving)
                self.assertEqual([], self.receivers)
        loader = self.boot_loader()
        loader.on_bytes(b"12")
        self.assertEqual(([], [1]), (self.receivers, self.restarts))


class ProgramSide(Link):
    """The program's end of the tracker's pseudo-terminal, opened as Wine opens the COM port."""

    def __init__(self, test, tracker):
        self.test = test
        self.fd = os.open(tracker.port.pty_path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        test.addCleanup(self.close)

    def write(self, data):
        while data:
            select.select([], [self.fd], [], ANSWER_TIMEOUT_S)
            data = data[os.write(self.fd, data):]

    def read(self, count, timeout_s=ANSWER_TIMEOUT_S):
        data = b""
        deadline = time.monotonic() + timeout_s
        while len(data) < count:
            remaining = deadline - time.monotonic()
            if remaining <= 0 or not select.select([self.fd], [], [], remaining)[0]:
                break
            data += os.read(self.fd, count - len(data))
        return data

    def close(self):
        if self.fd is not None:
            os.close(self.fd)
            self.fd = None


class ThroughTheTracker(unittest.TestCase):
    """The tracker on a real pseudo-terminal; the device list, which only Wine reads, is left out."""

    def plug(self, **receiver):
        prefix = tempfile.TemporaryDirectory()
        self.addCleanup(prefix.cleanup)
        os.mkdir(os.path.join(prefix.name, "dosdevices"))
        tracker = Tracker(prefix.name, 9, mode=BOOT, reset_button_gone_s=0,
                          receiver=ReceiverOptions(**dict(FAST, received_dir=os.path.join(prefix.name, "got"),
                                                          **receiver)))
        tracker.port.list_device = tracker.port.unlist_device = lambda: None
        tracker.plug()
        self.addCleanup(tracker.unplug)
        program = ProgramSide(self, tracker)
        program.write(b"1")
        self.assertEqual(WAITING_TEXT, program.read(len(WAITING_TEXT)))
        return tracker, program

    def test_a_firmware_image_through_the_line(self):
        tracker, program = self.plug()
        payload = random.Random(1).randbytes(5000)
        send_file(self, program, b"kv718a-new.dfu", payload)
        upload = tracker.wait_upload(ANSWER_TIMEOUT_S)
        self.assertIsNotNone(upload)
        self.assertEqual(("complete", payload), (upload.outcome, upload.data))
        self.assertEqual(payload, Path(upload.path).read_bytes())
        self.assertEqual([upload], tracker.uploads())
        self.assertIsNone(tracker.wait_upload(0))
        lines = [describe(e, tracker.log.started_at) for e in tracker.events()]
        for shown in ("block 5 1024 crc ok", "eot ack", "upload complete", "upload file 'kv718a-new.dfu'"):
            self.assertTrue(any(shown in line for line in lines), (shown, lines))
        # Back at the menu.
        program.write(b"1")
        self.assertEqual(WAITING_TEXT, program.read(len(WAITING_TEXT)))

    def test_a_restart_ends_the_transfer(self):
        tracker, program = self.plug(start_interval_s=0.02)
        self.assertEqual(b"C", program.read(1))
        tracker.press_reset(hold_power=True)
        # The new mode is logged once the restart has stopped the transfer.
        restarted = [e for e in tracker.events() if e.kind == "mode"][-1]
        self.assertEqual("stopped", tracker.wait_upload(ANSWER_TIMEOUT_S).outcome)
        time.sleep(0.1)
        self.assertEqual([], [e for e in tracker.events() if e.kind == "tx" and e.t > restarted.t])

    def test_a_paced_frame_takes_its_time_on_the_line(self):
        tracker, program = self.plug(paced=True)
        begin(self, program)
        before = time.monotonic()
        program.write(frame(1, b"t" * 1024))
        self.assertEqual(ACK, program.read(1))
        # The frame may come off the pseudo-terminal in more than one read: its time on the
        # line starts with the first.
        arrived = next(e.t for e in tracker.events() if e.kind == "rx" and e.t > before)
        answered = [e for e in tracker.events() if e.kind == "tx"][-1].t
        self.assertGreaterEqual(answered - arrived, 1029 * BYTE_S)
        self.assertLess(answered - arrived, 1029 * BYTE_S + 0.5)


if __name__ == "__main__":
    unittest.main()
