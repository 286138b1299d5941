// Object identity, aggregation, reference counting and the class object.
#include "frame_environment.h"

namespace nuv::test {
namespace {

CComPtr<IClassFactory> GetFactory() {
    CComPtr<IClassFactory> factory;
    EXPECT_EQ(S_OK, DllGetClassObject(CLSID_NUVADOHelper, IID_IClassFactory, reinterpret_cast<void**>(factory.ReleaseAndGetAddressOf())));
    return factory;
}

TEST(ObjectIdentity, UnknownDispatchAndHelperAreOnePointerErrorInfoAnother) {
    CComPtr<IClassFactory> factory = GetFactory();
    CComPtr<IADOHelper> helper;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IADOHelper, reinterpret_cast<void**>(helper.ReleaseAndGetAddressOf())));

    CComPtr<IUnknown> unknown;
    CComPtr<IDispatch> dispatch;
    CComPtr<ISupportErrorInfo> errorInfo;
    ASSERT_EQ(S_OK, helper->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(unknown.ReleaseAndGetAddressOf())));
    ASSERT_EQ(S_OK, helper->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.ReleaseAndGetAddressOf())));
    ASSERT_EQ(S_OK, helper->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(errorInfo.ReleaseAndGetAddressOf())));
    EXPECT_EQ(static_cast<void*>(unknown.Get()), static_cast<void*>(helper.Get()));
    EXPECT_EQ(static_cast<void*>(dispatch.Get()), static_cast<void*>(helper.Get()));
    EXPECT_NE(static_cast<void*>(errorInfo.Get()), static_cast<void*>(helper.Get()));

    CComPtr<IUnknown> again;
    ASSERT_EQ(S_OK, errorInfo->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(again.ReleaseAndGetAddressOf())));
    EXPECT_EQ(again.Get(), unknown.Get());

    // Both parts share one count: five references are out now.
    EXPECT_EQ(6u, errorInfo->AddRef());
    EXPECT_EQ(5u, helper->Release());
}

TEST(ObjectIdentity, UnknownInterfaceIsRefusedWithNullOut) {
    CComPtr<IClassFactory> factory = GetFactory();
    CComPtr<IUnknown> object;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(object.ReleaseAndGetAddressOf())));
    void* out = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(E_NOINTERFACE, object->QueryInterface(IID_IClassFactory, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(E_POINTER, object->QueryInterface(IID_IUnknown, nullptr));
}

TEST(ObjectLifetime, ReleaseOfAFreshObjectDestroysItAndGivesTheLockBack) {
    CComPtr<IClassFactory> factory = GetFactory();
    const LONG before = LockCount();
    IUnknown* object = nullptr;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object)));
    EXPECT_EQ(before + 1, LockCount());
    EXPECT_EQ(0u, object->Release());
    EXPECT_EQ(before, LockCount());
}

TEST(ObjectLifetime, CreateForAnUnansweredInterfaceDestroysTheNewObject) {
    CComPtr<IClassFactory> factory = GetFactory();
    const LONG before = LockCount();
    void* out = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IClassFactory, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(before, LockCount());
    EXPECT_EQ(E_POINTER, factory->CreateInstance(nullptr, IID_IUnknown, nullptr));
}

TEST(Aggregation, OnlyIUnknownMayBeAskedForWithAnOuterObject) {
    CComPtr<IClassFactory> factory = GetFactory();
    CountingOuter outer;
    void* out = reinterpret_cast<void*>(0x1234);
    const LONG before = LockCount();
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(&outer, IID_IDispatch, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(before, LockCount());
    EXPECT_EQ(1, outer.refs);
}

TEST(Aggregation, InnerInterfacesDelegateReferencesToTheOuterObject) {
    CComPtr<IClassFactory> factory = GetFactory();
    CountingOuter outer;
    const LONG before = LockCount();
    IUnknown* inner = nullptr;
    ASSERT_EQ(S_OK, factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)));
    outer.inner = inner;
    EXPECT_EQ(before + 1, LockCount());
    EXPECT_EQ(1, outer.refs);   // the aggregate keeps no reference to its outer object

    IADOHelper* helper = nullptr;
    ASSERT_EQ(S_OK, inner->QueryInterface(IID_IADOHelper, reinterpret_cast<void**>(&helper)));
    EXPECT_EQ(2, outer.refs);   // the reference went to the outer object
    // Calls on the inner interfaces reach the outer object's identity.
    IUnknown* identity = nullptr;
    ASSERT_EQ(S_OK, helper->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)));
    EXPECT_EQ(static_cast<IUnknown*>(&outer), identity);
    identity->Release();
    ISupportErrorInfo* errorInfo = nullptr;
    ASSERT_EQ(S_OK, helper->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&errorInfo)));
    EXPECT_EQ(S_OK, errorInfo->InterfaceSupportsErrorInfo(IID_IADOHelper));
    errorInfo->Release();
    helper->Release();
    EXPECT_EQ(1, outer.refs);

    // The non-delegating IUnknown answers IUnknown with itself.
    IUnknown* self = nullptr;
    ASSERT_EQ(S_OK, inner->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&self)));
    EXPECT_EQ(inner, self);
    EXPECT_EQ(1u, self->Release());
    EXPECT_EQ(0u, inner->Release());
    EXPECT_EQ(before, LockCount());
}

TEST(ClassObject, AnswersIUnknownAndIClassFactoryWithOnePointerAndNothingElse) {
    CComPtr<IClassFactory> factory = GetFactory();
    CComPtr<IUnknown> unknown;
    ASSERT_EQ(S_OK, factory->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(unknown.ReleaseAndGetAddressOf())));
    EXPECT_EQ(static_cast<void*>(unknown.Get()), static_cast<void*>(factory.Get()));
    void* out = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(E_NOINTERFACE, factory->QueryInterface(IID_IDispatch, &out));
    EXPECT_EQ(nullptr, out);
}

TEST(ClassObject, OnlyReferencesBeyondTheClassTablesHoldTheModule) {
    ForgetClassObject();
    const LONG before = LockCount();
    IClassFactory* first = nullptr;
    ASSERT_EQ(S_OK, DllGetClassObject(CLSID_NUVADOHelper, IID_IClassFactory, reinterpret_cast<void**>(&first)));
    EXPECT_EQ(before + 1, LockCount());   // the table's reference and ours
    EXPECT_EQ(3u, first->AddRef());
    EXPECT_EQ(before + 1, LockCount());   // a third reference adds nothing
    EXPECT_EQ(2u, first->Release());
    EXPECT_EQ(before + 1, LockCount());
    EXPECT_EQ(1u, first->Release());
    EXPECT_EQ(before, LockCount());       // the table's own reference alone
}

TEST(ClassObject, LockServerKeepsTheLibraryLoaded) {
    CComPtr<IClassFactory> factory = GetFactory();
    ASSERT_EQ(S_OK, factory->LockServer(TRUE));
    factory.Release();
    EXPECT_EQ(S_FALSE, DllCanUnloadNow());
    {
        CComPtr<IClassFactory> again = GetFactory();
        ASSERT_EQ(S_OK, again->LockServer(FALSE));
    }
    EXPECT_EQ(S_OK, DllCanUnloadNow());
}

TEST(ClassObject, ALiveObjectKeepsTheLibraryLoaded) {
    CComPtr<IUnknown> object;
    {
        CComPtr<IClassFactory> factory = GetFactory();
        ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(object.ReleaseAndGetAddressOf())));
    }
    EXPECT_EQ(S_FALSE, DllCanUnloadNow());
    object.Release();
    EXPECT_EQ(S_OK, DllCanUnloadNow());
}

TEST(ErrorInfoSupport, OnlyTheHelperInterfaceReportsErrors) {
    CComPtr<IClassFactory> factory = GetFactory();
    CComPtr<IUnknown> object;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(object.ReleaseAndGetAddressOf())));
    CComPtr<ISupportErrorInfo> errorInfo;
    ASSERT_EQ(S_OK, object->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(errorInfo.ReleaseAndGetAddressOf())));
    EXPECT_EQ(S_OK, errorInfo->InterfaceSupportsErrorInfo(IID_IADOHelper));
    EXPECT_EQ(S_FALSE, errorInfo->InterfaceSupportsErrorInfo(IID_IDispatch));
    EXPECT_EQ(S_FALSE, errorInfo->InterfaceSupportsErrorInfo(IID_IUnknown));
}

}  // namespace
}  // namespace nuv::test
