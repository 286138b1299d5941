#include "messages.h"

#include <cstdint>
#include <cstdio>

namespace regsvr {
namespace {

struct Message {
    HRESULT code;
    const char *text;
};

constexpr HRESULT Win32(unsigned long code) {
    return static_cast<HRESULT>((code & 0xFFFF) | 0x80070000UL);
}

// The results that loading and registering libraries give in practice.
constexpr Message kMessages[] = {
    {S_OK, "The operation completed successfully."},
    {S_FALSE, "Incorrect function."},
    {E_UNEXPECTED, "Catastrophic failure"},
    {E_NOTIMPL, "Not implemented"},
    {E_NOINTERFACE, "No such interface supported"},
    {E_POINTER, "Invalid pointer"},
    {E_ABORT, "Operation aborted"},
    {E_FAIL, "Unspecified error"},
    {CLASS_E_NOAGGREGATION, "Class does not support aggregation (or class object is remote)"},
    {CLASS_E_CLASSNOTAVAILABLE, "ClassFactory cannot supply requested class"},
    {REGDB_E_READREGDB, "Could not read key from registry"},
    {REGDB_E_WRITEREGDB, "Could not write key to registry"},
    {REGDB_E_CLASSNOTREG, "Class not registered"},
    {CO_E_NOTINITIALIZED, "CoInitialize has not been called."},
    {CO_E_CLASSSTRING, "Invalid class string"},
    {CO_E_DLLNOTFOUND, "DLL for class not found"},
    {CO_E_ERRORINDLL, "Error in the DLL"},
    {DISP_E_EXCEPTION, "Exception occurred."},
    {TYPE_E_REGISTRYACCESS, "Error accessing the OLE registry."},
    {TYPE_E_CANTLOADLIBRARY, "Error loading type library/DLL."},
    {TYPE_E_INVDATAREAD, "Old format or invalid type library."},
    {TYPE_E_ELEMENTNOTFOUND, "Element not found."},
    {Win32(ERROR_INVALID_FUNCTION), "Incorrect function."},
    {Win32(ERROR_FILE_NOT_FOUND), "The system cannot find the file specified."},
    {Win32(ERROR_PATH_NOT_FOUND), "The system cannot find the path specified."},
    {Win32(ERROR_ACCESS_DENIED), "Access is denied."},
    {Win32(ERROR_INVALID_HANDLE), "The handle is invalid."},
    {Win32(ERROR_NOT_ENOUGH_MEMORY), "Not enough memory resources are available to process this command."},
    {Win32(ERROR_INVALID_DATA), "The data is invalid."},
    {Win32(ERROR_OUTOFMEMORY), "Not enough memory resources are available to complete this operation."},
    {Win32(ERROR_READ_FAULT), "The system cannot read from the specified device."},
    {Win32(ERROR_INVALID_PARAMETER), "The parameter is incorrect."},
    {Win32(ERROR_INSUFFICIENT_BUFFER), "The data area passed to a system call is too small."},
    {Win32(ERROR_MOD_NOT_FOUND), "The specified module could not be found."},
    {Win32(ERROR_PROC_NOT_FOUND), "The specified procedure could not be found."},
    {Win32(ERROR_BAD_EXE_FORMAT), "%1 is not a valid Win32 application."},
    {Win32(ERROR_MORE_DATA), "More data is available."},
    {Win32(ERROR_NO_MORE_ITEMS), "No more data is available."},
    {Win32(ERROR_KEY_DELETED), "Illegal operation attempted on a registry key that has been marked for deletion."},
    {Win32(ERROR_DLL_INIT_FAILED), "A dynamic link library (DLL) initialization routine failed."},
    {Win32(ERROR_RESOURCE_DATA_NOT_FOUND), "The specified image file did not contain a resource section."},
    {Win32(ERROR_RESOURCE_TYPE_NOT_FOUND), "The specified resource type cannot be found in the image file."},
    {Win32(ERROR_RESOURCE_NAME_NOT_FOUND), "The specified resource name cannot be found in the image file."},
    {Win32(ERROR_RESOURCE_LANG_NOT_FOUND), "The specified resource language ID cannot be found in the image file."},
};

}  // namespace

std::string MessageOf(HRESULT hr) {
    for (const Message &m : kMessages) {
        if (m.code == hr) return m.text;
    }
    char text[48];
    std::snprintf(text, sizeof(text), "Unknown error 0x%08lX", static_cast<unsigned long>(static_cast<uint32_t>(hr)));
    return text;
}

}  // namespace regsvr
