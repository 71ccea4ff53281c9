#include "settings/RestoreSettingsWork.h"

#include <string>
#include <vector>

#include "settings/BackupFile.h"
#include "settings/SettingsExchange.h"

int RunRestoreSettingsWork(CommandPort& port, Clock& clock, WorkerReport& report, const wchar_t* backupPath) {
    g_recordCount = 0;
    std::vector<std::wstring> lines;
    // A backup without a line would restore nothing: that is no success to report.
    if (!LoadBackup(backupPath, lines) || lines.empty())
        return report.Fail(Failure::kBackupNotRead);
    report.ProgressRange(0, static_cast<uint16_t>(lines.size() - 1));
    if (!port.Open())
        return report.Fail(Failure::kPortNotOpen);
    bool everyLineSent = true;
    for (const std::wstring& line : lines) {
        switch (SendRestoreCommand(port, clock, line)) {
            case CommandSent::kSent:
                break;
            case CommandSent::kNotSent:
                everyLineSent = false;
                report.Failed(Failure::kLineNotSent);
                break;
            case CommandSent::kPortGone:
                // The cable is out: no line after this one can go either, so one box says so.
                port.Close();
                return report.Fail(Failure::kSettingsNotRestored);
        }
        ++g_recordCount;
        report.ProgressPosition(g_recordCount);
    }
    port.Close();
    // The tracker lacks a setting: the job must not end on the page that says they are restored.
    if (!everyLineSent)
        return report.Fail(Failure::kSettingsNotRestored);
    return report.Done();
}
