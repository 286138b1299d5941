// Critical sections: re-entrant locks with the SDK's structure.
//
// Initialisation allocates the lock block that DebugInfo points at: the
// debug record followed by a recursive POSIX mutex.  The structure's own
// fields mirror the lock's state for debuggers and tests: LockCount is -1
// while the section is free and counts outstanding entries otherwise,
// RecursionCount is the owner's nesting depth and OwningThread the owner's
// thread id.  The allocation honours injected failures in the two
// initialisers that can report them; InitializeCriticalSection, which cannot
// report a failure, does not count.

#include <comhost/allocation.h>
#include <windows.h>

#include <pthread.h>

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

struct LockBlock {
    RTL_CRITICAL_SECTION_DEBUG debug;
    pthread_mutex_t mutex;
};

LockBlock *BlockOf(LPCRITICAL_SECTION cs) {
    return reinterpret_cast<LockBlock *>(cs->DebugInfo);
}

BOOL Initialize(LPCRITICAL_SECTION cs, DWORD spinCount, bool counted) {
    if (counted && ComHostAllocationShouldFail()) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    void *memory = std::malloc(sizeof(LockBlock));
    if (!memory) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    auto *block = new (memory) LockBlock;
    std::memset(&block->debug, 0, sizeof(block->debug));
    block->debug.CriticalSection = cs;

    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    int rc = pthread_mutex_init(&block->mutex, &attr);
    pthread_mutexattr_destroy(&attr);
    if (rc != 0) {
        std::free(memory);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }

    cs->DebugInfo = &block->debug;
    cs->LockCount = -1;
    cs->RecursionCount = 0;
    cs->OwningThread = nullptr;
    cs->LockSemaphore = nullptr;
    cs->SpinCount = spinCount & 0x00FFFFFF;
    return TRUE;
}

}  // namespace

EXTERN_C void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    if (!Initialize(lpCriticalSection, 0, false)) {
        // The SDK's InitializeCriticalSection has no way to report failure.
        std::abort();
    }
}

EXTERN_C BOOL WINAPI InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION lpCriticalSection,
                                                           DWORD dwSpinCount) {
    return Initialize(lpCriticalSection, dwSpinCount, true);
}

EXTERN_C BOOL WINAPI InitializeCriticalSectionEx(LPCRITICAL_SECTION lpCriticalSection,
                                                 DWORD dwSpinCount, DWORD Flags) {
    if ((Flags & ~RTL_CRITICAL_SECTION_ALL_FLAG_BITS) != 0 || (dwSpinCount & 0xFF000000) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return Initialize(lpCriticalSection, dwSpinCount, true);
}

EXTERN_C DWORD WINAPI SetCriticalSectionSpinCount(LPCRITICAL_SECTION lpCriticalSection,
                                                  DWORD dwSpinCount) {
    DWORD previous = static_cast<DWORD>(lpCriticalSection->SpinCount);
    lpCriticalSection->SpinCount = dwSpinCount & 0x00FFFFFF;
    return previous;
}

EXTERN_C void WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    LockBlock *block = BlockOf(lpCriticalSection);
    __atomic_add_fetch(&lpCriticalSection->LockCount, 1, __ATOMIC_SEQ_CST);
    if (pthread_mutex_trylock(&block->mutex) != 0) {
        __atomic_add_fetch(&block->debug.ContentionCount, 1, __ATOMIC_RELAXED);
        pthread_mutex_lock(&block->mutex);
    }
    ++block->debug.EntryCount;
    ++lpCriticalSection->RecursionCount;
    __atomic_store_n(&lpCriticalSection->OwningThread,
                     reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(GetCurrentThreadId())),
                     __ATOMIC_RELAXED);
}

EXTERN_C BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    LockBlock *block = BlockOf(lpCriticalSection);
    if (pthread_mutex_trylock(&block->mutex) != 0) return FALSE;
    __atomic_add_fetch(&lpCriticalSection->LockCount, 1, __ATOMIC_SEQ_CST);
    ++block->debug.EntryCount;
    ++lpCriticalSection->RecursionCount;
    __atomic_store_n(&lpCriticalSection->OwningThread,
                     reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(GetCurrentThreadId())),
                     __ATOMIC_RELAXED);
    return TRUE;
}

EXTERN_C void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    LockBlock *block = BlockOf(lpCriticalSection);
    if (--lpCriticalSection->RecursionCount == 0) {
        __atomic_store_n(&lpCriticalSection->OwningThread, nullptr, __ATOMIC_RELAXED);
    }
    __atomic_sub_fetch(&lpCriticalSection->LockCount, 1, __ATOMIC_SEQ_CST);
    pthread_mutex_unlock(&block->mutex);
}

EXTERN_C void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    LockBlock *block = BlockOf(lpCriticalSection);
    if (!block) return;
    pthread_mutex_destroy(&block->mutex);
    block->~LockBlock();
    std::free(block);
    lpCriticalSection->DebugInfo = nullptr;
    lpCriticalSection->LockCount = -1;
    lpCriticalSection->RecursionCount = 0;
    lpCriticalSection->OwningThread = nullptr;
}
