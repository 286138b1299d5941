// The pieces every method shares: the method error, the row mover, the field
// lookup and the conversion of narrow strings to BSTRs.
#pragma once

#include "adohelper/ado.h"
#include "server/com_owners.h"

#include <new>

namespace nuv {

// A raised failure: the result code and, when the failing object reported
// one, its error information.  It ends the method that raised it and becomes
// that method's result; it never leaves the method.
class MethodError {
public:
    MethodError(HRESULT hr, CComPtr<IErrorInfo> info) noexcept : m_hr(hr), m_info(std::move(info)) {}

    HRESULT Result() const noexcept { return m_hr; }
    IErrorInfo* ErrorInfo() const noexcept { return m_info.Get(); }
    // Hands the error information back to the thread, so that a caller that
    // asks after the failed call reads the original description, and returns
    // the result code.
    HRESULT Report() const noexcept;

private:
    HRESULT m_hr;
    CComPtr<IErrorInfo> m_info;
};

// Raises hr, taking the thread's error information when the source declares
// that it reports errors for iid.
[[noreturn]] void RaiseAdoFailure(HRESULT hr, IUnknown* source, REFIID iid);
// Raises hr without error information.
[[noreturn]] void RaisePlainFailure(HRESULT hr);

// Moves the current row by steps (not 0), stopping early at EOF/BOF.
void MoveRows(Recordset15* recordset, LONG steps);

// The Fields collection and the field that Index names.
struct FieldLookup {
    CComPtr<ADOFields> fields;
    CComPtr<ADOField> field;

    // Releases the collection first, then the field.
    void Release() noexcept { fields.Release(); field.Release(); }
    ~FieldLookup() { Release(); }
};
HRESULT LookUpField(Recordset15* recordset, const VARIANT& index, FieldLookup& out) noexcept;

// Converts a narrow string through the system ANSI code page; a null string
// gives a null BSTR.  Raises on failure.
CComBSTR AnsiToBstr(LPCSTR psz);

// Runs a method body that may raise; a raised failure becomes the result.
template <class Body>
HRESULT RunMethod(Body body) noexcept {
    try {
        return body();
    } catch (const MethodError& error) {
        return error.Report();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace nuv
