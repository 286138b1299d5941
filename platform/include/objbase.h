/*
 * The COM runtime: initialisation, task memory, GUID text forms and object
 * creation.
 */
#ifndef COMHOST_OBJBASE_H
#define COMHOST_OBJBASE_H

#include <rpc.h>
#include <rpcndr.h>
#include <basetyps.h>
#include <wtypes.h>
#include <unknwn.h>
#include <objidl.h>

typedef enum tagCOINIT {
  COINIT_APARTMENTTHREADED = 0x2,
  COINIT_MULTITHREADED = 0x0,
  COINIT_DISABLE_OLE1DDE = 0x4,
  COINIT_SPEED_OVER_MEMORY = 0x8
} COINIT;

typedef enum tagREGCLS {
  REGCLS_SINGLEUSE = 0,
  REGCLS_MULTIPLEUSE = 1,
  REGCLS_MULTI_SEPARATE = 2,
  REGCLS_SUSPENDED = 4,
  REGCLS_SURROGATE = 8
} REGCLS;

#define MEMCTX_TASK 1
#define MARSHALINTERFACE_MIN 500
#define CWCSTORAGENAME 32

/* Number of characters, terminator included, of the braced text form of a
 * GUID: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}". */
#define CHARS_IN_GUID 39

typedef struct _COSERVERINFO COSERVERINFO;

typedef struct tagMULTI_QI {
  const IID *pIID;
  IUnknown *pItf;
  HRESULT hr;
} MULTI_QI;

/* Initialisation.  Each thread counts its own initialisations; the first
 * returns S_OK and later ones S_FALSE, and every successful call must be
 * balanced by CoUninitialize.  Asking for a different threading model than
 * the thread already has fails with RPC_E_CHANGED_MODE. */
WINOLEAPI CoInitialize(LPVOID pvReserved);
WINOLEAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
WINOLEAPI_(void) CoUninitialize(void);

/* Task memory. */
WINOLEAPI_(LPVOID) CoTaskMemAlloc(SIZE_T cb);
WINOLEAPI_(LPVOID) CoTaskMemRealloc(LPVOID pv, SIZE_T cb);
WINOLEAPI_(void) CoTaskMemFree(LPVOID pv);
WINOLEAPI CoGetMalloc(DWORD dwMemContext, LPMALLOC *ppMalloc);

/* GUIDs and their text forms. */
WINOLEAPI CoCreateGuid(GUID *pguid);
WINOLEAPI StringFromCLSID(REFCLSID rclsid, LPOLESTR *lplpsz);
WINOLEAPI StringFromIID(REFIID rclsid, LPOLESTR *lplpsz);
WINOLEAPI_(int) StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);
WINOLEAPI CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid);
WINOLEAPI IIDFromString(LPCOLESTR lpsz, LPIID lpiid);
/* ProgIDs: HKEY_CLASSES_ROOT\<ProgID>\CLSID, else the CLSID of the ProgID
 * that HKEY_CLASSES_ROOT\<ProgID>\CurVer names; the host layer's own classes
 * have ProgIDs without registration.  CLSIDFromString takes a ProgID too. */
WINOLEAPI CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid);
WINOLEAPI CLSIDFromProgIDEx(LPCOLESTR lpszProgID, LPCLSID lpclsid);
WINOLEAPI ProgIDFromCLSID(REFCLSID clsid, LPOLESTR *lplpszProgID);

/* Object creation.  The host layer's own classes come first; other classes
 * are in-process servers registered under HKEY_CLASSES_ROOT\CLSID\{clsid}\
 * InprocServer32 (a path, or a bare file name searched for in the client
 * program's directory, the directories of COMHOST_PATH and the working
 * directory).  A library stays loaded until CoFreeUnusedLibraries finds that
 * its DllCanUnloadNow answers S_OK. */
typedef HRESULT(STDAPICALLTYPE *LPFNGETCLASSOBJECT)(REFCLSID, REFIID, LPVOID *);
typedef HRESULT(STDAPICALLTYPE *LPFNCANUNLOADNOW)(void);
WINOLEAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid,
                           LPVOID *ppv);
WINOLEAPI CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID pvReserved, REFIID riid,
                           LPVOID *ppv);
WINOLEAPI_(void) CoFreeUnusedLibraries(void);
WINOLEAPI_(void) CoFreeUnusedLibrariesEx(DWORD dwUnloadDelay, DWORD dwReserved);

/* Entry points that an in-process server library defines.  They are declared
 * with default visibility, so that a library compiled with
 * -fvisibility=hidden exports its definitions.  (The self-registration pair
 * is declared here as well as by the SDK's <olectl.h>, so that a definition
 * is exported whichever header its file includes.) */
EXTERN_C DECLSPEC_EXPORT HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID *ppv);
EXTERN_C DECLSPEC_EXPORT HRESULT STDAPICALLTYPE DllCanUnloadNow(void);
EXTERN_C DECLSPEC_EXPORT HRESULT STDAPICALLTYPE DllRegisterServer(void);
EXTERN_C DECLSPEC_EXPORT HRESULT STDAPICALLTYPE DllUnregisterServer(void);

#endif
