// Names of types and error categories, and the error text in UTF-16.
#include "persist.h"

#include "text.h"

namespace comhost::persist {

std::string DataTypeName(DataType type) {
    switch (type) {
    case DataType::Empty: return "adEmpty";
    case DataType::SmallInt: return "adSmallInt";
    case DataType::Integer: return "adInteger";
    case DataType::Single: return "adSingle";
    case DataType::Double: return "adDouble";
    case DataType::Currency: return "adCurrency";
    case DataType::Date: return "adDate";
    case DataType::BSTR: return "adBSTR";
    case DataType::IDispatch: return "adIDispatch";
    case DataType::Error: return "adError";
    case DataType::Boolean: return "adBoolean";
    case DataType::Variant: return "adVariant";
    case DataType::IUnknown: return "adIUnknown";
    case DataType::Decimal: return "adDecimal";
    case DataType::TinyInt: return "adTinyInt";
    case DataType::UnsignedTinyInt: return "adUnsignedTinyInt";
    case DataType::UnsignedSmallInt: return "adUnsignedSmallInt";
    case DataType::UnsignedInt: return "adUnsignedInt";
    case DataType::BigInt: return "adBigInt";
    case DataType::UnsignedBigInt: return "adUnsignedBigInt";
    case DataType::FileTime: return "adFileTime";
    case DataType::GUID: return "adGUID";
    case DataType::Binary: return "adBinary";
    case DataType::Char: return "adChar";
    case DataType::WChar: return "adWChar";
    case DataType::Numeric: return "adNumeric";
    case DataType::UserDefined: return "adUserDefined";
    case DataType::DBDate: return "adDBDate";
    case DataType::DBTime: return "adDBTime";
    case DataType::DBTimeStamp: return "adDBTimeStamp";
    case DataType::Chapter: return "adChapter";
    case DataType::PropVariant: return "adPropVariant";
    case DataType::VarNumeric: return "adVarNumeric";
    case DataType::VarChar: return "adVarChar";
    case DataType::LongVarChar: return "adLongVarChar";
    case DataType::VarWChar: return "adVarWChar";
    case DataType::LongVarWChar: return "adLongVarWChar";
    case DataType::VarBinary: return "adVarBinary";
    case DataType::LongVarBinary: return "adLongVarBinary";
    }
    return "type " + std::to_string(static_cast<int32_t>(type));
}

std::string_view CategoryName(ErrorCategory category) noexcept {
    switch (category) {
    case ErrorCategory::Io: return "Io";
    case ErrorCategory::TooLarge: return "TooLarge";
    case ErrorCategory::NotWellFormed: return "NotWellFormed";
    case ErrorCategory::NotRecordset: return "NotRecordset";
    case ErrorCategory::BadSchema: return "BadSchema";
    case ErrorCategory::UnsupportedType: return "UnsupportedType";
    case ErrorCategory::BadValue: return "BadValue";
    case ErrorCategory::ValueOutOfRange: return "ValueOutOfRange";
    case ErrorCategory::UnknownColumn: return "UnknownColumn";
    case ErrorCategory::BadData: return "BadData";
    case ErrorCategory::InvalidTable: return "InvalidTable";
    case ErrorCategory::OutOfMemory: return "OutOfMemory";
    }
    return "Unknown";
}

std::u16string Error::Description() const { return detail::Utf8ToUtf16(message); }

}  // namespace comhost::persist
