/*
 * The host layer's allocation-failure hook, for the allocators inside the
 * host layer (task memory, BSTRs, the process heap, critical sections).
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

EXTERN_C DECLSPEC_IMPORT BOOL WINAPI ComHostAllocationShouldFail(void);

#endif
