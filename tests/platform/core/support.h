// Shared helpers of the host-layer core tests.
#pragma once

#include <comhost/testing.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace comhost_test {

// Puts the system code pages, the default locale, the version report and the
// calling thread's locale back as they were when the test started.
class NlsStateGuard {
public:
    NlsStateGuard() : threadLocale_(GetThreadLocale()) {}
    ~NlsStateGuard() {
        ComHostSetSystemCodePages(0, 0);
        ComHostSetDefaultLocale(0);
        ComHostResetVersion();
        SetThreadLocale(threadLocale_);
        ComHostFailAllocation(0);
    }
    NlsStateGuard(const NlsStateGuard &) = delete;
    NlsStateGuard &operator=(const NlsStateGuard &) = delete;

private:
    LCID threadLocale_;
};

inline std::u16string Wide(const char16_t *s) {
    return std::u16string(s);
}

// Narrow text through MultiByteToWideChar, -1 length; empty on failure.
inline std::u16string ToWide(UINT codePage, const std::string &narrow, DWORD flags = 0) {
    int n = MultiByteToWideChar(codePage, flags, narrow.c_str(), -1, nullptr, 0);
    if (n <= 0) return u"<fail>";
    std::u16string out(static_cast<size_t>(n), u'\0');
    if (MultiByteToWideChar(codePage, flags, narrow.c_str(), -1, out.data(), n) != n) return u"<fail>";
    out.resize(static_cast<size_t>(n) - 1);
    return out;
}

inline std::string ToNarrow(UINT codePage, const std::u16string &wide) {
    int n = WideCharToMultiByte(codePage, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return "<fail>";
    std::string out(static_cast<size_t>(n), '\0');
    if (WideCharToMultiByte(codePage, 0, wide.c_str(), -1, out.data(), n, nullptr, nullptr) != n) return "<fail>";
    out.resize(static_cast<size_t>(n) - 1);
    return out;
}

}  // namespace comhost_test
