// C++ heap routing: every form of operator new and delete on the process
// heap (HeapAlloc/HeapFree), so that allocation-failure injection reaches the
// C++ allocations of code built against the host layer.
//
// Linked into a library (comhost_dllshim, COMHOST_HEAP_HIDDEN) the operators
// are hidden: they serve that library's own code and change nothing for the
// rest of the process.  Linked into a program (comhost_testheap) they replace
// the global operators.
//
// The process heap hands out malloc blocks and HeapFree is free, so a block
// is released correctly whichever of the C++ runtime's operators or these
// ends up freeing it.  The nothrow forms return null on failure; the others
// throw std::bad_alloc.  The over-aligned forms use aligned_alloc and count
// as allocations as well.

#include <comhost/allocation.h>
#include <windows.h>

#include <cstdlib>
#include <new>

namespace {

void *Allocate(std::size_t size) noexcept {
    return HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
}

void Release(void *block) noexcept {
    if (block) HeapFree(GetProcessHeap(), 0, block);
}

void *AllocateAligned(std::size_t size, std::align_val_t alignment) noexcept {
    std::size_t align = static_cast<std::size_t>(alignment);
    if (align < sizeof(void *)) align = sizeof(void *);
    if (ComHostAllocationShouldFail()) return nullptr;
    // aligned_alloc wants a multiple of the alignment.
    std::size_t rounded = (size + align - 1) / align * align;
    if (rounded < size) return nullptr;
    return std::aligned_alloc(align, rounded ? rounded : align);
}

[[noreturn]] void OutOfMemory() {
    throw std::bad_alloc();
}

}  // namespace

void *operator new(std::size_t size) {
    void *block = Allocate(size);
    if (!block) OutOfMemory();
    return block;
}

void *operator new[](std::size_t size) {
    void *block = Allocate(size);
    if (!block) OutOfMemory();
    return block;
}

void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
    return Allocate(size);
}

void *operator new[](std::size_t size, const std::nothrow_t &) noexcept {
    return Allocate(size);
}

void *operator new(std::size_t size, std::align_val_t alignment) {
    void *block = AllocateAligned(size, alignment);
    if (!block) OutOfMemory();
    return block;
}

void *operator new[](std::size_t size, std::align_val_t alignment) {
    void *block = AllocateAligned(size, alignment);
    if (!block) OutOfMemory();
    return block;
}

void *operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t &) noexcept {
    return AllocateAligned(size, alignment);
}

void *operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t &) noexcept {
    return AllocateAligned(size, alignment);
}

void operator delete(void *block) noexcept {
    Release(block);
}

void operator delete[](void *block) noexcept {
    Release(block);
}

void operator delete(void *block, std::size_t) noexcept {
    Release(block);
}

void operator delete[](void *block, std::size_t) noexcept {
    Release(block);
}

void operator delete(void *block, const std::nothrow_t &) noexcept {
    Release(block);
}

void operator delete[](void *block, const std::nothrow_t &) noexcept {
    Release(block);
}

void operator delete(void *block, std::align_val_t) noexcept {
    std::free(block);
}

void operator delete[](void *block, std::align_val_t) noexcept {
    std::free(block);
}

void operator delete(void *block, std::size_t, std::align_val_t) noexcept {
    std::free(block);
}

void operator delete[](void *block, std::size_t, std::align_val_t) noexcept {
    std::free(block);
}

void operator delete(void *block, std::align_val_t, const std::nothrow_t &) noexcept {
    std::free(block);
}

void operator delete[](void *block, std::align_val_t, const std::nothrow_t &) noexcept {
    std::free(block);
}

#if defined(COMHOST_HEAP_HIDDEN)
// The operators are declared with default visibility by <new>; the symbols
// are made hidden at the assembler level instead.
__asm__(
    ".hidden _Znwm\n\t.hidden _Znam\n\t"
    ".hidden _ZnwmRKSt9nothrow_t\n\t.hidden _ZnamRKSt9nothrow_t\n\t"
    ".hidden _ZnwmSt11align_val_t\n\t.hidden _ZnamSt11align_val_t\n\t"
    ".hidden _ZnwmSt11align_val_tRKSt9nothrow_t\n\t.hidden _ZnamSt11align_val_tRKSt9nothrow_t\n\t"
    ".hidden _ZdlPv\n\t.hidden _ZdaPv\n\t"
    ".hidden _ZdlPvm\n\t.hidden _ZdaPvm\n\t"
    ".hidden _ZdlPvRKSt9nothrow_t\n\t.hidden _ZdaPvRKSt9nothrow_t\n\t"
    ".hidden _ZdlPvSt11align_val_t\n\t.hidden _ZdaPvSt11align_val_t\n\t"
    ".hidden _ZdlPvmSt11align_val_t\n\t.hidden _ZdaPvmSt11align_val_t\n\t"
    ".hidden _ZdlPvSt11align_val_tRKSt9nothrow_t\n\t.hidden _ZdaPvSt11align_val_tRKSt9nothrow_t\n");
#endif
