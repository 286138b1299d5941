/*
 * Generic-text mappings.  Without _UNICODE the generic routines are the
 * narrow C library routines.
 */
#ifndef COMHOST_TCHAR_H
#define COMHOST_TCHAR_H

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <winnt.h>

#ifdef _UNICODE
typedef WCHAR _TCHAR;
typedef WCHAR _TSCHAR;
typedef WCHAR _TUCHAR;
typedef WCHAR _TXCHAR;
#define __T(x) u##x
#else
typedef char _TCHAR;
typedef signed char _TSCHAR;
typedef unsigned char _TUCHAR;
typedef char _TXCHAR;
#define __T(x) x
#define _tcslen strlen
#define _tcscpy strcpy
#define _tcsncpy strncpy
#define _tcscat strcat
#define _tcscmp strcmp
#define _tcsncmp strncmp
#define _tcsicmp strcasecmp
#define _tcsnicmp strncasecmp
#define _tcschr strchr
#define _tcsrchr strrchr
#define _tcsstr strstr
#define _tcstol strtol
#define _tcstoul strtoul
#define _ttoi atoi
#define _ttol atol
#define _stprintf sprintf
#define _sntprintf snprintf
#define _vsntprintf vsnprintf
#endif

#define _T(x) __T(x)
#define _TEXT(x) __T(x)

#endif
