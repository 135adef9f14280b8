// The released xmp-quarvel.dll read as bytes, on any machine and without Wine: the one export,
// the imports, size and stripping, the version record, the manifest and the dialog template
// field by field.
//
//   dll_image_test PATH/TO/xmp-quarvel.dll
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "pe_image.h"

namespace {

std::string dll_path;

constexpr uint32_t rt_dialog = 5;
constexpr uint32_t rt_version = 16;
constexpr uint32_t rt_manifest = 24;
constexpr uint32_t english_us = 0x0409;

class ReleasedDll : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        std::string error;
        image = new std::optional<pe::Image>(pe::Image::read(dll_path, error));
        if (!*image) load_error = error;
    }
    static void TearDownTestSuite() {
        delete image;
        image = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(image && *image)
            << load_error << " (build it with: cmake --build --preset win32 --target xmp-quarvel)";
    }
    const pe::Image& dll() const { return **image; }

    static std::optional<pe::Image>* image;
    static std::string load_error;
};

std::optional<pe::Image>* ReleasedDll::image = nullptr;
std::string ReleasedDll::load_error;

}  // namespace

TEST_F(ReleasedDll, IsAStrippedSmallDllForI386) {
    EXPECT_EQ(dll().machine(), 0x014C);  // i386
    EXPECT_FALSE(dll().pe32_plus());
    EXPECT_TRUE(dll().characteristics() & 0x2000);  // a DLL
    EXPECT_LE(dll().file_size(), 32u * 1024u);
    EXPECT_EQ(dll().symbol_table_offset(), 0u);
    EXPECT_EQ(dll().symbol_count(), 0u);
    for (const auto& s : dll().sections())
        EXPECT_NE(s.name.rfind(".debug", 0), 0u) << "debug section " << s.name;
}

TEST_F(ReleasedDll, ExportsOnlyTheBindingByPlainNameAtOrdinalOne) {
    const auto e = dll().exports();
    ASSERT_TRUE(e);
    EXPECT_EQ(e->module_name, "xmp-quarvel.dll");
    EXPECT_EQ(e->ordinal_base, 1u);
    ASSERT_EQ(e->function_count, 1u);
    EXPECT_EQ(e->names, (std::vector<std::string>{"XMPDSP_GetInterface2"}));
    EXPECT_EQ(e->name_ordinals, (std::vector<uint16_t>{0}));  // ordinal base + 0 = 1

    // The entry is code of the image, not a forwarder into another DLL.
    const uint32_t entry = e->function_rvas[0];
    const auto export_begin = dll().directory_rva(0);
    EXPECT_FALSE(entry >= export_begin && entry - export_begin < dll().directory_size(0));
    const pe::Section* code = dll().section_of(entry);
    ASSERT_NE(code, nullptr);
    EXPECT_TRUE(code->characteristics & 0x20000000u) << code->name << " is not executable";
}

namespace {

std::string upper(std::string text) {
    for (auto& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return text;
}

// Every function the DLL may import, per DLL, each one present on Windows XP SP3: the player
// runs there, and one import that the system lacks keeps the whole DLL from loading. The floor
// noted is the platform documentation's "minimum supported client" (KERNEL32, USER32), and
// for msvcrt.dll the Windows whose msvcrt.dll first exports the function. Add an import here
// only after checking its floor; anything newer is looked up at run time instead.
const std::map<std::string, std::map<std::string, const char*>> allowed_imports = {
    {"KERNEL32.DLL",
     {{"CloseHandle", "Windows 2000"},
      {"CreateThread", "Windows XP"},
      {"DeleteCriticalSection", "Windows XP"},
      {"DisableThreadLibraryCalls", "Windows XP"},
      {"EnterCriticalSection", "Windows XP"},
      {"FreeLibrary", "Windows XP"},
      {"FreeLibraryAndExitThread", "Windows XP"},
      {"GetCurrentProcessId", "Windows XP"},
      {"GetCurrentThreadId", "Windows XP"},
      {"GetLastError", "Windows XP"},
      {"GetModuleHandleA", "Windows XP"},
      {"GetModuleHandleExW", "Windows XP"},
      {"GetModuleHandleW", "Windows XP"},
      {"GetProcAddress", "Windows XP"},
      {"GetTickCount", "Windows XP"},
      {"InitializeCriticalSection", "Windows XP"},
      {"LeaveCriticalSection", "Windows XP"},
      {"LoadLibraryA", "Windows XP"},
      {"SetWaitableTimer", "Windows XP"},
      {"Sleep", "Windows XP"},
      {"TlsGetValue", "Windows XP"},
      {"VirtualProtect", "Windows XP"},
      {"VirtualQuery", "Windows XP"},
      {"WaitForSingleObject", "Windows XP"}}},
    {"USER32.DLL",
     {{"CheckDlgButton", "Windows 2000"},
      {"DialogBoxParamW", "Windows 2000"},
      {"EndDialog", "Windows 2000"},
      {"EnumWindows", "Windows 2000"},
      {"GetDlgItem", "Windows 2000"},
      {"GetDlgItemTextW", "Windows 2000"},
      {"GetWindowTextLengthW", "Windows 2000"},
      {"GetWindowThreadProcessId", "Windows 2000"},
      {"InternalGetWindowText", "Windows 2000"},
      {"IsDlgButtonChecked", "Windows 2000"},
      {"MessageBoxW", "Windows 2000"},
      {"PostMessageW", "Windows 2000"},
      {"RemovePropW", "Windows 2000"},
      {"SendMessageTimeoutW", "Windows 2000"},
      {"SendMessageW", "Windows 2000"},
      {"SetDlgItemTextW", "Windows 2000"},
      {"SetPropW", "Windows 2000"},
      {"SetWindowLongW", "Windows 2000"}}},
    {"MSVCRT.DLL",
     {{"_amsg_exit", "Windows 2000"},
      {"_initterm", "Windows 2000"},
      {"_iob", "Windows 2000"},
      {"_lock", "Windows 2000"},
      {"_unlock", "Windows 2000"},
      {"abort", "Windows 2000"},
      {"calloc", "Windows 2000"},
      {"free", "Windows 2000"},
      {"fwrite", "Windows 2000"},
      {"malloc", "Windows 2000"},
      {"memcmp", "Windows 2000"},
      {"realloc", "Windows 2000"},
      {"strcmp", "Windows 2000"},
      {"strlen", "Windows 2000"},
      {"strncmp", "Windows 2000"},
      {"vfprintf", "Windows 2000"}}},
};

}  // namespace

TEST_F(ReleasedDll, ImportsOnlyWhatWindowsXpHas) {
    std::set<std::string> dlls;
    for (const pe::ImportedDll& dll : dll().imports()) {
        const std::string name = upper(dll.name);
        dlls.insert(name);
        const auto allowed = allowed_imports.find(name);
        std::printf("%s:", dll.name.c_str());
        for (const std::string& function : dll.functions) {
            std::printf(" %s", function.c_str());
            EXPECT_TRUE(allowed != allowed_imports.end() && allowed->second.count(function))
                << dll.name << "!" << function
                << " is not on the list of imports Windows XP SP3 has; look a newer function up "
                   "at run time, or add it to the list once its floor is checked";
        }
        std::printf("\n");
    }
    EXPECT_EQ(dlls, (std::set<std::string>{"KERNEL32.DLL", "MSVCRT.DLL", "USER32.DLL"}));
    EXPECT_EQ(dll().directory_size(13), 0u) << "delay imports";
}

// The programs of the Windows test kit, beside the released DLL, load on Windows XP SP3 as well:
// their headers say so, and they import nothing newer (tests/image/xp_imports.txt). Each carries
// a manifest: the user's own rights, and every Windows from Vista to 11 named as supported.
TEST(TestKit, EveryProgramLoadsOnWindowsXp) {
    std::set<std::string> allowed;  // "DLL function"
    std::ifstream list(QUARVEL_XP_IMPORTS);
    for (std::string dll, function, floor; list >> dll >> function && std::getline(list, floor);)
        if (dll[0] != '#') allowed.insert(dll + " " + function);
    ASSERT_FALSE(allowed.empty()) << "cannot read " << QUARVEL_XP_IMPORTS;
    const std::filesystem::path folder = std::filesystem::path(dll_path).parent_path();
    ASSERT_TRUE(std::filesystem::exists(folder / "run-tests.exe"))
        << "build the kit's programs first: cmake --build --preset win32";
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() != ".exe") continue;
        const std::string name = entry.path().filename().string();
        std::string error;
        const std::optional<pe::Image> image = pe::Image::read(entry.path().string(), error);
        ASSERT_TRUE(image) << name << ": " << error;
        EXPECT_LE(image->subsystem_version(), 501u) << name << " asks for a Windows after XP";
        EXPECT_EQ(image->directory_size(13), 0u) << name << ": delay imports";
        const std::vector<uint32_t> languages = image->resource_languages(rt_manifest, 1);
        const pe::Bytes manifest =
            image->resource(rt_manifest, 1, languages.empty() ? 0 : languages[0]);
        const std::string text(reinterpret_cast<const char*>(manifest.data), manifest.size);
        for (const char* says : {"level=\"asInvoker\"", "e2011457-1546-43c5-a5fe-008deee3d3f0",
                                 "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"})
            EXPECT_NE(text.find(says), std::string::npos) << name << "'s manifest lacks " << says;
        for (const pe::ImportedDll& dll : image->imports())
            for (const std::string& function : dll.functions)
                EXPECT_TRUE(allowed.count(upper(dll.name) + " " + function))
                    << name << " imports " << dll.name << "!" << function
                    << ", which is not on the list of what Windows XP SP3 has";
    }
}

TEST_F(ReleasedDll, ResourcesAreInUsEnglishOnly) {
    for (auto [type, number] :
         {std::pair{rt_dialog, 100u}, std::pair{rt_version, 1u}, std::pair{rt_manifest, 2u}}) {
        EXPECT_EQ(dll().resource_languages(type, number), std::vector<uint32_t>{english_us})
            << "resource type " << type << " number " << number;
    }
}

namespace {

// UTF-16 text as plain characters (the resources hold ASCII only).
std::string narrow(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) out += c < 128 ? static_cast<char>(c) : '?';
    return out;
}

std::u16string utf16_at(const uint8_t* p, const uint8_t* end) {
    std::u16string out;
    for (; p + 2 <= end && pe::le16(p) != 0; p += 2) out += static_cast<char16_t>(pe::le16(p));
    return out;
}

// One node of a version record: key, value and children.
struct VersionNode {
    std::string key;
    const uint8_t* value = nullptr;
    uint16_t value_length = 0;
    uint16_t type = 0;
    std::vector<VersionNode> children;
    std::string text() const { return narrow(utf16_at(value, value + 2 * value_length)); }
};

size_t align4(size_t n) {
    return (n + 3) & ~size_t{3};
}

VersionNode parse_version(pe::Bytes record, size_t offset) {
    VersionNode node;
    if (offset + 6 > record.size) return node;
    const uint8_t* p = record.data + offset;
    const uint16_t length = pe::le16(p);
    node.value_length = pe::le16(p + 2);
    node.type = pe::le16(p + 4);
    const std::u16string key = utf16_at(p + 6, record.data + record.size);
    node.key = narrow(key);
    size_t at = align4(offset + 6 + (key.size() + 1) * 2);
    node.value = record.data + at;
    // A text value counts its length in characters.
    at = align4(at + (node.type == 1 ? node.value_length * 2u : node.value_length));
    while (at + 2 <= offset + length && at + 2 <= record.size) {
        node.children.push_back(parse_version(record, at));
        const uint16_t child = pe::le16(record.data + at);
        if (child == 0) break;
        at = align4(at + child);
    }
    return node;
}

}  // namespace

TEST_F(ReleasedDll, VersionRecord) {
    const pe::Bytes record = dll().resource(rt_version, 1, english_us);
    ASSERT_TRUE(record);
    const VersionNode root = parse_version(record, 0);
    EXPECT_EQ(root.key, "VS_VERSION_INFO");
    ASSERT_EQ(root.value_length, 52);  // the fixed part
    const uint8_t* fixed = root.value;
    const auto field = [&](int index) { return pe::le32(fixed + 4 * index); };
    EXPECT_EQ(field(0), 0xFEEF04BDu);  // signature
    EXPECT_EQ(field(2), 0x00010004u);  // file version 1.4
    EXPECT_EQ(field(3), 0u);           //   .0.0
    EXPECT_EQ(field(4), 0x00010004u);  // product version 1.4
    EXPECT_EQ(field(5), 0u);           //   .0.0
    EXPECT_EQ(field(6), 0u);           // flags mask
    EXPECT_EQ(field(7), 0u);           // flags
    EXPECT_EQ(field(8), 4u);           // 32-bit Windows
    EXPECT_EQ(field(9), 2u);           // a DLL
    EXPECT_EQ(field(10), 0u);          // subtype
    EXPECT_EQ(field(11), 0u);          // date
    EXPECT_EQ(field(12), 0u);

    ASSERT_EQ(root.children.size(), 2u);
    const VersionNode& strings = root.children[0];
    EXPECT_EQ(strings.key, "StringFileInfo");
    ASSERT_EQ(strings.children.size(), 1u);
    const VersionNode& table = strings.children[0];
    EXPECT_EQ(table.key, "040904b0");
    std::vector<std::string> keys, values;
    for (const auto& s : table.children) {
        keys.push_back(s.key);
        values.push_back(s.text());
    }
    ASSERT_EQ(keys, (std::vector<std::string>{"AssemblyVersion", "FileDescription", "FileVersion",
                                              "InternalName", "LegalCopyright", "OriginalFilename",
                                              "ProductName", "ProductVersion"}));
    EXPECT_EQ(values[0], "1.4");
    EXPECT_EQ(values[1], "XMPlay Quarvel plugin");
    EXPECT_EQ(values[2], "1.4");
    EXPECT_FALSE(values[3].empty());
    EXPECT_FALSE(values[4].empty());
    EXPECT_EQ(values[5], "xmp-quarvel.dll");
    EXPECT_EQ(values[6], "XMPlay Quarvel plugin");
    EXPECT_EQ(values[7], "1.4");

    const VersionNode& vars = root.children[1];
    EXPECT_EQ(vars.key, "VarFileInfo");
    ASSERT_EQ(vars.children.size(), 1u);
    EXPECT_EQ(vars.children[0].key, "Translation");
    ASSERT_EQ(vars.children[0].value_length, 4);
    EXPECT_EQ(pe::le32(vars.children[0].value), 0x04E40409u);  // 0x0409, code page 0x04E4
}

TEST_F(ReleasedDll, ManifestAsksForNothingButTheCallersRights) {
    const pe::Bytes data = dll().resource(rt_manifest, 2, english_us);
    ASSERT_TRUE(data);
    const std::string xml(reinterpret_cast<const char*>(data.data), data.size);
    EXPECT_EQ(xml.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>", 0), 0u);
    EXPECT_NE(xml.find("manifestVersion=\"1.0\""), std::string::npos);
    EXPECT_NE(xml.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"),
              std::string::npos);
    for (const char* absent : {"dependency", "compatibility", "dpiAware", "windowsSettings"})
        EXPECT_EQ(xml.find(absent), std::string::npos) << absent;
}

namespace {

// Reads a dialog template's pieces in order; past the end everything reads as 0.
class TemplateReader {
  public:
    explicit TemplateReader(pe::Bytes data) : data_(data) {}
    uint16_t word() { return static_cast<uint16_t>(take(2)); }
    uint32_t dword() { return take(4); }
    int16_t coordinate() { return static_cast<int16_t>(word()); }
    uint8_t byte() { return static_cast<uint8_t>(take(1)); }
    // A text, or "#<number>" for an ordinal, or "" for none.
    std::string text_or_ordinal() {
        const uint16_t first = word();
        if (first == 0) return "";
        if (first == 0xFFFF) return "#" + std::to_string(word());
        std::u16string out(1, static_cast<char16_t>(first));
        for (uint16_t c; (c = word()) != 0;) out += static_cast<char16_t>(c);
        return narrow(out);
    }
    void align() { at_ = align4(at_); }

  private:
    uint32_t take(size_t n) {
        uint32_t v = 0;
        for (size_t i = 0; i < n; ++i, ++at_)
            if (at_ < data_.size) v |= static_cast<uint32_t>(data_.data[at_]) << (8 * i);
        return v;
    }
    pe::Bytes data_;
    size_t at_ = 0;
};

struct ExpectedControl {
    int id;
    const char* window_class;
    const char* text;
    int16_t x, y, cx, cy;
    uint32_t style;
};

// Window and control style bits.
constexpr uint32_t base = 0x40000000u | 0x10000000u;  // child, visible
constexpr uint32_t tab_stop = 0x00010000u, group_start = 0x00020000u, border = 0x00800000u;
constexpr uint32_t group = base | 0x7 /* group box */ | 0x100 /* left */;
constexpr uint32_t check = base | 0x3 /* automatic check box */ | tab_stop;
constexpr uint32_t label = base | 0x0 /* left-aligned */ | group_start;
constexpr uint32_t field =
    base | 0x2000 /* digits only */ | 0x2 /* right */ | 0x80 /* auto scroll */ | border | tab_stop;
constexpr uint32_t push = base | 0x0 /* plain push button */ | tab_stop;

const ExpectedControl expected_controls[] = {
    {-1, "#128", "Time limit ", 10, 10, 70, 85, group},
    {200, "#128", "enable", 20, 25, 50, 10, check},
    {400, "#128", "Subsongs", 20, 40, 50, 10, check},
    {-1, "#130", "Time Limit (ms)", 20, 55, 60, 10, label},
    {300, "#129", "", 20, 65, 40, 10, field},
    {-1, "#128", "Looping ", 90, 10, 155, 85, group},
    {1000, "#128", "enable (Playing song)", 100, 25, 85, 10, check},
    {-1, "#130", "Start loop time (ms)", 100, 40, 100, 10, label},
    {-1, "#130", "End loop time (ms)", 175, 40, 65, 10, label},
    {1100, "#129", "", 100, 50, 40, 10, field},
    {1200, "#129", "", 175, 50, 40, 10, field},
    {1300, "#128", "Set now", 100, 65, 40, 10, push},
    {1400, "#128", "Set now", 175, 65, 40, 10, push},
    {1500, "#128", "Reset", 137, 80, 40, 10, push},
    {1, "#128", "OK", 10, 105, 50, 14, push},
    {2, "#128", "Cancel", 65, 105, 50, 14, push},
    {1700, "#128", "Apply", 120, 105, 50, 14, push},
};

}  // namespace

TEST_F(ReleasedDll, DialogTemplateFieldByField) {
    const pe::Bytes data = dll().resource(rt_dialog, 100, english_us);
    ASSERT_TRUE(data);
    TemplateReader r(data);
    EXPECT_EQ(r.word(), 1);       // extended template, version 1
    EXPECT_EQ(r.word(), 0xFFFF);  // its signature
    EXPECT_EQ(r.dword(), 0u);     // help id
    EXPECT_EQ(r.dword(), 0u);     // extended style
    EXPECT_EQ(r.dword(), 0x80C800C8u);
    ASSERT_EQ(r.word(), 17);  // controls
    EXPECT_EQ(r.coordinate(), 0);
    EXPECT_EQ(r.coordinate(), 0);
    EXPECT_EQ(r.coordinate(), 255);
    EXPECT_EQ(r.coordinate(), 125);
    EXPECT_EQ(r.text_or_ordinal(), "");  // no menu
    EXPECT_EQ(r.text_or_ordinal(), "");  // the standard dialog class
    EXPECT_EQ(r.text_or_ordinal(), "xmp-quarvel Plugin Configuration");
    EXPECT_EQ(r.word(), 8);  // points
    EXPECT_EQ(r.word(), 0);  // weight
    EXPECT_EQ(r.byte(), 0);  // not italic
    EXPECT_EQ(r.byte(), 1);  // character set
    EXPECT_EQ(r.text_or_ordinal(), "MS Shell Dlg");

    for (const auto& c : expected_controls) {
        SCOPED_TRACE(std::string(c.text) + " " + std::to_string(c.id));
        r.align();
        EXPECT_EQ(r.dword(), 0u);  // help id
        EXPECT_EQ(r.dword(), 0u);  // extended style
        EXPECT_EQ(r.dword(), c.style);
        EXPECT_EQ(r.coordinate(), c.x);
        EXPECT_EQ(r.coordinate(), c.y);
        EXPECT_EQ(r.coordinate(), c.cx);
        EXPECT_EQ(r.coordinate(), c.cy);
        EXPECT_EQ(r.dword(), static_cast<uint32_t>(c.id));
        EXPECT_EQ(r.text_or_ordinal(), c.window_class);
        EXPECT_EQ(r.text_or_ordinal(), c.text);
        EXPECT_EQ(r.word(), 0);  // no creation data
    }
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: dll_image_test PATH/TO/xmp-quarvel.dll\n");
        return 2;
    }
    dll_path = argv[1];
    return RUN_ALL_TESTS();
}
