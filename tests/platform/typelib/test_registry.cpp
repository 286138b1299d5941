// Type libraries in the registry: what RegisterTypeLib writes and
// UnRegisterTypeLib removes, and how LoadRegTypeLib and
// QueryPathOfRegTypeLib pick a version and a locale.  Each test works on a
// registry database of its own.
#include "typelib_test_util.h"

#include <comhost/registry.h>

#include <stdlib.h>
#include <unistd.h>

using namespace typelib_test;

namespace {

const GUID kCallsLib = {0x5B0F6A10, 0x1C1E, 0x4C55, {0x9E, 0x0B, 0x6E, 0x1D, 0x2A, 0x3B, 0x4C, 0x01}};
const GUID kAdoHelperLib = {0x1C8D13FE, 0x5005, 0x4D1E, {0x96, 0x43, 0x1B, 0xC8, 0xB3, 0x49, 0xDC, 0xAE}};
const char16_t kLibKey[] = u"TypeLib\\{5B0F6A10-1C1E-4C55-9E0B-6E1D2A3B4C01}";
const char16_t kIfaceKey[] = u"Interface\\{5B0F6A10-1C1E-4C55-9E0B-6E1D2A3B4C02}";

std::u16string ReadValue(const char16_t *key, const char16_t *value = nullptr) {
    HKEY h = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key, 0, KEY_READ, &h) != ERROR_SUCCESS) return u"<no key>";
    WCHAR buffer[512];
    DWORD bytes = sizeof buffer;
    DWORD type = 0;
    const LSTATUS s = RegQueryValueExW(h, value, nullptr, &type, reinterpret_cast<BYTE *>(buffer), &bytes);
    RegCloseKey(h);
    if (s != ERROR_SUCCESS) return u"<no value>";
    return std::u16string(buffer, bytes / sizeof(WCHAR) - (bytes >= 2 && buffer[bytes / 2 - 1] == 0 ? 1 : 0));
}

bool KeyExists(const char16_t *key) {
    HKEY h = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key, 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
    RegCloseKey(h);
    return true;
}

std::u16string Key(const char16_t *base, const char16_t *tail) { return std::u16string(base) + tail; }

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/typelib_reg_XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        dir_ = pattern;
        ASSERT_TRUE(ComHostRegistryUseFile((dir_ + "/registry.db").c_str()));
    }
    void TearDown() override {
        ComHostRegistryUseFile(nullptr);
        const std::string cmd = "rm -rf '" + dir_ + "'";
        if (system(cmd.c_str()) != 0) ADD_FAILURE() << "cannot remove " << dir_;
    }
    std::string dir_;
};

TEST_F(RegistryTest, RegisterWritesWhatWindowsWrites) {
    Ptr<ITypeLib> lib;
    ASSERT_EQ(S_OK, Load(TEST_CALLS_TLB, lib.out()));
    std::u16string path = Wide(TEST_CALLS_TLB);
    std::u16string help = u"\\help\\dir";
    ASSERT_EQ(S_OK, RegisterTypeLib(lib.get(), path.data(), help.data()));

    EXPECT_EQ(u"Invoke test library", ReadValue(Key(kLibKey, u"\\1.2").c_str()));
    EXPECT_EQ(u"0", ReadValue(Key(kLibKey, u"\\1.2\\FLAGS").c_str()));
    EXPECT_EQ(help, ReadValue(Key(kLibKey, u"\\1.2\\HELPDIR").c_str()));
    EXPECT_EQ(path, ReadValue(Key(kLibKey, u"\\1.2\\0\\win32").c_str()));
    EXPECT_EQ(u"ICalls", ReadValue(kIfaceKey));
    EXPECT_EQ(u"{00020424-0000-0000-C000-000000000046}", ReadValue(Key(kIfaceKey, u"\\ProxyStubClsid").c_str()));
    EXPECT_EQ(u"{00020424-0000-0000-C000-000000000046}",
              ReadValue(Key(kIfaceKey, u"\\ProxyStubClsid32").c_str()));
    EXPECT_EQ(u"{5B0F6A10-1C1E-4C55-9E0B-6E1D2A3B4C01}", ReadValue(Key(kIfaceKey, u"\\TypeLib").c_str()));
    EXPECT_EQ(u"1.2", ReadValue(Key(kIfaceKey, u"\\TypeLib").c_str(), u"Version"));

    BSTR found = nullptr;
    ASSERT_EQ(S_OK, QueryPathOfRegTypeLib(kCallsLib, 1, 0, 0x409, &found));   // minor 2 satisfies 0
    EXPECT_EQ(path, std::u16string(found));
    SysFreeString(found);
    EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, QueryPathOfRegTypeLib(kCallsLib, 1, 3, 0, &found));
    EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, QueryPathOfRegTypeLib(kCallsLib, 2, 0, 0, &found));

    Ptr<ITypeLib> again;
    ASSERT_EQ(S_OK, LoadRegTypeLib(kCallsLib, 1, 2, 0x407, again.out()));
    EXPECT_EQ(lib->GetTypeInfoCount(), again->GetTypeInfoCount());
}

TEST_F(RegistryTest, VersionAndLocaleMatching) {
    // 1.2 at locale 0 (the file) and 1.a at language 7 (a path of its own).
    Ptr<ITypeLib> lib;
    ASSERT_EQ(S_OK, Load(TEST_CALLS_TLB, lib.out()));
    std::u16string path = Wide(TEST_CALLS_TLB);
    ASSERT_EQ(S_OK, RegisterTypeLib(lib.get(), path.data(), nullptr));
    HKEY h = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_CLASSES_ROOT, Key(kLibKey, u"\\1.a\\7\\win32").c_str(), &h));
    const char16_t german[] = u"/german/calls.tlb";
    RegSetValueExW(h, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE *>(german), sizeof german);
    RegCloseKey(h);

    BSTR found = nullptr;
    ASSERT_EQ(S_OK, QueryPathOfRegTypeLib(kCallsLib, 1, 0, 0x7, &found));   // highest minor, exact locale
    EXPECT_EQ(std::u16string(german), found);
    SysFreeString(found);
    ASSERT_EQ(S_OK, QueryPathOfRegTypeLib(kCallsLib, 1, 0, 0x807, &found));   // its primary language
    EXPECT_EQ(std::u16string(german), found);
    SysFreeString(found);
    // Only the highest minor version is searched: 1.a has neither 0x409, 9 nor 0.
    EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, QueryPathOfRegTypeLib(kCallsLib, 1, 2, 0x409, &found));
    ASSERT_EQ(S_OK, QueryPathOfRegTypeLib(kCallsLib, 1, 0, 0x7, &found));
    SysFreeString(found);
    HKEY zero = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_CLASSES_ROOT, Key(kLibKey, u"\\1.a\\0\\win32").c_str(), &zero));
    const char16_t neutral[] = u"/neutral/calls.tlb";
    RegSetValueExW(zero, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE *>(neutral), sizeof neutral);
    RegCloseKey(zero);
    ASSERT_EQ(S_OK, QueryPathOfRegTypeLib(kCallsLib, 1, 2, 0x409, &found));   // then locale 0
    EXPECT_EQ(std::u16string(neutral), found);
    SysFreeString(found);
    // A registered path that does not load: the load fails.
    Ptr<ITypeLib> german_lib;
    EXPECT_TRUE(FAILED(LoadRegTypeLib(kCallsLib, 1, 0, 0x407, german_lib.out())));
    EXPECT_FALSE(german_lib);
}

TEST_F(RegistryTest, UnregisterRemovesTheLibraryWhenNoVersionIsLeft) {
    Ptr<ITypeLib> lib;
    ASSERT_EQ(S_OK, Load(TEST_CALLS_TLB, lib.out()));
    std::u16string path = Wide(TEST_CALLS_TLB);
    ASSERT_EQ(S_OK, RegisterTypeLib(lib.get(), path.data(), nullptr));
    ASSERT_EQ(S_OK, RegisterTypeLib(lib.get(), path.data(), nullptr));   // twice: the same entries

    // Another version stays registered while 1.2 goes.
    HKEY h = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_CLASSES_ROOT, Key(kLibKey, u"\\2.0\\0\\win32").c_str(), &h));
    RegCloseKey(h);
    ASSERT_EQ(S_OK, UnRegisterTypeLib(kCallsLib, 1, 2, 0, SYS_WIN32));
    EXPECT_FALSE(KeyExists(Key(kLibKey, u"\\1.2").c_str()));
    EXPECT_FALSE(KeyExists(kIfaceKey));
    EXPECT_TRUE(KeyExists(Key(kLibKey, u"\\2.0").c_str()));
    EXPECT_EQ(TYPE_E_REGISTRYACCESS, UnRegisterTypeLib(kCallsLib, 1, 2, 0, SYS_WIN32));

    ASSERT_EQ(S_OK, RegisterTypeLib(lib.get(), path.data(), nullptr));
    ASSERT_EQ(S_OK, UnRegisterTypeLib(kCallsLib, 2, 0, 0, SYS_WIN32));
    EXPECT_TRUE(KeyExists(kLibKey));
    ASSERT_EQ(S_OK, UnRegisterTypeLib(kCallsLib, 1, 2, 0, SYS_WIN32));
    EXPECT_FALSE(KeyExists(kLibKey));
    EXPECT_FALSE(KeyExists(kIfaceKey));
}

TEST_F(RegistryTest, AnInterfaceOwnedByAnotherLibraryStays) {
    Ptr<ITypeLib> lib;
    ASSERT_EQ(S_OK, Load(TEST_CALLS_TLB, lib.out()));
    std::u16string path = Wide(TEST_CALLS_TLB);
    ASSERT_EQ(S_OK, RegisterTypeLib(lib.get(), path.data(), nullptr));
    HKEY h = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_CLASSES_ROOT, Key(kIfaceKey, u"\\TypeLib").c_str(), &h));
    const char16_t other[] = u"{00000000-0000-0000-0000-000000000001}";
    RegSetValueExW(h, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE *>(other), sizeof other);
    RegCloseKey(h);
    ASSERT_EQ(S_OK, UnRegisterTypeLib(kCallsLib, 1, 2, 0, SYS_WIN32));
    EXPECT_TRUE(KeyExists(kIfaceKey));
    EXPECT_FALSE(KeyExists(kLibKey));
}

TEST_F(RegistryTest, AFailedLoadIsFollowedByRegistrationAndSuccess) {
    Ptr<ITypeLib> lib;
    EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, LoadRegTypeLib(kAdoHelperLib, 1, 0, 0, lib.out()));
    ASSERT_EQ(S_OK, LoadTypeLibEx(Wide(TEST_PRODUCT_SO).c_str(), REGKIND_REGISTER, lib.out()));
    Ptr<ITypeLib> registered;
    ASSERT_EQ(S_OK, LoadRegTypeLib(kAdoHelperLib, 1, 0, 0x409, registered.out()));
    EXPECT_EQ(3u, registered->GetTypeInfoCount());
    EXPECT_EQ(Wide(TEST_PRODUCT_SO),
              ReadValue(u"TypeLib\\{1C8D13FE-5005-4D1E-9643-1BC8B349DCAE}\\1.0\\0\\win32"));
    EXPECT_EQ(u"IADOHelper", ReadValue(u"Interface\\{CA87BF8E-53FB-4416-B352-8A8788A6CD5D}"));
    ASSERT_EQ(S_OK, UnRegisterTypeLib(kAdoHelperLib, 1, 0, 0, SYS_WIN32));
    EXPECT_FALSE(KeyExists(u"TypeLib\\{1C8D13FE-5005-4D1E-9643-1BC8B349DCAE}"));
    EXPECT_FALSE(KeyExists(u"Interface\\{CA87BF8E-53FB-4416-B352-8A8788A6CD5D}"));
}

TEST_F(RegistryTest, ArgumentsAreChecked) {
    BSTR path = reinterpret_cast<BSTR>(1);
    EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, QueryPathOfRegTypeLib(kCallsLib, 1, 2, 0, &path));
    EXPECT_EQ(nullptr, path);
    EXPECT_EQ(E_INVALIDARG, QueryPathOfRegTypeLib(kCallsLib, 1, 2, 0, nullptr));
    EXPECT_EQ(E_INVALIDARG, RegisterTypeLib(nullptr, const_cast<OLECHAR *>(u"x"), nullptr));
    EXPECT_EQ(E_INVALIDARG, UnRegisterTypeLib(kCallsLib, 1, 2, 0, static_cast<SYSKIND>(9)));
}

}  // namespace
