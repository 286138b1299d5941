// Test fixtures for the frame: the library is attached once for the whole
// test program, as a loader would do before any export is called.
#pragma once

#include "adohelper/adohelper.h"
#include "server/class_factory.h"
#include "server/module.h"

#include <comhost/testing.h>
#include <gtest/gtest.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID);

namespace nuv::test {

// Drops the cached class object so that a test can watch its creation.
inline void ForgetClassObject() {
    if (IUnknown* cf = g_classTable[0].pCF) {
        g_classTable[0].pCF = nullptr;
        cf->Release();
    }
}

inline LONG LockCount() { return g_pModule->GetLockCount(); }

// A minimal outer object that counts the references it is given.
class CountingOuter : public IUnknown {
public:
    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (InlineIsEqualGUID(iid, IID_IUnknown)) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        // Everything else is answered by the inner object, as an aggregate does.
        return inner ? inner->QueryInterface(iid, ppv) : E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return static_cast<ULONG>(++refs); }
    STDMETHOD_(ULONG, Release)() override { return static_cast<ULONG>(--refs); }

    LONG refs = 1;
    IUnknown* inner = nullptr;   // the aggregate's non-delegating IUnknown
};

}  // namespace nuv::test
