// Helpers for the tests of the host layer's ADO objects: owners for
// interface pointers and VARIANTs, object creation and error information.
#pragma once

#include <adoint.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>

namespace adotest {

constexpr GUID AdoGuid(DWORD first) {
    return GUID{first, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
}

inline constexpr GUID kCLSID_Recordset = AdoGuid(0x00000535);
inline constexpr GUID kCLSID_Command = AdoGuid(0x00000507);
inline constexpr GUID kCLSID_Parameter = AdoGuid(0x0000050B);
inline constexpr GUID kIID_Recordset15 = AdoGuid(0x0000050E);
inline constexpr GUID kIID_Recordset20 = AdoGuid(0x0000054F);
inline constexpr GUID kIID_Recordset21 = AdoGuid(0x00000555);
inline constexpr GUID kIID_Recordset = AdoGuid(0x00000556);
inline constexpr GUID kIID_Fields15 = AdoGuid(0x00000506);
inline constexpr GUID kIID_Fields20 = AdoGuid(0x0000054D);
inline constexpr GUID kIID_Fields = AdoGuid(0x00000564);
inline constexpr GUID kIID_Field20 = AdoGuid(0x0000054C);
inline constexpr GUID kIID_Field = AdoGuid(0x00000569);
inline constexpr GUID kIID_Command15 = AdoGuid(0x00000508);
inline constexpr GUID kIID_Command = {0xB08400BD, 0xF9D1, 0x4D02, {0xB8, 0x56, 0x71, 0xD5, 0xDB, 0xA1, 0x23, 0xE9}};
inline constexpr GUID kIID_Parameter = AdoGuid(0x0000050C);

constexpr HRESULT kItemNotFound = static_cast<HRESULT>(0x800A0CC1);
constexpr HRESULT kNoCurrentRecord = static_cast<HRESULT>(0x800A0BCD);
constexpr HRESULT kObjectClosed = static_cast<HRESULT>(0x800A0E78);
constexpr HRESULT kObjectOpen = static_cast<HRESULT>(0x800A0E79);
constexpr HRESULT kInvalidArgument = static_cast<HRESULT>(0x800A0BB9);
constexpr HRESULT kIllegalOperation = static_cast<HRESULT>(0x800A0C93);
constexpr HRESULT kFeatureNotAvailable = static_cast<HRESULT>(0x800A0CB3);
constexpr HRESULT kObjectInCollection = static_cast<HRESULT>(0x800A0D27);
constexpr HRESULT kObjectNotSet = static_cast<HRESULT>(0x800A0D5C);
constexpr HRESULT kDataConversion = static_cast<HRESULT>(0x800A0D5D);
constexpr HRESULT kProviderNotFound = static_cast<HRESULT>(0x800A0E7A);
constexpr HRESULT kInvalidConnection = static_cast<HRESULT>(0x800A0E7D);
constexpr HRESULT kOpeningFile = static_cast<HRESULT>(0x800A0BBA);
constexpr HRESULT kReadFile = static_cast<HRESULT>(0x800A0BBB);
constexpr HRESULT kFileExists = static_cast<HRESULT>(0x800A003A);
constexpr HRESULT kMultipleStep = static_cast<HRESULT>(0x80040E21);

// An owned interface pointer.
template <class T>
class Ptr {
public:
    Ptr() = default;
    Ptr(Ptr&& o) noexcept : m_p(std::exchange(o.m_p, nullptr)) {}
    Ptr& operator=(Ptr&& o) noexcept {
        reset();
        m_p = std::exchange(o.m_p, nullptr);
        return *this;
    }
    Ptr(const Ptr&) = delete;
    Ptr& operator=(const Ptr&) = delete;
    ~Ptr() { reset(); }
    void reset() {
        if (m_p)
            std::exchange(m_p, nullptr)->Release();
    }
    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    T** out() {
        reset();
        return &m_p;
    }
    void** outVoid() { return reinterpret_cast<void**>(out()); }
    explicit operator bool() const { return m_p != nullptr; }

private:
    T* m_p = nullptr;
};

// Number of references an object holds right now.
inline ULONG RefCount(IUnknown* p) {
    p->AddRef();
    return p->Release();
}

// An owned VARIANT built from a plain value.
class Var {
public:
    Var() { VariantInit(&m_v); }
    explicit Var(LONG value) : Var() {
        V_VT(&m_v) = VT_I4;
        V_I4(&m_v) = value;
    }
    explicit Var(double value) : Var() {
        V_VT(&m_v) = VT_R8;
        V_R8(&m_v) = value;
    }
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
    static Var Null() {
        Var v;
        V_VT(&v.m_v) = VT_NULL;
        return v;
    }
    static Var Missing() {
        Var v;
        V_VT(&v.m_v) = VT_ERROR;
        V_ERROR(&v.m_v) = DISP_E_PARAMNOTFOUND;
        return v;
    }
    Var(Var&& o) noexcept : Var() {
        m_v = o.m_v;
        VariantInit(&o.m_v);
    }
    Var& operator=(Var&& o) noexcept {
        VariantClear(&m_v);
        m_v = o.m_v;
        VariantInit(&o.m_v);
        return *this;
    }
    Var(const Var&) = delete;
    Var& operator=(const Var&) = delete;
    ~Var() { VariantClear(&m_v); }

    VARIANT& operator*() { return m_v; }
    const VARIANT& operator*() const { return m_v; }
    VARIANT* get() { return &m_v; }
    VARIANT* out() {
        VariantClear(&m_v);
        return &m_v;
    }
    VARTYPE vt() const { return V_VT(&m_v); }

private:
    VARIANT m_v;
};

inline std::u16string Text(BSTR s) {
    return s ? std::u16string(reinterpret_cast<const char16_t*>(s), SysStringLen(s)) : std::u16string();
}

inline std::u16string Text(const VARIANT& v) { return V_VT(&v) == VT_BSTR ? Text(V_BSTR(&v)) : u"<not a string>"; }

// An owned BSTR.
class Str {
public:
    explicit Str(const char16_t* text) : m_s(SysAllocString(reinterpret_cast<const OLECHAR*>(text))) {}
    Str(const Str&) = delete;
    Str& operator=(const Str&) = delete;
    ~Str() { SysFreeString(m_s); }
    BSTR get() const { return m_s; }

private:
    BSTR m_s;
};

struct Column {
    const char16_t* name;
    DataTypeEnum type;
    LONG size;
    LONG attributes;
};

inline Ptr<_Recordset> NewRecordset() {
    Ptr<_Recordset> rs;
    EXPECT_EQ(S_OK, CoCreateInstance(kCLSID_Recordset, nullptr, CLSCTX_INPROC_SERVER, kIID_Recordset, rs.outVoid()));
    return rs;
}

inline Ptr<Fields> FieldsOf(_Recordset* rs) {
    Ptr<Fields> fields;
    EXPECT_EQ(S_OK, rs->get_Fields(fields.out()));
    return fields;
}

// Appends columns to a closed recordset.
inline void AppendColumns(_Recordset* rs, std::initializer_list<Column> columns) {
    Ptr<Fields> fields = FieldsOf(rs);
    for (const Column& c : columns) {
        Str name(c.name);
        EXPECT_EQ(S_OK, fields->_Append(name.get(), c.type, c.size, static_cast<FieldAttributeEnum>(c.attributes)))
            << "appending " << std::string(c.name, c.name + std::char_traits<char16_t>::length(c.name));
    }
}

// A fabricated recordset, open, with rows of 32-bit integers added one by one
// (AddNew, Value, Update) and standing on its first row.
inline Ptr<_Recordset> Fabricate(std::initializer_list<Column> columns,
                                 std::initializer_list<std::initializer_list<LONG>> rows = {},
                                 LockTypeEnum lock = adLockBatchOptimistic) {
    Ptr<_Recordset> rs = NewRecordset();
    AppendColumns(rs.get(), columns);
    EXPECT_EQ(S_OK, rs->Open(*Var::Missing(), *Var::Missing(), adOpenUnspecified, lock, adCmdUnspecified));
    Ptr<Fields> fields = FieldsOf(rs.get());
    for (const auto& row : rows) {
        EXPECT_EQ(S_OK, rs->AddNew(*Var::Missing(), *Var::Missing()));
        LONG ordinal = 0;
        for (LONG value : row) {
            Ptr<Field> field;
            EXPECT_EQ(S_OK, fields->get_Item(*Var(ordinal++), field.out()));
            EXPECT_EQ(S_OK, field->put_Value(*Var(value)));
        }
        EXPECT_EQ(S_OK, rs->Update(*Var::Missing(), *Var::Missing()));
    }
    if (rows.size() != 0) {
        EXPECT_EQ(S_OK, rs->MoveFirst());
    }
    return rs;
}

// The value of a field of the current row (VT_EMPTY when it cannot be read).
inline Var ValueOf(_Recordset* rs, const Var& index) {
    Var value;
    Ptr<Fields> fields;
    Ptr<Field> field;
    if (SUCCEEDED(rs->get_Fields(fields.out())) && SUCCEEDED(fields->get_Item(*index, field.out())))
        field->get_Value(value.out());
    return value;
}

inline LONG I4(const Var& v) { return v.vt() == VT_I4 ? V_I4(&*v) : -999999; }

inline HRESULT PutValue(_Recordset* rs, const Var& index, const Var& value) {
    Ptr<Fields> fields;
    Ptr<Field> field;
    HRESULT hr = rs->get_Fields(fields.out());
    if (SUCCEEDED(hr))
        hr = fields->get_Item(*index, field.out());
    if (SUCCEEDED(hr))
        hr = field->put_Value(*value);
    return hr;
}

inline bool AtEof(_Recordset* rs) {
    VARIANT_BOOL b = VARIANT_FALSE;
    EXPECT_EQ(S_OK, rs->get_EOF(&b));
    return b == VARIANT_TRUE;
}

inline bool AtBof(_Recordset* rs) {
    VARIANT_BOOL b = VARIANT_FALSE;
    EXPECT_EQ(S_OK, rs->get_BOF(&b));
    return b == VARIANT_TRUE;
}

inline LONG Position(_Recordset* rs) {
    PositionEnum_Param p = adPosUnknown;
    EXPECT_EQ(S_OK, rs->get_AbsolutePosition(&p));
    return static_cast<LONG>(p);
}

inline LONG Count(_Recordset* rs) {
    LONG n = -1;
    EXPECT_EQ(S_OK, rs->get_RecordCount(&n));
    return n;
}

// Error information that a failed call left on the thread.
struct ErrorText {
    bool present = false;
    std::u16string description;
    std::u16string source;
    GUID guid{};
};

inline ErrorText TakeError() {
    ErrorText e;
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || !info)
        return e;
    e.present = true;
    BSTR s = nullptr;
    if (SUCCEEDED(info->GetDescription(&s)))
        e.description = Text(s);
    SysFreeString(s);
    s = nullptr;
    if (SUCCEEDED(info->GetSource(&s)))
        e.source = Text(s);
    SysFreeString(s);
    info->GetGUID(&e.guid);
    info->Release();
    return e;
}

inline void ClearError() {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) == S_OK && info)
        info->Release();
}

inline bool Contains(const std::u16string& text, const char16_t* part) { return text.find(part) != std::u16string::npos; }

// Prints u16 strings readably in assertion messages.
inline std::string Narrow(const std::u16string& s) {
    std::string out;
    for (char16_t c : s)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

}  // namespace adotest
