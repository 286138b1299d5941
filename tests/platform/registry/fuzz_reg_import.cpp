// libFuzzer target: a .reg file is parsed and applied to a scratch registry.
// A parsed file written back as version 5 must parse to the same content.

#include "regfile.h"

#include <comhost/registry.h>

#include <stdlib.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// Empties a key; keys that cannot be deleted (the fixed ones behind the
// roots) are emptied in turn.
void ClearKey(HKEY key) {
    WCHAR name[16384];
    for (;;) {
        DWORD cch = 16384;
        if (RegEnumValueW(key, 0, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        if (RegDeleteValueW(key, name) != ERROR_SUCCESS) abort();
    }
    for (DWORD index = 0;;) {
        DWORD cch = 16384;
        if (RegEnumKeyExW(key, index, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        if (RegDeleteTreeW(key, name) == ERROR_SUCCESS) continue;
        HKEY child = nullptr;
        if (RegOpenKeyExW(key, name, 0, KEY_ALL_ACCESS, &child) != ERROR_SUCCESS) abort();
        ClearKey(child);
        RegCloseKey(child);
        ++index;
    }
}

bool SameContent(const regfile::File &a, const regfile::File &b) {
    if (a.sections.size() != b.sections.size()) return false;
    for (size_t i = 0; i < a.sections.size(); ++i) {
        const auto &x = a.sections[i];
        const auto &y = b.sections[i];
        if (x.path != y.path || x.remove != y.remove) return false;
        if (x.remove) continue;
        if (x.values.size() != y.values.size()) return false;
        for (size_t v = 0; v < x.values.size(); ++v) {
            const auto &p = x.values[v];
            const auto &q = y.values[v];
            if (p.name != q.name || p.remove != q.remove) return false;
            if (!p.remove && (p.type != q.type || p.data != q.data)) return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool ready = [] {
        char pattern[] = "/tmp/fuzz_reg_import_XXXXXX";
        if (!mkdtemp(pattern)) abort();
        std::string path = std::string(pattern) + "/registry.db";
        if (!ComHostRegistryUseFile(path.c_str())) abort();
        return true;
    }();
    (void)ready;

    regfile::File file;
    regfile::Error error;
    if (!regfile::Parse(std::string(reinterpret_cast<const char *>(data), size), &file, &error)) return 0;

    regfile::File again = file;
    again.version = regfile::Version::Version5;
    regfile::File reparsed;
    if (!regfile::Parse(regfile::Write(again), &reparsed, &error) || !SameContent(again, reparsed)) abort();

    regfile::Apply(file, &error);
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CURRENT_CONFIG, HKEY_PERFORMANCE_DATA,
                      HKEY_DYN_DATA})
        ClearKey(root);
    return 0;
}
