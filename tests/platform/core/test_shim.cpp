// The DllMain shim: the load notifications of a library built like the
// product arrive after its static objects are constructed and before they
// are destroyed, with the library's load address, for every way the
// library is loaded and unloaded.  Also the shim's heap routing.

#include "support.h"

#include <dlfcn.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

using comhost_test::NlsStateGuard;

namespace {

struct Event {
    std::string name;
    std::string value;
};

// Points COMHOST_SHIM_LOG at a fresh file for one test.
class ShimLog {
public:
    ShimLog() {
        char path[] = "/tmp/comhost-shim-log-XXXXXX";
        int fd = mkstemp(path);
        if (fd >= 0) close(fd);
        path_ = path;
        setenv("COMHOST_SHIM_LOG", path_.c_str(), 1);
    }
    ~ShimLog() {
        unsetenv("COMHOST_SHIM_LOG");
        unsetenv("COMHOST_SHIM_REFUSE");
        unlink(path_.c_str());
    }
    ShimLog(const ShimLog &) = delete;
    ShimLog &operator=(const ShimLog &) = delete;

    std::vector<Event> Read() const {
        std::ifstream in(path_);
        std::vector<Event> events;
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            Event e;
            fields >> e.name >> e.value;
            events.push_back(e);
        }
        return events;
    }

    static std::string Names(const std::vector<Event> &events) {
        std::string names;
        for (const Event &e : events) names += (names.empty() ? "" : ",") + e.name;
        return names;
    }

private:
    std::string path_;
};

std::string PointerText(const void *p) {
    char text[32];
    std::snprintf(text, sizeof(text), "%p", p);
    return text;
}

int RunProgram(const std::vector<std::string> &args) {
    std::vector<char *> argv;
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

const char kFullLifetime[] = "construct,attach-alive,imagebase,detach-alive,destroy";

TEST(DllMainShim, PlainDlopenAndDlclose) {
    ShimLog log;
    void *handle = dlopen(SHIM_PROBE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    HMODULE module = GetModuleHandleA(SHIM_PROBE_PATH);
    ASSERT_NE(module, nullptr);
    // A thread started and ended while the library is loaded is not
    // announced to it.
    std::thread([] {}).join();
    ASSERT_EQ(dlclose(handle), 0);

    std::vector<Event> events = log.Read();
    ASSERT_EQ(ShimLog::Names(events), kFullLifetime);
    // The instance handle is the library's load address, as its own
    // __ImageBase and GetModuleHandle see it.
    EXPECT_EQ(events[1].value, PointerText(module));
    EXPECT_EQ(events[2].value, PointerText(module));
    EXPECT_EQ(events[3].value, PointerText(module));
}

TEST(DllMainShim, LoadLibraryAndFreeLibrary) {
    ShimLog log;
    HMODULE module = LoadLibraryA(SHIM_PROBE_PATH);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(ShimLog::Names(log.Read()), "construct,attach-alive,imagebase");
    ASSERT_TRUE(FreeLibrary(module));
    EXPECT_EQ(ShimLog::Names(log.Read()), kFullLifetime);
}

TEST(DllMainShim, ProcessExitWithTheLibraryStillLoaded) {
    ShimLog log;
    ASSERT_EQ(RunProgram({SHIM_LOADER_PATH, SHIM_PROBE_PATH}), 0);
    EXPECT_EQ(ShimLog::Names(log.Read()), kFullLifetime);
}

TEST(DllMainShim, LibraryLoadedWithTheProgram) {
    ShimLog log;
    ASSERT_EQ(RunProgram({SHIM_NEEDED_PATH}), 0);
    EXPECT_EQ(ShimLog::Names(log.Read()), kFullLifetime);
}

TEST(DllMainShim, RefusedAttachFailsLoadLibrary) {
    ShimLog log;
    setenv("COMHOST_SHIM_REFUSE", "1", 1);
    SetLastError(0);
    EXPECT_EQ(LoadLibraryA(SHIM_PROBE_PATH), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DLL_INIT_FAILED));
    // The detach follows the refused attach, and the library is gone again.
    EXPECT_EQ(ShimLog::Names(log.Read()), kFullLifetime);
    void *still = dlopen(SHIM_PROBE_PATH, RTLD_NOW | RTLD_NOLOAD);
    EXPECT_EQ(still, nullptr);
    if (still) dlclose(still);
}

TEST(DllMainShim, LibraryHeapHonoursInjectedFailures) {
    NlsStateGuard guard;
    void *handle = dlopen(SHIM_PROBE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr);
    auto succeeds = reinterpret_cast<int (*)()>(dlsym(handle, "ProbeNothrowNewSucceeds"));
    ASSERT_NE(succeeds, nullptr);
    EXPECT_EQ(succeeds(), 1);
    ComHostFailAllocation(1);
    EXPECT_EQ(succeeds(), 0);
    EXPECT_EQ(succeeds(), 1);

    // The library's operator new is its own: it does not export it.
    void *exported = dlsym(handle, "_Znwm");
    if (exported) {
        Dl_info info{};
        ASSERT_NE(dladdr(exported, &info), 0);
        EXPECT_EQ(std::string(info.dli_fname).find("comhost_shim_probe"), std::string::npos) << info.dli_fname;
    }
    dlclose(handle);
}

}  // namespace
