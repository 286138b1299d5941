#include "sdk_names.h"

void RunSdkNamesClient(Recordset15* rs, Command15* cmd, SdkNamesResult* result) {
    VARIANT missing;
    VariantInit(&missing);
    missing.vt = VT_ERROR;
    missing.scode = DISP_E_PARAMNOTFOUND;

    ADOFields* fields = NULL;
    rs->get_Fields(&fields);
    BSTR name = SysAllocString(OLESTR("n"));
    result->append = ((Fields20*)fields)->_Append(name, adInteger, 0, adFldUnspecified);
    result->open = rs->Open(missing, missing, adOpenUnspecified, adLockUnspecified, adCmdUnspecified);

    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = 41;
    VARIANT fieldName;
    VariantInit(&fieldName);
    fieldName.vt = VT_BSTR;
    fieldName.bstrVal = name;
    result->addNew = rs->AddNew(fieldName, v);

    VARIANT index;
    VariantInit(&index);
    index.vt = VT_I4;
    index.lVal = 0;
    ADOField* f = NULL;
    result->item = fields->get_Item(index, &f);
    v.lVal = 42;
    result->putValue = f->put_Value(v);
    VARIANT got;
    VariantInit(&got);
    result->getValue = f->get_Value(&got);
    result->value = got.vt == VT_I4 ? got.lVal : -1;
    VariantClear(&got);
    BYTE b = 5;
    result->putPrecision = f->put_Precision(b);
    result->putNumericScale = f->put_NumericScale(b);

    result->moveNext = rs->MoveNext();
    result->movePrevious = rs->MovePrevious();
    rs->get_EOF(&result->eof);
    rs->get_BOF(&result->bof);

    VARIANT vStart;
    VariantInit(&vStart);
    vStart.vt = VT_I4;
    vStart.lVal = adBookmarkCurrent;
    VARIANT vOut;
    VariantInit(&vOut);
    result->getRows = rs->GetRows(1, vStart, index, &vOut);
    result->rowsValue = -1;
    if (SUCCEEDED(result->getRows)) {
        LONG at[2] = {0, 0};
        VARIANT element;
        VariantInit(&element);
        if (SUCCEEDED(SafeArrayGetElement(vOut.parray, at, &element)) && element.vt == VT_I4)
            result->rowsValue = element.lVal;
        VariantClear(&element);
    }
    VariantClear(&vOut);
    rs->get_RecordCount(&result->recordCount);
    rs->get_AbsolutePosition(&result->position);
    result->deleteField = fields->Delete(index);

    _ADOParameter* param = NULL;
    result->createParameter = cmd->CreateParameter(name, adInteger, adParamInput, 4, v, &param);
    v.lVal = 43;
    result->parameterPutValue = param ? param->put_Value(v) : E_POINTER;
    result->parameterValue = -1;
    if (param) {
        VARIANT pv;
        VariantInit(&pv);
        if (SUCCEEDED(param->get_Value(&pv)) && pv.vt == VT_I4)
            result->parameterValue = pv.lVal;
        VariantClear(&pv);
        param->Release();
    }

    if (f)
        f->Release();
    fields->Release();
    SysFreeString(name);
}
