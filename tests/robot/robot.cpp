// robot: reads and presses another program's windows for the end-to-end scenarios, as a user
// would. The scenarios do the waiting (tests/e2e/winenv.py); the robot only looks and acts.
//
// A console program: one command per line on standard input, one reply line per command on
// standard output, flushed at once:  ok <JSON value>  or  err <reason>.
// Arguments are separated by blanks; a text with blanks is a JSON string ("...", UTF-8, with
// \" \\ \n escapes). A window handle is written as the robot prints it (0x00010064).
//
//   ping | quit
//   windows                  the shown top-level windows, topmost first: hwnd, title, class, owner
//   get HWND [ID]            the window, or its control ID: hwnd, id, class, text, enabled,
//                            visible, usable (what a user could press), rect; buttons add checked,
//                            progress bars pos, min and max; windows add owner and controls (id,
//                            class, text and visible of every control in them)
//   click HWND ID            BM_CLICK, refused unless the button is usable
//   type HWND ID TEXT        sets an edit box's text, refused unless it is usable and writable
//   close HWND               the title bar's close button (WM_SYSCOMMAND SC_CLOSE)
//   post HWND MSG WPARAM LPARAM    PostMessage, as the system posts its notifications
//
// Why refuse: under Wine a posted BM_CLICK presses a disabled button too, and a scenario that
// clicks a button no user could press proves nothing.

#include <windows.h>
#include <commctrl.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include <cwctype>
#include <map>
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
        if (c == L'"' || c == L'\\') {
            out += '\\';
            out += (char)c;
        } else if (c < 0x20) {
            char buf[8];
            snprintf(buf, sizeof buf, "\\u%04x", (unsigned)c);
            out += buf;
        } else {
            out += ToUtf8(std::wstring(1, c));
        }
    }
    return out + "\"";
}

std::string Json(HWND h) {
    char buf[16];
    snprintf(buf, sizeof buf, "\"0x%08lX\"", (unsigned long)(ULONG_PTR)h);
    return buf;
}

// One JSON object, members in the order they are added.
class Object {
public:
    Object& Add(const char* key, const std::string& json) {
        body_ += (body_.empty() ? "\"" : ",\"") + std::string(key) + "\":" + json;
        return *this;
    }
    Object& Add(const char* key, long long v) { return Add(key, std::to_string(v)); }
    Object& Flag(const char* key, bool v) { return Add(key, v ? "true" : "false"); }
    std::string Text() const { return "{" + body_ + "}"; }

private:
    std::string body_;
};

// The words of a command line; a word that starts with '"' is a JSON string.
bool Parse(const std::wstring& line, std::vector<std::wstring>* words) {
    for (size_t i = 0; i < line.size();) {
        if (iswspace(line[i])) {
            ++i;
            continue;
        }
        std::wstring word;
        if (line[i] != L'"') {
            while (i < line.size() && !iswspace(line[i]))
                word += line[i++];
        } else {
            for (++i; i < line.size() && line[i] != L'"'; ++i) {
                if (line[i] == L'\\' && ++i < line.size())
                    word += line[i] == L'n' ? L'\n' : line[i];
                else
                    word += line[i];
            }
            if (i++ >= line.size())
                return false;  // no closing quote
        }
        words->push_back(word);
    }
    return !words->empty();
}

// ---- windows ---------------------------------------------------------------------------------

std::wstring ClassOf(HWND h) {
    wchar_t buf[256] = {0};
    GetClassNameW(h, buf, 256);
    return buf;
}

bool IsClass(HWND h, const wchar_t* name) {
    return _wcsicmp(ClassOf(h).c_str(), name) == 0;
}

bool IsTopLevel(HWND h) {
    return GetAncestor(h, GA_PARENT) == GetDesktopWindow();
}

// A top-level caption comes from the window manager's copy; a control's text is asked for, with
// a time-out so that a busy program cannot hang the robot.
std::wstring TextOf(HWND h) {
    std::vector<wchar_t> buf;
    if (IsTopLevel(h)) {
        buf.assign(GetWindowTextLengthW(h) + 2, 0);
        GetWindowTextW(h, buf.data(), (int)buf.size());
        return buf.data();
    }
    DWORD_PTR len = 0, copied = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &len))
        return L"";
    buf.assign(len + 2, 0);
    SendMessageTimeoutW(h, WM_GETTEXT, len + 1, (LPARAM)buf.data(), SMTO_ABORTIFHUNG, kMessageTimeoutMs,
                        &copied);
    return buf.data();
}

long long Ask(HWND h, UINT message, WPARAM wParam = 0) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(h, message, wParam, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &result);
    return (long long)result;
}

// As the resource gave it: a static of a dialog template has -1, a message box's text 0xFFFF.
int ControlId(HWND h) {
    return (int)GetWindowLongPtrW(h, GWLP_ID);
}

// Enumeration callbacks are stdcall, which a lambda can't be on i686.
BOOL CALLBACK Collect(HWND h, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(h);
    return TRUE;
}

std::vector<HWND> Descendants(HWND parent) {
    std::vector<HWND> out;
    EnumChildWindows(parent, Collect, (LPARAM)&out);
    return out;
}

// The control with this id: a direct child before a deeper one, each time one of the wanted
// class first. Ids repeat: in the open-file dialog the Open button and the file list share 1,
// and the name box is an Edit inside a ComboBoxEx of the same id.
HWND FindControl(HWND top, int id, const wchar_t* wantedClass) {
    std::vector<HWND> all = Descendants(top);
    for (int pass = 0; pass < 4; ++pass) {
        bool direct = pass < 2, byClass = pass % 2 == 0;
        for (HWND h : all) {
            if (ControlId(h) == id && (!direct || GetParent(h) == top) &&
                (!byClass || IsClass(h, wantedClass)))
                return h;
        }
    }
    return nullptr;
}

// What a user could press: shown, and neither it nor any window it sits in is disabled.
bool Usable(HWND h) {
    if (!IsWindowVisible(h))
        return false;
    for (HWND w = h; w && w != GetDesktopWindow(); w = GetAncestor(w, GA_PARENT)) {
        if (!IsWindowEnabled(w))
            return false;
    }
    return true;
}

std::string Properties(HWND h) {
    RECT r = {0, 0, 0, 0};
    GetWindowRect(h, &r);
    Object o;
    o.Add("hwnd", Json(h))
        .Add("id", ControlId(h))
        .Add("class", Json(ClassOf(h)))
        .Add("text", Json(TextOf(h)));
    o.Flag("enabled", IsWindowEnabled(h)).Flag("visible", IsWindowVisible(h)).Flag("usable", Usable(h));
    o.Add("rect", "[" + std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
                      "," + std::to_string(r.bottom) + "]");
    if (IsClass(h, WC_BUTTONW))
        o.Add("checked", Ask(h, BM_GETCHECK));
    if (IsClass(h, PROGRESS_CLASSW)) {
        // PBM_GETRANGE with no PBRANGE: wParam TRUE gives the low limit, FALSE the high one.
        o.Add("pos", Ask(h, PBM_GETPOS))
            .Add("min", Ask(h, PBM_GETRANGE, TRUE))
            .Add("max", Ask(h, PBM_GETRANGE, FALSE));
    }
    if (IsTopLevel(h)) {
        std::string controls;
        for (HWND c : Descendants(h)) {
            Object control;
            control.Add("id", ControlId(c)).Add("class", Json(ClassOf(c))).Add("text", Json(TextOf(c)));
            controls += (controls.empty() ? "" : ",") + control.Flag("visible", IsWindowVisible(c)).Text();
        }
        o.Add("owner", Json(GetWindow(h, GW_OWNER))).Add("controls", "[" + controls + "]");
    }
    return o.Text();
}

BOOL CALLBACK ListShown(HWND h, LPARAM list) {
    if (IsWindowVisible(h)) {
        Object o;
        o.Add("hwnd", Json(h)).Add("title", Json(TextOf(h))).Add("class", Json(ClassOf(h)));
        std::string& out = *reinterpret_cast<std::string*>(list);
        out += (out.empty() ? "" : ",") + o.Add("owner", Json(GetWindow(h, GW_OWNER))).Text();
    }
    return TRUE;
}

// ---- commands ------------------------------------------------------------------------------

struct Reply {
    bool ok;
    std::string body;  // JSON value when ok, reason when not
};

// A command's words, read as what they name; the first problem is kept.
class Args {
public:
    explicit Args(const std::vector<std::wstring>& words) : words_(words) {}

    const std::string& Error() const { return error_; }
    size_t Count() const { return words_.size() - 1; }
    std::wstring Text(size_t i) {
        if (i + 1 < words_.size())
            return words_[i + 1];
        Fail("missing argument " + std::to_string(i + 1));
        return L"";
    }
    unsigned long long Value(size_t i) {
        std::wstring s = Text(i);
        wchar_t* end = nullptr;
        unsigned long long v = wcstoull(s.c_str(), &end, 0);
        if (s.empty() || *end != L'\0')
            Fail("argument " + std::to_string(i + 1) + " is not a number");
        return v;
    }
    HWND Window() {
        HWND h = (HWND)(ULONG_PTR)Value(0);
        if (!IsWindow(h))
            Fail("no window " + ToUtf8(Text(0)));
        return h;
    }
    // The window (no ID given) or its control with the ID, preferably of wantedClass.
    HWND Control(const wchar_t* wantedClass) {
        HWND top = Window();
        if (Count() < 2 || !error_.empty())
            return top;
        HWND h = FindControl(top, (int)Value(1), wantedClass);
        if (!h)
            Fail("no control " + ToUtf8(Text(1)) + " in " + ToUtf8(Text(0)));
        return h;
    }

private:
    void Fail(const std::string& why) {
        if (error_.empty())
            error_ = why;
    }

    const std::vector<std::wstring>& words_;
    std::string error_;
};

Reply Windows(Args&) {
    std::string list;
    EnumWindows(ListShown, (LPARAM)&list);
    return {true, "[" + list + "]"};
}

Reply Get(Args& a) {
    HWND h = a.Control(WC_BUTTONW);
    return a.Error().empty() ? Reply{true, Properties(h)} : Reply{false, a.Error()};
}

Reply Click(Args& a) {
    HWND h = a.Control(WC_BUTTONW);
    if (a.Count() != 2)
        return {false, "click needs HWND and ID"};
    if (!a.Error().empty())
        return {false, a.Error()};
    if (!IsClass(h, WC_BUTTONW))
        return {false, "control is a " + ToUtf8(ClassOf(h)) + ", not a button"};
    if (!IsWindowVisible(h))
        return {false, "refused: control is hidden"};
    if (!Usable(h))
        return {false, "refused: control or its window is disabled"};
    PostMessageW(h, BM_CLICK, 0, 0);
    return {true, "{}"};
}

Reply Type(Args& a) {
    HWND h = a.Control(WC_EDITW);
    std::wstring text = a.Text(2);
    if (!a.Error().empty())
        return {false, a.Error()};
    for (HWND inner : Descendants(h)) {
        if (!IsClass(h, WC_EDITW) && IsClass(inner, WC_EDITW))
            h = inner;
    }
    if (!IsClass(h, WC_EDITW))
        return {false, "control is a " + ToUtf8(ClassOf(h)) + ", not an edit box"};
    if (!Usable(h) || (GetWindowLongW(h, GWL_STYLE) & ES_READONLY))
        return {false, "refused: edit box is hidden, disabled or read-only"};
    DWORD_PTR done = 0;
    if (!SendMessageTimeoutW(h, WM_SETTEXT, 0, (LPARAM)text.c_str(), SMTO_ABORTIFHUNG, kMessageTimeoutMs,
                             &done) ||
        !done)
        return {false, "WM_SETTEXT failed"};
    return {true, "{}"};
}

Reply Close(Args& a) {
    HWND h = a.Window();
    if (!a.Error().empty())
        return {false, a.Error()};
    if (!Usable(h))
        return {false, "refused: window is hidden or disabled"};
    PostMessageW(h, WM_SYSCOMMAND, SC_CLOSE, 0);
    return {true, "{}"};
}

Reply Post(Args& a) {
    HWND h = a.Window();
    UINT message = (UINT)a.Value(1);
    WPARAM wParam = (WPARAM)a.Value(2);
    LPARAM lParam = (LPARAM)a.Value(3);
    if (!a.Error().empty())
        return {false, a.Error()};
    if (!PostMessageW(h, message, wParam, lParam))
        return {false, "PostMessage failed, error " + std::to_string(GetLastError())};
    return {true, "{}"};
}

Reply Dispatch(const std::vector<std::wstring>& words, bool* quit) {
    static const std::map<std::wstring, Reply (*)(Args&)> commands = {
        {L"windows", Windows}, {L"get", Get},     {L"click", Click},
        {L"type", Type},       {L"close", Close}, {L"post", Post},
    };
    if (words[0] == L"ping")
        return {true, "\"pong\""};
    if (words[0] == L"quit") {
        *quit = true;
        return {true, "\"bye\""};
    }
    auto it = commands.find(words[0]);
    if (it == commands.end())
        return {false, "unknown command " + ToUtf8(words[0])};
    Args a(words);
    return it->second(a);
}

}  // namespace

// Wide entry point (linked with -municode).
int wmain() {
    // Binary mode: commands and replies are UTF-8 lines ending in a bare \n.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    char buf[8192];
    bool quit = false;
    while (!quit && fgets(buf, sizeof buf, stdin)) {
        std::string line = buf;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        std::vector<std::wstring> words;
        Reply reply = Parse(FromUtf8(line), &words) ? Dispatch(words, &quit) : Reply{false, "syntax"};
        for (char& c : reply.body) {
            if (c == '\n' || c == '\r')
                c = ' ';  // one reply, one line
        }
        printf("%s %s\n", reply.ok ? "ok" : "err", reply.body.c_str());
        fflush(stdout);
    }
    return 0;
}
