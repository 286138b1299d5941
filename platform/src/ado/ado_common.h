// Shared pieces of the ADO objects: identifiers, owners for VARIANTs and
// BSTRs, the error reporting that every object uses, and the guard that keeps
// C++ exceptions inside an interface method.
#pragma once

#include <adoint.h>
#include <comhost/allocation.h>
#include <oleauto.h>

#include <atomic>
#include <new>
#include <string>
#include <string_view>
#include <utility>

namespace comhost::typelib {
// The type information of iid in library libid, looked up once per process
// (../typelib/cached_typeinfo.cpp).
HRESULT CachedTypeInfo(REFGUID libid, WORD major, WORD minor, REFIID iid, ITypeInfo** out) noexcept;
}  // namespace comhost::typelib

namespace comhost::ado {

// ADO 2.7's type library (the "msado27.tlb" the host layer carries).
inline constexpr GUID kLIBID_ADODB = {0xEF53050B, 0x882E, 0x4776, {0xB6, 0x43, 0xED, 0xA4, 0x72, 0xE8, 0xE3, 0xF2}};

// ------------------------------------------------------------------ GUIDs
// The host layer keeps its own copies of ADO's identifiers so that it never
// defines the data symbols (IID_Recordset15 ...) that ADO clients define for
// themselves.

constexpr GUID MakeAdoGuid(DWORD first) {
    return GUID{first, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
}

inline constexpr GUID kIID_ADO = MakeAdoGuid(0x00000534);
inline constexpr GUID kIID_Collection = MakeAdoGuid(0x00000512);
inline constexpr GUID kIID_DynaCollection = MakeAdoGuid(0x00000513);
inline constexpr GUID kIID_Properties = MakeAdoGuid(0x00000504);
inline constexpr GUID kIID_Recordset15 = MakeAdoGuid(0x0000050E);
inline constexpr GUID kIID_Recordset20 = MakeAdoGuid(0x0000054F);
inline constexpr GUID kIID_Recordset21 = MakeAdoGuid(0x00000555);
inline constexpr GUID kIID_Recordset = MakeAdoGuid(0x00000556);
inline constexpr GUID kIID_Fields15 = MakeAdoGuid(0x00000506);
inline constexpr GUID kIID_Fields20 = MakeAdoGuid(0x0000054D);
inline constexpr GUID kIID_Fields = MakeAdoGuid(0x00000564);
inline constexpr GUID kIID_Field15 = MakeAdoGuid(0x00000505);
inline constexpr GUID kIID_Field20 = MakeAdoGuid(0x0000054C);
inline constexpr GUID kIID_Field = MakeAdoGuid(0x00000569);
inline constexpr GUID kIID_Command15 = MakeAdoGuid(0x00000508);
inline constexpr GUID kIID_Command25 = MakeAdoGuid(0x0000054E);
inline constexpr GUID kIID_Command = {0xB08400BD, 0xF9D1, 0x4D02, {0xB8, 0x56, 0x71, 0xD5, 0xDB, 0xA1, 0x23, 0xE9}};
inline constexpr GUID kIID_Parameter = MakeAdoGuid(0x0000050C);
inline constexpr GUID kIID_Parameters = MakeAdoGuid(0x0000050D);

inline constexpr GUID kCLSID_Recordset = MakeAdoGuid(0x00000535);
inline constexpr GUID kCLSID_Command = MakeAdoGuid(0x00000507);
inline constexpr GUID kCLSID_Parameter = MakeAdoGuid(0x0000050B);

// Well-known interfaces of the platform, under names of our own as well.
inline constexpr GUID kIID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr GUID kIID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr GUID kIID_ISupportErrorInfo = {0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
inline constexpr GUID kIID_IEnumVARIANT = {0x00020404, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

inline bool SameGuid(const GUID& a, const GUID& b) {
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
           std::char_traits<char>::compare(reinterpret_cast<const char*>(a.Data4),
                                           reinterpret_cast<const char*>(b.Data4), 8) == 0;
}

// ------------------------------------------------------------------ HRESULTs
// ADO reports its failures as FACILITY_CONTROL codes (ErrorValueEnum).

inline constexpr HRESULT kErrProviderFailed = static_cast<HRESULT>(0x800A0BB8);
inline constexpr HRESULT kErrInvalidArgument = static_cast<HRESULT>(0x800A0BB9);
inline constexpr HRESULT kErrOpeningFile = static_cast<HRESULT>(0x800A0BBA);
inline constexpr HRESULT kErrReadFile = static_cast<HRESULT>(0x800A0BBB);
inline constexpr HRESULT kErrWriteFile = static_cast<HRESULT>(0x800A0BBC);
inline constexpr HRESULT kErrNoCurrentRecord = static_cast<HRESULT>(0x800A0BCD);
inline constexpr HRESULT kErrIllegalOperation = static_cast<HRESULT>(0x800A0C93);
inline constexpr HRESULT kErrFeatureNotAvailable = static_cast<HRESULT>(0x800A0CB3);
inline constexpr HRESULT kErrItemNotFound = static_cast<HRESULT>(0x800A0CC1);
inline constexpr HRESULT kErrObjectInCollection = static_cast<HRESULT>(0x800A0D27);
inline constexpr HRESULT kErrObjectNotSet = static_cast<HRESULT>(0x800A0D5C);
inline constexpr HRESULT kErrDataConversion = static_cast<HRESULT>(0x800A0D5D);
inline constexpr HRESULT kErrObjectClosed = static_cast<HRESULT>(0x800A0E78);
inline constexpr HRESULT kErrObjectOpen = static_cast<HRESULT>(0x800A0E79);
inline constexpr HRESULT kErrProviderNotFound = static_cast<HRESULT>(0x800A0E7A);
inline constexpr HRESULT kErrInvalidParamInfo = static_cast<HRESULT>(0x800A0E7C);
inline constexpr HRESULT kErrInvalidConnection = static_cast<HRESULT>(0x800A0E7D);
// The run-time error that a first Save into an existing file raises.
inline constexpr HRESULT kErrFileAlreadyExists = static_cast<HRESULT>(0x800A003A);
// The OLE DB code for a value that a field refused; the field's Status says why.
inline constexpr HRESULT kErrMultipleStep = static_cast<HRESULT>(0x80040E21);

// Which ADO object reports an error; gives the error information's source.
enum class ErrorSource { Recordset, Fields, Field, Command, Parameters, Parameter, Properties };

// Sets the thread's error information for a failure of an ADO object:
// ADO's English description of `hr` (followed by `detail` when given, or
// replaced by it when `replace` is set), the object's source name and the
// interface the caller used.  Returns `hr`.  A failure that has no
// description (E_OUTOFMEMORY ...) clears the thread's error information, so
// that a caller never picks up a stale one.  When the error object cannot be
// made, the failure code alone is returned.
HRESULT ReportError(HRESULT hr, const GUID& iid, ErrorSource source, std::u16string_view detail = {},
                    bool replace = false);

// The description ADO gives for one of its failure codes (empty when none).
std::u16string_view DescriptionOf(HRESULT hr);

// Runs an interface method body; a C++ exception never leaves it.  Memory
// exhaustion becomes E_OUTOFMEMORY, anything else E_UNEXPECTED.
template <class Body>
HRESULT Guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

// ------------------------------------------------------------------ owners

// One owned VARIANT; cleared on destruction.  Movable, not copyable: copies
// are made with CopyFrom, which can fail.
class Variant {
public:
    Variant() noexcept { VariantInit(&m_v); }
    Variant(Variant&& other) noexcept : m_v(other.m_v) { VariantInit(&other.m_v); }
    Variant& operator=(Variant&& other) noexcept {
        if (this != &other) {
            VariantClear(&m_v);
            m_v = other.m_v;
            VariantInit(&other.m_v);
        }
        return *this;
    }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    ~Variant() { VariantClear(&m_v); }

    static Variant Null() noexcept {
        Variant v;
        V_VT(&v.m_v) = VT_NULL;
        return v;
    }

    VARIANT* get() noexcept { return &m_v; }
    const VARIANT* get() const noexcept { return &m_v; }
    VARIANT& operator*() noexcept { return m_v; }
    const VARIANT& operator*() const noexcept { return m_v; }
    VARTYPE vt() const noexcept { return V_VT(&m_v); }

    void Clear() noexcept { VariantClear(&m_v); }
    // Deep copy of `source` (a by-reference value stays a reference).
    HRESULT CopyFrom(const VARIANT& source) noexcept {
        VariantClear(&m_v);
        return VariantCopy(&m_v, const_cast<VARIANT*>(&source));
    }
    // Deep copy with references followed.
    HRESULT CopyIndFrom(const VARIANT& source) noexcept {
        VariantClear(&m_v);
        return VariantCopyInd(&m_v, const_cast<VARIANT*>(&source));
    }
    // Hands the value over to `target`, which must be empty or garbage.
    void DetachTo(VARIANT* target) noexcept {
        *target = m_v;
        VariantInit(&m_v);
    }

private:
    VARIANT m_v;
};

// One owned BSTR.
class Bstr {
public:
    Bstr() noexcept = default;
    explicit Bstr(BSTR owned) noexcept : m_s(owned) {}
    Bstr(Bstr&& other) noexcept : m_s(std::exchange(other.m_s, nullptr)) {}
    Bstr& operator=(Bstr&& other) noexcept {
        if (this != &other) {
            SysFreeString(m_s);
            m_s = std::exchange(other.m_s, nullptr);
        }
        return *this;
    }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { SysFreeString(m_s); }

    BSTR get() const noexcept { return m_s; }
    BSTR release() noexcept { return std::exchange(m_s, nullptr); }

private:
    BSTR m_s = nullptr;
};

// An owned interface reference.
template <class T>
class Ref {
public:
    Ref() noexcept = default;
    // Takes over a reference the caller already owns.
    static Ref Adopt(T* p) noexcept {
        Ref r;
        r.m_p = p;
        return r;
    }
    // Adds a reference of its own.
    static Ref Share(T* p) noexcept {
        if (p)
            p->AddRef();
        return Adopt(p);
    }
    Ref(Ref&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        if (this != &other) {
            reset();
            m_p = std::exchange(other.m_p, nullptr);
        }
        return *this;
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { reset(); }

    void reset() noexcept {
        if (T* p = std::exchange(m_p, nullptr))
            p->Release();
    }
    T* get() const noexcept { return m_p; }
    T* operator->() const noexcept { return m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }
    T* release() noexcept { return std::exchange(m_p, nullptr); }

private:
    T* m_p = nullptr;
};

// A new BSTR holding `text`; throws std::bad_alloc when it cannot be made.
BSTR AllocBstr(std::u16string_view text);

// The characters of a BSTR (a null BSTR is the empty string).
inline std::u16string_view View(BSTR s) noexcept {
    return s ? std::u16string_view(reinterpret_cast<const char16_t*>(s), SysStringLen(s)) : std::u16string_view();
}

// Case-insensitive comparison of names as ADO compares field names.
bool SameName(std::u16string_view a, std::u16string_view b) noexcept;

// ------------------------------------------------------------------ objects

// The IUnknown and IDispatch parts that every ADO object shares.  Late-bound
// calls are answered from the type information of the object's primary
// interface (ITypeInfo::Invoke calls the object's own vtable).
template <class Derived, class Primary>
class DispatchObject : public Primary, public ISupportErrorInfo, private comhost::LiveObject {
public:
    ULONG STDMETHODCALLTYPE AddRef() override { return m_refs.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = m_refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0)
            delete static_cast<Derived*>(this);
        return left;
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (SameGuid(riid, kIID_ISupportErrorInfo)) {
            *ppv = static_cast<ISupportErrorInfo*>(this);
        } else if (SameGuid(riid, kIID_IUnknown) || SameGuid(riid, kIID_IDispatch) ||
                   static_cast<Derived*>(this)->AnswersInterface(riid)) {
            *ppv = static_cast<Primary*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }

    // Late-bound calls are answered from the ADO library's description of
    // the object's primary interface (default members and _NewEnum included).
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override {
        if (!pctinfo)
            return E_POINTER;
        *pctinfo = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** ppTInfo) override {
        if (!ppTInfo)
            return E_POINTER;
        *ppTInfo = nullptr;
        if (index != 0)
            return DISP_E_BADINDEX;
        return PrimaryTypeInfo(ppTInfo);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override {
        if (!SameGuid(riid, GUID_NULL))
            return DISP_E_UNKNOWNINTERFACE;
        ITypeInfo* info = nullptr;
        HRESULT hr = PrimaryTypeInfo(&info);
        if (FAILED(hr))
            return hr;
        hr = info->GetIDsOfNames(names, count, ids);
        info->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* excep, UINT* argErr) override {
        if (!SameGuid(riid, GUID_NULL))
            return DISP_E_UNKNOWNINTERFACE;
        ITypeInfo* info = nullptr;
        HRESULT hr = PrimaryTypeInfo(&info);
        if (FAILED(hr))
            return hr;
        hr = info->Invoke(static_cast<Primary*>(this), id, flags, params, result, excep, argErr);
        info->Release();
        return hr;
    }

    // Every interface of the object reports its failures through error info.
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
        return static_cast<Derived*>(this)->AnswersInterface(riid) ? S_OK : S_FALSE;
    }

protected:
    DispatchObject() = default;

    HRESULT PrimaryTypeInfo(ITypeInfo** out) noexcept {
        return ::comhost::typelib::CachedTypeInfo(kLIBID_ADODB, 2, 7, __uuidof(Primary), out);
    }
    virtual ~DispatchObject() = default;

private:
    std::atomic<ULONG> m_refs{1};
};

}  // namespace comhost::ado
