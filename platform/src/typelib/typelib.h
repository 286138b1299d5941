// The objects behind ITypeLib and ITypeInfo: a loaded library (TypeLib)
// owns its decoded contents; each type information object (TypeInfo) holds
// one reference to its library and shows one record in one view.
//
// A dual interface is stored once, as a dispatch record.  Its default view
// (what GetTypeInfo and GetTypeInfoOfGuid hand out) is the dispatch view;
// the interface view is reached through GetRefTypeOfImplType(-1).  Private
// href values name views the file has no href for: (record offset | 2) is
// the interface view of a local dual, (import entry | 3) the interface view
// of an imported dual.  The dispatch view lists the record's own members
// only, as FUNC_DISPATCH with the [retval] type as the result and without
// [lcid] and [retval] parameters; inherited members are reached through the
// base (impl type 0).
#pragma once

#include "typelib/msft.h"

#include <atomic>
#include <memory>
#include <mutex>

namespace comhost::typelib {

struct CallPlan;   // invoke.cpp

class TypeLib final : public ITypeLib2 {
public:
    // A new library object over a decoded library, one reference.
    static HRESULT Create(const BYTE *data, std::size_t size, TypeLib **out) noexcept;

    const Library &Data() const { return lib_; }

    // A type information object for record index in the given view.
    HRESULT MakeInfo(int index, bool interfaceView, ITypeInfo **out) noexcept;
    // Resolves an href as seen from record `from` (views follow §15 rules).
    HRESULT ResolveHref(HREFTYPE href, ITypeInfo **out) noexcept;
    // The call plan of function f of record index (built on first use).
    HRESULT Plan(int index, int f, const CallPlan **out) noexcept;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // ITypeLib
    STDMETHODIMP_(UINT) GetTypeInfoCount() override;
    STDMETHODIMP GetTypeInfo(UINT index, ITypeInfo **ppTInfo) override;
    STDMETHODIMP GetTypeInfoType(UINT index, TYPEKIND *pTKind) override;
    STDMETHODIMP GetTypeInfoOfGuid(REFGUID guid, ITypeInfo **ppTinfo) override;
    STDMETHODIMP GetLibAttr(TLIBATTR **ppTLibAttr) override;
    STDMETHODIMP GetTypeComp(ITypeComp **ppTComp) override;
    STDMETHODIMP GetDocumentation(INT index, BSTR *pBstrName, BSTR *pBstrDocString, DWORD *pdwHelpContext,
                                  BSTR *pBstrHelpFile) override;
    STDMETHODIMP IsName(LPOLESTR szNameBuf, ULONG lHashVal, BOOL *pfName) override;
    STDMETHODIMP FindName(LPOLESTR szNameBuf, ULONG lHashVal, ITypeInfo **ppTInfo, MEMBERID *rgMemId,
                          USHORT *pcFound) override;
    STDMETHODIMP_(void) ReleaseTLibAttr(TLIBATTR *pTLibAttr) override;
    // ITypeLib2
    STDMETHODIMP GetCustData(REFGUID guid, VARIANT *pVarVal) override;
    STDMETHODIMP GetLibStatistics(ULONG *pcUniqueNames, ULONG *pcchUniqueNames) override;
    STDMETHODIMP GetDocumentation2(INT index, LCID lcid, BSTR *pbstrHelpString, DWORD *pdwHelpStringContext,
                                   BSTR *pbstrHelpStringDll) override;
    STDMETHODIMP GetAllCustData(CUSTDATA *pCustData) override;

    ~TypeLib();

private:
    TypeLib() = default;
    HRESULT ImportedLibrary(int file, ITypeLib **out) noexcept;

    std::atomic<LONG> refs_{1};
    Library lib_;
    std::mutex importLock_;
    std::vector<ITypeLib *> imported_;                    // per import file, loaded on demand
    std::vector<std::size_t> planBase_;                   // first plan slot of each record
    std::unique_ptr<std::atomic<CallPlan *>[]> plans_;    // one slot per function
};

class TypeInfo final : public ITypeInfo2 {
public:
    // The object takes a reference to lib.
    TypeInfo(TypeLib *lib, int index, bool interfaceView) noexcept;
    ~TypeInfo();

    const TypeRecord &Record() const { return lib_->Data().records[static_cast<std::size_t>(index_)]; }
    bool DispatchView() const { return Record().kind == TKIND_DISPATCH && !interfaceView_; }
    TypeLib *Lib() const { return lib_; }
    int Index() const { return index_; }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // ITypeInfo
    STDMETHODIMP GetTypeAttr(TYPEATTR **ppTypeAttr) override;
    STDMETHODIMP GetTypeComp(ITypeComp **ppTComp) override;
    STDMETHODIMP GetFuncDesc(UINT index, FUNCDESC **ppFuncDesc) override;
    STDMETHODIMP GetVarDesc(UINT index, VARDESC **ppVarDesc) override;
    STDMETHODIMP GetNames(MEMBERID memid, BSTR *rgBstrNames, UINT cMaxNames, UINT *pcNames) override;
    STDMETHODIMP GetRefTypeOfImplType(UINT index, HREFTYPE *pRefType) override;
    STDMETHODIMP GetImplTypeFlags(UINT index, INT *pImplTypeFlags) override;
    STDMETHODIMP GetIDsOfNames(LPOLESTR *rgszNames, UINT cNames, MEMBERID *pMemId) override;
    STDMETHODIMP Invoke(PVOID pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS *pDispParams,
                        VARIANT *pVarResult, EXCEPINFO *pExcepInfo, UINT *puArgErr) override;
    STDMETHODIMP GetDocumentation(MEMBERID memid, BSTR *pBstrName, BSTR *pBstrDocString, DWORD *pdwHelpContext,
                                  BSTR *pBstrHelpFile) override;
    STDMETHODIMP GetDllEntry(MEMBERID memid, INVOKEKIND invKind, BSTR *pBstrDllName, BSTR *pBstrName,
                             WORD *pwOrdinal) override;
    STDMETHODIMP GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo **ppTInfo) override;
    STDMETHODIMP AddressOfMember(MEMBERID memid, INVOKEKIND invKind, PVOID *ppv) override;
    STDMETHODIMP CreateInstance(IUnknown *pUnkOuter, REFIID riid, PVOID *ppvObj) override;
    STDMETHODIMP GetMops(MEMBERID memid, BSTR *pBstrMops) override;
    STDMETHODIMP GetContainingTypeLib(ITypeLib **ppTLib, UINT *pIndex) override;
    STDMETHODIMP_(void) ReleaseTypeAttr(TYPEATTR *pTypeAttr) override;
    STDMETHODIMP_(void) ReleaseFuncDesc(FUNCDESC *pFuncDesc) override;
    STDMETHODIMP_(void) ReleaseVarDesc(VARDESC *pVarDesc) override;
    // ITypeInfo2
    STDMETHODIMP GetTypeKind(TYPEKIND *pTypeKind) override;
    STDMETHODIMP GetTypeFlags(ULONG *pTypeFlags) override;
    STDMETHODIMP GetFuncIndexOfMemId(MEMBERID memid, INVOKEKIND invKind, UINT *pFuncIndex) override;
    STDMETHODIMP GetVarIndexOfMemId(MEMBERID memid, UINT *pVarIndex) override;
    STDMETHODIMP GetCustData(REFGUID guid, VARIANT *pVarVal) override;
    STDMETHODIMP GetFuncCustData(UINT index, REFGUID guid, VARIANT *pVarVal) override;
    STDMETHODIMP GetParamCustData(UINT indexFunc, UINT indexParam, REFGUID guid, VARIANT *pVarVal) override;
    STDMETHODIMP GetVarCustData(UINT index, REFGUID guid, VARIANT *pVarVal) override;
    STDMETHODIMP GetImplTypeCustData(UINT index, REFGUID guid, VARIANT *pVarVal) override;
    STDMETHODIMP GetDocumentation2(MEMBERID memid, LCID lcid, BSTR *pbstrHelpString,
                                   DWORD *pdwHelpStringContext, BSTR *pbstrHelpStringDll) override;
    STDMETHODIMP GetAllCustData(CUSTDATA *pCustData) override;
    STDMETHODIMP GetAllFuncCustData(UINT index, CUSTDATA *pCustData) override;
    STDMETHODIMP GetAllParamCustData(UINT indexFunc, UINT indexParam, CUSTDATA *pCustData) override;
    STDMETHODIMP GetAllVarCustData(UINT index, CUSTDATA *pCustData) override;
    STDMETHODIMP GetAllImplTypeCustData(UINT index, CUSTDATA *pCustData) override;

    // The base type information (impl type 0) of an interface or dispatch
    // view, or null.
    HRESULT Base(ITypeInfo **out) noexcept;

private:
    std::atomic<LONG> refs_{1};
    TypeLib *lib_;
    int index_;
    bool interfaceView_;
};

// Parameters visible in a view: the dispatch view of a dual hides [lcid]
// and [retval] parameters.
bool ParamVisible(const Param &p, bool dispatchView);

// Case-insensitive comparison of a wide name with an 8-bit library name.
bool NameEquals(const std::string &name, LPCOLESTR wide);

// Invoke of a record's functions through the table of operations (invoke.cpp).
HRESULT InvokeRecord(TypeInfo *info, PVOID instance, MEMBERID memid, WORD flags, DISPPARAMS *params,
                     VARIANT *result, EXCEPINFO *excep, UINT *argErr) noexcept;
void DestroyPlan(CallPlan *plan) noexcept;

// Loads a library from a file name or a module's resource (loading.cpp).
HRESULT LoadLibraryImage(LPCOLESTR path, ITypeLib **out) noexcept;
// The built-in libraries (stdole2, the ADO stand-in) by LIBID or file name.
HRESULT LoadBuiltinByGuid(REFGUID libid, WORD major, WORD minor, ITypeLib **out) noexcept;
HRESULT LoadBuiltinByName(const char *fileName, ITypeLib **out) noexcept;

}  // namespace comhost::typelib
