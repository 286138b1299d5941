// Late-bound calls against their early-bound baselines, in one process:
// Invoke of RecordsetWrite with a cached DISPID against the direct call of
// the same method on the same recordset, a single-name lookup answered from
// the name cache against the type information's own lookup, and the first
// load of the registered library with its interface's type information.
#include "adohelper/adohelper.h"
#include "server/class_factory.h"

#include <comhost/registry.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID);

namespace {

using namespace nuv;

std::u16string Wide(const char* s) { return std::u16string(s, s + std::strlen(s)); }

// A recordset with one integer column, open on a new row.
CComPtr<Recordset15> OneRow() {
    CComPtr<Recordset15> rs;
    CoCreateInstance(kCLSID_Recordset, nullptr, CLSCTX_INPROC_SERVER, kIID_Recordset15,
                     reinterpret_cast<void**>(&rs));
    {
        CComPtr<ADOFields> fields;
        rs->get_Fields(&fields);
        CComBSTR name(SysAllocString(OLESTR("n")));
        fields->_Append(name.Get(), adInteger, 4, adFldIsNullable);
    }
    VARIANT missing;
    VariantInit(&missing);
    V_VT(&missing) = VT_ERROR;
    V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
    rs->Open(missing, missing, adOpenStatic, adLockOptimistic, adCmdUnspecified);
    rs->AddNew(missing, missing);
    return rs;
}

void BM_EarlyBoundRecordsetWrite(benchmark::State& state) {
    CComPtr<IADOHelper> helper;
    CComObject<CNUVADOHelper>::CreateInstance(nullptr, IID_IADOHelper, reinterpret_cast<void**>(&helper));
    CComPtr<Recordset15> rs = OneRow();
    VARIANT index, value;
    V_VT(&index) = VT_I4;
    V_I4(&index) = 0;
    V_VT(&value) = VT_I4;
    for (auto _ : state) {
        V_I4(&value) = static_cast<LONG>(state.iterations());
        if (helper->RecordsetWrite(rs.Get(), index, value, 0) != S_OK)
            state.SkipWithError("RecordsetWrite failed");
    }
}
BENCHMARK(BM_EarlyBoundRecordsetWrite);

void BM_InvokeRecordsetWrite(benchmark::State& state) {
    CComPtr<IDispatch> dispatch;
    CComObject<CNUVADOHelper>::CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&dispatch));
    CComPtr<Recordset15> rs = OneRow();
    // Arguments in reverse order: StepsToMove, Value, Index, recordset.
    VARIANT args[4];
    V_VT(&args[0]) = VT_I4;
    V_I4(&args[0]) = 0;
    V_VT(&args[1]) = VT_I4;
    V_VT(&args[2]) = VT_I4;
    V_I4(&args[2]) = 0;
    V_VT(&args[3]) = VT_DISPATCH;
    V_DISPATCH(&args[3]) = rs.Get();
    DISPPARAMS params{args, nullptr, 4, 0};
    for (auto _ : state) {
        V_I4(&args[1]) = static_cast<LONG>(state.iterations());
        if (dispatch->Invoke(4, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr) != S_OK)
            state.SkipWithError("Invoke failed");
    }
}
BENCHMARK(BM_InvokeRecordsetWrite);

void BM_NameCacheGetIDsOfNames(benchmark::State& state) {
    CComPtr<IDispatch> dispatch;
    CComObject<CNUVADOHelper>::CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&dispatch));
    std::u16string name = u"RecordsetWrite";
    LPOLESTR names[1] = {name.data()};
    DISPID id = 0;
    for (auto _ : state) {
        if (dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, &id) != S_OK || id != 4)
            state.SkipWithError("lookup failed");
    }
}
BENCHMARK(BM_NameCacheGetIDsOfNames);

void BM_TypeInfoGetIDsOfNames(benchmark::State& state) {
    CComPtr<IDispatch> dispatch;
    CComObject<CNUVADOHelper>::CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&dispatch));
    CComPtr<ITypeInfo> info;
    dispatch->GetTypeInfo(0, 0, &info);
    std::u16string name = u"RecordsetWrite";
    LPOLESTR names[1] = {name.data()};
    MEMBERID id = 0;
    for (auto _ : state) {
        if (info->GetIDsOfNames(names, 1, &id) != S_OK || id != 4)
            state.SkipWithError("lookup failed");
    }
}
BENCHMARK(BM_TypeInfoGetIDsOfNames);

void BM_LoadRegTypeLibFirstLoad(benchmark::State& state) {
    for (auto _ : state) {
        CComPtr<ITypeLib> lib;
        CComPtr<ITypeInfo> info;
        if (LoadRegTypeLib(LIBID_ADO_HELPERLib, 1, 0, 0x409, &lib) != S_OK ||
            lib->GetTypeInfoOfGuid(IID_IADOHelper, &info) != S_OK)
            state.SkipWithError("load failed");
    }
}
BENCHMARK(BM_LoadRegTypeLibFirstLoad)->Unit(benchmark::kMicrosecond);

}  // namespace

// A registry of the benchmark's own, with the library registered from the
// shared object's TYPELIB resource, as DllRegisterServer registers it.
int main(int argc, char** argv) {
    char dir[] = "/tmp/nuv_bench_dispatch_XXXXXX";
    if (!mkdtemp(dir))
        return 1;
    const std::string db = std::string(dir) + "/registry.db";
    ComHostRegistryUseFile(db.c_str());
    {
        std::u16string path = Wide(NUV_LIBRARY_PATH);
        CComPtr<ITypeLib> lib;
        if (LoadTypeLibEx(path.c_str(), REGKIND_NONE, &lib) != S_OK ||
            RegisterTypeLib(lib.Get(), path.data(), nullptr) != S_OK)
            return 1;
    }
    DllMain(nuv::g_hInstance, DLL_PROCESS_ATTACH, nullptr);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    DllMain(nuv::g_hInstance, DLL_PROCESS_DETACH, nullptr);
    ComHostRegistryUseFile(nullptr);
    std::remove(db.c_str());
    rmdir(dir);
    return 0;
}
