// Memory running out at any allocation: every call reports a failure or
// succeeds, and nothing leaks or is released twice (the sanitizer builds
// check the second part).
#include "ado_test_util.h"

#include <comhost/testing.h>

#include <cstdio>
#include <string>

#include <unistd.h>

namespace adotest {
namespace {

// A client session that touches most of the objects: fabricate, fill, read,
// change the columns of a second recordset, make parameters.  Returns the
// first failure.
HRESULT Session() {
    Ptr<_Recordset> rs;
    HRESULT hr = CoCreateInstance(kCLSID_Recordset, nullptr, 0x15, kIID_Recordset, rs.outVoid());
    if (FAILED(hr))
        return hr;
    Ptr<Fields> fields;
    if (FAILED(hr = rs->get_Fields(fields.out())))
        return hr;
    Str a(u"a"), b(u"b");
    if (!a.get() || !b.get())
        return E_OUTOFMEMORY;
    if (FAILED(hr = fields->_Append(a.get(), adInteger, 0, adFldUnspecified)))
        return hr;
    if (FAILED(hr = fields->_Append(b.get(), adVarWChar, 20, adFldIsNullable)))
        return hr;
    if (FAILED(hr = rs->Open(*Var::Missing(), *Var::Missing(), adOpenUnspecified, adLockUnspecified,
                             adCmdUnspecified)))
        return hr;
    for (LONG i = 0; i < 3; ++i) {
        if (FAILED(hr = rs->AddNew(*Var::Missing(), *Var::Missing())))
            return hr;
        Ptr<Field> field;
        if (FAILED(hr = fields->get_Item(*Var(u"a"), field.out())))
            return hr;
        if (FAILED(hr = field->put_Value(*Var(i))))
            return hr;
        if (FAILED(hr = fields->get_Item(*Var(1), field.out())))
            return hr;
        Var text(u"some text");
        if (text.vt() != VT_BSTR || !V_BSTR(text.get()))
            return E_OUTOFMEMORY;
        if (FAILED(hr = field->put_Value(*text)))
            return hr;
        if (FAILED(hr = rs->Update(*Var::Missing(), *Var::Missing())))
            return hr;
    }
    if (FAILED(hr = rs->MoveFirst()))
        return hr;
    Var rows;
    if (FAILED(hr = rs->GetRows(adGetRowsRest, *Var::Missing(), *Var::Missing(), rows.out())))
        return hr;
    Ptr<_Command> command;
    if (FAILED(hr = CoCreateInstance(kCLSID_Command, nullptr, 0x15, kIID_Command, command.outVoid())))
        return hr;
    Ptr<_Parameter> parameter;
    if (FAILED(hr = command->CreateParameter(a.get(), adVarWChar, adParamInput, 10, *Var(5), parameter.out())))
        return hr;
    Ptr<Parameters> parameters;
    if (FAILED(hr = command->get_Parameters(parameters.out())))
        return hr;
    return parameters->Append(parameter.get());
}

TEST(AllocationFailureTest, EveryAllocationMayFail) {
    ClearError();
    for (LONG nth = 1; nth < 2000; ++nth) {
        ComHostFailAllocation(nth);
        const HRESULT hr = Session();
        const bool failurePending = ComHostAllocationFailurePending() != FALSE;
        ComHostFailAllocation(0);
        ClearError();
        if (failurePending) {
            // The whole session ran without reaching the nth allocation, so
            // every allocation before it has been made to fail once.
            EXPECT_EQ(S_OK, hr);
            EXPECT_GT(nth, 20) << "the session makes more allocations than that";
            return;
        }
        // Memory exhaustion is reported as such or as the ADO failure it caused,
        // never as an unexpected error.
        EXPECT_NE(E_UNEXPECTED, hr) << nth;
    }
    ADD_FAILURE() << "the session never got through";
}

// Saves a fabricated recordset to `path` and opens the file again.
HRESULT SaveAndOpen(const std::u16string& path) {
    Ptr<_Recordset> rs;
    HRESULT hr = CoCreateInstance(kCLSID_Recordset, nullptr, 0x15, kIID_Recordset, rs.outVoid());
    if (FAILED(hr))
        return hr;
    Ptr<Fields> fields;
    if (FAILED(hr = rs->get_Fields(fields.out())))
        return hr;
    Str name(u"name");
    if (!name.get())
        return E_OUTOFMEMORY;
    if (FAILED(hr = fields->_Append(name.get(), adVarWChar, 40, adFldIsNullable)))
        return hr;
    if (FAILED(hr = rs->Open(*Var::Missing(), *Var::Missing(), adOpenUnspecified, adLockUnspecified,
                             adCmdUnspecified)))
        return hr;
    Var field(u"name"), value(u"a value to save");
    if (!V_BSTR(field.get()) || !V_BSTR(value.get()))
        return E_OUTOFMEMORY;
    if (FAILED(hr = rs->AddNew(*field, *value)))
        return hr;
    Var destination(path.c_str());
    if (!V_BSTR(destination.get()))
        return E_OUTOFMEMORY;
    if (FAILED(hr = rs->Save(*destination, adPersistXML)))
        return hr;
    Ptr<_Recordset> back;
    if (FAILED(hr = CoCreateInstance(kCLSID_Recordset, nullptr, 0x15, kIID_Recordset, back.outVoid())))
        return hr;
    Var connection(u"Provider=MSPersist;");
    if (!V_BSTR(connection.get()))
        return E_OUTOFMEMORY;
    if (FAILED(hr = back->Open(*destination, *connection, adOpenUnspecified, adLockUnspecified, adCmdUnspecified)))
        return hr;
    Ptr<Field> read;
    Ptr<Fields> backFields;
    if (FAILED(hr = back->get_Fields(backFields.out())) || FAILED(hr = backFields->get_Item(*Var(0), read.out())))
        return hr;
    Var got;
    if (FAILED(hr = read->get_Value(got.out())))
        return hr;
    // Compared without allocating, while allocations may be failing.
    const std::u16string_view expected = u"a value to save";
    if (got.vt() != VT_BSTR || SysStringLen(V_BSTR(got.get())) != expected.size())
        return E_FAIL;
    return expected.compare(0, expected.size(), reinterpret_cast<const char16_t*>(V_BSTR(got.get())),
                            expected.size()) == 0
               ? S_OK
               : E_FAIL;
}

TEST(AllocationFailureTest, SavingAndOpeningMayFailAnywhere) {
    ClearError();
    const std::string base = "/tmp/ado_alloc_" + std::to_string(getpid()) + "_";
    for (LONG nth = 1; nth < 5000; ++nth) {
        const std::string path = base + std::to_string(nth) + ".xml";
        const std::u16string widePath(path.begin(), path.end());
        ComHostFailAllocation(nth);
        const HRESULT hr = SaveAndOpen(widePath);
        const bool failurePending = ComHostAllocationFailurePending() != FALSE;
        ComHostFailAllocation(0);
        ClearError();
        std::remove(path.c_str());
        // Never a wrong value read back, never an unexpected error.
        EXPECT_NE(E_FAIL, hr) << nth;
        EXPECT_NE(E_UNEXPECTED, hr) << nth;
        if (failurePending) {
            EXPECT_EQ(S_OK, hr);
            return;
        }
    }
    ADD_FAILURE() << "saving and opening never got through";
}

}  // namespace
}  // namespace adotest
