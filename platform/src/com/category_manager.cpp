// The standard component categories manager (CLSID_StdComponentCategoriesMgr)
// with its registration interface ICatRegister, keeping categories where
// Windows keeps them:
//
//   HKCR\Component Categories\{catid}       "<lcid in hex>" = description
//   HKCR\CLSID\{clsid}\Implemented Categories\{catid}
//   HKCR\CLSID\{clsid}\Required Categories\{catid}
//
// Unregistering a class's category removes only its {catid} key; an
// "Implemented Categories" or "Required Categories" key left empty stays,
// and removing it is the caller's business.  Removing what does not exist
// succeeds.

#include <comcat.h>

#include "com_internal.h"

#include <atomic>
#include <cstdio>
#include <new>

namespace comhost::com {
namespace {

constexpr GUID kIID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID kIID_ICatRegister = {0x0002E012, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

HRESULT FromRegistry(LONG rc) {
    return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<unsigned long>(rc));
}

// Creates HKCR\path; the key is handed back open for writing when wanted.
LONG CreateKey(const std::u16string &path, RegKey *key) {
    return RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                           KEY_READ | KEY_WRITE, nullptr, key->Receive(), nullptr);
}

// Removes HKCR\path with everything below it; a missing key is no error.
LONG RemoveKey(const std::u16string &path) {
    const LONG rc = RegDeleteTreeW(HKEY_CLASSES_ROOT, path.c_str());
    if (rc == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS) return rc;
    // RegDeleteTree empties the key; the key itself goes as well.
    const LONG removed = RegDeleteKeyW(HKEY_CLASSES_ROOT, path.c_str());
    return removed == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : removed;
}

class CategoryManager final : public ICatRegister {
public:
    static HRESULT Create(IUnknown *outer, REFIID riid, void **ppv) noexcept {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        void *memory = HeapAlloc(GetProcessHeap(), 0, sizeof(CategoryManager));
        if (!memory) return E_OUTOFMEMORY;
        auto *manager = new (memory) CategoryManager();
        const HRESULT hr = manager->QueryInterface(riid, ppv);
        manager->Release();
        return hr;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!SameGuid(riid, kIID_IUnknown) && !SameGuid(riid, kIID_ICatRegister)) return E_NOINTERFACE;
        *ppv = static_cast<ICatRegister *>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) {
            this->~CategoryManager();
            HeapFree(GetProcessHeap(), 0, this);
        }
        return left;
    }

    HRESULT STDMETHODCALLTYPE RegisterCategories(ULONG count, CATEGORYINFO infos[]) override {
        if (count && !infos) return E_POINTER;
        return Guarded([&]() -> HRESULT {
            for (ULONG i = 0; i < count; ++i) {
                RegKey key;
                LONG rc = CreateKey(u"Component Categories\\" + GuidText(infos[i].catid), &key);
                if (rc != ERROR_SUCCESS) return FromRegistry(rc);
                char name[16];
                std::snprintf(name, sizeof(name), "%lx", static_cast<unsigned long>(infos[i].lcid));
                WCHAR wideName[16] = {};
                for (size_t c = 0; name[c]; ++c) wideName[c] = static_cast<WCHAR>(name[c]);
                size_t length = 0;
                const size_t limit = sizeof(infos[i].szDescription) / sizeof(infos[i].szDescription[0]);
                while (length < limit && infos[i].szDescription[length]) ++length;
                const std::u16string description(infos[i].szDescription, length);
                rc = RegSetValueExW(key.get(), wideName, 0, REG_SZ, reinterpret_cast<const BYTE *>(description.c_str()),
                                    static_cast<DWORD>((length + 1) * sizeof(WCHAR)));
                if (rc != ERROR_SUCCESS) return FromRegistry(rc);
            }
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE UnRegisterCategories(ULONG count, CATID catids[]) override {
        if (count && !catids) return E_POINTER;
        return Guarded([&]() -> HRESULT {
            for (ULONG i = 0; i < count; ++i) {
                const LONG rc = RemoveKey(u"Component Categories\\" + GuidText(catids[i]));
                if (rc != ERROR_SUCCESS) return FromRegistry(rc);
            }
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE RegisterClassImplCategories(REFCLSID clsid, ULONG count, CATID catids[]) override {
        return AddClassCategories(clsid, u"\\Implemented Categories\\", count, catids);
    }
    HRESULT STDMETHODCALLTYPE UnRegisterClassImplCategories(REFCLSID clsid, ULONG count, CATID catids[]) override {
        return RemoveClassCategories(clsid, u"\\Implemented Categories\\", count, catids);
    }
    HRESULT STDMETHODCALLTYPE RegisterClassReqCategories(REFCLSID clsid, ULONG count, CATID catids[]) override {
        return AddClassCategories(clsid, u"\\Required Categories\\", count, catids);
    }
    HRESULT STDMETHODCALLTYPE UnRegisterClassReqCategories(REFCLSID clsid, ULONG count, CATID catids[]) override {
        return RemoveClassCategories(clsid, u"\\Required Categories\\", count, catids);
    }

private:
    CategoryManager() = default;
    ~CategoryManager() = default;

    template <typename Body>
    static HRESULT Guarded(Body &&body) noexcept {
        try {
            return body();
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }

    static HRESULT AddClassCategories(REFCLSID clsid, const char16_t *kind, ULONG count, CATID catids[]) {
        if (count && !catids) return E_POINTER;
        return Guarded([&]() -> HRESULT {
            const std::u16string prefix = u"CLSID\\" + GuidText(clsid) + kind;
            for (ULONG i = 0; i < count; ++i) {
                RegKey key;
                const LONG rc = CreateKey(prefix + GuidText(catids[i]), &key);
                if (rc != ERROR_SUCCESS) return FromRegistry(rc);
            }
            return S_OK;
        });
    }

    static HRESULT RemoveClassCategories(REFCLSID clsid, const char16_t *kind, ULONG count, CATID catids[]) {
        if (count && !catids) return E_POINTER;
        return Guarded([&]() -> HRESULT {
            const std::u16string prefix = u"CLSID\\" + GuidText(clsid) + kind;
            for (ULONG i = 0; i < count; ++i) {
                const LONG rc = RemoveKey(prefix + GuidText(catids[i]));
                if (rc != ERROR_SUCCESS) return FromRegistry(rc);
            }
            return S_OK;
        });
    }

    std::atomic<ULONG> refs_{1};
};

}  // namespace

HRESULT CreateCategoryManager(IUnknown *outer, REFIID riid, void **ppv) noexcept {
    return CategoryManager::Create(outer, riid, ppv);
}

}  // namespace comhost::com
