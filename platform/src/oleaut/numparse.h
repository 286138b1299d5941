// The number scanner shared by VarParseNumFromStr and the Var*FromStr
// conversions.  Text follows the en-US conventions: '.' decimal point,
// ',' thousands separator, '$' currency, "&H"/"&O" hexadecimal and octal.
#pragma once

#include "numeric.h"

namespace comhost::oleaut {

struct ParsedNumber {
  DigitString decimal;  // the value when base_shift is 0
  int base_shift = 0;   // 3 for octal, 4 for hexadecimal
  BYTE radix_digits[DigitString::kCapacity] = {};
  int radix_count = 0;  // significant digits, leading zeros skipped
  ULONG out_flags = 0;  // NUMPRS_* found, NUMPRS_NEG
  int chars_used = 0;
};

// Scans a number at the start of `text` with the NUMPRS_* features in
// `in_flags`.  DISP_E_TYPEMISMATCH when no digits were found or a
// parenthesis was left open.
HRESULT ScanNumber(const OLECHAR *text, ULONG in_flags, ParsedNumber *out);

// Scans the whole string with every feature allowed; characters other than
// trailing blanks after the number give DISP_E_TYPEMISMATCH.
HRESULT ParseNumberText(const OLECHAR *text, ParsedNumber *out);

// The hexadecimal or octal digits as an unsigned 64-bit pattern.  False
// when more than 64 bits are needed.
bool RadixValue(const ParsedNumber &pn, ULONGLONG *out);

// A hexadecimal or octal literal read as Basic reads it: the pattern is a
// 16-bit, 32-bit or 64-bit signed integer, whichever is the smallest that
// holds it ("&HFFFF" is -1).
LONGLONG RadixLiteralValue(ULONGLONG pattern);

bool IsBlank(OLECHAR c);

}  // namespace comhost::oleaut
