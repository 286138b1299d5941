// The Fields collection of a recordset and its Field objects.  Both keep the
// recordset alive while a client holds them; a Field stays bound to its
// column and reads the recordset's current row.
#pragma once

#include "recordset.h"

namespace comhost::ado {

class FieldsObject final : public DispatchObject<FieldsObject, Fields> {
public:
    // A new collection over `recordset`'s columns, with one reference.
    static FieldsObject* New(RecordsetObject* recordset) noexcept;

    bool AnswersInterface(REFIID riid) const noexcept;

    // _Collection
    HRESULT STDMETHODCALLTYPE get_Count(LONG* c) override;
    HRESULT STDMETHODCALLTYPE _NewEnum(IUnknown** ppvObject) override;
    HRESULT STDMETHODCALLTYPE Refresh() override;
    // Fields15
    HRESULT STDMETHODCALLTYPE get_Item(VARIANT Index, Field** ppvObject) override;
    // Fields20
    HRESULT STDMETHODCALLTYPE _Append(BSTR Name, DataTypeEnum Type, LONG DefinedSize,
                                      FieldAttributeEnum Attrib) override;
    HRESULT STDMETHODCALLTYPE Delete(VARIANT Index) override;
    // Fields
    HRESULT STDMETHODCALLTYPE Append(BSTR Name, DataTypeEnum Type, LONG DefinedSize, FieldAttributeEnum Attrib,
                                     VARIANT FieldValue) override;
    HRESULT STDMETHODCALLTYPE Update() override;
    HRESULT STDMETHODCALLTYPE Resync(ResyncEnum ResyncValues) override;
    HRESULT STDMETHODCALLTYPE CancelUpdate() override;

private:
    friend class DispatchObject<FieldsObject, Fields>;
    explicit FieldsObject(RecordsetObject* recordset) noexcept : m_recordset(Ref<RecordsetObject>::Share(recordset)) {}
    ~FieldsObject() override = default;

    template <class Body>
    HRESULT Run(const GUID& iid, Body&& body) noexcept {
        m_recordset->ClearDetail();
        const HRESULT hr = Guarded(body);
        return FAILED(hr) ? m_recordset->Report(hr, iid, ErrorSource::Fields) : hr;
    }

    Ref<RecordsetObject> m_recordset;
};

class FieldObject final : public DispatchObject<FieldObject, Field> {
public:
    // The column's Field object, with a reference for the caller; made on
    // first use and kept by the recordset, so that every lookup of the
    // column returns the same object.  Null when memory runs out.
    static FieldObject* ForColumn(RecordsetObject* recordset, const ColumnRef& column) noexcept;
    // Ends a Field object; only the recordset that keeps it calls this.
    static void Destroy(FieldObject* field) noexcept { delete field; }

    // A Field lives as long as its recordset and counts its references
    // there: a client holding a Field keeps the recordset alive.
    ULONG STDMETHODCALLTYPE AddRef() override { return m_recordset->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return m_recordset->Release(); }

    bool AnswersInterface(REFIID riid) const noexcept;

    // _ADO
    HRESULT STDMETHODCALLTYPE get_Properties(Properties** ppvObject) override;
    // Field20 (whose first part is Field15)
    HRESULT STDMETHODCALLTYPE get_ActualSize(LONG* pl) override;
    HRESULT STDMETHODCALLTYPE get_Attributes(LONG* pl) override;
    HRESULT STDMETHODCALLTYPE get_DefinedSize(LONG* pl) override;
    HRESULT STDMETHODCALLTYPE get_Name(BSTR* pbstr) override;
    HRESULT STDMETHODCALLTYPE get_Type(DataTypeEnum* pDataType) override;
    HRESULT STDMETHODCALLTYPE get_Value(VARIANT* pvar) override;
    HRESULT STDMETHODCALLTYPE put_Value(VARIANT Val) override;
    HRESULT STDMETHODCALLTYPE get_Precision(BYTE* pbPrecision) override;
    HRESULT STDMETHODCALLTYPE get_NumericScale(BYTE* pbNumericScale) override;
    HRESULT STDMETHODCALLTYPE AppendChunk(VARIANT Data) override;
    HRESULT STDMETHODCALLTYPE GetChunk(LONG Length, VARIANT* pvar) override;
    HRESULT STDMETHODCALLTYPE get_OriginalValue(VARIANT* pvar) override;
    HRESULT STDMETHODCALLTYPE get_UnderlyingValue(VARIANT* pvar) override;
    HRESULT STDMETHODCALLTYPE get_DataFormat(IUnknown** ppiDF) override;
    HRESULT STDMETHODCALLTYPE putref_DataFormat(IUnknown* piDF) override;
    HRESULT STDMETHODCALLTYPE put_Precision(BYTE bPrecision) override;
    HRESULT STDMETHODCALLTYPE put_NumericScale(BYTE bScale) override;
    HRESULT STDMETHODCALLTYPE put_Type(DataTypeEnum DataType) override;
    HRESULT STDMETHODCALLTYPE put_DefinedSize(LONG lSize) override;
    HRESULT STDMETHODCALLTYPE put_Attributes(LONG lAttributes) override;
    // Field
    HRESULT STDMETHODCALLTYPE get_Status(LONG* pFStatus) override;

private:
    friend class DispatchObject<FieldObject, Field>;
    FieldObject(RecordsetObject* recordset, ColumnRef column) noexcept
        : m_recordset(recordset), m_column(std::move(column)) {}
    ~FieldObject() override = default;

    template <class Body>
    HRESULT Run(const GUID& iid, Body&& body) noexcept {
        m_recordset->ClearDetail();
        const HRESULT hr = Guarded(body);
        return FAILED(hr) ? m_recordset->Report(hr, iid, ErrorSource::Field) : hr;
    }
    // kErrObjectNotSet once the column has been deleted.
    HRESULT RequireColumn() const noexcept { return m_column->removed ? kErrObjectNotSet : S_OK; }

    RecordsetObject* m_recordset;   // keeps this object; see AddRef
    ColumnRef m_column;
    Ref<IUnknown> m_dataFormat;
    LONG m_chunkOffset = 0;          // where the next GetChunk continues
    double m_chunkBookmark = -1;     // row the chunk offset belongs to
};

}  // namespace comhost::ado
