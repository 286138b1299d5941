// The registry file shared by processes: persistence, concurrent writers, and
// writers killed in the middle of a registration.

#include "registry_test_util.h"

#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <time.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

extern char **environ;

using namespace regtest;

namespace {

class Processes : public RegistryTest {
protected:
    // Starts the probe with the test's registry file; returns its pid.
    pid_t Spawn(const std::vector<std::string> &args) {
        std::vector<std::string> env;
        for (char **e = environ; *e; ++e)
            if (std::strncmp(*e, "COMHOST_REGISTRY=", 17) != 0) env.emplace_back(*e);
        env.push_back("COMHOST_REGISTRY=" + db());
        std::vector<char *> envp;
        for (auto &e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        std::vector<std::string> all{REGISTRY_PROBE_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char *> argv;
        for (auto &a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_t pid = -1;
        if (posix_spawn(&pid, REGISTRY_PROBE_PATH, nullptr, nullptr, argv.data(), envp.data()) != 0) return -1;
        return pid;
    }
    static int Wait(pid_t pid) {
        int status = 0;
        if (waitpid(pid, &status, 0) != pid) return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    // Checks item i of prefix: everything one call wrote is there or none of
    // it; returns whether the item exists.
    static bool CheckItem(const std::string &prefix, unsigned i) {
        std::string item = "Software\\Probe\\" + prefix + "\\Item" + std::to_string(i);
        if (!KeyExists(HKEY_CURRENT_USER, item.c_str())) return false;
        Key leaf;
        EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, (item + "\\A\\B\\C").c_str(), 0, KEY_READ, leaf.put()))
            << item << " exists without the levels created with it";
        if (!leaf) return true;
        unsigned char blob[8192];
        DWORD size = sizeof(blob);
        LSTATUS s = RegQueryValueExA(leaf.get(), "blob", nullptr, nullptr, blob, &size);
        if (s == ERROR_SUCCESS) {
            EXPECT_EQ(4096u, size) << item;
            for (DWORD b = 0; b < size; ++b) {
                if (blob[b] != (i & 0xff)) {
                    ADD_FAILURE() << item << ": byte " << b << " is " << int(blob[b]);
                    break;
                }
            }
        } else {
            EXPECT_EQ(ERROR_FILE_NOT_FOUND, s);
        }
        DWORD n = DwordOf(leaf.get(), "n");
        if (n != 0xffffffffu) {
            EXPECT_EQ(i, n) << item;
            EXPECT_EQ(ERROR_SUCCESS, s) << item << ": \"n\" is set after \"blob\"";
        }
        return true;
    }
};

TEST_F(Processes, WritesPersistAcrossProcesses) {
    Key k;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Probe\\Parent", k.put()));
    ASSERT_EQ(ERROR_SUCCESS, SetString(k.get(), "Greeting", "from the parent"));
    EXPECT_EQ(0, Wait(Spawn({"expect", "Software\\Probe\\Parent", "greeting", "from the parent"})));
    EXPECT_EQ(3, Wait(Spawn({"expect", "Software\\Probe\\Parent", "other", "x"})));
    ASSERT_EQ(0, Wait(Spawn({"write", "Child", "3"})));
    for (unsigned i = 0; i < 3; ++i) EXPECT_TRUE(CheckItem("Child", i));
    EXPECT_FALSE(CheckItem("Child", 3));
}

TEST_F(Processes, ForkedChildrenOpenTheirOwnConnection) {
    Key k;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Fork", k.put()));
    ASSERT_EQ(ERROR_SUCCESS, SetDword(k.get(), "parent", 1));
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // The inherited handle stays usable; the child writes while the parent does.
        bool ok = DwordOf(k.get(), "parent") < 50;
        for (DWORD i = 0; ok && i < 50; ++i) ok = SetDword(k.get(), "child", i) == ERROR_SUCCESS;
        _exit(ok ? 0 : 1);
    }
    int failures = 0;
    for (DWORD i = 0; i < 50; ++i) failures += SetDword(k.get(), "parent", i) != ERROR_SUCCESS;
    EXPECT_EQ(0, Wait(pid));
    EXPECT_EQ(0, failures);
    EXPECT_EQ(49u, DwordOf(k.get(), "child"));
    EXPECT_EQ(49u, DwordOf(k.get(), "parent"));
}

TEST_F(Processes, ConcurrentWritersLoseNothing) {
    const unsigned count = 150;
    pid_t a = Spawn({"write", "A", std::to_string(count)});
    pid_t b = Spawn({"write", "B", std::to_string(count)});
    // This process writes at the same time.
    int failures = 0;
    for (unsigned i = 0; i < count; ++i) {
        Key k;
        std::string path = "Software\\Probe\\Parent\\K" + std::to_string(i);
        if (RegCreateKeyA(HKEY_CURRENT_USER, path.c_str(), k.put()) != ERROR_SUCCESS ||
            SetDword(k.get(), "n", i) != ERROR_SUCCESS)
            ++failures;
    }
    EXPECT_EQ(0, failures);
    ASSERT_EQ(0, Wait(a));
    ASSERT_EQ(0, Wait(b));
    for (unsigned i = 0; i < count; ++i) {
        EXPECT_TRUE(CheckItem("A", i)) << i;
        EXPECT_TRUE(CheckItem("B", i)) << i;
    }
    Key parent;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Probe\\Parent", 0, KEY_READ, parent.put()));
    DWORD subkeys = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(parent.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                              nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(count, subkeys);
}

TEST_F(Processes, WritersKilledMidRegistrationLeaveWholeCalls) {
    std::mt19937 random(12345);
    for (int round = 0; round < 12; ++round) {
        std::string prefix = "K" + std::to_string(round);
        pid_t pid = Spawn({"loop", prefix});
        ASSERT_GT(pid, 0);
        // Once the writer is under way, let it run a little and kill it.
        std::string started = "Software\\Probe\\" + prefix;
        for (int wait = 0; wait < 2000 && !KeyExists(HKEY_CURRENT_USER, started.c_str()); ++wait) {
            struct timespec poll = {0, 5000000L};
            nanosleep(&poll, nullptr);
        }
        struct timespec pause = {0, static_cast<long>(random() % 40) * 1000000L};
        nanosleep(&pause, nullptr);
        kill(pid, SIGKILL);
        EXPECT_EQ(128 + SIGKILL, Wait(pid)) << "the writer stopped by itself";
    }

    sqlite3 *file = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open_v2(db().c_str(), &file, SQLITE_OPEN_READWRITE, nullptr));
    sqlite3_busy_timeout(file, 10000);
    sqlite3_stmt *stmt = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_prepare_v2(file, "PRAGMA integrity_check", -1, &stmt, nullptr));
    ASSERT_EQ(SQLITE_ROW, sqlite3_step(stmt));
    EXPECT_STREQ("ok", reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)));
    sqlite3_finalize(stmt);
    ASSERT_EQ(SQLITE_OK, sqlite3_prepare_v2(file, "PRAGMA foreign_key_check", -1, &stmt, nullptr));
    EXPECT_EQ(SQLITE_DONE, sqlite3_step(stmt)) << "a value or key without its parent";
    sqlite3_finalize(stmt);
    sqlite3_close(file);

    int registered = 0;
    for (int round = 0; round < 12; ++round) {
        std::string prefix = "K" + std::to_string(round);
        Key parent;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, ("Software\\Probe\\" + prefix).c_str(), 0, KEY_READ, parent.put()) !=
            ERROR_SUCCESS)
            continue;  // killed before its first call
        std::vector<unsigned> items;
        char name[64];
        for (DWORD index = 0;; ++index) {
            DWORD cch = sizeof(name);
            if (RegEnumKeyExA(parent.get(), index, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            ASSERT_EQ(0, std::strncmp(name, "Item", 4));
            items.push_back(static_cast<unsigned>(std::strtoul(name + 4, nullptr, 10)));
        }
        // Old items are deleted as new ones come: at most five remain.
        EXPECT_LE(items.size(), 6u) << prefix;
        for (unsigned i : items) {
            EXPECT_TRUE(CheckItem(prefix, i));
            ++registered;
        }
    }
    EXPECT_GT(registered, 0);
    // The registry stays usable.
    Key k;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Probe\\After", k.put()));
}

}  // namespace
