// ADO's declarations and the identifiers of the ADO interfaces and classes
// that the object's methods use.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <adoint.h>

namespace nuv {

extern const IID kIID_Recordset15;   // {0000050E-0000-0010-8000-00AA006D2EA4}
extern const IID kIID_Recordset20;   // {0000054F-0000-0010-8000-00AA006D2EA4}
extern const IID kIID_Fields20;      // {0000054D-0000-0010-8000-00AA006D2EA4}
extern const CLSID kCLSID_Recordset; // {00000535-0000-0010-8000-00AA006D2EA4}

}  // namespace nuv
