// The reader against the widl-built libraries: ADO_HELPERLib (names,
// DISPIDs, vtable offsets, parameter flags, both views of the dual
// interface, imported types), the built-in stdole2 and ADO libraries, and
// the TYPELIB resource of the product's shared object.
#include "typelib_test_util.h"

#include <comhost/testing.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

using namespace typelib_test;

namespace {

const GUID kLibId = {0x1C8D13FE, 0x5005, 0x4D1E, {0x96, 0x43, 0x1B, 0xC8, 0xB3, 0x49, 0xDC, 0xAE}};
const GUID kIADOHelper = {0xCA87BF8E, 0x53FB, 0x4416, {0xB3, 0x52, 0x8A, 0x87, 0x88, 0xA6, 0xCD, 0x5D}};
const GUID kRecordset15 = {0x0000050E, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
const GUID kStdoleLib = {0x00020430, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const GUID kAdoLib = {0xEF53050B, 0x882E, 0x4776, {0xB6, 0x43, 0xED, 0xA4, 0x72, 0xE8, 0xE3, 0xF2}};
const GUID kWidlVersion = {0xDE77BA64, 0x517C, 0x11D1, {0xA2, 0xDA, 0x00, 0x00, 0xF8, 0x77, 0x3C, 0xE9}};

const char *const kMethods[] = {"SetFieldNumericScaleProperty", "SetFieldPrecisionProperty",
                                "CommandCreateParameter",       "RecordsetWrite",
                                "RecordsetWriteFromField",      "RecordsetGetObjectFromField",
                                "RecordsetAddColumn",           "RecordsetDeleteColumn",
                                "ParameterPutValueFromField",   "RecordsetLoadFromFile"};
const int kParamCounts[] = {4, 4, 9, 4, 6, 4, 5, 2, 4, 2};   // interface view, [retval] included

class AdoHelperLib : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, Load(TEST_ADOHELPER_TLB, lib.out()));
        ASSERT_EQ(S_OK, lib->GetTypeInfoOfGuid(kIADOHelper, dispatch.out()));
        HREFTYPE partner = 0;
        ASSERT_EQ(S_OK, dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &partner));
        ASSERT_EQ(S_OK, dispatch->GetRefTypeInfo(partner, vtable.out()));
    }
    Ptr<ITypeLib> lib;
    Ptr<ITypeInfo> dispatch;
    Ptr<ITypeInfo> vtable;
};

TEST_F(AdoHelperLib, LibraryAttributesAndTypes) {
    TLIBATTR *attr = nullptr;
    ASSERT_EQ(S_OK, lib->GetLibAttr(&attr));
    EXPECT_TRUE(IsEqualGUID(attr->guid, kLibId));
    EXPECT_EQ(0u, attr->lcid);
    EXPECT_EQ(SYS_WIN32, attr->syskind);
    EXPECT_EQ(1, attr->wMajorVerNum);
    EXPECT_EQ(0, attr->wMinorVerNum);
    EXPECT_EQ(0, attr->wLibFlags);
    lib->ReleaseTLibAttr(attr);

    Bstr name, doc;
    ASSERT_EQ(S_OK, lib->GetDocumentation(-1, name.out(), doc.out(), nullptr, nullptr));
    EXPECT_EQ("ADO_HELPERLib", name.text());
    EXPECT_EQ("ado_helper 1.0 Type Library", doc.text());

    ASSERT_EQ(3u, lib->GetTypeInfoCount());
    const TYPEKIND kinds[] = {TKIND_RECORD, TKIND_DISPATCH, TKIND_COCLASS};
    const char *names[] = {"StringParam", "IADOHelper", "NUVADOHelper"};
    for (UINT i = 0; i < 3; ++i) {
        TYPEKIND kind;
        ASSERT_EQ(S_OK, lib->GetTypeInfoType(i, &kind));
        EXPECT_EQ(kinds[i], kind);
        ASSERT_EQ(S_OK, lib->GetDocumentation(static_cast<INT>(i), name.out(), nullptr, nullptr, nullptr));
        EXPECT_EQ(names[i], name.text());
    }
    Ptr<ITypeInfo> none;
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, lib->GetTypeInfo(3, none.out()));
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, lib->GetTypeInfoOfGuid(kRecordset15, none.out()));
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, lib->GetDocumentation(3, name.out(), nullptr, nullptr, nullptr));

    VARIANT v;
    ASSERT_EQ(S_OK, static_cast<ITypeLib2 *>(lib.get())->GetCustData(kWidlVersion, &v));
    EXPECT_EQ(VT_UI4, v.vt);
    VariantClear(&v);
}

TEST_F(AdoHelperLib, DispatchViewListsTheTenMethodsByDispid) {
    TYPEATTR *attr = nullptr;
    ASSERT_EQ(S_OK, dispatch->GetTypeAttr(&attr));
    EXPECT_EQ(TKIND_DISPATCH, attr->typekind);
    EXPECT_EQ(10, attr->cFuncs);
    EXPECT_EQ(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE, attr->wTypeFlags);
    EXPECT_EQ(1, attr->cImplTypes);
    dispatch->ReleaseTypeAttr(attr);

    for (UINT i = 0; i < 10; ++i) {
        FUNCDESC *f = nullptr;
        ASSERT_EQ(S_OK, dispatch->GetFuncDesc(i, &f));
        EXPECT_EQ(static_cast<MEMBERID>(i + 1), f->memid);
        EXPECT_EQ(FUNC_DISPATCH, f->funckind);
        EXPECT_EQ(INVOKE_FUNC, f->invkind);
        EXPECT_EQ(kMethods[i], NameOf(dispatch.get(), f->memid));
        const bool retval = i == 2 || i == 5;
        EXPECT_EQ(kParamCounts[i] - (retval ? 1 : 0), f->cParams) << kMethods[i];
        // _Parameter** gives _Parameter*, IUnknown** gives VT_UNKNOWN.
        EXPECT_EQ(i == 2 ? VT_PTR : (i == 5 ? VT_UNKNOWN : VT_VOID), f->elemdescFunc.tdesc.vt) << kMethods[i];
        dispatch->ReleaseFuncDesc(f);
    }

    // CommandCreateParameter: _Parameter* is the late-bound result.
    FUNCDESC *f = nullptr;
    ASSERT_EQ(S_OK, dispatch->GetFuncDesc(2, &f));
    ASSERT_EQ(VT_PTR, f->elemdescFunc.tdesc.vt);
    EXPECT_EQ(VT_USERDEFINED, f->elemdescFunc.tdesc.lptdesc->vt);
    dispatch->ReleaseFuncDesc(f);

    BSTR names[6] = {};
    UINT count = 0;
    ASSERT_EQ(S_OK, dispatch->GetNames(4, names, 6, &count));
    ASSERT_EQ(5u, count);
    EXPECT_EQ("RecordsetWrite", Narrow(names[0]));
    EXPECT_EQ("recordset", Narrow(names[1]));
    EXPECT_EQ("Index", Narrow(names[2]));
    EXPECT_EQ("Value", Narrow(names[3]));
    EXPECT_EQ("StepsToMove", Narrow(names[4]));
    for (UINT i = 0; i < count; ++i) SysFreeString(names[i]);

    Bstr doc;
    ASSERT_EQ(S_OK, dispatch->GetDocumentation(10, nullptr, doc.out(), nullptr, nullptr));
    EXPECT_EQ("method RecordsetLoadFromFile", doc.text());
    ASSERT_EQ(S_OK, dispatch->GetDocumentation(MEMBERID_NIL, nullptr, doc.out(), nullptr, nullptr));
    EXPECT_EQ("IADOHelper Interface", doc.text());
}

TEST_F(AdoHelperLib, InterfaceViewKeepsVtableOffsetsAndParameterFlags) {
    TYPEATTR *attr = nullptr;
    ASSERT_EQ(S_OK, vtable->GetTypeAttr(&attr));
    EXPECT_EQ(TKIND_INTERFACE, attr->typekind);
    EXPECT_EQ(10, attr->cFuncs);
    EXPECT_EQ(17 * 4, attr->cbSizeVft);   // IUnknown, IDispatch and ten methods on a 32-bit library
    vtable->ReleaseTypeAttr(attr);

    for (UINT i = 0; i < 10; ++i) {
        FUNCDESC *f = nullptr;
        ASSERT_EQ(S_OK, vtable->GetFuncDesc(i, &f));
        EXPECT_EQ(FUNC_PUREVIRTUAL, f->funckind);
        EXPECT_EQ(CC_STDCALL, f->callconv);
        EXPECT_EQ(static_cast<SHORT>(28 + 4 * i), f->oVft) << kMethods[i];
        EXPECT_EQ(VT_HRESULT, f->elemdescFunc.tdesc.vt);
        EXPECT_EQ(kParamCounts[i], f->cParams);
        EXPECT_EQ(0, f->cParamsOpt);
        if (i == 2) {
            EXPECT_EQ(PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, f->lprgelemdescParam[8].paramdesc.wParamFlags);
        }
        if (i == 9) {
            EXPECT_EQ(PARAMFLAG_FIN, f->lprgelemdescParam[0].paramdesc.wParamFlags);
            EXPECT_EQ(VT_I4, f->lprgelemdescParam[0].tdesc.vt);
            EXPECT_EQ(PARAMFLAG_FOUT, f->lprgelemdescParam[1].paramdesc.wParamFlags);
            // Recordset15** : PTR -> PTR -> USERDEFINED
            const TYPEDESC &t = f->lprgelemdescParam[1].tdesc;
            ASSERT_EQ(VT_PTR, t.vt);
            ASSERT_EQ(VT_PTR, t.lptdesc->vt);
            ASSERT_EQ(VT_USERDEFINED, t.lptdesc->lptdesc->vt);
            Ptr<ITypeInfo> rs;
            ASSERT_EQ(S_OK, vtable->GetRefTypeInfo(t.lptdesc->lptdesc->hreftype, rs.out()));
            EXPECT_EQ("Recordset15", NameOf(rs.get()));
            TYPEATTR *ra = nullptr;
            ASSERT_EQ(S_OK, rs->GetTypeAttr(&ra));
            EXPECT_TRUE(IsEqualGUID(kRecordset15, ra->guid));
            EXPECT_TRUE(ra->wTypeFlags & TYPEFLAG_FDUAL);
            rs->ReleaseTypeAttr(ra);
        }
        if (i == 0) {
            EXPECT_EQ(VT_UI1, f->lprgelemdescParam[2].tdesc.vt);
            EXPECT_EQ(VT_VARIANT, f->lprgelemdescParam[1].tdesc.vt);
        }
        if (i == 2) {
            EXPECT_EQ(VT_INT, f->lprgelemdescParam[2].tdesc.vt);
        }
        vtable->ReleaseFuncDesc(f);
    }

    // The two views point at each other.
    HREFTYPE back = 0;
    ASSERT_EQ(S_OK, vtable->GetRefTypeOfImplType(static_cast<UINT>(-1), &back));
    Ptr<ITypeInfo> again;
    ASSERT_EQ(S_OK, vtable->GetRefTypeInfo(back, again.out()));
    TYPEKIND kind;
    ASSERT_EQ(S_OK, static_cast<ITypeInfo2 *>(again.get())->GetTypeKind(&kind));
    EXPECT_EQ(TKIND_DISPATCH, kind);
}

TEST_F(AdoHelperLib, BasesAndImportsResolveWithoutARegistry) {
    // Both views derive from IDispatch, which lives in the built-in stdole2.
    for (ITypeInfo *view : {dispatch.get(), vtable.get()}) {
        HREFTYPE base = 0;
        ASSERT_EQ(S_OK, view->GetRefTypeOfImplType(0, &base));
        Ptr<ITypeInfo> idispatch;
        ASSERT_EQ(S_OK, view->GetRefTypeInfo(base, idispatch.out()));
        EXPECT_EQ("IDispatch", NameOf(idispatch.get()));
        Ptr<ITypeLib> container;
        UINT index = 99;
        ASSERT_EQ(S_OK, idispatch->GetContainingTypeLib(container.out(), &index));
        TLIBATTR *attr = nullptr;
        ASSERT_EQ(S_OK, container->GetLibAttr(&attr));
        EXPECT_TRUE(IsEqualGUID(kStdoleLib, attr->guid));
        container->ReleaseTLibAttr(attr);
    }
    HREFTYPE none = 0;
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, dispatch->GetRefTypeOfImplType(1, &none));

    // The coclass implements IADOHelper as its default interface.
    Ptr<ITypeInfo> coclass;
    ASSERT_EQ(S_OK, lib->GetTypeInfo(2, coclass.out()));
    INT flags = 0;
    ASSERT_EQ(S_OK, coclass->GetImplTypeFlags(0, &flags));
    EXPECT_EQ(IMPLTYPEFLAG_FDEFAULT, flags);
    HREFTYPE href = 0;
    ASSERT_EQ(S_OK, coclass->GetRefTypeOfImplType(0, &href));
    Ptr<ITypeInfo> iface;
    ASSERT_EQ(S_OK, coclass->GetRefTypeInfo(href, iface.out()));
    EXPECT_EQ("IADOHelper", NameOf(iface.get()));
    HREFTYPE partner = 0;
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, coclass->GetRefTypeOfImplType(static_cast<UINT>(-1), &partner));

    // The record's one field.
    Ptr<ITypeInfo> record;
    ASSERT_EQ(S_OK, lib->GetTypeInfo(0, record.out()));
    VARDESC *var = nullptr;
    ASSERT_EQ(S_OK, record->GetVarDesc(0, &var));
    EXPECT_EQ(VAR_PERINSTANCE, var->varkind);
    EXPECT_EQ(VT_BSTR, var->elemdescVar.tdesc.vt);
    EXPECT_EQ(0u, var->oInst);
    EXPECT_EQ("str", NameOf(record.get(), var->memid));
    record->ReleaseVarDesc(var);
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, record->GetVarDesc(1, &var));
}

TEST_F(AdoHelperLib, NamesAreFoundWithoutRegardToCase) {
    std::u16string name = u"recordsetwrite", param = u"VALUE";
    LPOLESTR names[2] = {name.data(), param.data()};
    MEMBERID ids[2] = {0, 0};
    ASSERT_EQ(S_OK, dispatch->GetIDsOfNames(names, 2, ids));
    EXPECT_EQ(4, ids[0]);
    EXPECT_EQ(2, ids[1]);
    std::u16string unknown = u"NoSuchMethod";
    names[0] = unknown.data();
    EXPECT_EQ(DISP_E_UNKNOWNNAME, dispatch->GetIDsOfNames(names, 1, ids));
    EXPECT_EQ(DISPID_UNKNOWN, ids[0]);
    // Names of IDispatch are reached through the base.
    std::u16string inherited = u"GetTypeInfoCount";
    names[0] = inherited.data();
    EXPECT_EQ(S_OK, dispatch->GetIDsOfNames(names, 1, ids));

    UINT index = 0;
    auto *info2 = static_cast<ITypeInfo2 *>(dispatch.get());
    ASSERT_EQ(S_OK, info2->GetFuncIndexOfMemId(10, INVOKE_FUNC, &index));
    EXPECT_EQ(9u, index);
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, info2->GetFuncIndexOfMemId(10, INVOKE_PROPERTYGET, &index));

    BOOL found = FALSE;
    std::u16string probe = u"stepstomove";
    ASSERT_EQ(S_OK, lib->IsName(probe.data(), 0, &found));
    EXPECT_TRUE(found);
    EXPECT_EQ(u"StepsToMove", probe);
    std::u16string absent = u"nothing here";
    ASSERT_EQ(S_OK, lib->IsName(absent.data(), 0, &found));
    EXPECT_FALSE(found);

    ITypeInfo *infos[4] = {};
    MEMBERID memids[4] = {};
    USHORT count = 4;
    std::u16string method = u"RecordsetLoadFromFile";
    ASSERT_EQ(S_OK, lib->FindName(method.data(), 0, infos, memids, &count));
    ASSERT_EQ(1, count);
    EXPECT_EQ(10, memids[0]);
    EXPECT_EQ("IADOHelper", NameOf(infos[0]));
    infos[0]->Release();
}

TEST(BuiltinLibraries, LoadByLibidWithAnEmptyRegistry) {
    Ptr<ITypeLib> stdole, ado;
    ASSERT_EQ(S_OK, LoadRegTypeLib(kStdoleLib, 2, 0, 0, stdole.out()));
    ASSERT_EQ(S_OK, LoadRegTypeLib(kAdoLib, 2, 7, 0x409, ado.out()));
    EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, LoadRegTypeLib(kAdoLib, 2, 8, 0, ado.out()));
    EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, LoadRegTypeLib(kAdoLib, 3, 0, 0, ado.out()));
    ASSERT_EQ(S_OK, LoadRegTypeLib(kAdoLib, 2, 0, 0, ado.out()));

    Ptr<ITypeInfo> idispatch;
    const GUID iidDispatch = {0x00020400, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    ASSERT_EQ(S_OK, stdole->GetTypeInfoOfGuid(iidDispatch, idispatch.out()));
    TYPEATTR *attr = nullptr;
    ASSERT_EQ(S_OK, idispatch->GetTypeAttr(&attr));
    EXPECT_EQ(TKIND_INTERFACE, attr->typekind);
    EXPECT_EQ(4, attr->cFuncs);
    EXPECT_EQ(28, attr->cbSizeVft);
    idispatch->ReleaseTypeAttr(attr);

    // Recordset15.Fields is DISPID 0, a property get, through _ADO.
    Ptr<ITypeInfo> rs;
    ASSERT_EQ(S_OK, ado->GetTypeInfoOfGuid(kRecordset15, rs.out()));
    std::u16string name = u"Fields";
    LPOLESTR names[1] = {name.data()};
    MEMBERID id = -1;
    ASSERT_EQ(S_OK, rs->GetIDsOfNames(names, 1, &id));
    EXPECT_EQ(0, id);
    std::u16string inherited = u"Properties";
    names[0] = inherited.data();
    ASSERT_EQ(S_OK, rs->GetIDsOfNames(names, 1, &id));
    EXPECT_EQ(0x1F4, id);

    // Defaulted and optional parameters of Fields.Append.
    const GUID iidFields = {0x00000564, 0, 0x0010, {0x80, 0, 0, 0xAA, 0, 0x6D, 0x2E, 0xA4}};
    Ptr<ITypeInfo> fields;
    ASSERT_EQ(S_OK, ado->GetTypeInfoOfGuid(iidFields, fields.out()));
    FUNCDESC *f = nullptr;
    ASSERT_EQ(S_OK, fields->GetFuncDesc(0, &f));
    EXPECT_EQ("Append", NameOf(fields.get(), f->memid));
    ASSERT_EQ(5, f->cParams);
    EXPECT_TRUE(f->lprgelemdescParam[2].paramdesc.wParamFlags & PARAMFLAG_FHASDEFAULT);
    ASSERT_NE(nullptr, f->lprgelemdescParam[2].paramdesc.pparamdescex);
    EXPECT_EQ(VT_I4, f->lprgelemdescParam[2].paramdesc.pparamdescex->varDefaultValue.vt);
    EXPECT_EQ(0, f->lprgelemdescParam[2].paramdesc.pparamdescex->varDefaultValue.lVal);
    EXPECT_TRUE(f->lprgelemdescParam[4].paramdesc.wParamFlags & PARAMFLAG_FOPT);
    fields->ReleaseFuncDesc(f);

    // The built-in bytes are those widl wrote.
    Ptr<ITypeLib> fromFile;
    ASSERT_EQ(S_OK, Load(TEST_MSADO27_TLB, fromFile.out()));
    EXPECT_EQ(ado->GetTypeInfoCount(), fromFile->GetTypeInfoCount());
    ASSERT_EQ(S_OK, Load("msado27.tlb", fromFile.out()));   // a bare name finds the built-in one
    ASSERT_EQ(S_OK, Load("STDOLE2.TLB", fromFile.out()));
}

TEST(ModuleResource, TheSharedObjectCarriesTheSameLibrary) {
    Ptr<ITypeLib> fromSo, fromSo1, fromTlb, missing;
    ASSERT_EQ(S_OK, Load(TEST_PRODUCT_SO, fromSo.out()));
    ASSERT_EQ(S_OK, Load(TEST_PRODUCT_SO "\\1", fromSo1.out()));
    EXPECT_EQ(TYPE_E_CANTLOADLIBRARY, Load(TEST_PRODUCT_SO "\\2", missing.out()));
    EXPECT_EQ(TYPE_E_CANTLOADLIBRARY, Load("/nonexistent/dir/x.tlb", missing.out()));
    ASSERT_EQ(S_OK, Load(TEST_ADOHELPER_TLB, fromTlb.out()));
    for (ITypeLib *l : {fromSo.get(), fromSo1.get()}) {
        ASSERT_EQ(3u, l->GetTypeInfoCount());
        Ptr<ITypeInfo> a, b;
        ASSERT_EQ(S_OK, l->GetTypeInfoOfGuid(kIADOHelper, a.out()));
        ASSERT_EQ(S_OK, fromTlb->GetTypeInfoOfGuid(kIADOHelper, b.out()));
        for (UINT i = 0; i < 10; ++i) {
            FUNCDESC *fa = nullptr, *fb = nullptr;
            ASSERT_EQ(S_OK, a->GetFuncDesc(i, &fa));
            ASSERT_EQ(S_OK, b->GetFuncDesc(i, &fb));
            EXPECT_EQ(fa->memid, fb->memid);
            EXPECT_EQ(fa->oVft, fb->oVft);
            EXPECT_EQ(fa->cParams, fb->cParams);
            EXPECT_EQ(NameOf(a.get(), fa->memid), NameOf(b.get(), fb->memid));
            a->ReleaseFuncDesc(fa);
            b->ReleaseFuncDesc(fb);
        }
    }
}

TEST(Loading, ArgumentsAreChecked) {
    Ptr<ITypeLib> lib;
    EXPECT_EQ(E_INVALIDARG, LoadTypeLibEx(nullptr, REGKIND_NONE, lib.out()));
    EXPECT_EQ(E_INVALIDARG, LoadTypeLibEx(u"x.tlb", REGKIND_NONE, nullptr));
    EXPECT_EQ(E_INVALIDARG, LoadTypeLibEx(u"x.tlb", static_cast<REGKIND>(7), lib.out()));
    EXPECT_EQ(E_INVALIDARG, LoadRegTypeLib(kLibId, 1, 0, 0, nullptr));
}

TEST(Loading, OutOfMemoryFailsCleanly) {
    std::ifstream in(TEST_ADOHELPER_TLB, std::ios::binary);
    std::vector<BYTE> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(bytes.empty());
    bool succeeded = false;
    for (LONG nth = 1; nth < 40 && !succeeded; ++nth) {
        ComHostFailAllocation(nth);
        Ptr<ITypeLib> lib;
        HRESULT hr = ComHostLoadTypeLibFromMemory(bytes.data(), bytes.size(), lib.out());
        Ptr<ITypeInfo> info;
        FUNCDESC *f = nullptr;
        TYPEATTR *attr = nullptr;
        if (SUCCEEDED(hr)) hr = lib->GetTypeInfoOfGuid(kIADOHelper, info.out());
        if (SUCCEEDED(hr)) hr = info->GetTypeAttr(&attr);
        if (SUCCEEDED(hr)) {
            info->ReleaseTypeAttr(attr);
            hr = info->GetFuncDesc(2, &f);
        }
        if (SUCCEEDED(hr)) info->ReleaseFuncDesc(f);
        const bool pending = ComHostAllocationFailurePending();
        ComHostFailAllocation(0);
        if (SUCCEEDED(hr)) {
            succeeded = pending;   // done once no injected failure was reached
        } else {
            EXPECT_EQ(E_OUTOFMEMORY, hr) << "failure " << nth;
        }
    }
    EXPECT_TRUE(succeeded);
}

}  // namespace
