// The .reg text format: parsing, writing, export and import round trips.

#include "registry_test_util.h"
#include "regfile.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

using namespace regtest;

namespace {

std::string Utf16File(const std::u16string &text) {
    std::string bytes = "\xff\xfe";
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xff));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

std::vector<uint8_t> Bytes(const void *p, size_t n) {
    auto *b = static_cast<const uint8_t *>(p);
    return std::vector<uint8_t>(b, b + n);
}

const regfile::Value *FindValue(const regfile::Section &s, const std::u16string &name) {
    for (const auto &v : s.values)
        if (v.name == name) return &v;
    return nullptr;
}

TEST(RegFileParse, ValuesEscapesAndContinuations) {
    const char *text =
        "Windows Registry Editor Version 5.00\r\n"
        "\r\n"
        "; a comment\r\n"
        "[HKEY_CLASSES_ROOT\\CLSID\\{X}]\r\n"
        "@=\"Default \\\"quoted\\\" C:\\\\dir\\\\\"\r\n"
        "\"Name \\\"q\\\"\"=\"v\"\r\n"
        "\"Count\"=dword:0000002A\r\n"
        "\"Bin\"=hex:01,02,\\\r\n"
        "    ff,\\\r\n"
        "  10\r\n"
        "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
        "\"Q\"=hex(b):01,00,00,00,00,00,00,00\r\n"
        "\"Empty\"=hex:\r\n"
        "\"Gone\"=-\r\n"
        "@=-\r\n"
        "\r\n"
        "[-HKCU\\Software\\Old]\r\n"
        "\"ignored\"=\"x\"\r\n";
    regfile::File file;
    regfile::Error error;
    ASSERT_TRUE(regfile::Parse(Utf16File(std::u16string(text, text + std::strlen(text))), &file, &error))
        << error.line << ": " << error.message;
    EXPECT_EQ(regfile::Version::Version5, file.version);
    ASSERT_EQ(2u, file.sections.size());
    const auto &s = file.sections[0];
    EXPECT_EQ(u"HKEY_CLASSES_ROOT\\CLSID\\{X}", s.path);
    EXPECT_EQ(4u, s.line);
    ASSERT_EQ(9u, s.values.size());
    EXPECT_EQ(u"", s.values[0].name);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), s.values[0].type);
    const char16_t expected[] = u"Default \"quoted\" C:\\dir\\";
    EXPECT_EQ(Bytes(expected, sizeof(expected)), s.values[0].data);
    ASSERT_NE(nullptr, FindValue(s, u"Name \"q\""));
    EXPECT_EQ((std::vector<uint8_t>{0x2a, 0, 0, 0}), FindValue(s, u"Count")->data);
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 0xff, 0x10}), FindValue(s, u"Bin")->data);
    EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), FindValue(s, u"Multi")->type);
    EXPECT_EQ(static_cast<DWORD>(REG_QWORD), FindValue(s, u"Q")->type);
    EXPECT_TRUE(FindValue(s, u"Empty")->data.empty());
    EXPECT_TRUE(FindValue(s, u"Gone")->remove);
    EXPECT_TRUE(s.values[8].remove);
    EXPECT_EQ(u"", s.values[8].name);
    EXPECT_TRUE(file.sections[1].remove);
    EXPECT_EQ(u"HKCU\\Software\\Old", file.sections[1].path);
}

TEST(RegFileParse, Regedit4TextIsEightBit) {
    ASSERT_TRUE(ComHostSetSystemCodePages(932, 0));
    // hex(7) and hex(2) hold code-page bytes; the file itself is in the code page.
    const std::string text =
        "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\\x93\xfa\x96\x7b]\n"
        "\"\x96\x7b\"=\"\x95\x5c\"\n"
        "\"M\"=hex(7):41,00,95,5c,00,00\n"
        "\"E\"=hex(2):25,41,25,00\n";
    regfile::File file;
    regfile::Error error;
    ASSERT_TRUE(regfile::Parse(text, &file, &error)) << error.message;
    ComHostSetSystemCodePages(0, 0);
    EXPECT_EQ(regfile::Version::Regedit4, file.version);
    ASSERT_EQ(1u, file.sections.size());
    EXPECT_EQ(u"HKEY_CURRENT_USER\\Software\\\u65e5\u672c", file.sections[0].path);
    const auto &values = file.sections[0].values;
    EXPECT_EQ(u"\u672c", values[0].name);
    const char16_t multi[] = u"A\0\u8868\0";
    EXPECT_EQ(Bytes(multi, sizeof(multi)), values[1].data);
    const char16_t expand[] = u"%A%";
    EXPECT_EQ(Bytes(expand, sizeof(expand)), values[2].data);
}

TEST(RegFileParse, EncodingsAndLineEnds) {
    regfile::File file;
    regfile::Error error;
    // UTF-8 with and without a byte-order mark, LF line ends.
    const std::string utf8 = "Windows Registry Editor Version 5.00\n[HKCU\\Software\\\xc3\x84]\n@=\"\xe2\x82\xac\"\n";
    for (const std::string &bytes : {utf8, "\xef\xbb\xbf" + utf8}) {
        ASSERT_TRUE(regfile::Parse(bytes, &file, &error)) << error.message;
        ASSERT_EQ(1u, file.sections.size());
        EXPECT_EQ(u"HKCU\\Software\\\u00c4", file.sections[0].path);
        const char16_t euro[] = u"\u20ac";
        EXPECT_EQ(Bytes(euro, sizeof(euro)), file.sections[0].values[0].data);
    }
    // Not UTF-8: the ANSI code page (1252 here).
    ASSERT_TRUE(regfile::Parse("REGEDIT4\r\n[HKCU\\Software\\\xc4]\r\n", &file, &error));
    EXPECT_EQ(u"HKCU\\Software\\\u00c4", file.sections[0].path);
}

TEST(RegFileParse, ErrorsNameTheirLine) {
    struct Case {
        const char *text;
        size_t line;
    };
    const Case cases[] = {
        {"", 0},
        {"REGEDIT5\n", 1},
        {"REGEDIT4\n\"a\"=\"b\"\n", 2},
        {"REGEDIT4\n[HKCU\\X]\n\"a\"=\"unterminated\n", 3},
        {"REGEDIT4\n[HKCU\\X]\n\"a\"=hex:0g\n", 3},
        {"REGEDIT4\n[HKCU\\X]\n\"a\"=hex:123\n", 3},
        {"REGEDIT4\n[HKCU\\X]\n\"a\"=hex:01,,02\n", 3},
        {"REGEDIT4\n[HKCU\\X]\n\"a\"=dword:123456789\n", 3},
        {"REGEDIT4\n[HKCU\\X]\n\"a\"=dword:\n", 3},
        {"REGEDIT4\n[HKCU\\X]\n\"a\"=hex(zz):00\n", 3},
        {"REGEDIT4\n[HKCU\\X]\n\"a\"=\"b\" junk\n", 3},
        {"REGEDIT4\n[HKCU\\X]\n\"a\"\"b\"\n", 3},
        {"REGEDIT4\n[HKCU\\X\n", 2},
        {"REGEDIT4\n[]\n", 2},
        {"REGEDIT4\n\n\njunk\n", 4},
    };
    for (const Case &c : cases) {
        regfile::File file;
        regfile::Error error;
        EXPECT_FALSE(regfile::Parse(c.text, &file, &error)) << c.text;
        EXPECT_EQ(c.line, error.line) << c.text;
        EXPECT_FALSE(error.message.empty());
    }
}

// The fuzzer's seeds and the faults it found: each parses (or is refused)
// without harm, and what parses reads back the same after writing.
TEST(RegFileParse, CorpusRoundTrips) {
    int files = 0;
    for (const auto &entry : std::filesystem::directory_iterator(REG_FUZZ_CORPUS_DIR)) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ++files;
        regfile::File file, again;
        regfile::Error error;
        if (!regfile::Parse(bytes, &file, &error)) continue;
        file.version = regfile::Version::Version5;
        ASSERT_TRUE(regfile::Parse(regfile::Write(file), &again, &error)) << entry.path() << ": " << error.message;
        EXPECT_EQ(regfile::Write(file), regfile::Write(again)) << entry.path();
    }
    EXPECT_GE(files, 2);
}

using RegFileRegistry = RegistryTest;

// A tree with every kind of value, written through the registry.
void BuildTree() {
    Key k;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_CURRENT_USER, u"Software\\Tree\\b", k.put()));
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_CURRENT_USER, u"Software\\Tree\\C\\deeper", k.put()));
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_CURRENT_USER, u"Software\\Tree\\a\u65e5", k.put()));
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_CURRENT_USER, u"Software\\Tree", k.put()));
    auto set = [&](const char16_t *name, DWORD type, const void *data, size_t size) {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(k.get(), name, 0, type, static_cast<const BYTE *>(data),
                                                static_cast<DWORD>(size)));
    };
    const char16_t plain[] = u"C:\\Program Files\\\"x\" \u00e9\u65e5";
    set(u"zeta", REG_SZ, plain, sizeof(plain));
    set(nullptr, REG_SZ, u"default", 16);
    set(u"NoTerminator", REG_SZ, u"abc", 6);
    set(u"Embedded", REG_SZ, u"a\0b", 8);
    set(u"Odd", REG_SZ, "abc", 3);
    set(u"Expand", REG_EXPAND_SZ, u"%PATH%;x", 18);
    set(u"Multi", REG_MULTI_SZ, u"one\0two\0", 18);
    DWORD d = 0xdeadbeef;
    set(u"Dword", REG_DWORD, &d, 4);
    set(u"ShortDword", REG_DWORD, &d, 2);
    unsigned long long q = 0x0102030405060708ULL;
    set(u"Qword", REG_QWORD, &q, 8);
    std::vector<uint8_t> big(200);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7);
    set(u"Big", REG_BINARY, big.data(), big.size());
    set(u"None", REG_NONE, nullptr, 0);
    set(u"Custom", 0x1234, "\x01\x02", 2);
    set(u"Name \"with\" \\ quotes", REG_SZ, u"", 2);
}

std::string ExportBytes(const char16_t *path, regfile::Version version = regfile::Version::Version5) {
    regfile::File file;
    EXPECT_EQ(ERROR_SUCCESS, regfile::Export(path, version, &file));
    return regfile::Write(file);
}

TEST_F(RegFileRegistry, ExportIsSortedAndRoundTripsByteForByte) {
    BuildTree();
    std::string first = ExportBytes(u"HKCU\\Software\\Tree");

    regfile::File parsed;
    regfile::Error error;
    ASSERT_TRUE(regfile::Parse(first, &parsed, &error)) << error.line << ": " << error.message;
    ASSERT_EQ(5u, parsed.sections.size());
    EXPECT_EQ(u"HKEY_CURRENT_USER\\Software\\Tree", parsed.sections[0].path);
    EXPECT_EQ(u"HKEY_CURRENT_USER\\Software\\Tree\\a\u65e5", parsed.sections[1].path);
    EXPECT_EQ(u"HKEY_CURRENT_USER\\Software\\Tree\\b", parsed.sections[2].path);
    EXPECT_EQ(u"HKEY_CURRENT_USER\\Software\\Tree\\C", parsed.sections[3].path);
    EXPECT_EQ(u"HKEY_CURRENT_USER\\Software\\Tree\\C\\deeper", parsed.sections[4].path);
    const auto &values = parsed.sections[0].values;
    ASSERT_EQ(14u, values.size());
    EXPECT_EQ(u"", values[0].name);
    EXPECT_EQ(u"Big", values[1].name);
    EXPECT_EQ(u"zeta", values.back().name);

    ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Tree"));
    ASSERT_EQ(ERROR_SUCCESS, regfile::Apply(parsed, &error)) << error.message;
    EXPECT_EQ(first, ExportBytes(u"HKCU\\Software\\Tree"));

    // Byte-exact values, including those that are not plain strings.
    Key k;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Tree", 0, KEY_READ, k.put()));
    BYTE data[16];
    DWORD size = sizeof(data), type = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(k.get(), u"Odd", nullptr, &type, data, &size));
    EXPECT_EQ(3u, size);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    size = sizeof(data);
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(k.get(), u"ShortDword", nullptr, &type, data, &size));
    EXPECT_EQ(2u, size);
    size = sizeof(data);
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(k.get(), u"Custom", nullptr, &type, data, &size));
    EXPECT_EQ(0x1234u, type);

    // Long hex lists wrap within 80 columns.
    std::u16string text;
    for (size_t i = 2; i + 1 < first.size(); i += 2)
        text.push_back(static_cast<char16_t>(static_cast<uint8_t>(first[i]) | (static_cast<uint8_t>(first[i + 1]) << 8)));
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(u"\r\n", start);
        if (end == std::u16string::npos) break;
        EXPECT_LE(end - start, 80u);
        start = end + 2;
    }
    EXPECT_NE(std::u16string::npos, text.find(u"\"Big\"=hex:00,07,0e,"));
    EXPECT_NE(std::u16string::npos, text.find(u"\"Odd\"=hex(1):61,62,63\r\n"));
    EXPECT_NE(std::u16string::npos, text.find(u"\"Dword\"=dword:deadbeef\r\n"));
    EXPECT_NE(std::u16string::npos, text.find(u"\"Name \\\"with\\\" \\\\ quotes\"=\"\"\r\n"));
}

TEST_F(RegFileRegistry, Regedit4ExportRoundTrips) {
    Key k;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CLASSES_ROOT, "Prog.Id\\CLSID", k.put()));
    ASSERT_EQ(ERROR_SUCCESS, SetString(k.get(), nullptr, "{00000000-0000-0000-0000-000000000001}"));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(k.get(), "m", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE *>("a\0b\0"), 5));
    std::string first = ExportBytes(u"HKCR\\Prog.Id", regfile::Version::Regedit4);
    EXPECT_EQ(0u, first.find("REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\Prog.Id]\r\n\r\n[HKEY_CLASSES_ROOT\\Prog.Id\\CLSID]\r\n"));
    EXPECT_NE(std::string::npos, first.find("\"m\"=hex(7):61,00,62,00,00\r\n"));
    regfile::File parsed;
    regfile::Error error;
    ASSERT_TRUE(regfile::Parse(first, &parsed, &error)) << error.message;
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeA(HKEY_CLASSES_ROOT, "Prog.Id"));
    ASSERT_EQ(ERROR_SUCCESS, regfile::Apply(parsed, &error));
    EXPECT_EQ(first, ExportBytes(u"HKCR\\Prog.Id", regfile::Version::Regedit4));
}

TEST_F(RegFileRegistry, ImportDeletesKeysAndValues) {
    BuildTree();
    const char *text =
        "Windows Registry Editor Version 5.00\n"
        "[-HKEY_CURRENT_USER\\Software\\Tree\\C]\n"
        "[-HKEY_CURRENT_USER\\Software\\Missing]\n"
        "[hkcu\\software\\tree]\n"
        "\"zeta\"=-\n"
        "\"nosuch\"=-\n"
        "@=-\n"
        "\"New\"=\"value\"\n";
    regfile::File file;
    regfile::Error error;
    ASSERT_TRUE(regfile::Parse(text, &file, &error));
    ASSERT_EQ(ERROR_SUCCESS, regfile::Apply(file, &error)) << error.message;
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\Tree\\C"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\Tree\\b"));
    Key k;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Tree", 0, KEY_READ, k.put()));
    EXPECT_EQ("<missing>", StringOf(k.get(), "zeta"));
    EXPECT_EQ("<missing>", StringOf(k.get(), ""));
    EXPECT_EQ("value", StringOf(k.get(), "New"));

    // A failure names its section; a root cannot be deleted.
    ASSERT_TRUE(regfile::Parse("REGEDIT4\n[HKCU\\Software\\Tree]\n[-HKEY_CURRENT_USER]\n", &file, &error));
    EXPECT_EQ(ERROR_ACCESS_DENIED, regfile::Apply(file, &error));
    EXPECT_EQ(3u, error.line);
    ASSERT_TRUE(regfile::Parse("REGEDIT4\n[HKEY_NOWHERE\\X]\n", &file, &error));
    EXPECT_EQ(ERROR_BAD_PATHNAME, regfile::Apply(file, &error));
    // A protected key refuses the import.
    ASSERT_EQ(ERROR_SUCCESS, ComHostRegistryProtectKey(HKEY_CURRENT_USER, u"Software\\Tree", TRUE));
    ASSERT_TRUE(regfile::Parse("REGEDIT4\n[HKCU\\Software\\Tree]\n\"x\"=\"y\"\n", &file, &error));
    EXPECT_EQ(ERROR_ACCESS_DENIED, regfile::Apply(file, &error));
}

}  // namespace
