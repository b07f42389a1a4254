// The shipped program file read back as data: the application manifest, the version information
// and the PE header, exactly as a person would check them in Explorer's property sheet.

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

#include "support/text.h"

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

// Icons are drawn at run time; the file carries none.
TEST(Executable, CarriesNoIcon) {
    const Module module = loadAsData();
    ASSERT_TRUE(module);
    bool any = false;
    EnumResourceNamesW(
        module.get(), RT_GROUP_ICON,
        [](HMODULE, LPCWSTR, LPWSTR, LONG_PTR found) -> BOOL {
            *reinterpret_cast<bool*>(found) = true;
            return FALSE;
        },
        reinterpret_cast<LONG_PTR>(&any));
    EXPECT_FALSE(any);
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
