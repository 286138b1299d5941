#include "row_store.h"

#include "data_types.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace comhost::ado {

namespace {

// The VARIANT type a field of `type` holds (as the file's values are read):
// its value type, except that the kinds a file cannot hold (errors,
// interfaces) are kept as bytes like the unknown ones.
VARTYPE VariantTypeOf(DataTypeEnum type) noexcept {
    const VARTYPE vt = ValueVarType(type);
    return vt == VT_ERROR || vt == VT_DISPATCH || vt == VT_UNKNOWN ? VARTYPE{VT_EMPTY} : vt;
}

// The GUID text "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" of bytes in Windows
// memory order.
std::string GuidText(const persist::Guid& g) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out = "{";
    auto hex = [&](uint8_t b) {
        out += digits[b >> 4];
        out += digits[b & 15];
    };
    for (int i = 3; i >= 0; --i)
        hex(g.bytes[static_cast<size_t>(i)]);
    out += '-';
    hex(g.bytes[5]);
    hex(g.bytes[4]);
    out += '-';
    hex(g.bytes[7]);
    hex(g.bytes[6]);
    out += '-';
    hex(g.bytes[8]);
    hex(g.bytes[9]);
    out += '-';
    for (size_t i = 10; i < 16; ++i)
        hex(g.bytes[i]);
    out += '}';
    return out;
}

// UTF-8 (valid) to UTF-16 into `out`, which has room for Utf16Length units.
void WidenUtf8(std::string_view s, char16_t* out) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* end = p + s.size();
    while (p < end) {
        const unsigned b = *p;
        if (b < 0x80) {
            *out++ = static_cast<char16_t>(b);
            ++p;
        } else if (b < 0xE0) {
            *out++ = static_cast<char16_t>(((b & 0x1F) << 6) | (p[1] & 0x3F));
            p += 2;
        } else if (b < 0xF0) {
            *out++ = static_cast<char16_t>(((b & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F));
            p += 3;
        } else {
            const uint32_t cp =
                ((b & 0x07) << 18) | ((p[1] & 0x3Fu) << 12) | ((p[2] & 0x3Fu) << 6) | (p[3] & 0x3Fu);
            *out++ = static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            *out++ = static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
            p += 4;
        }
    }
}

}  // namespace

size_t Utf16Length(std::string_view utf8) noexcept {
    size_t n = 0;
    for (char c : utf8) {
        const auto b = static_cast<unsigned char>(c);
        n += (b & 0xC0) != 0x80;
        n += b >= 0xF0;
    }
    return n;
}

RowStore::RowStore(const std::vector<DataTypeEnum>& types) : m_columns(types.size()) {
    for (size_t i = 0; i < types.size(); ++i) {
        Column& c = m_columns[i];
        c.vt = VariantTypeOf(types[i]);
        c.variable = c.vt == VT_BSTR || c.vt == (VT_ARRAY | VT_UI1) || c.vt == VT_DECIMAL || c.vt == VT_EMPTY;
    }
}

void RowStore::Reserve(size_t rows) {
    for (Column& c : m_columns) {
        if (c.variable) {
            c.ends.reserve(rows);
            if (m_rows > 0 && rows > m_rows) {
                // A tenth more than the average so far, so that the text is
                // seldom moved; the byte offsets stop at 4 GB anyway.
                const double perRow = static_cast<double>(c.bytes.size()) / static_cast<double>(m_rows);
                const double expected = perRow * static_cast<double>(rows) * 1.1;
                c.bytes.reserve(static_cast<size_t>(std::min(expected, double{std::numeric_limits<uint32_t>::max()})));
            }
        } else {
            c.cells.reserve(rows);
        }
        c.nulls.reserve(rows / 64 + 1);
    }
}

size_t RowStore::AddRow() {
    const size_t row = m_rows;
    // NULL bits come 64 rows at a time, all set: a value clears its row's.
    if (row % 64 == 0) {
        for (Column& c : m_columns)
            c.nulls.push_back(~uint64_t{0});
    }
    for (Column& c : m_columns) {
        if (c.variable) {
            if (c.bytes.size() > std::numeric_limits<uint32_t>::max())
                throw std::bad_alloc();
            c.ends.push_back(static_cast<uint32_t>(c.bytes.size()));
        } else {
            c.cells.push_back(0);
        }
    }
    ++m_rows;
    return row;
}

void RowStore::DropLastRow() noexcept {
    if (m_rows == 0)
        return;
    const size_t row = --m_rows;
    for (Column& c : m_columns) {
        if (c.variable) {
            c.ends.pop_back();
            c.bytes.resize(c.ends.empty() ? 0 : c.ends.back());
        } else {
            c.cells.pop_back();
        }
        // The row's NULL bit as AddRow leaves it, or its block with it.
        if (row % 64 == 0)
            c.nulls.pop_back();
        else
            c.nulls.back() |= uint64_t{1} << (row % 64);
    }
}

void RowStore::SetBytes(Column& c, const void* data, size_t size) {
    if (size > std::numeric_limits<uint32_t>::max() - c.bytes.size())
        throw std::bad_alloc();
    const auto* p = static_cast<const char*>(data);
    c.bytes.insert(c.bytes.end(), p, p + size);
    c.ends.back() = static_cast<uint32_t>(c.bytes.size());
}

bool RowStore::Set(size_t column, const persist::Value& value) {
    Column& c = m_columns[column];
    if (persist::IsNull(value))
        return true;
    if (const auto* b = std::get_if<bool>(&value))
        return SetBoolean(column, *b);
    if (const auto* i = std::get_if<int64_t>(&value))
        return SetInteger(column, *i);
    if (const auto* d = std::get_if<double>(&value))
        return SetDouble(column, *d);
    if (const auto* date = std::get_if<persist::Date>(&value))
        return SetDate(column, date->days);
    uint64_t bits = 0;
    auto put = [&](auto v) { bits = detail::CellBits(v); };
    if (const auto* u = std::get_if<uint64_t>(&value)) {
        switch (c.vt) {
        case VT_UI1: put(static_cast<BYTE>(*u)); break;
        case VT_UI2: put(static_cast<USHORT>(*u)); break;
        case VT_UI4: put(static_cast<ULONG>(*u)); break;
        case VT_UI8: put(*u); break;
        default: return false;
        }
    } else if (const auto* f = std::get_if<float>(&value)) {
        if (c.vt != VT_R4)
            return false;
        put(*f);
    } else if (const auto* cy = std::get_if<persist::Currency>(&value)) {
        if (c.vt != VT_CY)
            return false;
        put(cy->scaled);
    } else if (const auto* dec = std::get_if<persist::Decimal>(&value)) {
        if (c.vt != VT_DECIMAL)
            return false;
        DECIMAL d{};
        d.Hi32 = dec->hi32;
        d.Lo64 = dec->lo64;
        d.scale = dec->scale;
        d.sign = dec->negative ? DECIMAL_NEG : 0;
        SetBytes(c, &d, sizeof d);
    } else if (const auto* bytes = std::get_if<persist::Bytes>(&value)) {
        if (c.vt != (VT_ARRAY | VT_UI1))
            return false;
        SetBytes(c, bytes->data(), bytes->size());
    } else if (const auto* g = std::get_if<persist::Guid>(&value)) {
        if (c.vt != VT_BSTR)
            return false;
        const std::string text = GuidText(*g);
        SetBytes(c, text.data(), text.size());
    } else {
        // Strings come as UTF-8 through SetText.
        return false;
    }
    if (!c.variable)
        SetCell(c, bits);
    else
        c.nulls.back() &= ~(uint64_t{1} << ((m_rows - 1) % 64));
    return true;
}

HRESULT RowStore::Get(size_t row, size_t column, VARIANT* out) const noexcept {
    const Column& c = m_columns[column];
    if ((c.nulls[row / 64] >> (row % 64)) & 1) {
        V_VT(out) = VT_NULL;
        return S_OK;
    }
    if (!c.variable) {
        std::memcpy(&V_UI8(out), &c.cells[row], sizeof(uint64_t));
        V_VT(out) = c.vt;
        return S_OK;
    }
    const size_t begin = row == 0 ? 0 : c.ends[row - 1];
    const size_t size = c.ends[row] - begin;
    const char* data = c.bytes.data() + begin;
    switch (c.vt) {
    case VT_BSTR: {
        const std::string_view text(data, size);
        const size_t units = Utf16Length(text);
        BSTR s = SysAllocStringLen(nullptr, static_cast<UINT>(units));
        if (!s)
            return E_OUTOFMEMORY;
        WidenUtf8(text, reinterpret_cast<char16_t*>(s));
        V_VT(out) = VT_BSTR;
        V_BSTR(out) = s;
        return S_OK;
    }
    case VT_DECIMAL: {
        DECIMAL d;
        std::memcpy(&d, data, sizeof d);
        V_DECIMAL(out) = d;
        V_VT(out) = VT_DECIMAL;
        return S_OK;
    }
    case VT_ARRAY | VT_UI1: {
        SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(size));
        if (!array)
            return E_OUTOFMEMORY;
        if (size != 0) {
            void* target = nullptr;
            if (FAILED(SafeArrayAccessData(array, &target))) {
                SafeArrayDestroy(array);
                return E_UNEXPECTED;
            }
            std::memcpy(target, data, size);
            SafeArrayUnaccessData(array);
        }
        V_VT(out) = VT_ARRAY | VT_UI1;
        V_ARRAY(out) = array;
        return S_OK;
    }
    default:
        V_VT(out) = VT_NULL;
        return S_OK;
    }
}

bool RowStore::GetText(size_t row, size_t column, std::string_view& text) const noexcept {
    const Column& c = m_columns[column];
    if (c.vt != VT_BSTR || ((c.nulls[row / 64] >> (row % 64)) & 1))
        return false;
    const size_t begin = row == 0 ? 0 : c.ends[row - 1];
    text = std::string_view(c.bytes.data() + begin, c.ends[row] - begin);
    return true;
}

bool RowStore::GetValue(size_t row, size_t column, persist::Value& out) const {
    const Column& c = m_columns[column];
    if ((c.nulls[row / 64] >> (row % 64)) & 1) {
        out = std::monostate{};
        return true;
    }
    if (c.variable) {
        if (c.vt != VT_BSTR)
            return false;
        const size_t begin = row == 0 ? 0 : c.ends[row - 1];
        const std::string_view text(c.bytes.data() + begin, c.ends[row] - begin);
        auto* target = std::get_if<std::u16string>(&out);
        if (!target)
            target = &out.emplace<std::u16string>();
        target->resize(Utf16Length(text));
        WidenUtf8(text, target->data());
        return true;
    }
    const uint64_t bits = c.cells[row];
    auto as = [&](auto v) {
        std::memcpy(&v, &bits, sizeof v);
        return v;
    };
    switch (c.vt) {
    case VT_BOOL: out = as(VARIANT_BOOL{}) != VARIANT_FALSE; return true;
    case VT_I1: out = static_cast<int64_t>(as(CHAR{})); return true;
    case VT_I2: out = static_cast<int64_t>(as(SHORT{})); return true;
    case VT_I4: out = static_cast<int64_t>(as(LONG{})); return true;
    case VT_I8: out = as(int64_t{}); return true;
    case VT_UI1: out = static_cast<uint64_t>(as(BYTE{})); return true;
    case VT_UI2: out = static_cast<uint64_t>(as(USHORT{})); return true;
    case VT_UI4: out = static_cast<uint64_t>(as(ULONG{})); return true;
    case VT_UI8: out = as(uint64_t{}); return true;
    case VT_R4: out = as(float{}); return true;
    case VT_R8: out = as(double{}); return true;
    case VT_CY: out = persist::Currency{as(int64_t{})}; return true;
    case VT_DATE: out = persist::Date{as(double{})}; return true;
    default: return false;
    }
}

}  // namespace comhost::ado
