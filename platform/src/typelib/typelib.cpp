// ITypeLib2 and ITypeInfo2 over a decoded library.  Descriptor blocks
// (TLIBATTR, TYPEATTR, FUNCDESC, VARDESC) are single allocations from the
// automation allocator: the descriptor first, then its TYPEDESC chains,
// array descriptions, parameter descriptions and default values.

#include "typelib/typelib.h"

#include "oleaut/oleaut_internal.h"

#include <comhost/allocation.h>

#include <cstring>
#include <new>

namespace comhost::typelib {

using oleaut::Allocate;
using oleaut::Free;

namespace {

constexpr HREFTYPE kNoHref = 0xFFFFFFFFu;

// Bump allocation inside one measured block.
class Arena {
public:
    explicit Arena(BYTE *base) : at_(base) {}
    template <class T>
    T *Take(std::size_t bytes = sizeof(T)) {
        T *p = reinterpret_cast<T *>(at_);
        at_ += (bytes + 7) & ~std::size_t{7};
        return p;
    }

private:
    BYTE *at_;
};

std::size_t Rounded(std::size_t n) { return (n + 7) & ~std::size_t{7}; }

// Bytes a TYPEDESC needs beyond the TYPEDESC itself.
std::size_t MeasureType(const Library &lib, std::int32_t index) {
    const TypeNode &n = lib.nodes[static_cast<std::size_t>(index)];
    if (n.vt == VT_PTR || n.vt == VT_SAFEARRAY) return Rounded(sizeof(TYPEDESC)) + MeasureType(lib, n.child);
    if (n.vt == VT_CARRAY) {
        return Rounded(sizeof(ARRAYDESC) + sizeof(SAFEARRAYBOUND) * (n.bounds.size() - 1)) +
               MeasureType(lib, n.child);
    }
    return 0;
}

void FillType(const Library &lib, std::int32_t index, TYPEDESC *td, Arena &arena) {
    const TypeNode &n = lib.nodes[static_cast<std::size_t>(index)];
    td->vt = n.vt;
    td->lptdesc = nullptr;
    if (n.vt == VT_PTR || n.vt == VT_SAFEARRAY) {
        td->lptdesc = arena.Take<TYPEDESC>();
        FillType(lib, n.child, td->lptdesc, arena);
    } else if (n.vt == VT_CARRAY) {
        ARRAYDESC *a = arena.Take<ARRAYDESC>(sizeof(ARRAYDESC) + sizeof(SAFEARRAYBOUND) * (n.bounds.size() - 1));
        a->cDims = static_cast<USHORT>(n.bounds.size());
        for (std::size_t d = 0; d < n.bounds.size(); ++d) a->rgbounds[d] = n.bounds[d];
        FillType(lib, n.child, &a->tdescElem, arena);
        td->lpadesc = a;
    } else if (n.vt == VT_USERDEFINED) {
        td->hreftype = n.href;
    }
}

HRESULT StoreBstr(const std::string &text, BSTR *out) {
    if (!out) return S_OK;
    *out = MakeBstr(text);
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT StoreString(const Library &lib, std::int32_t index, BSTR *out) {
    if (!out) return S_OK;
    *out = nullptr;
    if (index < 0) return S_OK;
    return StoreBstr(lib.strings[static_cast<std::size_t>(index)], out);
}

HRESULT FindCustom(const std::vector<CustomItem> &items, REFGUID guid, VARIANT *out) {
    if (!out) return E_INVALIDARG;
    VariantInit(out);
    for (const CustomItem &c : items) {
        if (IsEqualGUID(c.guid, guid)) return ConstantToVariant(c.value, out);
    }
    return S_OK;
}

HRESULT AllCustom(const std::vector<CustomItem> &items, CUSTDATA *out) {
    if (!out) return E_INVALIDARG;
    out->cCustData = 0;
    out->prgCustData = nullptr;
    if (items.empty()) return S_OK;
    auto *array = static_cast<CUSTDATAITEM *>(CoTaskMemAlloc(sizeof(CUSTDATAITEM) * items.size()));
    if (!array) return E_OUTOFMEMORY;
    for (std::size_t i = 0; i < items.size(); ++i) {
        array[i].guid = items[i].guid;
        const HRESULT hr = ConstantToVariant(items[i].value, &array[i].varValue);
        if (FAILED(hr)) {
            for (std::size_t k = 0; k < i; ++k) VariantClear(&array[k].varValue);
            CoTaskMemFree(array);
            return hr;
        }
    }
    out->cCustData = static_cast<DWORD>(items.size());
    out->prgCustData = array;
    return S_OK;
}

WCHAR Fold(WCHAR c) { return (c >= u'a' && c <= u'z') ? static_cast<WCHAR>(c - 0x20) : c; }

const std::vector<CustomItem> kNoCustom;

}  // namespace

bool ParamVisible(const Param &p, bool dispatchView) {
    return !dispatchView || (p.flags & (PARAMFLAG_FLCID | PARAMFLAG_FRETVAL)) == 0;
}

bool NameEquals(const std::string &name, LPCOLESTR wide) {
    std::size_t i = 0;
    for (; i < name.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(name[i]);
        WCHAR c = b;
        if (b >= 0x80) {
            char narrow = static_cast<char>(b);
            if (MultiByteToWideChar(CP_ACP, 0, &narrow, 1, &c, 1) != 1) return false;
        }
        if (wide[i] == 0 || Fold(wide[i]) != Fold(c)) return false;
    }
    return wide[i] == 0;
}

// ------------------------------------------------------------------ TypeLib

HRESULT TypeLib::Create(const BYTE *data, std::size_t size, TypeLib **out) noexcept {
    *out = nullptr;
    if (ComHostAllocationShouldFail()) return E_OUTOFMEMORY;
    TypeLib *lib = new (std::nothrow) TypeLib();
    if (!lib) return E_OUTOFMEMORY;
    HRESULT hr = ParseLibrary(data, size, &lib->lib_);
    if (SUCCEEDED(hr)) {
        try {
            lib->imported_.assign(lib->lib_.imports.size(), nullptr);
            std::size_t slots = 0;
            for (const TypeRecord &r : lib->lib_.records) {
                lib->planBase_.push_back(slots);
                slots += r.functions.size();
            }
            lib->plans_.reset(new std::atomic<CallPlan *>[slots == 0 ? 1 : slots]);
            for (std::size_t i = 0; i < slots; ++i) lib->plans_[i].store(nullptr);
        } catch (const std::bad_alloc &) {
            hr = E_OUTOFMEMORY;
        }
    }
    if (FAILED(hr)) {
        delete lib;
        return hr;
    }
    *out = lib;
    return S_OK;
}

TypeLib::~TypeLib() {
    for (ITypeLib *t : imported_) {
        if (t) t->Release();
    }
    if (plans_) {
        std::size_t slots = 0;
        for (const TypeRecord &r : lib_.records) slots += r.functions.size();
        for (std::size_t i = 0; i < slots; ++i) DestroyPlan(plans_[i].load());
    }
}

HRESULT TypeLib::MakeInfo(int index, bool interfaceView, ITypeInfo **out) noexcept {
    *out = nullptr;
    if (index < 0 || static_cast<std::size_t>(index) >= lib_.records.size()) return TYPE_E_ELEMENTNOTFOUND;
    if (ComHostAllocationShouldFail()) return E_OUTOFMEMORY;
    TypeInfo *info = new (std::nothrow) TypeInfo(this, index, interfaceView);
    if (!info) return E_OUTOFMEMORY;
    *out = info;
    return S_OK;
}

HRESULT TypeLib::ImportedLibrary(int file, ITypeLib **out) noexcept {
    *out = nullptr;
    std::lock_guard<std::mutex> guard(importLock_);
    ITypeLib *&slot = imported_[static_cast<std::size_t>(file)];
    if (!slot) {
        const ImportFile &f = lib_.imports[static_cast<std::size_t>(file)];
        HRESULT hr = LoadRegTypeLib(f.libid, f.majorVersion, f.minorVersion, f.lcid, &slot);
        if (FAILED(hr)) {
            // Not registered: the file the library names, then the built-ins.
            slot = nullptr;
            BSTR name = MakeBstr(f.fileName);
            if (!name) return E_OUTOFMEMORY;
            hr = LoadTypeLibEx(name, REGKIND_NONE, &slot);
            SysFreeString(name);
            if (FAILED(hr)) {
                slot = nullptr;
                hr = LoadBuiltinByName(f.fileName.c_str(), &slot);
            }
            if (FAILED(hr)) {
                slot = nullptr;
                return TYPE_E_CANTLOADLIBRARY;
            }
        }
    }
    slot->AddRef();
    *out = slot;
    return S_OK;
}

HRESULT TypeLib::ResolveHref(HREFTYPE href, ITypeInfo **out) noexcept {
    *out = nullptr;
    switch (href & 3) {
    case 0:
    case 2: {
        const int index = lib_.LocalIndex(href & ~3u);
        if (index < 0) return TYPE_E_ELEMENTNOTFOUND;
        const bool partner = (href & 3) == 2;
        if (partner && !lib_.records[static_cast<std::size_t>(index)].dual) return TYPE_E_ELEMENTNOTFOUND;
        return MakeInfo(index, partner, out);
    }
    default: {
        const ImportRef *ref = lib_.Import((href & ~3u) | 1u);
        if (!ref) return TYPE_E_ELEMENTNOTFOUND;
        ITypeLib *other = nullptr;
        HRESULT hr = ImportedLibrary(ref->file, &other);
        if (FAILED(hr)) return hr;
        ITypeInfo *found = nullptr;
        hr = ref->byGuid ? other->GetTypeInfoOfGuid(ref->guid, &found) : other->GetTypeInfo(ref->index, &found);
        other->Release();
        if (FAILED(hr)) return hr;
        if ((href & 3) == 3) {
            // The interface view of an imported dual.
            HREFTYPE partner = 0;
            ITypeInfo *view = nullptr;
            hr = found->GetRefTypeOfImplType(static_cast<UINT>(-1), &partner);
            if (SUCCEEDED(hr)) hr = found->GetRefTypeInfo(partner, &view);
            found->Release();
            if (FAILED(hr)) return hr;
            found = view;
        }
        *out = found;
        return S_OK;
    }
    }
}

STDMETHODIMP TypeLib::QueryInterface(REFIID riid, void **ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_ITypeLib) || IsEqualGUID(riid, IID_ITypeLib2)) {
        *ppv = static_cast<ITypeLib2 *>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) TypeLib::AddRef() { return static_cast<ULONG>(++refs_); }

STDMETHODIMP_(ULONG) TypeLib::Release() {
    const LONG n = --refs_;
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
}

STDMETHODIMP_(UINT) TypeLib::GetTypeInfoCount() { return static_cast<UINT>(lib_.records.size()); }

STDMETHODIMP TypeLib::GetTypeInfo(UINT index, ITypeInfo **ppTInfo) {
    if (!ppTInfo) return E_INVALIDARG;
    *ppTInfo = nullptr;
    if (index >= lib_.records.size()) return TYPE_E_ELEMENTNOTFOUND;
    return MakeInfo(static_cast<int>(index), false, ppTInfo);
}

STDMETHODIMP TypeLib::GetTypeInfoType(UINT index, TYPEKIND *pTKind) {
    if (!pTKind) return E_INVALIDARG;
    if (index >= lib_.records.size()) return TYPE_E_ELEMENTNOTFOUND;
    *pTKind = lib_.records[index].kind;
    return S_OK;
}

STDMETHODIMP TypeLib::GetTypeInfoOfGuid(REFGUID guid, ITypeInfo **ppTinfo) {
    if (!ppTinfo) return E_INVALIDARG;
    *ppTinfo = nullptr;
    for (std::size_t i = 0; i < lib_.records.size(); ++i) {
        const TypeRecord &r = lib_.records[i];
        if (r.hasGuid && IsEqualGUID(r.guid, guid)) return MakeInfo(static_cast<int>(i), false, ppTinfo);
    }
    return TYPE_E_ELEMENTNOTFOUND;
}

STDMETHODIMP TypeLib::GetLibAttr(TLIBATTR **ppTLibAttr) {
    if (!ppTLibAttr) return E_INVALIDARG;
    *ppTLibAttr = nullptr;
    auto *a = static_cast<TLIBATTR *>(Allocate(sizeof(TLIBATTR)));
    if (!a) return E_OUTOFMEMORY;
    a->guid = lib_.libid;
    a->lcid = lib_.lcid;
    a->syskind = lib_.syskind;
    a->wMajorVerNum = lib_.majorVersion;
    a->wMinorVerNum = lib_.minorVersion;
    a->wLibFlags = lib_.libFlags;
    *ppTLibAttr = a;
    return S_OK;
}

STDMETHODIMP_(void) TypeLib::ReleaseTLibAttr(TLIBATTR *pTLibAttr) { Free(pTLibAttr); }

STDMETHODIMP TypeLib::GetTypeComp(ITypeComp **ppTComp) {
    if (ppTComp) *ppTComp = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP TypeLib::GetDocumentation(INT index, BSTR *pBstrName, BSTR *pBstrDocString, DWORD *pdwHelpContext,
                                       BSTR *pBstrHelpFile) {
    if (pBstrName) *pBstrName = nullptr;
    if (pBstrDocString) *pBstrDocString = nullptr;
    if (pBstrHelpFile) *pBstrHelpFile = nullptr;
    if (index == -1) {
        oleaut::BstrOwner name, doc, file;
        if (pBstrName && FAILED(StoreBstr(lib_.name, name.receive()))) return E_OUTOFMEMORY;
        if (FAILED(StoreString(lib_, lib_.docString, doc.receive()))) return E_OUTOFMEMORY;
        if (FAILED(StoreString(lib_, lib_.helpFile, file.receive()))) return E_OUTOFMEMORY;
        if (pdwHelpContext) *pdwHelpContext = lib_.helpContext;
        if (pBstrName) *pBstrName = name.release();
        if (pBstrDocString) *pBstrDocString = doc.release();
        if (pBstrHelpFile) *pBstrHelpFile = file.release();
        return S_OK;
    }
    if (index < 0 || static_cast<std::size_t>(index) >= lib_.records.size()) return TYPE_E_ELEMENTNOTFOUND;
    ITypeInfo *info = nullptr;
    HRESULT hr = MakeInfo(index, false, &info);
    if (FAILED(hr)) return hr;
    hr = info->GetDocumentation(MEMBERID_NIL, pBstrName, pBstrDocString, pdwHelpContext, pBstrHelpFile);
    info->Release();
    return hr;
}

STDMETHODIMP TypeLib::IsName(LPOLESTR szNameBuf, ULONG, BOOL *pfName) {
    if (!szNameBuf || !pfName) return E_INVALIDARG;
    *pfName = FALSE;
    for (const std::string &n : lib_.allNames) {
        if (NameEquals(n, szNameBuf)) {
            // The caller's buffer takes the library's spelling.
            const int len = lstrlenW(szNameBuf);
            if (MultiByteToWideChar(CP_ACP, 0, n.data(), static_cast<int>(n.size()), szNameBuf, len) == len)
                szNameBuf[len] = 0;
            *pfName = TRUE;
            return S_OK;
        }
    }
    return S_OK;
}

STDMETHODIMP TypeLib::FindName(LPOLESTR szNameBuf, ULONG, ITypeInfo **ppTInfo, MEMBERID *rgMemId,
                               USHORT *pcFound) {
    if (!szNameBuf || !ppTInfo || !rgMemId || !pcFound) return E_INVALIDARG;
    const USHORT room = *pcFound;
    USHORT found = 0;
    for (std::size_t i = 0; i < lib_.records.size() && found < room; ++i) {
        const TypeRecord &r = lib_.records[i];
        MEMBERID memid = MEMBERID_NIL;
        bool hit = NameEquals(r.name, szNameBuf);
        for (std::size_t f = 0; !hit && f < r.functions.size(); ++f) {
            if (NameEquals(r.functions[f].name, szNameBuf)) {
                hit = true;
                memid = r.functions[f].memid;
            }
        }
        for (std::size_t v = 0; !hit && v < r.variables.size(); ++v) {
            if (NameEquals(r.variables[v].name, szNameBuf)) {
                hit = true;
                memid = r.variables[v].memid;
            }
        }
        if (!hit) continue;
        const HRESULT hr = MakeInfo(static_cast<int>(i), false, &ppTInfo[found]);
        if (FAILED(hr)) {
            for (USHORT k = 0; k < found; ++k) {
                ppTInfo[k]->Release();
                ppTInfo[k] = nullptr;
            }
            *pcFound = 0;
            return hr;
        }
        rgMemId[found++] = memid;
    }
    *pcFound = found;
    return S_OK;
}

STDMETHODIMP TypeLib::GetCustData(REFGUID guid, VARIANT *pVarVal) { return FindCustom(lib_.custom, guid, pVarVal); }

STDMETHODIMP TypeLib::GetLibStatistics(ULONG *pcUniqueNames, ULONG *pcchUniqueNames) {
    if (!pcUniqueNames) return E_INVALIDARG;
    *pcUniqueNames = static_cast<ULONG>(lib_.allNames.size());
    if (pcchUniqueNames) {
        ULONG chars = 0;
        for (const std::string &n : lib_.allNames) chars += static_cast<ULONG>(n.size());
        *pcchUniqueNames = chars;
    }
    return S_OK;
}

STDMETHODIMP TypeLib::GetDocumentation2(INT index, LCID, BSTR *pbstrHelpString, DWORD *pdwHelpStringContext,
                                        BSTR *pbstrHelpStringDll) {
    if (pbstrHelpString) *pbstrHelpString = nullptr;
    if (pbstrHelpStringDll) *pbstrHelpStringDll = nullptr;
    if (index != -1) {
        if (index < 0 || static_cast<std::size_t>(index) >= lib_.records.size()) return TYPE_E_ELEMENTNOTFOUND;
        ITypeInfo *info = nullptr;
        HRESULT hr = MakeInfo(index, false, &info);
        if (FAILED(hr)) return hr;
        hr = static_cast<TypeInfo *>(info)->GetDocumentation2(MEMBERID_NIL, 0, pbstrHelpString,
                                                              pdwHelpStringContext, pbstrHelpStringDll);
        info->Release();
        return hr;
    }
    oleaut::BstrOwner text, dll;
    if (FAILED(StoreString(lib_, lib_.docString, text.receive())) ||
        FAILED(StoreString(lib_, lib_.helpStringDll, dll.receive())))
        return E_OUTOFMEMORY;
    if (pdwHelpStringContext) *pdwHelpStringContext = lib_.helpStringContext;
    if (pbstrHelpString) *pbstrHelpString = text.release();
    if (pbstrHelpStringDll) *pbstrHelpStringDll = dll.release();
    return S_OK;
}

STDMETHODIMP TypeLib::GetAllCustData(CUSTDATA *pCustData) { return AllCustom(lib_.custom, pCustData); }

// ----------------------------------------------------------------- TypeInfo

TypeInfo::TypeInfo(TypeLib *lib, int index, bool interfaceView) noexcept
    : lib_(lib), index_(index), interfaceView_(interfaceView) {
    lib_->AddRef();
}

TypeInfo::~TypeInfo() { lib_->Release(); }

STDMETHODIMP TypeInfo::QueryInterface(REFIID riid, void **ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_ITypeInfo) ||
        IsEqualGUID(riid, IID_ITypeInfo2)) {
        *ppv = static_cast<ITypeInfo2 *>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) TypeInfo::AddRef() { return static_cast<ULONG>(++refs_); }

STDMETHODIMP_(ULONG) TypeInfo::Release() {
    const LONG n = --refs_;
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
}

STDMETHODIMP TypeInfo::GetTypeAttr(TYPEATTR **ppTypeAttr) {
    if (!ppTypeAttr) return E_INVALIDARG;
    *ppTypeAttr = nullptr;
    const Library &lib = lib_->Data();
    const TypeRecord &r = Record();
    const std::size_t extra = r.aliasType >= 0 ? MeasureType(lib, r.aliasType) : 0;
    BYTE *block = static_cast<BYTE *>(Allocate(Rounded(sizeof(TYPEATTR)) + extra));
    if (!block) return E_OUTOFMEMORY;
    std::memset(block, 0, sizeof(TYPEATTR));
    Arena arena(block);
    TYPEATTR *a = arena.Take<TYPEATTR>();
    a->guid = r.guid;
    a->lcid = lib.lcid;
    a->memidConstructor = MEMBERID_NIL;
    a->memidDestructor = MEMBERID_NIL;
    a->cbSizeInstance = r.cbSizeInstance;
    a->typekind = r.dual && interfaceView_ ? TKIND_INTERFACE : r.kind;
    a->cFuncs = static_cast<WORD>(r.functions.size());
    a->cVars = static_cast<WORD>(r.variables.size());
    a->cImplTypes = static_cast<WORD>(r.impls.size());
    a->cbSizeVft = r.dual && !interfaceView_ ? static_cast<WORD>(7 * lib.PointerSize()) : r.cbSizeVft;
    a->cbAlignment = r.cbAlignment;
    a->wTypeFlags = r.flags;
    a->wMajorVerNum = r.majorVersion;
    a->wMinorVerNum = r.minorVersion;
    a->tdescAlias.vt = VT_EMPTY;
    if (r.aliasType >= 0) FillType(lib, r.aliasType, &a->tdescAlias, arena);
    *ppTypeAttr = a;
    return S_OK;
}

STDMETHODIMP_(void) TypeInfo::ReleaseTypeAttr(TYPEATTR *pTypeAttr) { Free(pTypeAttr); }

STDMETHODIMP TypeInfo::GetTypeComp(ITypeComp **ppTComp) {
    if (ppTComp) *ppTComp = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP TypeInfo::GetFuncDesc(UINT index, FUNCDESC **ppFuncDesc) {
    if (!ppFuncDesc) return E_INVALIDARG;
    *ppFuncDesc = nullptr;
    const Library &lib = lib_->Data();
    const TypeRecord &r = Record();
    if (index >= r.functions.size()) return TYPE_E_ELEMENTNOTFOUND;
    const Function &f = r.functions[index];
    // The dispatch view of a dual turns the stored call into its
    // late-bound form.
    const bool dispatch = r.dual && !interfaceView_;
    std::int32_t resultType = f.returnType;
    if (dispatch) {
        resultType = -1;
        for (const Param &p : f.params) {
            if ((p.flags & PARAMFLAG_FRETVAL) && lib.nodes[static_cast<std::size_t>(p.type)].vt == VT_PTR)
                resultType = lib.nodes[static_cast<std::size_t>(p.type)].child;
        }
    }
    std::size_t count = 0;
    std::size_t bytes = Rounded(sizeof(FUNCDESC)) + (resultType >= 0 ? MeasureType(lib, resultType) : 0);
    for (const Param &p : f.params) {
        if (!ParamVisible(p, dispatch)) continue;
        ++count;
        bytes += MeasureType(lib, p.type) + (p.hasDefault ? Rounded(sizeof(PARAMDESCEX)) : 0);
    }
    bytes += Rounded(sizeof(ELEMDESC) * count);
    BYTE *block = static_cast<BYTE *>(Allocate(bytes));
    if (!block) return E_OUTOFMEMORY;
    std::memset(block, 0, bytes);
    Arena arena(block);
    FUNCDESC *d = arena.Take<FUNCDESC>();
    d->memid = f.memid;
    d->funckind = dispatch ? FUNC_DISPATCH : f.funckind;
    d->invkind = f.invkind;
    d->callconv = f.callconv;
    d->cParams = static_cast<SHORT>(count);
    d->cParamsOpt = f.cParamsOpt;
    d->oVft = f.oVft;
    d->wFuncFlags = f.flags;
    if (resultType >= 0)
        FillType(lib, resultType, &d->elemdescFunc.tdesc, arena);
    else
        d->elemdescFunc.tdesc.vt = VT_VOID;
    d->lprgelemdescParam = count ? arena.Take<ELEMDESC>(sizeof(ELEMDESC) * count) : nullptr;
    std::size_t k = 0;
    for (const Param &p : f.params) {
        if (!ParamVisible(p, dispatch)) continue;
        ELEMDESC &e = d->lprgelemdescParam[k++];
        FillType(lib, p.type, &e.tdesc, arena);
        e.paramdesc.wParamFlags = p.flags;
        if (p.hasDefault) {
            PARAMDESCEX *x = arena.Take<PARAMDESCEX>();
            x->cBytes = sizeof(PARAMDESCEX);
            if (FAILED(ConstantToVariant(p.defaultValue, &x->varDefaultValue))) {
                ReleaseFuncDesc(d);
                return E_OUTOFMEMORY;
            }
            e.paramdesc.pparamdescex = x;
        }
    }
    *ppFuncDesc = d;
    return S_OK;
}

STDMETHODIMP_(void) TypeInfo::ReleaseFuncDesc(FUNCDESC *d) {
    if (!d) return;
    for (SHORT i = 0; i < d->cParams; ++i) {
        PARAMDESCEX *x = d->lprgelemdescParam[i].paramdesc.pparamdescex;
        if (x) VariantClear(&x->varDefaultValue);
    }
    Free(d);
}

STDMETHODIMP TypeInfo::GetVarDesc(UINT index, VARDESC **ppVarDesc) {
    if (!ppVarDesc) return E_INVALIDARG;
    *ppVarDesc = nullptr;
    const Library &lib = lib_->Data();
    const TypeRecord &r = Record();
    if (index >= r.variables.size()) return TYPE_E_ELEMENTNOTFOUND;
    const Variable &v = r.variables[index];
    const bool isConst = v.varkind == VAR_CONST;
    const std::size_t bytes =
        Rounded(sizeof(VARDESC)) + MeasureType(lib, v.type) + (isConst ? Rounded(sizeof(VARIANT)) : 0);
    BYTE *block = static_cast<BYTE *>(Allocate(bytes));
    if (!block) return E_OUTOFMEMORY;
    std::memset(block, 0, bytes);
    Arena arena(block);
    VARDESC *d = arena.Take<VARDESC>();
    d->memid = v.memid;
    d->varkind = v.varkind;
    d->wVarFlags = v.flags;
    FillType(lib, v.type, &d->elemdescVar.tdesc, arena);
    if (isConst) {
        d->lpvarValue = arena.Take<VARIANT>();
        if (FAILED(ConstantToVariant(v.value, d->lpvarValue))) {
            Free(block);
            return E_OUTOFMEMORY;
        }
    } else {
        d->oInst = v.oInst;
    }
    *ppVarDesc = d;
    return S_OK;
}

STDMETHODIMP_(void) TypeInfo::ReleaseVarDesc(VARDESC *d) {
    if (!d) return;
    if (d->varkind == VAR_CONST && d->lpvarValue) VariantClear(d->lpvarValue);
    Free(d);
}

HRESULT TypeInfo::Base(ITypeInfo **out) noexcept {
    *out = nullptr;
    const TypeRecord &r = Record();
    if ((r.kind != TKIND_INTERFACE && r.kind != TKIND_DISPATCH) || r.impls.empty()) return S_FALSE;
    // Members are looked up along the table-of-operations chain, also from
    // the dispatch side of a dual (whose reported base is IDispatch), so
    // that inherited members of dual bases are found and called.
    const Library &lib = lib_->Data();
    HREFTYPE href = r.impls[0].href;
    if (r.dual) {
        if ((href & 3) == 0) {
            const int base = lib.LocalIndex(href);
            if (base >= 0 && lib.records[static_cast<std::size_t>(base)].dual) href |= 2;
        } else if (const ImportRef *imp = lib.Import(href); imp && imp->kind == TKIND_DISPATCH) {
            href |= 3;
        }
    }
    return GetRefTypeInfo(href, out);
}

STDMETHODIMP TypeInfo::GetNames(MEMBERID memid, BSTR *rgBstrNames, UINT cMaxNames, UINT *pcNames) {
    if (!rgBstrNames || !pcNames) return E_INVALIDARG;
    *pcNames = 0;
    const TypeRecord &r = Record();
    const bool dispatch = DispatchView();
    for (const Function &f : r.functions) {
        if (f.memid != memid) continue;
        UINT n = 0;
        if (n < cMaxNames) {
            if (FAILED(StoreBstr(f.name, &rgBstrNames[n]))) return E_OUTOFMEMORY;
            ++n;
        }
        for (const Param &p : f.params) {
            if (n >= cMaxNames) break;
            if (!ParamVisible(p, dispatch)) continue;
            if (FAILED(StoreBstr(p.name, &rgBstrNames[n]))) {
                for (UINT k = 0; k < n; ++k) SysFreeString(rgBstrNames[k]);
                return E_OUTOFMEMORY;
            }
            ++n;
        }
        *pcNames = n;
        return S_OK;
    }
    for (const Variable &v : r.variables) {
        if (v.memid != memid) continue;
        if (cMaxNames > 0) {
            if (FAILED(StoreBstr(v.name, &rgBstrNames[0]))) return E_OUTOFMEMORY;
            *pcNames = 1;
        }
        return S_OK;
    }
    ITypeInfo *base = nullptr;
    if (Base(&base) == S_OK && base) {
        const HRESULT hr = base->GetNames(memid, rgBstrNames, cMaxNames, pcNames);
        base->Release();
        return hr;
    }
    return TYPE_E_ELEMENTNOTFOUND;
}

STDMETHODIMP TypeInfo::GetRefTypeOfImplType(UINT index, HREFTYPE *pRefType) {
    if (!pRefType) return E_INVALIDARG;
    *pRefType = kNoHref;
    const Library &lib = lib_->Data();
    const TypeRecord &r = Record();
    const HREFTYPE self = lib.typeOffsets[static_cast<std::size_t>(index_)];
    if (index == static_cast<UINT>(-1)) {
        if (!r.dual) return TYPE_E_ELEMENTNOTFOUND;
        *pRefType = interfaceView_ ? self : (self | 2);
        return S_OK;
    }
    if (index >= r.impls.size()) return TYPE_E_ELEMENTNOTFOUND;
    HREFTYPE href = r.impls[index].href;
    if (r.dual) {
        if (!interfaceView_) {
            // The dispatch side of a dual derives from IDispatch.
            if (lib.dispatchHref != kNoHref) href = lib.dispatchHref;
        } else if ((href & 3) == 0) {
            const int base = lib.LocalIndex(href);
            if (base >= 0 && lib.records[static_cast<std::size_t>(base)].dual) href |= 2;
        } else if (const ImportRef *imp = lib.Import(href); imp && imp->kind == TKIND_DISPATCH) {
            href |= 3;
        }
    }
    *pRefType = href;
    return S_OK;
}

STDMETHODIMP TypeInfo::GetImplTypeFlags(UINT index, INT *pImplTypeFlags) {
    if (!pImplTypeFlags) return E_INVALIDARG;
    *pImplTypeFlags = 0;
    const TypeRecord &r = Record();
    if (index >= r.impls.size()) return TYPE_E_ELEMENTNOTFOUND;
    *pImplTypeFlags = r.impls[index].flags;
    return S_OK;
}

STDMETHODIMP TypeInfo::GetIDsOfNames(LPOLESTR *rgszNames, UINT cNames, MEMBERID *pMemId) {
    if (!rgszNames || !pMemId || cNames == 0) return E_INVALIDARG;
    for (UINT i = 0; i < cNames; ++i) pMemId[i] = DISPID_UNKNOWN;
    if (!rgszNames[0]) return E_INVALIDARG;
    const TypeRecord &r = Record();
    const bool dispatch = DispatchView();
    for (const Function &f : r.functions) {
        if (!NameEquals(f.name, rgszNames[0])) continue;
        pMemId[0] = f.memid;
        HRESULT hr = S_OK;
        for (UINT i = 1; i < cNames; ++i) {
            LONG position = 0;
            bool found = false;
            for (const Param &p : f.params) {
                if (!ParamVisible(p, dispatch)) continue;
                if (rgszNames[i] && NameEquals(p.name, rgszNames[i])) {
                    found = true;
                    break;
                }
                ++position;
            }
            if (found)
                pMemId[i] = position;
            else
                hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }
    for (const Variable &v : r.variables) {
        if (!NameEquals(v.name, rgszNames[0])) continue;
        pMemId[0] = v.memid;
        return cNames > 1 ? DISP_E_UNKNOWNNAME : S_OK;
    }
    ITypeInfo *base = nullptr;
    if (Base(&base) == S_OK && base) {
        const HRESULT hr = base->GetIDsOfNames(rgszNames, cNames, pMemId);
        base->Release();
        return hr;
    }
    return DISP_E_UNKNOWNNAME;
}

STDMETHODIMP TypeInfo::Invoke(PVOID pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS *pDispParams,
                              VARIANT *pVarResult, EXCEPINFO *pExcepInfo, UINT *puArgErr) {
    return InvokeRecord(this, pvInstance, memid, wFlags, pDispParams, pVarResult, pExcepInfo, puArgErr);
}

STDMETHODIMP TypeInfo::GetDocumentation(MEMBERID memid, BSTR *pBstrName, BSTR *pBstrDocString,
                                        DWORD *pdwHelpContext, BSTR *pBstrHelpFile) {
    if (pBstrName) *pBstrName = nullptr;
    if (pBstrDocString) *pBstrDocString = nullptr;
    if (pBstrHelpFile) *pBstrHelpFile = nullptr;
    const Library &lib = lib_->Data();
    const TypeRecord &r = Record();
    const std::string *name = nullptr;
    std::int32_t doc = -1;
    DWORD context = 0;
    if (memid == MEMBERID_NIL) {
        name = &r.name;
        doc = r.docString;
        context = r.helpContext;
    } else {
        for (const Function &f : r.functions) {
            if (f.memid == memid) {
                name = &f.name;
                doc = f.helpString;
                context = f.helpContext;
                break;
            }
        }
        for (std::size_t v = 0; !name && v < r.variables.size(); ++v) {
            if (r.variables[v].memid == memid) {
                name = &r.variables[v].name;
                doc = r.variables[v].helpString;
                context = r.variables[v].helpContext;
            }
        }
    }
    if (!name) {
        ITypeInfo *base = nullptr;
        if (Base(&base) == S_OK && base) {
            const HRESULT hr = base->GetDocumentation(memid, pBstrName, pBstrDocString, pdwHelpContext, pBstrHelpFile);
            base->Release();
            return hr;
        }
        return TYPE_E_ELEMENTNOTFOUND;
    }
    oleaut::BstrOwner n, d, file;
    if (pBstrName && FAILED(StoreBstr(*name, n.receive()))) return E_OUTOFMEMORY;
    if (pBstrDocString && FAILED(StoreString(lib, doc, d.receive()))) return E_OUTOFMEMORY;
    if (pBstrHelpFile && FAILED(StoreString(lib, lib.helpFile, file.receive()))) return E_OUTOFMEMORY;
    if (pdwHelpContext) *pdwHelpContext = context;
    if (pBstrName) *pBstrName = n.release();
    if (pBstrDocString) *pBstrDocString = d.release();
    if (pBstrHelpFile) *pBstrHelpFile = file.release();
    return S_OK;
}

STDMETHODIMP TypeInfo::GetDllEntry(MEMBERID memid, INVOKEKIND invKind, BSTR *pBstrDllName, BSTR *pBstrName,
                                   WORD *pwOrdinal) {
    if (pBstrDllName) *pBstrDllName = nullptr;
    if (pBstrName) *pBstrName = nullptr;
    if (pwOrdinal) *pwOrdinal = 0;
    const Library &lib = lib_->Data();
    const TypeRecord &r = Record();
    if (r.kind != TKIND_MODULE) return TYPE_E_BADMODULEKIND;
    for (const Function &f : r.functions) {
        if (f.memid != memid || f.invkind != invKind) continue;
        oleaut::BstrOwner dll, entry;
        if (FAILED(StoreString(lib, r.dllName, dll.receive()))) return E_OUTOFMEMORY;
        if (f.entryIsOrdinal) {
            if (pwOrdinal) *pwOrdinal = static_cast<WORD>(f.entry);
        } else if (FAILED(StoreString(lib, f.entry, entry.receive()))) {
            return E_OUTOFMEMORY;
        }
        if (pBstrDllName) *pBstrDllName = dll.release();
        if (pBstrName) *pBstrName = entry.release();
        return S_OK;
    }
    return TYPE_E_ELEMENTNOTFOUND;
}

STDMETHODIMP TypeInfo::GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo **ppTInfo) {
    if (!ppTInfo) return E_INVALIDARG;
    *ppTInfo = nullptr;
    return lib_->ResolveHref(hRefType, ppTInfo);
}

STDMETHODIMP TypeInfo::AddressOfMember(MEMBERID, INVOKEKIND, PVOID *ppv) {
    if (ppv) *ppv = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP TypeInfo::CreateInstance(IUnknown *pUnkOuter, REFIID riid, PVOID *ppvObj) {
    if (!ppvObj) return E_INVALIDARG;
    *ppvObj = nullptr;
    const TypeRecord &r = Record();
    if (r.kind != TKIND_COCLASS) return TYPE_E_WRONGTYPEKIND;
    return CoCreateInstance(r.guid, pUnkOuter, CLSCTX_INPROC_SERVER, riid, ppvObj);
}

STDMETHODIMP TypeInfo::GetMops(MEMBERID, BSTR *pBstrMops) {
    if (pBstrMops) *pBstrMops = nullptr;
    return S_OK;
}

STDMETHODIMP TypeInfo::GetContainingTypeLib(ITypeLib **ppTLib, UINT *pIndex) {
    if (pIndex) *pIndex = static_cast<UINT>(index_);
    if (ppTLib) {
        lib_->AddRef();
        *ppTLib = lib_;
    }
    return S_OK;
}

STDMETHODIMP TypeInfo::GetTypeKind(TYPEKIND *pTypeKind) {
    if (!pTypeKind) return E_INVALIDARG;
    *pTypeKind = Record().dual && interfaceView_ ? TKIND_INTERFACE : Record().kind;
    return S_OK;
}

STDMETHODIMP TypeInfo::GetTypeFlags(ULONG *pTypeFlags) {
    if (!pTypeFlags) return E_INVALIDARG;
    *pTypeFlags = Record().flags;
    return S_OK;
}

STDMETHODIMP TypeInfo::GetFuncIndexOfMemId(MEMBERID memid, INVOKEKIND invKind, UINT *pFuncIndex) {
    if (!pFuncIndex) return E_INVALIDARG;
    const TypeRecord &r = Record();
    for (std::size_t i = 0; i < r.functions.size(); ++i) {
        if (r.functions[i].memid == memid && (r.functions[i].invkind & invKind)) {
            *pFuncIndex = static_cast<UINT>(i);
            return S_OK;
        }
    }
    return TYPE_E_ELEMENTNOTFOUND;
}

STDMETHODIMP TypeInfo::GetVarIndexOfMemId(MEMBERID memid, UINT *pVarIndex) {
    if (!pVarIndex) return E_INVALIDARG;
    const TypeRecord &r = Record();
    for (std::size_t i = 0; i < r.variables.size(); ++i) {
        if (r.variables[i].memid == memid) {
            *pVarIndex = static_cast<UINT>(i);
            return S_OK;
        }
    }
    return TYPE_E_ELEMENTNOTFOUND;
}

STDMETHODIMP TypeInfo::GetCustData(REFGUID guid, VARIANT *pVarVal) { return FindCustom(Record().custom, guid, pVarVal); }

STDMETHODIMP TypeInfo::GetFuncCustData(UINT index, REFGUID guid, VARIANT *pVarVal) {
    const TypeRecord &r = Record();
    if (index >= r.functions.size()) return TYPE_E_ELEMENTNOTFOUND;
    return FindCustom(r.functions[index].custom, guid, pVarVal);
}

STDMETHODIMP TypeInfo::GetParamCustData(UINT indexFunc, UINT indexParam, REFGUID guid, VARIANT *pVarVal) {
    const TypeRecord &r = Record();
    if (indexFunc >= r.functions.size() || indexParam >= r.functions[indexFunc].params.size())
        return TYPE_E_ELEMENTNOTFOUND;
    return FindCustom(r.functions[indexFunc].params[indexParam].custom, guid, pVarVal);
}

STDMETHODIMP TypeInfo::GetVarCustData(UINT index, REFGUID guid, VARIANT *pVarVal) {
    const TypeRecord &r = Record();
    if (index >= r.variables.size()) return TYPE_E_ELEMENTNOTFOUND;
    return FindCustom(r.variables[index].custom, guid, pVarVal);
}

STDMETHODIMP TypeInfo::GetImplTypeCustData(UINT index, REFGUID guid, VARIANT *pVarVal) {
    const TypeRecord &r = Record();
    if (index >= r.impls.size()) return TYPE_E_ELEMENTNOTFOUND;
    return FindCustom(r.impls[index].custom, guid, pVarVal);
}

STDMETHODIMP TypeInfo::GetDocumentation2(MEMBERID memid, LCID, BSTR *pbstrHelpString, DWORD *pdwHelpStringContext,
                                         BSTR *pbstrHelpStringDll) {
    if (pbstrHelpString) *pbstrHelpString = nullptr;
    if (pbstrHelpStringDll) *pbstrHelpStringDll = nullptr;
    const Library &lib = lib_->Data();
    const TypeRecord &r = Record();
    std::int32_t doc = -1;
    DWORD context = 0;
    bool found = memid == MEMBERID_NIL;
    if (found) {
        doc = r.docString;
        context = r.helpStringContext;
    }
    for (std::size_t i = 0; !found && i < r.functions.size(); ++i) {
        if (r.functions[i].memid == memid) {
            found = true;
            doc = r.functions[i].helpString;
            context = r.functions[i].helpStringContext;
        }
    }
    for (std::size_t i = 0; !found && i < r.variables.size(); ++i) {
        if (r.variables[i].memid == memid) {
            found = true;
            doc = r.variables[i].helpString;
            context = r.variables[i].helpStringContext;
        }
    }
    if (!found) return TYPE_E_ELEMENTNOTFOUND;
    oleaut::BstrOwner text, dll;
    if (FAILED(StoreString(lib, doc, text.receive())) || FAILED(StoreString(lib, lib.helpStringDll, dll.receive())))
        return E_OUTOFMEMORY;
    if (pdwHelpStringContext) *pdwHelpStringContext = context;
    if (pbstrHelpString) *pbstrHelpString = text.release();
    if (pbstrHelpStringDll) *pbstrHelpStringDll = dll.release();
    return S_OK;
}

STDMETHODIMP TypeInfo::GetAllCustData(CUSTDATA *pCustData) { return AllCustom(Record().custom, pCustData); }

STDMETHODIMP TypeInfo::GetAllFuncCustData(UINT index, CUSTDATA *pCustData) {
    const TypeRecord &r = Record();
    return AllCustom(index < r.functions.size() ? r.functions[index].custom : kNoCustom, pCustData);
}

STDMETHODIMP TypeInfo::GetAllParamCustData(UINT indexFunc, UINT indexParam, CUSTDATA *pCustData) {
    const TypeRecord &r = Record();
    if (indexFunc >= r.functions.size() || indexParam >= r.functions[indexFunc].params.size())
        return AllCustom(kNoCustom, pCustData);
    return AllCustom(r.functions[indexFunc].params[indexParam].custom, pCustData);
}

STDMETHODIMP TypeInfo::GetAllVarCustData(UINT index, CUSTDATA *pCustData) {
    const TypeRecord &r = Record();
    return AllCustom(index < r.variables.size() ? r.variables[index].custom : kNoCustom, pCustData);
}

STDMETHODIMP TypeInfo::GetAllImplTypeCustData(UINT index, CUSTDATA *pCustData) {
    const TypeRecord &r = Record();
    return AllCustom(index < r.impls.size() ? r.impls[index].custom : kNoCustom, pCustData);
}

}  // namespace comhost::typelib
