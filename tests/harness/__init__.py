"""What the tests, the main job's walk (scripts/walk.py) and the benchmarks run the program with:

    winenv      Wine and Xvfb without a display: the prefix, the display, the wine server, the robot
    wizard      the program as a user meets it: its windows, texts and a user's steps
    portprobe   the program's port code run step by step by the probe on a real COM port

Importable with the source tree and tests/ on PYTHONPATH, as ctest, scripts/run.sh and
scripts/bench.sh set it (the source tree for the simulated tracker, `sim`).
"""
