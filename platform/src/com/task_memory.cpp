// Task memory: the allocator behind CoTaskMemAlloc and the IMalloc that
// CoGetMalloc hands out.  Blocks come from malloc; every allocation and
// reallocation counts as one attempt for failure injection.

#include <comhost/allocation.h>
#include <objbase.h>

#include <malloc.h>

#include <cstdlib>

EXTERN_C LPVOID STDAPICALLTYPE CoTaskMemAlloc(SIZE_T cb) {
    if (ComHostAllocationShouldFail()) return nullptr;
    return std::malloc(cb ? cb : 1);
}

// A null block is allocated; a size of 0 frees the block and returns null.
EXTERN_C LPVOID STDAPICALLTYPE CoTaskMemRealloc(LPVOID pv, SIZE_T cb) {
    if (pv && cb == 0) {
        std::free(pv);
        return nullptr;
    }
    if (ComHostAllocationShouldFail()) return nullptr;
    return std::realloc(pv, cb ? cb : 1);
}

EXTERN_C void STDAPICALLTYPE CoTaskMemFree(LPVOID pv) {
    std::free(pv);
}

namespace {

// The task allocator.  It is a process-wide object that is never destroyed;
// reference counting is accepted and has no effect.
class TaskAllocator final : public IMalloc {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMalloc)) {
            *ppv = static_cast<IMalloc *>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    void *STDMETHODCALLTYPE Alloc(SIZE_T cb) override { return CoTaskMemAlloc(cb); }
    void *STDMETHODCALLTYPE Realloc(void *pv, SIZE_T cb) override { return CoTaskMemRealloc(pv, cb); }
    void STDMETHODCALLTYPE Free(void *pv) override { CoTaskMemFree(pv); }
    SIZE_T STDMETHODCALLTYPE GetSize(void *pv) override {
        return pv ? malloc_usable_size(pv) : static_cast<SIZE_T>(-1);
    }
    // Whether a block came from this allocator cannot be told; -1 says so.
    int STDMETHODCALLTYPE DidAlloc(void *pv) override { return pv ? -1 : 0; }
    void STDMETHODCALLTYPE HeapMinimize() override { malloc_trim(0); }
};

TaskAllocator g_taskAllocator;

}  // namespace

EXTERN_C HRESULT STDAPICALLTYPE CoGetMalloc(DWORD dwMemContext, LPMALLOC *ppMalloc) {
    if (!ppMalloc) return E_INVALIDARG;
    if (dwMemContext != MEMCTX_TASK) {
        *ppMalloc = nullptr;
        return E_INVALIDARG;
    }
    *ppMalloc = &g_taskAllocator;
    return S_OK;
}
