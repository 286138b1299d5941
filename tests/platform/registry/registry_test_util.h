// Shared pieces of the registry tests: a scratch database per test, an owner
// for key handles, and text helpers.
#pragma once

#include <windows.h>

#include <comhost/registry.h>
#include <comhost/testing.h>
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <string>

namespace regtest {

// Closes a key handle when it goes out of scope.
class Key {
public:
    Key() = default;
    explicit Key(HKEY h) : h_(h) {}
    ~Key() { reset(); }
    Key(const Key &) = delete;
    Key &operator=(const Key &) = delete;
    HKEY get() const { return h_; }
    HKEY *put() {
        reset();
        return &h_;
    }
    HKEY release() {
        HKEY h = h_;
        h_ = nullptr;
        return h;
    }
    void reset() {
        if (h_) RegCloseKey(h_);
        h_ = nullptr;
    }
    explicit operator bool() const { return h_ != nullptr; }

private:
    HKEY h_ = nullptr;
};

// A directory of its own for the test's database files, removed afterwards.
class ScratchDir {
public:
    ScratchDir() {
        char pattern[] = "/tmp/comhost_reg_XXXXXX";
        const char *made = mkdtemp(pattern);
        if (made) path_ = made;
    }
    ~ScratchDir() {
        if (!path_.empty()) {
            std::string cmd = "rm -rf '" + path_ + "'";
            if (system(cmd.c_str()) != 0) {
            }
        }
    }
    const std::string &path() const { return path_; }
    std::string file(const char *name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Each test gets a fresh registry file.
class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.path().empty());
        db_ = dir_.file("registry.db");
        ASSERT_TRUE(ComHostRegistryUseFile(db_.c_str()));
    }
    void TearDown() override {
        ComHostFailAllocation(0);
        ComHostSetSystemCodePages(0, 0);
    }
    const std::string &db() const { return db_; }

    ScratchDir dir_;
    std::string db_;
};

inline DWORD DwordOf(HKEY key, const char *name) {
    DWORD value = 0, size = sizeof(value), type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE *>(&value), &size) != ERROR_SUCCESS)
        return 0xffffffffu;
    return value;
}

inline std::string StringOf(HKEY key, const char *name) {
    char buffer[1024];
    DWORD size = sizeof(buffer), type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE *>(buffer), &size) != ERROR_SUCCESS)
        return "<missing>";
    return std::string(buffer, size && buffer[size - 1] == '\0' ? size - 1 : size);
}

inline LSTATUS SetString(HKEY key, const char *name, const std::string &text) {
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1));
}

inline LSTATUS SetDword(HKEY key, const char *name, DWORD value) {
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof(value));
}

inline bool KeyExists(HKEY root, const char *path) {
    HKEY h = nullptr;
    LSTATUS s = RegOpenKeyExA(root, path, 0, KEY_READ, &h);
    if (s == ERROR_SUCCESS) RegCloseKey(h);
    return s == ERROR_SUCCESS;
}

}  // namespace regtest
