// Shared pieces of the automation library: the counted allocator, the
// rules for which VARTYPEs a VARIANT or SAFEARRAY may hold, and RAII owners
// for the resources the implementation juggles.
#pragma once

#include <oleauto.h>

#include <cstddef>

namespace comhost::oleaut {

// Allocation through the host layer's failure injection: every call is one
// counted attempt.  nullptr on (injected or real) exhaustion.
void *Allocate(std::size_t bytes);
void *AllocateZeroed(std::size_t bytes);
void *Reallocate(void *block, std::size_t bytes);
void Free(void *block);

// A new BSTR with the characters of an ASCII string; nullptr when memory
// runs out.
BSTR AllocBstrFromAscii(const char *text);

// A copy of src with the same byte length (a null BSTR copies as null).
HRESULT DuplicateBstr(BSTR src, BSTR *out);

// True for the types a VARIANT may carry, VT_BYREF and VT_ARRAY included.
bool IsValidVariantType(VARTYPE vt);

// Size of one element of a SAFEARRAY of vt; 0 when vt cannot be an array
// element type (VT_RECORD sizes come from the record's IRecordInfo).
ULONG ArrayElementSize(VARTYPE vt);

// A by-value view of what a VT_BYREF VARIANT refers to.  The view shares
// the referenced resources (it owns nothing).  E_INVALIDARG for a null
// reference or a VARIANT reference that refers to another one.
HRESULT DereferenceVariant(const VARIANT &src, VARIANT *view);

// A deep copy of a by-value or by-reference VARIANT into *out, which is
// written only on success.
HRESULT CopyVariantValue(const VARIANT &src, VARIANT *out);

class BstrOwner {
 public:
  BstrOwner() = default;
  explicit BstrOwner(BSTR s) : s_(s) {}
  ~BstrOwner() { SysFreeString(s_); }
  BstrOwner(const BstrOwner &) = delete;
  BstrOwner &operator=(const BstrOwner &) = delete;
  BSTR get() const { return s_; }
  BSTR *receive() {
    SysFreeString(s_);
    s_ = nullptr;
    return &s_;
  }
  BSTR release() {
    BSTR s = s_;
    s_ = nullptr;
    return s;
  }

 private:
  BSTR s_ = nullptr;
};

class VariantOwner {
 public:
  VariantOwner() { VariantInit(&v_); }
  ~VariantOwner() { VariantClear(&v_); }
  VariantOwner(const VariantOwner &) = delete;
  VariantOwner &operator=(const VariantOwner &) = delete;
  VARIANT *get() { return &v_; }
  const VARIANT &value() const { return v_; }
  // Hands the value over; the owner is left empty.
  VARIANT release() {
    VARIANT v = v_;
    VariantInit(&v_);
    return v;
  }

 private:
  VARIANT v_;
};

template <typename T>
class InterfaceOwner {
 public:
  InterfaceOwner() = default;
  explicit InterfaceOwner(T *p) : p_(p) {}
  ~InterfaceOwner() {
    if (p_ != nullptr) p_->Release();
  }
  InterfaceOwner(const InterfaceOwner &) = delete;
  InterfaceOwner &operator=(const InterfaceOwner &) = delete;
  T *get() const { return p_; }
  T **receive() { return &p_; }
  T *release() {
    T *p = p_;
    p_ = nullptr;
    return p;
  }

 private:
  T *p_ = nullptr;
};

class ArrayOwner {
 public:
  ArrayOwner() = default;
  explicit ArrayOwner(SAFEARRAY *psa) : psa_(psa) {}
  ~ArrayOwner() {
    if (psa_ != nullptr) SafeArrayDestroy(psa_);
  }
  ArrayOwner(const ArrayOwner &) = delete;
  ArrayOwner &operator=(const ArrayOwner &) = delete;
  SAFEARRAY *get() const { return psa_; }
  SAFEARRAY **receive() { return &psa_; }
  SAFEARRAY *release() {
    SAFEARRAY *p = psa_;
    psa_ = nullptr;
    return p;
  }

 private:
  SAFEARRAY *psa_ = nullptr;
};

}  // namespace comhost::oleaut
