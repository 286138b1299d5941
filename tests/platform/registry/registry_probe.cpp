// A registry client in a process of its own, for the tests of the database
// shared by processes.  It uses the registry file named by COMHOST_REGISTRY.
//
//   registry_probe write PREFIX COUNT   registers COUNT items, exit 0 when
//                                       every call succeeded
//   registry_probe loop PREFIX          registers items (and removes old
//                                       ones) until it is killed
//   registry_probe expect KEY NAME TEXT exit 0 when HKCU\KEY has NAME = TEXT
//
// An item i is HKCU\Software\Probe\PREFIX\Item<i>\A\B\C (one call) with the
// values "blob" (4096 bytes, each i & 0xff) and "n" (REG_DWORD i).

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool Check(LSTATUS s, const char *what, unsigned i) {
    if (s == ERROR_SUCCESS) return true;
    std::fprintf(stderr, "registry_probe: %s of item %u: error %ld\n", what, i, static_cast<long>(s));
    return false;
}

bool Register(const std::string &prefix, unsigned i) {
    std::string path = "Software\\Probe\\" + prefix + "\\Item" + std::to_string(i) + "\\A\\B\\C";
    HKEY key = nullptr;
    if (!Check(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key,
                               nullptr),
               "create", i))
        return false;
    unsigned char blob[4096];
    std::memset(blob, static_cast<int>(i & 0xff), sizeof(blob));
    DWORD n = i;
    bool ok = Check(RegSetValueExA(key, "blob", 0, REG_BINARY, blob, sizeof(blob)), "blob", i) &&
              Check(RegSetValueExA(key, "n", 0, REG_DWORD, reinterpret_cast<BYTE *>(&n), sizeof(n)), "n", i);
    return Check(RegCloseKey(key), "close", i) && ok;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc == 4 && std::strcmp(argv[1], "write") == 0) {
        unsigned count = static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10));
        for (unsigned i = 0; i < count; ++i)
            if (!Register(argv[2], i)) return 1;
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "loop") == 0) {
        std::string prefix = argv[2];
        for (unsigned i = 0;; ++i) {
            if (!Register(prefix, i)) return 1;
            if (i >= 4) {
                std::string old = "Software\\Probe\\" + prefix + "\\Item" + std::to_string(i - 4);
                if (!Check(RegDeleteTreeA(HKEY_CURRENT_USER, old.c_str()), "delete", i - 4)) return 1;
            }
        }
    }
    if (argc == 5 && std::strcmp(argv[1], "expect") == 0) {
        char text[256];
        DWORD size = sizeof(text);
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, argv[2], 0, KEY_READ, &key) != ERROR_SUCCESS) return 2;
        LSTATUS s = RegQueryValueExA(key, argv[3], nullptr, nullptr, reinterpret_cast<BYTE *>(text), &size);
        RegCloseKey(key);
        if (s != ERROR_SUCCESS) return 3;
        return std::strcmp(text, argv[4]) == 0 ? 0 : 4;
    }
    std::fprintf(stderr, "usage: registry_probe write PREFIX COUNT | loop PREFIX | expect KEY NAME TEXT\n");
    return 64;
}
