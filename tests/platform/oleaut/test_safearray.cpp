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

class SafeArrayTest : public ::testing::Test {
 protected:
  void TearDown() override { ComHostFailAllocation(0); }
};

// A recordset's rows as GetRows hands them out: VARIANTs indexed
// (field, row), the field index varying fastest.
TEST_F(SafeArrayTest, FieldByRowArrayAsGetRowsReturnsIt) {
  SAFEARRAYBOUND bounds[2] = {{3, 0}, {2, 0}};  // 3 fields, 2 rows
  SAFEARRAY *psa = SafeArrayCreate(VT_VARIANT, 2, bounds);
  ASSERT_NE(psa, nullptr);
  EXPECT_EQ(SafeArrayGetDim(psa), 2u);
  LONG lb = -1, ub = -1;
  ASSERT_EQ(SafeArrayGetUBound(psa, 1, &ub), S_OK);
  EXPECT_EQ(ub, 2);  // fields
  ASSERT_EQ(SafeArrayGetUBound(psa, 2, &ub), S_OK);
  EXPECT_EQ(ub, 1);  // rows
  ASSERT_EQ(SafeArrayGetLBound(psa, 2, &lb), S_OK);
  EXPECT_EQ(lb, 0);
  // The descriptor keeps the bounds rightmost first.
  EXPECT_EQ(psa->rgsabound[0].cElements, 2u);
  EXPECT_EQ(psa->rgsabound[1].cElements, 3u);

  for (LONG field = 0; field < 3; ++field) {
    for (LONG row = 0; row < 2; ++row) {
      LONG index[2] = {field, row};
      VARIANT v;
      v.vt = VT_I4;
      v.lVal = field * 10 + row;
      ASSERT_EQ(SafeArrayPutElement(psa, index, &v), S_OK);
    }
  }
  // In memory the field index varies fastest.
  const VARIANT *data = static_cast<const VARIANT *>(psa->pvData);
  for (LONG field = 0; field < 3; ++field) {
    for (LONG row = 0; row < 2; ++row) EXPECT_EQ(data[field + row * 3].lVal, field * 10 + row);
  }
  LONG index[2] = {2, 1};
  ScopedVariant out;
  ASSERT_EQ(SafeArrayGetElement(psa, index, out.get()), S_OK);
  EXPECT_EQ(out->lVal, 21);
  void *slot = nullptr;
  ASSERT_EQ(SafeArrayPtrOfIndex(psa, index, &slot), S_OK);
  EXPECT_EQ(slot, &data[5]);

  LONG outside[2] = {3, 0};
  EXPECT_EQ(SafeArrayGetElement(psa, outside, out.get()), DISP_E_BADINDEX);
  LONG outside_row[2] = {0, 2};
  EXPECT_EQ(SafeArrayPutElement(psa, outside_row, out.get()), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetUBound(psa, 3, &ub), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetUBound(psa, 0, &ub), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST_F(SafeArrayTest, LowerBoundsOtherThanZero) {
  SAFEARRAYBOUND bounds[2] = {{2, 1}, {3, -2}};
  SAFEARRAY *psa = SafeArrayCreate(VT_I2, 2, bounds);
  ASSERT_NE(psa, nullptr);
  LONG lb = 0, ub = 0;
  ASSERT_EQ(SafeArrayGetLBound(psa, 1, &lb), S_OK);
  ASSERT_EQ(SafeArrayGetUBound(psa, 1, &ub), S_OK);
  EXPECT_EQ(lb, 1);
  EXPECT_EQ(ub, 2);
  ASSERT_EQ(SafeArrayGetLBound(psa, 2, &lb), S_OK);
  ASSERT_EQ(SafeArrayGetUBound(psa, 2, &ub), S_OK);
  EXPECT_EQ(lb, -2);
  EXPECT_EQ(ub, 0);
  LONG index[2] = {2, -1};
  SHORT value = 77;
  ASSERT_EQ(SafeArrayPutElement(psa, index, &value), S_OK);
  EXPECT_EQ(static_cast<SHORT *>(psa->pvData)[1 + 1 * 2], 77);
  LONG below[2] = {0, -1};
  EXPECT_EQ(SafeArrayPutElement(psa, below, &value), DISP_E_BADINDEX);
  SafeArrayDestroy(psa);
}

TEST_F(SafeArrayTest, FeaturesAndTypes) {
  const struct {
    VARTYPE vt;
    USHORT features;
    UINT size;
  } cases[] = {
      {VT_I4, FADF_HAVEVARTYPE, 4},
      {VT_BSTR, FADF_HAVEVARTYPE | FADF_BSTR, sizeof(BSTR)},
      {VT_VARIANT, FADF_HAVEVARTYPE | FADF_VARIANT, sizeof(VARIANT)},
      {VT_UNKNOWN, FADF_HAVEIID | FADF_UNKNOWN, sizeof(void *)},
      {VT_DISPATCH, FADF_HAVEIID | FADF_DISPATCH, sizeof(void *)},
      {VT_DECIMAL, FADF_HAVEVARTYPE, 16},
      {VT_BOOL, FADF_HAVEVARTYPE, 2},
  };
  for (const auto &c : cases) {
    SAFEARRAY *psa = SafeArrayCreateVector(c.vt, 0, 2);
    ASSERT_NE(psa, nullptr) << c.vt;
    EXPECT_EQ(psa->fFeatures, c.features) << c.vt;
    EXPECT_EQ(SafeArrayGetElemsize(psa), c.size) << c.vt;
    VARTYPE vt = VT_EMPTY;
    ASSERT_EQ(SafeArrayGetVartype(psa, &vt), S_OK);
    EXPECT_EQ(vt, c.vt);
    SafeArrayDestroy(psa);
  }
  SAFEARRAY *unknowns = SafeArrayCreateVector(VT_DISPATCH, 0, 1);
  GUID iid = {};
  ASSERT_EQ(SafeArrayGetIID(unknowns, &iid), S_OK);
  EXPECT_TRUE(IsEqualGUID(iid, IID_IDispatch));
  SafeArrayDestroy(unknowns);

  SAFEARRAYBOUND bound = {1, 0};
  EXPECT_EQ(SafeArrayCreate(VT_EMPTY, 1, &bound), nullptr);
  EXPECT_EQ(SafeArrayCreate(VT_NULL, 1, &bound), nullptr);
  EXPECT_EQ(SafeArrayCreate(VT_I4, 0, &bound), nullptr);
  SAFEARRAY *psa = nullptr;
  EXPECT_EQ(SafeArrayAllocDescriptor(0, &psa), E_INVALIDARG);
  EXPECT_EQ(SafeArrayAllocDescriptor(65536, &psa), E_INVALIDARG);
}

TEST_F(SafeArrayTest, StringElementsAreCopiedInAndOut) {
  SAFEARRAY *psa = SafeArrayCreateVector(VT_BSTR, 0, 2);
  ScopedBstr original(OLESTR("first"));
  LONG i = 0;
  ASSERT_EQ(SafeArrayPutElement(psa, &i, original.get()), S_OK);  // the string itself, not its address
  BSTR stored = static_cast<BSTR *>(psa->pvData)[0];
  EXPECT_NE(stored, original.get());
  EXPECT_EQ(Text(stored), u"first");

  ScopedBstr read;
  ASSERT_EQ(SafeArrayGetElement(psa, &i, read.receive()), S_OK);
  EXPECT_NE(read.get(), stored);
  EXPECT_EQ(Text(read), u"first");

  // Replacing frees the old element (a leak shows under the sanitizer).
  ScopedBstr second(OLESTR("second"));
  ASSERT_EQ(SafeArrayPutElement(psa, &i, second.get()), S_OK);
  ASSERT_EQ(SafeArrayPutElement(psa, &i, nullptr), S_OK);
  EXPECT_EQ(static_cast<BSTR *>(psa->pvData)[0], nullptr);
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST_F(SafeArrayTest, InterfaceElementsHoldReferences) {
  CountedObject a, b;
  SAFEARRAY *psa = SafeArrayCreateVector(VT_UNKNOWN, 0, 1);
  LONG i = 0;
  ASSERT_EQ(SafeArrayPutElement(psa, &i, static_cast<IUnknown *>(&a)), S_OK);
  EXPECT_EQ(a.refs(), 2u);
  IUnknown *out = nullptr;
  ASSERT_EQ(SafeArrayGetElement(psa, &i, &out), S_OK);
  EXPECT_EQ(out, &a);
  EXPECT_EQ(a.refs(), 3u);
  out->Release();
  ASSERT_EQ(SafeArrayPutElement(psa, &i, static_cast<IUnknown *>(&b)), S_OK);
  EXPECT_EQ(a.refs(), 1u);
  EXPECT_EQ(b.refs(), 2u);

  SAFEARRAY *copy = nullptr;
  ASSERT_EQ(SafeArrayCopy(psa, &copy), S_OK);
  EXPECT_EQ(b.refs(), 3u);
  SafeArrayDestroy(copy);
  SafeArrayDestroy(psa);
  EXPECT_EQ(b.refs(), 1u);
}

TEST_F(SafeArrayTest, VariantElementsAreDeepCopies) {
  SAFEARRAY *psa = SafeArrayCreateVector(VT_VARIANT, 0, 1);
  ScopedVariant in;
  in->vt = VT_BSTR;
  in->bstrVal = SysAllocString(OLESTR("deep"));
  LONG i = 0;
  ASSERT_EQ(SafeArrayPutElement(psa, &i, in.get()), S_OK);
  VARIANT *stored = static_cast<VARIANT *>(psa->pvData);
  EXPECT_NE(stored->bstrVal, in->bstrVal);

  SAFEARRAY *copy = nullptr;
  ASSERT_EQ(SafeArrayCopy(psa, &copy), S_OK);
  VARIANT *copied = static_cast<VARIANT *>(copy->pvData);
  EXPECT_NE(copied->bstrVal, stored->bstrVal);
  EXPECT_EQ(Text(copied->bstrVal), u"deep");
  VARTYPE vt = VT_EMPTY;
  ASSERT_EQ(SafeArrayGetVartype(copy, &vt), S_OK);
  EXPECT_EQ(vt, VT_VARIANT);
  SafeArrayDestroy(copy);
  SafeArrayDestroy(psa);
}

TEST_F(SafeArrayTest, LockedArraysCannotBeDestroyed) {
  SAFEARRAY *psa = SafeArrayCreateVector(VT_I4, 0, 4);
  void *data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(psa, &data), S_OK);
  EXPECT_EQ(data, psa->pvData);
  EXPECT_EQ(psa->cLocks, 1u);
  EXPECT_EQ(SafeArrayDestroy(psa), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(SafeArrayDestroyData(psa), DISP_E_ARRAYISLOCKED);
  SAFEARRAYBOUND bigger = {8, 0};
  EXPECT_EQ(SafeArrayRedim(psa, &bigger), DISP_E_ARRAYISLOCKED);
  ASSERT_EQ(SafeArrayUnaccessData(psa), S_OK);
  EXPECT_EQ(SafeArrayUnlock(psa), E_UNEXPECTED);
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
  EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
}

TEST_F(SafeArrayTest, RedimChangesTheLastDimension) {
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
  SAFEARRAY *psa = SafeArrayCreate(VT_BSTR, 2, bounds);
  for (LONG col = 0; col < 2; ++col) {
    for (LONG row = 0; row < 2; ++row) {
      LONG index[2] = {col, row};
      ScopedBstr s(row == 0 ? OLESTR("keep") : OLESTR("drop"));
      ASSERT_EQ(SafeArrayPutElement(psa, index, s.get()), S_OK);
    }
  }
  SAFEARRAYBOUND smaller = {1, 0};
  ASSERT_EQ(SafeArrayRedim(psa, &smaller), S_OK);  // the "drop" strings are freed
  LONG ub = 0;
  ASSERT_EQ(SafeArrayGetUBound(psa, 2, &ub), S_OK);
  EXPECT_EQ(ub, 0);
  SAFEARRAYBOUND larger = {3, 0};
  ASSERT_EQ(SafeArrayRedim(psa, &larger), S_OK);
  LONG kept[2] = {1, 0};
  ScopedBstr s;
  ASSERT_EQ(SafeArrayGetElement(psa, kept, s.receive()), S_OK);
  EXPECT_EQ(Text(s), u"keep");
  LONG fresh[2] = {1, 2};
  ASSERT_EQ(SafeArrayGetElement(psa, fresh, s.receive()), S_OK);
  EXPECT_EQ(s.get(), nullptr);
  SafeArrayDestroy(psa);
}

TEST_F(SafeArrayTest, AllocationFailuresLeakNothing) {
  SAFEARRAYBOUND bound = {3, 0};
  ComHostFailAllocation(1);  // the descriptor
  EXPECT_EQ(SafeArrayCreate(VT_BSTR, 1, &bound), nullptr);
  ComHostFailAllocation(2);  // the data
  EXPECT_EQ(SafeArrayCreate(VT_BSTR, 1, &bound), nullptr);
  EXPECT_FALSE(ComHostAllocationFailurePending());

  SAFEARRAY *psa = SafeArrayCreate(VT_BSTR, 1, &bound);
  for (LONG i = 0; i < 3; ++i) {
    ScopedBstr s(OLESTR("x"));
    ASSERT_EQ(SafeArrayPutElement(psa, &i, s.get()), S_OK);
  }
  // Copying needs descriptor, data and three strings; each may fail.
  for (LONG nth = 1; nth <= 5; ++nth) {
    SAFEARRAY *copy = reinterpret_cast<SAFEARRAY *>(1);
    ComHostFailAllocation(nth);
    EXPECT_EQ(SafeArrayCopy(psa, &copy), E_OUTOFMEMORY) << nth;
    EXPECT_EQ(copy, nullptr);
  }
  ComHostFailAllocation(0);
  LONG i = 0;
  ScopedBstr out;
  ComHostFailAllocation(1);
  EXPECT_EQ(SafeArrayGetElement(psa, &i, out.receive()), E_OUTOFMEMORY);
  ScopedBstr replacement(OLESTR("y"));
  ComHostFailAllocation(1);
  EXPECT_EQ(SafeArrayPutElement(psa, &i, replacement.get()), E_OUTOFMEMORY);
  EXPECT_EQ(Text(static_cast<BSTR *>(psa->pvData)[0]), u"x");  // the old element stays
  SafeArrayDestroy(psa);
}

TEST_F(SafeArrayTest, OversizedArraysAreRefusedUpFront) {
  SAFEARRAYBOUND bounds[2] = {{0x10000, 0}, {0x10000, 0}};
  const LONG before = ComHostAllocationCount();
  EXPECT_EQ(SafeArrayCreate(VT_VARIANT, 2, bounds), nullptr);
  EXPECT_LE(ComHostAllocationCount(), before + 1);  // at most the descriptor was tried
}

TEST_F(SafeArrayTest, CopyDataNeedsTheSameShape) {
  SAFEARRAY *a = SafeArrayCreateVector(VT_BSTR, 0, 2);
  SAFEARRAY *b = SafeArrayCreateVector(VT_BSTR, 0, 2);
  SAFEARRAY *c = SafeArrayCreateVector(VT_BSTR, 1, 2);
  LONG i = 1;
  ScopedBstr s(OLESTR("z"));
  SafeArrayPutElement(a, &i, s.get());
  SafeArrayPutElement(b, &i, s.get());  // replaced (and freed) by the copy
  ASSERT_EQ(SafeArrayCopyData(a, b), S_OK);
  EXPECT_NE(static_cast<BSTR *>(b->pvData)[1], static_cast<BSTR *>(a->pvData)[1]);
  EXPECT_EQ(Text(static_cast<BSTR *>(b->pvData)[1]), u"z");
  EXPECT_EQ(SafeArrayCopyData(a, c), E_INVALIDARG);
  SafeArrayDestroy(a);
  SafeArrayDestroy(b);
  SafeArrayDestroy(c);
}

TEST_F(SafeArrayTest, RecordElementsFollowTheirDescription) {
  IntRecordInfo info;
  SAFEARRAYBOUND bound = {2, 0};
  EXPECT_EQ(SafeArrayCreate(VT_RECORD, 1, &bound), nullptr);  // no description
  SAFEARRAY *psa = SafeArrayCreateEx(VT_RECORD, 1, &bound, &info);
  ASSERT_NE(psa, nullptr);
  EXPECT_EQ(psa->fFeatures, FADF_RECORD);
  EXPECT_EQ(SafeArrayGetElemsize(psa), sizeof(int));
  EXPECT_EQ(info.refs(), 2u);
  VARTYPE vt = VT_EMPTY;
  ASSERT_EQ(SafeArrayGetVartype(psa, &vt), S_OK);
  EXPECT_EQ(vt, VT_RECORD);

  int value = 7;
  LONG i = 1;
  ASSERT_EQ(SafeArrayPutElement(psa, &i, &value), S_OK);
  int out = 0;
  ASSERT_EQ(SafeArrayGetElement(psa, &i, &out), S_OK);
  EXPECT_EQ(out, 7);
  IRecordInfo *got = nullptr;
  ASSERT_EQ(SafeArrayGetRecordInfo(psa, &got), S_OK);
  EXPECT_EQ(got, &info);
  got->Release();

  const int cleared_before = info.cleared;
  ASSERT_EQ(SafeArrayDestroy(psa), S_OK);
  EXPECT_EQ(info.cleared - cleared_before, 2);  // every element
  EXPECT_EQ(info.refs(), 1u);
}

TEST_F(SafeArrayTest, ByteVectorsAndStrings) {
  ScopedBstr s;
  *s.receive() = SysAllocStringByteLen("abc", 3);
  SAFEARRAY *psa = nullptr;
  ASSERT_EQ(VectorFromBstr(s.get(), &psa), S_OK);
  EXPECT_EQ(psa->rgsabound[0].cElements, 3u);
  ScopedBstr back;
  ASSERT_EQ(BstrFromVector(psa, back.receive()), S_OK);
  EXPECT_EQ(SysStringByteLen(back), 3u);
  SafeArrayDestroy(psa);

  SAFEARRAY *words = SafeArrayCreateVector(VT_I2, 0, 2);
  EXPECT_EQ(BstrFromVector(words, back.receive()), E_INVALIDARG);
  SafeArrayDestroy(words);
}

}  // namespace
