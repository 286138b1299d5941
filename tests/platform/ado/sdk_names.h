// A client of ADO written against the SDK's names: it compiles unchanged
// against the Windows SDK's <adoint.h> (see CMakeLists.txt) and against the
// host layer's, and the tests run it on the host layer's objects.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <adoint.h>

// What the client saw; each HRESULT is the result of the call of that name.
struct SdkNamesResult {
    HRESULT append;
    HRESULT open;
    HRESULT addNew;
    HRESULT item;
    HRESULT putValue;
    HRESULT getValue;
    LONG value;
    HRESULT putPrecision;
    HRESULT putNumericScale;
    HRESULT moveNext;
    HRESULT movePrevious;
    VARIANT_BOOL eof;
    VARIANT_BOOL bof;
    HRESULT getRows;
    LONG rowsValue;
    ADO_LONGPTR recordCount;
    PositionEnum_Param position;
    HRESULT deleteField;
    HRESULT createParameter;
    HRESULT parameterPutValue;
    LONG parameterValue;
};

// Runs the client on a new, closed recordset and a command.
void RunSdkNamesClient(Recordset15* rs, Command15* cmd, SdkNamesResult* result);
