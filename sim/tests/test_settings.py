"""The settings interpreter on its own: the records of a dump and each fault it plays, and the
set commands it takes."""

import threading
import time
import unittest

from sim.events import EventLog
from sim.settings import BREAK_PAUSE_S, SettingsInterpreter, SettingsOptions, checksum

PAYLOADS = (b"A=1", b"B=x,y", "Имя=Ёж".encode("cp1251"), b"D=4")
PAIR = b"GSS,KestrelonKV-718,3,0,OO=20*26!\r\nGSC,KestrelonKV-718,L0*76!\r\n"
WAIT_S = 30


def record(kind, number, payload):
    text = b"GSs,KestrelonKV-718,%d,%d,%s" % (kind, number, payload)
    return text + b"*" + checksum(text) + b"!\r\n"


DUMP = [record(1, 0, PAYLOADS[0]), record(0, 1, PAYLOADS[1]), record(0, 2, PAYLOADS[2]), record(2, 3, PAYLOADS[3])]


class Interpreter(unittest.TestCase):
    def start(self, **options):
        self.sent, self.stalls, self.changed = [], 0, threading.Condition()
        self.log = EventLog()
        self.interpreter = SettingsInterpreter(SettingsOptions(PAYLOADS, **options), self.send, self.stall, self.log)
        self.addCleanup(self.interpreter.reset)

    def send(self, data):
        with self.changed:
            self.sent.append((time.monotonic(), data))
            self.changed.notify_all()
        return len(data)

    def stall(self):
        self.stalls += 1

    def dump(self, length):
        with self.changed:
            self.assertTrue(self.changed.wait_for(lambda: sum(len(d) for _, d in self.sent) >= length, WAIT_S))
            return b"".join(d for _, d in self.sent)

    def test_the_checksum_rule_gives_the_fixed_commands_their_digits(self):
        self.assertEqual((b"26", b"76"), (checksum(PAIR[:29]), checksum(PAIR[35:57])))

    def test_each_fault_in_the_first_dump_and_a_whole_second_one(self):
        def long(length):  # record 1 with its setting so long that the line has `length` characters before LF
            return record(0, 1, PAYLOADS[1] + b"x" * (length + 1 - len(DUMP[1])))
        faults = {
            None: DUMP,
            "silent": [],
            "wrong-first": [record(0, 0, PAYLOADS[0])] + DUMP[1:],
            "garbled": [DUMP[0], DUMP[1].replace(b"*", b"#"), *DUMP[2:]],
            "broken": DUMP,
            "no-cr": [DUMP[0], DUMP[1][:-2] + b"\n", *DUMP[2:]],
            "out-of-order": [DUMP[0], DUMP[2], DUMP[1], DUMP[3]],
            "no-last": DUMP[:3],
            "line-510": [DUMP[0], long(510), *DUMP[2:]],
            "line-511": [DUMP[0], long(511), *DUMP[2:]],
        }
        for fault, first in faults.items():
            with self.subTest(fault=fault):
                self.start(fault=fault, fault_once=True)
                # A request for the boot loader before the pair, and the pair in pieces.
                self.interpreter.on_bytes(b"1" + PAIR[:40])
                self.interpreter.on_bytes(PAIR[40:])
                second = first if fault and fault.startswith("line") else DUMP
                self.assertEqual(b"".join(first), self.dump(len(b"".join(first))))
                self.interpreter.on_bytes(PAIR)
                self.assertEqual(b"".join(first + second), self.dump(len(b"".join(first + second))))
                if fault == "broken":
                    self.assertGreaterEqual(self.sent[2][0] - self.sent[1][0], BREAK_PAUSE_S)

    def test_set_commands_change_the_settings_and_the_stall_fault_follows_them(self):
        self.start(fault="stall", fault_at=2)
        commands = [b"GSS,KestrelonKV-718,0,1,B=\xc6,z*QQ!\r\n", b"GSS,KestrelonKV-718,2,3,D=*5A!\r\n",
                    b"GSS,KestrelonKV-718,0,9,Z=9*QQ!\r\n"]
        self.interpreter.on_bytes(b"1" + commands[0][:9])
        self.interpreter.on_bytes(commands[0][9:] + PAIR[:35])
        self.assertEqual(0, self.stalls)
        self.interpreter.on_bytes(commands[1] + commands[2])
        self.assertEqual(1, self.stalls)
        self.assertEqual([PAYLOADS[0], b"B=\xc6,z", PAYLOADS[2], b"D="], self.interpreter.settings())
        self.assertEqual(commands, [event.data for event in self.log.events() if event.kind == "restore"])


if __name__ == "__main__":
    unittest.main()
