// A small in-process server for the activation and regsvr tests: one class
// (ITestValue answering 42) whose DllCanUnloadNow says S_OK when no object
// and no lock is left, and self-registration that writes the class, its
// ProgIDs "ComHost.TestServer.1" and "ComHost.TestServer" (CurVer only) and
// its categories through the component categories manager.
//
// Built in variants: TEST_SERVER_NO_REGISTRATION leaves out the
// registration entry points, TEST_SERVER_NO_CLASS_OBJECT leaves out
// DllGetClassObject.  With TEST_SERVER_REGISTER_RESULT set (hexadecimal),
// DllRegisterServer returns that result and writes nothing.

#include "test_server.h"

#include <comcat.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace {

std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

constexpr IID kIidUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID kIidClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

bool Same(const GUID &a, const GUID &b) {
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

class TestObject final : public ITestValue {
public:
    TestObject() { ++g_objects; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!Same(riid, kIidUnknown) && !Same(riid, kIidTestValue)) return E_NOINTERFACE;
        *ppv = static_cast<ITestValue *>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetValue(LONG *value) override {
        if (!value) return E_POINTER;
        *value = 42;
        return S_OK;
    }

private:
    ~TestObject() { --g_objects; }
    std::atomic<ULONG> refs_{1};
};

class Factory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!Same(riid, kIidUnknown) && !Same(riid, kIidClassFactory)) return E_NOINTERFACE;
        *ppv = static_cast<IClassFactory *>(this);
        AddRef();
        return S_OK;
    }
    // The class object is static: its references are the server's locks.
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++g_locks); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--g_locks); }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID riid, void **ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        auto *object = new (std::nothrow) TestObject();
        if (!object) return E_OUTOFMEMORY;
        const HRESULT hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        g_locks += lock ? 1 : -1;
        return S_OK;
    }
};

Factory g_factory;

}  // namespace

#ifndef TEST_SERVER_NO_CLASS_OBJECT
STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID *ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!Same(rclsid, kClsidTestServer)) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, ppv);
}
#endif

STDAPI DllCanUnloadNow(void) {
    return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE;
}

extern "C" __attribute__((visibility("default"))) long TestServerLiveObjects() {
    return g_objects;
}

#ifndef TEST_SERVER_NO_REGISTRATION
namespace {

LONG SetString(const char *path, const char *name, const char *value) {
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExA(HKEY_CLASSES_ROOT, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key,
                              nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    rc = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value),
                        static_cast<DWORD>(std::strlen(value) + 1));
    RegCloseKey(key);
    return rc;
}

HRESULT Categories(bool add) {
    ICatRegister *registrar = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER, IID_ICatRegister,
                                  reinterpret_cast<void **>(&registrar));
    if (FAILED(hr)) return hr;
    CATID implemented = kCatidImplemented, required = kCatidRequired;
    if (add) {
        CATEGORYINFO info{};
        info.catid = kCatidImplemented;
        info.lcid = 0x409;
        const char16_t description[] = u"Test servers";
        std::memcpy(info.szDescription, description, sizeof(description));
        hr = registrar->RegisterCategories(1, &info);
        if (SUCCEEDED(hr)) hr = registrar->RegisterClassImplCategories(kClsidTestServer, 1, &implemented);
        if (SUCCEEDED(hr)) hr = registrar->RegisterClassReqCategories(kClsidTestServer, 1, &required);
    } else {
        registrar->UnRegisterClassImplCategories(kClsidTestServer, 1, &implemented);
        registrar->UnRegisterClassReqCategories(kClsidTestServer, 1, &required);
    }
    registrar->Release();
    return hr;
}

}  // namespace

STDAPI DllRegisterServer(void) {
    if (const char *forced = std::getenv("TEST_SERVER_REGISTER_RESULT"))
        return static_cast<HRESULT>(std::strtoul(forced, nullptr, 16));
    char path[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameA(reinterpret_cast<HMODULE>(&__ImageBase), path, sizeof(path));
    if (n == 0 || n >= sizeof(path)) return E_FAIL;
    char clsidKey[64], inproc[96];
    std::snprintf(clsidKey, sizeof(clsidKey), "CLSID\\%s", kClsidTestServerText);
    std::snprintf(inproc, sizeof(inproc), "%s\\InprocServer32", clsidKey);
    LONG rc = SetString(clsidKey, nullptr, "Test server");
    if (rc == ERROR_SUCCESS) rc = SetString(inproc, nullptr, path);
    if (rc == ERROR_SUCCESS) rc = SetString(inproc, "ThreadingModel", "Apartment");
    if (rc == ERROR_SUCCESS) rc = SetString((std::string(clsidKey) + "\\ProgID").c_str(), nullptr, "ComHost.TestServer.1");
    if (rc == ERROR_SUCCESS)
        rc = SetString((std::string(clsidKey) + "\\VersionIndependentProgID").c_str(), nullptr, "ComHost.TestServer");
    if (rc == ERROR_SUCCESS) rc = SetString("ComHost.TestServer.1\\CLSID", nullptr, kClsidTestServerText);
    if (rc == ERROR_SUCCESS) rc = SetString("ComHost.TestServer\\CurVer", nullptr, "ComHost.TestServer.1");
    if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(static_cast<unsigned long>(rc));
    return Categories(true);
}

STDAPI DllUnregisterServer(void) {
    Categories(false);
    char clsidKey[64];
    std::snprintf(clsidKey, sizeof(clsidKey), "CLSID\\%s", kClsidTestServerText);
    for (const char *key : {static_cast<const char *>(clsidKey), "ComHost.TestServer.1", "ComHost.TestServer"}) {
        const LONG rc = RegDeleteTreeA(HKEY_CLASSES_ROOT, key);
        if (rc == ERROR_SUCCESS) RegDeleteKeyA(HKEY_CLASSES_ROOT, key);
        else if (rc != ERROR_FILE_NOT_FOUND) return HRESULT_FROM_WIN32(static_cast<unsigned long>(rc));
    }
    return S_OK;
}
#endif
