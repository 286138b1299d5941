#include <comhost/testing.h>
#include <gtest/gtest.h>
#include <oleauto.h>

#include <cstring>
#include <string>

#include "test_objects.h"

namespace {

using oleaut_test::ScopedBstr;

ULONG PrefixOf(BSTR s) {
  ULONG bytes = 0;
  std::memcpy(&bytes, reinterpret_cast<const char *>(s) - sizeof(ULONG), sizeof bytes);
  return bytes;
}

std::u16string Text(BSTR s) { return std::u16string(s, SysStringLen(s)); }

class BstrTest : public ::testing::Test {
 protected:
  void TearDown() override { ComHostFailAllocation(0); }
};

TEST_F(BstrTest, LayoutHasByteCountPrefixAndTerminator) {
  ScopedBstr s(OLESTR("abc"));
  ASSERT_NE(s.get(), nullptr);
  EXPECT_EQ(PrefixOf(s), 6u);
  EXPECT_EQ(SysStringLen(s), 3u);
  EXPECT_EQ(SysStringByteLen(s), 6u);
  EXPECT_EQ(s.get()[3], 0);
}

TEST_F(BstrTest, EmbeddedNullsAreKeptAndCounted) {
  const OLECHAR text[] = {u'a', 0, u'b', 0, u'c'};
  BSTR s = SysAllocStringLen(text, 5);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringLen(s), 5u);
  EXPECT_EQ(Text(s), std::u16string(text, 5));
  EXPECT_EQ(s[5], 0);

  // Copies made through VARIANTs keep the whole string, not up to the
  // first null.
  VARIANT a, b;
  VariantInit(&a);
  VariantInit(&b);
  a.vt = VT_BSTR;
  a.bstrVal = s;
  ASSERT_EQ(VariantCopy(&b, &a), S_OK);
  EXPECT_NE(b.bstrVal, s);
  EXPECT_EQ(Text(b.bstrVal), std::u16string(text, 5));
  VariantClear(&a);
  VariantClear(&b);
}

TEST_F(BstrTest, NullStringsBehaveAsEmpty) {
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
  SysFreeString(nullptr);

  BSTR empty = SysAllocStringLen(nullptr, 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(SysStringLen(empty), 0u);
  EXPECT_EQ(empty[0], 0);
  SysFreeString(empty);
}

TEST_F(BstrTest, LengthWithoutTextGivesZeroedString) {
  BSTR s = SysAllocStringLen(nullptr, 4);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringLen(s), 4u);
  for (int i = 0; i <= 4; ++i) EXPECT_EQ(s[i], 0) << i;
  SysFreeString(s);
}

TEST_F(BstrTest, ByteLengthStringsKeepOddLengths) {
  BSTR s = SysAllocStringByteLen("xyz", 3);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringByteLen(s), 3u);
  EXPECT_EQ(SysStringLen(s), 1u);
  const char *bytes = reinterpret_cast<const char *>(s);
  EXPECT_EQ(std::string(bytes, 3), "xyz");
  EXPECT_EQ(bytes[3], 0);
  EXPECT_EQ(s[2], 0);  // the character after the last whole one

  // Copies keep the odd byte count.
  VARIANT a, b;
  VariantInit(&b);
  a.vt = VT_BSTR;
  a.bstrVal = s;
  ASSERT_EQ(VariantCopy(&b, &a), S_OK);
  EXPECT_EQ(SysStringByteLen(b.bstrVal), 3u);
  VariantClear(&a);
  VariantClear(&b);
}

TEST_F(BstrTest, ReallocationMayUseTheOldStringAsSource) {
  BSTR s = SysAllocString(OLESTR("hello"));
  ASSERT_TRUE(SysReAllocString(&s, s + 1));
  EXPECT_EQ(Text(s), u"ello");
  ASSERT_TRUE(SysReAllocStringLen(&s, s, 2));
  EXPECT_EQ(Text(s), u"el");
  ASSERT_TRUE(SysReAllocString(&s, nullptr));
  EXPECT_EQ(s, nullptr);
  EXPECT_FALSE(SysReAllocString(nullptr, OLESTR("x")));
}

TEST_F(BstrTest, InjectedFailuresReturnNullAndLeaveOldStringsAlone) {
  ComHostFailAllocation(1);
  EXPECT_EQ(SysAllocString(OLESTR("abc")), nullptr);
  ScopedBstr ok(OLESTR("abc"));  // the next attempt succeeds again
  EXPECT_NE(ok.get(), nullptr);

  BSTR s = SysAllocString(OLESTR("keep"));
  ComHostFailAllocation(1);
  EXPECT_FALSE(SysReAllocString(&s, OLESTR("replacement")));
  EXPECT_EQ(Text(s), u"keep");
  SysFreeString(s);

  ComHostFailAllocation(1);
  EXPECT_EQ(SysAllocStringByteLen("ab", 2), nullptr);
}

TEST_F(BstrTest, EveryAllocationIsCountedOnce) {
  const LONG before = ComHostAllocationCount();
  BSTR s = SysAllocString(OLESTR("x"));
  EXPECT_EQ(ComHostAllocationCount(), before + 1);
  SysFreeString(s);
}

TEST_F(BstrTest, OversizedRequestsFailWithoutAllocating) {
  const LONG before = ComHostAllocationCount();
  EXPECT_EQ(SysAllocStringLen(nullptr, 0x7FFFFFFFu), nullptr);
  EXPECT_EQ(SysAllocStringByteLen(nullptr, 0xFFFFFFFFu), nullptr);
  EXPECT_EQ(ComHostAllocationCount(), before);
}

TEST_F(BstrTest, ConcatenationUsesCharacterLengths) {
  ScopedBstr left(OLESTR("ab"));
  BSTR right = SysAllocStringLen(OLESTR("c\0d"), 3);
  ScopedBstr joined;
  ASSERT_EQ(VarBstrCat(left, right, joined.receive()), S_OK);
  EXPECT_EQ(Text(joined), std::u16string(u"abc\0d", 5));
  SysFreeString(right);

  ScopedBstr empty;
  ASSERT_EQ(VarBstrCat(nullptr, nullptr, empty.receive()), S_OK);
  ASSERT_NE(empty.get(), nullptr);
  EXPECT_EQ(SysStringLen(empty), 0u);
}

}  // namespace
