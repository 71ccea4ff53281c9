// robot: drives another process's windows for the end-to-end tests.
//
// A console program that reads one command per line on standard input and answers each with
// exactly one line on standard output, flushed at once:
//
//     ok <JSON value>        the command did what it says; the value holds what it read
//     err <reason>           it did not (time-out, no such window, control not usable, ...)
//
// Arguments are separated by blanks. A text argument with blanks is written as a JSON string
// ("..." with \" \\ \n \uXXXX escapes); input is UTF-8. Numbers are decimal or 0x-hex; a window
// handle is written as the robot prints it (0x00010064). Options are name=value, in any order
// after the positional arguments; so a bare word with "=" in it is an option, and a text that
// holds "=" has to be quoted. Times are milliseconds; every wait polls every 20 ms and gives
// up after timeout= (default 5000).
//
//   ping                                   -> ok "pong"
//   quit                                   -> ok "bye", then the robot exits
//   wait TITLE [class=C] [id=N] [text=S] [contains=S] [not=HWND] [enabled=0|1] [timeout=MS]
//        A visible top-level window titled exactly TITLE (and of class C); with id=N it must
//        have a child N, whose text is exactly S (text=) or holds S (contains=). With contains=
//        and no id=, any child whose text holds S will do. not=HWND skips that window (the page
//        that is being replaced). -> ok {"hwnd":...}; the topmost match in z-order wins.
//   gone HWND [timeout=MS]                 -> ok {} once HWND is destroyed or hidden
//   get HWND [ID]                          -> ok {control properties} (no ID: the window itself)
//        hwnd, id, class, text, enabled, visible, usable (visible and enabled, and every
//        ancestor enabled: what a user could press), rect [l,t,r,b] in screen pixels; buttons
//        add checked (BM_GETCHECK); progress bars add pos, min, max; top-level windows add
//        owner, pid and tid.
//   until HWND ID [text=S] [contains=S] [enabled=0|1] [visible=0|1] [usable=0|1] [checked=N]
//         [pos=N] [timeout=MS]             -> ok {control properties} once all conditions hold;
//                                             err with the last properties seen on time-out
//   click HWND ID                          posts BM_CLICK to a button, refused unless usable
//   type HWND ID TEXT                      sets the text of an edit box (the deepest Edit with
//                                          that id, as in the open-file dialog's name box);
//                                          refused unless usable and writable
//   key HWND esc|enter|tab|space           posts the key to the focused control of HWND (or to
//                                          HWND), refused unless HWND is visible and enabled
//   close HWND                             posts WM_SYSCOMMAND SC_CLOSE (the title-bar button),
//                                          refused unless HWND is visible and enabled
//   box [owner=HWND] [timeout=MS]          waits for a message box (#32770 with the text static
//                                          0xFFFF) -> ok {"hwnd","owner","caption","text",
//                                          "buttons":[ids]}
//   post HWND MSG [WPARAM [LPARAM]]        PostMessage, no checks (system notifications reach
//                                          disabled windows too) -> ok {}
//   send HWND MSG [WPARAM [LPARAM]] [timeout=MS]   SendMessageTimeout -> ok {"result":N}
//   list [all]                             -> ok [top-level windows in z-order, topmost first,
//                                             each with its descendants]; visible ones only
//                                             unless "all"
//
// Why refuse: under Wine a posted BM_CLICK presses a disabled button too, and a test that
// clicks through a button the user could not press proves nothing.

#include <windows.h>
#include <commctrl.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include <cwchar>
#include <cwctype>
#include <map>
#include <string>
#include <vector>

namespace {

const DWORD kPollMs = 20;
const DWORD kDefaultTimeoutMs = 5000;
// A cross-process message waits this long for a busy UI thread (port discovery sleeps 500 ms
// per device) before the robot gives up on it.
const UINT kMessageTimeoutMs = 3000;
const wchar_t kDialogClass[] = L"#32770";
const DWORD kMessageBoxTextId = 0xFFFF;

// ---- text conversion and JSON output ------------------------------------------------------

std::string ToUtf8(const std::wstring& w) {
    if (w.empty())
        return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), nullptr, 0, nullptr, nullptr);
    std::string s(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), &s[0], n, nullptr, nullptr);
    return s;
}

std::wstring FromUtf8(const std::string& s) {
    if (s.empty())
        return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), nullptr, 0);
    std::wstring w(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), &w[0], n);
    return w;
}

std::string JsonString(const std::wstring& w) {
    std::string out = "\"";
    for (wchar_t c : w) {
        switch (c) {
            case L'"':
                out += "\\\"";
                break;
            case L'\\':
                out += "\\\\";
                break;
            case L'\n':
                out += "\\n";
                break;
            case L'\r':
                out += "\\r";
                break;
            case L'\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    snprintf(buf, sizeof buf, "\\u%04x", (unsigned)c);
                    out += buf;
                } else {
                    out += ToUtf8(std::wstring(1, c));
                }
        }
    }
    return out + "\"";
}

std::string HwndText(HWND h) {
    char buf[16];
    snprintf(buf, sizeof buf, "0x%08lX", (unsigned long)(ULONG_PTR)h);
    return buf;
}

// Builds one JSON object, member by member, in the order they are added.
class JsonObject {
public:
    JsonObject& Str(const char* key, const std::wstring& v) { return Raw(key, JsonString(v)); }
    JsonObject& Int(const char* key, long long v) { return Raw(key, std::to_string(v)); }
    JsonObject& Bool(const char* key, bool v) { return Raw(key, v ? "true" : "false"); }
    JsonObject& Hwnd(const char* key, HWND h) { return Raw(key, "\"" + HwndText(h) + "\""); }
    JsonObject& Raw(const char* key, const std::string& json) {
        body_ += body_.empty() ? "" : ",";
        body_ += "\"" + std::string(key) + "\":" + json;
        return *this;
    }
    std::string Text() const { return "{" + body_ + "}"; }

private:
    std::string body_;
};

struct Reply {
    bool ok;
    std::string body;  // JSON value when ok, reason when not
};

Reply Ok(const std::string& json) {
    return Reply{true, json};
}

Reply Err(const std::string& reason) {
    return Reply{false, reason};
}

// ---- command line parsing ------------------------------------------------------------------

struct Command {
    std::vector<std::wstring> args;  // args[0] is the command name
    std::map<std::wstring, std::wstring> options;
};

bool ReadHex4(const std::wstring& s, size_t at, unsigned* out) {
    if (at + 4 > s.size())
        return false;
    unsigned v = 0;
    for (size_t i = at; i < at + 4; ++i) {
        wchar_t c = s[i];
        v <<= 4;
        if (c >= L'0' && c <= L'9')
            v |= c - L'0';
        else if (c >= L'a' && c <= L'f')
            v |= c - L'a' + 10;
        else if (c >= L'A' && c <= L'F')
            v |= c - L'A' + 10;
        else
            return false;
    }
    *out = v;
    return true;
}

// Reads a JSON string literal starting at line[*pos] == '"'; leaves *pos after the closing quote.
bool ReadQuoted(const std::wstring& line, size_t* pos, std::wstring* out, std::string* error) {
    size_t i = *pos + 1;
    while (i < line.size() && line[i] != L'"') {
        wchar_t c = line[i++];
        if (c != L'\\') {
            *out += c;
            continue;
        }
        if (i >= line.size())
            break;
        wchar_t e = line[i++];
        switch (e) {
            case L'n':
                *out += L'\n';
                break;
            case L'r':
                *out += L'\r';
                break;
            case L't':
                *out += L'\t';
                break;
            case L'b':
                *out += L'\b';
                break;
            case L'f':
                *out += L'\f';
                break;
            case L'u': {
                unsigned v;
                if (!ReadHex4(line, i, &v)) {
                    *error = "bad \\u escape";
                    return false;
                }
                *out += (wchar_t)v;  // surrogate pairs arrive as two escapes, as UTF-16 wants
                i += 4;
                break;
            }
            default:
                *out += e;  // \" \\ \/
        }
    }
    if (i >= line.size()) {
        *error = "unterminated string";
        return false;
    }
    *pos = i + 1;
    return true;
}

bool Parse(const std::wstring& line, Command* cmd, std::string* error) {
    size_t pos = 0;
    while (true) {
        while (pos < line.size() && iswspace(line[pos]))
            ++pos;
        if (pos >= line.size())
            return true;
        std::wstring name, value;
        bool isOption = false;
        if (line[pos] != L'"') {
            size_t start = pos;
            while (pos < line.size() && !iswspace(line[pos]) && line[pos] != L'=')
                ++pos;
            name = line.substr(start, pos - start);
            if (pos < line.size() && line[pos] == L'=' && !cmd->args.empty()) {
                isOption = true;
                ++pos;
                if (pos < line.size() && line[pos] == L'"') {
                    if (!ReadQuoted(line, &pos, &value, error))
                        return false;
                } else {
                    size_t vstart = pos;
                    while (pos < line.size() && !iswspace(line[pos]))
                        ++pos;
                    value = line.substr(vstart, pos - vstart);
                }
            } else {
                while (pos < line.size() && !iswspace(line[pos]))
                    ++pos;
                name = line.substr(start, pos - start);
            }
        } else if (!ReadQuoted(line, &pos, &name, error)) {
            return false;
        }
        if (isOption)
            cmd->options[name] = value;
        else
            cmd->args.push_back(name);
    }
}

bool ParseNumber(const std::wstring& s, unsigned long long* out) {
    if (s.empty())
        return false;
    bool negative = s[0] == L'-';
    const wchar_t* start = s.c_str() + (negative ? 1 : 0);
    wchar_t* end = nullptr;
    unsigned long long v = wcstoull(start, &end, 0);
    if (end == start || *end != L'\0')
        return false;
    *out = negative ? (unsigned long long)(-(long long)v) : v;
    return true;
}

// ---- window helpers ------------------------------------------------------------------------

std::wstring ClassOf(HWND h) {
    wchar_t buf[256] = {0};
    GetClassNameW(h, buf, 256);
    return buf;
}

// Top-level captions come from the window manager's copy without messaging the owner thread;
// a control's text has to be asked for, with a time-out so a busy program can't hang the robot.
bool TextOf(HWND h, std::wstring* out) {
    if (GetAncestor(h, GA_PARENT) == GetDesktopWindow()) {
        int n = GetWindowTextLengthW(h);
        std::vector<wchar_t> buf(n + 2, 0);
        GetWindowTextW(h, buf.data(), n + 1);
        *out = buf.data();
        return true;
    }
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &len))
        return false;
    std::vector<wchar_t> buf(len + 2, 0);
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXT, len + 1, (LPARAM)buf.data(), SMTO_ABORTIFHUNG, kMessageTimeoutMs,
                             &copied))
        return false;
    *out = buf.data();
    return true;
}

std::wstring TextOrEmpty(HWND h) {
    std::wstring t;
    TextOf(h, &t);
    return t;
}

long ControlId(HWND h) {
    return (long)(int)GetWindowLongPtrW(h, GWLP_ID);
}

// Enumeration callbacks are stdcall, which a lambda can't be on i686.
BOOL CALLBACK CollectWindow(HWND h, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(h);
    return TRUE;
}

std::vector<HWND> Descendants(HWND parent) {
    std::vector<HWND> out;
    EnumChildWindows(parent, CollectWindow, (LPARAM)&out);
    return out;
}

std::vector<HWND> TopLevelWindows() {
    std::vector<HWND> out;
    EnumWindows(CollectWindow, (LPARAM)&out);
    return out;
}

bool IsClass(HWND h, const wchar_t* name) {
    return _wcsicmp(ClassOf(h).c_str(), name) == 0;
}

// The control with this id: a direct child before a deeper one, and among those one of the
// preferred class first. Ids repeat: in the open-file dialog the Open button, the toolbar and
// the file list all have id 1.
HWND FindControl(HWND top, DWORD id, const wchar_t* preferredClass = nullptr) {
    std::vector<HWND> all = Descendants(top);
    for (int pass = 0; pass < 4; ++pass) {
        bool direct = pass < 2, byClass = pass % 2 == 0;
        if (byClass && !preferredClass)
            continue;
        for (HWND h : all) {
            if ((DWORD)ControlId(h) != id || (direct && GetAncestor(h, GA_PARENT) != top))
                continue;
            if (!byClass || IsClass(h, preferredClass))
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

std::string RectJson(HWND h) {
    RECT r = {0, 0, 0, 0};
    GetWindowRect(h, &r);
    return "[" + std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom) + "]";
}

JsonObject Properties(HWND h) {
    JsonObject o;
    bool topLevel = GetAncestor(h, GA_PARENT) == GetDesktopWindow();
    o.Hwnd("hwnd", h).Int("id", topLevel ? 0 : ControlId(h)).Str("class", ClassOf(h));
    o.Str("text", TextOrEmpty(h));
    o.Bool("enabled", IsWindowEnabled(h) != FALSE).Bool("visible", IsWindowVisible(h) != FALSE);
    o.Bool("usable", Usable(h)).Raw("rect", RectJson(h));
    DWORD_PTR v = 0;
    if (IsClass(h, WC_BUTTONW) &&
        SendMessageTimeoutW(h, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &v))
        o.Int("checked", (long long)v);
    if (IsClass(h, PROGRESS_CLASSW)) {
        // PBM_GETRANGE with a null PBRANGE: wParam TRUE returns the low limit, FALSE the high one.
        DWORD_PTR pos = 0, lo = 0, hi = 0;
        SendMessageTimeoutW(h, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &pos);
        SendMessageTimeoutW(h, PBM_GETRANGE, TRUE, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &lo);
        SendMessageTimeoutW(h, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &hi);
        o.Int("pos", (int)pos).Int("min", (int)lo).Int("max", (int)hi);
    }
    if (topLevel) {
        DWORD pid = 0;
        DWORD tid = GetWindowThreadProcessId(h, &pid);
        o.Hwnd("owner", GetWindow(h, GW_OWNER)).Int("pid", pid).Int("tid", tid);
    }
    return o;
}

// ---- argument access -----------------------------------------------------------------------

class ArgReader {
public:
    explicit ArgReader(const Command& cmd) : cmd_(cmd) {}

    size_t Count() const { return cmd_.args.size() - 1; }
    bool Has(const wchar_t* option) const { return cmd_.options.count(option) != 0; }
    std::wstring Option(const wchar_t* option) const {
        auto it = cmd_.options.find(option);
        return it == cmd_.options.end() ? std::wstring() : it->second;
    }

    bool Positional(size_t i, std::wstring* out, std::string* error) const {
        if (i + 1 >= cmd_.args.size()) {
            *error = "missing argument " + std::to_string(i + 1);
            return false;
        }
        *out = cmd_.args[i + 1];
        return true;
    }

    bool Number(size_t i, unsigned long long* out, std::string* error) const {
        std::wstring s;
        if (!Positional(i, &s, error))
            return false;
        if (!ParseNumber(s, out)) {
            *error = "not a number: " + ToUtf8(s);
            return false;
        }
        return true;
    }

    bool Window(size_t i, HWND* out, std::string* error) const {
        unsigned long long v;
        if (!Number(i, &v, error))
            return false;
        *out = (HWND)(ULONG_PTR)v;
        if (!IsWindow(*out)) {
            *error = "no window " + HwndText(*out);
            return false;
        }
        return true;
    }

    bool OptionNumber(const wchar_t* option,
                      unsigned long long fallback,
                      unsigned long long* out,
                      std::string* error) const {
        if (!Has(option)) {
            *out = fallback;
            return true;
        }
        if (!ParseNumber(Option(option), out)) {
            *error = "option " + ToUtf8(option) + " is not a number";
            return false;
        }
        return true;
    }

    DWORD Timeout(std::string* error) const {
        unsigned long long v = kDefaultTimeoutMs;
        if (!OptionNumber(L"timeout", kDefaultTimeoutMs, &v, error))
            return kDefaultTimeoutMs;
        return (DWORD)v;
    }

private:
    const Command& cmd_;
};

// Polls check() every kPollMs until it holds or timeoutMs has passed since the start (unsigned
// tick difference, so a counter wrap doesn't end the wait early).
template <typename Check>
bool PollUntil(DWORD timeoutMs, Check check) {
    DWORD start = GetTickCount();
    while (true) {
        if (check())
            return true;
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(kPollMs);
    }
}

// ---- commands ------------------------------------------------------------------------------

Reply CmdWait(const ArgReader& a) {
    std::string error;
    std::wstring title;
    if (!a.Positional(0, &title, &error))
        return Err(error);
    unsigned long long id = 0, exclude = 0, enabled = 0;
    if (!a.OptionNumber(L"id", 0, &id, &error) || !a.OptionNumber(L"not", 0, &exclude, &error) ||
        !a.OptionNumber(L"enabled", 0, &enabled, &error))
        return Err(error);
    DWORD timeout = a.Timeout(&error);
    if (!error.empty())
        return Err(error);
    const bool wantId = a.Has(L"id"), wantText = a.Has(L"text"), wantContains = a.Has(L"contains");
    const std::wstring cls = a.Option(L"class"), text = a.Option(L"text"), contains = a.Option(L"contains");

    auto childMatches = [&](HWND top) {
        if (!wantId && !wantText && !wantContains)
            return true;
        if (wantId) {
            HWND c = FindControl(top, (DWORD)id);
            if (!c)
                return false;
            std::wstring t = TextOrEmpty(c);
            return (!wantText || t == text) && (!wantContains || t.find(contains) != std::wstring::npos);
        }
        for (HWND c : Descendants(top)) {
            std::wstring t = TextOrEmpty(c);
            if ((!wantText || t == text) && (!wantContains || t.find(contains) != std::wstring::npos))
                return true;
        }
        return false;
    };
    HWND found = nullptr;
    bool ok = PollUntil(timeout, [&]() {
        for (HWND h : TopLevelWindows()) {
            if (h == (HWND)(ULONG_PTR)exclude || !IsWindowVisible(h))
                continue;
            if (a.Has(L"enabled") && (IsWindowEnabled(h) != FALSE) != (enabled != 0))
                continue;
            std::wstring t;
            if (!TextOf(h, &t) || t != title)
                continue;
            if (!cls.empty() && ClassOf(h) != cls)
                continue;
            if (childMatches(h)) {
                found = h;
                return true;
            }
        }
        return false;
    });
    if (!ok)
        return Err("timeout: no window \"" + ToUtf8(title) + "\" as asked within " + std::to_string(timeout) +
                   " ms");
    return Ok(JsonObject().Hwnd("hwnd", found).Text());
}

Reply CmdGone(const ArgReader& a) {
    std::string error;
    unsigned long long v;
    if (!a.Number(0, &v, &error))
        return Err(error);
    HWND h = (HWND)(ULONG_PTR)v;
    DWORD timeout = a.Timeout(&error);
    if (!error.empty())
        return Err(error);
    if (!PollUntil(timeout, [&]() { return !IsWindow(h) || !IsWindowVisible(h); }))
        return Err("timeout: " + HwndText(h) + " still shown after " + std::to_string(timeout) + " ms");
    return Ok("{}");
}

bool ResolveControl(const ArgReader& a,
                    HWND* out,
                    std::string* error,
                    const wchar_t* preferredClass = nullptr) {
    HWND top;
    if (!a.Window(0, &top, error))
        return false;
    if (a.Count() < 2) {
        *out = top;
        return true;
    }
    unsigned long long id;
    if (!a.Number(1, &id, error))
        return false;
    *out = FindControl(top, (DWORD)id, preferredClass);
    if (!*out) {
        *error = "no control " + std::to_string((long)(DWORD)id) + " in " + HwndText(top);
        return false;
    }
    return true;
}

Reply CmdGet(const ArgReader& a) {
    std::string error;
    HWND h;
    if (!ResolveControl(a, &h, &error))
        return Err(error);
    return Ok(Properties(h).Text());
}

Reply CmdUntil(const ArgReader& a) {
    std::string error;
    HWND h;
    if (a.Count() < 2)
        return Err("until needs HWND and ID");
    if (!ResolveControl(a, &h, &error))
        return Err(error);
    unsigned long long enabled = 0, visible = 0, usable = 0, checked = 0, pos = 0;
    if (!a.OptionNumber(L"enabled", 0, &enabled, &error) ||
        !a.OptionNumber(L"visible", 0, &visible, &error) || !a.OptionNumber(L"usable", 0, &usable, &error) ||
        !a.OptionNumber(L"checked", 0, &checked, &error) || !a.OptionNumber(L"pos", 0, &pos, &error))
        return Err(error);
    DWORD timeout = a.Timeout(&error);
    if (!error.empty())
        return Err(error);
    bool ok = PollUntil(timeout, [&]() {
        if (!IsWindow(h))
            return false;
        std::wstring t = TextOrEmpty(h);
        if (a.Has(L"text") && t != a.Option(L"text"))
            return false;
        if (a.Has(L"contains") && t.find(a.Option(L"contains")) == std::wstring::npos)
            return false;
        if (a.Has(L"enabled") && (IsWindowEnabled(h) != FALSE) != (enabled != 0))
            return false;
        if (a.Has(L"visible") && (IsWindowVisible(h) != FALSE) != (visible != 0))
            return false;
        if (a.Has(L"usable") && Usable(h) != (usable != 0))
            return false;
        DWORD_PTR v = 0;
        if (a.Has(L"checked") &&
            (!SendMessageTimeoutW(h, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &v) ||
             v != checked))
            return false;
        if (a.Has(L"pos") &&
            (!SendMessageTimeoutW(h, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &v) || v != pos))
            return false;
        return true;
    });
    if (!IsWindow(h))
        return Err("window " + HwndText(h) + " is gone");
    if (!ok)
        return Err("timeout after " + std::to_string(timeout) + " ms: " + Properties(h).Text());
    return Ok(Properties(h).Text());
}

Reply CmdClick(const ArgReader& a) {
    std::string error;
    HWND h;
    if (a.Count() != 2)
        return Err("click needs HWND and ID");
    if (!ResolveControl(a, &h, &error, WC_BUTTONW))
        return Err(error);
    if (!IsClass(h, WC_BUTTONW))
        return Err("control is a " + ToUtf8(ClassOf(h)) + ", not a button");
    if (!IsWindowVisible(h))
        return Err("refused: control is hidden");
    if (!Usable(h))
        return Err("refused: control or its window is disabled");
    PostMessageW(h, BM_CLICK, 0, 0);
    return Ok("{}");
}

Reply CmdType(const ArgReader& a) {
    std::string error;
    HWND top, h;
    std::wstring text;
    unsigned long long id;
    if (!a.Window(0, &top, &error) || !a.Number(1, &id, &error) || !a.Positional(2, &text, &error))
        return Err(error);
    h = FindControl(top, (DWORD)id, WC_EDITW);
    if (h && !IsClass(h, WC_EDITW)) {
        // The open-file dialog's name box is an Edit inside a ComboBoxEx, both with this id.
        for (HWND d : Descendants(h)) {
            if (IsClass(d, WC_EDITW)) {
                h = d;
                break;
            }
        }
    }
    if (!h || !IsClass(h, WC_EDITW))
        return Err("no edit box " + std::to_string((long)(DWORD)id) + " in " + HwndText(top));
    if (!Usable(h))
        return Err("refused: edit box is hidden or disabled");
    if (GetWindowLongW(h, GWL_STYLE) & ES_READONLY)
        return Err("refused: edit box is read-only");
    DWORD_PTR r = 0;
    if (!SendMessageTimeoutW(h, WM_SETTEXT, 0, (LPARAM)text.c_str(), SMTO_ABORTIFHUNG, kMessageTimeoutMs,
                             &r) ||
        !r)
        return Err("WM_SETTEXT failed");
    return Ok("{}");
}

Reply CmdKey(const ArgReader& a) {
    std::string error;
    HWND top;
    std::wstring name;
    if (!a.Window(0, &top, &error) || !a.Positional(1, &name, &error))
        return Err(error);
    static const std::map<std::wstring, WPARAM> keys = {
        {L"esc", VK_ESCAPE}, {L"enter", VK_RETURN}, {L"tab", VK_TAB}, {L"space", VK_SPACE}};
    auto key = keys.find(name);
    if (key == keys.end())
        return Err("unknown key " + ToUtf8(name));
    if (!Usable(top))
        return Err("refused: window is hidden or disabled");
    // The dialog's message loop turns a key for the focused control into the dialog's command
    // (IsDialogMessage), as it does for a real key press.
    HWND target = top;
    GUITHREADINFO gui = {};
    gui.cbSize = sizeof gui;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(top, nullptr), &gui) && gui.hwndFocus &&
        (gui.hwndFocus == top || IsChild(top, gui.hwndFocus)))
        target = gui.hwndFocus;
    UINT scan = MapVirtualKeyW((UINT)key->second, MAPVK_VK_TO_VSC);
    PostMessageW(target, WM_KEYDOWN, key->second, 1 | (scan << 16));
    PostMessageW(target, WM_KEYUP, key->second, 1 | (scan << 16) | 0xC0000000u);
    return Ok(JsonObject().Hwnd("target", target).Text());
}

Reply CmdClose(const ArgReader& a) {
    std::string error;
    HWND top;
    if (!a.Window(0, &top, &error))
        return Err(error);
    if (!Usable(top))
        return Err("refused: window is hidden or disabled");
    PostMessageW(top, WM_SYSCOMMAND, SC_CLOSE, 0);
    return Ok("{}");
}

bool IsMessageBox(HWND h) {
    if (!IsWindowVisible(h) || ClassOf(h) != kDialogClass)
        return false;
    HWND text = GetDlgItem(h, kMessageBoxTextId);
    return text && IsClass(text, WC_STATICW);
}

Reply CmdBox(const ArgReader& a) {
    std::string error;
    unsigned long long owner = 0;
    if (!a.OptionNumber(L"owner", 0, &owner, &error))
        return Err(error);
    DWORD timeout = a.Timeout(&error);
    if (!error.empty())
        return Err(error);
    HWND box = nullptr;
    bool ok = PollUntil(timeout, [&]() {
        for (HWND h : TopLevelWindows()) {
            if (IsMessageBox(h) && (!a.Has(L"owner") || GetWindow(h, GW_OWNER) == (HWND)(ULONG_PTR)owner)) {
                box = h;
                return true;
            }
        }
        return false;
    });
    if (!ok)
        return Err("timeout: no message box within " + std::to_string(timeout) + " ms");
    std::string buttons;
    for (HWND c : Descendants(box)) {
        if (GetAncestor(c, GA_PARENT) == box && IsClass(c, WC_BUTTONW) && IsWindowVisible(c))
            buttons += (buttons.empty() ? "" : ",") + std::to_string(ControlId(c));
    }
    JsonObject o;
    o.Hwnd("hwnd", box).Hwnd("owner", GetWindow(box, GW_OWNER)).Str("caption", TextOrEmpty(box));
    o.Str("text", TextOrEmpty(GetDlgItem(box, kMessageBoxTextId))).Raw("buttons", "[" + buttons + "]");
    return Ok(o.Text());
}

// The window and message of a post or send: HWND MSG [WPARAM [LPARAM]].
struct WindowMessage {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

bool MessageArgs(const ArgReader& a, WindowMessage* out, std::string* error) {
    unsigned long long m, w = 0, l = 0;
    if (!a.Window(0, &out->window, error) || !a.Number(1, &m, error))
        return false;
    if ((a.Count() > 2 && !a.Number(2, &w, error)) || (a.Count() > 3 && !a.Number(3, &l, error)))
        return false;
    out->message = (UINT)m;
    out->wParam = (WPARAM)w;
    out->lParam = (LPARAM)l;
    return true;
}

Reply CmdPost(const ArgReader& a) {
    std::string error;
    WindowMessage m;
    if (!MessageArgs(a, &m, &error))
        return Err(error);
    if (!PostMessageW(m.window, m.message, m.wParam, m.lParam))
        return Err("PostMessage failed, error " + std::to_string(GetLastError()));
    return Ok("{}");
}

Reply CmdSend(const ArgReader& a) {
    std::string error;
    WindowMessage m;
    if (!MessageArgs(a, &m, &error))
        return Err(error);
    DWORD timeout = a.Timeout(&error);
    if (!error.empty())
        return Err(error);
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(m.window, m.message, m.wParam, m.lParam, SMTO_ABORTIFHUNG, timeout, &result))
        return Err("SendMessageTimeout failed or timed out, error " + std::to_string(GetLastError()));
    return Ok(JsonObject().Int("result", (long long)(LONG_PTR)result).Text());
}

Reply CmdList(const ArgReader& a) {
    std::wstring which;
    std::string unused;
    bool all = a.Count() > 0 && a.Positional(0, &which, &unused) && which == L"all";
    std::string out;
    for (HWND h : TopLevelWindows()) {
        if (!all && !IsWindowVisible(h))
            continue;
        std::string children;
        for (HWND c : Descendants(h)) {
            JsonObject o;
            o.Hwnd("hwnd", c).Int("id", ControlId(c)).Str("class", ClassOf(c)).Str("text", TextOrEmpty(c));
            o.Bool("enabled", IsWindowEnabled(c) != FALSE).Bool("visible", IsWindowVisible(c) != FALSE);
            children += (children.empty() ? "" : ",") + o.Text();
        }
        JsonObject w = Properties(h);
        w.Raw("children", "[" + children + "]");
        out += (out.empty() ? "" : ",") + w.Text();
    }
    return Ok("[" + out + "]");
}

Reply Dispatch(const Command& cmd, bool* quit) {
    ArgReader a(cmd);
    const std::wstring& name = cmd.args[0];
    if (name == L"ping")
        return Ok("\"pong\"");
    if (name == L"quit") {
        *quit = true;
        return Ok("\"bye\"");
    }
    static const std::map<std::wstring, Reply (*)(const ArgReader&)> table = {
        {L"wait", CmdWait},   {L"gone", CmdGone}, {L"get", CmdGet},   {L"until", CmdUntil},
        {L"click", CmdClick}, {L"type", CmdType}, {L"key", CmdKey},   {L"close", CmdClose},
        {L"box", CmdBox},     {L"post", CmdPost}, {L"send", CmdSend}, {L"list", CmdList},
    };
    auto it = table.find(name);
    if (it == table.end())
        return Err("unknown command " + ToUtf8(name));
    return it->second(a);
}

bool ReadLine(std::string* line) {
    line->clear();
    char buf[4096];
    while (fgets(buf, sizeof buf, stdin)) {
        *line += buf;
        if (!line->empty() && line->back() == '\n')
            break;
    }
    if (line->empty())
        return false;
    while (!line->empty() && (line->back() == '\n' || line->back() == '\r'))
        line->pop_back();
    return true;
}

void WriteReply(const Reply& r) {
    std::string body = r.body;
    for (char& c : body) {
        if (c == '\n' || c == '\r')
            c = ' ';  // one reply, one line
    }
    std::string line = (r.ok ? "ok " : "err ") + body + "\n";
    fwrite(line.data(), 1, line.size(), stdout);
    fflush(stdout);
}

}  // namespace

// Wide entry point (linked with -municode).
int wmain() {
    // Binary mode: replies are UTF-8 lines ending in a bare \n, and commands arrive the same way.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    std::string line;
    bool quit = false;
    while (!quit && ReadLine(&line)) {
        Command cmd;
        std::string error;
        if (!Parse(FromUtf8(line), &cmd, &error)) {
            WriteReply(Err("syntax: " + error));
            continue;
        }
        if (cmd.args.empty()) {
            WriteReply(Err("empty command"));
            continue;
        }
        WriteReply(Dispatch(cmd, &quit));
    }
    return 0;
}
