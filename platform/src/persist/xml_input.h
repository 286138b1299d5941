// The XML layer of the reader: brings the document to UTF-8, parses it with
// pugixml and checks what pugixml leaves unchecked (references, duplicate
// attributes, namespaces, one document element), so that only well-formed,
// namespace-well-formed documents reach the recordset reader.
#pragma once

#include "persist.h"

#include <pugixml.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace comhost::persist::detail {

inline constexpr std::string_view kNsSchema = "uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882";
inline constexpr std::string_view kNsDataTypes = "uuid:C2F41010-65B3-11d1-A29F-00AA00C14882";
inline constexpr std::string_view kNsRowset = "urn:schemas-microsoft-com:rowset";
inline constexpr std::string_view kNsRow = "#RowsetSchema";
inline constexpr std::string_view kNsXml = "http://www.w3.org/XML/1998/namespace";

// Deepest element nesting accepted.
inline constexpr size_t kMaxDepth = 256;

// A parsed, checked document.
class XmlDocument {
public:
    // Converts, parses and checks `bytes`; on failure returns the error.
    std::optional<Error> Parse(std::string_view bytes);

    pugi::xml_node Root() const { return m_doc.document_element(); }

    // 1-based line and column of a byte offset in the (UTF-8) text.
    void Position(size_t offset, size_t& line, size_t& column) const noexcept;
    // Offset of a node in the text (0 when unknown).
    static size_t OffsetOf(pugi::xml_node node) noexcept;

    // An error tied to the place of `node` ("line 3, column 5: " prefixed).
    Error At(pugi::xml_node node, ErrorCategory category, const std::string& message) const;
    Error AtOffset(size_t offset, ErrorCategory category, const std::string& message) const;

private:
    std::string m_text;  // the document as UTF-8, what pugixml parsed
    pugi::xml_document m_doc;
};

// A namespace binding in effect: prefix (empty: the default namespace) and
// URI, with the depth of the element that declared it.
struct Binding {
    std::string prefix;
    std::string uri;
    size_t depth;
};

// The bindings in effect at `element` (its own declarations and its
// ancestors'), innermost first.
std::vector<Binding> ScopeAt(pugi::xml_node element);

// Namespace lookups (NamespaceOf, ElementName) that reach the top of a tree
// holding only part of a document continue in these bindings, the ones in
// effect where that part sits in the whole document.  Set for the time a
// part is read; one per thread.
class OuterScope {
public:
    explicit OuterScope(const std::vector<Binding>* bindings) noexcept;
    ~OuterScope();
    OuterScope(const OuterScope&) = delete;
    OuterScope& operator=(const OuterScope&) = delete;
    static const std::vector<Binding>* Current() noexcept;

private:
    const std::vector<Binding>* m_previous;
};

// Runs the checks of XmlDocument::Parse (names, namespaces, references in
// text, duplicate attributes) on one element, which sits `depth` levels below
// the document element, and its descendants, in the current OuterScope.
// The error's position is not meaningful.
std::optional<Error> CheckSubtree(pugi::xml_node element, size_t depth);

// The document as UTF-8 text when it is UTF-8 already (a byte-order mark
// removed); false when it needs converting first.
bool Utf8DocumentText(std::string_view bytes, std::string_view& text);

// How documents are parsed.  No entity or end-of-line processing by the
// parser: pugixml leaves malformed references and a '<' in attribute values
// as they are, so the raw text stays as written and DecodeXmlText checks and
// decodes it.  As a fragment the parser keeps text outside the document
// element, which the checks refuse, instead of dropping it.
inline constexpr unsigned kParseFlags = pugi::parse_cdata | pugi::parse_declaration | pugi::parse_doctype |
                                        pugi::parse_pi | pugi::parse_comments | pugi::parse_fragment;

// A name split at its colon.
struct QName {
    std::string_view prefix;
    std::string_view local;
};
QName SplitName(std::string_view name) noexcept;
// prefix:local or local, each part an XML name without colon.
bool IsQName(std::string_view name) noexcept;

// The namespace URI bound to `prefix` (empty: the default namespace) at
// `node`, found in the declarations of the node and its ancestors.  Empty
// when unbound (for the default namespace: no namespace).
std::string NamespaceOf(pugi::xml_node node, std::string_view prefix);

// Namespace and local name of an element.
struct ExpandedName {
    std::string ns;
    std::string_view local;
    bool Is(std::string_view n, std::string_view l) const noexcept { return ns == n && local == l; }
};
ExpandedName ElementName(pugi::xml_node element);

// The decoded value of an attribute (the document has been checked, so the
// decoding cannot fail).
std::string AttributeText(pugi::xml_attribute attribute);

}  // namespace comhost::persist::detail
