// The shipped program file read back as data: the application manifest, the version information,
// the icon, the dialog templates and the PE header, exactly as a person would check them in
// Explorer's property sheet.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "resource_ids.h"
#include "support/text.h"
#include "support/win32_handles.h"

namespace {

// The build hands over a Unix path; Wine shows the Unix root as drive Z:.
std::wstring exePath() {
    std::string path = TSL_CONNECTOR_EXE;
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    for (char& c : path)
        if (c == '/') c = '\\';
    return tsl::fromUtf8(path);
}

struct ModuleFreer {
    void operator()(HMODULE module) const { FreeLibrary(module); }
};
using Module = std::unique_ptr<HINSTANCE__, ModuleFreer>;

Module loadAsData() {
    return Module(LoadLibraryExW(exePath().c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
}

std::string manifestText(HMODULE module) {
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), RT_MANIFEST);
    if (!found) return {};
    HGLOBAL loaded = LoadResource(module, found);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    return bytes ? std::string(static_cast<const char*>(bytes), SizeofResource(module, found))
                 : std::string();
}

using Attributes = std::map<std::string, std::string>;

// The attributes of every element with this local name (any namespace prefix), in order.
std::vector<Attributes> elements(const std::string& xml, const std::string& name) {
    std::vector<Attributes> found;
    const std::regex element("<(?:\\w+:)?" + name + "\\b([^>]*)>");
    const std::regex attribute("([\\w:]+)=\"([^\"]*)\"");
    for (std::sregex_iterator e(xml.begin(), xml.end(), element), end; e != end; ++e) {
        const std::string inside = (*e)[1];
        Attributes attributes;
        for (std::sregex_iterator a(inside.begin(), inside.end(), attribute); a != end; ++a)
            attributes[(*a)[1]] = (*a)[2];
        found.push_back(attributes);
    }
    return found;
}

std::string textOf(const std::string& xml, const std::string& name) {
    std::smatch match;
    const std::regex element("<(?:\\w+:)?" + name + "\\b[^>]*>([^<]*)</");
    return std::regex_search(xml, match, element) ? match[1].str() : "<missing>";
}

TEST(Executable, ManifestReadsAsTabled) {
    const Module module = loadAsData();
    ASSERT_TRUE(module) << "cannot load " << tsl::toUtf8(exePath());
    const std::string xml = manifestText(module.get());
    ASSERT_FALSE(xml.empty()) << "no RT_MANIFEST resource 1";

    const auto identities = elements(xml, "assemblyIdentity");
    ASSERT_EQ(identities.size(), 2u) << xml;
    EXPECT_EQ(identities[0], (Attributes{{"type", "win32"},
                                         {"name", "Tessaline.TallyConnector"},
                                         {"version", "1.0.0.0"},
                                         {"processorArchitecture", "*"}}));
    EXPECT_EQ(identities[1].at("name"), "Microsoft.Windows.Common-Controls");
    EXPECT_EQ(identities[1].at("version"), "6.0.0.0");
    EXPECT_EQ(identities[1].at("publicKeyToken"), "6595b64144ccf1df");
    EXPECT_EQ(textOf(xml, "description"), "Tessaline Tally Connector");

    const auto level = elements(xml, "requestedExecutionLevel");
    ASSERT_EQ(level.size(), 1u);
    EXPECT_EQ(level[0], (Attributes{{"level", "asInvoker"}, {"uiAccess", "false"}}));

    std::set<std::string> systems;
    for (const Attributes& os : elements(xml, "supportedOS"))
        systems.insert(os.at("Id"));
    EXPECT_EQ(systems, (std::set<std::string>{
                           "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // Windows 7
                           "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // Windows 8.1
                           "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // Windows 10 and 11
                       }));
    EXPECT_EQ(textOf(xml, "dpiAware"), "true/pm");
    EXPECT_EQ(textOf(xml, "dpiAwareness"), "PerMonitorV2");
}

std::vector<char> versionBlock() {
    const std::wstring path = exePath();
    DWORD ignored = 0;
    std::vector<char> block(GetFileVersionInfoSizeW(path.c_str(), &ignored));
    if (block.empty() ||
        !GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(block.size()), block.data()))
        block.clear();
    return block;
}

std::string versionString(std::vector<char>& block, const char* key) {
    const std::wstring query = L"\\StringFileInfo\\040904b0\\" + tsl::fromUtf8(key);
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), query.c_str(), &value, &length) || !value) return "<missing>";
    return tsl::toUtf8(static_cast<const wchar_t*>(value));
}

TEST(Executable, VersionInformationReadsAsTabled) {
    std::vector<char> block = versionBlock();
    ASSERT_FALSE(block.empty()) << "no version resource";
    const struct {
        const char* key;
        const char* value;
    } strings[] = {
        {"CompanyName", "Tessaline"},
        {"FileDescription", "Tessaline Tally Connector"},
        {"FileVersion", "1.0.0"},
        {"InternalName", "TessalineTallyConnector"},
        {"OriginalFilename", "TessalineTallyConnector.exe"},
        {"ProductName", "Tessaline Tally Connector"},
        {"ProductVersion", "1.0.0"},
    };
    for (const auto& s : strings)
        EXPECT_EQ(versionString(block, s.key), s.value) << s.key;

    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length));
    ASSERT_EQ(length, 4u);  // one language / code page pair
    const WORD* translation = static_cast<const WORD*>(value);
    EXPECT_EQ(translation[0], 0x0409);  // U.S. English
    EXPECT_EQ(translation[1], 1200);    // Unicode

    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", &value, &length));
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
}

// Explorer, the shortcut and the taskbar show the file's first icon: the program's, which
// Windows draws from 16 to 256 px (the large sizes are stored as PNG).
TEST(Executable, FirstIconIsTheProgramsFrom16To256Pixels) {
    const Module module = loadAsData();
    ASSERT_TRUE(module);
    LPCWSTR first = nullptr;
    EnumResourceNamesW(
        module.get(), RT_GROUP_ICON,
        [](HMODULE, LPCWSTR, LPWSTR name, LONG_PTR found) -> BOOL {
            *reinterpret_cast<LPCWSTR*>(found) = name;
            return FALSE;
        },
        reinterpret_cast<LONG_PTR>(&first));
    ASSERT_TRUE(first != nullptr && IS_INTRESOURCE(first));
    EXPECT_EQ(reinterpret_cast<ULONG_PTR>(first), static_cast<ULONG_PTR>(IDI_CONNECTOR));
    for (int size : {16, 32, 256}) {
        const std::unique_ptr<HICON__, decltype(&DestroyIcon)> icon(
            static_cast<HICON>(LoadImageW(module.get(), first, IMAGE_ICON, size, size, 0)),
            &DestroyIcon);
        ASSERT_TRUE(icon) << size;
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(icon.get(), &info));
        const tsl::GdiObject<HBITMAP> colour(info.hbmColor), mask(info.hbmMask);
        BITMAP bitmap{};
        GetObjectW(colour ? colour.get() : mask.get(), sizeof bitmap, &bitmap);
        EXPECT_EQ(bitmap.bmWidth, size);
    }
}

// One dialog template as stored (DLGTEMPLATEEX) and the items it holds.
struct DialogItem {
    std::string windowClass, text;
    int id;
    DWORD style;
    short x, y, cx, cy;
    bool operator==(const DialogItem&) const = default;
};
struct DialogTemplate {
    DWORD style = 0;
    short cx = 0, cy = 0;
    std::string title, font;
    WORD points = 0, weight = 0;
    BYTE italic = 0;
    std::vector<DialogItem> items;
};

class TemplateReader {
  public:
    explicit TemplateReader(const BYTE* at) : at_(at) {}
    template <typename T>
    T take() {
        T value;
        std::memcpy(&value, at_, sizeof value);
        at_ += sizeof value;
        return value;
    }
    // A string, or an ordinal (0xFFFF then a number): the predefined classes by name.
    std::string nameOrOrdinal() {
        if (take<WORD>() == 0xFFFF) {
            const WORD ordinal = take<WORD>();
            switch (ordinal) {
                case 0x80:
                    return "BUTTON";
                case 0x81:
                    return "EDIT";
                case 0x82:
                    return "STATIC";
                default:
                    return "#" + std::to_string(ordinal);
            }
        }
        at_ -= sizeof(WORD);
        std::wstring text;
        while (WCHAR c = take<WCHAR>())
            text += c;
        return tsl::toUtf8(text);
    }
    void alignTo4(const BYTE* base) {
        while ((at_ - base) % 4)
            ++at_;
    }

  private:
    const BYTE* at_;
};

DialogTemplate dialogTemplate(HMODULE module, int id) {
    DialogTemplate dialog;
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), RT_DIALOG);
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const auto* base = static_cast<const BYTE*>(loaded ? LockResource(loaded) : nullptr);
    if (!base) return dialog;
    TemplateReader read(base);
    if (read.take<WORD>() != 1 || read.take<WORD>() != 0xFFFF) return dialog;  // not ...EX
    read.take<DWORD>();                                                        // help id
    read.take<DWORD>();                                                        // extended style
    dialog.style = read.take<DWORD>();
    const WORD count = read.take<WORD>();
    read.take<short>();
    read.take<short>();
    dialog.cx = read.take<short>();
    dialog.cy = read.take<short>();
    read.nameOrOrdinal();  // menu
    read.nameOrOrdinal();  // class
    dialog.title = read.nameOrOrdinal();
    dialog.points = read.take<WORD>();
    dialog.weight = read.take<WORD>();
    dialog.italic = read.take<BYTE>();
    read.take<BYTE>();  // character set
    dialog.font = read.nameOrOrdinal();
    for (WORD i = 0; i < count; ++i) {
        read.alignTo4(base);
        DialogItem item{};
        read.take<DWORD>();
        read.take<DWORD>();
        item.style = read.take<DWORD>();
        item.x = read.take<short>();
        item.y = read.take<short>();
        item.cx = read.take<short>();
        item.cy = read.take<short>();
        item.id = static_cast<int>(read.take<DWORD>());
        item.windowClass = read.nameOrOrdinal();
        item.text = read.nameOrOrdinal();
        const WORD extra = read.take<WORD>();
        for (WORD b = 0; b < extra; ++b)
            read.take<BYTE>();
        dialog.items.push_back(item);
    }
    return dialog;
}

TEST(Executable, DialogTemplatesAsLaidOut) {
    const Module module = loadAsData();
    ASSERT_TRUE(module);
    constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
    constexpr DWORD kDialogStyle = 0x80C808C8;
    constexpr DWORD kEdit = kChild | WS_BORDER | WS_TABSTOP;
    constexpr DWORD kButton = kChild | WS_TABSTOP;
    constexpr DWORD kLabel = kChild | WS_GROUP;
    const struct {
        int id;
        const char* title;
        short cx, cy;
        std::vector<DialogItem> items;
    } expected[] = {
        {101,
         "Tessaline Tally Connector - Connection",
         300,
         208,  // 12 more than first drawn: the Tally test result needs five lines
         {
             {"BUTTON", "Tessaline", -1, kChild | BS_GROUPBOX, 7, 7, 286, 88},
             {"STATIC", "Server address:", -1, kLabel, 15, 23, 62, 8},
             {"EDIT", "", 1001, kEdit | ES_AUTOHSCROLL, 80, 21, 205, 14},
             {"STATIC", "Pairing code:", -1, kLabel, 15, 43, 62, 8},
             {"EDIT", "", 1002, kEdit | ES_AUTOHSCROLL | ES_UPPERCASE, 80, 41, 70, 14},
             {"BUTTON", "Pair", 1003, kButton, 156, 41, 60, 14},
             {"BUTTON", "Unpair this PC", 1004, kButton, 221, 41, 64, 14},
             {"STATIC", "", 1005, kLabel, 15, 61, 270, 30},
             {"BUTTON", "Tally", -1, kChild | BS_GROUPBOX, 7, 100, 286, 78},
             {"STATIC", "Tally host:", -1, kLabel, 15, 116, 62, 8},
             {"EDIT", "", 1006, kEdit | ES_AUTOHSCROLL, 80, 114, 120, 14},
             {"STATIC", "Port:", -1, kLabel, 208, 116, 20, 8},
             {"EDIT", "", 1007, kEdit | ES_NUMBER, 230, 114, 55, 14},
             {"BUTTON", "Test Tally", 1008, kButton, 15, 134, 60, 14},
             {"STATIC", "", 1009, kLabel, 80, 134, 205, 40},
             {"BUTTON", "Save", IDOK, kButton | BS_DEFPUSHBUTTON, 187, 186, 50, 14},
             {"BUTTON", "Close", IDCANCEL, kButton, 243, 186, 50, 14},
         }},
        {102,
         "Tessaline Tally Connector",
         320,
         182,
         {
             {"EDIT", "", 1101, kEdit | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY, 7,
              7, 306, 148},
             {"BUTTON", "Sync now", 1102, kButton, 7, 161, 60, 14},
             {"BUTTON", "Open log folder", 1103, kButton, 72, 161, 70, 14},
             {"BUTTON", "Close", IDCANCEL, kButton | BS_DEFPUSHBUTTON, 263, 161, 50, 14},
         }},
    };
    for (const auto& want : expected) {
        const DialogTemplate got = dialogTemplate(module.get(), want.id);
        EXPECT_EQ(got.style, kDialogStyle) << want.id;
        EXPECT_EQ(got.title, want.title);
        EXPECT_EQ(got.cx, want.cx);
        EXPECT_EQ(got.cy, want.cy);
        EXPECT_EQ(got.font, "Segoe UI");
        EXPECT_EQ(got.points, 9);
        EXPECT_EQ(got.weight, 400);
        EXPECT_EQ(got.italic, 0);
        ASSERT_EQ(got.items.size(), want.items.size()) << want.id;
        for (std::size_t i = 0; i < want.items.size(); ++i) {
            const DialogItem& g = got.items[i];
            const DialogItem& w = want.items[i];
            EXPECT_EQ(g, w) << want.id << " item " << i << ": " << g.windowClass << " \"" << g.text
                            << "\" id " << g.id << " style 0x" << std::hex << g.style << " at "
                            << std::dec << g.x << "," << g.y << " " << g.cx << "x" << g.cy;
        }
    }
}

TEST(Executable, IsA64BitGuiProgram) {
    std::ifstream in(std::filesystem::path(exePath()), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GE(bytes.size(), sizeof(IMAGE_DOS_HEADER));
    IMAGE_DOS_HEADER dos;
    std::memcpy(&dos, bytes.data(), sizeof dos);
    ASSERT_EQ(dos.e_magic, IMAGE_DOS_SIGNATURE);
    ASSERT_GE(bytes.size(), dos.e_lfanew + sizeof(IMAGE_NT_HEADERS64));
    IMAGE_NT_HEADERS64 nt;
    std::memcpy(&nt, bytes.data() + dos.e_lfanew, sizeof nt);
    ASSERT_EQ(nt.Signature, IMAGE_NT_SIGNATURE);
    EXPECT_EQ(nt.FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
    EXPECT_EQ(nt.OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
}

}  // namespace
