// The built DLL as Windows' loader and resource functions see it, in this route's architecture:
// the export by ordinal and by name, the resources by type, number and language, the version
// record through the version API. The byte-level checks of the released image need no Windows
// and live in tests/image.
#include <windows.h>

#include <string>
#include <vector>

#include "wine_test_support.h"

using quarvel_test::dll_path;

namespace {

class LoadedDll : public ::testing::Test {
  protected:
    void SetUp() override {
        module = LoadLibraryW(dll_path().c_str());
        ASSERT_NE(module, nullptr) << "error " << GetLastError();
    }
    void TearDown() override { FreeLibrary(module); }
    HMODULE module = nullptr;
};

}  // namespace

TEST_F(LoadedDll, IsBuiltForThisRoutesArchitecture) {
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(reinterpret_cast<const BYTE*>(module) +
                                                        dos->e_lfanew);
#ifdef _WIN64
    EXPECT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
#else
    EXPECT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
#endif
    EXPECT_TRUE(nt->FileHeader.Characteristics & IMAGE_FILE_DLL);
}

TEST_F(LoadedDll, ExportIsFoundByOrdinalOneAndByItsPlainNameOnly) {
    FARPROC by_name = GetProcAddress(module, "XMPDSP_GetInterface2");
    ASSERT_NE(by_name, nullptr);
    EXPECT_EQ(GetProcAddress(module, MAKEINTRESOURCEA(1)), by_name);
    EXPECT_EQ(GetProcAddress(module, MAKEINTRESOURCEA(2)), nullptr);
    EXPECT_EQ(GetProcAddress(module, "XMPDSP_GetInterface2@8"), nullptr);
    EXPECT_EQ(GetProcAddress(module, "_XMPDSP_GetInterface2@8"), nullptr);
}

TEST(DllResources, FoundInUsEnglishAndReadByTheVersionApi) {
    HMODULE data = LoadLibraryExW(dll_path().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(data, nullptr);
    const WORD english = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    EXPECT_NE(FindResourceExW(data, RT_DIALOG, MAKEINTRESOURCEW(100), english), nullptr);
    EXPECT_NE(FindResourceExW(data, RT_VERSION, MAKEINTRESOURCEW(1), english), nullptr);
    EXPECT_NE(FindResourceExW(data, MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(2), english), nullptr);
    FreeLibrary(data);

    DWORD ignored = 0;
    std::vector<unsigned char> info(GetFileVersionInfoSizeW(dll_path().c_str(), &ignored));
    ASSERT_FALSE(info.empty());
    ASSERT_TRUE(
        GetFileVersionInfoW(dll_path().c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010004u);
    for (auto [key, expected] : {std::pair{L"OriginalFilename", L"xmp-quarvel.dll"},
                                 std::pair{L"FileDescription", L"XMPlay Quarvel plugin"},
                                 std::pair{L"FileVersion", L"1.4"}}) {
        wchar_t* value = nullptr;
        const std::wstring path = std::wstring(L"\\StringFileInfo\\040904b0\\") + key;
        ASSERT_TRUE(
            VerQueryValueW(info.data(), path.c_str(), reinterpret_cast<void**>(&value), &length))
            << sim::narrow(key);
        EXPECT_STREQ(value, expected);
    }
}
