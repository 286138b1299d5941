// The reg tool, run as a separate process on the test's registry file.

#include "registry_test_util.h"

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

using namespace regtest;

namespace {

class RegTool : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        setenv("COMHOST_REGISTRY", db().c_str(), 1);
    }
    void TearDown() override {
        unsetenv("COMHOST_REGISTRY");
        RegistryTest::TearDown();
    }
    // Runs reg with the arguments (a shell command line) and the input;
    // returns the exit status and standard output (standard error appended).
    int Reg(const std::string &args, std::string *output, const char *input = "") {
        std::string command = "printf '" + std::string(input) + "' | '" REG_TOOL_PATH "' " + args + " 2>&1";
        FILE *pipe = popen(command.c_str(), "r");
        if (!pipe) return -1;
        output->clear();
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) output->append(buffer, n);
        int status = pclose(pipe);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

const char kDone[] = "The operation completed successfully.\n";

TEST_F(RegTool, AddQueryAndDelete) {
    std::string out;
    ASSERT_EQ(0, Reg("add 'HKCR\\My.Prog.1\\CLSID' /ve /d '{ABC}'", &out)) << out;
    EXPECT_EQ(kDone, out);
    ASSERT_EQ(0, Reg("add 'HKLM\\SOFTWARE\\Classes\\My.Prog.1' /v Count /t REG_DWORD /d 42 /f", &out)) << out;
    ASSERT_EQ(0, Reg("add 'HKEY_CLASSES_ROOT\\My.Prog.1' /v Multi /t REG_MULTI_SZ /d 'a,b' /s , /f", &out)) << out;
    ASSERT_EQ(0, Reg("add 'HKCR\\My.Prog.1' /v Bin /t REG_BINARY /d 00ff10", &out)) << out;
    ASSERT_EQ(0, Reg("query 'HKCR\\my.prog.1'", &out)) << out;
    EXPECT_EQ("\nHKEY_CLASSES_ROOT\\my.prog.1\n"
              "    Bin    REG_BINARY    00FF10\n"
              "    Count    REG_DWORD    0x2a\n"
              "    Multi    REG_MULTI_SZ    a\\0b\n"
              "\n"
              "HKEY_CLASSES_ROOT\\my.prog.1\\CLSID\n",
              out);
    ASSERT_EQ(0, Reg("query 'HKCR\\My.Prog.1' /s", &out)) << out;
    EXPECT_NE(std::string::npos, out.find("HKEY_CLASSES_ROOT\\My.Prog.1\\CLSID\n    (Default)    REG_SZ    {ABC}\n"));
    ASSERT_EQ(0, Reg("query 'HKCR\\My.Prog.1' /v count", &out)) << out;
    EXPECT_EQ("\nHKEY_CLASSES_ROOT\\My.Prog.1\n    Count    REG_DWORD    0x2a\n\n", out);
    EXPECT_EQ(1, Reg("query 'HKCR\\My.Prog.1' /v Nope", &out));
    EXPECT_EQ("ERROR: The system was unable to find the specified registry key or value.\n", out);
    EXPECT_EQ(1, Reg("query 'HKXX\\Nope'", &out));
    EXPECT_EQ(1, Reg("frobnicate", &out));

    // Existing values and keys are replaced or removed only when confirmed.
    ASSERT_EQ(0, Reg("add 'HKCR\\My.Prog.1' /v Count /t REG_DWORD /d 7", &out, "n\\n"));
    EXPECT_NE(std::string::npos, out.find("canceled"));
    Key k;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CLASSES_ROOT, "My.Prog.1", 0, KEY_READ, k.put()));
    EXPECT_EQ(42u, DwordOf(k.get(), "Count"));
    ASSERT_EQ(0, Reg("add 'HKCR\\My.Prog.1' /v Count /t REG_DWORD /d 0x7", &out, "yes\\n"));
    EXPECT_EQ(7u, DwordOf(k.get(), "Count"));
    ASSERT_EQ(0, Reg("delete 'HKCR\\My.Prog.1' /v Count /f", &out)) << out;
    EXPECT_EQ(0xffffffffu, DwordOf(k.get(), "Count"));
    EXPECT_EQ(1, Reg("delete 'HKCR\\My.Prog.1' /v Count /f", &out));
    ASSERT_EQ(0, Reg("delete 'HKCR\\My.Prog.1'", &out, "n\\n"));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "My.Prog.1\\CLSID"));
    ASSERT_EQ(0, Reg("delete 'HKCR\\My.Prog.1' /f", &out)) << out;
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "My.Prog.1"));
    // The handle of this process sees the deletion by the other one.
    DWORD size = 0;
    EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExA(k.get(), "Multi", nullptr, nullptr, nullptr, &size));
}

TEST_F(RegTool, ExportImportAndProtect) {
    std::string out;
    ASSERT_EQ(0, Reg("add 'HKCU\\Software\\T\\Sub' /v 'Path' /d 'C:\\dir \"q\"'", &out)) << out;
    ASSERT_EQ(0, Reg("add 'HKCU\\Software\\T' /v N /t REG_QWORD /d 0x100000000", &out)) << out;
    std::string file = dir_.file("t.reg");
    ASSERT_EQ(0, Reg("export 'HKCU\\Software\\T' '" + file + "'", &out)) << out;
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(std::string("\xff\xfeW\0", 4), bytes.substr(0, 4));
    // Asks before replacing the file.
    ASSERT_EQ(0, Reg("export 'HKCU\\Software\\T' '" + file + "'", &out, "no\\n"));
    EXPECT_NE(std::string::npos, out.find("Overwrite"));

    ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\T"));
    ASSERT_EQ(0, Reg("import '" + file + "'", &out)) << out;
    std::string again = dir_.file("again.reg");
    ASSERT_EQ(0, Reg("export 'HKCU\\Software\\T' '" + again + "' /y", &out)) << out;
    std::ifstream in2(again, std::ios::binary);
    std::string bytes2((std::istreambuf_iterator<char>(in2)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, bytes2);
    ASSERT_EQ(0, Reg("query 'HKCU\\Software\\T' /v N", &out));
    EXPECT_NE(std::string::npos, out.find("N    REG_QWORD    0x100000000"));

    ASSERT_EQ(0, Reg("protect 'HKCU\\Software\\T'", &out)) << out;
    EXPECT_EQ(1, Reg("add 'HKCU\\Software\\T' /v x /d y", &out));
    EXPECT_EQ("ERROR: Access is denied.\n", out);
    EXPECT_EQ(1, Reg("import '" + file + "'", &out));
    ASSERT_EQ(0, Reg("unprotect 'HKCU\\Software\\T'", &out)) << out;
    EXPECT_EQ(0, Reg("add 'HKCU\\Software\\T' /v x /d y", &out)) << out;

    std::string bad = dir_.file("bad.reg");
    std::ofstream(bad) << "REGEDIT4\n[HKCU\\Software\\T]\n\"x\"=hex:zz\n";
    EXPECT_EQ(1, Reg("import '" + bad + "'", &out));
    EXPECT_NE(std::string::npos, out.find(":3: ")) << out;
}

}  // namespace
