#include "adohelper/adohelper.h"
#include "adohelper/positioning.h"

namespace nuv {

STDMETHODIMP CNUVADOHelper::CommandCreateParameter(Command15* command15, BSTR Name, int Type, int Direction,
                                                   LONG Size, Recordset15* rs, VARIANT Index, LONG StepsToMove,
                                                   _Parameter** ppiprm) {
    if (!command15 || !rs || !ppiprm)
        return E_POINTER;
    return RunMethod([&]() -> HRESULT {
        if (StepsToMove != 0)
            MoveRows(rs, StepsToMove);
        FieldLookup lookup;
        HRESULT hr = LookUpField(rs, Index, lookup);
        if (FAILED(hr))
            return hr;
        CComVariant value;
        hr = lookup.field->get_Value(value.ReleaseAndGetAddressOf());
        if (FAILED(hr))
            return hr;
        // ADO writes the new parameter straight into the caller's out-parameter;
        // it is not appended to the command's parameters.
        hr = command15->CreateParameter(Name, static_cast<DataTypeEnum>(Type),
                                        static_cast<ParameterDirectionEnum>(Direction), Size, value.Get(),
                                        ppiprm);
        lookup.Release();
        return hr;
    });
}

STDMETHODIMP CNUVADOHelper::ParameterPutValueFromField(_Parameter* parameter, Recordset15* InputRecordset,
                                                       VARIANT InputFieldIndex, LONG InputRsStepsToMove) {
    if (!parameter || !InputRecordset)
        return E_POINTER;
    return RunMethod([&]() -> HRESULT {
        if (InputRsStepsToMove != 0)
            MoveRows(InputRecordset, InputRsStepsToMove);
        // ADO's bookmark for the current row.
        CComVariant start;
        V_VT(&start.Get()) = VT_I4;
        V_I4(&start.Get()) = 0;
        CComVariant rows;
        HRESULT hr = InputRecordset->GetRows(1, start.Get(), InputFieldIndex, rows.ReleaseAndGetAddressOf());
        if (FAILED(hr))
            return hr;
        // The first requested field of the first row read.  Only what GetRows
        // really hands out is read as rows: a two-dimensional array of
        // VARIANTs, held by value (a by-reference array, or one of another
        // element type or shape, would be read through the wrong layout).
        if (V_VT(&rows.Get()) != (VT_ARRAY | VT_VARIANT) || V_ARRAY(&rows.Get()) == nullptr ||
            SafeArrayGetDim(V_ARRAY(&rows.Get())) != 2)
            return DISP_E_TYPEMISMATCH;
        LONG indices[2] = {0, 0};
        CComVariant element;
        hr = SafeArrayGetElement(V_ARRAY(&rows.Get()), indices, &element);
        if (FAILED(hr))
            return hr;
        return parameter->put_Value(element.Get());
    });
}

}  // namespace nuv
