// The class-library stand-in's dispatch, driven without windows: messages go straight to
// AfxCallWndProc as the dialog procedure would pass them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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
public:
    HICON dragIcon = reinterpret_cast<HICON>(0x1234);

protected:
    void OnLeave() { g_calls.push_back("page leave"); }
    void OnOpen() { g_calls.push_back("page open"); }
    void OnFailingButton() { throw new TestError; }
    void OnPaint() {
        g_calls.push_back("page paint");
        Default();
    }
    HCURSOR OnQueryDragIcon() { return static_cast<HCURSOR>(dragIcon); }
    LRESULT OnPrivate(WPARAM wParam, LPARAM lParam) {
        g_calls.push_back("private " + std::to_string(wParam) + " " + std::to_string(lParam));
        // A handler that sends another message to its own window.
        BOOL handled = FALSE;
        AfxCallWndProc(this, WM_COMMAND, 1008, 0, &handled);
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

struct Dispatched {
    BOOL handled;
    LRESULT result;
};

Dispatched Dispatch(CWnd& wnd, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    Dispatched d{FALSE, -1};
    d.result = AfxCallWndProc(&wnd, message, wParam, lParam, &d.handled);
    return d;
}

class MessageMapTest : public ::testing::Test {
protected:
    void SetUp() override { g_calls.clear(); }
    PageDialog page;
};

}  // namespace

TEST_F(MessageMapTest, CommandGoesToTheMostDerivedHandler) {
    const Dispatched d = Dispatch(page, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED));
    EXPECT_TRUE(d.handled);
    EXPECT_EQ(g_calls, std::vector<std::string>{"page leave"});
}

TEST_F(MessageMapTest, CommandsUnknownToTheClassFallBackToItsBases) {
    Dispatch(page, WM_COMMAND, MAKEWPARAM(9, BN_CLICKED));
    Dispatch(page, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED));
    EXPECT_EQ(g_calls, (std::vector<std::string>{"base help", "base ok"}));
}

TEST_F(MessageMapTest, UnmappedCommandsAndNotificationsAreLeftToTheDefault) {
    EXPECT_FALSE(Dispatch(page, WM_COMMAND, MAKEWPARAM(4242, BN_CLICKED)).handled);
    EXPECT_FALSE(Dispatch(page, WM_COMMAND, MAKEWPARAM(1008, EN_CHANGE)).handled);
    EXPECT_FALSE(Dispatch(page, WM_TIMER, 1).handled);
    EXPECT_TRUE(g_calls.empty());
}

TEST_F(MessageMapTest, InitDialogReturnsWhatOnInitDialogSays) {
    const Dispatched d = Dispatch(page, WM_INITDIALOG);
    EXPECT_TRUE(d.handled);
    EXPECT_EQ(d.result, FALSE);
    EXPECT_EQ(g_calls, std::vector<std::string>{"base init"});
}

TEST_F(MessageMapTest, HandlersGetTheirArgumentsAndGiveTheirResults) {
    const Dispatched drag = Dispatch(page, WM_QUERYDRAGICON);
    EXPECT_TRUE(drag.handled);
    EXPECT_EQ(drag.result, reinterpret_cast<LRESULT>(page.dragIcon));

    const Dispatched priv = Dispatch(page, WM_USER + 5, 3, 4);
    EXPECT_TRUE(priv.handled);
    EXPECT_EQ(priv.result, 77);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"private 3 4", "page open"}));
}

TEST_F(MessageMapTest, AHandlerCanAskForTheDefaultHandling) {
    const Dispatched d = Dispatch(page, WM_PAINT);
    EXPECT_FALSE(d.handled);
    EXPECT_EQ(g_calls, std::vector<std::string>{"page paint"});
    // The request does not stick to the next message.
    EXPECT_TRUE(Dispatch(page, WM_QUERYDRAGICON).handled);
}

TEST_F(MessageMapTest, AnExceptionFromAHandlerIsReportedAndTheWindowGoesOn) {
    const Dispatched d = Dispatch(page, WM_COMMAND, MAKEWPARAM(1010, BN_CLICKED));
    EXPECT_TRUE(d.handled);
    EXPECT_EQ(g_calls, std::vector<std::string>{"report " + std::to_string(MB_ICONERROR)});
    Dispatch(page, WM_COMMAND, MAKEWPARAM(1008, BN_CLICKED));
    EXPECT_EQ(g_calls.back(), "page open");
}
