// Test support for the methods: the helper object, fabricated recordsets of
// the host layer's ADO, and small VARIANT builders.
#pragma once

#include "adohelper/adohelper.h"
#include "server/class_factory.h"

#include <comhost/testing.h>
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

namespace nuv::test {

const CLSID kCLSID_Command = {0x00000507, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
const IID kIID_Command15 = {0x00000508, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
const IID kIID_Recordset = {0x00000556, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
const IID kIID_Parameter = {0x0000050C, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};

// Number of references an object holds right now.
inline ULONG RefCount(IUnknown* p) {
    p->AddRef();
    return p->Release();
}

// An owned VARIANT built from a plain value.
class Var {
public:
    Var() { VariantInit(&m_v); }
    explicit Var(LONG value) : Var() { V_VT(&m_v) = VT_I4; V_I4(&m_v) = value; }
    explicit Var(double value) : Var() { V_VT(&m_v) = VT_R8; V_R8(&m_v) = value; }
    explicit Var(const char16_t* text) : Var() {
        V_VT(&m_v) = VT_BSTR;
        V_BSTR(&m_v) = SysAllocString(reinterpret_cast<const OLECHAR*>(text));
    }
    explicit Var(IUnknown* object) : Var() {
        V_VT(&m_v) = VT_UNKNOWN;
        V_UNKNOWN(&m_v) = object;
        if (object)
            object->AddRef();
    }
    static Var Null() { Var v; V_VT(&v.m_v) = VT_NULL; return v; }
    // ADO's "argument not given".
    static Var Missing() { Var v; V_VT(&v.m_v) = VT_ERROR; V_ERROR(&v.m_v) = DISP_E_PARAMNOTFOUND; return v; }
    Var(Var&& o) noexcept : Var() { m_v = o.m_v; VariantInit(&o.m_v); }
    Var(const Var&) = delete;
    Var& operator=(const Var&) = delete;
    ~Var() { VariantClear(&m_v); }

    VARIANT& operator*() { return m_v; }
    const VARIANT& operator*() const { return m_v; }
    VARIANT* operator&() { return &m_v; }

private:
    VARIANT m_v;
};

inline std::u16string Text(BSTR s) { return s ? std::u16string(reinterpret_cast<const char16_t*>(s)) : u""; }

struct Column {
    const char16_t* name;
    DataTypeEnum type;
    LONG size;
    FieldAttributeEnum attributes;
};

// A new, closed recordset of the host layer's ADO.
inline CComPtr<Recordset15> NewRecordset() {
    CComPtr<Recordset15> rs;
    EXPECT_EQ(S_OK, CoCreateInstance(kCLSID_Recordset, nullptr, CLSCTX_INPROC_SERVER, kIID_Recordset15,
                                     reinterpret_cast<void**>(rs.ReleaseAndGetAddressOf())));
    return rs;
}

// A fabricated recordset with these columns and rows, opened and standing on
// its first row.
inline CComPtr<Recordset15> Fabricate(std::initializer_list<Column> columns,
                                      std::initializer_list<std::initializer_list<LONG>> rows = {}) {
    CComPtr<Recordset15> rs = NewRecordset();
    CComPtr<ADOFields> fields;
    EXPECT_EQ(S_OK, rs->get_Fields(fields.ReleaseAndGetAddressOf()));
    for (const Column& c : columns) {
        BSTR name = SysAllocString(reinterpret_cast<const OLECHAR*>(c.name));
        EXPECT_EQ(S_OK, fields->_Append(name, c.type, c.size, c.attributes));
        SysFreeString(name);
    }
    EXPECT_EQ(S_OK, rs->Open(*Var::Missing(), *Var::Missing(), adOpenStatic, adLockOptimistic, adCmdUnspecified));
    for (const auto& row : rows) {
        EXPECT_EQ(S_OK, rs->AddNew(*Var::Missing(), *Var::Missing()));
        LONG ordinal = 0;
        for (LONG value : row) {
            CComPtr<ADOField> field;
            EXPECT_EQ(S_OK, fields->get_Item(*Var(ordinal++), field.ReleaseAndGetAddressOf()));
            EXPECT_EQ(S_OK, field->put_Value(*Var(value)));
        }
        EXPECT_EQ(S_OK, rs->Update(*Var::Missing(), *Var::Missing()));
    }
    if (rows.size() != 0) {
        EXPECT_EQ(S_OK, rs->MoveFirst());
    }
    return rs;
}

// The value of a field of the current row.
inline Var ValueOf(Recordset15* rs, Var index) {
    Var value;
    CComPtr<ADOFields> fields;
    CComPtr<ADOField> field;
    if (SUCCEEDED(rs->get_Fields(fields.ReleaseAndGetAddressOf())) && SUCCEEDED(fields->get_Item(*index, field.ReleaseAndGetAddressOf())))
        field->get_Value(&value);
    return value;
}

inline LONG PositionOf(Recordset15* rs) {
    PositionEnum_Param position = 0;
    rs->get_AbsolutePosition(&position);
    return static_cast<LONG>(position);
}

inline bool AtEof(Recordset15* rs) {
    VARIANT_BOOL b = VARIANT_FALSE;
    rs->get_EOF(&b);
    return b == VARIANT_TRUE;
}

inline bool AtBof(Recordset15* rs) {
    VARIANT_BOOL b = VARIANT_FALSE;
    rs->get_BOF(&b);
    return b == VARIANT_TRUE;
}

// The description of the thread's error information, taken from the thread.
inline std::u16string TakeErrorDescription() {
    CComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.ReleaseAndGetAddressOf()) != S_OK || !info)
        return u"";
    CComBSTR description;
    info->GetDescription(description.ReleaseAndGetAddressOf());
    return Text(description.Get());
}

// Every method test ends with as many host-layer objects, BSTRs and
// SAFEARRAYs alive as it began with: whatever a method or a test obtained has
// been released.  The check runs in the base destructor, after the derived
// fixture's members are gone.
class MethodTest : public ::testing::Test {
protected:
    MethodTest() {
        for (int kind = 0; kind < COMHOST_LIVE_KIND_COUNT; ++kind)
            m_liveBefore[kind] = ComHostLiveCount(static_cast<ComHostLiveKind>(kind));
    }
    ~MethodTest() override {
        SetErrorInfo(0, nullptr);   // error information left on the thread is no leak
        for (int kind = 0; kind < COMHOST_LIVE_KIND_COUNT; ++kind)
            EXPECT_EQ(m_liveBefore[kind], ComHostLiveCount(static_cast<ComHostLiveKind>(kind)))
                << "live count of kind " << kind;
    }
    void SetUp() override {
        ASSERT_EQ(S_OK, CComObject<CNUVADOHelper>::CreateInstance(nullptr, IID_IADOHelper,
                                                                  reinterpret_cast<void**>(helper.ReleaseAndGetAddressOf())));
        CComPtr<IErrorInfo> stale;
        GetErrorInfo(0, stale.ReleaseAndGetAddressOf());
    }

    CComPtr<IADOHelper> helper;

private:
    LONG m_liveBefore[COMHOST_LIVE_KIND_COUNT] = {};
};

}  // namespace nuv::test
