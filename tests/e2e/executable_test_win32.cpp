// The shipped program file as Windows and Explorer read it: manifest, version information, the
// program's icon and PE header. The dialogs are checked against their templates in the running
// program (tests/ui).

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "support/text.h"
#include "support/version.h"
#include "support/win32_handles.h"
#include "tray/resource_ids.h"

namespace {

// The build hands over a Unix path; Wine shows the Unix root as drive Z:.
std::wstring exePath() {
    std::string path = TSL_CONNECTOR_EXE;
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    for (char& c : path)
        if (c == '/') c = '\\';
    return tsl::fromUtf8(path);
}

using Module = std::unique_ptr<std::remove_pointer_t<HMODULE>, decltype(&FreeLibrary)>;

Module loadAsData() {
    return Module(LoadLibraryExW(exePath().c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE),
                  &FreeLibrary);
}

TEST(Executable, ManifestAsWindowsReadsIt) {
    const Module module = loadAsData();
    ASSERT_TRUE(module) << "cannot load " << tsl::toUtf8(exePath());
    HRSRC found = FindResourceW(module.get(), MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_TRUE(found) << "no RT_MANIFEST resource 1";
    const std::string xml(static_cast<const char*>(LockResource(LoadResource(module.get(), found))),
                          SizeofResource(module.get(), found));

    // Windows refuses to start a program whose manifest it cannot read.
    const std::wstring path = exePath();
    ACTCTXW request{};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.lpSource = path.c_str();
    request.lpResourceName = MAKEINTRESOURCEW(1);
    HANDLE made = CreateActCtxW(&request);
    EXPECT_NE(made, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    const std::unique_ptr<void, decltype(&ReleaseActCtx)> context(
        made == INVALID_HANDLE_VALUE ? nullptr : made, &ReleaseActCtx);

    const std::string version = std::string(tsl::kVersion) + ".0";
    for (const std::string& fact :
         {"<assemblyIdentity [^>]*name=\"Tessaline.TallyConnector\" version=\"" + version + "\"",
          // today's look of the controls
          std::string("<assemblyIdentity [^>]*name=\"Microsoft.Windows.Common-Controls\" "
                      "version=\"6.0.0.0\"[^>]* publicKeyToken=\"6595b64144ccf1df\""),
          std::string("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\""),
          std::string("<supportedOS Id=\"\\{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a\\}\""),  // 10
          std::string(">true/pm</dpiAware>"),  // sharp text at every scale, per monitor
          std::string(">PerMonitorV2</dpiAwareness>")})
        EXPECT_TRUE(std::regex_search(xml, std::regex(fact))) << fact << "\n" << xml;
}

// What Explorer's property sheet shows: it finds the strings through the translation table.
TEST(Executable, VersionInformationAsExplorerShowsIt) {
    const std::wstring path = exePath();
    DWORD ignored = 0;
    std::vector<char> block(GetFileVersionInfoSizeW(path.c_str(), &ignored));
    ASSERT_FALSE(block.empty()) << "no version resource";
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, DWORD(block.size()), block.data()));
    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length));
    ASSERT_EQ(length, 4u);
    const WORD* translation = static_cast<const WORD*>(value);
    EXPECT_EQ(translation[0], 0x0409);  // U.S. English, shown whatever the system's language
    wchar_t table[40];
    std::swprintf(table, 40, L"\\StringFileInfo\\%04x%04x\\", translation[0], translation[1]);
    const auto text = [&](const wchar_t* key) -> std::string {
        const std::wstring query = table + std::wstring(key);
        if (!VerQueryValueW(block.data(), query.c_str(), &value, &length)) return "<missing>";
        return tsl::toUtf8(static_cast<const wchar_t*>(value));
    };
    EXPECT_EQ(text(L"FileVersion"), tsl::kVersion);
    EXPECT_EQ(text(L"ProductVersion"), tsl::kVersion);
    EXPECT_EQ(text(L"FileDescription"), tsl::kDisplayName);  // the name Task Manager shows
    EXPECT_EQ(text(L"ProductName"), tsl::kDisplayName);
    EXPECT_EQ(text(L"CompanyName"), "Tessaline");
    EXPECT_EQ(text(L"OriginalFilename"), "TessalineTallyConnector.exe");

    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", &value, &length));
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    char numbers[40];
    std::snprintf(numbers, sizeof numbers, "%u.%u.%u", unsigned(HIWORD(fixed->dwFileVersionMS)),
                  unsigned(LOWORD(fixed->dwFileVersionMS)),
                  unsigned(HIWORD(fixed->dwFileVersionLS)));
    EXPECT_EQ(numbers, std::string(tsl::kVersion));  // what installers compare
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
    EXPECT_EQ(fixed->dwFileType, DWORD(VFT_APP));
}

// No console window, and the first icon, which Explorer, the shortcut and the taskbar show, is
// the program's, drawn by Windows from 16 to 256 px (the large sizes are stored as PNG).
TEST(Executable, IsA64BitGuiProgramWithItsIcon) {
    const Module module = loadAsData();
    ASSERT_TRUE(module);
    const auto* base = reinterpret_cast<const BYTE*>(ULONG_PTR(module.get()) & ~ULONG_PTR(3));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + dos->e_lfanew);
    ASSERT_EQ(nt->Signature, IMAGE_NT_SIGNATURE);
    EXPECT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
    EXPECT_EQ(nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);

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
        const tsl::IconHandle icon(
            static_cast<HICON>(LoadImageW(module.get(), first, IMAGE_ICON, size, size, 0)));
        ASSERT_TRUE(icon) << size;
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(icon.get(), &info));
        const tsl::GdiObject<HBITMAP> colour(info.hbmColor), mask(info.hbmMask);
        BITMAP bitmap{};
        GetObjectW(colour ? colour.get() : mask.get(), sizeof bitmap, &bitmap);
        EXPECT_EQ(bitmap.bmWidth, size);
    }
}

}  // namespace
