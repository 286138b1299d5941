// The ".reg" text format (see regfile.h).

#include "regfile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace regfile {
namespace {

const char16_t kHeader4[] = u"REGEDIT4";
const char16_t kHeader5[] = u"Windows Registry Editor Version 5.00";

// ------------------------------------------------------------ encodings

// Decodes UTF-8; false when the bytes are not well-formed UTF-8.
bool DecodeUtf8(const char *p, size_t n, std::u16string *out) {
    out->clear();
    out->reserve(n);
    size_t i = 0;
    while (i < n) {
        unsigned char c = static_cast<unsigned char>(p[i]);
        uint32_t cp;
        size_t len;
        if (c < 0x80) {
            cp = c;
            len = 1;
        } else if ((c & 0xe0) == 0xc0) {
            cp = c & 0x1f;
            len = 2;
        } else if ((c & 0xf0) == 0xe0) {
            cp = c & 0x0f;
            len = 3;
        } else if ((c & 0xf8) == 0xf0) {
            cp = c & 0x07;
            len = 4;
        } else {
            return false;
        }
        if (i + len > n) return false;
        for (size_t k = 1; k < len; ++k) {
            unsigned char t = static_cast<unsigned char>(p[i + k]);
            if ((t & 0xc0) != 0x80) return false;
            cp = (cp << 6) | (t & 0x3f);
        }
        static const uint32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < minimum[len] || cp > 0x10ffff) return false;
        if (cp >= 0xd800 && cp <= 0xdfff) {
            // Lone surrogates (written by ToUtf8 for names that hold them).
            out->push_back(static_cast<char16_t>(cp));
        } else if (cp >= 0x10000) {
            cp -= 0x10000;
            out->push_back(static_cast<char16_t>(0xd800 + (cp >> 10)));
            out->push_back(static_cast<char16_t>(0xdc00 + (cp & 0x3ff)));
        } else {
            out->push_back(static_cast<char16_t>(cp));
        }
        i += len;
    }
    return true;
}

std::u16string FromAnsi(const char *p, size_t n) {
    std::u16string out;
    if (n == 0 || n > 0x7fffffff) return out;
    int count = MultiByteToWideChar(CP_ACP, 0, p, static_cast<int>(n), nullptr, 0);
    if (count <= 0) return out;
    out.resize(static_cast<size_t>(count));
    MultiByteToWideChar(CP_ACP, 0, p, static_cast<int>(n), out.data(), count);
    return out;
}

std::string ToAnsi(const char16_t *p, size_t n) {
    std::string out;
    if (n == 0 || n > 0x7fffffff) return out;
    int count = WideCharToMultiByte(CP_ACP, 0, p, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
    if (count <= 0) return out;
    out.resize(static_cast<size_t>(count));
    WideCharToMultiByte(CP_ACP, 0, p, static_cast<int>(n), out.data(), count, nullptr, nullptr);
    return out;
}

std::u16string DecodeFile(const std::string &bytes) {
    std::u16string text;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xff &&
        static_cast<unsigned char>(bytes[1]) == 0xfe) {
        size_t units = (bytes.size() - 2) / 2;
        text.resize(units);
        for (size_t i = 0; i < units; ++i) {
            text[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 + 2 * i]) |
                                            (static_cast<unsigned char>(bytes[3 + 2 * i]) << 8));
        }
        return text;
    }
    size_t skip = 0;
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xef\xbb\xbf") == 0) skip = 3;
    if (DecodeUtf8(bytes.data() + skip, bytes.size() - skip, &text)) return text;
    return FromAnsi(bytes.data() + skip, bytes.size() - skip);
}

// ------------------------------------------------------------ parsing

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

std::u16string_view Trim(std::u16string_view s) {
    while (!s.empty() && (IsBlank(s.front()) || s.front() == u'\r')) s.remove_prefix(1);
    while (!s.empty() && (IsBlank(s.back()) || s.back() == u'\r')) s.remove_suffix(1);
    return s;
}

// Whether a line ends in a backslash that is not inside a quoted string.
bool ContinuesOnNextLine(std::u16string_view line) {
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        char16_t c = line[i];
        if (quoted) {
            if (c == u'\\' && i + 1 < line.size()) {
                ++i;
            } else if (c == u'"') {
                quoted = false;
            }
        } else if (c == u'"') {
            quoted = true;
        }
    }
    return !quoted && !line.empty() && line.back() == u'\\';
}

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

bool StartsWithNoCase(std::u16string_view s, const char *prefix) {
    size_t n = std::strlen(prefix);
    if (s.size() < n) return false;
    for (size_t i = 0; i < n; ++i) {
        char16_t c = s[i];
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
        if (c != static_cast<char16_t>(prefix[i])) return false;
    }
    return true;
}

class Parser {
public:
    Parser(File *file, Error *error) : file_(file), error_(error) {}

    bool Fail(size_t line, const char *message) {
        if (error_) {
            error_->line = line;
            error_->message = message;
        }
        return false;
    }

    // A quoted string at s[*pos] (the opening quote); *pos moves past the
    // closing quote.
    bool Quoted(std::u16string_view s, size_t *pos, std::u16string *out, size_t line) {
        out->clear();
        size_t i = *pos + 1;
        for (; i < s.size(); ++i) {
            char16_t c = s[i];
            if (c == u'"') {
                *pos = i + 1;
                return true;
            }
            if (c == u'\\' && i + 1 < s.size() && (s[i + 1] == u'\\' || s[i + 1] == u'"')) {
                out->push_back(s[++i]);
                continue;
            }
            out->push_back(c);
        }
        return Fail(line, "unterminated quoted string");
    }

    bool Rest(std::u16string_view rest, size_t line) {
        rest = Trim(rest);
        if (rest.empty() || rest.front() == u';') return true;
        return Fail(line, "unexpected text after the value");
    }

    bool HexBytes(std::u16string_view list, std::vector<uint8_t> *out, size_t line) {
        out->clear();
        list = Trim(list);
        if (list.empty()) return true;
        size_t start = 0;
        for (;;) {
            size_t comma = list.find(u',', start);
            std::u16string_view item = Trim(list.substr(start, comma == std::u16string_view::npos ? comma : comma - start));
            if (item.empty()) {
                // Only a trailing comma may leave an empty item.
                if (comma != std::u16string_view::npos || start == 0) return Fail(line, "empty byte in a hex list");
                break;
            }
            if (item.size() > 2) return Fail(line, "a byte of a hex list has more than two digits");
            int value = 0;
            for (char16_t c : item) {
                int d = HexDigit(c);
                if (d < 0) return Fail(line, "bad hexadecimal digit");
                value = value * 16 + d;
            }
            out->push_back(static_cast<uint8_t>(value));
            if (comma == std::u16string_view::npos) break;
            start = comma + 1;
        }
        return true;
    }

    bool ValueLine(std::u16string_view s, size_t line) {
        if (sections_empty()) return Fail(line, "value outside a key");
        Value value;
        size_t pos = 0;
        if (s[0] == u'@') {
            pos = 1;
        } else if (!Quoted(s, &pos, &value.name, line)) {
            return false;
        }
        while (pos < s.size() && IsBlank(s[pos])) ++pos;
        if (pos >= s.size() || s[pos] != u'=') return Fail(line, "missing '=' after the value name");
        ++pos;
        while (pos < s.size() && IsBlank(s[pos])) ++pos;
        std::u16string_view data = s.substr(pos);
        if (!data.empty() && data[0] == u'-') {
            if (!Rest(data.substr(1), line)) return false;
            value.remove = true;
        } else if (!data.empty() && data[0] == u'"') {
            std::u16string text;
            size_t end = 0;
            if (!Quoted(data, &end, &text, line) || !Rest(data.substr(end), line)) return false;
            value.type = REG_SZ;
            AppendUtf16(text, &value.data);
            value.data.push_back(0);
            value.data.push_back(0);
        } else if (StartsWithNoCase(data, "dword:")) {
            std::u16string_view digits = Trim(data.substr(6));
            size_t n = 0;
            uint32_t v = 0;
            while (n < digits.size() && HexDigit(digits[n]) >= 0) {
                v = v * 16 + static_cast<uint32_t>(HexDigit(digits[n]));
                ++n;
            }
            if (n == 0 || n > 8) return Fail(line, "dword: takes one to eight hexadecimal digits");
            if (!Rest(digits.substr(n), line)) return false;
            value.type = REG_DWORD;
            for (int b = 0; b < 4; ++b) value.data.push_back(static_cast<uint8_t>(v >> (8 * b)));
        } else if (StartsWithNoCase(data, "hex")) {
            size_t p = 3;
            DWORD type = REG_BINARY;
            if (p < data.size() && data[p] == u'(') {
                ++p;
                size_t digits = 0;
                uint64_t t = 0;
                while (p < data.size() && HexDigit(data[p]) >= 0) {
                    t = t * 16 + static_cast<uint64_t>(HexDigit(data[p]));
                    ++p;
                    ++digits;
                }
                if (digits == 0 || digits > 8 || p >= data.size() || data[p] != u')')
                    return Fail(line, "bad type in hex(...)");
                ++p;
                type = static_cast<DWORD>(t);
            }
            if (p >= data.size() || data[p] != u':') return Fail(line, "missing ':' after hex");
            if (!HexBytes(data.substr(p + 1), &value.data, line)) return false;
            value.type = type;
            if (file_->version == Version::Regedit4 && (type == REG_EXPAND_SZ || type == REG_MULTI_SZ)) {
                std::u16string text = FromAnsi(reinterpret_cast<const char *>(value.data.data()), value.data.size());
                value.data.clear();
                AppendUtf16(text, &value.data);
            }
        } else {
            return Fail(line, "unknown value data");
        }
        file_->sections.back().values.push_back(std::move(value));
        return true;
    }

    static void AppendUtf16(const std::u16string &text, std::vector<uint8_t> *out) {
        for (char16_t c : text) {
            out->push_back(static_cast<uint8_t>(c & 0xff));
            out->push_back(static_cast<uint8_t>(c >> 8));
        }
    }

    bool sections_empty() const { return file_->sections.empty(); }

    bool Run(const std::u16string &text) {
        // Physical lines, with their numbers.
        std::vector<std::pair<std::u16string_view, size_t>> lines;
        std::u16string_view all(text);
        size_t number = 1, start = 0;
        while (start <= all.size()) {
            size_t end = all.find(u'\n', start);
            std::u16string_view l = all.substr(start, end == std::u16string_view::npos ? end : end - start);
            if (!l.empty() && l.back() == u'\r') l.remove_suffix(1);
            lines.emplace_back(l, number++);
            if (end == std::u16string_view::npos) break;
            start = end + 1;
        }
        bool header = false;
        for (size_t i = 0; i < lines.size(); ++i) {
            size_t lineNumber = lines[i].second;
            std::u16string logical(Trim(lines[i].first));
            while (ContinuesOnNextLine(logical) && i + 1 < lines.size()) {
                logical.pop_back();
                logical += Trim(lines[++i].first);
            }
            std::u16string_view s = Trim(logical);
            if (s.empty()) continue;
            if (!header) {
                if (s == kHeader4) {
                    file_->version = Version::Regedit4;
                } else if (s == kHeader5) {
                    file_->version = Version::Version5;
                } else {
                    return Fail(lineNumber, "not a registry file (no REGEDIT4 or version 5.00 header)");
                }
                header = true;
                continue;
            }
            if (s[0] == u';') continue;
            if (s[0] == u'[') {
                size_t close = s.rfind(u']');
                if (close == std::u16string_view::npos) return Fail(lineNumber, "missing ']'");
                if (!Trim(s.substr(close + 1)).empty() && Trim(s.substr(close + 1))[0] != u';')
                    return Fail(lineNumber, "unexpected text after ']'");
                Section section;
                section.line = lineNumber;
                std::u16string_view path = s.substr(1, close - 1);
                if (!path.empty() && path[0] == u'-') {
                    section.remove = true;
                    path.remove_prefix(1);
                }
                if (path.empty()) return Fail(lineNumber, "empty key path");
                section.path.assign(path);
                file_->sections.push_back(std::move(section));
                continue;
            }
            if (s[0] == u'"' || s[0] == u'@') {
                if (!ValueLine(s, lineNumber)) return false;
                continue;
            }
            return Fail(lineNumber, "unexpected text");
        }
        if (!header) return Fail(0, "empty file");
        return true;
    }

private:
    File *file_;
    Error *error_;
};

// ------------------------------------------------------------ writing

void Escape(const std::u16string &text, std::u16string *out) {
    for (char16_t c : text) {
        if (c == u'\\' || c == u'"') out->push_back(u'\\');
        out->push_back(c);
    }
}

// Whether REG_SZ data reads back the same from "text": even size, one NUL at
// the end and none inside.
bool IsPlainString(const std::vector<uint8_t> &data) {
    if (data.size() < 2 || data.size() % 2) return false;
    size_t units = data.size() / 2;
    for (size_t i = 0; i + 1 < units; ++i)
        if (data[2 * i] == 0 && data[2 * i + 1] == 0) return false;
    return data[data.size() - 2] == 0 && data[data.size() - 1] == 0;
}

std::u16string Utf16Of(const std::vector<uint8_t> &data, size_t bytes) {
    std::u16string s(bytes / 2, u'\0');
    for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    return s;
}

void HexList(const std::u16string &prefix, const std::vector<uint8_t> &bytes, std::u16string *out) {
    std::u16string line = prefix;
    static const char16_t digits[] = u"0123456789abcdef";
    for (size_t i = 0; i < bytes.size(); ++i) {
        bool last = i + 1 == bytes.size();
        // Lines stay within 80 columns: 3 for "xx," and 1 for the backslash.
        if (line.size() + 3 + 1 > 80) {
            *out += line;
            *out += u"\\\r\n";
            line = u"  ";
        }
        line.push_back(digits[bytes[i] >> 4]);
        line.push_back(digits[bytes[i] & 15]);
        if (!last) line.push_back(u',');
    }
    *out += line;
}

void WriteValue(const Value &value, Version version, std::u16string *out) {
    std::u16string prefix;
    if (value.name.empty()) {
        prefix = u"@=";
    } else {
        prefix = u"\"";
        Escape(value.name, &prefix);
        prefix += u"\"=";
    }
    if (value.remove) {
        *out += prefix + u"-\r\n";
        return;
    }
    if (value.type == REG_SZ && IsPlainString(value.data)) {
        std::u16string text = Utf16Of(value.data, value.data.size() - 2);
        *out += prefix + u"\"";
        Escape(text, out);
        *out += u"\"\r\n";
        return;
    }
    if (value.type == REG_DWORD && value.data.size() == 4) {
        char buffer[16];
        uint32_t v = static_cast<uint32_t>(value.data[0]) | (static_cast<uint32_t>(value.data[1]) << 8) |
                     (static_cast<uint32_t>(value.data[2]) << 16) | (static_cast<uint32_t>(value.data[3]) << 24);
        std::snprintf(buffer, sizeof(buffer), "%08x", v);
        *out += prefix + u"dword:";
        for (const char *c = buffer; *c; ++c) out->push_back(static_cast<char16_t>(*c));
        *out += u"\r\n";
        return;
    }
    std::vector<uint8_t> bytes = value.data;
    if (version == Version::Regedit4 && (value.type == REG_EXPAND_SZ || value.type == REG_MULTI_SZ)) {
        std::u16string text = Utf16Of(value.data, value.data.size() - value.data.size() % 2);
        std::string ansi = ToAnsi(text.data(), text.size());
        bytes.assign(ansi.begin(), ansi.end());
    }
    std::u16string head = prefix;
    if (value.type == REG_BINARY) {
        head += u"hex:";
    } else {
        char buffer[24];
        std::snprintf(buffer, sizeof(buffer), "hex(%x):", static_cast<unsigned>(value.type));
        for (const char *c = buffer; *c; ++c) head.push_back(static_cast<char16_t>(*c));
    }
    HexList(head, bytes, out);
    *out += u"\r\n";
}

// ------------------------------------------------------------ registry

struct RootName {
    const char16_t *longName;
    const char16_t *shortName;
    HKEY key;
};

const RootName kRoots[] = {
    {u"HKEY_CLASSES_ROOT", u"HKCR", HKEY_CLASSES_ROOT},
    {u"HKEY_CURRENT_USER", u"HKCU", HKEY_CURRENT_USER},
    {u"HKEY_LOCAL_MACHINE", u"HKLM", HKEY_LOCAL_MACHINE},
    {u"HKEY_USERS", u"HKU", HKEY_USERS},
    {u"HKEY_CURRENT_CONFIG", u"HKCC", HKEY_CURRENT_CONFIG},
    {u"HKEY_PERFORMANCE_DATA", nullptr, HKEY_PERFORMANCE_DATA},
    {u"HKEY_DYN_DATA", nullptr, HKEY_DYN_DATA},
};

bool EqualNoCase(std::u16string_view a, const char16_t *b) {
    size_t n = std::char_traits<char16_t>::length(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i) {
        char16_t x = a[i], y = b[i];
        if (x >= u'a' && x <= u'z') x = static_cast<char16_t>(x - 32);
        if (y >= u'a' && y <= u'z') y = static_cast<char16_t>(y - 32);
        if (x != y) return false;
    }
    return true;
}

bool LessNoCase(const std::u16string &a, const std::u16string &b) {
    int r = CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, a.c_str(), static_cast<int>(a.size()), b.c_str(),
                           static_cast<int>(b.size()));
    if (r != CSTR_EQUAL) return r == CSTR_LESS_THAN;
    return a < b;
}

struct KeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using KeyOwner = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

LSTATUS ExportKey(HKEY parent, const std::u16string &sub, const std::u16string &path, File *out) {
    HKEY raw = nullptr;
    LSTATUS s = RegOpenKeyExW(parent, sub.empty() ? nullptr : sub.c_str(), 0, KEY_READ, &raw);
    if (s != ERROR_SUCCESS) return s;
    KeyOwner key(raw);
    DWORD maxName = 0, maxValueName = 0, maxData = 0;
    s = RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, &maxName, nullptr, nullptr, &maxValueName,
                         &maxData, nullptr, nullptr);
    if (s != ERROR_SUCCESS) return s;
    Section section;
    section.path = path;
    std::vector<char16_t> name(std::max(maxValueName, maxName) + 2);
    std::vector<uint8_t> data(maxData + 1);
    for (DWORD index = 0;; ++index) {
        DWORD cch = static_cast<DWORD>(name.size()), size = static_cast<DWORD>(data.size()), type = 0;
        s = RegEnumValueW(key.get(), index, name.data(), &cch, nullptr, &type, data.data(), &size);
        if (s == ERROR_NO_MORE_ITEMS) break;
        if (s != ERROR_SUCCESS) return s;
        Value value;
        value.name.assign(name.data(), cch);
        value.type = type;
        value.data.assign(data.begin(), data.begin() + size);
        section.values.push_back(std::move(value));
    }
    std::sort(section.values.begin(), section.values.end(),
              [](const Value &a, const Value &b) { return LessNoCase(a.name, b.name); });
    out->sections.push_back(std::move(section));
    std::vector<std::u16string> children;
    for (DWORD index = 0;; ++index) {
        DWORD cch = static_cast<DWORD>(name.size());
        s = RegEnumKeyExW(key.get(), index, name.data(), &cch, nullptr, nullptr, nullptr, nullptr);
        if (s == ERROR_NO_MORE_ITEMS) break;
        if (s != ERROR_SUCCESS) return s;
        children.emplace_back(name.data(), cch);
    }
    std::sort(children.begin(), children.end(), LessNoCase);
    for (const auto &child : children) {
        s = ExportKey(key.get(), child, path + u"\\" + child, out);
        if (s != ERROR_SUCCESS) return s;
    }
    return ERROR_SUCCESS;
}

}  // namespace

std::u16string FromUtf8(const std::string &text) {
    std::u16string out;
    if (DecodeUtf8(text.data(), text.size(), &out)) return out;
    return FromAnsi(text.data(), text.size());
}

std::string ToUtf8(const std::u16string &text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t cp = text[i];
        if (cp >= 0xd800 && cp <= 0xdbff && i + 1 < text.size() && text[i + 1] >= 0xdc00 && text[i + 1] <= 0xdfff) {
            cp = 0x10000 + ((cp - 0xd800) << 10) + (text[i + 1] - 0xdc00);
            ++i;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xc0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3f)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xe0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3f)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3f)));
        } else {
            out.push_back(static_cast<char>(0xf0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3f)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3f)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3f)));
        }
    }
    return out;
}

bool Parse(const std::string &bytes, File *out, Error *error) {
    *out = File();
    if (error) *error = Error();
    Parser parser(out, error);
    return parser.Run(DecodeFile(bytes));
}

std::string Write(const File &file) {
    std::u16string text = file.version == Version::Version5 ? kHeader5 : kHeader4;
    text += u"\r\n\r\n";
    for (const Section &section : file.sections) {
        text += section.remove ? u"[-" : u"[";
        text += section.path;
        text += u"]\r\n";
        if (!section.remove)
            for (const Value &value : section.values) WriteValue(value, file.version, &text);
        text += u"\r\n";
    }
    std::string bytes;
    if (file.version == Version::Version5) {
        bytes.reserve(2 + text.size() * 2);
        bytes += "\xff\xfe";
        for (char16_t c : text) {
            bytes.push_back(static_cast<char>(c & 0xff));
            bytes.push_back(static_cast<char>(c >> 8));
        }
        return bytes;
    }
    // REGEDIT4: 8-bit text in the ANSI code page.
    return ToAnsi(text.data(), text.size());
}

bool SplitKeyPath(const std::u16string &path, HKEY *root, std::u16string *rootName, std::u16string *subkey) {
    size_t slash = path.find(u'\\');
    std::u16string_view head = std::u16string_view(path).substr(0, slash);
    for (const RootName &r : kRoots) {
        if (EqualNoCase(head, r.longName) || (r.shortName && EqualNoCase(head, r.shortName))) {
            *root = r.key;
            *rootName = r.longName;
            subkey->clear();
            if (slash != std::u16string::npos) subkey->assign(path, slash + 1, std::u16string::npos);
            while (!subkey->empty() && subkey->back() == u'\\') subkey->pop_back();
            return true;
        }
    }
    return false;
}

LSTATUS Apply(const File &file, Error *error) {
    for (const Section &section : file.sections) {
        HKEY root = nullptr;
        std::u16string rootName, sub;
        auto fail = [&](LSTATUS s, const char *what) {
            if (error) {
                error->line = section.line;
                error->message = std::string(what) + " (error " + std::to_string(s) + ")";
            }
            return s;
        };
        if (!SplitKeyPath(section.path, &root, &rootName, &sub)) return fail(ERROR_BAD_PATHNAME, "unknown root key");
        if (section.remove) {
            if (sub.empty()) return fail(ERROR_ACCESS_DENIED, "a root key cannot be deleted");
            LSTATUS s = RegDeleteTreeW(root, sub.c_str());
            if (s != ERROR_SUCCESS && s != ERROR_FILE_NOT_FOUND) return fail(s, "cannot delete the key");
            continue;
        }
        HKEY raw = nullptr;
        LSTATUS s = RegCreateKeyExW(root, sub.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &raw, nullptr);
        if (s != ERROR_SUCCESS) return fail(s, "cannot create the key");
        KeyOwner key(raw);
        for (const Value &value : section.values) {
            const char16_t *name = value.name.empty() ? nullptr : value.name.c_str();
            if (value.remove) {
                s = RegDeleteValueW(key.get(), name);
                if (s != ERROR_SUCCESS && s != ERROR_FILE_NOT_FOUND) return fail(s, "cannot delete the value");
                continue;
            }
            s = RegSetValueExW(key.get(), name, 0, value.type, value.data.empty() ? nullptr : value.data.data(),
                               static_cast<DWORD>(value.data.size()));
            if (s != ERROR_SUCCESS) return fail(s, "cannot set the value");
        }
    }
    return ERROR_SUCCESS;
}

LSTATUS Export(const std::u16string &path, Version version, File *out) {
    *out = File();
    out->version = version;
    HKEY root = nullptr;
    std::u16string rootName, sub;
    if (!SplitKeyPath(path, &root, &rootName, &sub)) return ERROR_BAD_PATHNAME;
    return ExportKey(root, sub, sub.empty() ? rootName : rootName + u"\\" + sub, out);
}

}  // namespace regfile
