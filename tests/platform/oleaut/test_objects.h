// Reference-counted stand-ins for the objects the automation functions
// handle: an object that may or may not offer IDispatch (with a default
// value), and an IErrorInfo that reports its own destruction.
#pragma once

#include <oleauto.h>

#include <atomic>

namespace oleaut_test {

// An object whose reference count the tests can watch.  With a default
// value it answers IDispatch and returns that value for DISPID_VALUE.
class CountedObject : public IDispatch {
 public:
  explicit CountedObject(bool dispatch = false) : dispatch_(dispatch) { VariantInit(&value_); }
  virtual ~CountedObject() { VariantClear(&value_); }

  ULONG refs() const { return refs_; }
  bool destroyed() const { return destroyed_; }
  // The value the object reports as its default member (copied).
  void SetValue(VARIANT *value) {
    VariantCopy(&value_, value);
    has_value_ = true;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
    if (riid == IID_IUnknown || (dispatch_ && riid == IID_IDispatch)) {
      *ppv = static_cast<IDispatch *>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --refs_;
    if (left == 0) destroyed_ = true;  // stack objects: only record it
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override {
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS *, VARIANT *result,
                                   EXCEPINFO *, UINT *) override {
    ++invocations_;
    if (id != DISPID_VALUE || !(flags & DISPATCH_PROPERTYGET) || !has_value_) return DISP_E_MEMBERNOTFOUND;
    return VariantCopy(result, &value_);
  }
  int invocations() const { return invocations_; }

 private:
  bool dispatch_;
  bool has_value_ = false;
  bool destroyed_ = false;
  int invocations_ = 0;
  std::atomic<ULONG> refs_{1};
  VARIANT value_;
};

// An IErrorInfo that counts references and notes when the last one goes.
class CountedErrorInfo : public IErrorInfo {
 public:
  ULONG refs() const { return refs_; }
  bool destroyed() const { return destroyed_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
    if (riid == IID_IUnknown || riid == IID_IErrorInfo) {
      *ppv = static_cast<IErrorInfo *>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --refs_;
    if (left == 0) destroyed_ = true;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetGUID(GUID *g) override {
    *g = GUID_NULL;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetSource(BSTR *s) override {
    *s = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDescription(BSTR *s) override {
    *s = SysAllocString(OLESTR("counted"));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR *s) override {
    *s = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD *c) override {
    *c = 0;
    return S_OK;
  }

 private:
  std::atomic<ULONG> refs_{1};
  std::atomic<bool> destroyed_{false};
};

// Describes a record that is one int; counts what is done with records.
class IntRecordInfo : public IRecordInfo {
 public:
  ULONG refs() const { return refs_; }
  int created = 0;
  int destroyed = 0;
  int cleared = 0;
  int copied = 0;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
    if (riid == IID_IUnknown || riid == IID_IRecordInfo) {
      *ppv = static_cast<IRecordInfo *>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs_; }
  HRESULT STDMETHODCALLTYPE RecordInit(PVOID pvNew) override {
    *static_cast<int *>(pvNew) = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE RecordClear(PVOID pvExisting) override {
    ++cleared;
    *static_cast<int *>(pvExisting) = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE RecordCopy(PVOID pvExisting, PVOID pvNew) override {
    ++copied;
    *static_cast<int *>(pvNew) = *static_cast<int *>(pvExisting);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetGuid(GUID *pguid) override {
    *pguid = GUID_NULL;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetName(BSTR *name) override {
    *name = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetSize(ULONG *size) override {
    *size = sizeof(int);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(ITypeInfo **info) override {
    *info = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetField(PVOID, LPCOLESTR, VARIANT *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetFieldNoCopy(PVOID, LPCOLESTR, VARIANT *, PVOID *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE PutField(ULONG, PVOID, LPCOLESTR, VARIANT *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE PutFieldNoCopy(ULONG, PVOID, LPCOLESTR, VARIANT *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetFieldNames(ULONG *, BSTR *) override { return E_NOTIMPL; }
  BOOL STDMETHODCALLTYPE IsMatchingType(IRecordInfo *other) override { return other == this; }
  PVOID STDMETHODCALLTYPE RecordCreate(void) override {
    ++created;
    return new int(0);
  }
  HRESULT STDMETHODCALLTYPE RecordCreateCopy(PVOID pvSource, PVOID *ppvDest) override {
    ++created;
    *ppvDest = new int(*static_cast<int *>(pvSource));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE RecordDestroy(PVOID pvRecord) override {
    ++destroyed;
    delete static_cast<int *>(pvRecord);
    return S_OK;
  }

 private:
  std::atomic<ULONG> refs_{1};
};

// A VARIANT that is cleared when the test leaves its scope.
class ScopedVariant {
 public:
  ScopedVariant() { VariantInit(&v_); }
  ~ScopedVariant() { VariantClear(&v_); }
  ScopedVariant(const ScopedVariant &) = delete;
  ScopedVariant &operator=(const ScopedVariant &) = delete;
  VARIANT *get() { return &v_; }
  VARIANT *operator->() { return &v_; }

 private:
  VARIANT v_;
};

// A BSTR freed when the test leaves its scope.
class ScopedBstr {
 public:
  ScopedBstr() = default;
  explicit ScopedBstr(const OLECHAR *s) : s_(SysAllocString(s)) {}
  ~ScopedBstr() { SysFreeString(s_); }
  ScopedBstr(const ScopedBstr &) = delete;
  ScopedBstr &operator=(const ScopedBstr &) = delete;
  BSTR *receive() {
    SysFreeString(s_);
    s_ = nullptr;
    return &s_;
  }
  BSTR get() const { return s_; }
  operator BSTR() const { return s_; }

 private:
  BSTR s_ = nullptr;
};

}  // namespace oleaut_test
