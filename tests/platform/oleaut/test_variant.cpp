#include <comhost/testing.h>
#include <gtest/gtest.h>
#include <oleauto.h>

#include <string>

#include "test_objects.h"

namespace {

using oleaut_test::CountedObject;
using oleaut_test::IntRecordInfo;
using oleaut_test::ScopedBstr;
using oleaut_test::ScopedVariant;

std::u16string Text(BSTR s) { return std::u16string(s, SysStringLen(s)); }

class VariantTest : public ::testing::Test {
 protected:
  void TearDown() override { ComHostFailAllocation(0); }
};

SAFEARRAY *StringVector(std::initializer_list<const OLECHAR *> items) {
  SAFEARRAY *psa = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(items.size()));
  LONG i = 0;
  for (const OLECHAR *item : items) {
    BSTR s = SysAllocString(item);
    SafeArrayPutElement(psa, &i, s);
    SysFreeString(s);
    ++i;
  }
  return psa;
}

// ------------------------------------------------------------ clearing

TEST_F(VariantTest, ClearReleasesWhatTheVariantOwns) {
  CountedObject object;
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_UNKNOWN;
  v.punkVal = &object;
  object.AddRef();
  ASSERT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(v.vt, VT_EMPTY);
  EXPECT_EQ(object.refs(), 1u);

  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(OLESTR("freed"));  // a leak would show under the sanitizer
  ASSERT_EQ(VariantClear(&v), S_OK);

  v.vt = VT_ARRAY | VT_BSTR;
  v.parray = StringVector({OLESTR("a"), OLESTR("b")});
  ASSERT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(v.vt, VT_EMPTY);
}

TEST_F(VariantTest, ClearLeavesReferencedValuesAlone) {
  CountedObject object;
  IUnknown *target = &object;
  VARIANT v;
  v.vt = VT_UNKNOWN | VT_BYREF;
  v.ppunkVal = &target;
  ASSERT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(v.vt, VT_EMPTY);
  EXPECT_EQ(object.refs(), 1u);

  BSTR s = SysAllocString(OLESTR("still mine"));
  v.vt = VT_BSTR | VT_BYREF;
  v.pbstrVal = &s;
  ASSERT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(Text(s), u"still mine");
  SysFreeString(s);
}

TEST_F(VariantTest, ClearRefusesLockedArraysAndBadTypes) {
  VARIANT v;
  v.vt = VT_ARRAY | VT_I4;
  v.parray = SafeArrayCreateVector(VT_I4, 0, 3);
  ASSERT_EQ(SafeArrayLock(v.parray), S_OK);
  EXPECT_EQ(VariantClear(&v), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(v.vt, VT_ARRAY | VT_I4);  // untouched
  ASSERT_EQ(SafeArrayUnlock(v.parray), S_OK);
  EXPECT_EQ(VariantClear(&v), S_OK);

  v.vt = 0x7F;
  EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
  v.vt = VT_VARIANT;  // only meaningful by reference or in arrays
  EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
  v.vt = VT_EMPTY | VT_BYREF;
  EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
}

// ------------------------------------------------------------- copying

TEST_F(VariantTest, CopyDuplicatesStringsAndReferencesObjects) {
  CountedObject object;
  ScopedVariant src, dst;
  src->vt = VT_BSTR;
  src->bstrVal = SysAllocString(OLESTR("text"));
  ASSERT_EQ(VariantCopy(dst.get(), src.get()), S_OK);
  EXPECT_EQ(dst->vt, VT_BSTR);
  EXPECT_NE(dst->bstrVal, src->bstrVal);
  EXPECT_EQ(Text(dst->bstrVal), u"text");

  // Copying over a string releases it and takes a reference on the object.
  VariantClear(src.get());
  src->vt = VT_DISPATCH;
  src->pdispVal = &object;
  object.AddRef();
  ASSERT_EQ(VariantCopy(dst.get(), src.get()), S_OK);
  EXPECT_EQ(dst->pdispVal, &object);
  EXPECT_EQ(object.refs(), 3u);
  VariantClear(dst.get());
  VariantClear(src.get());
  EXPECT_EQ(object.refs(), 1u);
}

TEST_F(VariantTest, CopyOfArrayIsDeep) {
  ScopedVariant src, dst;
  src->vt = VT_ARRAY | VT_BSTR;
  src->parray = StringVector({OLESTR("one"), OLESTR("two")});
  ASSERT_EQ(VariantCopy(dst.get(), src.get()), S_OK);
  ASSERT_NE(dst->parray, src->parray);
  BSTR *a = static_cast<BSTR *>(src->parray->pvData);
  BSTR *b = static_cast<BSTR *>(dst->parray->pvData);
  EXPECT_NE(a[1], b[1]);
  EXPECT_EQ(Text(b[1]), u"two");
}

TEST_F(VariantTest, CopyOfReferenceStaysAReference) {
  LONG target = 5;
  VARIANT src;
  src.vt = VT_I4 | VT_BYREF;
  src.plVal = &target;
  ScopedVariant dst;
  ASSERT_EQ(VariantCopy(dst.get(), &src), S_OK);
  EXPECT_EQ(dst->vt, VT_I4 | VT_BYREF);
  EXPECT_EQ(dst->plVal, &target);
}

TEST_F(VariantTest, FailedCopyLeavesDestinationEmpty) {
  ScopedVariant src, dst;
  src->vt = VT_BSTR;
  src->bstrVal = SysAllocString(OLESTR("text"));
  dst->vt = VT_BSTR;
  dst->bstrVal = SysAllocString(OLESTR("old"));
  ComHostFailAllocation(1);
  EXPECT_EQ(VariantCopy(dst.get(), src.get()), E_OUTOFMEMORY);
  EXPECT_EQ(dst->vt, VT_EMPTY);
  EXPECT_EQ(Text(src->bstrVal), u"text");

  VARIANT bad;
  bad.vt = 0x7F;
  dst->vt = VT_I4;
  dst->lVal = 3;
  EXPECT_EQ(VariantCopy(dst.get(), &bad), DISP_E_BADVARTYPE);
  EXPECT_EQ(dst->vt, VT_I4);  // a source that cannot be read changes nothing
}

TEST_F(VariantTest, CopyOntoItselfKeepsTheValue) {
  ScopedVariant v;
  v->vt = VT_BSTR;
  v->bstrVal = SysAllocString(OLESTR("same"));
  ASSERT_EQ(VariantCopy(v.get(), v.get()), S_OK);
  EXPECT_EQ(Text(v->bstrVal), u"same");
}

TEST_F(VariantTest, CopyIndFollowsReferences) {
  BSTR s = SysAllocString(OLESTR("shared"));
  VARIANT ref;
  ref.vt = VT_BSTR | VT_BYREF;
  ref.pbstrVal = &s;
  ScopedVariant dst;
  ASSERT_EQ(VariantCopyInd(dst.get(), &ref), S_OK);
  EXPECT_EQ(dst->vt, VT_BSTR);
  EXPECT_NE(dst->bstrVal, s);
  EXPECT_EQ(Text(dst->bstrVal), u"shared");

  // A VARIANT reference yields the referenced VARIANT's value.
  VARIANT inner;
  inner.vt = VT_BSTR;
  inner.bstrVal = s;
  VARIANT outer;
  outer.vt = VT_VARIANT | VT_BYREF;
  outer.pvarVal = &inner;
  ASSERT_EQ(VariantCopyInd(dst.get(), &outer), S_OK);
  EXPECT_EQ(dst->vt, VT_BSTR);
  EXPECT_EQ(Text(dst->bstrVal), u"shared");

  // In place: the reference is replaced by a copy of its target.
  VARIANT in_place = ref;
  ASSERT_EQ(VariantCopyInd(&in_place, &in_place), S_OK);
  EXPECT_EQ(in_place.vt, VT_BSTR);
  EXPECT_NE(in_place.bstrVal, s);
  VariantClear(&in_place);

  // A reference to a reference to a VARIANT is refused.
  VARIANT twice;
  twice.vt = VT_VARIANT | VT_BYREF;
  twice.pvarVal = &outer;
  EXPECT_EQ(VariantCopyInd(dst.get(), &twice), E_INVALIDARG);
  SysFreeString(s);
}

TEST_F(VariantTest, CopyIndOfDecimalReference) {
  DECIMAL d = {};
  d.Lo64 = 12345;
  d.scale = 2;
  VARIANT ref;
  ref.vt = VT_DECIMAL | VT_BYREF;
  ref.pdecVal = &d;
  ScopedVariant dst;
  ASSERT_EQ(VariantCopyInd(dst.get(), &ref), S_OK);
  EXPECT_EQ(dst->vt, VT_DECIMAL);
  EXPECT_EQ(dst->decVal.Lo64, 12345u);
  EXPECT_EQ(dst->decVal.scale, 2);
}

TEST_F(VariantTest, RecordsAreCopiedAndDestroyedThroughTheirDescription) {
  IntRecordInfo info;
  VARIANT src;
  src.vt = VT_RECORD;
  src.pRecInfo = &info;
  src.pvRecord = info.RecordCreate();
  *static_cast<int *>(src.pvRecord) = 42;
  info.AddRef();  // the reference src owns

  ScopedVariant dst;
  ASSERT_EQ(VariantCopy(dst.get(), &src), S_OK);
  EXPECT_EQ(dst->pRecInfo, &info);
  EXPECT_NE(dst->pvRecord, src.pvRecord);
  EXPECT_EQ(*static_cast<int *>(dst->pvRecord), 42);
  EXPECT_EQ(info.refs(), 3u);

  ASSERT_EQ(VariantClear(&src), S_OK);
  ASSERT_EQ(VariantClear(dst.get()), S_OK);
  EXPECT_EQ(info.created, 2);
  EXPECT_EQ(info.destroyed, 2);
  EXPECT_EQ(info.refs(), 1u);

  // Records do not convert to other types.
  src.vt = VT_RECORD;
  src.pRecInfo = nullptr;
  src.pvRecord = nullptr;
  EXPECT_EQ(VariantChangeType(dst.get(), &src, 0, VT_I4), DISP_E_TYPEMISMATCH);
}

// ----------------------------------------------------- changing types

TEST_F(VariantTest, ChangeTypeInPlaceReplacesTheString) {
  VARIANT v;
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(OLESTR("42"));
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);  // the string is freed
  EXPECT_EQ(v.vt, VT_I4);
  EXPECT_EQ(v.lVal, 42);
}

TEST_F(VariantTest, FailedChangeTypeLeavesDestinationAlone) {
  ScopedVariant src, dst;
  src->vt = VT_BSTR;
  src->bstrVal = SysAllocString(OLESTR("not a number"));
  dst->vt = VT_I2;
  dst->iVal = 7;
  EXPECT_EQ(VariantChangeType(dst.get(), src.get(), 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(dst->vt, VT_I2);
  EXPECT_EQ(dst->iVal, 7);
  EXPECT_EQ(VariantChangeType(dst.get(), src.get(), 0, VT_I4 | VT_BYREF), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantChangeType(dst.get(), src.get(), 0, 0x7F), DISP_E_BADVARTYPE);
}

TEST_F(VariantTest, EmptyNullAndErrorValues) {
  ScopedVariant src, dst;
  ASSERT_EQ(VariantChangeType(dst.get(), src.get(), 0, VT_BSTR), S_OK);
  ASSERT_NE(dst->bstrVal, nullptr);  // an empty string, not a null one
  EXPECT_EQ(SysStringLen(dst->bstrVal), 0u);
  ASSERT_EQ(VariantChangeType(dst.get(), src.get(), 0, VT_R8), S_OK);
  EXPECT_EQ(dst->dblVal, 0.0);
  ASSERT_EQ(VariantChangeType(dst.get(), src.get(), 0, VT_NULL), S_OK);

  src->vt = VT_NULL;
  EXPECT_EQ(VariantChangeType(dst.get(), src.get(), 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantChangeType(dst.get(), src.get(), 0, VT_BSTR), DISP_E_TYPEMISMATCH);

  src->vt = VT_ERROR;
  src->scode = DISP_E_PARAMNOTFOUND;
  EXPECT_EQ(VariantChangeType(dst.get(), src.get(), 0, VT_I4), DISP_E_TYPEMISMATCH);
  ASSERT_EQ(VariantChangeType(dst.get(), src.get(), 0, VT_ERROR), S_OK);
  EXPECT_EQ(dst->scode, DISP_E_PARAMNOTFOUND);
}

TEST_F(VariantTest, ReferencesAreFollowed) {
  double target = 2.5;
  VARIANT ref;
  ref.vt = VT_R8 | VT_BYREF;
  ref.pdblVal = &target;
  ScopedVariant dst;
  ASSERT_EQ(VariantChangeType(dst.get(), &ref, 0, VT_I4), S_OK);
  EXPECT_EQ(dst->lVal, 2);
  ASSERT_EQ(VariantChangeType(dst.get(), &ref, 0, VT_R8), S_OK);
  EXPECT_EQ(dst->vt, VT_R8);  // a by-value copy, not the reference
}

TEST_F(VariantTest, BooleanText) {
  VARIANT b;
  b.vt = VT_BOOL;
  b.boolVal = VARIANT_TRUE;
  ScopedVariant dst;
  ASSERT_EQ(VariantChangeType(dst.get(), &b, 0, VT_BSTR), S_OK);
  EXPECT_EQ(Text(dst->bstrVal), u"-1");
  ASSERT_EQ(VariantChangeType(dst.get(), &b, VARIANT_ALPHABOOL, VT_BSTR), S_OK);
  EXPECT_EQ(Text(dst->bstrVal), u"True");
  b.boolVal = VARIANT_FALSE;
  ASSERT_EQ(VariantChangeType(dst.get(), &b, VARIANT_ALPHABOOL, VT_BSTR), S_OK);
  EXPECT_EQ(Text(dst->bstrVal), u"False");
  ASSERT_EQ(VariantChangeType(dst.get(), &b, 0, VT_BSTR), S_OK);
  EXPECT_EQ(Text(dst->bstrVal), u"0");
}

TEST_F(VariantTest, ObjectsConvertByQueryInterface) {
  CountedObject with_dispatch(true);
  CountedObject without_dispatch(false);
  VARIANT src;
  src.vt = VT_UNKNOWN;
  src.punkVal = &with_dispatch;
  ScopedVariant dst;
  ASSERT_EQ(VariantChangeType(dst.get(), &src, 0, VT_DISPATCH), S_OK);
  EXPECT_EQ(dst->vt, VT_DISPATCH);
  EXPECT_EQ(dst->pdispVal, &with_dispatch);
  EXPECT_EQ(with_dispatch.refs(), 2u);
  VariantClear(dst.get());
  EXPECT_EQ(with_dispatch.refs(), 1u);

  src.punkVal = &without_dispatch;
  dst->vt = VT_I4;
  EXPECT_EQ(VariantChangeType(dst.get(), &src, 0, VT_DISPATCH), E_NOINTERFACE);
  EXPECT_EQ(dst->vt, VT_I4);
  EXPECT_EQ(without_dispatch.refs(), 1u);

  // Plain objects have no value to convert.
  EXPECT_EQ(VariantChangeType(dst.get(), &src, 0, VT_BSTR), DISP_E_TYPEMISMATCH);
  src.vt = VT_UNKNOWN;
  src.punkVal = nullptr;
  ASSERT_EQ(VariantChangeType(dst.get(), &src, 0, VT_DISPATCH), S_OK);
  EXPECT_EQ(dst->pdispVal, nullptr);
}

TEST_F(VariantTest, ObjectValueComesFromTheDefaultMember) {
  CountedObject object(true);
  VARIANT value;
  value.vt = VT_I4;
  value.lVal = 123;
  object.SetValue(&value);
  VARIANT src;
  src.vt = VT_DISPATCH;
  src.pdispVal = &object;
  ScopedVariant dst;
  ASSERT_EQ(VariantChangeType(dst.get(), &src, 0, VT_BSTR), S_OK);
  EXPECT_EQ(Text(dst->bstrVal), u"123");
  EXPECT_EQ(object.invocations(), 1);

  EXPECT_EQ(VariantChangeType(dst.get(), &src, VARIANT_NOVALUEPROP, VT_BSTR), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(object.invocations(), 1);

  CountedObject no_value(true);
  src.pdispVal = &no_value;
  EXPECT_EQ(VariantChangeType(dst.get(), &src, 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(object.refs(), 1u);
}

TEST_F(VariantTest, ByteArraysAndStringsConvert) {
  ScopedVariant src, dst;
  src->vt = VT_BSTR;
  src->bstrVal = SysAllocStringByteLen("\x01\x02\x03", 3);
  ASSERT_EQ(VariantChangeType(dst.get(), src.get(), 0, VT_ARRAY | VT_UI1), S_OK);
  ASSERT_EQ(dst->parray->rgsabound[0].cElements, 3u);
  EXPECT_EQ(static_cast<BYTE *>(dst->parray->pvData)[2], 3);

  ScopedVariant back;
  ASSERT_EQ(VariantChangeType(back.get(), dst.get(), 0, VT_BSTR), S_OK);
  EXPECT_EQ(SysStringByteLen(back->bstrVal), 3u);

  EXPECT_EQ(VariantChangeType(back.get(), dst.get(), 0, VT_ARRAY | VT_I4), DISP_E_TYPEMISMATCH);
}

TEST_F(VariantTest, ChangeTypeReportsOutOfMemory) {
  VARIANT src;
  src.vt = VT_I4;
  src.lVal = 1;
  ScopedVariant dst;
  ComHostFailAllocation(1);
  EXPECT_EQ(VariantChangeType(dst.get(), &src, 0, VT_BSTR), E_OUTOFMEMORY);
  EXPECT_EQ(dst->vt, VT_EMPTY);
}

TEST_F(VariantTest, DecimalSharesTheTypeField) {
  // The DECIMAL overlays the whole VARIANT; writing it must not lose vt.
  VARIANT src;
  src.vt = VT_I4;
  src.lVal = -7;
  ScopedVariant dst;
  ASSERT_EQ(VariantChangeType(dst.get(), &src, 0, VT_DECIMAL), S_OK);
  EXPECT_EQ(dst->vt, VT_DECIMAL);
  EXPECT_EQ(dst->decVal.sign, DECIMAL_NEG);
  EXPECT_EQ(dst->decVal.Lo64, 7u);
}

}  // namespace
