/*
 * The host layer's side of the load notifications, for the DllMain shim
 * linked into libraries.
 */
#ifndef COMHOST_MODULE_H
#define COMHOST_MODULE_H

#include <windef.h>

/* The shim reports that the library's DllMain refused DLL_PROCESS_ATTACH.
 * LoadLibrary then unloads the library again and fails with
 * ERROR_DLL_INIT_FAILED, as it does on Windows; a client that loaded the
 * library with dlopen directly keeps it loaded, detached. */
EXTERN_C DECLSPEC_IMPORT void WINAPI ComHostModuleAttachFailed(HINSTANCE hinstDLL);

#endif
