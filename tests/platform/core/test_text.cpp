// Character stepping, DBCS lead bytes, lstr* and string comparison.

#include "support.h"

#include <cstring>

using comhost_test::NlsStateGuard;

namespace {

// "a", HIRAGANA A (0x82 0xA0), "b" in code page 932.
const char kMixed[] = "a\x82\xa0" "b";

TEST(CharNextA, StepsOverDoubleByteCharactersOfTheAnsiPage) {
    NlsStateGuard guard;
    ASSERT_TRUE(ComHostSetSystemCodePages(932, 0));
    const char *p = kMixed;
    p = CharNextA(p);
    EXPECT_EQ(p, kMixed + 1);
    p = CharNextA(p);
    EXPECT_EQ(p, kMixed + 3);
    p = CharNextA(p);
    EXPECT_EQ(p, kMixed + 4);
    // The terminator is not stepped over.
    EXPECT_EQ(CharNextA(p), p);
}

TEST(CharNextA, ATrailByteThatLooksLikeABackslashIsNotACharacter) {
    NlsStateGuard guard;
    ASSERT_TRUE(ComHostSetSystemCodePages(932, 0));
    // 0x95 0x5C is one character whose trail byte is the code of "\".
    const char text[] = "\x95\\x";
    EXPECT_EQ(CharNextA(text), text + 2);
}

TEST(CharNextA, LeadByteBeforeTheTerminatorIsOneCharacter) {
    NlsStateGuard guard;
    ASSERT_TRUE(ComHostSetSystemCodePages(932, 0));
    const char text[] = "\x82";
    EXPECT_EQ(CharNextA(text), text + 1);
}

TEST(CharNextA, SingleBytePageStepsByteByByte) {
    NlsStateGuard guard;
    ASSERT_TRUE(ComHostSetSystemCodePages(1252, 0));
    EXPECT_EQ(CharNextA(kMixed + 1), kMixed + 2);
    EXPECT_FALSE(IsDBCSLeadByte(0x82));
}

TEST(CharPrevA, FindsTheStartOfTheCharacterBefore) {
    NlsStateGuard guard;
    ASSERT_TRUE(ComHostSetSystemCodePages(932, 0));
    EXPECT_EQ(CharPrevA(kMixed, kMixed + 4), kMixed + 3);
    EXPECT_EQ(CharPrevA(kMixed, kMixed + 3), kMixed + 1);
    EXPECT_EQ(CharPrevA(kMixed, kMixed + 1), kMixed);
    EXPECT_EQ(CharPrevA(kMixed, kMixed), kMixed);
}

TEST(IsDBCSLeadByte, FollowsTheCodePage) {
    NlsStateGuard guard;
    ASSERT_TRUE(ComHostSetSystemCodePages(932, 0));
    EXPECT_TRUE(IsDBCSLeadByte(0x81));
    EXPECT_TRUE(IsDBCSLeadByte(0xE0));
    EXPECT_FALSE(IsDBCSLeadByte(0xA0));  // half-width katakana range
    EXPECT_FALSE(IsDBCSLeadByte('\\'));
    EXPECT_TRUE(IsDBCSLeadByteEx(936, 0xA0));
    EXPECT_FALSE(IsDBCSLeadByteEx(1252, 0x81));
    EXPECT_TRUE(IsDBCSLeadByteEx(CP_ACP, 0x9F));
}

TEST(lstrcmpiA, IgnoresCaseOfAsciiAndLatinLetters) {
    NlsStateGuard guard;
    ASSERT_TRUE(ComHostSetSystemCodePages(1252, 0));
    EXPECT_EQ(lstrcmpiA("HKEY_CLASSES_ROOT", "hkey_classes_root"), 0);
    EXPECT_EQ(lstrcmpiA("ForceRemove", "FORCEREMOVE"), 0);
    EXPECT_EQ(lstrcmpiA("\xc9t\xe9", "\xe9T\xc9"), 0);  // "Été" / "éTÉ"
    EXPECT_LT(lstrcmpiA("abc", "ABD"), 0);
    EXPECT_GT(lstrcmpiA("abd", "ABC"), 0);
    EXPECT_LT(lstrcmpiA("ab", "abc"), 0);
    EXPECT_EQ(lstrcmpiA(nullptr, ""), 0);
}

TEST(lstrcmpA, CaseDecidesOnlyBetweenOtherwiseEqualStrings) {
    EXPECT_LT(lstrcmpA("a", "B"), 0);
    EXPECT_LT(lstrcmpA("abc", "ABC"), 0);
    EXPECT_GT(lstrcmpA("ABC", "abc"), 0);
    EXPECT_EQ(lstrcmpA("abc", "abc"), 0);
}

TEST(CompareStringW, CountedAndTerminatedStrings) {
    EXPECT_EQ(CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, u"abcdef", 3, u"ABC", -1), CSTR_EQUAL);
    EXPECT_EQ(CompareStringW(LOCALE_USER_DEFAULT, 0, u"abc", -1, u"abd", -1), CSTR_LESS_THAN);
    EXPECT_EQ(CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, u"\u0436", -1, u"\u0416", -1), CSTR_EQUAL);
    SetLastError(0);
    EXPECT_EQ(CompareStringW(LOCALE_USER_DEFAULT, 0, nullptr, -1, u"a", -1), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(lstrHelpers, LengthsCopiesAndNulls) {
    EXPECT_EQ(lstrlenA(nullptr), 0);
    EXPECT_EQ(lstrlenA("abc"), 3);
    EXPECT_EQ(lstrlenW(u"abcd"), 4);
    EXPECT_EQ(lstrlenW(nullptr), 0);

    char buffer[4];
    std::memset(buffer, 'x', sizeof(buffer));
    EXPECT_EQ(lstrcpynA(buffer, "abcdef", 4), buffer);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(lstrcpynA(buffer, "ab", 4), buffer);
    EXPECT_STREQ(buffer, "ab");

    WCHAR wide[8] = u"ab";
    lstrcatW(wide, u"cd");
    EXPECT_EQ(std::u16string(wide), u"abcd");
}

TEST(CharNextW, SurrogatePairIsOneCharacter) {
    const WCHAR text[] = u"a\U0001F600b";
    EXPECT_EQ(CharNextW(text), text + 1);
    EXPECT_EQ(CharNextW(text + 1), text + 3);
    EXPECT_EQ(CharPrevW(text, text + 3), text + 1);
}

}  // namespace
