// The ADO objects driven only through IDispatch, as a script drives them:
// names to DISPIDs, methods and properties, the default members
// (Fields.Item, Field.Value) and _NewEnum on a collection.
#include "ado_test_util.h"

#include <vector>

namespace adotest {
namespace {

DISPID IdOf(IDispatch* d, const char16_t* name) {
    std::u16string n(name);
    LPOLESTR names[1] = {n.data()};
    DISPID id = DISPID_UNKNOWN;
    EXPECT_EQ(S_OK, d->GetIDsOfNames(IID_NULL, names, 1, 0x409, &id));
    return id;
}

// Calls with the arguments in call order.
HRESULT Call(IDispatch* d, DISPID id, WORD flags, std::vector<VARIANT> args, VARIANT* result,
             bool namedPut = false) {
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), namedPut ? &put : nullptr,
                      static_cast<UINT>(reversed.size()), namedPut ? 1u : 0u};
    if (result)
        VariantClear(result);
    return d->Invoke(id, IID_NULL, 0x409, flags, &params, result, nullptr, nullptr);
}

TEST(LateBound, ARecordsetIsDrivenByName) {
    Ptr<_Recordset> rs = Fabricate({{u"n", adInteger, 0, adFldIsNullable}}, {{10}, {20}, {30}});
    Ptr<IDispatch> d;
    ASSERT_EQ(S_OK, rs->QueryInterface(IID_IDispatch, d.outVoid()));

    Ptr<ITypeInfo> info;
    ASSERT_EQ(S_OK, d->GetTypeInfo(0, 0, info.out()));
    EXPECT_EQ(DISP_E_BADINDEX, d->GetTypeInfo(1, 0, info.out()));

    Var count;
    ASSERT_EQ(S_OK, Call(d.get(), IdOf(d.get(), u"RecordCount"), DISPATCH_PROPERTYGET, {}, count.out()));
    EXPECT_EQ(VT_I4, V_VT(&*count));
    EXPECT_EQ(3, V_I4(&*count));

    // rs("n") is rs.Fields.Item("n").Value: default members all the way.
    Var fields;
    ASSERT_EQ(S_OK, Call(d.get(), IdOf(d.get(), u"Fields"), DISPATCH_PROPERTYGET, {}, fields.out()));
    ASSERT_EQ(VT_DISPATCH, V_VT(&*fields));
    Var field;
    Var name(u"n");
    ASSERT_EQ(S_OK, Call(V_DISPATCH(&*fields), DISPID_VALUE, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {*name}, field.out()));
    ASSERT_EQ(VT_DISPATCH, V_VT(&*field));
    Var value;
    ASSERT_EQ(S_OK, Call(V_DISPATCH(&*field), DISPID_VALUE, DISPATCH_PROPERTYGET, {}, value.out()));
    EXPECT_EQ(10, V_I4(&*value));

    // Field.Value = "42" (converted by the field), then MoveNext and EOF.
    Var text(u"42");
    ASSERT_EQ(S_OK, Call(V_DISPATCH(&*field), DISPID_VALUE, DISPATCH_PROPERTYPUT, {*text}, nullptr, true));
    ASSERT_EQ(S_OK, Call(V_DISPATCH(&*field), DISPID_VALUE, DISPATCH_PROPERTYGET, {}, value.out()));
    EXPECT_EQ(42, V_I4(&*value));
    ASSERT_EQ(S_OK, Call(d.get(), IdOf(d.get(), u"MoveNext"), DISPATCH_METHOD, {}, nullptr));
    Var eof;
    ASSERT_EQ(S_OK, Call(d.get(), IdOf(d.get(), u"EOF"), DISPATCH_PROPERTYGET, {}, eof.out()));
    EXPECT_EQ(VT_BOOL, V_VT(&*eof));
    EXPECT_EQ(VARIANT_FALSE, V_BOOL(&*eof));

    // An ADO failure comes back as an exception with ADO's description.
    Var missing(u"nope");
    EXCEPINFO excep{};
    std::vector<VARIANT> args{*missing};
    DISPPARAMS params{args.data(), nullptr, 1, 0};
    Var result;
    EXPECT_EQ(DISP_E_EXCEPTION, V_DISPATCH(&*fields)->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_PROPERTYGET,
                                                            &params, result.out(), &excep, nullptr));
    EXPECT_EQ(kItemNotFound, excep.scode);
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
}

TEST(LateBound, CollectionsEnumerateThroughNewEnum) {
    Ptr<_Recordset> rs = Fabricate({{u"a", adInteger, 0, adFldIsNullable}, {u"b", adInteger, 0, adFldIsNullable}},
                                   {{1, 2}});
    Ptr<Fields> fields = FieldsOf(rs.get());
    Ptr<IDispatch> d;
    ASSERT_EQ(S_OK, fields->QueryInterface(IID_IDispatch, d.outVoid()));
    Var enumerator;
    ASSERT_EQ(S_OK, Call(d.get(), DISPID_NEWENUM, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}, enumerator.out()));
    ASSERT_EQ(VT_UNKNOWN, V_VT(&*enumerator));
    Ptr<IEnumVARIANT> items;
    ASSERT_EQ(S_OK, V_UNKNOWN(&*enumerator)->QueryInterface(IID_IEnumVARIANT, items.outVoid()));
    VARIANT got[3];
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, items->Next(3, got, &fetched));
    ASSERT_EQ(2u, fetched);
    for (ULONG i = 0; i < fetched; ++i) {
        EXPECT_EQ(VT_DISPATCH, V_VT(&got[i]));
        VariantClear(&got[i]);
    }
    Var count;
    ASSERT_EQ(S_OK, Call(d.get(), IdOf(d.get(), u"Count"), DISPATCH_PROPERTYGET, {}, count.out()));
    EXPECT_EQ(2, V_I4(&*count));
}

}  // namespace
}  // namespace adotest
