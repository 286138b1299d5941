// Damaged libraries: every truncation of the widl-built libraries and a
// deterministic series of byte changes either load and can be walked
// completely, or are refused with a failing HRESULT - never a crash or a
// read outside the image (the sanitizer build checks the latter).
#include "typelib_test_util.h"
#include "walk_library.h"

#include <comhost/testing.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

using namespace typelib_test;

namespace {

std::vector<BYTE> ReadFile(const char *path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<BYTE>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

HRESULT LoadBytes(const std::vector<BYTE> &bytes, ITypeLib **out) {
    return ComHostLoadTypeLibFromMemory(bytes.data(), bytes.size(), out);
}

TEST(Malformed, EveryTruncationIsRefused) {
    for (const char *path : {TEST_ADOHELPER_TLB, TEST_STDOLE2_TLB}) {
        const std::vector<BYTE> whole = ReadFile(path);
        ASSERT_GT(whole.size(), 0x54u);
        Ptr<ITypeLib> lib;
        ASSERT_EQ(S_OK, LoadBytes(whole, lib.out()));
        for (std::size_t n = 0; n < whole.size(); ++n) {
            // Each prefix in its own exact-size buffer, so that a read past
            // the end is a heap overflow the sanitizer sees.
            std::vector<BYTE> prefix(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
            const HRESULT hr = ComHostLoadTypeLibFromMemory(n ? prefix.data() : whole.data(), n, lib.out());
            if (SUCCEEDED(hr)) {
                // Only the member blocks' tail may be cut without harm to the
                // directory; whatever loads must walk cleanly.
                WalkLibrary(lib.get());
            } else {
                EXPECT_TRUE(hr == TYPE_E_INVDATAREAD || hr == TYPE_E_UNSUPFORMAT) << std::hex << hr << " at " << n;
            }
        }
    }
}

TEST(Malformed, ChangedBytesLoadOrAreRefused) {
    const std::vector<BYTE> whole = ReadFile(TEST_ADOHELPER_TLB);
    ASSERT_FALSE(whole.empty());
    std::uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    int loaded = 0, refused = 0;
    for (int round = 0; round < 500; ++round) {
        std::vector<BYTE> bytes = whole;
        const int changes = 1 + static_cast<int>(next() % 4);
        for (int c = 0; c < changes; ++c) {
            const std::size_t at = next() % bytes.size();
            switch (next() % 3) {
            case 0: bytes[at] = static_cast<BYTE>(next()); break;
            case 1: bytes[at] = 0xFF; break;
            default: bytes[at] ^= static_cast<BYTE>(1u << (next() % 8)); break;
            }
        }
        Ptr<ITypeLib> lib;
        const HRESULT hr = LoadBytes(bytes, lib.out());
        if (SUCCEEDED(hr)) {
            ++loaded;
            WalkLibrary(lib.get());
        } else {
            ++refused;
        }
    }
    EXPECT_GT(loaded, 0);
    EXPECT_GT(refused, 0);
}

TEST(Malformed, HandMadeDamage) {
    const std::vector<BYTE> whole = ReadFile(TEST_ADOHELPER_TLB);
    auto put32 = [](std::vector<BYTE> &b, std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<BYTE>(v >> (8 * i));
    };
    auto get32 = [](const std::vector<BYTE> &b, std::size_t at) {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(b[at + static_cast<std::size_t>(i)]) << (8 * i);
        return v;
    };
    Ptr<ITypeLib> lib;
    {
        std::vector<BYTE> b = whole;
        b[0] = 'S';   // another format
        EXPECT_EQ(TYPE_E_UNSUPFORMAT, LoadBytes(b, lib.out()));
    }
    {
        std::vector<BYTE> b = whole;
        put32(b, 0x14, (get32(whole, 0x14) & ~0xFu) | 0xFu);   // a system kind no platform has
        EXPECT_EQ(TYPE_E_UNSUPFORMAT, LoadBytes(b, lib.out()));
    }
    {
        std::vector<BYTE> b = whole;
        put32(b, 0x20, 0x40000000);   // a type count no file can hold
        EXPECT_EQ(TYPE_E_INVDATAREAD, LoadBytes(b, lib.out()));
    }
    const std::size_t dir = 0x54 + 4 * get32(whole, 0x20);
    {
        std::vector<BYTE> b = whole;
        put32(b, dir + 16 * 7 + 4, 0x7FFFFFF0);   // the name table runs past the end
        EXPECT_EQ(TYPE_E_INVDATAREAD, LoadBytes(b, lib.out()));
    }
    {
        std::vector<BYTE> b = whole;
        put32(b, dir + 16 * 5, 0xFFFFFFF0);   // the GUID table starts past the end
        EXPECT_EQ(TYPE_E_INVDATAREAD, LoadBytes(b, lib.out()));
    }
    {
        // A custom-data chain that loops back on itself.
        std::vector<BYTE> b = whole;
        const std::uint32_t cdguids = get32(b, dir + 16 * 12);
        const std::uint32_t start = get32(b, 0x40);
        put32(b, cdguids + start + 8, start);
        EXPECT_EQ(TYPE_E_INVDATAREAD, LoadBytes(b, lib.out()));
    }
    {
        // A member block whose records claim more room than the file has.
        std::vector<BYTE> b = whole;
        const std::uint32_t infos = get32(b, dir);
        const std::uint32_t members = get32(b, infos + 0x64 + 4);
        put32(b, members, 0x7FFFFFFF);
        EXPECT_EQ(TYPE_E_INVDATAREAD, LoadBytes(b, lib.out()));
    }
    {
        // A pointer type that points at itself.
        std::vector<BYTE> b = whole;
        const std::uint32_t tds = get32(b, dir + 16 * 9);
        b[tds + 8] = VT_PTR;
        b[tds + 9] = 0;
        put32(b, tds + 12, 8);
        EXPECT_EQ(TYPE_E_INVDATAREAD, LoadBytes(b, lib.out()));
    }
    EXPECT_EQ(E_INVALIDARG, ComHostLoadTypeLibFromMemory(nullptr, 10, lib.out()));
}

}  // namespace
