"""The base of every end-to-end scenario: a Wine prefix, an Xvfb display, the robot, trackers
and the program under test, started for each scenario and taken down after it, whatever
happened.

A scenario class sets `program` (the .exe to run) and `main_title`; each test method then calls
start_program(), drives the windows through self.robot, plugs trackers with plug_tracker(),
and saves screenshots with shoot(). After each test the program is killed if it still runs,
and the test fails if Wine reported a crash of it.

Files, per scenario (<class>.<method>):
    ${BUILD}/screenshots/<scenario>/<nn>-<what>.png   what the user saw
    ${BUILD}/e2e/<scenario>/                          program stdout/stderr, robot transcript,
                                                      window list at the end, wine server log,
                                                      measured.json (timings a scenario took)
    ${BUILD}/e2e/<scenario>/work/                     the program's working directory
"""

import json
import re
import shutil
import time
import unittest

import winenv
from sim import presence
from sim.tracker import Tracker

WM_DEVICECHANGE = 0x0219
DBT_DEVNODES_CHANGED = 7
PROGRAM_START_TIMEOUT_MS = 30000


class ScenarioCase(unittest.TestCase):
    program = None  # path of the program under test
    main_title = None  # exact title of its main window

    @classmethod
    def setUpClass(cls):
        winenv.ensure_prefix()
        cls.xvfb = winenv.Xvfb(winenv.BUILD_DIR / "e2e" / ("xvfb-%s.log" % cls.__name__)).start()

    @classmethod
    def tearDownClass(cls):
        cls.xvfb.stop()

    def setUp(self):
        test_class, test_method = self.id().split(".")[-2:]
        self.scenario = "%s.%s" % (test_class, test_method)
        self.shot_dir = winenv.BUILD_DIR / "screenshots" / self.scenario
        self.log_dir = winenv.BUILD_DIR / "e2e" / self.scenario
        for d in (self.shot_dir, self.log_dir):
            shutil.rmtree(d, ignore_errors=True)
            d.mkdir(parents=True)
        self.work_dir = self.log_dir / "work"
        self.work_dir.mkdir()
        self.env = winenv.wine_env(winenv.PREFIX, self.xvfb.display)
        self.shots = 0
        self.trackers = []
        self.process = None
        self.wineserver = winenv.WineServer(self.env, self.log_dir / "wineserver.log").start()
        # Cleanups run even when the rest of setUp fails, in reverse order of adding.
        self.addCleanup(self.wineserver.stop)
        self._remove_stale_devices()
        self.robot = winenv.Robot(self.env, self.log_dir / "robot.log")
        self.addCleanup(self.robot.stop)
        self.robot.start()
        self.addCleanup(self._end_scenario)

    # ---- the program ----

    def start_program(self, timeout=PROGRAM_START_TIMEOUT_MS):
        """Starts the program and returns its main window once it is shown."""
        self.process = winenv.Program(self.program, self.env, self.log_dir, self.work_dir).start()
        try:
            main = self.robot.wait_window(self.main_title, timeout=timeout)
        except winenv.RobotError:
            self._fail_if_crashed()
            raise
        self.startup_seconds = time.monotonic() - self.process.started_at
        return main

    def expect_exit(self, code, timeout_s=10):
        """Waits until the program has ended and checks its exit code and that it did not crash."""
        try:
            actual = self.process.wait_exit(timeout_s)
        except TimeoutError as e:
            self.fail(str(e))
        self._fail_if_crashed()
        self.assertEqual(code, actual, "exit code; stderr: %s" % self.process.stderr()[-2000:])
        return actual

    def expect_running(self):
        self._fail_if_crashed()
        self.assertTrue(self.process.running, "the program ended with code %s" % self.process.exit_code)

    def _fail_if_crashed(self):
        if self.process is not None and not self.process.running:
            report = self.process.crash_report()
            if report:
                self.fail("the program crashed: %s" % report)

    def assert_cannot_press(self, hwnd, control_id, why="disabled"):
        """Checks that a user could not press the control (the robot refuses it, and says why)."""
        reason = self.robot.refusal(hwnd, control_id)
        if reason is None:
            self.fail("control %d could be pressed (and now was)" % control_id)
        self.assertIn(why, reason)

    def assert_not_within(self, ms, hwnd, control_id, **conditions):
        """Watches a control for ms milliseconds and fails if it reaches the conditions."""
        try:
            reached = self.robot.until(hwnd, control_id, timeout=ms, **conditions)
        except winenv.RobotError as e:
            if e.reason.startswith("timeout"):
                return
            raise
        self.fail("control %d reached %s within %d ms: %s" % (control_id, conditions, ms, reached))

    # ---- trackers ----

    def plug_tracker(self, port=7, kind=presence.STM_VCP, friendly_name=None, instance=None, **behaviour):
        """Plugs in a simulated tracker; behaviour: the Tracker's keyword options (mode, answer, ...)."""
        tracker = Tracker(winenv.PREFIX, port, kind, friendly_name, instance, **behaviour).plug()
        self.trackers.append(tracker)
        return tracker

    def unplug_tracker(self, tracker):
        tracker.unplug()
        self.trackers.remove(tracker)

    def device_change(self, main, count=1):
        """What Windows sends the main window when devices come and go."""
        for _ in range(count):
            self.robot.post(main, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0)

    def _remove_stale_devices(self):
        """A scenario that was killed may have left its devices behind in the prefix."""
        dosdevices = winenv.PREFIX / "dosdevices"
        for link in dosdevices.glob("com*"):
            number = link.name[3:]
            if number.isdigit() and int(number) >= 5:
                link.unlink()
        keys = ["[-%s\\%s\\%s]" % (presence.ENUM_KEY, bus, device)
                for bus, device, _ in (presence.STM_VCP, presence.PROLIFIC, presence.GENERIC_USB_SERIAL)]
        presence.import_registry(winenv.PREFIX, "\r\n\r\n".join(keys) + "\r\n\r\n")

    def measured(self, name, value):
        """Keeps a measured value in ${BUILD}/e2e/<scenario>/measured.json and returns it."""
        path = self.log_dir / "measured.json"
        values = json.loads(path.read_text()) if path.exists() else {}
        values[name] = value
        path.write_text(json.dumps(values, indent=1))
        return value

    # ---- screenshots ----

    def shoot(self, what):
        """Saves the topmost window on screen (a page, a message box) as <nn>-<what>.png."""
        self.shots += 1
        name = "%02d-%s.png" % (self.shots, re.sub(r"[^\w.-]+", "_", what))
        shown = [w for w in self.robot.windows() if w["rect"][2] > w["rect"][0]]
        rect = shown[0]["rect"] if shown else None
        return winenv.screenshot(self.xvfb.display, self.shot_dir / name, rect)

    def _end_scenario(self):
        try:
            if self.process is not None and self.process.running:
                (self.log_dir / "windows-at-end.json").write_text(
                    json.dumps(self.robot.windows(all_windows=False), ensure_ascii=False, indent=1),
                    encoding="utf-8")
                winenv.screenshot(self.xvfb.display, self.shot_dir / "99-end-screen.png")
        finally:
            try:
                if self.process is not None:
                    self.process.kill()
            finally:
                for tracker in list(self.trackers):
                    self.unplug_tracker(tracker)
        self._fail_if_crashed()
