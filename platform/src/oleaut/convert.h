// The conversion engine behind VariantChangeType and the Var* functions.
// Sources are by-value VARIANTs (no VT_BYREF, no VT_ARRAY) that the engine
// only reads; results are new values that the caller owns.
#pragma once

#include "numeric.h"

namespace comhost::oleaut {

struct ConvertOptions {
  LCID lcid = 0;
  ULONG var_flags = 0;     // VAR_* flags: date/time only, local booleans
  bool alpha_bool = true;  // booleans become "True"/"False" rather than "-1"/"0"
};

// Integer targets (I1, UI1, I2, UI2, I4, UI4, I8, UI8, INT, UINT): the
// value rounded half to even and checked against the target's range.
HRESULT ConvertToInteger(const VARIANT &src, VARTYPE target, i128 *out);
HRESULT ConvertToR8(const VARIANT &src, double *out);
HRESULT ConvertToR4(const VARIANT &src, float *out);
HRESULT ConvertToCy(const VARIANT &src, LONGLONG *out);
HRESULT ConvertToDecimal(const VARIANT &src, DecimalValue *out);
HRESULT ConvertToBool(const VARIANT &src, VARIANT_BOOL *out);
HRESULT ConvertToDate(const VARIANT &src, const ConvertOptions &options, double *out);
HRESULT ConvertToBstr(const VARIANT &src, const ConvertOptions &options, BSTR *out);

// Converts a scalar to type vt (not an object or array type).  On success
// *out holds the new value; on failure *out is untouched.
HRESULT ConvertScalar(const VARIANT &src, VARTYPE vt, const ConvertOptions &options, VARIANT *out);

// The value of an object's default member (DISPID_VALUE, property get).
HRESULT GetDefaultValue(IDispatch *object, LCID lcid, VARIANT *out);

}  // namespace comhost::oleaut
