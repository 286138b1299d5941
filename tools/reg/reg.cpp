// reg: reads and changes the registry from the command line.
//
//   reg query KEY [/v NAME | /ve] [/s]
//   reg add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]
//   reg delete KEY [/v NAME | /ve | /va] [/f]
//   reg export KEY FILE [/y]
//   reg import FILE
//   reg protect KEY
//   reg unprotect KEY
//
// KEY starts with a root: HKCR, HKCU, HKLM, HKU, HKCC or the long names.
// Arguments and output are UTF-8.  Without /f (or /y) a change that replaces
// or removes something asks on standard input first.  Exit status 0 on
// success, 1 on failure.

#include "regfile.h"

#include <comhost/registry.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using regfile::FromUtf8;
using regfile::ToUtf8;

struct KeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using KeyOwner = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

int Fail(const std::string &message) {
    std::fprintf(stderr, "ERROR: %s\n", message.c_str());
    return 1;
}

int Syntax() {
    std::fprintf(stderr, "ERROR: Invalid syntax.\nType \"REG /?\" for usage.\n");
    return 1;
}

int FailStatus(LSTATUS s) {
    switch (s) {
        case ERROR_FILE_NOT_FOUND: return Fail("The system was unable to find the specified registry key or value.");
        case ERROR_ACCESS_DENIED: return Fail("Access is denied.");
        case ERROR_BAD_PATHNAME:
        case ERROR_INVALID_PARAMETER: return Fail("Invalid key name.");
        default: return Fail("The registry operation failed (error " + std::to_string(s) + ").");
    }
}

int Done() {
    std::printf("The operation completed successfully.\n");
    return 0;
}

bool Confirm(const std::string &question) {
    std::printf("%s (Yes/No)? ", question.c_str());
    std::fflush(stdout);
    std::string answer;
    if (!std::getline(std::cin, answer)) {
        std::printf("\n");
        return false;
    }
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

int Canceled() {
    std::printf("The operation was canceled by the user.\n");
    return 0;
}

// Options after the positional arguments.
struct Options {
    std::vector<std::string> positional;
    bool hasValue = false, defaultValue = false, allValues = false, force = false, recurse = false,
         overwrite = false;
    std::string value, type = "REG_SZ", data, separator = "\\0";
    bool hasData = false, hasSeparator = false;
};

bool ParseOptions(int argc, char **argv, int first, Options *o) {
    for (int i = first; i < argc; ++i) {
        std::string a = argv[i];
        if (a.size() < 2 || a[0] != '/') {
            o->positional.push_back(a);
            continue;
        }
        std::string flag = a.substr(1);
        for (char &c : flag) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        auto next = [&](std::string *out) {
            if (i + 1 >= argc) return false;
            *out = argv[++i];
            return true;
        };
        if (flag == "v") {
            if (!next(&o->value)) return false;
            o->hasValue = true;
        } else if (flag == "ve") {
            o->defaultValue = true;
        } else if (flag == "va") {
            o->allValues = true;
        } else if (flag == "t") {
            if (!next(&o->type)) return false;
        } else if (flag == "d") {
            if (!next(&o->data)) return false;
            o->hasData = true;
        } else if (flag == "s") {
            // /s is the separator of "add" and the recursion of "query".
            o->recurse = true;
            if (i + 1 < argc && argv[i + 1][0] != '/') {
                o->hasSeparator = true;
                o->separator = argv[++i];
            }
        } else if (flag == "f") {
            o->force = true;
        } else if (flag == "y") {
            o->overwrite = true;
        } else {
            // Not an option: a host path such as /tmp/tree.reg.
            o->positional.push_back(a);
        }
    }
    return true;
}

struct KeyPath {
    HKEY root = nullptr;
    std::u16string rootName, sub;
    std::u16string Full() const { return sub.empty() ? rootName : rootName + u"\\" + sub; }
};

bool ParseKey(const std::string &text, KeyPath *out) {
    return regfile::SplitKeyPath(FromUtf8(text), &out->root, &out->rootName, &out->sub);
}

const char *TypeName(DWORD type) {
    switch (type) {
        case REG_NONE: return "REG_NONE";
        case REG_SZ: return "REG_SZ";
        case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
        case REG_BINARY: return "REG_BINARY";
        case REG_DWORD: return "REG_DWORD";
        case REG_DWORD_BIG_ENDIAN: return "REG_DWORD_BIG_ENDIAN";
        case REG_LINK: return "REG_LINK";
        case REG_MULTI_SZ: return "REG_MULTI_SZ";
        case REG_QWORD: return "REG_QWORD";
        default: return nullptr;
    }
}

std::u16string Utf16(const std::vector<uint8_t> &data) {
    std::u16string s(data.size() / 2, u'\0');
    for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    while (!s.empty() && s.back() == u'\0') s.pop_back();
    return s;
}

std::string FormatData(DWORD type, const std::vector<uint8_t> &data) {
    char buffer[32];
    if (type == REG_SZ || type == REG_EXPAND_SZ) return ToUtf8(Utf16(data));
    if (type == REG_MULTI_SZ) {
        std::u16string s = Utf16(data);
        std::string out;
        size_t start = 0;
        for (;;) {
            size_t end = s.find(u'\0', start);
            out += ToUtf8(s.substr(start, end == std::u16string::npos ? end : end - start));
            if (end == std::u16string::npos) break;
            out += "\\0";
            start = end + 1;
        }
        return out;
    }
    if (type == REG_DWORD && data.size() == 4) {
        uint32_t v = data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<uint32_t>(data[3]) << 24);
        std::snprintf(buffer, sizeof(buffer), "0x%x", v);
        return buffer;
    }
    if (type == REG_QWORD && data.size() == 8) {
        unsigned long long v = 0;
        for (int i = 7; i >= 0; --i) v = (v << 8) | data[static_cast<size_t>(i)];
        std::snprintf(buffer, sizeof(buffer), "0x%llx", v);
        return buffer;
    }
    std::string out;
    for (uint8_t b : data) {
        std::snprintf(buffer, sizeof(buffer), "%02X", b);
        out += buffer;
    }
    return out;
}

void PrintValue(const regfile::Value &value) {
    const char *name = TypeName(value.type);
    char unknown[32];
    if (!name) {
        std::snprintf(unknown, sizeof(unknown), "REG_0x%x", static_cast<unsigned>(value.type));
        name = unknown;
    }
    std::printf("    %s    %s    %s\n", value.name.empty() ? "(Default)" : ToUtf8(value.name).c_str(), name,
                FormatData(value.type, value.data).c_str());
}

// ------------------------------------------------------------ commands

int Query(const Options &o) {
    if (o.positional.size() != 1 || (o.hasValue && o.defaultValue)) return Syntax();
    KeyPath key;
    if (!ParseKey(o.positional[0], &key)) return Fail("Invalid key name.");
    regfile::File tree;
    LSTATUS s = regfile::Export(key.Full(), regfile::Version::Version5, &tree);
    if (s != ERROR_SUCCESS) return FailStatus(s);
    if (o.hasValue || o.defaultValue) {
        std::u16string wanted = o.defaultValue ? std::u16string() : FromUtf8(o.value);
        int found = 0;
        for (size_t i = 0; i < tree.sections.size() && (i == 0 || o.recurse); ++i) {
            for (const auto &value : tree.sections[i].values) {
                if (CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, value.name.c_str(), -1, wanted.c_str(), -1) !=
                    CSTR_EQUAL)
                    continue;
                std::printf("\n%s\n", ToUtf8(tree.sections[i].path).c_str());
                PrintValue(value);
                ++found;
            }
        }
        if (!found) {
            if (o.defaultValue && !o.recurse) {
                std::printf("\n%s\n    (Default)    REG_SZ    (value not set)\n\n", ToUtf8(tree.sections[0].path).c_str());
                return 0;
            }
            return FailStatus(ERROR_FILE_NOT_FOUND);
        }
        std::printf("\n");
        if (o.recurse) std::printf("End of search: %d match(es) found.\n", found);
        return 0;
    }
    if (o.recurse) {
        for (const auto &section : tree.sections) {
            std::printf("\n%s\n", ToUtf8(section.path).c_str());
            for (const auto &value : section.values) PrintValue(value);
        }
        std::printf("\n");
        return 0;
    }
    // The key's values, then its direct subkeys.
    const auto &top = tree.sections[0];
    std::printf("\n%s\n", ToUtf8(top.path).c_str());
    for (const auto &value : top.values) PrintValue(value);
    std::printf("\n");
    size_t depth = std::count(top.path.begin(), top.path.end(), u'\\');
    for (size_t i = 1; i < tree.sections.size(); ++i) {
        const auto &path = tree.sections[i].path;
        if (static_cast<size_t>(std::count(path.begin(), path.end(), u'\\')) == depth + 1)
            std::printf("%s\n", ToUtf8(path).c_str());
    }
    return 0;
}

bool ParseNumber(const std::string &text, unsigned long long max, unsigned long long *out) {
    if (text.empty()) return false;
    char *end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno || *end || v > max || text[0] == '-') return false;
    *out = v;
    return true;
}

bool BuildData(const Options &o, DWORD *type, std::vector<uint8_t> *data) {
    std::string t = o.type;
    for (char &c : t) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    auto appendText = [&](const std::u16string &s) {
        for (char16_t c : s) {
            data->push_back(static_cast<uint8_t>(c & 0xff));
            data->push_back(static_cast<uint8_t>(c >> 8));
        }
    };
    data->clear();
    if (t == "REG_SZ" || t == "REG_EXPAND_SZ") {
        *type = t == "REG_SZ" ? REG_SZ : REG_EXPAND_SZ;
        appendText(FromUtf8(o.data) + u'\0');
        return true;
    }
    if (t == "REG_MULTI_SZ") {
        *type = REG_MULTI_SZ;
        std::string rest = o.data;
        if (!rest.empty()) {
            for (;;) {
                size_t at = o.separator.empty() ? std::string::npos : rest.find(o.separator);
                appendText(FromUtf8(rest.substr(0, at)) + u'\0');
                if (at == std::string::npos) break;
                rest = rest.substr(at + o.separator.size());
            }
        }
        appendText(std::u16string(1, u'\0'));
        return true;
    }
    if (t == "REG_DWORD" || t == "REG_DWORD_LITTLE_ENDIAN" || t == "REG_DWORD_BIG_ENDIAN" || t == "REG_QWORD") {
        bool qword = t == "REG_QWORD";
        unsigned long long v = 0;
        if (!o.hasData) {
            v = 0;
        } else if (!ParseNumber(o.data, qword ? ~0ULL : 0xffffffffULL, &v)) {
            return false;
        }
        *type = qword ? REG_QWORD : (t == "REG_DWORD_BIG_ENDIAN" ? REG_DWORD_BIG_ENDIAN : REG_DWORD);
        int n = qword ? 8 : 4;
        for (int i = 0; i < n; ++i) {
            int shift = *type == REG_DWORD_BIG_ENDIAN ? 8 * (n - 1 - i) : 8 * i;
            data->push_back(static_cast<uint8_t>(v >> shift));
        }
        return true;
    }
    if (t == "REG_BINARY" || t == "REG_NONE") {
        *type = t == "REG_BINARY" ? REG_BINARY : REG_NONE;
        if (o.data.size() % 2) return false;
        for (size_t i = 0; i < o.data.size(); i += 2) {
            unsigned v = 0;
            if (std::sscanf(o.data.substr(i, 2).c_str(), "%2x", &v) != 1 || !std::isxdigit(o.data[i]) ||
                !std::isxdigit(o.data[i + 1]))
                return false;
            data->push_back(static_cast<uint8_t>(v));
        }
        return true;
    }
    return false;
}

int Add(const Options &o) {
    if (o.positional.size() != 1 || (o.hasValue && o.defaultValue)) return Syntax();
    KeyPath key;
    if (!ParseKey(o.positional[0], &key)) return Fail("Invalid key name.");
    DWORD type = REG_SZ;
    std::vector<uint8_t> data;
    bool setValue = o.hasValue || o.defaultValue || o.hasData;
    if (setValue && !BuildData(o, &type, &data)) return Fail("Invalid data or type.");
    HKEY raw = nullptr;
    LSTATUS s = RegCreateKeyExW(key.root, key.sub.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &raw, nullptr);
    if (s != ERROR_SUCCESS) return FailStatus(s);
    KeyOwner owner(raw);
    if (!setValue) return Done();
    std::u16string name = o.hasValue ? FromUtf8(o.value) : std::u16string();
    if (!o.force) {
        DWORD size = 0;
        if (RegQueryValueExW(raw, name.c_str(), nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS &&
            !Confirm("Value " + (name.empty() ? std::string("(Default)") : o.value) + " exists, overwrite"))
            return Canceled();
    }
    s = RegSetValueExW(raw, name.c_str(), 0, type, data.empty() ? nullptr : data.data(),
                       static_cast<DWORD>(data.size()));
    return s == ERROR_SUCCESS ? Done() : FailStatus(s);
}

int Delete(const Options &o) {
    if (o.positional.size() != 1 || (o.hasValue + o.defaultValue + o.allValues) > 1) return Syntax();
    KeyPath key;
    if (!ParseKey(o.positional[0], &key)) return Fail("Invalid key name.");
    if (!o.hasValue && !o.defaultValue && !o.allValues) {
        if (key.sub.empty()) return Fail("Invalid key name.");
        HKEY probe = nullptr;
        LSTATUS s = RegOpenKeyExW(key.root, key.sub.c_str(), 0, KEY_READ, &probe);
        if (s != ERROR_SUCCESS) return FailStatus(s);
        RegCloseKey(probe);
        if (!o.force && !Confirm("Permanently delete the registry key " + ToUtf8(key.Full()))) return Canceled();
        s = RegDeleteTreeW(key.root, key.sub.c_str());
        return s == ERROR_SUCCESS ? Done() : FailStatus(s);
    }
    HKEY raw = nullptr;
    LSTATUS s = RegOpenKeyExW(key.root, key.sub.c_str(), 0, KEY_READ | KEY_WRITE, &raw);
    if (s != ERROR_SUCCESS) return FailStatus(s);
    KeyOwner owner(raw);
    if (o.allValues) {
        if (!o.force && !Confirm("Delete all values under the registry key " + ToUtf8(key.Full()))) return Canceled();
        regfile::File tree;
        s = regfile::Export(key.Full(), regfile::Version::Version5, &tree);
        if (s != ERROR_SUCCESS) return FailStatus(s);
        for (const auto &value : tree.sections[0].values) {
            s = RegDeleteValueW(raw, value.name.c_str());
            if (s != ERROR_SUCCESS) return FailStatus(s);
        }
        return Done();
    }
    std::u16string name = o.hasValue ? FromUtf8(o.value) : std::u16string();
    DWORD size = 0;
    s = RegQueryValueExW(raw, name.c_str(), nullptr, nullptr, nullptr, &size);
    if (s != ERROR_SUCCESS) return FailStatus(s);
    if (!o.force && !Confirm("Delete the registry value " + (name.empty() ? std::string("(Default)") : o.value)))
        return Canceled();
    s = RegDeleteValueW(raw, name.c_str());
    return s == ERROR_SUCCESS ? Done() : FailStatus(s);
}

bool FileExists(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return in.good();
}

int Export(const Options &o) {
    if (o.positional.size() != 2) return Syntax();
    KeyPath key;
    if (!ParseKey(o.positional[0], &key)) return Fail("Invalid key name.");
    regfile::File tree;
    LSTATUS s = regfile::Export(key.Full(), regfile::Version::Version5, &tree);
    if (s != ERROR_SUCCESS) return FailStatus(s);
    const std::string &path = o.positional[1];
    if (!o.overwrite && FileExists(path) && !Confirm("File " + path + " already exists. Overwrite")) return Canceled();
    std::string bytes = regfile::Write(tree);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) return Fail("Cannot write " + path + ".");
    return Done();
}

int Import(const Options &o) {
    if (o.positional.size() != 1) return Syntax();
    std::ifstream in(o.positional[0], std::ios::binary);
    if (!in) return Fail("Error opening the file. There may be a disk or file system error.");
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    regfile::File file;
    regfile::Error error;
    if (!regfile::Parse(bytes, &file, &error))
        return Fail(o.positional[0] + ":" + std::to_string(error.line) + ": " + error.message);
    if (regfile::Apply(file, &error) != ERROR_SUCCESS)
        return Fail(o.positional[0] + ":" + std::to_string(error.line) + ": " + error.message);
    return Done();
}

int Protect(const Options &o, bool protect) {
    if (o.positional.size() != 1) return Syntax();
    KeyPath key;
    if (!ParseKey(o.positional[0], &key)) return Fail("Invalid key name.");
    LSTATUS s = ComHostRegistryProtectKey(key.root, key.sub.c_str(), protect ? TRUE : FALSE);
    return s == ERROR_SUCCESS ? Done() : FailStatus(s);
}

void Usage() {
    std::printf(
        "REG QUERY KEY [/v NAME | /ve] [/s]\n"
        "REG ADD KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]\n"
        "REG DELETE KEY [/v NAME | /ve | /va] [/f]\n"
        "REG EXPORT KEY FILE [/y]\n"
        "REG IMPORT FILE\n"
        "REG PROTECT KEY | REG UNPROTECT KEY\n"
        "\n"
        "KEY: ROOT\\Subkey with ROOT one of HKLM, HKCU, HKCR, HKU, HKCC or the long names.\n"
        "TYPE: REG_SZ, REG_MULTI_SZ, REG_EXPAND_SZ, REG_DWORD, REG_QWORD, REG_BINARY, REG_NONE.\n"
        "The registry file is COMHOST_REGISTRY (default ~/.local/share/comhost/registry.db).\n");
}

int Run(int argc, char **argv) {
    if (argc < 2) return Syntax();
    std::string command = argv[1];
    for (char &c : command) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (command == "/?" || command == "-?" || command == "--help") {
        Usage();
        return 0;
    }
    Options o;
    if (!ParseOptions(argc, argv, 2, &o)) return Syntax();
    if (command == "query") return Query(o);
    if (command == "add") return Add(o);
    if (command == "delete") return Delete(o);
    if (command == "export") return Export(o);
    if (command == "import") return Import(o);
    if (command == "protect") return Protect(o, true);
    if (command == "unprotect") return Protect(o, false);
    return Syntax();
}

}  // namespace

int main(int argc, char **argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception &e) {
        return Fail(e.what());
    }
}
