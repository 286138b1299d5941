// SAFEARRAY management.
//
// A descriptor made here is preceded by a hidden block that holds what the
// public structure has no room for: the interface identifier (FADF_HAVEIID),
// the record description (FADF_RECORD) and the element VARTYPE
// (FADF_HAVEVARTYPE, in the four bytes just before the descriptor, where
// Windows keeps it too).
//
// Dimensions: the caller names them left to right (SafeArrayCreate's
// rgsabound[0] and the rgIndices[0] of the element functions are the
// leftmost dimension, which is also dimension 1 of SafeArrayGetLBound), and
// the leftmost index varies fastest in memory.  The descriptor stores the
// bounds in the opposite order: psa->rgsabound[0] is the rightmost
// dimension, the one SafeArrayRedim may change.

#include "oleaut_internal.h"

#include <comhost/allocation.h>

#include <atomic>
#include <cstring>

namespace comhost::oleaut {

namespace {

struct alignas(8) HiddenBlock {
  GUID iid;
  IRecordInfo *record;
  DWORD reserved;
  DWORD vartype;  // immediately before the descriptor
};

constexpr USHORT kOwnedElsewhere = FADF_AUTO | FADF_STATIC | FADF_EMBEDDED;
constexpr std::size_t kMaxDataBytes = 0x7FFFFFFF;

HiddenBlock *Hidden(SAFEARRAY *psa) {
  return reinterpret_cast<HiddenBlock *>(reinterpret_cast<char *>(psa) - sizeof(HiddenBlock));
}

std::size_t DescriptorBytes(UINT dims) {
  return sizeof(SAFEARRAY) + (dims - 1) * sizeof(SAFEARRAYBOUND);
}

// Element count; false when it overflows the data limit.
bool CountElements(const SAFEARRAY *psa, std::size_t *count) {
  unsigned __int128 n = 1;
  for (USHORT i = 0; i < psa->cDims; ++i) {
    n *= psa->rgsabound[i].cElements;
    if (n > kMaxDataBytes) return false;
  }
  *count = static_cast<std::size_t>(n);
  return true;
}

bool DataBytes(const SAFEARRAY *psa, std::size_t *bytes) {
  std::size_t count = 0;
  if (!CountElements(psa, &count)) return false;
  unsigned __int128 total = static_cast<unsigned __int128>(count) * psa->cbElements;
  if (total > kMaxDataBytes) return false;
  *bytes = static_cast<std::size_t>(total);
  return true;
}

IRecordInfo *RecordOf(SAFEARRAY *psa) { return (psa->fFeatures & FADF_RECORD) ? Hidden(psa)->record : nullptr; }

// Releases what the elements [first, first + count) hold and zeroes them.
void ReleaseElements(SAFEARRAY *psa, std::size_t first, std::size_t count) {
  if (psa->pvData == nullptr || count == 0) return;
  char *base = static_cast<char *>(psa->pvData) + first * psa->cbElements;
  const USHORT f = psa->fFeatures;
  if (f & FADF_BSTR) {
    BSTR *items = reinterpret_cast<BSTR *>(base);
    for (std::size_t i = 0; i < count; ++i) SysFreeString(items[i]);
  } else if (f & (FADF_UNKNOWN | FADF_DISPATCH)) {
    IUnknown **items = reinterpret_cast<IUnknown **>(base);
    for (std::size_t i = 0; i < count; ++i) {
      if (items[i] != nullptr) items[i]->Release();
    }
  } else if (f & FADF_VARIANT) {
    VARIANT *items = reinterpret_cast<VARIANT *>(base);
    for (std::size_t i = 0; i < count; ++i) VariantClear(&items[i]);
  } else if (f & FADF_RECORD) {
    IRecordInfo *record = RecordOf(psa);
    if (record != nullptr) {
      for (std::size_t i = 0; i < count; ++i) record->RecordClear(base + i * psa->cbElements);
    }
  }
  std::memset(base, 0, count * psa->cbElements);
}

// Copies one element from `from` into the empty slot `to` as the element
// functions do: strings duplicated, interfaces referenced, VARIANTs and
// records deep-copied.
HRESULT CopyElement(SAFEARRAY *psa, const void *from, void *to) {
  const USHORT f = psa->fFeatures;
  if (f & FADF_BSTR) return DuplicateBstr(*static_cast<const BSTR *>(from), static_cast<BSTR *>(to));
  if (f & (FADF_UNKNOWN | FADF_DISPATCH)) {
    IUnknown *item = *static_cast<IUnknown *const *>(from);
    if (item != nullptr) item->AddRef();
    *static_cast<IUnknown **>(to) = item;
    return S_OK;
  }
  if (f & FADF_VARIANT) {
    VARIANT *target = static_cast<VARIANT *>(to);
    VariantInit(target);
    return VariantCopy(target, const_cast<VARIANT *>(static_cast<const VARIANT *>(from)));
  }
  if (f & FADF_RECORD) {
    IRecordInfo *record = RecordOf(psa);
    if (record == nullptr) return E_INVALIDARG;
    return record->RecordCopy(const_cast<void *>(from), to);
  }
  std::memcpy(to, from, psa->cbElements);
  return S_OK;
}

// Deep-copies all elements of src into the zeroed data of dst (same shape).
HRESULT CopyAllElements(SAFEARRAY *src, SAFEARRAY *dst) {
  std::size_t count = 0;
  if (!CountElements(src, &count)) return E_OUTOFMEMORY;
  if (count == 0 || src->pvData == nullptr) return S_OK;
  const char *from = static_cast<const char *>(src->pvData);
  char *to = static_cast<char *>(dst->pvData);
  for (std::size_t i = 0; i < count; ++i) {
    HRESULT hr = CopyElement(src, from + i * src->cbElements, to + i * src->cbElements);
    if (FAILED(hr)) {
      ReleaseElements(dst, 0, i);
      return hr;
    }
  }
  return S_OK;
}

// Byte offset of the element at rgIndices (leftmost dimension first).
HRESULT ElementOffset(const SAFEARRAY *psa, const LONG *indices, std::size_t *offset) {
  std::size_t position = 0;
  std::size_t stride = 1;
  for (USHORT k = 0; k < psa->cDims; ++k) {
    const SAFEARRAYBOUND &bound = psa->rgsabound[psa->cDims - 1 - k];
    const long long relative = static_cast<long long>(indices[k]) - bound.lLbound;
    if (relative < 0 || relative >= static_cast<long long>(bound.cElements)) return DISP_E_BADINDEX;
    position += static_cast<std::size_t>(relative) * stride;
    stride *= bound.cElements;
  }
  *offset = position * psa->cbElements;
  return S_OK;
}

// Feature flags and element size for an element type.
bool FeaturesFor(VARTYPE vt, USHORT *features, ULONG *size) {
  *size = ArrayElementSize(vt);
  switch (vt) {
    case VT_BSTR:
      *features = FADF_HAVEVARTYPE | FADF_BSTR;
      break;
    case VT_VARIANT:
      *features = FADF_HAVEVARTYPE | FADF_VARIANT;
      break;
    case VT_UNKNOWN:
      *features = FADF_HAVEIID | FADF_UNKNOWN;
      break;
    case VT_DISPATCH:
      *features = FADF_HAVEIID | FADF_DISPATCH;
      break;
    case VT_RECORD:
      *features = FADF_RECORD;
      *size = 0;  // set from the record description
      return true;
    default:
      *features = FADF_HAVEVARTYPE;
      break;
  }
  return *size != 0;
}

class ArrayLock {
 public:
  explicit ArrayLock(SAFEARRAY *psa) : psa_(psa), hr_(SafeArrayLock(psa)) {}
  ~ArrayLock() {
    if (SUCCEEDED(hr_)) SafeArrayUnlock(psa_);
  }
  ArrayLock(const ArrayLock &) = delete;
  ArrayLock &operator=(const ArrayLock &) = delete;
  HRESULT result() const { return hr_; }

 private:
  SAFEARRAY *psa_;
  HRESULT hr_;
};

}  // namespace

ULONG ArrayElementSize(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR:
      return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
      return 8;
    case VT_BSTR:
    case VT_UNKNOWN:
    case VT_DISPATCH:
      return sizeof(void *);
    case VT_VARIANT:
      return sizeof(VARIANT);
    case VT_DECIMAL:
      return sizeof(DECIMAL);
    default:
      return 0;
  }
}

}  // namespace comhost::oleaut

using namespace comhost::oleaut;

EXTERN_C HRESULT STDAPICALLTYPE SafeArrayAllocDescriptor(UINT cDims, SAFEARRAY **ppsaOut) {
  if (ppsaOut == nullptr) return E_INVALIDARG;
  *ppsaOut = nullptr;
  if (cDims == 0 || cDims > 0xFFFF) return E_INVALIDARG;
  char *block = static_cast<char *>(AllocateZeroed(sizeof(HiddenBlock) + DescriptorBytes(cDims)));
  if (block == nullptr) return E_OUTOFMEMORY;
  SAFEARRAY *psa = reinterpret_cast<SAFEARRAY *>(block + sizeof(HiddenBlock));
  psa->cDims = static_cast<USHORT>(cDims);
  ComHostLiveAdd(COMHOST_LIVE_SAFEARRAYS, 1);
  *ppsaOut = psa;
  return S_OK;
}

EXTERN_C HRESULT STDAPICALLTYPE SafeArrayAllocDescriptorEx(VARTYPE vt, UINT cDims, SAFEARRAY **ppsaOut) {
  if (ppsaOut == nullptr) return E_INVALIDARG;
  *ppsaOut = nullptr;
  USHORT features = 0;
  ULONG size = 0;
  if (!FeaturesFor(vt, &features, &size)) return E_INVALIDARG;
  HRESULT hr = SafeArrayAllocDescriptor(cDims, ppsaOut);
  if (FAILED(hr)) return hr;
  SAFEARRAY *psa = *ppsaOut;
  psa->fFeatures = features;
  psa->cbElements = size;
  if (features & FADF_HAVEVARTYPE) Hidden(psa)->vartype = vt;
  if (features & FADF_HAVEIID) Hidden(psa)->iid = vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown;
  return S_OK;
}

EXTERN_C HRESULT STDAPICALLTYPE SafeArrayAllocData(SAFEARRAY *psa) {
  if (psa == nullptr) return E_INVALIDARG;
  std::size_t bytes = 0;
  if (!DataBytes(psa, &bytes)) return E_OUTOFMEMORY;
  void *data = AllocateZeroed(bytes);
  if (data == nullptr) return E_OUTOFMEMORY;
  psa->pvData = data;
  return S_OK;
}

EXTERN_C HRESULT STDAPICALLTYPE SafeArrayDestroyData(SAFEARRAY *psa) {
  if (psa == nullptr) return E_INVALIDARG;
  if (psa->cLocks != 0) return DISP_E_ARRAYISLOCKED;
  std::size_t count = 0;
  if (psa->pvData != nullptr && CountElements(psa, &count)) ReleaseElements(psa, 0, count);
  if (!(psa->fFeatures & kOwnedElsewhere)) {
    Free(psa->pvData);
    psa->pvData = nullptr;
  }
  return S_OK;
}

EXTERN_C HRESULT STDAPICALLTYPE SafeArrayDestroyDescriptor(SAFEARRAY *psa) {
  if (psa == nullptr) return E_INVALIDARG;
  if (psa->cLocks != 0) return DISP_E_ARRAYISLOCKED;
  if (psa->fFeatures & FADF_RECORD) {
    IRecordInfo *record = Hidden(psa)->record;
    Hidden(psa)->record = nullptr;
    if (record != nullptr) record->Release();
  }
  if (!(psa->fFeatures & kOwnedElsewhere)) {
    ComHostLiveAdd(COMHOST_LIVE_SAFEARRAYS, -1);
    Free(Hidden(psa));
  }
  return S_OK;
}

EXTERN_C HRESULT STDAPICALLTYPE SafeArrayDestroy(SAFEARRAY *psa) {
  if (psa == nullptr) return S_OK;
  if (psa->cLocks != 0) return DISP_E_ARRAYISLOCKED;
  HRESULT hr = SafeArrayDestroyData(psa);
  if (FAILED(hr)) return hr;
  return SafeArrayDestroyDescriptor(psa);
}

EXTERN_C SAFEARRAY *STDAPICALLTYPE SafeArrayCreateEx(VARTYPE vt, UINT cDims, SAFEARRAYBOUND *rgsabound,
                                                     PVOID pvExtra) {
  if (rgsabound == nullptr || cDims == 0) return nullptr;
  ArrayOwner array;
  if (FAILED(SafeArrayAllocDescriptorEx(vt, cDims, array.receive()))) return nullptr;
  SAFEARRAY *psa = array.get();
  if (vt == VT_RECORD) {
    IRecordInfo *record = static_cast<IRecordInfo *>(pvExtra);
    ULONG size = 0;
    if (record == nullptr || FAILED(record->GetSize(&size)) || size == 0) return nullptr;
    record->AddRef();
    Hidden(psa)->record = record;
    psa->cbElements = size;
  } else if ((vt == VT_UNKNOWN || vt == VT_DISPATCH) && pvExtra != nullptr) {
    Hidden(psa)->iid = *static_cast<const GUID *>(pvExtra);
  }
  for (UINT i = 0; i < cDims; ++i) psa->rgsabound[cDims - 1 - i] = rgsabound[i];
  if (FAILED(SafeArrayAllocData(psa))) return nullptr;
  return array.release();
}

EXTERN_C SAFEARRAY *STDAPICALLTYPE SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND *rgsabound) {
  if (vt == VT_RECORD) return nullptr;  // needs the record description
  return SafeArrayCreateEx(vt, cDims, rgsabound, nullptr);
}

EXTERN_C SAFEARRAY *STDAPICALLTYPE SafeArrayCreateVectorEx(VARTYPE vt, LONG lLbound, ULONG cElements,
                                                           PVOID pvExtra) {
  SAFEARRAYBOUND bound = {cElements, lLbound};
  return SafeArrayCreateEx(vt, 1, &bound, pvExtra);
}

EXTERN_C SAFEARRAY *STDAPICALLTYPE SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
  if (vt == VT_RECORD) return nullptr;
  return SafeArrayCreateVectorEx(vt, lLbound, cElements, nullptr);
}

EXTERN_C UINT STDAPICALLTYPE SafeArrayGetDim(SAFEARRAY *psa) { return psa == nullptr ? 0 : psa->cDims; }

EXTERN_C UINT STDAPICALLTYPE SafeArrayGetElemsize(SAFEARRAY *psa) {
  return psa == nullptr ? 0 : psa->cbElements;
}

EXTERN_C HRESULT STDAPICALLTYPE SafeArrayGetLBound(SAFEARRAY *psa, UINT nDim, LONG *plLbound) {
  if (psa == nullptr || plLbound == nullptr) return E_INVALIDARG;
  if (nDim < 1 || nDim > psa->cDims) return DISP_E_BADINDEX;
  *plLbound = psa->rgsabound[psa->cDims - nDim].lLbound;
  return S_OK;
}

EXTERN_C HRESULT STDAPICALLTYPE SafeArrayGetUBound(SAFEARRAY *psa, UINT nDim, LONG *plUbound) {
  if (psa == nullptr || plUbound == nullptr) return E_INVALIDARG;
  if (nDim < 1 || nDim > psa->cDims) return DISP_E_BADINDEX;
  const SAFEARRAYBOUND &bound = psa->rgsabound[psa->cDims - nDim];
  *plUbound = static_cast<LONG>(static_cast<long long>(bound.lLbound) + bound.cElements - 1);
  return S_OK;
}

EXTERN_C HRESULT STDAPICALLTYPE SafeArrayLock(SAFEARRAY *psa) {
  if (psa == nullptr) return E_INVALIDARG;
  std::atomic_ref<ULONG> locks(psa->cLocks);
  ULONG current = locks.load();
  do {
    if (current >= 0xFFFF) return E_UNEXPECTED;
  } while (!locks.compare_exchange_weak(current, current + 1));
  return S_OK;
}

EXTERN_C HRESULT STDAPICALLTYPE SafeArrayUnlock(SAFEARRAY *psa) {
  if (psa == nullptr) return E_INVALIDARG;
  std::atomic_ref<ULONG> locks(psa->cLocks);
  ULONG current = locks.load();
  do {
    if (current == 0) return E_UNEXPECTED;
  } while (!locks.compare_exchange_weak(current, current - 1));
  return S_OK;
}

EXTERN_C HRESULT STDAPICALLTYPE SafeArrayAccessData(SAFEARRAY *psa, void **ppvData) {
  if (psa == nullptr || ppvData == nullptr) return E_INVALIDARG;
  HRESULT hr = SafeArrayLock(psa);
  *ppvData = SUCCEEDED(hr) ? psa->pvData : nullptr;
  return hr;
}

EXTERN_C HRESULT STDAPICALLTYPE SafeArrayUnaccessData(SAFEARRAY *psa) { return SafeArrayUnlock(psa); }

EXTERN_C HRESULT STDAPICALLTYPE SafeArrayPtrOfIndex(SAFEARRAY *psa, LONG *rgIndices, void **ppvData) {
  if (psa == nullptr || rgIndices == nullptr || ppvData == nullptr) return E_INVALIDARG;
  std::size_t offset = 0;
  HRESULT hr = ElementOffset(psa, rgIndices, &offset);
  if (FAILED(hr)) return hr;
  if (psa->pvData == nullptr) return E_INVALIDARG;
  *ppvData = static_cast<char *>(psa->pvData) + offset;
  return S_OK;
}

EXTERN_C HRESULT STDAPICALLTYPE SafeArrayGetElement(SAFEARRAY *psa, LONG *rgIndices, void *pv) {
  if (psa == nullptr || rgIndices == nullptr || pv == nullptr) return E_INVALIDARG;
  std::size_t offset = 0;
  HRESULT hr = ElementOffset(psa, rgIndices, &offset);
  if (FAILED(hr)) return hr;
  if (psa->pvData == nullptr) return E_INVALIDARG;
  ArrayLock lock(psa);
  if (FAILED(lock.result())) return lock.result();
  return CopyElement(psa, static_cast<char *>(psa->pvData) + offset, pv);
}

EXTERN_C HRESULT STDAPICALLTYPE SafeArrayPutElement(SAFEARRAY *psa, LONG *rgIndices, void *pv) {
  if (psa == nullptr || rgIndices == nullptr) return E_INVALIDARG;
  std::size_t offset = 0;
  HRESULT hr = ElementOffset(psa, rgIndices, &offset);
  if (FAILED(hr)) return hr;
  if (psa->pvData == nullptr) return E_INVALIDARG;
  ArrayLock lock(psa);
  if (FAILED(lock.result())) return lock.result();
  void *slot = static_cast<char *>(psa->pvData) + offset;
  const USHORT f = psa->fFeatures;
  // Strings and interfaces are passed as the pointer itself, not a
  // pointer to it; null is a legitimate value for them.
  if (f & FADF_BSTR) {
    BSTR copy = nullptr;
    hr = DuplicateBstr(static_cast<BSTR>(pv), &copy);
    if (FAILED(hr)) return hr;
    BSTR *target = static_cast<BSTR *>(slot);
    SysFreeString(*target);
    *target = copy;
    return S_OK;
  }
  if (f & (FADF_UNKNOWN | FADF_DISPATCH)) {
    IUnknown *item = static_cast<IUnknown *>(pv);
    if (item != nullptr) item->AddRef();
    IUnknown **target = static_cast<IUnknown **>(slot);
    IUnknown *old = *target;
    *target = item;
    if (old != nullptr) old->Release();
    return S_OK;
  }
  if (pv == nullptr) return E_INVALIDARG;
  if (f & FADF_VARIANT) return VariantCopy(static_cast<VARIANT *>(slot), static_cast<VARIANT *>(pv));
  if (f & FADF_RECORD) {
    IRecordInfo *record = RecordOf(psa);
    if (record == nullptr) return E_INVALIDARG;
    record->RecordClear(slot);
    return record->RecordCopy(pv, slot);
  }
  std::memcpy(slot, pv, psa->cbElements);
  return S_OK;
}

EXTERN_C HRESULT STDAPICALLTYPE SafeArrayCopy(SAFEARRAY *psa, SAFEARRAY **ppsaOut) {
  if (ppsaOut == nullptr) return E_INVALIDARG;
  *ppsaOut = nullptr;
  if (psa == nullptr) return S_OK;
  if (psa->cbElements == 0) return E_INVALIDARG;
  ArrayOwner copy;
  HRESULT hr = SafeArrayAllocDescriptor(psa->cDims, copy.receive());
  if (FAILED(hr)) return hr;
  SAFEARRAY *target = copy.get();
  const USHORT f = psa->fFeatures;
  target->fFeatures = static_cast<USHORT>(f & ~(kOwnedElsewhere | FADF_RESERVED));
  target->cbElements = psa->cbElements;
  std::memcpy(target->rgsabound, psa->rgsabound, psa->cDims * sizeof(SAFEARRAYBOUND));
  if (f & FADF_HAVEVARTYPE) Hidden(target)->vartype = Hidden(psa)->vartype;
  if (f & FADF_HAVEIID) Hidden(target)->iid = Hidden(psa)->iid;
  if (f & FADF_RECORD) {
    IRecordInfo *record = Hidden(psa)->record;
    if (record != nullptr) record->AddRef();
    Hidden(target)->record = record;
  }
  if (psa->pvData != nullptr) {
    hr = SafeArrayAllocData(target);
    if (FAILED(hr)) return hr;
    hr = CopyAllElements(psa, target);
    if (FAILED(hr)) return hr;
  }
  *ppsaOut = copy.release();
  return S_OK;
}

EXTERN_C HRESULT STDAPICALLTYPE SafeArrayCopyData(SAFEARRAY *psaSource, SAFEARRAY *psaTarget) {
  if (psaSource == nullptr || psaTarget == nullptr || psaSource == psaTarget) return E_INVALIDARG;
  if (psaSource->cDims != psaTarget->cDims || psaSource->cbElements != psaTarget->cbElements ||
      std::memcmp(psaSource->rgsabound, psaTarget->rgsabound,
                  psaSource->cDims * sizeof(SAFEARRAYBOUND)) != 0 ||
      psaSource->pvData == nullptr || psaTarget->pvData == nullptr) {
    return E_INVALIDARG;
  }
  std::size_t count = 0;
  if (!CountElements(psaTarget, &count)) return E_INVALIDARG;
  ReleaseElements(psaTarget, 0, count);
  return CopyAllElements(psaSource, psaTarget);
}

EXTERN_C HRESULT STDAPICALLTYPE SafeArrayRedim(SAFEARRAY *psa, SAFEARRAYBOUND *psaboundNew) {
  if (psa == nullptr || psaboundNew == nullptr) return E_INVALIDARG;
  if (psa->cLocks != 0) return DISP_E_ARRAYISLOCKED;
  if (psa->fFeatures & (FADF_FIXEDSIZE | kOwnedElsewhere)) return DISP_E_ARRAYISLOCKED;
  // Only the rightmost (slowest varying) dimension changes; its elements
  // form contiguous slices, so the data keeps its order.
  SAFEARRAYBOUND &last = psa->rgsabound[0];
  std::size_t slice = 1;
  for (USHORT i = 1; i < psa->cDims; ++i) slice *= psa->rgsabound[i].cElements;
  const std::size_t old_count = slice * last.cElements;
  const unsigned __int128 new_count = static_cast<unsigned __int128>(slice) * psaboundNew->cElements;
  const unsigned __int128 new_bytes = new_count * psa->cbElements;
  if (new_bytes > kMaxDataBytes) return E_OUTOFMEMORY;
  if (psa->pvData != nullptr) {
    const std::size_t keep = static_cast<std::size_t>(new_count);
    if (keep > old_count) {
      void *grown = Reallocate(psa->pvData, static_cast<std::size_t>(new_bytes));
      if (grown == nullptr) return E_OUTOFMEMORY;
      psa->pvData = grown;
      std::memset(static_cast<char *>(grown) + old_count * psa->cbElements, 0,
                  (keep - old_count) * psa->cbElements);
    } else if (keep < old_count) {
      ReleaseElements(psa, keep, old_count - keep);
      // A failed shrink keeps the larger block, which is still valid.
      if (void *shrunk = Reallocate(psa->pvData, static_cast<std::size_t>(new_bytes))) {
        psa->pvData = shrunk;
      }
    }
  }
  last = *psaboundNew;
  return S_OK;
}

EXTERN_C HRESULT STDAPICALLTYPE SafeArrayGetVartype(SAFEARRAY *psa, VARTYPE *pvt) {
  if (psa == nullptr || pvt == nullptr) return E_INVALIDARG;
  const USHORT f = psa->fFeatures;
  if (f & FADF_RECORD) {
    *pvt = VT_RECORD;
  } else if (f & FADF_HAVEIID) {
    *pvt = (f & FADF_DISPATCH) ? VT_DISPATCH : VT_UNKNOWN;
  } else if (f & FADF_HAVEVARTYPE) {
    *pvt = static_cast<VARTYPE>(Hidden(psa)->vartype);
  } else if (f & FADF_BSTR) {
    *pvt = VT_BSTR;
  } else if (f & FADF_VARIANT) {
    *pvt = VT_VARIANT;
  } else if (f & FADF_DISPATCH) {
    *pvt = VT_DISPATCH;
  } else if (f & FADF_UNKNOWN) {
    *pvt = VT_UNKNOWN;
  } else {
    return E_INVALIDARG;
  }
  return S_OK;
}

EXTERN_C HRESULT STDAPICALLTYPE SafeArraySetIID(SAFEARRAY *psa, REFGUID guid) {
  if (psa == nullptr || !(psa->fFeatures & FADF_HAVEIID)) return E_INVALIDARG;
  Hidden(psa)->iid = guid;
  return S_OK;
}

EXTERN_C HRESULT STDAPICALLTYPE SafeArrayGetIID(SAFEARRAY *psa, GUID *pguid) {
  if (psa == nullptr || pguid == nullptr || !(psa->fFeatures & FADF_HAVEIID)) return E_INVALIDARG;
  *pguid = Hidden(psa)->iid;
  return S_OK;
}

EXTERN_C HRESULT STDAPICALLTYPE SafeArraySetRecordInfo(SAFEARRAY *psa, IRecordInfo *prinfo) {
  if (psa == nullptr || !(psa->fFeatures & FADF_RECORD)) return E_INVALIDARG;
  if (prinfo != nullptr) prinfo->AddRef();
  IRecordInfo *old = Hidden(psa)->record;
  Hidden(psa)->record = prinfo;
  if (old != nullptr) old->Release();
  return S_OK;
}

EXTERN_C HRESULT STDAPICALLTYPE SafeArrayGetRecordInfo(SAFEARRAY *psa, IRecordInfo **prinfo) {
  if (prinfo == nullptr) return E_INVALIDARG;
  *prinfo = nullptr;
  if (psa == nullptr || !(psa->fFeatures & FADF_RECORD)) return E_INVALIDARG;
  IRecordInfo *record = Hidden(psa)->record;
  if (record != nullptr) record->AddRef();
  *prinfo = record;
  return S_OK;
}

EXTERN_C HRESULT STDAPICALLTYPE VectorFromBstr(BSTR bstr, SAFEARRAY **ppsa) {
  if (ppsa == nullptr) return E_INVALIDARG;
  *ppsa = nullptr;
  const UINT bytes = SysStringByteLen(bstr);
  SAFEARRAY *psa = SafeArrayCreateVector(VT_UI1, 0, bytes);
  if (psa == nullptr) return E_OUTOFMEMORY;
  if (bytes != 0) std::memcpy(psa->pvData, bstr, bytes);
  *ppsa = psa;
  return S_OK;
}

EXTERN_C HRESULT STDAPICALLTYPE BstrFromVector(SAFEARRAY *psa, BSTR *pbstr) {
  if (pbstr == nullptr) return E_INVALIDARG;
  *pbstr = nullptr;
  VARTYPE vt = VT_EMPTY;
  if (psa == nullptr || psa->cDims != 1 || FAILED(SafeArrayGetVartype(psa, &vt)) || vt != VT_UI1) {
    return E_INVALIDARG;
  }
  const ULONG bytes = psa->rgsabound[0].cElements;
  BSTR s = SysAllocStringByteLen(static_cast<LPCSTR>(psa->pvData), bytes);
  if (s == nullptr) return E_OUTOFMEMORY;
  *pbstr = s;
  return S_OK;
}
