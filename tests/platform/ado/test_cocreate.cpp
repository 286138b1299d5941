// Creating the host layer's built-in classes through the COM runtime.
#include "ado_test_util.h"

namespace adotest {
namespace {

TEST(CoCreateInstanceTest, BuiltInClassesNeedNoRegistration) {
    for (const GUID& clsid : {kCLSID_Recordset, kCLSID_Command, kCLSID_Parameter}) {
        for (DWORD context : {DWORD{CLSCTX_INPROC_SERVER}, DWORD{0x15}, DWORD{CLSCTX_ALL}, DWORD{CLSCTX_SERVER}}) {
            Ptr<IUnknown> object;
            ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, context, IID_IUnknown, object.outVoid()))
                << std::hex << clsid.Data1 << " context " << context;
            EXPECT_EQ(1u, RefCount(object.get()));
        }
    }
    // Each call makes a new object.
    Ptr<_Recordset> a = NewRecordset(), b = NewRecordset();
    EXPECT_NE(static_cast<void*>(a.get()), static_cast<void*>(b.get()));
}

TEST(CoCreateInstanceTest, AsksTheNewObjectForTheInterface) {
    Ptr<IUnknown> object;
    ASSERT_EQ(S_OK, CoCreateInstance(kCLSID_Recordset, nullptr, 0x15, kIID_Recordset15, object.outVoid()));
    // An interface the class does not have: nothing is handed out, nothing leaks.
    void* raw = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(E_NOINTERFACE, CoCreateInstance(kCLSID_Recordset, nullptr, 0x15, kIID_Command15, &raw));
    EXPECT_EQ(nullptr, raw);
    EXPECT_EQ(E_POINTER, CoCreateInstance(kCLSID_Recordset, nullptr, 0x15, IID_IUnknown, nullptr));
}

TEST(CoCreateInstanceTest, RefusesWhatItCannotCreate) {
    void* raw = reinterpret_cast<void*>(0x1);
    const GUID unknown = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    EXPECT_EQ(REGDB_E_CLASSNOTREG, CoCreateInstance(unknown, nullptr, CLSCTX_ALL, IID_IUnknown, &raw));
    EXPECT_EQ(nullptr, raw);
    // The built-in classes are in-process servers only.
    EXPECT_EQ(REGDB_E_CLASSNOTREG,
              CoCreateInstance(kCLSID_Recordset, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, &raw));
    EXPECT_EQ(E_INVALIDARG, CoCreateInstance(kCLSID_Recordset, nullptr, 0, IID_IUnknown, &raw));
    // ADO's classes cannot be aggregated.
    Ptr<_Recordset> outer = NewRecordset();
    EXPECT_EQ(CLASS_E_NOAGGREGATION, CoCreateInstance(kCLSID_Recordset, outer.get(), CLSCTX_INPROC_SERVER,
                                                      IID_IUnknown, &raw));
    EXPECT_EQ(nullptr, raw);
    EXPECT_EQ(1u, RefCount(outer.get()));
}

TEST(CoGetClassObjectTest, ClassObjectCreatesInstances) {
    Ptr<IClassFactory> factory;
    ASSERT_EQ(S_OK, CoGetClassObject(kCLSID_Command, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                     factory.outVoid()));
    Ptr<_Command> command;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, kIID_Command, command.outVoid()));
    EXPECT_EQ(1u, RefCount(command.get()));
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    Ptr<_Command> aggregated;
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(command.get(), IID_IUnknown, aggregated.outVoid()));
    EXPECT_EQ(1u, RefCount(command.get()));

    void* raw = reinterpret_cast<void*>(0x1);
    const GUID unknown = {0x87654321, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    EXPECT_EQ(REGDB_E_CLASSNOTREG, CoGetClassObject(unknown, CLSCTX_ALL, nullptr, IID_IClassFactory, &raw));
    EXPECT_EQ(nullptr, raw);
}

}  // namespace
}  // namespace adotest
