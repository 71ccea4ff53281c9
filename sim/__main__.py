"""python3 -m sim: the simulated tracker's command line (sim/cli.py)."""

import sys

from sim.cli import main

sys.exit(main())
