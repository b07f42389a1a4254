// Drives a Windows program's user interface from a test script as a person would, and plays the
// system's part (the end of a session, a restarted notification area). One command from the
// arguments, or from standard input each word as "=WORD" ended by a NUL, each command by one more
// NUL. Each prints a line: "ok", "ok VALUE" (fields tab-separated) or "error MESSAGE", control
// characters escaped. A class or title given as * matches any.

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/text.h"
#include "support/win32_handles.h"

namespace {

using Args = std::vector<std::wstring>;
using Reply = std::wstring;  // what "ok" is followed by; a failure is thrown

using Module = std::unique_ptr<std::remove_pointer_t<HMODULE>, decltype(&FreeLibrary)>;
using OwnWindow = std::unique_ptr<std::remove_pointer_t<HWND>, decltype(&DestroyWindow)>;

[[noreturn]] void fail(const std::wstring& problem) {
    throw std::runtime_error(tsl::toUtf8(problem));
}

constexpr DWORD kDefaultWaitMs = 10000;
constexpr UINT kSendTimeoutMs = 5000;

// A whole number, decimal or 0x hex.
long long number(const std::wstring& text) {
    return std::stoll(text, nullptr, 0);
}

DWORD waitMs(const Args& args, size_t index) {
    return index < args.size() ? DWORD(number(args[index])) : kDefaultWaitMs;
}

bool waitUntil(const std::function<bool()>& condition, DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    while (!condition()) {
        if (GetTickCount64() >= end) return false;
        Sleep(50);
    }
    return true;
}

std::wstring windowClass(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

std::wstring windowTitle(HWND window) {
    std::wstring title(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    title.resize(static_cast<size_t>(GetWindowTextW(window, title.data(), int(title.size()))));
    return title;
}

struct Query {
    std::wstring cls = L"*", title = L"*";
    bool visibleOnly = false, unowned = false;
    HWND owner = nullptr;  // only windows owned by this one, when set
};

std::vector<HWND> children(HWND parent) {
    std::vector<HWND> list;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        list.push_back(child);
    return list;
}

// Top-level windows of the desktop that match, front to back.
std::vector<HWND> findWindows(const Query& query) {
    std::vector<HWND> found;
    for (HWND w : children(GetDesktopWindow())) {
        if (query.visibleOnly && !IsWindowVisible(w)) continue;
        if ((query.unowned || query.owner) && GetWindow(w, GW_OWNER) != query.owner) continue;
        if (query.cls != L"*" && windowClass(w) != query.cls) continue;
        if (query.title == L"*" || windowTitle(w) == query.title) found.push_back(w);
    }
    return found;
}

// A dialog as a person sees it: visible, not owned by another window (message boxes are),
// standard dialog class, exactly this title.
Query dialogQuery(const std::wstring& title) {
    return {L"#32770", title, true, true, nullptr};
}

// Exactly one matching window, or the command fails.
HWND findOne(const Query& query) {
    const auto found = findWindows(query);
    if (found.size() != 1)
        fail(std::to_wstring(long(found.size())) + L" windows of class " + query.cls +
             L" titled \"" + query.title + L"\"");
    return found.front();
}

HWND findWindow(const Args& a) {
    return findOne({a.at(0), a.at(1)});
}

// The frontmost visible window of that class and title.
HWND frontWindow(const Args& a) {
    const auto found = findWindows({a.at(0), a.at(1), true});
    if (found.empty()) fail(L"no visible window of class " + a[0]);
    return found.front();
}

// A control of a dialog by id.
HWND findControl(const Args& a) {
    HWND control = GetDlgItem(findOne(dialogQuery(a.at(0))), int(number(a.at(1))));
    if (!control) fail(L"no control " + a[1]);
    return control;
}

LRESULT sendTo(HWND window, UINT message, WPARAM w, LPARAM l, UINT ms = kSendTimeoutMs) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, w, l, SMTO_NORMAL, ms, &result))
        fail(L"the window does not answer");
    return LRESULT(result);
}

// MESSAGE WPARAM LPARAM from the arguments after the window's two, sent (as the system sends
// WM_POWERBROADCAST: the answer) or posted.
Reply sendArgs(HWND window, const Args& a, bool post = false) {
    const auto m = UINT(number(a.at(2)));
    const auto w = WPARAM(number(a.at(3)));
    const auto l = LPARAM(number(a.at(4)));
    if (post && !PostMessageW(window, m, w, l)) fail(L"PostMessageW failed");
    return post ? Reply() : std::to_wstring(sendTo(window, m, w, l));
}

// The program may change the text between the two messages: read until it fits the room given.
std::wstring controlText(HWND window) {
    for (auto room = size_t(sendTo(window, WM_GETTEXTLENGTH, 0, 0)) + 2;; room *= 2) {
        std::wstring text(room, L'\0');
        const auto copied = size_t(sendTo(window, WM_GETTEXT, room, LPARAM(text.data())));
        if (copied + 1 < room) return text.substr(0, copied);
    }
}

// A push as the mouse would make it: refused for a disabled or hidden button, and posted, so a
// modal message box opened by the press does not hold up the driver.
Reply press(HWND button) {
    if (!IsWindowVisible(button) || !IsWindowEnabled(button))
        fail(L"the button is hidden or disabled");
    if (!PostMessageW(button, BM_CLICK, 0, 0)) fail(L"cannot post to the button");
    return {};
}

tsl::KernelHandle openProcess(HWND window) {
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    tsl::KernelHandle process(OpenProcess(
        SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
    if (!process) fail(L"cannot open the window's process");
    return process;
}

std::wstring programFile(HWND window) {
    wchar_t path[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (!QueryFullProcessImageNameW(openProcess(window).get(), 0, path, &size))
        fail(L"no program file");
    return path;
}

// Waits up to ms for the process to end: "EXIT-CODE MS", how long it took since start.
Reply awaitExit(HANDLE process, ULONGLONG start, DWORD ms) {
    if (WaitForSingleObject(process, ms) != WAIT_OBJECT_0)
        fail(L"still running after " + std::to_wstring(ms) + L" ms");
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    return std::to_wstring(code) + L" " + std::to_wstring((long long)(GetTickCount64() - start));
}

// The program's own template of the dialog with this title, created hidden in this process from
// the program file of the dialog's process: the dialog manager gives it the font and layout the
// template asks for at this DPI.
OwnWindow templateDialog(HWND live) {
    const Module module(
        LoadLibraryExW(programFile(live).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE), &FreeLibrary);
    struct Search {
        std::wstring title;
        OwnWindow dialog{nullptr, &DestroyWindow};
    } search{windowTitle(live)};
    EnumResourceNamesW(
        module.get(), RT_DIALOG,
        [](HMODULE file, LPCWSTR type, LPWSTR name, LONG_PTR found) -> BOOL {
            auto& s = *reinterpret_cast<Search*>(found);
            const auto* bytes = static_cast<LPCDLGTEMPLATEW>(
                LockResource(LoadResource(file, FindResourceW(file, name, type))));
            const DLGPROC idle = [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; };
            s.dialog.reset(
                CreateDialogIndirectParamW(GetModuleHandleW(nullptr), bytes, nullptr, idle, 0));
            return !s.dialog || windowTitle(s.dialog.get()) != s.title;
        },
        reinterpret_cast<LONG_PTR>(&search));
    if (!search.dialog || windowTitle(search.dialog.get()) != search.title)
        fail(L"the program has no dialog template with this title");
    return std::move(search.dialog);
}

// A text is clipped when the room it needs, measured in the dialog font, is larger than the
// control's client area: word-wrapped for statics, on one line for buttons, whose frame (and a
// group box's indent) takes room from the text. Other controls scroll their text.
std::wstring clipped(HDC dc, HWND control) {
    const std::wstring cls = windowClass(control), text = controlText(control);
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    RECT room{};
    GetClientRect(control, &room);
    UINT format = DT_CALCRECT | DT_SINGLELINE;
    if (_wcsicmp(cls.c_str(), L"Static") == 0) {
        format = DT_CALCRECT | DT_WORDBREAK;  // the dialogs' statics are plain wrapping texts
    } else if (_wcsicmp(cls.c_str(), L"Button") == 0) {
        const int frame = GetSystemMetrics(SM_CXEDGE) + 1;
        const bool groupBox = (style & BS_TYPEMASK) == BS_GROUPBOX;
        room.right -= groupBox ? 4 * frame : 2 * frame;
        if (!groupBox) room.bottom -= 2 * frame;
    } else {
        return {};
    }
    if (text.empty() || !(style & WS_VISIBLE)) return {};
    RECT need{0, 0, room.right, 0};
    DrawTextW(dc, text.c_str(), int(text.size()), &need, format);
    if (need.right <= room.right && need.bottom <= room.bottom) return {};
    return L" \"" + text + L"\" needs " + std::to_wstring(need.right) + L"x" +
           std::to_wstring(need.bottom) + L" pixels;";
}

// Every control of the program's template of this dialog is in it, and every text it now shows
// fits, measured in the template's font: "N controls", or what is wrong.
Reply checkDialog(const Args& a) {
    HWND live = findOne(dialogQuery(a.at(0)));
    const OwnWindow model = templateDialog(live);
    std::wstring problems;
    const auto want = children(model.get()), got = children(live);
    for (HWND control : want)
        if (!GetDlgItem(live, GetDlgCtrlID(control)))
            problems += L" no control " + std::to_wstring(GetDlgCtrlID(control)) + L";";
    tsl::WindowDc dc(model.get());
    SelectObject(dc.get(), HFONT(SendMessageW(model.get(), WM_GETFONT, 0, 0)));
    for (HWND control : got) {
        const std::wstring cut = clipped(dc.get(), control);
        if (!cut.empty()) problems += L" control " + std::to_wstring(GetDlgCtrlID(control)) + cut;
    }
    if (!problems.empty()) fail(problems);
    return std::to_wstring(long(want.size())) + L" controls";
}

// "wait shown|hidden|exists|gone|dialog CLASS TITLE [ms]": a visible window, none visible, a
// window (hidden ones too), none at all, exactly one dialog as dialogQuery has it.
Reply wait(const Args& a) {
    const std::wstring& mode = a.at(0);
    const bool dialog = mode == L"dialog", present = mode == L"shown" || mode == L"exists";
    const Query query = dialog ? dialogQuery(a.at(2))
                               : Query{a.at(1), a.at(2), mode == L"shown" || mode == L"hidden"};
    const auto done = [&] {
        const size_t n = findWindows(query).size();
        return dialog ? n == 1 : (n > 0) == present;
    };
    if (!waitUntil(done, waitMs(a, 3)))
        fail(L"not " + mode + L": class " + a[1] + L" titled \"" + a[2] + L"\"");
    return {};
}

// The box's title, text (the static with id 0xFFFF) and button ids, tab-separated; with a button
// id, that button is then pressed and the box must close.
Reply messageBox(const Args& a) {
    std::vector<HWND> boxes;
    const auto found = [&] {
        const auto owners = findWindows(dialogQuery(a.at(0)));
        if (owners.size() == 1) boxes = findWindows({L"#32770", L"*", true, false, owners[0]});
        return !boxes.empty();
    };
    if (!waitUntil(found, 30000)) fail(L"no message box");
    HWND box = boxes.front();
    std::wstring buttons;
    for (HWND child : children(box))
        if (IsWindowVisible(child) && _wcsicmp(windowClass(child).c_str(), L"Button") == 0)
            buttons += (buttons.empty() ? L"" : L",") + std::to_wstring(GetDlgCtrlID(child));
    const Reply seen =
        windowTitle(box) + L"\t" + controlText(GetDlgItem(box, 0xFFFF)) + L"\t" + buttons;
    if (a.size() < 2) return seen;
    press(GetDlgItem(box, int(number(a[1]))));
    if (!waitUntil([&] { return !IsWindow(box); }, kDefaultWaitMs))
        fail(L"the message box stays open");
    return seen;
}

// A key pressed and released, posted to the frontmost matching window the way the keyboard
// queues it, so that the program's own loop sees it (IsDialogMessageW for a dialog, the menu's
// loop while a menu is open).
Reply key(const Args& a) {
    HWND window = frontWindow(a);
    const auto virtualKey = UINT(number(a.at(2)));
    const LPARAM down = 1 | LPARAM(MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC)) << 16;
    PostMessageW(window, WM_KEYDOWN, virtualKey, down);
    PostMessageW(window, WM_KEYUP, virtualKey, down | 0xC0000000);
    return {};
}

// The mouse moved to a point of the screen and, with "right", right-clicked there through the
// system's input queue like a real mouse.
Reply mouse(const Args& a) {
    if (!SetCursorPos(int(number(a.at(0))), int(number(a.at(1))))) fail(L"SetCursorPos failed");
    INPUT input[2] = {};
    input[0].type = input[1].type = INPUT_MOUSE;
    input[0].mi.dwFlags = MOUSEEVENTF_RIGHTDOWN;
    input[1].mi.dwFlags = MOUSEEVENTF_RIGHTUP;
    if (a.size() > 2 && a[2] == L"right" && SendInput(2, input, sizeof(INPUT)) != 2)
        fail(L"SendInput failed");
    return {};
}

// A message posted to a window; with ms, then up to ms for its process to end: "EXIT-CODE MS".
Reply post(const Args& a) {
    HWND window = findWindow(a);
    const tsl::KernelHandle process = openProcess(window);
    const ULONGLONG start = GetTickCount64();
    sendArgs(window, a, true);
    return a.size() > 5 ? awaitExit(process.get(), start, waitMs(a, 5)) : Reply();
}

// The end of a session as Windows brings it: WM_QUERYENDSESSION and WM_ENDSESSION (TRUE), both
// sent with LPARAM. An installer's Restart Manager (ENDSESSION_CLOSEAPP, 1) then waits up to ms
// for the process to end by itself; at a log-off or shutdown the process is ended as soon as
// the handler returns, as Windows may do. "QUERY-ANSWER EXIT-CODE MS".
Reply endSession(const Args& a) {
    HWND window = findWindow(a);
    const auto lParam = LPARAM(number(a.at(2)));
    const tsl::KernelHandle process = openProcess(window);
    const DWORD ms = waitMs(a, 3);
    const ULONGLONG start = GetTickCount64();
    if (!sendTo(window, WM_QUERYENDSESSION, 0, lParam, ms)) return L"0";
    sendTo(window, WM_ENDSESSION, TRUE, lParam, ms);
    constexpr UINT kEndedBySession = 0xE5;
    if (!(lParam & ENDSESSION_CLOSEAPP)) TerminateProcess(process.get(), kEndedBySession);
    return L"1 " + awaitExit(process.get(), start, ms);
}

// A window's notification-area icon as another program can reach it: "delete" removes it (as a
// shell that restarts forgets it), "exists" asks the shell for an empty change, which it accepts
// only for an icon it has.
Reply notifyIcon(const Args& a) {
    NOTIFYICONDATAW icon{};
    icon.cbSize = sizeof icon;
    icon.hWnd = findWindow(a);
    icon.uID = UINT(number(a.at(2)));
    const bool done = Shell_NotifyIconW(a.at(3) == L"delete" ? NIM_DELETE : NIM_MODIFY, &icon);
    return done ? L"1" : L"0";
}

using Command = std::function<Reply(const Args&)>;
const std::map<std::wstring, Command> kCommands = {
    {L"wait", wait},  // shown|hidden|exists|gone|dialog CLASS TITLE [ms]
    {L"process",      // CLASS TITLE [ms]: "PID\tPROGRAM-FILE" once there is such a window
     [](const Args& a) {
         wait({L"exists", a.at(0), a.at(1), a.size() > 2 ? a[2] : L"10000"});
         DWORD id = 0;
         GetWindowThreadProcessId(findWindow(a), &id);
         return std::to_wstring(id) + L"\t" + programFile(findWindow(a));
     }},
    {L"check-dialog", checkDialog},  // TITLE
    {L"text",                        // TITLE ID...: the texts, tab-separated
     [](const Args& a) {
         Reply texts;
         for (size_t i = 1; i < a.size(); ++i)
             texts += (i > 1 ? L"\t" : L"") + controlText(findControl({a[0], a[i]}));
         return texts;
     }},
    {L"set-text",  // TITLE ID TEXT [ID TEXT]...
     [](const Args& a) {
         for (size_t i = 1; i + 1 < a.size(); i += 2)
             if (!sendTo(findControl({a[0], a[i]}), WM_SETTEXT, 0, LPARAM(a[i + 1].c_str())))
                 fail(L"refused");
         return Reply();
     }},
    {L"click", [](const Args& a) { return press(findControl(a)); }},  // TITLE ID
    {L"enabled",                                                      // TITLE ID
     [](const Args& a) { return Reply(IsWindowEnabled(findControl(a)) ? L"1" : L"0"); }},
    {L"send-item", [](const Args& a) { return sendArgs(findControl(a), a); }},  // TITLE ID M W L
    {L"msgbox", messageBox},  // OWNER-TITLE [BUTTON-ID]
    {L"post", post},          // CLASS TITLE MESSAGE WPARAM LPARAM [ms]
    {L"send", [](const Args& a) { return sendArgs(findWindow(a), a); }},  // CLASS TITLE M W L
    {L"key", key},                                                        // CLASS TITLE VIRTUAL-KEY
    {L"windows",  // the visible top-level windows, front to back, as "CLASS:TITLE"
     [](const Args&) {
         std::wstring list;
         for (HWND window : findWindows({L"*", L"*", true}))
             list +=
                 (list.empty() ? L"" : L"\t") + windowClass(window) + L":" + windowTitle(window);
         return list;
     }},
    {L"foreground",
     [](const Args&) {
         HWND window = GetForegroundWindow();
         return window ? windowClass(window) + L"\t" + windowTitle(window) : Reply(L"\t");
     }},
    {L"rect",  // CLASS TITLE: "X Y WIDTH HEIGHT" of the frontmost visible one on the screen
     [](const Args& a) {
         RECT r{};
         GetWindowRect(frontWindow(a), &r);
         return std::to_wstring(r.left) + L" " + std::to_wstring(r.top) + L" " +
                std::to_wstring(r.right - r.left) + L" " + std::to_wstring(r.bottom - r.top);
     }},
    {L"mouse", mouse},             // X Y [right]
    {L"end-session", endSession},  // CLASS TITLE LPARAM [ms]
    {L"notify-icon", notifyIcon},  // CLASS TITLE ID delete|exists
    {L"broadcast",                 // REGISTERED-MESSAGE-NAME, as the shell says "TaskbarCreated"
     [](const Args& a) {
         sendTo(HWND_BROADCAST, RegisterWindowMessageW(a.at(0).c_str()), 0, 0);
         return Reply();
     }},
};

// One command's line of output.
std::string run(const Args& words) {
    try {
        const auto found = kCommands.find(words.at(0));
        if (found == kCommands.end()) fail(L"unknown command " + words[0]);
        const Reply reply = found->second(Args(words.begin() + 1, words.end()));
        return tsl::escapeControls("ok" + (reply.empty() ? "" : " " + tsl::toUtf8(reply)));
    } catch (const std::exception& error) {  // one failed command ends only itself
        return tsl::escapeControls(std::string("error ") + error.what());
    }
}

}  // namespace

// One command from the arguments (the exit code tells how it went), or from standard input.
int wmain(int argc, wchar_t** argv) {
    // Pixels as the screen has them, whatever the DPI: what the program under test draws.
    SetProcessDPIAware();
    if (argc > 1) {
        const std::string out = run(Args(argv + 1, argv + argc));
        std::printf("%s\n", out.c_str());
        return out.rfind("ok", 0) == 0 ? 0 : 1;
    }
    Args words;
    for (std::string word; std::getline(std::cin, word, '\0');) {
        if (!word.empty()) {
            words.push_back(tsl::fromUtf8(word.substr(1)));
            continue;
        }
        std::printf("%s\n", run(words).c_str());
        std::fflush(stdout);
        words.clear();
    }
    return 0;
}
