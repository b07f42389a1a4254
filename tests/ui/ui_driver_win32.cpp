// Drives a Windows program's user interface from a test script, the way a person would use it:
// finds top-level windows by class and title, reads and types control texts, presses buttons,
// answers message boxes, posts messages, and takes screenshots (PNG) of what the screen shows.
// It also plays the system's part: ends a session, restarts the shell's notification area.
//
// One command from the arguments, or one command per line on standard input. Every command prints
// exactly one line: "ok", "ok VALUE" or "error MESSAGE". Values are escaped (\r, \n, \t, \\, \xHH)
// so that a script can compare texts with line breaks exactly; fields within a value are
// separated by a tab. Arguments are separated by blanks; "double quotes" keep blanks and take the
// same escapes. A class or title given as * matches any.

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <exception>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "support/win32_handles.h"

namespace {

using tsl::GdiObject;
using tsl::WindowDc;
using Args = std::vector<std::wstring>;

struct Reply {
    bool ok = true;
    std::wstring text;
};
Reply ok(std::wstring text = {}) {
    return {true, std::move(text)};
}
Reply fail(std::wstring text) {
    return {false, std::move(text)};
}

struct MemoryDcDeleter {
    void operator()(HDC dc) const { DeleteDC(dc); }
};
using MemoryDc = std::unique_ptr<std::remove_pointer_t<HDC>, MemoryDcDeleter>;

constexpr DWORD kDefaultWaitMs = 10000;
constexpr UINT kSendTimeoutMs = 5000;

// ---- text ----

std::string toUtf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

std::wstring fromUtf8(const std::string& text) {
    if (text.empty()) return {};
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

std::string escape(const std::wstring& text) {
    std::string out;
    for (const unsigned char c : toUtf8(text)) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c < 0x20 || c == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// Splits a command line into words; quotes keep blanks, escapes work inside quotes.
std::optional<Args> splitWords(const std::string& line) {
    Args words;
    size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ' || line[i] == '\t' || line[i] == '\r') {
            ++i;
            continue;
        }
        std::string word;
        if (line[i] != '"') {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
                word += line[i++];
        } else {
            for (++i; i < line.size() && line[i] != '"'; ++i) {
                if (line[i] != '\\' || i + 1 == line.size()) {
                    word += line[i];
                    continue;
                }
                const char e = line[++i];
                word += e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : e;
            }
            if (i == line.size()) return std::nullopt;  // no closing quote
            ++i;
        }
        words.push_back(fromUtf8(word));
    }
    return words;
}

std::optional<long long> number(const std::wstring& text) {
    if (text.empty()) return std::nullopt;
    wchar_t* end = nullptr;
    const long long value = std::wcstoll(text.c_str(), &end, 0);
    if (*end != L'\0') return std::nullopt;
    return value;
}

std::wstring decimal(long long value) {
    return std::to_wstring(value);
}

// ---- finding windows ----

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
    std::wstring cls = L"*";
    std::wstring title = L"*";
    bool visibleOnly = false;
    bool unowned = false;
    HWND owner = nullptr;  // only windows owned by this one, when set
};

bool matches(HWND window, const Query& query) {
    if (query.visibleOnly && !IsWindowVisible(window)) return false;
    if (query.unowned && GetWindow(window, GW_OWNER)) return false;
    if (query.owner && GetWindow(window, GW_OWNER) != query.owner) return false;
    if (query.cls != L"*" && windowClass(window) != query.cls) return false;
    return query.title == L"*" || windowTitle(window) == query.title;
}

// Top-level windows of the desktop, front to back.
std::vector<HWND> findWindows(const Query& query) {
    std::vector<HWND> all;
    EnumWindows(
        [](HWND window, LPARAM list) {
            reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&all));
    std::vector<HWND> found;
    for (HWND window : all)
        if (matches(window, query)) found.push_back(window);
    return found;
}

// A dialog as a person sees it: visible, not owned by another window (message boxes are),
// standard dialog class, exactly this title.
Query dialogQuery(const std::wstring& title) {
    return {L"#32770", title, true, true, nullptr};
}

struct Found {
    HWND window = nullptr;
    std::wstring problem;
};

Found findOne(const Query& query, const std::wstring& what) {
    const auto found = findWindows(query);
    if (found.empty()) return {nullptr, L"no " + what};
    if (found.size() > 1) return {nullptr, decimal(long(found.size())) + L" windows match " + what};
    return {found.front(), {}};
}

Found findDialog(const std::wstring& title) {
    return findOne(dialogQuery(title), L"dialog \"" + title + L"\"");
}

Found findControl(const std::wstring& title, const std::wstring& id) {
    Found dialog = findDialog(title);
    if (!dialog.window) return dialog;
    const auto value = number(id);
    if (!value) return {nullptr, L"bad control id " + id};
    if (*value == 0) return dialog;  // the dialog's own title
    HWND control = GetDlgItem(dialog.window, int(*value));
    if (!control) return {nullptr, L"no control " + id + L" in \"" + title + L"\""};
    return {control, {}};
}

DWORD waitMs(const Args& args, size_t index) {
    if (index >= args.size()) return kDefaultWaitMs;
    return DWORD(number(args[index]).value_or(kDefaultWaitMs));
}

bool waitUntil(const std::function<bool()>& condition, DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    for (;;) {
        if (condition()) return true;
        if (GetTickCount64() >= end) return false;
        Sleep(50);
    }
}

// ---- talking to another process's windows ----

std::optional<std::wstring> controlText(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                             &length))
        return std::nullopt;
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, kSendTimeoutMs, &copied))
        return std::nullopt;
    text.resize(std::min<size_t>(copied, length));
    return text;
}

// A push as the mouse would make it: refused for a disabled or hidden button, and posted, so a
// modal message box opened by the press does not hold up the driver.
Reply press(HWND button) {
    if (!IsWindowVisible(button)) return fail(L"the button is hidden");
    if (!IsWindowEnabled(button)) return fail(L"the button is disabled");
    if (!PostMessageW(button, BM_CLICK, 0, 0)) return fail(L"cannot post to the button");
    return ok();
}

Found findMessageBox(const std::wstring& ownerTitle, DWORD ms) {
    Found box{nullptr, L"no message box owned by \"" + ownerTitle + L"\""};
    waitUntil(
        [&] {
            const Found owner = findDialog(ownerTitle);
            if (!owner.window) return false;
            const auto boxes = findWindows({L"#32770", L"*", true, false, owner.window});
            if (boxes.empty()) return false;
            box = {boxes.front(), {}};
            return true;
        },
        ms);
    return box;
}

// ---- pictures ----

struct Image {
    int width = 0, height = 0;
    std::vector<std::uint32_t> pixels;  // 0x00RRGGBB, rows top-down
};

BITMAPINFO topDown32(int width, int height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

std::optional<Image> captureScreen(const RECT& area) {
    Image image{area.right - area.left, area.bottom - area.top, {}};
    if (image.width <= 0 || image.height <= 0) return std::nullopt;
    BITMAPINFO info = topDown32(image.width, image.height);
    WindowDc screen(nullptr);
    void* bits = nullptr;
    GdiObject<HBITMAP> bitmap(
        CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    MemoryDc memory(CreateCompatibleDC(screen.get()));
    if (!bitmap || !memory) return std::nullopt;
    const HGDIOBJ previous = SelectObject(memory.get(), bitmap.get());
    const BOOL copied = BitBlt(memory.get(), 0, 0, image.width, image.height, screen.get(),
                               area.left, area.top, SRCCOPY | CAPTUREBLT);
    SelectObject(memory.get(), previous);
    if (!copied) return std::nullopt;
    GdiFlush();
    const auto* source = static_cast<const std::uint32_t*>(bits);
    image.pixels.assign(source, source + size_t(image.width) * size_t(image.height));
    for (auto& pixel : image.pixels)
        pixel &= 0xFFFFFF;
    return image;
}

std::uint32_t crc32(const std::uint8_t* data, size_t size, std::uint32_t crc = 0) {
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void appendBigEndian(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out += char((value >> shift) & 0xFF);
}

void appendChunk(std::string& png, const char* type, const std::string& data) {
    appendBigEndian(png, std::uint32_t(data.size()));
    const std::string typed = std::string(type, 4) + data;
    png += typed;
    appendBigEndian(png, crc32(reinterpret_cast<const std::uint8_t*>(typed.data()), typed.size()));
}

// A zlib stream of stored (uncompressed) blocks: small code, and screenshots stay a few MB.
std::string zlibStored(const std::string& raw) {
    std::string out = "\x78\x01";
    std::uint32_t a = 1, b = 0;
    for (const unsigned char c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    size_t at = 0;
    do {
        const size_t n = std::min<size_t>(raw.size() - at, 65535);
        out += char(at + n == raw.size() ? 1 : 0);
        out += char(n & 0xFF);
        out += char(n >> 8);
        out += char(~n & 0xFF);
        out += char((~n >> 8) & 0xFF);
        out.append(raw, at, n);
        at += n;
    } while (at < raw.size());
    appendBigEndian(out, (b << 16) | a);
    return out;
}

bool writePng(const std::wstring& path, const Image& image) {
    std::string header;
    appendBigEndian(header, std::uint32_t(image.width));
    appendBigEndian(header, std::uint32_t(image.height));
    header += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB, no interlace
    std::string raw;
    raw.reserve(size_t(image.height) * (size_t(image.width) * 3 + 1));
    for (int y = 0; y < image.height; ++y) {
        raw += '\0';  // filter: none
        for (int x = 0; x < image.width; ++x) {
            const std::uint32_t pixel = image.pixels[size_t(y) * size_t(image.width) + size_t(x)];
            raw += char(pixel >> 16);
            raw += char(pixel >> 8);
            raw += char(pixel);
        }
    }
    std::string png = "\x89PNG\r\n\x1a\n";
    appendChunk(png, "IHDR", header);
    appendChunk(png, "IDAT", zlibStored(raw));
    appendChunk(png, "IEND", {});
    FILE* file = _wfopen(path.c_str(), L"wb");
    if (!file) return false;
    const bool written = std::fwrite(png.data(), 1, png.size(), file) == png.size();
    return std::fclose(file) == 0 && written;
}

// Unix paths from the script name the same file through Wine's drive Z:.
std::wstring windowsPath(std::wstring path) {
    if (path.empty() || path[0] != L'/') return path;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return L"Z:" + path;
}

std::optional<Image> captureWindow(HWND window) {
    RECT area{};
    if (!GetWindowRect(window, &area)) return std::nullopt;
    return captureScreen(area);
}

// ---- the dialog font, measured in this process ----

// The font a dialog template names, made the way the dialog manager makes it.
GdiObject<HFONT> templateFont(const std::wstring& face, int points) {
    WindowDc screen(nullptr);
    const int pixels = points * GetDeviceCaps(screen.get(), LOGPIXELSY) / 72;
    return GdiObject<HFONT>(CreateFontW(-pixels, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                        DEFAULT_CHARSET, 0, 0, PROOF_QUALITY, FF_DONTCARE,
                                        face.c_str()));
}

// Dialog base units of a font: the average width of the 52 letters and the character height.
SIZE baseUnits(HDC dc) {
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SIZE letters{};
    GetTextExtentPoint32W(dc, L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52,
                          &letters);
    return {(letters.cx / 26 + 1) / 2, metrics.tmHeight};
}

RECT clientRectIn(HWND control, HWND dialog) {
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

std::wstring rectText(const RECT& r) {
    return decimal(r.left) + L"," + decimal(r.top) + L"," + decimal(r.right - r.left) + L"," +
           decimal(r.bottom - r.top);
}

// How a control's text is measured: with word breaks for wrapping statics, on one line for
// buttons, whose frame (and a group box's indent) takes room from the text; nothing for others.
std::optional<UINT> textFormat(HWND control, RECT& room) {
    const std::wstring cls = windowClass(control);
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    if (_wcsicmp(cls.c_str(), L"Static") == 0) {
        const LONG type = style & SS_TYPEMASK;
        if (type > SS_RIGHT && type != SS_LEFTNOWORDWRAP && type != SS_SIMPLE) return std::nullopt;
        return UINT(DT_CALCRECT | (type <= SS_RIGHT ? DT_WORDBREAK : 0) |
                    (style & SS_NOPREFIX ? DT_NOPREFIX : 0));
    }
    if (_wcsicmp(cls.c_str(), L"Button") != 0) return std::nullopt;
    const int frame = GetSystemMetrics(SM_CXEDGE) + 1;
    const bool groupBox = (style & BS_TYPEMASK) == BS_GROUPBOX;
    room.right -= groupBox ? 4 * frame : 2 * frame;
    if (!groupBox) room.bottom -= 2 * frame;
    return UINT(DT_CALCRECT | DT_SINGLELINE);
}

struct Fit {
    bool measured = false;
    std::wstring problem;  // "" when the text fits
};

// A text is clipped when the room it needs, measured in the dialog font, is larger than the
// control's client area.
Fit fitOf(HDC dc, HWND control) {
    const auto text = controlText(control);
    RECT room{};
    GetClientRect(control, &room);
    const auto format = textFormat(control, room);
    if (!format || !text || text->empty() || !IsWindowVisible(control)) return {};
    RECT need{0, 0, room.right, 0};
    DrawTextW(dc, text->c_str(), int(text->size()), &need, *format);
    if (need.right <= room.right && need.bottom <= room.bottom) return {true, {}};
    return {true, decimal(GetDlgCtrlID(control)) + L" \"" + *text + L"\" needs " +
                      decimal(need.right) + L"x" + decimal(need.bottom) + L" in " +
                      decimal(room.right) + L"x" + decimal(room.bottom)};
}

// ---- commands ----

Reply waitShown(const Args& a) {
    const Query query{a.at(0), a.at(1), true};
    if (waitUntil([&] { return !findWindows(query).empty(); }, waitMs(a, 2))) return ok();
    return fail(L"no visible window of class " + a[0] + L" titled \"" + a[1] + L"\"");
}

Reply waitHidden(const Args& a) {
    const Query query{a.at(0), a.at(1), true};
    if (waitUntil([&] { return findWindows(query).empty(); }, waitMs(a, 2))) return ok();
    return fail(L"still shown: class " + a[0] + L" titled \"" + a[1] + L"\"");
}

Reply waitDialog(const Args& a) {
    Found found;
    waitUntil(
        [&] {
            found = findDialog(a.at(0));
            return found.window != nullptr;
        },
        waitMs(a, 1));
    return found.window ? ok() : fail(found.problem);
}

Reply waitGone(const Args& a) {
    const Query query{a.at(0), a.at(1)};
    if (waitUntil([&] { return findWindows(query).empty(); }, waitMs(a, 2))) return ok();
    return fail(L"still there: class " + a[0] + L" titled \"" + a[1] + L"\"");
}

Reply countDialogs(const Args& a) {
    return ok(decimal(long(findWindows(dialogQuery(a.at(0))).size())));
}

Reply getText(const Args& a) {
    const Found control = findControl(a.at(0), a.at(1));
    if (!control.window) return fail(control.problem);
    const auto text = controlText(control.window);
    return text ? ok(*text) : fail(L"the window does not answer");
}

Reply setText(const Args& a) {
    const Found control = findControl(a.at(0), a.at(1));
    if (!control.window) return fail(control.problem);
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(control.window, WM_SETTEXT, 0,
                             reinterpret_cast<LPARAM>(a.at(2).c_str()), SMTO_ABORTIFHUNG,
                             kSendTimeoutMs, &result) ||
        !result)
        return fail(L"the text was not taken");
    return ok();
}

Reply click(const Args& a) {
    const Found control = findControl(a.at(0), a.at(1));
    return control.window ? press(control.window) : fail(control.problem);
}

Reply enabled(const Args& a) {
    const Found control = findControl(a.at(0), a.at(1));
    if (!control.window) return fail(control.problem);
    return ok(IsWindowEnabled(control.window) ? L"1" : L"0");
}

// The box's title, text (the static with id 0xFFFF) and button ids, tab-separated.
Reply messageBox(const Args& a) {
    const Found box = findMessageBox(a.at(0), waitMs(a, 1));
    if (!box.window) return fail(box.problem);
    const auto text = controlText(GetDlgItem(box.window, 0xFFFF));
    std::wstring buttons;
    for (HWND child = GetWindow(box.window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (IsWindowVisible(child) && _wcsicmp(windowClass(child).c_str(), L"Button") == 0)
            buttons += (buttons.empty() ? L"" : L",") + decimal(GetDlgCtrlID(child));
    return ok(windowTitle(box.window) + L"\t" + text.value_or(L"") + L"\t" + buttons);
}

Reply answer(const Args& a) {
    const Found box = findMessageBox(a.at(0), kDefaultWaitMs);
    if (!box.window) return fail(box.problem);
    const auto id = number(a.at(1));
    HWND button = id ? GetDlgItem(box.window, int(*id)) : nullptr;
    if (!button) return fail(L"the message box has no button " + a[1]);
    const Reply pressed = press(button);
    if (!pressed.ok) return pressed;
    if (!waitUntil([&] { return !IsWindow(box.window); }, kDefaultWaitMs))
        return fail(L"the message box stays open");
    return ok();
}

Reply post(const Args& a) {
    const Found window = findOne({a.at(0), a.at(1)}, L"window of class " + a[0]);
    const auto message = number(a.at(2)), wParam = number(a.at(3)), lParam = number(a.at(4));
    if (!window.window) return fail(window.problem);
    if (!message || !wParam || !lParam) return fail(L"bad message numbers");
    if (!PostMessageW(window.window, UINT(*message), WPARAM(*wParam), LPARAM(*lParam)))
        return fail(L"PostMessageW failed");
    return ok();
}

Reply sendToItem(const Args& a) {
    const Found control = findControl(a.at(0), a.at(1));
    const auto message = number(a.at(2)), wParam = number(a.at(3)), lParam = number(a.at(4));
    if (!control.window) return fail(control.problem);
    if (!message || !wParam || !lParam) return fail(L"bad message numbers");
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(control.window, UINT(*message), WPARAM(*wParam), LPARAM(*lParam),
                             SMTO_ABORTIFHUNG, kSendTimeoutMs, &result))
        return fail(L"the window does not answer");
    return ok(decimal((long long)result));
}

// A key pressed and released, posted the way the keyboard queues it, so that the program's own
// loop sees it (IsDialogMessageW for a dialog, the menu's loop while a menu is open). It goes to
// the frontmost matching window, as typing does; a dialog title must be unique.
Reply key(const Args& a) {
    Found window;
    if (a.at(0) == L"#32770") {
        window = findDialog(a.at(1));
    } else {
        const auto found = findWindows({a.at(0), a.at(1), true});
        window = found.empty() ? Found{nullptr, L"no visible window of class " + a[0]}
                               : Found{found.front(), {}};
    }
    const auto virtualKey = number(a.at(2));
    if (!window.window) return fail(window.problem);
    if (!virtualKey) return fail(L"bad key");
    const LPARAM down = 1 | LPARAM(MapVirtualKeyW(UINT(*virtualKey), MAPVK_VK_TO_VSC)) << 16;
    if (!PostMessageW(window.window, WM_KEYDOWN, WPARAM(*virtualKey), down) ||
        !PostMessageW(window.window, WM_KEYUP, WPARAM(*virtualKey), down | 0xC0000000))
        return fail(L"PostMessageW failed");
    return ok();
}

// The visible top-level windows, front to back, as class and title: what a person would see.
Reply listWindows(const Args&) {
    std::wstring list;
    for (HWND window : findWindows({L"*", L"*", true}))
        list += (list.empty() ? L"" : L"\t") + windowClass(window) + L":" + windowTitle(window);
    return ok(list);
}

Reply foreground(const Args&) {
    HWND window = GetForegroundWindow();
    if (!window) return ok(L"\t");
    return ok(windowClass(window) + L"\t" + windowTitle(window));
}

Reply saveCapture(const std::optional<Image>& image, const std::wstring& path) {
    if (!image) return fail(L"nothing captured");
    if (!writePng(windowsPath(path), *image)) return fail(L"cannot write " + path);
    return ok(decimal(image->width) + L"x" + decimal(image->height));
}

Reply capture(const Args& a) {
    const auto found = findWindows({a.at(0), a.at(1), true});
    if (found.empty()) return fail(L"no visible window of class " + a[0]);
    return saveCapture(captureWindow(found.front()), a.at(2));
}

Reply captureDesktop(const Args& a) {
    RECT all{};
    GetWindowRect(GetDesktopWindow(), &all);
    return saveCapture(captureScreen(all), a.at(0));
}

// How many pixels of a window, as the screen shows it, have this colour (each component within
// the tolerance).
Reply countColour(const Args& a) {
    const auto found = findWindows({a.at(0), a.at(1), true});
    const auto r = number(a.at(2)), g = number(a.at(3)), b = number(a.at(4));
    const long long tolerance = a.size() > 5 ? number(a[5]).value_or(0) : 0;
    if (found.empty()) return fail(L"no visible window of class " + a[0]);
    if (!r || !g || !b) return fail(L"bad colour");
    const auto image = captureWindow(found.front());
    if (!image) return fail(L"nothing captured");
    const auto within = [&](std::uint32_t value, long long wanted) {
        return std::llabs((long long)(value & 0xFF) - wanted) <= tolerance;
    };
    const auto count = std::count_if(image->pixels.begin(), image->pixels.end(), [&](auto p) {
        return within(p >> 16, *r) && within(p >> 8, *g) && within(p, *b);
    });
    return ok(decimal(count));
}

// The middle (screen coordinates) of the pixels of a window that have this colour exactly: where
// a person would point to reach, say, an icon of that colour in the notification area.
Reply locateColour(const Args& a) {
    const auto found = findWindows({a.at(0), a.at(1), true});
    const auto r = number(a.at(2)), g = number(a.at(3)), b = number(a.at(4));
    if (found.empty()) return fail(L"no visible window of class " + a[0]);
    if (!r || !g || !b) return fail(L"bad colour");
    RECT area{};
    GetWindowRect(found.front(), &area);
    const auto image = captureScreen(area);
    if (!image) return fail(L"nothing captured");
    const std::uint32_t wanted = std::uint32_t(*r << 16 | *g << 8 | *b);
    RECT box{LONG_MAX, LONG_MAX, -1, -1};
    for (int y = 0; y < image->height; ++y)
        for (int x = 0; x < image->width; ++x)
            if (image->pixels[size_t(y) * size_t(image->width) + size_t(x)] == wanted)
                box = {std::min(box.left, LONG(x)), std::min(box.top, LONG(y)),
                       std::max(box.right, LONG(x)), std::max(box.bottom, LONG(y))};
    if (box.right < 0) return fail(L"no pixel of that colour");
    return ok(decimal(area.left + (box.left + box.right) / 2) + L" " +
              decimal(area.top + (box.top + box.bottom) / 2));
}

// The mouse moved to a point of the screen and, unless "move", clicked there ("left", "right")
// or double-clicked ("double"), through the system's input queue like a real mouse.
Reply mouse(const Args& a) {
    const auto x = number(a.at(0)), y = number(a.at(1));
    const std::wstring action = a.size() > 2 ? a[2] : L"move";
    if (!x || !y) return fail(L"bad point");
    if (!SetCursorPos(int(*x), int(*y))) return fail(L"SetCursorPos failed");
    DWORD down = 0, up = 0;
    int clicks = 1;
    if (action == L"left" || action == L"double") {
        down = MOUSEEVENTF_LEFTDOWN, up = MOUSEEVENTF_LEFTUP;
        clicks = action == L"double" ? 2 : 1;
    } else if (action == L"right") {
        down = MOUSEEVENTF_RIGHTDOWN, up = MOUSEEVENTF_RIGHTUP;
    } else if (action != L"move") {
        return fail(L"unknown mouse action " + action);
    }
    for (int i = 0; down && i < clicks; ++i) {
        INPUT input[2] = {};
        input[0].type = input[1].type = INPUT_MOUSE;
        input[0].mi.dwFlags = down;
        input[1].mi.dwFlags = up;
        if (SendInput(2, input, sizeof(INPUT)) != 2) return fail(L"SendInput failed");
    }
    return ok();
}

// A control's rectangle within the dialog's client area beside the rectangle its template
// values in dialog units give with the named font; id 0 compares the client area's size.
Reply layout(const Args& a) {
    const Found dialog = findDialog(a.at(0));
    if (!dialog.window) return fail(dialog.problem);
    const auto points = number(a.at(2)), id = number(a.at(3));
    long long v[4] = {};
    for (size_t i = 0; i < 4; ++i)
        v[i] = number(a.at(4 + i)).value_or(-1);
    if (!points || !id) return fail(L"bad numbers");
    const auto font = templateFont(a[1], int(*points));
    MemoryDc dc(CreateCompatibleDC(nullptr));
    SelectObject(dc.get(), font.get());
    const SIZE unit = baseUnits(dc.get());
    const RECT expected{MulDiv(int(v[0]), unit.cx, 4), MulDiv(int(v[1]), unit.cy, 8),
                        MulDiv(int(v[0]), unit.cx, 4) + MulDiv(int(v[2]), unit.cx, 4),
                        MulDiv(int(v[1]), unit.cy, 8) + MulDiv(int(v[3]), unit.cy, 8)};
    RECT actual{};
    if (*id == 0) {
        GetClientRect(dialog.window, &actual);
    } else {
        HWND control = GetDlgItem(dialog.window, int(*id));
        if (!control) return fail(L"no control " + a[3]);
        actual = clientRectIn(control, dialog.window);
    }
    return ok(rectText(actual) + L"\t" + rectText(expected));
}

Reply fit(const Args& a) {
    const Found dialog = findDialog(a.at(0));
    const auto points = number(a.at(2));
    if (!dialog.window) return fail(dialog.problem);
    if (!points) return fail(L"bad point size");
    const auto font = templateFont(a[1], int(*points));
    MemoryDc dc(CreateCompatibleDC(nullptr));
    SelectObject(dc.get(), font.get());
    int checked = 0;
    std::wstring clipped;
    for (HWND child = GetWindow(dialog.window, GW_CHILD); child;
         child = GetWindow(child, GW_HWNDNEXT)) {
        const Fit fit = fitOf(dc.get(), child);
        checked += fit.measured ? 1 : 0;
        if (!fit.problem.empty()) clipped += L"; " + fit.problem;
    }
    return ok(decimal(checked) + L" checked" + (clipped.empty() ? L"" : clipped));
}

Reply registryValue(const Args& a) {
    DWORD size = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, a.at(0).c_str(), a.at(1).c_str(), RRF_RT_REG_SZ, nullptr,
                     nullptr, &size) != ERROR_SUCCESS)
        return fail(L"no value");
    std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
    RegGetValueW(HKEY_CURRENT_USER, a[0].c_str(), a[1].c_str(), RRF_RT_REG_SZ, nullptr, data.data(),
                 &size);
    data.resize(std::wcslen(data.c_str()));
    return ok(data);
}

Reply machineName(const Args&) {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    return GetComputerNameW(name, &size) ? ok(name) : fail(L"no computer name");
}

// ---- the system's side: processes, the session, the shell ----

std::optional<DWORD> processOf(HWND window) {
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    return id ? std::optional<DWORD>(id) : std::nullopt;
}

tsl::KernelHandle openProcess(DWORD id) {
    return tsl::KernelHandle(OpenProcess(
        SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
}

// Waits up to ms for the process to end: its exit code and how long that took, or the failure.
Reply awaitExit(HANDLE process, ULONGLONG since, DWORD ms) {
    if (WaitForSingleObject(process, ms) != WAIT_OBJECT_0)
        return fail(L"still running after " + decimal(ms) + L" ms");
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    return ok(decimal(code) + L" " + decimal((long long)(GetTickCount64() - since)));
}

// The process of a window (hidden ones too), once one of that class and title exists: its id and
// program file.
Reply processInfo(const Args& a) {
    Found window;
    waitUntil(
        [&] {
            window = findOne({a.at(0), a.at(1)}, L"window of class " + a[0]);
            return window.window != nullptr;
        },
        waitMs(a, 2));
    if (!window.window) return fail(window.problem);
    const auto id = processOf(window.window);
    tsl::KernelHandle process(id ? openProcess(*id) : nullptr);
    wchar_t path[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (!process || !QueryFullProcessImageNameW(process.get(), 0, path, &size))
        return fail(L"cannot open the window's process");
    return ok(decimal(*id) + L"\t" + path);
}

// A message posted to a window, then up to ms for its process to end: "EXIT-CODE MS".
Reply quit(const Args& a) {
    const Found window = findOne({a.at(0), a.at(1)}, L"window of class " + a[0]);
    const auto message = number(a.at(2)), wParam = number(a.at(3)), lParam = number(a.at(4));
    if (!window.window) return fail(window.problem);
    if (!message || !wParam || !lParam) return fail(L"bad message numbers");
    const auto id = processOf(window.window);
    tsl::KernelHandle process(id ? openProcess(*id) : nullptr);
    if (!process) return fail(L"cannot open the window's process");
    const ULONGLONG start = GetTickCount64();
    if (!PostMessageW(window.window, UINT(*message), WPARAM(*wParam), LPARAM(*lParam)))
        return fail(L"PostMessageW failed");
    return awaitExit(process.get(), start, waitMs(a, 5));
}

// The end of a session as Windows brings it: WM_QUERYENDSESSION and WM_ENDSESSION (TRUE), both
// sent with LPARAM. An installer's Restart Manager (ENDSESSION_CLOSEAPP, 1) then waits up to ms
// for the process to end by itself; at a log-off or shutdown the process is ended as soon as
// the handler returns, as Windows may do. "QUERY-ANSWER EXIT-CODE MS".
Reply endSession(const Args& a) {
    const Found window = findOne({a.at(0), a.at(1)}, L"window of class " + a[0]);
    const auto lParam = number(a.at(2));
    if (!window.window) return fail(window.problem);
    if (!lParam) return fail(L"bad lParam");
    const auto id = processOf(window.window);
    tsl::KernelHandle process(id ? openProcess(*id) : nullptr);
    if (!process) return fail(L"cannot open the window's process");
    const DWORD ms = waitMs(a, 3);
    const ULONGLONG start = GetTickCount64();
    DWORD_PTR agreed = 0, ignored = 0;
    if (!SendMessageTimeoutW(window.window, WM_QUERYENDSESSION, 0, LPARAM(*lParam), SMTO_NORMAL, ms,
                             &agreed))
        return fail(L"WM_QUERYENDSESSION not answered");
    if (!agreed) return ok(L"0");
    if (!SendMessageTimeoutW(window.window, WM_ENDSESSION, TRUE, LPARAM(*lParam), SMTO_NORMAL, ms,
                             &ignored))
        return fail(L"WM_ENDSESSION not answered within " + decimal(ms) + L" ms");
    constexpr UINT kEndedBySession = 0xE5;
    if (!(*lParam & ENDSESSION_CLOSEAPP)) TerminateProcess(process.get(), kEndedBySession);
    const Reply ended = awaitExit(process.get(), start, ms);
    return ended.ok ? ok(L"1 " + ended.text) : ended;
}

// A message sent to a window, as the system sends WM_POWERBROADCAST: its answer.
Reply send(const Args& a) {
    const Found window = findOne({a.at(0), a.at(1)}, L"window of class " + a[0]);
    const auto message = number(a.at(2)), wParam = number(a.at(3)), lParam = number(a.at(4));
    if (!window.window) return fail(window.problem);
    if (!message || !wParam || !lParam) return fail(L"bad message numbers");
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window.window, UINT(*message), WPARAM(*wParam), LPARAM(*lParam),
                             SMTO_NORMAL, kSendTimeoutMs, &result))
        return fail(L"the window does not answer");
    return ok(decimal((long long)result));
}

// A window's notification-area icon as another program can reach it: "delete" removes it (as a
// shell that restarts forgets it), "exists" asks the shell for an empty change, which it accepts
// only for an icon it has.
Reply notifyIcon(const Args& a) {
    const Found window = findOne({a.at(0), a.at(1)}, L"window of class " + a[0]);
    const auto id = number(a.at(2));
    if (!window.window) return fail(window.problem);
    if (!id) return fail(L"bad icon id");
    NOTIFYICONDATAW icon{};
    icon.cbSize = sizeof icon;
    icon.hWnd = window.window;
    icon.uID = UINT(*id);
    if (a.at(3) == L"delete")
        return Shell_NotifyIconW(NIM_DELETE, &icon) ? ok() : fail(L"the shell has no such icon");
    if (a[3] == L"exists") return ok(Shell_NotifyIconW(NIM_MODIFY, &icon) ? L"1" : L"0");
    return fail(L"unknown icon action " + a[3]);
}

// A registered message sent to every top-level window, the way the shell announces
// "TaskbarCreated" when it starts; returns once they have all handled it.
Reply broadcast(const Args& a) {
    const UINT message = RegisterWindowMessageW(a.at(0).c_str());
    DWORD_PTR ignored = 0;
    if (!message || !SendMessageTimeoutW(HWND_BROADCAST, message, 0, 0, SMTO_ABORTIFHUNG,
                                         kSendTimeoutMs, &ignored))
        return fail(L"the broadcast failed");
    return ok();
}

Reply pause(const Args& a) {
    Sleep(DWORD(number(a.at(0)).value_or(0)));
    return ok();
}

struct Command {
    size_t minArgs;
    Reply (*run)(const Args&);
};

const std::map<std::wstring, Command>& commands() {
    static const std::map<std::wstring, Command> table = {
        {L"wait-shown", {2, waitShown}},        // CLASS TITLE [ms], visible
        {L"wait-hidden", {2, waitHidden}},      // CLASS TITLE [ms], none visible
        {L"wait-dialog", {1, waitDialog}},      // TITLE [ms]
        {L"wait-gone", {2, waitGone}},          // CLASS TITLE [ms]
        {L"count-dialogs", {1, countDialogs}},  // TITLE
        {L"text", {2, getText}},                // TITLE ID
        {L"set-text", {3, setText}},            // TITLE ID TEXT
        {L"click", {2, click}},                 // TITLE ID
        {L"enabled", {2, enabled}},             // TITLE ID
        {L"msgbox", {1, messageBox}},           // OWNER-TITLE [ms]
        {L"answer", {2, answer}},               // OWNER-TITLE BUTTON-ID
        {L"post", {5, post}},                   // CLASS TITLE MESSAGE WPARAM LPARAM
        {L"send-item", {5, sendToItem}},        // TITLE ID MESSAGE WPARAM LPARAM
        {L"key", {3, key}},                     // CLASS TITLE VIRTUAL-KEY
        {L"windows", {0, listWindows}},
        {L"foreground", {0, foreground}},
        {L"capture", {3, capture}},                 // CLASS TITLE FILE.png
        {L"capture-desktop", {1, captureDesktop}},  // FILE.png
        {L"count-colour", {5, countColour}},        // CLASS TITLE R G B [tolerance]
        {L"locate-colour", {5, locateColour}},      // CLASS TITLE R G B
        {L"mouse", {2, mouse}},                     // X Y [move|left|right|double]
        {L"layout", {8, layout}},                   // TITLE FACE POINTS ID X Y W H
        {L"fit", {3, fit}},                         // TITLE FACE POINTS
        {L"registry", {2, registryValue}},          // HKCU-SUBKEY NAME
        {L"machine-name", {0, machineName}},
        {L"process", {2, processInfo}},     // CLASS TITLE [ms]
        {L"quit", {5, quit}},               // CLASS TITLE MESSAGE WPARAM LPARAM [ms]
        {L"end-session", {3, endSession}},  // CLASS TITLE LPARAM [ms]
        {L"send", {5, send}},               // CLASS TITLE MESSAGE WPARAM LPARAM
        {L"notify-icon", {4, notifyIcon}},  // CLASS TITLE ID delete|exists
        {L"broadcast", {1, broadcast}},     // REGISTERED-MESSAGE-NAME
        {L"sleep", {1, pause}},             // MS
    };
    return table;
}

Reply runCommand(const Args& words) {
    if (words.empty()) return fail(L"empty command");
    const auto found = commands().find(words[0]);
    if (found == commands().end()) return fail(L"unknown command " + words[0]);
    const Args args(words.begin() + 1, words.end());
    if (args.size() < found->second.minArgs) return fail(L"too few arguments for " + words[0]);
    try {
        return found->second.run(args);
    } catch (const std::exception& error) {
        return fail(fromUtf8(error.what()));  // one failed command must not end the session
    }
}

void print(const Reply& reply) {
    std::string line = reply.ok ? "ok" : "error";
    if (!reply.text.empty() || !reply.ok) line += " " + escape(reply.text);
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // Pixels as the screen has them, whatever the DPI: what the program under test draws.
    SetProcessDPIAware();
    if (argc > 1) {
        const Reply reply = runCommand(Args(argv + 1, argv + argc));
        print(reply);
        return reply.ok ? 0 : 1;
    }
    std::string line;
    while (std::getline(std::cin, line)) {
        const auto words = splitWords(line);
        print(words ? runCommand(*words) : fail(L"unclosed quote"));
    }
    return 0;
}
