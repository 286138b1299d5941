// Temporary buffers for narrow/wide string conversions.  A scope hands out
// one buffer of up to 1024 bytes from storage inside the scope object itself
// (so in the caller's stack frame) and anything larger, or any further
// buffer, from the heap; the heap blocks are chained and freed together when
// the scope ends.
#pragma once

#include <windows.h>

#include <cstddef>

namespace nuv {

class CConversionScope {
public:
    static constexpr size_t kStackBytes = 1024;

    CConversionScope() noexcept = default;
    CConversionScope(const CConversionScope&) = delete;
    CConversionScope& operator=(const CConversionScope&) = delete;
    ~CConversionScope();

    // cb bytes, or null when the heap is exhausted.
    void* Allocate(size_t cb) noexcept;
    bool IsStackBuffer(const void* p) const noexcept { return p == m_stack; }

    // Narrow (thread ANSI code page) to wide; null when the size overflows, the
    // heap fails or the conversion fails.  The result lives as long as the scope.
    LPWSTR ToWide(LPCSTR psz) noexcept;
    // Wide to narrow with no default character; null on failure as above.
    LPSTR ToNarrow(LPCWSTR psz) noexcept;

private:
    struct HeapBlock {
        HeapBlock* pPrevious;   // the block taken before this one in the scope
    };

    alignas(std::max_align_t) unsigned char m_stack[kStackBytes];
    bool m_stackUsed = false;
    HeapBlock* m_pLastBlock = nullptr;
};

}  // namespace nuv
