#include "collections.h"

namespace comhost::ado {

// ------------------------------------------------------------------ enumerator

EnumVariantObject* EnumVariantObject::New(std::vector<Variant> items) noexcept {
    return new (std::nothrow) EnumVariantObject(std::move(items));
}

HRESULT STDMETHODCALLTYPE EnumVariantObject::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (!SameGuid(riid, kIID_IUnknown) && !SameGuid(riid, kIID_IEnumVARIANT))
        return E_NOINTERFACE;
    *ppv = static_cast<IEnumVARIANT*>(this);
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE EnumVariantObject::AddRef() { return m_refs.fetch_add(1, std::memory_order_relaxed) + 1; }

ULONG STDMETHODCALLTYPE EnumVariantObject::Release() {
    const ULONG left = m_refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0)
        delete this;
    return left;
}

HRESULT STDMETHODCALLTYPE EnumVariantObject::Next(ULONG celt, VARIANT* rgVar, ULONG* pCeltFetched) {
    if (pCeltFetched)
        *pCeltFetched = 0;
    if (celt == 0)
        return S_OK;
    if (!rgVar || (celt > 1 && !pCeltFetched))
        return E_INVALIDARG;
    ULONG fetched = 0;
    while (fetched < celt && m_next < m_items.size()) {
        VariantInit(&rgVar[fetched]);
        const HRESULT hr = VariantCopy(&rgVar[fetched], m_items[m_next].get());
        if (FAILED(hr)) {
            for (ULONG i = 0; i < fetched; ++i)
                VariantClear(&rgVar[i]);
            return hr;
        }
        ++fetched;
        ++m_next;
    }
    if (pCeltFetched)
        *pCeltFetched = fetched;
    return fetched == celt ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE EnumVariantObject::Skip(ULONG celt) {
    const size_t left = m_items.size() - m_next;
    if (celt > left) {
        m_next = m_items.size();
        return S_FALSE;
    }
    m_next += celt;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE EnumVariantObject::Reset() {
    m_next = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE EnumVariantObject::Clone(IEnumVARIANT** ppEnum) {
    if (!ppEnum)
        return E_POINTER;
    *ppEnum = nullptr;
    return Guarded([&]() -> HRESULT {
        std::vector<Variant> copy(m_items.size());
        for (size_t i = 0; i < m_items.size(); ++i) {
            const HRESULT hr = copy[i].CopyFrom(*m_items[i]);
            if (FAILED(hr))
                return hr;
        }
        EnumVariantObject* clone = New(std::move(copy));
        if (!clone)
            return E_OUTOFMEMORY;
        clone->m_next = m_next;
        *ppEnum = clone;
        return S_OK;
    });
}

HRESULT NewEnumerator(std::vector<Variant> items, IUnknown** ppEnum) noexcept {
    EnumVariantObject* e = EnumVariantObject::New(std::move(items));
    if (!e)
        return E_OUTOFMEMORY;
    *ppEnum = e;
    return S_OK;
}

// ------------------------------------------------------------------ properties

HRESULT PropertiesObject::New(Properties** ppv) noexcept {
    PropertiesObject* p = new (std::nothrow) PropertiesObject();
    if (!p)
        return E_OUTOFMEMORY;
    *ppv = p;
    return S_OK;
}

bool PropertiesObject::AnswersInterface(REFIID riid) const noexcept {
    return SameGuid(riid, kIID_Properties) || SameGuid(riid, kIID_Collection);
}

HRESULT STDMETHODCALLTYPE PropertiesObject::get_Count(LONG* c) {
    if (!c)
        return E_POINTER;
    *c = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PropertiesObject::_NewEnum(IUnknown** ppvObject) {
    if (!ppvObject)
        return E_POINTER;
    *ppvObject = nullptr;
    return NewEnumerator({}, ppvObject);
}

HRESULT STDMETHODCALLTYPE PropertiesObject::Refresh() { return S_OK; }

HRESULT STDMETHODCALLTYPE PropertiesObject::get_Item(VARIANT, Property** ppvObject) {
    if (!ppvObject)
        return E_POINTER;
    *ppvObject = nullptr;
    return ReportError(kErrItemNotFound, kIID_Properties, ErrorSource::Properties);
}

// ------------------------------------------------------------------ indexes

HRESULT ReadItemIndex(const VARIANT& index, ItemIndex& out) {
    Variant v;
    HRESULT hr = v.CopyIndFrom(index);
    if (FAILED(hr))
        return hr == E_OUTOFMEMORY ? hr : kErrItemNotFound;
    switch (v.vt()) {
    case VT_BSTR:
        out.byName = true;
        out.name.assign(View(V_BSTR(v.get())));
        return S_OK;
    case VT_I1: case VT_I2: case VT_I4: case VT_I8: case VT_INT:
    case VT_UI1: case VT_UI2: case VT_UI4: case VT_UI8: case VT_UINT:
    case VT_R4: case VT_R8: case VT_DECIMAL: case VT_CY: {
        Variant ordinal;
        hr = VariantChangeType(ordinal.get(), v.get(), 0, VT_I4);
        if (FAILED(hr))
            return hr == E_OUTOFMEMORY ? hr : kErrItemNotFound;
        out.byName = false;
        out.ordinal = V_I4(ordinal.get());
        return S_OK;
    }
    default:
        return kErrItemNotFound;
    }
}

}  // namespace comhost::ado
