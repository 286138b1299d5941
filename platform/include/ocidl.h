/*
 * Control and connection-point interfaces.
 */
#ifndef COMHOST_OCIDL_H
#define COMHOST_OCIDL_H

#include <oaidl.h>

struct IEnumConnections;
struct IConnectionPoint;
struct IEnumConnectionPoints;
struct IConnectionPointContainer;
struct IProvideClassInfo;
struct IProvideClassInfo2;
struct IPersistStreamInit;
struct IObjectWithSite;
typedef IEnumConnections *PENUMCONNECTIONS, *LPENUMCONNECTIONS;
typedef IConnectionPoint *PCONNECTIONPOINT, *LPCONNECTIONPOINT;
typedef IEnumConnectionPoints *PENUMCONNECTIONPOINTS, *LPENUMCONNECTIONPOINTS;
typedef IConnectionPointContainer *PCONNECTIONPOINTCONTAINER, *LPCONNECTIONPOINTCONTAINER;
typedef IProvideClassInfo *LPPROVIDECLASSINFO;
typedef IProvideClassInfo2 *LPPROVIDECLASSINFO2;
typedef IPersistStreamInit *LPPERSISTSTREAMINIT;

EXTERN_C DECLSPEC_IMPORT const IID IID_IEnumConnections;
EXTERN_C DECLSPEC_IMPORT const IID IID_IConnectionPoint;
EXTERN_C DECLSPEC_IMPORT const IID IID_IEnumConnectionPoints;
EXTERN_C DECLSPEC_IMPORT const IID IID_IConnectionPointContainer;
EXTERN_C DECLSPEC_IMPORT const IID IID_IProvideClassInfo;
EXTERN_C DECLSPEC_IMPORT const IID IID_IProvideClassInfo2;
EXTERN_C DECLSPEC_IMPORT const IID IID_IPersistStreamInit;
EXTERN_C DECLSPEC_IMPORT const IID IID_IObjectWithSite;

typedef struct tagCONNECTDATA {
  IUnknown *pUnk;
  DWORD dwCookie;
} CONNECTDATA, *PCONNECTDATA, *LPCONNECTDATA;

#define CONNECT_E_FIRST MAKE_SCODE(SEVERITY_ERROR, FACILITY_ITF, 0x0200)
#define CONNECT_E_NOCONNECTION (CONNECT_E_FIRST + 0)
#define CONNECT_E_ADVISELIMIT (CONNECT_E_FIRST + 1)
#define CONNECT_E_CANNOTCONNECT (CONNECT_E_FIRST + 2)
#define CONNECT_E_OVERRIDDEN (CONNECT_E_FIRST + 3)

#define GUIDKIND_DEFAULT_SOURCE_DISP_IID 1

MIDL_INTERFACE("B196B287-BAB4-101A-B69C-00AA00341D07")
IEnumConnections : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG cConnections, LPCONNECTDATA rgcd,
                                         ULONG *pcFetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG cConnections) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset(void) = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IEnumConnections **ppEnum) = 0;
};
__CRT_UUID_DECL(IEnumConnections, 0xb196b287, 0xbab4, 0x101a, 0xb6, 0x9c, 0x00, 0xaa, 0x00, 0x34, 0x1d, 0x07)

MIDL_INTERFACE("B196B286-BAB4-101A-B69C-00AA00341D07")
IConnectionPoint : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID *pIID) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(
      IConnectionPointContainer **ppCPC) = 0;
  virtual HRESULT STDMETHODCALLTYPE Advise(IUnknown *pUnkSink, DWORD *pdwCookie) = 0;
  virtual HRESULT STDMETHODCALLTYPE Unadvise(DWORD dwCookie) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections **ppEnum) = 0;
};
__CRT_UUID_DECL(IConnectionPoint, 0xb196b286, 0xbab4, 0x101a, 0xb6, 0x9c, 0x00, 0xaa, 0x00, 0x34, 0x1d, 0x07)

MIDL_INTERFACE("B196B285-BAB4-101A-B69C-00AA00341D07")
IEnumConnectionPoints : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG cConnections, LPCONNECTIONPOINT *ppCP,
                                         ULONG *pcFetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG cConnections) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset(void) = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IEnumConnectionPoints **ppEnum) = 0;
};
__CRT_UUID_DECL(IEnumConnectionPoints, 0xb196b285, 0xbab4, 0x101a, 0xb6, 0x9c, 0x00, 0xaa, 0x00, 0x34, 0x1d, 0x07)

MIDL_INTERFACE("B196B284-BAB4-101A-B69C-00AA00341D07")
IConnectionPointContainer : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints **ppEnum) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint **ppCP) = 0;
};
__CRT_UUID_DECL(IConnectionPointContainer, 0xb196b284, 0xbab4, 0x101a, 0xb6, 0x9c, 0x00, 0xaa, 0x00, 0x34, 0x1d, 0x07)

MIDL_INTERFACE("B196B283-BAB4-101A-B69C-00AA00341D07")
IProvideClassInfo : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo **ppTI) = 0;
};
__CRT_UUID_DECL(IProvideClassInfo, 0xb196b283, 0xbab4, 0x101a, 0xb6, 0x9c, 0x00, 0xaa, 0x00, 0x34, 0x1d, 0x07)

MIDL_INTERFACE("A6BC3AC0-DBAA-11CE-9DE3-00AA004BB851")
IProvideClassInfo2 : public IProvideClassInfo {
  virtual HRESULT STDMETHODCALLTYPE GetGUID(DWORD dwGuidKind, GUID *pGUID) = 0;
};
__CRT_UUID_DECL(IProvideClassInfo2, 0xa6bc3ac0, 0xdbaa, 0x11ce, 0x9d, 0xe3, 0x00, 0xaa, 0x00, 0x4b, 0xb8, 0x51)

MIDL_INTERFACE("7FD52380-4E07-101B-AE2D-08002B2EC713")
IPersistStreamInit : public IPersist {
  virtual HRESULT STDMETHODCALLTYPE IsDirty(void) = 0;
  virtual HRESULT STDMETHODCALLTYPE Load(LPSTREAM pStm) = 0;
  virtual HRESULT STDMETHODCALLTYPE Save(LPSTREAM pStm, BOOL fClearDirty) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER *pCbSize) = 0;
  virtual HRESULT STDMETHODCALLTYPE InitNew(void) = 0;
};
__CRT_UUID_DECL(IPersistStreamInit, 0x7fd52380, 0x4e07, 0x101b, 0xae, 0x2d, 0x08, 0x00, 0x2b, 0x2e, 0xc7, 0x13)

MIDL_INTERFACE("FC4801A3-2BA9-11CF-A229-00AA003D7352")
IObjectWithSite : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetSite(IUnknown *pUnkSite) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSite(REFIID riid, void **ppvSite) = 0;
};
__CRT_UUID_DECL(IObjectWithSite, 0xfc4801a3, 0x2ba9, 0x11cf, 0xa2, 0x29, 0x00, 0xaa, 0x00, 0x3d, 0x73, 0x52)

#endif
