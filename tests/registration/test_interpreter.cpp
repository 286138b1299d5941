// The interpreter in both modes against the registry: keywords, values byte
// for byte, skip mode, rollback of a failing root block, syntax errors met
// during the walk.
#include "registry_fixture.h"

#if __has_include(<comhost/registry.h>)
#include <comhost/registry.h>
#define NUV_HAVE_REGISTRY_PROTECTION 1
#endif

namespace nuv::test {
namespace {

class Interpreter : public RegistryTest {
protected:
    static HRESULT Register(const std::string& body) { return RunText(UnderTestRoot(body), true); }
    static HRESULT Unregister(const std::string& body) { return RunText(UnderTestRoot(body), false); }
    static bool Exists(const std::string& sub) { return KeyExists(HKEY_CURRENT_USER, Path(sub)); }
    static RegValue Value(const std::string& sub, const char* name) {
        return ReadValue(HKEY_CURRENT_USER, sub.empty() ? kTestRoot : Path(sub), name);
    }
    static void Create(const std::string& sub) {
        HKEY hKey = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, Path(sub).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &hKey, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(hKey);
    }
    static void SetString(const std::string& sub, const char* name, const char* text) {
        HKEY hKey = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, Path(sub).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &hKey, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(hKey, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                       static_cast<DWORD>(std::strlen(text) + 1));
        RegCloseKey(hKey);
    }
};

Bytes B(std::initializer_list<int> bytes) {
    Bytes out;
    for (int b : bytes)
        out.push_back(static_cast<BYTE>(b));
    return out;
}

TEST_F(Interpreter, RegisterThenUnregisterLeavesOnlyNoRemoveKeys) {
    const std::string body = R"(
        App = s 'Default'
        {
            val Named = s 'text'
            Sub = s ''
            'Quoted Key' { }
        }
        NoRemove Kept { val V = d 1 })";
    ASSERT_EQ(Register(body), S_OK);
    EXPECT_EQ(Value("App", nullptr).Text(), "Default");
    EXPECT_EQ(Value("App", "Named").Text(), "text");
    EXPECT_TRUE(Exists("App\\Sub"));
    EXPECT_TRUE(Exists("App\\Quoted Key"));
    ASSERT_EQ(Register(body), S_OK);   // a second run opens what exists

    ASSERT_EQ(Unregister(body), S_OK);
    EXPECT_FALSE(Exists("App"));
    EXPECT_TRUE(Exists("Kept"));
    EXPECT_FALSE(Value("Kept", "V").exists);
    EXPECT_EQ(Dump(HKEY_CURRENT_USER, kTestRoot), "Software\\RegistrarTests\\Kept\n");
    // Unregistering what is not there succeeds and deletes nothing.
    ASSERT_EQ(Unregister(body), S_OK);
    EXPECT_TRUE(Exists("Kept"));
}

TEST_F(Interpreter, ValuesByteForByte) {
    ASSERT_EQ(Register(R"(
        V
        {
            val S = s 'a b'
            val SEmpty = s ''
            val D = d '4294967295'
            val DHex = d &H58
            val DBare = d 34
            val DJunk = d 'not a number'
            val B = b 0a1B
            val BJunk = b zz
            val BEmpty = b ''
            val M = m 'a\0b'
            val MTwo = m 'a\0\0b'
            val MEmpty = m ''
        })"), S_OK);
    EXPECT_EQ(Value("V", "S").type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(Value("V", "S").data, B({'a', ' ', 'b', 0}));
    EXPECT_EQ(Value("V", "SEmpty").data, B({0}));
    auto dword = [](const RegValue& v) {
        DWORD d = 0xDEADBEEF;
        EXPECT_EQ(v.type, static_cast<DWORD>(REG_DWORD));
        EXPECT_EQ(v.data.size(), 4u);
        if (v.data.size() == 4)
            std::memcpy(&d, v.data.data(), 4);
        return d;
    };
    EXPECT_EQ(dword(Value("V", "D")), 0xFFFFFFFFu);
    EXPECT_EQ(dword(Value("V", "DHex")), 0x58u);
    EXPECT_EQ(dword(Value("V", "DBare")), 34u);
    EXPECT_EQ(dword(Value("V", "DJunk")), 0u);
    EXPECT_EQ(Value("V", "B").type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(Value("V", "B").data, B({0x0A, 0x1B}));
    EXPECT_EQ(Value("V", "BJunk").data, B({0}));
    EXPECT_TRUE(Value("V", "BEmpty").exists);
    EXPECT_TRUE(Value("V", "BEmpty").data.empty());
    EXPECT_EQ(Value("V", "M").type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(Value("V", "M").data, B({'a', 0, 'b', 0, 0}));
    EXPECT_EQ(Value("V", "MTwo").data, B({'a', 0, 0}));
    EXPECT_EQ(Value("V", "MEmpty").data, B({0}));

    // Three hexadecimal digits fail; the block is rolled back.
    EXPECT_EQ(Register("W { val B = b abc }"), E_FAIL);
    EXPECT_FALSE(Exists("W"));
}

TEST_F(Interpreter, LongBinaryAndMultiStringValuesUseTheHeap) {
    std::string hex;
    Bytes expected;
    for (int i = 0; i < 600; ++i) {
        static const char digits[] = "0123456789abcdef";
        hex += digits[(i * 7) & 15];
        hex += digits[i & 15];
        expected.push_back(static_cast<BYTE>((((i * 7) & 15) << 4) | (i & 15)));
    }
    const std::string longText(700, 'm');
    ASSERT_EQ(Register("V { val B = b " + hex + "\nval M = m '" + longText + "\\0x' }"), S_OK);
    EXPECT_EQ(Value("V", "B").data, expected);
    Bytes multi(longText.begin(), longText.end());
    multi.insert(multi.end(), {0, 'x', 0, 0});
    EXPECT_EQ(Value("V", "M").data, multi);
}

TEST_F(Interpreter, ForceRemoveAndDelete) {
    Create("Old\\Deep\\Deeper");
    SetString("Old", "stale", "x");
    Create("Gone\\Child");
    Create("CLSID\\Other");
    ASSERT_EQ(Register(R"(
        ForceRemove Old = s 'fresh'
        ForceRemove New
        ForceRemove clsid { Mine }
        Delete Gone = s 'ignored'
        Delete CLSID
        ForceRemove val Named = s 'v')"), S_OK);
    EXPECT_TRUE(Exists("Old"));
    EXPECT_FALSE(Exists("Old\\Deep"));
    EXPECT_FALSE(Value("Old", "stale").exists);
    EXPECT_EQ(Value("Old", nullptr).Text(), "fresh");
    EXPECT_TRUE(Exists("New"));
    // Protected names are never deleted by ForceRemove or Delete.
    EXPECT_TRUE(Exists("CLSID\\Other"));
    EXPECT_TRUE(Exists("CLSID\\Mine"));
    EXPECT_FALSE(Exists("Gone"));
    EXPECT_EQ(Value("", "Named").Text(), "v");

    // Unregistering: "Delete" names an ordinary key, removed only without subkeys.
    Create("Gone");
    Create("Busy\\Child");
    ASSERT_EQ(Unregister("Delete Gone\nDelete Busy\nForceRemove Old"), S_OK);
    EXPECT_FALSE(Exists("Gone"));
    EXPECT_TRUE(Exists("Busy\\Child"));
    EXPECT_FALSE(Exists("Old"));
    // A backslash after ForceRemove is a syntax error when registering.
    EXPECT_EQ(Register("ForceRemove A\\B"), DISP_E_EXCEPTION);
}

TEST_F(Interpreter, UnregisterKeepsNoRemoveAndKeysWithOtherSubkeys) {
    ASSERT_EQ(Register(R"(
        NoRemove Shared { Mine { val X = s 'x' } val SharedValue = s 'y' }
        Parent { Named }
        Values { val A = s 'a' val B = s 'b' NoRemove val C = s 'c' })"), S_OK);
    Create("Parent\\Foreign");
    SetString("Values", "Extra", "not in the script");
    ASSERT_EQ(Unregister(R"(
        NoRemove Shared { Mine { val X = s 'x' } val SharedValue = s 'y' val Missing = s '' }
        Parent { Named }
        Values { val A = s 'a' val B = s 'b' NoRemove val C = s 'c' })"), S_OK);
    // The NoRemove key stays, its nested block was walked.
    EXPECT_TRUE(Exists("Shared"));
    EXPECT_FALSE(Exists("Shared\\Mine"));
    EXPECT_FALSE(Value("Shared", "SharedValue").exists);
    // A subkey the script does not name keeps its parent.
    EXPECT_TRUE(Exists("Parent\\Foreign"));
    EXPECT_FALSE(Exists("Parent\\Named"));
    // Values never keep a key: it goes with the NoRemove value and the extra one.
    EXPECT_FALSE(Exists("Values"));
}

TEST_F(Interpreter, MissingKeysAreWalkedInSkipMode) {
    Create("Present");
    ASSERT_EQ(Unregister(R"(
        Absent = s 'x'
        {
            val V = s 'v'
            Deeper { Deepest { val W = d 5 } }
            Delete Gone
        }
        Present)"), S_OK);
    EXPECT_FALSE(Exists("Present"));
}

TEST_F(Interpreter, RollbackUndoesOnlyTheFailingRootBlock) {
    SetString("Second", "before", "existing");
    const std::string script =
        "HKCU { NoRemove Software { NoRemove RegistrarTests { First { val F = s 'f' } } } }\n"
        "HKCU { NoRemove Software { NoRemove RegistrarTests {\n"
        "  Second = s 'new' { Child }\n"
        "  Third { val T = x 'unknown type' }\n"
        "} } }\n";
    EXPECT_EQ(RunText(script, true), DISP_E_EXCEPTION);
    EXPECT_EQ(Value("First", "F").Text(), "f");
    // The failing block's keys are gone, also the one that existed before.
    EXPECT_FALSE(Exists("Second"));
    EXPECT_FALSE(Exists("Third"));
}

TEST_F(Interpreter, ReadOnlyKeyFailsTheWriteAndRollsBack) {
#ifdef NUV_HAVE_REGISTRY_PROTECTION
    Create("Locked");
    SetString("Locked", "kept", "v");
    const std::u16string locked = u"Software\\RegistrarTests\\Locked";
    ASSERT_EQ(ComHostRegistryProtectKey(HKEY_CURRENT_USER, reinterpret_cast<LPCWSTR>(locked.c_str()), TRUE),
              ERROR_SUCCESS);
    // The key opens for reading only; writing its value is refused.
    EXPECT_EQ(Register("Before { }\nLocked = s 'x'\nAfter"), HResultFromWin32(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(Exists("Before"));
    EXPECT_FALSE(Exists("After"));
    // A nested key under it cannot be created.
    EXPECT_EQ(Register("Locked { Inner }"), HResultFromWin32(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(Exists("Locked\\Inner"));
    ASSERT_EQ(ComHostRegistryProtectKey(HKEY_CURRENT_USER, reinterpret_cast<LPCWSTR>(locked.c_str()), FALSE),
              ERROR_SUCCESS);
#else
    GTEST_SKIP() << "the registry of this build cannot protect keys";
#endif
}

TEST_F(Interpreter, SyntaxErrors) {
    EXPECT_EQ(RunText("", true), S_OK);
    EXPECT_EQ(RunText(" \r\n\t", true), DISP_E_EXCEPTION);
    EXPECT_EQ(RunText("HKCR\\CLSID { }", true), DISP_E_EXCEPTION);
    EXPECT_EQ(RunText("HKXX { }", true), DISP_E_EXCEPTION);
    EXPECT_EQ(RunText("HKCU Software", true), DISP_E_EXCEPTION);
    EXPECT_EQ(RunText("HKCU {", true), DISP_E_EXCEPTION);
    EXPECT_EQ(RunText("HKCU { } garbage", true), DISP_E_EXCEPTION);
    // Root names in any case, quoted or not; any token starting with "{" opens.
    EXPECT_EQ(RunText("'hkey_current_user' {x }  hkcu '{' }", true), S_OK);
    EXPECT_EQ(Register("A\\B"), DISP_E_EXCEPTION);
    EXPECT_EQ(Register("val X=s 'v'"), DISP_E_EXCEPTION);
    EXPECT_EQ(Register("val X = q 'v'"), DISP_E_EXCEPTION);
    EXPECT_EQ(Register("val " + std::string(258, 'n') + " = s 'v'"), S_OK);
    EXPECT_EQ(Value("", std::string(258, 'n').c_str()).Text(), "v");
    EXPECT_EQ(Register("val " + std::string(259, 'n') + " = s 'v'"), DISP_E_EXCEPTION);
    // Unregistering reads over the type letter without looking at it.
    EXPECT_EQ(Unregister("val X = q 'v'"), S_OK);
    // Inside a block only a token that is exactly "{" opens a nested block.
    EXPECT_EQ(Register("K {x }"), DISP_E_EXCEPTION);
    std::string deep;
    for (int i = 0; i < 300; ++i)
        deep += "K {\n";
    for (int i = 0; i < 300; ++i)
        deep += "}\n";
    EXPECT_EQ(Register(deep), DISP_E_EXCEPTION);
}

TEST_F(Interpreter, DoubleByteNamesUnderCodePage932) {
    CodePage932 cp;
    ASSERT_TRUE(cp.ok());
    // U+8868 (0x95 0x5C) ends in a backslash byte that is no backslash.
    const std::string name = "\x95\x5C\x83\x7B";
    ASSERT_EQ(Register("'" + name + "' = s '" + name + "' { val '" + name + "' = m '\x95\x5C\\0x' }"), S_OK);
    EXPECT_TRUE(Exists(name));
    EXPECT_EQ(Value(name, nullptr).Text(), name);
    EXPECT_EQ(Value(name, name.c_str()).data, B({0x95, 0x5C, 0, 'x', 0, 0}));
    // The same key through the wide functions.
    HKEY hKey = nullptr;
    const std::u16string wide = u"Software\\RegistrarTests\\\x8868\x30DC";
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, reinterpret_cast<LPCWSTR>(wide.c_str()), 0, KEY_READ, &hKey),
              ERROR_SUCCESS);
    if (hKey)
        RegCloseKey(hKey);
    ASSERT_EQ(Unregister("'" + name + "' = s '" + name + "' { val '" + name + "' = m '' }"), S_OK);
    EXPECT_FALSE(Exists(name));
}

TEST_F(Interpreter, EveryAllocationFailureFailsCleanly) {
    const std::string body = R"(
        App = s 'Default'
        {
            val Long = b )" + std::string(600, 'a') + R"(
            val Multi = m ')" + std::string(300, 'm') + R"(\0x'
            val D = d 7
            Sub
        })";
    const std::string script = UnderTestRoot(body);
    const int failures = AllocationSweep(
        [&] {
            CRegObject registrar;
            return registrar.RunScriptText(script.c_str(), TRUE);
        },
        [&](LONG nth, HRESULT hr, bool failed) {
            if (!failed) {
                EXPECT_EQ(hr, S_OK);
                return;
            }
            // A failure is reported and the block rolled back, or it was met
            // where the walk goes on (opening before creating, closing) and
            // the whole block is written.
            if (SUCCEEDED(hr)) {
                EXPECT_EQ(Value("App", nullptr).Text(), "Default") << "allocation " << nth;
                EXPECT_EQ(Value("App", "D").data, B({7, 0, 0, 0})) << "allocation " << nth;
                EXPECT_EQ(Value("App", "Long").data.size(), 300u) << "allocation " << nth;
                EXPECT_TRUE(Exists("App\\Sub")) << "allocation " << nth;
                RemoveTree(HKEY_CURRENT_USER, Path("App"));
            } else {
                EXPECT_FALSE(Exists("App")) << "allocation " << nth << " hr " << std::hex << hr;
            }
        });
    EXPECT_GE(failures, 3);
    EXPECT_EQ(Value("App", nullptr).Text(), "Default");
}

}  // namespace
}  // namespace nuv::test
