/*
 * Remote procedure call base definitions used by interface headers.
 */
#ifndef COMHOST_RPC_H
#define COMHOST_RPC_H

#include <windef.h>
#include <winerror.h>
#include <guiddef.h>

typedef GUID UUID;

typedef LONG RPC_STATUS;
typedef void *RPC_IF_HANDLE;
typedef void *I_RPC_HANDLE;
typedef I_RPC_HANDLE RPC_BINDING_HANDLE;
typedef RPC_BINDING_HANDLE handle_t;
#define RPC_ENTRY
#define RPC_S_OK ERROR_SUCCESS
#define RPC_S_OUT_OF_MEMORY ERROR_NOT_ENOUGH_MEMORY
#define RPC_S_INVALID_ARG ERROR_INVALID_PARAMETER

#endif
