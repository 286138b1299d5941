// The type-info holder: loading of the interface's type information from the
// registered type library, the name cache, and their release at detach.

#include "server/dispatch.h"

#include <new>

namespace nuv {

HRESULT CComTypeInfoHolder::GetTI(LCID lcid, ITypeInfo** ppInfo) noexcept {
    if (!ppInfo)
        return E_POINTER;
    HRESULT hr = S_OK;
    if (!m_pInfo.load(std::memory_order_acquire))
        hr = LoadTypeInfo(lcid);
    ITypeInfo* info = m_pInfo.load(std::memory_order_acquire);
    *ppInfo = info;
    if (info) {
        info->AddRef();
        return S_OK;
    }
    return hr;
}

HRESULT CComTypeInfoHolder::GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                          DISPID* rgdispid) noexcept {
    HRESULT hr = S_OK;
    if (!m_pInfo.load(std::memory_order_acquire) || !m_pMap.load(std::memory_order_acquire))
        hr = LoadTypeInfo(lcid);
    ITypeInfo* info = m_pInfo.load(std::memory_order_acquire);
    if (!info)
        return hr;
    const CComTypeInfoHolderNameEntry* map = m_pMap.load(std::memory_order_acquire);
    if (map && cNames == 1 && rgszNames && rgszNames[0] && rgdispid) {
        const int n = lstrlenW(rgszNames[0]);
        for (int i = m_nCount - 1; i >= 0; --i) {
            const CComTypeInfoHolderNameEntry& e = map[i];
            if (e.nLen != n)
                continue;
            int k = 0;
            while (k < n && e.bstr[k] == rgszNames[0][k])
                ++k;
            if (k == n) {
                rgdispid[0] = e.id;
                return S_OK;
            }
        }
    }
    return info->GetIDsOfNames(rgszNames, cNames, rgdispid);
}

HRESULT CComTypeInfoHolder::Invoke(IDispatch* p, DISPID dispidMember, LCID lcid, WORD wFlags,
                                   DISPPARAMS* pdispparams, VARIANT* pvarResult, EXCEPINFO* pexcepinfo,
                                   UINT* puArgErr) noexcept {
    HRESULT hr = S_OK;
    if (!m_pInfo.load(std::memory_order_acquire) || !m_pMap.load(std::memory_order_acquire))
        hr = LoadTypeInfo(lcid);
    ITypeInfo* info = m_pInfo.load(std::memory_order_acquire);
    if (!info)
        return hr;
    return info->Invoke(p, dispidMember, wFlags, pdispparams, pvarResult, pexcepinfo, puArgErr);
}

HRESULT CComTypeInfoHolder::LoadTypeInfo(LCID lcid) noexcept {
    if (m_pInfo.load(std::memory_order_acquire) && m_pMap.load(std::memory_order_acquire))
        return S_OK;
    CComCritSecLock lock(g_pModule->ModuleLock());
    HRESULT hr = E_FAIL;
    if (m_pInfo.load(std::memory_order_acquire)) {
        hr = S_OK;
    } else {
        CComPtr<ITypeLib> lib;
        hr = LoadRegTypeLib(*m_plibid, m_wMajor, m_wMinor, lcid, &lib);
        if (SUCCEEDED(hr)) {
            CComPtr<ITypeInfo> info;
            hr = lib->GetTypeInfoOfGuid(*m_pguid, &info);
            if (SUCCEEDED(hr)) {
                // Where the ITypeInfo2 of the information is another object,
                // that object's ITypeInfo is the one kept.
                CComPtr<ITypeInfo> candidate = info;
                CComPtr<ITypeInfo2> info2;
                if (SUCCEEDED(info->QueryInterface(IID_ITypeInfo2, reinterpret_cast<void**>(&info2)))) {
                    CComPtr<IUnknown> unk1, unk2;
                    info->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unk1));
                    info2->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unk2));
                    if (unk1.Get() != unk2.Get()) {
                        CComPtr<ITypeInfo> other;
                        if (SUCCEEDED(info2->QueryInterface(IID_ITypeInfo, reinterpret_cast<void**>(&other))))
                            candidate = other;
                    }
                }
                m_pInfo.store(candidate.Detach(), std::memory_order_release);
                g_pModule->AddTermFunction(&CComTypeInfoHolder::ReleaseTypeInfo,
                                           reinterpret_cast<DWORD_PTR>(this));
            }
        }
    }
    ITypeInfo* info = m_pInfo.load(std::memory_order_acquire);
    if (info && !m_pMap.load(std::memory_order_acquire))
        hr = BuildNameCache(info);
    return hr;
}

HRESULT CComTypeInfoHolder::BuildNameCache(ITypeInfo* pInfo) noexcept {
    TYPEATTR* attr = nullptr;
    if (FAILED(pInfo->GetTypeAttr(&attr)))
        return S_OK;
    m_nCount = attr->cFuncs;
    CComTypeInfoHolderNameEntry* map = nullptr;
    if (m_nCount != 0) {
        map = new (std::nothrow) CComTypeInfoHolderNameEntry[static_cast<std::size_t>(m_nCount)];
        if (!map) {
            pInfo->ReleaseTypeAttr(attr);
            return E_OUTOFMEMORY;
        }
        for (int i = 0; i < m_nCount; ++i)
            map[i] = CComTypeInfoHolderNameEntry{nullptr, 0, DISPID_UNKNOWN};
        for (int i = 0; i < m_nCount; ++i) {
            FUNCDESC* fd = nullptr;
            if (FAILED(pInfo->GetFuncDesc(static_cast<UINT>(i), &fd)))
                continue;
            CComBSTR name;
            if (SUCCEEDED(pInfo->GetDocumentation(fd->memid, &name, nullptr, nullptr, nullptr)) && name.Get()) {
                map[i].nLen = static_cast<int>(SysStringLen(name.Get()));
                map[i].id = fd->memid;
                map[i].bstr = name.Detach();
            }
            pInfo->ReleaseFuncDesc(fd);
        }
    }
    m_pMap.store(map, std::memory_order_release);
    pInfo->ReleaseTypeAttr(attr);
    return S_OK;
}

void WINAPI CComTypeInfoHolder::ReleaseTypeInfo(DWORD_PTR dw) noexcept {
    auto* holder = reinterpret_cast<CComTypeInfoHolder*>(dw);
    if (ITypeInfo* info = holder->m_pInfo.exchange(nullptr, std::memory_order_acq_rel))
        info->Release();
    if (CComTypeInfoHolderNameEntry* map = holder->m_pMap.exchange(nullptr, std::memory_order_acq_rel)) {
        for (int i = 0; i < holder->m_nCount; ++i)
            SysFreeString(map[i].bstr);
        delete[] map;
    }
}

}  // namespace nuv
