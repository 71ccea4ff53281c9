#include "settings/SaveSettingsWork.h"

#include <string>
#include <vector>

#include "link/UserTexts.h"
#include "settings/BackupFile.h"
#include "settings/SettingsExchange.h"

namespace {

// The save page's bar: a dump of 50 records or more fills it.
constexpr uint16_t kSaveBarFull = 50;

}  // namespace

int RunSaveSettingsWork(CommandPort& port, Clock& clock, WorkerReport& report, const wchar_t* backupPath) {
    report.ProgressRange(0, kSaveBarFull);
    port.Open();
    clock.SleepMs(kBridgeSettleMs);
    if (!port.IsOpen()) {
        report.Failed(kPortNotOpenText, WorkerReport::kErrorOkCancel);
        return 0;
    }
    std::vector<std::wstring> commands;
    if (!ReadSettingsDump(port, clock, commands,
                          [&report](uint8_t count) { report.ProgressPosition(count); })) {
        report.Failed(kTrackerTimeoutText, WorkerReport::kErrorOk);
        return 0;
    }
    if (!SaveBackup(backupPath, commands)) {
        report.Failed(kBackupNotWrittenText, WorkerReport::kErrorOkCancel);
        return 0;
    }
    report.Succeeded();
    return 1;
}
