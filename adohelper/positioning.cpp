#include "adohelper/positioning.h"

#include "server/module.h"

namespace nuv {

HRESULT MethodError::Report() const noexcept {
    if (m_info)
        SetErrorInfo(0, m_info.Get());
    return m_hr;
}

void RaiseAdoFailure(HRESULT hr, IUnknown* source, REFIID iid) {
    CComPtr<IErrorInfo> info;
    if (source) {
        CComPtr<ISupportErrorInfo> support;
        if (SUCCEEDED(source->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(support.ReleaseAndGetAddressOf()))) &&
            support) {
            const HRESULT supported = support->InterfaceSupportsErrorInfo(iid);
            support.Release();
            if (supported == S_OK && GetErrorInfo(0, info.ReleaseAndGetAddressOf()) != S_OK)
                info.Release();
        }
    }
    throw MethodError(hr, std::move(info));
}

void RaisePlainFailure(HRESULT hr) { throw MethodError(hr, CComPtr<IErrorInfo>()); }

void MoveRows(Recordset15* recordset, LONG steps) {
    // A failed read leaves the flag clear, so that the move itself reports
    // what is wrong.
    VARIANT_BOOL boundary = VARIANT_FALSE;
    recordset->get_EOF(&boundary);
    if (steps > 0) {
        for (LONG i = 0; i < steps; ++i) {
            if (boundary == VARIANT_TRUE)
                break;
            const HRESULT hr = recordset->MoveNext();
            if (FAILED(hr))
                RaiseAdoFailure(hr, recordset, kIID_Recordset15);
            boundary = VARIANT_FALSE;
            recordset->get_EOF(&boundary);
        }
    } else {
        // The first backward step is tested against EOF, later ones against BOF.
        for (LONG i = 0; i > steps; --i) {
            if (boundary == VARIANT_TRUE)
                break;
            const HRESULT hr = recordset->MovePrevious();
            if (FAILED(hr))
                RaiseAdoFailure(hr, recordset, kIID_Recordset15);
            boundary = VARIANT_FALSE;
            recordset->get_BOF(&boundary);
        }
    }
}

HRESULT LookUpField(Recordset15* recordset, const VARIANT& index, FieldLookup& out) noexcept {
    out.Release();
    HRESULT hr = recordset->get_Fields(out.fields.ReleaseAndGetAddressOf());
    if (FAILED(hr))
        return hr;
    hr = out.fields->get_Item(index, out.field.ReleaseAndGetAddressOf());
    if (FAILED(hr)) {
        out.Release();
        return hr;
    }
    return hr;
}

namespace {
// A conversion that failed without a system error code must still fail.
[[noreturn]] void RaiseConversionFailure() {
    const HRESULT hr = HResultFromLastError();
    RaisePlainFailure(FAILED(hr) ? hr : E_FAIL);
}
}  // namespace

CComBSTR AnsiToBstr(LPCSTR psz) {
    if (!psz)
        return CComBSTR();
    const int chars = MultiByteToWideChar(CP_ACP, 0, psz, -1, nullptr, 0);
    if (chars == 0)
        RaiseConversionFailure();
    // The terminator is counted by the conversion; the BSTR adds its own.
    CComBSTR result(SysAllocStringLen(nullptr, static_cast<UINT>(chars - 1)));
    if (!result.Get())
        RaisePlainFailure(E_OUTOFMEMORY);
    if (MultiByteToWideChar(CP_ACP, 0, psz, -1, result.Get(), chars) == 0)
        RaiseConversionFailure();
    return result;
}

}  // namespace nuv
