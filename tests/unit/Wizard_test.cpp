// The wizard's logic without windows: the pages each job goes through, the finish page's text,
// when a device change starts a scan, where the optional resource library lies, and a page whose
// worker cannot start.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/ResourceLibraryPath.h"
#include "app/SharedState.h"
#include "RecordingReport.h"
#include "app/WizardFlow.h"
#include "app/WorkerStart.h"

TEST(WizardFlow, EachJobHasItsPagesAndItsFinishText) {
    using P = WizardPage;
    const std::vector<P> keepSettings = {P::FirmwareFile, P::Connect, P::SaveSettings,    P::BootLoader,
                                         P::Upload,       P::PowerOn, P::RestoreSettings, P::Finish};
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

TEST(ResourceLibraryPath, LibrarySitsBesideTheProgramWhenItsPathFits) {
    // "\chinese.dll" and the terminator take 13 of the 260 characters.
    const std::wstring longest = L"C:\\" + std::wstring(244, L'a');
    const struct {
        std::wstring program;
        std::wstring library;  // "-": none
    } kCases[] = {
        {L"C:\\Program Files\\KV\\KV_Firmware_Tool.exe", L"C:\\Program Files\\KV\\chinese.dll"},
        {longest + L"\\x.exe", longest + L"\\chinese.dll"},
        {longest + L"b\\x.exe", L"-"},
        {L"KV_Firmware_Tool.exe", L"-"},
        {L"", L"-"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.program);
        wchar_t path[kModulePathChars + 1];
        path[kModulePathChars] = L'#';  // just past what the function may fill
        const bool found =
            ResourceLibraryPath(c.program.c_str(), reinterpret_cast<wchar_t(&)[kModulePathChars]>(path));
        EXPECT_EQ(c.library, found ? std::wstring(path) : L"-");
        EXPECT_EQ(L'#', path[kModulePathChars]);
    }
}

namespace {

HANDLE WINAPI NoThreads(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD) {
    return nullptr;
}

DWORD WINAPI Worker(LPVOID) {
    return 1;
}

}  // namespace

TEST(WorkerStart, PageWhoseWorkerCannotStartSaysSoAndAsksToClose) {
    RecordingReport report;
    EXPECT_FALSE(StartPageWorker(Worker, nullptr, report, NoThreads));
    EXPECT_EQ(L"Невозможно начать операцию! 16; ", report.log);
}
