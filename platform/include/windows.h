/*
 * The Windows API subset of the host layer.  As with the SDK, the COM and
 * automation declarations come along unless WIN32_LEAN_AND_MEAN is defined.
 */
#ifndef COMHOST_WINDOWS_H
#define COMHOST_WINDOWS_H

#include <sal.h>
#include <windef.h>
#include <winbase.h>
#include <winerror.h>
#include <winnls.h>
#include <winuser.h>
#include <winreg.h>

#if !defined(WIN32_LEAN_AND_MEAN) && defined(__cplusplus)
#include <ole2.h>
#endif

#endif
