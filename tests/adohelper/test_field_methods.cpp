// Row moves, field lookups and the five field methods against the host
// layer's ADO.
#include "ado_fixture.h"

namespace nuv::test {
namespace {

CComPtr<Recordset15> ThreeRows() {
    return Fabricate({{u"id", adInteger, 4, adFldUpdatable}, {u"n", adInteger, 4, adFldIsNullable}},
                     {{1, 10}, {2, 20}, {3, 30}});
}

TEST_F(MethodTest, WriteWithoutStepsWritesTheCurrentRow) {
    CComPtr<Recordset15> rs = ThreeRows();
    EXPECT_EQ(S_OK, helper->RecordsetWrite(rs.Get(), *Var(u"n"), *Var(LONG{99}), 0));
    EXPECT_EQ(1, PositionOf(rs.Get()));
    EXPECT_EQ(99, V_I4(&*ValueOf(rs.Get(), Var(u"n"))));
    EXPECT_EQ(1u, RefCount(rs.Get()));
}

TEST_F(MethodTest, MissingFieldReturnsItemFailureAndReleasesTheCollection) {
    CComPtr<Recordset15> rs = ThreeRows();
    CComPtr<ADOFields> fields;
    ASSERT_EQ(S_OK, rs->get_Fields(fields.ReleaseAndGetAddressOf()));
    const ULONG fieldsRefs = RefCount(fields.Get());
    EXPECT_EQ(static_cast<HRESULT>(0x800A0CC1), helper->RecordsetWrite(rs.Get(), *Var(u"nope"), *Var(LONG{1}), 0));
    EXPECT_EQ(fieldsRefs, RefCount(fields.Get()));
    EXPECT_EQ(static_cast<HRESULT>(0x800A0CC1), helper->RecordsetWrite(rs.Get(), *Var(LONG{9}), *Var(LONG{1}), 0));
}

TEST_F(MethodTest, RefusedValueReturnsPutValueFailure) {
    CComPtr<Recordset15> rs = ThreeRows();
    EXPECT_TRUE(FAILED(helper->RecordsetWrite(rs.Get(), *Var(u"id"), *Var(u"not a number"), 0)));
    EXPECT_EQ(1, V_I4(&*ValueOf(rs.Get(), Var(u"id"))));
}

TEST_F(MethodTest, PrecisionAndScaleAreSetWithoutMoving) {
    // Precision and scale are properties of a fabricated column before Open.
    CComPtr<Recordset15> rs = NewRecordset();
    CComPtr<ADOFields> fields;
    ASSERT_EQ(S_OK, rs->get_Fields(fields.ReleaseAndGetAddressOf()));
    BSTR name = SysAllocString(OLESTR("amount"));
    ASSERT_EQ(S_OK, fields->_Append(name, adNumeric, 0, adFldUnspecified));
    SysFreeString(name);
    EXPECT_EQ(S_OK, helper->SetFieldPrecisionProperty(rs.Get(), *Var(u"amount"), 12, 0));
    EXPECT_EQ(S_OK, helper->SetFieldNumericScaleProperty(rs.Get(), *Var(LONG{0}), 3, 0));
    CComPtr<ADOField> field;
    ASSERT_EQ(S_OK, fields->get_Item(*Var(u"amount"), field.ReleaseAndGetAddressOf()));
    BYTE precision = 0, scale = 0;
    ASSERT_EQ(S_OK, field->get_Precision(&precision));
    ASSERT_EQ(S_OK, field->get_NumericScale(&scale));
    EXPECT_EQ(12, precision);
    EXPECT_EQ(3, scale);
}

TEST_F(MethodTest, WriteFromFieldCopiesBetweenRecordsets) {
    CComPtr<Recordset15> input = ThreeRows();
    CComPtr<Recordset15> output = ThreeRows();
    // Input moves one row (value 20), output moves two rows (third row).
    EXPECT_EQ(S_OK, helper->RecordsetWriteFromField(output.Get(), *Var(u"n"), 2, input.Get(), *Var(u"n"), 1));
    EXPECT_EQ(20, V_I4(&*ValueOf(output.Get(), Var(u"n"))));
    EXPECT_EQ(3, PositionOf(output.Get()));
    EXPECT_EQ(2, PositionOf(input.Get()));
    EXPECT_EQ(1u, RefCount(input.Get()));
    EXPECT_EQ(1u, RefCount(output.Get()));
}

TEST_F(MethodTest, WriteFromFieldWithinOneRecordsetLandsStepsAway) {
    CComPtr<Recordset15> rs = ThreeRows();
    // Read row 1, then move one more and write there.
    EXPECT_EQ(S_OK, helper->RecordsetWriteFromField(rs.Get(), *Var(u"n"), 1, rs.Get(), *Var(u"n"), 0));
    EXPECT_EQ(2, PositionOf(rs.Get()));
    EXPECT_EQ(10, V_I4(&*ValueOf(rs.Get(), Var(u"n"))));
}

TEST_F(MethodTest, WriteFromFieldLeavesTheDestinationAloneWhenTheInputFails) {
    CComPtr<Recordset15> input = ThreeRows();
    CComPtr<Recordset15> output = ThreeRows();
    EXPECT_EQ(static_cast<HRESULT>(0x800A0CC1),
              helper->RecordsetWriteFromField(output.Get(), *Var(u"n"), 2, input.Get(), *Var(u"zz"), 0));
    EXPECT_EQ(1, PositionOf(output.Get()));
    EXPECT_EQ(10, V_I4(&*ValueOf(output.Get(), Var(u"n"))));
    // A destination field that does not exist: the input was read, Item fails.
    EXPECT_EQ(static_cast<HRESULT>(0x800A0CC1),
              helper->RecordsetWriteFromField(output.Get(), *Var(u"zz"), 0, input.Get(), *Var(u"n"), 1));
    EXPECT_EQ(2, PositionOf(input.Get()));
}

TEST_F(MethodTest, GetObjectHandsOutStoredObjectsWithOneReference) {
    CComPtr<Recordset15> holder = Fabricate({{u"obj", adIUnknown, 0, adFldIsNullable}});
    CComPtr<Recordset15> stored = ThreeRows();
    ASSERT_EQ(S_OK, holder->AddNew(*Var::Missing(), *Var::Missing()));
    {
        CComPtr<ADOFields> fields;
        CComPtr<ADOField> field;
        ASSERT_EQ(S_OK, holder->get_Fields(fields.ReleaseAndGetAddressOf()));
        ASSERT_EQ(S_OK, fields->get_Item(*Var(LONG{0}), field.ReleaseAndGetAddressOf()));
        ASSERT_EQ(S_OK, field->put_Value(*Var(static_cast<IUnknown*>(stored.Get()))));
    }
    ASSERT_EQ(S_OK, holder->Update(*Var::Missing(), *Var::Missing()));
    const ULONG before = RefCount(stored.Get());

    IUnknown* obj = nullptr;
    ASSERT_EQ(S_OK, helper->RecordsetGetObjectFromField(holder.Get(), *Var(u"obj"), 0, &obj));
    ASSERT_NE(nullptr, obj);
    CComPtr<IUnknown> identity;
    ASSERT_EQ(S_OK, stored->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(identity.ReleaseAndGetAddressOf())));
    CComPtr<IUnknown> handedIdentity;
    ASSERT_EQ(S_OK, obj->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(handedIdentity.ReleaseAndGetAddressOf())));
    EXPECT_EQ(identity.Get(), handedIdentity.Get());
    identity.Release();
    handedIdentity.Release();
    EXPECT_EQ(before + 1, RefCount(stored.Get()));
    obj->Release();
    EXPECT_EQ(before, RefCount(stored.Get()));
}

TEST_F(MethodTest, GetObjectRefusesValuesThatAreNoObjects) {
    CComPtr<Recordset15> rs = Fabricate({{u"s", adVarWChar, 20, adFldIsNullable}, {u"i", adInteger, 4, adFldIsNullable}},
                                        {{0, 7}});
    IUnknown* const sentinel = reinterpret_cast<IUnknown*>(0x1234);
    IUnknown* obj = sentinel;
    // A number, a string and NULL are refused with E_FAIL; obj stays as it was.
    EXPECT_EQ(E_FAIL, helper->RecordsetGetObjectFromField(rs.Get(), *Var(u"i"), 0, &obj));
    EXPECT_EQ(sentinel, obj);
    EXPECT_EQ(E_FAIL, helper->RecordsetGetObjectFromField(rs.Get(), *Var(u"s"), 0, &obj));
    EXPECT_EQ(sentinel, obj);
    ASSERT_EQ(S_OK, helper->RecordsetWrite(rs.Get(), *Var(u"i"), *Var::Null(), 0));
    EXPECT_EQ(E_FAIL, helper->RecordsetGetObjectFromField(rs.Get(), *Var(u"i"), 0, &obj));
    EXPECT_EQ(sentinel, obj);
}

TEST_F(MethodTest, NullInterfaceArgumentsAreRefused) {
    CComPtr<Recordset15> rs = ThreeRows();
    IUnknown* obj = nullptr;
    EXPECT_EQ(E_POINTER, helper->RecordsetWrite(nullptr, *Var(u"n"), *Var(LONG{1}), 0));
    EXPECT_EQ(E_POINTER, helper->SetFieldPrecisionProperty(nullptr, *Var(u"n"), 1, 0));
    EXPECT_EQ(E_POINTER, helper->RecordsetWriteFromField(rs.Get(), *Var(u"n"), 0, nullptr, *Var(u"n"), 0));
    EXPECT_EQ(E_POINTER, helper->RecordsetGetObjectFromField(rs.Get(), *Var(u"n"), 0, nullptr));
    EXPECT_EQ(E_POINTER, helper->RecordsetGetObjectFromField(nullptr, *Var(u"n"), 0, &obj));
    EXPECT_EQ(E_POINTER, helper->RecordsetAddColumn(nullptr, nullptr, adInteger, 4, 0));
    EXPECT_EQ(E_POINTER, helper->RecordsetDeleteColumn(nullptr, *Var(u"n")));
    EXPECT_EQ(E_POINTER, helper->ParameterPutValueFromField(nullptr, rs.Get(), *Var(u"n"), 0));
    EXPECT_EQ(E_POINTER, helper->CommandCreateParameter(nullptr, nullptr, adInteger, adParamInput, 4, rs.Get(),
                                                        *Var(u"n"), 0, nullptr));
}

}  // namespace
}  // namespace nuv::test
