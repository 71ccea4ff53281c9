#include "settings/RestoreSettingsWork.h"

#include <string>
#include <vector>

#include "link/UserTexts.h"
#include "settings/BackupFile.h"
#include "settings/SettingsExchange.h"

int RunRestoreSettingsWork(CommandPort& port, Clock& clock, WorkerReport& report, const wchar_t* backupPath) {
    g_recordCount = 0;
    std::vector<std::wstring> lines;
    // A backup without a line would restore nothing: that is no success to report.
    if (!LoadBackup(backupPath, lines) || lines.empty())
        return report.Fail(kBackupNotReadText, WorkerReport::kErrorOk);
    report.ProgressRange(0, static_cast<uint16_t>(lines.size() - 1));
    if (!port.Open())
        return report.Fail(kPortNotOpenText, WorkerReport::kErrorOkCancel);
    bool everyLineSent = true;
    for (const std::wstring& line : lines) {
        switch (SendRestoreCommand(port, clock, line)) {
            case CommandSent::kSent:
                break;
            case CommandSent::kNotSent:
                everyLineSent = false;
                report.Failed(kCommandNotSentText, WorkerReport::kErrorOkCancel);
                break;
            case CommandSent::kPortGone:
                // The cable is out: no line after this one can go either, so one box says so.
                port.Close();
                return report.Fail(kCommandNotSentText, WorkerReport::kErrorOk);
        }
        ++g_recordCount;
        report.ProgressPosition(g_recordCount);
    }
    port.Close();
    // The tracker lacks a setting: the job must not end on the page that says they are restored.
    if (!everyLineSent)
        return report.Fail(kCommandNotSentText, WorkerReport::kErrorOk);
    return report.Done();
}
