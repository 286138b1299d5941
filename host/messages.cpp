// Texts of the HRESULTs a script meets, as the system words them.

#include "script_host.h"

namespace comscript {
namespace {

struct Message {
    HRESULT code;
    const char16_t *text;
};

constexpr HRESULT Win32(unsigned long code) { return static_cast<HRESULT>((code & 0xFFFF) | 0x80070000UL); }

constexpr Message kMessages[] = {
    {E_UNEXPECTED, u"Catastrophic failure"},
    {E_NOTIMPL, u"Not implemented"},
    {E_NOINTERFACE, u"No such interface supported"},
    {E_POINTER, u"Invalid pointer"},
    {E_ABORT, u"Operation aborted"},
    {E_FAIL, u"Unspecified error"},
    {E_OUTOFMEMORY, u"Not enough memory resources are available to complete this operation."},
    {E_INVALIDARG, u"The parameter is incorrect."},
    {E_ACCESSDENIED, u"General access denied error"},
    {CLASS_E_NOAGGREGATION, u"Class does not support aggregation (or class object is remote)"},
    {CLASS_E_CLASSNOTAVAILABLE, u"ClassFactory cannot supply requested class"},
    {REGDB_E_CLASSNOTREG, u"Class not registered"},
    {CO_E_NOTINITIALIZED, u"CoInitialize has not been called."},
    {CO_E_CLASSSTRING, u"Invalid class string"},
    {CO_E_DLLNOTFOUND, u"DLL for class not found"},
    {CO_E_ERRORINDLL, u"Error in the DLL"},
    {DISP_E_UNKNOWNINTERFACE, u"Unknown interface."},
    {DISP_E_MEMBERNOTFOUND, u"Member not found."},
    {DISP_E_PARAMNOTFOUND, u"Parameter not found."},
    {DISP_E_TYPEMISMATCH, u"Type mismatch."},
    {DISP_E_UNKNOWNNAME, u"Unknown name."},
    {DISP_E_NONAMEDARGS, u"No named arguments."},
    {DISP_E_BADVARTYPE, u"Bad variable type."},
    {DISP_E_EXCEPTION, u"Exception occurred."},
    {DISP_E_OVERFLOW, u"Out of present range."},
    {DISP_E_BADINDEX, u"Invalid index."},
    {DISP_E_UNKNOWNLCID, u"Unknown language."},
    {DISP_E_ARRAYISLOCKED, u"Memory is locked."},
    {DISP_E_BADPARAMCOUNT, u"Invalid number of parameters."},
    {DISP_E_PARAMNOTOPTIONAL, u"Parameter not optional."},
    {DISP_E_BADCALLEE, u"Invalid callee."},
    {DISP_E_NOTACOLLECTION, u"Does not support a collection."},
    {DISP_E_DIVBYZERO, u"Division by zero."},
    {TYPE_E_ELEMENTNOTFOUND, u"Element not found."},
    {TYPE_E_CANTLOADLIBRARY, u"Error loading type library/DLL."},
    {TYPE_E_LIBNOTREGISTERED, u"Library not registered."},
    {Win32(ERROR_FILE_NOT_FOUND), u"The system cannot find the file specified."},
    {Win32(ERROR_PATH_NOT_FOUND), u"The system cannot find the path specified."},
    {Win32(ERROR_ACCESS_DENIED), u"Access is denied."},
    {Win32(ERROR_MOD_NOT_FOUND), u"The specified module could not be found."},
    {Win32(ERROR_PROC_NOT_FOUND), u"The specified procedure could not be found."},
    {Win32(ERROR_DLL_INIT_FAILED), u"A dynamic link library (DLL) initialization routine failed."},
};

}  // namespace

std::u16string MessageOf(HRESULT hr) {
    for (const Message &m : kMessages) {
        if (m.code == hr) return m.text;
    }
    return {};
}

}  // namespace comscript
