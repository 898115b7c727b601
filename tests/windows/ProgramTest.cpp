// The built kantrel.exe: its resources read from the file, and the program
// started as a user starts it.

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

// kantrel.exe relative to this test program's folder.
std::wstring ProgramPath() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self);
    path.erase(path.find_last_of(L"\\/") + 1);
    std::wstring relative = L"" KANTREL_EXE_RELATIVE;
    std::replace(relative.begin(), relative.end(), L'/', L'\\');
    return path + relative;
}

struct TModuleFree {
    void operator()(HMODULE module) const { FreeLibrary(module); }
};
using TModule = std::unique_ptr<std::remove_pointer_t<HMODULE>, TModuleFree>;

TModule LoadAsData() {
    return TModule(LoadLibraryExW(ProgramPath().c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
}

std::string ResourceBytes(HMODULE module, HRSRC resource) {
    const auto* data = static_cast<const char*>(LockResource(LoadResource(module, resource)));
    return std::string(data, SizeofResource(module, resource));
}

// The text of the first element that starts with the given prefix.
std::string Element(const std::string& xml, const std::string& start, size_t from = 0) {
    const size_t begin = xml.find(start, from);
    if (begin == std::string::npos)
        return {};
    return xml.substr(begin, xml.find('>', begin) - begin + 1);
}

BOOL CALLBACK CountName(HMODULE, LPCWSTR, LPWSTR, LONG_PTR count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR languages) {
    reinterpret_cast<std::set<WORD>*>(languages)->insert(language);
    return TRUE;
}

#pragma pack(push, 2)
struct TGroupIconEntry {
    BYTE Width, Height, ColorCount, Reserved;
    WORD Planes, BitCount;
    DWORD BytesInRes;
    WORD Id;
};
struct TGroupIconHeader {
    WORD Reserved, Type, Count;
};
#pragma pack(pop)

TEST(ProgramFile, CarriesTheSideBySideManifest) {
    TModule module = LoadAsData();
    ASSERT_TRUE(module) << "cannot open kantrel.exe";
    int manifests = 0;
    EnumResourceNamesW(module.get(), RT_MANIFEST, CountName, reinterpret_cast<LONG_PTR>(&manifests));
    EXPECT_EQ(manifests, 1) << "exactly one manifest";
    std::set<WORD> languages;
    EnumResourceLanguagesW(module.get(), RT_MANIFEST, MAKEINTRESOURCEW(1), CollectLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
    EXPECT_EQ(languages, std::set<WORD>{MAKELANGID(LANG_POLISH, SUBLANG_DEFAULT)}) << "id 1, Polish";

    HRSRC resource = FindResourceExW(module.get(), RT_MANIFEST, MAKEINTRESOURCEW(1),
                                     MAKELANGID(LANG_POLISH, SUBLANG_DEFAULT));
    ASSERT_TRUE(resource);
    const std::string manifest = ResourceBytes(module.get(), resource);
    const std::string identity = Element(manifest, "<assemblyIdentity");
    EXPECT_NE(identity.find("type=\"win32\""), std::string::npos) << identity;
    EXPECT_NE(identity.find("name=\"Kantrel dla ARVELO\""), std::string::npos) << identity;
    EXPECT_NE(identity.find("version=\"1.0.0.0\""), std::string::npos) << identity;
    EXPECT_NE(identity.find("processorArchitecture=\"*\""), std::string::npos) << identity;

    const std::string dependency = Element(manifest, "<assemblyIdentity", manifest.find("<dependentAssembly"));
    EXPECT_NE(dependency.find("name=\"Microsoft.Windows.Common-Controls\""), std::string::npos) << dependency;
    EXPECT_NE(dependency.find("version=\"6.0.0.0\""), std::string::npos) << dependency;
    EXPECT_NE(dependency.find("processorArchitecture=\"*\""), std::string::npos) << dependency;
    EXPECT_NE(dependency.find("language=\"*\""), std::string::npos) << dependency;

    const std::string level = Element(manifest, "<requestedExecutionLevel");
    EXPECT_NE(level.find("level=\"requireAdministrator\""), std::string::npos) << level;
    EXPECT_NE(level.find("uiAccess=\"false\""), std::string::npos) << level;
    EXPECT_NE(manifest.find(">true</dpiAware>"), std::string::npos) << "system DPI awareness";
}

TEST(ProgramFile, CarriesTheIconGroupWithNineSizes) {
    TModule module = LoadAsData();
    ASSERT_TRUE(module) << "cannot open kantrel.exe";
    HRSRC group = FindResourceW(module.get(), L"MAINICON", RT_GROUP_ICON);
    ASSERT_TRUE(group) << "icon group MAINICON";
    const std::string bytes = ResourceBytes(module.get(), group);
    ASSERT_GE(bytes.size(), sizeof(TGroupIconHeader));
    const auto* header = reinterpret_cast<const TGroupIconHeader*>(bytes.data());
    ASSERT_EQ(header->Count, 9);
    ASSERT_EQ(bytes.size(), sizeof(TGroupIconHeader) + 9 * sizeof(TGroupIconEntry));
    const auto* entries = reinterpret_cast<const TGroupIconEntry*>(bytes.data() + sizeof(TGroupIconHeader));
    std::set<int> sizes;
    for (int i = 0; i < 9; ++i) {
        const TGroupIconEntry& entry = entries[i];
        const int size = entry.Width == 0 ? 256 : entry.Width;
        SCOPED_TRACE(size);
        sizes.insert(size);
        EXPECT_EQ(entry.Width, entry.Height) << "square";
        EXPECT_EQ(entry.BitCount, 32) << "32-bit";
        HRSRC image = FindResourceW(module.get(), MAKEINTRESOURCEW(entry.Id), RT_ICON);
        ASSERT_TRUE(image);
        std::string data = ResourceBytes(module.get(), image);
        EXPECT_EQ(data.size(), entry.BytesInRes);
        HICON icon = CreateIconFromResourceEx(reinterpret_cast<BYTE*>(data.data()), static_cast<DWORD>(data.size()),
                                              TRUE, 0x00030000, size, size, LR_DEFAULTCOLOR);
        EXPECT_TRUE(icon) << "the image loads as an icon";
        ICONINFO info{};
        if (icon && GetIconInfo(icon, &info)) {
            TScopedBitmap colour(info.hbmColor), mask(info.hbmMask);
            BITMAP bitmap{};
            GetObjectW(colour.Get(), sizeof bitmap, &bitmap);
            EXPECT_EQ(bitmap.bmWidth, size);
            EXPECT_EQ(bitmap.bmBitsPixel, 32);
        }
        if (icon)
            DestroyIcon(icon);
    }
    EXPECT_EQ(sizes, (std::set<int>{256, 128, 96, 72, 64, 48, 32, 24, 16}));
}

// The DLL names in the import table, read from the file.
std::vector<std::string> ImportedDlls(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    std::string image;
    if (file != INVALID_HANDLE_VALUE) {
        image.resize(GetFileSize(file, nullptr));
        DWORD read = 0;
        ReadFile(file, image.data(), static_cast<DWORD>(image.size()), &read, nullptr);
        image.resize(read);
        CloseHandle(file);
    }
    auto at = [&image](size_t offset, size_t size) {
        if (offset + size > image.size())
            throw std::runtime_error("truncated image");
        return image.data() + offset;
    };
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(at(0, sizeof(IMAGE_DOS_HEADER)));
    const size_t nt = static_cast<size_t>(dos->e_lfanew);
    const auto* fileHeader = reinterpret_cast<const IMAGE_FILE_HEADER*>(at(nt + 4, sizeof(IMAGE_FILE_HEADER)));
    const size_t optional = nt + 4 + sizeof(IMAGE_FILE_HEADER);
    const WORD magic = *reinterpret_cast<const WORD*>(at(optional, 2));
    const IMAGE_DATA_DIRECTORY* directories =
        magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC
            ? reinterpret_cast<const IMAGE_OPTIONAL_HEADER64*>(at(optional, sizeof(IMAGE_OPTIONAL_HEADER64)))->DataDirectory
            : reinterpret_cast<const IMAGE_OPTIONAL_HEADER32*>(at(optional, sizeof(IMAGE_OPTIONAL_HEADER32)))->DataDirectory;
    const auto* sections = reinterpret_cast<const IMAGE_SECTION_HEADER*>(
        at(optional + fileHeader->SizeOfOptionalHeader, fileHeader->NumberOfSections * sizeof(IMAGE_SECTION_HEADER)));
    auto offsetOf = [&](DWORD rva) -> size_t {
        for (int i = 0; i < fileHeader->NumberOfSections; ++i)
            if (rva >= sections[i].VirtualAddress && rva < sections[i].VirtualAddress + sections[i].SizeOfRawData)
                return rva - sections[i].VirtualAddress + sections[i].PointerToRawData;
        throw std::runtime_error("address outside the sections");
    };
    std::vector<std::string> names;
    size_t entry = offsetOf(directories[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
    for (;; entry += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        const auto* import = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(at(entry, sizeof(IMAGE_IMPORT_DESCRIPTOR)));
        if (import->Name == 0)
            break;
        std::string name(at(offsetOf(import->Name), 1));
        std::transform(name.begin(), name.end(), name.begin(), [](char c) { return static_cast<char>(tolower(c)); });
        names.push_back(name);
    }
    return names;
}

TEST(ProgramFile, DependsOnSystemDllsOnly) {
    const std::set<std::string> system = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "msvcrt.dll",
                                          "advapi32.dll", "shell32.dll", "ole32.dll"};
    const std::vector<std::string> imported = ImportedDlls(ProgramPath());
    EXPECT_FALSE(imported.empty());
    for (const std::string& name : imported)
        EXPECT_TRUE(system.count(name)) << name << " is not a system DLL";
}

TEST(ProgramFile, CarriesVersionInformation) {
    const std::wstring path = ProgramPath();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::string data(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, data.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u) << "1.0";
    EXPECT_EQ(fixed->dwFileVersionLS, 0u) << ".0.0";
    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                               &length));
    EXPECT_EQ(translation[0], 0x0415) << "Polish";
    EXPECT_EQ(translation[1], 1250) << "Windows-1250";
    wchar_t* product = nullptr;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\StringFileInfo\\041504E2\\ProductName",
                               reinterpret_cast<void**>(&product), &length));
    EXPECT_EQ(std::wstring(product), L"Kantrel");
}

struct TFindWindow {
    DWORD ProcessId;
    HWND Found = nullptr;
};

BOOL CALLBACK FindProgramWindow(HWND window, LPARAM data) {
    auto* find = reinterpret_cast<TFindWindow*>(data);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t name[32] = {};
    GetClassNameW(window, name, 32);
    if (process == find->ProcessId && IsWindowVisible(window) && std::wstring(name) == L"KantrelForm") {
        find->Found = window;
        return FALSE;
    }
    return TRUE;
}

TEST(Program, ShowsTheMainWindowAndEndsWhenItIsClosed) {
    std::wstring commandLine = L"\"" + ProgramPath() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &process))
        << "kantrel.exe starts despite requireAdministrator";
    std::unique_ptr<void, decltype(&CloseHandle)> processHandle(process.hProcess, CloseHandle);
    CloseHandle(process.hThread);

    TFindWindow find{process.dwProcessId};
    for (int i = 0; i < 200 && !find.Found; ++i) {
        Sleep(50);
        EnumWindows(FindProgramWindow, reinterpret_cast<LPARAM>(&find));
    }
    if (!find.Found)
        TerminateProcess(process.hProcess, 1);
    ASSERT_TRUE(find.Found) << "the main window appears";
    EXPECT_EQ(WindowText(find.Found), L"Kantrel");
    HWND edit = FindWindowExW(find.Found, nullptr, L"Edit", nullptr);
    ASSERT_TRUE(edit);
    wchar_t text[64] = {};
    SendMessageW(edit, WM_GETTEXT, 64, reinterpret_cast<LPARAM>(text));
    EXPECT_EQ(std::wstring(text), L"qwzqwz");
    RECT window;
    GetWindowRect(find.Found, &window);
    if (GetDeviceCaps(TScopedGetDC(nullptr).Get(), LOGPIXELSY) == 96) {
        EXPECT_EQ(window.right - window.left, 687);
        EXPECT_EQ(window.bottom - window.top, 274);
    }

    PostMessageW(find.Found, WM_CLOSE, 0, 0);
    const DWORD waited = WaitForSingleObject(process.hProcess, 10000);
    if (waited != WAIT_OBJECT_0)
        TerminateProcess(process.hProcess, 1);
    ASSERT_EQ(waited, WAIT_OBJECT_0) << "closing the main window ends the program";
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    EXPECT_EQ(exitCode, 0u);
}

}  // namespace
