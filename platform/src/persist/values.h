// How columns of each ADO type are spelled in the document (dt:type and
// rs:dbtype) and how their values are written as attribute text.
#pragma once

#include "persist.h"

#include <optional>
#include <string>
#include <string_view>

namespace comhost::persist::detail {

// The text form a column's values take.
enum class ValueForm {
    Boolean,
    Signed,
    Unsigned,
    Single,
    Double,
    Currency,
    Decimal,
    DateTime,  // yyyy-mm-ddThh:mm:ss[.fffffffff]
    DateOnly,  // yyyy-mm-dd
    TimeOnly,  // hh:mm:ss[.fffffffff]
    String,
    BinHex,
    Base64,
    Guid,
    Chapter,
    None,  // the format has no representation (Variant, IDispatch, ...)
};

ValueForm FormOf(const Column& column) noexcept;

// The ADO type a dt:type / rs:dbtype pair names, given the column's
// rs:fixedlength and rs:long flags.  `dtType` empty (no type given) reads as
// a variable-length string.  Null for a dt:type this reader does not know.
std::optional<DataType> TypeFromXml(std::string_view dtType, std::string_view dbType, bool fixed, bool isLong);

// The dt:type / rs:dbtype that ADO writes for `type`; dtType is empty for
// types without a representation.
struct XmlType {
    std::string_view dtType;
    std::string_view dbType;
};
XmlType CanonicalXmlType(DataType type) noexcept;

// Outcome of reading or checking one value.
enum class ValueStatus { Ok, Syntax, Range };

// Reads the (already decoded) attribute text of a value of `column`.
// Syntax: not valid text for the type; Range: valid text whose value does
// not fit the type or the column (overflow, too long, date out of range).
ValueStatus ParseValue(const Column& column, ValueForm form, std::string_view text, Value& out);

// ParseValue for the kinds most columns hold, without a Value: the Signed
// form (in the column type's range) and the Double form.
ValueStatus ParseSigned(const Column& column, std::string_view text, int64_t& out) noexcept;
ValueStatus ParseDouble(std::string_view text, double& out) noexcept;

// Checks that `value` is the alternative the column's type holds and fits
// the column; `why` tells what is wrong otherwise.
ValueStatus CheckValue(const Column& column, ValueForm form, const Value& value, std::string& why);
// CheckValue of a string value given as UTF-8 text (valid UTF-8) for a
// column whose form is String: that it fits the column's size.
ValueStatus CheckText(const Column& column, std::string_view utf8, std::string& why);

// Writes the text of a value that CheckValue accepted (not NULL).  False only
// for a string holding an unpaired surrogate.
bool FormatValue(ValueForm form, const Value& value, std::string& out);

// ---- the conversions themselves, exposed for tests

bool ParseBoolean(std::string_view text, bool& out) noexcept;

// OLE dates <-> ISO text.  The date forms accept an optional time zone
// designator (Z or +hh:mm), which is ignored: the values carry no zone.
// Accepts yyyy-mm-dd, yyyy-mm-ddThh:mm[:ss[.f...]] and a time alone (on
// 1899-12-30).
ValueStatus ParseDateTime(std::string_view text, double& out) noexcept;
bool FormatDateTime(double date, std::string& out);  // false when out of range
bool FormatDateOnly(double date, std::string& out);
bool FormatTimeOfDay(double date, std::string& out);
// The range of dates an OLE DATE can hold: years 100 to 9999.
inline constexpr double kMinDate = -657434.0;
inline constexpr double kMaxDateExclusive = 2958466.0;

ValueStatus ParseCurrency(std::string_view text, int64_t& scaled) noexcept;
std::string FormatCurrency(int64_t scaled);
ValueStatus ParseDecimal(std::string_view text, Decimal& out) noexcept;
std::string FormatDecimal(const Decimal& d);

bool ParseGuid(std::string_view text, Guid& out) noexcept;
std::string FormatGuid(const Guid& g);

bool ParseHex(std::string_view text, Bytes& out);
bool ParseBase64(std::string_view text, Bytes& out);
std::string FormatHex(const Bytes& b);
std::string FormatBase64(const Bytes& b);

}  // namespace comhost::persist::detail
