#include "persist_bridge.h"

#include "file_path.h"
#include "row_store.h"
#include "persist/persist.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace comhost::ado {

// The column as the file described it, for writing it back the same way.
struct PersistColumnInfo {
    persist::Column column;
};

// The recordset's own attributes in the file (its dynamic properties).
struct PersistTableInfo {
    bool updatable = false;   // rs:updatable: whether the rows' source takes changes
    std::vector<persist::ExtraAttribute> properties;
};

namespace {

// ------------------------------------------------------------------ values in

void SetVariant(VARIANT* v, VARTYPE vt) { V_VT(v) = vt; }

// The GUID text "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" of bytes in Windows
// memory order.
std::u16string GuidText(const persist::Guid& g) {
    static const char16_t digits[] = u"0123456789ABCDEF";
    std::u16string out = u"{";
    auto hex = [&](uint8_t b) {
        out += digits[b >> 4];
        out += digits[b & 15];
    };
    for (int i = 3; i >= 0; --i)
        hex(g.bytes[static_cast<size_t>(i)]);
    out += u'-';
    hex(g.bytes[5]);
    hex(g.bytes[4]);
    out += u'-';
    hex(g.bytes[7]);
    hex(g.bytes[6]);
    out += u'-';
    hex(g.bytes[8]);
    hex(g.bytes[9]);
    out += u'-';
    for (size_t i = 10; i < 16; ++i)
        hex(g.bytes[i]);
    out += u'}';
    return out;
}

bool GuidBytes(std::u16string_view text, persist::Guid& g) {
    std::u16string normalized;
    if (!NormalizeGuidText(text, normalized))
        return false;
    uint8_t raw[16];
    size_t n = 0;
    for (size_t i = 1; i + 1 < normalized.size(); ++i) {
        if (normalized[i] == u'-')
            continue;
        auto nibble = [](char16_t c) { return static_cast<uint8_t>(c <= u'9' ? c - u'0' : c - u'A' + 10); };
        raw[n / 2] = static_cast<uint8_t>(n % 2 == 0 ? nibble(normalized[i]) << 4 : raw[n / 2] | nibble(normalized[i]));
        ++n;
    }
    // Text order to memory order: Data1, Data2, Data3 little endian.
    const uint8_t order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (size_t i = 0; i < 16; ++i)
        g.bytes[i] = raw[order[i]];
    return true;
}

// The VARIANT a field of `type` holds for a persisted value.
HRESULT ToVariant(const persist::Value& value, DataTypeEnum type, Variant& out) {
    VARIANT* v = out.get();
    out.Clear();
    if (persist::IsNull(value)) {
        SetVariant(v, VT_NULL);
        return S_OK;
    }
    if (const auto* b = std::get_if<bool>(&value)) {
        SetVariant(v, VT_BOOL);
        V_BOOL(v) = *b ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    if (const auto* i = std::get_if<int64_t>(&value)) {
        switch (type) {
        case adTinyInt: SetVariant(v, VT_I1); V_I1(v) = static_cast<CHAR>(*i); break;
        case adSmallInt: SetVariant(v, VT_I2); V_I2(v) = static_cast<SHORT>(*i); break;
        case adInteger: SetVariant(v, VT_I4); V_I4(v) = static_cast<LONG>(*i); break;
        default: SetVariant(v, VT_I8); V_I8(v) = *i; break;
        }
        return S_OK;
    }
    if (const auto* u = std::get_if<uint64_t>(&value)) {
        switch (type) {
        case adUnsignedTinyInt: SetVariant(v, VT_UI1); V_UI1(v) = static_cast<BYTE>(*u); break;
        case adUnsignedSmallInt: SetVariant(v, VT_UI2); V_UI2(v) = static_cast<USHORT>(*u); break;
        case adUnsignedInt: SetVariant(v, VT_UI4); V_UI4(v) = static_cast<ULONG>(*u); break;
        default: SetVariant(v, VT_UI8); V_UI8(v) = *u; break;
        }
        return S_OK;
    }
    if (const auto* f = std::get_if<float>(&value)) {
        SetVariant(v, VT_R4);
        V_R4(v) = *f;
        return S_OK;
    }
    if (const auto* d = std::get_if<double>(&value)) {
        SetVariant(v, VT_R8);
        V_R8(v) = *d;
        return S_OK;
    }
    if (const auto* c = std::get_if<persist::Currency>(&value)) {
        SetVariant(v, VT_CY);
        V_CY(v).int64 = c->scaled;
        return S_OK;
    }
    if (const auto* dec = std::get_if<persist::Decimal>(&value)) {
        DECIMAL& d = V_DECIMAL(v);
        d.Hi32 = dec->hi32;
        d.Lo64 = dec->lo64;
        d.scale = dec->scale;
        d.sign = dec->negative ? DECIMAL_NEG : 0;
        SetVariant(v, VT_DECIMAL);
        return S_OK;
    }
    if (const auto* date = std::get_if<persist::Date>(&value)) {
        SetVariant(v, VT_DATE);
        V_DATE(v) = date->days;
        return S_OK;
    }
    if (const auto* s = std::get_if<std::u16string>(&value)) {
        V_BSTR(v) = AllocBstr(*s);
        SetVariant(v, VT_BSTR);
        return S_OK;
    }
    if (const auto* bytes = std::get_if<persist::Bytes>(&value)) {
        if (bytes->size() > std::numeric_limits<ULONG>::max())
            return kErrReadFile;
        SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes->size()));
        if (!array)
            return E_OUTOFMEMORY;
        if (!bytes->empty()) {
            void* data = nullptr;
            if (FAILED(SafeArrayAccessData(array, &data))) {
                SafeArrayDestroy(array);
                return E_UNEXPECTED;
            }
            std::memcpy(data, bytes->data(), bytes->size());
            SafeArrayUnaccessData(array);
        }
        SetVariant(v, VT_ARRAY | VT_UI1);
        V_ARRAY(v) = array;
        return S_OK;
    }
    if (const auto* g = std::get_if<persist::Guid>(&value)) {
        V_BSTR(v) = AllocBstr(GuidText(*g));
        SetVariant(v, VT_BSTR);
        return S_OK;
    }
    return kErrReadFile;
}

// ------------------------------------------------------------------ values out

// The persisted form of a field's value; false when the value cannot be
// written for a column of `type`.
HRESULT FromVariant(const VARIANT& in, DataTypeEnum type, persist::Value& out) {
    if (V_VT(&in) == VT_NULL || V_VT(&in) == VT_EMPTY) {
        out = std::monostate{};
        return S_OK;
    }
    // A value already of the field's own type is taken as it is.
    switch (V_VT(&in)) {
    case VT_I4:
        if (type == adInteger) { out = static_cast<int64_t>(V_I4(&in)); return S_OK; }
        break;
    case VT_I2:
        if (type == adSmallInt) { out = static_cast<int64_t>(V_I2(&in)); return S_OK; }
        break;
    case VT_I8:
        if (type == adBigInt) { out = static_cast<int64_t>(V_I8(&in)); return S_OK; }
        break;
    case VT_R8:
        if (type == adDouble) { out = V_R8(&in); return S_OK; }
        break;
    case VT_CY:
        if (type == adCurrency) { out = persist::Currency{V_CY(&in).int64}; return S_OK; }
        break;
    case VT_DATE:
        if (type == adDate || type == adDBDate || type == adDBTime || type == adDBTimeStamp || type == adFileTime) {
            out = persist::Date{V_DATE(&in)};
            return S_OK;
        }
        break;
    case VT_BOOL:
        if (type == adBoolean) { out = V_BOOL(&in) != VARIANT_FALSE; return S_OK; }
        break;
    case VT_BSTR:
        if (IsCharacterType(type)) { out = std::u16string(View(V_BSTR(&in))); return S_OK; }
        break;
    default:
        break;
    }
    Variant value;
    HRESULT hr = S_OK;
    auto as = [&](VARTYPE vt) {
        hr = VariantChangeType(value.get(), const_cast<VARIANT*>(&in), 0, vt);
        return SUCCEEDED(hr);
    };
    switch (type) {
    case adBoolean:
        if (!as(VT_BOOL))
            break;
        out = V_BOOL(value.get()) != VARIANT_FALSE;
        return S_OK;
    case adTinyInt: case adSmallInt: case adInteger: case adBigInt:
        if (!as(VT_I8))
            break;
        out = static_cast<int64_t>(V_I8(value.get()));
        return S_OK;
    case adUnsignedTinyInt: case adUnsignedSmallInt: case adUnsignedInt: case adUnsignedBigInt:
        if (!as(VT_UI8))
            break;
        out = static_cast<uint64_t>(V_UI8(value.get()));
        return S_OK;
    case adSingle:
        if (!as(VT_R4))
            break;
        out = V_R4(value.get());
        return S_OK;
    case adDouble:
        if (!as(VT_R8))
            break;
        out = V_R8(value.get());
        return S_OK;
    case adCurrency:
        if (!as(VT_CY))
            break;
        out = persist::Currency{V_CY(value.get()).int64};
        return S_OK;
    case adDecimal: case adNumeric: case adVarNumeric: {
        if (!as(VT_DECIMAL))
            break;
        const DECIMAL& d = V_DECIMAL(value.get());
        persist::Decimal dec;
        dec.hi32 = d.Hi32;
        dec.lo64 = d.Lo64;
        dec.scale = d.scale;
        dec.negative = (d.sign & DECIMAL_NEG) != 0;
        out = dec;
        return S_OK;
    }
    case adDate: case adDBDate: case adDBTime: case adDBTimeStamp: case adFileTime:
        if (!as(VT_DATE))
            break;
        out = persist::Date{V_DATE(value.get())};
        return S_OK;
    case adGUID: {
        if (!as(VT_BSTR))
            break;
        persist::Guid g;
        if (!GuidBytes(View(V_BSTR(value.get())), g))
            return kErrDataConversion;
        out = g;
        return S_OK;
    }
    case adBinary: case adVarBinary: case adLongVarBinary: {
        if (V_VT(&in) != (VT_ARRAY | VT_UI1) || !V_ARRAY(&in))
            return kErrDataConversion;
        LONG lo = 0, hi = -1;
        SafeArrayGetLBound(V_ARRAY(&in), 1, &lo);
        SafeArrayGetUBound(V_ARRAY(&in), 1, &hi);
        persist::Bytes bytes(static_cast<size_t>(hi - lo + 1));
        void* data = nullptr;
        if (!bytes.empty()) {
            if (FAILED(SafeArrayAccessData(V_ARRAY(&in), &data)))
                return E_UNEXPECTED;
            std::memcpy(bytes.data(), data, bytes.size());
            SafeArrayUnaccessData(V_ARRAY(&in));
        }
        out = std::move(bytes);
        return S_OK;
    }
    default:
        if (IsCharacterType(type)) {
            if (!as(VT_BSTR))
                break;
            out = std::u16string(View(V_BSTR(value.get())));
            return S_OK;
        }
        // Objects, variants and errors have no form in the file.
        return kErrFeatureNotAvailable;
    }
    return hr == E_OUTOFMEMORY ? hr : kErrDataConversion;
}

// DefinedSize of a column read from a file: its dt:maxLength as far as a
// LONG holds it, else what its type implies.
LONG LoadedDefinedSize(const persist::Column& c) {
    if (c.maxLength)
        return static_cast<LONG>(std::min<uint32_t>(*c.maxLength, 0x7FFFFFFF));
    return DefaultDefinedSize(static_cast<DataTypeEnum>(c.type));
}

// ------------------------------------------------------------------ errors

HRESULT FromLoadError(const persist::Error& error) {
    switch (error.category) {
    case persist::ErrorCategory::Io: return kErrOpeningFile;
    case persist::ErrorCategory::OutOfMemory: return E_OUTOFMEMORY;
    default: return kErrReadFile;
    }
}

// Writes `bytes` to the open descriptor; false with errno set on failure.
bool WriteAll(int fd, std::string_view bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

std::u16string SystemError(int error) { return FromUtf8(std::strerror(error)); }

}  // namespace

// ------------------------------------------------------------------ loading

namespace {

// Builds the recordset's columns and rows as the reader gives them: plain
// rows into the column store, rows read whole (pending updates, rows of
// documents read whole) as VARIANTs.
class LoadSink final : public persist::RowSink {
public:
    RowSet result;
    HRESULT failure = S_OK;

    void Reset() override {
        result = RowSet();
        m_shown.clear();
        m_store.reset();
        failure = S_OK;
    }

    void SetSchema(const persist::Schema& schema) override {
        auto tableInfo = std::make_shared<PersistTableInfo>();
        tableInfo->updatable = schema.updatable;
        tableInfo->properties = schema.properties;
        result.info = std::move(tableInfo);

        // Hidden columns belong to the provider that made the rows, not to the
        // recordset's fields; chapter columns carry their rows separately.
        std::vector<DataTypeEnum> types;
        m_shown.assign(schema.columns.size(), kHidden);
        for (size_t i = 0; i < schema.columns.size(); ++i) {
            const persist::Column& c = schema.columns[i];
            if (c.hidden)
                continue;
            auto column = std::make_shared<Column>();
            column->name = c.name;
            ColumnShape& shape = column->shape;
            shape.type = static_cast<DataTypeEnum>(c.type);
            shape.definedSize = LoadedDefinedSize(c);
            shape.attributes = static_cast<LONG>(c.attributes);
            shape.precision = c.precision ? *c.precision : DefaultPrecision(shape.type);
            shape.scale = c.scale ? *c.scale : DefaultScale(shape.type);
            auto persisted = std::make_shared<PersistColumnInfo>();
            persisted->column = c;
            persisted->column.chapter.reset();
            column->persisted = std::move(persisted);
            m_shown[i] = result.columns.size();
            types.push_back(shape.type);
            result.columns.push_back(std::move(column));
        }
        m_store = std::make_shared<RowStore>(types);
        result.store = m_store;
    }

    void ExpectRows(size_t rows) override {
        result.rows.reserve(rows);
        m_store->Reserve(rows);
    }

    void AddRow(persist::Row&& source) override {
        if (FAILED(failure))
            return;
        if (source.state != persist::RowState::Modified && StoreRow(source))
            return;
        Row row;
        row.values.resize(result.columns.size());
        for (size_t i = 0; i < m_shown.size(); ++i) {
            if (m_shown[i] == kHidden)
                continue;
            const size_t k = m_shown[i];
            const HRESULT hr = ToVariant(source.values[i], result.columns[k]->shape.type, row.values[k]);
            if (FAILED(hr)) {
                failure = hr;
                return;
            }
        }
        switch (source.state) {
        case persist::RowState::Unchanged: row.state = RowState::Unchanged; break;
        case persist::RowState::Inserted: row.state = RowState::Inserted; break;
        case persist::RowState::Modified:
            row.state = RowState::Modified;
            row.original.resize(result.columns.size());
            for (size_t i = 0; i < m_shown.size(); ++i) {
                if (m_shown[i] == kHidden)
                    continue;
                const size_t k = m_shown[i];
                const HRESULT hr = ToVariant(source.original[i], result.columns[k]->shape.type, row.original[k]);
                if (FAILED(hr)) {
                    failure = hr;
                    return;
                }
            }
            break;
        case persist::RowState::Deleted:
            result.deleted.push_back(std::move(row));
            return;
        }
        result.rows.push_back(std::move(row));
    }

    void BeginRow(persist::RowState state) override {
        m_row = m_store->AddRow();
        m_state = state;
    }

    void SetValue(size_t column, const persist::Value& value) override {
        Store(column, [&](size_t k) { return m_store->Set(k, value); });
    }

    void SetText(size_t column, std::string_view utf8) override {
        if (m_shown[column] != kHidden)
            m_store->SetText(m_shown[column], utf8);
    }

    void SetInteger(size_t column, int64_t value) override {
        Store(column, [&](size_t k) { return m_store->SetInteger(k, value); });
    }
    void SetDouble(size_t column, double value) override {
        Store(column, [&](size_t k) { return m_store->SetDouble(k, value); });
    }
    void SetDate(size_t column, double days) override {
        Store(column, [&](size_t k) { return m_store->SetDate(k, days); });
    }
    void SetBoolean(size_t column, bool value) override {
        Store(column, [&](size_t k) { return m_store->SetBoolean(k, value); });
    }

    void DropRow() override { m_store->DropLastRow(); }

    void EndRow() override {
        Row row;
        row.stored = static_cast<uint32_t>(m_row);
        if (m_state == persist::RowState::Deleted) {
            result.deleted.push_back(std::move(row));
            return;
        }
        row.state = m_state == persist::RowState::Inserted ? RowState::Inserted : RowState::Unchanged;
        result.rows.push_back(std::move(row));
    }

private:
    // Sets a value of a shown column through `set` (given the store's
    // column); every value the reader gives has a form in the store.
    template <class Set>
    void Store(size_t column, Set set) {
        if (m_shown[column] != kHidden && !set(m_shown[column]))
            failure = kErrReadFile;
    }

    // Puts a plain row read whole into the store, like the rows that come
    // value by value; false (nothing stored) when a string cannot be held as
    // UTF-8 there, an unpaired surrogate.
    bool StoreRow(const persist::Row& source) {
        m_texts.resize(result.columns.size());
        for (size_t i = 0; i < m_shown.size(); ++i) {
            const auto* text = std::get_if<std::u16string>(&source.values[i]);
            if (m_shown[i] != kHidden && text && !ToUtf8(*text, m_texts[m_shown[i]]))
                return false;
        }
        BeginRow(source.state);
        for (size_t i = 0; i < m_shown.size(); ++i) {
            if (m_shown[i] == kHidden)
                continue;
            if (std::holds_alternative<std::u16string>(source.values[i]))
                m_store->SetText(m_shown[i], m_texts[m_shown[i]]);
            else
                SetValue(i, source.values[i]);
        }
        EndRow();
        return true;
    }

    static bool ToUtf8(std::u16string_view s, std::string& out) {
        out.clear();
        for (size_t i = 0; i < s.size(); ++i) {
            uint32_t c = s[i];
            if (c >= 0xD800 && c <= 0xDFFF) {
                if (c > 0xDBFF || i + 1 >= s.size() || s[i + 1] < 0xDC00 || s[i + 1] > 0xDFFF)
                    return false;
                c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00u);
            }
            if (c < 0x80) {
                out.push_back(static_cast<char>(c));
            } else if (c < 0x800) {
                out.push_back(static_cast<char>(0xC0 | (c >> 6)));
                out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
            } else if (c < 0x10000) {
                out.push_back(static_cast<char>(0xE0 | (c >> 12)));
                out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
                out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
            } else {
                out.push_back(static_cast<char>(0xF0 | (c >> 18)));
                out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
                out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
                out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
            }
        }
        return true;
    }

    static constexpr size_t kHidden = static_cast<size_t>(-1);
    std::vector<std::string> m_texts;
    std::vector<size_t> m_shown;   // per column of the file: the field's ordinal, or kHidden
    std::shared_ptr<RowStore> m_store;
    size_t m_row = 0;
    persist::RowState m_state = persist::RowState::Unchanged;
};

}  // namespace

HRESULT LoadRowSet(const std::string& path, RowSet& out, std::u16string& detail) {
    const std::u16string where = u"(" + FromUtf8(path) + u")";
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        detail = where + u" The name is a directory.";
        return kErrOpeningFile;
    }
    LoadSink sink;
    if (std::optional<persist::Error> error = persist::ReadFile(path, sink)) {
        detail = where + u" " + error->Description();
        return FromLoadError(*error);
    }
    if (FAILED(sink.failure))
        return sink.failure;
    out = std::move(sink.result);
    return S_OK;
}

// ------------------------------------------------------------------ saving

namespace {

// A file written beside a target and then put in its place; removed again
// when it is not.  It is made as any new file is (mode 0666 less the umask),
// under the target's name with a random suffix.
class TemporaryFile {
public:
    TemporaryFile() = default;
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        Close();
        if (!m_path.empty())
            ::unlink(m_path.c_str());
    }

    // False with errno set when no file could be made.  Throws
    // std::bad_alloc.
    bool Create(const std::string& target) {
        static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
        std::string name = target + ".XXXXXX";
        for (int attempt = 0; attempt < 100; ++attempt) {
            uint64_t bits = NameBits();
            for (size_t i = name.size() - 6; i < name.size(); ++i) {
                name[i] = letters[bits % 62];
                bits /= 62;
            }
            const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                m_fd = fd;
                m_path = std::move(name);
                return true;
            }
            if (errno != EEXIST)
                return false;
        }
        return false;
    }

    int fd() const noexcept { return m_fd; }

    // False with errno set when the data could not be written out.
    bool Close() noexcept {
        if (m_fd < 0)
            return true;
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

    // Puts the (closed) file in the place of `target`, replacing a file
    // there; 0 or the errno of the failure.
    int RenameTo(const std::string& target) noexcept {
        if (::rename(m_path.c_str(), target.c_str()) != 0)
            return errno;
        m_path.clear();
        return 0;
    }

    // Gives the (closed) file the name `target` unless that names something
    // already (EEXIST); 0 or the errno of the failure.
    int LinkTo(const std::string& target) noexcept {
        if (::link(m_path.c_str(), target.c_str()) == 0)
            return 0;  // the destructor removes the temporary name
        const int error = errno;
        if (error != EPERM && error != EOPNOTSUPP && error != ENOSYS)
            return error;
        // A file system without hard links: the name is claimed first, so
        // that the rename cannot replace a file made meanwhile.
        const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0)
            return errno;
        ::close(fd);
        const int renamed = RenameTo(target);
        if (renamed != 0)
            ::unlink(target.c_str());
        return renamed;
    }

private:
    // Bits for a name no other process or thread picks at the same time.
    static uint64_t NameBits() noexcept {
        static std::atomic<uint64_t> counter{0};
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        uint64_t z = (static_cast<uint64_t>(::getpid()) << 40) ^ static_cast<uint64_t>(now.tv_nsec) ^
                     (static_cast<uint64_t>(now.tv_sec) << 20) ^ (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    int m_fd = -1;
    std::string m_path;  // empty once the file has a name of its own
};

// Hands the document text to a file descriptor.  After a failed write (or
// without a descriptor) the text is dropped; `error` keeps the errno.
class FileSink final : public persist::TextSink {
public:
    explicit FileSink(int fd) : m_fd(fd) {}
    int error = 0;

    void Write(std::string_view text) override {
        if (m_fd < 0 || error != 0)
            return;
        if (!WriteAll(m_fd, text))
            error = errno;
    }

private:
    int m_fd;
};

}  // namespace


HRESULT SaveRowSet(const std::string& path, bool createNew, const std::vector<ColumnRef>& columns,
                   const std::vector<Row>& rows, const std::vector<Row>& deleted, const RowStore* store,
                   bool updatable, const PersistTableInfo* info, std::u16string& detail) {
    persist::Table table;
    // A file says whether its rows' source takes changes; a fabricated
    // recordset's rows take them when the recordset does.
    table.schema.updatable = info ? info->updatable : updatable;
    if (info)
        table.schema.properties = info->properties;
    for (size_t i = 0; i < columns.size(); ++i) {
        const Column& source = *columns[i];
        const ColumnShape& shape = source.shape;
        if (shape.type == adChapter) {
            detail = u"Hierarchical recordsets cannot be saved.";
            return kErrFeatureNotAvailable;
        }
        persist::Column c;
        const bool asRead = source.persisted && static_cast<DataTypeEnum>(source.persisted->column.type) == shape.type &&
                            LoadedDefinedSize(source.persisted->column) == shape.definedSize;
        if (asRead) {
            // A column read from a file is written back as the file had it
            // (its size as written, even beyond what a LONG holds).
            c = source.persisted->column;
        } else {
            c.type = static_cast<persist::DataType>(shape.type);
            c.maxLength = static_cast<uint32_t>(shape.definedSize);
            if (IsNumericType(shape.type) && shape.precision != 255)
                c.precision = shape.precision;
            if ((shape.type == adDecimal || shape.type == adNumeric || shape.type == adVarNumeric) &&
                shape.scale != 255)
                c.scale = shape.scale;
        }
        c.name = source.name;
        c.number = static_cast<int32_t>(i + 1);
        c.attributes = static_cast<uint32_t>(shape.attributes);
        table.schema.columns.push_back(std::move(c));
    }

    // The rows in order, then the pending deletions, converted one at a
    // time as the writer asks for them.
    class Source final : public persist::RowSource {
    public:
        Source(const std::vector<ColumnRef>& columns, const std::vector<Row>& rows, const std::vector<Row>& deleted,
               const RowStore* store, std::u16string& detail)
            : m_columns(columns), m_rows(rows), m_deleted(deleted), m_store(store), m_detail(detail) {}

        HRESULT failure = S_OK;

        bool Next(persist::Row& out) override {
            m_texts.assign(m_columns.size(), std::nullopt);
            const Row* row = Advance();
            if (!row)
                return false;
            out.chapters.clear();
            HRESULT hr = Convert(*row, row->values, out.values);
            if (SUCCEEDED(hr)) {
                out.state = m_index > m_rows.size()      ? persist::RowState::Deleted
                            : row->state == RowState::Inserted ? persist::RowState::Inserted
                            : row->state == RowState::Modified ? persist::RowState::Modified
                                                               : persist::RowState::Unchanged;
                if (out.state == persist::RowState::Modified)
                    hr = Convert(*row, row->original, out.original);
                else
                    out.original.clear();
            }
            if (FAILED(hr)) {
                failure = hr;
                return false;
            }
            return true;
        }

        // After the writer refused a row: the first row after it whose
        // values cannot be converted, which is reported instead (as when
        // every row was converted before writing).
        std::optional<std::string_view> Text(size_t column) override { return m_texts[column]; }

        HRESULT ConvertRest() {
            persist::Row scratch;
            while (Next(scratch)) {
            }
            return failure;
        }

    private:
        const Row* Advance() {
            const size_t i = m_index++;
            if (i < m_rows.size())
                return &m_rows[i];
            if (i - m_rows.size() < m_deleted.size())
                return &m_deleted[i - m_rows.size()];
            m_index = m_rows.size() + m_deleted.size() + 1;
            return nullptr;
        }

        HRESULT Convert(const Row& row, const std::vector<Variant>& values, std::vector<persist::Value>& out) {
            out.resize(m_columns.size());
            for (size_t k = 0; k < m_columns.size(); ++k) {
                HRESULT hr = S_OK;
                if (values.empty() && m_store) {
                    // A row read from the file and not changed since.  Its
                    // strings go to the writer as the UTF-8 they are kept
                    // in (see Text); GUIDs are kept as their text and
                    // converted below.
                    if (IsCharacterType(m_columns[k]->shape.type) && &values == &row.values) {
                        std::string_view text;
                        out[k] = std::monostate{};
                        if (m_store->GetText(row.stored, k, text))
                            m_texts[k] = text;
                        continue;
                    }
                    if (m_columns[k]->shape.type != adGUID && m_store->GetValue(row.stored, k, out[k]))
                        continue;
                    m_scratch.Clear();
                    hr = m_store->Get(row.stored, k, m_scratch.get());
                    if (SUCCEEDED(hr))
                        hr = FromVariant(*m_scratch, m_columns[k]->shape.type, out[k]);
                } else {
                    hr = FromVariant(*values[k], m_columns[k]->shape.type, out[k]);
                }
                if (FAILED(hr)) {
                    m_detail = u"The value of field \"" + m_columns[k]->name + u"\" cannot be saved.";
                    return hr;
                }
            }
            return S_OK;
        }

        const std::vector<ColumnRef>& m_columns;
        const std::vector<Row>& m_rows;
        const std::vector<Row>& m_deleted;
        const RowStore* m_store;
        std::u16string& m_detail;
        Variant m_scratch;
        size_t m_index = 0;
        // Text of the current row's string values, by column (nullopt: in
        // the row's values).
        std::vector<std::optional<std::string_view>> m_texts;
    };

    Source source(columns, rows, deleted, store, detail);
    // The document goes to a new file beside the target, which takes the
    // target's place only once all of it is written: a failure at any point
    // leaves no partial file and an earlier file at `path` as it was.  A
    // failure of the file itself is reported after the refusals of rows, as
    // the rows are all converted and checked whatever becomes of the file.
    TemporaryFile file;
    int fileError = 0;
    struct stat existing {};
    // A new file is never one that is there already; nothing is written
    // then (the rows are still checked).
    const bool exists = createNew && ::lstat(path.c_str(), &existing) == 0;
    if (!exists && !file.Create(path))
        fileError = errno;
    FileSink sink(file.fd());
    const std::optional<persist::Error> error = persist::SaveRows(table.schema, source, sink);
    if (FAILED(source.failure))
        return source.failure;
    if (error && error->category != persist::ErrorCategory::OutOfMemory) {
        const HRESULT hr = source.ConvertRest();
        if (FAILED(hr))
            return hr;
    }
    if (error) {
        detail = error->Description();
        switch (error->category) {
        case persist::ErrorCategory::OutOfMemory: return E_OUTOFMEMORY;
        case persist::ErrorCategory::UnsupportedType: return kErrFeatureNotAvailable;
        case persist::ErrorCategory::ValueOutOfRange: return kErrDataConversion;
        default: return kErrWriteFile;
        }
    }

    const std::u16string where = u"(" + FromUtf8(path) + u")";
    if (exists) {
        detail = where + u" " + SystemError(EEXIST);
        return kErrFileAlreadyExists;
    }
    if (fileError == 0)
        fileError = sink.error;
    if (fileError == 0 && !file.Close())
        fileError = errno;
    if (fileError == 0) {
        const int moved = createNew ? file.LinkTo(path) : file.RenameTo(path);
        if (moved == 0)
            return S_OK;
        detail = where + u" " + SystemError(moved);
        return createNew && moved == EEXIST ? kErrFileAlreadyExists : kErrWriteFile;
    }
    detail = where + u" " + SystemError(fileError);
    return kErrWriteFile;
}

}  // namespace comhost::ado
