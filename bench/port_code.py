"""Benchmark, not a test: the timings of the program's port code on a real COM port under Wine.
Prints them as JSON and writes them to $KV_BUILD_DIR/bench/port.json.

    KV_BUILD_DIR=$PWD/build PYTHONPATH=$PWD python3 bench/port_code.py

What the program's own waits make of them: "1" every 100 ms to a silent tracker; the port open
100 ms when the boot loader answers, and the exchange over 500 ms later, when it has settled;
"2" 1000 ms after the open; a read of a quiet line waits as long as it is told (0 and 25 ms here),
a write to a stalled line too (300 ms); a byte that comes while a read waits is taken as it
arrives (an upper estimate: it counts from when the test saw the read begin).
"""

import json
import statistics
import time
import unittest

from harness.portprobe import EVENT_TIMEOUT_S, PortCase, sim, winenv

REQUESTS = 11
LATE_BYTE_AFTER_S = (0.2, 0.23, 0.26, 0.29, 0.32)  # spread over more than a poll step


def spread(values_ms):
    return {"median": round(statistics.median(values_ms), 1), "min": round(min(values_ms), 1),
            "max": round(max(values_ms), 1)}


class PortBenchmark(PortCase):
    def test_port_timings(self):
        tracker = self.plug()
        asking = self.probe("boot-loader")
        self.assertTrue(tracker.wait_received(lambda data: len(data) >= REQUESTS, EVENT_TIMEOUT_S))
        asking.stop()
        requests = [e.t for e in self.events("rx")]
        figures = {"request_interval_ms": spread([1000 * (b - a) for a, b in zip(requests, requests[1:])])}

        tracker = self.plug(mode=sim.BOOT)
        figures["answered_exchange_ms"] = self.probe("boot-loader").next("boot-loader")["ms"]
        closed = tracker.wait_event("close", EVENT_TIMEOUT_S)
        figures["answered_open_to_close_ms"] = round(1000 * (closed.t - self.events("open")[0].t), 1)

        self.plug(mode=sim.BOOT, reset_return_s=None)
        self.probe("reset").next("reset")
        figures["reset_open_to_write_ms"] = round(1000 * (self.events("rx")[0].t - self.events("open")[0].t), 1)

        tracker = self.plug()
        probe = self.probe("open", "read:16:0", "read:16:25",
                           *["await", "read:1:3000"] * len(LATE_BYTE_AFTER_S))
        probe.next("open")
        figures["quiet_read_ms"] = {"wait 0": probe.next("read")["ms"], "wait 25": probe.next("read")["ms"]}
        delays = []
        for after_s in LATE_BYTE_AFTER_S:
            probe.go()
            reading_from = time.monotonic()
            time.sleep(after_s)
            tracker.send(b"C")
            sent = tracker.wait_event("tx", EVENT_TIMEOUT_S, after=reading_from)
            delays.append(probe.next("read")["ms"] - 1000 * (sent.t - reading_from))
        figures["byte_arrival_to_read_return_ms"] = spread(delays)

        self.plug(mode=sim.BOOT).stall_line(True)
        probe = self.probe("open", "write:%s:300" % ("x" * 133))
        probe.next("open")
        figures["stalled_write_300_ms"] = probe.next("write")["ms"]

        out = winenv.BUILD_DIR / "bench" / "port.json"
        out.parent.mkdir(exist_ok=True)
        out.write_text(json.dumps(figures, indent=1))
        print("\n" + json.dumps(figures, indent=1))


if __name__ == "__main__":
    unittest.main()
