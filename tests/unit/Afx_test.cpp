// The class-library stand-in: message dispatch, driven without windows (messages go straight to
// AfxCallWndProc as the dialog procedure would pass them), and files on a real disk.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TempFolder.h"
#include "afxwin.h"

namespace {

std::vector<std::string> g_calls;

class TestError : public CException {
public:
    int ReportError(UINT type, UINT) const override {
        g_calls.push_back("report " + std::to_string(type));
        return IDOK;
    }
};

class BaseDialog : public CDialog {
public:
    BaseDialog() : CDialog(100) {}
    BOOL OnInitDialog() override {
        g_calls.push_back("base init");
        return FALSE;
    }

protected:
    void OnOK() override { g_calls.push_back("base ok"); }
    void OnCancel() override { g_calls.push_back("base cancel"); }
    void OnHelpButton() { g_calls.push_back("base help"); }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(BaseDialog, CDialog)
ON_BN_CLICKED(9, OnHelpButton)
END_MESSAGE_MAP()

class PageDialog : public BaseDialog {
protected:
    void OnLeave() { g_calls.push_back("page leave"); }
    void OnOpen() { g_calls.push_back("page open"); }
    void OnFailingButton() { throw new TestError; }
    // Asks for the default handling, then sends a message to its own window.
    void OnPaint() {
        g_calls.push_back("page paint");
        Default();
        BOOL handled = FALSE;
        AfxCallWndProc(this, WM_COMMAND, 1008, 0, &handled);
        g_calls.push_back(handled ? "inner handled" : "inner left");
    }
    HCURSOR OnQueryDragIcon() { return reinterpret_cast<HCURSOR>(0x1234); }
    LRESULT OnPrivate(WPARAM wParam, LPARAM lParam) {
        g_calls.push_back("private " + std::to_string(wParam) + " " + std::to_string(lParam));
        return 77;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(PageDialog, BaseDialog)
ON_BN_CLICKED(IDCANCEL, OnLeave)
ON_BN_CLICKED(1008, OnOpen)
ON_BN_CLICKED(1010, OnFailingButton)
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_MESSAGE(WM_USER + 5, OnPrivate)
END_MESSAGE_MAP()

bool OthersCanOpen(const std::wstring& path, DWORD access) {
    HANDLE file = ::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    ::CloseHandle(file);
    return true;
}

}  // namespace

TEST(MessageMap, EachMessageGoesToTheMostDerivedHandlerOrToTheDefault) {
    const struct {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        BOOL handled;
        LRESULT result;
        std::vector<std::string> calls;
    } kCases[] = {
        {WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0, TRUE, 0, {"page leave"}},
        {WM_COMMAND, MAKEWPARAM(9, BN_CLICKED), 0, TRUE, 0, {"base help"}},
        {WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0, TRUE, 0, {"base ok"}},
        {WM_COMMAND, MAKEWPARAM(4242, BN_CLICKED), 0, FALSE, 0, {}},
        {WM_COMMAND, MAKEWPARAM(1008, EN_CHANGE), 0, FALSE, 0, {}},
        {WM_TIMER, 1, 0, FALSE, 0, {}},
        {WM_INITDIALOG, 0, 0, TRUE, FALSE, {"base init"}},
        {WM_QUERYDRAGICON, 0, 0, TRUE, 0x1234, {}},
        {WM_USER + 5, 3, 4, TRUE, 77, {"private 3 4"}},
        // The request for the default handling holds for its own message only.
        {WM_PAINT, 0, 0, FALSE, 0, {"page paint", "page open", "inner handled"}},
        // An exception is reported, and the window goes on.
        {WM_COMMAND, MAKEWPARAM(1010, BN_CLICKED), 0, TRUE, 0, {"report " + std::to_string(MB_ICONERROR)}},
        {WM_COMMAND, MAKEWPARAM(1008, BN_CLICKED), 0, TRUE, 0, {"page open"}},
    };
    PageDialog page;
    for (size_t i = 0; i < std::size(kCases); ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        const auto& c = kCases[i];
        g_calls.clear();
        BOOL handled = -1;
        EXPECT_EQ(c.result, AfxCallWndProc(&page, c.message, c.wParam, c.lParam, &handled));
        EXPECT_EQ(c.handled, handled);
        EXPECT_EQ(c.calls, g_calls);
    }
}

TEST(CFile, OpensTheFileForItselfAlone) {
    const TempFolder folder;
    const std::wstring path = folder.Put(L"image.dfu", std::string(5000, 'x'));
    CFile file;
    ASSERT_TRUE(file.Open(path.c_str(), CFile::modeRead));
    EXPECT_EQ(5000u, file.GetLength());
    EXPECT_EQ(path, file.m_strFileName);
    EXPECT_FALSE(OthersCanOpen(path, GENERIC_READ));
    file.Close();
    EXPECT_EQ(INVALID_HANDLE_VALUE, file.m_hFile);
    EXPECT_TRUE(OthersCanOpen(path, GENERIC_READ | GENERIC_WRITE));
    CFile created;
    ASSERT_TRUE(created.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite));
    EXPECT_EQ(0u, created.GetLength()) << "a created file replaces what was there";
}

TEST(CFile, FileThatDidNotOpenIsNamedByItsFullPath) {
    wchar_t current[MAX_PATH];
    ::GetCurrentDirectoryW(MAX_PATH, current);
    std::wstring here = current;
    if (here.back() != L'\\')
        here += L'\\';
    const TempFolder folder;
    const std::wstring missing = folder / L"image.dfu";
    const std::pair<std::wstring, std::wstring> kCases[] = {
        {missing, missing},
        {L"no-such-image.dfu", here + L"no-such-image.dfu"},
        {L"", L""},
    };
    for (const auto& [name, fullPath] : kCases) {
        SCOPED_TRACE(name);
        CFile file;
        CFileException error;
        EXPECT_FALSE(file.Open(name.c_str(), 0, &error));
        EXPECT_EQ(fullPath, error.m_strFileName);
        if (!name.empty()) {
            EXPECT_EQ(ERROR_FILE_NOT_FOUND, error.m_lOsError);
        }
        try {
            file.GetLength();
            ADD_FAILURE() << "a file that is not open has no length";
        } catch (CFileException* e) {
            wchar_t message[512];
            EXPECT_TRUE(e->GetErrorMessage(message, 512));
            EXPECT_EQ(CFileException::invalidFile, e->m_cause);
            EXPECT_EQ(L"與 " + fullPath + L" 關聯的無效檔案控制代碼。", std::wstring(message));
            e->Delete();
        }
    }
}
