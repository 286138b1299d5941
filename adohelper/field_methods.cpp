#include "adohelper/adohelper.h"
#include "adohelper/positioning.h"

namespace nuv {

template <class Operation>
HRESULT CNUVADOHelper::OnField(Recordset15* rs, const VARIANT& Index, LONG StepsToMove, Operation op) noexcept {
    if (!rs)
        return E_POINTER;
    return RunMethod([&]() -> HRESULT {
        if (StepsToMove != 0)
            MoveRows(rs, StepsToMove);
        FieldLookup lookup;
        HRESULT hr = LookUpField(rs, Index, lookup);
        if (FAILED(hr))
            return hr;
        hr = op(lookup.field.Get());
        lookup.Release();
        return hr;
    });
}

STDMETHODIMP CNUVADOHelper::SetFieldNumericScaleProperty(Recordset15* rs, VARIANT Index, unsigned char Value,
                                                         LONG StepsToMove) {
    return OnField(rs, Index, StepsToMove, [&](ADOField* field) { return field->put_NumericScale(Value); });
}

STDMETHODIMP CNUVADOHelper::SetFieldPrecisionProperty(Recordset15* rs, VARIANT Index, unsigned char Value,
                                                      LONG StepsToMove) {
    return OnField(rs, Index, StepsToMove, [&](ADOField* field) { return field->put_Precision(Value); });
}

STDMETHODIMP CNUVADOHelper::RecordsetWrite(Recordset15* recordset, VARIANT Index, VARIANT Value,
                                           LONG StepsToMove) {
    // The caller's value goes to ADO as received: neither copied nor converted.
    return OnField(recordset, Index, StepsToMove, [&](ADOField* field) { return field->put_Value(Value); });
}

STDMETHODIMP CNUVADOHelper::RecordsetWriteFromField(Recordset15* recordset, VARIANT Index, LONG StepsToMove,
                                                    Recordset15* InputRecordset, VARIANT InputFieldIndex,
                                                    LONG InputRsStepsToMove) {
    if (!recordset || !InputRecordset)
        return E_POINTER;
    return RunMethod([&]() -> HRESULT {
        if (InputRsStepsToMove != 0)
            MoveRows(InputRecordset, InputRsStepsToMove);
        CComVariant value;
        {
            FieldLookup lookup;
            HRESULT hr = LookUpField(InputRecordset, InputFieldIndex, lookup);
            if (FAILED(hr))
                return hr;
            hr = lookup.field->get_Value(value.ReleaseAndGetAddressOf());
            lookup.Release();
            if (FAILED(hr))
                return hr;
        }
        // The destination is moved, looked up and written only now, after the
        // input value has been read.
        return RecordsetWrite(recordset, Index, value.Get(), StepsToMove);
    });
}

STDMETHODIMP CNUVADOHelper::RecordsetGetObjectFromField(Recordset15* recordset, VARIANT Index, LONG StepsToMove,
                                                        IUnknown** obj) {
    if (!recordset || !obj)
        return E_POINTER;
    return RunMethod([&]() -> HRESULT {
        CComVariant value;
        if (StepsToMove != 0)
            MoveRows(recordset, StepsToMove);
        {
            FieldLookup lookup;
            const HRESULT hr = LookUpField(recordset, Index, lookup);
            if (FAILED(hr))
                return hr;
            const HRESULT hrValue = lookup.field->get_Value(value.ReleaseAndGetAddressOf());
            lookup.Release();
            if (FAILED(hrValue))
                return hrValue;
        }
        VARIANT& v = value.Get();
        // One level of VT_VARIANT|VT_BYREF is followed.
        const bool indirect = V_VT(&v) == (VT_VARIANT | VT_BYREF) && V_VARIANTREF(&v) != nullptr;
        VARIANT& w = indirect ? *V_VARIANTREF(&v) : v;
        IUnknown* handed = nullptr;
        bool addReference = indirect;
        switch (V_VT(&w)) {
        case VT_UNKNOWN:
            handed = V_UNKNOWN(&w);
            break;
        case VT_DISPATCH:
            handed = V_DISPATCH(&w);
            break;
        case VT_UNKNOWN | VT_BYREF:
            handed = V_UNKNOWNREF(&w) ? *V_UNKNOWNREF(&w) : nullptr;
            addReference = true;
            break;
        case VT_DISPATCH | VT_BYREF:
            handed = V_DISPATCHREF(&w) ? *V_DISPATCHREF(&w) : nullptr;
            addReference = true;
            break;
        default:
            return E_FAIL;   // not an object: obj is left as it was
        }
        if (addReference) {
            if (handed)
                handed->AddRef();
        } else {
            // The reference that the fetched value holds passes to the caller.
            V_VT(&v) = VT_EMPTY;
        }
        *obj = handed;
        return S_OK;
    });
}

}  // namespace nuv
