"""How the tests, the main job's walk (scripts/walk.py) and the benchmarks run the program without
a display: winenv (Wine, Xvfb and the robot), wizard (the program as a user meets it) and portprobe
(its port code step by step). Needs the source tree on PYTHONPATH."""
