// libFuzzer target for the registration script language: the replacement
// pass, the lexer and the interpreter in both modes, against a scratch
// registry of its own (a temporary COMHOST_REGISTRY database).  Every script
// runs under HKCU; whatever it leaves there is removed after each input.
//
// Input: the script text (cut at the first NUL).  A few variables are
// defined, so that expansion paths are reached.
#include "registration/registrar.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

void ClearRoot(HKEY root) {
    char name[256];
    for (;;) {
        DWORD cch = sizeof(name);
        if (RegEnumKeyExA(root, 0, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        if (nuv::DeleteKeyTree(root, name) != ERROR_SUCCESS)
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static char dir[] = "/tmp/nuv_fuzz_registry_XXXXXX";
    if (mkdtemp(dir))
        setenv("COMHOST_REGISTRY", (std::string(dir) + "/registry.db").c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.c_str();
    // Only HKCU is written: other roots are renamed so that they fail.
    for (const char* root : {"HKCR", "HKLM", "HKU", "HKCC", "HKPD", "HKDD", "HKEY_"}) {
        for (size_t at = 0; (at = text.find(root, at)) != std::string::npos; at += 4)
            text[at] = 'X';
    }
    {
        nuv::CRegObject registrar;
        registrar.SetReplacement(u"Module", u"C:\\dir\\it''s.dll");
        registrar.SetReplacement(u"APPID", u"{00000000-0000-0000-0000-000000000000}");
        registrar.SetReplacement(u"EMPTY", u"");
        registrar.RunScriptText(text.c_str(), TRUE);
        registrar.RunScriptText(text.c_str(), FALSE);
    }
    ClearRoot(HKEY_CURRENT_USER);
    return 0;
}
