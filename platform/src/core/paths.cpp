// Conversion between Windows-form paths ("\" separators, ANSI or UTF-16) and
// host paths ("/" separators, UTF-8).

#include "paths_internal.h"

#include <comhost/paths.h>

#include <cstdlib>
#include <cstring>

namespace comhost::paths {

// A drive prefix ("C:") names the one host file system: it is dropped and
// the rest taken from the root.  "\\server\share" becomes "//server/share".
bool WideToHost(LPCWSTR path, int length, Buffer<char> &out) {
    bool fromRoot = false;
    const bool hasDrive = (length == -1 || length >= 2) && path[0] != 0 &&
                          ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z')) &&
                          path[1] == u':';
    if (hasDrive) {
        path += 2;
        if (length != -1) length -= 2;
        fromRoot = !((length == -1 || length > 0) && (path[0] == u'\\' || path[0] == u'/'));
    }
    size_t n = 0;
    if (length != 0) {
        int needed = WideCharToMultiByte(CP_UTF8, 0, path, length, nullptr, 0, nullptr, nullptr);
        if (needed <= 0 || !out.Reserve(static_cast<size_t>(needed) + 2)) return false;
        char *text = out.data() + (fromRoot ? 1 : 0);
        int written = WideCharToMultiByte(CP_UTF8, 0, path, length, text, needed, nullptr, nullptr);
        if (written != needed) return false;
        n = static_cast<size_t>(written) + (fromRoot ? 1 : 0);
        if (length == -1) --n;  // the terminator was converted too
    } else if (!out.Reserve(2)) {
        return false;
    }
    if (fromRoot) out.data()[0] = '/';
    out.data()[n] = '\0';
    for (size_t i = 0; i < n; ++i) {
        if (out.data()[i] == '\\') out.data()[i] = '/';
    }
    out.set_length(n);
    return true;
}

bool AnsiToHost(LPCSTR path, Buffer<char> &out) {
    int needed = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    Buffer<WCHAR> wide;
    if (needed <= 0 || !wide.Reserve(static_cast<size_t>(needed))) return false;
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide.data(), needed) != needed) return false;
    return WideToHost(wide.data(), -1, out);
}

bool HostToWide(const char *hostPath, Buffer<WCHAR> &out) {
    int needed = MultiByteToWideChar(CP_UTF8, 0, hostPath, -1, nullptr, 0);
    if (needed <= 0 || !out.Reserve(static_cast<size_t>(needed))) return false;
    if (MultiByteToWideChar(CP_UTF8, 0, hostPath, -1, out.data(), needed) != needed) return false;
    size_t n = static_cast<size_t>(needed) - 1;
    for (size_t i = 0; i < n; ++i) {
        if (out.data()[i] == u'/') out.data()[i] = u'\\';
    }
    out.set_length(n);
    return true;
}

bool HostToAnsi(const char *hostPath, Buffer<char> &out) {
    Buffer<WCHAR> wide;
    if (!HostToWide(hostPath, wide)) return false;
    int needed = WideCharToMultiByte(CP_ACP, 0, wide.data(), -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 0 || !out.Reserve(static_cast<size_t>(needed))) return false;
    if (WideCharToMultiByte(CP_ACP, 0, wide.data(), -1, out.data(), needed, nullptr, nullptr) != needed) return false;
    out.set_length(static_cast<size_t>(needed) - 1);
    return true;
}

}  // namespace comhost::paths

namespace {

template <typename Char>
DWORD CopyOut(const comhost::paths::Buffer<Char> &result, Char *out, DWORD capacity) {
    size_t length = result.length();
    if (length >= 0xFFFFFFFFu) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    if (!out || capacity <= length) return static_cast<DWORD>(length + 1);
    std::memcpy(out, result.data(), (length + 1) * sizeof(Char));
    return static_cast<DWORD>(length);
}

}  // namespace

using comhost::paths::Buffer;

EXTERN_C DWORD WINAPI ComHostPathToHostA(LPCSTR lpPath, char *lpHostPath, DWORD cb) {
    if (!lpPath) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    Buffer<char> host;
    if (!comhost::paths::AnsiToHost(lpPath, host)) return 0;
    return CopyOut(host, lpHostPath, cb);
}

EXTERN_C DWORD WINAPI ComHostPathToHostW(LPCWSTR lpPath, char *lpHostPath, DWORD cb) {
    if (!lpPath) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    Buffer<char> host;
    if (!comhost::paths::WideToHost(lpPath, -1, host)) return 0;
    return CopyOut(host, lpHostPath, cb);
}

EXTERN_C DWORD WINAPI ComHostPathFromHostA(const char *lpHostPath, LPSTR lpPath, DWORD cb) {
    if (!lpHostPath) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    Buffer<char> ansi;
    if (!comhost::paths::HostToAnsi(lpHostPath, ansi)) return 0;
    return CopyOut(ansi, lpPath, cb);
}

EXTERN_C DWORD WINAPI ComHostPathFromHostW(const char *lpHostPath, LPWSTR lpPath, DWORD cch) {
    if (!lpHostPath) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    Buffer<WCHAR> wide;
    if (!comhost::paths::HostToWide(lpHostPath, wide)) return 0;
    return CopyOut(wide, lpPath, cch);
}
