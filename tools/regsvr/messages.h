// Message texts of the results regsvr reports, as the system words them.
#pragma once

#include <windows.h>

#include <string>

namespace regsvr {

// The system's text for an HRESULT (an HRESULT made from a Win32 error code
// gets that code's text); "Unknown error 0x........" when there is none.
std::string MessageOf(HRESULT hr);

}  // namespace regsvr
