// Allocation-failure injection shared by every counted allocator of the host
// layer, the test controls that arm it, and the live-object counts.

#include <comhost/allocation.h>
#include <comhost/testing.h>

#include <atomic>

namespace {

// Number of counted attempts still to pass before the armed failure; 0 when
// nothing is armed.
std::atomic<LONG> g_countdown{0};
// When set, every attempt from the armed one on fails until disarmed.
std::atomic<bool> g_persistent{false};
std::atomic<LONG> g_attempts{0};
std::atomic<LONG> g_live[COMHOST_LIVE_KIND_COUNT] = {};

void Arm(LONG nth, bool persistent) {
    if (nth <= 0) {
        g_countdown.store(0);
        g_persistent.store(false);
        return;
    }
    g_persistent.store(persistent);
    g_countdown.store(nth);
}

}  // namespace

EXTERN_C BOOL WINAPI ComHostAllocationShouldFail(void) {
    g_attempts.fetch_add(1, std::memory_order_relaxed);
    LONG current = g_countdown.load();
    while (current > 0) {
        if (current == 1 && g_persistent.load()) {
            return TRUE;  // stays armed at 1: every later attempt fails too
        }
        if (g_countdown.compare_exchange_weak(current, current - 1)) {
            return current == 1 ? TRUE : FALSE;
        }
    }
    return FALSE;
}

EXTERN_C void WINAPI ComHostFailAllocation(LONG nth) {
    Arm(nth, false);
}

EXTERN_C void WINAPI ComHostFailAllocationsFrom(LONG nth) {
    Arm(nth, true);
}

EXTERN_C LONG WINAPI ComHostAllocationCount(void) {
    return g_attempts.load(std::memory_order_relaxed);
}

EXTERN_C BOOL WINAPI ComHostAllocationFailurePending(void) {
    return g_countdown.load() > 0 ? TRUE : FALSE;
}

EXTERN_C void WINAPI ComHostLiveAdd(ComHostLiveKind kind, LONG delta) {
    if (kind >= 0 && kind < COMHOST_LIVE_KIND_COUNT)
        g_live[kind].fetch_add(delta, std::memory_order_relaxed);
}

EXTERN_C LONG WINAPI ComHostLiveCount(ComHostLiveKind kind) {
    if (kind < 0 || kind >= COMHOST_LIVE_KIND_COUNT)
        return -1;
    return g_live[kind].load(std::memory_order_relaxed);
}
