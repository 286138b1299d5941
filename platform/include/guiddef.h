/*
 * GUID and its aliases, DEFINE_GUID and GUID comparison.
 *
 * DEFINE_GUID declares the named GUID; in a translation unit that defines
 * INITGUID before including this header (see initguid.h) it also defines it.
 * Definitions are weak, so several translation units may define the same GUID.
 */
#ifndef GUID_DEFINED
#define GUID_DEFINED
#include <stdint.h>
typedef struct _GUID {
  uint32_t Data1;
  unsigned short Data2;
  unsigned short Data3;
  unsigned char Data4[8];
} GUID;
#endif

#ifndef COMHOST_GUIDDEF_H
#define COMHOST_GUIDDEF_H

#include <string.h>

#ifndef EXTERN_C
#ifdef __cplusplus
#define EXTERN_C extern "C"
#else
#define EXTERN_C extern
#endif
#endif
#ifndef DECLSPEC_SELECTANY
#define DECLSPEC_SELECTANY __attribute__((weak))
#endif
#ifndef DECLSPEC_IMPORT
#define DECLSPEC_IMPORT __attribute__((visibility("default")))
#endif

typedef GUID *LPGUID;
typedef const GUID *LPCGUID;
typedef GUID IID;
typedef IID *LPIID;
typedef GUID CLSID;
typedef CLSID *LPCLSID;
typedef GUID FMTID;
typedef FMTID *LPFMTID;
#define IID_NULL GUID_NULL
#define CLSID_NULL GUID_NULL
#define FMTID_NULL GUID_NULL

#ifdef __cplusplus
#define REFGUID const GUID &
#define REFIID const IID &
#define REFCLSID const IID &
#define REFFMTID const IID &
#else
#define REFGUID const GUID *const
#define REFIID const IID *const
#define REFCLSID const IID *const
#define REFFMTID const IID *const
#endif

#endif /* COMHOST_GUIDDEF_H */

/* DEFINE_GUID is (re)defined on every inclusion so that including initguid.h
 * after this header switches the following DEFINE_GUIDs to definitions. */
#undef DEFINE_GUID
#ifdef INITGUID
#ifdef __cplusplus
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
  EXTERN_C const GUID DECLSPEC_SELECTANY name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}
#else
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
  const GUID DECLSPEC_SELECTANY name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}
#endif
#else
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) EXTERN_C const GUID name
#endif

#ifndef COMHOST_GUIDDEF_FUNCS
#define COMHOST_GUIDDEF_FUNCS

#define DEFINE_OLEGUID(name, l, w1, w2) \
  DEFINE_GUID(name, l, w1, w2, 0xC0, 0, 0, 0, 0, 0, 0, 0x46)

/* The null GUID; defined in libcomhost. */
EXTERN_C DECLSPEC_IMPORT const GUID GUID_NULL;

#ifdef __cplusplus
inline int InlineIsEqualGUID(REFGUID a, REFGUID b) {
  return memcmp(&a, &b, sizeof(GUID)) == 0;
}
inline int IsEqualGUID(REFGUID a, REFGUID b) {
  return memcmp(&a, &b, sizeof(GUID)) == 0;
}
inline bool operator==(REFGUID a, REFGUID b) {
  return IsEqualGUID(a, b) != 0;
}
inline bool operator!=(REFGUID a, REFGUID b) {
  return !(a == b);
}
#define IsEqualIID(a, b) IsEqualGUID(a, b)
#define IsEqualCLSID(a, b) IsEqualGUID(a, b)
#define IsEqualFMTID(a, b) IsEqualGUID(a, b)
#else
#define InlineIsEqualGUID(a, b) (memcmp((a), (b), sizeof(GUID)) == 0)
#define IsEqualGUID(a, b) (memcmp((a), (b), sizeof(GUID)) == 0)
#define IsEqualIID(a, b) IsEqualGUID(a, b)
#define IsEqualCLSID(a, b) IsEqualGUID(a, b)
#define IsEqualFMTID(a, b) IsEqualGUID(a, b)
#endif

#endif /* COMHOST_GUIDDEF_FUNCS */
