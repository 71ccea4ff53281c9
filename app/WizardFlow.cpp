#include "app/WizardFlow.h"

#include "app/SharedState.h"

std::vector<WizardPage> PagesAfterJobPage(int job) {
    if (job == RestoreSettings)
        return {WizardPage::Connect, WizardPage::RestoreSettings, WizardPage::Finish};

    const bool keepSettings = job != UpgradeOnly;
    std::vector<WizardPage> pages{WizardPage::FirmwareFile};
    if (keepSettings) {
        pages.push_back(WizardPage::Connect);
        pages.push_back(WizardPage::SaveSettings);
    }
    pages.push_back(WizardPage::BootLoader);
    pages.push_back(WizardPage::Upload);
    if (keepSettings) {
        pages.push_back(WizardPage::Restart);
        pages.push_back(WizardPage::RestoreSettings);
    }
    pages.push_back(WizardPage::Finish);
    return pages;
}

FinishText FinishTextFor(int job) {
    switch (job) {
        case UpgradeOnly:
            return FinishText::FirmwareUpdated;
        case RestoreSettings:
            return FinishText::SettingsRestored;
        default:
            return FinishText::Default;
    }
}

bool CountDeviceChange(int& pendingCount) {
    ++pendingCount;
    if (pendingCount < 2)
        return false;
    pendingCount = 0;
    return true;
}
