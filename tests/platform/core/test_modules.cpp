// Module handles and file names, loading and unloading, exported functions,
// resources, and the conversion between Windows-form and host paths.

#include "support.h"

#include <comhost/paths.h>

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>

using comhost_test::NlsStateGuard;

namespace {

// An exported function as its own type (through void (*)(), which any
// function pointer converts to without a warning).
template <typename Fn>
Fn ProcAs(FARPROC proc) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
}

std::string WindowsForm(std::string path) {
    for (char &c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

std::string FileNameOf(HMODULE module) {
    char buffer[MAX_PATH * 4];
    DWORD n = GetModuleFileNameA(module, buffer, sizeof(buffer));
    return std::string(buffer, n);
}

// The module probe, loaded for one test.
class ProbeLibrary {
public:
    ProbeLibrary() : module_(LoadLibraryA(MODULE_PROBE_PATH)) {}
    ~ProbeLibrary() {
        if (module_) FreeLibrary(module_);
    }
    ProbeLibrary(const ProbeLibrary &) = delete;
    ProbeLibrary &operator=(const ProbeLibrary &) = delete;
    HMODULE get() const { return module_; }

private:
    HMODULE module_;
};

bool LoadedByTheDynamicLoader(const char *path) {
    void *handle = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (handle) dlclose(handle);
    return handle != nullptr;
}

std::string ResourceText(HMODULE module, LPCSTR name, LPCSTR type) {
    HRSRC info = FindResourceA(module, name, type);
    if (!info) return "<not found>";
    HGLOBAL data = LoadResource(module, info);
    if (!data) return "<not loaded>";
    const char *bytes = static_cast<const char *>(LockResource(data));
    return std::string(bytes, SizeofResource(module, info));
}

TEST(Modules, HandleIsTheLoadAddress) {
    ProbeLibrary probe;
    ASSERT_NE(probe.get(), nullptr) << GetLastError();
    using ImageBaseFn = HINSTANCE (*)();
    auto imageBase = ProcAs<ImageBaseFn>(GetProcAddress(probe.get(), "ProbeImageBase"));
    ASSERT_NE(imageBase, nullptr);
    // The library's own __ImageBase, the handle LoadLibrary returned and the
    // loader's idea of the object's base all agree.
    EXPECT_EQ(imageBase(), probe.get());
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void *>(imageBase), &info), 0);
    EXPECT_EQ(info.dli_fbase, static_cast<void *>(probe.get()));

    HMODULE fromAddress = nullptr;
    ASSERT_TRUE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                   reinterpret_cast<LPCSTR>(imageBase), &fromAddress));
    EXPECT_EQ(fromAddress, probe.get());
}

TEST(Modules, MainProgramHandle) {
    HMODULE self = GetModuleHandleA(nullptr);
    ASSERT_NE(self, nullptr);
    EXPECT_EQ(self, reinterpret_cast<HMODULE>(&__ImageBase));
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
    ASSERT_GT(n, 0);
    exe[n] = '\0';
    EXPECT_EQ(FileNameOf(nullptr), WindowsForm(exe));
    EXPECT_EQ(FileNameOf(self), WindowsForm(exe));
}

TEST(Modules, FileNameOfALoadedLibrary) {
    ProbeLibrary probe;
    ASSERT_NE(probe.get(), nullptr);
    const std::string expected = WindowsForm(MODULE_PROBE_PATH);
    EXPECT_EQ(FileNameOf(probe.get()), expected);

    WCHAR wide[MAX_PATH * 4];
    DWORD n = GetModuleFileNameW(probe.get(), wide, MAX_PATH * 4);
    ASSERT_EQ(n, expected.size());
    EXPECT_EQ(comhost_test::ToNarrow(CP_UTF8, std::u16string(wide, n)), expected);
}

TEST(Modules, FileNameTruncation) {
    ProbeLibrary probe;
    ASSERT_NE(probe.get(), nullptr);
    const std::string expected = WindowsForm(MODULE_PROBE_PATH);
    const DWORD length = static_cast<DWORD>(expected.size());
    std::string buffer(length + 8, 'x');

    // Exactly enough room with the terminator.
    SetLastError(1234);
    EXPECT_EQ(GetModuleFileNameA(probe.get(), buffer.data(), length + 1), length);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(std::string(buffer.c_str()), expected);

    // One short: the name is cut, terminated, and the full size returned.
    buffer.assign(length + 8, 'x');
    EXPECT_EQ(GetModuleFileNameA(probe.get(), buffer.data(), length), length);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(std::string(buffer.c_str()), expected.substr(0, length - 1));

    EXPECT_EQ(GetModuleFileNameA(probe.get(), buffer.data(), 0), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST(Modules, UnknownHandleHasNoFileName) {
    int notAModule = 0;
    char buffer[MAX_PATH];
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameA(reinterpret_cast<HMODULE>(&notAModule), buffer, MAX_PATH), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST(Modules, HandleByName) {
    ProbeLibrary probe;
    ASSERT_NE(probe.get(), nullptr);
    std::string path = MODULE_PROBE_PATH;
    std::string base = path.substr(path.rfind('/') + 1);
    EXPECT_EQ(GetModuleHandleA(base.c_str()), probe.get());
    for (char &c : base) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(GetModuleHandleA(base.c_str()), probe.get());
    EXPECT_EQ(GetModuleHandleA(WindowsForm(path).c_str()), probe.get());
    SetLastError(0);
    EXPECT_EQ(GetModuleHandleA("no-such-module.so"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST(Modules, LoadLibraryCountsReferences) {
    ASSERT_FALSE(LoadedByTheDynamicLoader(MODULE_PROBE_PATH));
    HMODULE first = LoadLibraryA(WindowsForm(MODULE_PROBE_PATH).c_str());
    ASSERT_NE(first, nullptr);
    HMODULE second = LoadLibraryA(MODULE_PROBE_PATH);
    EXPECT_EQ(second, first);
    HMODULE third = nullptr;
    ASSERT_TRUE(GetModuleHandleExA(0, MODULE_PROBE_PATH, &third));
    EXPECT_EQ(third, first);

    EXPECT_TRUE(FreeLibrary(first));
    EXPECT_TRUE(FreeLibrary(second));
    EXPECT_TRUE(LoadedByTheDynamicLoader(MODULE_PROBE_PATH));
    EXPECT_TRUE(FreeLibrary(third));
    EXPECT_FALSE(LoadedByTheDynamicLoader(MODULE_PROBE_PATH));
}

TEST(Modules, MissingLibrary) {
    SetLastError(0);
    EXPECT_EQ(LoadLibraryA("\\no\\such\\library.so"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(LoadLibraryA("no-such-library"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST(Modules, GetProcAddress) {
    ProbeLibrary probe;
    ASSERT_NE(probe.get(), nullptr);
    using AnswerFn = int (*)();
    auto answer = ProcAs<AnswerFn>(GetProcAddress(probe.get(), "ProbeAnswer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(probe.get(), "NoSuchFunction"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_EQ(GetProcAddress(probe.get(), MAKEINTRESOURCEA(1)), nullptr);
}

TEST(Resources, FromALoadedLibrary) {
    ProbeLibrary probe;
    ASSERT_NE(probe.get(), nullptr);
    EXPECT_EQ(ResourceText(probe.get(), MAKEINTRESOURCEA(7), RT_RCDATA), std::string("seven\0", 6));
    EXPECT_EQ(ResourceText(probe.get(), "#7", MAKEINTRESOURCEA(10)), std::string("seven\0", 6));
}

TEST(Resources, FromADataFile) {
    HMODULE data = LoadLibraryExA(WindowsForm(MODULE_PROBE_PATH).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(data, nullptr) << GetLastError();
    EXPECT_FALSE(LoadedByTheDynamicLoader(MODULE_PROBE_PATH));  // no code ran
    EXPECT_NE(reinterpret_cast<ULONG_PTR>(data) & 1, 0u);

    std::string script = ResourceText(data, MAKEINTRESOURCEA(101), "REGISTRY");
    EXPECT_EQ(script, "HKCR\r\n{\r\n\tProbe = s '%MODULE%'\r\n}\r\n");
    // Type and name strings match without regard to case.
    EXPECT_EQ(ResourceText(data, MAKEINTRESOURCEA(101), "registry"), script);
    EXPECT_EQ(GetProcAddress(data, "ProbeAnswer"), nullptr);
    EXPECT_EQ(FileNameOf(data), WindowsForm(MODULE_PROBE_PATH));
    EXPECT_TRUE(FreeLibrary(data));
    EXPECT_FALSE(FreeLibrary(data));
}

TEST(Resources, LanguageChoice) {
    NlsStateGuard guard;
    ProbeLibrary probe;
    ASSERT_NE(probe.get(), nullptr);
    // The neutral record wins when no language is asked for.
    ASSERT_TRUE(ComHostSetDefaultLocale(0x0407));
    EXPECT_EQ(ResourceText(probe.get(), "GREETING", RT_RCDATA), std::string("neutral\0", 8));
    // A record only in English is found whatever the user's language.
    EXPECT_EQ(ResourceText(probe.get(), "speech", RT_RCDATA), std::string("english\0", 8));
    HRSRC german = FindResourceExA(probe.get(), RT_RCDATA, "GREETING", MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN));
    ASSERT_NE(german, nullptr);
    EXPECT_STREQ(static_cast<const char *>(LockResource(LoadResource(probe.get(), german))), "german");
    SetLastError(0);
    EXPECT_EQ(FindResourceExA(probe.get(), RT_RCDATA, "GREETING", MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH)), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_LANG_NOT_FOUND));
}

TEST(Resources, MissingResourcesReportWhatIsMissing) {
    ProbeLibrary probe;
    ASSERT_NE(probe.get(), nullptr);
    SetLastError(0);
    EXPECT_EQ(FindResourceA(probe.get(), MAKEINTRESOURCEA(102), "REGISTRY"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_EQ(FindResourceA(probe.get(), MAKEINTRESOURCEA(101), "TYPELIB"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
    // The test program itself has no resource section.
    EXPECT_EQ(FindResourceA(nullptr, MAKEINTRESOURCEA(7), RT_RCDATA), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));
}

TEST(Resources, DataFileMustBeAnImage) {
    char path[] = "/tmp/comhost-not-an-image-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "just some text, no image", 24), 24);
    close(fd);
    SetLastError(0);
    EXPECT_EQ(LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
    unlink(path);
}

TEST(Resources, TruncatedResourceImageIsRefused) {
    // A copy of the probe cut in the middle of its section headers is
    // refused as a data file, not read out of bounds.
    std::ifstream in(MODULE_PROBE_PATH, std::ios::binary);
    std::string image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(image.empty());
    char path[] = "/tmp/comhost-truncated-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    std::string cut = image.substr(0, image.size() - 200);
    ASSERT_EQ(write(fd, cut.data(), cut.size()), static_cast<ssize_t>(cut.size()));
    close(fd);
    SetLastError(0);
    EXPECT_EQ(LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
    unlink(path);
}

TEST(Paths, WindowsFormAndHostForm) {
    char host[64];
    EXPECT_EQ(ComHostPathToHostA("data\\recordsets\\recordset3.xml", host, sizeof(host)), 30u);
    EXPECT_STREQ(host, "data/recordsets/recordset3.xml");
    EXPECT_EQ(ComHostPathToHostW(u"\\opt\\x/y.so", host, sizeof(host)), 11u);
    EXPECT_STREQ(host, "/opt/x/y.so");
    // Too small: the needed size, terminator included, and nothing written.
    host[0] = 'q';
    EXPECT_EQ(ComHostPathToHostA("a\\b", host, 3), 4u);
    EXPECT_EQ(host[0], 'q');

    // Drive prefixes and UNC names.
    EXPECT_EQ(ComHostPathToHostA("C:\\work\\x.xml", host, sizeof(host)), 11u);
    EXPECT_STREQ(host, "/work/x.xml");
    EXPECT_EQ(ComHostPathToHostA("d:x.xml", host, sizeof(host)), 6u);
    EXPECT_STREQ(host, "/x.xml");
    EXPECT_EQ(ComHostPathToHostW(u"\\\\server\\share\\f", host, sizeof(host)), 16u);
    EXPECT_STREQ(host, "//server/share/f");

    WCHAR wide[16];
    EXPECT_EQ(ComHostPathFromHostW("/a/b.so", wide, 16), 7u);
    EXPECT_EQ(std::u16string(wide), u"\\a\\b.so");
    char narrow[16];
    EXPECT_EQ(ComHostPathFromHostA("rel/x", narrow, 16), 5u);
    EXPECT_STREQ(narrow, "rel\\x");
}

TEST(Paths, NonAsciiNamesGoThroughTheAnsiCodePage) {
    NlsStateGuard guard;
    ASSERT_TRUE(ComHostSetSystemCodePages(1252, 0));
    char host[32];
    EXPECT_EQ(ComHostPathToHostA("caf\xe9\\x", host, sizeof(host)), 7u);
    EXPECT_STREQ(host, "caf\xc3\xa9/x");
    char narrow[32];
    EXPECT_EQ(ComHostPathFromHostA("caf\xc3\xa9/x", narrow, sizeof(narrow)), 6u);
    EXPECT_STREQ(narrow, "caf\xe9\\x");
}

}  // namespace
