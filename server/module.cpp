#include "server/module.h"

#include "adohelper/adohelper.h"
#include "server/class_factory.h"

#include <atomic>
#include <new>

namespace nuv {

// ---------------------------------------------------------------- static records
// Constructed in this order when the library is loaded: the module record
// (which sets the module pointer), the class-object record, the instance handle.

CComModule* g_pModule = nullptr;

namespace {
CComModule g_module;
}  // namespace

CComClassObjectRecord g_classObjectRecord;
HINSTANCE g_hInstance = reinterpret_cast<HINSTANCE>(&__ImageBase);

ClassTableEntry g_classTable[] = {
    {&CLSID_NUVADOHelper, &CNUVADOHelper::UpdateRegistry,
     &CNUVADOHelper::_ClassFactoryCreatorClass::CreateInstance,
     &CNUVADOHelper::_CreatorClass::CreateInstance, nullptr, &CNUVADOHelper::GetCategoryMap,
     &CNUVADOHelper::ObjectMain},
    {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
};

// ---------------------------------------------------------------- module record

CComModuleBase::CComModuleBase() noexcept {
    g_pModule = static_cast<CComModule*>(this);
    if (SUCCEEDED(m_csLock.Init()))
        m_nInitialized = 1;
}

CComModuleBase::~CComModuleBase() {
    // Termination at process detach has already cleared the marker; this only
    // cleans up when the library was never detached.
    RunTermFunctions();
}

HRESULT CComModuleBase::AddTermFunction(void(WINAPI* pfn)(DWORD_PTR), DWORD_PTR dw) noexcept {
    // Without its lock (its initialisation failed at load) the module cannot
    // guard the list; nothing is added and nothing is allocated.
    if (m_nInitialized == 0)
        return E_UNEXPECTED;
    auto* node = new (std::nothrow) TermFunctionNode{pfn, dw, nullptr};
    if (!node)
        return E_OUTOFMEMORY;
    CComCritSecLock lock(m_csLock);
    node->pNext = m_pTermFuncs;
    m_pTermFuncs = node;
    return S_OK;
}

void CComModuleBase::RunTermFunctions() noexcept {
    if (m_nInitialized == 0)
        return;
    while (TermFunctionNode* node = m_pTermFuncs) {
        m_pTermFuncs = node->pNext;
        node->pfn(node->dw);
        delete node;
    }
    m_csLock.Term();
    m_nInitialized = 0;
}

// ---------------------------------------------------------------- class objects

// The cached class object is published once under the class-object lock and
// read without it on the fast path: a release store after the object is fully
// built, an acquire load before it is used, so a thread that sees the pointer
// also sees the object behind it.
namespace {

IUnknown* LoadCachedClassObject(ClassTableEntry* entry) noexcept {
    return std::atomic_ref<IUnknown*>(entry->pCF).load(std::memory_order_acquire);
}

void PublishCachedClassObject(ClassTableEntry* entry, IUnknown* cf) noexcept {
    std::atomic_ref<IUnknown*>(entry->pCF).store(cf, std::memory_order_release);
}

}  // namespace

HRESULT GetClassObjectFromEntry(ClassTableEntry* entry, CComCriticalSection& lock, REFIID riid,
                                LPVOID* ppv) noexcept {
    HRESULT hr = S_OK;
    IUnknown* cf = LoadCachedClassObject(entry);
    if (cf == nullptr) {
        CComCritSecLock guard(lock);
        cf = LoadCachedClassObject(entry);
        if (cf == nullptr) {
            hr = entry->pfnGetClassObject(reinterpret_cast<void*>(entry->pfnCreateInstance), IID_IUnknown,
                                          reinterpret_cast<LPVOID*>(&cf));
            if (FAILED(hr))
                cf = nullptr;
            PublishCachedClassObject(entry, cf);
        }
    }
    if (cf != nullptr)
        hr = cf->QueryInterface(riid, ppv);
    return hr;
}

template <class T>
HRESULT CComModuleT<T>::GetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) noexcept {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    for (ClassTableEntry* entry = m_pObjMap; entry && entry->pclsid; ++entry) {
        if (entry->pfnGetClassObject && InlineIsEqualGUID(rclsid, *entry->pclsid))
            return GetClassObjectFromEntry(entry, g_classObjectRecord.m_csClassObject, riid, ppv);
    }
    if (g_classObjectRecord.m_nInitialized == 0)
        return E_UNEXPECTED;
    for (ClassTableEntry** pp = g_classObjectRecord.m_ppAutoObjMapFirst;
         pp < g_classObjectRecord.m_ppAutoObjMapLast; ++pp) {
        ClassTableEntry* entry = *pp;
        if (entry && entry->pfnGetClassObject && InlineIsEqualGUID(rclsid, *entry->pclsid))
            return GetClassObjectFromEntry(entry, g_classObjectRecord.m_csClassObject, riid, ppv);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

template class CComModuleT<CComModule>;

void CComModule::Attach(ClassTableEntry* pObjMap) noexcept {
    m_pObjMap = pObjMap;
    for (ClassTableEntry* entry = m_pObjMap; entry->pclsid; ++entry)
        entry->pfnObjectMain(true);
    for (ClassTableEntry** pp = g_classObjectRecord.m_ppAutoObjMapFirst;
         pp < g_classObjectRecord.m_ppAutoObjMapLast; ++pp) {
        if (*pp)
            (*pp)->pfnObjectMain(true);
    }
}

void CComModule::Term() noexcept {
    for (ClassTableEntry* entry = m_pObjMap; entry && entry->pclsid; ++entry) {
        if (IUnknown* cf = LoadCachedClassObject(entry)) {
            PublishCachedClassObject(entry, nullptr);
            cf->Release();
        }
        entry->pfnObjectMain(false);
    }
    for (ClassTableEntry** pp = g_classObjectRecord.m_ppAutoObjMapFirst;
         pp < g_classObjectRecord.m_ppAutoObjMapLast; ++pp) {
        if (*pp)
            (*pp)->pfnObjectMain(false);
    }
    RunTermFunctions();
}

// ---------------------------------------------------------------- class-object record

CComClassObjectRecord::CComClassObjectRecord() noexcept : m_hInstTypeLib(reinterpret_cast<HINSTANCE>(&__ImageBase)) {
    if (SUCCEEDED(m_csClassObject.Init()))
        m_nInitialized = 1;
}

CComClassObjectRecord::~CComClassObjectRecord() {
    if (m_nInitialized == 0)
        return;
    for (ClassTableEntry** pp = m_ppAutoObjMapFirst; pp < m_ppAutoObjMapLast; ++pp) {
        if (!*pp)
            continue;
        if (IUnknown* cf = LoadCachedClassObject(*pp)) {
            PublishCachedClassObject(*pp, nullptr);
            cf->Release();
        }
    }
    m_csClassObject.Term();
    m_nInitialized = 0;
}

// ---------------------------------------------------------------- thread ANSI code page

namespace {

// The NT family from version 5 on converts with the calling thread's ANSI
// code page when asked for CP_THREAD_ACP.
UINT WINAPI FixedThreadCodePage() noexcept { return CP_THREAD_ACP; }

// Elsewhere the thread locale's default ANSI code page is asked for.
UINT WINAPI LocaleThreadCodePage() noexcept {
    char digits[7] = {};
    UINT value = 0;
    if (GetLocaleInfoA(GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE, digits, 7) != 0) {
        for (const char* p = digits; *p; ++p)
            value = value * 10 + static_cast<UINT>(*p - '0');
    }
    return value != 0 ? value : GetACP();
}

UINT WINAPI SelectThreadCodePage() noexcept;

typedef UINT(WINAPI* CodePageRoutine)();
CodePageRoutine volatile g_pfnThreadCodePage = &SelectThreadCodePage;

UINT WINAPI SelectThreadCodePage() noexcept {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = 148;
    GetVersionExA(&version);
    const CodePageRoutine chosen =
        (version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion >= 5)
            ? &FixedThreadCodePage
            : &LocaleThreadCodePage;
    InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&g_pfnThreadCodePage),
                               reinterpret_cast<PVOID>(chosen));
    return chosen();
}

}  // namespace

UINT ThreadAnsiCodePage() noexcept { return g_pfnThreadCodePage(); }

void ResetThreadAnsiCodePageSelection() noexcept {
    InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&g_pfnThreadCodePage),
                               reinterpret_cast<PVOID>(&SelectThreadCodePage));
}

}  // namespace nuv

// ---------------------------------------------------------------- exports

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID) {
    if (dwReason == DLL_PROCESS_ATTACH) {
        nuv::g_pModule->Attach(nuv::g_classTable);
        DisableThreadLibraryCalls(hInstance);
    } else if (dwReason == DLL_PROCESS_DETACH) {
        nuv::g_pModule->Term();
    }
    return TRUE;
}

STDAPI DllCanUnloadNow() {
    return nuv::g_pModule->GetLockCount() == 0 ? S_OK : S_FALSE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    return nuv::g_pModule->GetClassObject(rclsid, riid, ppv);
}
