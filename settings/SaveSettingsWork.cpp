#include "settings/SaveSettingsWork.h"

#include <string>
#include <vector>

#include "settings/BackupFile.h"
#include "settings/SettingsExchange.h"
#include "settings/TrackerText.h"

namespace {

// The save page's bar: a dump of 50 records or more fills it.
constexpr uint16_t kSaveBarFull = 50;

}  // namespace

int RunSaveSettingsWork(CommandPort& port, Clock& clock, WorkerReport& report, const wchar_t* backupPath) {
    report.ProgressRange(0, kSaveBarFull);
    port.Open();
    clock.SleepMs(kBridgeSettleMs);
    if (!port.IsOpen())
        return report.Fail(Failure::kPortNotOpen);
    std::vector<std::string> dump;
    if (!ReadSettingsDump(port, clock, dump, [&report](uint8_t count) { report.ProgressPosition(count); }))
        return report.Fail(Failure::kTrackerSilent);
    // A setting that this PC's code page cannot carry byte for byte would come back changed: the
    // upgrade must not begin as if it were kept.
    std::vector<std::wstring> commands(dump.size());
    for (size_t at = 0; at < dump.size(); ++at) {
        if (!WidenTrackerTextExactly(dump[at], commands[at]))
            return report.Fail(Failure::kBackupNotWritten);
    }
    if (!SaveBackup(backupPath, commands))
        return report.Fail(Failure::kBackupNotWritten);
    return report.Done();
}
