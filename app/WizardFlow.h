// The order of the wizard's pages and the choices that depend on the job; no windows here.
#pragma once
#include <vector>

enum class WizardPage {
    Job = 1,
    Connect,
    FirmwareFile,
    SaveSettings,
    BootLoader,
    Upload,
    Restart,
    RestoreSettings,
    Finish,
};

// The pages that follow the job page for the given job, the finish page last. A value that
// the job page cannot produce takes the path of the first job.
std::vector<WizardPage> PagesAfterJobPage(int job);

// Which of the finish page's three texts is shown for the job.
enum class FinishText {
    Default,          // the firmware text, as the template shows it
    FirmwareUpdated,  // the firmware text for the upgrade-only job
    SettingsRestored,
};
FinishText FinishTextFor(int job);

// Windows sends device-change notifications in bursts; the tracker's port is looked for on
// every second one. Counts one notification and tells whether a scan is due now.
bool CountDeviceChange(int& pendingCount);
