// The built DLL as a file and as resources: one export, system imports only, the version
// record, the manifest and the dialog template, read back the way Windows reads them.
#include <windows.h>

#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "wine_test_support.h"

using quarvel_test::dll_path;

namespace {

std::vector<unsigned char> read_file(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::vector<unsigned char> data(GetFileSize(file, nullptr));
    DWORD got = 0;
    ReadFile(file, data.data(), static_cast<DWORD>(data.size()), &got, nullptr);
    CloseHandle(file);
    data.resize(got);
    return data;
}

// A PE image read from its file bytes.
class PeFile {
  public:
    explicit PeFile(std::vector<unsigned char> bytes) : bytes_(std::move(bytes)) {
        auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes_.data());
        nt_ = reinterpret_cast<const IMAGE_NT_HEADERS32*>(bytes_.data() + dos->e_lfanew);
        sections_ = IMAGE_FIRST_SECTION(nt_);
    }
    const IMAGE_NT_HEADERS32& nt() const { return *nt_; }
    template <class T>
    const T* at_rva(DWORD rva) const {
        for (WORD i = 0; i < nt_->FileHeader.NumberOfSections; ++i) {
            const auto& s = sections_[i];
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + s.Misc.VirtualSize)
                return reinterpret_cast<const T*>(bytes_.data() + s.PointerToRawData +
                                                  (rva - s.VirtualAddress));
        }
        return nullptr;
    }
    const IMAGE_DATA_DIRECTORY& directory(int index) const {
        return nt_->OptionalHeader.DataDirectory[index];
    }
    size_t size() const { return bytes_.size(); }

  private:
    std::vector<unsigned char> bytes_;
    const IMAGE_NT_HEADERS32* nt_;
    const IMAGE_SECTION_HEADER* sections_;
};

PeFile& dll() {
    static PeFile file(read_file(dll_path()));
    return file;
}

}  // namespace

TEST(DllImage, ExportsOnlyTheBindingByPlainNameAtOrdinalOne) {
    const auto& dir = dll().directory(IMAGE_DIRECTORY_ENTRY_EXPORT);
    auto exports = dll().at_rva<IMAGE_EXPORT_DIRECTORY>(dir.VirtualAddress);
    ASSERT_NE(exports, nullptr);
    EXPECT_STREQ(dll().at_rva<char>(exports->Name), "xmp-quarvel.dll");
    EXPECT_EQ(exports->Base, 1u);
    EXPECT_EQ(exports->NumberOfFunctions, 1u);
    ASSERT_EQ(exports->NumberOfNames, 1u);
    const DWORD name_rva = *dll().at_rva<DWORD>(exports->AddressOfNames);
    EXPECT_STREQ(dll().at_rva<char>(name_rva), "XMPDSP_GetInterface2");
    EXPECT_EQ(*dll().at_rva<WORD>(exports->AddressOfNameOrdinals), 0);  // ordinal Base + 0

    HMODULE module = LoadLibraryW(dll_path().c_str());
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(GetProcAddress(module, MAKEINTRESOURCEA(1)),
              GetProcAddress(module, "XMPDSP_GetInterface2"));
    EXPECT_EQ(GetProcAddress(module, "XMPDSP_GetInterface2@8"), nullptr);
    FreeLibrary(module);
}

TEST(DllImage, ImportsOnlySystemDllsAndIsSmallAndStripped) {
    std::set<std::string> imported;
    const auto& dir = dll().directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
    for (auto d = dll().at_rva<IMAGE_IMPORT_DESCRIPTOR>(dir.VirtualAddress); d && d->Name; ++d) {
        std::string name = dll().at_rva<char>(d->Name);
        for (auto& c : name) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        imported.insert(name);
    }
    EXPECT_EQ(imported, (std::set<std::string>{"KERNEL32.DLL", "MSVCRT.DLL", "USER32.DLL"}));
    EXPECT_EQ(dll().directory(IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT).Size, 0u);
    EXPECT_LE(dll().size(), 32u * 1024u);
    EXPECT_EQ(dll().nt().FileHeader.PointerToSymbolTable, 0u);
    EXPECT_EQ(dll().nt().FileHeader.NumberOfSymbols, 0u);
    EXPECT_TRUE(dll().nt().FileHeader.Characteristics & IMAGE_FILE_DLL);
    EXPECT_EQ(dll().nt().FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
}

namespace {

// A resource of the DLL in US English, or an empty range.
std::pair<const unsigned char*, DWORD> resource(HMODULE module, LPCWSTR type, int number) {
    HRSRC found = FindResourceExW(module, type, MAKEINTRESOURCEW(number),
                                  MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    if (!found) return {nullptr, 0};
    return {static_cast<const unsigned char*>(LockResource(LoadResource(module, found))),
            SizeofResource(module, found)};
}

class Resources : public ::testing::Test {
  protected:
    void SetUp() override {
        module = LoadLibraryExW(dll_path().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module, nullptr);
    }
    void TearDown() override { FreeLibrary(module); }
    HMODULE module = nullptr;
};

// One node of a version record: length, value, key and children.
struct VersionNode {
    std::wstring key;
    const unsigned char* value;
    WORD value_length;
    WORD type;
    std::vector<VersionNode> children;
};

size_t align4(size_t n) {
    return (n + 3) & ~size_t{3};
}

VersionNode parse_version(const unsigned char* base, size_t offset) {
    const unsigned char* p = base + offset;
    const WORD length = *reinterpret_cast<const WORD*>(p);
    VersionNode node;
    node.value_length = *reinterpret_cast<const WORD*>(p + 2);
    node.type = *reinterpret_cast<const WORD*>(p + 4);
    const wchar_t* key = reinterpret_cast<const wchar_t*>(p + 6);
    node.key = key;
    size_t at = align4(offset + 6 + (node.key.size() + 1) * 2);
    node.value = base + at;
    // A text value counts its length in characters.
    const size_t value_bytes = node.type == 1 ? node.value_length * 2u : node.value_length;
    at = align4(at + value_bytes);
    while (at < offset + length) {
        node.children.push_back(parse_version(base, at));
        at = align4(at + *reinterpret_cast<const WORD*>(base + at));
    }
    return node;
}

}  // namespace

TEST_F(Resources, VersionRecord) {
    auto [data, size] = resource(module, RT_VERSION, 1);
    ASSERT_NE(data, nullptr);
    const VersionNode root = parse_version(data, 0);
    EXPECT_EQ(root.key, L"VS_VERSION_INFO");
    ASSERT_EQ(root.value_length, sizeof(VS_FIXEDFILEINFO));
    const auto& fixed = *reinterpret_cast<const VS_FIXEDFILEINFO*>(root.value);
    EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed.dwFileVersionMS, 0x00010004u);
    EXPECT_EQ(fixed.dwFileVersionLS, 0u);
    EXPECT_EQ(fixed.dwProductVersionMS, 0x00010004u);
    EXPECT_EQ(fixed.dwProductVersionLS, 0u);
    EXPECT_EQ(fixed.dwFileFlagsMask, 0u);
    EXPECT_EQ(fixed.dwFileFlags, 0u);
    EXPECT_EQ(fixed.dwFileOS, 4u);
    EXPECT_EQ(fixed.dwFileType, 2u);
    EXPECT_EQ(fixed.dwFileSubtype, 0u);
    EXPECT_EQ(fixed.dwFileDateMS, 0u);
    EXPECT_EQ(fixed.dwFileDateLS, 0u);

    ASSERT_EQ(root.children.size(), 2u);
    const VersionNode& strings = root.children[0];
    EXPECT_EQ(strings.key, L"StringFileInfo");
    ASSERT_EQ(strings.children.size(), 1u);
    const VersionNode& table = strings.children[0];
    EXPECT_EQ(table.key, L"040904b0");
    std::vector<std::wstring> keys;
    std::vector<std::wstring> values;
    for (const auto& s : table.children) {
        keys.push_back(s.key);
        values.push_back(reinterpret_cast<const wchar_t*>(s.value));
    }
    ASSERT_EQ(keys,
              (std::vector<std::wstring>{L"AssemblyVersion", L"FileDescription", L"FileVersion",
                                         L"InternalName", L"LegalCopyright", L"OriginalFilename",
                                         L"ProductName", L"ProductVersion"}));
    EXPECT_EQ(values[0], L"1.4");
    EXPECT_EQ(values[1], L"XMPlay Quarvel plugin");
    EXPECT_EQ(values[2], L"1.4");
    EXPECT_EQ(values[5], L"xmp-quarvel.dll");
    EXPECT_EQ(values[6], L"XMPlay Quarvel plugin");
    EXPECT_EQ(values[7], L"1.4");

    const VersionNode& vars = root.children[1];
    EXPECT_EQ(vars.key, L"VarFileInfo");
    ASSERT_EQ(vars.children.size(), 1u);
    EXPECT_EQ(vars.children[0].key, L"Translation");
    ASSERT_EQ(vars.children[0].value_length, 4);
    EXPECT_EQ(*reinterpret_cast<const DWORD*>(vars.children[0].value), 0x04E40409u);

    // And as the version API answers for the file.
    DWORD ignored = 0;
    std::vector<unsigned char> info(GetFileVersionInfoSizeW(dll_path().c_str(), &ignored));
    ASSERT_FALSE(info.empty());
    ASSERT_TRUE(
        GetFileVersionInfoW(dll_path().c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
    wchar_t* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\StringFileInfo\\040904b0\\OriginalFilename",
                               reinterpret_cast<void**>(&value), &length));
    EXPECT_STREQ(value, L"xmp-quarvel.dll");
}

TEST_F(Resources, ManifestAsksForNothingButTheCallersRights) {
    auto [data, size] = resource(module, MAKEINTRESOURCEW(24), 2);
    ASSERT_NE(data, nullptr);
    const std::string xml(reinterpret_cast<const char*>(data), size);
    EXPECT_EQ(xml.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>", 0), 0u);
    EXPECT_NE(xml.find("manifestVersion=\"1.0\""), std::string::npos);
    EXPECT_NE(xml.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"),
              std::string::npos);
    for (const char* absent : {"dependency", "compatibility", "dpiAware", "windowsSettings"})
        EXPECT_EQ(xml.find(absent), std::string::npos) << absent;
}

namespace {

// Reads a dialog template's pieces in order.
class TemplateReader {
  public:
    explicit TemplateReader(const unsigned char* p) : p_(p) {}
    WORD word() { return take<WORD>(); }
    DWORD dword() { return take<DWORD>(); }
    short coordinate() { return take<short>(); }
    BYTE byte() { return take<BYTE>(); }
    // A text, or "#<number>" for an ordinal, or "" for none.
    std::wstring text_or_ordinal() {
        const WORD first = word();
        if (first == 0) return L"";
        if (first == 0xFFFF) return L"#" + std::to_wstring(word());
        std::wstring out(1, static_cast<wchar_t>(first));
        for (WORD c; (c = word()) != 0;) out += static_cast<wchar_t>(c);
        return out;
    }
    void align() {
        p_ = reinterpret_cast<const unsigned char*>((reinterpret_cast<uintptr_t>(p_) + 3) &
                                                    ~uintptr_t{3});
    }

  private:
    template <class T>
    T take() {
        T v;
        std::memcpy(&v, p_, sizeof v);
        p_ += sizeof v;
        return v;
    }
    const unsigned char* p_;
};

struct ExpectedControl {
    int id;
    const wchar_t* window_class;
    const wchar_t* text;
    short x, y, cx, cy;
    DWORD style;
};

constexpr DWORD base = WS_CHILD | WS_VISIBLE;
constexpr DWORD group = base | BS_GROUPBOX | BS_LEFT;
constexpr DWORD check = base | BS_AUTOCHECKBOX | WS_TABSTOP;
constexpr DWORD label = base | SS_LEFT | WS_GROUP;
constexpr DWORD field = base | ES_NUMBER | ES_RIGHT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;
constexpr DWORD push = base | BS_PUSHBUTTON | WS_TABSTOP;

const ExpectedControl expected_controls[] = {
    {-1, L"#128", L"Time limit ", 10, 10, 70, 85, group},
    {200, L"#128", L"enable", 20, 25, 50, 10, check},
    {400, L"#128", L"Subsongs", 20, 40, 50, 10, check},
    {-1, L"#130", L"Time Limit (ms)", 20, 55, 60, 10, label},
    {300, L"#129", L"", 20, 65, 40, 10, field},
    {-1, L"#128", L"Looping ", 90, 10, 155, 85, group},
    {1000, L"#128", L"enable (Playing song)", 100, 25, 85, 10, check},
    {-1, L"#130", L"Start loop time (ms)", 100, 40, 100, 10, label},
    {-1, L"#130", L"End loop time (ms)", 175, 40, 65, 10, label},
    {1100, L"#129", L"", 100, 50, 40, 10, field},
    {1200, L"#129", L"", 175, 50, 40, 10, field},
    {1300, L"#128", L"Set now", 100, 65, 40, 10, push},
    {1400, L"#128", L"Set now", 175, 65, 40, 10, push},
    {1500, L"#128", L"Reset", 137, 80, 40, 10, push},
    {1, L"#128", L"OK", 10, 105, 50, 14, push},
    {2, L"#128", L"Cancel", 65, 105, 50, 14, push},
    {1700, L"#128", L"Apply", 120, 105, 50, 14, push},
};

}  // namespace

TEST_F(Resources, DialogTemplateFieldByField) {
    auto [data, size] = resource(module, RT_DIALOG, 100);
    ASSERT_NE(data, nullptr);
    TemplateReader r(data);
    EXPECT_EQ(r.word(), 1);       // extended template, version 1
    EXPECT_EQ(r.word(), 0xFFFF);  // its signature
    EXPECT_EQ(r.dword(), 0u);     // help id
    EXPECT_EQ(r.dword(), 0u);     // extended style
    EXPECT_EQ(r.dword(), 0x80C800C8u);
    const WORD count = r.word();
    ASSERT_EQ(count, 17);
    EXPECT_EQ(r.coordinate(), 0);
    EXPECT_EQ(r.coordinate(), 0);
    EXPECT_EQ(r.coordinate(), 255);
    EXPECT_EQ(r.coordinate(), 125);
    EXPECT_EQ(r.text_or_ordinal(), L"");  // no menu
    EXPECT_EQ(r.text_or_ordinal(), L"");  // the standard dialog class
    EXPECT_EQ(r.text_or_ordinal(), L"xmp-quarvel Plugin Configuration");
    EXPECT_EQ(r.word(), 8);  // points
    EXPECT_EQ(r.word(), 0);  // weight
    EXPECT_EQ(r.byte(), 0);  // not italic
    EXPECT_EQ(r.byte(), 1);  // character set
    EXPECT_EQ(r.text_or_ordinal(), L"MS Shell Dlg");

    for (const auto& c : expected_controls) {
        SCOPED_TRACE(sim::narrow(c.text) + " " + std::to_string(c.id));
        r.align();
        EXPECT_EQ(r.dword(), 0u);  // help id
        EXPECT_EQ(r.dword(), 0u);  // extended style
        EXPECT_EQ(r.dword(), c.style);
        EXPECT_EQ(r.coordinate(), c.x);
        EXPECT_EQ(r.coordinate(), c.y);
        EXPECT_EQ(r.coordinate(), c.cx);
        EXPECT_EQ(r.coordinate(), c.cy);
        EXPECT_EQ(r.dword(), static_cast<DWORD>(c.id));
        EXPECT_EQ(r.text_or_ordinal(), c.window_class);
        EXPECT_EQ(r.text_or_ordinal(), c.text);
        EXPECT_EQ(r.word(), 0);  // no creation data
    }
}
