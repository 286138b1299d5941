/*
 * File paths between the Windows view and the host file system.
 *
 * The host layer shows host files to Windows-API callers under Windows-form
 * paths: the host path with every "/" written as "\" ("/opt/app/x.so" is
 * "\opt\app\x.so"; relative paths stay relative).  GetModuleFileName reports
 * paths in this form; every function of the host layer that takes a path
 * accepts it, and accepts "/" as well.  A drive prefix ("C:") in a path
 * handed in is dropped and the rest taken from the root; "\\server\share"
 * becomes "//server/share".  Host paths are UTF-8; narrow Windows paths are
 * in the system ANSI code page.
 *
 * The conversions return the length of the result without its terminator.
 * When the buffer is too small (cb/cch 0 included) they return the size the
 * buffer needs, terminator included, and write nothing; they return 0 with
 * the thread's last error set when the path cannot be converted.
 */
#ifndef COMHOST_PATHS_H
#define COMHOST_PATHS_H

#include <windef.h>

EXTERN_C_START

DECLSPEC_IMPORT DWORD WINAPI ComHostPathToHostA(LPCSTR lpPath, char *lpHostPath, DWORD cb);
DECLSPEC_IMPORT DWORD WINAPI ComHostPathToHostW(LPCWSTR lpPath, char *lpHostPath, DWORD cb);
DECLSPEC_IMPORT DWORD WINAPI ComHostPathFromHostA(const char *lpHostPath, LPSTR lpPath, DWORD cb);
DECLSPEC_IMPORT DWORD WINAPI ComHostPathFromHostW(const char *lpHostPath, LPWSTR lpPath, DWORD cch);

EXTERN_C_END

#endif
