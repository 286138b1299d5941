// Small collection objects shared by the ADO objects: the enumerator that
// _NewEnum hands out and the Properties collection.
#pragma once

#include "ado_common.h"

#include <vector>

namespace comhost::ado {

// IEnumVARIANT over a snapshot of values taken when the enumerator is made.
class EnumVariantObject final : public IEnumVARIANT, private comhost::LiveObject {
public:
    // Takes over `items`; null when no memory is left.
    static EnumVariantObject* New(std::vector<Variant> items) noexcept;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE Next(ULONG celt, VARIANT* rgVar, ULONG* pCeltFetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** ppEnum) override;

private:
    explicit EnumVariantObject(std::vector<Variant> items) noexcept : m_items(std::move(items)) {}
    ~EnumVariantObject() = default;

    std::atomic<ULONG> m_refs{1};
    std::vector<Variant> m_items;
    size_t m_next = 0;
};

// Hands out an enumerator over `items` through `ppEnum` (as IUnknown).
HRESULT NewEnumerator(std::vector<Variant> items, IUnknown** ppEnum) noexcept;

// The dynamic properties of an object.  The host layer's objects publish no
// provider properties, so the collection is empty: Count is 0 and every
// Item lookup reports that the item cannot be found.
class PropertiesObject final : public DispatchObject<PropertiesObject, Properties> {
public:
    static HRESULT New(Properties** ppv) noexcept;

    bool AnswersInterface(REFIID riid) const noexcept;

    HRESULT STDMETHODCALLTYPE get_Count(LONG* c) override;
    HRESULT STDMETHODCALLTYPE _NewEnum(IUnknown** ppvObject) override;
    HRESULT STDMETHODCALLTYPE Refresh() override;
    HRESULT STDMETHODCALLTYPE get_Item(VARIANT Index, Property** ppvObject) override;

private:
    friend class DispatchObject<PropertiesObject, Properties>;
    PropertiesObject() = default;
    ~PropertiesObject() override = default;
};

// Reads an Item index as ADO's collections do: a string is a name, a number
// an ordinal; references are followed.  kErrItemNotFound for any other value
// (or a number out of range), E_OUTOFMEMORY when a copy cannot be made.
struct ItemIndex {
    bool byName = false;
    std::u16string name;
    LONG ordinal = -1;
};
HRESULT ReadItemIndex(const VARIANT& index, ItemIndex& out);

}  // namespace comhost::ado
