/*
 * Test controls of the host layer.  Exported from libcomhost for test
 * programs; product code never calls them.
 *
 * Allocation failures.  The counted allocations are: task memory
 * (CoTaskMemAlloc, CoTaskMemRealloc, IMalloc::Alloc/Realloc), BSTRs,
 * HeapAlloc and HeapReAlloc, the product's C++ operator new (which the DllMain
 * shim, or comhost_testheap in test programs, routes to the process heap),
 * and the initialisation of critical sections by
 * InitializeCriticalSectionAndSpinCount and InitializeCriticalSectionEx.
 * The count is process-wide.  Every counted attempt, whether it fails or
 * not, advances ComHostAllocationCount.
 */
#ifndef COMHOST_TESTING_H
#define COMHOST_TESTING_H

#include <windef.h>

EXTERN_C_START

/* Makes the nth counted allocation attempt from now on fail (1 = the next
 * one), once; the attempts after it succeed again.  0 or a negative value
 * disarms a pending failure. */
DECLSPEC_IMPORT void WINAPI ComHostFailAllocation(LONG nth);

/* Makes every counted allocation attempt from the nth one on fail, until
 * ComHostFailAllocation(0) disarms it.  0 or a negative value disarms. */
DECLSPEC_IMPORT void WINAPI ComHostFailAllocationsFrom(LONG nth);

/* Number of counted allocation attempts made since the process started. */
DECLSPEC_IMPORT LONG WINAPI ComHostAllocationCount(void);

/* TRUE while an injected failure is armed and has not happened yet. */
DECLSPEC_IMPORT BOOL WINAPI ComHostAllocationFailurePending(void);

/* What GetVersionExA/W and GetVersion report from now on.  The default is
 * the NT family (platform id 2), version 6.2, build 9200; all zeros, or
 * ComHostResetVersion, restore it.  From C++ the build number may be left
 * out (it is then reported as 0). */
#ifdef __cplusplus
#define COMHOST_DEFAULT_ARG(value) = value
#else
#define COMHOST_DEFAULT_ARG(value)
#endif
DECLSPEC_IMPORT void WINAPI ComHostSetVersion(DWORD dwPlatformId, DWORD dwMajorVersion,
                                              DWORD dwMinorVersion,
                                              DWORD dwBuildNumber COMHOST_DEFAULT_ARG(0));
DECLSPEC_IMPORT void WINAPI ComHostResetVersion(void);

/* Overrides the system ANSI and OEM code pages (GetACP, GetOEMCP, CP_ACP,
 * CP_OEMCP and the DBCS character functions).  0 returns to the value taken
 * from the environment variables COMHOST_ACP and COMHOST_OEMCP (default 1252,
 * and the OEM page that belongs to the ANSI page).  Returns FALSE, changing
 * nothing, for a code page the host layer does not support. */
DECLSPEC_IMPORT BOOL WINAPI ComHostSetSystemCodePages(UINT acp, UINT oemcp);

/* Overrides the user and system default locale (GetUserDefaultLCID,
 * GetSystemDefaultLCID, the initial locale of new threads).  0 returns to the
 * value of the environment variable COMHOST_LCID (hexadecimal, default
 * 0x0409).  Returns FALSE for an unknown locale. */
DECLSPEC_IMPORT BOOL WINAPI ComHostSetDefaultLocale(LCID lcid);

/* Loads a type library from an image in memory (the bytes of a .tlb), as
 * LoadTypeLib would from a file.  For tests and fuzzing of the reader. */
struct ITypeLib;
DECLSPEC_IMPORT HRESULT WINAPI ComHostLoadTypeLibFromMemory(const BYTE *data, SIZE_T size,
                                                            struct ITypeLib **pptlib);

EXTERN_C_END

#endif
