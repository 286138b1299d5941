// Resources of PE files loaded as data: the same lookups as for the ELF
// probe give the same bytes from PE32 and PE32+ files made from the same .rc;
// languages are chosen the same way; damaged files are refused or give
// "not found", never bytes from outside the file.

#include "pe_builder.h"
#include "resource_exercise.h"
#include "support.h"

#include <dirent.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

using comhost_test::BuildPe;
using comhost_test::NlsStateGuard;
using comhost_test::PeFile;
using comhost_test::PeId;
using comhost_test::PeResource;
using comhost_test::Put16;
using comhost_test::Put32;
using comhost_test::TempFile;

namespace {

// A file loaded as data for one test.
class DataModule {
public:
    explicit DataModule(const std::string &path)
        : module_(LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)), error_(GetLastError()) {}
    ~DataModule() {
        if (module_) FreeLibrary(module_);
    }
    DataModule(const DataModule &) = delete;
    DataModule &operator=(const DataModule &) = delete;
    HMODULE get() const { return module_; }
    DWORD error() const { return error_; }

private:
    HMODULE module_;
    DWORD error_;
};

std::string Bytes(HMODULE module, HRSRC info) {
    if (!info) return "<not found " + std::to_string(GetLastError()) + ">";
    const void *data = LockResource(LoadResource(module, info));
    if (!data) return "<not loaded " + std::to_string(GetLastError()) + ">";
    return std::string(static_cast<const char *>(data), SizeofResource(module, info));
}

std::string Find(HMODULE module, LPCSTR name, LPCSTR type) {
    return Bytes(module, FindResourceA(module, name, type));
}

std::string FindEx(HMODULE module, LPCSTR type, LPCSTR name, WORD language) {
    return Bytes(module, FindResourceExA(module, type, name, language));
}

// Everything a module holds, as "type/name/language" lines with the bytes.
std::set<std::string> Inventory(HMODULE module) {
    struct Context {
        std::set<std::string> lines;
    } context;
    struct Callbacks {
        static BOOL CALLBACK Type(HMODULE m, LPWSTR type, LONG_PTR p) {
            return EnumResourceNamesW(m, type, Name, p);
        }
        static BOOL CALLBACK Name(HMODULE m, LPCWSTR type, LPWSTR name, LONG_PTR p) {
            return EnumResourceLanguagesW(m, type, name, Language, p);
        }
        static BOOL CALLBACK Language(HMODULE m, LPCWSTR type, LPCWSTR name, WORD language, LONG_PTR p) {
            auto *ctx = reinterpret_cast<Context *>(p);
            auto id = [](LPCWSTR x) {
                return IS_INTRESOURCE(x) ? "#" + std::to_string(reinterpret_cast<ULONG_PTR>(x))
                                         : comhost_test::ToNarrow(CP_UTF8, x);
            };
            ctx->lines.insert(id(type) + "/" + id(name) + "/" + std::to_string(language) + "=" +
                              Bytes(m, FindResourceExW(m, type, name, language)));
            return TRUE;
        }
    };
    EXPECT_TRUE(EnumResourceTypesW(module, Callbacks::Type, reinterpret_cast<LONG_PTR>(&context)))
        << GetLastError();
    return context.lines;
}

std::vector<PeResource> SampleResources() {
    return {
        {PeId::Number(10), PeId::Number(7), 0, std::string("seven\0", 6)},
        {PeId::Text(u"REGISTRY"), PeId::Number(101), 0x0409, "HKCR { }"},
        {PeId::Number(10), PeId::Text(u"GREETING"), 0, "neutral"},
        {PeId::Number(10), PeId::Text(u"GREETING"), 0x0407, "german"},
        {PeId::Number(10), PeId::Text(u"SPEECH"), 0x0409, "english"},
        {PeId::Number(10), PeId::Text(u"SPEECH"), 0x040C, "french"},
    };
}

std::string ReadAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(PeResources, ProbeDllsHoldWhatTheElfProbeHolds) {
    const std::string plus = comhost_test::ToPe32Plus(ReadAll(PE_PROBE_PATH));
    ASSERT_FALSE(plus.empty());
    TempFile plusFile(plus);
    DataModule elf(MODULE_PROBE_PATH), pe32(PE_PROBE_PATH), pe64(plusFile.path());
    ASSERT_NE(elf.get(), nullptr) << elf.error();
    ASSERT_NE(pe32.get(), nullptr) << pe32.error();
    ASSERT_NE(pe64.get(), nullptr) << pe64.error();
    const std::set<std::string> expected = Inventory(elf.get());
    EXPECT_EQ(expected.size(), 5u);
    EXPECT_EQ(Inventory(pe32.get()), expected);
    EXPECT_EQ(Inventory(pe64.get()), expected);
    for (HMODULE m : {pe32.get(), pe64.get()}) {
        EXPECT_EQ(Find(m, MAKEINTRESOURCEA(101), "REGISTRY"), Find(elf.get(), MAKEINTRESOURCEA(101), "REGISTRY"));
        EXPECT_EQ(Find(m, "#7", MAKEINTRESOURCEA(10)), std::string("seven\0", 6));
        EXPECT_EQ(Bytes(m, FindResourceW(m, u"Greeting", MAKEINTRESOURCEW(10))), std::string("neutral\0", 8));
        EXPECT_EQ(FindEx(m, RT_RCDATA, "GREETING", MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN)),
                  std::string("german\0", 7));
    }
}

TEST(PeResources, LanguageChoiceAndMissingParts) {
    NlsStateGuard guard;
    for (bool plus : {false, true}) {
        SCOPED_TRACE(plus ? "PE32+" : "PE32");
        TempFile file(BuildPe(SampleResources(), plus).bytes);
        DataModule m(file.path());
        ASSERT_NE(m.get(), nullptr) << m.error();
        ASSERT_TRUE(ComHostSetDefaultLocale(0x040C));
        EXPECT_EQ(Find(m.get(), "GREETING", RT_RCDATA), "neutral");  // neutral first
        EXPECT_EQ(Find(m.get(), "speech", RT_RCDATA), "french");     // then the user's language
        ASSERT_TRUE(ComHostSetDefaultLocale(0x0411));
        EXPECT_EQ(Find(m.get(), "speech", RT_RCDATA), "english");  // then English (US)
        EXPECT_EQ(FindEx(m.get(), RT_RCDATA, "SPEECH", 0x040C), "french");
        EXPECT_EQ(Find(m.get(), MAKEINTRESOURCEA(101), "Registry"), "HKCR { }");

        SetLastError(0);
        EXPECT_EQ(FindResourceExA(m.get(), RT_RCDATA, "SPEECH", 0x0407), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_LANG_NOT_FOUND));
        EXPECT_EQ(FindResourceA(m.get(), MAKEINTRESOURCEA(102), "REGISTRY"), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
        EXPECT_EQ(FindResourceA(m.get(), MAKEINTRESOURCEA(1), "TYPELIB"), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
        EXPECT_FALSE(EnumResourceNamesA(m.get(), "TYPELIB", [](HMODULE, LPCSTR, LPSTR, LONG_PTR) { return TRUE; }, 0));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
    }
}

TEST(PeResources, EnumerationStopsWhenTheCallbackSaysSo) {
    TempFile file(BuildPe(SampleResources(), false).bytes);
    DataModule m(file.path());
    ASSERT_NE(m.get(), nullptr);
    std::vector<std::string> types;
    auto collect = [](HMODULE, LPSTR type, LONG_PTR p) -> BOOL {
        auto *out = reinterpret_cast<std::vector<std::string> *>(p);
        out->push_back(IS_INTRESOURCE(type) ? "#" + std::to_string(reinterpret_cast<ULONG_PTR>(type)) : type);
        return TRUE;
    };
    ASSERT_TRUE(EnumResourceTypesA(m.get(), collect, reinterpret_cast<LONG_PTR>(&types)));
    EXPECT_EQ(types, (std::vector<std::string>{"REGISTRY", "#10"}));  // named entries come first
    SetLastError(0);
    EXPECT_FALSE(EnumResourceTypesA(m.get(), [](HMODULE, LPSTR, LONG_PTR) { return FALSE; }, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_ENUM_USER_STOP));
}

TEST(PeResources, FileWithoutResources) {
    PeFile pe = BuildPe(SampleResources(), false);
    Put32(pe.bytes, pe.optionalHeader + 96 + 16, 0);  // no resource directory
    TempFile file(pe.bytes);
    DataModule m(file.path());
    ASSERT_NE(m.get(), nullptr) << m.error();
    SetLastError(0);
    EXPECT_EQ(FindResourceA(m.get(), MAKEINTRESOURCEA(101), "REGISTRY"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));
}

// Every damage to the headers that leaves the file unreadable is refused at
// load time with ERROR_BAD_EXE_FORMAT.
TEST(PeResources, DamagedHeadersAreRefused) {
    const PeFile good = BuildPe(SampleResources(), false);
    struct Damage {
        const char *what;
        void (*apply)(PeFile &);
    };
    const Damage damages[] = {
        {"e_lfanew past the end", [](PeFile &p) { Put32(p.bytes, 0x3C, static_cast<uint32_t>(p.bytes.size())); }},
        {"e_lfanew huge", [](PeFile &p) { Put32(p.bytes, 0x3C, 0xFFFFFFF0u); }},
        {"no PE signature", [](PeFile &p) { p.bytes[p.ntHeaders] = 'X'; }},
        {"unknown optional magic", [](PeFile &p) { Put16(p.bytes, p.optionalHeader, 0x107); }},
        {"optional header past the end", [](PeFile &p) { Put16(p.bytes, p.ntHeaders + 20, 0xFFFF); }},
        {"optional header too small", [](PeFile &p) { Put16(p.bytes, p.ntHeaders + 20, 80); }},
        {"too many directories", [](PeFile &p) { Put32(p.bytes, p.optionalHeader + 92, 0x10000000); }},
        {"section table past the end", [](PeFile &p) { Put16(p.bytes, p.ntHeaders + 6, 0xFFFF); }},
        {"resources in no section", [](PeFile &p) { Put32(p.bytes, p.optionalHeader + 96 + 16, 0x9000); }},
        {"section bytes past the end", [](PeFile &p) { Put32(p.bytes, p.sectionTable + 20, 0x7FFFFFF0u); }},
        {"raw size wraps", [](PeFile &p) { Put32(p.bytes, p.sectionTable + 16, 0xFFFFFFFFu); Put32(p.bytes, p.sectionTable + 20, 0x200); Put32(p.bytes, p.optionalHeader + 96 + 16, 0xFFFFFFF8u); }},
        {"only a DOS header", [](PeFile &p) { p.bytes.resize(64); }},
    };
    for (const Damage &d : damages) {
        SCOPED_TRACE(d.what);
        PeFile bad = good;
        d.apply(bad);
        TempFile file(bad.bytes);
        DataModule m(file.path());
        EXPECT_EQ(m.get(), nullptr);
        EXPECT_EQ(m.error(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
    }
}

// Damage inside the resource tree: lookups fail or skip the bad parts and
// still find what is sound; nothing outside the file is read (the file is
// read into memory of exactly its size, so the sanitizer build catches any
// stray read).
TEST(PeResources, DamagedTreesAreNotFollowedOutOfTheFile) {
    const PeFile good = BuildPe(SampleResources(), false);
    const size_t root = good.resourceRoot;
    struct Damage {
        const char *what;
        void (*apply)(PeFile &, size_t root);
    };
    const Damage damages[] = {
        {"huge entry counts", [](PeFile &p, size_t r) { Put16(p.bytes, r + 12, 0xFFFF); Put16(p.bytes, r + 14, 0xFFFF); }},
        {"subdirectory past the end", [](PeFile &p, size_t r) { Put32(p.bytes, r + 16 + 4, 0xFFFFFFF0u); }},
        {"type directory is the root", [](PeFile &p, size_t r) { Put32(p.bytes, r + 16 + 8 + 4, 0x80000000u); }},
        {"name string past the end", [](PeFile &p, size_t r) { Put32(p.bytes, r + 16, 0xFFFFFFF0u); }},
        {"name string too long", [](PeFile &p, size_t r) {
             Put16(p.bytes, r + (comhost_test::Get32(p.bytes, r + 16) & 0x7FFFFFFF), 0xFFFF); }},
    };
    for (const Damage &d : damages) {
        SCOPED_TRACE(d.what);
        PeFile bad = good;
        d.apply(bad, root);
        TempFile file(bad.bytes);
        DataModule m(file.path());
        ASSERT_NE(m.get(), nullptr) << m.error();
        comhost_test::ExerciseResources(m.get());
    }

    // A data entry naming bytes outside the file: found, but not loaded.
    PeFile bad = good;
    const std::string registry = "HKCR { }";
    const size_t at = bad.bytes.find(registry);
    ASSERT_NE(at, std::string::npos);
    // The data entry is the one whose RVA points at those bytes.
    for (size_t e = root; e + 16 <= bad.resourceEnd; e += 4) {
        if (comhost_test::Get32(bad.bytes, e) == bad.resourceRva + (at - root) &&
            comhost_test::Get32(bad.bytes, e + 4) == registry.size()) {
            Put32(bad.bytes, e + 4, 0x10000);
            break;
        }
    }
    TempFile file(bad.bytes);
    DataModule m(file.path());
    ASSERT_NE(m.get(), nullptr);
    HRSRC info = FindResourceA(m.get(), MAKEINTRESOURCEA(101), "REGISTRY");
    ASSERT_NE(info, nullptr);
    SetLastError(0);
    EXPECT_EQ(LoadResource(m.get(), info), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));
    EXPECT_EQ(SizeofResource(m.get(), info), 0u);
    // The sound resources next to it are still there.
    EXPECT_EQ(Find(m.get(), "GREETING", RT_RCDATA), "neutral");
}

// Every prefix of a PE file and of an ELF file is either refused or read
// within its bounds.
TEST(PeResources, EveryTruncationIsSafe) {
    const std::string files[] = {BuildPe(SampleResources(), true).bytes, ReadAll(PE_PROBE_PATH),
                                 ReadAll(MODULE_PROBE_PATH)};
    for (const std::string &whole : files) {
        ASSERT_FALSE(whole.empty());
        const size_t step = whole.size() > 4096 ? 7 : 1;
        for (size_t length = 0; length < whole.size(); length += step) {
            TempFile file(whole.substr(0, length));
            DataModule m(file.path());
            if (!m.get()) {
                ASSERT_EQ(m.error(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT)) << length;
                continue;
            }
            comhost_test::ExerciseResources(m.get());
        }
    }
}

// Inputs the fuzz target found faults with, replayed.
TEST(PeResources, FuzzRegressions) {
    DIR *dir = opendir(RESOURCE_REGRESSION_DIR);
    ASSERT_NE(dir, nullptr);
    std::vector<std::string> names;
    while (dirent *e = readdir(dir)) {
        if (e->d_name[0] != '.') names.push_back(e->d_name);
    }
    closedir(dir);
    for (const std::string &name : names) {
        SCOPED_TRACE(name);
        TempFile file(ReadAll(std::string(RESOURCE_REGRESSION_DIR) + "/" + name));
        DataModule m(file.path());
        if (m.get()) {
            comhost_test::ExerciseResources(m.get());
        } else {
            EXPECT_EQ(m.error(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
        }
    }
}

}  // namespace
