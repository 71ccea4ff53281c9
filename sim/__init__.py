"""The tracker simulator: plays the KV-718A on a pseudo-terminal that Wine shows as a COM port.

presence    makes the tracker's USB serial port appear and disappear for the program under Wine.
line        the tracker's end of the line: what the program writes, its opens and closes, the
            line settings it made, and a switch that plays another program holding the port.
events      the time-stamped log of everything that happens between the program and the tracker.
bootloader  the tracker's boot loader: its answer to "1" and its reset on "2".
ymodem      the boot loader's YMODEM receiver, which takes the firmware image, and its faults.
tracker     the tracker itself, with its modes and restarts, and the command line for people.
"""
