"""The simulated KV-718A tracker: plays the tracker on a pseudo-terminal that Wine shows as a COM
port, for the tests and for a person trying the program (command line: python3 -m sim, sim/cli.py).

Python interface (sim.tracker.Tracker):

    tracker = Tracker(prefix, port=7, kind=presence.STM_VCP, friendly_name=None, instance=None,
                      mode=NORMAL or BOOT,
                      reset_return_s=1.5 (None: it stays away after "2" until come_back()),
                      reset_button_gone_s=0, receiver=ymodem.ReceiverOptions(...),
                      settings=settings.SettingsOptions(...))
    tracker.plug() / tracker.unplug()     the cable in and out (also: with Tracker(...) as t)
    tracker.press_reset(hold_power=True)  Reset, holding the power button (boot loader) or not
    tracker.come_back(port=None)          the device that a restart took away comes back now, on
                                          COM<port> if given (Windows may number it anew)
    tracker.hold_exclusively(True/False)  another program holds the port, or lets it go
    tracker.stall_line(True/False)        the tracker stops taking bytes off the line, or takes them
    tracker.send(bytes)                   the tracker writes to the line
    tracker.line_settings()               baud, stop bits and flow control the program set
    tracker.mode, tracker.port_name, tracker.port.pty_path

What happened, with times from time.monotonic() (events.py lists the kinds):

    tracker.events()                                  every event so far
    tracker.wait_event(kind or predicate, timeout_s, after=None)
                                                      the first such event later than `after`
    tracker.received() / wait_received(predicate, timeout_s)
                                                      every byte the program wrote
    tracker.uploads() / wait_upload(timeout_s)        the boot loader's transfers (ymodem.Upload:
                                                      outcome, data, name, size_field, frames...)

ReceiverOptions(start="C" (None: never asks), paced=False (115200 bit/s), cancel_block=None,
received_dir=None, hold_closing_request=None (a threading.Event that lets the request for the
closing block go)). lrzsz's rb receives the firmware (ymodem.py).

Settings (settings.py), answered in normal mode:

    SettingsOptions(payloads=DEFAULT_PAYLOADS (bytes each, at least two), fault=None (a name in
                    settings.FAULTS), fault_at=1, fault_once=False)
    settings.numbered_payloads(count)     count settings: the default ones, then P<n>=<n>
    settings.record(kind, number, payload), settings.padded(kind, number, payload, length)
                                          a record line as the tracker sends it; a payload made
                                          so long that its record has `length` characters before LF
    tracker.settings()                    the settings now (list of bytes)
    tracker.restores()                    the set commands received ("restore" events, raw bytes)
    tracker.wait_restores(count, timeout_s)
                                          those events once `count` have come, or None
    tracker.settings_interpreter.factory_reset()
                                          what a completed firmware upload does by itself
Events "query" (the pair came, and what the tracker does), "restore", "factory".

Modules: presence (the port and its device key in the prefix), line (the tracker's end of the
pseudo-terminal), events (the log), bootloader (its answer to "1" and "2"), ymodem (the transfer),
settings (the settings interpreter), tracker (the tracker and its modes), cli (the command line).
"""
