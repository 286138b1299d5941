// Command parameters, columns and saved recordsets.
#include "ado_fixture.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace nuv::test {
namespace {

CComPtr<Recordset15> ThreeRows() {
    return Fabricate({{u"id", adInteger, 4, adFldUpdatable}, {u"n", adInteger, 4, adFldIsNullable}},
                     {{1, 10}, {2, 20}, {3, 30}});
}

CComPtr<Command15> NewCommand() {
    CComPtr<Command15> command;
    EXPECT_EQ(S_OK, CoCreateInstance(kCLSID_Command, nullptr, CLSCTX_INPROC_SERVER, kIID_Command15,
                                     reinterpret_cast<void**>(command.ReleaseAndGetAddressOf())));
    return command;
}

LONG ParameterCount(Command15* command) {
    CComPtr<ADOParameters> parameters;
    if (FAILED(command->get_Parameters(parameters.ReleaseAndGetAddressOf())))
        return -1;
    LONG count = -1;
    parameters->get_Count(&count);
    return static_cast<LONG>(count);
}

TEST_F(MethodTest, CreateParameterTakesTheFieldValueAndDoesNotAppend) {
    CComPtr<Recordset15> rs = ThreeRows();
    CComPtr<Command15> command = NewCommand();
    CComBSTR name(SysAllocString(OLESTR("p1")));
    _Parameter* parameter = nullptr;
    ASSERT_EQ(S_OK, helper->CommandCreateParameter(command.Get(), name.Get(), adInteger, adParamInput, 4, rs.Get(),
                                                   *Var(u"n"), 1, &parameter));
    ASSERT_NE(nullptr, parameter);
    Var value;
    ASSERT_EQ(S_OK, parameter->get_Value(&value));
    EXPECT_EQ(20, V_I4(&*value));   // the next row's value
    CComBSTR parameterName;
    ASSERT_EQ(S_OK, parameter->get_Name(parameterName.ReleaseAndGetAddressOf()));
    EXPECT_EQ(u"p1", Text(parameterName.Get()));
    EXPECT_EQ(0, ParameterCount(command.Get()));
    EXPECT_EQ(0u, parameter->Release());
    EXPECT_EQ(1u, RefCount(command.Get()));
    EXPECT_EQ(1u, RefCount(rs.Get()));
}

TEST_F(MethodTest, CreateParameterReturnsLookupFailures) {
    CComPtr<Recordset15> rs = ThreeRows();
    CComPtr<Command15> command = NewCommand();
    _Parameter* parameter = nullptr;
    EXPECT_EQ(static_cast<HRESULT>(0x800A0CC1),
              helper->CommandCreateParameter(command.Get(), nullptr, adInteger, adParamInput, 4, rs.Get(),
                                             *Var(u"missing"), 0, &parameter));
    EXPECT_EQ(nullptr, parameter);
}

TEST_F(MethodTest, PutValueFromFieldReadsOneRowAndAdvances) {
    CComPtr<Recordset15> rs = ThreeRows();
    CComPtr<Command15> command = NewCommand();
    CComPtr<_Parameter> parameter;
    ASSERT_EQ(S_OK, command->CreateParameter(nullptr, adInteger, adParamInput, 4, *Var(LONG{-1}), parameter.ReleaseAndGetAddressOf()));

    EXPECT_EQ(S_OK, helper->ParameterPutValueFromField(parameter.Get(), rs.Get(), *Var(u"n"), 0));
    Var value;
    ASSERT_EQ(S_OK, parameter->get_Value(&value));
    EXPECT_EQ(10, V_I4(&*value));
    EXPECT_EQ(2, PositionOf(rs.Get()));

    // Two steps from the second row stop at the end; GetRows then fails and
    // the parameter keeps its value.
    EXPECT_TRUE(FAILED(helper->ParameterPutValueFromField(parameter.Get(), rs.Get(), *Var(u"n"), 2)));
    Var after;
    ASSERT_EQ(S_OK, parameter->get_Value(&after));
    EXPECT_EQ(10, V_I4(&*after));
    EXPECT_EQ(1u, RefCount(rs.Get()));
}

TEST_F(MethodTest, PutValueFromFieldTakesTheFirstOfSeveralFields) {
    CComPtr<Recordset15> rs = ThreeRows();
    CComPtr<Command15> command = NewCommand();
    CComPtr<_Parameter> parameter;
    ASSERT_EQ(S_OK, command->CreateParameter(nullptr, adInteger, adParamInput, 4, *Var::Missing(), parameter.ReleaseAndGetAddressOf()));
    // Fields given as an array: "n", then "id".
    SAFEARRAY* names = SafeArrayCreateVector(VT_VARIANT, 0, 2);
    ASSERT_NE(nullptr, names);
    LONG i = 0;
    ASSERT_EQ(S_OK, SafeArrayPutElement(names, &i, &*Var(u"n")));
    i = 1;
    ASSERT_EQ(S_OK, SafeArrayPutElement(names, &i, &*Var(u"id")));
    Var list;
    V_VT(&*list) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(&*list) = names;
    EXPECT_EQ(S_OK, helper->ParameterPutValueFromField(parameter.Get(), rs.Get(), *list, 1));
    Var value;
    ASSERT_EQ(S_OK, parameter->get_Value(&value));
    EXPECT_EQ(20, V_I4(&*value));
    EXPECT_EQ(3, PositionOf(rs.Get()));
}

TEST_F(MethodTest, AddColumnNamesItUpToTheFirstNull) {
    CComPtr<Recordset15> rs = NewRecordset();
    CComBSTR name(SysAllocStringLen(OLESTR("ab\0cd"), 5));
    EXPECT_EQ(S_OK, helper->RecordsetAddColumn(rs.Get(), name.Get(), adInteger, 4, adFldIsNullable));
    CComPtr<ADOFields> fields;
    ASSERT_EQ(S_OK, rs->get_Fields(fields.ReleaseAndGetAddressOf()));
    LONG count = 0;
    ASSERT_EQ(S_OK, fields->get_Count(&count));
    EXPECT_EQ(1, count);
    CComPtr<ADOField> field;
    EXPECT_EQ(S_OK, fields->get_Item(*Var(u"ab"), field.ReleaseAndGetAddressOf()));
}

TEST_F(MethodTest, AddColumnToAnOpenRecordsetRaisesAppendFailureWithDescription) {
    CComPtr<Recordset15> rs = Fabricate({{u"id", adInteger, 4, adFldUnspecified}});
    CComPtr<Recordset15> other = Fabricate({{u"id", adInteger, 4, adFldUnspecified}});
    CComBSTR name(SysAllocString(OLESTR("late")));
    const HRESULT hr = helper->RecordsetAddColumn(rs.Get(), name.Get(), adInteger, 4, adFldUnspecified);
    EXPECT_TRUE(FAILED(hr));
    EXPECT_FALSE(TakeErrorDescription().empty());
    // Appending a second column named like the first one is refused as well.
    CComPtr<Recordset15> closed = NewRecordset();
    CComBSTR id(SysAllocString(OLESTR("id")));
    ASSERT_EQ(S_OK, helper->RecordsetAddColumn(closed.Get(), id.Get(), adInteger, 4, adFldUnspecified));
    EXPECT_TRUE(FAILED(helper->RecordsetAddColumn(closed.Get(), id.Get(), adInteger, 4, adFldUnspecified)));
    EXPECT_EQ(1u, RefCount(rs.Get()));
}

TEST_F(MethodTest, DeleteColumnWorksOnItsOwnCopyOfTheIndex) {
    CComPtr<Recordset15> rs = NewRecordset();
    CComBSTR a(SysAllocString(OLESTR("a"))), b(SysAllocString(OLESTR("b")));
    ASSERT_EQ(S_OK, helper->RecordsetAddColumn(rs.Get(), a.Get(), adInteger, 4, adFldUnspecified));
    ASSERT_EQ(S_OK, helper->RecordsetAddColumn(rs.Get(), b.Get(), adInteger, 4, adFldUnspecified));
    Var index(u"a");
    const BSTR callers = V_BSTR(&*index);
    const LONG liveStrings = ComHostLiveCount(COMHOST_LIVE_BSTRS);
    EXPECT_EQ(S_OK, helper->RecordsetDeleteColumn(rs.Get(), *index));
    // The caller's string is neither freed nor replaced, and the method's own
    // copy is gone again.
    EXPECT_EQ(VT_BSTR, V_VT(&*index));
    EXPECT_EQ(callers, V_BSTR(&*index));
    EXPECT_EQ(liveStrings, ComHostLiveCount(COMHOST_LIVE_BSTRS));
    EXPECT_EQ(u"a", Text(V_BSTR(&*index)));
    CComPtr<ADOFields> fields;
    ASSERT_EQ(S_OK, rs->get_Fields(fields.ReleaseAndGetAddressOf()));
    LONG count = 0;
    ASSERT_EQ(S_OK, fields->get_Count(&count));
    EXPECT_EQ(1, count);
    // A name that is no column: Delete's failure, columns unchanged.
    EXPECT_EQ(static_cast<HRESULT>(0x800A0CC1), helper->RecordsetDeleteColumn(rs.Get(), *Var(u"zz")));
    ASSERT_EQ(S_OK, fields->get_Count(&count));
    EXPECT_EQ(1, count);
    EXPECT_FALSE(TakeErrorDescription().empty());
}

// Runs a test body in a fresh working directory holding data/recordsets.
class LoadFromFileTest : public MethodTest {
protected:
    void SetUp() override {
        MethodTest::SetUp();
        char pattern[] = "/tmp/nuv_load_XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        m_dir = pattern;
        m_previous = std::filesystem::current_path();
        std::filesystem::create_directories(m_dir / "data" / "recordsets");
        std::filesystem::current_path(m_dir);
    }
    void TearDown() override {
        std::filesystem::current_path(m_previous);
        std::filesystem::remove_all(m_dir);
    }
    // Saves a recordset with one column "v" and one row holding value.
    void WriteFile(const std::filesystem::path& dir, const char* name, LONG value) {
        CComPtr<Recordset15> rs = Fabricate({{u"v", adInteger, 4, adFldIsNullable}}, {{value}});
        std::filesystem::create_directories(dir / "data" / "recordsets");
        const std::string path = (dir / "data" / "recordsets" / name).string();
        CComBSTR destination(SysAllocStringLen(nullptr, static_cast<UINT>(path.size())));
        for (size_t i = 0; i < path.size(); ++i)
            destination.Get()[i] = static_cast<OLECHAR>(path[i]);
        CComPtr<_ADORecordset> full;
        ASSERT_EQ(S_OK, rs->QueryInterface(kIID_Recordset, reinterpret_cast<void**>(full.ReleaseAndGetAddressOf())));
        Var target;
        V_VT(&*target) = VT_BSTR;
        V_BSTR(&*target) = destination.Detach();
        ASSERT_EQ(S_OK, full->Save(*target, adPersistXML));
    }

    std::filesystem::path m_dir, m_previous;
};

TEST_F(LoadFromFileTest, OpensTheNumberedFileUnderTheWorkingDirectory) {
    WriteFile(m_dir, "recordset7.xml", 77);
    WriteFile(m_dir, "recordset0.xml", 0);
    WriteFile(m_dir, "recordset-3.xml", -3);
    for (LONG index : {7, 0, -3}) {
        Recordset15* rs = nullptr;
        ASSERT_EQ(S_OK, helper->RecordsetLoadFromFile(index, &rs)) << index;
        ASSERT_NE(nullptr, rs);
        EXPECT_EQ(index == 7 ? 77 : index, V_I4(&*ValueOf(rs, Var(u"v"))));
        EXPECT_EQ(0u, rs->Release());
    }
}

TEST_F(LoadFromFileTest, MissingFileLeavesAClosedRecordsetForTheCaller) {
    Recordset15* rs = nullptr;
    const HRESULT hr = helper->RecordsetLoadFromFile(42, &rs);
    EXPECT_TRUE(FAILED(hr));
    ASSERT_NE(nullptr, rs);
    LONG state = -1;
    ASSERT_EQ(S_OK, rs->get_State(&state));
    EXPECT_EQ(adStateClosed, state);
    EXPECT_FALSE(TakeErrorDescription().empty());
    EXPECT_EQ(0u, rs->Release());
}

TEST_F(LoadFromFileTest, ReusedRecordsetComesBackWithTheSameReferences) {
    WriteFile(m_dir, "recordset1.xml", 5);
    CComPtr<Recordset15> mine = NewRecordset();
    Recordset15* rs = mine.Get();
    rs->AddRef();   // the variable's own reference, as a caller passes it
    const ULONG before = RefCount(mine.Get());
    ASSERT_EQ(S_OK, helper->RecordsetLoadFromFile(1, &rs));
    CComPtr<IUnknown> a, b;
    ASSERT_EQ(S_OK, rs->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(a.ReleaseAndGetAddressOf())));
    ASSERT_EQ(S_OK, mine->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(b.ReleaseAndGetAddressOf())));
    EXPECT_EQ(a.Get(), b.Get());
    a.Release();
    b.Release();
    EXPECT_EQ(before, RefCount(mine.Get()));
    EXPECT_EQ(5, V_I4(&*ValueOf(rs, Var(u"v"))));
    // Opening it again while open is refused, and it is not closed for that.
    EXPECT_TRUE(FAILED(helper->RecordsetLoadFromFile(1, &rs)));
    LONG state = 0;
    ASSERT_EQ(S_OK, mine->get_State(&state));
    EXPECT_EQ(adStateOpen, state);
    rs->Release();
}

TEST_F(LoadFromFileTest, ThePathFollowsTheWorkingDirectory) {
    const std::filesystem::path other = m_dir / "elsewhere";
    WriteFile(m_dir, "recordset2.xml", 1);
    WriteFile(other, "recordset2.xml", 2);
    for (auto [dir, expected] : {std::pair{m_dir, 1}, std::pair{other, 2}}) {
        std::filesystem::current_path(dir);
        Recordset15* rs = nullptr;
        ASSERT_EQ(S_OK, helper->RecordsetLoadFromFile(2, &rs));
        EXPECT_EQ(expected, V_I4(&*ValueOf(rs, Var(u"v"))));
        rs->Release();
    }
}

TEST_F(LoadFromFileTest, AllocationFailuresAreReportedAndNothingLeaks) {
    WriteFile(m_dir, "recordset3.xml", 3);
    // Fail each allocation in turn until the call gets through.
    // Each attempt either fails with a failure code or, where the failed
    // allocation was one the code can do without, loads the right value; and
    // every object, string and array it made is gone once the caller has
    // released what it was handed.
    for (LONG nth = 1; nth < 400; ++nth) {
        const LONG objects = ComHostLiveCount(COMHOST_LIVE_OBJECTS);
        const LONG strings = ComHostLiveCount(COMHOST_LIVE_BSTRS);
        const LONG arrays = ComHostLiveCount(COMHOST_LIVE_SAFEARRAYS);
        Recordset15* rs = nullptr;
        ComHostFailAllocation(nth);
        const HRESULT hr = helper->RecordsetLoadFromFile(3, &rs);
        const bool failureHappened = !ComHostAllocationFailurePending();
        ComHostFailAllocation(0);
        if (hr == S_OK)
            EXPECT_EQ(3, V_I4(&*ValueOf(rs, Var(u"v")))) << nth;
        else
            EXPECT_TRUE(FAILED(hr)) << nth;
        if (rs)
            rs->Release();
        SetErrorInfo(0, nullptr);
        EXPECT_EQ(objects, ComHostLiveCount(COMHOST_LIVE_OBJECTS)) << nth;
        EXPECT_EQ(strings, ComHostLiveCount(COMHOST_LIVE_BSTRS)) << nth;
        EXPECT_EQ(arrays, ComHostLiveCount(COMHOST_LIVE_SAFEARRAYS)) << nth;
        if (!failureHappened) {
            EXPECT_EQ(S_OK, hr) << "no allocation failed, yet the call failed";
            return;
        }
    }
    ADD_FAILURE() << "the call never succeeded";
}

}  // namespace
}  // namespace nuv::test
