// The platform's device list, apart from the discovery pass, whose tests also build on Linux.
#include "link/SetupDiDeviceList.h"

#include <gtest/gtest.h>

// Under Wine the real list holds a handful of emulated devices, and the walk through them ends.
TEST(SetupDiDeviceList, WalksPresentDevicesToTheEnd) {
    SetupDiDeviceList devices;
    ASSERT_TRUE(devices.Open());
    wchar_t name[kFriendlyNameBytes / sizeof(wchar_t)];
    unsigned count = 0;
    while (count < 10000 &&
           devices.ReadFriendlyName(count, name, sizeof name) != DeviceList::NameRead::kNoMoreDevices)
        ++count;
    EXPECT_GT(count, 0u);
    EXPECT_LT(count, 10000u);
    devices.Close();
    EXPECT_EQ(DeviceList::NameRead::kNoMoreDevices, devices.ReadFriendlyName(0, name, sizeof name));
}
