// ProgIDs and in-process servers found through the registry: resolution,
// the library search, keeping libraries loaded and unloading them, and the
// errors Windows gives.

#include "com_support.h"
#include "test_server.h"

#include <fstream>
#include <iterator>

using com_test::ClassesKeyExists;
using com_test::LoadedByTheDynamicLoader;
using com_test::SetClassesString;
using com_test::Wide;

namespace {

constexpr CLSID kRecordset = {0x00000535, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
constexpr CLSID kCommand = {0x00000507, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
constexpr IID kIidUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID kIidClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

bool Same(const GUID &a, const GUID &b) {
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

std::u16string ProgIdOf(REFCLSID clsid, HRESULT *hr) {
    LPOLESTR text = nullptr;
    *hr = ProgIDFromCLSID(clsid, &text);
    std::u16string result = text ? std::u16string(text) : u"<null>";
    CoTaskMemFree(text);
    return result;
}

// Registers the test server's class with InprocServer32 = `server`.
void RegisterServerAs(const std::string &server) {
    const std::string key = std::string("CLSID\\") + kClsidTestServerText;
    ASSERT_EQ(SetClassesString(key + "\\InprocServer32", nullptr, server), ERROR_SUCCESS);
}

HRESULT CreateTestObject(LONG *value) {
    ITestValue *object = nullptr;
    HRESULT hr = CoCreateInstance(kClsidTestServer, nullptr, CLSCTX_INPROC_SERVER, kIidTestValue,
                                  reinterpret_cast<void **>(&object));
    if (FAILED(hr)) return hr;
    hr = object->GetValue(value);
    object->Release();
    return hr;
}

std::string BaseName(const std::string &path) {
    return path.substr(path.rfind('/') + 1);
}

void CopyFile(const std::string &from, const std::string &to) {
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary);
    out << in.rdbuf();
    ASSERT_TRUE(out.good());
}

// Sets or clears an environment variable for one test.
class EnvironmentVariable {
public:
    EnvironmentVariable(const char *name, const char *value) : name_(name) {
        if (const char *old = getenv(name)) old_ = old, had_ = true;
        if (value) setenv(name, value, 1);
        else unsetenv(name);
    }
    ~EnvironmentVariable() {
        if (had_) setenv(name_, old_.c_str(), 1);
        else unsetenv(name_);
    }

private:
    const char *name_;
    std::string old_;
    bool had_ = false;
};

// Runs the test from another directory and comes back.
class WorkingDirectory {
public:
    explicit WorkingDirectory(const std::string &dir) {
        char here[PATH_MAX];
        if (getcwd(here, sizeof(here))) old_ = here;
        if (chdir(dir.c_str()) != 0) ADD_FAILURE() << "chdir " << dir;
    }
    ~WorkingDirectory() {
        if (!old_.empty() && chdir(old_.c_str()) != 0) ADD_FAILURE() << "chdir back";
    }

private:
    std::string old_;
};

using ProgIds = com_test::ScratchRegistry;
using InprocServers = com_test::ScratchRegistry;

TEST_F(ProgIds, BuiltinClassesResolveWithAnEmptyRegistry) {
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(u"ADODB.Recordset", &clsid), S_OK);
    EXPECT_TRUE(Same(clsid, kRecordset));
    ASSERT_EQ(CLSIDFromProgID(u"adodb.command", &clsid), S_OK);  // case does not matter
    EXPECT_TRUE(Same(clsid, kCommand));
    ASSERT_EQ(CLSIDFromProgIDEx(u"ADODB.Parameter", &clsid), S_OK);
    ASSERT_EQ(CLSIDFromString(u"ADODB.Recordset", &clsid), S_OK);  // a ProgID where a CLSID string goes
    EXPECT_TRUE(Same(clsid, kRecordset));
    HRESULT hr;
    EXPECT_EQ(ProgIdOf(kRecordset, &hr), u"ADODB.Recordset");
    EXPECT_EQ(hr, S_OK);

    // Unknown ProgIDs and malformed strings.
    clsid = kRecordset;
    EXPECT_EQ(CLSIDFromProgID(u"No.Such.Class", &clsid), CO_E_CLASSSTRING);
    EXPECT_TRUE(Same(clsid, GUID{}));
    EXPECT_EQ(CLSIDFromProgID(u"", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromProgID(u"CLSID\\{00000535-0000-0010-8000-00AA006D2EA4}", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromProgID(nullptr, &clsid), E_INVALIDARG);
    EXPECT_EQ(CLSIDFromProgID(u"ADODB.Recordset", nullptr), E_INVALIDARG);
    EXPECT_EQ(CLSIDFromString(u"No.Such.Class", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromString(u"{00000535-0000-0010-8000-00AA006D2EA4", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(ProgIdOf(kClsidTestServer, &hr), u"<null>");
    EXPECT_EQ(hr, REGDB_E_CLASSNOTREG);
    EXPECT_EQ(ProgIDFromCLSID(kRecordset, nullptr), E_INVALIDARG);
}

TEST_F(ProgIds, RegistryEntriesAndCurVer) {
    const std::string test = kClsidTestServerText;
    // A registry entry overrides the built-in ProgID.
    ASSERT_EQ(SetClassesString("ADODB.Recordset\\CLSID", nullptr, test), ERROR_SUCCESS);
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(u"ADODB.Recordset", &clsid), S_OK);
    EXPECT_TRUE(Same(clsid, kClsidTestServer));

    // A version-independent ProgID with only CurVer is followed to the
    // current version's CLSID.
    ASSERT_EQ(SetClassesString("Sample.Thing.3\\CLSID", nullptr, test), ERROR_SUCCESS);
    ASSERT_EQ(SetClassesString("Sample.Thing\\CurVer", nullptr, "Sample.Thing.3"), ERROR_SUCCESS);
    ASSERT_EQ(CLSIDFromProgID(u"Sample.Thing", &clsid), S_OK);
    EXPECT_TRUE(Same(clsid, kClsidTestServer));
    ASSERT_EQ(CLSIDFromString(u"sample.thing", &clsid), S_OK);
    EXPECT_TRUE(Same(clsid, kClsidTestServer));

    // Its own CLSID key wins over CurVer.
    ASSERT_EQ(SetClassesString("Sample.Thing\\CLSID", nullptr, "{00000535-0000-0010-8000-00AA006D2EA4}"),
              ERROR_SUCCESS);
    ASSERT_EQ(CLSIDFromProgID(u"Sample.Thing", &clsid), S_OK);
    EXPECT_TRUE(Same(clsid, kRecordset));

    // CurVer naming nothing, a CLSID value that is no GUID, and a chain of
    // CurVer keys (followed once only).
    ASSERT_EQ(SetClassesString("Dangling\\CurVer", nullptr, "Dangling.9"), ERROR_SUCCESS);
    EXPECT_EQ(CLSIDFromProgID(u"Dangling", &clsid), CO_E_CLASSSTRING);
    ASSERT_EQ(SetClassesString("Garbled\\CLSID", nullptr, "not a guid"), ERROR_SUCCESS);
    EXPECT_EQ(CLSIDFromProgID(u"Garbled", &clsid), CO_E_CLASSSTRING);
    ASSERT_EQ(SetClassesString("Chain\\CurVer", nullptr, "Sample.Thing"), ERROR_SUCCESS);
    ASSERT_EQ(SetClassesString("Chain2\\CurVer", nullptr, "Dangling"), ERROR_SUCCESS);
    EXPECT_EQ(CLSIDFromProgID(u"Chain2", &clsid), CO_E_CLASSSTRING);

    // ProgIDFromCLSID reads the class's ProgID key.
    ASSERT_EQ(SetClassesString("CLSID\\" + test + "\\ProgID", nullptr, "Sample.Thing.3"), ERROR_SUCCESS);
    HRESULT hr;
    EXPECT_EQ(ProgIdOf(kClsidTestServer, &hr), u"Sample.Thing.3");
    EXPECT_EQ(hr, S_OK);
}

TEST_F(ProgIds, OutOfMemory) {
    LPOLESTR text = reinterpret_cast<LPOLESTR>(1);
    ComHostFailAllocation(1);
    EXPECT_EQ(ProgIDFromCLSID(kRecordset, &text), E_OUTOFMEMORY);
    EXPECT_EQ(text, nullptr);
}

TEST_F(InprocServers, RegisteredServerIsLoadedOnceAndUnloadedWhenUnused) {
    ASSERT_EQ(com_test::CallExport(TEST_SERVER_PATH, "DllRegisterServer"), S_OK);
    EXPECT_FALSE(LoadedByTheDynamicLoader(TEST_SERVER_PATH));

    // Created by the ProgID through CurVer.
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(u"ComHost.TestServer", &clsid), S_OK);
    ASSERT_TRUE(Same(clsid, kClsidTestServer));
    ITestValue *object = nullptr;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, kIidTestValue, reinterpret_cast<void **>(&object)), S_OK);
    LONG value = 0;
    EXPECT_EQ(object->GetValue(&value), S_OK);
    EXPECT_EQ(value, 42);
    EXPECT_TRUE(LoadedByTheDynamicLoader(TEST_SERVER_PATH));

    // One load: the class object comes from the same copy of the library.
    IClassFactory *first = nullptr, *second = nullptr;
    ASSERT_EQ(CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, kIidClassFactory,
                               reinterpret_cast<void **>(&first)), S_OK);
    ASSERT_EQ(CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, kIidUnknown,
                               reinterpret_cast<void **>(&second)), S_OK);
    EXPECT_EQ(static_cast<IUnknown *>(first), static_cast<IUnknown *>(second));
    first->Release();
    second->Release();

    // A live object keeps the library loaded; once it is gone, it goes.
    CoFreeUnusedLibraries();
    EXPECT_TRUE(LoadedByTheDynamicLoader(TEST_SERVER_PATH));
    object->Release();
    CoFreeUnusedLibrariesEx(0, 0);
    EXPECT_FALSE(LoadedByTheDynamicLoader(TEST_SERVER_PATH));

    // And it is loaded again when wanted.
    EXPECT_EQ(CreateTestObject(&value), S_OK);
    EXPECT_TRUE(LoadedByTheDynamicLoader(TEST_SERVER_PATH));
    CoFreeUnusedLibraries();
    EXPECT_FALSE(LoadedByTheDynamicLoader(TEST_SERVER_PATH));

    ASSERT_EQ(com_test::CallExport(TEST_SERVER_PATH, "DllUnregisterServer"), S_OK);
    EXPECT_EQ(CreateTestObject(&value), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(CLSIDFromProgID(u"ComHost.TestServer", &clsid), CO_E_CLASSSTRING);
}

TEST_F(InprocServers, LibrarySearchOrderAndPathForms) {
    const std::string name = "copied_test_server.so";
    ASSERT_NO_FATAL_FAILURE(CopyFile(TEST_SERVER_PATH, dir() + "/" + name));
    LONG value = 0;

    // A bare name: not in the program's directory, not in COMHOST_PATH, not in
    // the working directory.
    RegisterServerAs(name);
    {
        EnvironmentVariable path("COMHOST_PATH", nullptr);
        EXPECT_EQ(CreateTestObject(&value), HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
    }
    // Found through COMHOST_PATH (empty and missing entries are skipped).
    {
        EnvironmentVariable path("COMHOST_PATH", ("/no/such/dir::" + dir()).c_str());
        EXPECT_EQ(CreateTestObject(&value), S_OK);
        EXPECT_EQ(value, 42);
        CoFreeUnusedLibraries();
    }
    // Found in the working directory.
    {
        EnvironmentVariable path("COMHOST_PATH", nullptr);
        WorkingDirectory cwd(dir());
        EXPECT_EQ(CreateTestObject(&value), S_OK);
        CoFreeUnusedLibraries();
    }
    // The program's directory comes first: the test server is built next
    // to this test program.
    RegisterServerAs(BaseName(TEST_SERVER_PATH));
    EXPECT_EQ(CreateTestObject(&value), S_OK);
    EXPECT_TRUE(LoadedByTheDynamicLoader(TEST_SERVER_PATH));
    CoFreeUnusedLibraries();

    // A Windows-form path with a drive, and a quoted host path.
    std::string windows = "C:" + dir() + "/" + name;
    for (char &c : windows)
        if (c == '/') c = '\\';
    RegisterServerAs(windows);
    EXPECT_EQ(CreateTestObject(&value), S_OK);
    CoFreeUnusedLibraries();
    RegisterServerAs("\"" + dir() + "/" + name + "\"");
    EXPECT_EQ(CreateTestObject(&value), S_OK);
    CoFreeUnusedLibraries();
    EXPECT_FALSE(LoadedByTheDynamicLoader((dir() + "/" + name).c_str()));
}

TEST_F(InprocServers, ErrorsAsWindowsGivesThem) {
    LONG value = 0;
    const std::string key = std::string("CLSID\\") + kClsidTestServerText;
    // Not registered at all; registered without InprocServer32.
    EXPECT_EQ(CreateTestObject(&value), REGDB_E_CLASSNOTREG);
    ASSERT_EQ(SetClassesString(key, nullptr, "Test server"), ERROR_SUCCESS);
    EXPECT_EQ(CreateTestObject(&value), REGDB_E_CLASSNOTREG);
    // Only in-process servers are found.
    RegisterServerAs(TEST_SERVER_PATH);
    ITestValue *object = nullptr;
    EXPECT_EQ(CoCreateInstance(kClsidTestServer, nullptr, CLSCTX_LOCAL_SERVER, kIidTestValue,
                               reinterpret_cast<void **>(&object)),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);
    // Missing file, empty value, a Windows library, a library without
    // DllGetClassObject.
    RegisterServerAs(dir() + "/missing.so");
    EXPECT_EQ(CreateTestObject(&value), HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
    RegisterServerAs("");
    EXPECT_EQ(CreateTestObject(&value), HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
    RegisterServerAs(PE_LIBRARY_PATH);
    EXPECT_EQ(CreateTestObject(&value), HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT));
    RegisterServerAs(TEST_SERVER_NOCLASS_PATH);
    EXPECT_EQ(CreateTestObject(&value), CO_E_ERRORINDLL);
    EXPECT_FALSE(LoadedByTheDynamicLoader(TEST_SERVER_NOCLASS_PATH));
    // The server's own refusal comes back as it is.
    RegisterServerAs(TEST_SERVER_PATH);
    IClassFactory *factory = nullptr;
    const CLSID other = {0x6E1B2A3F, 0, 0, {0}};
    const std::string otherKey = "CLSID\\{6E1B2A3F-0000-0000-0000-000000000000}\\InprocServer32";
    ASSERT_EQ(SetClassesString(otherKey, nullptr, TEST_SERVER_PATH), ERROR_SUCCESS);
    EXPECT_EQ(CoGetClassObject(other, CLSCTX_INPROC_SERVER, nullptr, kIidClassFactory,
                               reinterpret_cast<void **>(&factory)),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(factory, nullptr);
    // Built-in classes need no registration, and come before the registry.
    ASSERT_EQ(SetClassesString("CLSID\\{00000535-0000-0010-8000-00AA006D2EA4}\\InprocServer32", nullptr,
                               "msado15.dll"),
              ERROR_SUCCESS);
    IUnknown *recordset = nullptr;
    ASSERT_EQ(CoCreateInstance(kRecordset, nullptr, CLSCTX_INPROC_SERVER, kIidUnknown,
                               reinterpret_cast<void **>(&recordset)),
              S_OK);
    recordset->Release();
}

TEST_F(InprocServers, OutOfMemoryWhileLoading) {
    RegisterServerAs(TEST_SERVER_PATH);
    LONG value = 0;
    // Each allocation of the first activation fails in turn; every failure is
    // clean and the next attempt works.
    for (LONG n = 1; n < 64; ++n) {
        ComHostFailAllocation(n);
        const HRESULT hr = CreateTestObject(&value);
        const bool failed = ComHostAllocationFailurePending() == FALSE;
        ComHostFailAllocation(0);
        CoFreeUnusedLibraries();
        if (!failed) {
            EXPECT_EQ(hr, S_OK);
            break;
        }
        EXPECT_TRUE(hr == S_OK || hr == E_OUTOFMEMORY) << n << ": " << std::hex << hr;
        EXPECT_EQ(CreateTestObject(&value), S_OK) << n;
        CoFreeUnusedLibraries();
    }
}

}  // namespace
