/*
 * The host layer's allocation-failure hook, for the allocators inside the
 * host layer (task memory, BSTRs, the process heap, critical sections), and
 * its live-object accounting.
 *
 * Every allocator that honours injected failures calls
 * ComHostAllocationShouldFail exactly once per allocation attempt, before it
 * allocates, and fails the attempt (as it would on exhausted memory) when the
 * call returns TRUE.  An allocator built on another counted allocator (for
 * example on CoTaskMemAlloc) must not call it again, so that each attempt is
 * counted once.  Tests arm the hook through <comhost/testing.h>.
 */
#ifndef COMHOST_ALLOCATION_H
#define COMHOST_ALLOCATION_H

#include <windef.h>
#include <comhost/testing.h>

EXTERN_C DECLSPEC_IMPORT BOOL WINAPI ComHostAllocationShouldFail(void);

/* Live-object accounting: every allocator or object of a counted kind adds 1
 * when it hands one out and -1 when it is freed (ComHostLiveCount reads it). */
EXTERN_C DECLSPEC_IMPORT void WINAPI ComHostLiveAdd(ComHostLiveKind kind, LONG delta);

#ifdef __cplusplus
namespace comhost {
/* Base for host-layer COM objects: counts the object live for its lifetime. */
class LiveObject {
protected:
    LiveObject() noexcept { ComHostLiveAdd(COMHOST_LIVE_OBJECTS, 1); }
    LiveObject(const LiveObject &) noexcept { ComHostLiveAdd(COMHOST_LIVE_OBJECTS, 1); }
    LiveObject &operator=(const LiveObject &) noexcept = default;
    ~LiveObject() { ComHostLiveAdd(COMHOST_LIVE_OBJECTS, -1); }
};
}  // namespace comhost
#endif

#endif
