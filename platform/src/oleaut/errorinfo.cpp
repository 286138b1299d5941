// Error information: the standard error object (ICreateErrorInfo and
// IErrorInfo on one object) and the per-thread slot that SetErrorInfo fills
// and GetErrorInfo empties.

#include "oleaut_internal.h"

#include <comhost/allocation.h>

#include <atomic>
#include <mutex>
#include <new>

namespace comhost::oleaut {

namespace {

class ErrorObject final : public ICreateErrorInfo, public IErrorInfo, private comhost::LiveObject {
 public:
  static HRESULT Create(ICreateErrorInfo **out) {
    void *memory = Allocate(sizeof(ErrorObject));
    if (memory == nullptr) return E_OUTOFMEMORY;
    *out = new (memory) ErrorObject();
    return S_OK;
  }

  // IUnknown, shared by both interfaces; ICreateErrorInfo is the identity.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ICreateErrorInfo) {
      *ppv = static_cast<ICreateErrorInfo *>(this);
    } else if (riid == IID_IErrorInfo) {
      *ppv = static_cast<IErrorInfo *>(this);
    } else {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) {
      this->~ErrorObject();
      Free(this);
    }
    return left;
  }

  // ICreateErrorInfo
  HRESULT STDMETHODCALLTYPE SetGUID(REFGUID rguid) override {
    std::lock_guard<std::mutex> hold(lock_);
    guid_ = rguid;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSource(LPOLESTR szSource) override { return Store(szSource, &source_); }
  HRESULT STDMETHODCALLTYPE SetDescription(LPOLESTR szDescription) override {
    return Store(szDescription, &description_);
  }
  HRESULT STDMETHODCALLTYPE SetHelpFile(LPOLESTR szHelpFile) override { return Store(szHelpFile, &help_file_); }
  HRESULT STDMETHODCALLTYPE SetHelpContext(DWORD dwHelpContext) override {
    std::lock_guard<std::mutex> hold(lock_);
    help_context_ = dwHelpContext;
    return S_OK;
  }

  // IErrorInfo
  HRESULT STDMETHODCALLTYPE GetGUID(GUID *pGUID) override {
    if (pGUID == nullptr) return E_INVALIDARG;
    std::lock_guard<std::mutex> hold(lock_);
    *pGUID = guid_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetSource(BSTR *pBstrSource) override { return Load(source_, pBstrSource); }
  HRESULT STDMETHODCALLTYPE GetDescription(BSTR *pBstrDescription) override {
    return Load(description_, pBstrDescription);
  }
  HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR *pBstrHelpFile) override { return Load(help_file_, pBstrHelpFile); }
  HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD *pdwHelpContext) override {
    if (pdwHelpContext == nullptr) return E_INVALIDARG;
    std::lock_guard<std::mutex> hold(lock_);
    *pdwHelpContext = help_context_;
    return S_OK;
  }

 private:
  ErrorObject() = default;
  ~ErrorObject() {
    SysFreeString(source_);
    SysFreeString(description_);
    SysFreeString(help_file_);
  }

  HRESULT Store(const OLECHAR *text, BSTR *field) {
    BSTR copy = nullptr;
    if (text != nullptr) {
      copy = SysAllocString(text);
      if (copy == nullptr) return E_OUTOFMEMORY;
    }
    std::lock_guard<std::mutex> hold(lock_);
    SysFreeString(*field);
    *field = copy;
    return S_OK;
  }

  HRESULT Load(BSTR field, BSTR *out) {
    if (out == nullptr) return E_INVALIDARG;
    std::lock_guard<std::mutex> hold(lock_);
    return DuplicateBstr(field, out);
  }

  std::atomic<ULONG> refs_{1};
  std::mutex lock_;
  GUID guid_ = {};
  BSTR source_ = nullptr;
  BSTR description_ = nullptr;
  BSTR help_file_ = nullptr;
  DWORD help_context_ = 0;
};

// The calling thread's pending error object.  A thread that ends with one
// still set releases it.
class ThreadErrorSlot {
 public:
  ThreadErrorSlot() = default;
  ~ThreadErrorSlot() { Replace(nullptr); }
  ThreadErrorSlot(const ThreadErrorSlot &) = delete;
  ThreadErrorSlot &operator=(const ThreadErrorSlot &) = delete;

  // Stores info (the slot takes over the caller's reference) and releases
  // the previous object.
  void Replace(IErrorInfo *info) {
    IErrorInfo *old = info_;
    info_ = info;
    if (old != nullptr) old->Release();
  }
  IErrorInfo *Take() {
    IErrorInfo *info = info_;
    info_ = nullptr;
    return info;
  }

 private:
  IErrorInfo *info_ = nullptr;
};

thread_local ThreadErrorSlot t_error_slot;

}  // namespace

}  // namespace comhost::oleaut

using namespace comhost::oleaut;

EXTERN_C HRESULT STDAPICALLTYPE CreateErrorInfo(ICreateErrorInfo **pperrinfo) {
  if (pperrinfo == nullptr) return E_INVALIDARG;
  *pperrinfo = nullptr;
  return ErrorObject::Create(pperrinfo);
}

EXTERN_C HRESULT STDAPICALLTYPE SetErrorInfo(ULONG dwReserved, IErrorInfo *perrinfo) {
  if (dwReserved != 0) return E_INVALIDARG;
  if (perrinfo != nullptr) perrinfo->AddRef();
  t_error_slot.Replace(perrinfo);
  return S_OK;
}

EXTERN_C HRESULT STDAPICALLTYPE GetErrorInfo(ULONG dwReserved, IErrorInfo **pperrinfo) {
  if (pperrinfo == nullptr) return E_INVALIDARG;
  *pperrinfo = nullptr;
  if (dwReserved != 0) return E_INVALIDARG;
  IErrorInfo *info = t_error_slot.Take();
  if (info == nullptr) return S_FALSE;
  *pperrinfo = info;
  return S_OK;
}
