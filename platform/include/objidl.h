/*
 * Memory allocator, stream, enumerator and persistence interfaces.
 */
#ifndef COMHOST_OBJIDL_H
#define COMHOST_OBJIDL_H

#include <unknwn.h>

struct IMalloc;
struct IEnumUnknown;
struct IEnumString;
struct ISequentialStream;
struct IStream;
struct IPersist;
struct IPersistStream;
typedef IMalloc *LPMALLOC;
typedef IEnumUnknown *LPENUMUNKNOWN;
typedef IEnumString *LPENUMSTRING;
typedef IStream *LPSTREAM;
typedef IPersist *LPPERSIST;
typedef IPersistStream *LPPERSISTSTREAM;

EXTERN_C DECLSPEC_IMPORT const IID IID_IMalloc;
EXTERN_C DECLSPEC_IMPORT const IID IID_IEnumUnknown;
EXTERN_C DECLSPEC_IMPORT const IID IID_IEnumString;
EXTERN_C DECLSPEC_IMPORT const IID IID_ISequentialStream;
EXTERN_C DECLSPEC_IMPORT const IID IID_IStream;
EXTERN_C DECLSPEC_IMPORT const IID IID_IPersist;
EXTERN_C DECLSPEC_IMPORT const IID IID_IPersistStream;

MIDL_INTERFACE("00000002-0000-0000-C000-000000000046")
IMalloc : public IUnknown {
  virtual void *STDMETHODCALLTYPE Alloc(SIZE_T cb) = 0;
  virtual void *STDMETHODCALLTYPE Realloc(void *pv, SIZE_T cb) = 0;
  virtual void STDMETHODCALLTYPE Free(void *pv) = 0;
  virtual SIZE_T STDMETHODCALLTYPE GetSize(void *pv) = 0;
  virtual int STDMETHODCALLTYPE DidAlloc(void *pv) = 0;
  virtual void STDMETHODCALLTYPE HeapMinimize(void) = 0;
};
__CRT_UUID_DECL(IMalloc, 0x00000002, 0x0000, 0x0000, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)

MIDL_INTERFACE("00000100-0000-0000-C000-000000000046")
IEnumUnknown : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, IUnknown **rgelt, ULONG *pceltFetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset(void) = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IEnumUnknown **ppenum) = 0;
};
__CRT_UUID_DECL(IEnumUnknown, 0x00000100, 0x0000, 0x0000, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)

MIDL_INTERFACE("00000101-0000-0000-C000-000000000046")
IEnumString : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, LPOLESTR *rgelt, ULONG *pceltFetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset(void) = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IEnumString **ppenum) = 0;
};
__CRT_UUID_DECL(IEnumString, 0x00000101, 0x0000, 0x0000, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)

MIDL_INTERFACE("0C733A30-2A1C-11CE-ADE5-00AA0044773D")
ISequentialStream : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Read(void *pv, ULONG cb, ULONG *pcbRead) = 0;
  virtual HRESULT STDMETHODCALLTYPE Write(const void *pv, ULONG cb, ULONG *pcbWritten) = 0;
};
__CRT_UUID_DECL(ISequentialStream, 0x0c733a30, 0x2a1c, 0x11ce, 0xad, 0xe5, 0x00, 0xaa, 0x00, 0x44, 0x77, 0x3d)

typedef struct tagSTATSTG {
  LPOLESTR pwcsName;
  DWORD type;
  ULARGE_INTEGER cbSize;
  FILETIME mtime;
  FILETIME ctime;
  FILETIME atime;
  DWORD grfMode;
  DWORD grfLocksSupported;
  CLSID clsid;
  DWORD grfStateBits;
  DWORD reserved;
} STATSTG;

typedef enum tagSTGTY {
  STGTY_STORAGE = 1,
  STGTY_STREAM = 2,
  STGTY_LOCKBYTES = 3,
  STGTY_PROPERTY = 4
} STGTY;

typedef enum tagSTREAM_SEEK {
  STREAM_SEEK_SET = 0,
  STREAM_SEEK_CUR = 1,
  STREAM_SEEK_END = 2
} STREAM_SEEK;

typedef enum tagLOCKTYPE { LOCK_WRITE = 1, LOCK_EXCLUSIVE = 2, LOCK_ONLYONCE = 4 } LOCKTYPE;

MIDL_INTERFACE("0000000C-0000-0000-C000-000000000046")
IStream : public ISequentialStream {
  virtual HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin,
                                         ULARGE_INTEGER *plibNewPosition) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER libNewSize) = 0;
  virtual HRESULT STDMETHODCALLTYPE CopyTo(IStream *pstm, ULARGE_INTEGER cb,
                                           ULARGE_INTEGER *pcbRead,
                                           ULARGE_INTEGER *pcbWritten) = 0;
  virtual HRESULT STDMETHODCALLTYPE Commit(DWORD grfCommitFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE Revert(void) = 0;
  virtual HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb,
                                               DWORD dwLockType) = 0;
  virtual HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb,
                                                 DWORD dwLockType) = 0;
  virtual HRESULT STDMETHODCALLTYPE Stat(STATSTG *pstatstg, DWORD grfStatFlag) = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IStream **ppstm) = 0;
};
__CRT_UUID_DECL(IStream, 0x0000000c, 0x0000, 0x0000, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)

MIDL_INTERFACE("0000010C-0000-0000-C000-000000000046")
IPersist : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetClassID(CLSID *pClassID) = 0;
};
__CRT_UUID_DECL(IPersist, 0x0000010c, 0x0000, 0x0000, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)

MIDL_INTERFACE("00000109-0000-0000-C000-000000000046")
IPersistStream : public IPersist {
  virtual HRESULT STDMETHODCALLTYPE IsDirty(void) = 0;
  virtual HRESULT STDMETHODCALLTYPE Load(IStream *pStm) = 0;
  virtual HRESULT STDMETHODCALLTYPE Save(IStream *pStm, BOOL fClearDirty) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER *pcbSize) = 0;
};
__CRT_UUID_DECL(IPersistStream, 0x00000109, 0x0000, 0x0000, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)

#endif
