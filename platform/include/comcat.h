/*
 * Component categories: the category manager's registration and
 * information interfaces.
 */
#ifndef COMHOST_COMCAT_H
#define COMHOST_COMCAT_H

#include <objidl.h>

typedef GUID CATID;
typedef REFGUID REFCATID;
#define CATID_NULL GUID_NULL
#define IsEqualCATID(a, b) IsEqualGUID(a, b)

struct IEnumGUID;
struct IEnumCATEGORYINFO;
struct ICatRegister;
struct ICatInformation;
typedef IEnumGUID *LPENUMGUID;
typedef IEnumGUID IEnumCLSID;
typedef IEnumGUID IEnumCATID;
typedef LPENUMGUID LPENUMCLSID;
typedef LPENUMGUID LPENUMCATID;
typedef IEnumCATEGORYINFO *LPENUMCATEGORYINFO;
typedef ICatRegister *LPCATREGISTER;
typedef ICatInformation *LPCATINFORMATION;

EXTERN_C DECLSPEC_IMPORT const CLSID CLSID_StdComponentCategoriesMgr;
EXTERN_C DECLSPEC_IMPORT const IID IID_IEnumGUID;
EXTERN_C DECLSPEC_IMPORT const IID IID_IEnumCATEGORYINFO;
EXTERN_C DECLSPEC_IMPORT const IID IID_ICatRegister;
EXTERN_C DECLSPEC_IMPORT const IID IID_ICatInformation;
#define IID_IEnumCLSID IID_IEnumGUID
#define IID_IEnumCATID IID_IEnumGUID

typedef struct tagCATEGORYINFO {
  CATID catid;
  LCID lcid;
  OLECHAR szDescription[128];
} CATEGORYINFO, *LPCATEGORYINFO;

MIDL_INTERFACE("0002E000-0000-0000-C000-000000000046")
IEnumGUID : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, GUID *rgelt, ULONG *pceltFetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset(void) = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IEnumGUID **ppenum) = 0;
};
__CRT_UUID_DECL(IEnumGUID, 0x0002e000, 0x0000, 0x0000, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)

MIDL_INTERFACE("0002E011-0000-0000-C000-000000000046")
IEnumCATEGORYINFO : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, CATEGORYINFO *rgelt,
                                         ULONG *pceltFetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset(void) = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IEnumCATEGORYINFO **ppenum) = 0;
};
__CRT_UUID_DECL(IEnumCATEGORYINFO, 0x0002e011, 0x0000, 0x0000, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)

MIDL_INTERFACE("0002E012-0000-0000-C000-000000000046")
ICatRegister : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE RegisterCategories(ULONG cCategories,
                                                       CATEGORYINFO rgCategoryInfo[]) = 0;
  virtual HRESULT STDMETHODCALLTYPE UnRegisterCategories(ULONG cCategories, CATID rgcatid[]) = 0;
  virtual HRESULT STDMETHODCALLTYPE RegisterClassImplCategories(REFCLSID rclsid,
                                                                ULONG cCategories,
                                                                CATID rgcatid[]) = 0;
  virtual HRESULT STDMETHODCALLTYPE UnRegisterClassImplCategories(REFCLSID rclsid,
                                                                  ULONG cCategories,
                                                                  CATID rgcatid[]) = 0;
  virtual HRESULT STDMETHODCALLTYPE RegisterClassReqCategories(REFCLSID rclsid,
                                                               ULONG cCategories,
                                                               CATID rgcatid[]) = 0;
  virtual HRESULT STDMETHODCALLTYPE UnRegisterClassReqCategories(REFCLSID rclsid,
                                                                 ULONG cCategories,
                                                                 CATID rgcatid[]) = 0;
};
__CRT_UUID_DECL(ICatRegister, 0x0002e012, 0x0000, 0x0000, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)

MIDL_INTERFACE("0002E013-0000-0000-C000-000000000046")
ICatInformation : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE EnumCategories(LCID lcid,
                                                   IEnumCATEGORYINFO **ppenumCategoryInfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetCategoryDesc(REFCATID rcatid, LCID lcid,
                                                    LPWSTR *pszDesc) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnumClassesOfCategories(ULONG cImplemented,
                                                            const CATID rgcatidImpl[],
                                                            ULONG cRequired,
                                                            const CATID rgcatidReq[],
                                                            IEnumGUID **ppenumClsid) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsClassOfCategories(REFCLSID rclsid, ULONG cImplemented,
                                                        const CATID rgcatidImpl[],
                                                        ULONG cRequired,
                                                        const CATID rgcatidReq[]) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnumImplCategoriesOfClass(REFCLSID rclsid,
                                                              IEnumGUID **ppenumCatid) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnumReqCategoriesOfClass(REFCLSID rclsid,
                                                             IEnumGUID **ppenumCatid) = 0;
};
__CRT_UUID_DECL(ICatInformation, 0x0002e013, 0x0000, 0x0000, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)

#endif
