// Late-bound calls of ADOHelper: the type-info holder (loading from the
// registered library, the name cache, a failed load followed by success,
// out of memory while building the cache) and Invoke of the methods with
// script-style arguments against the host layer's ADO.
#include "frame_environment.h"

#include "../adohelper/ado_fixture.h"

#include <comhost/registry.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace nuv::test {
namespace {

CComTypeInfoHolder& Holder() {
    return IDispatchImpl<IADOHelper, &IID_IADOHelper, &LIBID_ADO_HELPERLib, 1, 0>::TypeInfoHolder();
}

void ForgetTypeInfo() { CComTypeInfoHolder::ReleaseTypeInfo(reinterpret_cast<DWORD_PTR>(&Holder())); }

HRESULT RegisterLibrary() {
    std::u16string path(NUV_ADOHELPER_TLB_PATH, NUV_ADOHELPER_TLB_PATH + std::strlen(NUV_ADOHELPER_TLB_PATH));
    CComPtr<ITypeLib> lib;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &lib);
    if (SUCCEEDED(hr))
        hr = RegisterTypeLib(lib.Get(), path.data(), nullptr);
    return hr;
}

DISPID IdOf(IDispatch* d, const char16_t* name) {
    std::u16string n(name);
    LPOLESTR names[1] = {n.data()};
    DISPID id = DISPID_UNKNOWN;
    EXPECT_EQ(S_OK, d->GetIDsOfNames(IID_NULL, names, 1, 0x409, &id)) << std::string(n.begin(), n.end());
    return id;
}

// A scratch registry and working directory for the suite; the library is
// registered by the first test, after it has seen the load fail.
class DispatchTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/nuv_dispatch_XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        s_dir = pattern;
        ASSERT_TRUE(ComHostRegistryUseFile((s_dir / "registry.db").string().c_str()));
        ForgetTypeInfo();
    }
    static void TearDownTestSuite() {
        ForgetTypeInfo();
        ComHostRegistryUseFile(nullptr);
        std::filesystem::remove_all(s_dir);
    }
    void SetUp() override {
        ASSERT_EQ(S_OK, CComObject<CNUVADOHelper>::CreateInstance(nullptr, IID_IDispatch,
                                                                  reinterpret_cast<void**>(&dispatch)));
        CComPtr<IErrorInfo> stale;
        GetErrorInfo(0, &stale);
    }
    HRESULT Call(DISPID id, std::initializer_list<VARIANT*> args, VARIANT* result) {
        std::vector<VARIANT> reversed;
        for (VARIANT* a : args)
            reversed.insert(reversed.begin(), *a);
        DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
        excep = EXCEPINFO{};
        return dispatch->Invoke(id, IID_NULL, 0x409, DISPATCH_METHOD, &params, result, &excep, &argErr);
    }
    void ClearException() {
        SysFreeString(excep.bstrSource);
        SysFreeString(excep.bstrDescription);
        SysFreeString(excep.bstrHelpFile);
        excep = EXCEPINFO{};
    }

    static inline std::filesystem::path s_dir;
    CComPtr<IDispatch> dispatch;
    EXCEPINFO excep{};
    UINT argErr = 0;
};

TEST_F(DispatchTest, AFailedLoadIsFollowedByRegistrationAndSuccess) {
    UINT count = 0;
    ASSERT_EQ(S_OK, dispatch->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
    EXPECT_EQ(E_POINTER, dispatch->GetTypeInfoCount(nullptr));

    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
    EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, dispatch->GetTypeInfo(0, 0x409, &info));
    EXPECT_EQ(nullptr, info);
    std::u16string name = u"RecordsetWrite";
    LPOLESTR names[1] = {name.data()};
    DISPID id = 0;
    EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, dispatch->GetIDsOfNames(IID_NULL, names, 1, 0x409, &id));
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, dispatch->Invoke(4, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr,
                                                        nullptr));
    EXPECT_FALSE(Holder().HasTypeInfo());

    ASSERT_EQ(S_OK, RegisterLibrary());
    ASSERT_EQ(S_OK, dispatch->GetIDsOfNames(IID_NULL, names, 1, 0x409, &id));
    EXPECT_EQ(4, id);
    EXPECT_TRUE(Holder().HasTypeInfo());
    EXPECT_TRUE(Holder().HasNameCache());

    // Every index gives the one type information.
    CComPtr<ITypeInfo> first, second, seventh;
    ASSERT_EQ(S_OK, dispatch->GetTypeInfo(0, 0x409, &first));
    ASSERT_EQ(S_OK, dispatch->GetTypeInfo(1, 0, &second));
    ASSERT_EQ(S_OK, dispatch->GetTypeInfo(7, 0x407, &seventh));
    EXPECT_EQ(first.Get(), second.Get());
    EXPECT_EQ(first.Get(), seventh.Get());
    EXPECT_EQ(E_POINTER, dispatch->GetTypeInfo(0, 0, nullptr));
}

TEST_F(DispatchTest, NamesFromTheCacheAndFromTheTypeInformation) {
    ASSERT_EQ(S_OK, RegisterLibrary());
    EXPECT_EQ(4, IdOf(dispatch.Get(), u"RecordsetWrite"));
    EXPECT_EQ(10, IdOf(dispatch.Get(), u"RecordsetLoadFromFile"));
    EXPECT_EQ(1, IdOf(dispatch.Get(), u"SetFieldNumericScaleProperty"));
    // Other case: not in the cache, found by the type information's rules.
    EXPECT_EQ(4, IdOf(dispatch.Get(), u"RECORDSETWRITE"));
    // Two names: the method and a parameter.
    std::u16string method = u"RecordsetWrite", param = u"recordset";
    LPOLESTR names[2] = {method.data(), param.data()};
    DISPID ids[2] = {0, 0};
    ASSERT_EQ(S_OK, dispatch->GetIDsOfNames(IID_NULL, names, 2, 0, ids));
    EXPECT_EQ(4, ids[0]);
    EXPECT_EQ(0, ids[1]);
    std::u16string unknown = u"NoSuchMethod";
    names[0] = unknown.data();
    EXPECT_EQ(DISP_E_UNKNOWNNAME, dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, ids));
}

TEST_F(DispatchTest, OutOfMemoryWhileBuildingTheNameCache) {
    ASSERT_EQ(S_OK, RegisterLibrary());
    bool cacheFailureSeen = false;
    for (LONG nth = 1; nth < 200; ++nth) {
        std::u16string name = u"RecordsetAddColumn";
        LPOLESTR names[1] = {name.data()};
        DISPID id = DISPID_UNKNOWN;
        ForgetTypeInfo();
        ComHostFailAllocation(nth);
        const HRESULT hr = dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
        const bool pending = ComHostAllocationFailurePending();
        ComHostFailAllocation(0);
        if (SUCCEEDED(hr)) {
            EXPECT_EQ(7, id);
        } else {
            EXPECT_EQ(E_OUTOFMEMORY, hr) << nth;
        }
        if (Holder().HasTypeInfo() && !Holder().HasNameCache()) {
            // The cache could not be built: the next call builds it.
            cacheFailureSeen = true;
            EXPECT_EQ(S_OK, hr);
            EXPECT_EQ(7, IdOf(dispatch.Get(), u"RecordsetAddColumn"));
            EXPECT_TRUE(Holder().HasNameCache());
        }
        if (pending)
            break;   // no injected failure was reached: every allocation was covered
    }
    EXPECT_TRUE(cacheFailureSeen);
}

class ScriptCallTest : public DispatchTest {
protected:
    void SetUp() override {
        DispatchTest::SetUp();
        ASSERT_EQ(S_OK, RegisterLibrary());
    }
    static Var Dispatch(IUnknown* p) {
        Var v;
        V_VT(&v) = VT_DISPATCH;
        IDispatch* d = nullptr;
        p->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d));
        V_DISPATCH(&v) = d;
        return v;
    }
    static CComPtr<Recordset15> Numbers() {
        return Fabricate({{u"n", adInteger, 4, adFldIsNullable}}, {{10}, {20}, {30}});
    }
};

TEST_F(ScriptCallTest, WritesAndPropertiesWithConvertedArguments) {
    CComPtr<Recordset15> rs = Numbers();
    Var result;
    Var r = Dispatch(rs.Get());
    Var index(u"n"), value(u"12"), steps(u"1");
    ASSERT_EQ(S_OK, Call(4, {&r, &index, &value, &steps}, &result));
    EXPECT_EQ(12, V_I4(&*ValueOf(rs.Get(), Var(u"n"))));
    EXPECT_EQ(2, PositionOf(rs.Get()));

    // Precision and scale of a column appended before Open.
    CComPtr<Recordset15> fresh = NewRecordset();
    CComPtr<ADOFields> fields;
    CComPtr<ADOField> field;
    ASSERT_EQ(S_OK, fresh->get_Fields(&fields));
    CComBSTR column(SysAllocString(OLESTR("amount")));
    ASSERT_EQ(S_OK, fields->_Append(column.Get(), adNumeric, 0, adFldUnspecified));
    Var f = Dispatch(fresh.Get());
    Var amount(u"amount"), precision(u"12"), scale(3.0), zero(LONG{0});
    ASSERT_EQ(S_OK, Call(2, {&f, &amount, &precision, &zero}, &result));
    ASSERT_EQ(S_OK, Call(1, {&f, &amount, &scale, &zero}, &result));
    ASSERT_EQ(S_OK, fields->get_Item(*Var(u"amount"), &field));
    BYTE p = 0, s = 0;
    field->get_Precision(&p);
    field->get_NumericScale(&s);
    EXPECT_EQ(12, p);
    EXPECT_EQ(3, s);

    // From a field of another recordset.
    CComPtr<Recordset15> input = Numbers();
    Var in = Dispatch(input.Get());
    Var inSteps(u"2");
    ASSERT_EQ(S_OK, Call(5, {&r, &index, &zero, &in, &index, &inSteps}, &result));
    EXPECT_EQ(30, V_I4(&*ValueOf(rs.Get(), Var(u"n"))));

    // A string that is no number is refused before the call, naming the argument.
    Var bad(u"many");
    EXPECT_EQ(DISP_E_TYPEMISMATCH, Call(4, {&r, &index, &value, &bad}, &result));
    EXPECT_EQ(0u, argErr);
}

TEST_F(ScriptCallTest, ColumnsParametersAndObjects) {
    CComPtr<Recordset15> closed = NewRecordset();
    Var r = Dispatch(closed.Get());
    Var name(u"extra"), type(u"3"), size(4.0), attrib(LONG{0}), result;
    ASSERT_EQ(S_OK, Call(7, {&r, &name, &type, &size, &attrib}, &result));
    CComPtr<ADOFields> fields;
    ASSERT_EQ(S_OK, closed->get_Fields(&fields));
    LONG count = 0;
    fields->get_Count(&count);
    EXPECT_EQ(1, count);
    ASSERT_EQ(S_OK, Call(8, {&r, &name}, &result));
    fields->get_Count(&count);
    EXPECT_EQ(0, count);

    // CommandCreateParameter's parameter is the call's result.
    CComPtr<Recordset15> rs = Numbers();
    CComPtr<Command15> command;
    ASSERT_EQ(S_OK, CoCreateInstance(kCLSID_Command, nullptr, CLSCTX_INPROC_SERVER, kIID_Command15,
                                     reinterpret_cast<void**>(&command)));
    Var c = Dispatch(command.Get()), rv = Dispatch(rs.Get());
    Var pname(u"p1"), ptype(LONG{adInteger}), dir(LONG{adParamInput}), psize(LONG{4}), n(u"n"), one(u"1");
    Var parameter;
    ASSERT_EQ(S_OK, Call(3, {&c, &pname, &ptype, &dir, &psize, &rv, &n, &one}, &parameter));
    ASSERT_EQ(VT_DISPATCH, V_VT(&*parameter));
    ASSERT_NE(nullptr, V_DISPATCH(&*parameter));

    // ParameterPutValueFromField takes it back as an argument.
    Var zero(LONG{0});
    ASSERT_EQ(S_OK, Call(9, {&parameter, &rv, &n, &zero}, &result));

    // RecordsetGetObjectFromField's object is the call's result.
    CComPtr<Recordset15> holder = Fabricate({{u"obj", adIUnknown, 0, adFldIsNullable}});
    ASSERT_EQ(S_OK, holder->AddNew(*Var::Missing(), *Var::Missing()));
    {
        CComPtr<ADOField> field;
        ASSERT_EQ(S_OK, holder->get_Fields(&fields));
        ASSERT_EQ(S_OK, fields->get_Item(*Var(LONG{0}), &field));
        ASSERT_EQ(S_OK, field->put_Value(*Var(static_cast<IUnknown*>(rs.Get()))));
    }
    ASSERT_EQ(S_OK, holder->Update(*Var::Missing(), *Var::Missing()));
    Var h = Dispatch(holder.Get()), obj(u"obj"), object;
    ASSERT_EQ(S_OK, Call(6, {&h, &obj, &zero}, &object));
    ASSERT_EQ(VT_UNKNOWN, V_VT(&*object));
    ASSERT_NE(nullptr, V_UNKNOWN(&*object));
}

TEST_F(ScriptCallTest, LoadFromFileFillsTheCallersVariable) {
    const std::filesystem::path previous = std::filesystem::current_path();
    const std::filesystem::path dir = s_dir / "work";
    std::filesystem::create_directories(dir / "data" / "recordsets");
    {
        // A saved recordset with one column "v" holding 33.
        CComPtr<Recordset15> rs = Fabricate({{u"v", adInteger, 4, adFldIsNullable}}, {{33}});
        const std::string path = (dir / "data" / "recordsets" / "recordset3.xml").string();
        Var target(std::u16string(path.begin(), path.end()).c_str());
        CComPtr<_ADORecordset> full;
        ASSERT_EQ(S_OK, rs->QueryInterface(kIID_Recordset, reinterpret_cast<void**>(&full)));
        ASSERT_EQ(S_OK, full->Save(*target, adPersistXML));
    }
    std::filesystem::current_path(dir);

    // A script variable (VT_BYREF|VT_VARIANT) receives the recordset.
    Var variable, three(u"3"), result;
    VARIANT ref;
    V_VT(&ref) = VT_BYREF | VT_VARIANT;
    ref.pvarVal = &variable;
    EXPECT_EQ(S_OK, Call(10, {&three, &ref}, &result));
    EXPECT_EQ(VT_EMPTY, V_VT(&*result));
    ASSERT_EQ(VT_DISPATCH, V_VT(&*variable));
    CComPtr<Recordset15> loaded;
    ASSERT_EQ(S_OK, V_DISPATCH(&*variable)->QueryInterface(kIID_Recordset15, reinterpret_cast<void**>(&loaded)));
    EXPECT_EQ(33, V_I4(&*ValueOf(loaded.Get(), Var(u"v"))));
    loaded.Release();

    // A typed reference (VT_BYREF|VT_DISPATCH) too.
    IDispatch* typed = nullptr;
    VARIANT typedRef;
    V_VT(&typedRef) = VT_BYREF | VT_DISPATCH;
    typedRef.ppdispVal = &typed;
    EXPECT_EQ(S_OK, Call(10, {&three, &typedRef}, &result));
    ASSERT_NE(nullptr, typed);
    typed->Release();

    // A missing file: the method's failure with ADO's description, and the
    // variable holds the new, closed recordset.
    Var other, four(LONG{4});
    ref.pvarVal = &other;
    EXPECT_EQ(DISP_E_EXCEPTION, Call(10, {&four, &ref}, &result));
    EXPECT_TRUE(FAILED(excep.scode));
    EXPECT_NE(nullptr, excep.bstrDescription);
    EXPECT_EQ(VT_DISPATCH, V_VT(&*other));
    ClearException();
    std::filesystem::current_path(previous);
}

TEST_F(ScriptCallTest, AnAggregatedObjectAnswersThroughItsContainedObject) {
    CountingOuter outer;
    CComPtr<IUnknown> inner;
    ASSERT_EQ(S_OK, CComAggObject<CNUVADOHelper>::CreateInstance(&outer, IID_IUnknown,
                                                                 reinterpret_cast<void**>(&inner)));
    outer.inner = inner.Get();
    CComPtr<IDispatch> aggregated;
    ASSERT_EQ(S_OK, inner->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&aggregated)));
    CComPtr<Recordset15> closed = NewRecordset();
    Var r = Dispatch(closed.Get()), name(u"x"), type(LONG{adInteger}), size(LONG{4}), attrib(LONG{0}), result;
    std::vector<VARIANT> reversed{*attrib, *size, *type, *name, *r};
    DISPPARAMS params{reversed.data(), nullptr, 5, 0};
    ASSERT_EQ(S_OK, aggregated->Invoke(7, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr));
    CComPtr<ADOFields> fields;
    ASSERT_EQ(S_OK, closed->get_Fields(&fields));
    LONG count = 0;
    fields->get_Count(&count);
    EXPECT_EQ(1, count);
    aggregated.Release();
    outer.inner = nullptr;
}

}  // namespace
}  // namespace nuv::test
