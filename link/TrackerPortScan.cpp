#include "link/TrackerPortScan.h"

#include <cstring>

#include "link/Clock.h"
#include "link/FriendlyName.h"
#include "link/PortNameSlot.h"

// Runs on the UI thread whenever devices change or a page that needs the port opens, so a
// tracker plugged in later, or back under another name after its reset, is picked up here.
void ScanTrackerPorts(DeviceList& devices, PortNameSlot& portName, PortDisplay& display, Clock& clock) {
    // Without a device list we know nothing new, so the last known port stays where it is.
    if (!devices.Open()) {
        return;
    }
    // Emptying the connect page's box also disables its Next button until a tracker is found.
    display.Show(L"");
    portName.Clear();

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
        wchar_t port[kMaxPortNameChars + 1];
        if (!CutPortName(friendlyName, port)) {
            continue;
        }
        portName.Set(port);
        // A bridge that has only just appeared is not always ready to be opened; the pages'
        // workers try the port as soon as they see the name.
        clock.SleepMs(kPortSettleMs);

        wchar_t shown[kMaxPortNameChars + 1];
        portName.Get(shown);
        display.Show(shown);
    }
    devices.Close();
}
