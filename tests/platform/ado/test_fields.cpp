// The Fields collection and Field objects: lookups, appending and deleting
// columns, column properties, and the conversion of values written into
// fields.
#include "ado_test_util.h"

#include <cstring>
#include <vector>

namespace adotest {
namespace {

class FieldsTest : public ::testing::Test {
protected:
    void SetUp() override { ClearError(); }
};

HRESULT Lookup(Fields* fields, const Var& index, Ptr<Field>& field) { return fields->get_Item(*index, field.out()); }

std::u16string NameOf(Field* field) {
    BSTR name = nullptr;
    EXPECT_EQ(S_OK, field->get_Name(&name));
    std::u16string text = Text(name);
    SysFreeString(name);
    return text;
}

TEST_F(FieldsTest, ItemByNameIgnoresCaseAndByAnyNumberType) {
    Ptr<_Recordset> rs = Fabricate({{u"First", adInteger, 0, adFldUnspecified},
                                    {u"Größe", adInteger, 0, adFldUnspecified},
                                    {u"third", adInteger, 0, adFldUnspecified}});
    Ptr<Fields> fields = FieldsOf(rs.get());
    Ptr<Field> field;
    ASSERT_EQ(S_OK, Lookup(fields.get(), Var(u"FIRST"), field));
    EXPECT_EQ(u"First", NameOf(field.get()));
    ASSERT_EQ(S_OK, Lookup(fields.get(), Var(u"GRÖßE"), field)) << "Latin-1 letters compare without case";
    EXPECT_EQ(kItemNotFound, Lookup(fields.get(), Var(u"Grosse"), field));
    EXPECT_EQ(kItemNotFound, Lookup(fields.get(), Var(u"Firs"), field));

    // Ordinals from 0 in any integer (or floating) VARIANT type.
    for (VARTYPE vt : {VT_I1, VT_I2, VT_I4, VT_I8, VT_INT, VT_UI1, VT_UI2, VT_UI4, VT_UI8, VT_UINT, VT_R8}) {
        Var index(2);
        ASSERT_EQ(S_OK, VariantChangeType(index.get(), index.get(), 0, vt));
        ASSERT_EQ(S_OK, Lookup(fields.get(), index, field)) << "vt " << vt;
        EXPECT_EQ(u"third", NameOf(field.get()));
    }
    // By reference, to a number or to a VARIANT holding a name.
    LONG ordinal = 1;
    Var byRef;
    V_VT(byRef.get()) = VT_I4 | VT_BYREF;
    V_I4REF(byRef.get()) = &ordinal;
    ASSERT_EQ(S_OK, Lookup(fields.get(), byRef, field));
    EXPECT_EQ(u"Größe", NameOf(field.get()));
    Var inner(u"first");
    Var toVariant;
    V_VT(toVariant.get()) = VT_VARIANT | VT_BYREF;
    V_VARIANTREF(toVariant.get()) = inner.get();
    ASSERT_EQ(S_OK, Lookup(fields.get(), toVariant, field));
    EXPECT_EQ(u"First", NameOf(field.get()));

    // A string of digits is a name, not an ordinal.
    EXPECT_EQ(kItemNotFound, Lookup(fields.get(), Var(u"0"), field));
    EXPECT_EQ(nullptr, field.get());
}

TEST_F(FieldsTest, MissingItemsReportItemNotFoundWithErrorInfo) {
    Ptr<_Recordset> rs = Fabricate({{u"a", adInteger, 0, adFldUnspecified}});
    Ptr<Fields> fields = FieldsOf(rs.get());
    Ptr<Field> field;
    std::vector<Var> indexes;
    indexes.emplace_back(u"b");
    indexes.emplace_back(1);
    indexes.emplace_back(-1);
    indexes.push_back(Var::Null());
    indexes.emplace_back();
    indexes.emplace_back(2.0e10);
    for (const Var& index : indexes) {
        EXPECT_EQ(kItemNotFound, Lookup(fields.get(), index, field)) << "vt " << index.vt();
        ErrorText e = TakeError();
        ASSERT_TRUE(e.present);
        EXPECT_EQ(u"Item cannot be found in the collection corresponding to the requested name or ordinal.",
                  e.description);
        EXPECT_EQ(u"ADODB.Fields", e.source);
    }
    Ptr<ISupportErrorInfo> support;
    ASSERT_EQ(S_OK, fields->QueryInterface(IID_ISupportErrorInfo, support.outVoid()));
    EXPECT_EQ(S_OK, support->InterfaceSupportsErrorInfo(kIID_Fields20));
    EXPECT_EQ(S_OK, support->InterfaceSupportsErrorInfo(kIID_Fields15));
    EXPECT_EQ(S_FALSE, support->InterfaceSupportsErrorInfo(kIID_Recordset15));
    // Every interface of the collection is one object.
    Ptr<IUnknown> f20, f;
    ASSERT_EQ(S_OK, fields->QueryInterface(kIID_Fields20, f20.outVoid()));
    ASSERT_EQ(S_OK, fields->QueryInterface(kIID_Fields15, f.outVoid()));
    EXPECT_EQ(f20.get(), f.get());
}

TEST_F(FieldsTest, AppendWhileClosedOnly) {
    Ptr<_Recordset> rs = NewRecordset();
    Ptr<Fields> fields = FieldsOf(rs.get());
    Str a(u"a"), same(u"A"), empty(u"");
    ASSERT_EQ(S_OK, fields->_Append(a.get(), adInteger, 0, adFldUnspecified));
    // The same name again (without regard to case) is already in the collection.
    EXPECT_EQ(kObjectInCollection, fields->_Append(same.get(), adVarChar, 5, adFldUnspecified));
    EXPECT_EQ(u"Object is already in collection. Cannot append.", TakeError().description);
    EXPECT_EQ(kInvalidArgument, fields->_Append(empty.get(), adInteger, 0, adFldUnspecified));
    EXPECT_EQ(kInvalidArgument, fields->_Append(nullptr, adInteger, 0, adFldUnspecified));
    // Types a recordset cannot hold, and variable types without a size.
    Str b(u"b");
    for (DataTypeEnum t : {adEmpty, adChapter, adPropVariant, adUserDefined, static_cast<DataTypeEnum>(999)})
        EXPECT_EQ(kInvalidArgument, fields->_Append(b.get(), t, 4, adFldUnspecified)) << t;
    EXPECT_EQ(kInvalidArgument, fields->_Append(b.get(), adVarChar, 0, adFldUnspecified));
    EXPECT_EQ(kInvalidArgument, fields->_Append(b.get(), adInteger, -1, adFldUnspecified));
    // The full Append of the Fields interface, without a value.
    ASSERT_EQ(S_OK, fields->Append(b.get(), adVarWChar, 12, adFldIsNullable, *Var::Missing()));
    Str c(u"c");
    EXPECT_EQ(kIllegalOperation, fields->Append(c.get(), adInteger, 0, adFldUnspecified, *Var(1)));
    LONG count = 0;
    ASSERT_EQ(S_OK, fields->get_Count(&count));
    EXPECT_EQ(2, count);

    // Open: the columns are fixed.
    ASSERT_EQ(S_OK, rs->Open(*Var::Missing(), *Var::Missing(), adOpenUnspecified, adLockUnspecified,
                             adCmdUnspecified));
    EXPECT_EQ(kObjectOpen, fields->_Append(c.get(), adInteger, 0, adFldUnspecified));
    ErrorText e = TakeError();
    EXPECT_EQ(u"Operation is not allowed when the object is open.", e.description);
    EXPECT_EQ(0, std::memcmp(&e.guid, &kIID_Fields20, sizeof(GUID)));
    EXPECT_EQ(kObjectOpen, fields->Delete(*Var(u"a")));
    ASSERT_EQ(S_OK, fields->get_Count(&count));
    EXPECT_EQ(2, count);

    // A recordset tied to a connection does not take fabricated columns.
    Ptr<_Recordset> connected = NewRecordset();
    ASSERT_EQ(S_OK, connected->put_ActiveConnection(*Var(u"Provider=MSPersist;")));
    EXPECT_EQ(kIllegalOperation, FieldsOf(connected.get())->_Append(c.get(), adInteger, 0, adFldUnspecified));
}

TEST_F(FieldsTest, AppendedShapesFollowTheType) {
    Ptr<_Recordset> rs = NewRecordset();
    AppendColumns(rs.get(), {{u"i", adInteger, 0, adFldUnspecified},
                             {u"s", adVarWChar, 20, adFldIsNullable},
                             {u"m", adLongVarWChar, 0, adFldUnspecified},
                             {u"d", adNumeric, 0, adFldUnspecified}});
    Ptr<Fields> fields = FieldsOf(rs.get());
    struct Expected {
        LONG ordinal;
        LONG size;
        LONG attributes;
        BYTE precision;
        BYTE scale;
    };
    for (const Expected& x : {Expected{0, 4, adFldUpdatable | adFldFixed, 10, 0},
                              Expected{1, 20, adFldIsNullable, 255, 255},
                              Expected{2, 0x7FFFFFFF, adFldUpdatable | adFldLong, 255, 255},
                              Expected{3, 19, adFldUpdatable | adFldFixed, 18, 0}}) {
        Ptr<Field> field;
        ASSERT_EQ(S_OK, Lookup(fields.get(), Var(x.ordinal), field));
        LONG size = 0, attributes = 0;
        BYTE precision = 0, scale = 0;
        ASSERT_EQ(S_OK, field->get_DefinedSize(&size));
        ASSERT_EQ(S_OK, field->get_Attributes(&attributes));
        ASSERT_EQ(S_OK, field->get_Precision(&precision));
        ASSERT_EQ(S_OK, field->get_NumericScale(&scale));
        EXPECT_EQ(x.size, size) << x.ordinal;
        EXPECT_EQ(x.attributes, attributes) << x.ordinal;
        EXPECT_EQ(x.precision, precision) << x.ordinal;
        EXPECT_EQ(x.scale, scale) << x.ordinal;
    }
}

TEST_F(FieldsTest, DeleteByNameOrOrdinalWhileClosed) {
    Ptr<_Recordset> rs = NewRecordset();
    AppendColumns(rs.get(), {{u"a", adInteger, 0, adFldUnspecified},
                             {u"b", adInteger, 0, adFldUnspecified},
                             {u"c", adInteger, 0, adFldUnspecified}});
    Ptr<Fields> fields = FieldsOf(rs.get());
    Ptr<Field> b;
    ASSERT_EQ(S_OK, Lookup(fields.get(), Var(u"b"), b));
    ASSERT_EQ(S_OK, fields->Delete(*Var(u"B")));
    ASSERT_EQ(S_OK, fields->Delete(*Var(1)));   // "c" has become ordinal 1
    LONG count = 0;
    ASSERT_EQ(S_OK, fields->get_Count(&count));
    EXPECT_EQ(1, count);
    EXPECT_EQ(kItemNotFound, fields->Delete(*Var(u"c")));
    EXPECT_EQ(kItemNotFound, fields->Delete(*Var(5)));
    ASSERT_EQ(S_OK, fields->get_Count(&count));
    EXPECT_EQ(1, count);
    // A Field object of a deleted column is no longer valid.
    DataTypeEnum type = adEmpty;
    EXPECT_EQ(kObjectNotSet, b->get_Type(&type));
    EXPECT_EQ(u"Object is no longer valid.", TakeError().description);
    // Its name can be used again.
    Str name(u"b");
    EXPECT_EQ(S_OK, fields->_Append(name.get(), adBSTR, 0, adFldUnspecified));
}

TEST_F(FieldsTest, EachColumnHasOneFieldObjectThatKeepsTheRecordsetAlive) {
    Ptr<_Recordset> rs =
        Fabricate({{u"a", adInteger, 0, adFldUnspecified}, {u"b", adVarWChar, 10, adFldIsNullable}}, {{7}});
    Ptr<Fields> fields = FieldsOf(rs.get());
    Ptr<Field> first, again, other;
    ASSERT_EQ(S_OK, Lookup(fields.get(), Var(0), first));
    ASSERT_EQ(S_OK, Lookup(fields.get(), Var(u"A"), again));
    ASSERT_EQ(S_OK, Lookup(fields.get(), Var(1), other));
    EXPECT_EQ(first.get(), again.get()) << "the same column gives the same Field";
    EXPECT_NE(first.get(), other.get());
    Ptr<Fields> second = FieldsOf(rs.get());
    ASSERT_EQ(S_OK, Lookup(second.get(), Var(0), again));
    EXPECT_EQ(first.get(), again.get()) << "also through another Fields collection";

    // A Field held after every other reference is gone still works.
    again.reset();
    other.reset();
    second.reset();
    fields.reset();
    rs.reset();
    EXPECT_EQ(u"a", NameOf(first.get()));
    Var value;
    ASSERT_EQ(S_OK, first->get_Value(value.out()));
    EXPECT_EQ(VT_I4, value.vt());
    EXPECT_EQ(7, V_I4(value.get()));
}

TEST_F(FieldsTest, PrecisionScaleAndShapeSettableBeforeOpenOnly) {
    Ptr<_Recordset> rs = NewRecordset();
    AppendColumns(rs.get(), {{u"amount", adNumeric, 0, adFldIsNullable}});
    Ptr<Field> field;
    ASSERT_EQ(S_OK, Lookup(FieldsOf(rs.get()).get(), Var(u"amount"), field));
    ASSERT_EQ(S_OK, field->put_Precision(5));
    ASSERT_EQ(S_OK, field->put_NumericScale(2));
    ASSERT_EQ(S_OK, rs->Open(*Var::Missing(), *Var::Missing(), adOpenUnspecified, adLockUnspecified,
                             adCmdUnspecified));
    EXPECT_EQ(kObjectOpen, field->put_Precision(9));
    EXPECT_EQ(kObjectOpen, field->put_NumericScale(1));
    EXPECT_EQ(kObjectOpen, field->put_Type(adInteger));
    BYTE precision = 0;
    ASSERT_EQ(S_OK, field->get_Precision(&precision));
    EXPECT_EQ(5, precision);

    // Values are kept to the column's precision and scale.
    ASSERT_EQ(S_OK, rs->AddNew(*Var::Missing(), *Var::Missing()));
    ASSERT_EQ(S_OK, field->put_Value(*Var(123.456)));
    Var value;
    ASSERT_EQ(S_OK, field->get_Value(value.out()));
    ASSERT_EQ(VT_DECIMAL, value.vt());
    Var asDouble;
    ASSERT_EQ(S_OK, VariantChangeType(asDouble.get(), value.get(), 0, VT_R8));
    EXPECT_DOUBLE_EQ(123.46, V_R8(asDouble.get()));
    EXPECT_EQ(kMultipleStep, field->put_Value(*Var(1234.5)));   // four digits before the point
    LONG status = 0;
    ASSERT_EQ(S_OK, field->get_Status(&status));
    EXPECT_EQ(adFieldDataOverflow, status);
}

// Same type and same value, for the types these tests store.
bool SameValue(const VARIANT& a, const VARIANT& b) {
    if (V_VT(&a) != V_VT(&b))
        return false;
    switch (V_VT(&a)) {
    case VT_EMPTY: case VT_NULL: return true;
    case VT_I1: return V_I1(&a) == V_I1(&b);
    case VT_I4: return V_I4(&a) == V_I4(&b);
    case VT_BOOL: return V_BOOL(&a) == V_BOOL(&b);
    case VT_DATE: return V_DATE(&a) == V_DATE(&b);
    case VT_CY: return V_CY(&a).int64 == V_CY(&b).int64;
    case VT_BSTR: return Text(V_BSTR(&a)) == Text(V_BSTR(&b));
    default: return false;
    }
}

class ValueTest : public FieldsTest {
protected:
    void SetUp() override {
        FieldsTest::SetUp();
        rs = Fabricate({{u"i", adInteger, 0, adFldUnspecified},
                        {u"s", adVarChar, 5, adFldIsNullable},
                        {u"t", adTinyInt, 0, adFldIsNullable},
                        {u"b", adBoolean, 0, adFldIsNullable},
                        {u"d", adDate, 0, adFldIsNullable},
                        {u"g", adGUID, 0, adFldIsNullable},
                        {u"c", adCurrency, 0, adFldIsNullable},
                        {u"v", adVariant, 0, adFldIsNullable},
                        {u"w", adLongVarWChar, 0, adFldIsNullable}},
                       {{1}});
    }
    HRESULT Put(const char16_t* column, Var value) { return PutValue(rs.get(), Var(column), value); }
    Var Get(const char16_t* column) { return ValueOf(rs.get(), Var(column)); }
    LONG StatusOf(const char16_t* column) {
        Ptr<Field> field;
        EXPECT_EQ(S_OK, Lookup(FieldsOf(rs.get()).get(), Var(column), field));
        LONG status = -1;
        EXPECT_EQ(S_OK, field->get_Status(&status));
        return status;
    }
    Ptr<_Recordset> rs;
};

TEST_F(ValueTest, ValuesAreConvertedToTheFieldType) {
    ASSERT_EQ(S_OK, Put(u"i", Var(u"42")));
    EXPECT_EQ(42, I4(Get(u"i")));
    ASSERT_EQ(S_OK, Put(u"i", Var(2.5)));   // rounded as VARIANT conversion rounds: to even
    EXPECT_EQ(2, I4(Get(u"i")));
    ASSERT_EQ(S_OK, Put(u"s", Var(123)));
    EXPECT_EQ(u"123", Text(*Get(u"s")));
    ASSERT_EQ(S_OK, Put(u"t", Var(-128)));
    EXPECT_EQ(VT_I1, Get(u"t").vt());
    ASSERT_EQ(S_OK, Put(u"b", Var(1)));
    Var b = Get(u"b");
    ASSERT_EQ(VT_BOOL, b.vt());
    EXPECT_EQ(VARIANT_TRUE, V_BOOL(b.get()));
    ASSERT_EQ(S_OK, Put(u"d", Var(36526.5)));
    Var d = Get(u"d");
    ASSERT_EQ(VT_DATE, d.vt());
    EXPECT_DOUBLE_EQ(36526.5, V_DATE(d.get()));
    ASSERT_EQ(S_OK, Put(u"g", Var(u"{6b29fc40-ca47-1067-b31d-00dd010662da}")));
    EXPECT_EQ(u"{6B29FC40-CA47-1067-B31D-00DD010662DA}", Text(*Get(u"g")));
    ASSERT_EQ(S_OK, Put(u"c", Var(u"12.3456")));
    Var c = Get(u"c");
    ASSERT_EQ(VT_CY, c.vt());
    EXPECT_EQ(123456, V_CY(c.get()).int64);
    // adVariant keeps what it is given.
    ASSERT_EQ(S_OK, Put(u"v", Var(u"text")));
    EXPECT_EQ(VT_BSTR, Get(u"v").vt());
    ASSERT_EQ(S_OK, Put(u"v", Var(3.0)));
    EXPECT_EQ(VT_R8, Get(u"v").vt());
    // Long text has no length limit.
    std::u16string longText(10000, u'x');
    ASSERT_EQ(S_OK, Put(u"w", Var(longText.c_str())));
    LONG size = 0;
    Ptr<Field> w;
    ASSERT_EQ(S_OK, Lookup(FieldsOf(rs.get()).get(), Var(u"w"), w));
    ASSERT_EQ(S_OK, w->get_ActualSize(&size));
    EXPECT_EQ(10000, size);
    // The value handed out is a copy: changing it does not change the field.
    Var copy = Get(u"s");
    V_BSTR(copy.get())[0] = u'9';
    EXPECT_EQ(u"123", Text(*Get(u"s")));
}

TEST_F(ValueTest, RefusedValuesLeaveTheFieldAsItWas) {
    struct Case {
        const char16_t* column;
        Var value;
        LONG status;
    };
    Case cases[] = {
        {u"i", Var(u"not a number"), adFieldCantConvertValue},
        {u"i", Var(3.0e10), adFieldDataOverflow},
        {u"i", Var::Null(), adFieldSchemaViolation},   // not nullable
        {u"s", Var(u"toolong"), adFieldDataOverflow},   // longer than the defined size
        {u"t", Var(200), adFieldDataOverflow},
        {u"g", Var(u"{not-a-guid}"), adFieldCantConvertValue},
        {u"d", Var(u"no date"), adFieldCantConvertValue},
        {u"i", Var::Missing(), adFieldCantConvertValue},
    };
    for (Case& c : cases) {
        const Var before = Get(c.column);
        EXPECT_EQ(kMultipleStep, Put(c.column, std::move(c.value))) << Narrow(c.column);
        ErrorText e = TakeError();
        EXPECT_EQ(u"Multiple-step operation generated errors. Check each status value.", e.description);
        EXPECT_EQ(c.status, StatusOf(c.column)) << Narrow(c.column);
        const Var after = Get(c.column);
        EXPECT_TRUE(SameValue(*before, *after)) << Narrow(c.column);
    }
    // A value that fits resets the status.
    ASSERT_EQ(S_OK, Put(u"i", Var(5)));
    EXPECT_EQ(adFieldOK, StatusOf(u"i"));
    // Nullable columns take NULL.
    ASSERT_EQ(S_OK, Put(u"s", Var::Null()));
    EXPECT_EQ(VT_NULL, Get(u"s").vt());
}

TEST_F(ValueTest, ChunksBuildLongValues) {
    Ptr<Field> w, s;
    Ptr<Fields> fields = FieldsOf(rs.get());
    ASSERT_EQ(S_OK, Lookup(fields.get(), Var(u"w"), w));
    ASSERT_EQ(S_OK, Lookup(fields.get(), Var(u"s"), s));
    ASSERT_EQ(S_OK, w->AppendChunk(*Var(u"abc")));
    ASSERT_EQ(S_OK, w->AppendChunk(*Var(u"def")));
    EXPECT_EQ(u"abcdef", Text(*Get(u"w")));
    Var part;
    ASSERT_EQ(S_OK, w->GetChunk(4, part.out()));
    EXPECT_EQ(u"abcd", Text(*part));
    ASSERT_EQ(S_OK, w->GetChunk(4, part.out()));
    EXPECT_EQ(u"ef", Text(*part));
    ASSERT_EQ(S_OK, w->GetChunk(4, part.out()));
    EXPECT_EQ(VT_NULL, part.vt());
    // Only long fields take chunks.
    EXPECT_EQ(kFeatureNotAvailable, s->AppendChunk(*Var(u"x")));
}

}  // namespace
}  // namespace adotest
