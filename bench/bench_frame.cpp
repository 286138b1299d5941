// Hot paths of the frame and one method: the cached class-object lookup (no
// lock once cached), object creation, and a field write on a fabricated
// recordset.
#include "adohelper/adohelper.h"
#include "server/class_factory.h"

#include <benchmark/benchmark.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID);

namespace {

using namespace nuv;

void BM_CachedClassObjectLookup(benchmark::State& state) {
    for (auto _ : state) {
        IClassFactory* factory = nullptr;
        DllGetClassObject(CLSID_NUVADOHelper, IID_IClassFactory, reinterpret_cast<void**>(&factory));
        factory->Release();
    }
}
BENCHMARK(BM_CachedClassObjectLookup)->ThreadRange(1, 2);

void BM_CreateAndRelease(benchmark::State& state) {
    CComPtr<IClassFactory> factory;
    DllGetClassObject(CLSID_NUVADOHelper, IID_IClassFactory, reinterpret_cast<void**>(factory.ReleaseAndGetAddressOf()));
    for (auto _ : state) {
        IADOHelper* helper = nullptr;
        factory->CreateInstance(nullptr, IID_IADOHelper, reinterpret_cast<void**>(&helper));
        helper->Release();
    }
}
BENCHMARK(BM_CreateAndRelease);

void BM_RecordsetWrite(benchmark::State& state) {
    CComPtr<IADOHelper> helper;
    CComObject<CNUVADOHelper>::CreateInstance(nullptr, IID_IADOHelper, reinterpret_cast<void**>(helper.ReleaseAndGetAddressOf()));
    CComPtr<Recordset15> rs;
    CoCreateInstance(kCLSID_Recordset, nullptr, CLSCTX_INPROC_SERVER, kIID_Recordset15,
                     reinterpret_cast<void**>(rs.ReleaseAndGetAddressOf()));
    {
        CComPtr<ADOFields> fields;
        rs->get_Fields(fields.ReleaseAndGetAddressOf());
        CComBSTR name(SysAllocString(OLESTR("n")));
        fields->_Append(name.Get(), adInteger, 4, adFldIsNullable);
    }
    VARIANT missing;
    VariantInit(&missing);
    V_VT(&missing) = VT_ERROR;
    V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
    rs->Open(missing, missing, adOpenStatic, adLockOptimistic, adCmdUnspecified);
    rs->AddNew(missing, missing);
    VARIANT index, value;
    VariantInit(&index);
    VariantInit(&value);
    V_VT(&index) = VT_I4;
    V_I4(&index) = 0;
    V_VT(&value) = VT_I4;
    for (auto _ : state) {
        V_I4(&value) = static_cast<LONG>(state.iterations());
        if (helper->RecordsetWrite(rs.Get(), index, value, 0) != S_OK)
            state.SkipWithError("RecordsetWrite failed");
    }
}
BENCHMARK(BM_RecordsetWrite);

}  // namespace

// The library is attached in main, after every static record is built, as a
// loader would do.
int main(int argc, char** argv) {
    DllMain(nuv::g_hInstance, DLL_PROCESS_ATTACH, nullptr);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    DllMain(nuv::g_hInstance, DLL_PROCESS_DETACH, nullptr);
    return 0;
}
