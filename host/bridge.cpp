// Values between JavaScript and VARIANTs, and the proxies that stand for COM
// objects in scripts.
//
//   JavaScript            VARIANT
//   number (integer that  VT_I4
//     fits 32 bits)
//   other number          VT_R8
//   string                VT_BSTR
//   boolean               VT_BOOL
//   null                  VT_NULL
//   undefined             VT_ERROR DISP_E_PARAMNOTFOUND (an omitted argument)
//   Date                  VT_DATE (local time)
//   COM object            VT_DISPATCH, or VT_UNKNOWN when it has no IDispatch
//   VBArray               VT_ARRAY of its own element type (a copy)
//   Array                 VT_ARRAY | VT_VARIANT, one dimension from 0
//
// Back, every integer and floating type, VT_CY and VT_DECIMAL become numbers,
// VT_DATE a Date, VT_EMPTY undefined, VT_ERROR DISP_E_PARAMNOTFOUND undefined
// (other VT_ERRORs their code), arrays VBArray objects, references their
// referent.
//
// A member read on a proxy is a property get when the type information says
// the member is a property that needs no argument, and otherwise a function
// that, called on the object, invokes the member with
// DISPATCH_METHOD | DISPATCH_PROPERTYGET.  Objects without type information
// are tried with a property get first.  Calling the proxy itself invokes its
// default member (DISPID_VALUE); when that takes no argument and is given
// some, the arguments go to the default member of its value, so that
// rs("name") reaches rs.Fields.Item("name").

#include "bridge.h"

#include "text.h"

#include <cmath>
#include <cstring>
#include <new>

namespace comscript {
namespace {

State *g_state = nullptr;

constexpr const char *kPtr = COMSCRIPT_HIDDEN("ptr");
constexpr const char *kHandler = COMSCRIPT_HIDDEN("handler");
constexpr const char *kFinalizer = COMSCRIPT_HIDDEN("finalizer");
constexpr const char *kMethods = COMSCRIPT_HIDDEN("methods");
constexpr const char *kDispid = COMSCRIPT_HIDDEN("dispid");
constexpr const char *kToString = COMSCRIPT_HIDDEN("tostring");
constexpr const char *kValueOf = COMSCRIPT_HIDDEN("valueof");
constexpr const char *kVBArrayProto = COMSCRIPT_HIDDEN("vbarrayproto");

// Pushes a value kept in the global stash.
void PushStashed(duk_context *ctx, const char *key) {
    duk_push_global_stash(ctx);
    duk_get_prop_string(ctx, -1, key);
    duk_remove(ctx, -2);
}

Holder *HolderOf(duk_context *ctx, duk_idx_t idx) {
    if (!duk_is_object(ctx, idx)) return nullptr;
    duk_get_prop_literal(ctx, idx, COMSCRIPT_HIDDEN("ptr"));
    auto *h = static_cast<Holder *>(duk_get_pointer(ctx, -1));
    duk_pop(ctx);
    return h;
}

std::string GuidKey(const GUID &g) { return std::string(reinterpret_cast<const char *>(&g), sizeof(g)); }

// Collects the member kinds of an interface and of the interfaces it derives
// from (IDispatch and IUnknown excluded).
void CollectKinds(ITypeInfo *info, TypeCache &cache, int depth) {
    TYPEATTR *attr = nullptr;
    if (depth > 16 || FAILED(info->GetTypeAttr(&attr)) || !attr) return;
    const bool base = IsEqualGUID(attr->guid, IID_IDispatch) || IsEqualGUID(attr->guid, IID_IUnknown);
    const WORD funcs = attr->cFuncs, vars = attr->cVars, impls = attr->cImplTypes;
    info->ReleaseTypeAttr(attr);
    if (base) return;
    for (WORD i = 0; i < funcs; ++i) {
        FUNCDESC *fd = nullptr;
        if (FAILED(info->GetFuncDesc(i, &fd)) || !fd) continue;
        MemberKind &k = cache.kinds[fd->memid];
        switch (fd->invkind) {
        case INVOKE_FUNC: k.method = true; break;
        case INVOKE_PROPERTYGET: {
            short required = static_cast<short>(fd->cParams - fd->cParamsOpt);
            // An [out, retval] parameter of an interface function is not an argument.
            if (fd->funckind != FUNC_DISPATCH && fd->cParams > 0 &&
                (fd->lprgelemdescParam[fd->cParams - 1].paramdesc.wParamFlags & PARAMFLAG_FRETVAL))
                --required;
            k.getRequired = k.get ? std::min(k.getRequired, required) : required;
            k.get = true;
            break;
        }
        case INVOKE_PROPERTYPUT: k.put = true; break;
        case INVOKE_PROPERTYPUTREF: k.putRef = true; break;
        }
        info->ReleaseFuncDesc(fd);
    }
    for (WORD i = 0; i < vars; ++i) {
        VARDESC *vd = nullptr;
        if (FAILED(info->GetVarDesc(i, &vd)) || !vd) continue;
        MemberKind &k = cache.kinds[vd->memid];
        k.get = true;
        k.put = !(vd->wVarFlags & VARFLAG_FREADONLY);
        info->ReleaseVarDesc(vd);
    }
    for (WORD i = 0; i < impls; ++i) {
        HREFTYPE ref = 0;
        ComPtr<ITypeInfo> baseInfo;
        if (SUCCEEDED(info->GetRefTypeOfImplType(i, &ref)) &&
            SUCCEEDED(info->GetRefTypeInfo(ref, baseInfo.receive())) && baseInfo)
            CollectKinds(baseInfo.get(), cache, depth + 1);
    }
}

// The shared cache of an object's interface, made on first sight; null when
// the object gives no type information.
TypeCache *TypeCacheOf(IDispatch *disp) {
    UINT count = 0;
    if (FAILED(disp->GetTypeInfoCount(&count)) || count == 0) return nullptr;
    ComPtr<ITypeInfo> info;
    if (FAILED(disp->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.receive())) || !info) return nullptr;
    TYPEATTR *attr = nullptr;
    if (FAILED(info->GetTypeAttr(&attr)) || !attr) return nullptr;
    const std::string key = GuidKey(attr->guid);
    info->ReleaseTypeAttr(attr);
    State *s = g_state;
    auto found = s->types.find(key);
    if (found != s->types.end()) return found->second.get();
    auto cache = std::make_unique<TypeCache>();
    CollectKinds(info.get(), *cache, 0);
    TypeCache *result = cache.get();
    s->types.emplace(key, std::move(cache));
    return result;
}

// Looks a member name up, through the caches; the member stays in the cache.
HRESULT Resolve(Holder *h, const char *name, size_t length, Member **out) {
    std::string key(name, length);
    auto &names = h->type ? h->type->byName : h->ownNames;
    auto found = names.find(key);
    if (found != names.end()) {
        *out = &found->second;
        return S_OK;
    }
    std::u16string wide = ToUtf16(key);
    LPOLESTR names1[1] = {reinterpret_cast<LPOLESTR>(wide.data())};
    Member m;
    HRESULT hr = h->disp->GetIDsOfNames(IID_NULL, names1, 1, LOCALE_USER_DEFAULT, &m.id);
    if (FAILED(hr)) return hr;
    if (h->type) {
        auto kind = h->type->kinds.find(m.id);
        if (kind != h->type->kinds.end()) {
            m.described = true;
            m.kind = kind->second;
        }
    }
    *out = &names.emplace(std::move(key), m).first->second;
    return S_OK;
}

// The VARIANT arguments of one call, cleared when it goes.  Arguments given
// as ByRef holders are passed as VT_BYREF | VT_VARIANT to a VARIANT of
// their own, read back after the call.
template <size_t N>
class SmallVariants {
public:
    SmallVariants() = default;
    SmallVariants(const SmallVariants &) = delete;
    SmallVariants &operator=(const SmallVariants &) = delete;
    ~SmallVariants() {
        for (size_t i = 0; i < size_; ++i) VariantClear(&data()[i]);
    }
    void resize(size_t n) {  // once, from empty
        if (n > N) more_.resize(n);
        size_ = n;
        for (size_t i = 0; i < n; ++i) VariantInit(&data()[i]);
    }
    VARIANT *data() { return size_ > N ? more_.data() : inline_; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    VARIANT &operator[](size_t i) { return data()[i]; }

private:
    VARIANT inline_[N];
    std::vector<VARIANT> more_;
    size_t size_ = 0;
};

struct CallArguments {
    SmallVariants<8> args;   // in DISPPARAMS order (last argument first)
    SmallVariants<2> boxed;  // the referents of by-reference arguments
    std::vector<duk_idx_t> boxIndex;
};

bool IsByRef(duk_context *ctx, duk_idx_t idx) {
    if (!duk_is_object(ctx, idx) || duk_is_function(ctx, idx)) return false;
    const bool marked = duk_get_prop_literal(ctx, idx, COMSCRIPT_HIDDEN("byref")) != 0;
    duk_pop(ctx);
    return marked;
}

HRESULT PrepareArguments(duk_context *ctx, duk_idx_t first, duk_idx_t count, CallArguments &ca, Failure &f) {
    ca.args.resize(static_cast<size_t>(count));
    size_t boxes = 0;
    for (duk_idx_t i = 0; i < count; ++i) boxes += IsByRef(ctx, first + i) ? 1 : 0;
    ca.boxed.resize(boxes);
    size_t box = 0;
    for (duk_idx_t i = 0; i < count; ++i) {
        const duk_idx_t idx = first + i;
        VARIANT &slot = ca.args[static_cast<size_t>(count - 1 - i)];
        HRESULT hr;
        if (IsByRef(ctx, idx)) {
            duk_get_prop_string(ctx, idx, "value");
            VARIANT &inner = ca.boxed[box++];
            hr = duk_is_undefined(ctx, -1) ? S_OK : JsToVariant(ctx, -1, &inner);
            duk_pop(ctx);
            V_VT(&slot) = VT_BYREF | VT_VARIANT;
            V_VARIANTREF(&slot) = &inner;
            ca.boxIndex.push_back(idx);
        } else {
            hr = JsToVariant(ctx, idx, &slot);
        }
        if (FAILED(hr)) {
            f = FailureOf(hr);
            f.argument = static_cast<int>(i) + 1;
            return hr;
        }
    }
    return S_OK;
}

Failure FailureOfInvoke(HRESULT hr, EXCEPINFO *ei, UINT argErr, UINT argCount) {
    Failure f;
    if (hr == DISP_E_EXCEPTION) {
        if (ei->pfnDeferredFillIn) ei->pfnDeferredFillIn(ei);
        f.hr = ei->scode ? ei->scode : (ei->wCode ? static_cast<HRESULT>(0x800A0000UL | ei->wCode) : hr);
        if (ei->bstrDescription) f.description.assign(reinterpret_cast<const char16_t *>(ei->bstrDescription),
                                                      SysStringLen(ei->bstrDescription));
        if (f.description.empty()) f.description = FailureOf(f.hr).description;
        return f;
    }
    f = FailureOf(hr);
    if ((hr == DISP_E_TYPEMISMATCH || hr == DISP_E_PARAMNOTFOUND) && argErr < argCount) {
        f.argument = static_cast<int>(argCount - argErr);
        std::string suffix = " (argument " + std::to_string(f.argument) + ")";
        f.description += ToUtf16(suffix);
    }
    return f;
}

}  // namespace

HRESULT InvokeMember(duk_context *ctx, Holder *h, DISPID id, WORD flags, duk_idx_t first, duk_idx_t count,
               VARIANT *result, Failure &f) {
    if (!h->disp) {
        f = FailureOf(h->unk ? E_NOINTERFACE : E_UNEXPECTED);
        if (!h->unk) f.description = u"The object has been released.";
        return f.hr;
    }
    CallArguments ca;
    HRESULT hr = PrepareArguments(ctx, first, count, ca, f);
    if (FAILED(hr)) return hr;
    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS params{};
    params.rgvarg = ca.args.empty() ? nullptr : ca.args.data();
    params.cArgs = static_cast<UINT>(ca.args.size());
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
        params.rgdispidNamedArgs = &putId;
        params.cNamedArgs = 1;
    }
    ExcepInfo ei;
    UINT argErr = static_cast<UINT>(-1);
    hr = h->disp->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, ei.get(), &argErr);
    if (FAILED(hr)) {
        f = FailureOfInvoke(hr, ei.get(), argErr, params.cArgs);
        return f.hr;
    }
    // What the callee wrote into by-reference arguments goes back to the holders.
    size_t box = 0;
    for (duk_idx_t idx : ca.boxIndex) {
        VARIANT &inner = ca.boxed[box++];
        if (V_VT(&inner) == VT_EMPTY) {
            duk_push_undefined(ctx);
        } else if (FAILED(hr = PushVariant(ctx, &inner))) {
            f = FailureOf(hr);
            return hr;
        }
        duk_put_prop_string(ctx, idx, "value");
    }
    return S_OK;
}

namespace {

// --------------------------------------------------------------- proxy traps

duk_ret_t Finalize(duk_context *ctx) {
    duk_get_prop_string(ctx, 0, kPtr);
    auto *h = static_cast<Holder *>(duk_get_pointer(ctx, -1));
    duk_pop(ctx);
    if (h) {
        duk_push_pointer(ctx, nullptr);
        duk_put_prop_string(ctx, 0, kPtr);
        if (g_state) g_state->Unlink(h);
        delete h;
    }
    return 0;
}

duk_ret_t TargetCall(duk_context *ctx) { return duk_error(ctx, DUK_ERR_TYPE_ERROR, "not callable"); }

// Member functions: invoked on `this` with the DISPID they carry, in their
// magic value when it fits, else in a property.
constexpr DISPID kDispidInProperty = -32768;

duk_ret_t MemberCall(duk_context *ctx) {
    const duk_idx_t count = duk_get_top(ctx);
    DISPID id = duk_get_current_magic(ctx);
    if (id == kDispidInProperty) {
        duk_push_current_function(ctx);
        duk_get_prop_literal(ctx, -1, COMSCRIPT_HIDDEN("dispid"));
        id = static_cast<DISPID>(duk_get_int(ctx, -1));
        duk_pop_2(ctx);
    }
    duk_push_this(ctx);
    Holder *h = HolderOf(ctx, -1);
    duk_pop(ctx);
    if (!h) return duk_error(ctx, DUK_ERR_TYPE_ERROR, "a member function was called without its object");
    if (!InvokeAndPush(ctx, h, id, DISPATCH_METHOD | DISPATCH_PROPERTYGET, 0, count)) return duk_throw(ctx);
    return 1;
}

void PushMemberFunction(duk_context *ctx, Member *m) {
    if (m->function) {
        duk_push_heapptr(ctx, m->function);
        return;
    }
    // One function per DISPID, shared by every object: it finds its object in
    // `this`.  The stash keeps it alive; the member remembers where it is.
    const DISPID id = m->id;
    PushStashed(ctx, kMethods);
    if (duk_get_prop_index(ctx, -1, static_cast<duk_uarridx_t>(static_cast<uint32_t>(id)))) {
        duk_remove(ctx, -2);
        m->function = duk_get_heapptr(ctx, -1);
        return;
    }
    duk_pop(ctx);
    duk_push_c_function(ctx, MemberCall, DUK_VARARGS);
    if (id > -32768 && id <= 32767) {
        duk_set_magic(ctx, -1, id);
    } else {
        duk_set_magic(ctx, -1, kDispidInProperty);
        duk_push_int(ctx, id);
        duk_put_prop_string(ctx, -2, kDispid);
    }
    m->function = duk_get_heapptr(ctx, -1);
    duk_dup_top(ctx);
    duk_put_prop_index(ctx, -3, static_cast<duk_uarridx_t>(static_cast<uint32_t>(id)));
    duk_remove(ctx, -2);
}

bool IsNotAGet(HRESULT hr) {
    return hr == DISP_E_MEMBERNOTFOUND || hr == DISP_E_BADPARAMCOUNT || hr == DISP_E_PARAMNOTFOUND ||
           hr == DISP_E_PARAMNOTOPTIONAL;
}

// get(target, key, receiver)
duk_ret_t ProxyGet(duk_context *ctx) {
    if (!duk_is_string(ctx, 1) || duk_is_symbol(ctx, 1)) {
        duk_dup(ctx, 1);
        duk_get_prop(ctx, 0);
        return 1;
    }
    duk_size_t length = 0;
    const char *name = duk_get_lstring(ctx, 1, &length);
    if (std::strcmp(name, "toString") == 0) {
        PushStashed(ctx, kToString);
        return 1;
    }
    if (std::strcmp(name, "valueOf") == 0) {
        PushStashed(ctx, kValueOf);
        return 1;
    }
    if (std::strcmp(name, "toJSON") == 0 || std::strcmp(name, "then") == 0 || std::strcmp(name, "constructor") == 0) {
        duk_push_undefined(ctx);
        return 1;
    }
    Holder *h = HolderOf(ctx, 0);
    bool failed = false;
    {
        Failure f;
        Member *m = nullptr;
        HRESULT hr = h && h->disp ? Resolve(h, name, length, &m) : E_UNEXPECTED;
        if (FAILED(hr)) {
            f = FailureOf(hr);
            if (hr == DISP_E_UNKNOWNNAME) f.description = u"Object doesn't support this property or method: " + ToUtf16(name);
            if (!h || !h->disp) f.description = u"The object has been released.";
            PushFailure(ctx, f);
            failed = true;
        } else if (m->described && !(m->kind.get && m->kind.getRequired == 0)) {
            PushMemberFunction(ctx, m);
        } else {
            Variant result;
            hr = InvokeMember(ctx, h, m->id, DISPATCH_PROPERTYGET, 0, 0, result.get(), f);
            if (FAILED(hr) && !m->described && IsNotAGet(hr)) {
                PushMemberFunction(ctx, m);
            } else if (FAILED(hr)) {
                PushFailure(ctx, f);
                failed = true;
            } else if (FAILED(hr = PushVariant(ctx, result.get()))) {
                PushFailure(ctx, FailureOf(hr));
                failed = true;
            }
        }
    }
    if (failed) return duk_throw(ctx);
    return 1;
}

// set(target, key, value, receiver)
duk_ret_t ProxySet(duk_context *ctx) {
    if (!duk_is_string(ctx, 1) || duk_is_symbol(ctx, 1)) {
        duk_dup(ctx, 1);
        duk_dup(ctx, 2);
        duk_put_prop(ctx, 0);
        duk_push_true(ctx);
        return 1;
    }
    duk_size_t length = 0;
    const char *name = duk_get_lstring(ctx, 1, &length);
    Holder *h = HolderOf(ctx, 0);
    bool failed = false;
    {
        Failure f;
        Member *m = nullptr;
        HRESULT hr = h && h->disp ? Resolve(h, name, length, &m) : E_UNEXPECTED;
        if (SUCCEEDED(hr)) {
            const bool object = ObjectAt(ctx, 2) != nullptr;
            WORD flags = DISPATCH_PROPERTYPUT;
            if (object && (!m->described || m->kind.putRef || !m->kind.put)) flags = DISPATCH_PROPERTYPUTREF;
            hr = InvokeMember(ctx, h, m->id, flags, 2, 1, nullptr, f);
            if (FAILED(hr) && flags == DISPATCH_PROPERTYPUTREF && !m->described && hr == DISP_E_MEMBERNOTFOUND)
                hr = InvokeMember(ctx, h, m->id, DISPATCH_PROPERTYPUT, 2, 1, nullptr, f);
        } else {
            f = FailureOf(hr);
            if (hr == DISP_E_UNKNOWNNAME) f.description = u"Object doesn't support this property or method: " + ToUtf16(name);
        }
        if (FAILED(hr)) {
            PushFailure(ctx, f);
            failed = true;
        }
    }
    if (failed) return duk_throw(ctx);
    duk_push_true(ctx);
    return 1;
}

// apply(target, this, args): the default member.
duk_ret_t ProxyApply(duk_context *ctx) {
    Holder *h = HolderOf(ctx, 0);
    if (!h) return duk_error(ctx, DUK_ERR_TYPE_ERROR, "not a COM object");
    const duk_idx_t count = static_cast<duk_idx_t>(duk_get_length(ctx, 2));
    for (duk_idx_t i = 0; i < count; ++i) duk_get_prop_index(ctx, 2, static_cast<duk_uarridx_t>(i));
    if (!InvokeAndPush(ctx, h, DISPID_VALUE, DISPATCH_METHOD | DISPATCH_PROPERTYGET, 3, count)) return duk_throw(ctx);
    return 1;
}

duk_ret_t ProxyHas(duk_context *ctx) {
    Holder *h = HolderOf(ctx, 0);
    bool found = false;
    if (h && h->disp && duk_is_string(ctx, 1) && !duk_is_symbol(ctx, 1)) {
        duk_size_t length = 0;
        const char *name = duk_get_lstring(ctx, 1, &length);
        Member *m = nullptr;
        found = SUCCEEDED(Resolve(h, name, length, &m));
    }
    duk_push_boolean(ctx, found);
    return 1;
}

// toString and valueOf of a wrapped object: its default value.
duk_ret_t DefaultToString(duk_context *ctx) {
    duk_push_this(ctx);
    Holder *h = HolderOf(ctx, -1);
    if (h && PushDefaultValue(ctx, h)) {
        duk_safe_to_string(ctx, -1);
        return 1;
    }
    duk_push_string(ctx, "[object]");
    return 1;
}

duk_ret_t DefaultValueOf(duk_context *ctx) {
    duk_push_this(ctx);
    Holder *h = HolderOf(ctx, -1);
    if (h && PushDefaultValue(ctx, h)) return 1;
    duk_push_this(ctx);
    return 1;
}

// ------------------------------------------------------------------ VBArray

HRESULT PushArray(duk_context *ctx, SAFEARRAY *source, VARTYPE vt);

duk_ret_t VBArrayDimensions(duk_context *ctx) {
    duk_push_this(ctx);
    Holder *h = HolderOf(ctx, -1);
    if (!h || !h->array) return duk_error(ctx, DUK_ERR_TYPE_ERROR, "not a VBArray");
    duk_push_uint(ctx, SafeArrayGetDim(h->array));
    return 1;
}

duk_ret_t VBArrayBound(duk_context *ctx, bool upper) {
    const UINT dim = duk_is_undefined(ctx, 0) ? 1 : static_cast<UINT>(duk_to_uint(ctx, 0));
    duk_push_this(ctx);
    Holder *h = HolderOf(ctx, -1);
    if (!h || !h->array) return duk_error(ctx, DUK_ERR_TYPE_ERROR, "not a VBArray");
    LONG bound = 0;
    const HRESULT hr = upper ? SafeArrayGetUBound(h->array, dim, &bound) : SafeArrayGetLBound(h->array, dim, &bound);
    if (FAILED(hr)) {
        {
            PushFailure(ctx, FailureOf(hr));
        }
        return duk_throw(ctx);
    }
    duk_push_int(ctx, bound);
    return 1;
}
duk_ret_t VBArrayLBound(duk_context *ctx) { return VBArrayBound(ctx, false); }
duk_ret_t VBArrayUBound(duk_context *ctx) { return VBArrayBound(ctx, true); }

// Pushes the element at `ptr` of an array of `vt`.
HRESULT PushElement(duk_context *ctx, VARTYPE vt, void *ptr) {
    VARIANT ref;
    VariantInit(&ref);
    V_VT(&ref) = static_cast<VARTYPE>(VT_BYREF | vt);
    V_BYREF(&ref) = ptr;
    return PushVariant(ctx, &ref);
}

duk_ret_t VBArrayToArray(duk_context *ctx) {
    duk_push_this(ctx);
    Holder *h = HolderOf(ctx, -1);
    if (!h || !h->array) return duk_error(ctx, DUK_ERR_TYPE_ERROR, "not a VBArray");
    SAFEARRAY *a = h->array;
    VARTYPE vt = VT_EMPTY;
    HRESULT hr = SafeArrayGetVartype(a, &vt);
    duk_push_array(ctx);
    if (SUCCEEDED(hr)) {
        const UINT dims = SafeArrayGetDim(a);
        ULONG total = dims ? 1 : 0;
        for (UINT d = 0; d < dims; ++d) total *= a->rgsabound[d].cElements;
        void *data = nullptr;
        hr = SafeArrayAccessData(a, &data);
        if (SUCCEEDED(hr)) {
            for (ULONG i = 0; i < total && SUCCEEDED(hr); ++i) {
                hr = PushElement(ctx, vt, static_cast<char *>(data) + static_cast<size_t>(i) * a->cbElements);
                if (SUCCEEDED(hr)) duk_put_prop_index(ctx, -2, i);
            }
            SafeArrayUnaccessData(a);
        }
    }
    if (FAILED(hr)) {
        PushFailure(ctx, FailureOf(hr));
        return duk_throw(ctx);
    }
    return 1;
}

duk_ret_t VBArrayGetItem(duk_context *ctx) {
    const duk_idx_t count = duk_get_top(ctx);
    duk_push_this(ctx);
    Holder *h = HolderOf(ctx, -1);
    if (!h || !h->array) return duk_error(ctx, DUK_ERR_TYPE_ERROR, "not a VBArray");
    SAFEARRAY *a = h->array;
    const UINT dims = SafeArrayGetDim(a);
    HRESULT hr = static_cast<UINT>(count) == dims ? S_OK : DISP_E_BADINDEX;
    LONG indices[64] = {};
    if (dims > 64) hr = DISP_E_BADINDEX;
    // rgIndices[0] is the leftmost dimension, the first argument.
    for (UINT d = 0; SUCCEEDED(hr) && d < dims; ++d)
        indices[d] = static_cast<LONG>(duk_to_int(ctx, static_cast<duk_idx_t>(d)));
    VARTYPE vt = VT_EMPTY;
    void *ptr = nullptr;
    if (SUCCEEDED(hr)) hr = SafeArrayGetVartype(a, &vt);
    if (SUCCEEDED(hr)) hr = SafeArrayPtrOfIndex(a, indices, &ptr);
    if (SUCCEEDED(hr)) hr = PushElement(ctx, vt, ptr);
    if (FAILED(hr)) {
        PushFailure(ctx, FailureOf(hr));
        return duk_throw(ctx);
    }
    return 1;
}

HRESULT PushArray(duk_context *ctx, SAFEARRAY *source, VARTYPE vt) {
    (void)vt;
    SafeArray copy;
    HRESULT hr = source ? SafeArrayCopy(source, copy.receive()) : E_INVALIDARG;
    if (FAILED(hr)) return hr;
    Holder *h = g_state->NewHolder(Holder::Kind::Array);
    if (!h) return E_OUTOFMEMORY;
    h->array = copy.detach();
    duk_push_object(ctx);
    PushStashed(ctx, kVBArrayProto);
    duk_set_prototype(ctx, -2);
    duk_push_pointer(ctx, h);
    duk_put_prop_string(ctx, -2, kPtr);
    PushStashed(ctx, kFinalizer);
    duk_set_finalizer(ctx, -2);
    return S_OK;
}

HRESULT ArrayToVariant(duk_context *ctx, duk_idx_t idx, VARIANT *out) {
    const auto length = static_cast<ULONG>(duk_get_length(ctx, idx));
    SafeArray array(SafeArrayCreateVector(VT_VARIANT, 0, length));
    if (!array.get()) return E_OUTOFMEMORY;
    VARIANT *data = nullptr;
    HRESULT hr = SafeArrayAccessData(array.get(), reinterpret_cast<void **>(&data));
    if (FAILED(hr)) return hr;
    for (ULONG i = 0; i < length && SUCCEEDED(hr); ++i) {
        duk_get_prop_index(ctx, idx, i);
        hr = JsToVariant(ctx, -1, &data[i]);
        duk_pop(ctx);
    }
    SafeArrayUnaccessData(array.get());
    if (FAILED(hr)) return hr;
    V_VT(out) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(out) = array.detach();
    return S_OK;
}

// Calls a Date method on the value at idx; NaN when it fails.
double DateField(duk_context *ctx, duk_idx_t idx, const char *method) {
    idx = duk_normalize_index(ctx, idx);
    duk_get_prop_string(ctx, idx, method);
    if (!duk_is_function(ctx, -1)) {
        duk_pop(ctx);
        return NAN;
    }
    duk_dup(ctx, idx);
    double value = NAN;
    if (duk_pcall_method(ctx, 0) == DUK_EXEC_SUCCESS) value = duk_get_number_default(ctx, -1, NAN);
    duk_pop(ctx);
    return value;
}

}  // namespace

State *CurrentState() { return g_state; }

Holder *Host::State::NewHolder(Holder::Kind kind) {
    auto *h = new (std::nothrow) Holder(kind);
    if (!h) return nullptr;
    h->next = holders;
    if (holders) holders->prev = h;
    holders = h;
    return h;
}

void Host::State::Unlink(Holder *h) {
    if (h->prev) h->prev->next = h->next;
    else if (holders == h) holders = h->next;
    if (h->next) h->next->prev = h->prev;
    h->prev = h->next = nullptr;
}

void SetCurrentState(State *s) { g_state = s; }

Failure FailureOf(HRESULT hr) {
    Failure f;
    f.hr = hr;
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.receive()) == S_OK && info) {
        Bstr text;
        if (SUCCEEDED(info->GetDescription(text.receive())) && text.get())
            f.description.assign(reinterpret_cast<const char16_t *>(text.get()), SysStringLen(text.get()));
    }
    if (f.description.empty()) f.description = MessageOf(hr);
    if (f.description.empty()) {
        char text[40];
        std::snprintf(text, sizeof(text), "Error 0x%08X", static_cast<unsigned>(hr));
        f.description = ToUtf16(text);
    }
    return f;
}

void PushFailure(duk_context *ctx, const Failure &f) {
    const std::string text = ToCesu8(f.description);
    duk_push_error_object_raw(ctx, DUK_ERR_ERROR, nullptr, 0, "%s", text.c_str());
    // The line is that of the script's innermost function on the call stack.
    for (duk_int_t level = -1; level > -64; --level) {
        duk_inspect_callstack_entry(ctx, level);
        if (duk_is_undefined(ctx, -1)) {
            duk_pop(ctx);
            break;
        }
        duk_get_prop_string(ctx, -1, "lineNumber");
        const duk_int_t line = duk_get_int_default(ctx, -1, 0);
        duk_pop_2(ctx);
        if (line > 0) {
            duk_push_string(ctx, "lineNumber");
            duk_push_int(ctx, line);
            duk_def_prop(ctx, -3, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_FORCE | DUK_DEFPROP_SET_WRITABLE |
                                      DUK_DEFPROP_SET_CONFIGURABLE);
            break;
        }
    }
    duk_push_int(ctx, static_cast<duk_int_t>(f.hr));
    duk_put_prop_string(ctx, -2, "number");
    duk_push_lstring(ctx, text.data(), text.size());
    duk_put_prop_string(ctx, -2, "description");
    if (f.argument > 0) {
        duk_push_int(ctx, f.argument);
        duk_put_prop_string(ctx, -2, "argument");
    }
}

std::u16string StringAt(duk_context *ctx, duk_idx_t idx) {
    duk_size_t length = 0;
    const char *s = duk_get_lstring(ctx, idx, &length);
    return s ? ToUtf16(std::string_view(s, length)) : std::u16string();
}

void PushString(duk_context *ctx, std::u16string_view text) {
    const std::string s = ToCesu8(text);
    duk_push_lstring(ctx, s.data(), s.size());
}

Holder *ObjectAt(duk_context *ctx, duk_idx_t idx) {
    Holder *h = HolderOf(ctx, idx);
    return h && h->kind == Holder::Kind::Object ? h : nullptr;
}

HRESULT JsToVariant(duk_context *ctx, duk_idx_t idx, VARIANT *out) {
    VariantInit(out);
    switch (duk_get_type(ctx, idx)) {
    case DUK_TYPE_UNDEFINED:
        V_VT(out) = VT_ERROR;
        V_ERROR(out) = DISP_E_PARAMNOTFOUND;
        return S_OK;
    case DUK_TYPE_NULL: V_VT(out) = VT_NULL; return S_OK;
    case DUK_TYPE_BOOLEAN:
        V_VT(out) = VT_BOOL;
        V_BOOL(out) = duk_get_boolean(ctx, idx) ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    case DUK_TYPE_NUMBER: {
        const double d = duk_get_number(ctx, idx);
        if (d >= -2147483648.0 && d <= 2147483647.0 && std::floor(d) == d && !(d == 0 && std::signbit(d))) {
            V_VT(out) = VT_I4;
            V_I4(out) = static_cast<LONG>(d);
        } else {
            V_VT(out) = VT_R8;
            V_R8(out) = d;
        }
        return S_OK;
    }
    case DUK_TYPE_STRING: {
        if (duk_is_symbol(ctx, idx)) return DISP_E_TYPEMISMATCH;
        duk_size_t length = 0;
        const char *bytes = duk_get_lstring(ctx, idx, &length);
        BSTR b = nullptr;
        bool ascii = true;
        for (duk_size_t i = 0; i < length && ascii; ++i) ascii = static_cast<unsigned char>(bytes[i]) < 0x80;
        if (ascii) {  // the common case, without a UTF-16 copy in between
            b = SysAllocStringLen(nullptr, static_cast<UINT>(length));
            if (b)
                for (duk_size_t i = 0; i < length; ++i) b[i] = static_cast<OLECHAR>(bytes[i]);
        } else {
            const std::u16string text = ToUtf16(std::string_view(bytes, length));
            b = SysAllocStringLen(reinterpret_cast<const OLECHAR *>(text.data()), static_cast<UINT>(text.size()));
        }
        if (!b) return E_OUTOFMEMORY;
        V_VT(out) = VT_BSTR;
        V_BSTR(out) = b;
        return S_OK;
    }
    case DUK_TYPE_OBJECT: {
        if (Holder *h = HolderOf(ctx, idx)) {
            if (h->kind == Holder::Kind::Object) {
                if (h->disp) {
                    h->disp->AddRef();
                    V_VT(out) = VT_DISPATCH;
                    V_DISPATCH(out) = h->disp;
                    return S_OK;
                }
                if (h->unk) {
                    h->unk->AddRef();
                    V_VT(out) = VT_UNKNOWN;
                    V_UNKNOWN(out) = h->unk;
                    return S_OK;
                }
                return E_UNEXPECTED;
            }
            if (h->kind == Holder::Kind::Array && h->array) {
                SAFEARRAY *copy = nullptr;
                VARTYPE vt = VT_EMPTY;
                HRESULT hr = SafeArrayGetVartype(h->array, &vt);
                if (SUCCEEDED(hr)) hr = SafeArrayCopy(h->array, &copy);
                if (FAILED(hr)) return hr;
                V_VT(out) = static_cast<VARTYPE>(VT_ARRAY | vt);
                V_ARRAY(out) = copy;
                return S_OK;
            }
            return DISP_E_TYPEMISMATCH;
        }
        if (duk_is_array(ctx, idx)) return ArrayToVariant(ctx, idx, out);
        duk_get_global_string(ctx, "Date");
        const bool isDate = duk_instanceof(ctx, idx, -1);
        duk_pop(ctx);
        if (isDate) {
            SYSTEMTIME st{};
            const double fields[] = {DateField(ctx, idx, "getFullYear"), DateField(ctx, idx, "getMonth"),
                                     DateField(ctx, idx, "getDate"),     DateField(ctx, idx, "getHours"),
                                     DateField(ctx, idx, "getMinutes"),  DateField(ctx, idx, "getSeconds"),
                                     DateField(ctx, idx, "getMilliseconds")};
            for (double f : fields)
                if (std::isnan(f)) return DISP_E_TYPEMISMATCH;
            if (fields[0] < 100 || fields[0] > 9999) return DISP_E_OVERFLOW;
            st.wYear = static_cast<WORD>(fields[0]);
            st.wMonth = static_cast<WORD>(fields[1] + 1);
            st.wDay = static_cast<WORD>(fields[2]);
            st.wHour = static_cast<WORD>(fields[3]);
            st.wMinute = static_cast<WORD>(fields[4]);
            st.wSecond = static_cast<WORD>(fields[5]);
            double date = 0;
            if (!SystemTimeToVariantTime(&st, &date)) return DISP_E_OVERFLOW;
            // Milliseconds move the time away from midnight of the day.
            const double ms = fields[6] / 86400000.0;
            date += date < 0 ? -ms : ms;
            V_VT(out) = VT_DATE;
            V_DATE(out) = date;
            return S_OK;
        }
        return DISP_E_TYPEMISMATCH;
    }
    default: return DISP_E_TYPEMISMATCH;
    }
}

HRESULT PushVariant(duk_context *ctx, const VARIANT *v) {
    const VARTYPE vt = V_VT(v);
    if (vt & VT_ARRAY) {
        SAFEARRAY *a = (vt & VT_BYREF) ? (V_ARRAYREF(v) ? *V_ARRAYREF(v) : nullptr) : V_ARRAY(v);
        if (!a) {
            duk_push_null(ctx);
            return S_OK;
        }
        return PushArray(ctx, a, static_cast<VARTYPE>(vt & VT_TYPEMASK));
    }
    if (vt == (VT_BYREF | VT_VARIANT)) {
        if (!V_VARIANTREF(v)) return E_POINTER;
        return PushVariant(ctx, V_VARIANTREF(v));
    }
    if (vt & VT_BYREF) {
        if (!V_BYREF(v)) return E_POINTER;
        // Read the referent into a VARIANT of its own type without copying.
        VARIANT value;
        VariantInit(&value);
        const VARTYPE base = static_cast<VARTYPE>(vt & ~VT_BYREF);
        if (base == VT_DECIMAL) {
            value.decVal = *V_DECIMALREF(v);
        } else {
            size_t size = 0;
            switch (base) {
            case VT_I1: case VT_UI1: size = 1; break;
            case VT_I2: case VT_UI2: case VT_BOOL: size = 2; break;
            case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR: size = 4; break;
            case VT_I8: case VT_UI8: case VT_R8: case VT_CY: case VT_DATE: size = 8; break;
            case VT_BSTR: case VT_DISPATCH: case VT_UNKNOWN: size = sizeof(void *); break;
            default: return DISP_E_BADVARTYPE;
            }
            std::memcpy(&V_UI1(&value), V_BYREF(v), size);
        }
        V_VT(&value) = base;
        return PushVariant(ctx, &value);  // not cleared: the referent still owns it
    }
    switch (vt) {
    case VT_EMPTY: duk_push_undefined(ctx); return S_OK;
    case VT_NULL: duk_push_null(ctx); return S_OK;
    case VT_I1: duk_push_int(ctx, V_I1(v)); return S_OK;
    case VT_UI1: duk_push_uint(ctx, V_UI1(v)); return S_OK;
    case VT_I2: duk_push_int(ctx, V_I2(v)); return S_OK;
    case VT_UI2: duk_push_uint(ctx, V_UI2(v)); return S_OK;
    case VT_I4: duk_push_int(ctx, V_I4(v)); return S_OK;
    case VT_UI4: duk_push_uint(ctx, V_UI4(v)); return S_OK;
    case VT_INT: duk_push_int(ctx, V_INT(v)); return S_OK;
    case VT_UINT: duk_push_uint(ctx, V_UINT(v)); return S_OK;
    case VT_I8: duk_push_number(ctx, static_cast<double>(V_I8(v))); return S_OK;
    case VT_UI8: duk_push_number(ctx, static_cast<double>(V_UI8(v))); return S_OK;
    case VT_R4: duk_push_number(ctx, V_R4(v)); return S_OK;
    case VT_R8: duk_push_number(ctx, V_R8(v)); return S_OK;
    case VT_BOOL: duk_push_boolean(ctx, V_BOOL(v) != VARIANT_FALSE); return S_OK;
    case VT_ERROR:
        if (V_ERROR(v) == DISP_E_PARAMNOTFOUND) duk_push_undefined(ctx);
        else duk_push_int(ctx, V_ERROR(v));
        return S_OK;
    case VT_CY: {
        double d = 0;
        HRESULT hr = VarR8FromCy(V_CY(v), &d);
        if (FAILED(hr)) return hr;
        duk_push_number(ctx, d);
        return S_OK;
    }
    case VT_DECIMAL: {
        double d = 0;
        DECIMAL dec = v->decVal;
        HRESULT hr = VarR8FromDec(&dec, &d);
        if (FAILED(hr)) return hr;
        duk_push_number(ctx, d);
        return S_OK;
    }
    case VT_BSTR: {
        BSTR b = V_BSTR(v);
        PushString(ctx, std::u16string_view(reinterpret_cast<const char16_t *>(b ? b : u""), b ? SysStringLen(b) : 0));
        return S_OK;
    }
    case VT_DATE: {
        SYSTEMTIME st{};
        if (!VariantTimeToSystemTime(V_DATE(v), &st)) return DISP_E_OVERFLOW;
        duk_get_global_string(ctx, "Date");
        duk_push_int(ctx, st.wYear);
        duk_push_int(ctx, st.wMonth - 1);
        duk_push_int(ctx, st.wDay);
        duk_push_int(ctx, st.wHour);
        duk_push_int(ctx, st.wMinute);
        duk_push_int(ctx, st.wSecond);
        duk_push_int(ctx, st.wMilliseconds);
        duk_new(ctx, 7);
        return S_OK;
    }
    case VT_DISPATCH:
        if (!V_DISPATCH(v)) {
            duk_push_null(ctx);
            return S_OK;
        }
        return PushObject(ctx, V_DISPATCH(v), V_DISPATCH(v));
    case VT_UNKNOWN: {
        IUnknown *u = V_UNKNOWN(v);
        if (!u) {
            duk_push_null(ctx);
            return S_OK;
        }
        ComPtr<IDispatch> disp;
        if (FAILED(u->QueryInterface(IID_IDispatch, disp.receiveVoid()))) disp.Reset();
        return PushObject(ctx, u, disp.get());
    }
    default: return DISP_E_BADVARTYPE;
    }
}

HRESULT PushObject(duk_context *ctx, IUnknown *unk, IDispatch *disp) {
    State *s = g_state;
    if (s->released) return E_UNEXPECTED;
    Holder *h = s->NewHolder(Holder::Kind::Object);
    if (!h) return E_OUTOFMEMORY;
    if (disp) {
        disp->AddRef();
        h->disp = disp;
        h->type = TypeCacheOf(disp);
    } else {
        unk->AddRef();
        h->unk = unk;
    }
    duk_push_c_function(ctx, TargetCall, DUK_VARARGS);
    duk_push_pointer(ctx, h);
    duk_put_prop_string(ctx, -2, kPtr);
    PushStashed(ctx, kFinalizer);
    duk_set_finalizer(ctx, -2);
    PushStashed(ctx, kHandler);
    duk_push_proxy(ctx, 0);
    return S_OK;
}

bool InvokeAndPush(duk_context *ctx, Holder *h, DISPID id, WORD flags, duk_idx_t first, duk_idx_t count) {
    Failure f;
    Variant result;
    HRESULT hr = InvokeMember(ctx, h, id, flags, first, count, result.get(), f);
    // The default member takes no arguments: give them to the default member of its value.
    if (hr == DISP_E_BADPARAMCOUNT && id == DISPID_VALUE && count > 0) {
        Failure inner;
        Variant value;
        if (SUCCEEDED(InvokeMember(ctx, h, DISPID_VALUE, DISPATCH_PROPERTYGET, first, 0, value.get(), inner)) &&
            V_VT(value.get()) == VT_DISPATCH && V_DISPATCH(value.get())) {
            Holder temporary(Holder::Kind::Object);
            temporary.disp = V_DISPATCH(value.get());
            temporary.disp->AddRef();
            hr = InvokeMember(ctx, &temporary, DISPID_VALUE, flags, first, count, result.get(), f);
        }
    }
    if (SUCCEEDED(hr)) hr = PushVariant(ctx, result.get());
    else {
        PushFailure(ctx, f);
        return false;
    }
    if (FAILED(hr)) {
        PushFailure(ctx, FailureOf(hr));
        return false;
    }
    return true;
}

bool PushDefaultValue(duk_context *ctx, Holder *h) {
    if (!h->disp) return false;
    Failure f;
    Variant value;
    if (FAILED(InvokeMember(ctx, h, DISPID_VALUE, DISPATCH_PROPERTYGET, 0, 0, value.get(), f))) return false;
    const VARTYPE vt = V_VT(value.get());
    if (vt == VT_DISPATCH || vt == VT_UNKNOWN || (vt & VT_ARRAY)) return false;
    return SUCCEEDED(PushVariant(ctx, value.get()));
}

std::string OutputText(duk_context *ctx, duk_idx_t idx) {
    idx = duk_normalize_index(ctx, idx);
    if (duk_is_undefined(ctx, idx)) return {};
    if (Holder *h = ObjectAt(ctx, idx)) {
        if (PushDefaultValue(ctx, h)) {
            std::string text = OutputText(ctx, -1);
            duk_pop(ctx);
            return text;
        }
        return "[object]";
    }
    duk_dup(ctx, idx);
    duk_size_t length = 0;
    const char *s = duk_safe_to_lstring(ctx, -1, &length);
    std::string text = EngineToUtf8(std::string_view(s, length));
    duk_pop(ctx);
    return text;
}

void InstallBridge(duk_context *ctx) {
    duk_push_global_stash(ctx);
    duk_push_object(ctx);
    duk_push_c_function(ctx, ProxyGet, 3);
    duk_put_prop_string(ctx, -2, "get");
    duk_push_c_function(ctx, ProxySet, 4);
    duk_put_prop_string(ctx, -2, "set");
    duk_push_c_function(ctx, ProxyApply, 3);
    duk_put_prop_string(ctx, -2, "apply");
    duk_push_c_function(ctx, ProxyHas, 2);
    duk_put_prop_string(ctx, -2, "has");
    duk_put_prop_string(ctx, -2, kHandler);
    duk_push_c_function(ctx, Finalize, 2);
    duk_put_prop_string(ctx, -2, kFinalizer);
    duk_push_object(ctx);
    duk_put_prop_string(ctx, -2, kMethods);
    duk_push_c_function(ctx, DefaultToString, 0);
    duk_put_prop_string(ctx, -2, kToString);
    duk_push_c_function(ctx, DefaultValueOf, 0);
    duk_put_prop_string(ctx, -2, kValueOf);
    const duk_function_list_entry vbarray[] = {
        {"toArray", VBArrayToArray, 0},     {"lbound", VBArrayLBound, 1},
        {"ubound", VBArrayUBound, 1},       {"dimensions", VBArrayDimensions, 0},
        {"getItem", VBArrayGetItem, DUK_VARARGS}, {nullptr, nullptr, 0}};
    duk_push_object(ctx);
    duk_put_function_list(ctx, -1, vbarray);
    duk_put_prop_string(ctx, -2, kVBArrayProto);
    duk_pop(ctx);
}

}  // namespace comscript
