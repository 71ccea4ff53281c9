"""The tracker's USB serial port, as the program under Wine finds and opens it.

Two things make a port present for a Windows program in a Wine prefix:

* the COM device: $WINEPREFIX/dosdevices/comN is a symlink to a pseudo-terminal, whose master
  side this object holds. Wine rewrites com1..com4 for the host's serial ports when it starts,
  so only COM5 and above are ours.
* the device list: SetupDiGetClassDevs(DIGCF_PRESENT | DIGCF_ALLCLASSES) lists every key
  HKLM\\System\\CurrentControlSet\\Enum\\<bus>\\<device>\\<instance> that holds a ClassGUID
  string; Wine checks nothing else, not even "present". FriendlyName is what the program reads.

make_pty() opens the pseudo-terminal, link() and list_device() create the two; unlink() removes
the link and closes the pseudo-terminal, which makes an open handle on the port fail as it does
when a real cable is pulled, and unlist_device() removes the device key; unplug() does both.
Only the master side stays open here: the slave is the program's alone.
"""

import glob
import os
import subprocess
import tempfile
import tty

# The Ports device class, so the key looks like a real serial bridge to anyone who looks.
PORTS_CLASS_GUID = "{4D36E978-E325-11CE-BFC1-08002BE10318}"
ENUM_KEY = r"HKEY_LOCAL_MACHINE\System\CurrentControlSet\Enum"

STM_VCP = ("USB", "VID_0483&PID_5740", "STMicroelectronics Virtual COM Port")
PROLIFIC = ("USB", "VID_067B&PID_2303", "Prolific USB-to-Serial Comm Port")
GENERIC_USB_SERIAL = ("USB", "VID_0403&PID_6001", "USB Serial Port")

REGEDIT_TIMEOUT_S = 60


class PresenceError(RuntimeError):
    pass


def wine_env(prefix):
    env = dict(os.environ)
    env["WINEPREFIX"] = os.path.abspath(str(prefix))
    env["WINEDEBUG"] = "-all"
    return env


def windows_path(unix_path):
    """Wine's Z: drive is the Unix root."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


def import_registry(prefix, text):
    """Imports a .reg text into the prefix with Wine's own regedit (the running wineserver
    sees the change at once, so a program that is already running does too)."""
    fd, path = tempfile.mkstemp(suffix=".reg", prefix="kvsim-")
    try:
        with os.fdopen(fd, "wb") as f:
            # Version 5 files are UTF-16 with a byte-order mark, so any friendly name fits.
            f.write(("Windows Registry Editor Version 5.00\r\n\r\n" + text).encode("utf-16"))
        # Output to a file, not a pipe: if regedit is the first wine process of a session, the
        # services that it starts inherit its output and keep a pipe open long after it ended.
        with tempfile.TemporaryFile() as output:
            result = subprocess.run(["wine", "regedit", "/S", windows_path(path)], env=wine_env(prefix),
                                    stdin=subprocess.DEVNULL, stdout=output, stderr=output,
                                    timeout=REGEDIT_TIMEOUT_S)
            if result.returncode != 0:
                output.seek(0)
                raise PresenceError("regedit failed (%d): %s"
                                    % (result.returncode, output.read().decode(errors="replace")))
    finally:
        os.unlink(path)


def reg_string(value):
    return '"' + value.replace("\\", "\\\\").replace('"', '\\"') + '"'


class Presence:
    """One USB serial bridge on COM<port>, plugged in or not.

    kind is one of STM_VCP, PROLIFIC, GENERIC_USB_SERIAL (bus, device id, name); friendly_name
    overrides the whole friendly name, e.g. to test a name with an earlier parenthesis.
    instance is the instance id under the device key: Wine lists devices in instance order.
    """

    def __init__(self, prefix, port=7, kind=STM_VCP, friendly_name=None, instance=None):
        if port < 5:
            raise ValueError("COM%d: Wine rewrites com1..com4 at start; use COM5 or above" % port)
        self.prefix = os.path.abspath(str(prefix))
        self.port = port
        self.bus, self.device_id, base_name = kind
        self.friendly_name = friendly_name or "%s (COM%d)" % (base_name, port)
        self.instance = instance or "KVSIM%04d" % port
        self.master_fd = None
        self.pty_path = None

    @property
    def port_name(self):
        return "COM%d" % self.port

    @property
    def link_path(self):
        return com_link_path(self.prefix, self.port)

    @property
    def key(self):
        return "%s\\%s\\%s\\%s" % (ENUM_KEY, self.bus, self.device_id, self.instance)

    def make_pty(self):
        """Opens the pseudo-terminal that will be the port; nothing sees it before link()."""
        if not os.path.isdir(os.path.join(self.prefix, "dosdevices")):
            raise PresenceError("no Wine prefix at %s" % self.prefix)
        master, slave = os.openpty()
        # Raw from the start: the program sets its own line settings through the slave, and
        # nothing may be echoed or translated before it does. The settings outlive our slave.
        tty.setraw(slave)
        self.master_fd = master
        self.pty_path = os.ttyname(slave)
        os.close(slave)

    def link(self):
        """From now on the program can open the port."""
        remove_link(self.link_path)
        os.symlink(self.pty_path, self.link_path)

    def list_device(self):
        """Puts the device in the list that the program scans (regedit takes 0.1 to 0.5 s)."""
        import_registry(
            self.prefix,
            "[%s]\r\n\"ClassGUID\"=%s\r\n\"FriendlyName\"=%s\r\n\r\n"
            % (self.key, reg_string(PORTS_CLASS_GUID), reg_string(self.friendly_name)),
        )

    def unlink(self):
        """Takes the port away at once, as when the cable is pulled: closing the master ends any
        handle that the program still holds on it."""
        remove_link(self.link_path)
        if self.master_fd is not None:
            os.close(self.master_fd)
        self.master_fd = None
        self.pty_path = None

    def unlist_device(self):
        unlist_device(self.prefix, self.key)

    def unplug(self):
        self.unlink()
        self.unlist_device()


def com_link_path(prefix, port):
    return os.path.join(os.path.abspath(str(prefix)), "dosdevices", "com%s" % port)


def remove_link(path):
    if os.path.lexists(path):
        os.unlink(path)


def unlist_device(prefix, key):
    import_registry(prefix, "[-%s]\r\n\r\n" % key)


def remove_traces(prefix, port, key):
    """Removes the port link and the device key, whoever made them (idempotent)."""
    remove_link(com_link_path(prefix, port))
    unlist_device(prefix, key)


def remove_stale(prefix, kind=STM_VCP):
    """Removes what simulated trackers of this kind left in the prefix when their process was
    killed: every port link from COM5 on, and the device keys of their bridge."""
    stale = [link for link in glob.glob(com_link_path(prefix, "*")) if int(link.rsplit("com", 1)[1]) >= 5]
    for link in stale:
        os.unlink(link)
    if stale:
        import_registry(prefix, "[-%s]\r\n\r\n" % "\\".join((ENUM_KEY,) + kind[:2]))

