#include "frame_environment.h"

namespace {

// Attaches the library before the first test and detaches it after the last.
class AttachedLibrary : public ::testing::Environment {
public:
    void SetUp() override { DllMain(nuv::g_hInstance, DLL_PROCESS_ATTACH, nullptr); }
    void TearDown() override { DllMain(nuv::g_hInstance, DLL_PROCESS_DETACH, nullptr); }
};

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new AttachedLibrary);
    return RUN_ALL_TESTS();
}
