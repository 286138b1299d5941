// regsvr as a separate process against a scratch registry: success both
// ways, silence, and the exit statuses of the failures.

#include "com_support.h"
#include "test_server.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

extern char **environ;

namespace {

struct Outcome {
    int status = -1;
    std::string output;  // stdout and stderr together
};

// Runs regsvr with `args` and extra environment entries NAME=VALUE.
Outcome Regsvr(const std::string &registry, std::vector<std::string> args, std::vector<std::string> env = {}) {
    Outcome outcome;
    const std::string outputFile = registry + ".out";
    std::vector<std::string> environment;
    for (char **e = environ; *e; ++e) environment.emplace_back(*e);
    environment.push_back("COMHOST_REGISTRY=" + registry);
    for (const std::string &entry : env) environment.push_back(entry);
    args.insert(args.begin(), REGSVR_PATH);
    std::vector<char *> argv, envp;
    for (std::string &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (std::string &e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid;
    if (posix_spawn(&pid, REGSVR_PATH, &actions, nullptr, argv.data(), envp.data()) == 0) {
        int status = 0;
        if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) outcome.status = WEXITSTATUS(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    std::ifstream in(outputFile);
    outcome.output.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return outcome;
}

bool Contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

using RegsvrTool = com_test::ScratchRegistry;

TEST_F(RegsvrTool, RegistersAndUnregisters) {
    Outcome out = Regsvr(registryFile(), {TEST_SERVER_PATH});
    EXPECT_EQ(out.status, 0) << out.output;
    EXPECT_TRUE(Contains(out.output, "DllRegisterServer in ")) << out.output;
    EXPECT_TRUE(Contains(out.output, " succeeded.")) << out.output;
    // The other process wrote this process's registry file.
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(u"ComHost.TestServer.1", &clsid), S_OK);
    EXPECT_EQ(std::memcmp(&clsid, &kClsidTestServer, sizeof(CLSID)), 0);

    out = Regsvr(registryFile(), {"-u", "-s", TEST_SERVER_PATH});
    EXPECT_EQ(out.status, 0);
    EXPECT_EQ(out.output, "");
    EXPECT_EQ(CLSIDFromProgID(u"ComHost.TestServer.1", &clsid), CO_E_CLASSSTRING);

    out = Regsvr(registryFile(), {"/u", TEST_SERVER_PATH});
    EXPECT_EQ(out.status, 0) << out.output;
    EXPECT_TRUE(Contains(out.output, "DllUnregisterServer in ")) << out.output;
}

TEST_F(RegsvrTool, Failures) {
    // The entry point fails: its result in hex with the system's message.
    Outcome out = Regsvr(registryFile(), {TEST_SERVER_PATH}, {"TEST_SERVER_REGISTER_RESULT=80070005"});
    EXPECT_EQ(out.status, 5) << out.output;
    EXPECT_TRUE(Contains(out.output, "0x80070005: Access is denied.")) << out.output;
    out = Regsvr(registryFile(), {"-s", TEST_SERVER_PATH}, {"TEST_SERVER_REGISTER_RESULT=80004005"});
    EXPECT_EQ(out.status, 5);
    EXPECT_EQ(out.output, "");

    // No such entry point.
    out = Regsvr(registryFile(), {TEST_SERVER_NOREG_PATH});
    EXPECT_EQ(out.status, 4) << out.output;
    EXPECT_TRUE(Contains(out.output, "entry-point DllRegisterServer was not found")) << out.output;
    out = Regsvr(registryFile(), {"-u", TEST_SERVER_NOREG_PATH});
    EXPECT_EQ(out.status, 4) << out.output;

    // Libraries that cannot be loaded: missing, not a library, a Windows DLL.
    out = Regsvr(registryFile(), {dir() + "/missing.so"});
    EXPECT_EQ(out.status, 3) << out.output;
    EXPECT_TRUE(Contains(out.output, "0x8007007E: The specified module could not be found.")) << out.output;
    const std::string text = dir() + "/text.so";
    std::ofstream(text) << "not a library\n";
    out = Regsvr(registryFile(), {text});
    EXPECT_EQ(out.status, 3) << out.output;
    EXPECT_TRUE(Contains(out.output, "0x800700C1")) << out.output;
    out = Regsvr(registryFile(), {PE_LIBRARY_PATH});
    EXPECT_EQ(out.status, 3) << out.output;
    EXPECT_TRUE(Contains(out.output, "Windows (PE) library; it cannot be loaded on Linux")) << out.output;

    // Bad arguments.
    EXPECT_EQ(Regsvr(registryFile(), {}).status, 1);
    EXPECT_EQ(Regsvr(registryFile(), {"-x", TEST_SERVER_PATH}).status, 1);
    EXPECT_EQ(Regsvr(registryFile(), {TEST_SERVER_PATH, TEST_SERVER_PATH}).status, 1);
}

}  // namespace
