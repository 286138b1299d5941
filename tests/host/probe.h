// A hand-written IDispatch object without type information, for the tests
// of the script host's bridge.  Members:
//   Take(...)      records its arguments (copied) and returns nothing
//   Give(kind)     returns a VARIANT of the kind named ("i4", "cy", "date" ...)
//   Fill(ref)      writes "filled" (or a new Probe when ref holds a number)
//                  into a VT_BYREF|VT_VARIANT argument
//   Fail()         fails with DISP_E_EXCEPTION, scode 0x800A0BCD, "probe failed"
//   Strict(a, b)   DISP_E_TYPEMISMATCH on b unless it is a VT_BSTR
//   Count          property: get and put
//   (DISPID_VALUE) get: "probe value"; with an argument: "item:" + the argument as text
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

namespace probe {

enum : DISPID { kTake = 1, kGive, kFill, kFail, kStrict, kCount };

class Probe final : public IDispatch {
public:
    std::vector<VARIANT> taken;  // the last Take's arguments, first argument first
    WORD lastFlags = 0;
    LONG count = 3;

    Probe() = default;
    ~Probe() { ClearTaken(); }
    void ClearTaken() {
        for (VARIANT &v : taken) VariantClear(&v);
        taken.clear();
    }
    ULONG Refs() const { return refs_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
            *ppv = static_cast<IDispatch *>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *n) override {
        *n = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **p) override {
        *p = nullptr;
        return DISP_E_BADINDEX;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *names, UINT count, LCID, DISPID *ids) override {
        static const struct {
            const char16_t *name;
            DISPID id;
        } kNames[] = {{u"take", kTake}, {u"give", kGive},     {u"fill", kFill},
                      {u"fail", kFail}, {u"strict", kStrict}, {u"count", kCount}};
        if (count != 1) return DISP_E_UNKNOWNNAME;
        std::u16string name(reinterpret_cast<const char16_t *>(names[0]));
        for (char16_t &c : name)
            if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
        for (const auto &n : kNames) {
            if (name == n.name) {
                ids[0] = n.id;
                return S_OK;
            }
        }
        ids[0] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS *p, VARIANT *result,
                                     EXCEPINFO *ei, UINT *argErr) override {
        lastFlags = flags;
        switch (id) {
        case kTake:
            if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
            ClearTaken();
            for (UINT i = p->cArgs; i-- > 0;) {
                VARIANT copy;
                VariantInit(&copy);
                VariantCopy(&copy, &p->rgvarg[i]);
                taken.push_back(copy);
            }
            return S_OK;
        case kGive:
            if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
            if (p->cArgs != 1 || V_VT(&p->rgvarg[0]) != VT_BSTR) return DISP_E_TYPEMISMATCH;
            return Give(reinterpret_cast<const char16_t *>(V_BSTR(&p->rgvarg[0])), result);
        case kFill: {
            if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
            if (p->cArgs != 1 || V_VT(&p->rgvarg[0]) != (VT_BYREF | VT_VARIANT)) {
                if (argErr) *argErr = 0;
                return DISP_E_TYPEMISMATCH;
            }
            VARIANT *target = V_VARIANTREF(&p->rgvarg[0]);
            const bool object = V_VT(target) == VT_I4;
            VariantClear(target);
            if (object) {
                V_VT(target) = VT_DISPATCH;
                V_DISPATCH(target) = new Probe();
            } else {
                V_VT(target) = VT_BSTR;
                V_BSTR(target) = SysAllocString(OLESTR("filled"));
            }
            return S_OK;
        }
        case kFail:
            if (ei) {
                std::memset(ei, 0, sizeof(*ei));
                ei->scode = static_cast<SCODE>(0x800A0BCDUL);
                ei->bstrDescription = SysAllocString(OLESTR("probe failed"));
            }
            return DISP_E_EXCEPTION;
        case kStrict:
            if (p->cArgs != 2) return DISP_E_BADPARAMCOUNT;
            if (V_VT(&p->rgvarg[0]) != VT_BSTR) {
                if (argErr) *argErr = 0;
                return DISP_E_TYPEMISMATCH;
            }
            return S_OK;
        case kCount:
            if (flags & DISPATCH_PROPERTYPUT) {
                if (p->cArgs != 1 || V_VT(&p->rgvarg[0]) != VT_I4) return DISP_E_TYPEMISMATCH;
                count = V_I4(&p->rgvarg[0]);
                return S_OK;
            }
            if (p->cArgs != 0) return DISP_E_BADPARAMCOUNT;
            if (result) {
                V_VT(result) = VT_I4;
                V_I4(result) = count;
            }
            return S_OK;
        case DISPID_VALUE: {
            if (!result) return S_OK;
            if (p->cArgs == 0) {
                V_VT(result) = VT_BSTR;
                V_BSTR(result) = SysAllocString(OLESTR("probe value"));
                return S_OK;
            }
            VARIANT text;
            VariantInit(&text);
            HRESULT hr = VariantChangeType(&text, &p->rgvarg[p->cArgs - 1], 0, VT_BSTR);
            if (FAILED(hr)) return hr;
            std::u16string s = u"item:";
            s += reinterpret_cast<const char16_t *>(V_BSTR(&text));
            VariantClear(&text);
            V_VT(result) = VT_BSTR;
            V_BSTR(result) = SysAllocString(reinterpret_cast<const OLECHAR *>(s.c_str()));
            return S_OK;
        }
        default: return DISP_E_MEMBERNOTFOUND;
        }
    }

private:
    HRESULT Give(std::u16string kind, VARIANT *r) {
        if (!r) return S_OK;
        VariantInit(r);
        if (kind == u"empty") return S_OK;
        if (kind == u"null") V_VT(r) = VT_NULL;
        else if (kind == u"i1") { V_VT(r) = VT_I1; V_I1(r) = -5; }
        else if (kind == u"ui1") { V_VT(r) = VT_UI1; V_UI1(r) = 200; }
        else if (kind == u"i2") { V_VT(r) = VT_I2; V_I2(r) = -30000; }
        else if (kind == u"ui2") { V_VT(r) = VT_UI2; V_UI2(r) = 60000; }
        else if (kind == u"i4") { V_VT(r) = VT_I4; V_I4(r) = -2000000000; }
        else if (kind == u"ui4") { V_VT(r) = VT_UI4; V_UI4(r) = 4000000000U; }
        else if (kind == u"int") { V_VT(r) = VT_INT; V_INT(r) = 7; }
        else if (kind == u"i8") { V_VT(r) = VT_I8; V_I8(r) = -9007199254740991LL; }
        else if (kind == u"ui8") { V_VT(r) = VT_UI8; V_UI8(r) = 9007199254740991ULL; }
        else if (kind == u"r4") { V_VT(r) = VT_R4; V_R4(r) = 1.5f; }
        else if (kind == u"r8") { V_VT(r) = VT_R8; V_R8(r) = -0.125; }
        else if (kind == u"cy") { V_VT(r) = VT_CY; V_CY(r).int64 = 123456; }
        else if (kind == u"decimal") {
            DECIMAL d{};
            d.scale = 2;
            d.Lo64 = 12345;
            d.sign = DECIMAL_NEG;
            r->decVal = d;
            V_VT(r) = VT_DECIMAL;
        }
        else if (kind == u"true") { V_VT(r) = VT_BOOL; V_BOOL(r) = VARIANT_TRUE; }
        else if (kind == u"false") { V_VT(r) = VT_BOOL; V_BOOL(r) = VARIANT_FALSE; }
        else if (kind == u"bstr") { V_VT(r) = VT_BSTR; V_BSTR(r) = SysAllocString(reinterpret_cast<const OLECHAR *>(u"h\u00e9llo \U0001F600")); }
        else if (kind == u"nullbstr") { V_VT(r) = VT_BSTR; V_BSTR(r) = nullptr; }
        else if (kind == u"missing") { V_VT(r) = VT_ERROR; V_ERROR(r) = DISP_E_PARAMNOTFOUND; }
        else if (kind == u"error") { V_VT(r) = VT_ERROR; V_ERROR(r) = E_FAIL; }
        else if (kind == u"date") { V_VT(r) = VT_DATE; V_DATE(r) = 45293.75; }  // 2024-01-02 18:00
        else if (kind == u"dispatch") { V_VT(r) = VT_DISPATCH; V_DISPATCH(r) = new Probe(); }
        else if (kind == u"self") { V_VT(r) = VT_DISPATCH; V_DISPATCH(r) = this; AddRef(); }
        else if (kind == u"nulldispatch") { V_VT(r) = VT_DISPATCH; V_DISPATCH(r) = nullptr; }
        else if (kind == u"unknown") { V_VT(r) = VT_UNKNOWN; V_UNKNOWN(r) = new Probe(); }
        else if (kind == u"byref") {
            static LONG referent = 42;
            V_VT(r) = VT_BYREF | VT_I4;
            V_I4REF(r) = &referent;
        } else if (kind == u"array") {
            // 2 x 3 of VT_I4, bounds [1..2] x [0..2], element (i, j) = 10 * i + j
            SAFEARRAYBOUND bounds[2];
            bounds[0].lLbound = 1;  // leftmost dimension
            bounds[0].cElements = 2;
            bounds[1].lLbound = 0;
            bounds[1].cElements = 3;
            SAFEARRAY *a = SafeArrayCreate(VT_I4, 2, bounds);
            if (!a) return E_OUTOFMEMORY;
            for (LONG i = 1; i <= 2; ++i) {
                for (LONG j = 0; j <= 2; ++j) {
                    LONG index[2] = {i, j};  // leftmost dimension first
                    LONG value = 10 * i + j;
                    SafeArrayPutElement(a, index, &value);
                }
            }
            V_VT(r) = VT_ARRAY | VT_I4;
            V_ARRAY(r) = a;
        } else {
            return E_INVALIDARG;
        }
        return S_OK;
    }

    std::atomic<ULONG> refs_{1};
};

}  // namespace probe
