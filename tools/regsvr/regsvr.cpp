// regsvr [-u] [-s] FILE: registers (or with -u unregisters) an in-process
// server library by loading it and calling its DllRegisterServer (or
// DllUnregisterServer), as the Windows tool does, and reports the outcome
// with the HRESULT and its message.  -s reports nothing.  "/u" and "/s" are
// accepted as well.
//
// Exit status: 0 success, 1 bad arguments, 2 COM could not be initialised,
// 3 the library cannot be loaded (a Windows PE library among them: it cannot
// be loaded on Linux), 4 the entry point is missing, 5 the entry point
// failed.

#include "messages.h"

#include <objbase.h>
#include <windows.h>

#include <limits.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

enum Exit { kSuccess = 0, kBadArguments = 1, kNoCom = 2, kCannotLoad = 3, kNoEntryPoint = 4, kEntryFailed = 5 };

struct Options {
    bool unregister = false;
    bool silent = false;
    const char *file = nullptr;
};

void Usage() {
    std::fprintf(stderr,
                 "usage: regsvr [-u] [-s] FILE\n"
                 "  registers the in-process server library FILE (calls its DllRegisterServer)\n"
                 "  -u  unregister instead (calls DllUnregisterServer)\n"
                 "  -s  silent: report nothing, only the exit status\n"
                 "exit status: 0 success, 1 bad arguments, 2 COM not initialised, 3 library not loaded,\n"
                 "             4 entry point missing, 5 entry point failed\n");
}

bool Parse(int argc, char **argv, Options *options) {
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        const bool flag = (arg[0] == '-' || arg[0] == '/') && arg[1] && !arg[2];
        if (flag && (arg[1] == 'u' || arg[1] == 'U')) {
            options->unregister = true;
        } else if (flag && (arg[1] == 's' || arg[1] == 'S')) {
            options->silent = true;
        } else if (std::strcmp(arg, "--") == 0 && i + 1 == argc - 1 && !options->file) {
            options->file = argv[++i];
        } else if (arg[0] == '-' && arg[1]) {
            return false;
        } else if (!options->file) {
            options->file = arg;
        } else {
            return false;
        }
    }
    return options->file != nullptr;
}

std::string Hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(static_cast<uint32_t>(hr)));
    return text;
}

// The message of an HRESULT, with the module named where the text has "%1".
std::string Described(HRESULT hr, const char *file) {
    std::string text = regsvr::MessageOf(hr);
    const size_t at = text.find("%1");
    if (at != std::string::npos) text.replace(at, 2, file);
    return Hex(hr) + ": " + text;
}

bool IsWindowsLibrary(const char *path) {
    FILE *in = std::fopen(path, "rb");
    if (!in) return false;
    char magic[2] = {};
    const bool pe = std::fread(magic, 1, 2, in) == 2 && magic[0] == 'M' && magic[1] == 'Z';
    std::fclose(in);
    return pe;
}

// Balances a successful CoInitialize.
class ComScope {
public:
    ComScope() : hr_(CoInitialize(nullptr)) {}
    ~ComScope() {
        if (SUCCEEDED(hr_)) CoUninitialize();
    }
    ComScope(const ComScope &) = delete;
    ComScope &operator=(const ComScope &) = delete;
    HRESULT result() const { return hr_; }

private:
    HRESULT hr_;
};

// The loaded library, freed when the tool is done with it.
class Library {
public:
    explicit Library(HMODULE module) : module_(module) {}
    ~Library() {
        if (module_) FreeLibrary(module_);
    }
    Library(const Library &) = delete;
    Library &operator=(const Library &) = delete;
    HMODULE get() const { return module_; }

private:
    HMODULE module_;
};

HMODULE Load(const char *file) {
    // An existing file is loaded by its full path, so that the library sees
    // where it is; anything else goes through the library search.
    char resolved[PATH_MAX];
    const char *path = realpath(file, resolved) ? resolved : file;
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, nullptr, 0);
    if (n <= 0) return nullptr;
    std::u16string wide(static_cast<size_t>(n), u'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, wide.data(), n) != n) return nullptr;
    return LoadLibraryW(wide.c_str());
}

int Run(const Options &options) {
    auto report = [&](FILE *to, const std::string &text) {
        if (!options.silent) std::fprintf(to, "%s\n", text.c_str());
    };
    const char *file = options.file;
    const char *entry = options.unregister ? "DllUnregisterServer" : "DllRegisterServer";

    ComScope com;
    if (FAILED(com.result())) {
        report(stderr, "COM could not be initialised (" + Described(com.result(), file) + ").");
        return kNoCom;
    }
    if (IsWindowsLibrary(file)) {
        report(stderr, std::string("The module \"") + file +
                           "\" is a Windows (PE) library; it cannot be loaded on Linux. Register it on Windows "
                           "with regsvr32.");
        return kCannotLoad;
    }
    Library library(Load(file));
    if (!library.get()) {
        const DWORD error = GetLastError();
        const HRESULT hr = HRESULT_FROM_WIN32(error ? error : ERROR_MOD_NOT_FOUND);
        report(stderr, std::string("The module \"") + file +
                           "\" failed to load.\n\nMake sure the binary is stored at the specified path or debug it "
                           "to check for problems with the binary or dependent libraries.\n\n" +
                           Described(hr, file));
        return kCannotLoad;
    }
    using EntryPoint = HRESULT(STDAPICALLTYPE *)();
    auto call = reinterpret_cast<EntryPoint>(reinterpret_cast<void (*)()>(GetProcAddress(library.get(), entry)));
    if (!call) {
        report(stderr, std::string("The module \"") + file + "\" was loaded but the entry-point " + entry +
                           " was not found.\n\nMake sure that \"" + file +
                           "\" is a valid in-process server library and then try again.");
        return kNoEntryPoint;
    }
    const HRESULT hr = call();
    if (FAILED(hr)) {
        report(stderr, std::string("The module \"") + file + "\" was loaded but the call to " + entry +
                           " failed with error code " + Described(hr, file));
        return kEntryFailed;
    }
    report(stdout, std::string(entry) + " in " + file + " succeeded.");
    return kSuccess;
}

}  // namespace

int main(int argc, char **argv) {
    Options options;
    if (!Parse(argc, argv, &options)) {
        Usage();
        return kBadArguments;
    }
    try {
        return Run(options);
    } catch (...) {
        if (!options.silent) std::fprintf(stderr, "regsvr: out of memory\n");
        return kEntryFailed;
    }
}
