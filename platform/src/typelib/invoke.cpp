// ITypeInfo::Invoke: late-bound calls onto an interface's table of
// operations.  The first call of a function builds its call plan (how each
// parameter is passed, the interface each pointer must be, the libffi call
// description); later calls only convert arguments and call.
//
// Arguments arrive in reverse order in DISPPARAMS, named ones first.  Each
// is converted to its declared type (VariantChangeType), interface
// arguments are asked for the declared interface, by-reference arguments
// of the declared type are passed through, and a VT_BYREF|VT_VARIANT
// argument for a typed by-reference or [out] parameter is converted into a
// temporary on the way in and written back into the caller's VARIANT on the
// way out (whatever the method's result).  A failing HRESULT of the method
// becomes DISP_E_EXCEPTION with EXCEPINFO filled from the thread's error
// information when the object supports it for the interface.

#include "typelib/typelib.h"

#include "oleaut/oleaut_internal.h"

#include <comhost/allocation.h>

#include <cstring>
#include <new>

#if COMHOST_HAVE_FFI
#include <ffi.h>
#endif

namespace comhost::typelib {

namespace {

enum class ArgKind {
    Value,          // a scalar, string or array by value
    Variant,        // VARIANT by value
    VariantRef,     // VARIANT*
    Interface,      // an interface pointer
    ValueRef,       // pointer to a scalar, string or array
    InterfaceRef,   // pointer to an interface pointer
    Lcid,
    Unsupported
};

struct ArgClass {
    ArgKind kind = ArgKind::Unsupported;
    VARTYPE vt = VT_EMPTY;   // the value's VARTYPE (VT_DISPATCH/VT_UNKNOWN for interfaces)
    IID iid = IID_NULL;      // interfaces: the declared interface
};

}  // namespace

struct CallPlan {
    MEMBERID memid = MEMBERID_NIL;
    INVOKEKIND invkind = INVOKE_FUNC;
    unsigned slot = 0;
    IID iid = IID_NULL;                 // the interface, for error information
    std::vector<ArgClass> params;       // every parameter, declaration order
    std::vector<USHORT> flags;
    std::vector<int> visible;           // indexes of the caller-supplied parameters
    std::vector<VARIANT> defaults;      // per parameter; VT_EMPTY when none
    std::vector<bool> hasDefault;
    int retval = -1;
    ArgClass result;                    // the function's own return type
    bool returnsHresult = true;
    HRESULT status = S_OK;              // DISP_E_BADVARTYPE for a type no call can pass
#if COMHOST_HAVE_FFI
    ffi_cif cif{};
    std::vector<ffi_type *> types;
#endif
    ~CallPlan() {
        for (VARIANT &v : defaults) VariantClear(&v);
    }
};

void DestroyPlan(CallPlan *plan) noexcept { delete plan; }

namespace {

bool IsScalar(VARTYPE vt) {
    switch (vt) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_INT: case VT_UINT:
    case VT_I8: case VT_UI8: case VT_R4: case VT_R8: case VT_CY: case VT_DATE: case VT_BSTR: case VT_BOOL:
    case VT_ERROR: case VT_DECIMAL:
        return true;
    default:
        return false;
    }
}

HRESULT Classify(ITypeInfo *ctx, const TYPEDESC &td, ArgClass *out, int depth = 0);

// The class of a user-defined type: enums are I4, aliases their target,
// interfaces and dispinterfaces their pointers.
HRESULT ClassifyUserDefined(ITypeInfo *ctx, HREFTYPE href, ArgClass *out, int depth) {
    oleaut::InterfaceOwner<ITypeInfo> ref;
    HRESULT hr = ctx->GetRefTypeInfo(href, ref.receive());
    if (FAILED(hr)) return hr;
    TYPEATTR *attr = nullptr;
    hr = ref.get()->GetTypeAttr(&attr);
    if (FAILED(hr)) return hr;
    switch (attr->typekind) {
    case TKIND_ENUM:
        out->kind = ArgKind::Value;
        out->vt = VT_I4;
        break;
    case TKIND_ALIAS:
        hr = Classify(ref.get(), attr->tdescAlias, out, depth + 1);
        break;
    case TKIND_INTERFACE:
    case TKIND_DISPATCH:
        out->kind = ArgKind::Interface;
        out->vt = (attr->typekind == TKIND_DISPATCH || (attr->wTypeFlags & TYPEFLAG_FDUAL)) ? VT_DISPATCH
                                                                                              : VT_UNKNOWN;
        out->iid = attr->guid;
        break;
    case TKIND_COCLASS:
        out->kind = ArgKind::Interface;
        out->vt = VT_UNKNOWN;
        out->iid = IID_IUnknown;
        break;
    default:
        out->kind = ArgKind::Unsupported;
        break;
    }
    ref.get()->ReleaseTypeAttr(attr);
    return hr;
}

HRESULT Classify(ITypeInfo *ctx, const TYPEDESC &td, ArgClass *out, int depth) {
    *out = ArgClass{};
    if (depth > 8) return S_OK;
    switch (td.vt) {
    case VT_VARIANT:
        out->kind = ArgKind::Variant;
        out->vt = VT_VARIANT;
        return S_OK;
    case VT_UNKNOWN:
    case VT_DISPATCH:
        out->kind = ArgKind::Interface;
        out->vt = td.vt;
        out->iid = td.vt == VT_UNKNOWN ? IID_IUnknown : IID_IDispatch;
        return S_OK;
    case VT_HRESULT:
        out->kind = ArgKind::Value;
        out->vt = VT_ERROR;
        return S_OK;
    case VT_SAFEARRAY: {
        ArgClass elem;
        HRESULT hr = Classify(ctx, *td.lptdesc, &elem, depth + 1);
        if (FAILED(hr)) return hr;
        if (elem.kind == ArgKind::Value || elem.kind == ArgKind::Variant || elem.kind == ArgKind::Interface) {
            out->kind = ArgKind::Value;
            out->vt = static_cast<VARTYPE>(VT_ARRAY | elem.vt);
        }
        return S_OK;
    }
    case VT_USERDEFINED:
        return ClassifyUserDefined(ctx, td.hreftype, out, depth);
    case VT_PTR: {
        ArgClass inner;
        HRESULT hr = Classify(ctx, *td.lptdesc, &inner, depth + 1);
        if (FAILED(hr)) return hr;
        const bool pointee = td.lptdesc->vt == VT_USERDEFINED && inner.kind == ArgKind::Interface;
        if (pointee) {
            *out = inner;   // Iface* is the interface pointer itself
        } else if (inner.kind == ArgKind::Variant) {
            out->kind = ArgKind::VariantRef;
            out->vt = VT_VARIANT;
        } else if (inner.kind == ArgKind::Interface) {
            *out = inner;
            out->kind = ArgKind::InterfaceRef;
        } else if (inner.kind == ArgKind::Value) {
            *out = inner;
            out->kind = ArgKind::ValueRef;
        }
        return S_OK;
    }
    default:
        if (IsScalar(td.vt)) {
            out->kind = ArgKind::Value;
            out->vt = td.vt;
        }
        return S_OK;
    }
}

#if COMHOST_HAVE_FFI
ffi_type *VariantFfiType() {
    static ffi_type *elements[sizeof(VARIANT) / 8 + 1];
    static ffi_type type;
    static std::once_flag once;
    std::call_once(once, [] {
        for (std::size_t i = 0; i < sizeof(VARIANT) / 8; ++i) elements[i] = &ffi_type_uint64;
        elements[sizeof(VARIANT) / 8] = nullptr;
        type.size = 0;
        type.alignment = 0;
        type.type = FFI_TYPE_STRUCT;
        type.elements = elements;
    });
    return &type;
}

ffi_type *DecimalFfiType() {
    static ffi_type *elements[] = {&ffi_type_uint64, &ffi_type_uint64, nullptr};
    static ffi_type type = {0, 0, FFI_TYPE_STRUCT, elements};
    return &type;
}

ffi_type *FfiTypeOf(const ArgClass &c) {
    switch (c.kind) {
    case ArgKind::Variant: return VariantFfiType();
    case ArgKind::Lcid: return &ffi_type_uint32;
    case ArgKind::Value:
        if (c.vt & VT_ARRAY) return &ffi_type_pointer;
        switch (c.vt) {
        case VT_I1: return &ffi_type_sint8;
        case VT_UI1: return &ffi_type_uint8;
        case VT_I2: case VT_BOOL: return &ffi_type_sint16;
        case VT_UI2: return &ffi_type_uint16;
        case VT_I4: case VT_INT: case VT_ERROR: return &ffi_type_sint32;
        case VT_UI4: case VT_UINT: return &ffi_type_uint32;
        case VT_I8: case VT_CY: return &ffi_type_sint64;
        case VT_UI8: return &ffi_type_uint64;
        case VT_R4: return &ffi_type_float;
        case VT_R8: case VT_DATE: return &ffi_type_double;
        case VT_DECIMAL: return DecimalFfiType();
        default: return &ffi_type_pointer;   // VT_BSTR
        }
    default:
        return &ffi_type_pointer;
    }
}
#endif

}  // namespace

HRESULT TypeLib::Plan(int index, int f, const CallPlan **out) noexcept {
    std::atomic<CallPlan *> &slot = plans_[planBase_[static_cast<std::size_t>(index)] + static_cast<std::size_t>(f)];
    if (CallPlan *ready = slot.load(std::memory_order_acquire)) {
        *out = ready;
        return S_OK;
    }
    const TypeRecord &record = lib_.records[static_cast<std::size_t>(index)];
    // Parameters and offsets come from the interface form of the record.
    oleaut::InterfaceOwner<ITypeInfo> view;
    HRESULT hr = MakeInfo(index, record.dual, view.receive());
    if (FAILED(hr)) return hr;
    FUNCDESC *desc = nullptr;
    hr = view.get()->GetFuncDesc(static_cast<UINT>(f), &desc);
    if (FAILED(hr)) return hr;
    if (ComHostAllocationShouldFail()) {
        view.get()->ReleaseFuncDesc(desc);
        return E_OUTOFMEMORY;
    }
    CallPlan *plan = new (std::nothrow) CallPlan();
    if (!plan) {
        view.get()->ReleaseFuncDesc(desc);
        return E_OUTOFMEMORY;
    }
    try {
        plan->memid = desc->memid;
        plan->invkind = desc->invkind;
        plan->slot = static_cast<unsigned>(static_cast<USHORT>(desc->oVft)) / lib_.PointerSize();
        plan->iid = record.guid;
        const std::size_t n = static_cast<std::size_t>(desc->cParams);
        plan->params.resize(n);
        plan->flags.resize(n);
        plan->defaults.resize(n);
        plan->hasDefault.resize(n);
        for (VARIANT &v : plan->defaults) VariantInit(&v);
        for (std::size_t i = 0; i < n && SUCCEEDED(hr); ++i) {
            const ELEMDESC &e = desc->lprgelemdescParam[i];
            const USHORT pf = e.paramdesc.wParamFlags;
            plan->flags[i] = pf;
            if (pf & PARAMFLAG_FLCID) {
                plan->params[i].kind = ArgKind::Lcid;
                continue;
            }
            hr = Classify(view.get(), e.tdesc, &plan->params[i]);
            if (pf & PARAMFLAG_FRETVAL) {
                plan->retval = static_cast<int>(i);
                ArgClass &c = plan->params[i];
                if (c.kind == ArgKind::VariantRef) c.kind = ArgKind::Variant;
                else if (c.kind == ArgKind::InterfaceRef) c.kind = ArgKind::Interface;
                else if (c.kind == ArgKind::ValueRef) c.kind = ArgKind::Value;
                else c.kind = ArgKind::Unsupported;
                continue;
            }
            plan->visible.push_back(static_cast<int>(i));
            if ((pf & PARAMFLAG_FHASDEFAULT) && e.paramdesc.pparamdescex) {
                hr = VariantCopy(&plan->defaults[i], &e.paramdesc.pparamdescex->varDefaultValue);
                plan->hasDefault[i] = true;
            }
        }
        if (SUCCEEDED(hr)) {
            const TYPEDESC &ret = desc->elemdescFunc.tdesc;
            plan->returnsHresult = ret.vt == VT_HRESULT;
            if (!plan->returnsHresult && ret.vt != VT_VOID) hr = Classify(view.get(), ret, &plan->result);
            if (!plan->returnsHresult && ret.vt == VT_VOID) plan->result.kind = ArgKind::Lcid;   // nothing
        }
        if (SUCCEEDED(hr)) {
            for (const ArgClass &c : plan->params) {
                if (c.kind == ArgKind::Unsupported) plan->status = DISP_E_BADVARTYPE;
            }
            if (!plan->returnsHresult && plan->result.kind != ArgKind::Lcid &&
                plan->result.kind != ArgKind::Value && plan->result.kind != ArgKind::Interface)
                plan->status = DISP_E_BADVARTYPE;
            if (desc->funckind != FUNC_PUREVIRTUAL && desc->funckind != FUNC_VIRTUAL)
                plan->status = DISP_E_MEMBERNOTFOUND;
        }
#if COMHOST_HAVE_FFI
        if (SUCCEEDED(hr) && plan->status == S_OK) {
            plan->types.push_back(&ffi_type_pointer);   // the instance
            for (std::size_t i = 0; i < plan->params.size(); ++i) {
                // The [retval] parameter is the address of the result's storage.
                plan->types.push_back(static_cast<int>(i) == plan->retval ? &ffi_type_pointer
                                                                          : FfiTypeOf(plan->params[i]));
            }
            ffi_type *rtype = &ffi_type_sint32;
            if (!plan->returnsHresult)
                rtype = plan->result.kind == ArgKind::Lcid ? &ffi_type_void : FfiTypeOf(plan->result);
            if (ffi_prep_cif(&plan->cif, FFI_DEFAULT_ABI, static_cast<unsigned>(plan->types.size()), rtype,
                             plan->types.data()) != FFI_OK)
                plan->status = DISP_E_BADCALLEE;
        }
#else
        plan->status = E_NOTIMPL;
#endif
    } catch (const std::bad_alloc &) {
        hr = E_OUTOFMEMORY;
    }
    view.get()->ReleaseFuncDesc(desc);
    if (FAILED(hr)) {
        delete plan;
        return hr;
    }
    CallPlan *expected = nullptr;
    if (!slot.compare_exchange_strong(expected, plan, std::memory_order_acq_rel)) {
        delete plan;   // another thread published first
        plan = expected;
    }
    *out = plan;
    return S_OK;
}

namespace {

// What one parameter's call needs and what it leaves to undo.
struct ArgState {
    VARIANT value;               // converted value / temporary (owned when owned == true)
    bool owned = false;
    IUnknown *iface = nullptr;   // QI'd interface (released after the call unless handed on)
    void *pass = nullptr;        // what the callee gets (address of the argument's storage)
    void *pointer = nullptr;     // a by-reference temporary's address, passed through `pass`
    VARIANT *writeBack = nullptr;   // caller's VARIANT for the VT_BYREF|VT_VARIANT extension
    LCID lcid = 0;
    ArgState() { VariantInit(&value); }
    ~ArgState() {
        if (owned) VariantClear(&value);
        if (iface) iface->Release();
    }
};

// The states of a call's parameters, in storage for the most a call takes
// but constructed (and destroyed) only for the parameters it has.
template <std::size_t kMax>
class ArgStates {
public:
    explicit ArgStates(std::size_t count) : m_count(count) {
        for (std::size_t i = 0; i < m_count; ++i) new (m_storage + i * sizeof(ArgState)) ArgState();
    }
    ~ArgStates() {
        for (std::size_t i = m_count; i-- > 0;) (*this)[i].~ArgState();
    }
    ArgStates(const ArgStates &) = delete;
    ArgStates &operator=(const ArgStates &) = delete;
    ArgState &operator[](std::size_t i) noexcept {
        return *std::launder(reinterpret_cast<ArgState *>(m_storage + i * sizeof(ArgState)));
    }

private:
    alignas(ArgState) unsigned char m_storage[kMax * sizeof(ArgState)];
    std::size_t m_count;
};

const VARIANT &Deref(const VARIANT &v) {
    return (v.vt == (VT_BYREF | VT_VARIANT) && v.pvarVal) ? *v.pvarVal : v;
}

HRESULT QueryArgument(const VARIANT &src, const ArgClass &c, IUnknown **out) {
    *out = nullptr;
    const VARIANT &v = Deref(src);
    IUnknown *p = nullptr;
    switch (v.vt) {
    case VT_UNKNOWN:
    case VT_DISPATCH: p = v.punkVal; break;
    case VT_BYREF | VT_UNKNOWN:
    case VT_BYREF | VT_DISPATCH: p = v.ppunkVal ? *v.ppunkVal : nullptr; break;
    case VT_EMPTY:
    case VT_NULL: return S_OK;
    default: return DISP_E_TYPEMISMATCH;
    }
    if (!p) return S_OK;
    return SUCCEEDED(p->QueryInterface(c.iid, reinterpret_cast<void **>(out))) ? S_OK : DISP_E_TYPEMISMATCH;
}

// Prepares one caller-supplied (or defaulted) argument.
HRESULT PrepareArgument(const ArgClass &c, USHORT flags, VARIANT *arg, ArgState *s) {
    switch (c.kind) {
    case ArgKind::Variant:
        s->value = *arg;   // a shallow copy: the caller keeps ownership
        s->pass = &s->value;
        return S_OK;
    case ArgKind::VariantRef:
        s->pass = (arg->vt == (VT_BYREF | VT_VARIANT) && arg->pvarVal) ? arg->pvarVal : arg;
        return S_OK;
    case ArgKind::Value: {
        if (arg->vt == c.vt) {
            s->value = *arg;
        } else {
            VARIANT src = Deref(*arg);
            const HRESULT hr = VariantChangeType(&s->value, &src, 0, c.vt);
            if (FAILED(hr)) return hr;
            s->owned = true;
        }
        s->pass = &s->value.llVal;
        return S_OK;
    }
    case ArgKind::Interface: {
        const HRESULT hr = QueryArgument(*arg, c, &s->iface);
        if (FAILED(hr)) return hr;
        s->value.punkVal = s->iface;
        s->pass = &s->value.punkVal;
        return S_OK;
    }
    case ArgKind::ValueRef:
    case ArgKind::InterfaceRef: {
        if (arg->vt == (VT_BYREF | c.vt)) {
            s->value.byref = arg->byref;
            s->pass = &s->value.byref;
            return S_OK;
        }
        if (arg->vt != (VT_BYREF | VT_VARIANT) || !arg->pvarVal) return DISP_E_TYPEMISMATCH;
        // The extension: a temporary of the declared type, written back later.
        VARIANT *inner = arg->pvarVal;
        s->writeBack = inner;
        s->owned = true;
        s->value.vt = c.vt;
        if (c.kind == ArgKind::InterfaceRef) {
            s->value.punkVal = nullptr;
            if (inner->vt != VT_EMPTY && inner->vt != VT_NULL) {
                const HRESULT hr = QueryArgument(*inner, c, &s->value.punkVal);
                if (FAILED(hr) && (flags & PARAMFLAG_FIN)) return hr;
            }
        } else if (inner->vt != VT_EMPTY || (flags & PARAMFLAG_FIN)) {
            VARIANT converted;
            VariantInit(&converted);
            const HRESULT hr = VariantChangeType(&converted, inner, 0, c.vt);
            if (FAILED(hr)) {
                if (flags & PARAMFLAG_FIN) return hr;
            } else {
                s->value = converted;
            }
        }
        s->pointer = &s->value.llVal;
        s->pass = &s->pointer;
        return S_OK;
    }
    default:
        return DISP_E_BADVARTYPE;
    }
}

void FillException(PVOID instance, const CallPlan &plan, HRESULT failure, EXCEPINFO *excep) {
    if (!excep) return;
    std::memset(excep, 0, sizeof *excep);
    excep->scode = failure;
    oleaut::InterfaceOwner<ISupportErrorInfo> support;
    IUnknown *object = static_cast<IUnknown *>(instance);
    if (FAILED(object->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void **>(support.receive()))) ||
        support.get()->InterfaceSupportsErrorInfo(plan.iid) != S_OK)
        return;
    oleaut::InterfaceOwner<IErrorInfo> info;
    if (GetErrorInfo(0, info.receive()) != S_OK || !info.get()) return;
    info.get()->GetSource(&excep->bstrSource);
    info.get()->GetDescription(&excep->bstrDescription);
    info.get()->GetHelpFile(&excep->bstrHelpFile);
    info.get()->GetHelpContext(&excep->dwHelpContext);
}

HRESULT Execute(const CallPlan &plan, PVOID instance, DISPPARAMS *params, VARIANT *result, EXCEPINFO *excep,
                UINT *argErr) {
    if (plan.status != S_OK) return plan.status;
    const UINT cArgs = params->cArgs;
    const UINT cNamed = params->cNamedArgs;
    if (cNamed > cArgs || (cArgs && !params->rgvarg) || (cNamed && !params->rgdispidNamedArgs))
        return E_INVALIDARG;
    const std::size_t visible = plan.visible.size();
    const bool put = plan.invkind == INVOKE_PROPERTYPUT || plan.invkind == INVOKE_PROPERTYPUTREF;

    // Which rgvarg entry feeds each visible parameter.
    constexpr int kMaxParams = 64;
    if (plan.params.size() > kMaxParams) return DISP_E_BADPARAMCOUNT;
    int source[kMaxParams];
    for (std::size_t i = 0; i < visible; ++i) source[i] = -1;
    bool sawPutValue = false;
    for (UINT n = 0; n < cNamed; ++n) {
        const DISPID id = params->rgdispidNamedArgs[n];
        std::size_t position;
        if (id == DISPID_PROPERTYPUT && put && visible > 0) {
            position = visible - 1;
            sawPutValue = true;
        } else if (id >= 0 && static_cast<std::size_t>(id) < visible) {
            position = static_cast<std::size_t>(id);
        } else {
            if (argErr) *argErr = n;
            return DISP_E_PARAMNOTFOUND;
        }
        if (source[position] >= 0) {
            if (argErr) *argErr = n;
            return DISP_E_PARAMNOTFOUND;
        }
        source[position] = static_cast<int>(n);
    }
    if (put && !sawPutValue) return DISP_E_PARAMNOTFOUND;
    const UINT positional = cArgs - cNamed;
    if (positional > visible) return DISP_E_BADPARAMCOUNT;
    for (UINT i = 0; i < positional; ++i) {
        if (source[i] >= 0) return DISP_E_BADPARAMCOUNT;
        source[i] = static_cast<int>(cArgs - 1 - i);
    }

    ArgStates<kMaxParams> states(plan.params.size());
    void *values[kMaxParams + 1];
    IUnknown *object = static_cast<IUnknown *>(instance);
    values[0] = &object;
    VARIANT missing;
    missing.vt = VT_ERROR;
    missing.scode = DISP_E_PARAMNOTFOUND;

    for (std::size_t k = 0; k < visible; ++k) {
        const std::size_t p = static_cast<std::size_t>(plan.visible[k]);
        const ArgClass &c = plan.params[p];
        VARIANT *arg = source[k] >= 0 ? &params->rgvarg[source[k]] : nullptr;
        if (arg && arg->vt == VT_ERROR && arg->scode == DISP_E_PARAMNOTFOUND &&
            (plan.flags[p] & (PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT)))
            arg = nullptr;
        if (!arg) {
            if (plan.hasDefault[p]) {
                arg = const_cast<VARIANT *>(&plan.defaults[p]);
            } else if ((plan.flags[p] & PARAMFLAG_FOPT) && c.kind == ArgKind::Variant) {
                arg = &missing;
            } else {
                return DISP_E_BADPARAMCOUNT;
            }
        }
        const HRESULT hr = PrepareArgument(c, plan.flags[p], arg, &states[p]);
        if (FAILED(hr)) {
            if (argErr && source[k] >= 0) *argErr = static_cast<UINT>(source[k]);
            return hr == E_OUTOFMEMORY ? hr : (hr == DISP_E_OVERFLOW ? hr : DISP_E_TYPEMISMATCH);
        }
    }
    for (std::size_t p = 0; p < plan.params.size(); ++p) {
        ArgState &s = states[p];
        const ArgClass &c = plan.params[p];
        if (c.kind == ArgKind::Lcid) {
            s.lcid = GetUserDefaultLCID();
            s.pass = &s.lcid;
        } else if (static_cast<int>(p) == plan.retval) {
            // Filled by the callee; VT_EMPTY-initialised storage of the
            // declared type.
            s.owned = true;
            s.value.vt = c.kind == ArgKind::Variant ? static_cast<VARTYPE>(VT_EMPTY) : c.vt;
        }
    }
    // A VARIANT retval is the temporary itself; other retvals are the
    // storage inside it.
    void *retvalPointers[1] = {nullptr};
    VARIANT retvalVariant;
    VariantInit(&retvalVariant);
    if (plan.retval >= 0) {
        ArgState &s = states[plan.retval];
        if (plan.params[static_cast<std::size_t>(plan.retval)].kind == ArgKind::Variant) {
            s.value.vt = VT_EMPTY;
            s.owned = false;
            retvalPointers[0] = &retvalVariant;
        } else {
            retvalPointers[0] = &s.value.llVal;
        }
        s.pass = &retvalPointers[0];
    }
    for (std::size_t p = 0; p < plan.params.size(); ++p) values[p + 1] = states[p].pass;

    if (result) VariantInit(result);
#if COMHOST_HAVE_FFI
    void **table = *reinterpret_cast<void ***>(instance);
    union {
        ffi_arg word;
        ffi_sarg sword;
        double d;
        float f;
        std::uint64_t u64;
        BYTE raw[32];
    } ret;
    std::memset(&ret, 0, sizeof ret);
    ffi_call(const_cast<ffi_cif *>(&plan.cif), reinterpret_cast<void (*)()>(table[plan.slot]), &ret, values + 0);
#else
    return E_NOTIMPL;
#endif

    // By-reference temporaries go back into the caller's VARIANTs, whatever
    // the method's result.
    for (std::size_t p = 0; p < plan.params.size(); ++p) {
        ArgState &s = states[p];
        if (!s.writeBack) continue;
        VariantClear(s.writeBack);
        *s.writeBack = s.value;
        VariantInit(&s.value);
        s.owned = false;
    }

    HRESULT callResult = S_OK;
    if (plan.returnsHresult) {
        callResult = static_cast<HRESULT>(static_cast<std::int32_t>(ret.sword));
    } else if (plan.result.kind != ArgKind::Lcid && result) {
        // A function returning a value directly.
        result->vt = plan.result.vt;
        switch (plan.result.vt) {
        case VT_R4: result->fltVal = ret.f; break;
        case VT_R8: case VT_DATE: result->dblVal = ret.d; break;
        case VT_I1: case VT_UI1: result->bVal = static_cast<BYTE>(ret.word); break;
        case VT_I2: case VT_UI2: case VT_BOOL: result->iVal = static_cast<SHORT>(ret.word); break;
        case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_ERROR:
            result->lVal = static_cast<LONG>(ret.word);
            break;
        default: std::memcpy(&result->llVal, ret.raw, sizeof(void *) > 8 ? 8 : 8); break;
        }
    }
    if (FAILED(callResult)) {
        if (plan.retval >= 0) VariantClear(&retvalVariant);
        FillException(instance, plan, callResult, excep);
        return DISP_E_EXCEPTION;
    }
    if (plan.retval >= 0) {
        ArgState &s = states[plan.retval];
        const bool variantResult = plan.params[static_cast<std::size_t>(plan.retval)].kind == ArgKind::Variant;
        if (result) {
            if (variantResult) {
                *result = retvalVariant;
            } else {
                *result = s.value;
                VariantInit(&s.value);
            }
        } else if (variantResult) {
            VariantClear(&retvalVariant);
        }
    }
    return callResult;
}

bool KindMatches(INVOKEKIND kind, WORD flags) {
    switch (kind) {
    case INVOKE_FUNC: return (flags & DISPATCH_METHOD) != 0;
    case INVOKE_PROPERTYGET: return (flags & DISPATCH_PROPERTYGET) != 0;
    case INVOKE_PROPERTYPUT: return (flags & DISPATCH_PROPERTYPUT) != 0;
    case INVOKE_PROPERTYPUTREF: return (flags & DISPATCH_PROPERTYPUTREF) != 0;
    default: return false;
    }
}

}  // namespace

HRESULT InvokeRecord(TypeInfo *info, PVOID instance, MEMBERID memid, WORD flags, DISPPARAMS *params,
                     VARIANT *result, EXCEPINFO *excep, UINT *argErr) noexcept {
    if (!instance || !params) return E_INVALIDARG;
    const TypeRecord &record = info->Record();
    if (record.kind == TKIND_DISPATCH && !record.dual) {
        // A pure dispinterface has no table of operations to call into.
        return static_cast<IDispatch *>(instance)->Invoke(memid, IID_NULL, 0, flags, params, result, excep, argErr);
    }
    if (record.kind != TKIND_INTERFACE && record.kind != TKIND_DISPATCH) return TYPE_E_WRONGTYPEKIND;
    bool memberSeen = false;
    // Scripts ask for a method or a property get at once; the method wins.
    static const INVOKEKIND order[] = {INVOKE_FUNC, INVOKE_PROPERTYGET, INVOKE_PROPERTYPUT, INVOKE_PROPERTYPUTREF};
    for (INVOKEKIND kind : order) {
        if (!KindMatches(kind, flags)) continue;
        for (std::size_t f = 0; f < record.functions.size(); ++f) {
            const Function &fn = record.functions[f];
            if (fn.memid != memid) continue;
            memberSeen = true;
            if (fn.invkind != kind) continue;
            const CallPlan *plan = nullptr;
            HRESULT hr = info->Lib()->Plan(info->Index(), static_cast<int>(f), &plan);
            if (FAILED(hr)) return hr;
            return Execute(*plan, instance, params, result, excep, argErr);
        }
    }
    if (memberSeen) return DISP_E_MEMBERNOTFOUND;
    for (const Function &fn : record.functions) {
        if (fn.memid == memid) return DISP_E_MEMBERNOTFOUND;
    }
    ITypeInfo *base = nullptr;
    if (info->Base(&base) == S_OK && base) {
        const HRESULT hr = base->Invoke(instance, memid, flags, params, result, excep, argErr);
        base->Release();
        return hr;
    }
    return DISP_E_MEMBERNOTFOUND;
}

}  // namespace comhost::typelib
