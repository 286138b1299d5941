#include "xml_input.h"

#include "text.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace comhost::persist::detail {

namespace {

Error MakeError(ErrorCategory category, std::string message) {
    Error e;
    e.category = category;
    e.message = std::move(message);
    return e;
}

// ---- encodings

bool Utf16ToUtf8Bytes(std::string_view bytes, bool bigEndian, std::string& out, size_t& badUnit) {
    if (bytes.size() % 2 != 0) {
        badUnit = bytes.size() / 2;
        return false;
    }
    std::u16string units;
    units.reserve(bytes.size() / 2);
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto b0 = static_cast<unsigned char>(bytes[i]);
        const auto b1 = static_cast<unsigned char>(bytes[i + 1]);
        units.push_back(static_cast<char16_t>(bigEndian ? (b0 << 8 | b1) : (b1 << 8 | b0)));
    }
    return Utf16ToUtf8(units, out, &badUnit);
}

// The encoding named in an XML declaration at the start of `text`; empty
// when there is no declaration or it names none.
std::string DeclaredEncoding(std::string_view text) {
    if (text.substr(0, 5) != "<?xml") return {};
    const size_t end = text.find("?>");
    if (end == std::string_view::npos) return {};
    const std::string_view decl = text.substr(0, end);
    size_t at = decl.find("encoding");
    if (at == std::string_view::npos) return {};
    at += 8;
    while (at < decl.size() && IsXmlSpace(decl[at])) ++at;
    if (at >= decl.size() || decl[at] != '=') return {};
    ++at;
    while (at < decl.size() && IsXmlSpace(decl[at])) ++at;
    if (at >= decl.size() || (decl[at] != '"' && decl[at] != '\'')) return {};
    const char quote = decl[at++];
    const size_t close = decl.find(quote, at);
    if (close == std::string_view::npos || close - at > 64) return {};
    return std::string(decl.substr(at, close - at));
}

// Converts `bytes` from `encoding` to UTF-8 with iconv.
std::optional<Error> ConvertWithIconv(std::string_view bytes, const std::string& encoding, std::string& out) {
    iconv_t cd = iconv_open("UTF-8", encoding.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return MakeError(ErrorCategory::NotWellFormed,
                         "the document declares the encoding \"" + encoding + "\", which is not supported");
    }
    struct Closer {
        iconv_t cd;
        ~Closer() { iconv_close(cd); }
    } closer{cd};
    out.clear();
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    char buffer[16384];
    while (inLeft > 0) {
        char* o = buffer;
        size_t oLeft = sizeof buffer;
        const size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
        out.append(buffer, static_cast<size_t>(o - buffer));
        if (r == static_cast<size_t>(-1) && errno != E2BIG) {
            return MakeError(ErrorCategory::NotWellFormed,
                             "byte " + std::to_string(bytes.size() - inLeft) + " is not valid in the declared encoding \"" +
                                 encoding + "\"");
        }
    }
    return std::nullopt;
}

// Brings the document to UTF-8 without byte-order mark.
std::optional<Error> ToUtf8(std::string_view bytes, std::string& out) {
    auto at = [&](size_t i) { return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0x100u; };
    size_t badUnit = 0;
    if (at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF) {
        out.assign(bytes.substr(3));
        const std::string enc = DeclaredEncoding(out);
        if (!enc.empty() && !EqualsNoCase(enc, "utf-8") && !EqualsNoCase(enc, "utf8"))
            return MakeError(ErrorCategory::NotWellFormed,
                             "the document starts with a UTF-8 byte-order mark but declares the encoding \"" + enc + "\"");
        return std::nullopt;
    }
    const bool le = (at(0) == 0xFF && at(1) == 0xFE) || (at(0) == '<' && at(1) == 0 && at(2) != 0x100u);
    const bool be = (at(0) == 0xFE && at(1) == 0xFF) || (at(0) == 0 && at(1) == '<');
    if (le || be) {
        const size_t skip = (at(0) == 0xFF || at(0) == 0xFE) ? 2 : 0;
        out.clear();
        if (!Utf16ToUtf8Bytes(bytes.substr(skip), be, out, badUnit)) {
            return MakeError(ErrorCategory::NotWellFormed, "the UTF-16 text is broken at code unit " +
                                                               std::to_string(badUnit) +
                                                               " (an unpaired surrogate or an odd number of bytes)");
        }
        return std::nullopt;
    }
    const std::string enc = DeclaredEncoding(bytes);
    // A document that says UTF-16 but has no byte-order mark and 8-bit
    // markup was transcoded after it was written; its bytes are read as
    // UTF-8 like the rest.
    if (enc.empty() || EqualsNoCase(enc, "utf-8") || EqualsNoCase(enc, "utf8") || EqualsNoCase(enc, "utf-16") ||
        EqualsNoCase(enc, "us-ascii") || EqualsNoCase(enc, "ascii")) {
        out.assign(bytes);
        return std::nullopt;
    }
    return ConvertWithIconv(bytes, enc, out);
}

// ---- namespace bookkeeping during the check

thread_local const std::vector<Binding>* t_outerScope = nullptr;

class Checker {
public:
    explicit Checker(const XmlDocument& doc) : m_doc(doc) {}

    std::optional<Error> Run(const pugi::xml_document& document);
    // One element and its descendants, with the bindings of the current
    // OuterScope in effect around it.
    std::optional<Error> RunSubtree(pugi::xml_node element, size_t elementDepth);

private:
    std::optional<Error> VisitElement(pugi::xml_node node, size_t depth);
    const std::string* Resolve(std::string_view prefix) const {
        static const std::string xmlNs(kNsXml);
        if (prefix == "xml") return &xmlNs;
        for (auto it = m_scope.rbegin(); it != m_scope.rend(); ++it)
            if (it->prefix == prefix) return &it->uri;
        return nullptr;
    }

    const XmlDocument& m_doc;
    std::vector<Binding> m_scope;
    std::vector<std::string_view> m_plainNames;
    std::vector<std::string> m_qualifiedNames;
};

std::optional<Error> Checker::VisitElement(pugi::xml_node node, size_t depth) {
    if (depth >= kMaxDepth)
        return m_doc.At(node, ErrorCategory::TooLarge,
                        "elements are nested more than " + std::to_string(kMaxDepth) + " levels deep");
    const std::string_view name = node.name();
    const QName q = SplitName(name);
    if (!IsQName(name))
        return m_doc.At(node, ErrorCategory::NotWellFormed, "the element name '" + std::string(name) +
                                                                "' is not a valid qualified name");
    if (q.prefix == "xmlns")
        return m_doc.At(node, ErrorCategory::NotWellFormed, "an element may not use the prefix 'xmlns'");

    // Namespace declarations first: they apply to the element itself.
    DecodeFailure failure;
    for (pugi::xml_attribute a : node.attributes()) {
        const std::string_view an = a.name();
        const bool declaration = an.substr(0, 5) == "xmlns" && (an.size() == 5 || an[5] == ':');
        std::string text;
        if (!DecodeXmlText(a.value(), true, declaration ? &text : nullptr, failure))
            return m_doc.At(node, ErrorCategory::NotWellFormed,
                            "the value of attribute '" + std::string(an) + "' of element <" + std::string(name) +
                                "> contains " + failure.reason);
        if (!declaration) continue;
        if (an == "xmlns") {
            m_scope.push_back({std::string(), std::move(text), depth});
        } else if (an.substr(0, 6) == "xmlns:") {
            const std::string_view p = an.substr(6);
            if (p.empty() || p.find(':') != std::string_view::npos || p == "xmlns" ||
                (p == "xml" && text != kNsXml))
                return m_doc.At(node, ErrorCategory::NotWellFormed,
                                "the namespace declaration '" + std::string(an) + "' is not allowed");
            if (text.empty())
                return m_doc.At(node, ErrorCategory::NotWellFormed,
                                "the namespace prefix '" + std::string(p) + "' is declared with an empty name");
            m_scope.push_back({std::string(p), std::move(text), depth});
        }
    }
    if (!q.prefix.empty() && !Resolve(q.prefix))
        return m_doc.At(node, ErrorCategory::NotWellFormed,
                        "the element <" + std::string(name) + "> uses the undeclared namespace prefix '" +
                            std::string(q.prefix) + "'");

    // Duplicate attributes, by name and by namespace plus local name.
    m_plainNames.clear();
    m_qualifiedNames.clear();
    for (pugi::xml_attribute a : node.attributes()) {
        const std::string_view an = a.name();
        const QName aq = SplitName(an);
        if (!IsQName(an))
            return m_doc.At(node, ErrorCategory::NotWellFormed,
                            "the attribute name '" + std::string(an) + "' is not a valid qualified name");
        m_plainNames.push_back(an);
        if (!aq.prefix.empty() && aq.prefix != "xmlns") {
            const std::string* uri = Resolve(aq.prefix);
            if (!uri)
                return m_doc.At(node, ErrorCategory::NotWellFormed,
                                "the attribute '" + std::string(an) + "' uses the undeclared namespace prefix '" +
                                    std::string(aq.prefix) + "'");
            std::string key = *uri;
            key.push_back('\x01');
            key.append(aq.local);
            m_qualifiedNames.push_back(std::move(key));
        }
    }
    std::sort(m_plainNames.begin(), m_plainNames.end());
    if (auto it = std::adjacent_find(m_plainNames.begin(), m_plainNames.end()); it != m_plainNames.end())
        return m_doc.At(node, ErrorCategory::NotWellFormed,
                        "the element <" + std::string(name) + "> has the attribute '" + std::string(*it) + "' twice");
    std::sort(m_qualifiedNames.begin(), m_qualifiedNames.end());
    if (auto it = std::adjacent_find(m_qualifiedNames.begin(), m_qualifiedNames.end());
        it != m_qualifiedNames.end())
        return m_doc.At(node, ErrorCategory::NotWellFormed,
                        "the element <" + std::string(name) + "> has two attributes with the same namespace and name");
    return std::nullopt;
}

std::optional<Error> Checker::RunSubtree(pugi::xml_node element, size_t elementDepth) {
    if (const std::vector<Binding>* outer = OuterScope::Current()) {
        // Innermost first there; the scope here is searched from its end.
        for (auto it = outer->rbegin(); it != outer->rend(); ++it) m_scope.push_back({it->prefix, it->uri, 0});
    }
    const size_t base = m_scope.size();
    pugi::xml_node node = element;
    size_t depth = elementDepth;
    while (node) {
        switch (node.type()) {
        case pugi::node_element:
            if (auto e = VisitElement(node, depth)) return e;
            break;
        case pugi::node_pcdata: {
            DecodeFailure failure;
            if (!DecodeXmlText(node.value(), false, nullptr, failure))
                return m_doc.At(node, ErrorCategory::NotWellFormed, "the text contains " + failure.reason);
            break;
        }
        case pugi::node_doctype:
        case pugi::node_declaration:
            return m_doc.At(node, ErrorCategory::NotWellFormed, "a declaration inside the document element");
        default: break;
        }
        if (node.type() == pugi::node_element && node.first_child()) {
            node = node.first_child();
            ++depth;
            continue;
        }
        while (node) {
            if (node.type() == pugi::node_element)
                while (m_scope.size() > base && m_scope.back().depth >= depth) m_scope.pop_back();
            if (depth == elementDepth) {
                node = pugi::xml_node();
                break;
            }
            if (node.next_sibling()) {
                node = node.next_sibling();
                break;
            }
            node = node.parent();
            --depth;
        }
    }
    return std::nullopt;
}

std::optional<Error> Checker::Run(const pugi::xml_document& document) {
    // Top level: declarations, comments, processing instructions and one element.
    size_t elements = 0;
    for (pugi::xml_node n : document.children()) {
        switch (n.type()) {
        case pugi::node_element: ++elements; break;
        case pugi::node_doctype:
            return m_doc.At(n, ErrorCategory::NotWellFormed,
                            "the document has a document type declaration, which saved recordsets never have");
        case pugi::node_pcdata:
        case pugi::node_cdata:
            if (!TrimXmlSpace(n.value()).empty())
                return m_doc.At(n, ErrorCategory::NotWellFormed, "text outside the document element");
            break;
        default: break;
        }
    }
    if (elements != 1)
        return m_doc.At(document.last_child(), ErrorCategory::NotWellFormed,
                        elements == 0 ? std::string("the document has no element")
                                      : "the document has " + std::to_string(elements) +
                                            " top-level elements; XML allows one");

    pugi::xml_node node = document.document_element();
    size_t depth = 0;
    while (node) {
        switch (node.type()) {
        case pugi::node_element:
            if (auto e = VisitElement(node, depth)) return e;
            break;
        case pugi::node_pcdata: {
            DecodeFailure failure;
            if (!DecodeXmlText(node.value(), false, nullptr, failure))
                return m_doc.At(node, ErrorCategory::NotWellFormed, "the text contains " + failure.reason);
            break;
        }
        case pugi::node_doctype:
        case pugi::node_declaration:
            return m_doc.At(node, ErrorCategory::NotWellFormed, "a declaration inside the document element");
        default: break;
        }
        if (node.type() == pugi::node_element && node.first_child()) {
            node = node.first_child();
            ++depth;
            continue;
        }
        // Leave this node and every ancestor that has no further sibling.
        while (node) {
            if (node.type() == pugi::node_element)
                while (!m_scope.empty() && m_scope.back().depth >= depth) m_scope.pop_back();
            if (node.next_sibling()) {
                node = node.next_sibling();
                break;
            }
            if (depth == 0) {
                node = pugi::xml_node();
                break;
            }
            node = node.parent();
            --depth;
        }
    }
    return std::nullopt;
}

}  // namespace

// ---------------------------------------------------------------- XmlDocument

std::optional<Error> XmlDocument::Parse(std::string_view bytes) {
    if (bytes.size() > kMaxDocumentBytes)
        return MakeError(ErrorCategory::TooLarge, "the document is " + std::to_string(bytes.size()) +
                                                      " bytes long; at most " + std::to_string(kMaxDocumentBytes) +
                                                      " are read");
    if (auto e = ToUtf8(bytes, m_text)) return e;
    size_t bad = 0;
    const char* problem = "";
    if (!CheckXmlUtf8(m_text, bad, problem))
        return AtOffset(bad, ErrorCategory::NotWellFormed, std::string("the document contains ") + problem);

    const pugi::xml_parse_result r = m_doc.load_buffer(m_text.data(), m_text.size(), kParseFlags, pugi::encoding_utf8);
    if (r.status == pugi::status_out_of_memory) return MakeError(ErrorCategory::OutOfMemory, "out of memory");
    if (!r) {
        const size_t offset = r.offset < 0 ? 0 : static_cast<size_t>(r.offset);
        std::string what = r.description();
        if (r.status == pugi::status_end_element_mismatch && offset + 1 >= m_text.size())
            what = "the document ends before all its elements are closed (it may be truncated)";
        else if (r.status == pugi::status_no_document_element)
            what = "the document has no element";
        if (!what.empty()) what[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(what[0])));
        return AtOffset(offset, ErrorCategory::NotWellFormed, "the document is not well-formed XML: " + what);
    }
    Checker checker(*this);
    return checker.Run(m_doc);
}

void XmlDocument::Position(size_t offset, size_t& line, size_t& column) const noexcept {
    line = 1;
    column = 1;
    const size_t end = std::min(offset, m_text.size());
    for (size_t i = 0; i < end; ++i) {
        const char c = m_text[i];
        if (c == '\n' || (c == '\r' && (i + 1 >= m_text.size() || m_text[i + 1] != '\n'))) {
            ++line;
            column = 1;
        } else if (c != '\r' && (static_cast<unsigned char>(c) & 0xC0) != 0x80) {
            ++column;
        }
    }
}

size_t XmlDocument::OffsetOf(pugi::xml_node node) noexcept {
    const ptrdiff_t off = node ? node.offset_debug() : -1;
    if (off <= 0) return 0;
    // offset_debug points at the name; report the '<' before it.
    return node.type() == pugi::node_element ? static_cast<size_t>(off) - 1 : static_cast<size_t>(off);
}

Error XmlDocument::AtOffset(size_t offset, ErrorCategory category, const std::string& message) const {
    Error e;
    e.category = category;
    Position(offset, e.line, e.column);
    e.message = "line " + std::to_string(e.line) + ", column " + std::to_string(e.column) + ": " + message;
    return e;
}

Error XmlDocument::At(pugi::xml_node node, ErrorCategory category, const std::string& message) const {
    return AtOffset(OffsetOf(node), category, message);
}

std::optional<Error> CheckSubtree(pugi::xml_node element, size_t depth) {
    static const XmlDocument noText;
    Checker checker(noText);
    return checker.RunSubtree(element, depth);
}

bool Utf8DocumentText(std::string_view bytes, std::string_view& text) {
    auto at = [&](size_t i) { return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0x100u; };
    if (at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF) {
        text = bytes.substr(3);
        const std::string enc = DeclaredEncoding(text);
        return enc.empty() || EqualsNoCase(enc, "utf-8") || EqualsNoCase(enc, "utf8");
    }
    if ((at(0) == 0xFF && at(1) == 0xFE) || (at(0) == '<' && at(1) == 0) || (at(0) == 0xFE && at(1) == 0xFF) ||
        (at(0) == 0 && at(1) == '<'))
        return false;
    const std::string enc = DeclaredEncoding(bytes);
    text = bytes;
    return enc.empty() || EqualsNoCase(enc, "utf-8") || EqualsNoCase(enc, "utf8") || EqualsNoCase(enc, "utf-16") ||
           EqualsNoCase(enc, "us-ascii") || EqualsNoCase(enc, "ascii");
}

OuterScope::OuterScope(const std::vector<Binding>* bindings) noexcept : m_previous(t_outerScope) {
    t_outerScope = bindings;
}

OuterScope::~OuterScope() { t_outerScope = m_previous; }

const std::vector<Binding>* OuterScope::Current() noexcept { return t_outerScope; }

std::vector<Binding> ScopeAt(pugi::xml_node element) {
    std::vector<Binding> out;
    for (pugi::xml_node n = element; n && n.type() == pugi::node_element; n = n.parent()) {
        for (pugi::xml_attribute a : n.attributes()) {
            const std::string_view an = a.name();
            if (an == "xmlns") out.push_back({std::string(), AttributeText(a), 0});
            else if (an.substr(0, 6) == "xmlns:") out.push_back({std::string(an.substr(6)), AttributeText(a), 0});
        }
    }
    // An inner declaration hides an outer one of the same prefix.
    std::vector<Binding> unique;
    for (Binding& b : out) {
        bool hidden = false;
        for (const Binding& u : unique) hidden = hidden || u.prefix == b.prefix;
        if (!hidden) unique.push_back(std::move(b));
    }
    return unique;
}

// ---------------------------------------------------------------- names

namespace {

// A name made of XML name characters, without colon, starting with a name
// start character.
bool IsNcNameUtf8(std::string_view s) noexcept {
    if (s.empty()) return false;
    size_t i = 0;
    bool first = true;
    while (i < s.size()) {
        char32_t cp = 0;
        if (!NextUtf8(s, i, cp)) return false;
        if (first ? !IsNameStartChar(cp) : !IsNameChar(cp)) return false;
        first = false;
    }
    return true;
}

}  // namespace

bool IsQName(std::string_view name) noexcept {
    const QName q = SplitName(name);
    return IsNcNameUtf8(q.local) && (name.find(':') == std::string_view::npos || IsNcNameUtf8(q.prefix));
}

QName SplitName(std::string_view name) noexcept {
    const size_t colon = name.find(':');
    if (colon == std::string_view::npos) return {{}, name};
    return {name.substr(0, colon), name.substr(colon + 1)};
}

std::string NamespaceOf(pugi::xml_node node, std::string_view prefix) {
    if (prefix == "xml") return std::string(kNsXml);
    for (pugi::xml_node n = node; n && n.type() == pugi::node_element; n = n.parent()) {
        for (pugi::xml_attribute a : n.attributes()) {
            const std::string_view an = a.name();
            if (prefix.empty() ? an == "xmlns" : (an.size() == 6 + prefix.size() && an.substr(0, 6) == "xmlns:" &&
                                                  an.substr(6) == prefix))
                return AttributeText(a);
        }
    }
    if (const std::vector<Binding>* outer = OuterScope::Current()) {
        for (const Binding& b : *outer)
            if (b.prefix == prefix) return b.uri;
    }
    return {};
}

ExpandedName ElementName(pugi::xml_node element) {
    const QName q = SplitName(element.name());
    return {NamespaceOf(element, q.prefix), q.local};
}

std::string AttributeText(pugi::xml_attribute attribute) {
    std::string out;
    DecodeFailure failure;
    DecodeXmlText(attribute.value(), true, &out, failure);
    return out;
}

}  // namespace comhost::persist::detail
