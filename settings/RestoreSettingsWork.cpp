#include "settings/RestoreSettingsWork.h"

#include <string>
#include <vector>

#include "settings/BackupFile.h"
#include "settings/SettingsExchange.h"
#include "log/SupportLog.h"

int RunRestoreSettingsWork(CommandPort& port, Clock& clock, WorkerReport& report, const wchar_t* backupPath) {
    g_recordCount = 0;
    std::vector<std::wstring> lines;
    // A backup without a line would restore nothing: that is no success to report.
    if (!LoadBackup(backupPath, lines) || lines.empty())
        return report.Fail(Failure::kBackupNotRead);
    report.ProgressRange(0, static_cast<uint16_t>(lines.size() - 1));
    if (!port.Open())
        return report.Fail(Failure::kPortNotOpen);
    // Lines by their number in the backup only: their text is the owner's settings.
    unsigned linesSent = 0;
    unsigned linesFailed = 0;
    const auto logOutcome = [&]() {
        LogLine("restore: %u of %u lines sent, %u failed", linesSent, static_cast<unsigned>(lines.size()),
                linesFailed);
    };
    for (const std::wstring& line : lines) {
        switch (SendRestoreCommand(port, clock, line)) {
            case CommandSent::kSent:
                ++linesSent;
                break;
            case CommandSent::kNotSent:
                ++linesFailed;
                LogLine("restore: line %u not sent (refused, or the line did not take it whole)",
                        linesSent + linesFailed);
                report.Failed(Failure::kLineNotSent);
                break;
            case CommandSent::kPortGone:
                // The cable is out: no line after this one can go either, so one box says so.
                LogLine("restore: the port is gone at line %u", linesSent + linesFailed + 1);
                logOutcome();
                port.Close();
                return report.Fail(Failure::kSettingsNotRestored);
        }
        ++g_recordCount;
        report.ProgressPosition(g_recordCount);
    }
    port.Close();
    logOutcome();
    // The tracker lacks a setting: the job must not end on the page that says they are restored.
    if (linesFailed > 0)
        return report.Fail(Failure::kSettingsNotRestored);
    return report.Done();
}
