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

namespace nuv::test {
namespace {

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

TEST_F(ClassRegistration, NoCategoriesMeansNothingToDo) {
    EXPECT_EQ(UpdateClassCategories(CLSID_NUVADOHelper, nullptr, TRUE), S_OK);
    const CategoryEntry none[] = {{0, nullptr}};
    EXPECT_EQ(UpdateClassCategories(GUID_NULL, none, TRUE), S_OK);
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

    // Until the host layer loads type libraries, the type-library step
    // reports that it cannot; the class step is done before it.
    auto typeLibStep = [](HRESULT hr) { return hr == S_OK || hr == TYPE_E_CANTLOADLIBRARY; };
    EXPECT_PRED1(typeLibStep, reg());
    ExpectEntries("nuv_ado_helper.so");
    EXPECT_EQ(Count(), 1u);
    EXPECT_PRED1(typeLibStep, reg());
    EXPECT_EQ(Count(), 2u);
    EXPECT_PRED1(typeLibStep, unreg());
    EXPECT_EQ(Count(), 1u);
    EXPECT_PRED1(typeLibStep, unreg());
    EXPECT_FALSE(AnyEntry());
    EXPECT_EQ(unreg(), E_FAIL);
    FreeLibrary(library);
}

}  // namespace
}  // namespace nuv::test
