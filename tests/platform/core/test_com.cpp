// COM runtime basics: GUID text, task memory, initialisation and the
// standard identifiers.

#include "support.h"

#include <comcat.h>
#include <ocidl.h>
#include <ole2.h>

#include <cstring>
#include <thread>

using comhost_test::NlsStateGuard;

namespace {

// {2C7ED2C0-3039-483D-85C9-3FF649F18385}
const CLSID kSample = {0x2C7ED2C0, 0x3039, 0x483D, {0x85, 0xC9, 0x3F, 0xF6, 0x49, 0xF1, 0x83, 0x85}};

TEST(StringFromCLSID, BracedUpperCaseText) {
    LPOLESTR text = nullptr;
    ASSERT_EQ(StringFromCLSID(kSample, &text), S_OK);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::u16string(text), u"{2C7ED2C0-3039-483D-85C9-3FF649F18385}");
    CoTaskMemFree(text);

    const GUID small = {0x0000000A, 0x000B, 0x000C, {0, 1, 2, 3, 4, 5, 6, 0xFF}};
    ASSERT_EQ(StringFromCLSID(small, &text), S_OK);
    EXPECT_EQ(std::u16string(text), u"{0000000A-000B-000C-0001-0203040506FF}");
    CoTaskMemFree(text);
}

TEST(StringFromCLSID, OutOfMemoryLeavesNoString) {
    NlsStateGuard guard;
    LPOLESTR text = reinterpret_cast<LPOLESTR>(0x1);
    ComHostFailAllocation(1);
    EXPECT_EQ(StringFromCLSID(kSample, &text), E_OUTOFMEMORY);
    EXPECT_EQ(text, nullptr);
}

TEST(StringFromGUID2, NeedsRoomForThirtyNineCharacters) {
    WCHAR buffer[40];
    EXPECT_EQ(StringFromGUID2(kSample, buffer, 38), 0);
    EXPECT_EQ(StringFromGUID2(kSample, buffer, 39), 39);
    EXPECT_EQ(std::u16string(buffer), u"{2C7ED2C0-3039-483D-85C9-3FF649F18385}");
}

TEST(CLSIDFromString, ParsesBothCasesAndRejectsMalformedText) {
    CLSID parsed{};
    EXPECT_EQ(CLSIDFromString(u"{2c7ed2c0-3039-483d-85c9-3ff649f18385}", &parsed), S_OK);
    EXPECT_TRUE(IsEqualCLSID(parsed, kSample));

    const char16_t *bad[] = {u"2C7ED2C0-3039-483D-85C9-3FF649F18385",   u"{2C7ED2C0-3039-483D-85C9-3FF649F1838}",
                             u"{2C7ED2C0-3039-483D-85C9-3FF649F18385}x", u"{2C7ED2C0-3039-483D+85C9-3FF649F18385}",
                             u"{2C7ED2C0-3039-483D-85C9-3FF649F1838G}",  u""};
    for (const char16_t *text : bad) {
        parsed = kSample;
        EXPECT_EQ(CLSIDFromString(text, &parsed), CO_E_CLASSSTRING);
        EXPECT_TRUE(IsEqualCLSID(parsed, CLSID_NULL));
    }
    EXPECT_EQ(CLSIDFromString(nullptr, &parsed), S_OK);
    EXPECT_TRUE(IsEqualCLSID(parsed, GUID_NULL));

    IID iid{};
    EXPECT_EQ(IIDFromString(u"{00020400-0000-0000-C000-000000000046}", &iid), S_OK);
    EXPECT_TRUE(IsEqualIID(iid, IID_IDispatch));
    EXPECT_EQ(IIDFromString(u"{nope}", &iid), E_INVALIDARG);
}

TEST(CoTaskMem, AllocReallocFree) {
    auto *block = static_cast<char *>(CoTaskMemAlloc(8));
    ASSERT_NE(block, nullptr);
    std::memcpy(block, "1234567", 8);
    block = static_cast<char *>(CoTaskMemRealloc(block, 4096));
    ASSERT_NE(block, nullptr);
    EXPECT_STREQ(block, "1234567");
    EXPECT_EQ(CoTaskMemRealloc(block, 0), nullptr);  // frees
    CoTaskMemFree(nullptr);
    void *fresh = CoTaskMemRealloc(nullptr, 16);
    EXPECT_NE(fresh, nullptr);
    CoTaskMemFree(fresh);
}

TEST(CoGetMalloc, TaskAllocator) {
    IMalloc *malloc = nullptr;
    ASSERT_EQ(CoGetMalloc(MEMCTX_TASK, &malloc), S_OK);
    void *block = malloc->Alloc(24);
    ASSERT_NE(block, nullptr);
    EXPECT_GE(malloc->GetSize(block), 24u);
    malloc->Free(block);
    malloc->Release();
    EXPECT_EQ(CoGetMalloc(2, &malloc), E_INVALIDARG);
}

TEST(CoInitialize, CountsPerThreadAndKeepsTheModel) {
    std::thread worker([] {
        EXPECT_EQ(CoInitialize(nullptr), S_OK);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
        CoUninitialize();
        CoUninitialize();
        // Fully uninitialised: another model may be chosen now.
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        CoUninitialize();
    });
    worker.join();
}

TEST(StandardIdentifiers, MatchTheInterfaceDeclarations) {
    EXPECT_TRUE(IsEqualIID(IID_IUnknown, __uuidof(IUnknown)));
    EXPECT_TRUE(IsEqualIID(IID_IDispatch, __uuidof(IDispatch)));
    EXPECT_TRUE(IsEqualIID(IID_IClassFactory, __uuidof(IClassFactory)));
    EXPECT_TRUE(IsEqualIID(IID_ISupportErrorInfo, __uuidof(ISupportErrorInfo)));
    EXPECT_TRUE(IsEqualIID(IID_IErrorInfo, __uuidof(IErrorInfo)));
    EXPECT_TRUE(IsEqualIID(IID_ICreateErrorInfo, __uuidof(ICreateErrorInfo)));
    EXPECT_TRUE(IsEqualIID(IID_ITypeInfo, __uuidof(ITypeInfo)));
    EXPECT_TRUE(IsEqualIID(IID_ITypeInfo2, __uuidof(ITypeInfo2)));
    EXPECT_TRUE(IsEqualIID(IID_ITypeLib, __uuidof(ITypeLib)));
    EXPECT_TRUE(IsEqualIID(IID_IRecordInfo, __uuidof(IRecordInfo)));
    EXPECT_TRUE(IsEqualIID(IID_IEnumVARIANT, __uuidof(IEnumVARIANT)));
    EXPECT_TRUE(IsEqualIID(IID_ICatRegister, __uuidof(ICatRegister)));
    EXPECT_TRUE(IsEqualIID(IID_IConnectionPointContainer, __uuidof(IConnectionPointContainer)));

    WCHAR text[40];
    ASSERT_EQ(StringFromGUID2(IID_IUnknown, text, 40), 39);
    EXPECT_EQ(std::u16string(text), u"{00000000-0000-0000-C000-000000000046}");
    ASSERT_EQ(StringFromGUID2(IID_ISupportErrorInfo, text, 40), 39);
    EXPECT_EQ(std::u16string(text), u"{DF0B3D60-548F-101B-8E65-08002B2BD119}");
    ASSERT_EQ(StringFromGUID2(CLSID_StdComponentCategoriesMgr, text, 40), 39);
    EXPECT_EQ(std::u16string(text), u"{0002E005-0000-0000-C000-000000000046}");

    // Equality looks at all sixteen bytes.
    GUID almost = IID_IUnknown;
    almost.Data4[7] ^= 1;
    EXPECT_FALSE(IsEqualGUID(almost, IID_IUnknown));
    EXPECT_TRUE(almost != IID_IUnknown);
}

TEST(Layout, AutomationTypesHaveTheirWindowsSizes) {
    EXPECT_EQ(sizeof(LONG), 4u);
    EXPECT_EQ(sizeof(ULONG), 4u);
    EXPECT_EQ(sizeof(DWORD), 4u);
    EXPECT_EQ(sizeof(HRESULT), 4u);
    EXPECT_EQ(sizeof(WCHAR), 2u);
    EXPECT_EQ(sizeof(VARIANT_BOOL), 2u);
    EXPECT_EQ(sizeof(DECIMAL), 16u);
    EXPECT_EQ(sizeof(CY), 8u);
    EXPECT_EQ(sizeof(GUID), 16u);
    EXPECT_EQ(sizeof(VARIANT), 8u + 2 * sizeof(void *));
    EXPECT_EQ(sizeof(SAFEARRAYBOUND), 8u);
    VARIANT v{};
    v.decVal.Lo64 = 0x1122334455667788ull;
    v.vt = VT_DECIMAL;
    // The DECIMAL overlays the whole VARIANT; its first field is the type.
    EXPECT_EQ(v.decVal.wReserved, VT_DECIMAL);
    EXPECT_EQ(reinterpret_cast<char *>(&v.lVal) - reinterpret_cast<char *>(&v), 8);
    EXPECT_EQ(reinterpret_cast<char *>(&v.pRecInfo) - reinterpret_cast<char *>(&v), 8 + static_cast<long>(sizeof(void *)));
    EXPECT_EQ(VARIANT_TRUE, -1);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), static_cast<HRESULT>(0x8007007A));
    EXPECT_EQ(HRESULT_FROM_WIN32(0), S_OK);
    EXPECT_EQ(HRESULT_FROM_WIN32(static_cast<DWORD>(E_FAIL)), E_FAIL);
}

}  // namespace
