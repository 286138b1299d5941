// A separate client process: creates the class by the ProgID given as its
// argument through CoCreateInstance and asks it for IADOHelper.  Exit status
// 0 when that worked, 1 otherwise; the HRESULT is printed.
#include <windows.h>
#include <ole2.h>

#include "adohelper_h.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const std::string narrow = argv[1];
    const std::u16string progId(narrow.begin(), narrow.end());
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(reinterpret_cast<LPCOLESTR>(progId.c_str()), &clsid);
    IADOHelper* helper = nullptr;
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IADOHelper, reinterpret_cast<void**>(&helper));
    std::printf("%s: 0x%08X\n", argv[1], static_cast<unsigned>(hr));
    if (helper)
        helper->Release();
    CoUninitialize();
    return SUCCEEDED(hr) && InlineIsEqualGUID(clsid, CLSID_NUVADOHelper) ? 0 : 1;
}
