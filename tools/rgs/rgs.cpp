// rgs FILE [-u] [-D NAME=VALUE]... [--check]
//
// Runs a registration script file in register (default) or unregister (-u)
// mode against the registry, with the library's own registrar, and prints
// the result.  -D adds a replacement variable (the first definition of a
// name wins, as in the library).  --check touches no registry: it runs the
// replacement pass and checks the grammar as a registration would, and
// lists each error with its line, column and reason.
//
// Exit status: 0 success, 1 the script failed, 2 usage or file errors.
#include "registration/registrar.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using nuv::CRegObject;
using nuv::CRegScriptParser;

struct Options {
    const char* file = nullptr;
    bool unregister = false;
    bool check = false;
    std::vector<std::pair<std::string, std::string>> defines;
};

void Usage() {
    std::fprintf(stderr, "usage: rgs FILE [-u] [-D NAME=VALUE]... [--check]\n");
}

const char* Message(HRESULT hr) {
    switch (static_cast<ULONG>(hr)) {
    case 0x00000000: return "The operation completed successfully.";
    case 0x80020009: return "Exception occurred (syntax error in the script or a missing variable).";
    case 0x80004005: return "Unspecified error.";
    case 0x8007000E: return "Not enough memory resources are available to complete this operation.";
    case 0x80004003: return "Invalid pointer.";
    case 0x80070057: return "The parameter is incorrect.";
    case 0x80070002: return "The system cannot find the file specified.";
    case 0x80070005: return "Access is denied.";
    case 0x80070006: return "The handle is invalid.";
    case 0x800703F2: return "The configuration registry key is invalid.";
    case 0x800703FA: return "Illegal operation attempted on a registry key that has been marked for deletion.";
    default: return "Unknown error.";
    }
}

bool ParseArguments(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "-u") == 0) {
            options.unregister = true;
        } else if (std::strcmp(arg, "--check") == 0) {
            options.check = true;
        } else if (std::strncmp(arg, "-D", 2) == 0) {
            const char* definition = arg[2] ? arg + 2 : (i + 1 < argc ? argv[++i] : nullptr);
            const char* equals = definition ? std::strchr(definition, '=') : nullptr;
            if (!equals || equals == definition) {
                std::fprintf(stderr, "rgs: -D needs NAME=VALUE\n");
                return false;
            }
            options.defines.emplace_back(std::string(definition, equals), std::string(equals + 1));
        } else if (arg[0] == '-' && arg[1] != 0) {
            std::fprintf(stderr, "rgs: unknown option %s\n", arg);
            return false;
        } else if (!options.file) {
            options.file = arg;
        } else {
            std::fprintf(stderr, "rgs: more than one script file\n");
            return false;
        }
    }
    return options.file != nullptr;
}

// The script's bytes; a NUL byte ends the text there, as it does for a resource.
bool ReadScript(const char* path, std::string& text) {
    FILE* f = std::fopen(path, "rb");
    if (!f)
        return false;
    char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof(chunk), f)) > 0)
        text.append(chunk, n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    const size_t nul = text.find('\0');
    if (nul != std::string::npos)
        text.resize(nul);
    return ok;
}

std::u16string Widen(const std::string& s) {
    const int n = MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, nullptr, 0);
    std::u16string w(n > 0 ? static_cast<size_t>(n) : 1u, u'\0');
    if (n > 0)
        MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, reinterpret_cast<LPWSTR>(w.data()), n);
    w.resize(w.size() - 1);
    return w;
}

// Line and column (both from 1, columns in characters) of a position in text.
void Where(const char* text, const char* at, int& line, int& column) {
    line = 1;
    column = 1;
    for (const char* p = text; *p && p < at;) {
        if (*p == '\n') {
            ++line;
            column = 1;
            ++p;
            continue;
        }
        const char* next = CharNextA(p);
        p = next > p ? next : p + 1;
        if (p[-1] != '\r')
            ++column;
    }
}

// Lists every variable reference that the replacement pass refuses.
int ListReplacementErrors(const char* file, const std::string& text, const CRegObject& registrar) {
    int errors = 0;
    const char* base = text.c_str();
    for (const char* p = base; *p;) {
        if (*p != '%') {
            const char* next = CharNextA(p);
            p = next > p ? next : p + 1;
            continue;
        }
        if (p[1] == '%') {
            p += 2;
            continue;
        }
        const char* q = p + 1;
        while (*q && *q != '%')
            ++q;
        int line, column;
        Where(base, p, line, column);
        if (*q == 0) {
            std::printf("%s:%d:%d: \"%%\" without a closing \"%%\"\n", file, line, column);
            ++errors;
            break;
        }
        const std::string name(p + 1, q);
        if (name.size() > 31) {
            std::printf("%s:%d:%d: variable name longer than 31 bytes: %s\n", file, line, column, name.c_str());
            ++errors;
        } else if (registrar.Replacements().FindReplacement(name.c_str()) < 0) {
            std::printf("%s:%d:%d: variable %%%s%% is not defined (use -D %s=VALUE)\n", file, line, column,
                        name.c_str(), name.c_str());
            ++errors;
        }
        p = q + 1;
    }
    return errors;
}

int Check(const Options& options, const std::string& text, CRegObject& registrar) {
    CRegScriptParser parser(&registrar);
    LPSTR expanded = nullptr;
    HRESULT hr = parser.ExpandReplacements(text.c_str(), &expanded);
    if (FAILED(hr)) {
        if (ListReplacementErrors(options.file, text, registrar) == 0)
            std::printf("%s: replacement pass failed: 0x%08X %s\n", options.file, static_cast<unsigned>(hr),
                        Message(hr));
        return 1;
    }
    const bool substituted = text != expanded;
    LPCSTR errorAt = nullptr;
    LPCSTR reason = nullptr;
    hr = parser.CheckSyntax(expanded, &errorAt, &reason);
    int status = 0;
    if (FAILED(hr)) {
        int line, column;
        Where(expanded, errorAt, line, column);
        std::printf("%s:%d:%d: %s%s\n", options.file, line, column, reason ? reason : "syntax error",
                    substituted ? " (position after substitution)" : "");
        status = 1;
    } else {
        std::printf("%s: OK\n", options.file);
    }
    CoTaskMemFree(expanded);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseArguments(argc, argv, options)) {
        Usage();
        return 2;
    }
    std::string text;
    if (!ReadScript(options.file, text)) {
        std::fprintf(stderr, "rgs: cannot read %s\n", options.file);
        return 2;
    }
    CRegObject registrar;
    for (const auto& [name, value] : options.defines) {
        const std::u16string wideName = Widen(name);
        const std::u16string wideValue = Widen(value);
        const HRESULT hr = registrar.SetReplacement(reinterpret_cast<LPCOLESTR>(wideName.c_str()),
                                                    reinterpret_cast<LPCOLESTR>(wideValue.c_str()));
        if (FAILED(hr)) {
            std::fprintf(stderr, "rgs: cannot add variable %s: 0x%08X\n", name.c_str(), static_cast<unsigned>(hr));
            return 2;
        }
    }
    if (options.check)
        return Check(options, text, registrar);

    const HRESULT hr = registrar.RunScriptText(text.c_str(), options.unregister ? FALSE : TRUE);
    std::printf("%s %s: 0x%08X %s\n", options.unregister ? "unregister" : "register", options.file,
                static_cast<unsigned>(hr), Message(hr));
    return SUCCEEDED(hr) ? 0 : 1;
}
