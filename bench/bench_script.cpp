// The script host's cost per call: a script loop of 100,000
// helper.RecordsetWrite(rs, "price", i, 0) calls against the same loop in C++
// through IDispatch::Invoke with a DISPID looked up once, on the same objects
// of the registered library, in the same process.  Counters: ns per call of
// each loop and extra_ratio = (script - invoke) / invoke, the script's extra
// cost in units of the C++ late-bound call.
#include "script_host.h"

#include <comhost/registry.h>

#include <benchmark/benchmark.h>

#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

constexpr int kCalls = 100000;

double ThreadSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

IDispatch *Create(const OLECHAR *progId) {
    CLSID clsid{};
    IDispatch *object = nullptr;
    if (FAILED(CLSIDFromProgID(progId, &clsid)) ||
        FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void **>(&object))))
        return nullptr;
    return object;
}

void BM_ScriptLoopVersusInvoke(benchmark::State &state) {
    IDispatch *helper = Create(OLESTR("Orvane.ADOHelper.1"));
    IDispatch *rs = Create(OLESTR("ADODB.Recordset"));
    if (!helper || !rs) {
        state.SkipWithError("cannot create the objects (is the library registered?)");
        if (helper) helper->Release();
        if (rs) rs->Release();
        return;
    }
    FILE *devnull = std::fopen("/dev/null", "w");
    comscript::Host::Config config;
    config.out = devnull;
    config.scriptName = "bench.js";
    double scriptSeconds = 0, invokeSeconds = 0;
    {
        comscript::Host host(config);
        host.Start();
        host.AddObject("helper", helper);
        host.AddObject("rs", rs);
        if (host.Run("rs.Fields.Append('price', 3); rs.Open(); rs.AddNew();") != 0) state.SkipWithError("setup failed");

        OLECHAR name[] = OLESTR("RecordsetWrite");
        LPOLESTR names[] = {name};
        DISPID id = DISPID_UNKNOWN;
        helper->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
        BSTR field = SysAllocString(OLESTR("price"));
        VARIANT args[4];  // StepsToMove, Value, Index, recordset
        V_VT(&args[0]) = VT_I4;
        V_I4(&args[0]) = 0;
        V_VT(&args[1]) = VT_I4;
        V_VT(&args[2]) = VT_BSTR;
        V_BSTR(&args[2]) = field;
        V_VT(&args[3]) = VT_DISPATCH;
        V_DISPATCH(&args[3]) = rs;
        DISPPARAMS params{args, nullptr, 4, 0};
        const std::string loop =
            "for (var i = 0; i < " + std::to_string(kCalls) + "; ++i) helper.RecordsetWrite(rs, 'price', i, 0);";

        for (auto _ : state) {
            const double t0 = ThreadSeconds();
            for (int i = 0; i < kCalls; ++i) {
                V_I4(&args[1]) = i;
                VARIANT result;
                VariantInit(&result);
                if (helper->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, nullptr,
                                   nullptr) != S_OK)
                    state.SkipWithError("Invoke failed");
                VariantClear(&result);
            }
            const double t1 = ThreadSeconds();
            if (host.Run(loop) != 0) state.SkipWithError("the script failed");
            const double t2 = ThreadSeconds();
            invokeSeconds += t1 - t0;
            scriptSeconds += t2 - t1;
        }
        SysFreeString(field);
        host.ReleaseAll();
    }
    helper->Release();
    rs->Release();
    std::fclose(devnull);
    const double calls = static_cast<double>(state.iterations()) * kCalls;
    state.counters["invoke_ns_per_call"] = invokeSeconds / calls * 1e9;
    state.counters["script_ns_per_call"] = scriptSeconds / calls * 1e9;
    state.counters["extra_ratio"] = invokeSeconds > 0 ? (scriptSeconds - invokeSeconds) / invokeSeconds : 0;
}
BENCHMARK(BM_ScriptLoopVersusInvoke)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

// The library is registered into a registry file of this run, as regsvr does.
int main(int argc, char **argv) {
    char dir[] = "/tmp/bench_script_XXXXXX";
    if (!mkdtemp(dir)) return 1;
    const std::string db = std::string(dir) + "/registry.db";
    ComHostRegistryUseFile(db.c_str());
    // The registration names the library by its bare file name, found along COMHOST_PATH.
    std::string libraryDir = NUV_LIBRARY_PATH;
    libraryDir.erase(libraryDir.rfind('/'));
    setenv("COMHOST_PATH", libraryDir.c_str(), 1);
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    HMODULE library = LoadLibraryA(NUV_LIBRARY_PATH);
    using RegisterFn = HRESULT(STDAPICALLTYPE *)();
    auto registerServer = library ? reinterpret_cast<RegisterFn>(reinterpret_cast<void (*)()>(
                                        GetProcAddress(library, "DllRegisterServer")))
                                  : nullptr;
    if (!registerServer || registerServer() != S_OK) {
        std::fprintf(stderr, "cannot register %s\n", NUV_LIBRARY_PATH);
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    FreeLibrary(library);
    CoFreeUnusedLibraries();
    CoUninitialize();
    ComHostRegistryUseFile(nullptr);
    unlink(db.c_str());
    unlink((db + "-wal").c_str());
    unlink((db + "-shm").c_str());
    rmdir(dir);
    return 0;
}
