// The resources of the Linux build, read back from the shared object's own
// file as the host layer reads them: the ELF section ".rsrc" holds the .res
// that windres compiled, with the registration script, the type library,
// the string table and the version resource.
#include <elf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "resource_reader.h"

namespace nuv::test {
namespace {

constexpr std::uint16_t kEnglishUs = 1033;  // LANG_ENGLISH, SUBLANG_ENGLISH_US
constexpr std::uint16_t kRtString = 6;
constexpr std::uint16_t kRtVersion = 16;

class EmbeddedResources : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(res_.error, "") << NUV_LIBRARY_PATH;
        ASSERT_FALSE(res_.entries.empty());
    }
    const LibraryResources& res_ = LoadLibraryResources();
};

Bytes MustRead(const char* path) {
    auto bytes = ReadFileBytes(path);
    EXPECT_TRUE(bytes) << "cannot read " << path;
    return bytes ? *bytes : Bytes{};
}

TEST_F(EmbeddedResources, SectionIsLoadedAndHoldsTheCompiledResFileUnchanged) {
    EXPECT_NE(res_.section.flags & SHF_ALLOC, 0u) << ".rsrc is not an allocated section";
    const Bytes res = MustRead(NUV_RESOURCE_RES);
    ASSERT_FALSE(res.empty());
    EXPECT_TRUE(std::ranges::equal(res_.section.bytes, res)) << ".rsrc differs from " << NUV_RESOURCE_RES;

    // A .res file opens with an empty record (type 0, name 0, no data).
    const ResEntry& first = res_.entries.front();
    EXPECT_TRUE(first.type == 0 && first.name == 0 && first.data.empty());
}

TEST_F(EmbeddedResources, RegistryScriptIsResource101InUsEnglishByteForByte) {
    const ResEntry* script = res_.Find(u"REGISTRY", 101, kEnglishUs);
    ASSERT_NE(script, nullptr) << "no REGISTRY 101 in language 1033";
    const Bytes expected = MustRead(NUV_SCRIPT_PATH);
    EXPECT_TRUE(std::ranges::equal(script->data, expected))
        << "REGISTRY 101 holds " << script->data.size() << " bytes, the script file " << expected.size();

    // The registrar loads the script by type and id; a second copy in
    // another language would make the choice depend on the thread locale.
    const auto scripts = std::ranges::count_if(res_.entries, [](const ResEntry& e) { return e.type == u"REGISTRY"; });
    EXPECT_EQ(scripts, 1);
}

TEST_F(EmbeddedResources, TypeLibraryIsResource1AndTheGeneratedLibrary) {
    const ResEntry* typelib = res_.Find(u"TYPELIB", 1, kEnglishUs);
    ASSERT_NE(typelib, nullptr) << "no TYPELIB 1";
    ASSERT_GE(typelib->data.size(), 4u);
    EXPECT_EQ(std::memcmp(typelib->data.data(), "MSFT", 4), 0);
    const Bytes expected = MustRead(NUV_ADOHELPER_TLB);
    EXPECT_TRUE(std::ranges::equal(typelib->data, expected)) << "TYPELIB 1 differs from " << NUV_ADOHELPER_TLB;
}

// String n lives in block n / 16 + 1 at index n % 16; a block holds 16
// counted UTF-16 strings.
TEST_F(EmbeddedResources, StringHundredIsTheProjectName) {
    const ResEntry* block = res_.Find(kRtString, 100 / 16 + 1, kEnglishUs);
    ASSERT_NE(block, nullptr) << "no string table block for string 100";
    std::size_t at = 0;
    for (int index = 0; index < 16; ++index) {
        ASSERT_LE(at + 2, block->data.size());
        const std::size_t length = Le16(block->data, at);
        at += 2;
        ASSERT_LE(at + 2 * length, block->data.size());
        std::u16string text;
        for (std::size_t i = 0; i < length; ++i) text.push_back(Le16(block->data, at + 2 * i));
        at += 2 * length;
        if (index == 100 % 16)
            EXPECT_EQ(text, u"ado_helper");
        else
            EXPECT_TRUE(text.empty()) << "unexpected string " << 96 + index;
    }
}

// VS_VERSIONINFO is a tree of blocks: wLength, wValueLength, wType, a
// zero-terminated UTF-16 key, padding to 4, the value, padding, children.
struct VersionBlock {
    std::u16string key;
    ByteView value;     // raw value bytes
    ByteView children;  // the child blocks
};

std::optional<VersionBlock> ReadVersionBlock(ByteView data, std::size_t& at) {
    at = (at + 3) & ~std::size_t{3};
    if (at + 6 > data.size()) return std::nullopt;
    const std::size_t start = at;
    const std::size_t length = Le16(data, start);
    const std::size_t value_length = Le16(data, start + 2);
    const bool text = Le16(data, start + 4) == 1;
    if (length < 6 || length > data.size() - start) return std::nullopt;
    VersionBlock block;
    std::size_t p = start + 6;
    for (;; p += 2) {
        if (p + 2 > start + length) return std::nullopt;
        const char16_t c = Le16(data, p);
        if (c == 0) break;
        block.key.push_back(c);
    }
    p = (p + 2 + 3) & ~std::size_t{3};
    const std::size_t value_bytes = text ? 2 * value_length : value_length;
    if (p > start + length || value_bytes > start + length - p) return std::nullopt;
    block.value = data.subspan(p, value_bytes);
    p = (p + value_bytes + 3) & ~std::size_t{3};
    block.children = p < start + length ? data.subspan(p, start + length - p) : ByteView{};
    at = start + length;
    return block;
}

std::optional<VersionBlock> FindChild(ByteView children, std::u16string_view key) {
    std::size_t at = 0;
    while (at < children.size()) {
        auto block = ReadVersionBlock(children, at);
        if (!block) return std::nullopt;
        if (block->key == key) return block;
    }
    return std::nullopt;
}

std::u16string ValueText(ByteView value) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < value.size(); i += 2) {
        const char16_t c = Le16(value, i);
        if (c == 0) break;
        text.push_back(c);
    }
    return text;
}

TEST_F(EmbeddedResources, VersionResourceCarriesVersionOneZeroZeroOneOfTheDll) {
    const ResEntry* version = res_.Find(kRtVersion, 1, kEnglishUs);
    ASSERT_NE(version, nullptr) << "no VERSIONINFO 1";
    std::size_t at = 0;
    const auto root = ReadVersionBlock(version->data, at);
    ASSERT_TRUE(root);
    EXPECT_EQ(root->key, u"VS_VERSION_INFO");

    // VS_FIXEDFILEINFO
    ASSERT_EQ(root->value.size(), 52u);
    EXPECT_EQ(Le32(root->value, 0), 0xFEEF04BDu);   // signature
    EXPECT_EQ(Le32(root->value, 8), 0x00010000u);   // file version 1.0
    EXPECT_EQ(Le32(root->value, 12), 0x00000001u);  //              .0.1
    EXPECT_EQ(Le32(root->value, 16), 0x00010000u);  // product version 1.0
    EXPECT_EQ(Le32(root->value, 20), 0x00000001u);  //                 .0.1
    EXPECT_EQ(Le32(root->value, 32), 0x00040004u);  // VOS_NT_WINDOWS32
    EXPECT_EQ(Le32(root->value, 36), 2u);           // VFT_DLL

    const auto strings = FindChild(root->children, u"StringFileInfo");
    ASSERT_TRUE(strings);
    const auto table = FindChild(strings->children, u"040904B0");
    ASSERT_TRUE(table) << "no US English / Unicode string table";
    const auto text = [&](std::u16string_view key) -> std::u16string {
        const auto entry = FindChild(table->children, key);
        return entry ? ValueText(entry->value) : u"<missing>";
    };
    EXPECT_EQ(text(u"CompanyName"), u"Orvane");
    EXPECT_EQ(text(u"ProductName"), u"nuv_ado_helper");
    EXPECT_EQ(text(u"FileVersion"), u"1.0.0.1");
    EXPECT_EQ(text(u"ProductVersion"), u"1.0.0.1");
    EXPECT_EQ(text(u"OriginalFilename"), u"nuv_ado_helper.dll");
    EXPECT_TRUE(FindChild(table->children, u"OLESelfRegister")) << "installers look for OLESelfRegister";

    const auto var = FindChild(root->children, u"VarFileInfo");
    ASSERT_TRUE(var);
    const auto translation = FindChild(var->children, u"Translation");
    ASSERT_TRUE(translation);
    ASSERT_EQ(translation->value.size(), 4u);
    EXPECT_EQ(Le16(translation->value, 0), 0x0409);
    EXPECT_EQ(Le16(translation->value, 2), 1200);
}

}  // namespace
}  // namespace nuv::test
