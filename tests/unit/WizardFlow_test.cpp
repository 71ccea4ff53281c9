// The pages each job goes through, the finish page's text, and when a device change starts a scan.
#include "app/WizardFlow.h"

#include <gtest/gtest.h>

#include <vector>

#include "app/SharedState.h"

TEST(WizardFlow, EachJobHasItsPagesAndItsFinishText) {
    using P = WizardPage;
    const std::vector<P> keepSettings = {P::FirmwareFile, P::Connect, P::SaveSettings,    P::BootLoader,
                                         P::Upload,       P::Restart, P::RestoreSettings, P::Finish};
    const struct {
        int job;
        std::vector<P> pages;
        FinishText text;
    } kCases[] = {
        {UpgradeKeepSettings, keepSettings, FinishText::Default},
        {UpgradeOnly, {P::FirmwareFile, P::BootLoader, P::Upload, P::Finish}, FinishText::FirmwareUpdated},
        {RestoreSettings, {P::Connect, P::RestoreSettings, P::Finish}, FinishText::SettingsRestored},
        // A value the job page cannot give takes the first job's way.
        {-1, keepSettings, FinishText::Default},
        {3, keepSettings, FinishText::Default},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(c.pages, PagesAfterJobPage(c.job)) << "job " << c.job;
        EXPECT_EQ(c.text, FinishTextFor(c.job)) << "job " << c.job;
    }
}

TEST(WizardFlow, EverySecondDeviceChangeStartsAScan) {
    const struct {
        int notifications;
        int scans;
    } kCases[] = {{1, 0}, {2, 1}, {3, 1}, {4, 2}, {7, 3}};
    for (const auto& c : kCases) {
        int pending = 0;
        int scans = 0;
        for (int i = 0; i < c.notifications; ++i)
            scans += CountDeviceChange(pending) ? 1 : 0;
        EXPECT_EQ(c.scans, scans) << c.notifications << " notifications";
        EXPECT_EQ(c.notifications % 2, pending) << c.notifications << " notifications";
    }
}
