"""The tracker simulator: plays the KV-718A on a pseudo-terminal that Wine shows as a COM port.

presence  makes the tracker's USB serial port appear and disappear for the program under Wine.
tracker   the tracker itself, built on a present port, and the command line for people.
"""
