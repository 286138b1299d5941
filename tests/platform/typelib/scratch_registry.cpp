// Every test of this program works on a registry database of its own, never
// on the user's: a scratch file for the whole run (tests that need an empty
// registry switch to another file themselves).
#include <comhost/registry.h>
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <string>

namespace {

class ScratchRegistry : public ::testing::Environment {
public:
    void SetUp() override {
        char pattern[] = "/tmp/typelib_tests_XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        dir_ = pattern;
        const std::string db = dir_ + "/registry.db";
        ASSERT_EQ(0, setenv("COMHOST_REGISTRY", db.c_str(), 1));
        ASSERT_TRUE(ComHostRegistryUseFile(db.c_str()));
    }
    void TearDown() override {
        ComHostRegistryUseFile(nullptr);
        const std::string cmd = "rm -rf '" + dir_ + "'";
        if (system(cmd.c_str()) != 0) ADD_FAILURE() << "cannot remove " << dir_;
    }

private:
    std::string dir_;
};

::testing::Environment *const g_registry = ::testing::AddGlobalTestEnvironment(new ScratchRegistry);

}  // namespace
