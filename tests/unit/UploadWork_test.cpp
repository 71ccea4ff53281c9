// The upload page's work on a scripted line: what the page is told, and that the port and the
// image are let go whatever happened.
#include "transfer/UploadWork.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "RecordingReport.h"
#include "ScriptedLine.h"
#include "TempFolder.h"

TEST(UploadWork, EveryFailureGetsTheUploadBoxWithPortAndImageClosed) {
    const wchar_t* const failed = L"Невозможно сохранить изменения! 16; ";
    const struct {
        const char* what;
        bool opens;
        bool imageThere;
        std::map<size_t, std::string> answers;
        const wchar_t* log;
    } kCases[] = {
        {"sent", true, true, {}, L"at 1; at 2; succeeded; "},
        {"port not opened", false, true, {}, failed},
        {"image gone", true, false, {}, failed},
        {"transfer failed", true, true, {{1, ""}}, failed},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        TempFolder folder;
        const std::wstring image = folder / L"kv718a.dfu";
        if (c.imageThere)
            folder.Put(L"kv718a.dfu", std::string(1024, '\x5A'));
        ScriptedLine line;
        line.opens = c.opens;
        line.answers = c.answers;
        RecordingReport report;
        EXPECT_EQ(c.log == std::wstring(kCases[0].log) ? 1 : 0,
                  RunUploadWork(line, line, report, image.c_str()));
        EXPECT_EQ(c.log, report.log);
        EXPECT_FALSE(line.isOpen);
        EXPECT_TRUE(!c.imageThere || ::DeleteFileW(image.c_str())) << "the image is still open";
    }
}
