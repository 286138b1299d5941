#include "adohelper/adohelper.h"
#include "adohelper/positioning.h"

namespace nuv {

STDMETHODIMP CNUVADOHelper::RecordsetAddColumn(Recordset15* recordset, BSTR Name, int Type, LONG DefinedSize,
                                               int Attrib) {
    if (!recordset)
        return E_POINTER;
    return RunMethod([&]() -> HRESULT {
        CComPtr<ADOFields> fields;
        HRESULT hr = recordset->get_Fields(fields.ReleaseAndGetAddressOf());
        if (FAILED(hr))
            return hr;
        // A string of our own, up to the caller's first null character.
        CComBSTR name;
        if (Name) {
            name = CComBSTR(SysAllocString(Name));
            if (!name.Get())
                RaisePlainFailure(E_OUTOFMEMORY);
        }
        // _Append belongs to Fields20, whose table of operations Fields extends.
        Fields20* fields20 = fields.Get();
        hr = fields20->_Append(name.Get(), static_cast<DataTypeEnum>(Type), DefinedSize,
                           static_cast<FieldAttributeEnum>(Attrib));
        name = CComBSTR();
        if (FAILED(hr))
            RaiseAdoFailure(hr, fields.Get(), kIID_Fields20);
        return hr;
    });
}

STDMETHODIMP CNUVADOHelper::RecordsetDeleteColumn(Recordset15* recordset, VARIANT Index) {
    if (!recordset)
        return E_POINTER;
    return RunMethod([&]() -> HRESULT {
        CComPtr<ADOFields> fields;
        HRESULT hr = recordset->get_Fields(fields.ReleaseAndGetAddressOf());
        if (FAILED(hr))
            return hr;
        // The method works on its own deep copy of the caller's index.
        CComVariant index;
        hr = VariantCopy(index.ReleaseAndGetAddressOf(), &Index);
        if (FAILED(hr))
            RaisePlainFailure(hr);
        hr = fields->Delete(index.Get());
        if (FAILED(hr))
            RaiseAdoFailure(hr, fields.Get(), kIID_Fields20);
        return hr;
    });
}

}  // namespace nuv
