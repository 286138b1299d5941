// The type library that the library carries as TYPELIB 1, read from the
// shared object's ".rsrc" section: ADO_HELPERLib 1.0 with StringParam,
// IADOHelper and NUVADOHelper, IDispatch and the ADO interfaces referenced
// in stdole2.tlb and msado27.tlb.  The reader below follows the MSFT
// layout only as far as these checks need; a bad offset throws, which
// fails the test.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "resource_reader.h"

namespace nuv::test {
namespace {

class TypeLibReader {
public:
    explicit TypeLibReader(ByteView lib) : lib_(lib) {
        if (U32(0) != 0x5446534D) throw std::runtime_error("no MSFT signature");
        const std::size_t offsets = 0x54 + ((U32(0x14) & 0x100) ? 4 : 0);
        for (std::uint32_t i = 0; i < Count(); ++i) infos_.push_back(U32(offsets + 4 * i));
        for (std::size_t k = 0; k < 15; ++k) {
            const std::size_t entry = offsets + 4 * Count() + 16 * k;
            segments_.push_back({U32(entry), U32(entry + 4)});
        }
    }

    std::uint32_t U32(std::size_t at) const {
        Need(at, 4);
        return Le32(lib_, at);
    }
    std::uint16_t U16(std::size_t at) const {
        Need(at, 2);
        return Le16(lib_, at);
    }

    std::uint32_t Count() const { return U32(0x20); }
    // File offset of segment k (typeinfos 0, import info 1, import files 2,
    // references 3, GUIDs 5, names 7, strings 8, type descriptions 9).
    std::size_t Segment(std::size_t k) const { return segments_.at(k).offset; }
    // File offset of the 0x64-byte record of typeinfo i.
    std::size_t Info(std::size_t i) const { return Segment(0) + infos_.at(i); }

    std::string Name(std::uint32_t offset) const {
        const std::size_t at = Segment(7) + offset;
        return Text(at + 12, lib_[Checked(at + 8)]);
    }
    std::string String(std::uint32_t offset) const {
        if (offset == 0xFFFFFFFF) return "<none>";
        const std::size_t at = Segment(8) + offset;
        return Text(at + 2, U16(at));
    }
    std::string Guid(std::uint32_t offset) const {
        const std::size_t at = Segment(5) + offset;
        Need(at, 16);
        char text[39];
        std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", Le32(lib_, at),
                      Le16(lib_, at + 4), Le16(lib_, at + 6), lib_[at + 8], lib_[at + 9], lib_[at + 10],
                      lib_[at + 11], lib_[at + 12], lib_[at + 13], lib_[at + 14], lib_[at + 15]);
        return text;
    }

    // A type reference: a local typeinfo's name, or "<file>:<GUID>" for a
    // type imported by GUID.
    std::string Href(std::uint32_t href) const {
        if ((href & 3) == 0) return Name(U32(Segment(0) + href + 0x34));
        if ((href & 3) != 1) return "<bad href>";
        const std::size_t import = Segment(1) + (href & ~3u);
        if ((lib_[Checked(import + 2)] & 1) == 0) return "<import by index>";
        return ImportFile(U32(import + 4)).name + ":" + Guid(U32(import + 8));
    }

    // A type description: "I4", "VARIANT" ..., "PTR(...)", or a reference.
    std::string Type(std::uint32_t td, int depth = 0) const {
        if (td & 0x80000000) return VtName(td & 0xFFFF);
        if (depth > 8) throw std::runtime_error("type descriptions nested too deep");
        const std::size_t at = Segment(9) + td;
        switch (U16(at)) {
        case 26: return "PTR(" + Type(U32(at + 4), depth + 1) + ")";
        case 29: return Href(U32(at + 4));
        default: return "VT" + std::to_string(U16(at));
        }
    }

    struct ImportedLibrary {
        std::string libid;
        std::uint16_t major = 0, minor = 0;
        std::string name;
    };
    ImportedLibrary ImportFile(std::uint32_t offset) const {
        const std::size_t at = Segment(2) + offset;
        return {Guid(U32(at)), U16(at + 8), U16(at + 10), Text(at + 14, U16(at + 12) >> 2)};
    }
    std::vector<ImportedLibrary> ImportFiles() const {
        std::vector<ImportedLibrary> files;
        const std::size_t length = segments_.at(2).length;
        for (std::uint32_t offset = 0; offset < length;) {
            files.push_back(ImportFile(offset));
            offset += (14 + static_cast<std::uint32_t>(files.back().name.size()) + 3) & ~3u;
        }
        return files;
    }

private:
    static std::string VtName(std::uint32_t vt) {
        switch (vt) {
        case 3: return "I4";
        case 8: return "BSTR";
        case 12: return "VARIANT";
        case 13: return "UNKNOWN";
        case 17: return "UI1";
        case 22: return "INT";
        case 25: return "HRESULT";
        default: return "VT" + std::to_string(vt);
        }
    }
    void Need(std::size_t at, std::size_t n) const {
        if (at > lib_.size() || n > lib_.size() - at) throw std::out_of_range("type library read past its end");
    }
    std::size_t Checked(std::size_t at) const {
        Need(at, 1);
        return at;
    }
    std::string Text(std::size_t at, std::size_t n) const {
        Need(at, n);
        return std::string(reinterpret_cast<const char*>(lib_.data()) + at, n);
    }

    ByteView lib_;
    std::vector<std::size_t> infos_;
    struct SegmentEntry {
        std::size_t offset, length;
    };
    std::vector<SegmentEntry> segments_;
};

constexpr std::uint32_t kIn = 1, kOut = 2, kRetval = 8;

const std::string kRecordset15 = "msado27.tlb:{0000050E-0000-0010-8000-00AA006D2EA4}";
const std::string kCommand15 = "msado27.tlb:{00000508-0000-0010-8000-00AA006D2EA4}";
const std::string kParameter = "msado27.tlb:{0000050C-0000-0010-8000-00AA006D2EA4}";
const std::string kRs = "PTR(" + kRecordset15 + ")";

struct Param {
    std::string name;
    std::string type;
    std::uint32_t flags;
};
struct Method {
    std::string name;
    std::vector<Param> params;
};

// The interface in vtable order; DISPIDs count from 1.
const std::vector<Method> kMethods = {
    {"SetFieldNumericScaleProperty",
     {{"rs", kRs, kIn}, {"Index", "VARIANT", kIn}, {"Value", "UI1", kIn}, {"StepsToMove", "I4", kIn}}},
    {"SetFieldPrecisionProperty",
     {{"rs", kRs, kIn}, {"Index", "VARIANT", kIn}, {"Value", "UI1", kIn}, {"StepsToMove", "I4", kIn}}},
    {"CommandCreateParameter",
     {{"command15", "PTR(" + kCommand15 + ")", kIn},
      {"Name", "BSTR", kIn},
      {"Type", "INT", kIn},
      {"Direction", "INT", kIn},
      {"Size", "I4", kIn},
      {"rs", kRs, kIn},
      {"Index", "VARIANT", kIn},
      {"StepsToMove", "I4", kIn},
      {"ppiprm", "PTR(PTR(" + kParameter + "))", kOut | kRetval}}},
    {"RecordsetWrite",
     {{"recordset", kRs, kIn}, {"Index", "VARIANT", kIn}, {"Value", "VARIANT", kIn}, {"StepsToMove", "I4", kIn}}},
    {"RecordsetWriteFromField",
     {{"recordset", kRs, kIn},
      {"Index", "VARIANT", kIn},
      {"StepsToMove", "I4", kIn},
      {"InputRecordset", kRs, kIn},
      {"InputFieldIndex", "VARIANT", kIn},
      {"InputRsStepsToMove", "I4", kIn}}},
    {"RecordsetGetObjectFromField",
     {{"recordset", kRs, kIn},
      {"Index", "VARIANT", kIn},
      {"StepsToMove", "I4", kIn},
      {"obj", "PTR(UNKNOWN)", kOut | kRetval}}},
    {"RecordsetAddColumn",
     {{"recordset", kRs, kIn},
      {"Name", "BSTR", kIn},
      {"Type", "INT", kIn},
      {"DefinedSize", "I4", kIn},
      {"Attrib", "INT", kIn}}},
    {"RecordsetDeleteColumn", {{"recordset", kRs, kIn}, {"Index", "VARIANT", kIn}}},
    {"ParameterPutValueFromField",
     {{"parameter", "PTR(" + kParameter + ")", kIn},
      {"InputRecordset", kRs, kIn},
      {"InputFieldIndex", "VARIANT", kIn},
      {"InputRsStepsToMove", "I4", kIn}}},
    {"RecordsetLoadFromFile", {{"FileIndex", "I4", kIn}, {"recordset", "PTR(" + kRs + ")", kOut}}},
};

class TypeLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        const LibraryResources& res = LoadLibraryResources();
        ASSERT_EQ(res.error, "") << NUV_LIBRARY_PATH;
        const ResEntry* typelib = res.Find(u"TYPELIB", 1, 1033);
        ASSERT_NE(typelib, nullptr) << "no TYPELIB 1";
        lib_.emplace(typelib->data);
        ASSERT_EQ(lib_->Count(), 3u) << "StringParam, IADOHelper, NUVADOHelper";
    }
    // Field of typeinfo i at offset `field` of its record.
    std::uint32_t Info32(std::size_t i, std::size_t field) const { return lib_->U32(lib_->Info(i) + field); }
    std::uint16_t Info16(std::size_t i, std::size_t field) const { return lib_->U16(lib_->Info(i) + field); }

    std::optional<TypeLibReader> lib_;
};

TEST_F(TypeLibrary, LibraryIsAdoHelperLibOneZeroLanguageNeutralWin32) {
    EXPECT_EQ(lib_->Name(lib_->U32(0x38)), "ADO_HELPERLib");
    EXPECT_EQ(lib_->Guid(lib_->U32(0x08)), "{1C8D13FE-5005-4D1E-9643-1BC8B349DCAE}");
    EXPECT_EQ(lib_->U32(0x18), 0x00000001u) << "version 1.0";
    EXPECT_EQ(lib_->U32(0x10), 0u) << "lcid";
    EXPECT_EQ(lib_->U32(0x14) & 0xF, 1u) << "SYS_WIN32";
    EXPECT_EQ(lib_->U32(0x1C), 0u) << "library flags";
    EXPECT_EQ(lib_->String(lib_->U32(0x24)), "ado_helper 1.0 Type Library");
}

TEST_F(TypeLibrary, ImportsStdole2AndMsado27ByLibraryId) {
    const auto files = lib_->ImportFiles();
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].name, "stdole2.tlb");
    EXPECT_EQ(files[0].libid, "{00020430-0000-0000-C000-000000000046}");
    EXPECT_EQ(files[0].major * 100 + files[0].minor, 200);
    EXPECT_EQ(files[1].name, "msado27.tlb");
    EXPECT_EQ(files[1].libid, "{EF53050B-882E-4776-B643-EDA472E8E3F2}");
    EXPECT_EQ(files[1].major * 100 + files[1].minor, 207);
}

TEST_F(TypeLibrary, FirstTypeIsTheStringParamRecord) {
    EXPECT_EQ(Info32(0, 0) & 0xF, 1u) << "TKIND_RECORD";
    EXPECT_EQ(lib_->Name(Info32(0, 0x34)), "StringParam");
    EXPECT_EQ(lib_->Guid(Info32(0, 0x2C)), "{CAF9A01E-F551-4F24-B2D6-B07C628620F0}");
    ASSERT_EQ(Info16(0, 0x18), 0u);
    ASSERT_EQ(Info16(0, 0x1A), 1u) << "one field";
    const std::size_t block = Info32(0, 0x04);
    const std::size_t record = block + 4;
    const std::size_t arrays = record + lib_->U32(block);
    EXPECT_EQ(lib_->Name(lib_->U32(arrays + 4)), "str");
    EXPECT_EQ(lib_->Type(lib_->U32(record + 4)), "BSTR");
}

TEST_F(TypeLibrary, SecondTypeIsTheDualInterfaceOnImportedIDispatch) {
    EXPECT_EQ(Info32(1, 0) & 0xF, 4u) << "a dual is stored as TKIND_DISPATCH";
    EXPECT_NE(Info32(1, 0) & 0x10, 0u) << "dual marker";
    EXPECT_EQ(lib_->Name(Info32(1, 0x34)), "IADOHelper");
    EXPECT_EQ(lib_->Guid(Info32(1, 0x2C)), "{CA87BF8E-53FB-4416-B352-8A8788A6CD5D}");
    EXPECT_EQ(Info32(1, 0x30), 0x1140u) << "TYPEFLAG_FDUAL | FOLEAUTOMATION | FDISPATCHABLE only";
    EXPECT_EQ(lib_->String(Info32(1, 0x3C)), "IADOHelper Interface");
    EXPECT_EQ(Info16(1, 0x4C), 1u) << "one base";
    EXPECT_EQ(lib_->Href(Info32(1, 0x54)), "stdole2.tlb:{00020400-0000-0000-C000-000000000046}");
    EXPECT_EQ(Info16(1, 0x4E), (7 + 10) * 4) << "vtable: IDispatch's seven slots and ten methods";
}

TEST_F(TypeLibrary, MethodsHaveTheirDispidsSlotsAndParameters) {
    ASSERT_EQ(Info16(1, 0x18), kMethods.size());
    const std::size_t block = Info32(1, 0x04);
    const std::size_t records = block + 4;
    const std::size_t arrays = records + lib_->U32(block);
    const std::size_t n = kMethods.size();
    for (std::size_t i = 0; i < n; ++i) {
        const Method& want = kMethods[i];
        SCOPED_TRACE(want.name);
        const std::size_t r = records + lib_->U32(arrays + 8 * n + 4 * i);
        EXPECT_EQ(lib_->Name(lib_->U32(arrays + 4 * n + 4 * i)), want.name);
        EXPECT_EQ(lib_->U32(arrays + 4 * i), i + 1) << "DISPID";
        EXPECT_EQ(lib_->U16(r + 0x0C), 28 + 4 * i) << "vtable offset";

        const std::uint32_t kinds = lib_->U32(r + 0x10);
        EXPECT_EQ(kinds & 7, 1u) << "FUNC_PUREVIRTUAL";
        EXPECT_EQ((kinds >> 3) & 0xF, 1u) << "INVOKE_FUNC, not a property";
        EXPECT_EQ((kinds >> 8) & 0xF, 4u) << "CC_STDCALL";
        ASSERT_EQ(kinds & 0x1080, 0u) << "no custom data or default values expected";
        EXPECT_EQ(lib_->U32(r + 0x08), 0u) << "function flags";
        EXPECT_EQ(lib_->Type(lib_->U32(r + 0x04)), "HRESULT");
        EXPECT_EQ(static_cast<std::int16_t>(lib_->U16(r + 0x16)), 0) << "optional parameters";

        const std::size_t count = lib_->U16(r + 0x14);
        ASSERT_EQ(count, want.params.size());
        const std::size_t size = lib_->U16(r);
        const std::size_t params = r + size - 12 * count;
        ASSERT_GE(params, r + 0x20) << "no help string";
        EXPECT_EQ(lib_->String(lib_->U32(r + 0x1C)), "method " + want.name);
        for (std::size_t p = 0; p < count; ++p) {
            const Param& param = want.params[p];
            SCOPED_TRACE(param.name);
            EXPECT_EQ(lib_->Name(lib_->U32(params + 12 * p + 4)), param.name);
            EXPECT_EQ(lib_->Type(lib_->U32(params + 12 * p)), param.type);
            EXPECT_EQ(lib_->U32(params + 12 * p + 8), param.flags);
        }
    }
}

TEST_F(TypeLibrary, ThirdTypeIsTheCreatableCoclassWithIADOHelperAsDefault) {
    EXPECT_EQ(Info32(2, 0) & 0xF, 5u) << "TKIND_COCLASS";
    EXPECT_EQ(lib_->Name(Info32(2, 0x34)), "NUVADOHelper");
    EXPECT_EQ(lib_->Guid(Info32(2, 0x2C)), "{2C7ED2C0-3039-483D-85C9-3FF649F18385}");
    EXPECT_EQ(Info32(2, 0x30), 0x2u) << "TYPEFLAG_FCANCREATE only";
    EXPECT_EQ(lib_->String(Info32(2, 0x3C)), "ADOHelper Class");
    ASSERT_EQ(Info16(2, 0x4C), 1u) << "one implemented interface";
    const std::size_t ref = lib_->Segment(3) + Info32(2, 0x54);
    EXPECT_EQ(lib_->Href(lib_->U32(ref)), "IADOHelper");
    EXPECT_EQ(lib_->U32(ref + 4), 1u) << "IMPLTYPEFLAG_FDEFAULT";
}

}  // namespace
}  // namespace nuv::test
