/*
 * Controls of the host layer's registry.
 *
 * The registry lives in one SQLite database file shared by every process that
 * uses it: the file named by the environment variable COMHOST_REGISTRY, else
 * $XDG_DATA_HOME/comhost/registry.db, else ~/.local/share/comhost/registry.db
 * (directories are created on first use).  Each registry call is one
 * transaction; concurrent processes wait for each other.
 *
 * Key names compare without regard to case: each UTF-16 code unit is mapped
 * to its simple Unicode upper case (the C library's tables under C.UTF-8:
 * ASCII, Latin, Greek, Cyrillic and the other scripts with case), the same
 * folding as CompareString with NORM_IGNORECASE.  Names keep the case they
 * were created with.
 */
#ifndef COMHOST_REGISTRY_H
#define COMHOST_REGISTRY_H

#include <windef.h>
#include <winreg.h>

EXTERN_C_START

/* Sets (protect TRUE) or clears the protection of the existing key subkey of
 * root (root may be any open key handle; subkey null or empty: root itself).
 * A protected key, and every key below it, behaves like a key of an
 * administrator seen by an ordinary user: it can be opened and read, but
 * opening it with any write right (KEY_SET_VALUE, KEY_CREATE_SUB_KEY,
 * KEY_CREATE_LINK, DELETE, WRITE_DAC, WRITE_OWNER, so also KEY_WRITE and
 * KEY_ALL_ACCESS), setting or deleting its values, creating keys under it and
 * deleting it all fail with ERROR_ACCESS_DENIED.  Returns ERROR_SUCCESS, or
 * ERROR_FILE_NOT_FOUND when the key does not exist. */
DECLSPEC_IMPORT LSTATUS WINAPI ComHostRegistryProtectKey(HKEY root, LPCWSTR subkey, BOOL protect);

/* Switches this process to the registry database file path (a host path, or
 * a Windows-form path as the host layer's other path functions take it); a
 * null path returns to the file the environment names.  The file is created
 * when missing.  Returns FALSE (last error set), keeping the current file,
 * when the file cannot be opened as a registry.
 *
 * Handles open at the switch belong to the previous file: every operation on
 * them answers ERROR_KEY_DELETED, and RegCloseKey closes them with
 * ERROR_SUCCESS.  The predefined root handles follow the switch. */
DECLSPEC_IMPORT BOOL WINAPI ComHostRegistryUseFile(LPCSTR path);

EXTERN_C_END

#endif
