// The Windows DLL and the Linux shared object, both loaded as data files
// through the host layer, give the same registration script and type library
// through the same calls.  (The DLL comes from the win32 build; without it the
// test is skipped.)  The type library is compiled by each build on its own
// and carries the time it was made, so each build's TYPELIB is compared with
// the .tlb of its own build, and the two with each other in size only.

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>

namespace {

std::string ResourceBytes(const char *file, LPCSTR name, LPCSTR type) {
    HMODULE module = LoadLibraryExA(file, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) return "<load failed " + std::to_string(GetLastError()) + ">";
    std::string bytes = "<not found>";
    if (HRSRC info = FindResourceA(module, name, type)) {
        if (const void *data = LockResource(LoadResource(module, info)))
            bytes.assign(static_cast<const char *>(data), SizeofResource(module, info));
    }
    FreeLibrary(module);
    return bytes;
}

std::string FileBytes(const char *path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(PeAndElf, SameScriptAndTypeLibrary) {
    struct stat st {};
    if (stat(NUV_WIN32_DLL_PATH, &st) != 0) GTEST_SKIP() << "no " NUV_WIN32_DLL_PATH " (build preset win32)";
    const std::string script = ResourceBytes(NUV_LIBRARY_PATH, MAKEINTRESOURCEA(101), "REGISTRY");
    ASSERT_GT(script.size(), 100u) << script;
    EXPECT_EQ(ResourceBytes(NUV_WIN32_DLL_PATH, MAKEINTRESOURCEA(101), "REGISTRY"), script);
    const std::string typelib = ResourceBytes(NUV_LIBRARY_PATH, MAKEINTRESOURCEA(1), "TYPELIB");
    ASSERT_GT(typelib.size(), 100u) << typelib;
    EXPECT_EQ(typelib, FileBytes(NUV_LINUX_TLB));
    const std::string windowsTypelib = ResourceBytes(NUV_WIN32_DLL_PATH, MAKEINTRESOURCEA(1), "TYPELIB");
    EXPECT_EQ(windowsTypelib, FileBytes(NUV_WIN32_TLB));
    EXPECT_EQ(windowsTypelib.size(), typelib.size());
    // A Windows-form path names the same file.
    std::string windowsForm = NUV_WIN32_DLL_PATH;
    for (char &c : windowsForm)
        if (c == '/') c = '\\';
    EXPECT_EQ(ResourceBytes(("C:" + windowsForm).c_str(), MAKEINTRESOURCEA(101), "REGISTRY"), script);
}

}  // namespace
