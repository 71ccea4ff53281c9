#include "settings/SettingsWorkers.h"

#include <string>
#include <vector>

#include "settings/BackupFile.h"
#include "settings/SettingsExchange.h"

namespace {

const wchar_t kPortNotOpenText[] = L"Невозможно открыть СОМ-порт!";
const wchar_t kBackupNotWrittenText[] = L"Невозможно сохранить настройки!";
const wchar_t kBackupNotReadText[] = L"Невозможно открыть настройки!";
const wchar_t kCommandNotSentText[] = L"Невозможно сохранить данные!";

// The save page's bar: a dump of 50 records or more fills it.
constexpr uint16_t kSaveBarFull = 50;
// The tracker's USB bridge gets a moment to settle after the open before the pair goes out.
constexpr uint32_t kAfterOpenMs = 1000;

}  // namespace

int RunSaveSettings(CommandPort& port, Clock& clock, WorkerReport& report, const wchar_t* backupPath) {
    report.ProgressRange(0, kSaveBarFull);
    port.Open();
    clock.SleepMs(kAfterOpenMs);
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

int RunRestoreSettings(CommandPort& port, Clock& clock, WorkerReport& report, const wchar_t* backupPath) {
    g_recordCount = 0;
    std::vector<std::wstring> lines;
    // A backup without a line would restore nothing: that is no success to report.
    if (!LoadBackup(backupPath, lines) || lines.empty()) {
        report.Failed(kBackupNotReadText, WorkerReport::kErrorOk);
        return 0;
    }
    report.ProgressRange(0, static_cast<uint16_t>(lines.size() - 1));
    if (!port.Open()) {
        report.Failed(kPortNotOpenText, WorkerReport::kErrorOkCancel);
        return 0;
    }
    for (const std::wstring& line : lines) {
        if (!SendRestoreCommand(port, clock, line))
            report.Failed(kCommandNotSentText, WorkerReport::kErrorOkCancel);
        ++g_recordCount;
        report.ProgressPosition(g_recordCount);
    }
    port.Close();
    report.Succeeded();
    return 1;
}
