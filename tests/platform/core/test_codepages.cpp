// MultiByteToWideChar / WideCharToMultiByte: code pages, lengths, buffers
// and the handling of text a page cannot represent.

#include "support.h"

#include <cstring>
#include <string>
#include <vector>

using comhost_test::NlsStateGuard;
using comhost_test::ToNarrow;
using comhost_test::ToWide;

namespace {

// Shift-JIS text "日本語テキスト" and its UTF-16 form.
const char kSjis[] = "\x93\xfa\x96\x7b\x8c\xea\x83\x65\x83\x4c\x83\x58\x83\x67";
const char16_t kSjisWide[] = u"\u65e5\u672c\u8a9e\u30c6\u30ad\u30b9\u30c8";

TEST(CodePage1252, EveryByteRoundTrips) {
    std::string all;
    for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
    std::u16string wide = ToWide(1252, all);
    ASSERT_EQ(wide.size(), all.size());
    EXPECT_EQ(wide[0x80 - 1], u'\u20ac');  // euro sign
    EXPECT_EQ(wide[0x9f - 1], u'\u0178');
    // The bytes the page leaves undefined map to the C1 controls.
    EXPECT_EQ(wide[0x81 - 1], u'\u0081');
    EXPECT_EQ(wide[0x9d - 1], u'\u009d');
    EXPECT_EQ(ToNarrow(1252, wide), all);
}

TEST(CodePage932, RoundTripsDoubleByteText) {
    EXPECT_EQ(ToWide(932, kSjis), kSjisWide);
    EXPECT_EQ(ToNarrow(932, kSjisWide), kSjis);
    // Half-width katakana are single bytes.
    EXPECT_EQ(ToWide(932, "\xb1"), u"\uff71");
    EXPECT_EQ(ToNarrow(932, u"\uff71"), "\xb1");
}

TEST(MultiByteToWideChar, MinusOneLengthCountsAndWritesTheTerminator) {
    WCHAR out[8];
    std::memset(out, 0xAA, sizeof(out));
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", -1, out, 8), 4);
    EXPECT_EQ(std::u16string(out), u"abc");
}

TEST(MultiByteToWideChar, ExplicitLengthWritesNoTerminator) {
    WCHAR out[8];
    std::memset(out, 0xAA, sizeof(out));
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "abcdef", 3, out, 8), 3);
    EXPECT_EQ(out[2], u'c');
    EXPECT_EQ(out[3], static_cast<WCHAR>(0xAAAA));
}

TEST(MultiByteToWideChar, SizeQueryWritesNothing) {
    EXPECT_EQ(MultiByteToWideChar(932, 0, kSjis, -1, nullptr, 0), 8);
    // Two bytes of a double-byte character make one code unit.
    EXPECT_EQ(MultiByteToWideChar(932, 0, kSjis, 4, nullptr, 0), 2);
}

TEST(MultiByteToWideChar, TooSmallBufferFailsWithInsufficientBuffer) {
    WCHAR out[3];
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", -1, out, 3), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    // Room for the characters but not for the terminator is still too small.
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", -1, out, 3), 0);
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", 3, out, 3), 3);
}

TEST(MultiByteToWideChar, RejectsInvalidArguments) {
    WCHAR out[4];
    const struct {
        UINT cp;
        LPCSTR src;
        int srcLen;
        LPWSTR dst;
        int dstLen;
    } cases[] = {
        {1252, "abc", 0, out, 4},         // empty input
        {1252, nullptr, -1, out, 4},      // no input
        {1252, "abc", -2, out, 4},        // bad length
        {1252, "abc", -1, out, -1},       // bad output size
        {1252, "abc", -1, nullptr, 4},    // size without buffer
        {12345, "abc", -1, out, 4},       // unknown code page
    };
    for (const auto &c : cases) {
        SetLastError(0);
        EXPECT_EQ(MultiByteToWideChar(c.cp, 0, c.src, c.srcLen, c.dst, c.dstLen), 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_PRECOMPOSED, "abc", -1, out, 4), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
}

TEST(MultiByteToWideChar, InvalidUtf8IsReplacedOrRejected) {
    // A truncated three-byte sequence is one ill-formed subsequence.
    EXPECT_EQ(ToWide(CP_UTF8, "x\xe2\x82y"), u"x\ufffdy");
    EXPECT_EQ(ToWide(CP_UTF8, "\xff\xfe"), u"\ufffd\ufffd");
    // Encoded surrogates are not UTF-8.
    EXPECT_EQ(ToWide(CP_UTF8, "\xed\xa0\x80"), u"\ufffd\ufffd\ufffd");

    WCHAR out[8];
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "x\xe2\x82y", -1, out, 8), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

TEST(MultiByteToWideChar, LoneLeadByteBeforeTerminator) {
    std::u16string wide = ToWide(932, "a\x82");
    ASSERT_EQ(wide.size(), 2u);
    EXPECT_EQ(wide[0], u'a');
    EXPECT_EQ(wide[1], u'\u30fb');  // the page's default character
    WCHAR out[4];
    EXPECT_EQ(MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, "a\x82", -1, out, 4), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

TEST(MultiByteToWideChar, SupplementaryCharactersBecomeSurrogatePairs) {
    EXPECT_EQ(ToWide(CP_UTF8, "\xf0\x9f\x98\x80"), u"\U0001F600");
    EXPECT_EQ(ToNarrow(CP_UTF8, u"\U0001F600"), "\xf0\x9f\x98\x80");
}

TEST(MultiByteToWideChar, LongTextCrossesInternalBuffers) {
    std::string narrow;
    std::u16string expected;
    for (int i = 0; i < 3000; ++i) {
        narrow += kSjis;
        narrow += 'x';
        expected += kSjisWide;
        expected += u'x';
    }
    EXPECT_EQ(MultiByteToWideChar(932, 0, narrow.data(), static_cast<int>(narrow.size()), nullptr, 0),
              static_cast<int>(expected.size()));
    EXPECT_EQ(ToWide(932, narrow), expected);
    EXPECT_EQ(ToNarrow(932, expected), narrow);
}

TEST(WideCharToMultiByte, UnrepresentableCharactersUseTheDefaultCharacter) {
    char out[8];
    BOOL used = FALSE;
    EXPECT_EQ(WideCharToMultiByte(1252, 0, u"a\u4e00b", -1, out, 8, nullptr, &used), 4);
    EXPECT_STREQ(out, "a?b");
    EXPECT_TRUE(used);

    used = TRUE;
    EXPECT_EQ(WideCharToMultiByte(1252, 0, u"ab", -1, out, 8, nullptr, &used), 3);
    EXPECT_FALSE(used);

    EXPECT_EQ(WideCharToMultiByte(1252, 0, u"a\u4e00b", -1, out, 8, "*", &used), 4);
    EXPECT_STREQ(out, "a*b");
}

TEST(WideCharToMultiByte, SizeQueryAndInsufficientBuffer) {
    EXPECT_EQ(WideCharToMultiByte(932, 0, kSjisWide, -1, nullptr, 0, nullptr, nullptr), 15);
    char out[14];
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(932, 0, kSjisWide, -1, out, 14, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(WideCharToMultiByte(932, 0, kSjisWide, 7, out, 14, nullptr, nullptr), 14);
}

TEST(WideCharToMultiByte, UnpairedSurrogatesInUtf8) {
    const char16_t lone[] = {u'a', 0xD800, u'b', 0};
    EXPECT_EQ(ToNarrow(CP_UTF8, lone), "a\xef\xbf\xbd" "b");
    char out[8];
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone, -1, out, 8, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

TEST(WideCharToMultiByte, Utf8RejectsDefaultCharacterArguments) {
    char out[8];
    BOOL used;
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"a", -1, out, 8, nullptr, &used), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"a", -1, out, 8, "?", nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(SystemCodePages, AnsiPageFollowsTheSystemSetting) {
    NlsStateGuard guard;
    ASSERT_TRUE(ComHostSetSystemCodePages(932, 0));
    EXPECT_EQ(GetACP(), 932u);
    EXPECT_EQ(GetOEMCP(), 932u);
    EXPECT_EQ(ToWide(CP_ACP, kSjis), kSjisWide);

    ASSERT_TRUE(ComHostSetSystemCodePages(1251, 0));
    EXPECT_EQ(GetOEMCP(), 866u);
    EXPECT_EQ(ToWide(CP_ACP, "\xc0"), u"\u0410");  // Cyrillic A

    EXPECT_FALSE(ComHostSetSystemCodePages(4711, 0));
    EXPECT_EQ(GetACP(), 1251u);
}

TEST(SystemCodePages, ThreadAnsiPageFollowsTheThreadLocale) {
    NlsStateGuard guard;
    ASSERT_TRUE(SetThreadLocale(MAKELCID(0x0411, SORT_DEFAULT)));
    EXPECT_EQ(ToWide(CP_THREAD_ACP, kSjis), kSjisWide);
    ASSERT_TRUE(SetThreadLocale(MAKELCID(0x0409, SORT_DEFAULT)));
    EXPECT_EQ(ToWide(CP_THREAD_ACP, "\x93\xfa"), u"\u201c\u00fa");
    // A Unicode-only locale has no ANSI page of its own: the system's applies.
    ASSERT_TRUE(ComHostSetSystemCodePages(932, 0));
    ASSERT_TRUE(SetThreadLocale(0x0439));
    EXPECT_EQ(ToWide(CP_THREAD_ACP, kSjis), kSjisWide);
}

TEST(SystemCodePages, CodePageInformation) {
    CPINFO info{};
    ASSERT_TRUE(GetCPInfo(932, &info));
    EXPECT_EQ(info.MaxCharSize, 2u);
    EXPECT_EQ(info.LeadByte[0], 0x81);
    EXPECT_EQ(info.LeadByte[1], 0x9F);
    EXPECT_EQ(info.LeadByte[2], 0xE0);
    EXPECT_EQ(info.LeadByte[3], 0xFC);
    EXPECT_EQ(info.LeadByte[4], 0);
    ASSERT_TRUE(GetCPInfo(1252, &info));
    EXPECT_EQ(info.MaxCharSize, 1u);
    EXPECT_EQ(info.LeadByte[0], 0);
    EXPECT_TRUE(IsValidCodePage(65001));
    EXPECT_FALSE(IsValidCodePage(CP_ACP));
    EXPECT_FALSE(IsValidCodePage(4711));
}

}  // namespace
