#include "data_types.h"

#include <cmath>

namespace comhost::ado {

bool IsDataType(LONG type) noexcept {
    switch (type) {
    case adEmpty: case adTinyInt: case adSmallInt: case adInteger: case adBigInt:
    case adUnsignedTinyInt: case adUnsignedSmallInt: case adUnsignedInt: case adUnsignedBigInt:
    case adSingle: case adDouble: case adCurrency: case adDecimal: case adNumeric: case adBoolean:
    case adError: case adUserDefined: case adVariant: case adIDispatch: case adIUnknown: case adGUID:
    case adDate: case adDBDate: case adDBTime: case adDBTimeStamp: case adBSTR: case adChar:
    case adVarChar: case adLongVarChar: case adWChar: case adVarWChar: case adLongVarWChar:
    case adBinary: case adVarBinary: case adLongVarBinary: case adChapter: case adFileTime:
    case adPropVariant: case adVarNumeric:
        return true;
    default:
        return false;
    }
}

bool CanAppendFieldType(LONG type) noexcept {
    if (!IsDataType(type))
        return false;
    switch (type) {
    case adEmpty: case adChapter: case adPropVariant: case adUserDefined:
        return false;
    default:
        return true;
    }
}

VARTYPE ValueVarType(DataTypeEnum type) noexcept {
    switch (type) {
    case adTinyInt: return VT_I1;
    case adSmallInt: return VT_I2;
    case adInteger: return VT_I4;
    case adBigInt: return VT_I8;
    case adUnsignedTinyInt: return VT_UI1;
    case adUnsignedSmallInt: return VT_UI2;
    case adUnsignedInt: return VT_UI4;
    case adUnsignedBigInt: return VT_UI8;
    case adSingle: return VT_R4;
    case adDouble: return VT_R8;
    case adCurrency: return VT_CY;
    case adDecimal: case adNumeric: case adVarNumeric: return VT_DECIMAL;
    case adBoolean: return VT_BOOL;
    case adError: return VT_ERROR;
    case adDate: case adDBDate: case adDBTime: case adDBTimeStamp: case adFileTime: return VT_DATE;
    case adBSTR: case adChar: case adVarChar: case adLongVarChar: case adWChar: case adVarWChar:
    case adLongVarWChar: case adGUID:
        return VT_BSTR;
    case adBinary: case adVarBinary: case adLongVarBinary: return VT_ARRAY | VT_UI1;
    case adIDispatch: return VT_DISPATCH;
    case adIUnknown: return VT_UNKNOWN;
    default: return VT_EMPTY;
    }
}

bool IsCharacterType(DataTypeEnum type) noexcept {
    switch (type) {
    case adBSTR: case adChar: case adVarChar: case adLongVarChar: case adWChar: case adVarWChar:
    case adLongVarWChar:
        return true;
    default:
        return false;
    }
}

bool IsBinaryType(DataTypeEnum type) noexcept {
    return type == adBinary || type == adVarBinary || type == adLongVarBinary;
}

bool IsLongType(DataTypeEnum type) noexcept {
    return type == adLongVarChar || type == adLongVarWChar || type == adLongVarBinary;
}

bool IsNumericType(DataTypeEnum type) noexcept {
    switch (type) {
    case adTinyInt: case adSmallInt: case adInteger: case adBigInt: case adUnsignedTinyInt:
    case adUnsignedSmallInt: case adUnsignedInt: case adUnsignedBigInt: case adSingle: case adDouble:
    case adCurrency: case adDecimal: case adNumeric: case adVarNumeric:
        return true;
    default:
        return false;
    }
}

bool IsFixedLengthType(DataTypeEnum type) noexcept {
    if (IsNumericType(type))
        return type != adVarNumeric;
    switch (type) {
    case adBoolean: case adError: case adDate: case adDBDate: case adDBTime: case adDBTimeStamp:
    case adFileTime: case adGUID: case adChar: case adWChar: case adBinary:
        return true;
    default:
        return false;
    }
}

namespace {

// Size in bytes of a value of a fixed-length type, as ADO reports DefinedSize.
LONG FixedSize(DataTypeEnum type) noexcept {
    switch (type) {
    case adTinyInt: case adUnsignedTinyInt: return 1;
    case adSmallInt: case adUnsignedSmallInt: case adBoolean: return 2;
    case adInteger: case adUnsignedInt: case adSingle: case adError: return 4;
    case adBigInt: case adUnsignedBigInt: case adDouble: case adCurrency: case adDate: case adFileTime: return 8;
    case adDecimal: case adNumeric: return 19;
    case adDBDate: case adDBTime: return 6;
    case adDBTimeStamp: case adGUID: case adVariant: return 16;
    case adIDispatch: case adIUnknown: case adBSTR: return static_cast<LONG>(sizeof(void*));
    default: return 0;
    }
}

}  // namespace

LONG DefaultDefinedSize(DataTypeEnum type) noexcept {
    if (IsCharacterType(type) || IsBinaryType(type))
        return 0x7FFFFFFF;
    return FixedSize(type);
}

BYTE DefaultPrecision(DataTypeEnum type) noexcept {
    switch (type) {
    case adTinyInt: case adUnsignedTinyInt: return 3;
    case adSmallInt: case adUnsignedSmallInt: return 5;
    case adInteger: case adUnsignedInt: return 10;
    case adBigInt: return 19;
    case adUnsignedBigInt: return 20;
    case adSingle: return 7;
    case adDouble: return 15;
    case adCurrency: return 19;
    case adDecimal: case adNumeric: case adVarNumeric: return 18;
    default: return 255;
    }
}

BYTE DefaultScale(DataTypeEnum type) noexcept {
    switch (type) {
    case adTinyInt: case adUnsignedTinyInt: case adSmallInt: case adUnsignedSmallInt: case adInteger:
    case adUnsignedInt: case adBigInt: case adUnsignedBigInt: case adDecimal: case adNumeric: case adVarNumeric:
        return 0;
    case adCurrency: return 4;
    default: return 255;
    }
}

HRESULT ShapeForAppend(LONG type, LONG definedSize, LONG attributes, ColumnShape& shape) noexcept {
    if (!CanAppendFieldType(type) || definedSize < 0)
        return kErrInvalidArgument;
    if (attributes != adFldUnspecified && (attributes & ~0x7FFFF) != 0)
        return kErrInvalidArgument;
    const auto t = static_cast<DataTypeEnum>(type);
    ColumnShape s;
    s.type = t;
    if (IsCharacterType(t) || IsBinaryType(t)) {
        // Variable types need their size; adBSTR and the long types may be
        // appended without one and then hold values of any length.
        if (definedSize == 0 && t != adBSTR && !IsLongType(t))
            return kErrInvalidArgument;
        s.definedSize = definedSize == 0 ? 0x7FFFFFFF : definedSize;
    } else {
        const LONG fixed = FixedSize(t);
        s.definedSize = definedSize != 0 ? definedSize : fixed;
    }
    LONG attrib = attributes == adFldUnspecified ? adFldUpdatable : attributes;
    if (IsFixedLengthType(t))
        attrib |= adFldFixed;
    if (IsLongType(t))
        attrib |= adFldLong;
    s.attributes = attrib;
    s.precision = DefaultPrecision(t);
    s.scale = DefaultScale(t);
    shape = s;
    return S_OK;
}

namespace {

using u128 = unsigned __int128;

u128 Mantissa(const DECIMAL& d) noexcept {
    return (static_cast<u128>(d.Hi32) << 64) | static_cast<u128>(d.Lo64);
}

void SetMantissa(DECIMAL& d, u128 m) noexcept {
    d.Hi32 = static_cast<ULONG>(m >> 64);
    d.Lo64 = static_cast<ULONGLONG>(m);
}

int DigitCount(u128 m) noexcept {
    int n = 1;
    while (m >= 10) {
        m /= 10;
        ++n;
    }
    return n;
}

}  // namespace

bool FitDecimal(DECIMAL& value, BYTE precision, BYTE scale) noexcept {
    if (precision == 0 || precision > 38)
        return true;   // no precision set: any value fits
    if (scale > precision)
        scale = precision;
    u128 m = Mantissa(value);
    int sc = value.scale;
    if (sc > scale) {
        while (sc > scale + 1) {
            m /= 10;
            --sc;
        }
        const u128 rest = m % 10;
        m /= 10;
        --sc;
        if (rest >= 5)
            ++m;
    }
    int digits = m == 0 ? 1 : DigitCount(m);
    // Digits the value has before the point, plus the scale the column keeps.
    const int intDigits = digits > sc ? digits - sc : 0;
    if (intDigits + scale > precision)
        return false;
    SetMantissa(value, m);
    value.scale = static_cast<BYTE>(sc);
    if (m == 0)
        value.sign = 0;
    return true;
}

bool NormalizeGuidText(std::u16string_view text, std::u16string& normalized) {
    if (text.size() == 38 && text.front() == u'{' && text.back() == u'}')
        text = text.substr(1, 36);
    if (text.size() != 36)
        return false;
    std::u16string out = u"{";
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != u'-')
                return false;
            out += c;
            continue;
        }
        if (c >= u'0' && c <= u'9')
            out += c;
        else if (c >= u'a' && c <= u'f')
            out += static_cast<char16_t>(c - u'a' + u'A');
        else if (c >= u'A' && c <= u'F')
            out += c;
        else
            return false;
    }
    out += u'}';
    normalized = std::move(out);
    return true;
}

namespace {

FieldStatusEnum StatusFromConversion(HRESULT hr) noexcept {
    return hr == DISP_E_OVERFLOW ? adFieldDataOverflow : adFieldCantConvertValue;
}

// Length of a one-dimensional byte array, or -1 when `v` holds none.
LONG ByteArrayLength(const VARIANT& v) noexcept {
    if (V_VT(&v) != (VT_ARRAY | VT_UI1) || !V_ARRAY(&v) || SafeArrayGetDim(V_ARRAY(&v)) != 1)
        return -1;
    LONG lo = 0, hi = -1;
    if (FAILED(SafeArrayGetLBound(V_ARRAY(&v), 1, &lo)) || FAILED(SafeArrayGetUBound(V_ARRAY(&v), 1, &hi)))
        return -1;
    return hi - lo + 1;
}

}  // namespace

HRESULT CoerceFieldValue(const ColumnShape& shape, const VARIANT& in, Variant& out,
                         FieldStatusEnum& status) noexcept {
    status = adFieldOK;
    Variant value;
    HRESULT hr = value.CopyIndFrom(in);
    if (FAILED(hr))
        return hr == E_OUTOFMEMORY ? hr : (status = adFieldCantConvertValue, kErrMultipleStep);

    if (value.vt() == VT_NULL) {
        if (!IsNullable(shape.attributes)) {
            status = adFieldSchemaViolation;
            return kErrMultipleStep;
        }
        out = std::move(value);
        return S_OK;
    }
    if (shape.type == adVariant) {
        out = std::move(value);
        return S_OK;
    }
    const VARTYPE target = ValueVarType(shape.type);
    if (target == VT_EMPTY) {
        status = adFieldCantConvertValue;
        return kErrMultipleStep;
    }

    if (IsBinaryType(shape.type)) {
        const LONG length = ByteArrayLength(*value);
        if (length < 0) {
            status = adFieldCantConvertValue;
            return kErrMultipleStep;
        }
        if (!IsLongType(shape.type) && shape.definedSize > 0 && length > shape.definedSize) {
            status = adFieldDataOverflow;
            return kErrMultipleStep;
        }
        out = std::move(value);
        return S_OK;
    }

    Variant converted;
    if (value.vt() == target) {
        converted = std::move(value);
    } else {
        hr = VariantChangeType(converted.get(), value.get(), 0, target);
        if (hr == E_OUTOFMEMORY)
            return hr;
        if (FAILED(hr)) {
            status = StatusFromConversion(hr);
            return kErrMultipleStep;
        }
    }

    switch (shape.type) {
    case adGUID: {
        std::u16string normalized;
        if (!NormalizeGuidText(View(V_BSTR(converted.get())), normalized)) {
            status = adFieldCantConvertValue;
            return kErrMultipleStep;
        }
        BSTR text = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(normalized.data()),
                                      static_cast<UINT>(normalized.size()));
        if (!text)
            return E_OUTOFMEMORY;
        converted.Clear();
        V_VT(converted.get()) = VT_BSTR;
        V_BSTR(converted.get()) = text;
        break;
    }
    case adDecimal: case adNumeric: case adVarNumeric:
        if (!FitDecimal(V_DECIMAL(converted.get()), shape.precision, shape.scale == 255 ? 0 : shape.scale)) {
            status = adFieldDataOverflow;
            return kErrMultipleStep;
        }
        V_VT(converted.get()) = VT_DECIMAL;   // FitDecimal works on the whole struct
        break;
    case adDBDate:
        V_DATE(converted.get()) = std::trunc(V_DATE(converted.get()));
        break;
    case adDBTime: {
        const double d = V_DATE(converted.get());
        V_DATE(converted.get()) = std::fabs(d - std::trunc(d));
        break;
    }
    default:
        if (IsCharacterType(shape.type) && !IsLongType(shape.type) && shape.type != adBSTR &&
            shape.definedSize > 0 && SysStringLen(V_BSTR(converted.get())) > static_cast<UINT>(shape.definedSize)) {
            status = adFieldDataOverflow;
            return kErrMultipleStep;
        }
        break;
    }
    out = std::move(converted);
    return S_OK;
}

HRESULT CoerceParameterValue(DataTypeEnum type, const VARIANT& in, Variant& out) noexcept {
    Variant value;
    HRESULT hr = value.CopyIndFrom(in);
    if (hr == E_OUTOFMEMORY)
        return hr;
    if (FAILED(hr))
        return kErrDataConversion;
    const VARTYPE target = ValueVarType(type);
    // Parameters hold NULL and "not given" as they are; untyped parameters
    // hold any value.
    if (value.vt() == VT_NULL || value.vt() == VT_EMPTY || type == adVariant || type == adEmpty ||
        target == VT_EMPTY || value.vt() == target) {
        out = std::move(value);
        return S_OK;
    }
    if (IsBinaryType(type)) {
        if (ByteArrayLength(*value) < 0)
            return kErrDataConversion;
        out = std::move(value);
        return S_OK;
    }
    Variant converted;
    hr = VariantChangeType(converted.get(), value.get(), 0, target);
    if (hr == E_OUTOFMEMORY)
        return hr;
    if (FAILED(hr))
        return kErrDataConversion;
    if (type == adGUID) {
        std::u16string normalized;
        if (!NormalizeGuidText(View(V_BSTR(converted.get())), normalized))
            return kErrDataConversion;
    }
    out = std::move(converted);
    return S_OK;
}

LONG ActualSizeOf(const ColumnShape& shape, const VARIANT& value) noexcept {
    switch (V_VT(&value)) {
    case VT_NULL:
    case VT_EMPTY:
        return 0;
    case VT_BSTR:
        if (shape.type != adGUID)
            return static_cast<LONG>(SysStringLen(V_BSTR(&value)));
        return 16;
    case VT_ARRAY | VT_UI1:
        return ByteArrayLength(value);
    default:
        return shape.definedSize;
    }
}

}  // namespace comhost::ado
