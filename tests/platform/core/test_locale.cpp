// Locales, the thread locale and version reporting.

#include "support.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

using comhost_test::NlsStateGuard;

namespace {

TEST(GetLocaleInfoA, DefaultAnsiCodePageOfCommonLocales) {
    const struct {
        LCID lcid;
        const char *page;
    } cases[] = {{0x0409, "1252"}, {0x0411, "932"}, {0x0804, "936"}, {0x0412, "949"},
                 {0x0404, "950"},  {0x0419, "1251"}, {0x0405, "1250"}, {0x0408, "1253"},
                 {0x041F, "1254"}, {0x040D, "1255"}, {0x0401, "1256"}, {0x0426, "1257"},
                 {0x042A, "1258"}, {0x041E, "874"},  {0x0407, "1252"}, {0x007F, "1252"}};
    for (const auto &c : cases) {
        char buffer[7] = {};
        int expected = static_cast<int>(std::strlen(c.page)) + 1;
        EXPECT_EQ(GetLocaleInfoA(c.lcid, LOCALE_IDEFAULTANSICODEPAGE, buffer, 7), expected) << std::hex << c.lcid;
        EXPECT_STREQ(buffer, c.page) << std::hex << c.lcid;
    }
}

TEST(GetLocaleInfoA, UnicodeOnlyLocalesHaveNoAnsiCodePage) {
    char buffer[7];
    EXPECT_EQ(GetLocaleInfoA(0x0439, LOCALE_IDEFAULTANSICODEPAGE, buffer, 7), 2);  // Hindi
    EXPECT_STREQ(buffer, "0");
    EXPECT_EQ(GetLocaleInfoA(0x0439, LOCALE_IDEFAULTCODEPAGE, buffer, 7), 2);
    EXPECT_STREQ(buffer, "1");
}

TEST(GetLocaleInfoA, SortIdentifierAndNeutralSublanguageAreAccepted) {
    char buffer[7];
    EXPECT_GT(GetLocaleInfoA(MAKELCID(0x0411, 1), LOCALE_IDEFAULTANSICODEPAGE, buffer, 7), 0);
    EXPECT_STREQ(buffer, "932");
    EXPECT_GT(GetLocaleInfoA(MAKELCID(MAKELANGID(LANG_JAPANESE, SUBLANG_NEUTRAL), 0), LOCALE_IDEFAULTANSICODEPAGE,
                             buffer, 7),
              0);
    EXPECT_STREQ(buffer, "932");
}

TEST(GetLocaleInfoA, BufferSizes) {
    EXPECT_EQ(GetLocaleInfoA(0x0409, LOCALE_SNAME, nullptr, 0), 6);
    char small[3];
    SetLastError(0);
    EXPECT_EQ(GetLocaleInfoA(0x0409, LOCALE_SNAME, small, 3), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    char exact[6];
    EXPECT_EQ(GetLocaleInfoA(0x0409, LOCALE_SNAME, exact, 6), 6);
    EXPECT_STREQ(exact, "en-US");
}

TEST(GetLocaleInfoA, ReturnNumber) {
    DWORD value = 0;
    EXPECT_EQ(GetLocaleInfoA(0x0411, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                             reinterpret_cast<LPSTR>(&value), sizeof(value)),
              static_cast<int>(sizeof(DWORD)));
    EXPECT_EQ(value, 932u);
    WCHAR wide[2];
    EXPECT_EQ(GetLocaleInfoW(0x0419, LOCALE_IDEFAULTCODEPAGE | LOCALE_RETURN_NUMBER, wide, 2), 2);
    std::memcpy(&value, wide, sizeof(value));
    EXPECT_EQ(value, 866u);
    // Text-only types have no number.
    EXPECT_EQ(GetLocaleInfoA(0x0409, LOCALE_SNAME | LOCALE_RETURN_NUMBER, reinterpret_cast<LPSTR>(&value), 4), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
}

TEST(GetLocaleInfoA, UnknownLocaleFails) {
    char buffer[7];
    SetLastError(0);
    EXPECT_EQ(GetLocaleInfoA(0x0BAD, LOCALE_IDEFAULTANSICODEPAGE, buffer, 7), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(GetLocaleInfoW, SeparatorsAreUtf16) {
    WCHAR buffer[4];
    EXPECT_EQ(GetLocaleInfoW(0x0407, LOCALE_SDECIMAL, buffer, 4), 2);
    EXPECT_EQ(buffer[0], u',');
    EXPECT_EQ(GetLocaleInfoW(0x040C, LOCALE_STHOUSAND, buffer, 4), 2);
    EXPECT_EQ(buffer[0], u'\u00a0');
    // The narrow form converts with the locale's own code page.
    char narrow[4];
    EXPECT_EQ(GetLocaleInfoA(0x040C, LOCALE_STHOUSAND, narrow, 4), 2);
    EXPECT_EQ(static_cast<unsigned char>(narrow[0]), 0xA0);
}

TEST(DefaultLocale, SpecialIdentifiersResolveToTheDefault) {
    NlsStateGuard guard;
    ASSERT_TRUE(ComHostSetDefaultLocale(0x0411));
    EXPECT_EQ(GetUserDefaultLCID(), 0x0411u);
    EXPECT_EQ(GetSystemDefaultLangID(), 0x0411);
    char buffer[7];
    EXPECT_GT(GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE, buffer, 7), 0);
    EXPECT_STREQ(buffer, "932");
    EXPECT_GT(GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE, buffer, 7), 0);
    EXPECT_STREQ(buffer, "932");
    EXPECT_FALSE(ComHostSetDefaultLocale(0x0BAD));
}

TEST(ThreadLocale, IsPerThread) {
    NlsStateGuard guard;
    ASSERT_TRUE(SetThreadLocale(0x0411));
    EXPECT_EQ(GetThreadLocale(), 0x0411u);
    LCID seenElsewhere = 0;
    BOOL setElsewhere = FALSE;
    std::thread other([&] {
        seenElsewhere = GetThreadLocale();
        setElsewhere = SetThreadLocale(0x0419);
    });
    other.join();
    EXPECT_EQ(seenElsewhere, GetUserDefaultLCID());
    EXPECT_TRUE(setElsewhere);
    EXPECT_EQ(GetThreadLocale(), 0x0411u);
}

TEST(ThreadLocale, UnknownLocaleIsRefused) {
    NlsStateGuard guard;
    LCID before = GetThreadLocale();
    SetLastError(0);
    EXPECT_FALSE(SetThreadLocale(0x0BAD));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(GetThreadLocale(), before);
}

TEST(Version, ReportsTheNtFamily) {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof(info);
    ASSERT_EQ(sizeof(info), 148u);
    ASSERT_TRUE(GetVersionExA(&info));
    EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
    EXPECT_GE(info.dwMajorVersion, 5u);
    OSVERSIONINFOEXA ex{};
    ex.dwOSVersionInfoSize = sizeof(ex);
    EXPECT_TRUE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&ex)));
    EXPECT_EQ(ex.dwMajorVersion, info.dwMajorVersion);
}

TEST(Version, WrongStructureSizeFails) {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = 100;
    SetLastError(0);
    EXPECT_FALSE(GetVersionExA(&info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST(Version, TestsCanReportAnotherPlatform) {
    NlsStateGuard guard;
    ComHostSetVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 10, 2222);
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof(info);
    ASSERT_TRUE(GetVersionExA(&info));
    EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_WINDOWS));
    EXPECT_EQ(info.dwMajorVersion, 4u);
    EXPECT_EQ(info.dwMinorVersion, 10u);
    EXPECT_EQ(GetVersion() & 0x80000000u, 0x80000000u);
    ComHostResetVersion();
    ASSERT_TRUE(GetVersionExA(&info));
    EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
    EXPECT_EQ(GetVersion() & 0x80000000u, 0u);

    // All zeros restore the default as well.
    ComHostSetVersion(VER_PLATFORM_WIN32_NT, 4, 0);
    ASSERT_TRUE(GetVersionExA(&info));
    EXPECT_EQ(info.dwMajorVersion, 4u);
    ComHostSetVersion(0, 0, 0);
    ASSERT_TRUE(GetVersionExA(&info));
    EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
    EXPECT_GE(info.dwMajorVersion, 5u);
}

}  // namespace

namespace {

// Runs the NLS probe with the given environment settings and returns what it
// prints: "<ACP> <OEMCP> <LCID>".
std::string ProbeWithEnvironment(const char *acp, const char *oemcp, const char *lcid) {
    std::string command = "env -u COMHOST_ACP -u COMHOST_OEMCP -u COMHOST_LCID";
    if (acp) command += std::string(" COMHOST_ACP=") + acp;
    if (oemcp) command += std::string(" COMHOST_OEMCP=") + oemcp;
    if (lcid) command += std::string(" COMHOST_LCID=") + lcid;
    command += " " NLS_PROBE_PATH;
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return "<no probe>";
    char line[64] = {};
    if (!std::fgets(line, sizeof(line), pipe)) line[0] = '\0';
    pclose(pipe);
    std::string text = line;
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

TEST(Environment, SystemCodePagesAndLocale) {
    EXPECT_EQ(ProbeWithEnvironment(nullptr, nullptr, nullptr), "1252 437 0409");
    EXPECT_EQ(ProbeWithEnvironment("932", nullptr, "0411"), "932 932 0411");
    EXPECT_EQ(ProbeWithEnvironment("1251", "855", "0x419"), "1251 855 0419");
    // Values the host layer does not know fall back to the defaults.
    EXPECT_EQ(ProbeWithEnvironment("4711", "x", "0bad"), "1252 437 0409");
}

}  // namespace
