// VARIANT lifetime and copying: VariantInit, VariantClear, VariantCopy,
// VariantCopyInd and VariantChangeType(Ex).

#include "convert.h"
#include "oleaut_internal.h"

#include <cstring>

namespace comhost::oleaut {

namespace {

// Size of the scalar a by-reference VARIANT of base type vt points at; 0 for
// the types that are not copied as plain bytes.
std::size_t ReferencedSize(VARTYPE base) {
  if (base == VT_VARIANT || base == VT_DECIMAL) return 0;
  return ArrayElementSize(base);
}

}  // namespace

bool IsValidVariantType(VARTYPE vt) {
  const VARTYPE base = vt & VT_TYPEMASK;
  const VARTYPE modifiers = vt & ~VT_TYPEMASK;
  if ((modifiers & ~(VT_BYREF | VT_ARRAY)) != 0) return false;
  switch (base) {
    case VT_EMPTY:
    case VT_NULL:
      return modifiers == 0;
    case VT_VARIANT:
      return modifiers != 0;
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_ERROR:
    case VT_BOOL:
    case VT_UNKNOWN:
    case VT_DECIMAL:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
    case VT_RECORD:
      return true;
    default:
      return false;
  }
}

HRESULT DereferenceVariant(const VARIANT &src, VARIANT *view) {
  if (src.byref == nullptr) return E_INVALIDARG;
  const VARTYPE vt = src.vt & ~VT_BYREF;
  if (vt == VT_VARIANT) {
    const VARIANT &inner = *src.pvarVal;
    if (inner.vt == (VT_VARIANT | VT_BYREF)) return E_INVALIDARG;
    if (inner.vt & VT_BYREF) return DereferenceVariant(inner, view);
    *view = inner;
    return S_OK;
  }
  std::memset(view, 0, sizeof *view);
  if (vt & VT_ARRAY) {
    view->parray = *src.pparray;
  } else if (vt == VT_DECIMAL) {
    view->decVal = *src.pdecVal;
  } else if (vt == VT_RECORD) {
    // A record reference names the record itself; the view carries the
    // same record and its description.
    view->pvRecord = src.pvRecord;
    view->pRecInfo = src.pRecInfo;
  } else {
    const std::size_t size = ReferencedSize(vt);
    if (size == 0) return DISP_E_BADVARTYPE;
    std::memcpy(&view->llVal, src.byref, size);
  }
  view->vt = vt;
  return S_OK;
}

HRESULT CopyVariantValue(const VARIANT &src, VARIANT *out) {
  const VARTYPE vt = src.vt;
  if (vt & VT_BYREF) {
    *out = src;  // a reference stays a reference
    return S_OK;
  }
  if (vt & VT_ARRAY) {
    ArrayOwner copy;
    if (src.parray != nullptr) {
      HRESULT hr = SafeArrayCopy(src.parray, copy.receive());
      if (FAILED(hr)) return hr;
    }
    std::memset(out, 0, sizeof *out);
    out->vt = vt;
    out->parray = copy.release();
    return S_OK;
  }
  switch (vt) {
    case VT_BSTR: {
      BSTR copy = nullptr;
      HRESULT hr = DuplicateBstr(src.bstrVal, &copy);
      if (FAILED(hr)) return hr;
      *out = src;
      out->bstrVal = copy;
      return S_OK;
    }
    case VT_UNKNOWN:
    case VT_DISPATCH:
      if (src.punkVal != nullptr) src.punkVal->AddRef();
      *out = src;
      return S_OK;
    case VT_RECORD: {
      PVOID record = nullptr;
      if (src.pRecInfo != nullptr && src.pvRecord != nullptr) {
        HRESULT hr = src.pRecInfo->RecordCreateCopy(src.pvRecord, &record);
        if (FAILED(hr)) return hr;
      }
      if (src.pRecInfo != nullptr) src.pRecInfo->AddRef();
      *out = src;
      out->pvRecord = record;
      return S_OK;
    }
    default:
      *out = src;
      return S_OK;
  }
}

namespace {

// Puts a freshly made value into dest: dest's old value is cleared first,
// and if that is refused the new value is released instead.
HRESULT StoreResult(VARIANT *dest, VARIANT *value) {
  HRESULT hr = VariantClear(dest);
  if (FAILED(hr)) {
    VariantClear(value);
    return hr;
  }
  *dest = *value;
  return S_OK;
}

bool IsObjectType(VARTYPE vt) { return vt == VT_UNKNOWN || vt == VT_DISPATCH; }

// Valid targets of VariantChangeType.
bool IsConvertibleTarget(VARTYPE vt) {
  if (vt & VT_BYREF) return false;
  if (vt & VT_ARRAY) return IsValidVariantType(vt);
  return IsValidVariantType(vt) && vt != VT_RECORD;
}

constexpr int kMaxValueDepth = 4;

HRESULT ChangeType(VARIANT *dest, const VARIANT &source, LCID lcid, USHORT flags, VARTYPE vt,
                   int depth) {
  VARIANT src;
  if (source.vt & VT_BYREF) {
    HRESULT hr = DereferenceVariant(source, &src);
    if (FAILED(hr)) return hr;
  } else {
    src = source;
  }

  VARIANT result;
  std::memset(&result, 0, sizeof result);

  if (src.vt == vt) {
    HRESULT hr = CopyVariantValue(src, &result);
    if (FAILED(hr)) return hr;
    return StoreResult(dest, &result);
  }

  if ((src.vt & VT_ARRAY) || (vt & VT_ARRAY)) {
    // Arrays convert only between a byte vector and a string.
    if (src.vt == (VT_ARRAY | VT_UI1) && vt == VT_BSTR) {
      if (src.parray == nullptr) return DISP_E_TYPEMISMATCH;
      HRESULT hr = BstrFromVector(src.parray, &result.bstrVal);
      if (FAILED(hr)) return hr;
    } else if (src.vt == VT_BSTR && vt == (VT_ARRAY | VT_UI1)) {
      HRESULT hr = VectorFromBstr(src.bstrVal, &result.parray);
      if (FAILED(hr)) return hr;
    } else {
      return DISP_E_TYPEMISMATCH;
    }
    result.vt = vt;
    return StoreResult(dest, &result);
  }

  if (src.vt == VT_RECORD) return DISP_E_TYPEMISMATCH;

  if (IsObjectType(vt)) {
    if (!IsObjectType(src.vt)) return DISP_E_TYPEMISMATCH;
    if (src.punkVal != nullptr) {
      const IID &iid = vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown;
      HRESULT hr = src.punkVal->QueryInterface(iid, reinterpret_cast<void **>(&result.punkVal));
      if (FAILED(hr)) return hr;
    }
    result.vt = vt;
    return StoreResult(dest, &result);
  }

  if (src.vt == VT_DISPATCH) {
    // An object converts through the value of its default member.
    if ((flags & VARIANT_NOVALUEPROP) || src.pdispVal == nullptr || depth >= kMaxValueDepth) {
      return DISP_E_TYPEMISMATCH;
    }
    VariantOwner value;
    HRESULT hr = GetDefaultValue(src.pdispVal, lcid, value.get());
    if (FAILED(hr)) return hr;
    VariantOwner converted;
    hr = ChangeType(converted.get(), value.value(), lcid, flags, vt, depth + 1);
    if (FAILED(hr)) return hr;
    result = converted.release();
    return StoreResult(dest, &result);
  }
  if (src.vt == VT_UNKNOWN) return DISP_E_TYPEMISMATCH;

  ConvertOptions options;
  options.lcid = lcid;
  options.alpha_bool = (flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL)) != 0;
  if (flags & VARIANT_LOCALBOOL) options.var_flags |= VAR_LOCALBOOL;
  HRESULT hr = ConvertScalar(src, vt, options, &result);
  if (FAILED(hr)) return hr;
  return StoreResult(dest, &result);
}

}  // namespace

}  // namespace comhost::oleaut

using namespace comhost::oleaut;

EXTERN_C void STDAPICALLTYPE VariantInit(VARIANTARG *pvarg) {
  if (pvarg == nullptr) return;
  pvarg->vt = VT_EMPTY;
  pvarg->wReserved1 = 0;
  pvarg->wReserved2 = 0;
  pvarg->wReserved3 = 0;
}

EXTERN_C HRESULT STDAPICALLTYPE VariantClear(VARIANTARG *pvarg) {
  if (pvarg == nullptr) return E_INVALIDARG;
  const VARTYPE vt = pvarg->vt;
  if (!IsValidVariantType(vt)) return DISP_E_BADVARTYPE;
  if (!(vt & VT_BYREF)) {
    if (vt & VT_ARRAY) {
      if (pvarg->parray != nullptr) {
        HRESULT hr = SafeArrayDestroy(pvarg->parray);
        if (FAILED(hr)) return hr;  // a locked array stays where it is
      }
    } else {
      switch (vt) {
        case VT_BSTR:
          SysFreeString(pvarg->bstrVal);
          break;
        case VT_UNKNOWN:
        case VT_DISPATCH:
          if (pvarg->punkVal != nullptr) pvarg->punkVal->Release();
          break;
        case VT_RECORD:
          if (pvarg->pRecInfo != nullptr) {
            if (pvarg->pvRecord != nullptr) pvarg->pRecInfo->RecordDestroy(pvarg->pvRecord);
            pvarg->pRecInfo->Release();
          }
          break;
        default:
          break;
      }
    }
  }
  std::memset(pvarg, 0, sizeof *pvarg);
  pvarg->vt = VT_EMPTY;
  return S_OK;
}

EXTERN_C HRESULT STDAPICALLTYPE VariantCopy(VARIANTARG *pvargDest, VARIANTARG *pvargSrc) {
  if (pvargDest == nullptr || pvargSrc == nullptr) return E_INVALIDARG;
  if (!IsValidVariantType(pvargSrc->vt)) return DISP_E_BADVARTYPE;
  if (pvargDest == pvargSrc) return S_OK;
  VARIANT copy;
  HRESULT copied = CopyVariantValue(*pvargSrc, &copy);
  // The destination is emptied either way, as on Windows.
  HRESULT cleared = VariantClear(pvargDest);
  if (FAILED(cleared)) {
    if (SUCCEEDED(copied)) VariantClear(&copy);
    return cleared;
  }
  if (FAILED(copied)) return copied;
  *pvargDest = copy;
  return S_OK;
}

EXTERN_C HRESULT STDAPICALLTYPE VariantCopyInd(VARIANT *pvarDest, VARIANTARG *pvargSrc) {
  if (pvarDest == nullptr || pvargSrc == nullptr) return E_INVALIDARG;
  if (!IsValidVariantType(pvargSrc->vt)) return DISP_E_BADVARTYPE;
  if (!(pvargSrc->vt & VT_BYREF)) return VariantCopy(pvarDest, pvargSrc);
  VARIANT view;
  HRESULT hr = DereferenceVariant(*pvargSrc, &view);
  if (FAILED(hr)) return hr;
  VARIANT copy;
  hr = CopyVariantValue(view, &copy);
  if (FAILED(hr)) return hr;
  return StoreResult(pvarDest, &copy);
}

EXTERN_C HRESULT STDAPICALLTYPE VariantChangeTypeEx(VARIANTARG *pvargDest, VARIANTARG *pvarSrc,
                                                    LCID lcid, USHORT wFlags, VARTYPE vt) {
  if (pvargDest == nullptr || pvarSrc == nullptr) return E_INVALIDARG;
  if (!IsValidVariantType(pvarSrc->vt)) return DISP_E_BADVARTYPE;
  if (!IsConvertibleTarget(vt)) return DISP_E_BADVARTYPE;
  return ChangeType(pvargDest, *pvarSrc, lcid, wFlags, vt, 0);
}

EXTERN_C HRESULT STDAPICALLTYPE VariantChangeType(VARIANTARG *pvargDest, VARIANTARG *pvarSrc,
                                                  USHORT wFlags, VARTYPE vt) {
  return VariantChangeTypeEx(pvargDest, pvarSrc, LOCALE_USER_DEFAULT, wFlags, vt);
}
