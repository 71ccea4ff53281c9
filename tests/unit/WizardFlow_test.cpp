#include "app/WizardFlow.h"

#include <gtest/gtest.h>

#include "app/SharedState.h"

using P = WizardPage;

TEST(WizardFlow, EachJobShowsItsPagesInOrder) {
    EXPECT_EQ(PagesAfterJobPage(UpgradeKeepSettings),
              (std::vector<P>{P::FirmwareFile, P::Connect, P::SaveSettings, P::BootLoader, P::Upload,
                              P::PowerOn, P::RestoreSettings, P::Finish}));
    EXPECT_EQ(PagesAfterJobPage(UpgradeOnly),
              (std::vector<P>{P::FirmwareFile, P::BootLoader, P::Upload, P::Finish}));
    EXPECT_EQ(PagesAfterJobPage(RestoreSettings),
              (std::vector<P>{P::Connect, P::RestoreSettings, P::Finish}));
}

TEST(WizardFlow, UnknownJobTakesThePathOfTheFirstJob) {
    for (int job : {-1, 3, 1000})
        EXPECT_EQ(PagesAfterJobPage(job), PagesAfterJobPage(UpgradeKeepSettings)) << "job " << job;
}

TEST(WizardFlow, FinishTextFollowsTheJob) {
    EXPECT_EQ(FinishTextFor(UpgradeKeepSettings), FinishText::Default);
    EXPECT_EQ(FinishTextFor(UpgradeOnly), FinishText::FirmwareUpdated);
    EXPECT_EQ(FinishTextFor(RestoreSettings), FinishText::SettingsRestored);
    EXPECT_EQ(FinishTextFor(5), FinishText::Default);
    EXPECT_EQ(FinishTextFor(-1), FinishText::Default);
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
        EXPECT_EQ(scans, c.scans) << c.notifications << " notifications";
        EXPECT_EQ(pending, c.notifications % 2) << c.notifications << " notifications";
    }
}
