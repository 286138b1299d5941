// Visits everything a loaded library offers through ITypeLib and ITypeInfo,
// so that a damaged library that loads is read completely.
#pragma once

#include "typelib_test_util.h"

namespace typelib_test {

inline void WalkTypeInfo(ITypeInfo *info, int depth) {
    TYPEATTR *attr = nullptr;
    if (FAILED(info->GetTypeAttr(&attr))) return;
    const TYPEATTR a = *attr;
    info->ReleaseTypeAttr(attr);
    Bstr name, doc, file;
    info->GetDocumentation(MEMBERID_NIL, name.out(), doc.out(), nullptr, file.out());
    for (UINT i = 0; i < a.cFuncs; ++i) {
        FUNCDESC *f = nullptr;
        if (FAILED(info->GetFuncDesc(i, &f))) continue;
        BSTR names[16] = {};
        UINT count = 0;
        if (SUCCEEDED(info->GetNames(f->memid, names, 16, &count))) {
            for (UINT k = 0; k < count; ++k) SysFreeString(names[k]);
        }
        for (SHORT p = 0; p < f->cParams; ++p) {
            const TYPEDESC *t = &f->lprgelemdescParam[p].tdesc;
            while (t->vt == VT_PTR || t->vt == VT_SAFEARRAY) t = t->lptdesc;
            if (t->vt == VT_USERDEFINED && depth < 2) {
                Ptr<ITypeInfo> ref;
                if (SUCCEEDED(info->GetRefTypeInfo(t->hreftype, ref.out()))) WalkTypeInfo(ref.get(), depth + 1);
            }
        }
        info->ReleaseFuncDesc(f);
    }
    for (UINT i = 0; i < a.cVars; ++i) {
        VARDESC *v = nullptr;
        if (SUCCEEDED(info->GetVarDesc(i, &v))) info->ReleaseVarDesc(v);
    }
    for (UINT i = 0; i < a.cImplTypes; ++i) {
        HREFTYPE href = 0;
        INT flags = 0;
        info->GetImplTypeFlags(i, &flags);
        if (FAILED(info->GetRefTypeOfImplType(i, &href)) || depth >= 2) continue;
        Ptr<ITypeInfo> ref;
        if (SUCCEEDED(info->GetRefTypeInfo(href, ref.out()))) WalkTypeInfo(ref.get(), depth + 1);
    }
    HREFTYPE partner = 0;
    if (depth < 2 && SUCCEEDED(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &partner))) {
        Ptr<ITypeInfo> ref;
        if (SUCCEEDED(info->GetRefTypeInfo(partner, ref.out()))) WalkTypeInfo(ref.get(), depth + 1);
    }
    CUSTDATA cd{};
    if (SUCCEEDED(static_cast<ITypeInfo2 *>(info)->GetAllCustData(&cd))) {
        for (DWORD k = 0; k < cd.cCustData; ++k) VariantClear(&cd.prgCustData[k].varValue);
        CoTaskMemFree(cd.prgCustData);
    }
}

inline void WalkLibrary(ITypeLib *lib) {
    TLIBATTR *attr = nullptr;
    if (SUCCEEDED(lib->GetLibAttr(&attr))) lib->ReleaseTLibAttr(attr);
    Bstr name, doc, file;
    lib->GetDocumentation(-1, name.out(), doc.out(), nullptr, file.out());
    const UINT count = lib->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        Ptr<ITypeInfo> info;
        if (SUCCEEDED(lib->GetTypeInfo(i, info.out()))) WalkTypeInfo(info.get(), 0);
    }
    std::u16string probe = u"Value";
    BOOL found = FALSE;
    lib->IsName(probe.data(), 0, &found);
}

}  // namespace typelib_test
