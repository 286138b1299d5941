// The Recordset object: life cycle of fabricated recordsets, the cursor and
// its boundaries, editing, GetRows, and what a closed recordset refuses.
#include "ado_test_util.h"

#include <vector>

namespace adotest {
namespace {

Ptr<_Recordset> ThreeRows(LockTypeEnum lock = adLockBatchOptimistic) {
    return Fabricate({{u"id", adInteger, 0, adFldUnspecified}, {u"n", adInteger, 0, adFldIsNullable}},
                     {{1, 10}, {2, 20}, {3, 30}}, lock);
}

class RecordsetTest : public ::testing::Test {
protected:
    void SetUp() override { ClearError(); }
};

TEST_F(RecordsetTest, OneObjectAnswersEveryRecordsetInterface) {
    Ptr<_Recordset> rs = NewRecordset();
    Ptr<IUnknown> identity;
    ASSERT_EQ(S_OK, rs->QueryInterface(IID_IUnknown, identity.outVoid()));
    for (const GUID& iid : {kIID_Recordset15, kIID_Recordset20, kIID_Recordset21, kIID_Recordset, IID_IDispatch,
                            IID_ISupportErrorInfo}) {
        Ptr<IUnknown> p;
        ASSERT_EQ(S_OK, rs->QueryInterface(iid, p.outVoid()));
        Ptr<IUnknown> back;
        ASSERT_EQ(S_OK, p->QueryInterface(IID_IUnknown, back.outVoid()));
        EXPECT_EQ(identity.get(), back.get());
    }
    Ptr<IUnknown> none;
    EXPECT_EQ(E_NOINTERFACE, rs->QueryInterface(kIID_Fields, none.outVoid()));
    EXPECT_EQ(nullptr, none.get());
    identity.reset();
    EXPECT_EQ(1u, RefCount(rs.get()));

    Ptr<ISupportErrorInfo> support;
    ASSERT_EQ(S_OK, rs->QueryInterface(IID_ISupportErrorInfo, support.outVoid()));
    EXPECT_EQ(S_OK, support->InterfaceSupportsErrorInfo(kIID_Recordset15));
    EXPECT_EQ(S_OK, support->InterfaceSupportsErrorInfo(kIID_Recordset20));
    EXPECT_EQ(S_FALSE, support->InterfaceSupportsErrorInfo(IID_IDispatch));

    UINT count = 99;
    EXPECT_EQ(S_OK, rs->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
}

// Late binding goes through the interface's type information in the built-in
// ADODB library; failures of the called method come back as DISP_E_EXCEPTION.
TEST_F(RecordsetTest, LateBoundThroughTheTypeLibrary) {
    Ptr<_Recordset> rs = NewRecordset();
    Ptr<ITypeInfo> info;
    ASSERT_EQ(S_OK, rs->GetTypeInfo(0, 0, info.out()));
    EXPECT_EQ(DISP_E_BADINDEX, rs->GetTypeInfo(1, 0, info.out()));

    OLECHAR state[] = u"state";  // names compare without regard to case
    OLECHAR unknown[] = u"NoSuchMember";
    LPOLESTR names[] = {state};
    DISPID id = 0;
    ASSERT_EQ(S_OK, rs->GetIDsOfNames(IID_NULL, names, 1, 0, &id));
    EXPECT_EQ(DISP_E_UNKNOWNINTERFACE, rs->GetIDsOfNames(IID_IDispatch, names, 1, 0, &id));
    names[0] = unknown;
    EXPECT_EQ(DISP_E_UNKNOWNNAME, rs->GetIDsOfNames(IID_NULL, names, 1, 0, &id));
    names[0] = state;
    ASSERT_EQ(S_OK, rs->GetIDsOfNames(IID_NULL, names, 1, 0, &id));

    DISPPARAMS none{nullptr, nullptr, 0, 0};
    Var result;
    ASSERT_EQ(S_OK, rs->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, result.out(), nullptr, nullptr));
    ASSERT_EQ(VT_I4, result.vt());
    EXPECT_EQ(adStateClosed, V_I4(result.get()));

    OLECHAR moveNext[] = u"MoveNext";
    names[0] = moveNext;
    ASSERT_EQ(S_OK, rs->GetIDsOfNames(IID_NULL, names, 1, 0, &id));
    EXCEPINFO info2{};
    EXPECT_EQ(DISP_E_EXCEPTION, rs->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, &info2, nullptr));
    EXPECT_TRUE(FAILED(info2.scode));
    EXPECT_NE(nullptr, info2.bstrDescription);
    SysFreeString(info2.bstrSource);
    SysFreeString(info2.bstrDescription);
    SysFreeString(info2.bstrHelpFile);

    // The collection's _NewEnum answers DISPID_NEWENUM.
    AppendColumns(rs.get(), {{u"a", adInteger, 0, adFldUnspecified}});
    Ptr<Fields> fields;
    ASSERT_EQ(S_OK, rs->get_Fields(fields.out()));
    ASSERT_EQ(S_OK, fields->Invoke(DISPID_NEWENUM, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none,
                                   result.out(), nullptr, nullptr));
    ASSERT_EQ(VT_UNKNOWN, result.vt());
    Ptr<IEnumVARIANT> items;
    ASSERT_EQ(S_OK, V_UNKNOWN(result.get())->QueryInterface(IID_IEnumVARIANT, items.outVoid()));
    Var first;
    ULONG fetched = 0;
    EXPECT_EQ(S_OK, items->Next(1, first.out(), &fetched));
    EXPECT_EQ(1u, fetched);
    EXPECT_EQ(VT_DISPATCH, first.vt());
}

TEST_F(RecordsetTest, FabricatedLifeCycle) {
    Ptr<_Recordset> rs = NewRecordset();
    LONG state = -1;
    ASSERT_EQ(S_OK, rs->get_State(&state));
    EXPECT_EQ(adStateClosed, state);

    // Open without columns has nothing to fabricate and no connection to use.
    EXPECT_EQ(kInvalidConnection, rs->Open(*Var::Missing(), *Var::Missing(), adOpenUnspecified, adLockUnspecified,
                                           adCmdUnspecified));
    AppendColumns(rs.get(), {{u"a", adInteger, 0, adFldUnspecified}, {u"b", adVarWChar, 10, adFldIsNullable}});
    ASSERT_EQ(S_OK, rs->Open(*Var::Missing(), *Var::Missing(), adOpenUnspecified, adLockUnspecified,
                             adCmdUnspecified));
    ASSERT_EQ(S_OK, rs->get_State(&state));
    EXPECT_EQ(adStateOpen, state);
    EXPECT_TRUE(AtBof(rs.get()));
    EXPECT_TRUE(AtEof(rs.get()));
    EXPECT_EQ(0, Count(rs.get()));
    LockTypeEnum lock = adLockUnspecified;
    ASSERT_EQ(S_OK, rs->get_LockType(&lock));
    EXPECT_EQ(adLockBatchOptimistic, lock);

    // Open again while open is refused, and the recordset stays open.
    EXPECT_EQ(kObjectOpen, rs->Open(*Var::Missing(), *Var::Missing(), adOpenUnspecified, adLockUnspecified,
                                    adCmdUnspecified));
    ErrorText e = TakeError();
    EXPECT_TRUE(e.present);
    EXPECT_EQ(u"Operation is not allowed when the object is open.", e.description);
    EXPECT_EQ(u"ADODB.Recordset", e.source);

    // AddNew with field list and values posts the row at once.
    ASSERT_EQ(S_OK, rs->AddNew(*Var(u"a"), *Var(7)));
    EditModeEnum mode = adEditInProgress;
    ASSERT_EQ(S_OK, rs->get_EditMode(&mode));
    EXPECT_EQ(adEditNone, mode);
    ASSERT_EQ(S_OK, rs->AddNew(*Var::Missing(), *Var::Missing()));
    ASSERT_EQ(S_OK, rs->get_EditMode(&mode));
    EXPECT_EQ(adEditAdd, mode);
    EXPECT_EQ(VT_NULL, ValueOf(rs.get(), Var(u"b")).vt());
    ASSERT_EQ(S_OK, PutValue(rs.get(), Var(u"a"), Var(8)));
    ASSERT_EQ(S_OK, PutValue(rs.get(), Var(u"b"), Var(u"eight")));
    ASSERT_EQ(S_OK, rs->Update(*Var::Missing(), *Var::Missing()));
    EXPECT_EQ(2, Count(rs.get()));
    EXPECT_EQ(2, Position(rs.get()));

    // A cancelled AddNew leaves no row and returns to the row before it.
    ASSERT_EQ(S_OK, rs->MoveFirst());
    ASSERT_EQ(S_OK, rs->AddNew(*Var::Missing(), *Var::Missing()));
    EXPECT_EQ(3, Count(rs.get()));
    ASSERT_EQ(S_OK, rs->CancelUpdate());
    EXPECT_EQ(2, Count(rs.get()));
    EXPECT_EQ(1, Position(rs.get()));
    EXPECT_EQ(7, I4(ValueOf(rs.get(), Var(u"a"))));

    // Close keeps the appended columns, drops the rows; it can be reopened.
    ASSERT_EQ(S_OK, rs->Close());
    EXPECT_EQ(kObjectClosed, rs->Close());
    Ptr<Fields> fields = FieldsOf(rs.get());
    LONG columns = 0;
    ASSERT_EQ(S_OK, fields->get_Count(&columns));
    EXPECT_EQ(2, columns);
    ASSERT_EQ(S_OK, rs->Open(*Var::Missing(), *Var::Missing(), adOpenUnspecified, adLockUnspecified,
                             adCmdUnspecified));
    EXPECT_EQ(0, Count(rs.get()));
}

TEST_F(RecordsetTest, ClosedRecordsetRefusesRowOperations) {
    Ptr<_Recordset> rs = NewRecordset();
    VARIANT_BOOL b = VARIANT_TRUE;
    LONG n = 0;
    EXPECT_EQ(kObjectClosed, rs->get_EOF(&b));
    EXPECT_EQ(kObjectClosed, rs->get_BOF(&b));
    EXPECT_EQ(kObjectClosed, rs->get_RecordCount(&n));
    EXPECT_EQ(kObjectClosed, rs->MoveNext());
    EXPECT_EQ(kObjectClosed, rs->MovePrevious());
    EXPECT_EQ(kObjectClosed, rs->MoveFirst());
    EXPECT_EQ(kObjectClosed, rs->AddNew(*Var::Missing(), *Var::Missing()));
    Var rows;
    EXPECT_EQ(kObjectClosed, rs->GetRows(adGetRowsRest, *Var::Missing(), *Var::Missing(), rows.out()));
    EXPECT_EQ(VT_EMPTY, rows.vt());
    EXPECT_EQ(kObjectClosed, rs->Save(*Var(u"/tmp/never-written.xml"), adPersistXML));
    ErrorText e = TakeError();
    EXPECT_EQ(u"Operation is not allowed when the object is closed.", e.description);

    // A field of a closed recordset has a shape but no value.
    AppendColumns(rs.get(), {{u"a", adInteger, 0, adFldUnspecified}});
    Ptr<Field> field;
    ASSERT_EQ(S_OK, FieldsOf(rs.get())->get_Item(*Var(0), field.out()));
    Var value;
    EXPECT_EQ(kObjectClosed, field->get_Value(value.out()));
    EXPECT_EQ(kObjectClosed, field->put_Value(*Var(1)));
    DataTypeEnum type = adEmpty;
    EXPECT_EQ(S_OK, field->get_Type(&type));
    EXPECT_EQ(adInteger, type);
}

TEST_F(RecordsetTest, NavigationBoundaries) {
    Ptr<_Recordset> rs = ThreeRows();
    EXPECT_EQ(1, Position(rs.get()));
    EXPECT_FALSE(AtBof(rs.get()));

    // Backward off the first row: BOF, then MovePrevious has no row to go to.
    ASSERT_EQ(S_OK, rs->MovePrevious());
    EXPECT_TRUE(AtBof(rs.get()));
    EXPECT_FALSE(AtEof(rs.get()));
    EXPECT_EQ(adPosBOF, Position(rs.get()));
    EXPECT_EQ(kNoCurrentRecord, rs->MovePrevious());
    ErrorText e = TakeError();
    EXPECT_TRUE(e.present);
    EXPECT_TRUE(Contains(e.description, u"BOF or EOF")) << Narrow(e.description);
    Var value;
    EXPECT_EQ(VT_EMPTY, ValueOf(rs.get(), Var(u"n")).vt());

    // From BOF, MoveNext goes to the first row.
    ASSERT_EQ(S_OK, rs->MoveNext());
    EXPECT_EQ(10, I4(ValueOf(rs.get(), Var(u"n"))));

    // Forward past the last row: EOF, then MoveNext fails.
    ASSERT_EQ(S_OK, rs->MoveLast());
    EXPECT_EQ(30, I4(ValueOf(rs.get(), Var(u"n"))));
    ASSERT_EQ(S_OK, rs->MoveNext());
    EXPECT_TRUE(AtEof(rs.get()));
    EXPECT_EQ(adPosEOF, Position(rs.get()));
    EXPECT_EQ(kNoCurrentRecord, rs->MoveNext());
    // From EOF, MovePrevious goes to the last row.
    ASSERT_EQ(S_OK, rs->MovePrevious());
    EXPECT_EQ(3, Position(rs.get()));

    // Reading a field where there is no row fails the same way.
    ASSERT_EQ(S_OK, rs->MoveNext());
    Ptr<Field> field;
    ASSERT_EQ(S_OK, FieldsOf(rs.get())->get_Item(*Var(u"n"), field.out()));
    EXPECT_EQ(kNoCurrentRecord, field->get_Value(value.out()));
    EXPECT_EQ(kNoCurrentRecord, field->put_Value(*Var(1)));
}

TEST_F(RecordsetTest, EmptyRecordsetHasNoFirstOrLastRow) {
    Ptr<_Recordset> rs = Fabricate({{u"a", adInteger, 0, adFldUnspecified}});
    EXPECT_EQ(kNoCurrentRecord, rs->MoveFirst());
    EXPECT_EQ(kNoCurrentRecord, rs->MoveLast());
    EXPECT_EQ(kNoCurrentRecord, rs->MoveNext());
    EXPECT_EQ(kNoCurrentRecord, rs->MovePrevious());
    EXPECT_EQ(kNoCurrentRecord, rs->Move(1, *Var::Missing()));
    EXPECT_EQ(adPosUnknown, Position(rs.get()));
}

TEST_F(RecordsetTest, MoveAndPositionsAndBookmarks) {
    Ptr<_Recordset> rs = Fabricate({{u"v", adInteger, 0, adFldUnspecified}}, {{1}, {2}, {3}, {4}, {5}});
    ASSERT_EQ(S_OK, rs->Move(2, *Var::Missing()));
    EXPECT_EQ(3, Position(rs.get()));
    ASSERT_EQ(S_OK, rs->Move(-1, *Var::Missing()));
    EXPECT_EQ(2, Position(rs.get()));
    // Far beyond either end stops at EOF or BOF.
    ASSERT_EQ(S_OK, rs->Move(100, *Var::Missing()));
    EXPECT_TRUE(AtEof(rs.get()));
    EXPECT_EQ(kNoCurrentRecord, rs->Move(1, *Var::Missing()));
    ASSERT_EQ(S_OK, rs->Move(-100, *Var(adBookmarkLast)));
    EXPECT_TRUE(AtBof(rs.get()));
    // Relative to the first and last rows.
    ASSERT_EQ(S_OK, rs->Move(1, *Var(adBookmarkFirst)));
    EXPECT_EQ(2, I4(ValueOf(rs.get(), Var(0))));
    ASSERT_EQ(S_OK, rs->Move(0, *Var(adBookmarkLast)));
    EXPECT_EQ(5, I4(ValueOf(rs.get(), Var(0))));

    // AbsolutePosition is 1-based and settable within the rows.
    ASSERT_EQ(S_OK, rs->put_AbsolutePosition(4));
    EXPECT_EQ(4, I4(ValueOf(rs.get(), Var(0))));
    EXPECT_EQ(kInvalidArgument, rs->put_AbsolutePosition(6));
    EXPECT_EQ(kInvalidArgument, rs->put_AbsolutePosition(0));
    EXPECT_EQ(4, Position(rs.get()));

    // A bookmark brings the cursor back to its row.
    Var mark;
    ASSERT_EQ(S_OK, rs->get_Bookmark(mark.out()));
    ASSERT_EQ(S_OK, rs->MoveFirst());
    ASSERT_EQ(S_OK, rs->put_Bookmark(*mark));
    EXPECT_EQ(4, I4(ValueOf(rs.get(), Var(0))));
    // Relative to a bookmark.
    ASSERT_EQ(S_OK, rs->Move(-2, *mark));
    EXPECT_EQ(2, I4(ValueOf(rs.get(), Var(0))));
    EXPECT_EQ(kInvalidArgument, rs->put_Bookmark(*Var(12345.0)));
}

TEST_F(RecordsetTest, EditsMoveWithTheCursorAndCanBeCancelled) {
    Ptr<_Recordset> rs = ThreeRows(adLockOptimistic);
    ASSERT_EQ(S_OK, PutValue(rs.get(), Var(u"n"), Var(11)));
    EditModeEnum mode = adEditNone;
    ASSERT_EQ(S_OK, rs->get_EditMode(&mode));
    EXPECT_EQ(adEditInProgress, mode);
    // The edited value is what the row shows; CancelUpdate restores it.
    EXPECT_EQ(11, I4(ValueOf(rs.get(), Var(u"n"))));
    ASSERT_EQ(S_OK, rs->CancelUpdate());
    EXPECT_EQ(10, I4(ValueOf(rs.get(), Var(u"n"))));

    // Moving off an edited row keeps the change (ADO updates implicitly).
    ASSERT_EQ(S_OK, PutValue(rs.get(), Var(u"n"), Var(12)));
    ASSERT_EQ(S_OK, rs->MoveNext());
    ASSERT_EQ(S_OK, rs->MovePrevious());
    EXPECT_EQ(12, I4(ValueOf(rs.get(), Var(u"n"))));
    // Rows of a fabricated recordset are all new ones.
    LONG status = 0;
    ASSERT_EQ(S_OK, rs->get_Status(&status));
    EXPECT_EQ(adRecNew, status);

    // In immediate mode a recordset with an edit in progress cannot be closed.
    ASSERT_EQ(S_OK, PutValue(rs.get(), Var(u"n"), Var(13)));
    EXPECT_EQ(kIllegalOperation, rs->Close());
    ASSERT_EQ(S_OK, rs->Update(*Var::Missing(), *Var::Missing()));
    EXPECT_EQ(S_OK, rs->Close());
}

TEST_F(RecordsetTest, UpdateWithFieldsAndValuesArrays) {
    Ptr<_Recordset> rs = ThreeRows();
    SAFEARRAY* names = SafeArrayCreateVector(VT_VARIANT, 0, 2);
    SAFEARRAY* values = SafeArrayCreateVector(VT_VARIANT, 0, 2);
    ASSERT_TRUE(names && values);
    LONG i = 0;
    ASSERT_EQ(S_OK, SafeArrayPutElement(names, &i, Var(u"n").get()));
    ASSERT_EQ(S_OK, SafeArrayPutElement(values, &i, Var(55).get()));
    i = 1;
    ASSERT_EQ(S_OK, SafeArrayPutElement(names, &i, Var(0).get()));
    ASSERT_EQ(S_OK, SafeArrayPutElement(values, &i, Var(u"9").get()));
    Var fieldList, valueList;
    V_VT(fieldList.get()) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(fieldList.get()) = names;
    V_VT(valueList.get()) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(valueList.get()) = values;
    ASSERT_EQ(S_OK, rs->Update(*fieldList, *valueList));
    EXPECT_EQ(55, I4(ValueOf(rs.get(), Var(u"n"))));
    EXPECT_EQ(9, I4(ValueOf(rs.get(), Var(u"id"))));
    // A list and a single value do not match.
    EXPECT_EQ(kInvalidArgument, rs->Update(*fieldList, *Var(1)));
}

TEST_F(RecordsetTest, DeleteLeavesTheCursorOnTheDeletedRowUntilItMoves) {
    Ptr<_Recordset> rs = ThreeRows();
    ASSERT_EQ(S_OK, rs->MoveNext());
    ASSERT_EQ(S_OK, rs->Delete(adAffectCurrent));
    EXPECT_EQ(2, Count(rs.get()));
    // No current record until the cursor moves on, then the next row.
    EXPECT_EQ(VT_EMPTY, ValueOf(rs.get(), Var(u"n")).vt());
    Ptr<Field> field;
    ASSERT_EQ(S_OK, FieldsOf(rs.get())->get_Item(*Var(u"n"), field.out()));
    Var value;
    EXPECT_EQ(kNoCurrentRecord, field->get_Value(value.out()));
    EXPECT_EQ(kNoCurrentRecord, rs->Delete(adAffectCurrent));
    ASSERT_EQ(S_OK, rs->MoveNext());
    EXPECT_EQ(30, I4(ValueOf(rs.get(), Var(u"n"))));
    ASSERT_EQ(S_OK, rs->MovePrevious());
    EXPECT_EQ(10, I4(ValueOf(rs.get(), Var(u"n"))));

    // Deleting the last row: moving on reaches EOF.
    ASSERT_EQ(S_OK, rs->MoveLast());
    ASSERT_EQ(S_OK, rs->Delete(adAffectCurrent));
    ASSERT_EQ(S_OK, rs->MoveNext());
    EXPECT_TRUE(AtEof(rs.get()));
    EXPECT_EQ(1, Count(rs.get()));
}

TEST_F(RecordsetTest, ReadOnlyRecordsetRefusesChangesWithAdoDescription) {
    Ptr<_Recordset> rs = Fabricate({{u"n", adInteger, 0, adFldUnspecified}}, {}, adLockReadOnly);
    EXPECT_EQ(kFeatureNotAvailable, rs->AddNew(*Var::Missing(), *Var::Missing()));
    ErrorText e = TakeError();
    EXPECT_TRUE(Contains(e.description, u"does not support updating")) << Narrow(e.description);
    EXPECT_EQ(u"ADODB.Recordset", e.source);
    EXPECT_EQ(0, Count(rs.get()));
    VARIANT_BOOL supported = VARIANT_TRUE;
    ASSERT_EQ(S_OK, rs->Supports(adAddNew, &supported));
    EXPECT_EQ(VARIANT_FALSE, supported);
    ASSERT_EQ(S_OK, rs->Supports(static_cast<CursorOptionEnum>(adMovePrevious | adBookmark), &supported));
    EXPECT_EQ(VARIANT_TRUE, supported);
}

// GetRows shapes: (field, row), both from 0, and the cursor advances.
class GetRowsTest : public RecordsetTest {
protected:
    void SetUp() override {
        RecordsetTest::SetUp();
        rs = Fabricate({{u"a", adInteger, 0, adFldUnspecified},
                        {u"b", adInteger, 0, adFldUnspecified},
                        {u"c", adInteger, 0, adFldUnspecified}},
                       {{1, 10, 100}, {2, 20, 200}, {3, 30, 300}, {4, 40, 400}});
    }
    // Checks the array's shape and returns element (field, row).
    static LONG At(SAFEARRAY* array, LONG field, LONG row) {
        LONG indices[2] = {field, row};
        Var v;
        EXPECT_EQ(S_OK, SafeArrayGetElement(array, indices, v.out()));
        return I4(v);
    }
    static void ExpectShape(const Var& result, LONG fields, LONG rows) {
        ASSERT_EQ(VT_ARRAY | VT_VARIANT, result.vt());
        SAFEARRAY* a = V_ARRAY(&*result);
        ASSERT_EQ(2u, SafeArrayGetDim(a));
        LONG lo = -1, hi = -1;
        ASSERT_EQ(S_OK, SafeArrayGetLBound(a, 1, &lo));
        ASSERT_EQ(S_OK, SafeArrayGetUBound(a, 1, &hi));
        EXPECT_EQ(0, lo);
        EXPECT_EQ(fields - 1, hi);
        ASSERT_EQ(S_OK, SafeArrayGetLBound(a, 2, &lo));
        ASSERT_EQ(S_OK, SafeArrayGetUBound(a, 2, &hi));
        EXPECT_EQ(0, lo);
        EXPECT_EQ(rows - 1, hi);
    }
    Ptr<_Recordset> rs;
};

TEST_F(GetRowsTest, AllRowsAndFieldsByDefault) {
    Var result;
    ASSERT_EQ(S_OK, rs->GetRows(adGetRowsRest, *Var::Missing(), *Var::Missing(), result.out()));
    ExpectShape(result, 3, 4);
    SAFEARRAY* a = V_ARRAY(&*result);
    EXPECT_EQ(1, At(a, 0, 0));
    EXPECT_EQ(100, At(a, 2, 0));
    EXPECT_EQ(40, At(a, 1, 3));
    EXPECT_TRUE(AtEof(rs.get()));
    // At EOF there is no row to start from.
    Var again;
    EXPECT_EQ(kNoCurrentRecord, rs->GetRows(1, *Var(adBookmarkCurrent), *Var::Missing(), again.out()));
    EXPECT_EQ(VT_EMPTY, again.vt());
}

TEST_F(GetRowsTest, OneRowOfOneFieldFromTheCurrentRow) {
    ASSERT_EQ(S_OK, rs->MoveNext());
    Var result;
    ASSERT_EQ(S_OK, rs->GetRows(1, *Var(adBookmarkCurrent), *Var(u"B"), result.out()));
    ExpectShape(result, 1, 1);
    EXPECT_EQ(20, At(V_ARRAY(&*result), 0, 0));
    EXPECT_EQ(3, Position(rs.get()));
    // By ordinal, more rows than are left: only those left.
    ASSERT_EQ(S_OK, rs->GetRows(10, *Var::Missing(), *Var(2), result.out()));
    ExpectShape(result, 1, 2);
    EXPECT_EQ(400, At(V_ARRAY(&*result), 0, 1));
    EXPECT_TRUE(AtEof(rs.get()));
}

TEST_F(GetRowsTest, FieldListInItsOwnOrderFromFirstAndLast) {
    ASSERT_EQ(S_OK, rs->MoveLast());
    SAFEARRAY* names = SafeArrayCreateVector(VT_BSTR, 0, 2);
    ASSERT_NE(nullptr, names);
    LONG i = 0;
    Str c(u"c"), a(u"a");
    ASSERT_EQ(S_OK, SafeArrayPutElement(names, &i, c.get()));
    i = 1;
    ASSERT_EQ(S_OK, SafeArrayPutElement(names, &i, a.get()));
    Var list;
    V_VT(list.get()) = VT_ARRAY | VT_BSTR;
    V_ARRAY(list.get()) = names;
    Var result;
    ASSERT_EQ(S_OK, rs->GetRows(2, *Var(adBookmarkFirst), *list, result.out()));
    ExpectShape(result, 2, 2);
    SAFEARRAY* r = V_ARRAY(&*result);
    EXPECT_EQ(100, At(r, 0, 0));
    EXPECT_EQ(1, At(r, 1, 0));
    EXPECT_EQ(200, At(r, 0, 1));
    EXPECT_EQ(2, At(r, 1, 1));
    EXPECT_EQ(3, Position(rs.get()));   // after the rows read, not where it was
    ASSERT_EQ(S_OK, rs->GetRows(adGetRowsRest, *Var(adBookmarkLast), *Var::Missing(), result.out()));
    ExpectShape(result, 3, 1);
    EXPECT_EQ(4, At(V_ARRAY(&*result), 0, 0));
}

TEST_F(GetRowsTest, BadArgumentsChangeNothing) {
    Var result;
    EXPECT_EQ(kItemNotFound, rs->GetRows(1, *Var::Missing(), *Var(u"zz"), result.out()));
    EXPECT_EQ(kInvalidArgument, rs->GetRows(0, *Var::Missing(), *Var::Missing(), result.out()));
    EXPECT_EQ(kInvalidArgument, rs->GetRows(-2, *Var::Missing(), *Var::Missing(), result.out()));
    EXPECT_EQ(kInvalidArgument, rs->GetRows(1, *Var(u"first"), *Var::Missing(), result.out()));
    EXPECT_EQ(VT_EMPTY, result.vt());
    EXPECT_EQ(1, Position(rs.get()));
    ASSERT_EQ(S_OK, rs->MovePrevious());
    EXPECT_EQ(kNoCurrentRecord, rs->GetRows(1, *Var::Missing(), *Var::Missing(), result.out()));
}

TEST_F(RecordsetTest, GetStringJoinsRowsFromTheCurrentOne) {
    Ptr<_Recordset> rs = Fabricate({{u"a", adInteger, 0, adFldUnspecified}, {u"b", adInteger, 0, adFldIsNullable}},
                                   {{1, 2}, {3, 4}});
    ASSERT_EQ(S_OK, PutValue(rs.get(), Var(u"b"), Var::Null()));
    BSTR text = nullptr;
    Str comma(u","), newline(u"\n"), null(u"-");
    ASSERT_EQ(S_OK, rs->GetString(adClipString, -1, comma.get(), newline.get(), null.get(), &text));
    EXPECT_EQ(u"1,-\n3,4\n", Text(text));
    SysFreeString(text);
    EXPECT_TRUE(AtEof(rs.get()));
}

TEST_F(RecordsetTest, ReleasingTheLastReferenceFreesRecordsetAndFields) {
    // Fields and Field objects keep the recordset alive, and release it.
    Ptr<_Recordset> rs = ThreeRows();
    Ptr<Fields> fields = FieldsOf(rs.get());
    Ptr<Field> field;
    ASSERT_EQ(S_OK, fields->get_Item(*Var(1), field.out()));
    EXPECT_EQ(3u, RefCount(rs.get()));
    fields.reset();
    EXPECT_EQ(2u, RefCount(rs.get()));
    _Recordset* raw = rs.get();
    raw->AddRef();
    rs.reset();
    EXPECT_EQ(1u, raw->Release());   // the field's reference remains
    Var value;
    EXPECT_EQ(S_OK, field->get_Value(value.out()));
    EXPECT_EQ(10, I4(value));
    field.reset();   // frees the recordset; the sanitizers check nothing leaks
}

TEST_F(RecordsetTest, StoredObjectsKeepOneReferenceOfTheirOwn) {
    Ptr<_Recordset> holder = Fabricate({{u"obj", adIUnknown, 0, adFldIsNullable}});
    Ptr<_Recordset> stored = NewRecordset();
    ASSERT_EQ(S_OK, holder->AddNew(*Var::Missing(), *Var::Missing()));
    const ULONG before = RefCount(stored.get());
    ASSERT_EQ(S_OK, PutValue(holder.get(), Var(u"obj"), Var(static_cast<IUnknown*>(stored.get()))));
    ASSERT_EQ(S_OK, holder->Update(*Var::Missing(), *Var::Missing()));
    EXPECT_EQ(before + 1, RefCount(stored.get()));
    {
        Var value = ValueOf(holder.get(), Var(0));
        ASSERT_EQ(VT_UNKNOWN, value.vt());
        EXPECT_EQ(before + 2, RefCount(stored.get()));
    }
    EXPECT_EQ(before + 1, RefCount(stored.get()));
    // Replacing the value releases the object.
    ASSERT_EQ(S_OK, PutValue(holder.get(), Var(u"obj"), Var::Null()));
    ASSERT_EQ(S_OK, holder->Update(*Var::Missing(), *Var::Missing()));
    EXPECT_EQ(before, RefCount(stored.get()));
}

TEST_F(RecordsetTest, OpenRefusesProvidersAndSourcesItDoesNotHave) {
    Ptr<_Recordset> rs = NewRecordset();
    EXPECT_EQ(kProviderNotFound, rs->Open(*Var(u"select 1"), *Var(u"Provider=SQLOLEDB;Data Source=x"),
                                          adOpenUnspecified, adLockUnspecified, adCmdUnspecified));
    ErrorText e = TakeError();
    EXPECT_TRUE(Contains(e.description, u"Provider cannot be found")) << Narrow(e.description);
    EXPECT_TRUE(Contains(e.description, u"SQLOLEDB")) << Narrow(e.description);
    EXPECT_EQ(kInvalidArgument, rs->Open(*Var(u"x.xml"), *Var(u"Provider=MSPersist;Bad"), adOpenUnspecified,
                                         adLockUnspecified, adCmdUnspecified));
    EXPECT_EQ(kInvalidArgument, rs->Open(*Var(u"x.xml"), *Var::Missing(), static_cast<CursorTypeEnum>(-2),
                                         adLockUnspecified, adCmdUnspecified));
    EXPECT_EQ(kFeatureNotAvailable, rs->Open(*Var(static_cast<IUnknown*>(rs.get())), *Var::Missing(),
                                             adOpenUnspecified, adLockUnspecified, adCmdUnspecified));
    LONG state = -1;
    ASSERT_EQ(S_OK, rs->get_State(&state));
    EXPECT_EQ(adStateClosed, state);
}

TEST_F(RecordsetTest, PropertiesFixedWhileOpen) {
    Ptr<_Recordset> rs = ThreeRows();
    EXPECT_EQ(kObjectOpen, rs->put_LockType(adLockReadOnly));
    EXPECT_EQ(kObjectOpen, rs->put_CursorLocation(adUseServer));
    EXPECT_EQ(kObjectOpen, rs->put_ActiveConnection(*Var(u"Provider=MSPersist")));
    CursorLocationEnum location = adUseNone;
    ASSERT_EQ(S_OK, rs->get_CursorLocation(&location));
    EXPECT_EQ(adUseClient, location);
    CursorTypeEnum cursor = adOpenUnspecified;
    ASSERT_EQ(S_OK, rs->get_CursorType(&cursor));
    EXPECT_EQ(adOpenStatic, cursor);
    // A closed recordset takes them.
    Ptr<_Recordset> closed = NewRecordset();
    EXPECT_EQ(S_OK, closed->put_LockType(adLockOptimistic));
    EXPECT_EQ(kInvalidArgument, closed->put_LockType(static_cast<LockTypeEnum>(7)));
    LockTypeEnum lock = adLockUnspecified;
    ASSERT_EQ(S_OK, closed->get_LockType(&lock));
    EXPECT_EQ(adLockOptimistic, lock);
}

}  // namespace
}  // namespace adotest
