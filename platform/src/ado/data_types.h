// ADO's data types: which VARIANT type a field of each type holds, the sizes,
// precisions and attributes that a type implies, and the conversion of a
// value that is written into a field or a parameter.
#pragma once

#include "ado_common.h"

namespace comhost::ado {

// Description of one column, as the Fields collection and the persistence
// format know it.
struct ColumnShape {
    DataTypeEnum type = adEmpty;
    LONG definedSize = 0;
    LONG attributes = 0;
    BYTE precision = 255;
    BYTE scale = 255;
};

// True for every DataTypeEnum value (without adArray) that ADO defines.
bool IsDataType(LONG type) noexcept;

// Types that a Fields collection refuses to append: adEmpty, adArray
// combinations, adChapter, adPropVariant and adUserDefined.
bool CanAppendFieldType(LONG type) noexcept;

// The VARIANT type in which values of `type` are held; VT_EMPTY for adVariant
// (any value) and for types no value can have.
VARTYPE ValueVarType(DataTypeEnum type) noexcept;

bool IsCharacterType(DataTypeEnum type) noexcept;   // adChar ... adLongVarWChar, adBSTR
bool IsBinaryType(DataTypeEnum type) noexcept;      // adBinary, adVarBinary, adLongVarBinary
bool IsLongType(DataTypeEnum type) noexcept;        // adLongVarChar, adLongVarWChar, adLongVarBinary
bool IsFixedLengthType(DataTypeEnum type) noexcept; // numbers, dates, GUIDs, booleans ...
bool IsNumericType(DataTypeEnum type) noexcept;     // types with a precision

// The shape of a column that Fields.Append makes from its arguments.  Returns
// S_OK or the ADO failure code that Append reports.
HRESULT ShapeForAppend(LONG type, LONG definedSize, LONG attributes, ColumnShape& shape) noexcept;

// DefinedSize of a column of `type` that names no size: the size in bytes of
// a fixed-length type, 0x7FFFFFFF (any length) for the others.
LONG DefaultDefinedSize(DataTypeEnum type) noexcept;

// Default precision and scale of a type (255 where the type has none).
BYTE DefaultPrecision(DataTypeEnum type) noexcept;
BYTE DefaultScale(DataTypeEnum type) noexcept;

// True when a column with these attributes accepts NULL.  (adFldMayBeNull
// only says that NULL may be read from it.)
inline bool IsNullable(LONG attributes) noexcept { return (attributes & adFldIsNullable) != 0; }

// Converts a value written into a field of this shape.  On success `out`
// holds the value as the field keeps it and the result is S_OK.  When the
// field refuses the value, the result is kErrMultipleStep and `status` says
// why (adFieldCantConvertValue, adFieldDataOverflow, adFieldSchemaViolation
// ...).  E_OUTOFMEMORY is returned as it is.
HRESULT CoerceFieldValue(const ColumnShape& shape, const VARIANT& in, Variant& out, FieldStatusEnum& status) noexcept;

// Converts a value written into a parameter of `type`; kErrDataConversion
// when the value cannot be converted.
HRESULT CoerceParameterValue(DataTypeEnum type, const VARIANT& in, Variant& out) noexcept;

// Number of bytes or characters of a value as Field.ActualSize reports it.
LONG ActualSizeOf(const ColumnShape& shape, const VARIANT& value) noexcept;

// Rounds a DECIMAL to `scale` digits after the point (half away from zero)
// and checks that it has at most `precision` digits in all.  False when it
// does not fit.
bool FitDecimal(DECIMAL& value, BYTE precision, BYTE scale) noexcept;

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" with upper-case digits when `text`
// is a GUID in that form (braces optional, any case); false otherwise.
bool NormalizeGuidText(std::u16string_view text, std::u16string& normalized);

}  // namespace comhost::ado
