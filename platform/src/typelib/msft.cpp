// Decoding of MSFT type-library images.  Every read goes through Image or
// Segment, which check the position against the image or the segment before
// touching a byte; counts are checked against the room they need before
// anything is reserved for them, and chains are followed at most as many
// steps as their segment has entries.

#include "typelib/msft.h"

#include <comhost/allocation.h>

#include <cstring>
#include <map>
#include <new>

namespace comhost::typelib {
namespace {

constexpr std::uint32_t kNone = 0xFFFFFFFFu;
constexpr int kMaxTypeDepth = 16;

enum SegmentId {
    kTypeInfos = 0,
    kImportInfo = 1,
    kImportFiles = 2,
    kReferences = 3,
    kGuids = 5,
    kNames = 7,
    kStrings = 8,
    kTypeDescs = 9,
    kArrayDescs = 10,
    kCustomValues = 11,
    kCustomDirectory = 12,
    kSegmentCount = 15
};

class Image {
public:
    Image(const BYTE *data, std::size_t size) : data_(data), size_(size) {}
    bool Has(std::uint64_t at, std::uint64_t n) const { return at <= size_ && n <= size_ - at; }
    bool U8(std::uint64_t at, std::uint8_t *v) const {
        if (!Has(at, 1)) return false;
        *v = data_[at];
        return true;
    }
    bool U16(std::uint64_t at, std::uint16_t *v) const {
        if (!Has(at, 2)) return false;
        *v = static_cast<std::uint16_t>(data_[at] | (data_[at + 1] << 8));
        return true;
    }
    bool U32(std::uint64_t at, std::uint32_t *v) const {
        if (!Has(at, 4)) return false;
        *v = static_cast<std::uint32_t>(data_[at]) | (static_cast<std::uint32_t>(data_[at + 1]) << 8) |
             (static_cast<std::uint32_t>(data_[at + 2]) << 16) |
             (static_cast<std::uint32_t>(data_[at + 3]) << 24);
        return true;
    }
    bool Bytes(std::uint64_t at, std::uint64_t n, const BYTE **p) const {
        if (!Has(at, n)) return false;
        *p = data_ + at;
        return true;
    }
    std::size_t size() const { return size_; }

private:
    const BYTE *data_;
    std::size_t size_;
};

// A segment: reads are relative to its start and must stay inside it.
struct Segment {
    const Image *image = nullptr;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    bool Has(std::uint64_t at, std::uint64_t n) const { return at <= length && n <= length - at; }
    bool U8(std::uint64_t at, std::uint8_t *v) const { return Has(at, 1) && image->U8(offset + at, v); }
    bool U16(std::uint64_t at, std::uint16_t *v) const { return Has(at, 2) && image->U16(offset + at, v); }
    bool U32(std::uint64_t at, std::uint32_t *v) const { return Has(at, 4) && image->U32(offset + at, v); }
    bool Bytes(std::uint64_t at, std::uint64_t n, const BYTE **p) const {
        return Has(at, n) && image->Bytes(offset + at, n, p);
    }
};

bool IsSimpleVarType(std::uint32_t vt) {
    switch (vt) {
    case VT_EMPTY: case VT_NULL: case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_CY:
    case VT_DATE: case VT_BSTR: case VT_DISPATCH: case VT_ERROR: case VT_BOOL: case VT_VARIANT:
    case VT_UNKNOWN: case VT_DECIMAL: case VT_I1: case VT_UI1: case VT_UI2: case VT_UI4:
    case VT_I8: case VT_UI8: case VT_INT: case VT_UINT: case VT_VOID: case VT_HRESULT:
    case VT_LPSTR: case VT_LPWSTR: case VT_INT_PTR: case VT_UINT_PTR:
        return true;
    default:
        return false;
    }
}

// Width in bytes of a constant's raw value; 0 for types a constant cannot have.
unsigned ConstantWidth(VARTYPE vt) {
    switch (vt) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_UI2: case VT_BOOL: return 2;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_ERROR: case VT_R4: case VT_HRESULT: return 4;
    case VT_I8: case VT_UI8: case VT_R8: case VT_DATE: case VT_CY: return 8;
    default: return 0;
    }
}

class Parser {
public:
    Parser(const BYTE *data, std::size_t size, Library *lib) : image_(data, size), lib_(*lib) {}

    HRESULT Run();

private:
    bool ReadGuid(std::uint32_t off, GUID *g) const;
    bool ReadName(std::uint32_t off, std::string *name) const;
    bool ReadString(std::uint32_t off, std::int32_t *index);
    bool ReadType(std::uint32_t ref, int depth, std::int32_t *index);
    bool ReadConstant(std::uint32_t v, Constant *c) const;
    bool ReadCustom(std::uint32_t start, std::vector<CustomItem> *out) const;
    bool ValidHref(std::uint32_t href) const;
    bool ReadImports();
    bool ReadTypeRecord(std::uint32_t offset, TypeRecord *t);
    bool ReadMembers(std::uint32_t memoffset, unsigned cFuncs, unsigned cVars, TypeRecord *t);
    bool ReadFunction(const Segment &block, std::uint32_t recoff, Function *f);
    bool ReadVariable(const Segment &block, std::uint32_t recoff, Variable *v);

    Image image_;
    Library &lib_;
    Segment seg_[kSegmentCount];
    std::map<std::uint32_t, std::int32_t> typeCache_;
    std::map<std::uint32_t, std::int32_t> stringCache_;
};

bool Parser::ReadGuid(std::uint32_t off, GUID *g) const {
    const BYTE *p = nullptr;
    if (!seg_[kGuids].Bytes(off, 16, &p)) return false;
    g->Data1 = static_cast<DWORD>(p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24));
    g->Data2 = static_cast<WORD>(p[4] | (p[5] << 8));
    g->Data3 = static_cast<WORD>(p[6] | (p[7] << 8));
    std::memcpy(g->Data4, p + 8, 8);
    return true;
}

bool Parser::ReadName(std::uint32_t off, std::string *name) const {
    std::uint8_t n = 0;
    const BYTE *p = nullptr;
    if (!seg_[kNames].U8(static_cast<std::uint64_t>(off) + 8, &n)) return false;
    if (!seg_[kNames].Bytes(static_cast<std::uint64_t>(off) + 12, n, &p)) return false;
    name->assign(reinterpret_cast<const char *>(p), n);
    return true;
}

bool Parser::ReadString(std::uint32_t off, std::int32_t *index) {
    if (off == kNone) {
        *index = -1;
        return true;
    }
    auto found = stringCache_.find(off);
    if (found != stringCache_.end()) {
        *index = found->second;
        return true;
    }
    std::uint16_t n = 0;
    const BYTE *p = nullptr;
    if (!seg_[kStrings].U16(off, &n) || !seg_[kStrings].Bytes(static_cast<std::uint64_t>(off) + 2, n, &p))
        return false;
    lib_.strings.emplace_back(reinterpret_cast<const char *>(p), n);
    *index = static_cast<std::int32_t>(lib_.strings.size() - 1);
    stringCache_[off] = *index;
    return true;
}

bool Parser::ValidHref(std::uint32_t href) const {
    if ((href & 3) == 0) return lib_.LocalIndex(href) >= 0;
    if ((href & 3) == 1) return lib_.Import(href) != nullptr;
    return false;
}

bool Parser::ReadType(std::uint32_t ref, int depth, std::int32_t *index) {
    if (depth > kMaxTypeDepth) return false;
    auto found = typeCache_.find(ref);
    if (found != typeCache_.end()) {
        *index = found->second;
        return true;
    }
    TypeNode node;
    if (ref & 0x80000000u) {
        if (!IsSimpleVarType(ref & 0xFFFF)) return false;
        node.vt = static_cast<VARTYPE>(ref & 0xFFFF);
    } else {
        std::uint16_t vt = 0;
        std::uint32_t payload = 0;
        if (!seg_[kTypeDescs].U16(ref, &vt) || !seg_[kTypeDescs].U32(static_cast<std::uint64_t>(ref) + 4, &payload))
            return false;
        node.vt = vt;
        switch (vt) {
        case VT_PTR:
        case VT_SAFEARRAY:
            if (!ReadType(payload, depth + 1, &node.child)) return false;
            break;
        case VT_USERDEFINED:
            if (!ValidHref(payload)) return false;
            node.href = payload;
            break;
        case VT_CARRAY: {
            std::uint32_t elem = 0;
            std::uint16_t dims = 0;
            const Segment &a = seg_[kArrayDescs];
            if (!a.U32(payload, &elem) || !a.U16(static_cast<std::uint64_t>(payload) + 4, &dims)) return false;
            if (dims == 0 || !a.Has(static_cast<std::uint64_t>(payload) + 8, 8ull * dims)) return false;
            node.bounds.resize(dims);
            for (unsigned d = 0; d < dims; ++d) {
                std::uint32_t count = 0, lower = 0;
                a.U32(payload + 8ull + 8ull * d, &count);
                a.U32(payload + 12ull + 8ull * d, &lower);
                node.bounds[d].cElements = count;
                node.bounds[d].lLbound = static_cast<LONG>(lower);
            }
            if (!ReadType(elem, depth + 1, &node.child)) return false;
            break;
        }
        default:
            if (!IsSimpleVarType(vt)) return false;
            break;
        }
    }
    lib_.nodes.push_back(std::move(node));
    *index = static_cast<std::int32_t>(lib_.nodes.size() - 1);
    typeCache_[ref] = *index;
    return true;
}

bool Parser::ReadConstant(std::uint32_t v, Constant *c) const {
    if (v & 0x80000000u) {
        c->vt = static_cast<VARTYPE>((v >> 26) & 0x1F);
        std::uint64_t bits = v & 0x03FFFFFFu;
        switch (c->vt) {
        case VT_I1: bits = static_cast<std::uint64_t>(static_cast<std::int64_t>(static_cast<std::int8_t>(bits))); break;
        case VT_I2: case VT_BOOL:
            bits = static_cast<std::uint64_t>(static_cast<std::int64_t>(static_cast<std::int16_t>(bits)));
            break;
        default: break;
        }
        if (ConstantWidth(c->vt) == 0) return false;
        c->bits = bits;
        return true;
    }
    const Segment &s = seg_[kCustomValues];
    std::uint16_t vt = 0;
    if (!s.U16(v, &vt)) return false;
    c->vt = vt;
    if (vt == VT_BSTR || vt == VT_LPSTR || vt == VT_LPWSTR) {
        std::uint32_t n = 0;
        const BYTE *p = nullptr;
        if (!s.U32(static_cast<std::uint64_t>(v) + 2, &n)) return false;
        if (n == kNone) return true;   // a null string
        if (!s.Bytes(static_cast<std::uint64_t>(v) + 6, n, &p)) return false;
        c->vt = VT_BSTR;
        c->text.assign(reinterpret_cast<const char *>(p), n);
        return true;
    }
    const unsigned width = ConstantWidth(vt);
    if (width == 0) return vt == VT_EMPTY || vt == VT_NULL;
    const BYTE *p = nullptr;
    if (!s.Bytes(static_cast<std::uint64_t>(v) + 2, width, &p)) return false;
    std::uint64_t bits = 0;
    for (unsigned i = 0; i < width; ++i) bits |= static_cast<std::uint64_t>(p[i]) << (8 * i);
    if (vt == VT_I1) bits = static_cast<std::uint64_t>(static_cast<std::int64_t>(static_cast<std::int8_t>(bits)));
    if (vt == VT_I2 || vt == VT_BOOL)
        bits = static_cast<std::uint64_t>(static_cast<std::int64_t>(static_cast<std::int16_t>(bits)));
    if (vt == VT_I4 || vt == VT_INT || vt == VT_ERROR || vt == VT_HRESULT)
        bits = static_cast<std::uint64_t>(static_cast<std::int64_t>(static_cast<std::int32_t>(bits)));
    c->bits = bits;
    return true;
}

bool Parser::ReadCustom(std::uint32_t start, std::vector<CustomItem> *out) const {
    const Segment &dir = seg_[kCustomDirectory];
    std::uint64_t steps = dir.length / 12 + 1;
    for (std::uint32_t at = start; at != kNone; --steps) {
        if (steps == 0) return false;   // a loop
        std::uint32_t guidOff = 0, value = 0, next = 0;
        if (!dir.U32(at, &guidOff) || !dir.U32(static_cast<std::uint64_t>(at) + 4, &value) ||
            !dir.U32(static_cast<std::uint64_t>(at) + 8, &next))
            return false;
        CustomItem item;
        if (!ReadGuid(guidOff, &item.guid) || !ReadConstant(value, &item.value)) return false;
        out->push_back(std::move(item));
        at = next;
    }
    return true;
}

bool Parser::ReadImports() {
    // Import files, addressed by their offset in the segment.
    std::map<std::uint32_t, std::int32_t> fileAt;
    const Segment &files = seg_[kImportFiles];
    for (std::uint64_t off = 0; off + 14 <= files.length;) {
        std::uint32_t guidOff = 0, lcid = 0;
        std::uint16_t major = 0, minor = 0, sizeField = 0;
        files.U32(off, &guidOff);
        files.U32(off + 4, &lcid);
        files.U16(off + 8, &major);
        files.U16(off + 10, &minor);
        files.U16(off + 12, &sizeField);
        const std::uint32_t n = sizeField >> 2;
        const BYTE *p = nullptr;
        ImportFile f;
        if (!files.Bytes(off + 14, n, &p) || !ReadGuid(guidOff, &f.libid)) return false;
        f.lcid = lcid;
        f.majorVersion = major;
        f.minorVersion = minor;
        f.fileName.assign(reinterpret_cast<const char *>(p), n);
        fileAt[static_cast<std::uint32_t>(off)] = static_cast<std::int32_t>(lib_.imports.size());
        lib_.imports.push_back(std::move(f));
        off += (14 + n + 3) & ~3ull;
    }
    const Segment &infos = seg_[kImportInfo];
    for (std::uint64_t off = 0; off + 12 <= infos.length; off += 12) {
        std::uint8_t flags = 0, kind = 0;
        std::uint32_t fileOff = 0, target = 0;
        infos.U8(off + 2, &flags);
        infos.U8(off + 3, &kind);
        infos.U32(off + 4, &fileOff);
        infos.U32(off + 8, &target);
        auto file = fileAt.find(fileOff);
        if (file == fileAt.end() || kind >= TKIND_MAX) return false;
        ImportRef r;
        r.file = file->second;
        r.kind = static_cast<TYPEKIND>(kind);
        r.byGuid = (flags & 1) != 0;
        if (r.byGuid) {
            if (!ReadGuid(target, &r.guid)) return false;
        } else {
            r.index = target;
        }
        lib_.importOffsets.push_back(static_cast<std::uint32_t>(off));
        lib_.importRefs.push_back(r);
    }
    return true;
}

bool Parser::ReadFunction(const Segment &block, std::uint32_t recoff, Function *f) {
    std::uint16_t recsize = 0, oVft = 0, cParams = 0, cParamsOpt = 0;
    std::uint32_t ret = 0, flags = 0, fkccic = 0;
    if (!block.U16(recoff, &recsize) || recsize < 0x18 || !block.Has(recoff, recsize)) return false;
    const Segment rec{block.image, block.offset + recoff, recsize};
    rec.U32(4, &ret);
    rec.U32(8, &flags);
    rec.U16(0x0C, &oVft);
    rec.U32(0x10, &fkccic);
    rec.U16(0x14, &cParams);
    rec.U16(0x16, &cParamsOpt);
    const std::uint64_t paramBytes = 12ull * cParams;
    const bool hasDefaults = (fkccic & 0x1000) != 0;
    const bool hasCustom = (fkccic & 0x80) != 0;
    const std::uint64_t defaultBytes = hasDefaults ? 4ull * cParams : 0;
    if (0x18 + paramBytes + defaultBytes > recsize) return false;
    const std::uint64_t params = recsize - paramBytes;
    const std::uint64_t defaults = params - defaultBytes;
    const std::uint64_t optCount = (defaults - 0x18) / 4;
    auto opt = [&](unsigned i, std::uint32_t *v) { return i < optCount && rec.U32(0x18 + 4ull * i, v); };

    f->funckind = static_cast<FUNCKIND>(fkccic & 7);
    f->invkind = static_cast<INVOKEKIND>((fkccic >> 3) & 0xF);
    f->callconv = static_cast<CALLCONV>((fkccic >> 8) & 0xF);
    if (f->funckind > FUNC_DISPATCH || f->callconv >= CC_MAX) return false;
    if (f->invkind != INVOKE_FUNC && f->invkind != INVOKE_PROPERTYGET && f->invkind != INVOKE_PROPERTYPUT &&
        f->invkind != INVOKE_PROPERTYPUTREF)
        return false;
    f->flags = static_cast<WORD>(flags);
    f->oVft = static_cast<SHORT>(oVft);
    f->cParamsOpt = static_cast<SHORT>(cParamsOpt);
    if (!ReadType(ret, 0, &f->returnType)) return false;

    std::uint32_t v = 0;
    if (opt(0, &v)) f->helpContext = v;
    if (opt(1, &v) && !ReadString(v, &f->helpString)) return false;
    if (opt(2, &v)) {
        f->entryIsOrdinal = (fkccic & 0x2000) != 0;
        if (f->entryIsOrdinal) {
            f->entry = static_cast<std::int32_t>(v & 0xFFFF);
        } else if (v != kNone && v != 0 && !ReadString(v, &f->entry)) {
            f->entry = -1;   // an entry point we cannot name is left out
        }
    }
    if (opt(5, &v)) f->helpStringContext = v;
    std::vector<std::uint32_t> argCustom;
    if (hasCustom) {
        if (optCount < static_cast<std::uint64_t>(cParams) + 1) return false;
        const std::uint64_t first = optCount - cParams;
        if (opt(static_cast<unsigned>(first - 1), &v) && !ReadCustom(v, &f->custom)) return false;
        for (unsigned i = 0; i < cParams; ++i) {
            opt(static_cast<unsigned>(first + i), &v);
            argCustom.push_back(v);
        }
    }

    f->params.resize(cParams);
    for (unsigned i = 0; i < cParams; ++i) {
        Param &p = f->params[i];
        std::uint32_t td = 0, name = 0, pflags = 0;
        rec.U32(params + 12ull * i, &td);
        rec.U32(params + 12ull * i + 4, &name);
        rec.U32(params + 12ull * i + 8, &pflags);
        if (!ReadType(td, 0, &p.type)) return false;
        if (name != kNone && !ReadName(name, &p.name)) return false;
        p.flags = static_cast<USHORT>(pflags);
        if (hasDefaults) {
            std::uint32_t d = 0;
            rec.U32(defaults + 4ull * i, &d);
            if (d != kNone && (pflags & PARAMFLAG_FHASDEFAULT)) {
                if (!ReadConstant(d, &p.defaultValue)) return false;
                p.hasDefault = true;
            }
        }
        p.flags = static_cast<USHORT>(p.hasDefault ? (p.flags | PARAMFLAG_FHASDEFAULT)
                                                   : (p.flags & ~PARAMFLAG_FHASDEFAULT));
        if (hasCustom && argCustom[i] != kNone && !ReadCustom(argCustom[i], &p.custom)) return false;
    }
    return true;
}

bool Parser::ReadVariable(const Segment &block, std::uint32_t recoff, Variable *var) {
    std::uint16_t recsize = 0, kind = 0;
    std::uint32_t td = 0, flags = 0, value = 0;
    if (!block.U16(recoff, &recsize) || recsize < 0x14 || !block.Has(recoff, recsize)) return false;
    const Segment rec{block.image, block.offset + recoff, recsize};
    rec.U32(4, &td);
    rec.U32(8, &flags);
    rec.U16(0x0C, &kind);
    rec.U32(0x10, &value);
    if (kind > VAR_DISPATCH) return false;
    var->varkind = static_cast<VARKIND>(kind);
    var->flags = static_cast<WORD>(flags);
    if (!ReadType(td, 0, &var->type)) return false;
    if (var->varkind == VAR_CONST) {
        if (!ReadConstant(value, &var->value)) return false;
    } else {
        var->oInst = value;
    }
    std::uint32_t v = 0;
    if (rec.U32(0x14, &v)) var->helpContext = v;
    if (rec.U32(0x18, &v) && !ReadString(v, &var->helpString)) return false;
    if (rec.U32(0x20, &v) && v != kNone && !ReadCustom(v, &var->custom)) return false;
    if (rec.U32(0x24, &v)) var->helpStringContext = v;
    return true;
}

bool Parser::ReadMembers(std::uint32_t memoffset, unsigned cFuncs, unsigned cVars, TypeRecord *t) {
    const unsigned n = cFuncs + cVars;
    std::uint32_t total = 0;
    if (!image_.U32(memoffset, &total)) return false;
    const Segment block{&image_, static_cast<std::uint64_t>(memoffset) + 4, total};
    const std::uint64_t arrays = block.offset + total;
    if (!image_.Has(block.offset, total) || !image_.Has(arrays, 12ull * n)) return false;
    t->functions.resize(cFuncs);
    t->variables.resize(cVars);
    for (unsigned i = 0; i < n; ++i) {
        std::uint32_t memid = 0, name = 0, recoff = 0;
        image_.U32(arrays + 4ull * i, &memid);
        image_.U32(arrays + 4ull * (n + i), &name);
        image_.U32(arrays + 4ull * (2 * n + i), &recoff);
        std::string text;
        if (name != kNone && !ReadName(name, &text)) return false;
        if (i < cFuncs) {
            Function &f = t->functions[i];
            f.memid = static_cast<MEMBERID>(memid);
            f.name = std::move(text);
            if (!ReadFunction(block, recoff, &f)) return false;
        } else {
            Variable &v = t->variables[i - cFuncs];
            v.memid = static_cast<MEMBERID>(memid);
            v.name = std::move(text);
            if (!ReadVariable(block, recoff, &v)) return false;
        }
    }
    return true;
}

bool Parser::ReadTypeRecord(std::uint32_t offset, TypeRecord *t) {
    const Segment &s = seg_[kTypeInfos];
    if (!s.Has(offset, 0x64)) return false;
    std::uint32_t kindWord = 0, memoffset = 0, posguid = 0, flags = 0, name = 0, version = 0, doc = 0;
    std::uint32_t hsctx = 0, helpctx = 0, custom = 0, size = 0, datatype1 = 0;
    std::uint16_t cFuncs = 0, cVars = 0, cImpl = 0, vft = 0;
    s.U32(offset, &kindWord);
    s.U32(offset + 0x04ull, &memoffset);
    s.U16(offset + 0x18ull, &cFuncs);
    s.U16(offset + 0x1Aull, &cVars);
    s.U32(offset + 0x2Cull, &posguid);
    s.U32(offset + 0x30ull, &flags);
    s.U32(offset + 0x34ull, &name);
    s.U32(offset + 0x38ull, &version);
    s.U32(offset + 0x3Cull, &doc);
    s.U32(offset + 0x40ull, &hsctx);
    s.U32(offset + 0x44ull, &helpctx);
    s.U32(offset + 0x48ull, &custom);
    s.U16(offset + 0x4Cull, &cImpl);
    s.U16(offset + 0x4Eull, &vft);
    s.U32(offset + 0x50ull, &size);
    s.U32(offset + 0x54ull, &datatype1);

    if ((kindWord & 0xF) >= TKIND_MAX) return false;
    t->kind = static_cast<TYPEKIND>(kindWord & 0xF);
    t->dual = t->kind == TKIND_DISPATCH && (flags & TYPEFLAG_FDUAL) != 0;
    t->cbAlignment = static_cast<WORD>((kindWord >> 11) & 0x1F);
    if (posguid != kNone) {
        if (!ReadGuid(posguid, &t->guid)) return false;
        t->hasGuid = true;
    }
    t->flags = static_cast<WORD>(flags);
    if (!ReadName(name, &t->name)) return false;
    t->majorVersion = static_cast<WORD>(version & 0xFFFF);
    t->minorVersion = static_cast<WORD>(version >> 16);
    if (!ReadString(doc, &t->docString)) return false;
    t->helpStringContext = hsctx;
    t->helpContext = helpctx;
    if (custom != kNone && !ReadCustom(custom, &t->custom)) return false;
    t->cbSizeVft = vft;
    t->cbSizeInstance = size;

    switch (t->kind) {
    case TKIND_INTERFACE:
    case TKIND_DISPATCH:
        if (datatype1 != kNone) {
            if (!ValidHref(datatype1)) return false;
            t->impls.push_back(ImplType{datatype1, 0, {}});
        } else if (t->kind == TKIND_DISPATCH && lib_.dispatchHref != kNone) {
            t->impls.push_back(ImplType{lib_.dispatchHref, 0, {}});
        }
        break;
    case TKIND_COCLASS: {
        const Segment &refs = seg_[kReferences];
        std::uint32_t at = datatype1;
        for (unsigned i = 0; i < cImpl; ++i) {
            ImplType impl;
            std::uint32_t implFlags = 0, implCustom = 0, next = 0;
            if (!refs.U32(at, &impl.href) || !refs.U32(static_cast<std::uint64_t>(at) + 4, &implFlags) ||
                !refs.U32(static_cast<std::uint64_t>(at) + 8, &implCustom) ||
                !refs.U32(static_cast<std::uint64_t>(at) + 12, &next))
                return false;
            if (!ValidHref(impl.href)) return false;
            impl.flags = static_cast<INT>(implFlags);
            if (implCustom != kNone && !ReadCustom(implCustom, &impl.custom)) return false;
            t->impls.push_back(std::move(impl));
            at = next;
        }
        break;
    }
    case TKIND_ALIAS:
        if (!ReadType(datatype1, 0, &t->aliasType)) return false;
        break;
    case TKIND_MODULE:
        if (datatype1 != kNone && !ReadString(datatype1, &t->dllName)) return false;
        break;
    default:
        break;
    }
    if (cFuncs + cVars > 0 && !ReadMembers(memoffset, cFuncs, cVars, t)) return false;
    return true;
}

HRESULT Parser::Run() {
    std::uint32_t magic = 0, posguid = 0, lcid2 = 0, varflags = 0, version = 0, flags = 0, count = 0;
    std::uint32_t helpstring = 0, hsctx = 0, helpctx = 0, name = 0, helpfile = 0, custom = 0, dispatchpos = 0;
    if (!image_.U32(0, &magic) || magic != 0x5446534D) return TYPE_E_UNSUPFORMAT;
    if (!image_.Has(0, 0x54)) return TYPE_E_INVDATAREAD;
    image_.U32(0x08, &posguid);
    image_.U32(0x10, &lcid2);
    image_.U32(0x14, &varflags);
    image_.U32(0x18, &version);
    image_.U32(0x1C, &flags);
    image_.U32(0x20, &count);
    image_.U32(0x24, &helpstring);
    image_.U32(0x28, &hsctx);
    image_.U32(0x2C, &helpctx);
    image_.U32(0x38, &name);
    image_.U32(0x3C, &helpfile);
    image_.U32(0x40, &custom);
    image_.U32(0x4C, &dispatchpos);

    std::uint64_t at = 0x54;
    std::uint32_t helpdll = kNone;
    if (varflags & 0x100) {
        if (!image_.U32(at, &helpdll)) return TYPE_E_INVDATAREAD;
        at += 4;
    }
    if (!image_.Has(at, 4ull * count + 16ull * kSegmentCount)) return TYPE_E_INVDATAREAD;
    lib_.typeOffsets.resize(count);
    for (std::uint32_t i = 0; i < count; ++i) image_.U32(at + 4ull * i, &lib_.typeOffsets[i]);
    at += 4ull * count;
    for (int k = 0; k < kSegmentCount; ++k) {
        std::uint32_t off = 0, len = 0;
        image_.U32(at + 16ull * k, &off);
        image_.U32(at + 16ull * k + 4, &len);
        seg_[k].image = &image_;
        if (off == kNone) continue;   // absent: no room at all
        if (!image_.Has(off, len)) return TYPE_E_INVDATAREAD;
        seg_[k].offset = off;
        seg_[k].length = len;
    }

    // The system kind is checked as a number: a value outside the
    // enumeration must never be held in a SYSKIND.
    const unsigned sysValue = varflags & 0xF;
    if (sysValue > static_cast<unsigned>(SYS_WIN64)) return TYPE_E_UNSUPFORMAT;
    lib_.syskind = static_cast<SYSKIND>(sysValue);
    lib_.lcid = lcid2;
    lib_.majorVersion = static_cast<WORD>(version & 0xFFFF);
    lib_.minorVersion = static_cast<WORD>(version >> 16);
    lib_.libFlags = static_cast<WORD>(flags);
    lib_.helpContext = helpctx;
    lib_.helpStringContext = hsctx;
    if (posguid != kNone && !ReadGuid(posguid, &lib_.libid)) return TYPE_E_INVDATAREAD;
    if (!ReadName(name, &lib_.name)) return TYPE_E_INVDATAREAD;
    if (!ReadString(helpstring, &lib_.docString) || !ReadString(helpfile, &lib_.helpFile) ||
        !ReadString(helpdll, &lib_.helpStringDll))
        return TYPE_E_INVDATAREAD;
    if (custom != kNone && !ReadCustom(custom, &lib_.custom)) return TYPE_E_INVDATAREAD;
    if (!ReadImports()) return TYPE_E_INVDATAREAD;
    if (dispatchpos != kNone && !ValidHref(dispatchpos)) dispatchpos = kNone;
    lib_.dispatchHref = dispatchpos;

    // Every name of the table, for IsName and FindName.
    const Segment &names = seg_[kNames];
    for (std::uint64_t off = 0; off + 12 <= names.length;) {
        std::string text;
        if (!ReadName(static_cast<std::uint32_t>(off), &text)) return TYPE_E_INVDATAREAD;
        off += 12 + ((text.size() + 3) & ~std::size_t{3});
        lib_.allNames.push_back(std::move(text));
    }

    lib_.records.resize(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!ReadTypeRecord(lib_.typeOffsets[i], &lib_.records[i])) return TYPE_E_INVDATAREAD;
    }
    // Type references inside the records were checked against the offset
    // array; a duplicated offset would make two indexes one type.
    for (std::uint32_t i = 0; i < count; ++i) {
        if (lib_.LocalIndex(lib_.typeOffsets[i]) != static_cast<int>(i)) return TYPE_E_INVDATAREAD;
    }
    return S_OK;
}

}  // namespace

int Library::LocalIndex(std::uint32_t href) const {
    if ((href & 3) != 0) return -1;
    for (std::size_t i = 0; i < typeOffsets.size(); ++i) {
        if (typeOffsets[i] == href) return static_cast<int>(i);
    }
    return -1;
}

const ImportRef *Library::Import(std::uint32_t href) const {
    if ((href & 3) != 1) return nullptr;
    for (std::size_t i = 0; i < importOffsets.size(); ++i) {
        if (importOffsets[i] == (href & ~3u)) return &importRefs[i];
    }
    return nullptr;
}

HRESULT ParseLibrary(const BYTE *data, std::size_t size, Library *out) noexcept {
    if (!data || !out) return E_INVALIDARG;
    if (ComHostAllocationShouldFail()) return E_OUTOFMEMORY;
    try {
        Parser parser(data, size, out);
        return parser.Run();
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

BSTR MakeBstr(const std::string &text) noexcept {
    const int n = static_cast<int>(text.size());
    if (n == 0) return SysAllocStringLen(u"", 0);
    const int wide = MultiByteToWideChar(CP_ACP, 0, text.data(), n, nullptr, 0);
    if (wide <= 0) return nullptr;
    BSTR s = SysAllocStringLen(nullptr, static_cast<UINT>(wide));
    if (!s) return nullptr;
    MultiByteToWideChar(CP_ACP, 0, text.data(), n, s, wide);
    return s;
}

HRESULT ConstantToVariant(const Constant &c, VARIANT *out) noexcept {
    VariantInit(out);
    if (c.vt == VT_BSTR) {
        out->bstrVal = MakeBstr(c.text);
        if (!out->bstrVal) return E_OUTOFMEMORY;
        out->vt = VT_BSTR;
        return S_OK;
    }
    out->vt = c.vt;
    std::memcpy(&out->llVal, &c.bits, sizeof(c.bits));
    return S_OK;
}

}  // namespace comhost::typelib
