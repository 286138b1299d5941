// Critical sections, interlocked operations and the per-thread last error.

#include "support.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using comhost_test::NlsStateGuard;

namespace {

// One critical section for the duration of a test.
class Section {
public:
    Section() { initialized_ = InitializeCriticalSectionAndSpinCount(&cs_, 0) != FALSE; }
    ~Section() {
        if (initialized_) DeleteCriticalSection(&cs_);
    }
    Section(const Section &) = delete;
    Section &operator=(const Section &) = delete;
    bool initialized() const { return initialized_; }
    CRITICAL_SECTION *get() { return &cs_; }

private:
    CRITICAL_SECTION cs_{};
    bool initialized_ = false;
};

bool TryEnterOnAnotherThread(CRITICAL_SECTION *cs) {
    bool entered = false;
    std::thread other([&] {
        entered = TryEnterCriticalSection(cs) != FALSE;
        if (entered) LeaveCriticalSection(cs);
    });
    other.join();
    return entered;
}

TEST(CriticalSection, OwnerMayEnterAgain) {
    Section section;
    ASSERT_TRUE(section.initialized());
    CRITICAL_SECTION *cs = section.get();
    EnterCriticalSection(cs);
    EnterCriticalSection(cs);
    EXPECT_TRUE(TryEnterCriticalSection(cs));
    EXPECT_EQ(cs->RecursionCount, 3);
    EXPECT_EQ(cs->OwningThread, reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(GetCurrentThreadId())));
    LeaveCriticalSection(cs);
    LeaveCriticalSection(cs);
    // Still held once: other threads stay out.
    EXPECT_FALSE(TryEnterOnAnotherThread(cs));
    LeaveCriticalSection(cs);
    EXPECT_EQ(cs->RecursionCount, 0);
    EXPECT_EQ(cs->LockCount, -1);
    EXPECT_TRUE(TryEnterOnAnotherThread(cs));
}

TEST(CriticalSection, ExcludesOtherThreads) {
    Section section;
    ASSERT_TRUE(section.initialized());
    constexpr int kThreads = 4;
    constexpr int kRounds = 20000;
    long counter = 0;  // deliberately not atomic
    int insideAtOnce = 0;
    int maxInside = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                EnterCriticalSection(section.get());
                ++insideAtOnce;
                if (insideAtOnce > maxInside) maxInside = insideAtOnce;
                EnterCriticalSection(section.get());  // nested entry on the same thread
                ++counter;
                LeaveCriticalSection(section.get());
                --insideAtOnce;
                LeaveCriticalSection(section.get());
            }
        });
    }
    for (std::thread &t : threads) t.join();
    EXPECT_EQ(counter, static_cast<long>(kThreads) * kRounds);
    EXPECT_EQ(maxInside, 1);
}

TEST(CriticalSection, WaiterEntersAfterTheOwnerLeaves) {
    Section section;
    ASSERT_TRUE(section.initialized());
    EnterCriticalSection(section.get());
    std::atomic<bool> entered{false};
    std::thread waiter([&] {
        EnterCriticalSection(section.get());
        entered = true;
        LeaveCriticalSection(section.get());
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(entered.load());
    LeaveCriticalSection(section.get());
    waiter.join();
    EXPECT_TRUE(entered.load());
}

TEST(CriticalSection, InitialisationReportsInjectedOutOfMemory) {
    NlsStateGuard guard;
    CRITICAL_SECTION cs{};
    ComHostFailAllocation(1);
    SetLastError(0);
    EXPECT_FALSE(InitializeCriticalSectionAndSpinCount(&cs, 4000));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    ComHostFailAllocation(1);
    EXPECT_FALSE(InitializeCriticalSectionEx(&cs, 0, 0));
    // The next attempt succeeds again.
    ASSERT_TRUE(InitializeCriticalSectionEx(&cs, 0, 0));
    DeleteCriticalSection(&cs);
}

TEST(CriticalSection, ExRejectsUnknownFlags) {
    CRITICAL_SECTION cs{};
    SetLastError(0);
    EXPECT_FALSE(InitializeCriticalSectionEx(&cs, 0, 0x1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(Interlocked, ReturnValues) {
    LONG value = 5;
    EXPECT_EQ(InterlockedIncrement(&value), 6);
    EXPECT_EQ(InterlockedDecrement(&value), 5);
    EXPECT_EQ(InterlockedExchange(&value, 9), 5);
    EXPECT_EQ(value, 9);
    EXPECT_EQ(InterlockedExchangeAdd(&value, 3), 9);
    EXPECT_EQ(value, 12);
    // Compare-exchange returns what it found, whether or not it swapped.
    EXPECT_EQ(InterlockedCompareExchange(&value, 1, 7), 12);
    EXPECT_EQ(value, 12);
    EXPECT_EQ(InterlockedCompareExchange(&value, 1, 12), 12);
    EXPECT_EQ(value, 1);

    int a = 0, b = 0;
    PVOID slot = &a;
    EXPECT_EQ(InterlockedExchangePointer(&slot, &b), &a);
    EXPECT_EQ(InterlockedCompareExchangePointer(&slot, &a, &a), &b);
    EXPECT_EQ(slot, &b);
    EXPECT_EQ(InterlockedCompareExchangePointer(&slot, &a, &b), &b);
    EXPECT_EQ(slot, &a);
}

TEST(Interlocked, IncrementIsIndivisible) {
    LONG value = 0;
    constexpr int kThreads = 4;
    constexpr int kRounds = 50000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                InterlockedIncrement(&value);
                InterlockedIncrement(&value);
                InterlockedDecrement(&value);
            }
        });
    }
    for (std::thread &t : threads) t.join();
    EXPECT_EQ(value, kThreads * kRounds);
}

TEST(LastError, IsPerThread) {
    SetLastError(1234);
    DWORD seen = 0;
    std::thread other([&] {
        seen = GetLastError();
        SetLastError(42);
    });
    other.join();
    EXPECT_EQ(seen, 0u);
    EXPECT_EQ(GetLastError(), 1234u);
}

}  // namespace
