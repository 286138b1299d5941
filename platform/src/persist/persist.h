// Reader and writer for recordsets saved in ADO's XML persistence format
// (what Recordset.Save writes with adPersistXML and the "MSPersist" provider
// opens again).
//
// The library is free of COM types: columns, values and rows are described
// with the neutral types below, and the ADO stand-in maps them to its
// fields and VARIANTs.  Everything here is plain value types; a Table can be
// copied and compared.
//
//   Load / LoadFile   bytes or a file  -> Table, or an Error saying why not
//   Save              Table            -> the document text (UTF-8)
//
// A table that Save wrote loads back equal, given the normal forms the
// reader produces: default spellings (dt:type, aliases, rs:number 1..n)
// are not stored, and the Fixed / Long attributes follow the string and
// binary types (see Column).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace comhost::persist {

// ---------------------------------------------------------------- types

// ADO's DataTypeEnum; the numeric values are ADO's own.
enum class DataType : int32_t {
    Empty = 0,
    SmallInt = 2,
    Integer = 3,
    Single = 4,
    Double = 5,
    Currency = 6,
    Date = 7,
    BSTR = 8,
    IDispatch = 9,
    Error = 10,
    Boolean = 11,
    Variant = 12,
    IUnknown = 13,
    Decimal = 14,
    TinyInt = 16,
    UnsignedTinyInt = 17,
    UnsignedSmallInt = 18,
    UnsignedInt = 19,
    BigInt = 20,
    UnsignedBigInt = 21,
    FileTime = 64,
    GUID = 72,
    Binary = 128,
    Char = 129,
    WChar = 130,
    Numeric = 131,
    UserDefined = 132,
    DBDate = 133,
    DBTime = 134,
    DBTimeStamp = 135,
    Chapter = 136,
    PropVariant = 138,
    VarNumeric = 139,
    VarChar = 200,
    LongVarChar = 201,
    VarWChar = 202,
    LongVarWChar = 203,
    VarBinary = 204,
    LongVarBinary = 205,
};

// "adInteger" etc., for messages; "type 77" style text for unknown values.
std::string DataTypeName(DataType type);

// ADO's FieldAttributeEnum bits, as kept in Column::attributes.
namespace field_attr {
inline constexpr uint32_t MayDefer = 0x2;          // rs:maydefer
inline constexpr uint32_t Updatable = 0x4;         // rs:write
inline constexpr uint32_t UnknownUpdatable = 0x8;  // rs:writeunknown
inline constexpr uint32_t Fixed = 0x10;            // rs:fixedlength
inline constexpr uint32_t IsNullable = 0x20;       // rs:nullable
inline constexpr uint32_t MayBeNull = 0x40;        // set unless rs:maybenull='false'
inline constexpr uint32_t Long = 0x80;             // rs:long
inline constexpr uint32_t RowID = 0x100;           // rs:rowid
inline constexpr uint32_t RowVersion = 0x200;      // rs:rowver
inline constexpr uint32_t CacheDeferred = 0x1000;  // rs:cachedeferred
inline constexpr uint32_t IsChapter = 0x2000;      // a nested s:ElementType
inline constexpr uint32_t NegativeScale = 0x4000;  // rs:negativescale
inline constexpr uint32_t KeyColumn = 0x8000;      // rs:keycolumn
}  // namespace field_attr

// ---------------------------------------------------------------- values

// A currency amount: the value times 10000, as in the OLE CY type.
struct Currency {
    int64_t scaled = 0;
    friend bool operator==(const Currency&, const Currency&) = default;
};

// An exact decimal laid out like the OLE DECIMAL: a 96-bit unsigned
// mantissa (hi32:lo64), a power-of-ten scale 0..28 and a sign.
// Its value is (negative ? -1 : 1) * mantissa / 10^scale.
struct Decimal {
    uint32_t hi32 = 0;
    uint64_t lo64 = 0;
    uint8_t scale = 0;
    bool negative = false;
    friend bool operator==(const Decimal&, const Decimal&) = default;
};

// An OLE Automation date: days since 1899-12-30 with the time of day as
// fraction.  Before 1899-12-30 the day part is negative and the fraction
// still counts forward from midnight (-1.25 is 1899-12-29 06:00).
struct Date {
    double days = 0;
    friend bool operator==(const Date&, const Date&) = default;
};

// A GUID in its in-memory Windows byte order (Data1, Data2 and Data3 little
// endian, then Data4).
struct Guid {
    std::array<uint8_t, 16> bytes{};
    friend bool operator==(const Guid&, const Guid&) = default;
};

using Bytes = std::vector<uint8_t>;

// One column value of one row.  std::monostate is NULL (in the document an
// absent attribute).  Which alternative a column holds follows its type:
//   Boolean                                   bool
//   TinyInt, SmallInt, Integer, BigInt        int64_t (within the type's range)
//   UnsignedTinyInt ... UnsignedBigInt        uint64_t (within the type's range)
//   Single / Double                           float / double
//   Currency                                  Currency
//   Decimal, Numeric, VarNumeric              Decimal
//   Date, DBDate, DBTime, DBTimeStamp,
//   FileTime                                  Date
//   BSTR, Char, VarChar, LongVarChar, WChar,
//   VarWChar, LongVarWChar                    std::u16string
//   Binary, VarBinary, LongVarBinary          Bytes
//   GUID                                      Guid
//   Chapter                                   always NULL (see Row::chapters)
using Value = std::variant<std::monostate, bool, int64_t, uint64_t, float, double, Currency, Decimal, Date,
                           std::u16string, Bytes, Guid>;

inline bool IsNull(const Value& v) noexcept { return std::holds_alternative<std::monostate>(v); }

// ---------------------------------------------------------------- schema

// A value-semantic owning pointer (deep copy, deep comparison); used for the
// schema of a chapter column, which nests a whole Schema inside a Column.
template <class T>
class Indirect {
public:
    Indirect() = default;
    explicit Indirect(T value) : m_p(std::make_unique<T>(std::move(value))) {}
    Indirect(const Indirect& o) : m_p(o.m_p ? std::make_unique<T>(*o.m_p) : nullptr) {}
    Indirect(Indirect&&) noexcept = default;
    Indirect& operator=(const Indirect& o) {
        if (this != &o) m_p = o.m_p ? std::make_unique<T>(*o.m_p) : nullptr;
        return *this;
    }
    Indirect& operator=(Indirect&&) noexcept = default;
    ~Indirect() = default;

    explicit operator bool() const noexcept { return m_p != nullptr; }
    T& operator*() const noexcept { return *m_p; }
    T* operator->() const noexcept { return m_p.get(); }
    T* get() const noexcept { return m_p.get(); }
    void reset() noexcept { m_p.reset(); }

    friend bool operator==(const Indirect& a, const Indirect& b) {
        if (!a.m_p || !b.m_p) return !a.m_p && !b.m_p;
        return *a.m_p == *b.m_p;
    }

private:
    std::unique_ptr<T> m_p;
};

// An attribute in the rowset namespace (rs:) that this library has no field
// for; kept so that a loaded document is written back with it.
struct ExtraAttribute {
    std::string name;  // local name, e.g. "CommandTimeout"
    std::u16string value;
    friend bool operator==(const ExtraAttribute&, const ExtraAttribute&) = default;
};

struct Schema;

struct Column {
    // The field's name: rs:name when the document gives one, else name.
    std::u16string name;
    // The attribute name that carries the column in rows.  Empty means "not
    // chosen": Save then uses the name when it is a valid XML name and
    // otherwise an alias c<zero-based position>, as ADO does.
    std::u16string xmlName;
    // rs:number as written (0: none) when the document numbers its columns
    // other than 1..n (gaps, unnumbered columns); 0 for every column when
    // the numbers are just the positions.  Save writes the positions when
    // no column has a number, the numbers when they still increase along
    // the columns (unnumbered ones only at the end), else the positions.
    int32_t number = 0;
    DataType type = DataType::VarWChar;
    // dt:maxLength (ADO's DefinedSize); real files go up to 4294967295.
    std::optional<uint32_t> maxLength;
    std::optional<uint8_t> precision;  // rs:precision
    std::optional<uint8_t> scale;      // rs:scale
    // field_attr bits.  For the string and binary types rs:fixedlength and
    // rs:long tell the types apart, so Save writes them as the type says:
    // adChar, adWChar and adBinary columns come back with Fixed, the long
    // types with Long, the variable-length ones without either.
    uint32_t attributes = field_attr::MayBeNull;
    // dt:type and rs:dbtype as the document spells them, where that differs
    // from what Save writes for `type` (e.g. "i4" for adInteger, or
    // "dateTime" without rs:dbtype); empty otherwise.  Save uses them only
    // while they still describe `type`.
    std::string dtType;
    std::string dbType;
    // Base-table metadata (rs:basecatalog, rs:baseschema, rs:basetable,
    // rs:basecolumn); empty when absent.
    std::u16string baseCatalog;
    std::u16string baseSchema;
    std::u16string baseTable;
    std::u16string baseColumn;
    bool autoIncrement = false;  // rs:autoincrement
    bool hidden = false;         // rs:hidden: added by the cursor engine, not a visible field
    // Other rs: attributes of s:AttributeType and of its s:datatype.
    std::vector<ExtraAttribute> extra;
    std::vector<ExtraAttribute> extraDatatype;
    // Chapter columns (type Chapter): the rows' schema.
    Indirect<Schema> chapter;

    friend bool operator==(const Column&, const Column&) = default;
};

struct Schema {
    std::vector<Column> columns;  // in field order (by rs:number)
    bool updatable = false;       // rs:updatable
    // Other rs: attributes of the row's s:ElementType: the recordset's
    // dynamic properties such as rs:CommandTimeout or rs:ReshapeName.
    std::vector<ExtraAttribute> properties;
    // Chapter schemas only: rs:relation, kept as written.
    std::u16string relation;

    friend bool operator==(const Schema&, const Schema&) = default;
};

// ---------------------------------------------------------------- rows

enum class RowState : uint8_t {
    Unchanged,  // a plain z:row
    Inserted,   // inside rs:insert
    Modified,   // inside rs:update, with the values before the change in `original`
    Deleted,    // inside rs:delete; `values` holds the deleted row's values
};

struct Row {
    std::vector<Value> values;    // one per column
    // Modified rows: one per column; empty otherwise.  The changed row of an
    // rs:update gives only the columns that differ from these (ADO's own
    // files may give all); a column changed to NULL is listed in the
    // changed row's rs:setnull attribute, as an absent attribute there
    // means "unchanged".
    std::vector<Value> original;
    RowState state = RowState::Unchanged;
    // Rows of each chapter column, in the order of those columns (always
    // unchanged: the format keeps no pending changes in chapters).  Load
    // gives one list per chapter column; Save also accepts an empty vector
    // for a row without chapter rows.
    std::vector<std::vector<Row>> chapters;

    friend bool operator==(const Row&, const Row&) = default;
};

struct Table {
    Schema schema;
    // In document order; pending inserts, updates and deletions stay where
    // they were.
    std::vector<Row> rows;

    friend bool operator==(const Table&, const Table&) = default;
};

// ---------------------------------------------------------------- errors

enum class ErrorCategory {
    Io,               // the file cannot be opened or read
    TooLarge,         // the document exceeds the size or nesting this reader accepts
    NotWellFormed,    // not well-formed XML (truncated, bad encoding, bad markup)
    NotRecordset,     // well-formed, but not a saved recordset: other root element,
                      // missing schema or data section
    BadSchema,        // a column definition is wrong: duplicate or missing column,
                      // bad attribute value
    UnsupportedType,  // a dt:type this reader does not know; on save, a type the
                      // format cannot hold
    BadValue,         // a value that is not valid text for its column's type
    ValueOutOfRange,  // a value that does not fit its column (overflow, too long)
    UnknownColumn,    // a row attribute that names no column
    BadData,          // the data section's structure is wrong (e.g. rs:update)
    InvalidTable,     // Save: the table is inconsistent (value count or kind)
    OutOfMemory,
};

// "NotWellFormed" etc.
std::string_view CategoryName(ErrorCategory category) noexcept;

struct Error {
    ErrorCategory category = ErrorCategory::BadData;
    std::string message;  // English, UTF-8, with the position and column involved
    // Where in the document (1-based); 0 when not tied to a place.
    size_t line = 0;
    size_t column = 0;

    std::u16string Description() const;  // `message` as UTF-16
};

// Either a value or the Error that prevented it.
template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : m_v(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : m_v(std::in_place_index<1>, std::move(error)) {}

    bool ok() const noexcept { return m_v.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }

    T& value() & { return std::get<0>(m_v); }
    const T& value() const& { return std::get<0>(m_v); }
    T&& value() && { return std::get<0>(std::move(m_v)); }
    const Error& error() const { return std::get<1>(m_v); }

private:
    std::variant<T, Error> m_v;
};

// ---------------------------------------------------------------- reading and writing

// Documents larger than this are refused (TooLarge) rather than parsed.
inline constexpr size_t kMaxDocumentBytes = size_t{512} * 1024 * 1024;

// Reads a document: UTF-8 (with or without byte-order mark), UTF-16 with a
// byte-order mark, or another encoding named in the XML declaration.
Result<Table> Load(std::string_view document) noexcept;

// Reads the file at `path` (a host path).
Result<Table> LoadFile(const std::string& path) noexcept;

// ---------------------------------------------------------------- reading row by row

// Receives what a document holds while it is read, instead of a Table:
// first the schema, then the rows in document order.  Rows come either whole
// (Row) or value by value (BeginRow, SetValue / SetText for each column that is
// not NULL, EndRow).  Reset drops everything received so far: the reading
// starts again from the schema.  Members may throw std::bad_alloc, which
// ends the reading with an OutOfMemory error.
class RowSink {
public:
    virtual ~RowSink() = default;
    virtual void Reset() = 0;
    virtual void SetSchema(const Schema& schema) = 0;
    // About this many rows are still to come (a hint for reserving space).
    virtual void ExpectRows(size_t) {}
    virtual void AddRow(Row&& row) = 0;
    virtual void BeginRow(RowState state) = 0;
    // A value of a column that is not a string column, never NULL.
    virtual void SetValue(size_t column, const persist::Value& value) = 0;
    // The value of a string column as UTF-8 (valid, at most the column's size).
    virtual void SetText(size_t column, std::string_view utf8) = 0;
    // SetValue for the kinds most columns hold, which a sink may store
    // without a Value in between: the signed integer types, Double, the
    // date and time types (days as in Date) and Boolean.
    virtual void SetInteger(size_t column, int64_t value) { SetValue(column, Value(value)); }
    virtual void SetDouble(size_t column, double value) { SetValue(column, Value(value)); }
    virtual void SetDate(size_t column, double days) { SetValue(column, Value(Date{days})); }
    virtual void SetBoolean(size_t column, bool value) { SetValue(column, Value(value)); }
    virtual void EndRow() = 0;
    // Forgets the row begun last, before its EndRow: its text turned out to
    // be something the reader hands to the parser after all.
    virtual void DropRow() = 0;
};

// Documents from this size on are read by parts; smaller ones whole.
inline constexpr size_t kReadByPartsFrom = size_t{256} * 1024;
// How much of the data section a part holds, about.
inline constexpr size_t kPartBytes = size_t{256} * 1024;

// Reads a document into `sink`; what it accepts and refuses, and the values
// it gives, are those of Load.  Large documents are parsed a part of the
// data section at a time, so that the parser's tree never holds more than
// one part; `byPartsFrom` sets the size from which that is done, `partBytes`
// about how much text a part holds (any size gives the same outcome).
std::optional<Error> Read(std::string_view document, RowSink& sink, size_t byPartsFrom = kReadByPartsFrom,
                          size_t partBytes = kPartBytes) noexcept;
std::optional<Error> ReadFile(const std::string& path, RowSink& sink) noexcept;

// Writes the table in the layout ADO writes: UTF-8 without declaration,
// single-quoted attributes, tab indentation, long start tags wrapped.
// Refuses (InvalidTable / UnsupportedType / ValueOutOfRange) a table that
// could not be read back as it is: values not matching their column, types
// the format cannot hold (Variant, IDispatch, IUnknown, Error ...).
Result<std::string> Save(const Table& table) noexcept;

// Rows handed to SaveRows one at a time.
class RowSource {
public:
    virtual ~RowSource() = default;
    // Puts the next row into `row` (which holds the previous one, so that
    // its storage can be reused); false when there are no more.  May throw
    // std::bad_alloc.
    virtual bool Next(Row& row) = 0;
    // A source that keeps its strings as UTF-8 may hand them over as such,
    // sparing their conversion to UTF-16 and back.  For a row that is not
    // Modified, Next may then leave the value of a string column NULL; the
    // writer asks here for the text of each string column whose value Next
    // left NULL: valid UTF-8 (checked against the column's size as a string
    // value is), valid until the next call of Next, or nullopt when the
    // value really is NULL.
    virtual std::optional<std::string_view> Text(size_t column) {
        (void)column;
        return std::nullopt;
    }
};

// Save of a table with `schema` whose rows `rows` gives in order (about
// `rowCount` of them): the same document and the same refusals, without the
// rows being gathered first.
Result<std::string> SaveRows(const Schema& schema, RowSource& rows, size_t rowCount) noexcept;

// Takes the text of a document being saved, a piece at a time and in order.
class TextSink {
public:
    virtual ~TextSink() = default;
    // May throw std::bad_alloc.  A sink that cannot take the text (a write
    // failed) keeps that to itself and ignores the rest: the writer goes on
    // to the end, so that a row it refuses is still found.
    virtual void Write(std::string_view text) = 0;
};

// How much text the writer gathers before handing it to a sink, about.
inline constexpr size_t kSaveChunkBytes = size_t{256} * 1024;

// SaveRows writing the document to `out` as it goes (pieces of about
// kSaveChunkBytes, never the whole document in memory) rather than
// returning it.  On a refusal `out` has been given part of the document.
std::optional<Error> SaveRows(const Schema& schema, RowSource& rows, TextSink& out) noexcept;

}  // namespace comhost::persist
