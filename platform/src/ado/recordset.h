// The Recordset object: an in-memory client cursor over rows of VARIANTs,
// opened either as a fabricated recordset (columns appended while closed) or
// from a file in ADO's XML persistence format through the "MSPersist"
// provider.  One object answers Recordset15, Recordset20, Recordset21 and
// _Recordset; the Fields and Field objects work on its rows.
#pragma once

#include "data_types.h"

#include <memory>
#include <string>
#include <vector>

namespace comhost::ado {

struct PersistColumnInfo;   // what the persistence format keeps of a column
struct PersistTableInfo;    // ... and of the recordset as a whole
class FieldObject;

struct Column {
    std::u16string name;
    ColumnShape shape;
    // Outcome of the last value written through this column (Field.Status).
    FieldStatusEnum status = adFieldOK;
    // Attributes of a column loaded from a file that are written back when
    // the recordset is saved again (null for appended columns).
    std::shared_ptr<const PersistColumnInfo> persisted;
    // Set once the column has left the collection; Field objects still
    // holding it then report that they are no longer valid.
    bool removed = false;
    // The column's Field object once one has been asked for; the recordset
    // keeps it (see RecordsetObject::KeepField).
    FieldObject* field = nullptr;
};
using ColumnRef = std::shared_ptr<Column>;

enum class RowState : unsigned char { Unchanged, Inserted, Modified };

class RowStore;

struct Row {
    // One per column; empty while the row's values are those in the
    // recordset's RowStore at `stored` (rows read from a file, until they
    // are changed).
    std::vector<Variant> values;
    // Values as they were before the row was changed (Modified rows).
    std::vector<Variant> original;
    RowState state = RowState::Unchanged;
    uint32_t stored = 0;
    double bookmark = 0;
};

// Everything that opening a file yields.
struct RowSet {
    std::vector<ColumnRef> columns;
    std::vector<Row> rows;
    std::vector<Row> deleted;   // rows whose deletion is still pending
    std::shared_ptr<const RowStore> store;   // the values of rows without their own
    std::shared_ptr<const PersistTableInfo> info;
};

class RecordsetObject final : public DispatchObject<RecordsetObject, _Recordset> {
public:
    static HRESULT Create(IUnknown* outer, REFIID riid, void** ppv) noexcept;

    bool AnswersInterface(REFIID riid) const noexcept;

    // ---- for the Fields and Field objects
    size_t ColumnCount() const noexcept { return m_columns.size(); }
    const ColumnRef& ColumnAt(size_t i) const noexcept { return m_columns[i]; }
    // Finds the column an Item index names (name, ordinal, by reference).
    HRESULT FindColumn(const VARIANT& index, ColumnRef& column) const;
    // The same, pointing at the collection's own entry (valid until the
    // columns change).
    HRESULT FindColumn(const VARIANT& index, const ColumnRef*& column) const;
    HRESULT AppendColumn(BSTR name, LONG type, LONG definedSize, LONG attributes);
    HRESULT DeleteColumn(const VARIANT& index);
    // Changes a property of a column: allowed while the recordset is closed.
    HRESULT CheckColumnChangeable() const noexcept;
    HRESULT ReadValue(const Column& column, VARIANT* value) const;
    HRESULT WriteValue(Column& column, const VARIANT& value);
    HRESULT ReadOriginalValue(const Column& column, VARIANT* value) const;
    // The value of a column in the current row, without a copy (for chunks
    // and sizes); null when there is no current row.  Gives the row VARIANTs
    // of its own first (may throw std::bad_alloc).
    const VARIANT* CurrentValue(const Column& column);
    // Bookmark of the current row, -1 when there is none.
    double CurrentBookmark() const noexcept;
    bool IsOpen() const noexcept { return m_open; }
    // Takes over a Field object made for one of the columns; it lives until
    // the recordset goes.  False when memory runs out.
    bool KeepField(FieldObject* field) noexcept;

    // Reports a failure of an operation on this recordset's data, with the
    // extra text the operation left (for the Fields and Field objects too).
    HRESULT Report(HRESULT hr, const GUID& iid, ErrorSource source) noexcept {
        std::u16string detail;
        detail.swap(m_detail);
        const bool replace = m_replaceDetail;
        m_replaceDetail = false;
        return ReportError(hr, iid, source, detail, replace);
    }
    void ClearDetail() noexcept {
        m_detail.clear();
        m_replaceDetail = false;
    }

    // ---- _ADO
    HRESULT STDMETHODCALLTYPE get_Properties(Properties** ppvObject) override;

    // ---- Recordset15
    HRESULT STDMETHODCALLTYPE get_AbsolutePosition(LONG* pl) override;
    HRESULT STDMETHODCALLTYPE put_AbsolutePosition(LONG Position) override;
    HRESULT STDMETHODCALLTYPE putref_ActiveConnection(IDispatch* pconn) override;
    HRESULT STDMETHODCALLTYPE put_ActiveConnection(VARIANT vConn) override;
    HRESULT STDMETHODCALLTYPE get_ActiveConnection(VARIANT* pvar) override;
    HRESULT STDMETHODCALLTYPE get_BOF(VARIANT_BOOL* pb) override;
    HRESULT STDMETHODCALLTYPE get_Bookmark(VARIANT* pvBookmark) override;
    HRESULT STDMETHODCALLTYPE put_Bookmark(VARIANT vBookmark) override;
    HRESULT STDMETHODCALLTYPE get_CacheSize(LONG* pl) override;
    HRESULT STDMETHODCALLTYPE put_CacheSize(LONG CacheSize) override;
    HRESULT STDMETHODCALLTYPE get_CursorType(CursorTypeEnum* plCursorType) override;
    HRESULT STDMETHODCALLTYPE put_CursorType(CursorTypeEnum lCursorType) override;
    HRESULT STDMETHODCALLTYPE get_EOF(VARIANT_BOOL* pb) override;
    HRESULT STDMETHODCALLTYPE get_Fields(Fields** ppvObject) override;
    HRESULT STDMETHODCALLTYPE get_LockType(LockTypeEnum* plLockType) override;
    HRESULT STDMETHODCALLTYPE put_LockType(LockTypeEnum lLockType) override;
    HRESULT STDMETHODCALLTYPE get_MaxRecords(LONG* plMaxRecords) override;
    HRESULT STDMETHODCALLTYPE put_MaxRecords(LONG lMaxRecords) override;
    HRESULT STDMETHODCALLTYPE get_RecordCount(LONG* pl) override;
    HRESULT STDMETHODCALLTYPE putref_Source(IDispatch* pcmd) override;
    HRESULT STDMETHODCALLTYPE put_Source(BSTR bstrConn) override;
    HRESULT STDMETHODCALLTYPE get_Source(VARIANT* pvSource) override;
    HRESULT STDMETHODCALLTYPE AddNew(VARIANT FieldList, VARIANT Values) override;
    HRESULT STDMETHODCALLTYPE CancelUpdate() override;
    HRESULT STDMETHODCALLTYPE Close() override;
    HRESULT STDMETHODCALLTYPE Delete(AffectEnum AffectRecords) override;
    HRESULT STDMETHODCALLTYPE GetRows(LONG Rows, VARIANT Start, VARIANT Fields, VARIANT* pvar) override;
    HRESULT STDMETHODCALLTYPE Move(LONG NumRecords, VARIANT Start) override;
    HRESULT STDMETHODCALLTYPE MoveNext() override;
    HRESULT STDMETHODCALLTYPE MovePrevious() override;
    HRESULT STDMETHODCALLTYPE MoveFirst() override;
    HRESULT STDMETHODCALLTYPE MoveLast() override;
    HRESULT STDMETHODCALLTYPE Open(VARIANT Source, VARIANT ActiveConnection, CursorTypeEnum CursorType,
                                   LockTypeEnum LockType, LONG Options) override;
    HRESULT STDMETHODCALLTYPE Requery(LONG Options) override;
    HRESULT STDMETHODCALLTYPE _xResync(AffectEnum AffectRecords) override;
    HRESULT STDMETHODCALLTYPE Update(VARIANT Fields, VARIANT Values) override;
    HRESULT STDMETHODCALLTYPE get_AbsolutePage(LONG* pl) override;
    HRESULT STDMETHODCALLTYPE put_AbsolutePage(LONG Page) override;
    HRESULT STDMETHODCALLTYPE get_EditMode(EditModeEnum* pl) override;
    HRESULT STDMETHODCALLTYPE get_Filter(VARIANT* Criteria) override;
    HRESULT STDMETHODCALLTYPE put_Filter(VARIANT Criteria) override;
    HRESULT STDMETHODCALLTYPE get_PageCount(LONG* pl) override;
    HRESULT STDMETHODCALLTYPE get_PageSize(LONG* pl) override;
    HRESULT STDMETHODCALLTYPE put_PageSize(LONG PageSize) override;
    HRESULT STDMETHODCALLTYPE get_Sort(BSTR* Criteria) override;
    HRESULT STDMETHODCALLTYPE put_Sort(BSTR Criteria) override;
    HRESULT STDMETHODCALLTYPE get_Status(LONG* pl) override;
    HRESULT STDMETHODCALLTYPE get_State(LONG* plObjState) override;
    HRESULT STDMETHODCALLTYPE _xClone(_Recordset** ppvObject) override;
    HRESULT STDMETHODCALLTYPE UpdateBatch(AffectEnum AffectRecords) override;
    HRESULT STDMETHODCALLTYPE CancelBatch(AffectEnum AffectRecords) override;
    HRESULT STDMETHODCALLTYPE get_CursorLocation(CursorLocationEnum* plCursorLoc) override;
    HRESULT STDMETHODCALLTYPE put_CursorLocation(CursorLocationEnum lCursorLoc) override;
    HRESULT STDMETHODCALLTYPE NextRecordset(VARIANT* RecordsAffected, _Recordset** ppiRs) override;
    HRESULT STDMETHODCALLTYPE Supports(CursorOptionEnum CursorOptions, VARIANT_BOOL* pb) override;
    HRESULT STDMETHODCALLTYPE get_Collect(VARIANT Index, VARIANT* pvar) override;
    HRESULT STDMETHODCALLTYPE put_Collect(VARIANT Index, VARIANT value) override;
    HRESULT STDMETHODCALLTYPE get_MarshalOptions(MarshalOptionsEnum* peMarshal) override;
    HRESULT STDMETHODCALLTYPE put_MarshalOptions(MarshalOptionsEnum eMarshal) override;
    HRESULT STDMETHODCALLTYPE Find(BSTR Criteria, LONG SkipRecords, SearchDirectionEnum SearchDirection,
                                   VARIANT Start) override;

    // ---- Recordset20
    HRESULT STDMETHODCALLTYPE Cancel() override;
    HRESULT STDMETHODCALLTYPE get_DataSource(IUnknown** ppunkDataSource) override;
    HRESULT STDMETHODCALLTYPE putref_DataSource(IUnknown* punkDataSource) override;
    HRESULT STDMETHODCALLTYPE _xSave(BSTR FileName, PersistFormatEnum PersistFormat) override;
    HRESULT STDMETHODCALLTYPE get_ActiveCommand(IDispatch** ppCmd) override;
    HRESULT STDMETHODCALLTYPE put_StayInSync(VARIANT_BOOL bStayInSync) override;
    HRESULT STDMETHODCALLTYPE get_StayInSync(VARIANT_BOOL* pbStayInSync) override;
    HRESULT STDMETHODCALLTYPE GetString(StringFormatEnum StringFormat, LONG NumRows, BSTR ColumnDelimeter,
                                        BSTR RowDelimeter, BSTR NullExpr, BSTR* pRetString) override;
    HRESULT STDMETHODCALLTYPE get_DataMember(BSTR* pbstrDataMember) override;
    HRESULT STDMETHODCALLTYPE put_DataMember(BSTR bstrDataMember) override;
    HRESULT STDMETHODCALLTYPE CompareBookmarks(VARIANT Bookmark1, VARIANT Bookmark2, CompareEnum* pCompare) override;
    HRESULT STDMETHODCALLTYPE Clone(LockTypeEnum LockType, _Recordset** ppvObject) override;
    HRESULT STDMETHODCALLTYPE Resync(AffectEnum AffectRecords, ResyncEnum ResyncValues) override;

    // ---- Recordset21
    HRESULT STDMETHODCALLTYPE Seek(VARIANT KeyValues, SeekEnum SeekOption) override;
    HRESULT STDMETHODCALLTYPE put_Index(BSTR Index) override;
    HRESULT STDMETHODCALLTYPE get_Index(BSTR* pbstrIndex) override;

    // ---- _Recordset
    HRESULT STDMETHODCALLTYPE Save(VARIANT Destination, PersistFormatEnum PersistFormat) override;

private:
    friend class DispatchObject<RecordsetObject, _Recordset>;
    RecordsetObject() = default;
    ~RecordsetObject() override;

    // Runs a method body and reports its ADO failure for `iid`.
    template <class Body>
    HRESULT Run(const GUID& iid, Body&& body) noexcept {
        ClearDetail();
        const HRESULT hr = Guarded(body);
        return FAILED(hr) ? Report(hr, iid, ErrorSource::Recordset) : hr;
    }

    LONG RowCount() const noexcept { return static_cast<LONG>(m_rows.size()); }
    LONG PositionOr(LONG onRow) const;
    bool AtBof() const noexcept { return !m_onDeleted && (m_rows.empty() || m_pos < 0); }
    bool AtEof() const noexcept { return !m_onDeleted && (m_rows.empty() || m_pos >= RowCount()); }
    bool HasCurrentRow() const noexcept { return !m_onDeleted && m_pos >= 0 && m_pos < RowCount(); }
    HRESULT RequireOpen() const noexcept { return m_open ? S_OK : kErrObjectClosed; }
    // kErrFeatureNotAvailable, with ADO's text for it, when rows cannot change.
    HRESULT RequireUpdatable();
    // Completes an edit in progress, as ADO does before the current row changes.
    HRESULT FinishEdit();
    void DiscardEdit() noexcept;
    // Moves to row `target` (may be -1 for BOF or RowCount() for EOF).
    HRESULT MoveTo(LONG target);
    HRESULT ResolveStart(const VARIANT& start, LONG& row) const;
    HRESULT RowOfBookmark(const VARIANT& bookmark, LONG& row) const;
    HRESULT CollectColumns(const VARIANT& fields, std::vector<size_t>& columns) const;
    HRESULT SetValues(const VARIANT& fields, const VARIANT& values);
    HRESULT OpenFile(const std::u16string& path, LockTypeEnum lockType);
    HRESULT SaveTo(const VARIANT& destination, PersistFormatEnum format);
    HRESULT DoClose() noexcept;
    HRESULT ResetColumnsForOpen();
    double NextBookmark() noexcept { return ++m_lastBookmark; }
    // The value of a cell: the row's own VARIANT, or one made from the store
    // in `scratch`.  Throws std::bad_alloc when memory runs out.
    const VARIANT* CellOf(const Row& row, size_t ordinal, Variant& scratch) const;
    // Gives a row read from the store VARIANTs of its own, before it changes.
    void OwnValues(Row& row);

    bool m_open = false;
    bool m_fabricated = false;
    bool m_updatable = false;
    std::vector<ColumnRef> m_columns;
    std::vector<Row> m_rows;
    std::vector<Row> m_deleted;
    LONG m_pos = 0;
    bool m_onDeleted = false;
    EditModeEnum m_editMode = adEditNone;
    std::vector<Variant> m_editBackup;   // the row's values when the edit began
    LONG m_addReturn = -1;               // row current before AddNew
    double m_lastBookmark = 0;

    // Properties.
    CursorTypeEnum m_cursorType = adOpenForwardOnly;
    LockTypeEnum m_lockType = adLockReadOnly;
    CursorLocationEnum m_cursorLocation = adUseServer;
    MarshalOptionsEnum m_marshalOptions = adMarshalAll;
    LONG m_cacheSize = 1;
    LONG m_maxRecords = 0;
    LONG m_pageSize = 10;
    bool m_stayInSync = true;
    std::u16string m_connection;   // ActiveConnection given as a string
    std::u16string m_source;
    std::u16string m_dataMember;
    std::u16string m_index;
    std::u16string m_openedFile;   // the file the recordset was opened from
    std::shared_ptr<const PersistTableInfo> m_persistInfo;   // what that file said besides rows
    std::shared_ptr<const RowStore> m_store;                 // the values read from that file
    std::u16string m_savedFile;    // the file of the last Save
    LONG m_openOptions = adCmdUnspecified;

    std::vector<FieldObject*> m_fieldObjects;   // every Field made, owned

    std::u16string m_detail;       // extra text for the error being reported
    bool m_replaceDetail = false;  // the text replaces ADO's description
};

}  // namespace comhost::ado
