// The replacement map, the replacement pass and the lexer: no registry.
#include "registry_fixture.h"

namespace nuv::test {
namespace {

struct Expansion {
    HRESULT hr;
    std::string text;
};

Expansion Expand(const CRegObject& registrar, const std::string& text) {
    CRegScriptParser parser(&registrar);
    LPSTR out = reinterpret_cast<LPSTR>(1);
    Expansion e{parser.ExpandReplacements(text.c_str(), &out), {}};
    if (SUCCEEDED(e.hr)) {
        e.text = out;
        CoTaskMemFree(out);
    } else {
        EXPECT_EQ(out, nullptr);
    }
    return e;
}

// ---------------------------------------------------------------- replacement map

TEST(ReplacementMap, FirstAddedWinsAndNamesIgnoreCase) {
    CRegObject registrar;
    ASSERT_EQ(registrar.SetReplacement(OLESTR("Relative_Path"), OLESTR("1")), S_OK);
    ASSERT_EQ(registrar.SetReplacement(OLESTR("RELATIVE_PATH"), OLESTR("2")), S_OK);
    EXPECT_EQ(registrar.Replacements().Count(), 2);
    EXPECT_EQ(registrar.Replacements().FindReplacement("relative_path"), 0);
    EXPECT_EQ(Expand(registrar, "x%RELATIVE_PATH%y").text, "x1y");
    EXPECT_EQ(registrar.Replacements().FindReplacement("other"), -1);
    EXPECT_EQ(registrar.ResetReplacements(), S_OK);
    EXPECT_EQ(registrar.Replacements().Count(), 0);
    EXPECT_EQ(registrar.SetReplacement(nullptr, OLESTR("v")), E_INVALIDARG);
    EXPECT_EQ(registrar.SetReplacement(OLESTR("n"), nullptr), E_INVALIDARG);
    // The IUnknown part counts nothing and answers no interface.
    void* pv = &registrar;
    EXPECT_EQ(registrar.QueryInterface(IID_IUnknown, &pv), E_NOTIMPL);
    EXPECT_EQ(pv, &registrar);
    EXPECT_EQ(registrar.AddRef(), 1u);
    EXPECT_EQ(registrar.Release(), 0u);
}

TEST(ReplacementMap, EveryAllocationFailureLeavesTheMapAsItWas) {
    CRegObject registrar;
    ASSERT_EQ(registrar.SetReplacement(OLESTR("A"), OLESTR("a")), S_OK);
    const int failures = AllocationSweep(
        [&] { return registrar.SetReplacement(OLESTR("B"), OLESTR("b")); },
        [&](LONG nth, HRESULT hr, bool failed) {
            if (!failed) {
                EXPECT_EQ(hr, S_OK);
                return;
            }
            EXPECT_EQ(hr, E_OUTOFMEMORY) << "allocation " << nth;
            EXPECT_EQ(registrar.Replacements().Count(), 1);
            EXPECT_EQ(Expand(registrar, "%A%").text, "a");
        });
    EXPECT_GE(failures, 4);   // name, value, two arrays
    EXPECT_EQ(Expand(registrar, "%A%%B%").text, "ab");
}

// ---------------------------------------------------------------- replacement pass

TEST(ReplacementPass, PercentSignsAndVariables) {
    CRegObject registrar;
    registrar.SetReplacement(OLESTR("V"), OLESTR("%OTHER%"));
    registrar.SetReplacement(OLESTR("EMPTY"), OLESTR(""));
    registrar.SetReplacement(OLESTR("with blank's"), OLESTR("ok"));
    EXPECT_EQ(Expand(registrar, "a %% b '%%' c").text, "a % b '%' c");
    // A value is inserted verbatim, never expanded again.
    EXPECT_EQ(Expand(registrar, "<%V%>").text, "<%OTHER%>");
    EXPECT_EQ(Expand(registrar, "<%EMPTY%>").text, "<>");
    EXPECT_EQ(Expand(registrar, "%with blank's%").text, "ok");
    EXPECT_EQ(Expand(registrar, "").text, "");
    EXPECT_EQ(Expand(registrar, "%UNKNOWN%").hr, DISP_E_EXCEPTION);
    EXPECT_EQ(Expand(registrar, "text %").hr, DISP_E_EXCEPTION);
    EXPECT_EQ(Expand(registrar, "%V").hr, DISP_E_EXCEPTION);

    CRegScriptParser parser(&registrar);
    LPSTR out = nullptr;
    EXPECT_EQ(parser.ExpandReplacements(nullptr, &out), E_POINTER);
    EXPECT_EQ(parser.ExpandReplacements("x", nullptr), E_POINTER);
}

TEST(ReplacementPass, NamesOfThirtyOneBytesAndNoMore) {
    CRegObject registrar;
    const std::string name31(31, 'N');
    const std::string name32(32, 'N');
    const std::u16string wide31(31, u'N');
    const std::u16string wide32(32, u'N');
    registrar.SetReplacement(reinterpret_cast<LPCOLESTR>(wide31.c_str()), OLESTR("31"));
    registrar.SetReplacement(reinterpret_cast<LPCOLESTR>(wide32.c_str()), OLESTR("32"));
    EXPECT_EQ(Expand(registrar, "%" + name31 + "%").text, "31");
    EXPECT_EQ(Expand(registrar, "%" + name32 + "%").hr, E_FAIL);
}

TEST(ReplacementPass, BufferSizesAndDoubling) {
    EXPECT_EQ(CExpansionBuffer::InitialSize(10), 1000);
    EXPECT_EQ(CExpansionBuffer::InitialSize(49), 1000);
    EXPECT_EQ(CExpansionBuffer::InitialSize(50), 100);
    EXPECT_EQ(CExpansionBuffer::InitialSize(200), 400);
    EXPECT_EQ(CExpansionBuffer::InitialSize(0x40000000), -1);

    CExpansionBuffer buffer;
    ASSERT_TRUE(buffer.Init(100));
    const std::string chunk(99, 'x');
    ASSERT_TRUE(buffer.Append(chunk.data(), 98));   // 99 needed, below 100
    EXPECT_EQ(buffer.Size(), 100);
    ASSERT_TRUE(buffer.Append("y", 1));              // 100 needed: doubled
    EXPECT_EQ(buffer.Size(), 200);
    ASSERT_TRUE(buffer.Append(chunk.data(), 99));    // 199 needed
    ASSERT_TRUE(buffer.Append(chunk.data(), 99));    // 298 needed: 400
    EXPECT_EQ(buffer.Size(), 400);
    EXPECT_EQ(buffer.Position(), 297);
    EXPECT_EQ(std::strlen(buffer.Text()), 297u);
    EXPECT_FALSE(buffer.Append(chunk.data(), 0x7FFFFFFF));
    EXPECT_EQ(buffer.Position(), 297);

    // The whole pass: a value that outgrows the first buffer several times.
    CRegObject registrar;
    const std::u16string big(5000, u'v');
    registrar.SetReplacement(OLESTR("BIG"), reinterpret_cast<LPCOLESTR>(big.c_str()));
    EXPECT_EQ(Expand(registrar, "<%BIG%><%BIG%>").text, "<" + std::string(5000, 'v') + "><" + std::string(5000, 'v') + ">");
}

TEST(ReplacementPass, EveryAllocationFailureGivesOutOfMemory) {
    CRegObject registrar;
    const std::u16string big(3000, u'v');
    registrar.SetReplacement(OLESTR("BIG"), reinterpret_cast<LPCOLESTR>(big.c_str()));
    CRegScriptParser parser(&registrar);
    LPSTR out = nullptr;
    const int failures = AllocationSweep(
        [&] { return parser.ExpandReplacements("%BIG% and %BIG%", &out); },
        [&](LONG nth, HRESULT hr, bool failed) {
            EXPECT_EQ(hr, failed ? E_OUTOFMEMORY : S_OK) << "allocation " << nth;
            EXPECT_EQ(out == nullptr, failed);
            CoTaskMemFree(out);
            out = nullptr;
        });
    // The buffer, its growth and the heap buffers of two conversions.
    EXPECT_GE(failures, 3);
}

TEST(ReplacementPass, DoubleByteTextUnderCodePage932) {
    CodePage932 cp;
    ASSERT_TRUE(cp.ok());
    CRegObject registrar;
    // U+8868 is 0x95 0x5C in code page 932: its trail byte is a backslash byte.
    registrar.SetReplacement(OLESTR("NAME"), u"\x8868");
    const std::string text = "\x81\x93 %NAME% \x95\x5C";
    const Expansion e = Expand(registrar, text);
    EXPECT_EQ(e.hr, S_OK);
    EXPECT_EQ(e.text, "\x81\x93 \x95\x5C \x95\x5C");
}

// ---------------------------------------------------------------- lexer

struct Tokens {
    HRESULT hr = S_OK;
    std::vector<std::string> tokens;
};

Tokens ReadAll(const std::string& text, int capacity = CRegScriptParser::kTokenCapacity) {
    CRegObject registrar;
    CRegScriptParser parser(&registrar);
    parser.SetCursor(text.c_str());
    Tokens t;
    std::vector<char> buffer(static_cast<size_t>(capacity));
    for (;;) {
        parser.SkipBlanks();
        if (*parser.Cursor() == 0)
            break;
        t.hr = parser.ReadToken(buffer.data(), capacity);
        if (FAILED(t.hr))
            break;
        t.tokens.emplace_back(buffer.data());
    }
    return t;
}

TEST(Lexer, QuotedAndBareTokens) {
    using V = std::vector<std::string>;
    EXPECT_EQ(ReadAll("a\tb\r\nc  d\n").tokens, (V{"a", "b", "c", "d"}));
    EXPECT_EQ(ReadAll("'it''s' '' 'a b {=}'").tokens, (V{"it's", "", "a b {=}"}));
    // The closing apostrophe ends the token; the letters after it are the next one.
    EXPECT_EQ(ReadAll("'abc'def").tokens, (V{"abc", "def"}));
    EXPECT_EQ(ReadAll("don't x=s{").tokens, (V{"don't", "x=s{"}));
    EXPECT_EQ(ReadAll("'open").hr, DISP_E_EXCEPTION);
    EXPECT_EQ(ReadAll("'open''").hr, DISP_E_EXCEPTION);
    // Only TAB, LF, CR and space are blanks.
    EXPECT_EQ(ReadAll("a\vb\fc").tokens, (V{"a\vb\fc"}));

    CRegObject registrar;
    CRegScriptParser parser(&registrar);
    char buffer[16];
    parser.SetCursor("   \n\t ");
    EXPECT_EQ(parser.ReadToken(buffer, sizeof(buffer)), DISP_E_EXCEPTION);
}

TEST(Lexer, LimitsInBytes) {
    EXPECT_EQ(ReadAll(std::string(4094, 't')).hr, S_OK);
    EXPECT_EQ(ReadAll(std::string(4095, 't')).hr, DISP_E_EXCEPTION);
    EXPECT_EQ(ReadAll("'" + std::string(4094, 't') + "'").hr, S_OK);
    EXPECT_EQ(ReadAll("'" + std::string(4095, 't') + "'").hr, DISP_E_EXCEPTION);
    EXPECT_EQ(ReadAll(std::string(258, 'v'), 260).hr, S_OK);
    EXPECT_EQ(ReadAll(std::string(259, 'v'), 260).hr, DISP_E_EXCEPTION);
}

TEST(Lexer, DoubleByteCharactersAreNeverSplit) {
    CodePage932 cp;
    ASSERT_TRUE(cp.ok());
    // 0x83 0x7B holds a "{" byte, 0x81 0x40 is the ideographic space: both
    // stay whole inside their tokens.
    Tokens t = ReadAll("'\x83\x7B\x95\x5C' \x81\x40\x81\x40");
    EXPECT_EQ(t.hr, S_OK);
    ASSERT_EQ(t.tokens.size(), 2u);
    EXPECT_EQ(t.tokens[0], "\x83\x7B\x95\x5C");
    EXPECT_EQ(t.tokens[1], "\x81\x40\x81\x40");
    // 4093 bytes and a double-byte character do not fit (4095 bytes).
    EXPECT_EQ(ReadAll(std::string(4092, 'x') + "\x82\xA0").hr, S_OK);
    EXPECT_EQ(ReadAll(std::string(4093, 'x') + "\x82\xA0").hr, DISP_E_EXCEPTION);
    // A lead byte at the very end is one character and the text ends there.
    t = ReadAll("ab\x82");
    EXPECT_EQ(t.hr, S_OK);
    ASSERT_EQ(t.tokens.size(), 1u);
    EXPECT_EQ(t.tokens[0], "ab\x82");
}

TEST(Lexer, HexDigitsProtectedNamesRootsAndTypes) {
    EXPECT_EQ(HexDigitValue('0'), 0);
    EXPECT_EQ(HexDigitValue('9'), 9);
    EXPECT_EQ(HexDigitValue('a'), 10);
    EXPECT_EQ(HexDigitValue('F'), 15);
    EXPECT_EQ(HexDigitValue('g'), 0);
    EXPECT_EQ(HexDigitValue('\x82'), 0);
    for (const char* name : {"AppID", "clsid", "Component Categories", "FILETYPE", "Interface", "Hardware",
                             "Mime", "SAM", "Security", "System", "SOFTWARE", "typelib"})
        EXPECT_TRUE(IsProtectedKeyName(name)) << name;
    EXPECT_FALSE(IsProtectedKeyName("CLSID2"));
    EXPECT_FALSE(IsProtectedKeyName("Programmable"));
    EXPECT_EQ(RootKeyFromName("hkey_classes_root"), HKEY_CLASSES_ROOT);
    EXPECT_EQ(RootKeyFromName("HKCR"), HKEY_CLASSES_ROOT);
    EXPECT_EQ(RootKeyFromName("HKDD"), HKEY_DYN_DATA);
    EXPECT_EQ(RootKeyFromName("HKCC"), HKEY_CURRENT_CONFIG);
    EXPECT_EQ(RootKeyFromName("HKCR\\CLSID"), nullptr);
    EXPECT_EQ(ValueTypeFromName("s"), static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(ValueTypeFromName("M"), static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(ValueTypeFromName("d"), static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(ValueTypeFromName("B"), static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(ValueTypeFromName("SZ"), 0u);
}

}  // namespace
}  // namespace nuv::test
