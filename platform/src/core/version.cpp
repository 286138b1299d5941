// Version reporting.  The host layer presents itself as the NT family; tests
// can make it report another platform or version.

#include <comhost/testing.h>
#include <windows.h>

#include <atomic>
#include <cstring>

namespace {

constexpr DWORD kDefaultPlatform = VER_PLATFORM_WIN32_NT;
constexpr DWORD kDefaultMajor = 6;
constexpr DWORD kDefaultMinor = 2;
constexpr DWORD kDefaultBuild = 9200;

struct Reported {
    std::atomic<DWORD> platform{kDefaultPlatform};
    std::atomic<DWORD> major{kDefaultMajor};
    std::atomic<DWORD> minor{kDefaultMinor};
    std::atomic<DWORD> build{kDefaultBuild};
} g_version;

template <typename Info>
BOOL Fill(Info *info, size_t baseSize, size_t extendedSize) {
    if (!info) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    const DWORD size = info->dwOSVersionInfoSize;
    if (size != baseSize && size != extendedSize) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    info->dwMajorVersion = g_version.major.load();
    info->dwMinorVersion = g_version.minor.load();
    info->dwBuildNumber = g_version.build.load();
    info->dwPlatformId = g_version.platform.load();
    std::memset(info->szCSDVersion, 0, sizeof(info->szCSDVersion));
    return TRUE;
}

}  // namespace

EXTERN_C BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA lpVersionInformation) {
    BOOL ok = Fill(lpVersionInformation, sizeof(OSVERSIONINFOA), sizeof(OSVERSIONINFOEXA));
    if (ok && lpVersionInformation->dwOSVersionInfoSize == sizeof(OSVERSIONINFOEXA)) {
        auto *ex = reinterpret_cast<LPOSVERSIONINFOEXA>(lpVersionInformation);
        ex->wServicePackMajor = 0;
        ex->wServicePackMinor = 0;
        ex->wSuiteMask = 0;
        ex->wProductType = 1;  // workstation
        ex->wReserved = 0;
    }
    return ok;
}

EXTERN_C BOOL WINAPI GetVersionExW(LPOSVERSIONINFOW lpVersionInformation) {
    BOOL ok = Fill(lpVersionInformation, sizeof(OSVERSIONINFOW), sizeof(OSVERSIONINFOEXW));
    if (ok && lpVersionInformation->dwOSVersionInfoSize == sizeof(OSVERSIONINFOEXW)) {
        auto *ex = reinterpret_cast<LPOSVERSIONINFOEXW>(lpVersionInformation);
        ex->wServicePackMajor = 0;
        ex->wServicePackMinor = 0;
        ex->wSuiteMask = 0;
        ex->wProductType = 1;
        ex->wReserved = 0;
    }
    return ok;
}

// Major version in the low byte, minor in the next; build number in the high
// word, whose top bit is set outside the NT family.
EXTERN_C DWORD WINAPI GetVersion(void) {
    DWORD version = (g_version.major.load() & 0xFF) | ((g_version.minor.load() & 0xFF) << 8);
    DWORD high = g_version.build.load() & 0x7FFF;
    if (g_version.platform.load() != VER_PLATFORM_WIN32_NT) high |= 0x8000;
    return version | (high << 16);
}

EXTERN_C void WINAPI ComHostSetVersion(DWORD dwPlatformId, DWORD dwMajorVersion,
                                       DWORD dwMinorVersion, DWORD dwBuildNumber) {
    if (dwPlatformId == 0 && dwMajorVersion == 0 && dwMinorVersion == 0 && dwBuildNumber == 0) {
        dwPlatformId = kDefaultPlatform;
        dwMajorVersion = kDefaultMajor;
        dwMinorVersion = kDefaultMinor;
        dwBuildNumber = kDefaultBuild;
    }
    g_version.platform.store(dwPlatformId);
    g_version.major.store(dwMajorVersion);
    g_version.minor.store(dwMinorVersion);
    g_version.build.store(dwBuildNumber);
}

EXTERN_C void WINAPI ComHostResetVersion(void) {
    ComHostSetVersion(0, 0, 0, 0);
}
