// Per-thread last error, thread and process identity, and time.

#include <windows.h>

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

namespace {
thread_local DWORD t_lastError = ERROR_SUCCESS;
}

EXTERN_C DWORD WINAPI GetLastError(void) {
    return t_lastError;
}

EXTERN_C void WINAPI SetLastError(DWORD dwErrCode) {
    t_lastError = dwErrCode;
}

EXTERN_C DWORD WINAPI GetCurrentThreadId(void) {
    static thread_local DWORD t_id = static_cast<DWORD>(syscall(SYS_gettid));
    return t_id;
}

EXTERN_C DWORD WINAPI GetCurrentProcessId(void) {
    return static_cast<DWORD>(getpid());
}

// Pseudo handles with the values Windows gives them.
EXTERN_C HANDLE WINAPI GetCurrentThread(void) {
    return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-2));
}

EXTERN_C HANDLE WINAPI GetCurrentProcess(void) {
    return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));
}

EXTERN_C void WINAPI Sleep(DWORD dwMilliseconds) {
    if (dwMilliseconds == INFINITE) {
        for (;;) pause();
    }
    timespec request{static_cast<time_t>(dwMilliseconds / 1000),
                     static_cast<long>(dwMilliseconds % 1000) * 1000000L};
    timespec remaining{};
    while (nanosleep(&request, &remaining) != 0 && errno == EINTR) request = remaining;
}

EXTERN_C ULONGLONG WINAPI GetTickCount64(void) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<ULONGLONG>(now.tv_sec) * 1000u + static_cast<ULONGLONG>(now.tv_nsec) / 1000000u;
}

EXTERN_C DWORD WINAPI GetTickCount(void) {
    return static_cast<DWORD>(GetTickCount64());
}
