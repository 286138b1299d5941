// The registrar's script resources and the module's update operations with
// "APPID", "Module" and "Module_Raw", for the program itself and for a
// library, with paths holding apostrophes and paths at the 260-byte limit.
#include "registry_fixture.h"

#include <filesystem>
#include <string>

namespace nuv::test {
namespace {

namespace fs = std::filesystem;

const char kValuesKey[] = "Software\\RegistrarTests\\ModuleValues";

std::string WindowsForm(const std::string& hostPath) {
    std::string s = hostPath;
    for (char& c : s)
        if (c == '/')
            c = '\\';
    return s;
}

// Makes the registration code see `module` as the library's own image.
class ModuleOverride {
public:
    explicit ModuleOverride(HINSTANCE module) : m_saved(g_hInstance) { g_hInstance = module; }
    ~ModuleOverride() { g_hInstance = m_saved; }

private:
    HINSTANCE m_saved;
};

// A copy of the probe library at `path`, loaded for the test.
class ProbeCopy {
public:
    explicit ProbeCopy(const fs::path& path) : m_path(path) {
        fs::create_directories(path.parent_path());
        fs::copy_file(NUV_PROBE_PATH, path, fs::copy_options::overwrite_existing);
        m_module = LoadLibraryA(path.c_str());
    }
    ~ProbeCopy() {
        if (m_module)
            FreeLibrary(m_module);
        std::error_code ec;
        fs::remove(m_path, ec);
    }
    HMODULE Module() const { return m_module; }

private:
    fs::path m_path;
    HMODULE m_module = nullptr;
};

fs::path TempDir(const std::string& leaf) {
    char dir[] = "/tmp/nuv_registrar_XXXXXX";
    EXPECT_NE(mkdtemp(dir), nullptr);
    return fs::path(dir) / leaf;
}

class Registrar : public RegistryTest {};

TEST_F(Registrar, ProgramModuleIsQuotedLibraryModuleIsNot) {
    char exe[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameA(nullptr, exe, MAX_PATH), 0u);
    {
        ModuleOverride program(GetModuleHandleA(nullptr));
        ASSERT_EQ(g_pModule->UpdateRegistryFromScript(201, TRUE), S_OK);
        EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kValuesKey, "Module").Text(), std::string("\"") + exe + "\"");
        EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kValuesKey, "ModuleRaw").Text(), exe);
        EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kValuesKey, "AppId").Text(), "");
        ASSERT_EQ(g_pModule->UpdateRegistryFromScript(201, FALSE), S_OK);
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kValuesKey));
    }
    HMODULE probe = LoadLibraryA(NUV_PROBE_PATH);
    ASSERT_NE(probe, nullptr);
    {
        ModuleOverride library(probe);
        ASSERT_EQ(g_pModule->UpdateRegistryFromScript(201, TRUE), S_OK);
        const std::string path = WindowsForm(fs::canonical(NUV_PROBE_PATH).string());
        EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kValuesKey, "Module").Text(), path);
        EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kValuesKey, "ModuleRaw").Text(), path);
        // The same through the named resource; an id above 65535 wraps.
        ASSERT_EQ(g_pModule->UpdateRegistryFromNamedScript("ModuleValues", FALSE), S_OK);
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kValuesKey));
        ASSERT_EQ(g_pModule->UpdateRegistryFromScript(0x10000 + 201, TRUE), S_OK);
        EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kValuesKey));
    }
    FreeLibrary(probe);
}

TEST_F(Registrar, CallersVariablesComeFirst) {
    ModuleOverride program(GetModuleHandleA(nullptr));
    const ReplacementEntry list[] = {
        {OLESTR("module"), OLESTR("mine")},
        {OLESTR("AppID"), OLESTR("{app}")},
        {OLESTR("Broken"), nullptr},   // cannot be added; does not fail the update
        {nullptr, nullptr},
    };
    ASSERT_EQ(g_pModule->UpdateRegistryFromScript(201, TRUE, list), S_OK);
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kValuesKey, "Module").Text(), "mine");
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kValuesKey, "AppId").Text(), "{app}");
    EXPECT_NE(ReadValue(HKEY_CURRENT_USER, kValuesKey, "ModuleRaw").Text(), "mine");
}

TEST_F(Registrar, ApostropheInThePath) {
    const fs::path dir = TempDir("it's here");
    ProbeCopy copy(dir / "probe'lib.so");
    ASSERT_NE(copy.Module(), nullptr);
    ModuleOverride library(copy.Module());
    ASSERT_EQ(g_pModule->UpdateRegistryFromScript(201, TRUE), S_OK);
    // Doubled for the script, read back single from the quoted token.
    const std::string path = WindowsForm((dir / "probe'lib.so").string());
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kValuesKey, "Module").Text(), path);
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kValuesKey, "ModuleRaw").Text(), path);

    OLECHAR escaped[8];
    EscapeModulePath(OLESTR("a'b"), escaped, 8);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(escaped)), u"a''b");
    EscapeModulePath(OLESTR("abcdef'"), escaped, 8);   // the second apostrophe does not fit
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(escaped)), u"abcdef'");
    fs::remove_all(dir.parent_path());
}

TEST_F(Registrar, PathOf259BytesIsAcceptedAndOf260Refused) {
    const fs::path dir = TempDir("d");
    fs::create_directories(dir);
    const size_t base = dir.string().size() + 1;
    for (size_t total : {size_t(259), size_t(260)}) {
        const std::string name = std::string(total - base - 3, 'p') + ".so";
        const fs::path file = dir / name;
        ASSERT_EQ(file.string().size(), total);
        ProbeCopy copy(file);
        ASSERT_NE(copy.Module(), nullptr);
        ModuleOverride library(copy.Module());
        const HRESULT hr = g_pModule->UpdateRegistryFromScript(201, TRUE);
        if (total == 259) {
            EXPECT_EQ(hr, S_OK);
            EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kValuesKey, "ModuleRaw").Text(), WindowsForm(file.string()));
            RemoveTree(HKEY_CURRENT_USER, kValuesKey);
        } else {
            EXPECT_EQ(hr, static_cast<HRESULT>(0x8007007A));
            EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kValuesKey));
        }
    }
    fs::remove_all(dir.parent_path());
}

TEST_F(Registrar, ScriptResources) {
    ModuleOverride program(GetModuleHandleA(nullptr));
    const std::string before = Dump(HKEY_CURRENT_USER);
    // No such resource: the loader's error, and the registry is untouched.
    const HRESULT missing = g_pModule->UpdateRegistryFromScript(999, TRUE);
    EXPECT_TRUE(FAILED(missing));
    EXPECT_EQ(missing & 0xFFFF0000, static_cast<HRESULT>(0x80070000));
    EXPECT_EQ(Dump(HKEY_CURRENT_USER), before);
    EXPECT_EQ(g_pModule->UpdateRegistryFromNamedScript(nullptr, TRUE), E_OUTOFMEMORY);

    // 1023 bytes fit the local buffer, 1024 bytes go to the heap: both run.
    ASSERT_EQ(g_pModule->UpdateRegistryFromScript(202, TRUE), S_OK);
    ASSERT_EQ(g_pModule->UpdateRegistryFromScript(203, TRUE), S_OK);
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\RegistrarTests\\Sized1023"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\RegistrarTests\\Sized1024"));

    CRegObject registrar;
    char exe[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::u16string wideExe(exe, exe + std::strlen(exe));
    EXPECT_EQ(registrar.RegisterNamedScriptResource(reinterpret_cast<LPCOLESTR>(wideExe.c_str()), nullptr),
              E_INVALIDARG);
    EXPECT_EQ(registrar.UnregisterScriptResource(nullptr, 202), E_OUTOFMEMORY);
    EXPECT_EQ(registrar.UnregisterScriptResource(reinterpret_cast<LPCOLESTR>(wideExe.c_str()), 203), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\RegistrarTests\\Sized1024"));
    // A registrar without the module's variables: the named script's
    // replacement pass fails before the registry is touched.
    EXPECT_EQ(registrar.RegisterNamedScriptResource(reinterpret_cast<LPCOLESTR>(wideExe.c_str()), u"ModuleValues"),
              DISP_E_EXCEPTION);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kValuesKey));
    EXPECT_TRUE(FAILED(registrar.UnregisterScriptResource(u"/nonexistent/file.so", 202)));
}

}  // namespace
}  // namespace nuv::test
