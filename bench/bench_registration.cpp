// Registration speed: a register + unregister cycle of the shipped script
// through the class step (the class's registry-update hook, and the two
// exports of the library as an installer calls them), and generated scripts
// of 100, 1,000 and 10,000 keys, whose time per key should stay flat.
//
// Runs against a registry database of its own in a temporary directory.
#include "adohelper/adohelper.h"
#include "registration/registrar.h"
#include "server/module.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID);

namespace {

using namespace nuv;

// The library's own file stands in for this program's image, so that the
// class step reads the shipped script and names the library.
class LibraryImage {
public:
    LibraryImage() : m_library(LoadLibraryA(NUV_LIBRARY_PATH)), m_saved(g_hInstance) {
        if (m_library)
            g_hInstance = m_library;
    }
    ~LibraryImage() {
        g_hInstance = m_saved;
        if (m_library)
            FreeLibrary(m_library);
    }
    HMODULE Get() const { return m_library; }

private:
    HMODULE m_library;
    HINSTANCE m_saved;
};

void BM_ClassStepCycle(benchmark::State& state) {
    LibraryImage image;
    if (!image.Get()) {
        state.SkipWithError("cannot load the library");
        return;
    }
    for (auto _ : state) {
        const HRESULT r = CNUVADOHelper::UpdateRegistry(TRUE);
        const HRESULT u = CNUVADOHelper::UpdateRegistry(FALSE);
        if (FAILED(r) || FAILED(u)) {
            state.SkipWithError("registration failed");
            break;
        }
    }
}
BENCHMARK(BM_ClassStepCycle)->Unit(benchmark::kMicrosecond);

// The exports of the loaded library; the type-library step is part of the
// cycle once the host layer loads type libraries.
void BM_ExportsCycle(benchmark::State& state) {
    HMODULE library = LoadLibraryA(NUV_LIBRARY_PATH);
    typedef HRESULT(STDAPICALLTYPE * Export)();
    auto reg = library ? reinterpret_cast<Export>(reinterpret_cast<void*>(GetProcAddress(library, "DllRegisterServer")))
                       : nullptr;
    auto unreg = library ? reinterpret_cast<Export>(
                               reinterpret_cast<void*>(GetProcAddress(library, "DllUnregisterServer")))
                         : nullptr;
    if (!reg || !unreg) {
        state.SkipWithError("cannot load the library's exports");
        return;
    }
    for (auto _ : state) {
        reg();
        unreg();
    }
    FreeLibrary(library);
}
BENCHMARK(BM_ExportsCycle)->Unit(benchmark::kMicrosecond);

std::string GeneratedScript(int keys) {
    std::string text = "HKCU\n{\n\tNoRemove Software\n\t{\n\t\tBenchKeys\n\t\t{\n";
    for (int i = 0; i < keys; ++i)
        text += "\t\t\tKey" + std::to_string(i) + " = s 'value " + std::to_string(i) + "'\n";
    text += "\t\t}\n\t}\n}\n";
    return text;
}

// One registration and one unregistration of a script of N keys; the
// counter "per_key" is the time of that cycle divided by N.
void BM_GeneratedScript(benchmark::State& state) {
    const int keys = static_cast<int>(state.range(0));
    const std::string text = GeneratedScript(keys);
    for (auto _ : state) {
        CRegObject registrar;
        if (FAILED(registrar.RunScriptText(text.c_str(), TRUE)) ||
            FAILED(registrar.RunScriptText(text.c_str(), FALSE))) {
            state.SkipWithError("script failed");
            break;
        }
    }
    state.counters["per_key"] =
        benchmark::Counter(static_cast<double>(keys), benchmark::Counter::kIsIterationInvariantRate |
                                                          benchmark::Counter::kInvert);
}
BENCHMARK(BM_GeneratedScript)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    char dir[] = "/tmp/nuv_bench_registration_XXXXXX";
    if (!mkdtemp(dir))
        return 2;
    const std::string db = std::string(dir) + "/registry.db";
    setenv("COMHOST_REGISTRY", db.c_str(), 1);
    DllMain(g_hInstance, DLL_PROCESS_ATTACH, nullptr);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    DllMain(g_hInstance, DLL_PROCESS_DETACH, nullptr);
    for (const char* suffix : {"", "-wal", "-shm"})
        unlink((db + suffix).c_str());
    rmdir(dir);
    return 0;
}
