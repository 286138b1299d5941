// ITypeInfo::Invoke against a small object implementing ICalls (calls.idl):
// argument order and conversion, properties, by-reference and [out]
// parameters (the VT_BYREF|VT_VARIANT extension included), [out, retval],
// optional and defaulted parameters, and the dispatch errors.
#include "typelib_test_util.h"

#include "calls_h.h"

#include <algorithm>
#include <cstdio>
#include <string>

using namespace typelib_test;

namespace {

class CallsObject final : public ICalls, public ISupportErrorInfo {
public:
    explicit CallsObject(double level = 0) : level_(level) {}

    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IDispatch) || IsEqualGUID(riid, IID_ICalls))
            *ppv = static_cast<ICalls *>(this);
        else if (IsEqualGUID(riid, IID_ISupportErrorInfo))
            *ppv = static_cast<ISupportErrorInfo *>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG n = --refs_;
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override {
        return IsEqualGUID(riid, IID_ICalls) ? S_OK : S_FALSE;
    }
    // IDispatch is not what these tests exercise.
    STDMETHODIMP GetTypeInfoCount(UINT *) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *, EXCEPINFO *, UINT *) override {
        return E_NOTIMPL;
    }

    STDMETHODIMP Add(LONG a, LONG b, LONG *sum) override {
        *sum = a + b;
        return S_OK;
    }
    STDMETHODIMP Concat(BSTR a, BSTR b, BSTR *joined) override {
        std::u16string s(a ? a : u"");
        s += b ? b : u"";
        *joined = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
        return *joined ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP get_Level(double *value) override {
        *value = level_;
        return S_OK;
    }
    STDMETHODIMP put_Level(double value) override {
        level_ = value;
        return S_OK;
    }
    STDMETHODIMP Swap(LONG *a, LONG *b) override {
        const LONG t = *a;
        *a = *b;
        *b = t;
        return S_OK;
    }
    STDMETHODIMP Options(LONG a, VARIANT b, LONG c, LONG *result) override {
        LONG middle = 0;
        if (b.vt == VT_I4) middle = b.lVal;
        else if (!(b.vt == VT_ERROR && b.scode == DISP_E_PARAMNOTFOUND)) middle = 9;
        *result = a * 100 + middle * 10 + c;
        return S_OK;
    }
    STDMETHODIMP Fail(LONG code) override {
        ICreateErrorInfo *create = nullptr;
        if (SUCCEEDED(CreateErrorInfo(&create))) {
            create->SetSource(const_cast<LPOLESTR>(u"Calls"));
            create->SetDescription(const_cast<LPOLESTR>(u"failed on purpose"));
            IErrorInfo *info = nullptr;
            if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void **>(&info)))) {
                SetErrorInfo(0, info);
                info->Release();
            }
            create->Release();
        }
        return static_cast<HRESULT>(code);
    }
    STDMETHODIMP Partner(ICalls *other, LONG *level) override {
        if (!other) return E_POINTER;
        double d = 0;
        other->get_Level(&d);
        *level = static_cast<LONG>(d);
        return S_OK;
    }
    STDMETHODIMP Make(LONG level, ICalls **made) override {
        if (*made) (*made)->Release();   // reads and replaces what it is given
        *made = new CallsObject(level);
        return S_OK;
    }
    STDMETHODIMP Mixed(BYTE b, SHORT s, double d, float f, VARIANT v, VARIANT_BOOL flag, VARIANT *text) override {
        char buffer[128];
        std::snprintf(buffer, sizeof buffer, "%u|%d|%g|%g|%d|%d", b, s, d, static_cast<double>(f), v.vt, flag);
        std::u16string wide(buffer, buffer + std::char_traits<char>::length(buffer));
        text->vt = VT_BSTR;
        text->bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
        return S_OK;
    }
    STDMETHODIMP Nothing() override {
        ++nothingCalls;
        return S_OK;
    }

    int nothingCalls = 0;

private:
    ~CallsObject() = default;
    LONG refs_ = 1;
    double level_;
};

VARIANT I4(LONG v) {
    VARIANT x;
    x.vt = VT_I4;
    x.lVal = v;
    return x;
}
VARIANT R8(double v) {
    VARIANT x;
    x.vt = VT_R8;
    x.dblVal = v;
    return x;
}
VARIANT Str(const char16_t *s) {
    VARIANT x;
    x.vt = VT_BSTR;
    x.bstrVal = SysAllocString(s);
    return x;
}

// Arguments in call order; DISPPARAMS wants them reversed.
struct Args {
    std::vector<VARIANT> items;
    std::vector<DISPID> named;
    explicit Args(std::initializer_list<VARIANT> list) : items(list.begin(), list.end()) {
        std::reverse(items.begin(), items.end());
    }
    ~Args() {
        for (VARIANT &v : items) VariantClear(&v);
    }
    DISPPARAMS params() {
        return DISPPARAMS{items.empty() ? nullptr : items.data(), named.empty() ? nullptr : named.data(),
                          static_cast<UINT>(items.size()), static_cast<UINT>(named.size())};
    }
};

class InvokeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, Load(TEST_CALLS_TLB, lib.out()));
        ASSERT_EQ(S_OK, lib->GetTypeInfoOfGuid(IID_ICalls, info.out()));
        object = new CallsObject(1.5);
        VariantInit(&result);
    }
    void TearDown() override {
        VariantClear(&result);
        object->Release();
    }
    HRESULT Call(DISPID id, Args &args, WORD flags = DISPATCH_METHOD) {
        DISPPARAMS p = args.params();
        VariantClear(&result);
        argErr = 12345;
        return info->Invoke(static_cast<ICalls *>(object), id, flags, &p, &result, &excep, &argErr);
    }
    Ptr<ITypeLib> lib;
    Ptr<ITypeInfo> info;
    CallsObject *object = nullptr;
    VARIANT result;
    EXCEPINFO excep{};
    UINT argErr = 0;
};

TEST_F(InvokeTest, ArgumentsArriveInOrderConvertedToTheirTypes) {
    Args add{Str(u"40"), R8(2.4)};
    ASSERT_EQ(S_OK, Call(1, add));
    EXPECT_EQ(VT_I4, result.vt);
    EXPECT_EQ(42, result.lVal);

    Args concat{I4(12), Str(u"ab")};
    ASSERT_EQ(S_OK, Call(2, concat));
    ASSERT_EQ(VT_BSTR, result.vt);
    EXPECT_EQ(std::u16string(u"12ab"), result.bstrVal);

    Args mixed{Str(u"200"), I4(3), Str(u"1.5"), I4(2), Str(u"v"), I4(-1)};
    ASSERT_EQ(S_OK, Call(9, mixed));
    ASSERT_EQ(VT_BSTR, result.vt);
    EXPECT_EQ(std::u16string(u"200|3|1.5|2|8|-1"), result.bstrVal);

    Args none{};
    ASSERT_EQ(S_OK, Call(10, none));
    EXPECT_EQ(VT_EMPTY, result.vt);
    EXPECT_EQ(1, object->nothingCalls);

    // The interface view calls the same table of operations.
    HREFTYPE partner = 0;
    Ptr<ITypeInfo> vtable;
    ASSERT_EQ(S_OK, info->GetRefTypeOfImplType(static_cast<UINT>(-1), &partner));
    ASSERT_EQ(S_OK, info->GetRefTypeInfo(partner, vtable.out()));
    Args again{I4(1), I4(2)};
    DISPPARAMS p = again.params();
    ASSERT_EQ(S_OK, vtable->Invoke(static_cast<ICalls *>(object), 1, DISPATCH_METHOD, &p, &result, nullptr, nullptr));
    EXPECT_EQ(3, result.lVal);
}

TEST_F(InvokeTest, ConversionFailuresNameTheArgument) {
    Args add{Str(u"abc"), I4(1)};
    EXPECT_EQ(DISP_E_TYPEMISMATCH, Call(1, add));
    EXPECT_EQ(1u, argErr);   // the first argument is the last entry
    Args second{I4(1), Str(u"x")};
    EXPECT_EQ(DISP_E_TYPEMISMATCH, Call(1, second));
    EXPECT_EQ(0u, argErr);
    Args big{I4(70000), I4(1), R8(1), R8(1), I4(0), I4(0)};
    const HRESULT hr = Call(9, big);
    EXPECT_TRUE(hr == DISP_E_OVERFLOW || hr == DISP_E_TYPEMISMATCH) << std::hex << hr;
    EXPECT_EQ(5u, argErr);
}

TEST_F(InvokeTest, PropertiesNeedTheNamedPutArgument) {
    Args get{};
    ASSERT_EQ(S_OK, Call(3, get, DISPATCH_PROPERTYGET));
    EXPECT_EQ(VT_R8, result.vt);
    EXPECT_EQ(1.5, result.dblVal);

    Args put{Str(u"2.5")};
    put.named.push_back(DISPID_PROPERTYPUT);
    ASSERT_EQ(S_OK, Call(3, put, DISPATCH_PROPERTYPUT));
    Args unnamed{R8(4)};
    EXPECT_EQ(DISP_E_PARAMNOTFOUND, Call(3, unnamed, DISPATCH_PROPERTYPUT));
    // Scripts ask for "method or property get".
    ASSERT_EQ(S_OK, Call(3, get, DISPATCH_METHOD | DISPATCH_PROPERTYGET));
    EXPECT_EQ(2.5, result.dblVal);
}

TEST_F(InvokeTest, ByReferenceArgumentsAreWrittenBack) {
    LONG a = 1, b = 2;
    VARIANT ra, rb;
    ra.vt = VT_BYREF | VT_I4;
    ra.plVal = &a;
    rb.vt = VT_BYREF | VT_I4;
    rb.plVal = &b;
    Args direct{ra, rb};
    ASSERT_EQ(S_OK, Call(4, direct));
    EXPECT_EQ(2, a);
    EXPECT_EQ(1, b);

    // Script variables: VARIANTs by reference, converted in and written back.
    VARIANT va = Str(u"7"), vb;
    vb.vt = VT_I2;
    vb.iVal = 9;
    VARIANT ref1, ref2;
    ref1.vt = VT_BYREF | VT_VARIANT;
    ref1.pvarVal = &va;
    ref2.vt = VT_BYREF | VT_VARIANT;
    ref2.pvarVal = &vb;
    Args script{ref1, ref2};
    ASSERT_EQ(S_OK, Call(4, script));
    EXPECT_EQ(VT_I4, va.vt);
    EXPECT_EQ(9, va.lVal);
    EXPECT_EQ(VT_I4, vb.vt);
    EXPECT_EQ(7, vb.lVal);

    // A value where a reference is declared.
    Args byValue{I4(1), I4(2)};
    EXPECT_EQ(DISP_E_TYPEMISMATCH, Call(4, byValue));
    EXPECT_EQ(1u, argErr);
}

TEST_F(InvokeTest, OutInterfaceThroughDispatchOrVariantReference) {
    IDispatch *made = nullptr;
    VARIANT ref;
    ref.vt = VT_BYREF | VT_DISPATCH;
    ref.ppdispVal = &made;
    Args direct{I4(5), ref};
    ASSERT_EQ(S_OK, Call(8, direct));
    ASSERT_NE(nullptr, made);
    double level = 0;
    static_cast<ICalls *>(made)->get_Level(&level);
    EXPECT_EQ(5, level);

    // A script variable holding the previous object: read, replaced, written back.
    VARIANT var;
    var.vt = VT_DISPATCH;
    var.pdispVal = made;
    VARIANT vref;
    vref.vt = VT_BYREF | VT_VARIANT;
    vref.pvarVal = &var;
    Args script{Str(u"6"), vref};
    ASSERT_EQ(S_OK, Call(8, script));
    ASSERT_EQ(VT_DISPATCH, var.vt);
    ASSERT_NE(nullptr, var.pdispVal);
    static_cast<ICalls *>(var.pdispVal)->get_Level(&level);
    EXPECT_EQ(6, level);
    VariantClear(&var);

    // An empty variable receives a new object too.
    VARIANT empty;
    VariantInit(&empty);
    vref.pvarVal = &empty;
    Args fresh{I4(8), vref};
    ASSERT_EQ(S_OK, Call(8, fresh));
    EXPECT_EQ(VT_DISPATCH, empty.vt);
    VariantClear(&empty);
}

TEST_F(InvokeTest, InterfaceArgumentsAreAskedForTheDeclaredInterface) {
    CallsObject *other = new CallsObject(33);
    VARIANT v;
    v.vt = VT_DISPATCH;
    v.pdispVal = static_cast<ICalls *>(other);
    Args partner{v};
    ASSERT_EQ(S_OK, Call(7, partner));
    EXPECT_EQ(33, result.lVal);

    Ptr<ITypeLib> unrelated;
    ASSERT_EQ(S_OK, Load(TEST_STDOLE2_TLB, unrelated.out()));
    VARIANT wrong;
    wrong.vt = VT_UNKNOWN;
    wrong.punkVal = unrelated.get();
    unrelated.get()->AddRef();
    Args mismatch{wrong};
    EXPECT_EQ(DISP_E_TYPEMISMATCH, Call(7, mismatch));
    EXPECT_EQ(0u, argErr);

    VARIANT nothing;
    VariantInit(&nothing);
    Args null{nothing};
    EXPECT_EQ(DISP_E_EXCEPTION, Call(7, null));
    EXPECT_EQ(E_POINTER, excep.scode);
}

TEST_F(InvokeTest, OptionalDefaultedAndNamedParameters) {
    Args one{I4(1)};
    ASSERT_EQ(S_OK, Call(5, one));
    EXPECT_EQ(107, result.lVal);
    Args two{I4(1), I4(2)};
    ASSERT_EQ(S_OK, Call(5, two));
    EXPECT_EQ(127, result.lVal);
    Args three{I4(1), I4(2), I4(3)};
    ASSERT_EQ(S_OK, Call(5, three));
    EXPECT_EQ(123, result.lVal);
    VARIANT missing;
    missing.vt = VT_ERROR;
    missing.scode = DISP_E_PARAMNOTFOUND;
    Args skipped{I4(1), missing, I4(3)};
    ASSERT_EQ(S_OK, Call(5, skipped));
    EXPECT_EQ(103, result.lVal);

    // c:=5 by name (named arguments come first in rgvarg), a by position.
    Args named{I4(1), I4(5)};
    named.named.push_back(2);
    ASSERT_EQ(S_OK, Call(5, named));
    EXPECT_EQ(105, result.lVal);
    std::u16string method = u"Options", param = u"C";
    LPOLESTR names[2] = {method.data(), param.data()};
    DISPID ids[2];
    ASSERT_EQ(S_OK, info->GetIDsOfNames(names, 2, ids));
    EXPECT_EQ(5, ids[0]);
    EXPECT_EQ(2, ids[1]);

    Args badName{I4(1), I4(5)};
    badName.named.push_back(9);
    EXPECT_EQ(DISP_E_PARAMNOTFOUND, Call(5, badName));
    EXPECT_EQ(0u, argErr);
    Args none{};
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, Call(5, none));
    Args four{I4(1), I4(2), I4(3), I4(4)};
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, Call(5, four));
    Args extra{I4(1)};
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, Call(10, extra));
}

TEST_F(InvokeTest, FailuresBecomeExceptionsWithErrorInformation) {
    Args fail{I4(static_cast<LONG>(0x80040123))};
    ASSERT_EQ(DISP_E_EXCEPTION, Call(6, fail));
    EXPECT_EQ(static_cast<SCODE>(0x80040123), excep.scode);
    ASSERT_NE(nullptr, excep.bstrDescription);
    EXPECT_EQ(std::u16string(u"failed on purpose"), excep.bstrDescription);
    EXPECT_EQ(std::u16string(u"Calls"), excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrHelpFile);

    Args none{};
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, Call(99, none));
    Args add{I4(1), I4(2)};
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, Call(1, add, DISPATCH_PROPERTYGET));
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, Call(3, add, DISPATCH_PROPERTYPUTREF));
    EXPECT_EQ(E_INVALIDARG, info->Invoke(static_cast<ICalls *>(object), 1, DISPATCH_METHOD, nullptr, &result,
                                         nullptr, nullptr));
}

TEST_F(InvokeTest, StandardDispatchAnswersThroughTheTypeInformation) {
    IUnknown *unknown = nullptr;
    ASSERT_EQ(S_OK, CreateStdDispatch(nullptr, static_cast<ICalls *>(object), info.get(), &unknown));
    Ptr<IDispatch> dispatch;
    ASSERT_EQ(S_OK, unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void **>(dispatch.out())));
    unknown->Release();
    std::u16string name = u"Add";
    LPOLESTR names[1] = {name.data()};
    DISPID id = 0;
    ASSERT_EQ(S_OK, dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, &id));
    Args add{I4(20), I4(22)};
    DISPPARAMS p = add.params();
    ASSERT_EQ(S_OK, dispatch->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &p, &result, nullptr, nullptr));
    EXPECT_EQ(42, result.lVal);

    VARIANT param;
    ASSERT_EQ(S_OK, DispGetParam(&p, 1, VT_BSTR, &param, nullptr));
    EXPECT_EQ(std::u16string(u"22"), param.bstrVal);
    VariantClear(&param);
    EXPECT_EQ(DISP_E_PARAMNOTFOUND, DispGetParam(&p, 2, VT_I4, &param, nullptr));
}

}  // namespace
