// Shared pieces of the registration tests: the library attached for the
// whole program, a private registry database per test process, and helpers
// to read and dump registry trees.
#pragma once

#include "registration/registrar.h"
#include "registration/registry_script.h"
#include "server/module.h"

#include <comhost/testing.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID);

namespace nuv::test {

using Bytes = std::vector<BYTE>;

// Root of everything the tests write: HKCU\Software\RegistrarTests.
inline constexpr char kTestRoot[] = "Software\\RegistrarTests";

// A value as the registry holds it; type 0 and no data when it is missing.
struct RegValue {
    DWORD type = 0;
    Bytes data;
    bool exists = false;
    std::string Text() const { return data.empty() ? std::string() : std::string(data.begin(), data.end() - 1); }
};

inline bool KeyExists(HKEY root, const std::string& path) {
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return false;
    RegCloseKey(hKey);
    return true;
}

inline RegValue ReadValue(HKEY root, const std::string& path, const char* name) {
    RegValue v;
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return v;
    DWORD cb = 0;
    if (RegQueryValueExA(hKey, name, nullptr, &v.type, nullptr, &cb) == ERROR_SUCCESS) {
        v.data.resize(cb);
        if (RegQueryValueExA(hKey, name, nullptr, &v.type, cb ? v.data.data() : nullptr, &cb) == ERROR_SUCCESS) {
            v.data.resize(cb);
            v.exists = true;
        }
    }
    RegCloseKey(hKey);
    return v;
}

// The subtree below root\path as text: keys in enumeration order with their
// values (type and bytes in hex); empty when the key does not exist.
inline void DumpKey(HKEY hKey, const std::string& prefix, std::string& out) {
    for (DWORD i = 0;; ++i) {
        char name[16384];
        DWORD cchName = sizeof(name);
        BYTE data[65536];
        DWORD cb = sizeof(data);
        DWORD type = 0;
        if (RegEnumValueA(hKey, i, name, &cchName, nullptr, &type, data, &cb) != ERROR_SUCCESS)
            break;
        out += prefix + " [" + name + "] type " + std::to_string(type) + ":";
        static const char hex[] = "0123456789abcdef";
        for (DWORD j = 0; j < cb; ++j) {
            out += hex[data[j] >> 4];
            out += hex[data[j] & 15];
        }
        out += "\n";
    }
    std::vector<std::string> subkeys;
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD cch = sizeof(name);
        if (RegEnumKeyExA(hKey, i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        subkeys.emplace_back(name);
    }
    for (const std::string& sub : subkeys) {
        out += prefix + "\\" + sub + "\n";
        HKEY hSub = nullptr;
        if (RegOpenKeyExA(hKey, sub.c_str(), 0, KEY_READ, &hSub) == ERROR_SUCCESS) {
            DumpKey(hSub, prefix + "\\" + sub, out);
            RegCloseKey(hSub);
        }
    }
}

inline std::string Dump(HKEY root, const std::string& path = std::string()) {
    std::string out;
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(root, path.empty() ? nullptr : path.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return out;
    DumpKey(hKey, path, out);
    RegCloseKey(hKey);
    return out;
}

// Deletes a key with its subtree (nothing when it is absent).
inline void RemoveTree(HKEY root, const std::string& path) {
    const size_t slash = path.rfind('\\');
    if (slash == std::string::npos) {
        DeleteKeyTree(root, path.c_str());
        return;
    }
    HKEY hParent = nullptr;
    if (RegOpenKeyExA(root, path.substr(0, slash).c_str(), 0, KEY_READ | KEY_WRITE, &hParent) != ERROR_SUCCESS)
        return;
    DeleteKeyTree(hParent, path.substr(slash + 1).c_str());
    RegCloseKey(hParent);
}

// Runs script text with a registrar holding the given variables.
inline HRESULT RunText(const std::string& text, bool bRegister,
                       std::initializer_list<std::pair<const char16_t*, const char16_t*>> vars = {}) {
    CRegObject registrar;
    for (const auto& [name, value] : vars)
        registrar.SetReplacement(reinterpret_cast<LPCOLESTR>(name), reinterpret_cast<LPCOLESTR>(value));
    return registrar.RunScriptText(text.c_str(), bRegister ? TRUE : FALSE);
}

// Runs `call` with the nth counted allocation failing, for n = 1, 2, ...
// until a run meets no injected failure.  `call` must not allocate itself;
// `check` (run with injection off) sees n, the result and whether the
// injected failure happened.  Returns the number of runs that met a failure.
template <class Call, class Check>
int AllocationSweep(Call call, Check check, LONG limit = 5000) {
    int failures = 0;
    for (LONG nth = 1; nth < limit; ++nth) {
        ComHostFailAllocation(nth);
        const HRESULT hr = call();
        const bool failed = !ComHostAllocationFailurePending();
        ComHostFailAllocation(0);
        check(nth, hr, failed);
        if (!failed)
            return failures;
        ++failures;
    }
    ADD_FAILURE() << "no end after " << limit << " allocations";
    return failures;
}

// Code page 932 for the system and for the calling thread (the registration
// code converts with the thread's ANSI code page).
class CodePage932 {
public:
    CodePage932() : m_locale(GetThreadLocale()) {
        m_ok = ComHostSetSystemCodePages(932, 0) && SetThreadLocale(0x0411);
        ResetThreadAnsiCodePageSelection();
    }
    ~CodePage932() {
        ComHostSetSystemCodePages(0, 0);
        SetThreadLocale(m_locale);
        ResetThreadAnsiCodePageSelection();
    }
    bool ok() const { return m_ok; }

private:
    LCID m_locale;
    bool m_ok = false;
};

// Every test starts with an empty HKCU\Software\RegistrarTests.
class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { RemoveTree(HKEY_CURRENT_USER, kTestRoot); }
    void TearDown() override {
        ComHostFailAllocation(0);
        RemoveTree(HKEY_CURRENT_USER, kTestRoot);
    }
    static std::string Path(const std::string& sub) { return std::string(kTestRoot) + "\\" + sub; }
};

// A script under HKCU\Software\RegistrarTests: "HKCU { NoRemove Software {
// NoRemove RegistrarTests { <body> } } }".
inline std::string UnderTestRoot(const std::string& body) {
    return "HKCU\n{\n NoRemove Software\n {\n  NoRemove RegistrarTests\n  {\n" + body + "\n  }\n }\n}\n";
}

}  // namespace nuv::test
