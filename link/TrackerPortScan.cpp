#include "link/TrackerPortScan.h"

#include <cstring>
#include <cwchar>

#include "link/Clock.h"
#include "link/FriendlyName.h"
#include "link/PortNameSlot.h"
#include "log/SupportLog.h"

// Runs on the UI thread whenever devices change or a page that needs the port opens, so a
// tracker plugged in later, or back under another name after its reset, is picked up here.
void ScanTrackerPorts(DeviceList& devices, PortNameSlot& portName, PortDisplay& display, Clock& clock) {
    // Without a device list we know nothing new, so the last known port stays where it is.
    if (!devices.Open()) {
        LogLine("port scan: no device list");
        return;
    }
    // The name is built here and published once: a worker that opens the port meanwhile still
    // finds the last one, never an empty name while a tracker is present.
    wchar_t found[kMaxPortNameChars + 1] = L"";
    // One spare character past the bytes the device list may fill: a name that fills them all
    // without a terminator still ends inside the buffer.
    wchar_t friendlyName[kFriendlyNameBytes / sizeof(wchar_t) + 1];
    for (unsigned index = 0;; ++index) {
        // Zeroed for every device so that a shorter name never ends in the tail of the last one.
        std::memset(friendlyName, 0, sizeof friendlyName);
        const DeviceList::NameRead read = devices.ReadFriendlyName(index, friendlyName, kFriendlyNameBytes);
        if (read == DeviceList::NameRead::kNoMoreDevices) {
            break;
        }
        if (read != DeviceList::NameRead::kRead || !IsTrackerBridgeName(friendlyName)) {
            continue;
        }
        // The last bridge found wins.
        wchar_t port[kMaxPortNameChars + 1];
        const bool named = CutPortName(friendlyName, port);
        LogLine("port scan: \"%s\" matches, port %s", Utf8(friendlyName).c_str(),
                named ? Utf8(port).c_str() : "none in its name");
        if (named) {
            wmemcpy(found, port, kMaxPortNameChars + 1);
            // A bridge that has only just appeared is not always ready to be opened.
            clock.SleepMs(kPortSettleMs);
        }
    }
    devices.Close();
    if (found[0] == L'\0')
        LogLine("port scan: no device matched");
    portName.Set(found);
    // An empty name also disables the connect page's Next button until a tracker is found.
    display.Show(found);
}
