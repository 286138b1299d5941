// Shared pieces of the activation tests: a scratch registry per test, and
// registry helpers.
#pragma once

#include <comhost/registry.h>
#include <comhost/testing.h>
#include <objbase.h>
#include <windows.h>

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace com_test {

// A directory of its own for the test, removed with everything in it.
class ScratchDir {
public:
    ScratchDir() {
        char pattern[] = "/tmp/comhost-com-XXXXXX";
        if (mkdtemp(pattern)) path_ = pattern;
    }
    ~ScratchDir() {
        if (!path_.empty()) {
            std::string command = "rm -rf '" + path_ + "'";
            if (system(command.c_str()) != 0) ADD_FAILURE() << command;
        }
    }
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

// Each test runs against an empty registry of its own, in a file that other
// processes (regsvr) can be pointed at.
class ScratchRegistry : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.path().empty());
        registry_ = dir_.path() + "/registry.db";
        ASSERT_TRUE(ComHostRegistryUseFile(registry_.c_str())) << GetLastError();
        CoFreeUnusedLibraries();
    }
    void TearDown() override {
        ComHostFailAllocation(0);
        CoFreeUnusedLibraries();
    }
    const std::string &registryFile() const { return registry_; }
    const std::string &dir() const { return dir_.path(); }

private:
    ScratchDir dir_;
    std::string registry_;
};

inline LONG SetClassesString(const std::string &path, const char *name, const std::string &value) {
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                              &key, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    rc = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                        static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
    return rc;
}

// The value, "<missing>" without the key or value.
inline std::string GetClassesString(const std::string &path, const char *name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "<missing>";
    char buffer[1024];
    DWORD size = sizeof(buffer), type = 0;
    LONG rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE *>(buffer), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return "<missing>";
    return std::string(buffer, size && buffer[size - 1] == '\0' ? size - 1 : size);
}

inline bool ClassesKeyExists(const std::string &path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

inline bool LoadedByTheDynamicLoader(const char *path) {
    void *handle = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (handle) dlclose(handle);
    return handle != nullptr;
}

// Calls an exported function of a library without keeping it loaded.
inline HRESULT CallExport(const char *library, const char *name) {
    HMODULE module = LoadLibraryA(library);
    if (!module) return HRESULT_FROM_WIN32(GetLastError());
    using Fn = HRESULT(STDAPICALLTYPE *)();
    auto fn = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
    HRESULT hr = fn ? fn() : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    FreeLibrary(module);
    return hr;
}

inline std::u16string Wide(const std::string &text) {
    return std::u16string(text.begin(), text.end());
}

}  // namespace com_test
