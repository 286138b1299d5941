// The rows of a recordset opened from a file, kept by column: fixed-size
// values as 8-byte cells, text and binary values one after another in one
// buffer per column, NULLs as bits.  A value becomes a VARIANT only when it
// is read; rows that are changed get VARIANTs of their own (Row::values) and
// no longer read from here.
#pragma once

#include "ado_common.h"
#include "persist/persist.h"

#include <cstdint>
#include <cstring>
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
    // Removes the last row added.
    void DropLastRow() noexcept;
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

// The setters the reader calls for every value, inline.

namespace detail {

template <class T>
uint64_t CellBits(T value) noexcept {
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof value);
    return bits;
}

}  // namespace detail

inline void RowStore::SetText(size_t column, std::string_view utf8) {
    Column& c = m_columns[column];
    SetBytes(c, utf8.data(), utf8.size());
    c.nulls.back() &= ~(uint64_t{1} << ((m_rows - 1) % 64));
}

inline void RowStore::SetCell(Column& c, uint64_t bits) noexcept {
    c.cells.back() = bits;
    c.nulls.back() &= ~(uint64_t{1} << ((m_rows - 1) % 64));
}

inline bool RowStore::SetInteger(size_t column, int64_t value) noexcept {
    Column& c = m_columns[column];
    switch (c.vt) {
    case VT_I1: SetCell(c, detail::CellBits(static_cast<CHAR>(value))); return true;
    case VT_I2: SetCell(c, detail::CellBits(static_cast<SHORT>(value))); return true;
    case VT_I4: SetCell(c, detail::CellBits(static_cast<LONG>(value))); return true;
    case VT_I8: SetCell(c, detail::CellBits(value)); return true;
    default: return false;
    }
}

inline bool RowStore::SetDouble(size_t column, double value) noexcept {
    Column& c = m_columns[column];
    if (c.vt != VT_R8)
        return false;
    SetCell(c, detail::CellBits(value));
    return true;
}

inline bool RowStore::SetDate(size_t column, double days) noexcept {
    Column& c = m_columns[column];
    if (c.vt != VT_DATE)
        return false;
    SetCell(c, detail::CellBits(days));
    return true;
}

inline bool RowStore::SetBoolean(size_t column, bool value) noexcept {
    Column& c = m_columns[column];
    if (c.vt != VT_BOOL)
        return false;
    SetCell(c, detail::CellBits(static_cast<VARIANT_BOOL>(value ? VARIANT_TRUE : VARIANT_FALSE)));
    return true;
}

// The number of UTF-16 code units of valid UTF-8 text.
size_t Utf16Length(std::string_view utf8) noexcept;

}  // namespace comhost::ado
