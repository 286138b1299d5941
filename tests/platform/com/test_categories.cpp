// The component categories manager: where it writes, what unregistering
// leaves, refusals, and the categories of a registered server.

#include "com_support.h"
#include "test_server.h"

#include <comcat.h>

using com_test::ClassesKeyExists;
using com_test::GetClassesString;

namespace {

constexpr IID kIidUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

using Categories = com_test::ScratchRegistry;

// The manager, released when the test ends.
class Manager {
public:
    Manager() {
        hr_ = CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER, IID_ICatRegister,
                               reinterpret_cast<void **>(&registrar_));
    }
    ~Manager() {
        if (registrar_) registrar_->Release();
    }
    Manager(const Manager &) = delete;
    Manager &operator=(const Manager &) = delete;
    ICatRegister *operator->() const { return registrar_; }
    HRESULT result() const { return hr_; }

private:
    ICatRegister *registrar_ = nullptr;
    HRESULT hr_;
};

const std::string kClassKey = std::string("CLSID\\") + kClsidTestServerText;

TEST_F(Categories, ClassCategoriesAndCategoryDescriptions) {
    Manager manager;
    ASSERT_EQ(manager.result(), S_OK);
    CATID implemented[] = {kCatidImplemented, kCatidRequired};
    ASSERT_EQ(manager->RegisterClassImplCategories(kClsidTestServer, 2, implemented), S_OK);
    ASSERT_EQ(manager->RegisterClassReqCategories(kClsidTestServer, 1, implemented + 1), S_OK);
    EXPECT_TRUE(ClassesKeyExists(kClassKey + "\\Implemented Categories\\" + kCatidImplementedText));
    EXPECT_TRUE(ClassesKeyExists(kClassKey + "\\Implemented Categories\\" + kCatidRequiredText));
    EXPECT_TRUE(ClassesKeyExists(kClassKey + "\\Required Categories\\" + kCatidRequiredText));

    CATEGORYINFO info[2] = {};
    info[0].catid = kCatidImplemented;
    info[0].lcid = 0x409;
    std::memcpy(info[0].szDescription, u"Test servers", sizeof(u"Test servers"));
    info[1].catid = kCatidImplemented;
    info[1].lcid = 0x407;
    std::memcpy(info[1].szDescription, u"Testdienste", sizeof(u"Testdienste"));
    ASSERT_EQ(manager->RegisterCategories(2, info), S_OK);
    const std::string category = std::string("Component Categories\\") + kCatidImplementedText;
    EXPECT_EQ(GetClassesString(category, "409"), "Test servers");
    EXPECT_EQ(GetClassesString(category, "407"), "Testdienste");

    // Unregistering removes the {catid} keys only; removing what is not
    // there succeeds.
    ASSERT_EQ(manager->UnRegisterClassImplCategories(kClsidTestServer, 2, implemented), S_OK);
    ASSERT_EQ(manager->UnRegisterClassReqCategories(kClsidTestServer, 1, implemented + 1), S_OK);
    EXPECT_FALSE(ClassesKeyExists(kClassKey + "\\Implemented Categories\\" + kCatidImplementedText));
    EXPECT_FALSE(ClassesKeyExists(kClassKey + "\\Required Categories\\" + kCatidRequiredText));
    EXPECT_TRUE(ClassesKeyExists(kClassKey + "\\Implemented Categories"));
    EXPECT_TRUE(ClassesKeyExists(kClassKey + "\\Required Categories"));
    EXPECT_EQ(manager->UnRegisterClassImplCategories(kClsidTestServer, 2, implemented), S_OK);
    ASSERT_EQ(manager->UnRegisterCategories(1, implemented), S_OK);
    EXPECT_FALSE(ClassesKeyExists(category));
    EXPECT_EQ(manager->UnRegisterCategories(1, implemented), S_OK);

    EXPECT_EQ(manager->RegisterClassImplCategories(kClsidTestServer, 1, nullptr), E_POINTER);
    EXPECT_EQ(manager->RegisterClassImplCategories(kClsidTestServer, 0, nullptr), S_OK);
}

TEST_F(Categories, RefusalsAndIdentity) {
    // A key the user may not write to.
    ASSERT_EQ(com_test::SetClassesString(kClassKey, nullptr, "Test server"), ERROR_SUCCESS);
    ASSERT_EQ(ComHostRegistryProtectKey(HKEY_CLASSES_ROOT, u"CLSID", TRUE), ERROR_SUCCESS);
    Manager manager;
    ASSERT_EQ(manager.result(), S_OK);
    CATID catid = kCatidImplemented;
    EXPECT_EQ(manager->RegisterClassImplCategories(kClsidTestServer, 1, &catid), E_ACCESSDENIED);
    ASSERT_EQ(ComHostRegistryProtectKey(HKEY_CLASSES_ROOT, u"CLSID", FALSE), ERROR_SUCCESS);

    void *other = nullptr;
    EXPECT_EQ(manager->QueryInterface(IID_ICatInformation, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    IUnknown *unknown = nullptr;
    ASSERT_EQ(manager->QueryInterface(kIidUnknown, reinterpret_cast<void **>(&unknown)), S_OK);
    EXPECT_EQ(unknown, static_cast<IUnknown *>(manager.operator->()));
    unknown->Release();

    IUnknown *aggregated = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_StdComponentCategoriesMgr, unknown, CLSCTX_INPROC_SERVER, kIidUnknown,
                               reinterpret_cast<void **>(&aggregated)),
              CLASS_E_NOAGGREGATION);
    ComHostFailAllocation(1);
    EXPECT_EQ(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER, IID_ICatRegister,
                               reinterpret_cast<void **>(&aggregated)),
              E_OUTOFMEMORY);
    EXPECT_EQ(aggregated, nullptr);
}

TEST_F(Categories, RegisteredServerDeclaresItsCategories) {
    ASSERT_EQ(com_test::CallExport(TEST_SERVER_PATH, "DllRegisterServer"), S_OK);
    EXPECT_TRUE(ClassesKeyExists(kClassKey + "\\Implemented Categories\\" + kCatidImplementedText));
    EXPECT_TRUE(ClassesKeyExists(kClassKey + "\\Required Categories\\" + kCatidRequiredText));
    EXPECT_EQ(GetClassesString(std::string("Component Categories\\") + kCatidImplementedText, "409"), "Test servers");
    ASSERT_EQ(com_test::CallExport(TEST_SERVER_PATH, "DllUnregisterServer"), S_OK);
    EXPECT_FALSE(ClassesKeyExists(kClassKey));
}

}  // namespace
