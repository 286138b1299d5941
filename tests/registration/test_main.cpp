// Each test program gets a registry database of its own in a fresh temporary
// directory (COMHOST_REGISTRY), and the library is attached as a loader
// would before any export is called.
#include "registry_fixture.h"

#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

class AttachedLibrary : public ::testing::Environment {
public:
    void SetUp() override { DllMain(nuv::g_hInstance, DLL_PROCESS_ATTACH, nullptr); }
    void TearDown() override { DllMain(nuv::g_hInstance, DLL_PROCESS_DETACH, nullptr); }
};

}  // namespace

int main(int argc, char** argv) {
    char dir[] = "/tmp/nuv_registration_XXXXXX";
    if (!mkdtemp(dir))
        return 2;
    const std::string db = std::string(dir) + "/registry.db";
    setenv("COMHOST_REGISTRY", db.c_str(), 1);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new AttachedLibrary);
    const int result = RUN_ALL_TESTS();
    unlink(db.c_str());
    const std::string wal = db + "-wal", shm = db + "-shm";
    unlink(wal.c_str());
    unlink(shm.c_str());
    rmdir(dir);
    return result;
}
