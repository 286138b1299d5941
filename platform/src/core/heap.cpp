// The process heap.  Blocks come straight from malloc, so that memory from
// HeapAlloc, from the product's operator new (routed here by the DllMain
// shim) and from the C library can be told apart by nobody, and every block
// is released with free.  Each allocation and reallocation counts as one
// attempt for failure injection.
//
// HeapReAlloc with HEAP_ZERO_MEMORY must zero exactly the bytes beyond the
// block's previous size.  malloc may hand out more than was asked for, and
// only the usable size is known later; so every block's slack beyond the
// requested size is zeroed when it is handed out, and growing a block zeroes
// from the old usable size on.

#include <comhost/allocation.h>
#include <windows.h>

#include <malloc.h>

#include <cstdlib>
#include <cstring>

namespace {

// The one heap.  Its handle is the address of this object.
struct ProcessHeap {
    int unused;
} g_processHeap;

bool ValidHeap(HANDLE heap) {
    return heap == static_cast<HANDLE>(&g_processHeap);
}

void ZeroSlack(void *block, SIZE_T requested) {
    SIZE_T usable = malloc_usable_size(block);
    if (usable > requested) std::memset(static_cast<char *>(block) + requested, 0, usable - requested);
}

}  // namespace

EXTERN_C HANDLE WINAPI GetProcessHeap(void) {
    return static_cast<HANDLE>(&g_processHeap);
}

EXTERN_C LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes) {
    if (!ValidHeap(hHeap)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (ComHostAllocationShouldFail()) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    void *block = std::malloc(dwBytes ? dwBytes : 1);
    if (!block) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (dwFlags & HEAP_ZERO_MEMORY) std::memset(block, 0, dwBytes);
    ZeroSlack(block, dwBytes);
    return block;
}

EXTERN_C LPVOID WINAPI HeapReAlloc(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem, SIZE_T dwBytes) {
    if (!ValidHeap(hHeap) || !lpMem) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    SIZE_T oldUsable = malloc_usable_size(lpMem);
    if (dwFlags & HEAP_REALLOC_IN_PLACE_ONLY) {
        // Shrinking, or growing into the block's own slack, keeps the block.
        if (dwBytes > oldUsable) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        if (ComHostAllocationShouldFail()) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        ZeroSlack(lpMem, dwBytes);
        return lpMem;
    }
    if (ComHostAllocationShouldFail()) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    void *block = std::realloc(lpMem, dwBytes ? dwBytes : 1);
    if (!block) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    // Bytes up to the old usable size were either the caller's or zeroed
    // slack; only what lies beyond them can hold anything else.
    if ((dwFlags & HEAP_ZERO_MEMORY) && dwBytes > oldUsable) {
        std::memset(static_cast<char *>(block) + oldUsable, 0, dwBytes - oldUsable);
    }
    ZeroSlack(block, dwBytes);
    return block;
}

EXTERN_C BOOL WINAPI HeapFree(HANDLE hHeap, DWORD, LPVOID lpMem) {
    if (!ValidHeap(hHeap)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::free(lpMem);
    return TRUE;
}

EXTERN_C SIZE_T WINAPI HeapSize(HANDLE hHeap, DWORD, LPCVOID lpMem) {
    if (!ValidHeap(hHeap) || !lpMem) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return static_cast<SIZE_T>(-1);
    }
    return malloc_usable_size(const_cast<void *>(lpMem));
}
