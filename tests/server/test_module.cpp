// The module: class-object lookup, unload answers, allocation failures,
// concurrency, term functions, code pages and conversions.
#include "frame_environment.h"

#include <cstring>
#include <string>

#include "server/conversion.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace nuv::test {
namespace {

const CLSID kOtherClsid = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};

TEST(ClassObjectLookup, TwoRequestsShareOneCachedObject) {
    CComPtr<IClassFactory> a, b;
    ASSERT_EQ(S_OK, DllGetClassObject(CLSID_NUVADOHelper, IID_IClassFactory, reinterpret_cast<void**>(a.ReleaseAndGetAddressOf())));
    ASSERT_EQ(S_OK, DllGetClassObject(CLSID_NUVADOHelper, IID_IClassFactory, reinterpret_cast<void**>(b.ReleaseAndGetAddressOf())));
    EXPECT_EQ(a.Get(), b.Get());
    EXPECT_EQ(static_cast<IUnknown*>(a.Get()), g_classTable[0].pCF);
    // The table's reference plus one each.
    EXPECT_EQ(4u, a->AddRef());
    a->Release();
}

TEST(ClassObjectLookup, RefusesUnknownClassesAndNullOut) {
    void* out = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, DllGetClassObject(kOtherClsid, IID_IClassFactory, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(E_POINTER, DllGetClassObject(CLSID_NUVADOHelper, IID_IClassFactory, nullptr));
    // A CLSID that differs in its last byte only is another class.
    CLSID almost = CLSID_NUVADOHelper;
    almost.Data4[7] ^= 1;
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, DllGetClassObject(almost, IID_IClassFactory, &out));
}

TEST(ClassObjectLookup, UnansweredInterfaceKeepsTheClassObjectCached) {
    ForgetClassObject();
    void* out = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(E_NOINTERFACE, DllGetClassObject(CLSID_NUVADOHelper, IID_IDispatch, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_NE(nullptr, g_classTable[0].pCF);
    EXPECT_EQ(S_OK, DllCanUnloadNow());
}

TEST(AllocationFailure, ClassObjectCreationCachesNothingAndRetriesLater) {
    ForgetClassObject();
    const LONG before = LockCount();
    void* out = reinterpret_cast<void*>(0x1234);
    ComHostFailAllocation(1);
    EXPECT_EQ(E_OUTOFMEMORY, DllGetClassObject(CLSID_NUVADOHelper, IID_IClassFactory, &out));
    ComHostFailAllocation(0);
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(nullptr, g_classTable[0].pCF);
    EXPECT_EQ(before, LockCount());

    CComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, DllGetClassObject(CLSID_NUVADOHelper, IID_IClassFactory, reinterpret_cast<void**>(factory.ReleaseAndGetAddressOf())));
    EXPECT_NE(nullptr, g_classTable[0].pCF);
}

TEST(AllocationFailure, ObjectCreationLeavesTheLockCountAlone) {
    CComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, DllGetClassObject(CLSID_NUVADOHelper, IID_IClassFactory, reinterpret_cast<void**>(factory.ReleaseAndGetAddressOf())));
    const LONG before = LockCount();
    CountingOuter outer;
    for (IUnknown* pOuter : {static_cast<IUnknown*>(nullptr), static_cast<IUnknown*>(&outer)}) {
        void* out = reinterpret_cast<void*>(0x1234);
        ComHostFailAllocation(1);
        EXPECT_EQ(E_OUTOFMEMORY, factory->CreateInstance(pOuter, IID_IUnknown, &out));
        ComHostFailAllocation(0);
        EXPECT_EQ(nullptr, out);
        EXPECT_EQ(before, LockCount());
    }
}

TEST(AllocationFailure, TermFunctionRegistrationReportsIt) {
    ComHostFailAllocation(1);
    EXPECT_EQ(E_OUTOFMEMORY, g_pModule->AddTermFunction([](DWORD_PTR) {}, 0));
    ComHostFailAllocation(0);
}

TEST(Concurrency, TwoThreadsRacingForTheClassObjectGetTheSameOne) {
    for (int round = 0; round < 50; ++round) {
        ForgetClassObject();
        std::atomic<int> ready{0};
        IUnknown* seen[2] = {nullptr, nullptr};
        std::vector<std::thread> threads;
        for (int t = 0; t < 2; ++t) {
            threads.emplace_back([&, t] {
                ++ready;
                while (ready.load() < 2) {
                }
                DllGetClassObject(CLSID_NUVADOHelper, IID_IUnknown, reinterpret_cast<void**>(&seen[t]));
            });
        }
        for (auto& thread : threads)
            thread.join();
        ASSERT_NE(nullptr, seen[0]);
        EXPECT_EQ(seen[0], seen[1]);
        EXPECT_EQ(seen[0], g_classTable[0].pCF);
        seen[0]->Release();
        seen[1]->Release();
        EXPECT_EQ(S_OK, DllCanUnloadNow());
    }
}

// Term functions belong to a module of their own here, so that the library's
// module keeps running for the other tests.
std::string g_termOrder;

TEST(TermFunctions, RunInReverseOrderOnceAtDetach) {
    CComModule* const library = g_pModule;
    g_termOrder.clear();
    {
        CComModule module;   // becomes the module pointer while it lives
        ClassTableEntry emptyTable[] = {{nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr}};
        module.Attach(emptyTable);
        ASSERT_EQ(S_OK, module.AddTermFunction([](DWORD_PTR) { g_termOrder += 'A'; }, 0));
        ASSERT_EQ(S_OK, module.AddTermFunction([](DWORD_PTR dw) { g_termOrder += static_cast<char>(dw); }, 'B'));
        module.Term();
        EXPECT_EQ("BA", g_termOrder);
        EXPECT_EQ(0u, module.m_nInitialized);
        EXPECT_EQ(nullptr, module.m_pTermFuncs);
    }
    // Destroying the terminated record ran nothing a second time.
    EXPECT_EQ("BA", g_termOrder);
    g_pModule = library;
}

TEST(TermFunctions, AModuleWhoseLockFailedRefusesThemAndAllocatesNothing) {
    CComModule* const library = g_pModule;
    {
        ComHostFailAllocation(1);   // the lock's initialisation
        CComModule module;
        ComHostFailAllocation(0);
        ASSERT_EQ(0u, module.m_nInitialized);
        const LONG attempts = ComHostAllocationCount();
        EXPECT_EQ(E_UNEXPECTED, module.AddTermFunction([](DWORD_PTR) { g_termOrder += 'X'; }, 0));
        EXPECT_EQ(attempts, ComHostAllocationCount());   // no node was made, none can leak
        EXPECT_EQ(nullptr, module.m_pTermFuncs);
        module.Term();
    }
    EXPECT_EQ(std::string::npos, g_termOrder.find('X'));
    g_pModule = library;
}

TEST(CodePage, NtFamilyFromVersionFiveUsesTheThreadCodePage) {
    ComHostSetVersion(VER_PLATFORM_WIN32_NT, 5, 1);
    ResetThreadAnsiCodePageSelection();
    EXPECT_EQ(static_cast<UINT>(CP_THREAD_ACP), ThreadAnsiCodePage());
    // The choice is made once: later answers come from the chosen routine.
    ComHostSetVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 10);
    EXPECT_EQ(static_cast<UINT>(CP_THREAD_ACP), ThreadAnsiCodePage());
    ComHostSetVersion(0, 0, 0);
    ResetThreadAnsiCodePageSelection();
}

TEST(CodePage, OlderSystemsAskTheThreadLocale) {
    const LCID saved = GetThreadLocale();
    ComHostSetVersion(VER_PLATFORM_WIN32_NT, 4, 0);
    ResetThreadAnsiCodePageSelection();
    SetThreadLocale(0x0411);   // Japanese
    EXPECT_EQ(932u, ThreadAnsiCodePage());
    SetThreadLocale(0x0409);   // English (United States)
    EXPECT_EQ(1252u, ThreadAnsiCodePage());
    // A locale without an ANSI code page (Unicode-only) falls back to the system's.
    SetThreadLocale(0x0439);   // Hindi
    EXPECT_EQ(GetACP(), ThreadAnsiCodePage());
    SetThreadLocale(saved);
    ComHostSetVersion(0, 0, 0);
    ResetThreadAnsiCodePageSelection();
}

TEST(ErrorCodes, Win32CodesBecomeFailures) {
    EXPECT_EQ(S_OK, HResultFromWin32(0));
    EXPECT_EQ(static_cast<HRESULT>(0x80070005), HResultFromWin32(ERROR_ACCESS_DENIED));
    EXPECT_EQ(static_cast<HRESULT>(0x8007FFFF), HResultFromWin32(0x7FFFFFFF));
    EXPECT_EQ(static_cast<HRESULT>(0x80004005), HResultFromWin32(static_cast<LONG>(0x80004005)));
    EXPECT_EQ(-1, HResultFromWin32(-1));
    SetLastError(ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(static_cast<HRESULT>(0x80070002), HResultFromLastError());
}

TEST(ConversionBuffer, StackUpTo1024BytesHeapBeyondSameResult) {
    const std::string shortText(511, 'x');   // 1024 bytes wide
    const std::string longText(512, 'x');    // 1026 bytes wide
    CConversionScope scope;
    LPWSTR onStack = scope.ToWide(shortText.c_str());
    ASSERT_NE(nullptr, onStack);
    EXPECT_TRUE(scope.IsStackBuffer(onStack));
    CConversionScope other;
    LPWSTR onHeap = other.ToWide(longText.c_str());
    ASSERT_NE(nullptr, onHeap);
    EXPECT_FALSE(other.IsStackBuffer(onHeap));
    EXPECT_EQ(511, lstrlenW(onStack));
    EXPECT_EQ(512, lstrlenW(onHeap));
    EXPECT_EQ(0, std::char_traits<WCHAR>::compare(onStack, onHeap, 511));
    // A second buffer in the same scope comes from the heap; both stay valid.
    LPWSTR second = scope.ToWide("abc");
    ASSERT_NE(nullptr, second);
    EXPECT_FALSE(scope.IsStackBuffer(second));
    EXPECT_EQ(std::u16string(u"abc"), std::u16string(reinterpret_cast<const char16_t*>(second)));
    EXPECT_EQ(511, lstrlenW(onStack));
}

TEST(ConversionBuffer, HeapFailureYieldsNoString) {
    const std::string longText(600, 'y');
    CConversionScope scope;
    ComHostFailAllocation(1);
    EXPECT_EQ(nullptr, scope.ToWide(longText.c_str()));
    ComHostFailAllocation(0);
    EXPECT_EQ(nullptr, scope.ToWide(nullptr));
}

TEST(ConversionBuffer, NarrowBuffersHoldTheLongestCharactersOfUtf8) {
    // Three bytes for each of these characters: twice the UTF-16 length would
    // not hold them and the conversion would fail for want of room.
    // A thread in a Unicode-only locale converts with the system's ANSI code
    // page, here UTF-8.
    ASSERT_TRUE(ComHostSetSystemCodePages(CP_UTF8, 0));
    const LCID threadLocale = GetThreadLocale();
    ASSERT_TRUE(SetThreadLocale(0x0439));   // hi-IN
    ResetThreadAnsiCodePageSelection();
    std::u16string wide(400, u'\u20AC');   // euro signs: 1200 bytes in UTF-8
    wide += u"\U0001F600";                  // a surrogate pair: four bytes
    {
        CConversionScope scope;
        LPSTR narrow = scope.ToNarrow(reinterpret_cast<LPCWSTR>(wide.c_str()));
        ASSERT_NE(nullptr, narrow);
        EXPECT_EQ(1204u, std::strlen(narrow));
        EXPECT_EQ(std::string("\xE2\x82\xAC"), std::string(narrow, 3));
        EXPECT_EQ(std::string("\xF0\x9F\x98\x80"), std::string(narrow + 1200));
    }
    SetThreadLocale(threadLocale);
    ComHostSetSystemCodePages(0, 0);
    ResetThreadAnsiCodePageSelection();
}

TEST(ConversionBuffer, RoundTripThroughTheThreadCodePage) {
    CConversionScope scope;
    const char text[] = "caf\xE9";   // "café" in code page 1252
    LPWSTR wide = scope.ToWide(text);
    ASSERT_NE(nullptr, wide);
    EXPECT_EQ(static_cast<WCHAR>(0x00E9), wide[3]);
    LPSTR narrow = scope.ToNarrow(wide);
    ASSERT_NE(nullptr, narrow);
    EXPECT_STREQ(text, narrow);
}

}  // namespace
}  // namespace nuv::test
