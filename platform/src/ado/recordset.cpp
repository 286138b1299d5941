#include "recordset.h"

#include "collections.h"
#include "connection_string.h"
#include "fields.h"
#include "file_path.h"
#include "persist_bridge.h"
#include "row_store.h"

#include <algorithm>

namespace comhost::ado {

namespace {

constexpr std::u16string_view kNotUpdatable =
    u"Current Recordset does not support updating. This may be a limitation of the provider, or of the "
    u"selected locktype.";

bool IsMissing(const VARIANT& v) noexcept {
    return V_VT(&v) == VT_EMPTY || (V_VT(&v) == VT_ERROR && V_ERROR(&v) == DISP_E_PARAMNOTFOUND);
}

bool IsValidLockType(LONG lock) noexcept {
    return lock == adLockReadOnly || lock == adLockPessimistic || lock == adLockOptimistic ||
           lock == adLockBatchOptimistic;
}

bool IsValidCursorType(LONG cursor) noexcept {
    return cursor == adOpenForwardOnly || cursor == adOpenKeyset || cursor == adOpenDynamic ||
           cursor == adOpenStatic;
}

// Sets an out VARIANT to a new BSTR copy of `text`.
void PutBstr(VARIANT* out, std::u16string_view text) {
    BSTR s = AllocBstr(text);
    V_VT(out) = VT_BSTR;
    V_BSTR(out) = s;
}

// The elements of a one-dimensional array of names or ordinals, as VARIANTs.
HRESULT ArrayItems(SAFEARRAY* array, VARTYPE elementType, std::vector<Variant>& items) {
    if (!array || SafeArrayGetDim(array) != 1)
        return kErrInvalidArgument;
    LONG lo = 0, hi = -1;
    if (FAILED(SafeArrayGetLBound(array, 1, &lo)) || FAILED(SafeArrayGetUBound(array, 1, &hi)))
        return kErrInvalidArgument;
    for (LONG i = lo; i <= hi; ++i) {
        Variant item;
        HRESULT hr = S_OK;
        switch (elementType) {
        case VT_VARIANT:
            hr = SafeArrayGetElement(array, &i, item.get());
            break;
        case VT_BSTR: {
            BSTR s = nullptr;
            hr = SafeArrayGetElement(array, &i, &s);
            if (SUCCEEDED(hr)) {
                V_VT(item.get()) = VT_BSTR;
                V_BSTR(item.get()) = s;
            }
            break;
        }
        case VT_I2:
            V_VT(item.get()) = VT_I2;
            hr = SafeArrayGetElement(array, &i, &V_I2(item.get()));
            break;
        case VT_I4:
            V_VT(item.get()) = VT_I4;
            hr = SafeArrayGetElement(array, &i, &V_I4(item.get()));
            break;
        default:
            return kErrInvalidArgument;
        }
        if (FAILED(hr))
            return hr == E_OUTOFMEMORY ? hr : kErrInvalidArgument;
        items.push_back(std::move(item));
    }
    return S_OK;
}

// A list argument (Fields and Values of AddNew, Update, GetRows): either one
// value or an array of them.  `single` tells which it was.
HRESULT ListItems(const VARIANT& list, std::vector<Variant>& items, bool& single) {
    Variant v;
    HRESULT hr = v.CopyIndFrom(list);
    if (FAILED(hr))
        return hr == E_OUTOFMEMORY ? hr : kErrInvalidArgument;
    if ((v.vt() & VT_ARRAY) != 0) {
        single = false;
        return ArrayItems(V_ARRAY(v.get()), static_cast<VARTYPE>(v.vt() & VT_TYPEMASK), items);
    }
    single = true;
    items.push_back(std::move(v));
    return S_OK;
}

}  // namespace

// ------------------------------------------------------------------ creation

HRESULT RecordsetObject::Create(IUnknown* outer, REFIID riid, void** ppv) noexcept {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    RecordsetObject* object = new (std::nothrow) RecordsetObject();
    if (!object)
        return E_OUTOFMEMORY;
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

RecordsetObject::~RecordsetObject() {
    for (FieldObject* field : m_fieldObjects)
        FieldObject::Destroy(field);
}

bool RecordsetObject::KeepField(FieldObject* field) noexcept {
    try {
        m_fieldObjects.push_back(field);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool RecordsetObject::AnswersInterface(REFIID riid) const noexcept {
    return SameGuid(riid, kIID_Recordset15) || SameGuid(riid, kIID_Recordset20) ||
           SameGuid(riid, kIID_Recordset21) || SameGuid(riid, kIID_Recordset) || SameGuid(riid, kIID_ADO);
}

// ------------------------------------------------------------------ columns

HRESULT RecordsetObject::FindColumn(const VARIANT& index, ColumnRef& column) const {
    const ColumnRef* found = nullptr;
    const HRESULT hr = FindColumn(index, found);
    if (SUCCEEDED(hr))
        column = *found;
    return hr;
}

HRESULT RecordsetObject::FindColumn(const VARIANT& index, const ColumnRef*& column) const {
    auto byName = [&](std::u16string_view name) -> HRESULT {
        for (const ColumnRef& c : m_columns) {
            // The exact spelling is the common case and the quickest test.
            if (c->name.size() == name.size() && (c->name == name || SameName(c->name, name))) {
                column = &c;
                return S_OK;
            }
        }
        return kErrItemNotFound;
    };
    auto byOrdinal = [&](LONG ordinal) -> HRESULT {
        if (ordinal < 0 || static_cast<size_t>(ordinal) >= m_columns.size())
            return kErrItemNotFound;
        column = &m_columns[static_cast<size_t>(ordinal)];
        return S_OK;
    };
    // The usual indexes are read in place; the others are converted first.
    switch (V_VT(&index)) {
    case VT_I4: return byOrdinal(V_I4(&index));
    case VT_I2: return byOrdinal(V_I2(&index));
    case VT_BSTR: return byName(View(V_BSTR(&index)));
    default: break;
    }
    ItemIndex item;
    const HRESULT hr = ReadItemIndex(index, item);
    if (FAILED(hr))
        return hr;
    return item.byName ? byName(item.name) : byOrdinal(item.ordinal);
}

HRESULT RecordsetObject::AppendColumn(BSTR name, LONG type, LONG definedSize, LONG attributes) {
    if (m_open)
        return kErrObjectOpen;
    // Columns can only be made for a recordset that is not tied to a data source.
    if (!m_connection.empty())
        return kErrIllegalOperation;
    const std::u16string_view text = View(name);
    if (text.empty())
        return kErrInvalidArgument;
    for (const ColumnRef& c : m_columns) {
        if (SameName(c->name, text))
            return kErrObjectInCollection;
    }
    ColumnShape shape;
    const HRESULT hr = ShapeForAppend(type, definedSize, attributes, shape);
    if (FAILED(hr))
        return hr;
    auto column = std::make_shared<Column>();
    column->name.assign(text);
    column->shape = shape;
    m_columns.push_back(std::move(column));
    return S_OK;
}

HRESULT RecordsetObject::DeleteColumn(const VARIANT& index) {
    ColumnRef column;
    HRESULT hr = FindColumn(index, column);
    if (FAILED(hr))
        return hr;
    if (m_open)
        return kErrObjectOpen;
    column->removed = true;
    m_columns.erase(std::find(m_columns.begin(), m_columns.end(), column));
    return S_OK;
}

HRESULT RecordsetObject::CheckColumnChangeable() const noexcept { return m_open ? kErrObjectOpen : S_OK; }

namespace {

// Values whose VARIANT owns nothing: a copy of the structure is a copy of
// the value.
bool IsPlainScalar(VARTYPE vt) noexcept {
    switch (vt) {
    case VT_EMPTY: case VT_NULL: case VT_I1: case VT_I2: case VT_I4: case VT_I8: case VT_INT:
    case VT_UI1: case VT_UI2: case VT_UI4: case VT_UI8: case VT_UINT: case VT_R4: case VT_R8:
    case VT_CY: case VT_DATE: case VT_BOOL: case VT_ERROR: case VT_DECIMAL:
        return true;
    default:
        return false;
    }
}

size_t OrdinalOf(const std::vector<ColumnRef>& columns, const Column& column) noexcept {
    for (size_t i = 0; i < columns.size(); ++i) {
        if (columns[i].get() == &column)
            return i;
    }
    return columns.size();
}

}  // namespace

const VARIANT* RecordsetObject::CurrentValue(const Column& column) {
    if (!m_open || column.removed || !HasCurrentRow())
        return nullptr;
    const size_t ordinal = OrdinalOf(m_columns, column);
    if (ordinal >= m_columns.size())
        return nullptr;
    Row& row = m_rows[static_cast<size_t>(m_pos)];
    OwnValues(row);
    return row.values[ordinal].get();
}

const VARIANT* RecordsetObject::CellOf(const Row& row, size_t ordinal, Variant& scratch) const {
    if (!row.values.empty() || !m_store)
        return row.values[ordinal].get();
    scratch.Clear();
    const HRESULT hr = m_store->Get(row.stored, ordinal, scratch.get());
    if (FAILED(hr))
        throw std::bad_alloc();
    return scratch.get();
}

void RecordsetObject::OwnValues(Row& row) {
    if (!row.values.empty() || !m_store)
        return;
    std::vector<Variant> values(m_columns.size());
    for (size_t i = 0; i < values.size(); ++i) {
        if (FAILED(m_store->Get(row.stored, i, values[i].get())))
            throw std::bad_alloc();
    }
    row.values = std::move(values);
}

double RecordsetObject::CurrentBookmark() const noexcept {
    return HasCurrentRow() ? m_rows[static_cast<size_t>(m_pos)].bookmark : -1;
}

HRESULT RecordsetObject::ReadValue(const Column& column, VARIANT* value) const {
    if (column.removed)
        return kErrObjectNotSet;
    HRESULT hr = RequireOpen();
    if (FAILED(hr))
        return hr;
    if (!HasCurrentRow())
        return kErrNoCurrentRecord;
    const size_t ordinal = OrdinalOf(m_columns, column);
    if (ordinal >= m_columns.size())
        return kErrObjectNotSet;
    const Row& row = m_rows[static_cast<size_t>(m_pos)];
    if (row.values.empty() && m_store)
        return m_store->Get(row.stored, ordinal, value);
    const VARIANT* stored = row.values[ordinal].get();
    if (IsPlainScalar(V_VT(stored))) {
        *value = *stored;
        return S_OK;
    }
    hr = VariantCopy(value, const_cast<VARIANT*>(stored));
    return hr;
}

HRESULT RecordsetObject::ReadOriginalValue(const Column& column, VARIANT* value) const {
    if (column.removed)
        return kErrObjectNotSet;
    HRESULT hr = RequireOpen();
    if (FAILED(hr))
        return hr;
    if (!HasCurrentRow())
        return kErrNoCurrentRecord;
    const size_t ordinal = OrdinalOf(m_columns, column);
    if (ordinal >= m_columns.size())
        return kErrObjectNotSet;
    const Row& row = m_rows[static_cast<size_t>(m_pos)];
    Variant scratch;
    const VARIANT* source = CellOf(row, ordinal, scratch);
    if (!row.original.empty())
        source = row.original[ordinal].get();
    else if (m_editMode == adEditInProgress && !m_editBackup.empty())
        source = m_editBackup[ordinal].get();
    return VariantCopy(value, const_cast<VARIANT*>(source));
}

HRESULT RecordsetObject::RequireUpdatable() {
    if (m_updatable)
        return S_OK;
    m_detail.assign(kNotUpdatable);
    m_replaceDetail = true;
    return kErrFeatureNotAvailable;
}

HRESULT RecordsetObject::WriteValue(Column& column, const VARIANT& value) {
    if (column.removed)
        return kErrObjectNotSet;
    HRESULT hr = RequireOpen();
    if (FAILED(hr))
        return hr;
    hr = RequireUpdatable();
    if (FAILED(hr))
        return hr;
    if (!HasCurrentRow())
        return kErrNoCurrentRecord;
    const size_t ordinal = OrdinalOf(m_columns, column);
    if (ordinal >= m_columns.size())
        return kErrObjectNotSet;

    Variant converted;
    FieldStatusEnum status = adFieldOK;
    hr = CoerceFieldValue(column.shape, value, converted, status);
    if (FAILED(hr)) {
        if (hr != E_OUTOFMEMORY)
            column.status = status;
        return hr;
    }
    Row& row = m_rows[static_cast<size_t>(m_pos)];
    OwnValues(row);
    if (m_editMode == adEditNone) {
        std::vector<Variant> backup(row.values.size());
        for (size_t i = 0; i < row.values.size(); ++i) {
            hr = backup[i].CopyFrom(*row.values[i]);
            if (FAILED(hr))
                return hr;
        }
        m_editBackup = std::move(backup);
        m_editMode = adEditInProgress;
    }
    row.values[ordinal] = std::move(converted);
    column.status = adFieldOK;
    return S_OK;
}

// ------------------------------------------------------------------ editing

HRESULT RecordsetObject::FinishEdit() {
    if (m_editMode == adEditInProgress && HasCurrentRow()) {
        Row& row = m_rows[static_cast<size_t>(m_pos)];
        if (row.state == RowState::Unchanged) {
            row.original = std::move(m_editBackup);
            row.state = RowState::Modified;
        }
    }
    m_editBackup.clear();
    m_editMode = adEditNone;
    return S_OK;
}

void RecordsetObject::DiscardEdit() noexcept {
    if (m_editMode == adEditInProgress && HasCurrentRow()) {
        Row& row = m_rows[static_cast<size_t>(m_pos)];
        if (m_editBackup.size() == row.values.size())
            row.values.swap(m_editBackup);
    } else if (m_editMode == adEditAdd && HasCurrentRow()) {
        m_rows.erase(m_rows.begin() + m_pos);
        m_pos = std::clamp<LONG>(m_addReturn, -1, RowCount());
    }
    m_editBackup.clear();
    m_editMode = adEditNone;
}

HRESULT RecordsetObject::SetValues(const VARIANT& fields, const VARIANT& values) {
    std::vector<Variant> names, data;
    bool singleName = true, singleValue = true;
    HRESULT hr = ListItems(fields, names, singleName);
    if (FAILED(hr))
        return hr;
    hr = ListItems(values, data, singleValue);
    if (FAILED(hr))
        return hr;
    if (singleName != singleValue || names.size() != data.size() || names.empty())
        return kErrInvalidArgument;
    for (size_t i = 0; i < names.size(); ++i) {
        ColumnRef column;
        hr = FindColumn(*names[i], column);
        if (FAILED(hr))
            return hr;
        hr = WriteValue(*column, *data[i]);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

// ------------------------------------------------------------------ moving

HRESULT RecordsetObject::MoveTo(LONG target) {
    HRESULT hr = FinishEdit();
    if (FAILED(hr))
        return hr;
    m_pos = std::clamp<LONG>(target, -1, RowCount());
    m_onDeleted = false;
    return S_OK;
}

HRESULT RecordsetObject::RowOfBookmark(const VARIANT& bookmark, LONG& row) const {
    Variant v;
    if (FAILED(VariantChangeType(v.get(), const_cast<VARIANT*>(&bookmark), 0, VT_R8)))
        return kErrInvalidArgument;
    const double wanted = V_R8(v.get());
    for (size_t i = 0; i < m_rows.size(); ++i) {
        if (m_rows[i].bookmark == wanted) {
            row = static_cast<LONG>(i);
            return S_OK;
        }
    }
    return kErrInvalidArgument;
}

HRESULT RecordsetObject::ResolveStart(const VARIANT& start, LONG& row) const {
    Variant s;
    HRESULT hr = s.CopyIndFrom(start);
    if (FAILED(hr))
        return hr == E_OUTOFMEMORY ? hr : kErrInvalidArgument;
    LONG which = adBookmarkCurrent;
    switch (s.vt()) {
    case VT_EMPTY:
        break;
    case VT_ERROR:
        if (V_ERROR(s.get()) != DISP_E_PARAMNOTFOUND)
            return kErrInvalidArgument;
        break;
    case VT_I1: case VT_I2: case VT_I4: case VT_INT: case VT_UI1: case VT_UI2: case VT_UI4: case VT_UINT: {
        Variant n;
        if (FAILED(VariantChangeType(n.get(), s.get(), 0, VT_I4)))
            return kErrInvalidArgument;
        which = V_I4(n.get());
        if (which != adBookmarkCurrent && which != adBookmarkFirst && which != adBookmarkLast)
            return RowOfBookmark(*s, row);
        break;
    }
    case VT_R4: case VT_R8: case VT_DECIMAL:
        return RowOfBookmark(*s, row);
    default:
        return kErrInvalidArgument;
    }
    switch (which) {
    case adBookmarkFirst:
        if (m_rows.empty())
            return kErrNoCurrentRecord;
        row = 0;
        return S_OK;
    case adBookmarkLast:
        if (m_rows.empty())
            return kErrNoCurrentRecord;
        row = RowCount() - 1;
        return S_OK;
    default:
        if (!HasCurrentRow())
            return kErrNoCurrentRecord;
        row = m_pos;
        return S_OK;
    }
}

HRESULT RecordsetObject::CollectColumns(const VARIANT& fields, std::vector<size_t>& columns) const {
    if (IsMissing(fields)) {
        for (size_t i = 0; i < m_columns.size(); ++i)
            columns.push_back(i);
        return S_OK;
    }
    std::vector<Variant> names;
    bool single = true;
    HRESULT hr = ListItems(fields, names, single);
    if (FAILED(hr))
        return hr;
    if (names.empty())
        return kErrInvalidArgument;
    for (const Variant& name : names) {
        ColumnRef column;
        hr = FindColumn(*name, column);
        if (FAILED(hr))
            return hr;
        columns.push_back(OrdinalOf(m_columns, *column));
    }
    return S_OK;
}

// ------------------------------------------------------------------ _ADO

HRESULT STDMETHODCALLTYPE RecordsetObject::get_Properties(Properties** ppvObject) {
    if (!ppvObject)
        return E_POINTER;
    *ppvObject = nullptr;
    return Run(kIID_ADO, [&] { return PropertiesObject::New(ppvObject); });
}

// ------------------------------------------------------------------ position

// The position to report: onRow while the cursor stands on a live row,
// otherwise ADO's marker for where it stands instead.
LONG RecordsetObject::PositionOr(LONG onRow) const {
    if (m_rows.empty() || m_onDeleted)
        return adPosUnknown;
    if (m_pos < 0)
        return adPosBOF;
    if (m_pos >= RowCount())
        return adPosEOF;
    return onRow;
}

HRESULT STDMETHODCALLTYPE RecordsetObject::get_AbsolutePosition(LONG* pl) {
    if (!pl)
        return E_POINTER;
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        HRESULT hr = RequireOpen();
        if (FAILED(hr))
            return hr;
        *pl = PositionOr(m_pos + 1);
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::put_AbsolutePosition(LONG Position) {
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        HRESULT hr = RequireOpen();
        if (FAILED(hr))
            return hr;
        const LONG p = Position;
        if (p < 1 || p > RowCount())
            return kErrInvalidArgument;
        return MoveTo(p - 1);
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::get_BOF(VARIANT_BOOL* pb) {
    if (!pb)
        return E_POINTER;
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        HRESULT hr = RequireOpen();
        if (FAILED(hr))
            return hr;
        *pb = AtBof() ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::get_EOF(VARIANT_BOOL* pb) {
    if (!pb)
        return E_POINTER;
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        HRESULT hr = RequireOpen();
        if (FAILED(hr))
            return hr;
        *pb = AtEof() ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::get_Bookmark(VARIANT* pvBookmark) {
    if (!pvBookmark)
        return E_POINTER;
    VariantInit(pvBookmark);
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        HRESULT hr = RequireOpen();
        if (FAILED(hr))
            return hr;
        if (!HasCurrentRow())
            return kErrNoCurrentRecord;
        V_VT(pvBookmark) = VT_R8;
        V_R8(pvBookmark) = m_rows[static_cast<size_t>(m_pos)].bookmark;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::put_Bookmark(VARIANT vBookmark) {
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        HRESULT hr = RequireOpen();
        if (FAILED(hr))
            return hr;
        LONG row = 0;
        hr = RowOfBookmark(vBookmark, row);
        if (FAILED(hr))
            return hr;
        return MoveTo(row);
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::MoveNext() {
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        HRESULT hr = RequireOpen();
        if (FAILED(hr))
            return hr;
        if (m_onDeleted)
            return MoveTo(m_pos);   // the row after the deleted one is already at m_pos
        if (AtEof())
            return kErrNoCurrentRecord;
        return MoveTo(m_pos < 0 ? 0 : m_pos + 1);
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::MovePrevious() {
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        HRESULT hr = RequireOpen();
        if (FAILED(hr))
            return hr;
        if (m_onDeleted)
            return MoveTo(m_pos - 1);
        if (AtBof())
            return kErrNoCurrentRecord;
        return MoveTo(m_pos >= RowCount() ? RowCount() - 1 : m_pos - 1);
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::MoveFirst() {
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        HRESULT hr = RequireOpen();
        if (FAILED(hr))
            return hr;
        if (m_rows.empty())
            return kErrNoCurrentRecord;
        return MoveTo(0);
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::MoveLast() {
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        HRESULT hr = RequireOpen();
        if (FAILED(hr))
            return hr;
        if (m_rows.empty())
            return kErrNoCurrentRecord;
        return MoveTo(RowCount() - 1);
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::Move(LONG NumRecords, VARIANT Start) {
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        HRESULT hr = RequireOpen();
        if (FAILED(hr))
            return hr;
        if (m_rows.empty())
            return kErrNoCurrentRecord;
        LONG base = 0;
        if (IsMissing(Start)) {
            // From the current position; moving on from a boundary in its own
            // direction (or not at all) has no record to start from.
            if (m_onDeleted) {
                base = NumRecords > 0 ? m_pos - 1 : m_pos;
            } else {
                if ((AtEof() && NumRecords >= 0) || (AtBof() && NumRecords <= 0))
                    return kErrNoCurrentRecord;
                base = m_pos;
            }
        } else {
            hr = ResolveStart(Start, base);
            if (FAILED(hr))
                return hr;
        }
        const long long target = static_cast<long long>(base) + NumRecords;
        if (target < 0)
            return MoveTo(-1);
        if (target >= RowCount())
            return MoveTo(RowCount());
        return MoveTo(static_cast<LONG>(target));
    });
}

// ------------------------------------------------------------------ properties

HRESULT STDMETHODCALLTYPE RecordsetObject::putref_ActiveConnection(IDispatch* pconn) {
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        if (m_open)
            return kErrObjectOpen;
        if (pconn)
            return kErrFeatureNotAvailable;   // no Connection objects in this provider set
        m_connection.clear();
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::put_ActiveConnection(VARIANT vConn) {
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        Variant v;
        HRESULT hr = v.CopyIndFrom(vConn);
        if (FAILED(hr))
            return hr == E_OUTOFMEMORY ? hr : kErrInvalidArgument;
        if (m_open)
            return kErrObjectOpen;
        switch (v.vt()) {
        case VT_EMPTY: case VT_NULL:
            m_connection.clear();
            return S_OK;
        case VT_BSTR:
            m_connection.assign(View(V_BSTR(v.get())));
            return S_OK;
        case VT_DISPATCH: case VT_UNKNOWN:
            if (!V_UNKNOWN(v.get())) {
                m_connection.clear();
                return S_OK;
            }
            return kErrFeatureNotAvailable;
        default:
            return kErrInvalidArgument;
        }
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::get_ActiveConnection(VARIANT* pvar) {
    if (!pvar)
        return E_POINTER;
    VariantInit(pvar);
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        if (m_connection.empty()) {
            V_VT(pvar) = VT_DISPATCH;
            V_DISPATCH(pvar) = nullptr;
        } else {
            PutBstr(pvar, m_connection);
        }
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::get_CacheSize(LONG* pl) {
    if (!pl)
        return E_POINTER;
    *pl = m_cacheSize;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RecordsetObject::put_CacheSize(LONG CacheSize) {
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        if (CacheSize <= 0)
            return kErrInvalidArgument;
        m_cacheSize = CacheSize;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::get_CursorType(CursorTypeEnum* plCursorType) {
    if (!plCursorType)
        return E_POINTER;
    *plCursorType = m_cursorType;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RecordsetObject::put_CursorType(CursorTypeEnum lCursorType) {
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        if (m_open)
            return kErrObjectOpen;
        if (!IsValidCursorType(lCursorType) && lCursorType != adOpenUnspecified)
            return kErrInvalidArgument;
        if (lCursorType != adOpenUnspecified)
            m_cursorType = lCursorType;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::get_Fields(Fields** ppvObject) {
    if (!ppvObject)
        return E_POINTER;
    *ppvObject = nullptr;
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        FieldsObject* fields = FieldsObject::New(this);
        if (!fields)
            return E_OUTOFMEMORY;
        *ppvObject = fields;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::get_LockType(LockTypeEnum* plLockType) {
    if (!plLockType)
        return E_POINTER;
    *plLockType = m_lockType;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RecordsetObject::put_LockType(LockTypeEnum lLockType) {
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        if (m_open)
            return kErrObjectOpen;
        if (!IsValidLockType(lLockType) && lLockType != adLockUnspecified)
            return kErrInvalidArgument;
        if (lLockType != adLockUnspecified)
            m_lockType = lLockType;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::get_MaxRecords(LONG* plMaxRecords) {
    if (!plMaxRecords)
        return E_POINTER;
    *plMaxRecords = m_maxRecords;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RecordsetObject::put_MaxRecords(LONG lMaxRecords) {
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        if (m_open)
            return kErrObjectOpen;
        if (lMaxRecords < 0)
            return kErrInvalidArgument;
        m_maxRecords = lMaxRecords;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::get_RecordCount(LONG* pl) {
    if (!pl)
        return E_POINTER;
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        HRESULT hr = RequireOpen();
        if (FAILED(hr))
            return hr;
        *pl = RowCount();
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::putref_Source(IDispatch* pcmd) {
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        if (m_open)
            return kErrObjectOpen;
        if (pcmd)
            return kErrFeatureNotAvailable;   // commands have no provider to run against
        m_source.clear();
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::put_Source(BSTR bstrConn) {
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        if (m_open)
            return kErrObjectOpen;
        m_source.assign(View(bstrConn));
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::get_Source(VARIANT* pvSource) {
    if (!pvSource)
        return E_POINTER;
    VariantInit(pvSource);
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        PutBstr(pvSource, m_source);
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::get_EditMode(EditModeEnum* pl) {
    if (!pl)
        return E_POINTER;
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        HRESULT hr = RequireOpen();
        if (FAILED(hr))
            return hr;
        *pl = m_onDeleted ? adEditDelete : m_editMode;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::get_Filter(VARIANT* Criteria) {
    if (!Criteria)
        return E_POINTER;
    VariantInit(Criteria);
    V_VT(Criteria) = VT_I4;
    V_I4(Criteria) = adFilterNone;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RecordsetObject::put_Filter(VARIANT Criteria) {
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        Variant v;
        HRESULT hr = v.CopyIndFrom(Criteria);
        if (FAILED(hr))
            return hr == E_OUTOFMEMORY ? hr : kErrInvalidArgument;
        // Only "no filter" is available: adFilterNone or an empty criteria string.
        if ((v.vt() == VT_BSTR && SysStringLen(V_BSTR(v.get())) == 0) || v.vt() == VT_EMPTY)
            return S_OK;
        Variant n;
        if (SUCCEEDED(VariantChangeType(n.get(), v.get(), 0, VT_I4)) && V_I4(n.get()) == adFilterNone &&
            v.vt() != VT_BSTR)
            return S_OK;
        return kErrFeatureNotAvailable;
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::get_AbsolutePage(LONG* pl) {
    if (!pl)
        return E_POINTER;
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        HRESULT hr = RequireOpen();
        if (FAILED(hr))
            return hr;
        *pl = PositionOr(m_pos / m_pageSize + 1);
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::put_AbsolutePage(LONG Page) {
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        HRESULT hr = RequireOpen();
        if (FAILED(hr))
            return hr;
        const LONG pages = (RowCount() + m_pageSize - 1) / m_pageSize;
        const LONG page = Page;
        if (page < 1 || page > pages)
            return kErrInvalidArgument;
        return MoveTo((page - 1) * m_pageSize);
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::get_PageCount(LONG* pl) {
    if (!pl)
        return E_POINTER;
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        HRESULT hr = RequireOpen();
        if (FAILED(hr))
            return hr;
        *pl = (RowCount() + m_pageSize - 1) / m_pageSize;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::get_PageSize(LONG* pl) {
    if (!pl)
        return E_POINTER;
    *pl = m_pageSize;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RecordsetObject::put_PageSize(LONG PageSize) {
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        if (PageSize <= 0)
            return kErrInvalidArgument;
        m_pageSize = PageSize;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::get_Sort(BSTR* Criteria) {
    if (!Criteria)
        return E_POINTER;
    *Criteria = nullptr;
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        *Criteria = AllocBstr(u"");
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::put_Sort(BSTR Criteria) {
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        // Sorting is not available; clearing the sort order is.
        return View(Criteria).empty() ? S_OK : kErrFeatureNotAvailable;
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::get_Status(LONG* pl) {
    if (!pl)
        return E_POINTER;
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        HRESULT hr = RequireOpen();
        if (FAILED(hr))
            return hr;
        if (!HasCurrentRow())
            return kErrNoCurrentRecord;
        const Row& row = m_rows[static_cast<size_t>(m_pos)];
        if (row.state == RowState::Inserted)
            *pl = adRecNew;
        else if (row.state == RowState::Modified || m_editMode == adEditInProgress)
            *pl = adRecModified;
        else
            *pl = adRecUnmodified;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::get_State(LONG* plObjState) {
    if (!plObjState)
        return E_POINTER;
    *plObjState = m_open ? adStateOpen : adStateClosed;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RecordsetObject::get_CursorLocation(CursorLocationEnum* plCursorLoc) {
    if (!plCursorLoc)
        return E_POINTER;
    *plCursorLoc = m_cursorLocation;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RecordsetObject::put_CursorLocation(CursorLocationEnum lCursorLoc) {
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        if (m_open)
            return kErrObjectOpen;
        if (lCursorLoc != adUseServer && lCursorLoc != adUseClient && lCursorLoc != adUseNone)
            return kErrInvalidArgument;
        m_cursorLocation = lCursorLoc;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::get_MarshalOptions(MarshalOptionsEnum* peMarshal) {
    if (!peMarshal)
        return E_POINTER;
    *peMarshal = m_marshalOptions;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RecordsetObject::put_MarshalOptions(MarshalOptionsEnum eMarshal) {
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        if (eMarshal != adMarshalAll && eMarshal != adMarshalModifiedOnly)
            return kErrInvalidArgument;
        m_marshalOptions = eMarshal;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::Supports(CursorOptionEnum CursorOptions, VARIANT_BOOL* pb) {
    if (!pb)
        return E_POINTER;
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        HRESULT hr = RequireOpen();
        if (FAILED(hr))
            return hr;
        unsigned long supported = adHoldRecords | adMovePrevious | adBookmark | adApproxPosition;
        if (m_updatable)
            supported |= static_cast<unsigned long>(adAddNew) | static_cast<unsigned long>(adDelete) |
                         static_cast<unsigned long>(adUpdate);
        const unsigned long wanted = static_cast<unsigned long>(static_cast<LONG>(CursorOptions));
        *pb = (wanted & ~supported) == 0 ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::get_Collect(VARIANT Index, VARIANT* pvar) {
    if (!pvar)
        return E_POINTER;
    VariantInit(pvar);
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        ColumnRef column;
        HRESULT hr = FindColumn(Index, column);
        if (FAILED(hr))
            return hr;
        return ReadValue(*column, pvar);
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::put_Collect(VARIANT Index, VARIANT value) {
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        ColumnRef column;
        HRESULT hr = FindColumn(Index, column);
        if (FAILED(hr))
            return hr;
        return WriteValue(*column, value);
    });
}

// ------------------------------------------------------------------ changes

HRESULT STDMETHODCALLTYPE RecordsetObject::AddNew(VARIANT FieldList, VARIANT Values) {
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        HRESULT hr = RequireOpen();
        if (FAILED(hr))
            return hr;
        hr = RequireUpdatable();
        if (FAILED(hr))
            return hr;
        hr = FinishEdit();
        if (FAILED(hr))
            return hr;
        Row row;
        row.values.resize(m_columns.size());
        for (Variant& v : row.values)
            V_VT(v.get()) = VT_NULL;
        row.state = RowState::Inserted;
        row.bookmark = NextBookmark();
        const LONG previous = m_onDeleted ? m_pos - 1 : m_pos;
        m_rows.push_back(std::move(row));
        m_addReturn = previous;
        m_pos = RowCount() - 1;
        m_onDeleted = false;
        m_editMode = adEditAdd;
        if (!IsMissing(FieldList)) {
            hr = SetValues(FieldList, Values);
            if (FAILED(hr)) {
                DiscardEdit();
                return hr;
            }
            return FinishEdit();
        }
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::Update(VARIANT Fields, VARIANT Values) {
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        HRESULT hr = RequireOpen();
        if (FAILED(hr))
            return hr;
        if (!IsMissing(Fields)) {
            hr = SetValues(Fields, Values);
            if (FAILED(hr))
                return hr;
        }
        return FinishEdit();
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::CancelUpdate() {
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        HRESULT hr = RequireOpen();
        if (FAILED(hr))
            return hr;
        DiscardEdit();
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::Delete(AffectEnum AffectRecords) {
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        HRESULT hr = RequireOpen();
        if (FAILED(hr))
            return hr;
        hr = RequireUpdatable();
        if (FAILED(hr))
            return hr;
        if (AffectRecords != adAffectCurrent && AffectRecords != adAffectAll)
            return kErrInvalidArgument;
        if (AffectRecords == adAffectAll) {
            DiscardEdit();
            for (Row& row : m_rows) {
                if (row.state == RowState::Inserted)
                    continue;
                if (row.state == RowState::Modified)
                    row.values.swap(row.original);
                row.original.clear();
                m_deleted.push_back(std::move(row));
            }
            m_rows.clear();
            m_pos = 0;
            m_onDeleted = false;
            return S_OK;
        }
        if (m_editMode == adEditAdd) {
            // The record being added is dropped altogether.
            const LONG at = m_pos;
            m_rows.erase(m_rows.begin() + at);
            m_editMode = adEditNone;
            m_pos = at;
            m_onDeleted = true;
            return S_OK;
        }
        if (!HasCurrentRow())
            return kErrNoCurrentRecord;
        DiscardEdit();
        Row row = std::move(m_rows[static_cast<size_t>(m_pos)]);
        m_rows.erase(m_rows.begin() + m_pos);
        if (row.state != RowState::Inserted) {
            // A pending deletion is saved with the values the row was read with.
            if (row.state == RowState::Modified)
                row.values.swap(row.original);
            row.original.clear();
            m_deleted.push_back(std::move(row));
        }
        m_onDeleted = true;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::UpdateBatch(AffectEnum) {
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        HRESULT hr = RequireOpen();
        if (FAILED(hr))
            return hr;
        // There is no data source behind the rows to send the changes to.
        return kErrInvalidConnection;
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::CancelBatch(AffectEnum AffectRecords) {
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        HRESULT hr = RequireOpen();
        if (FAILED(hr))
            return hr;
        if (AffectRecords != adAffectAll)
            return kErrFeatureNotAvailable;
        DiscardEdit();
        // Back to the rows as they were read: inserted rows go, changed rows
        // get their values back and deleted rows return.
        std::vector<Row> kept;
        kept.reserve(m_rows.size() + m_deleted.size());
        for (Row& row : m_rows) {
            if (row.state == RowState::Inserted)
                continue;
            if (row.state == RowState::Modified) {
                row.values.swap(row.original);
                row.original.clear();
                row.state = RowState::Unchanged;
            }
            kept.push_back(std::move(row));
        }
        for (Row& row : m_deleted) {
            row.state = RowState::Unchanged;
            kept.push_back(std::move(row));
        }
        m_deleted.clear();
        m_rows = std::move(kept);
        m_pos = 0;
        m_onDeleted = false;
        return S_OK;
    });
}

// ------------------------------------------------------------------ reading rows

HRESULT STDMETHODCALLTYPE RecordsetObject::GetRows(LONG Rows, VARIANT Start, VARIANT Fields, VARIANT* pvar) {
    if (!pvar)
        return E_POINTER;
    VariantInit(pvar);
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        HRESULT hr = RequireOpen();
        if (FAILED(hr))
            return hr;
        if (Rows < adGetRowsRest || Rows == 0)
            return kErrInvalidArgument;
        hr = FinishEdit();
        if (FAILED(hr))
            return hr;
        LONG first = 0;
        hr = ResolveStart(Start, first);
        if (FAILED(hr))
            return hr;
        std::vector<size_t> columns;
        hr = CollectColumns(Fields, columns);
        if (FAILED(hr))
            return hr;
        const LONG available = RowCount() - first;
        const LONG count = Rows == adGetRowsRest ? available : std::min(Rows, available);

        // Indexed (field, row), both from 0, as ADO lays the array out.
        SAFEARRAYBOUND bounds[2];
        bounds[0].lLbound = 0;
        bounds[0].cElements = static_cast<ULONG>(columns.size());
        bounds[1].lLbound = 0;
        bounds[1].cElements = static_cast<ULONG>(count);
        SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 2, bounds);
        if (!array)
            return E_OUTOFMEMORY;
        Variant scratch;
        for (LONG r = 0; r < count; ++r) {
            const Row& row = m_rows[static_cast<size_t>(first + r)];
            for (size_t c = 0; c < columns.size(); ++c) {
                LONG indices[2] = {static_cast<LONG>(c), r};
                const VARIANT* cell = nullptr;
                try {
                    cell = CellOf(row, columns[c], scratch);
                } catch (const std::bad_alloc&) {
                    SafeArrayDestroy(array);
                    throw;
                }
                hr = SafeArrayPutElement(array, indices, const_cast<VARIANT*>(cell));
                if (FAILED(hr)) {
                    SafeArrayDestroy(array);
                    return hr;
                }
            }
        }
        V_VT(pvar) = VT_ARRAY | VT_VARIANT;
        V_ARRAY(pvar) = array;
        m_pos = first + count;
        m_onDeleted = false;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::GetString(StringFormatEnum StringFormat, LONG NumRows,
                                                     BSTR ColumnDelimeter, BSTR RowDelimeter, BSTR NullExpr,
                                                     BSTR* pRetString) {
    if (!pRetString)
        return E_POINTER;
    *pRetString = nullptr;
    return Run(kIID_Recordset20, [&]() -> HRESULT {
        HRESULT hr = RequireOpen();
        if (FAILED(hr))
            return hr;
        if (StringFormat != adClipString || NumRows < -1 || NumRows == 0)
            return kErrInvalidArgument;
        hr = FinishEdit();
        if (FAILED(hr))
            return hr;
        if (!HasCurrentRow())
            return kErrNoCurrentRecord;
        const std::u16string_view columnDelimiter = View(ColumnDelimeter).empty() ? u"\t" : View(ColumnDelimeter);
        const std::u16string_view rowDelimiter = View(RowDelimeter).empty() ? u"\r" : View(RowDelimeter);
        const std::u16string_view nullText = View(NullExpr);
        const LONG available = RowCount() - m_pos;
        const LONG count = NumRows == -1 ? available : std::min(NumRows, available);
        std::u16string text;
        for (LONG r = 0; r < count; ++r) {
            const Row& row = m_rows[static_cast<size_t>(m_pos + r)];
            for (size_t c = 0; c < m_columns.size(); ++c) {
                if (c != 0)
                    text += columnDelimiter;
                Variant scratch;
                const VARIANT& value = *CellOf(row, c, scratch);
                if (V_VT(&value) == VT_NULL) {
                    text += nullText;
                    continue;
                }
                Variant s;
                hr = VariantChangeType(s.get(), const_cast<VARIANT*>(&value), VARIANT_ALPHABOOL, VT_BSTR);
                if (hr == E_OUTOFMEMORY)
                    return hr;
                if (SUCCEEDED(hr))
                    text += View(V_BSTR(s.get()));
            }
            text += rowDelimiter;
        }
        *pRetString = AllocBstr(text);
        m_pos += count;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::CompareBookmarks(VARIANT Bookmark1, VARIANT Bookmark2,
                                                            CompareEnum* pCompare) {
    if (!pCompare)
        return E_POINTER;
    return Run(kIID_Recordset20, [&]() -> HRESULT {
        HRESULT hr = RequireOpen();
        if (FAILED(hr))
            return hr;
        LONG a = 0, b = 0;
        if (FAILED(RowOfBookmark(Bookmark1, a)) || FAILED(RowOfBookmark(Bookmark2, b))) {
            *pCompare = adCompareNotComparable;
            return kErrInvalidArgument;
        }
        *pCompare = a < b ? adCompareLessThan : a == b ? adCompareEqual : adCompareGreaterThan;
        return S_OK;
    });
}

// ------------------------------------------------------------------ open and close

HRESULT RecordsetObject::ResetColumnsForOpen() {
    for (const ColumnRef& c : m_columns)
        c->removed = true;
    m_columns.clear();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RecordsetObject::Open(VARIANT Source, VARIANT ActiveConnection, CursorTypeEnum CursorType,
                                                LockTypeEnum LockType, LONG Options) {
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        if (m_open)
            return kErrObjectOpen;
        if (!IsValidCursorType(CursorType) && CursorType != adOpenUnspecified)
            return kErrInvalidArgument;
        if (!IsValidLockType(LockType) && LockType != adLockUnspecified)
            return kErrInvalidArgument;

        // Source: a file name, or nothing for a fabricated recordset.
        Variant source;
        HRESULT hr = source.CopyIndFrom(Source);
        if (FAILED(hr))
            return hr == E_OUTOFMEMORY ? hr : kErrInvalidArgument;
        std::u16string sourceText = m_source;
        switch (source.vt()) {
        case VT_EMPTY: case VT_NULL:
            break;
        case VT_ERROR:
            if (V_ERROR(source.get()) != DISP_E_PARAMNOTFOUND)
                return kErrInvalidArgument;
            break;
        case VT_BSTR:
            sourceText.assign(View(V_BSTR(source.get())));
            break;
        case VT_DISPATCH: case VT_UNKNOWN:
            if (!V_UNKNOWN(source.get()))
                break;
            m_detail = u"Commands and streams cannot be used as the source of a recordset here.";
            return kErrFeatureNotAvailable;
        default:
            return kErrInvalidArgument;
        }

        // ActiveConnection: a connection string, or the property's.
        Variant connection;
        hr = connection.CopyIndFrom(ActiveConnection);
        if (FAILED(hr))
            return hr == E_OUTOFMEMORY ? hr : kErrInvalidArgument;
        std::u16string connectionText = m_connection;
        switch (connection.vt()) {
        case VT_EMPTY: case VT_NULL:
            break;
        case VT_ERROR:
            if (V_ERROR(connection.get()) != DISP_E_PARAMNOTFOUND)
                return kErrInvalidArgument;
            break;
        case VT_BSTR:
            connectionText.assign(View(V_BSTR(connection.get())));
            break;
        case VT_DISPATCH: case VT_UNKNOWN:
            if (!V_UNKNOWN(connection.get()))
                break;
            m_detail = u"Connection objects are not available; give the connection as a string.";
            return kErrFeatureNotAvailable;
        default:
            return kErrInvalidArgument;
        }

        if (sourceText.empty()) {
            if (!connectionText.empty()) {
                m_detail = u"The recordset has no source to open.";
                return kErrInvalidArgument;
            }
            // A fabricated recordset: the appended columns, no rows yet.
            if (m_columns.empty())
                return kErrInvalidConnection;
            DiscardEdit();
            m_rows.clear();
            m_deleted.clear();
            m_pos = 0;
            m_onDeleted = false;
            m_open = true;
            m_fabricated = true;
            m_lockType = LockType == adLockUnspecified ? adLockBatchOptimistic : LockType;
            m_updatable = m_lockType != adLockReadOnly;
            m_cursorType = adOpenStatic;
            m_cursorLocation = adUseClient;
            m_openOptions = Options;
            m_savedFile.clear();
            return S_OK;
        }

        // A source with no provider named is a file for the persistence
        // provider, as ADO treats file names; any other provider is absent.
        if (!connectionText.empty()) {
            ConnectionString parsed;
            if (!ParseConnectionString(connectionText, parsed)) {
                m_detail = u"The connection string is not valid.";
                return kErrInvalidArgument;
            }
            if (!IsPersistProvider(parsed.provider)) {
                m_detail = parsed.provider.empty()
                               ? std::u16string(u"No provider is named; only the MSPersist provider is available.")
                               : u"Provider \"" + parsed.provider + u"\" is not available.";
                return kErrProviderNotFound;
            }
        }
        const LockTypeEnum lock = LockType == adLockUnspecified ? m_lockType : LockType;
        hr = OpenFile(sourceText, lock);
        if (FAILED(hr))
            return hr;
        m_connection = connectionText;
        m_openOptions = Options;
        return S_OK;
    });
}

HRESULT RecordsetObject::OpenFile(const std::u16string& path, LockTypeEnum lockType) {
    RowSet loaded;
    std::u16string detail;
    const std::string hostPath = HostPathFromWindows(path);
    const HRESULT hr = LoadRowSet(hostPath, loaded, detail);
    if (FAILED(hr)) {
        m_detail = std::move(detail);
        return hr;
    }
    DiscardEdit();
    ResetColumnsForOpen();
    m_columns = std::move(loaded.columns);
    m_rows = std::move(loaded.rows);
    m_deleted = std::move(loaded.deleted);
    m_persistInfo = std::move(loaded.info);
    m_store = std::move(loaded.store);
    for (Row& row : m_rows)
        row.bookmark = NextBookmark();
    for (Row& row : m_deleted)
        row.bookmark = NextBookmark();
    m_pos = 0;
    m_onDeleted = false;
    m_open = true;
    m_fabricated = false;
    m_lockType = lockType;
    m_updatable = lockType != adLockReadOnly;
    m_cursorType = adOpenStatic;
    m_cursorLocation = adUseClient;
    m_source = path;
    m_openedFile = path;
    m_savedFile.clear();
    return S_OK;
}

HRESULT RecordsetObject::DoClose() noexcept {
    DiscardEdit();
    m_rows.clear();
    m_deleted.clear();
    if (!m_fabricated)
        ResetColumnsForOpen();
    m_persistInfo.reset();
    m_store.reset();
    m_open = false;
    m_pos = 0;
    m_onDeleted = false;
    m_savedFile.clear();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RecordsetObject::Close() {
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        HRESULT hr = RequireOpen();
        if (FAILED(hr))
            return hr;
        // In immediate update mode an edit must be finished or cancelled first;
        // in batch mode closing drops the pending changes.
        if (m_editMode != adEditNone && m_lockType != adLockBatchOptimistic)
            return kErrIllegalOperation;
        return DoClose();
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::Requery(LONG) {
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        HRESULT hr = RequireOpen();
        if (FAILED(hr))
            return hr;
        if (m_fabricated || m_openedFile.empty())
            return kErrFeatureNotAvailable;
        const std::u16string file = m_openedFile;
        const LockTypeEnum lock = m_lockType;
        // Read the file again; on failure the recordset stays as it was.
        RowSet loaded;
        std::u16string detail;
        hr = LoadRowSet(HostPathFromWindows(file), loaded, detail);
        if (FAILED(hr)) {
            m_detail = std::move(detail);
            return hr;
        }
        DoClose();
        m_fabricated = false;
        return OpenFile(file, lock);
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::NextRecordset(VARIANT* RecordsAffected, _Recordset** ppiRs) {
    if (!ppiRs)
        return E_POINTER;
    *ppiRs = nullptr;
    if (RecordsAffected) {
        VariantInit(RecordsAffected);
        V_VT(RecordsAffected) = VT_I4;
        V_I4(RecordsAffected) = -1;
    }
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        // A file holds one recordset: there is no next one.
        return RequireOpen();
    });
}

// ------------------------------------------------------------------ saving

HRESULT RecordsetObject::SaveTo(const VARIANT& destination, PersistFormatEnum format) {
    HRESULT hr = RequireOpen();
    if (FAILED(hr))
        return hr;
    if (format == adPersistADTG) {
        m_detail = u"Saving in the ADTG format is not available; save with adPersistXML.";
        return kErrFeatureNotAvailable;
    }
    if (format != adPersistXML)
        return kErrInvalidArgument;
    Variant target;
    hr = target.CopyIndFrom(destination);
    if (FAILED(hr))
        return hr == E_OUTOFMEMORY ? hr : kErrInvalidArgument;
    std::u16string file;
    bool createNew = true;
    switch (target.vt()) {
    case VT_EMPTY:
    case VT_ERROR:
        if (target.vt() == VT_ERROR && V_ERROR(target.get()) != DISP_E_PARAMNOTFOUND)
            return kErrInvalidArgument;
        // Saved before: the same file again.  Never saved: a new file named
        // after the recordset's source.
        if (!m_savedFile.empty()) {
            file = m_savedFile;
            createNew = false;
        } else if (!m_source.empty()) {
            file = m_source;
        } else {
            return kErrInvalidArgument;
        }
        break;
    case VT_BSTR:
        file.assign(View(V_BSTR(target.get())));
        if (file.empty())
            return kErrInvalidArgument;
        break;
    case VT_DISPATCH: case VT_UNKNOWN:
        m_detail = u"Saving into a stream or document object is not available; give a file name.";
        return kErrFeatureNotAvailable;
    default:
        return kErrInvalidArgument;
    }
    hr = FinishEdit();
    if (FAILED(hr))
        return hr;
    std::u16string detail;
    hr = SaveRowSet(HostPathFromWindows(file), createNew, m_columns, m_rows, m_deleted, m_store.get(),
                    m_updatable, m_persistInfo.get(), detail);
    if (FAILED(hr)) {
        m_detail = std::move(detail);
        return hr;
    }
    m_savedFile = file;
    m_pos = 0;
    m_onDeleted = false;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RecordsetObject::Save(VARIANT Destination, PersistFormatEnum PersistFormat) {
    return Run(kIID_Recordset, [&] { return SaveTo(Destination, PersistFormat); });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::_xSave(BSTR FileName, PersistFormatEnum PersistFormat) {
    return Run(kIID_Recordset20, [&]() -> HRESULT {
        VARIANT destination;
        VariantInit(&destination);
        if (FileName) {
            V_VT(&destination) = VT_BSTR;
            V_BSTR(&destination) = FileName;   // borrowed, not freed
        }
        return SaveTo(destination, PersistFormat);
    });
}

// ------------------------------------------------------------------ not available

HRESULT STDMETHODCALLTYPE RecordsetObject::_xResync(AffectEnum) {
    return Run(kIID_Recordset15, [] { return kErrFeatureNotAvailable; });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::_xClone(_Recordset** ppvObject) {
    if (!ppvObject)
        return E_POINTER;
    *ppvObject = nullptr;
    return Run(kIID_Recordset15, [] { return kErrFeatureNotAvailable; });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::Find(BSTR, LONG, SearchDirectionEnum, VARIANT) {
    return Run(kIID_Recordset15, [&]() -> HRESULT {
        HRESULT hr = RequireOpen();
        return FAILED(hr) ? hr : kErrFeatureNotAvailable;
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::Cancel() { return S_OK; }

HRESULT STDMETHODCALLTYPE RecordsetObject::get_DataSource(IUnknown** ppunkDataSource) {
    if (!ppunkDataSource)
        return E_POINTER;
    *ppunkDataSource = nullptr;
    return Run(kIID_Recordset20, [] { return kErrFeatureNotAvailable; });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::putref_DataSource(IUnknown*) {
    return Run(kIID_Recordset20, [] { return kErrFeatureNotAvailable; });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::get_ActiveCommand(IDispatch** ppCmd) {
    if (!ppCmd)
        return E_POINTER;
    *ppCmd = nullptr;   // never opened from a command
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RecordsetObject::put_StayInSync(VARIANT_BOOL bStayInSync) {
    m_stayInSync = bStayInSync != VARIANT_FALSE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RecordsetObject::get_StayInSync(VARIANT_BOOL* pbStayInSync) {
    if (!pbStayInSync)
        return E_POINTER;
    *pbStayInSync = m_stayInSync ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RecordsetObject::get_DataMember(BSTR* pbstrDataMember) {
    if (!pbstrDataMember)
        return E_POINTER;
    *pbstrDataMember = nullptr;
    return Run(kIID_Recordset20, [&]() -> HRESULT {
        *pbstrDataMember = AllocBstr(m_dataMember);
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::put_DataMember(BSTR bstrDataMember) {
    return Run(kIID_Recordset20, [&]() -> HRESULT {
        if (m_open)
            return kErrObjectOpen;
        m_dataMember.assign(View(bstrDataMember));
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::Clone(LockTypeEnum, _Recordset** ppvObject) {
    if (!ppvObject)
        return E_POINTER;
    *ppvObject = nullptr;
    return Run(kIID_Recordset20, [] { return kErrFeatureNotAvailable; });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::Resync(AffectEnum, ResyncEnum) {
    return Run(kIID_Recordset20, [&]() -> HRESULT {
        HRESULT hr = RequireOpen();
        return FAILED(hr) ? hr : kErrFeatureNotAvailable;
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::Seek(VARIANT, SeekEnum) {
    return Run(kIID_Recordset21, [&]() -> HRESULT {
        HRESULT hr = RequireOpen();
        return FAILED(hr) ? hr : kErrFeatureNotAvailable;
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::put_Index(BSTR Index) {
    return Run(kIID_Recordset21, [&]() -> HRESULT {
        // Indexes belong to providers that can seek; naming none is allowed.
        if (!View(Index).empty())
            return kErrFeatureNotAvailable;
        m_index.clear();
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE RecordsetObject::get_Index(BSTR* pbstrIndex) {
    if (!pbstrIndex)
        return E_POINTER;
    *pbstrIndex = nullptr;
    return Run(kIID_Recordset21, [&]() -> HRESULT {
        *pbstrIndex = AllocBstr(m_index);
        return S_OK;
    });
}

}  // namespace comhost::ado
