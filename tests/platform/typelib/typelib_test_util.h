// Shared pieces of the type-library tests: an interface owner, wide strings
// and loading of the widl-built libraries.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <string>

namespace typelib_test {

template <class T>
class Ptr {
public:
    Ptr() = default;
    explicit Ptr(T *p) : p_(p) {}
    ~Ptr() { reset(); }
    Ptr(const Ptr &) = delete;
    Ptr &operator=(const Ptr &) = delete;
    T **out() {
        reset();
        return &p_;
    }
    T *get() const { return p_; }
    T *operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    void reset() {
        if (p_) p_->Release();
        p_ = nullptr;
    }

private:
    T *p_ = nullptr;
};

inline std::u16string Wide(const std::string &s) { return std::u16string(s.begin(), s.end()); }

inline std::string Narrow(BSTR s) {
    std::string out;
    if (!s) return out;
    for (UINT i = 0; i < SysStringLen(s); ++i) out += static_cast<char>(s[i]);
    return out;
}

// Takes a BSTR out parameter and frees it.
class Bstr {
public:
    ~Bstr() { SysFreeString(s_); }
    BSTR *out() {
        SysFreeString(s_);
        s_ = nullptr;
        return &s_;
    }
    std::string text() const { return Narrow(s_); }
    BSTR get() const { return s_; }

private:
    BSTR s_ = nullptr;
};

inline HRESULT Load(const char *path, ITypeLib **out) {
    return LoadTypeLibEx(Wide(path).c_str(), REGKIND_NONE, out);
}

inline std::string NameOf(ITypeInfo *info, MEMBERID memid = MEMBERID_NIL) {
    Bstr name;
    if (FAILED(info->GetDocumentation(memid, name.out(), nullptr, nullptr, nullptr))) return "<error>";
    return name.text();
}

}  // namespace typelib_test
