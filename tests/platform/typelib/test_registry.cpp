// Type libraries in the registry: what RegisterTypeLib writes and
// UnRegisterTypeLib removes, and how LoadRegTypeLib and
// QueryPathOfRegTypeLib pick a version and a locale.
#include "typelib_test_util.h"

using namespace typelib_test;

namespace {

const GUID kCallsLib = {0x5B0F6A10, 0x1C1E, 0x4C55, {0x9E, 0x0B, 0x6E, 0x1D, 0x2A, 0x3B, 0x4C, 0x01}};

TEST(Registry, AnUnregisteredLibraryIsReported) {
    Ptr<ITypeLib> lib;
    EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, LoadRegTypeLib(kCallsLib, 1, 2, 0, lib.out()));
    EXPECT_FALSE(lib);
    BSTR path = reinterpret_cast<BSTR>(1);
    EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, QueryPathOfRegTypeLib(kCallsLib, 1, 2, 0, &path));
    EXPECT_EQ(nullptr, path);
    EXPECT_EQ(E_INVALIDARG, QueryPathOfRegTypeLib(kCallsLib, 1, 2, 0, nullptr));
    EXPECT_EQ(E_INVALIDARG, RegisterTypeLib(nullptr, const_cast<OLECHAR *>(u"x"), nullptr));
}

}  // namespace
