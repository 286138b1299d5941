#include "server/conversion.h"

#include "server/module.h"

#include <climits>

namespace nuv {

namespace {
constexpr size_t kHeaderBytes = (sizeof(void*) + alignof(std::max_align_t) - 1) /
                                alignof(std::max_align_t) * alignof(std::max_align_t);
}  // namespace

CConversionScope::~CConversionScope() {
    HeapBlock* block = m_pLastBlock;
    while (block) {
        HeapBlock* previous = block->pPrevious;
        HeapFree(GetProcessHeap(), 0, block);
        block = previous;
    }
}

void* CConversionScope::Allocate(size_t cb) noexcept {
    if (cb <= kStackBytes && !m_stackUsed) {
        m_stackUsed = true;
        return m_stack;
    }
    if (cb > SIZE_MAX - kHeaderBytes)
        return nullptr;
    void* raw = HeapAlloc(GetProcessHeap(), 0, cb + kHeaderBytes);
    if (!raw)
        return nullptr;
    HeapBlock* block = static_cast<HeapBlock*>(raw);
    block->pPrevious = m_pLastBlock;
    m_pLastBlock = block;
    return static_cast<unsigned char*>(raw) + kHeaderBytes;
}

LPWSTR CConversionScope::ToWide(LPCSTR psz) noexcept {
    if (!psz)
        return nullptr;
    // (length + 1) * 2 bytes, refused when it does not fit a signed 32-bit int.
    const long long chars = static_cast<long long>(lstrlenA(psz)) + 1;
    const long long bytes = chars * 2;
    if (bytes > INT_MAX)
        return nullptr;
    LPWSTR buffer = static_cast<LPWSTR>(Allocate(static_cast<size_t>(bytes)));
    if (!buffer)
        return nullptr;
    buffer[0] = 0;
    if (MultiByteToWideChar(ThreadAnsiCodePage(), 0, psz, -1, buffer, static_cast<int>(chars)) == 0)
        return nullptr;
    return buffer;
}

LPSTR CConversionScope::ToNarrow(LPCWSTR psz) noexcept {
    if (!psz)
        return nullptr;
    // Room for the code page's longest character per UTF-16 unit: two bytes
    // in the double-byte pages, three in UTF-8 (a surrogate pair, two units,
    // becomes four bytes).  A page the system cannot describe is measured by
    // the conversion itself.
    const UINT codePage = ThreadAnsiCodePage();
    long long bytes = 0;
    CPINFO info{};
    if (GetCPInfo(codePage, &info) && info.MaxCharSize >= 1) {
        const long long perUnit = info.MaxCharSize > 3 ? 3 : info.MaxCharSize;
        bytes = (static_cast<long long>(lstrlenW(psz)) + 1) * (perUnit < 2 ? 2 : perUnit);
    } else {
        bytes = WideCharToMultiByte(codePage, 0, psz, -1, nullptr, 0, nullptr, nullptr);
        if (bytes == 0)
            return nullptr;
    }
    if (bytes > INT_MAX)
        return nullptr;
    LPSTR buffer = static_cast<LPSTR>(Allocate(static_cast<size_t>(bytes)));
    if (!buffer)
        return nullptr;
    buffer[0] = 0;
    if (WideCharToMultiByte(codePage, 0, psz, -1, buffer, static_cast<int>(bytes), nullptr, nullptr) == 0)
        return nullptr;
    return buffer;
}

}  // namespace nuv
