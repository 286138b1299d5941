// tlbdump FILE: prints a type library (a .tlb, or the TYPELIB resource of a
// shared object or DLL, "file\N" for resource N) as interface definition
// text that the IDL compiler accepts again.  DISPIDs and table-of-operations
// offsets are given as comments; types of imported libraries are referred to
// by name, declared before the library block so that the compiler knows
// them, and resolved by the compiler through importlib().
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

template <class T>
class Ptr {
public:
    Ptr() = default;
    ~Ptr() { reset(); }
    Ptr(const Ptr &) = delete;
    Ptr &operator=(const Ptr &) = delete;
    T **out() {
        reset();
        return &p_;
    }
    T *get() const { return p_; }
    T *operator->() const { return p_; }
    void reset() {
        if (p_) p_->Release();
        p_ = nullptr;
    }

private:
    T *p_ = nullptr;
};

std::string Narrow(BSTR s) {
    std::string out;
    if (!s) return out;
    const int n = WideCharToMultiByte(CP_ACP, 0, s, static_cast<int>(SysStringLen(s)), nullptr, 0, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(n));
    WideCharToMultiByte(CP_ACP, 0, s, static_cast<int>(SysStringLen(s)), out.data(), n, nullptr, nullptr);
    return out;
}

std::string GuidText(const GUID &g) {
    char text[40];
    std::snprintf(text, sizeof text, "%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
                  g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

std::string Quoted(const std::string &s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out + "\"";
}

// [id(...)]: negative ids (DISPID_NEWENUM and the like) in decimal.
std::string IdText(MEMBERID memid) {
    char text[32];
    if (memid < 0)
        std::snprintf(text, sizeof text, "id(%ld)", static_cast<long>(memid));
    else
        std::snprintf(text, sizeof text, "id(0x%08lX)", static_cast<unsigned long>(memid));
    return text;
}

struct Documentation {
    std::string name, doc;
    DWORD context = 0;
};

Documentation DocOf(ITypeInfo *info, MEMBERID memid) {
    Documentation d;
    BSTR name = nullptr, doc = nullptr;
    if (SUCCEEDED(info->GetDocumentation(memid, &name, &doc, &d.context, nullptr))) {
        d.name = Narrow(name);
        d.doc = Narrow(doc);
    }
    SysFreeString(name);
    SysFreeString(doc);
    return d;
}

class Dumper {
public:
    explicit Dumper(ITypeLib *lib) : lib_(lib) {}
    std::string Run();

private:
    std::string TypeText(ITypeInfo *ctx, const TYPEDESC &td);
    std::string RefName(ITypeInfo *ctx, HREFTYPE href);
    std::string ValueText(const VARIANT &v);
    void NoteImport(ITypeInfo *ref);
    void Interface(ITypeInfo *info, const TYPEATTR &a, const Documentation &d, bool dual);
    void Dispinterface(ITypeInfo *info, const TYPEATTR &a, const Documentation &d);
    void Function(ITypeInfo *info, UINT index, bool dispatch);
    void Coclass(ITypeInfo *info, const TYPEATTR &a, const Documentation &d);
    void Record(ITypeInfo *info, const TYPEATTR &a, const Documentation &d);
    void Enum(ITypeInfo *info, const TYPEATTR &a, const Documentation &d);
    std::string Attributes(const std::vector<std::string> &items, const char *indent);

    ITypeLib *lib_;
    std::string body_;
    // Imported libraries (by LIBID) and the interfaces used from them.
    struct Imported {
        std::string file;
        std::map<std::string, std::string> stubs;   // name -> declaration
    };
    std::map<std::string, Imported> imports_;
    std::vector<std::string> importOrder_;
};

std::string Dumper::Attributes(const std::vector<std::string> &items, const char *indent) {
    if (items.empty()) return "";
    std::string out = std::string(indent) + "[\n";
    for (std::size_t i = 0; i < items.size(); ++i)
        out += std::string(indent) + "    " + items[i] + (i + 1 < items.size() ? ",\n" : "\n");
    return out + indent + "]\n";
}

// Records the library a referenced type lives in, when it is not ours.
void Dumper::NoteImport(ITypeInfo *ref) {
    Ptr<ITypeLib> container;
    UINT index = 0;
    if (FAILED(ref->GetContainingTypeLib(container.out(), &index)) || container.get() == lib_) return;
    TLIBATTR *la = nullptr;
    if (FAILED(container->GetLibAttr(&la))) return;
    const TLIBATTR attr = *la;
    container->ReleaseTLibAttr(la);
    TLIBATTR *own = nullptr;
    lib_->GetLibAttr(&own);
    const bool same = own && IsEqualGUID(own->guid, attr.guid);
    lib_->ReleaseTLibAttr(own);
    if (same) return;
    const std::string key = GuidText(attr.guid);
    auto found = imports_.find(key);
    if (found == imports_.end()) {
        Imported imp;
        BSTR path = nullptr;
        if (SUCCEEDED(QueryPathOfRegTypeLib(attr.guid, attr.wMajorVerNum, attr.wMinorVerNum, attr.lcid, &path))) {
            std::string p = Narrow(path);
            const std::size_t slash = p.find_last_of("/\\");
            imp.file = slash == std::string::npos ? p : p.substr(slash + 1);
        }
        SysFreeString(path);
        if (imp.file.empty()) {
            // The libraries the host layer carries built in, else the
            // library's name.
            if (key == "00020430-0000-0000-C000-000000000046") {
                imp.file = "stdole2.tlb";
            } else if (key == "EF53050B-882E-4776-B643-EDA472E8E3F2") {
                imp.file = "msado27.tlb";
            } else {
                BSTR libName = nullptr;
                container->GetDocumentation(-1, &libName, nullptr, nullptr, nullptr);
                imp.file = Narrow(libName) + ".tlb";
                SysFreeString(libName);
            }
        }
        found = imports_.emplace(key, imp).first;
        importOrder_.push_back(key);
    }
    // A declaration of the interface for the compiler (IUnknown and
    // IDispatch come from oaidl.idl).
    TYPEATTR *ta = nullptr;
    if (FAILED(ref->GetTypeAttr(&ta))) return;
    const std::string name = DocOf(ref, MEMBERID_NIL).name;
    if ((ta->typekind == TKIND_INTERFACE || ta->typekind == TKIND_DISPATCH) && name != "IUnknown" &&
        name != "IDispatch") {
        const bool automation = ta->typekind == TKIND_DISPATCH || (ta->wTypeFlags & TYPEFLAG_FOLEAUTOMATION);
        std::string decl = "[object, uuid(" + GuidText(ta->guid) + ")";
        if (ta->wTypeFlags & TYPEFLAG_FDUAL) decl += ", dual";
        if (automation) decl += ", oleautomation";
        decl += "]\ninterface " + name + " : " + (automation ? "IDispatch" : "IUnknown") + " {}\n";
        found->second.stubs[name] = decl;
    }
    ref->ReleaseTypeAttr(ta);
}

std::string Dumper::RefName(ITypeInfo *ctx, HREFTYPE href) {
    Ptr<ITypeInfo> ref;
    if (FAILED(ctx->GetRefTypeInfo(href, ref.out()))) return "/* unresolved */ IUnknown";
    NoteImport(ref.get());
    return DocOf(ref.get(), MEMBERID_NIL).name;
}

std::string Dumper::TypeText(ITypeInfo *ctx, const TYPEDESC &td) {
    switch (td.vt) {
    case VT_I1: return "char";
    case VT_UI1: return "unsigned char";
    case VT_I2: return "short";
    case VT_UI2: return "unsigned short";
    case VT_I4: return "long";
    case VT_UI4: return "unsigned long";
    case VT_INT: return "int";
    case VT_UINT: return "unsigned int";
    case VT_I8: return "hyper";
    case VT_UI8: return "unsigned hyper";
    case VT_R4: return "float";
    case VT_R8: return "double";
    case VT_CY: return "CURRENCY";
    case VT_DATE: return "DATE";
    case VT_BSTR: return "BSTR";
    case VT_DISPATCH: return "IDispatch*";
    case VT_UNKNOWN: return "IUnknown*";
    case VT_ERROR: return "SCODE";
    case VT_BOOL: return "VARIANT_BOOL";
    case VT_VARIANT: return "VARIANT";
    case VT_DECIMAL: return "DECIMAL";
    case VT_VOID: return "void";
    case VT_HRESULT: return "HRESULT";
    case VT_LPSTR: return "LPSTR";
    case VT_LPWSTR: return "LPWSTR";
    case VT_INT_PTR: return "INT_PTR";
    case VT_UINT_PTR: return "UINT_PTR";
    case VT_PTR: return TypeText(ctx, *td.lptdesc) + "*";
    case VT_SAFEARRAY: return "SAFEARRAY(" + TypeText(ctx, *td.lptdesc) + ")";
    case VT_USERDEFINED: return RefName(ctx, td.hreftype);
    case VT_CARRAY: return TypeText(ctx, td.lpadesc->tdescElem);
    default: {
        char text[32];
        std::snprintf(text, sizeof text, "/* vt %u */ long", td.vt);
        return text;
    }
    }
}

std::string Dumper::ValueText(const VARIANT &v) {
    char text[64];
    switch (v.vt) {
    case VT_BSTR: return Quoted(Narrow(v.bstrVal));
    case VT_R4: std::snprintf(text, sizeof text, "%g", static_cast<double>(v.fltVal)); return text;
    case VT_R8: std::snprintf(text, sizeof text, "%g", v.dblVal); return text;
    case VT_I1: std::snprintf(text, sizeof text, "%d", v.cVal); return text;
    case VT_UI1: std::snprintf(text, sizeof text, "%u", v.bVal); return text;
    case VT_I2: case VT_BOOL: std::snprintf(text, sizeof text, "%d", v.iVal); return text;
    case VT_UI2: std::snprintf(text, sizeof text, "%u", v.uiVal); return text;
    case VT_UI4: case VT_UINT: std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(v.ulVal)); return text;
    case VT_I8: std::snprintf(text, sizeof text, "%lld", static_cast<long long>(v.llVal)); return text;
    case VT_UI8: std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(v.ullVal)); return text;
    default: std::snprintf(text, sizeof text, "%ld", static_cast<long>(v.lVal)); return text;
    }
}

void Dumper::Function(ITypeInfo *info, UINT index, bool dispatch) {
    FUNCDESC *f = nullptr;
    if (FAILED(info->GetFuncDesc(index, &f))) return;
    const Documentation d = DocOf(info, f->memid);
    BSTR names[64] = {};
    UINT count = 0;
    info->GetNames(f->memid, names, 64, &count);
    // Property get/put share a member id: the names of the first function
    // with that id come back, so a put's value name may be missing.
    char comment[128];
    if (dispatch)
        std::snprintf(comment, sizeof comment, "        /* DISPID %ld (0x%08lX) */\n", static_cast<long>(f->memid),
                      static_cast<unsigned long>(f->memid));
    else
        std::snprintf(comment, sizeof comment, "        /* DISPID %ld (0x%08lX), vtable offset %d */\n",
                      static_cast<long>(f->memid), static_cast<unsigned long>(f->memid), f->oVft);
    body_ += comment;
    std::vector<std::string> attrs;
    attrs.push_back(IdText(f->memid));
    if (f->invkind == INVOKE_PROPERTYGET) attrs.push_back("propget");
    if (f->invkind == INVOKE_PROPERTYPUT) attrs.push_back("propput");
    if (f->invkind == INVOKE_PROPERTYPUTREF) attrs.push_back("propputref");
    if (f->cParamsOpt == -1) attrs.push_back("vararg");
    const struct {
        WORD flag;
        const char *text;
    } flags[] = {{FUNCFLAG_FRESTRICTED, "restricted"}, {FUNCFLAG_FSOURCE, "source"},
                 {FUNCFLAG_FBINDABLE, "bindable"},     {FUNCFLAG_FREQUESTEDIT, "requestedit"},
                 {FUNCFLAG_FDISPLAYBIND, "displaybind"}, {FUNCFLAG_FDEFAULTBIND, "defaultbind"},
                 {FUNCFLAG_FHIDDEN, "hidden"},         {FUNCFLAG_FDEFAULTCOLLELEM, "defaultcollelem"},
                 {FUNCFLAG_FUIDEFAULT, "uidefault"},   {FUNCFLAG_FNONBROWSABLE, "nonbrowsable"},
                 {FUNCFLAG_FIMMEDIATEBIND, "immediatebind"}};
    for (const auto &fl : flags) {
        if (f->wFuncFlags & fl.flag) attrs.push_back(fl.text);
    }
    if (!d.doc.empty()) attrs.push_back("helpstring(" + Quoted(d.doc) + ")");
    if (d.context) attrs.push_back("helpcontext(" + std::to_string(d.context) + ")");
    std::string line = "        [";
    for (std::size_t i = 0; i < attrs.size(); ++i) line += (i ? ", " : "") + attrs[i];
    line += "]\n        " + TypeText(info, f->elemdescFunc.tdesc) + " " + d.name + "(";
    if (f->cParams == 0) line += "void";
    for (SHORT p = 0; p < f->cParams; ++p) {
        const ELEMDESC &e = f->lprgelemdescParam[p];
        const USHORT pf = e.paramdesc.wParamFlags;
        std::vector<std::string> pa;
        if (pf & PARAMFLAG_FIN) pa.push_back("in");
        if (pf & PARAMFLAG_FOUT) pa.push_back("out");
        if (pf & PARAMFLAG_FLCID) pa.push_back("lcid");
        if (pf & PARAMFLAG_FRETVAL) pa.push_back("retval");
        if ((pf & PARAMFLAG_FOPT) && !(pf & PARAMFLAG_FHASDEFAULT)) pa.push_back("optional");
        if ((pf & PARAMFLAG_FHASDEFAULT) && e.paramdesc.pparamdescex)
            pa.push_back("defaultvalue(" + ValueText(e.paramdesc.pparamdescex->varDefaultValue) + ")");
        line += p ? ",\n            " : "";
        if (!pa.empty()) {
            line += "[";
            for (std::size_t i = 0; i < pa.size(); ++i) line += (i ? ", " : "") + pa[i];
            line += "] ";
        }
        line += TypeText(info, e.tdesc);
        const UINT n = static_cast<UINT>(p) + 1;
        std::string pname = n < count ? Narrow(names[n]) : "";
        if (pname.empty()) pname = "arg" + std::to_string(p);
        line += " " + pname;
    }
    line += ");\n";
    body_ += line;
    for (UINT i = 0; i < count; ++i) SysFreeString(names[i]);
    info->ReleaseFuncDesc(f);
}

void Dumper::Interface(ITypeInfo *info, const TYPEATTR &a, const Documentation &d, bool dual) {
    std::vector<std::string> attrs{"object", "uuid(" + GuidText(a.guid) + ")"};
    if (a.wMajorVerNum || a.wMinorVerNum)
        attrs.push_back("version(" + std::to_string(a.wMajorVerNum) + "." + std::to_string(a.wMinorVerNum) + ")");
    if (a.wTypeFlags & TYPEFLAG_FHIDDEN) attrs.push_back("hidden");
    if (dual) attrs.push_back("dual");
    if (a.wTypeFlags & TYPEFLAG_FNONEXTENSIBLE) attrs.push_back("nonextensible");
    if (a.wTypeFlags & TYPEFLAG_FOLEAUTOMATION) attrs.push_back("oleautomation");
    if (a.wTypeFlags & TYPEFLAG_FRESTRICTED) attrs.push_back("restricted");
    if (!d.doc.empty()) attrs.push_back("helpstring(" + Quoted(d.doc) + ")");
    if (d.context) attrs.push_back("helpcontext(" + std::to_string(d.context) + ")");
    body_ += Attributes(attrs, "    ");
    std::string base;
    HREFTYPE href = 0;
    if (a.cImplTypes > 0 && SUCCEEDED(info->GetRefTypeOfImplType(0, &href))) base = " : " + RefName(info, href);
    char comment[96];
    std::snprintf(comment, sizeof comment, "    /* table of operations: %u bytes */\n", a.cbSizeVft);
    body_ += comment;
    body_ += "    interface " + d.name + base + "\n    {\n";
    for (UINT i = 0; i < a.cFuncs; ++i) Function(info, i, false);
    body_ += "    };\n\n";
}

void Dumper::Dispinterface(ITypeInfo *info, const TYPEATTR &a, const Documentation &d) {
    std::vector<std::string> attrs{"uuid(" + GuidText(a.guid) + ")"};
    if (a.wTypeFlags & TYPEFLAG_FHIDDEN) attrs.push_back("hidden");
    if (a.wTypeFlags & TYPEFLAG_FNONEXTENSIBLE) attrs.push_back("nonextensible");
    if (!d.doc.empty()) attrs.push_back("helpstring(" + Quoted(d.doc) + ")");
    body_ += Attributes(attrs, "    ");
    body_ += "    dispinterface " + d.name + "\n    {\n    properties:\n";
    for (UINT i = 0; i < a.cVars; ++i) {
        VARDESC *v = nullptr;
        if (FAILED(info->GetVarDesc(i, &v))) continue;
        body_ += "        [" + IdText(v->memid) + (v->wVarFlags & VARFLAG_FREADONLY ? ", readonly" : "") + "] " +
                 TypeText(info, v->elemdescVar.tdesc) + " " + DocOf(info, v->memid).name + ";\n";
        info->ReleaseVarDesc(v);
    }
    body_ += "    methods:\n";
    for (UINT i = 0; i < a.cFuncs; ++i) Function(info, i, true);
    body_ += "    };\n\n";
}

void Dumper::Coclass(ITypeInfo *info, const TYPEATTR &a, const Documentation &d) {
    std::vector<std::string> attrs{"uuid(" + GuidText(a.guid) + ")"};
    if (a.wMajorVerNum || a.wMinorVerNum)
        attrs.push_back("version(" + std::to_string(a.wMajorVerNum) + "." + std::to_string(a.wMinorVerNum) + ")");
    if (!(a.wTypeFlags & TYPEFLAG_FCANCREATE)) attrs.push_back("noncreatable");
    if (a.wTypeFlags & TYPEFLAG_FAPPOBJECT) attrs.push_back("appobject");
    if (a.wTypeFlags & TYPEFLAG_FCONTROL) attrs.push_back("control");
    if (a.wTypeFlags & TYPEFLAG_FLICENSED) attrs.push_back("licensed");
    if (a.wTypeFlags & TYPEFLAG_FHIDDEN) attrs.push_back("hidden");
    if (a.wTypeFlags & TYPEFLAG_FAGGREGATABLE) attrs.push_back("aggregatable");
    if (!d.doc.empty()) attrs.push_back("helpstring(" + Quoted(d.doc) + ")");
    body_ += Attributes(attrs, "    ");
    body_ += "    coclass " + d.name + "\n    {\n";
    for (UINT i = 0; i < a.cImplTypes; ++i) {
        HREFTYPE href = 0;
        INT flags = 0;
        if (FAILED(info->GetRefTypeOfImplType(i, &href))) continue;
        info->GetImplTypeFlags(i, &flags);
        std::vector<std::string> fa;
        if (flags & IMPLTYPEFLAG_FDEFAULT) fa.push_back("default");
        if (flags & IMPLTYPEFLAG_FSOURCE) fa.push_back("source");
        if (flags & IMPLTYPEFLAG_FRESTRICTED) fa.push_back("restricted");
        if (flags & IMPLTYPEFLAG_FDEFAULTVTABLE) fa.push_back("defaultvtable");
        Ptr<ITypeInfo> ref;
        std::string kind = "interface";
        if (SUCCEEDED(info->GetRefTypeInfo(href, ref.out()))) {
            TYPEATTR *ra = nullptr;
            if (SUCCEEDED(ref->GetTypeAttr(&ra))) {
                if (ra->typekind == TKIND_DISPATCH && !(ra->wTypeFlags & TYPEFLAG_FDUAL)) kind = "dispinterface";
                ref->ReleaseTypeAttr(ra);
            }
        }
        std::string line = "        ";
        if (!fa.empty()) {
            line += "[";
            for (std::size_t k = 0; k < fa.size(); ++k) line += (k ? ", " : "") + fa[k];
            line += "] ";
        }
        body_ += line + kind + " " + RefName(info, href) + ";\n";
    }
    body_ += "    };\n\n";
}

void Dumper::Record(ITypeInfo *info, const TYPEATTR &a, const Documentation &d) {
    std::vector<std::string> attrs;
    if (!IsEqualGUID(a.guid, GUID_NULL)) attrs.push_back("uuid(" + GuidText(a.guid) + ")");
    if (!d.doc.empty()) attrs.push_back("helpstring(" + Quoted(d.doc) + ")");
    std::string line = "    typedef ";
    if (!attrs.empty()) {
        line += "[";
        for (std::size_t i = 0; i < attrs.size(); ++i) line += (i ? ", " : "") + attrs[i];
        line += "] ";
    }
    body_ += line + (a.typekind == TKIND_UNION ? "union " : "struct ") + d.name + "\n    {\n";
    for (UINT i = 0; i < a.cVars; ++i) {
        VARDESC *v = nullptr;
        if (FAILED(info->GetVarDesc(i, &v))) continue;
        std::string field = "        " + TypeText(info, v->elemdescVar.tdesc) + " " + DocOf(info, v->memid).name;
        if (v->elemdescVar.tdesc.vt == VT_CARRAY) {
            for (USHORT k = 0; k < v->elemdescVar.tdesc.lpadesc->cDims; ++k)
                field += "[" + std::to_string(v->elemdescVar.tdesc.lpadesc->rgbounds[k].cElements) + "]";
        }
        char offset[48];
        std::snprintf(offset, sizeof offset, ";   /* offset %lu */\n", static_cast<unsigned long>(v->oInst));
        body_ += field + offset;
        info->ReleaseVarDesc(v);
    }
    body_ += "    } " + d.name + ";\n\n";
}

void Dumper::Enum(ITypeInfo *info, const TYPEATTR &a, const Documentation &d) {
    std::vector<std::string> attrs;
    if (!IsEqualGUID(a.guid, GUID_NULL)) attrs.push_back("uuid(" + GuidText(a.guid) + ")");
    if (!d.doc.empty()) attrs.push_back("helpstring(" + Quoted(d.doc) + ")");
    std::string line = "    typedef ";
    if (!attrs.empty()) {
        line += "[";
        for (std::size_t i = 0; i < attrs.size(); ++i) line += (i ? ", " : "") + attrs[i];
        line += "] ";
    }
    body_ += line + "enum " + d.name + "\n    {\n";
    for (UINT i = 0; i < a.cVars; ++i) {
        VARDESC *v = nullptr;
        if (FAILED(info->GetVarDesc(i, &v))) continue;
        body_ += "        " + DocOf(info, v->memid).name + " = " +
                 (v->lpvarValue ? ValueText(*v->lpvarValue) : std::string("0")) + (i + 1 < a.cVars ? ",\n" : "\n");
        info->ReleaseVarDesc(v);
    }
    body_ += "    } " + d.name + ";\n\n";
}

std::string Dumper::Run() {
    const UINT count = lib_->GetTypeInfoCount();
    // Local interfaces may be used before they are defined: declared ahead.
    std::string forward;
    for (UINT i = 0; i < count; ++i) {
        TYPEKIND kind;
        if (SUCCEEDED(lib_->GetTypeInfoType(i, &kind)) && (kind == TKIND_INTERFACE || kind == TKIND_DISPATCH)) {
            Ptr<ITypeInfo> info;
            if (SUCCEEDED(lib_->GetTypeInfo(i, info.out()))) {
                TYPEATTR *a = nullptr;
                if (SUCCEEDED(info->GetTypeAttr(&a))) {
                    const bool pure = kind == TKIND_DISPATCH && !(a->wTypeFlags & TYPEFLAG_FDUAL);
                    forward += std::string(pure ? "dispinterface " : "interface ") +
                               DocOf(info.get(), MEMBERID_NIL).name + ";\n";
                    info->ReleaseTypeAttr(a);
                }
            }
        }
    }
    // Enumerations, records and aliases cannot be declared ahead: they come
    // first, then the interfaces and classes, each group in library order.
    std::vector<UINT> order;
    for (int pass = 0; pass < 2; ++pass) {
        for (UINT i = 0; i < count; ++i) {
            TYPEKIND kind = TKIND_MAX;
            lib_->GetTypeInfoType(i, &kind);
            const bool plain = kind == TKIND_ENUM || kind == TKIND_RECORD || kind == TKIND_UNION || kind == TKIND_ALIAS;
            if (plain == (pass == 0)) order.push_back(i);
        }
    }
    for (UINT i : order) {
        Ptr<ITypeInfo> info;
        if (FAILED(lib_->GetTypeInfo(i, info.out()))) continue;
        TYPEATTR *pa = nullptr;
        if (FAILED(info->GetTypeAttr(&pa))) continue;
        const TYPEATTR a = *pa;
        info->ReleaseTypeAttr(pa);
        const Documentation d = DocOf(info.get(), MEMBERID_NIL);
        char comment[64];
        std::snprintf(comment, sizeof comment, "    /* type %u */\n", i);
        body_ += comment;
        switch (a.typekind) {
        case TKIND_RECORD:
        case TKIND_UNION:
            Record(info.get(), a, d);
            break;
        case TKIND_ENUM:
            Enum(info.get(), a, d);
            break;
        case TKIND_ALIAS:
            body_ += "    typedef [public" +
                     (IsEqualGUID(a.guid, GUID_NULL) ? std::string() : ", uuid(" + GuidText(a.guid) + ")") + "] " +
                     TypeText(info.get(), a.tdescAlias) + " " + d.name + ";\n\n";
            break;
        case TKIND_INTERFACE:
            Interface(info.get(), a, d, false);
            break;
        case TKIND_DISPATCH:
            if (a.wTypeFlags & TYPEFLAG_FDUAL) {
                // The interface view carries the table of operations.
                HREFTYPE partner = 0;
                Ptr<ITypeInfo> view;
                TYPEATTR *va = nullptr;
                if (SUCCEEDED(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &partner)) &&
                    SUCCEEDED(info->GetRefTypeInfo(partner, view.out())) && SUCCEEDED(view->GetTypeAttr(&va))) {
                    const TYPEATTR v = *va;
                    view->ReleaseTypeAttr(va);
                    Interface(view.get(), v, d, true);
                    break;
                }
            }
            Dispinterface(info.get(), a, d);
            break;
        case TKIND_COCLASS:
            Coclass(info.get(), a, d);
            break;
        default:
            body_ += "    /* " + d.name + ": a module, not shown */\n\n";
            break;
        }
    }

    TLIBATTR *la = nullptr;
    if (FAILED(lib_->GetLibAttr(&la))) return "";
    const TLIBATTR attr = *la;
    lib_->ReleaseTLibAttr(la);
    BSTR name = nullptr, doc = nullptr, helpFile = nullptr;
    DWORD context = 0;
    lib_->GetDocumentation(-1, &name, &doc, &context, &helpFile);
    std::string out = "import \"oaidl.idl\";\n\n";
    for (const std::string &key : importOrder_) {
        const Imported &imp = imports_[key];
        if (imp.stubs.empty()) continue;
        out += "/* Declared for the compiler; the library refers to them in " + imp.file + ". */\n";
        for (const auto &stub : imp.stubs) out += stub.second + "\n";
    }
    std::vector<std::string> attrs{"uuid(" + GuidText(attr.guid) + ")",
                                   "version(" + std::to_string(attr.wMajorVerNum) + "." +
                                       std::to_string(attr.wMinorVerNum) + ")"};
    char lcid[32];
    std::snprintf(lcid, sizeof lcid, "lcid(0x%lx)", static_cast<unsigned long>(attr.lcid));
    attrs.push_back(lcid);
    if (attr.wLibFlags & LIBFLAG_FRESTRICTED) attrs.push_back("restricted");
    if (attr.wLibFlags & LIBFLAG_FCONTROL) attrs.push_back("control");
    if (attr.wLibFlags & LIBFLAG_FHIDDEN) attrs.push_back("hidden");
    if (doc) attrs.push_back("helpstring(" + Quoted(Narrow(doc)) + ")");
    if (helpFile) attrs.push_back("helpfile(" + Quoted(Narrow(helpFile)) + ")");
    if (context) attrs.push_back("helpcontext(" + std::to_string(context) + ")");
    // Forward declarations outside the library block, so that they do not
    // change the order of the library's types.
    if (!forward.empty()) out += forward + "\n";
    out += Attributes(attrs, "");
    out += "library " + Narrow(name) + "\n{\n";
    for (const std::string &key : importOrder_) out += "    importlib(\"" + imports_[key].file + "\");\n";
    out += "\n" + body_ + "};\n";
    SysFreeString(name);
    SysFreeString(doc);
    SysFreeString(helpFile);
    return out;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tlbdump FILE\n  FILE: a .tlb, or a module with a TYPELIB resource (FILE\\N: resource N)\n");
        return 2;
    }
    std::u16string path;
    const int n = MultiByteToWideChar(CP_ACP, 0, argv[1], -1, nullptr, 0);
    path.resize(static_cast<std::size_t>(n > 0 ? n : 1));
    MultiByteToWideChar(CP_ACP, 0, argv[1], -1, path.data(), n);
    ITypeLib *lib = nullptr;
    const HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &lib);
    if (FAILED(hr)) {
        std::fprintf(stderr, "tlbdump: cannot load %s: 0x%08X\n", argv[1], static_cast<unsigned>(hr));
        return 1;
    }
    std::string text;
    {
        Dumper dumper(lib);
        text = dumper.Run();
    }
    lib->Release();
    std::printf("/* %s, as written by tlbdump */\n\n%s", argv[1], text.c_str());
    return 0;
}
