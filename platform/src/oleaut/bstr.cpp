// BSTR allocation.  A BSTR points just past a 32-bit byte count and is
// followed by a terminating 16-bit zero that the count does not include:
//
//   [ULONG bytes][characters ... (bytes)][0x0000]
//
// Blocks come from the counted allocator, so tests can make any of them
// fail.

#include "oleaut_internal.h"

#include <comhost/allocation.h>

#include <cstdlib>
#include <cstring>

namespace comhost::oleaut {

namespace {

// The largest byte count a BSTR may carry: the prefix is 32 bits and the
// block also holds the prefix and the terminator.
constexpr std::size_t kMaxBstrBytes = 0x7FFFFFF0u;
constexpr std::size_t kPrefix = sizeof(ULONG);
constexpr std::size_t kTerminator = 4;  // covers both halves of an odd byte count

ULONG *PrefixOf(BSTR s) { return reinterpret_cast<ULONG *>(reinterpret_cast<char *>(s) - kPrefix); }

// A BSTR of `bytes` bytes; the contents are copied from `data` when it is
// not null and zeroed otherwise.
BSTR AllocBytes(const void *data, std::size_t bytes) {
  if (bytes > kMaxBstrBytes) return nullptr;
  char *block = static_cast<char *>(Allocate(kPrefix + bytes + kTerminator));
  if (block == nullptr) return nullptr;
  const ULONG count = static_cast<ULONG>(bytes);
  std::memcpy(block, &count, sizeof count);
  char *chars = block + kPrefix;
  if (data != nullptr) {
    std::memcpy(chars, data, bytes);
  } else {
    std::memset(chars, 0, bytes);
  }
  std::memset(chars + bytes, 0, kTerminator);
  ComHostLiveAdd(COMHOST_LIVE_BSTRS, 1);
  return reinterpret_cast<BSTR>(chars);
}

std::size_t OleStrLen(const OLECHAR *s) {
  std::size_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

}  // namespace

void *Allocate(std::size_t bytes) {
  if (ComHostAllocationShouldFail()) return nullptr;
  return std::malloc(bytes == 0 ? 1 : bytes);
}

void *AllocateZeroed(std::size_t bytes) {
  if (ComHostAllocationShouldFail()) return nullptr;
  return std::calloc(bytes == 0 ? 1 : bytes, 1);
}

void *Reallocate(void *block, std::size_t bytes) {
  if (ComHostAllocationShouldFail()) return nullptr;
  return std::realloc(block, bytes == 0 ? 1 : bytes);
}

void Free(void *block) { std::free(block); }

BSTR AllocBstrFromAscii(const char *text) {
  const std::size_t n = std::strlen(text);
  BSTR s = AllocBytes(nullptr, n * sizeof(OLECHAR));
  if (s == nullptr) return nullptr;
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<OLECHAR>(static_cast<unsigned char>(text[i]));
  return s;
}

HRESULT DuplicateBstr(BSTR src, BSTR *out) {
  *out = nullptr;
  if (src == nullptr) return S_OK;
  BSTR copy = AllocBytes(src, *PrefixOf(src));
  if (copy == nullptr) return E_OUTOFMEMORY;
  *out = copy;
  return S_OK;
}

}  // namespace comhost::oleaut

using namespace comhost::oleaut;

EXTERN_C BSTR STDAPICALLTYPE SysAllocString(const OLECHAR *psz) {
  if (psz == nullptr) return nullptr;
  return AllocBytes(psz, OleStrLen(psz) * sizeof(OLECHAR));
}

EXTERN_C BSTR STDAPICALLTYPE SysAllocStringLen(const OLECHAR *strIn, UINT ui) {
  if (ui > kMaxBstrBytes / sizeof(OLECHAR)) return nullptr;
  return AllocBytes(strIn, static_cast<std::size_t>(ui) * sizeof(OLECHAR));
}

EXTERN_C BSTR STDAPICALLTYPE SysAllocStringByteLen(LPCSTR psz, UINT len) {
  return AllocBytes(psz, len);
}

EXTERN_C INT STDAPICALLTYPE SysReAllocStringLen(BSTR *pbstr, const OLECHAR *psz, UINT len) {
  if (pbstr == nullptr) return FALSE;
  // psz may point into the old string, so the old one goes only after the
  // copy is made.
  BSTR fresh = SysAllocStringLen(psz, len);
  if (fresh == nullptr) return FALSE;
  SysFreeString(*pbstr);
  *pbstr = fresh;
  return TRUE;
}

EXTERN_C INT STDAPICALLTYPE SysReAllocString(BSTR *pbstr, const OLECHAR *psz) {
  if (pbstr == nullptr) return FALSE;
  if (psz == nullptr) {
    SysFreeString(*pbstr);
    *pbstr = nullptr;
    return TRUE;
  }
  const std::size_t n = OleStrLen(psz);
  if (n > kMaxBstrBytes / sizeof(OLECHAR)) return FALSE;
  return SysReAllocStringLen(pbstr, psz, static_cast<UINT>(n));
}

EXTERN_C void STDAPICALLTYPE SysFreeString(BSTR bstrString) {
  if (bstrString == nullptr) return;
  ComHostLiveAdd(COMHOST_LIVE_BSTRS, -1);
  Free(PrefixOf(bstrString));
}

EXTERN_C UINT STDAPICALLTYPE SysStringLen(BSTR pbstr) {
  return pbstr == nullptr ? 0 : *PrefixOf(pbstr) / sizeof(OLECHAR);
}

EXTERN_C UINT STDAPICALLTYPE SysStringByteLen(BSTR bstr) {
  return bstr == nullptr ? 0 : *PrefixOf(bstr);
}
