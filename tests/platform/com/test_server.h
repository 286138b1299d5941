// The test server's class, interface and categories.
#pragma once

#include <objbase.h>

// {6E1B2A30-5C1D-4F7E-9A2B-3C4D5E6F7081}
inline constexpr CLSID kClsidTestServer = {0x6E1B2A30, 0x5C1D, 0x4F7E, {0x9A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0x70, 0x81}};
inline constexpr char kClsidTestServerText[] = "{6E1B2A30-5C1D-4F7E-9A2B-3C4D5E6F7081}";
// {6E1B2A31-5C1D-4F7E-9A2B-3C4D5E6F7081}: ITestValue
inline constexpr IID kIidTestValue = {0x6E1B2A31, 0x5C1D, 0x4F7E, {0x9A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0x70, 0x81}};
// Categories the class implements and requires.
inline constexpr GUID kCatidImplemented = {0x6E1B2A40, 0x5C1D, 0x4F7E, {0x9A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0x70, 0x81}};
inline constexpr GUID kCatidRequired = {0x6E1B2A41, 0x5C1D, 0x4F7E, {0x9A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0x70, 0x81}};
inline constexpr char kCatidImplementedText[] = "{6E1B2A40-5C1D-4F7E-9A2B-3C4D5E6F7081}";
inline constexpr char kCatidRequiredText[] = "{6E1B2A41-5C1D-4F7E-9A2B-3C4D5E6F7081}";

struct ITestValue : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetValue(LONG *value) = 0;
};
