// The Windows DLL and the Linux shared object, both loaded as data files
// through the host layer, give the same registration script and type library
// through the same calls.  (The DLL comes from the win32 build; without it the
// test is skipped.)  The type library is compiled by each build on its own
// and carries the time it was made, so each build's TYPELIB is compared with
// the .tlb of its own build, and the two with each other in size only.

#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <cstring>
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

// Reads a library's dual interface the way late binding does: name, DISPID
// and table slot of every method, and each parameter's type and flags.
std::string DescribeInterface(const char *file) {
    std::wstring wide(file, file + std::strlen(file));
    std::u16string path(wide.begin(), wide.end());
    ITypeLib *library = nullptr;
    if (FAILED(LoadTypeLibEx(reinterpret_cast<LPCOLESTR>(path.c_str()), REGKIND_NONE, &library)))
        return "<no type library>";
    std::string out;
    TLIBATTR *libAttr = nullptr;
    library->GetLibAttr(&libAttr);
    const UINT pointerSize = libAttr->syskind == SYS_WIN64 ? 8 : 4;
    library->ReleaseTLibAttr(libAttr);
    ITypeInfo *info = nullptr;
    if (SUCCEEDED(library->GetTypeInfo(1, &info))) {
        TYPEATTR *attr = nullptr;
        info->GetTypeAttr(&attr);
        for (UINT i = 0; i < attr->cFuncs; ++i) {
            FUNCDESC *f = nullptr;
            if (FAILED(info->GetFuncDesc(i, &f))) continue;
            BSTR names[16] = {};
            UINT count = 0;
            info->GetNames(f->memid, names, 16, &count);
            for (UINT k = 0; k < count; ++k) {
                for (const OLECHAR *c = names[k]; c && *c; ++c) out += static_cast<char>(*c);
                out += k == 0 ? "(" : ",";
                SysFreeString(names[k]);
            }
            out += ") id " + std::to_string(f->memid) + " slot " + std::to_string(f->oVft / pointerSize);
            for (SHORT p = 0; p < f->cParams; ++p)
                out += " " + std::to_string(f->lprgelemdescParam[p].tdesc.vt) + "/" +
                       std::to_string(f->lprgelemdescParam[p].paramdesc.wParamFlags);
            out += "\n";
            info->ReleaseFuncDesc(f);
        }
        info->ReleaseTypeAttr(attr);
        info->Release();
    }
    library->Release();
    return out;
}

TEST(PeAndElf, SameInterfaceThroughTheTypeLibraryReader) {
    struct stat st {};
    if (stat(NUV_WIN32_DLL_PATH, &st) != 0) GTEST_SKIP() << "no " NUV_WIN32_DLL_PATH " (build preset win32)";
    const std::string shared = DescribeInterface(NUV_LIBRARY_PATH);
    EXPECT_NE(std::string::npos, shared.find("RecordsetLoadFromFile(FileIndex,")) << shared;
    EXPECT_NE(std::string::npos, shared.find("id 10 slot 16")) << shared;   // offset 64 in a 32-bit library
    EXPECT_EQ(DescribeInterface(NUV_WIN32_DLL_PATH), shared);
}


}  // namespace
