// A C++ client of the registered library: creates the object by its ProgID,
// opens a saved recordset with RecordsetLoadFromFile and reports a failed call
// with ADO's own description.  Run it from examples/, where the helper finds
// data/recordsets/recordset<N>.xml.
#include <windows.h>
#include <ole2.h>

#include <cstdio>

#include "adohelper_h.h"   // generated from adohelper/adohelper.idl

namespace {

// Prints the failure and the description the failing object left behind.
void Report(const char* what, HRESULT hr) {
    std::printf("%s failed: 0x%08X", what, static_cast<unsigned>(hr));
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) == S_OK && info) {
        BSTR description = nullptr;
        if (SUCCEEDED(info->GetDescription(&description)) && description) {
            std::printf(": ");
            for (const OLECHAR* c = description; *c; ++c)
                std::putchar(*c < 0x80 ? static_cast<char>(*c) : '?');
        }
        SysFreeString(description);
        info->Release();
    }
    std::printf("\n");
}

int Run() {
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(OLESTR("Orvane.ADOHelper"), &clsid);
    if (FAILED(hr)) {
        Report("CLSIDFromProgID (is the library registered?)", hr);
        return 1;
    }
    IADOHelper* helper = nullptr;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IADOHelper,
                          reinterpret_cast<void**>(&helper));
    if (FAILED(hr)) {
        Report("CoCreateInstance", hr);
        return 1;
    }

    int status = 0;
    Recordset15* rs = nullptr;   // null: the method creates the recordset
    hr = helper->RecordsetLoadFromFile(1, &rs);
    if (SUCCEEDED(hr)) {
        ADO_LONGPTR rows = 0;
        rs->get_RecordCount(&rows);
        std::printf("recordset1.xml: %ld rows\n", static_cast<long>(rows));
    } else {
        Report("RecordsetLoadFromFile(1)", hr);
        status = 1;
    }
    if (rs)
        rs->Release();   // the caller owns it, even after a failed open

    // A file that is not there: ADO's failure and description come back.
    rs = nullptr;
    hr = helper->RecordsetLoadFromFile(99, &rs);
    if (FAILED(hr))
        Report("RecordsetLoadFromFile(99)", hr);
    if (rs)
        rs->Release();

    helper->Release();
    return status;
}

}  // namespace

int main() {
    if (FAILED(CoInitialize(nullptr)))
        return 1;
    const int status = Run();
    CoUninitialize();
    return status;
}
