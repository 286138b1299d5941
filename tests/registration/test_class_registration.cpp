// The class's registration with its shared "RefCount", in the program (with
// the probe library standing in for the library's own file) and through the
// real library's exports.
#include "registration/class_registration.h"
#include "registration/server_registration.h"

#include "adohelper/adohelper.h"
#include "registry_fixture.h"

#if __has_include(<comhost/registry.h>)
#include <comhost/registry.h>
#define NUV_HAVE_REGISTRY_PROTECTION 1
#endif

#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>

namespace nuv::test {
namespace {

// Runs the client process for a ProgID; its exit status (0: created).
int CreateInOtherProcess(const char* progId) {
    const std::string dir = std::filesystem::path(NUV_LIBRARY_PATH).parent_path().string();
    const std::string command =
        "COMHOST_PATH='" + dir + "' '" NUV_CLIENT_PATH "' " + progId + " > /dev/null 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

const std::string kClassKey = "CLSID\\{2C7ED2C0-3039-483D-85C9-3FF649F18385}";
const std::string kInproc = kClassKey + "\\InprocServer32";

class ClassRegistration : public ::testing::Test {
protected:
    void SetUp() override {
        Clean();
        m_probe = LoadLibraryA(NUV_PROBE_PATH);
        ASSERT_NE(m_probe, nullptr);
        m_saved = g_hInstance;
        g_hInstance = m_probe;
    }
    void TearDown() override {
        ComHostFailAllocation(0);
        g_hInstance = m_saved;
        if (m_probe)
            FreeLibrary(m_probe);
        Clean();
    }
    static void Clean() {
        RemoveTree(HKEY_CLASSES_ROOT, "Orvane.ADOHelper.1");
        RemoveTree(HKEY_CLASSES_ROOT, "Orvane.ADOHelper");
        RemoveTree(HKEY_CLASSES_ROOT, kClassKey);
    }
    static bool AnyEntry() {
        return KeyExists(HKEY_CLASSES_ROOT, "Orvane.ADOHelper.1") || KeyExists(HKEY_CLASSES_ROOT, "Orvane.ADOHelper") ||
               KeyExists(HKEY_CLASSES_ROOT, kClassKey);
    }
    static RegValue RefCount() { return ReadValue(HKEY_CLASSES_ROOT, kInproc, "RefCount"); }
    static DWORD Count() {
        const RegValue v = RefCount();
        DWORD d = 0;
        EXPECT_EQ(v.type, static_cast<DWORD>(REG_DWORD));
        if (v.data.size() == 4)
            std::memcpy(&d, v.data.data(), 4);
        return d;
    }
    static void SetRefCount(DWORD type, const void* data, DWORD cb) {
        HKEY hKey = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, kInproc.c_str(), 0, KEY_ALL_ACCESS, &hKey), ERROR_SUCCESS);
        RegSetValueExA(hKey, "RefCount", 0, type, static_cast<const BYTE*>(data), cb);
        RegCloseKey(hKey);
    }

    HMODULE m_probe = nullptr;
    HINSTANCE m_saved = nullptr;
};

// Every entry of the class's script, as registering writes it.
void ExpectEntries(const std::string& bareName) {
    auto text = [](const std::string& key, const char* name = nullptr) {
        return ReadValue(HKEY_CLASSES_ROOT, key, name).Text();
    };
    EXPECT_EQ(text("Orvane.ADOHelper.1"), "ADOHelper Class");
    EXPECT_EQ(text("Orvane.ADOHelper.1\\CLSID"), "{2C7ED2C0-3039-483d-85C9-3FF649F18385}");
    EXPECT_EQ(text("Orvane.ADOHelper"), "ADOHelper Class");
    EXPECT_EQ(text("Orvane.ADOHelper\\CLSID"), "{2C7ED2C0-3039-483d-85C9-3FF649F18385}");
    EXPECT_EQ(text("Orvane.ADOHelper\\CurVer"), "Orvane.ADOHelper.1");
    EXPECT_EQ(text(kClassKey), "ADOHelper Class");
    EXPECT_EQ(text(kClassKey + "\\ProgID"), "Orvane.ADOHelper.1");
    EXPECT_EQ(text(kClassKey + "\\VersionIndependentProgID"), "Orvane.ADOHelper");
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kClassKey + "\\Programmable"));
    EXPECT_EQ(text(kInproc), bareName);
    EXPECT_EQ(text(kInproc, "ThreadingModel"), "Apartment");
    EXPECT_EQ(text(kClassKey + "\\TypeLib"), "{1C8D13FE-5005-4D1E-9643-1BC8B349DCAE}");
}

TEST_F(ClassRegistration, RegisterTwiceUnregisterTwice) {
    ASSERT_EQ(UpdateSharedRegistration(TRUE, CLSID_NUVADOHelper), S_OK);
    ExpectEntries("registration_probe.so");
    EXPECT_EQ(Count(), 1u);
    ASSERT_EQ(CNUVADOHelper::UpdateRegistry(TRUE), S_OK);
    EXPECT_EQ(Count(), 2u);
    ASSERT_EQ(UpdateSharedRegistration(FALSE, CLSID_NUVADOHelper), S_OK);
    ExpectEntries("registration_probe.so");
    EXPECT_EQ(Count(), 1u);
    ASSERT_EQ(UpdateSharedRegistration(FALSE, CLSID_NUVADOHelper), S_OK);
    EXPECT_FALSE(AnyEntry());
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "CLSID"));   // NoRemove
}

TEST_F(ClassRegistration, NeverRegisteredUnregisterFailsAndChangesNothing) {
    const std::string before = Dump(HKEY_CLASSES_ROOT);
    EXPECT_EQ(UpdateSharedRegistration(FALSE, CLSID_NUVADOHelper), E_FAIL);
    EXPECT_EQ(Dump(HKEY_CLASSES_ROOT), before);
}

TEST_F(ClassRegistration, UnusableOrHighCounts) {
    ASSERT_EQ(UpdateSharedRegistration(TRUE, CLSID_NUVADOHelper), S_OK);
    // A count of 5 is lowered without running the script.
    const DWORD five = 5;
    SetRefCount(REG_DWORD, &five, 4);
    ASSERT_EQ(UpdateSharedRegistration(FALSE, CLSID_NUVADOHelper), S_OK);
    EXPECT_EQ(Count(), 4u);
    ExpectEntries("registration_probe.so");
    // A count stored as text counts as 0: registering replaces it with 1 ...
    SetRefCount(REG_SZ, "7", 2);
    ASSERT_EQ(UpdateSharedRegistration(TRUE, CLSID_NUVADOHelper), S_OK);
    EXPECT_EQ(Count(), 1u);
    // ... and unregistering removes the class at once.
    SetRefCount(REG_SZ, "7", 2);
    ASSERT_EQ(UpdateSharedRegistration(FALSE, CLSID_NUVADOHelper), S_OK);
    EXPECT_FALSE(AnyEntry());
    // Entries without a count go with the first unregistration.
    ASSERT_EQ(UpdateSharedRegistration(TRUE, CLSID_NUVADOHelper), S_OK);
    HKEY hKey = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, kInproc.c_str(), 0, KEY_ALL_ACCESS, &hKey), ERROR_SUCCESS);
    RegDeleteValueA(hKey, "RefCount");
    RegCloseKey(hKey);
    ASSERT_EQ(UpdateSharedRegistration(FALSE, CLSID_NUVADOHelper), S_OK);
    EXPECT_FALSE(AnyEntry());
}

TEST_F(ClassRegistration, FailingScriptRollsBackTheClassAndItsCount) {
#ifdef NUV_HAVE_REGISTRY_PROTECTION
    ASSERT_EQ(UpdateSharedRegistration(TRUE, CLSID_NUVADOHelper), S_OK);
    ASSERT_EQ(UpdateSharedRegistration(TRUE, CLSID_NUVADOHelper), S_OK);
    const std::u16string typeLib = u"CLSID\\{2C7ED2C0-3039-483D-85C9-3FF649F18385}\\TypeLib";
    ASSERT_EQ(ComHostRegistryProtectKey(HKEY_CLASSES_ROOT, reinterpret_cast<LPCWSTR>(typeLib.c_str()), TRUE),
              ERROR_SUCCESS);
    EXPECT_EQ(UpdateSharedRegistration(TRUE, CLSID_NUVADOHelper), HResultFromWin32(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Orvane.ADOHelper.1"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Orvane.ADOHelper"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kInproc));   // "RefCount" went with it
    ComHostRegistryProtectKey(HKEY_CLASSES_ROOT, reinterpret_cast<LPCWSTR>(typeLib.c_str()), FALSE);
#else
    GTEST_SKIP() << "the registry of this build cannot protect keys";
#endif
}

TEST_F(ClassRegistration, EveryAllocationFailureOfARegistration) {
    const int failures = AllocationSweep(
        [] { return UpdateSharedRegistration(TRUE, CLSID_NUVADOHelper); },
        [&](LONG nth, HRESULT hr, bool failed) {
        if (!failed) {
            ASSERT_EQ(hr, S_OK);
            ExpectEntries("registration_probe.so");
            EXPECT_EQ(Count(), 1u);
            return;
        }
        if (SUCCEEDED(hr)) {
            // Only the count's own write can fail unreported.
            ExpectEntries("registration_probe.so");
        } else if (hr == E_FAIL) {
            // The key could not be opened after the script ran: entries
            // without a count.
            ExpectEntries("registration_probe.so");
            EXPECT_FALSE(RefCount().exists);
        } else {
            // Failed before or inside the script run: nothing is left.
            EXPECT_FALSE(AnyEntry()) << "allocation " << nth << " hr " << std::hex << hr;
        }
        Clean();
        });
    EXPECT_GT(failures, 3);
    ASSERT_EQ(UpdateSharedRegistration(FALSE, CLSID_NUVADOHelper), S_OK);
    EXPECT_FALSE(AnyEntry());
}

TEST_F(ClassRegistration, Categories) {
    const std::string before = Dump(HKEY_CLASSES_ROOT);
    EXPECT_EQ(UpdateClassCategories(CLSID_NUVADOHelper, nullptr, TRUE), S_OK);
    const CategoryEntry none[] = {{0, nullptr}};
    EXPECT_EQ(UpdateClassCategories(GUID_NULL, none, TRUE), S_OK);
    EXPECT_EQ(Dump(HKEY_CLASSES_ROOT), before);

    // A class that declares one implemented and one required category.
    static const CLSID clsid = {0x0B0C0D0E, 0x1111, 0x2222, {0x33, 0x33, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44}};
    static const GUID implemented = {0x40FC6ED4, 0x2438, 0x11CF, {0xA3, 0xDB, 0x08, 0x00, 0x36, 0xF1, 0x25, 0x02}};
    static const GUID required = {0x40FC6ED5, 0x2438, 0x11CF, {0xA3, 0xDB, 0x08, 0x00, 0x36, 0xF1, 0x25, 0x02}};
    const CategoryEntry categories[] = {{1, &implemented}, {2, &required}, {0, nullptr}};
    const std::string key = "CLSID\\{0B0C0D0E-1111-2222-3333-444444444444}";
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ASSERT_EQ(UpdateClassCategories(clsid, categories, TRUE), S_OK);
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, key + "\\Implemented Categories\\{40FC6ED4-2438-11CF-A3DB-080036F12502}"));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, key + "\\Required Categories\\{40FC6ED5-2438-11CF-A3DB-080036F12502}"));
    ASSERT_EQ(UpdateClassCategories(clsid, categories, FALSE), S_OK);
    // The category keys left empty are removed as well.
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key + "\\Implemented Categories"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key + "\\Required Categories"));
    CoUninitialize();
    RemoveTree(HKEY_CLASSES_ROOT, key);
}

// The library's own exports, loaded as an installer loads it.
TEST_F(ClassRegistration, LibraryExports) {
    HMODULE library = LoadLibraryA(NUV_LIBRARY_PATH);
    ASSERT_NE(library, nullptr);
    typedef HRESULT(STDAPICALLTYPE * Export)();
    auto reg = reinterpret_cast<Export>(reinterpret_cast<void*>(GetProcAddress(library, "DllRegisterServer")));
    auto unreg = reinterpret_cast<Export>(reinterpret_cast<void*>(GetProcAddress(library, "DllUnregisterServer")));
    ASSERT_NE(reg, nullptr);
    ASSERT_NE(unreg, nullptr);

    EXPECT_EQ(CreateInOtherProcess("Orvane.ADOHelper"), 1);
    EXPECT_EQ(reg(), S_OK);
    ExpectEntries("nuv_ado_helper.so");
    EXPECT_EQ(Count(), 1u);
    // While registered, another process creates the class by either ProgID.
    EXPECT_EQ(CreateInOtherProcess("Orvane.ADOHelper"), 0);
    EXPECT_EQ(CreateInOtherProcess("Orvane.ADOHelper.1"), 0);
    EXPECT_EQ(reg(), S_OK);
    EXPECT_EQ(Count(), 2u);
    // The type library goes with every unregistration whose class step
    // succeeds, also one that only lowers the count; the last one then finds
    // it gone already, after its class step has removed the class.
    EXPECT_EQ(unreg(), S_OK);
    EXPECT_EQ(Count(), 1u);
    EXPECT_EQ(unreg(), TYPE_E_REGISTRYACCESS);
    EXPECT_FALSE(AnyEntry());
    EXPECT_EQ(CreateInOtherProcess("Orvane.ADOHelper"), 1);
    EXPECT_EQ(CreateInOtherProcess("Orvane.ADOHelper.1"), 1);
    EXPECT_EQ(unreg(), E_FAIL);
    FreeLibrary(library);
}

}  // namespace
}  // namespace nuv::test
