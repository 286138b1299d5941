/*
 * The small part of the RPC marshalling header that interface headers
 * generated from IDL rely on.  Nothing is marshalled in-process here; these
 * are the attribute macros and base types such headers use.
 */
#ifndef COMHOST_RPCNDR_H
#define COMHOST_RPCNDR_H

#include <rpc.h>

#define __RPCNDR_H_VERSION__ 475

#define __RPC_FAR
#define __RPC_API
#define __RPC_USER
#define __RPC_STUB
#define __RPC_CALLEE
#define RPC_VAR_ENTRY

#ifdef CONST_VTABLE
#define CONST_VTBL const
#else
#define CONST_VTBL
#endif

typedef unsigned char byte;
typedef unsigned char boolean;
typedef int64_t hyper;
typedef uint64_t MIDL_uhyper;
typedef byte cs_byte;
typedef void *NDR_CCONTEXT;
typedef struct _NDR_SCONTEXT *NDR_SCONTEXT;

#define EXTERN_GUID(itf, l1, s1, s2, c1, c2, c3, c4, c5, c6, c7, c8) \
  EXTERN_C const IID itf

#ifdef __cplusplus
#define MIDL_INTERFACE(x) struct DECLSPEC_UUID(x) DECLSPEC_NOVTABLE
#else
#define MIDL_INTERFACE(x) struct
#endif

#endif
