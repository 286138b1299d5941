// The library as a client sees it: loaded with dlopen, reached only through
// its exports.
#include <windows.h>
#include <ole2.h>

#include "adohelper_h.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

namespace {

typedef HRESULT(STDAPICALLTYPE* GetClassObjectFn)(REFCLSID, REFIID, LPVOID*);
typedef HRESULT(STDAPICALLTYPE* CanUnloadNowFn)();

TEST(ClientLoad, DlopenedLibraryHandsOutWorkingObjects) {
    void* library = dlopen(NUV_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(nullptr, library) << dlerror();
    auto getClassObject = reinterpret_cast<GetClassObjectFn>(dlsym(library, "DllGetClassObject"));
    auto canUnloadNow = reinterpret_cast<CanUnloadNowFn>(dlsym(library, "DllCanUnloadNow"));
    ASSERT_NE(nullptr, getClassObject);
    ASSERT_NE(nullptr, canUnloadNow);
    EXPECT_NE(nullptr, dlsym(library, "DllRegisterServer"));
    EXPECT_NE(nullptr, dlsym(library, "DllUnregisterServer"));
    // Nothing but the exports is visible.
    EXPECT_EQ(nullptr, dlsym(library, "DllMain"));

    IClassFactory* factory = nullptr;
    ASSERT_EQ(S_OK, getClassObject(CLSID_NUVADOHelper, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
    IADOHelper* helper = nullptr;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IADOHelper, reinterpret_cast<void**>(&helper)));
    EXPECT_EQ(S_FALSE, canUnloadNow());
    ISupportErrorInfo* support = nullptr;
    ASSERT_EQ(S_OK, helper->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support)));
    EXPECT_EQ(S_OK, support->InterfaceSupportsErrorInfo(IID_IADOHelper));
    support->Release();
    // A null recordset is refused, never used.
    EXPECT_EQ(E_POINTER, helper->RecordsetLoadFromFile(1, nullptr));
    EXPECT_EQ(0u, helper->Release());
    EXPECT_EQ(1u, factory->Release());   // the class table keeps its own
    EXPECT_EQ(S_OK, canUnloadNow());
    EXPECT_EQ(0, dlclose(library));
}

}  // namespace
