// The rows of a recordset opened from a file, kept by column: fixed-size
// values as 8-byte cells, text and binary values one after another in one
// buffer per column, NULLs as bits.  A value becomes a VARIANT only when it
// is read; rows that are changed get VARIANTs of their own (Row::values) and
// no longer read from here.
#pragma once

#include "ado_common.h"
#include "persist/persist.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace comhost::ado {

class RowStore {
public:
    // One column per field, of the field's type.
    explicit RowStore(const std::vector<DataTypeEnum>& types);

    size_t ColumnCount() const noexcept { return m_columns.size(); }
    size_t RowCount() const noexcept { return m_rows; }
    // Room for `rows` rows in all, their text and binary values about as
    // long as those of the rows so far.
    void Reserve(size_t rows);

    // A new row with every value NULL; returns its index.  The values of a
    // row are set before the next row is added.  Throws std::bad_alloc.
    size_t AddRow();
    // Sets a value of the last row; false when the value has no form here
    // (the caller then keeps the row as VARIANTs).
    bool Set(size_t column, const persist::Value& value);
    // Sets a string value of the last row from UTF-8 text.
    void SetText(size_t column, std::string_view utf8);
    // Set for the kinds most columns hold, without a persist::Value.
    bool SetInteger(size_t column, int64_t value) noexcept;  // the signed integers
    bool SetDouble(size_t column, double value) noexcept;
    bool SetDate(size_t column, double days) noexcept;
    bool SetBoolean(size_t column, bool value) noexcept;

    // The value as a new VARIANT in `out` (which holds nothing).
    HRESULT Get(size_t row, size_t column, VARIANT* out) const noexcept;
    // The value in the persistence library's form, for numbers, dates,
    // booleans and text (reusing the storage `out` holds); false for the
    // other kinds, which are read with Get.  Throws std::bad_alloc.
    bool GetValue(size_t row, size_t column, persist::Value& out) const;
    // A value of a text column (string and GUID fields) as the UTF-8 it is
    // kept in: false for NULL, and for columns of other kinds.
    bool GetText(size_t row, size_t column, std::string_view& text) const noexcept;

private:
    struct Column {
        VARTYPE vt = VT_EMPTY;
        bool variable = false;              // text, binary and decimals: in `bytes`
        std::vector<uint64_t> cells;        // fixed-size values, one per row
        std::vector<uint32_t> ends;         // variable ones: end of each row's bytes
        std::vector<char> bytes;
        std::vector<uint64_t> nulls;        // one bit per row
    };
    void SetBytes(Column& c, const void* data, size_t size);
    // Sets a fixed-size value of the last row.
    void SetCell(Column& c, uint64_t bits) noexcept;

    std::vector<Column> m_columns;
    size_t m_rows = 0;
};

// The number of UTF-16 code units of valid UTF-8 text.
size_t Utf16Length(std::string_view utf8) noexcept;

}  // namespace comhost::ado
