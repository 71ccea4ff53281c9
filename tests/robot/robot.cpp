// robot: reads and presses another program's windows for the end-to-end scenarios, as a user
// would. It only looks and acts; the scenarios find the controls and do the waiting
// (tests/harness/winenv.py).
//
// A console program: one command per line on standard input, one reply line per command on
// standard output, flushed at once:  ok <JSON value>  or  err <reason>; it ends with its input.
// Arguments are separated by blanks; window handles are decimal numbers. A control that does
// not answer a read in time makes the reply an error, never an empty text or a 0 that would
// pass for what the control shows; "err no window HWND" if the window closed meanwhile.
//
//   ping
//   temp                the temporary folder of this Wine user, as a program finds it
//   windows             the shown top-level windows, topmost first: hwnd, title, class, owner
//   get HWND            a top-level window: hwnd, title, class, enabled, owner, rect, and its
//                       controls: hwnd, parent, id, class, text, enabled, visible, usable (what
//                       a user could press); buttons add checked, progress bars pos, min, max
//   click HWND          BM_CLICK to a button, refused unless the button is usable
//   type HWND TEXT      sets the text of an edit box (or of the one inside HWND) to the rest of
//                       the line, refused unless it is usable and writable
//   post HWND MSG WPARAM LPARAM    PostMessage, as the system posts its notifications
//
// Why refuse: under Wine a posted BM_CLICK presses a disabled button too, and a scenario that
// clicks a button no user could press proves nothing.

#include <windows.h>
#include <commctrl.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include <string>
#include <vector>

namespace {

// How long a busy program (a port scan sleeps 500 ms per device) may take to answer a message.
const UINT kMessageTimeoutMs = 3000;

std::string ToUtf8(const std::wstring& w) {
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), nullptr, 0, nullptr, nullptr);
    std::string s(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), &s[0], n, nullptr, nullptr);
    return s;
}

std::wstring FromUtf8(const std::string& s) {
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), nullptr, 0);
    std::wstring w(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), &w[0], n);
    return w;
}

std::string Json(const std::wstring& w) {
    std::string out = "\"";
    for (wchar_t c : w) {
        char control[8];
        snprintf(control, sizeof control, "\\u%04x", (unsigned)c);
        if (c == L'"' || c == L'\\')
            out += std::string("\\") + (char)c;
        else
            out += c < 0x20 ? control : ToUtf8(std::wstring(1, c));
    }
    return out + "\"";
}

// One JSON object, members in the order they are added.
class Object {
public:
    Object& Add(const char* key, const std::string& json) {
        body_ += (body_.empty() ? "\"" : ",\"") + std::string(key) + "\":" + json;
        return *this;
    }
    Object& Add(const char* key, long long v) { return Add(key, std::to_string(v)); }
    Object& Add(const char* key, HWND h) { return Add(key, (long long)(ULONG_PTR)h); }
    Object& Flag(const char* key, bool v) { return Add(key, v ? "true" : "false"); }
    std::string Text() const { return "{" + body_ + "}"; }

private:
    std::string body_;
};

// The words of a command line, separated by blanks; the text of "type" is the rest of its line.
std::vector<std::wstring> Words(const std::wstring& line) {
    std::vector<std::wstring> words;
    for (size_t at = 0; at < line.size();) {
        if (words.size() == 2 && words[0] == L"type") {
            words.push_back(line.substr(at));
            break;
        }
        size_t end = line.find(L' ', at);
        if (end == std::wstring::npos)
            end = line.size();
        if (end > at)
            words.push_back(line.substr(at, end - at));
        at = end + 1;
    }
    return words;
}

std::wstring ClassOf(HWND h) {
    wchar_t buf[256] = {0};
    GetClassNameW(h, buf, 256);
    return buf;
}

bool IsClass(HWND h, const wchar_t* name) {
    return _wcsicmp(ClassOf(h).c_str(), name) == 0;
}

// Thrown by a read that got no answer; Run turns it into the command's error reply.
struct NoAnswer {
    std::string reason;
};

// Asks another process's control, with a time-out so that a busy program cannot hang the robot.
DWORD_PTR Ask(HWND h, const char* name, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(h, message, wParam, lParam, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &result)) {
        std::string window = std::to_string((ULONG_PTR)h);
        throw NoAnswer{IsWindow(h) ? std::string(name) + " to " + window + " got no answer within " +
                                         std::to_string(kMessageTimeoutMs) + " ms"
                                   : "no window " + window};
    }
    return result;
}

// A top-level caption comes from the window manager's copy; a control's text is asked for.
std::wstring TextOf(HWND h) {
    std::vector<wchar_t> buf;
    if (GetAncestor(h, GA_PARENT) == GetDesktopWindow()) {
        buf.assign(GetWindowTextLengthW(h) + 2, 0);
        GetWindowTextW(h, buf.data(), (int)buf.size());
        return buf.data();
    }
    buf.assign(Ask(h, "WM_GETTEXTLENGTH", WM_GETTEXTLENGTH) + 2, 0);
    Ask(h, "WM_GETTEXT", WM_GETTEXT, buf.size() - 1, (LPARAM)buf.data());
    return buf.data();
}

// Enumeration callbacks are stdcall, which a lambda can't be on i686.
BOOL CALLBACK Collect(HWND h, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(h);
    return TRUE;
}

// What a user could press: shown, and neither it nor any window it sits in is disabled.
bool Usable(HWND h) {
    for (HWND w = h; w && w != GetDesktopWindow(); w = GetAncestor(w, GA_PARENT)) {
        if (!IsWindowVisible(w) || !IsWindowEnabled(w))
            return false;
    }
    return true;
}

std::string Control(HWND h) {
    Object o;
    // The id as the resource gave it: -1 for a dialog's static text, 65535 for a message box's.
    o.Add("hwnd", h).Add("parent", GetParent(h)).Add("id", (long long)(int)GetWindowLongPtrW(h, GWLP_ID));
    o.Add("class", Json(ClassOf(h))).Add("text", Json(TextOf(h))).Flag("enabled", IsWindowEnabled(h));
    o.Flag("visible", IsWindowVisible(h)).Flag("usable", Usable(h));
    if (IsClass(h, WC_BUTTONW))
        o.Add("checked", (long long)Ask(h, "BM_GETCHECK", BM_GETCHECK));
    if (IsClass(h, PROGRESS_CLASSW)) {
        // PBM_GETRANGE with no PBRANGE: wParam TRUE gives the low limit, FALSE the high one.
        o.Add("pos", (long long)Ask(h, "PBM_GETPOS", PBM_GETPOS))
            .Add("min", (long long)Ask(h, "PBM_GETRANGE", PBM_GETRANGE, TRUE))
            .Add("max", (long long)Ask(h, "PBM_GETRANGE", PBM_GETRANGE, FALSE));
    }
    return o.Text();
}

std::string Window(HWND h, bool withControls) {
    Object o;
    o.Add("hwnd", h)
        .Add("title", Json(TextOf(h)))
        .Add("class", Json(ClassOf(h)))
        .Add("owner", GetWindow(h, GW_OWNER));
    if (withControls) {
        RECT r = {0, 0, 0, 0};
        GetWindowRect(h, &r);
        o.Flag("enabled", IsWindowEnabled(h))
            .Add("rect", "[" + std::to_string(r.left) + "," + std::to_string(r.top) + "," +
                             std::to_string(r.right) + "," + std::to_string(r.bottom) + "]");
        std::vector<HWND> children;
        EnumChildWindows(h, Collect, (LPARAM)&children);
        std::string controls;
        for (HWND c : children)
            controls += (controls.empty() ? "" : ",") + Control(c);
        o.Add("controls", "[" + controls + "]");
    }
    return o.Text();
}

struct Reply {
    bool ok;
    std::string body;  // JSON value when ok, reason when not
};

Reply Run(const std::vector<std::wstring>& words) {
    const std::wstring& name = words[0];
    HWND h = nullptr;
    unsigned long long number[4] = {0, 0, 0, 0};
    for (size_t i = 1; i < words.size() && i <= 4; ++i) {
        wchar_t* end = nullptr;
        number[i - 1] = wcstoull(words[i].c_str(), &end, 10);
        if (i == 1 && (*end != L'\0' || !IsWindow(h = (HWND)(ULONG_PTR)number[0])))
            return {false, "no window " + ToUtf8(words[i])};
    }
    if (name == L"ping")
        return {true, "\"pong\""};
    if (name == L"temp") {
        wchar_t folder[MAX_PATH + 1];
        return {true, Json(std::wstring(folder, GetTempPathW(MAX_PATH + 1, folder)))};
    }
    if (name == L"windows") {
        std::vector<HWND> all;
        EnumWindows(Collect, (LPARAM)&all);
        std::string list;
        for (HWND w : all) {
            if (IsWindowVisible(w))
                list += (list.empty() ? "" : ",") + Window(w, false);
        }
        return {true, "[" + list + "]"};
    }
    if (!h)
        return {false, "unknown command or no window given"};
    if (name == L"get")
        return {true, Window(h, true)};
    if (name == L"click") {
        if (!IsClass(h, WC_BUTTONW))
            return {false, "control is a " + ToUtf8(ClassOf(h)) + ", not a button"};
        if (!IsWindowVisible(h))
            return {false, "refused: control is hidden"};
        if (!Usable(h))
            return {false, "refused: control or its window is disabled"};
        PostMessageW(h, BM_CLICK, 0, 0);
        return {true, "{}"};
    }
    if (name == L"type" && words.size() == 3) {
        // The open-file dialog's name box is an Edit inside a ComboBoxEx.
        std::vector<HWND> inner{h};
        EnumChildWindows(h, Collect, (LPARAM)&inner);
        for (HWND e : inner) {
            if (IsClass(e, WC_EDITW) && Usable(e) && !(GetWindowLongW(e, GWL_STYLE) & ES_READONLY)) {
                DWORD_PTR done = 0;
                SendMessageTimeoutW(e, WM_SETTEXT, 0, (LPARAM)words[2].c_str(), SMTO_ABORTIFHUNG,
                                    kMessageTimeoutMs, &done);
                return done ? Reply{true, "{}"} : Reply{false, "WM_SETTEXT failed"};
            }
        }
        return {false, "refused: no usable, writable edit box"};
    }
    if (name == L"post" && words.size() == 5) {
        if (!PostMessageW(h, (UINT)number[1], (WPARAM)number[2], (LPARAM)number[3]))
            return {false, "PostMessage failed, error " + std::to_string(GetLastError())};
        return {true, "{}"};
    }
    return {false, "unknown command or wrong arguments"};
}

}  // namespace

// Wide entry point (linked with -municode).
int wmain() {
    // Binary mode: commands and replies are UTF-8 lines ending in a bare \n.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    char buf[8192];
    while (fgets(buf, sizeof buf, stdin)) {
        std::string line = buf;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        const std::vector<std::wstring> words = Words(FromUtf8(line));
        Reply reply{false, "syntax"};
        try {
            if (!words.empty())
                reply = Run(words);
        } catch (const NoAnswer& e) {
            reply = {false, e.reason};
        }
        for (char& c : reply.body) {
            if (c == '\n' || c == '\r')
                c = ' ';  // one reply, one line
        }
        printf("%s %s\n", reply.ok ? "ok" : "err", reply.body.c_str());
        fflush(stdout);
    }
    return 0;
}
