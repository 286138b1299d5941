// The registration script as the resource compiler takes it: the file must
// hold exactly the 26 lines the registrar runs, LF-terminated, indented by
// tabs, with no terminating zero.  A checkout that converts line ends or an
// editor that expands tabs shows up here.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "resource_reader.h"

namespace nuv::test {
namespace {

struct ScriptLine {
    int depth;  // leading tabs
    std::string_view text;
};

constexpr ScriptLine kScript[] = {
    {0, "HKCR"},
    {0, "{"},
    {1, "Orvane.ADOHelper.1 = s 'ADOHelper Class'"},
    {1, "{"},
    {2, "CLSID = s '{2C7ED2C0-3039-483d-85C9-3FF649F18385}'"},
    {1, "}"},
    {1, "Orvane.ADOHelper = s 'ADOHelper Class'"},
    {1, "{"},
    {2, "CLSID = s '{2C7ED2C0-3039-483d-85C9-3FF649F18385}'"},
    {2, "CurVer = s 'Orvane.ADOHelper.1'"},
    {1, "}"},
    {1, "NoRemove CLSID"},
    {1, "{"},
    {2, "{2C7ED2C0-3039-483d-85C9-3FF649F18385} = s 'ADOHelper Class'"},
    {2, "{"},
    {3, "ProgID = s 'Orvane.ADOHelper.1'"},
    {3, "VersionIndependentProgID = s 'Orvane.ADOHelper'"},
    {3, "ForceRemove 'Programmable'"},
    {3, "InprocServer32 = s '%RELATIVE_PATH%'"},
    {3, "{"},
    {4, "val ThreadingModel = s 'Apartment'"},
    {3, "}"},
    {3, "'TypeLib' = s '{1C8D13FE-5005-4D1E-9643-1BC8B349DCAE}'"},
    {2, "}"},
    {1, "}"},
    {0, "}"},
};

std::string ExpectedScript() {
    std::string text;
    for (const ScriptLine& line : kScript) {
        text.append(static_cast<std::size_t>(line.depth), '\t');
        text.append(line.text);
        text.push_back('\n');
    }
    return text;
}

// The script file split at LF; the part after the last LF (empty for a
// well-formed file) is the final element.
std::vector<std::string> SplitLines(const Bytes& bytes) {
    std::vector<std::string> lines(1);
    for (const std::uint8_t b : bytes) {
        if (b == '\n')
            lines.emplace_back();
        else
            lines.back().push_back(static_cast<char>(b));
    }
    return lines;
}

class ScriptFile : public ::testing::Test {
protected:
    void SetUp() override {
        auto bytes = ReadFileBytes(NUV_SCRIPT_PATH);
        ASSERT_TRUE(bytes) << "cannot read " << NUV_SCRIPT_PATH;
        bytes_ = std::move(*bytes);
    }
    Bytes bytes_;
};

TEST_F(ScriptFile, HasTwentySixLinesEndedByLineFeedsOnly) {
    EXPECT_EQ(std::count(bytes_.begin(), bytes_.end(), '\r'), 0) << "carriage return in the script";
    EXPECT_EQ(std::count(bytes_.begin(), bytes_.end(), '\0'), 0) << "zero byte in the script";
    ASSERT_FALSE(bytes_.empty());
    EXPECT_EQ(bytes_.back(), '\n') << "last line not terminated";
    EXPECT_EQ(std::count(bytes_.begin(), bytes_.end(), '\n'), 26);
}

TEST_F(ScriptFile, IsIndentedByOneTabPerBlockDepth) {
    const std::vector<std::string> lines = SplitLines(bytes_);
    int depth = 0;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        const std::string& line = lines[i];
        const std::size_t tabs = line.find_first_not_of('\t');
        ASSERT_NE(tabs, std::string::npos) << "line " << i + 1 << " is blank";
        EXPECT_NE(line[tabs], ' ') << "line " << i + 1 << " is indented with spaces";
        EXPECT_NE(line.back(), ' ') << "line " << i + 1 << " has trailing blanks";
        if (line.compare(tabs, std::string::npos, "}") == 0) --depth;
        EXPECT_EQ(static_cast<int>(tabs), depth) << "line " << i + 1 << ": " << line;
        if (line.compare(tabs, std::string::npos, "{") == 0) ++depth;
    }
    EXPECT_EQ(depth, 0) << "unbalanced braces";
}

TEST_F(ScriptFile, HoldsExactlyTheClassRegistration) {
    const std::string expected = ExpectedScript();
    const std::string actual(bytes_.begin(), bytes_.end());
    if (actual == expected) return;
    // Name the first line that differs.
    const Bytes expected_bytes(expected.begin(), expected.end());
    const std::vector<std::string> want = SplitLines(expected_bytes);
    const std::vector<std::string> got = SplitLines(bytes_);
    for (std::size_t i = 0; i < std::max(want.size(), got.size()); ++i) {
        const std::string w = i < want.size() ? want[i] : "<none>";
        const std::string g = i < got.size() ? got[i] : "<none>";
        if (w != g) {
            ADD_FAILURE() << "line " << i + 1 << " is\n  [" << g << "]\nexpected\n  [" << w << "]";
            return;
        }
    }
    ADD_FAILURE() << "script differs";
}

}  // namespace
}  // namespace nuv::test
