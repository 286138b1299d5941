// Key and value operations: results and error codes, names, handles, access
// rights, protection, code pages and allocation failures.

#include "registry_test_util.h"

#include <cstring>
#include <thread>
#include <vector>

using namespace regtest;

namespace {

using KeysAndHandles = RegistryTest;

TEST_F(KeysAndHandles, CreateMakesEveryLevelAndReportsDisposition) {
    Key k;
    DWORD disposition = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Test\\A\\B", 0, nullptr, 0,
                                             KEY_READ | KEY_WRITE, nullptr, k.put(), &disposition));
    EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\Test\\A"));
    Key again;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\test\\a\\b\\", 0, nullptr, 0, KEY_READ,
                                             nullptr, again.put(), &disposition));
    EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), disposition);
    EXPECT_NE(k.get(), again.get());

    Key missing;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Nope", 0, KEY_READ, missing.put()));
    EXPECT_EQ(nullptr, missing.get());
    EXPECT_EQ(ERROR_BAD_PATHNAME, RegOpenKeyExA(HKEY_CURRENT_USER, "\\Software", 0, KEY_READ, missing.put()));
    EXPECT_EQ(ERROR_BAD_PATHNAME,
              RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\\\X", 0, nullptr, 0, KEY_WRITE, nullptr, missing.put(),
                              nullptr));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\X"));
}

TEST_F(KeysAndHandles, NullOrEmptySubkeyReopensTheParent) {
    Key parent, viaNull, viaEmpty;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Reopen", parent.put()));
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(parent.get(), nullptr, 0, KEY_ALL_ACCESS, viaNull.put()));
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(parent.get(), u"", 0, KEY_ALL_ACCESS, viaEmpty.put()));
    EXPECT_NE(parent.get(), viaNull.get());
    EXPECT_NE(viaNull.get(), viaEmpty.get());
    ASSERT_EQ(ERROR_SUCCESS, SetDword(viaNull.get(), "v", 7));
    EXPECT_EQ(7u, DwordOf(viaEmpty.get(), "v"));
    // A root reopened is an ordinary handle, not the predefined value.
    Key root;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, nullptr, 0, KEY_READ, root.put()));
    EXPECT_NE(HKEY_LOCAL_MACHINE, root.get());
    EXPECT_TRUE(KeyExists(root.get(), "SOFTWARE\\Classes"));
}

TEST_F(KeysAndHandles, ClosingRootsIsHarmlessAndClosedHandlesAreInvalid) {
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_LOCAL_MACHINE));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_CLASSES_ROOT));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE"));
    HKEY h = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Closed", &h));
    ASSERT_EQ(ERROR_SUCCESS, RegCloseKey(h));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(h));
    EXPECT_EQ(ERROR_INVALID_HANDLE, SetDword(h, "v", 1));
    DWORD count = 0;
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegQueryInfoKeyA(h, nullptr, nullptr, nullptr, &count, nullptr, nullptr,
                                                     nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(nullptr));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegOpenKeyExA(reinterpret_cast<HKEY>(0x1234), "x", 0, KEY_READ, &h));
    // A later handle never takes the closed one's value.
    Key next;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Closed", 0, KEY_READ, next.put()));
    EXPECT_NE(h, next.get());
}

TEST_F(KeysAndHandles, NamesIgnoreCaseAndKeepTheirFirstSpelling) {
    Key k;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_CURRENT_USER, u"Software\\\u00c4rger\\MixedCase", k.put()));
    Key same;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, u"SOFTWARE\\\u00e4RGER\\mixedcase", 0, KEY_ALL_ACCESS,
                                           same.put()));
    ASSERT_EQ(ERROR_SUCCESS, SetDword(same.get(), "Value", 1));
    ASSERT_EQ(ERROR_SUCCESS, SetDword(k.get(), "VALUE", 2));  // the same value; its name keeps "Value"
    EXPECT_EQ(2u, DwordOf(k.get(), "value"));
    char name[32];
    DWORD cch = sizeof(name);
    ASSERT_EQ(ERROR_SUCCESS, RegEnumValueA(k.get(), 0, name, &cch, nullptr, nullptr, nullptr, nullptr));
    EXPECT_STREQ("Value", name);
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumValueA(k.get(), 1, name, &cch, nullptr, nullptr, nullptr, nullptr));

    Key parent;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, u"software\\\u00c4RGER", 0, KEY_READ, parent.put()));
    WCHAR wname[32];
    DWORD wcch = 32;
    ASSERT_EQ(ERROR_SUCCESS, RegEnumKeyExW(parent.get(), 0, wname, &wcch, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(std::u16string(u"MixedCase"), std::u16string(wname));
    EXPECT_EQ(9u, wcch);
    // Different letters stay different keys.
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\Arger"));
}

TEST_F(KeysAndHandles, ClassesRootIsLocalMachineSoftwareClasses) {
    Key viaHkcr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CLASSES_ROOT, "My.Prog.1\\CLSID", viaHkcr.put()));
    ASSERT_EQ(ERROR_SUCCESS, SetString(viaHkcr.get(), nullptr, "{guid}"));
    Key viaHklm;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Classes\\my.prog.1\\clsid", 0, KEY_ALL_ACCESS,
                                           viaHklm.put()));
    EXPECT_EQ("{guid}", StringOf(viaHklm.get(), ""));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\My.Prog.1\\CLSID"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "My.Prog.1\\CLSID"));
    // The keys behind the roots stay.
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_CLASSES_ROOT, ""));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "My.Prog.1"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeA(HKEY_CLASSES_ROOT, nullptr));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "My.Prog.1"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes"));
}

TEST_F(KeysAndHandles, DeleteKeyRefusesSubkeysAndDeletedKeysAnswerKeyDeleted) {
    Key a, b;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Del\\Child", b.put()));
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Del", 0, KEY_ALL_ACCESS, a.put()));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Del"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Del\\Nope"));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(a.get(), "child"));

    // b still names the deleted key.
    EXPECT_EQ(ERROR_KEY_DELETED, SetDword(b.get(), "v", 1));
    DWORD v = 0, size = 4;
    EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExA(b.get(), "v", nullptr, nullptr, reinterpret_cast<BYTE *>(&v), &size));
    char name[16];
    DWORD cch = sizeof(name);
    EXPECT_EQ(ERROR_KEY_DELETED, RegEnumKeyExA(b.get(), 0, name, &cch, nullptr, nullptr, nullptr, nullptr));
    Key sub;
    EXPECT_EQ(ERROR_KEY_DELETED, RegCreateKeyA(b.get(), "x", sub.put()));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(b.release()));
    // Re-creating the name makes a new key; the old handle does not reach it.
    Key recreated;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Del\\Child", recreated.put()));

    // Deleting the handle's own key with an empty name needs DELETE access.
    Key readOnly;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Del\\Child", 0, KEY_READ | KEY_WRITE,
                                           readOnly.put()));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(readOnly.get(), ""));
    Key full;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Del\\Child", 0, KEY_ALL_ACCESS, full.put()));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(full.get(), ""));
    EXPECT_EQ(ERROR_KEY_DELETED, SetDword(recreated.get(), "v", 1));
}

// A deleted key answers ERROR_KEY_DELETED before any access check, and a
// key that is still there answers the lookup's own result.
TEST_F(KeysAndHandles, DeletedKeyOutranksAccessAndEmptyLookups) {
    Key writeOnly, readOnly;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Gone", writeOnly.put()));
    writeOnly.reset();
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Gone", 0, KEY_SET_VALUE, writeOnly.put()));
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Gone", 0, KEY_READ, readOnly.put()));
    char name[16];
    DWORD cch = sizeof(name), size = 0;
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegQueryValueExA(writeOnly.get(), "v", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(readOnly.get(), "v", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumKeyExA(readOnly.get(), 0, name, &cch, nullptr, nullptr, nullptr, nullptr));
    cch = sizeof(name);
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumValueA(readOnly.get(), 0, name, &cch, nullptr, nullptr, nullptr, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Gone"));
    for (HKEY h : {writeOnly.get(), readOnly.get()}) {
        cch = sizeof(name);
        EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExA(h, "v", nullptr, nullptr, nullptr, &size));
        EXPECT_EQ(ERROR_KEY_DELETED, RegEnumKeyExA(h, 0, name, &cch, nullptr, nullptr, nullptr, nullptr));
        cch = sizeof(name);
        EXPECT_EQ(ERROR_KEY_DELETED, RegEnumValueA(h, 0, name, &cch, nullptr, nullptr, nullptr, nullptr));
        EXPECT_EQ(ERROR_KEY_DELETED, RegDeleteValueA(h, "v"));
    }
}

TEST_F(KeysAndHandles, DeleteTreeRemovesEverythingBelow) {
    Key k;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Tree\\A\\B\\C", k.put()));
    ASSERT_EQ(ERROR_SUCCESS, SetDword(k.get(), "v", 1));
    Key top;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Tree", 0, KEY_ALL_ACCESS, top.put()));
    ASSERT_EQ(ERROR_SUCCESS, SetDword(top.get(), "top", 1));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeA(top.get(), nullptr));  // contents only
    DWORD subkeys = 9, values = 9;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(top.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                              &values, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(0u, subkeys);
    EXPECT_EQ(0u, values);
    EXPECT_EQ(ERROR_KEY_DELETED, SetDword(k.get(), "v", 2));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Tree"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\Tree"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Tree"));
}

using Values = RegistryTest;

TEST_F(Values, DefaultValueIsTheValueWithoutAName) {
    Key k;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Def", k.put()));
    DWORD size = 0;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(k.get(), nullptr, nullptr, nullptr, nullptr, &size));
    ASSERT_EQ(ERROR_SUCCESS, SetString(k.get(), nullptr, "dflt"));
    EXPECT_EQ("dflt", StringOf(k.get(), ""));
    WCHAR text[16];
    DWORD cb = sizeof(text);
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(k.get(), u"", nullptr, nullptr, reinterpret_cast<BYTE *>(text), &cb));
    EXPECT_EQ(10u, cb);
    EXPECT_EQ(std::u16string(u"dflt"), std::u16string(text));
    char name[8] = "x";
    DWORD cch = sizeof(name);
    ASSERT_EQ(ERROR_SUCCESS, RegEnumValueA(k.get(), 0, name, &cch, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(0u, cch);
    EXPECT_STREQ("", name);
    // The old forms read and write the default value of a subkey.
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueA(HKEY_CURRENT_USER, "Software\\Def\\Sub", REG_SZ, "old", 0));
    char buffer[16];
    LONG lcb = sizeof(buffer);
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueA(HKEY_CURRENT_USER, "Software\\Def\\Sub", buffer, &lcb));
    EXPECT_EQ(4, lcb);
    EXPECT_STREQ("old", buffer);
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteValueA(k.get(), ""));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueA(k.get(), nullptr));
}

TEST_F(Values, SizesMoreDataAndSizeQueries) {
    Key k;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Sizes", k.put()));
    ASSERT_EQ(ERROR_SUCCESS, SetString(k.get(), "s", "hello"));
    DWORD type = 0, size = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(k.get(), "s", nullptr, &type, nullptr, &size));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(6u, size);
    char small[4] = {'z', 'z', 'z', 'z'};
    size = sizeof(small);
    EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExA(k.get(), "s", nullptr, &type, reinterpret_cast<BYTE *>(small), &size));
    EXPECT_EQ(6u, size);
    size = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(k.get(), u"s", nullptr, &type, nullptr, &size));
    EXPECT_EQ(12u, size);  // stored as UTF-16
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegQueryValueExA(k.get(), "s", nullptr, &type, reinterpret_cast<BYTE *>(small), nullptr));

    // A 4-byte buffer for a DWORD (the shared count's read) and a missing value.
    ASSERT_EQ(ERROR_SUCCESS, SetDword(k.get(), "RefCount", 3));
    EXPECT_EQ(3u, DwordOf(k.get(), "RefCount"));
    EXPECT_EQ(0xffffffffu, DwordOf(k.get(), "Missing"));
    BYTE blob[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(k.get(), "RefCount", 0, REG_BINARY, blob, sizeof(blob)));
    DWORD v = 0;
    size = sizeof(v);
    EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExA(k.get(), "RefCount", nullptr, &type, reinterpret_cast<BYTE *>(&v), &size));
    EXPECT_EQ(9u, size);
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);

    // Empty data, and data of no particular type.
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(k.get(), "empty", 0, REG_BINARY, nullptr, 0));
    size = 99;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(k.get(), "empty", nullptr, &type, nullptr, &size));
    EXPECT_EQ(0u, size);
    EXPECT_EQ(ERROR_NOACCESS, RegSetValueExA(k.get(), "bad", 0, REG_BINARY, nullptr, 4));

    // Multi-strings through A: every string converted, the terminators kept.
    const char multi[] = "one\0two\0";
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(k.get(), "m", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE *>(multi), 9));
    WCHAR wmulti[16];
    size = sizeof(wmulti);
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(k.get(), u"m", nullptr, &type, reinterpret_cast<BYTE *>(wmulti), &size));
    EXPECT_EQ(18u, size);
    EXPECT_EQ(0, std::memcmp(wmulti, u"one\0two\0", 18));
}

TEST_F(Values, GetValueChecksTypesAndTerminatesStrings) {
    Key k;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Get", k.put()));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(k.get(), "raw", 0, REG_SZ, reinterpret_cast<const BYTE *>("abc"), 3));
    char text[8];
    DWORD size = sizeof(text), type = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegGetValueA(HKEY_CURRENT_USER, "Software\\Get", "raw", RRF_RT_REG_SZ, &type, text, &size));
    EXPECT_EQ(4u, size);
    EXPECT_STREQ("abc", text);
    DWORD d = 0;
    size = sizeof(d);
    EXPECT_EQ(ERROR_UNSUPPORTED_TYPE, RegGetValueA(k.get(), nullptr, "raw", RRF_RT_REG_DWORD, nullptr, &d, &size));
    ASSERT_EQ(ERROR_SUCCESS, SetDword(k.get(), "d", 42));
    size = sizeof(d);
    ASSERT_EQ(ERROR_SUCCESS, RegGetValueW(k.get(), nullptr, u"d", RRF_RT_DWORD, &type, &d, &size));
    EXPECT_EQ(42u, d);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegGetValueA(k.get(), "nokey", "d", RRF_RT_ANY, nullptr, nullptr, nullptr));
}

TEST_F(Values, EnumerationOrderAndInfo) {
    Key k;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Enum", k.put()));
    for (const char *name : {"beta", "Alpha", "gamma", "ALPHA2"}) {
        Key sub;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(k.get(), name, sub.put()));
    }
    ASSERT_EQ(ERROR_SUCCESS, SetDword(k.get(), "z", 1));
    ASSERT_EQ(ERROR_SUCCESS, SetString(k.get(), "LongerName", "0123456789"));
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD cch = sizeof(name);
        LSTATUS s = RegEnumKeyExA(k.get(), i, name, &cch, nullptr, nullptr, nullptr, nullptr);
        if (s == ERROR_NO_MORE_ITEMS) break;
        ASSERT_EQ(ERROR_SUCCESS, s);
        EXPECT_EQ(std::strlen(name), cch);
        names.push_back(name);
    }
    EXPECT_EQ((std::vector<std::string>{"Alpha", "ALPHA2", "beta", "gamma"}), names);
    char tiny[5];
    DWORD cch = sizeof(tiny);  // "Alpha" needs 6 with its terminator
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumKeyExA(k.get(), 0, tiny, &cch, nullptr, nullptr, nullptr, nullptr));
    char fits[6];
    EXPECT_EQ(ERROR_SUCCESS, RegEnumKeyA(k.get(), 3, fits, sizeof(fits)));
    EXPECT_STREQ("gamma", fits);

    // Values come in the order they were first set.
    char vname[32];
    DWORD vcch = sizeof(vname), type = 0, size = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegEnumValueA(k.get(), 1, vname, &vcch, nullptr, &type, nullptr, &size));
    EXPECT_STREQ("LongerName", vname);
    EXPECT_EQ(11u, size);
    BYTE data[4];
    size = sizeof(data);
    vcch = sizeof(vname);
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueA(k.get(), 1, vname, &vcch, nullptr, &type, data, &size));
    EXPECT_EQ(11u, size);

    DWORD subkeys = 0, maxSub = 0, values = 0, maxName = 0, maxData = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(k.get(), nullptr, nullptr, nullptr, &subkeys, &maxSub, nullptr, &values,
                                              &maxName, &maxData, nullptr, nullptr));
    EXPECT_EQ(4u, subkeys);
    EXPECT_EQ(6u, maxSub);
    EXPECT_EQ(2u, values);
    EXPECT_EQ(10u, maxName);
    EXPECT_EQ(11u, maxData);
    ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyW(k.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                              nullptr, &maxData, nullptr, nullptr));
    EXPECT_EQ(22u, maxData);
}

using Access = RegistryTest;

TEST_F(Access, ReadHandlesCannotWriteAndWriteHandlesCannotRead) {
    Key setup;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Acc", setup.put()));
    ASSERT_EQ(ERROR_SUCCESS, SetDword(setup.get(), "v", 1));
    Key reader;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Acc", 0, KEY_READ, reader.put()));
    EXPECT_EQ(ERROR_ACCESS_DENIED, SetDword(reader.get(), "v", 2));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteValueA(reader.get(), "v"));
    Key sub;
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegCreateKeyExA(reader.get(), "New", 0, nullptr, 0, KEY_WRITE, nullptr, sub.put(),
                                                   nullptr));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\Acc\\New"));
    EXPECT_EQ(1u, DwordOf(reader.get(), "v"));

    Key writer;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Acc", 0, KEY_WRITE, writer.put()));
    EXPECT_EQ(ERROR_SUCCESS, SetDword(writer.get(), "v", 3));
    DWORD v = 0, size = 4;
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegQueryValueExA(writer.get(), "v", nullptr, nullptr, reinterpret_cast<BYTE *>(&v), &size));
    char name[8];
    DWORD cch = sizeof(name);
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegEnumKeyExA(writer.get(), 0, name, &cch, nullptr, nullptr, nullptr, nullptr));
}

TEST_F(Access, ProtectedKeysRefuseEveryChange) {
    Key k;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CLASSES_ROOT, "Locked\\Inner", k.put()));
    ASSERT_EQ(ERROR_SUCCESS, SetDword(k.get(), "v", 1));
    ASSERT_EQ(ERROR_SUCCESS, ComHostRegistryProtectKey(HKEY_CLASSES_ROOT, u"Locked", TRUE));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ComHostRegistryProtectKey(HKEY_CLASSES_ROOT, u"Nope", TRUE));

    Key h;
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExA(HKEY_CLASSES_ROOT, "Locked", 0, KEY_WRITE, h.put()));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExA(HKEY_CLASSES_ROOT, "locked\\inner", 0, KEY_ALL_ACCESS, h.put()));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegCreateKeyExA(HKEY_CLASSES_ROOT, "Locked", 0, nullptr, 0, KEY_READ | KEY_WRITE,
                                                   nullptr, h.put(), nullptr));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegCreateKeyExA(HKEY_CLASSES_ROOT, "Locked\\New", 0, nullptr, 0, KEY_READ, nullptr,
                                                   h.put(), nullptr));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_CLASSES_ROOT, "Locked\\Inner"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteTreeA(HKEY_CLASSES_ROOT, "Locked"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteTreeA(HKEY_CLASSES_ROOT, nullptr));  // a protected key below
    // A handle opened before the protection cannot write either.
    EXPECT_EQ(ERROR_ACCESS_DENIED, SetDword(k.get(), "v", 2));
    // Reading works, and MAXIMUM_ALLOWED gives a read handle.
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CLASSES_ROOT, "Locked\\Inner", 0, KEY_READ, h.put()));
    EXPECT_EQ(1u, DwordOf(h.get(), "v"));
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyA(HKEY_CLASSES_ROOT, "Locked", h.put()));
    EXPECT_EQ(ERROR_ACCESS_DENIED, SetDword(h.get(), "x", 1));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "Locked\\Inner"));

    ASSERT_EQ(ERROR_SUCCESS, ComHostRegistryProtectKey(HKEY_CLASSES_ROOT, u"Locked", FALSE));
    EXPECT_EQ(ERROR_SUCCESS, SetDword(k.get(), "v", 2));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeA(HKEY_CLASSES_ROOT, "Locked"));
}

using CodePages = RegistryTest;

// "表" (U+8868) is 0x95 0x5C in code page 932: its trail byte is a backslash.
const char kSjisName[] = "\x93\xfa\x96\x7b\\\x95\x5c";
const char16_t kWideName[] = u"\u65e5\u672c\\\u8868";

TEST_F(CodePages, DoubleByteNamesAndDataRoundTripThroughAAndW) {
    ASSERT_TRUE(ComHostSetSystemCodePages(932, 0));
    Key k;
    std::string path = std::string("Software\\") + kSjisName;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, path.c_str(), k.put()));
    const char data[] = "\x83\x65\x83\x4c\x83\x58\x83\x67";  // テキスト
    ASSERT_EQ(ERROR_SUCCESS, SetString(k.get(), "\x96\x7b", data));

    // The same characters through W: two levels, the second one "表".
    Key wide;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, (std::u16string(u"Software\\") + kWideName).c_str(), 0,
                                           KEY_READ, wide.put()));
    WCHAR text[16];
    DWORD cb = sizeof(text);
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(wide.get(), u"\u672c", nullptr, nullptr, reinterpret_cast<BYTE *>(text), &cb));
    EXPECT_EQ(std::u16string(u"\u30c6\u30ad\u30b9\u30c8"), std::u16string(text));
    EXPECT_EQ(10u, cb);

    // Back through A: ANSI sizes (two bytes a character).
    DWORD size = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(k.get(), "\x96\x7b", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(9u, size);
    EXPECT_EQ(data, StringOf(k.get(), "\x96\x7b"));
    Key parent;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\\x93\xfa\x96\x7b", 0, KEY_READ, parent.put()));
    char name[8];
    DWORD cch = 2;
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumKeyExA(parent.get(), 0, name, &cch, nullptr, nullptr, nullptr, nullptr));
    cch = 3;
    ASSERT_EQ(ERROR_SUCCESS, RegEnumKeyExA(parent.get(), 0, name, &cch, nullptr, nullptr, nullptr, nullptr));
    EXPECT_STREQ("\x95\x5c", name);
    DWORD maxSub = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(parent.get(), nullptr, nullptr, nullptr, nullptr, &maxSub, nullptr,
                                              nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(2u, maxSub);
}

using Store = RegistryTest;

TEST_F(Store, SwitchingFilesRetiresOpenHandles) {
    Key k;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, "Software\\First", k.put()));
    std::string second = dir_.file("second.db");
    ASSERT_TRUE(ComHostRegistryUseFile(second.c_str()));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\First"));
    EXPECT_EQ(ERROR_KEY_DELETED, SetDword(k.get(), "v", 1));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(k.release()));
    ASSERT_TRUE(ComHostRegistryUseFile(db().c_str()));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\First"));
    // A file that is not a database is refused and the current one kept.
    std::string junk = dir_.file("junk.db");
    FILE *f = fopen(junk.c_str(), "w");
    ASSERT_NE(nullptr, f);
    fputs("this is not a database, not at all, but long enough to look like a header of one", f);
    fclose(f);
    EXPECT_FALSE(ComHostRegistryUseFile(junk.c_str()));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\First"));
}

TEST_F(Store, ThreadsShareTheRegistry) {
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            for (int i = 0; i < 50; ++i) {
                std::string path = "Software\\Threads\\T" + std::to_string(t) + "\\K" + std::to_string(i);
                HKEY h = nullptr;
                if (RegCreateKeyA(HKEY_CURRENT_USER, path.c_str(), &h) != ERROR_SUCCESS) {
                    ++failures[t];
                    continue;
                }
                if (SetDword(h, "i", static_cast<DWORD>(i)) != ERROR_SUCCESS) ++failures[t];
                if (DwordOf(h, "i") != static_cast<DWORD>(i)) ++failures[t];
                RegCloseKey(h);
                if (i % 2 && RegDeleteKeyA(HKEY_CURRENT_USER, path.c_str()) != ERROR_SUCCESS) ++failures[t];
            }
        });
    }
    for (auto &t : threads) t.join();
    EXPECT_EQ((std::vector<int>{0, 0, 0, 0}), failures);
    Key k;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Threads\\T2", 0, KEY_READ, k.put()));
    DWORD subkeys = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(k.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                                              nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(25u, subkeys);
}

// Every counted allocation of a small registration fails in turn: the call
// that meets it answers ERROR_OUTOFMEMORY and leaves nothing of itself.
TEST_F(Store, AllocationFailuresLeaveNothingHalfDone) {
    ASSERT_TRUE(ComHostSetSystemCodePages(932, 0));
    int failuresSeen = 0;
    for (LONG nth = 1; nth < 200; ++nth) {
        ComHostFailAllocation(nth);
        HKEY h = nullptr;
        LSTATUS create = RegCreateKeyExA(HKEY_CLASSES_ROOT, "Sweep\\\x93\xfa\\Inproc", 0, nullptr, 0,
                                         KEY_READ | KEY_WRITE, nullptr, &h, nullptr);
        LSTATUS set = ERROR_SUCCESS, query = ERROR_SUCCESS, enumerate = ERROR_SUCCESS;
        char text[16] = "";
        if (create == ERROR_SUCCESS) {
            set = SetString(h, "ThreadingModel", "\x96\x7b");
            if (set == ERROR_SUCCESS) {
                DWORD size = sizeof(text);
                query = RegQueryValueExA(h, "ThreadingModel", nullptr, nullptr, reinterpret_cast<BYTE *>(text), &size);
                char name[32];
                DWORD cch = sizeof(name);
                enumerate = RegEnumValueA(h, 0, name, &cch, nullptr, nullptr, nullptr, nullptr);
            }
            RegCloseKey(h);
        }
        bool failed = ComHostAllocationFailurePending() == FALSE;
        ComHostFailAllocation(0);
        for (LSTATUS s : {create, set, query, enumerate})
            EXPECT_TRUE(s == ERROR_SUCCESS || s == ERROR_OUTOFMEMORY) << "allocation " << nth << ": " << s;
        if (create != ERROR_SUCCESS) {
            EXPECT_EQ(nullptr, h);
            EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Sweep")) << nth;
        } else {
            Key check;
            ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CLASSES_ROOT, "Sweep\\\x93\xfa\\Inproc", 0, KEY_READ, check.put()));
            EXPECT_EQ(set == ERROR_SUCCESS ? std::string("\x96\x7b") : std::string("<missing>"),
                      StringOf(check.get(), "ThreadingModel")) << nth;
            if (set == ERROR_SUCCESS && query == ERROR_SUCCESS) {
                EXPECT_STREQ("\x96\x7b", text);
            }
        }
        ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeA(HKEY_CLASSES_ROOT, nullptr));
        if (!failed) {
            EXPECT_GT(nth, 5);
            break;
        }
        ++failuresSeen;
    }
    EXPECT_GT(failuresSeen, 5);
}

}  // namespace
