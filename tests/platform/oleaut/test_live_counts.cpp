// The live counts that tests use to prove a call left nothing behind: every
// kind goes up when one is handed out and down when it is freed, and nothing
// else moves them.
#include <comhost/testing.h>
#include <oleauto.h>

#include <gtest/gtest.h>

namespace {

LONG Live(ComHostLiveKind kind) { return ComHostLiveCount(kind); }

TEST(LiveCounts, BstrsAreCountedFromAllocationToFree) {
    const LONG before = Live(COMHOST_LIVE_BSTRS);
    BSTR a = SysAllocString(OLESTR("abc"));
    BSTR b = SysAllocStringLen(nullptr, 10);
    EXPECT_EQ(before + 2, Live(COMHOST_LIVE_BSTRS));
    // A reallocation replaces one string by another.
    ASSERT_TRUE(SysReAllocString(&a, OLESTR("longer text")));
    EXPECT_EQ(before + 2, Live(COMHOST_LIVE_BSTRS));
    SysFreeString(a);
    SysFreeString(b);
    SysFreeString(nullptr);
    EXPECT_EQ(before, Live(COMHOST_LIVE_BSTRS));

    // A failed allocation counts nothing.
    ComHostFailAllocation(1);
    EXPECT_EQ(nullptr, SysAllocString(OLESTR("x")));
    ComHostFailAllocation(0);
    EXPECT_EQ(before, Live(COMHOST_LIVE_BSTRS));
}

TEST(LiveCounts, ArraysAndTheStringsInThemAreCounted) {
    const LONG arrays = Live(COMHOST_LIVE_SAFEARRAYS);
    const LONG strings = Live(COMHOST_LIVE_BSTRS);
    SAFEARRAY* psa = SafeArrayCreateVector(VT_BSTR, 0, 2);
    ASSERT_NE(nullptr, psa);
    LONG i = 0;
    BSTR s = SysAllocString(OLESTR("kept"));
    ASSERT_EQ(S_OK, SafeArrayPutElement(psa, &i, s));   // the array stores a copy
    SysFreeString(s);
    SAFEARRAY* copy = nullptr;
    ASSERT_EQ(S_OK, SafeArrayCopy(psa, &copy));
    EXPECT_EQ(arrays + 2, Live(COMHOST_LIVE_SAFEARRAYS));
    EXPECT_EQ(strings + 2, Live(COMHOST_LIVE_BSTRS));
    EXPECT_EQ(S_OK, SafeArrayDestroy(psa));
    EXPECT_EQ(S_OK, SafeArrayDestroy(copy));
    EXPECT_EQ(arrays, Live(COMHOST_LIVE_SAFEARRAYS));
    EXPECT_EQ(strings, Live(COMHOST_LIVE_BSTRS));
}

TEST(LiveCounts, ObjectsLiveUntilTheirLastRelease) {
    const LONG objects = Live(COMHOST_LIVE_OBJECTS);
    ICreateErrorInfo* create = nullptr;
    ASSERT_EQ(S_OK, CreateErrorInfo(&create));
    IErrorInfo* info = nullptr;
    ASSERT_EQ(S_OK, create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)));
    EXPECT_EQ(objects + 1, Live(COMHOST_LIVE_OBJECTS));
    create->Release();
    EXPECT_EQ(objects + 1, Live(COMHOST_LIVE_OBJECTS));
    info->Release();
    EXPECT_EQ(objects, Live(COMHOST_LIVE_OBJECTS));
}

TEST(LiveCounts, UnknownKindsAnswerMinusOne) {
    EXPECT_EQ(-1, ComHostLiveCount(static_cast<ComHostLiveKind>(COMHOST_LIVE_KIND_COUNT)));
    EXPECT_EQ(-1, ComHostLiveCount(static_cast<ComHostLiveKind>(-1)));
}

}  // namespace
