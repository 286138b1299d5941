#include "adohelper/adohelper.h"
#include "adohelper/positioning.h"

#include <cstdio>

namespace nuv {

STDMETHODIMP CNUVADOHelper::RecordsetLoadFromFile(LONG FileIndex, Recordset15** recordset) {
    if (!recordset)
        return E_POINTER;
    return RunMethod([&]() -> HRESULT {
        // Relative to the process's working directory; at most 40 characters.
        char path[256] = {};
        std::snprintf(path, sizeof path, "data\\recordsets\\recordset%ld.xml", static_cast<long>(FileIndex));

        if (*recordset == nullptr) {
            const HRESULT hr = CoCreateInstance(kCLSID_Recordset, nullptr,
                                                CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
                                                kIID_Recordset15, reinterpret_cast<void**>(recordset));
            if (FAILED(hr)) {
                *recordset = nullptr;
                return hr;
            }
        } else {
            // The caller's recordset is reused: its Recordset20 reference takes
            // the place of the one passed in.
            Recordset15* passed = *recordset;
            Recordset20* reused = nullptr;
            const HRESULT hr = passed->QueryInterface(kIID_Recordset20, reinterpret_cast<void**>(&reused));
            *recordset = SUCCEEDED(hr) ? reused : nullptr;
            passed->Release();
            if (FAILED(hr))
                return hr;
        }

        CComBSTR pathText = AnsiToBstr(path);
        CComVariant source;
        V_VT(&source.Get()) = VT_BSTR;
        V_BSTR(&source.Get()) = SysAllocString(pathText.Get());
        if (!V_BSTR(&source.Get())) {
            V_VT(&source.Get()) = VT_EMPTY;
            RaisePlainFailure(E_OUTOFMEMORY);
        }

        CComBSTR connectionText = AnsiToBstr("Provider=MSPersist;");
        CComVariant connectionLiteral;
        V_VT(&connectionLiteral.Get()) = VT_BSTR;
        V_BSTR(&connectionLiteral.Get()) = connectionText.Detach();
        CComVariant connection;
        HRESULT hr = VariantCopy(connection.ReleaseAndGetAddressOf(), connectionLiteral.Ptr());
        if (FAILED(hr))
            RaisePlainFailure(hr);

        hr = (*recordset)->Open(source.Get(), connection.Get(), adOpenUnspecified, adLockUnspecified,
                                adCmdUnspecified);
        if (FAILED(hr))
            RaiseAdoFailure(hr, *recordset, kIID_Recordset15);
        return S_OK;
    });
}

}  // namespace nuv
