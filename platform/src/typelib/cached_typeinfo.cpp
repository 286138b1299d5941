// Type information of the host layer's own objects, kept for the life of the
// process: the library is loaded once (LoadRegTypeLib, which finds the
// built-in libraries without any registration) and each interface's type
// information is looked up once.

#include "typelib/typelib.h"

#include <mutex>
#include <vector>

namespace comhost::typelib {
namespace {

struct Cached {
    GUID libid;
    GUID iid;
    ITypeInfo *info;
};

class Cache {
public:
    ~Cache() {
        for (Cached &c : entries_) c.info->Release();
    }
    HRESULT Get(REFGUID libid, WORD major, WORD minor, REFIID iid, ITypeInfo **out) {
        std::lock_guard<std::mutex> guard(lock_);
        for (const Cached &c : entries_) {
            if (IsEqualGUID(c.iid, iid) && IsEqualGUID(c.libid, libid)) {
                c.info->AddRef();
                *out = c.info;
                return S_OK;
            }
        }
        ITypeLib *lib = nullptr;
        HRESULT hr = LoadRegTypeLib(libid, major, minor, 0, &lib);
        if (FAILED(hr)) return hr;
        ITypeInfo *info = nullptr;
        hr = lib->GetTypeInfoOfGuid(iid, &info);
        lib->Release();
        if (FAILED(hr)) return hr;
        try {
            entries_.push_back(Cached{libid, iid, info});
        } catch (const std::bad_alloc &) {
            info->Release();
            return E_OUTOFMEMORY;
        }
        info->AddRef();
        *out = info;
        return S_OK;
    }

private:
    std::mutex lock_;
    std::vector<Cached> entries_;
};

Cache g_cache;

}  // namespace

HRESULT CachedTypeInfo(REFGUID libid, WORD major, WORD minor, REFIID iid, ITypeInfo **out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    return g_cache.Get(libid, major, minor, iid, out);
}

}  // namespace comhost::typelib
