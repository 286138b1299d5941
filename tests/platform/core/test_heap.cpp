// The process heap and allocation-failure injection.  This program links
// comhost_testheap, so its own operator new runs on the process heap too.

#include "support.h"

#include <objbase.h>

#include <cstring>
#include <memory>
#include <new>

using comhost_test::NlsStateGuard;

namespace {

struct HeapBlock {
    void operator()(void *p) const { HeapFree(GetProcessHeap(), 0, p); }
};
using HeapPtr = std::unique_ptr<void, HeapBlock>;

TEST(FailureInjection, FailsExactlyTheNthAttempt) {
    NlsStateGuard guard;
    HANDLE heap = GetProcessHeap();
    ComHostFailAllocation(3);
    EXPECT_TRUE(ComHostAllocationFailurePending());
    HeapPtr first(HeapAlloc(heap, 0, 8));
    HeapPtr second(HeapAlloc(heap, 0, 8));
    SetLastError(0);
    HeapPtr third(HeapAlloc(heap, 0, 8));
    HeapPtr fourth(HeapAlloc(heap, 0, 8));
    EXPECT_NE(first, nullptr);
    EXPECT_NE(second, nullptr);
    EXPECT_EQ(third, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_NE(fourth, nullptr);
    EXPECT_FALSE(ComHostAllocationFailurePending());
}

TEST(FailureInjection, AllAllocatorsShareOneCount) {
    NlsStateGuard guard;
    LONG before = ComHostAllocationCount();
    ComHostFailAllocation(2);
    void *task = CoTaskMemAlloc(16);  // attempt 1
    HeapPtr heapBlock(HeapAlloc(GetProcessHeap(), 0, 16));  // attempt 2: fails
    void *task2 = CoTaskMemAlloc(16);  // attempt 3
    EXPECT_NE(task, nullptr);
    EXPECT_EQ(heapBlock, nullptr);
    EXPECT_NE(task2, nullptr);
    EXPECT_EQ(ComHostAllocationCount() - before, 3);
    CoTaskMemFree(task);
    CoTaskMemFree(task2);
}

TEST(FailureInjection, ZeroDisarms) {
    NlsStateGuard guard;
    ComHostFailAllocation(1);
    ComHostFailAllocation(0);
    EXPECT_FALSE(ComHostAllocationFailurePending());
    HeapPtr block(HeapAlloc(GetProcessHeap(), 0, 8));
    EXPECT_NE(block, nullptr);
}

TEST(FailureInjection, PersistentFailureLastsUntilDisarmed) {
    NlsStateGuard guard;
    ComHostFailAllocationsFrom(2);
    void *ok = CoTaskMemAlloc(4);
    void *failed1 = CoTaskMemAlloc(4);
    void *failed2 = CoTaskMemRealloc(nullptr, 4);
    EXPECT_NE(ok, nullptr);
    EXPECT_EQ(failed1, nullptr);
    EXPECT_EQ(failed2, nullptr);
    ComHostFailAllocation(0);
    void *again = CoTaskMemAlloc(4);
    EXPECT_NE(again, nullptr);
    CoTaskMemFree(ok);
    CoTaskMemFree(again);
}

TEST(FailureInjection, ReachesOperatorNew) {
    NlsStateGuard guard;
    ComHostFailAllocation(1);
    // volatile keeps the optimiser from eliding the allocations under test.
    int *volatile nothing = new (std::nothrow) int(5);
    EXPECT_EQ(nothing, nullptr);
    int *volatile something = new (std::nothrow) int(5);
    ASSERT_NE(something, nullptr);
    delete something;

    ComHostFailAllocation(1);
    int *volatile array = nullptr;
    EXPECT_THROW(array = new int[4], std::bad_alloc);
    delete[] array;
}

TEST(FailureInjection, ReallocationFailureKeepsTheBlock) {
    NlsStateGuard guard;
    HANDLE heap = GetProcessHeap();
    auto *block = static_cast<char *>(HeapAlloc(heap, 0, 4));
    ASSERT_NE(block, nullptr);
    std::memcpy(block, "abc", 4);
    ComHostFailAllocation(1);
    EXPECT_EQ(HeapReAlloc(heap, 0, block, 4096), nullptr);
    EXPECT_STREQ(block, "abc");
    HeapFree(heap, 0, block);
}

TEST(Heap, ZeroMemoryFlag) {
    HANDLE heap = GetProcessHeap();
    auto *block = static_cast<unsigned char *>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 64));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(block[i], 0) << i;
    HeapFree(heap, 0, block);
}

TEST(Heap, GrowingWithZeroMemoryZeroesEverythingBeyondTheOldSize) {
    HANDLE heap = GetProcessHeap();
    // Fill a block completely, shrink it, then grow it again: every byte past
    // the shrunken size must read as zero, including bytes the allocator
    // kept in place.
    auto *block = static_cast<unsigned char *>(HeapAlloc(heap, 0, 40));
    ASSERT_NE(block, nullptr);
    std::memset(block, 0xAB, 40);
    block = static_cast<unsigned char *>(HeapReAlloc(heap, 0, block, 5));
    ASSERT_NE(block, nullptr);
    block = static_cast<unsigned char *>(HeapReAlloc(heap, HEAP_ZERO_MEMORY, block, 200));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(block[i], 0xAB) << i;
    for (int i = 5; i < 200; ++i) EXPECT_EQ(block[i], 0) << i;
    EXPECT_GE(HeapSize(heap, 0, block), 200u);
    HeapFree(heap, 0, block);
}

TEST(Heap, InPlaceReallocationNeverMoves) {
    HANDLE heap = GetProcessHeap();
    void *block = HeapAlloc(heap, 0, 64);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(HeapReAlloc(heap, HEAP_REALLOC_IN_PLACE_ONLY, block, 16), block);
    EXPECT_EQ(HeapReAlloc(heap, HEAP_REALLOC_IN_PLACE_ONLY, block, 1 << 20), nullptr);
    HeapFree(heap, 0, block);
}

TEST(Heap, RejectsForeignHandles) {
    int notAHeap = 0;
    SetLastError(0);
    EXPECT_EQ(HeapAlloc(&notAHeap, 0, 8), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, nullptr));
}

}  // namespace
