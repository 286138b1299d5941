#include "fields.h"

#include "collections.h"

#include <cstring>

namespace comhost::ado {

namespace {

bool IsMissing(const VARIANT& v) noexcept {
    return V_VT(&v) == VT_EMPTY || (V_VT(&v) == VT_ERROR && V_ERROR(&v) == DISP_E_PARAMNOTFOUND);
}

}  // namespace

// ------------------------------------------------------------------ Fields

FieldsObject* FieldsObject::New(RecordsetObject* recordset) noexcept {
    return new (std::nothrow) FieldsObject(recordset);
}

bool FieldsObject::AnswersInterface(REFIID riid) const noexcept {
    return SameGuid(riid, kIID_Fields) || SameGuid(riid, kIID_Fields20) || SameGuid(riid, kIID_Fields15) ||
           SameGuid(riid, kIID_Collection);
}

HRESULT STDMETHODCALLTYPE FieldsObject::get_Count(LONG* c) {
    if (!c)
        return E_POINTER;
    *c = static_cast<LONG>(m_recordset->ColumnCount());
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FieldsObject::_NewEnum(IUnknown** ppvObject) {
    if (!ppvObject)
        return E_POINTER;
    *ppvObject = nullptr;
    return Run(kIID_Collection, [&]() -> HRESULT {
        std::vector<Variant> items(m_recordset->ColumnCount());
        for (size_t i = 0; i < items.size(); ++i) {
            FieldObject* field = FieldObject::ForColumn(m_recordset.get(), m_recordset->ColumnAt(i));
            if (!field)
                return E_OUTOFMEMORY;
            V_VT(items[i].get()) = VT_DISPATCH;
            V_DISPATCH(items[i].get()) = field;
        }
        return NewEnumerator(std::move(items), ppvObject);
    });
}

HRESULT STDMETHODCALLTYPE FieldsObject::Refresh() { return S_OK; }

HRESULT STDMETHODCALLTYPE FieldsObject::get_Item(VARIANT Index, Field** ppvObject) {
    if (!ppvObject)
        return E_POINTER;
    *ppvObject = nullptr;
    return Run(kIID_Fields15, [&]() -> HRESULT {
        const ColumnRef* column = nullptr;
        const HRESULT hr = m_recordset->FindColumn(Index, column);
        if (FAILED(hr))
            return hr;
        FieldObject* field = FieldObject::ForColumn(m_recordset.get(), *column);
        if (!field)
            return E_OUTOFMEMORY;
        *ppvObject = field;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE FieldsObject::_Append(BSTR Name, DataTypeEnum Type, LONG DefinedSize,
                                                FieldAttributeEnum Attrib) {
    return Run(kIID_Fields20, [&] { return m_recordset->AppendColumn(Name, Type, DefinedSize, Attrib); });
}

HRESULT STDMETHODCALLTYPE FieldsObject::Delete(VARIANT Index) {
    return Run(kIID_Fields20, [&] { return m_recordset->DeleteColumn(Index); });
}

HRESULT STDMETHODCALLTYPE FieldsObject::Append(BSTR Name, DataTypeEnum Type, LONG DefinedSize,
                                               FieldAttributeEnum Attrib, VARIANT FieldValue) {
    return Run(kIID_Fields, [&]() -> HRESULT {
        // A value can be given with a new field of a Record, not of a Recordset.
        if (!IsMissing(FieldValue))
            return kErrIllegalOperation;
        return m_recordset->AppendColumn(Name, Type, DefinedSize, Attrib);
    });
}

HRESULT STDMETHODCALLTYPE FieldsObject::Update() {
    // Posting field changes as a batch belongs to Record objects.
    return Run(kIID_Fields, [] { return kErrIllegalOperation; });
}

HRESULT STDMETHODCALLTYPE FieldsObject::Resync(ResyncEnum) {
    return Run(kIID_Fields, [] { return kErrIllegalOperation; });
}

HRESULT STDMETHODCALLTYPE FieldsObject::CancelUpdate() {
    return Run(kIID_Fields, [] { return kErrIllegalOperation; });
}

// ------------------------------------------------------------------ Field

FieldObject* FieldObject::ForColumn(RecordsetObject* recordset, const ColumnRef& column) noexcept {
    FieldObject* field = column->field;
    if (!field) {
        field = new (std::nothrow) FieldObject(recordset, column);
        if (!field)
            return nullptr;
        if (!recordset->KeepField(field)) {
            delete field;
            return nullptr;
        }
        column->field = field;
    }
    recordset->AddRef();
    return field;
}

bool FieldObject::AnswersInterface(REFIID riid) const noexcept {
    return SameGuid(riid, kIID_Field) || SameGuid(riid, kIID_Field20) || SameGuid(riid, kIID_Field15) ||
           SameGuid(riid, kIID_ADO);
}

HRESULT STDMETHODCALLTYPE FieldObject::get_Properties(Properties** ppvObject) {
    if (!ppvObject)
        return E_POINTER;
    *ppvObject = nullptr;
    return Run(kIID_ADO, [&] { return PropertiesObject::New(ppvObject); });
}

HRESULT STDMETHODCALLTYPE FieldObject::get_ActualSize(LONG* pl) {
    if (!pl)
        return E_POINTER;
    return Run(kIID_Field20, [&]() -> HRESULT {
        HRESULT hr = RequireColumn();
        if (FAILED(hr))
            return hr;
        if (!m_recordset->IsOpen())
            return kErrObjectClosed;
        const VARIANT* value = m_recordset->CurrentValue(*m_column);
        if (!value)
            return kErrNoCurrentRecord;
        *pl = ActualSizeOf(m_column->shape, *value);
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE FieldObject::get_Attributes(LONG* pl) {
    if (!pl)
        return E_POINTER;
    return Run(kIID_Field20, [&]() -> HRESULT {
        HRESULT hr = RequireColumn();
        if (SUCCEEDED(hr))
            *pl = m_column->shape.attributes;
        return hr;
    });
}

HRESULT STDMETHODCALLTYPE FieldObject::get_DefinedSize(LONG* pl) {
    if (!pl)
        return E_POINTER;
    return Run(kIID_Field20, [&]() -> HRESULT {
        HRESULT hr = RequireColumn();
        if (SUCCEEDED(hr))
            *pl = m_column->shape.definedSize;
        return hr;
    });
}

HRESULT STDMETHODCALLTYPE FieldObject::get_Name(BSTR* pbstr) {
    if (!pbstr)
        return E_POINTER;
    *pbstr = nullptr;
    return Run(kIID_Field20, [&]() -> HRESULT {
        HRESULT hr = RequireColumn();
        if (SUCCEEDED(hr))
            *pbstr = AllocBstr(m_column->name);
        return hr;
    });
}

HRESULT STDMETHODCALLTYPE FieldObject::get_Type(DataTypeEnum* pDataType) {
    if (!pDataType)
        return E_POINTER;
    return Run(kIID_Field20, [&]() -> HRESULT {
        HRESULT hr = RequireColumn();
        if (SUCCEEDED(hr))
            *pDataType = m_column->shape.type;
        return hr;
    });
}

HRESULT STDMETHODCALLTYPE FieldObject::get_Value(VARIANT* pvar) {
    if (!pvar)
        return E_POINTER;
    VariantInit(pvar);
    return Run(kIID_Field20, [&] { return m_recordset->ReadValue(*m_column, pvar); });
}

HRESULT STDMETHODCALLTYPE FieldObject::put_Value(VARIANT Val) {
    return Run(kIID_Field20, [&] { return m_recordset->WriteValue(*m_column, Val); });
}

HRESULT STDMETHODCALLTYPE FieldObject::get_Precision(BYTE* pbPrecision) {
    if (!pbPrecision)
        return E_POINTER;
    return Run(kIID_Field20, [&]() -> HRESULT {
        HRESULT hr = RequireColumn();
        if (SUCCEEDED(hr))
            *pbPrecision = m_column->shape.precision;
        return hr;
    });
}

HRESULT STDMETHODCALLTYPE FieldObject::get_NumericScale(BYTE* pbNumericScale) {
    if (!pbNumericScale)
        return E_POINTER;
    return Run(kIID_Field20, [&]() -> HRESULT {
        HRESULT hr = RequireColumn();
        if (SUCCEEDED(hr))
            *pbNumericScale = m_column->shape.scale;
        return hr;
    });
}

HRESULT STDMETHODCALLTYPE FieldObject::AppendChunk(VARIANT Data) {
    return Run(kIID_Field20, [&]() -> HRESULT {
        HRESULT hr = RequireColumn();
        if (FAILED(hr))
            return hr;
        // Chunks are for long text and binary fields.
        if ((m_column->shape.attributes & adFldLong) == 0)
            return kErrFeatureNotAvailable;
        const VARIANT* current = m_recordset->CurrentValue(*m_column);
        if (!m_recordset->IsOpen())
            return kErrObjectClosed;
        if (!current)
            return kErrNoCurrentRecord;
        Variant chunk;
        hr = chunk.CopyIndFrom(Data);
        if (FAILED(hr))
            return hr == E_OUTOFMEMORY ? hr : kErrDataConversion;
        Variant combined;
        if (IsBinaryType(m_column->shape.type)) {
            if (chunk.vt() != (VT_ARRAY | VT_UI1))
                return kErrDataConversion;
            const LONG oldLength = V_VT(current) == (VT_ARRAY | VT_UI1) ? ActualSizeOf(m_column->shape, *current) : 0;
            const LONG addLength = ActualSizeOf(m_column->shape, *chunk);
            SAFEARRAY* joined = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(oldLength + addLength));
            if (!joined)
                return E_OUTOFMEMORY;
            V_VT(combined.get()) = VT_ARRAY | VT_UI1;
            V_ARRAY(combined.get()) = joined;
            void* target = nullptr;
            hr = SafeArrayAccessData(joined, &target);
            if (FAILED(hr))
                return hr;
            auto* bytes = static_cast<unsigned char*>(target);
            for (const VARIANT* part : {current, static_cast<const VARIANT*>(chunk.get())}) {
                if (V_VT(part) != (VT_ARRAY | VT_UI1))
                    continue;
                const LONG n = ActualSizeOf(m_column->shape, *part);
                void* source = nullptr;
                if (n > 0 && SUCCEEDED(SafeArrayAccessData(V_ARRAY(part), &source))) {
                    std::memcpy(bytes, source, static_cast<size_t>(n));
                    SafeArrayUnaccessData(V_ARRAY(part));
                    bytes += n;
                }
            }
            SafeArrayUnaccessData(joined);
        } else {
            Variant text;
            hr = VariantChangeType(text.get(), chunk.get(), 0, VT_BSTR);
            if (FAILED(hr))
                return hr == E_OUTOFMEMORY ? hr : kErrDataConversion;
            std::u16string joined;
            if (V_VT(current) == VT_BSTR)
                joined.assign(View(V_BSTR(current)));
            joined += View(V_BSTR(text.get()));
            V_VT(combined.get()) = VT_BSTR;
            V_BSTR(combined.get()) = AllocBstr(joined);
        }
        return m_recordset->WriteValue(*m_column, *combined);
    });
}

HRESULT STDMETHODCALLTYPE FieldObject::GetChunk(LONG Length, VARIANT* pvar) {
    if (!pvar)
        return E_POINTER;
    VariantInit(pvar);
    return Run(kIID_Field20, [&]() -> HRESULT {
        HRESULT hr = RequireColumn();
        if (FAILED(hr))
            return hr;
        if ((m_column->shape.attributes & adFldLong) == 0)
            return kErrFeatureNotAvailable;
        if (Length < 0)
            return kErrInvalidArgument;
        if (!m_recordset->IsOpen())
            return kErrObjectClosed;
        const VARIANT* current = m_recordset->CurrentValue(*m_column);
        if (!current)
            return kErrNoCurrentRecord;
        // Successive calls continue where the previous one stopped, until the
        // current row changes.
        const double bookmark = m_recordset->CurrentBookmark();
        if (bookmark != m_chunkBookmark) {
            m_chunkBookmark = bookmark;
            m_chunkOffset = 0;
        }
        if (V_VT(current) == VT_NULL) {
            V_VT(pvar) = VT_NULL;
            return S_OK;
        }
        const LONG total = ActualSizeOf(m_column->shape, *current);
        const LONG take = std::min(Length, std::max<LONG>(0, total - m_chunkOffset));
        if (take == 0 && m_chunkOffset >= total) {
            V_VT(pvar) = VT_NULL;   // nothing left to read
            return S_OK;
        }
        if (V_VT(current) == VT_BSTR) {
            V_VT(pvar) = VT_BSTR;
            V_BSTR(pvar) = AllocBstr(View(V_BSTR(current)).substr(static_cast<size_t>(m_chunkOffset),
                                                                   static_cast<size_t>(take)));
        } else {
            SAFEARRAY* part = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(take));
            if (!part)
                return E_OUTOFMEMORY;
            void* source = nullptr;
            void* target = nullptr;
            if (SUCCEEDED(SafeArrayAccessData(V_ARRAY(current), &source))) {
                if (SUCCEEDED(SafeArrayAccessData(part, &target))) {
                    std::memcpy(target, static_cast<unsigned char*>(source) + m_chunkOffset, static_cast<size_t>(take));
                    SafeArrayUnaccessData(part);
                }
                SafeArrayUnaccessData(V_ARRAY(current));
            }
            V_VT(pvar) = VT_ARRAY | VT_UI1;
            V_ARRAY(pvar) = part;
        }
        m_chunkOffset += take;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE FieldObject::get_OriginalValue(VARIANT* pvar) {
    if (!pvar)
        return E_POINTER;
    VariantInit(pvar);
    return Run(kIID_Field20, [&] { return m_recordset->ReadOriginalValue(*m_column, pvar); });
}

HRESULT STDMETHODCALLTYPE FieldObject::get_UnderlyingValue(VARIANT* pvar) {
    if (!pvar)
        return E_POINTER;
    VariantInit(pvar);
    // Without a data source behind the rows, the underlying value is the one
    // the row was read with.
    return Run(kIID_Field20, [&] { return m_recordset->ReadOriginalValue(*m_column, pvar); });
}

HRESULT STDMETHODCALLTYPE FieldObject::get_DataFormat(IUnknown** ppiDF) {
    if (!ppiDF)
        return E_POINTER;
    *ppiDF = m_dataFormat.get();
    if (*ppiDF)
        (*ppiDF)->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FieldObject::putref_DataFormat(IUnknown* piDF) {
    m_dataFormat = Ref<IUnknown>::Share(piDF);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FieldObject::put_Precision(BYTE bPrecision) {
    return Run(kIID_Field20, [&]() -> HRESULT {
        HRESULT hr = RequireColumn();
        if (FAILED(hr))
            return hr;
        hr = m_recordset->CheckColumnChangeable();
        if (FAILED(hr))
            return hr;
        m_column->shape.precision = bPrecision;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE FieldObject::put_NumericScale(BYTE bScale) {
    return Run(kIID_Field20, [&]() -> HRESULT {
        HRESULT hr = RequireColumn();
        if (FAILED(hr))
            return hr;
        hr = m_recordset->CheckColumnChangeable();
        if (FAILED(hr))
            return hr;
        m_column->shape.scale = bScale;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE FieldObject::put_Type(DataTypeEnum DataType) {
    return Run(kIID_Field20, [&]() -> HRESULT {
        HRESULT hr = RequireColumn();
        if (FAILED(hr))
            return hr;
        hr = m_recordset->CheckColumnChangeable();
        if (FAILED(hr))
            return hr;
        // The column is described again for the new type, keeping its size
        // where the type has a variable one and its explicit attributes.
        ColumnShape shape;
        const LONG size = IsCharacterType(DataType) || IsBinaryType(DataType) ? m_column->shape.definedSize : 0;
        hr = ShapeForAppend(DataType, size, m_column->shape.attributes & ~(adFldFixed | adFldLong), shape);
        if (FAILED(hr))
            return hr;
        m_column->shape = shape;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE FieldObject::put_DefinedSize(LONG lSize) {
    return Run(kIID_Field20, [&]() -> HRESULT {
        HRESULT hr = RequireColumn();
        if (FAILED(hr))
            return hr;
        hr = m_recordset->CheckColumnChangeable();
        if (FAILED(hr))
            return hr;
        if (lSize <= 0)
            return kErrInvalidArgument;
        m_column->shape.definedSize = lSize;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE FieldObject::put_Attributes(LONG lAttributes) {
    return Run(kIID_Field20, [&]() -> HRESULT {
        HRESULT hr = RequireColumn();
        if (FAILED(hr))
            return hr;
        hr = m_recordset->CheckColumnChangeable();
        if (FAILED(hr))
            return hr;
        if ((lAttributes & ~0x7FFFF) != 0)
            return kErrInvalidArgument;
        m_column->shape.attributes = lAttributes;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE FieldObject::get_Status(LONG* pFStatus) {
    if (!pFStatus)
        return E_POINTER;
    *pFStatus = m_column->status;
    return S_OK;
}

}  // namespace comhost::ado
