// The module: process-wide state of the library.  It counts the reasons the
// library must stay loaded, holds the class table and caches one class object
// per class, runs clean-up functions at unload, and owns the module lock.
#pragma once

#include "server/com_owners.h"

// The image of this library; its address is the library's module handle.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace nuv {

struct ReplacementEntry;
class IRegistrarBase;

// (outer or creator, riid, out) -> HRESULT.  Used both for class-object
// creators (the first argument is the instance creator) and for instance
// creators (the first argument is the outer unknown or null).
typedef HRESULT(WINAPI CreatorFunc)(void* pv, REFIID riid, LPVOID* ppv);

// A component category: kind 0 ends a list, 1 implemented, other values required.
struct CategoryEntry {
    DWORD kind;
    const GUID* pcatid;
};

struct ClassTableEntry {
    const CLSID* pclsid;                               // null ends the table
    HRESULT(WINAPI* pfnUpdateRegistry)(BOOL bRegister);
    CreatorFunc* pfnGetClassObject;                    // builds the class object
    CreatorFunc* pfnCreateInstance;                    // stored into the class object
    IUnknown* pCF;                                     // cached class object, one reference
    const CategoryEntry* (*pfnGetCategoryMap)();
    void(WINAPI* pfnObjectMain)(bool bStarting);       // class init/term hook
};

// One node per registered clean-up function; the list is most recent first.
struct TermFunctionNode {
    void(WINAPI* pfn)(DWORD_PTR dw);
    DWORD_PTR dw;
    TermFunctionNode* pNext;
};

// The plain module record.
struct CComModuleRecord {
    UINT m_nInitialized = 0;             // non-zero once m_csLock is initialised
    LONG m_nLockCnt = 0;                 // changed only by interlocked operations
    TermFunctionNode* m_pTermFuncs = nullptr;
    CComCriticalSection m_csLock;        // guards m_pTermFuncs and type-info loading
    ClassTableEntry* m_pObjMap = nullptr;
};

// Lock counting, term functions and the module lock.
class CComModuleBase : public CComModuleRecord {
public:
    CComModuleBase() noexcept;
    ~CComModuleBase();
    CComModuleBase(const CComModuleBase&) = delete;
    CComModuleBase& operator=(const CComModuleBase&) = delete;

    LONG LockModule() noexcept { return InterlockedIncrement(&m_nLockCnt); }
    LONG UnlockModule() noexcept { return InterlockedDecrement(&m_nLockCnt); }
    LONG GetLockCount() const noexcept { return m_nLockCnt; }

    HRESULT AddTermFunction(void(WINAPI* pfn)(DWORD_PTR), DWORD_PTR dw) noexcept;
    // Runs the term functions most recent first, frees them and destroys the lock.
    void RunTermFunctions() noexcept;

    CComCriticalSection& ModuleLock() noexcept { return m_csLock; }
};

// Class-object lookup over the class table and the second class list.
template <class T>
class CComModuleT : public CComModuleBase {
public:
    HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) noexcept;
};

class CComModule : public CComModuleT<CComModule> {
public:
    // Process attach: sets the class table and starts every class.
    void Attach(ClassTableEntry* pObjMap) noexcept;
    // Process detach: releases the cached class objects, stops every class
    // and runs the term functions.
    void Term() noexcept;

    // Registry updates from the library's own "REGISTRY" script resources
    // (registration/registrar.cpp).  The replacement list, ended by an entry
    // with a null name, may be null.
    HRESULT AddCommonReplacements(IRegistrarBase* pRegistrar) noexcept;
    HRESULT UpdateRegistryFromScript(UINT nResID, BOOL bRegister,
                                     const ReplacementEntry* pMapEntries = nullptr) noexcept;
    HRESULT UpdateRegistryFromNamedScript(LPCSTR lpszRes, BOOL bRegister,
                                          const ReplacementEntry* pMapEntries = nullptr) noexcept;
};

// The second static record: the class-object lock, the second class list and
// the handle of the image that carries the type library.
struct CComClassObjectRecord {
    CComClassObjectRecord() noexcept;
    ~CComClassObjectRecord();
    CComClassObjectRecord(const CComClassObjectRecord&) = delete;
    CComClassObjectRecord& operator=(const CComClassObjectRecord&) = delete;

    UINT m_nInitialized = 0;
    HINSTANCE m_hInstTypeLib = nullptr;
    ClassTableEntry** m_ppAutoObjMapFirst = nullptr;   // second class list [first, last)
    ClassTableEntry** m_ppAutoObjMapLast = nullptr;
    CComCriticalSection m_csClassObject;
};

// The process-wide module pointer, set when the module record is constructed.
extern CComModule* g_pModule;
extern CComClassObjectRecord g_classObjectRecord;
// The handle of the library's own image, fixed at static construction.
extern HINSTANCE g_hInstance;
// The program's class table (one entry and the terminator).
extern ClassTableEntry g_classTable[];

// Finds (and on first use creates) the class object of a table entry and asks
// it for riid.  Exposed for the class-object record's second list.
HRESULT GetClassObjectFromEntry(ClassTableEntry* entry, CComCriticalSection& lock,
                                REFIID riid, LPVOID* ppv) noexcept;

// Code page for the frame's narrow/wide conversions.
UINT ThreadAnsiCodePage() noexcept;
// Re-arms the one-time code-page selection (tests drive both of its branches).
void ResetThreadAnsiCodePageSelection() noexcept;

// A positive system error code x becomes (x & 0xFFFF) | 0x80070000; 0 and
// negative values pass unchanged.
inline HRESULT HResultFromWin32(LONG x) noexcept {
    return x <= 0 ? static_cast<HRESULT>(x)
                  : static_cast<HRESULT>((static_cast<ULONG>(x) & 0x0000FFFFu) | 0x80070000u);
}
inline HRESULT HResultFromLastError() noexcept {
    return HResultFromWin32(static_cast<LONG>(GetLastError()));
}

}  // namespace nuv
