// Runs every resource function over whatever a data-file module holds:
// enumerates types, names and languages and loads each resource found, plus
// lookups of fixed ids.  Used by the fuzz target and by the regression tests
// that replay its findings; returns the number of bytes read, so that the
// reads cannot be optimised away.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace comhost_test {

struct ResourceWalk {
    HMODULE module;
    size_t bytesRead = 0;
    size_t resources = 0;
};

inline void ReadResource(ResourceWalk *walk, HRSRC info) {
    if (!info) return;
    HGLOBAL loaded = LoadResource(walk->module, info);
    const DWORD size = SizeofResource(walk->module, info);
    const auto *bytes = static_cast<const unsigned char *>(LockResource(loaded));
    if (!bytes) return;
    unsigned sum = 0;
    for (DWORD i = 0; i < size; ++i) sum += bytes[i];
    walk->bytesRead += size + (sum & 1);
    ++walk->resources;
}

inline BOOL CALLBACK OnLanguage(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language, LONG_PTR param) {
    auto *walk = reinterpret_cast<ResourceWalk *>(param);
    ReadResource(walk, FindResourceExW(module, type, name, language));
    return TRUE;
}

inline BOOL CALLBACK OnName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param) {
    auto *walk = reinterpret_cast<ResourceWalk *>(param);
    ReadResource(walk, FindResourceW(module, name, type));
    EnumResourceLanguagesW(module, type, name, OnLanguage, param);
    return walk->resources < 10000;
}

inline BOOL CALLBACK OnType(HMODULE module, LPWSTR type, LONG_PTR param) {
    EnumResourceNamesW(module, type, OnName, param);
    return TRUE;
}

inline BOOL CALLBACK OnTypeA(HMODULE, LPSTR type, LONG_PTR param) {
    auto *walk = reinterpret_cast<ResourceWalk *>(param);
    if (!IS_INTRESOURCE(type)) walk->bytesRead += std::string(type).size();
    return TRUE;
}

inline size_t ExerciseResources(HMODULE module) {
    ResourceWalk walk{module};
    EnumResourceTypesW(module, OnType, reinterpret_cast<LONG_PTR>(&walk));
    EnumResourceTypesA(module, OnTypeA, reinterpret_cast<LONG_PTR>(&walk));
    ReadResource(&walk, FindResourceA(module, MAKEINTRESOURCEA(101), "REGISTRY"));
    ReadResource(&walk, FindResourceA(module, MAKEINTRESOURCEA(1), "TYPELIB"));
    ReadResource(&walk, FindResourceExA(module, MAKEINTRESOURCEA(6), MAKEINTRESOURCEA(7), 0x0409));
    ReadResource(&walk, FindResourceW(module, u"GREETING", MAKEINTRESOURCEW(10)));
    return walk.bytesRead;
}

}  // namespace comhost_test
