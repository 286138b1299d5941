// Reading a saved recordset: the schema section becomes the columns, the
// data section the rows with their pending-change states.
#include "persist.h"

#include "text.h"
#include "values.h"
#include "xml_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <emmintrin.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <cerrno>
#include <memory>
#include <new>
#include <stdexcept>
#include <system_error>
#include <unordered_map>

namespace comhost::persist {

namespace {

using namespace detail;

// Chapters may nest; deeper than this is refused rather than recursed into.
constexpr size_t kMaxChapterNesting = 16;

// What reading the rows needs to know about one schema.
struct RowContext {
    const Schema* schema = nullptr;
    std::vector<std::string> xmlNames;  // per column, UTF-8
    std::vector<ValueForm> forms;       // per column
    std::unordered_map<std::string_view, size_t> byName;
    std::vector<size_t> chapterColumns;  // indexes of the chapter columns
    std::unordered_map<std::string_view, size_t> chapterByName;  // -> index in chapterColumns
    std::vector<std::unique_ptr<RowContext>> chapters;           // per chapter column
};

// A short, printable excerpt of a value for messages.
std::string Excerpt(std::string_view text) {
    constexpr size_t kMax = 40;
    std::string out;
    size_t i = 0;
    size_t chars = 0;
    while (i < text.size() && chars < kMax) {
        const size_t start = i;
        char32_t cp = 0;
        if (!NextUtf8(text, i, cp)) break;
        if (cp < 0x20) out += ' ';
        else out.append(text.substr(start, i - start));
        ++chars;
    }
    if (i < text.size()) out += "...";
    return out;
}

std::string Quoted(const std::u16string& name) {
    std::string s;
    Utf16ToUtf8(name, s);
    return "\"" + s + "\"";
}

const char* FormDescription(ValueForm form) {
    switch (form) {
    case ValueForm::Boolean: return "a boolean (True, False, 1 or 0)";
    case ValueForm::Signed:
    case ValueForm::Unsigned: return "an integer";
    case ValueForm::Single:
    case ValueForm::Double: return "a number";
    case ValueForm::Currency:
    case ValueForm::Decimal: return "a decimal number";
    case ValueForm::DateTime: return "a date and time (yyyy-mm-ddThh:mm:ss)";
    case ValueForm::DateOnly: return "a date (yyyy-mm-dd)";
    case ValueForm::TimeOnly: return "a time (hh:mm:ss)";
    case ValueForm::String: return "a string";
    case ValueForm::BinHex: return "hexadecimal binary data";
    case ValueForm::Base64: return "base64 binary data";
    case ValueForm::Guid: return "a GUID ({XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX})";
    case ValueForm::Chapter: return "a chapter (its rows are child elements)";
    case ValueForm::None: break;
    }
    return "a value";
}

class Reader {
public:
    explicit Reader(const XmlDocument& doc) : m_doc(doc) {}

    using MaybeError = std::optional<Error>;

    Result<Table> Run();
    // The schema section, and where the data section is.
    MaybeError ReadHead(Schema& schema, RowContext& ctx, pugi::xml_node& dataElement);
    MaybeError ReadUpdate(pugi::xml_node update, const RowContext& ctx, Row& row);

private:

    Error At(pugi::xml_node node, ErrorCategory c, const std::string& message) const {
        return m_doc.At(node, c, message);
    }

    MaybeError ReadSchema(pugi::xml_node schemaEl, Schema& schema, RowContext& ctx);
    MaybeError ReadElementType(pugi::xml_node et, bool chapter, size_t nesting, Schema& schema, RowContext& ctx);
    MaybeError ReadAttributeType(pugi::xml_node at, Column& column, std::string& xmlName);
    MaybeError ReadFlag(pugi::xml_node node, pugi::xml_attribute a, bool& out) const;
    MaybeError ReadNumber(pugi::xml_node node, pugi::xml_attribute a, int32_t& out) const;
    // A column as read, before the columns are put in order.
    struct Pending {
        Column column;
        std::string xmlName;
        pugi::xml_node node;
        std::unique_ptr<RowContext> chapter;
    };
    MaybeError BuildContext(std::vector<Pending>& pending, Schema& schema, RowContext& ctx);

    MaybeError ReadRows(pugi::xml_node container, const RowContext& ctx, std::vector<Row>& rows);
    // Reads the attributes and chapter rows of a row element into `row`.
    // With `present`, marks the columns the element gives (for the changed
    // row of an update) and accepts rs:setnull there.
    MaybeError ReadRow(pugi::xml_node element, const RowContext& ctx, Row& row, std::vector<bool>* present);

    const XmlDocument& m_doc;
    // Schema-level s:AttributeType elements, by name, for s:attribute references.
    std::unordered_map<std::string, pugi::xml_node> m_globalColumns;
};

// ---------------------------------------------------------------- schema

Reader::MaybeError Reader::ReadFlag(pugi::xml_node node, pugi::xml_attribute a, bool& out) const {
    const std::string text = AttributeText(a);
    if (!ParseBoolean(text, out) || TrimXmlSpace(text) == "-1")
        return At(node, ErrorCategory::BadSchema,
                  "the attribute " + std::string(a.name()) + " has the value '" + Excerpt(text) +
                      "'; it must be true or false");
    return std::nullopt;
}

Reader::MaybeError Reader::ReadNumber(pugi::xml_node node, pugi::xml_attribute a, int32_t& out) const {
    const std::string text = AttributeText(a);
    const std::string_view t = TrimXmlSpace(text);
    int64_t v = 0;
    bool ok = !t.empty() && t.size() <= 10;
    for (size_t i = 0; ok && i < t.size(); ++i) {
        if (t[i] < '0' || t[i] > '9') ok = false;
        else v = v * 10 + (t[i] - '0');
    }
    if (!ok || v < 1 || v > INT32_MAX)
        return At(node, ErrorCategory::BadSchema,
                  "rs:number has the value '" + Excerpt(text) + "'; it must be a positive whole number");
    out = static_cast<int32_t>(v);
    return std::nullopt;
}

Reader::MaybeError Reader::ReadAttributeType(pugi::xml_node at, Column& column, std::string& xmlName) {
    bool haveName = false;
    bool fixed = false, isLong = false, mayBeNull = true, nullable = false;
    std::optional<std::string> dtType, dbType;
    std::optional<std::u16string> realName;

    // The type may be given on the s:AttributeType itself or on its
    // s:datatype child; both are read, the child last.
    pugi::xml_node datatype;
    for (pugi::xml_node c : at.children()) {
        if (c.type() != pugi::node_element) continue;
        if (ElementName(c).Is(kNsSchema, "datatype")) {
            if (datatype)
                return At(c, ErrorCategory::BadSchema, "a column definition has two s:datatype elements");
            datatype = c;
        }
    }

    for (pugi::xml_node holder : {at, datatype}) {
        if (!holder) continue;
        const bool onDatatype = holder == datatype;
        for (pugi::xml_attribute a : holder.attributes()) {
            const QName q = SplitName(a.name());
            if (q.prefix == "xmlns" || (q.prefix.empty() && q.local == "xmlns")) continue;
            if (q.prefix.empty()) {
                if (!onDatatype && q.local == "name") {
                    xmlName = AttributeText(a);
                    haveName = true;
                }
                continue;
            }
            const std::string ns = NamespaceOf(holder, q.prefix);
            const std::string_view l = q.local;
            if (ns == kNsDataTypes) {
                if (l == "type") {
                    dtType = std::string(TrimXmlSpace(AttributeText(a)));
                } else if (l == "maxLength") {
                    const std::string text = AttributeText(a);
                    const std::string_view t = TrimXmlSpace(text);
                    uint64_t v = 0;
                    bool ok = !t.empty() && t.size() <= 10;
                    for (size_t i = 0; ok && i < t.size(); ++i) {
                        if (t[i] < '0' || t[i] > '9') ok = false;
                        else v = v * 10 + static_cast<uint64_t>(t[i] - '0');
                    }
                    if (!ok || v > UINT32_MAX)
                        return At(holder, ErrorCategory::BadSchema,
                                  "dt:maxLength has the value '" + Excerpt(text) +
                                      "'; it must be a whole number from 0 to 4294967295");
                    column.maxLength = static_cast<uint32_t>(v);
                }
                continue;
            }
            if (ns != kNsRowset) continue;
            bool flag = false;
            auto readFlag = [&](uint32_t bit) -> MaybeError {
                if (auto e = ReadFlag(holder, a, flag)) return e;
                if (flag) column.attributes |= bit;
                else column.attributes &= ~bit;
                return std::nullopt;
            };
            auto readByte = [&](std::optional<uint8_t>& out) -> MaybeError {
                const std::string text = AttributeText(a);
                const std::string_view t = TrimXmlSpace(text);
                unsigned v = 0;
                bool ok = !t.empty() && t.size() <= 3;
                for (size_t i = 0; ok && i < t.size(); ++i) {
                    if (t[i] < '0' || t[i] > '9') ok = false;
                    else v = v * 10 + static_cast<unsigned>(t[i] - '0');
                }
                if (!ok || v > 255)
                    return At(holder, ErrorCategory::BadSchema,
                              "rs:" + std::string(l) + " has the value '" + Excerpt(text) +
                                  "'; it must be a whole number from 0 to 255");
                out = static_cast<uint8_t>(v);
                return std::nullopt;
            };
            MaybeError e;
            if (l == "name") realName = Utf8ToUtf16(AttributeText(a));
            else if (l == "number") {
                if ((e = ReadNumber(holder, a, column.number))) return e;
            } else if (l == "nullable") {
                if ((e = ReadFlag(holder, a, nullable))) return e;
            } else if (l == "maybenull") {
                if ((e = ReadFlag(holder, a, mayBeNull))) return e;
            } else if (l == "fixedlength") {
                if ((e = ReadFlag(holder, a, fixed))) return e;
            } else if (l == "long") {
                if ((e = ReadFlag(holder, a, isLong))) return e;
            } else if (l == "maydefer") e = readFlag(field_attr::MayDefer);
            else if (l == "write") e = readFlag(field_attr::Updatable);
            else if (l == "writeunknown") e = readFlag(field_attr::UnknownUpdatable);
            else if (l == "rowid") e = readFlag(field_attr::RowID);
            else if (l == "rowver") e = readFlag(field_attr::RowVersion);
            else if (l == "cachedeferred") e = readFlag(field_attr::CacheDeferred);
            else if (l == "negativescale") e = readFlag(field_attr::NegativeScale);
            else if (l == "keycolumn") e = readFlag(field_attr::KeyColumn);
            else if (l == "autoincrement") e = ReadFlag(holder, a, column.autoIncrement);
            else if (l == "hidden") e = ReadFlag(holder, a, column.hidden);
            else if (l == "basecatalog") column.baseCatalog = Utf8ToUtf16(AttributeText(a));
            else if (l == "baseschema") column.baseSchema = Utf8ToUtf16(AttributeText(a));
            else if (l == "basetable") column.baseTable = Utf8ToUtf16(AttributeText(a));
            else if (l == "basecolumn") column.baseColumn = Utf8ToUtf16(AttributeText(a));
            else if (l == "precision") e = readByte(column.precision);
            else if (l == "scale") e = readByte(column.scale);
            else if (l == "dbtype") dbType = std::string(TrimXmlSpace(AttributeText(a)));
            else {
                auto& list = onDatatype ? column.extraDatatype : column.extra;
                list.push_back({std::string(l), Utf8ToUtf16(AttributeText(a))});
            }
            if (e) return e;
        }
    }

    if (!haveName || xmlName.empty())
        return At(at, ErrorCategory::BadSchema, "a column definition (s:AttributeType) has no name");
    if (xmlName.find(':') != std::string::npos || !IsNcName(Utf8ToUtf16(xmlName)))
        return At(at, ErrorCategory::BadSchema,
                  "the column name '" + Excerpt(xmlName) +
                      "' is not a valid XML attribute name; such names need an alias with rs:name");
    column.name = realName ? *realName : Utf8ToUtf16(xmlName);
    // The alias is kept only when it differs from the name; otherwise Save
    // writes the name again.
    if (realName && *realName != Utf8ToUtf16(xmlName)) column.xmlName = Utf8ToUtf16(xmlName);

    if (fixed) column.attributes |= field_attr::Fixed;
    if (isLong) column.attributes |= field_attr::Long;
    if (nullable) column.attributes |= field_attr::IsNullable;
    if (mayBeNull) column.attributes |= field_attr::MayBeNull;
    else column.attributes &= ~field_attr::MayBeNull;

    column.dtType = dtType.value_or(std::string());
    column.dbType = dbType.value_or(std::string());
    const std::optional<DataType> type = TypeFromXml(column.dtType, column.dbType, fixed, isLong);
    if (!type)
        return At(datatype ? datatype : at, ErrorCategory::UnsupportedType,
                  "column " + Quoted(column.name) + " has the data type '" + Excerpt(column.dtType) +
                      "', which is not supported");
    column.type = *type;
    // The document's spelling is kept only where it differs from what Save
    // writes for the type anyway.
    const XmlType canonical = CanonicalXmlType(column.type);
    if (column.dtType.empty() || (column.dtType == canonical.dtType && column.dbType == canonical.dbType)) {
        column.dtType.clear();
        column.dbType.clear();
    }
    return std::nullopt;
}

Reader::MaybeError Reader::ReadElementType(pugi::xml_node et, bool chapter, size_t nesting, Schema& schema,
                                           RowContext& ctx) {
    if (nesting > kMaxChapterNesting)
        return At(et, ErrorCategory::TooLarge,
                  "chapters are nested more than " + std::to_string(kMaxChapterNesting) + " levels deep");
    for (pugi::xml_attribute a : et.attributes()) {
        const QName q = SplitName(a.name());
        if (q.prefix.empty() || q.prefix == "xmlns") continue;
        if (NamespaceOf(et, q.prefix) != kNsRowset) continue;
        if (q.local == "updatable") {
            if (auto e = ReadFlag(et, a, schema.updatable)) return e;
        } else if (q.local == "relation" && chapter) {
            schema.relation = Utf8ToUtf16(AttributeText(a));
        } else if (chapter && (q.local == "name" || q.local == "number")) {
            // Read by the parent as the chapter column's own attributes.
        } else {
            schema.properties.push_back({std::string(q.local), Utf8ToUtf16(AttributeText(a))});
        }
    }

    std::vector<Pending> pending;
    for (pugi::xml_node c : et.children()) {
        if (c.type() != pugi::node_element) continue;
        const ExpandedName n = ElementName(c);
        if (n.ns != kNsSchema) continue;
        if (n.local == "AttributeType" || n.local == "attribute") {
            pugi::xml_node def = c;
            if (n.local == "attribute") {
                const std::string ref = AttributeText(c.attribute("type"));
                auto it = m_globalColumns.find(ref);
                if (it == m_globalColumns.end())
                    return At(c, ErrorCategory::BadSchema,
                              "s:attribute refers to the column '" + Excerpt(ref) +
                                  "', which the schema does not define");
                def = it->second;
            }
            Pending p;
            if (auto e = ReadAttributeType(def, p.column, p.xmlName)) return e;
            p.node = c;
            pending.push_back(std::move(p));
        } else if (n.local == "ElementType") {
            // A chapter column: its rows' schema nests here.
            Column column;
            column.type = DataType::Chapter;
            column.attributes = field_attr::MayBeNull | field_attr::IsChapter;
            std::string xmlName = AttributeText(c.attribute("name"));
            std::optional<std::u16string> realName;
            for (pugi::xml_attribute a : c.attributes()) {
                const QName q = SplitName(a.name());
                if (q.prefix.empty() || q.prefix == "xmlns" || NamespaceOf(c, q.prefix) != kNsRowset) continue;
                if (q.local == "name") {
                    realName = Utf8ToUtf16(AttributeText(a));
                } else if (q.local == "number") {
                    if (auto e = ReadNumber(c, a, column.number)) return e;
                }
            }
            if (xmlName.empty() || !IsNcName(Utf8ToUtf16(xmlName)))
                return At(c, ErrorCategory::BadSchema, "a chapter (nested s:ElementType) has no valid name");
            column.name = realName ? *realName : Utf8ToUtf16(xmlName);
            if (realName && *realName != Utf8ToUtf16(xmlName)) column.xmlName = Utf8ToUtf16(xmlName);
            Schema child;
            auto childCtx = std::make_unique<RowContext>();
            if (auto e = ReadElementType(c, true, nesting + 1, child, *childCtx)) return e;
            column.chapter = Indirect<Schema>(std::move(child));
            childCtx->schema = column.chapter.get();
            pending.push_back({std::move(column), std::move(xmlName), c, std::move(childCtx)});
        }
        // s:extends and anything else carry nothing for the rows.
    }
    if (pending.empty())
        return At(et, ErrorCategory::BadSchema,
                  chapter ? "the chapter '" + Excerpt(AttributeText(et.attribute("name"))) + "' defines no column"
                          : std::string("the schema defines no column"));
    return BuildContext(pending, schema, ctx);
}

// Orders the columns by rs:number (columns without one follow in document
// order), checks for duplicates and fills the lookup tables.
Reader::MaybeError Reader::BuildContext(std::vector<Pending>& pending, Schema& schema, RowContext& ctx) {
    std::stable_sort(pending.begin(), pending.end(), [](const Pending& a, const Pending& b) {
        const int32_t na = a.column.number;
        const int32_t nb = b.column.number;
        if ((na == 0) != (nb == 0)) return nb == 0;
        return na < nb;
    });
    const size_t n = pending.size();
    schema.columns.clear();
    schema.columns.reserve(n);
    ctx.xmlNames.clear();
    ctx.xmlNames.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        Pending& p = pending[i];
        if (i > 0 && p.column.number != 0 && p.column.number == pending[i - 1].column.number)
            return At(p.node, ErrorCategory::BadSchema,
                      "two columns have the same rs:number " + std::to_string(p.column.number));
        schema.columns.push_back(std::move(p.column));
        ctx.xmlNames.push_back(std::move(p.xmlName));
    }
    ctx.schema = &schema;
    // Numbers that are just the positions 1..n say nothing more; other
    // numberings (gaps, unnumbered columns) are kept as written.
    bool positions = true;
    for (size_t i = 0; i < n; ++i) positions = positions && schema.columns[i].number == static_cast<int64_t>(i) + 1;
    if (positions)
        for (Column& c : schema.columns) c.number = 0;
    for (size_t i = 0; i < n; ++i) {
        const Column& c = schema.columns[i];
        ctx.forms.push_back(FormOf(c));
        if (!ctx.byName.emplace(ctx.xmlNames[i], i).second)
            return At(pending[i].node, ErrorCategory::BadSchema,
                      "two columns are named '" + Excerpt(ctx.xmlNames[i]) + "'");
        if (c.type == DataType::Chapter) {
            ctx.chapterByName.emplace(ctx.xmlNames[i], ctx.chapterColumns.size());
            ctx.chapterColumns.push_back(i);
            ctx.chapters.push_back(std::move(pending[i].chapter));
        }
    }
    return std::nullopt;
}

Reader::MaybeError Reader::ReadSchema(pugi::xml_node schemaEl, Schema& schema, RowContext& ctx) {
    const std::string id = AttributeText(schemaEl.attribute("id"));
    if (id != "RowsetSchema")
        return At(schemaEl, ErrorCategory::NotRecordset,
                  "the s:Schema element has the id '" + Excerpt(id) + "'; a saved recordset's schema is 'RowsetSchema'");
    pugi::xml_node rowType;
    for (pugi::xml_node c : schemaEl.children()) {
        if (c.type() != pugi::node_element) continue;
        const ExpandedName n = ElementName(c);
        if (n.ns != kNsSchema) continue;
        if (n.local == "ElementType" && AttributeText(c.attribute("name")) == "row") {
            if (rowType) return At(c, ErrorCategory::BadSchema, "the schema defines the row element type twice");
            rowType = c;
        } else if (n.local == "AttributeType") {
            const std::string name = AttributeText(c.attribute("name"));
            if (!m_globalColumns.emplace(name, c).second)
                return At(c, ErrorCategory::BadSchema, "the schema defines the column '" + Excerpt(name) + "' twice");
        }
    }
    if (!rowType)
        return At(schemaEl, ErrorCategory::NotRecordset,
                  "the schema has no row definition (s:ElementType name='row')");
    return ReadElementType(rowType, false, 0, schema, ctx);
}

// ---------------------------------------------------------------- rows

Reader::MaybeError Reader::ReadRow(pugi::xml_node element, const RowContext& ctx, Row& row,
                                   std::vector<bool>* present) {
    const Schema& schema = *ctx.schema;
    row.values.assign(schema.columns.size(), Value());
    row.chapters.assign(ctx.chapterColumns.size(), {});
    if (present) present->assign(schema.columns.size(), false);
    std::vector<size_t> setNull;

    for (pugi::xml_attribute a : element.attributes()) {
        const std::string_view an = a.name();
        const QName q = SplitName(an);
        if (!q.prefix.empty() || q.local == "xmlns") {
            // Attributes in other namespaces carry no column.  The changed
            // row of an update may list columns set to NULL in rs:setnull.
            if (present && q.prefix != "xmlns" && q.local == "setnull" &&
                NamespaceOf(element, q.prefix) == kNsRowset) {
                const std::string list = AttributeText(a);
                size_t i = 0;
                while (i < list.size()) {
                    while (i < list.size() && list[i] == ' ') ++i;
                    const size_t start = i;
                    while (i < list.size() && list[i] != ' ') ++i;
                    if (i == start) break;
                    const std::string_view name = std::string_view(list).substr(start, i - start);
                    auto it = ctx.byName.find(name);
                    if (it == ctx.byName.end())
                        return At(element, ErrorCategory::UnknownColumn,
                                  "rs:setnull names '" + Excerpt(name) + "', which is not a column of the schema");
                    setNull.push_back(it->second);
                }
            }
            continue;
        }
        auto it = ctx.byName.find(an);
        if (it == ctx.byName.end())
            return At(element, ErrorCategory::UnknownColumn,
                      "the row has the attribute '" + Excerpt(an) + "', which is not a column of the schema");
        const size_t index = it->second;
        const Column& column = schema.columns[index];
        const ValueForm form = ctx.forms[index];
        const std::string text = AttributeText(a);
        const ValueStatus st = ParseValue(column, form, text, row.values[index]);
        if (st == ValueStatus::Syntax)
            return At(element, ErrorCategory::BadValue,
                      "the value '" + Excerpt(text) + "' of column " + Quoted(column.name) + " (" +
                          DataTypeName(column.type) + ") is not " + FormDescription(form));
        if (st == ValueStatus::Range) {
            std::string why = "does not fit the column";
            if (form == ValueForm::String || form == ValueForm::BinHex || form == ValueForm::Base64)
                why = "is longer than the column's size " + std::to_string(column.maxLength.value_or(0));
            else if (form == ValueForm::DateTime || form == ValueForm::DateOnly || form == ValueForm::TimeOnly)
                why = "is not a valid date from the years 100 to 9999";
            else
                why = "is outside the range of " + DataTypeName(column.type);
            return At(element, ErrorCategory::ValueOutOfRange,
                      "the value '" + Excerpt(text) + "' of column " + Quoted(column.name) + " " + why);
        }
        if (present) (*present)[index] = true;
    }
    for (size_t index : setNull) {
        row.values[index] = Value();
        (*present)[index] = true;
    }

    if (!ctx.chapterColumns.empty()) {
        for (pugi::xml_node c : element.children()) {
            if (c.type() != pugi::node_element) continue;
            const QName q = SplitName(c.name());
            auto it = ctx.chapterByName.find(q.local);
            if (it == ctx.chapterByName.end()) continue;
            const std::string ns = NamespaceOf(c, q.prefix);
            if (!ns.empty() && ns != kNsRow) continue;
            Row child;
            if (auto e = ReadRow(c, *ctx.chapters[it->second], child, nullptr)) return e;
            row.chapters[it->second].push_back(std::move(child));
        }
    }
    return std::nullopt;
}

Reader::MaybeError Reader::ReadUpdate(pugi::xml_node update, const RowContext& ctx, Row& row) {
    pugi::xml_node original, changed;
    for (pugi::xml_node c : update.children()) {
        if (c.type() != pugi::node_element) continue;
        const ExpandedName n = ElementName(c);
        if (n.Is(kNsRowset, "original") && !original && !changed) {
            original = c;
        } else if (n.Is(kNsRow, "row") && original && !changed) {
            changed = c;
        } else if (n.Is(kNsRowset, "original") || n.Is(kNsRow, "row")) {
            return At(c, ErrorCategory::BadData,
                      "an rs:update section holds one rs:original row followed by one changed z:row");
        }
    }
    if (!original || !changed)
        return At(update, ErrorCategory::BadData,
                  "an rs:update section needs an rs:original row followed by the changed z:row");
    pugi::xml_node originalRow;
    for (pugi::xml_node c : original.children()) {
        if (c.type() != pugi::node_element || !ElementName(c).Is(kNsRow, "row")) continue;
        if (originalRow)
            return At(c, ErrorCategory::BadData, "an rs:original section holds more than one row");
        originalRow = c;
    }
    if (!originalRow) return At(original, ErrorCategory::BadData, "an rs:original section holds no row");

    Row before;
    if (auto e = ReadRow(originalRow, ctx, before, nullptr)) return e;
    Row after;
    std::vector<bool> present;
    if (auto e = ReadRow(changed, ctx, after, &present)) return e;
    // The changed row gives the changed columns (or all of them); the others
    // keep their original values.
    row.values = before.values;
    for (size_t i = 0; i < present.size(); ++i)
        if (present[i]) row.values[i] = std::move(after.values[i]);
    row.original = std::move(before.values);
    row.chapters = std::move(after.chapters);
    row.state = RowState::Modified;
    return std::nullopt;
}

Reader::MaybeError Reader::ReadRows(pugi::xml_node container, const RowContext& ctx, std::vector<Row>& rows) {
    for (pugi::xml_node c : container.children()) {
        if (c.type() != pugi::node_element) continue;
        const ExpandedName n = ElementName(c);
        if (n.Is(kNsRow, "row")) {
            Row row;
            if (auto e = ReadRow(c, ctx, row, nullptr)) return e;
            rows.push_back(std::move(row));
        } else if (n.Is(kNsRowset, "insert") || n.Is(kNsRowset, "delete")) {
            const RowState state = n.local == "insert" ? RowState::Inserted : RowState::Deleted;
            for (pugi::xml_node r : c.children()) {
                if (r.type() != pugi::node_element || !ElementName(r).Is(kNsRow, "row")) continue;
                Row row;
                if (auto e = ReadRow(r, ctx, row, nullptr)) return e;
                row.state = state;
                rows.push_back(std::move(row));
            }
        } else if (n.Is(kNsRowset, "update")) {
            Row row;
            if (auto e = ReadUpdate(c, ctx, row)) return e;
            rows.push_back(std::move(row));
        }
        // Other elements in the data section are ignored, as ADO does.
    }
    return std::nullopt;
}

// ---------------------------------------------------------------- document

Result<Table> Reader::Run() {
    Table table;
    RowContext ctx;
    pugi::xml_node dataEl;
    if (auto e = ReadHead(table.schema, ctx, dataEl)) return *e;
    if (auto e = ReadRows(dataEl, ctx, table.rows)) return *e;
    return table;
}

Reader::MaybeError Reader::ReadHead(Schema& schema, RowContext& ctx, pugi::xml_node& dataElement) {
    const pugi::xml_node root = m_doc.Root();
    const ExpandedName rootName = ElementName(root);
    if (!rootName.Is("", "xml"))
        return At(root, ErrorCategory::NotRecordset,
                  "the document element is <" + Excerpt(root.name()) +
                      ">, not the <xml> element of a saved recordset (a recordset inside another document is not "
                      "read)");
    pugi::xml_node schemaEl, dataEl;
    for (pugi::xml_node c : root.children()) {
        if (c.type() != pugi::node_element) continue;
        const ExpandedName n = ElementName(c);
        if (n.Is(kNsSchema, "Schema")) {
            if (schemaEl) return At(c, ErrorCategory::NotRecordset, "the document has two schema sections");
            if (dataEl) return At(c, ErrorCategory::NotRecordset, "the schema section follows the data section");
            schemaEl = c;
        } else if (n.Is(kNsRowset, "data")) {
            if (dataEl) return At(c, ErrorCategory::NotRecordset, "the document has two rs:data sections");
            dataEl = c;
        }
        // Elements of other vocabularies that applications add are ignored.
    }
    if (!schemaEl)
        return At(root, ErrorCategory::NotRecordset, "the document has no schema section (s:Schema)");
    if (!dataEl) return At(root, ErrorCategory::NotRecordset, "the document has no data section (rs:data)");
    dataElement = dataEl;
    return ReadSchema(schemaEl, schema, ctx);
}

Error OutOfMemory() {
    Error e;
    e.category = ErrorCategory::OutOfMemory;
    e.message = "out of memory";
    return e;
}

// ---------------------------------------------------------------- reading by parts

// Thrown where reading by parts stops; the document is then read whole,
// which gives the same values or the exact error.
struct GiveUp {};

std::string_view LocalPart(std::string_view qname) noexcept {
    const size_t colon = qname.find(':');
    return colon == std::string_view::npos ? qname : qname.substr(colon + 1);
}

// Whether n bytes at a and b are the same; inline, for the short names
// compared once per attribute or tag.
inline bool SameBytes(const char* a, const char* b, size_t n) noexcept {
    auto same = [](const char* x, const char* y, auto word) {
        decltype(word) u = 0, v = 0;
        std::memcpy(&u, x, sizeof u);
        std::memcpy(&v, y, sizeof v);
        return u == v;
    };
    if (n >= 8) {
        for (; n > 8; a += 8, b += 8, n -= 8)
            if (!same(a, b, uint64_t{})) return false;
        // The last eight bytes, overlapping those compared before.
        return same(a + n - 8, b + n - 8, uint64_t{});
    }
    if (n >= 4) return same(a, b, uint32_t{}) && same(a + n - 4, b + n - 4, uint32_t{});
    for (; n > 0; ++a, ++b, --n)
        if (*a != *b) return false;
    return true;
}

// A large document read a part of its data section at a time.  The head (up
// to the data section's start tag) is parsed and checked as a document of
// its own, closed by end tags added to it; the data section is cut between
// rows into parts of about kPartBytes, each parsed as a fragment with the
// namespace bindings of the data section around it.  Rows are checked and
// read here directly; anything else in the data section goes through the
// general checks and reader.  Whatever this does not handle, it gives up on
// (GiveUp), and the caller reads the document whole.
class PartReader {
public:
    PartReader(std::string_view text, RowSink& sink, size_t partBytes)
        : m_text(text), m_sink(sink), m_partBytes(partBytes ? partBytes : 1) {}

    void Run();

private:
    enum class Container { Data, Insert, Delete };
    // A tag in the rowset namespace's prefix found in the data section.
    struct RowsetTag {
        size_t pos;
        size_t end;
        std::string_view local;
        bool close;
        bool empty;
    };

    [[noreturn]] static void Stop() { throw GiveUp{}; }
    size_t TagEnd(size_t i) const;
    std::string_view TagName(size_t i) const;
    void FindDataSection();
    void FindBodyEnd();
    void ReadHead();
    void FindRowsetTags();
    void ReadSegment(size_t from, size_t to, Container container);
    void ReadPart(size_t from, size_t to, Container container);
    void ReadRowFast(pugi::xml_node row, Container container);
    size_t ScanRows(size_t from, size_t to, Container container);
    void ParseNodes(size_t size, Container container);
    void BeginRow(Container container);
    // The column an attribute name gives (columns mostly come in schema
    // order, so `expect` is tried first); npos when none.
    size_t ColumnOf(const char* name, size_t length, size_t expect) const noexcept;
    // Sets the value of a column from the raw attribute text; `plain` when
    // the text needs no decoding.
    void TakeValue(size_t index, std::string_view raw, bool plain);
    bool IsRow(pugi::xml_node element);

    std::string_view m_text;
    RowSink& m_sink;
    const size_t m_partBytes;  // about this much text a part
    static constexpr size_t kFirstPartBytes = 4096;
    std::string_view m_rootName, m_dataName, m_prefix;
    size_t m_bodyStart = 0, m_bodyEnd = 0;

    std::unique_ptr<XmlDocument> m_head;
    std::unique_ptr<Reader> m_reader;
    Schema m_schema;
    RowContext m_ctx;
    std::vector<Binding> m_outer;
    std::vector<uint64_t> m_lengthLimits;  // per column, 0: none
    std::vector<RowsetTag> m_tags;
    std::vector<std::pair<size_t, size_t>> m_spans;  // elements that parts may not cut
    size_t m_span = 0;

    std::string m_rowName;  // qualified name of the row elements, once seen
    std::unique_ptr<char[]> m_part;  // what the parser reads of the part, parsed in place
    size_t m_partCapacity = 0;
    pugi::xml_document m_partDoc;
    std::string m_decoded;
    persist::Value m_value;
    std::vector<uint64_t> m_seen;  // per column: the row that last gave it
    uint64_t m_rowNumber = 0;
    size_t m_bytesRead = 0;
    bool m_hinted = false;
};

size_t PartReader::TagEnd(size_t i) const {
    char quote = 0;
    for (size_t j = i + 1; j < m_text.size(); ++j) {
        const char c = m_text[j];
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == '>') {
            return j + 1;
        } else if (c == '<') {
            Stop();
        }
    }
    Stop();
}

std::string_view PartReader::TagName(size_t i) const {
    size_t j = i;
    while (j < m_text.size() && !IsXmlSpace(m_text[j]) && m_text[j] != '/' && m_text[j] != '>') ++j;
    return m_text.substr(i, j - i);
}

// Walks the markup before the data section: the document element's start
// tag and, among its children, the first start tag named "data".
void PartReader::FindDataSection() {
    size_t i = 0;
    size_t depth = 0;
    for (;;) {
        i = m_text.find('<', i);
        if (i == std::string_view::npos) Stop();
        const std::string_view rest = m_text.substr(i);
        auto skipTo = [&](std::string_view close, size_t from) {
            const size_t j = m_text.find(close, from);
            if (j == std::string_view::npos) Stop();
            i = j + close.size();
        };
        if (rest.substr(0, 4) == "<!--") {
            skipTo("-->", i + 4);
            continue;
        }
        if (rest.substr(0, 9) == "<![CDATA[") {
            skipTo("]]>", i + 9);
            continue;
        }
        if (rest.substr(0, 2) == "<?") {
            skipTo("?>", i + 2);
            continue;
        }
        if (rest.substr(0, 2) == "<!") Stop();
        const size_t end = TagEnd(i);
        if (rest.substr(0, 2) == "</") {
            if (depth <= 1) Stop();
            --depth;
            i = end;
            continue;
        }
        const std::string_view name = TagName(i + 1);
        const bool empty = m_text[end - 2] == '/';
        if (name.empty()) Stop();
        if (depth == 0) {
            if (empty) Stop();
            m_rootName = name;
        } else if (depth == 1 && LocalPart(name) == "data") {
            if (empty) Stop();
            m_dataName = name;
            m_bodyStart = end;
            return;
        }
        if (!empty) ++depth;
        i = end;
    }
}

// The document must end with the data section's end tag and the document
// element's, with nothing but white space around them.
void PartReader::FindBodyEnd() {
    size_t e = m_text.size();
    auto endTag = [&](std::string_view name) {
        while (e > m_bodyStart && IsXmlSpace(m_text[e - 1])) --e;
        if (e == m_bodyStart || m_text[e - 1] != '>') Stop();
        size_t k = e - 1;
        while (k > m_bodyStart && IsXmlSpace(m_text[k - 1])) --k;
        if (k < m_bodyStart + name.size() + 2) Stop();
        const size_t start = k - name.size() - 2;
        if (m_text.substr(start, 2) != "</" || m_text.substr(start + 2, name.size()) != name) Stop();
        e = start;
    };
    endTag(m_rootName);
    endTag(m_dataName);
    m_bodyEnd = e;
}

void PartReader::ReadHead() {
    std::string head;
    head.reserve(m_bodyStart + m_dataName.size() + m_rootName.size() + 8);
    head.append(m_text.substr(0, m_bodyStart));
    head.append("</").append(m_dataName).append("></").append(m_rootName).append(">");
    m_head = std::make_unique<XmlDocument>();
    if (m_head->Parse(head)) Stop();
    m_reader = std::make_unique<Reader>(*m_head);
    pugi::xml_node dataEl;
    if (m_reader->ReadHead(m_schema, m_ctx, dataEl)) Stop();
    if (std::string_view(dataEl.name()) != m_dataName || dataEl.first_child()) Stop();
    // Chapters nest rows in rows: read whole.
    if (!m_ctx.chapterColumns.empty()) Stop();
    m_prefix = SplitName(m_dataName).prefix;
    if (m_prefix.empty()) Stop();
    m_outer = ScopeAt(dataEl);
    for (const Column& c : m_schema.columns) {
        const bool isLong = (c.attributes & field_attr::Long) != 0 || c.type == DataType::LongVarChar ||
                            c.type == DataType::LongVarWChar || c.type == DataType::LongVarBinary;
        m_lengthLimits.push_back(isLong || !c.maxLength ? 0 : *c.maxLength);
    }
    m_seen.assign(m_schema.columns.size(), 0);
    m_sink.SetSchema(m_schema);
}

// The first '<' from `p` on, before `end`, that is followed by `next` or by
// '/'; `end` when there is none.  Sixteen bytes at a time: rows, which
// start with another letter and end with "/>", are passed over without a
// stop.
const char* FindTagStart(const char* p, const char* end, char next) noexcept {
    const __m128i lt = _mm_set1_epi8('<');
    const __m128i first = _mm_set1_epi8(next);
    const __m128i slash = _mm_set1_epi8('/');
    while (end - p > 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
        const __m128i hit =
            _mm_and_si128(_mm_cmpeq_epi8(v, lt), _mm_or_si128(_mm_cmpeq_epi8(w, first), _mm_cmpeq_epi8(w, slash)));
        const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
        if (mask != 0) return p + __builtin_ctz(mask);
        p += 16;
    }
    for (; end - p > 1; ++p)
        if (*p == '<' && (p[1] == next || p[1] == '/')) return p;
    return end;
}

// Tags with the data section's prefix: the containers of pending changes
// (rs:insert, rs:delete) and the elements a part must not cut (rs:update).
void PartReader::FindRowsetTags() {
    std::string open = "<";
    open.append(m_prefix).push_back(':');
    const size_t prefixLength = open.size() - 1;
    const char* base = m_text.data();
    size_t i = m_bodyStart;
    while (i < m_bodyEnd) {
        i = static_cast<size_t>(FindTagStart(base + i, base + m_bodyEnd, m_prefix[0]) - base);
        if (i >= m_bodyEnd) break;
        const bool close = m_text[i + 1] == '/';
        const size_t nameAt = i + 1 + (close ? 1 : 0);
        if (m_text.size() - nameAt >= prefixLength && SameBytes(base + nameAt, open.data() + 1, prefixLength)) {
            const size_t end = TagEnd(i);
            if (end > m_bodyEnd) Stop();
            const std::string_view name = TagName(nameAt);
            m_tags.push_back({i, end, LocalPart(name), close, m_text[end - 2] == '/'});
            i = end;
        } else {
            ++i;
        }
    }
}

bool PartReader::IsRow(pugi::xml_node element) {
    const std::string_view name = element.name();
    if (!m_rowName.empty()) return name == m_rowName;
    const QName q = SplitName(name);
    if (q.local != "row" || !IsQName(name)) return false;
    for (pugi::xml_attribute a : element.attributes())
        if (std::string_view(a.name()).substr(0, 5) == "xmlns") return false;
    if (NamespaceOf(element, q.prefix) != kNsRow) return false;
    m_rowName.assign(name);
    return true;
}

// Characters that a value needs decoding for, and the end of the text.
constexpr std::array<bool, 256> kNeedsDecoding = [] {
    std::array<bool, 256> t{};
    t[0] = t['&'] = t['<'] = t['\t'] = t['\n'] = t['\r'] = true;
    return t;
}();

// Bytes that end a run of plain value text besides the quote: markup, every
// control character (including the white space that attribute values
// normalise) and every byte of a multi-byte UTF-8 sequence, which is checked
// on its own.
constexpr std::array<bool, 256> kEndsPlainRun = [] {
    std::array<bool, 256> t{};
    for (int c = 0; c < 0x20; ++c) t[static_cast<size_t>(c)] = true;
    for (int c = 0x80; c < 0x100; ++c) t[static_cast<size_t>(c)] = true;
    t['&'] = t['<'] = true;
    return t;
}();

// The first byte at or after `p`, before `limit`, that is `quote` or ends a
// plain run (kEndsPlainRun); `limit` when there is none.  Sixteen bytes at a
// time while that many are left.
const char* ScanValue(const char* p, const char* limit, char quote) noexcept {
    const __m128i q = _mm_set1_epi8(quote);
    const __m128i amp = _mm_set1_epi8('&');
    const __m128i lt = _mm_set1_epi8('<');
    const __m128i space = _mm_set1_epi8(0x20);
    while (limit - p >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        // Signed: bytes from 0x80 on are negative, so this finds them too.
        const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, q), _mm_cmpeq_epi8(v, amp)),
                                         _mm_or_si128(_mm_cmpeq_epi8(v, lt), _mm_cmplt_epi8(v, space)));
        const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
        if (mask != 0) return p + __builtin_ctz(mask);
        p += 16;
    }
    while (p < limit && *p != quote && !kEndsPlainRun[static_cast<unsigned char>(*p)]) ++p;
    return p;
}

// The end of one UTF-8 encoded XML character starting at `p` (a byte from
// 0x80 on), or null when the bytes before `limit` are no such character.
const char* SkipUtf8Char(const char* p, const char* limit) noexcept {
    const auto b = static_cast<unsigned char>(*p);
    // Two-byte sequences (accented letters) are all XML characters.
    if (b >= 0xC2 && b <= 0xDF && limit - p >= 2 && (static_cast<unsigned char>(p[1]) & 0xC0) == 0x80)
        return p + 2;
    size_t i = 0;
    char32_t cp = 0;
    if (!NextUtf8(std::string_view(p, static_cast<size_t>(limit - p)), i, cp) || !IsXmlChar(cp)) return nullptr;
    return p + i;
}

// The UTF-16 length of valid UTF-8 text.
size_t Utf16Length(std::string_view s) noexcept {
    size_t n = 0;
    for (char c : s) {
        const auto b = static_cast<unsigned char>(c);
        if ((b & 0xC0) != 0x80) ++n;
        if (b >= 0xF0) ++n;
    }
    return n;
}

void PartReader::BeginRow(Container container) {
    m_sink.BeginRow(container == Container::Data     ? RowState::Unchanged
                    : container == Container::Insert ? RowState::Inserted
                                                     : RowState::Deleted);
    ++m_rowNumber;
}

size_t PartReader::ColumnOf(const char* name, size_t length, size_t expect) const noexcept {
    if (expect < m_ctx.xmlNames.size()) {
        const std::string& x = m_ctx.xmlNames[expect];
        if (x.size() == length && SameBytes(name, x.data(), length)) return expect;
    }
    auto it = m_ctx.byName.find(std::string_view(name, length));
    return it == m_ctx.byName.end() ? std::string_view::npos : it->second;
}

void PartReader::TakeValue(size_t index, std::string_view raw, bool plain) {
    if (m_seen[index] == m_rowNumber) Stop();
    m_seen[index] = m_rowNumber;
    std::string_view text = raw;
    if (!plain) {
        m_decoded.clear();
        DecodeFailure failure;
        if (!DecodeXmlText(raw, true, &m_decoded, failure)) Stop();
        text = m_decoded;
    }
    switch (m_ctx.forms[index]) {
    case ValueForm::String: {
        const uint64_t limit = m_lengthLimits[index];
        if (limit != 0 && text.size() > limit && Utf16Length(text) > limit) Stop();
        m_sink.SetText(index, text);
        return;
    }
    case ValueForm::Signed: {
        int64_t v = 0;
        if (ParseSigned(m_schema.columns[index], text, v) != ValueStatus::Ok) Stop();
        m_sink.SetInteger(index, v);
        return;
    }
    case ValueForm::Double: {
        double v = 0;
        if (ParseDouble(text, v) != ValueStatus::Ok) Stop();
        m_sink.SetDouble(index, v);
        return;
    }
    case ValueForm::DateTime:
    case ValueForm::DateOnly:
    case ValueForm::TimeOnly: {
        double days = 0;
        if (ParseDateTime(text, days) != ValueStatus::Ok) Stop();
        m_sink.SetDate(index, days);
        return;
    }
    case ValueForm::Boolean: {
        bool v = false;
        if (!ParseBoolean(text, v)) Stop();
        m_sink.SetBoolean(index, v);
        return;
    }
    default:
        // One value object for the other kinds, so that values of the same
        // kind as the last are assigned in place.
        if (ParseValue(m_schema.columns[index], m_ctx.forms[index], text, m_value) != ValueStatus::Ok ||
            IsNull(m_value))
            Stop();
        m_sink.SetValue(index, m_value);
    }
}

void PartReader::ReadRowFast(pugi::xml_node row, Container container) {
    if (row.first_child()) Stop();
    BeginRow(container);
    size_t expect = 0;
    for (pugi::xml_attribute a = row.first_attribute(); a; a = a.next_attribute()) {
        const char* name = a.name();
        const size_t index = ColumnOf(name, std::strlen(name), expect);
        if (index == std::string_view::npos) Stop();
        expect = index + 1;
        const char* value = a.value();
        const char* p = value;
        while (!kNeedsDecoding[static_cast<unsigned char>(*p)]) ++p;
        if (*p == 0) TakeValue(index, std::string_view(value, static_cast<size_t>(p - value)), true);
        else TakeValue(index, std::string_view(value), false);
    }
    m_sink.EndRow();
}

// Reads the rows at the start of the text from `from` to `to` directly: empty
// elements named like the rows before, whose attributes are all columns,
// with white space between them.  Returns the size read, up to the first
// thing that is not such a row; the parser reads the rest.  Every byte taken
// here is checked as the parser's input is (UTF-8, XML characters).  A row
// stopped in the middle is dropped from the sink again, so that the parser
// reads it whole.
size_t PartReader::ScanRows(size_t from, size_t to, Container container) {
    const char* const base = m_text.data() + from;
    const char* const end = m_text.data() + to;
    const std::string_view rowName = m_rowName;
    const char* p = base;
    for (;;) {
        while (p < end && IsXmlSpace(*p)) ++p;
        const char* const rowStart = p;
        const auto stop = static_cast<size_t>(rowStart - base);
        if (p == end) return stop;
        if (*p != '<' || static_cast<size_t>(end - p) <= rowName.size() + 1 ||
            !SameBytes(p + 1, rowName.data(), rowName.size()))
            return stop;
        p += 1 + rowName.size();
        // The text is read once, front to back: ask for what follows early.
        __builtin_prefetch(p + 1024);
        // Values go to the sink as they are read; a row whose tag turns out
        // to be one for the parser is dropped from it again.
        BeginRow(container);
        auto giveBack = [&] {
            m_sink.DropRow();
            return stop;
        };
        size_t expect = 0;
        for (;;) {
            const char* const afterPrevious = p;
            while (p < end && IsXmlSpace(*p)) ++p;
            if (p == end) return giveBack();
            if (*p == '/') {
                if (p + 1 == end || p[1] != '>') return giveBack();
                p += 2;
                break;
            }
            // An attribute, after white space.
            if (p == afterPrevious) return giveBack();
            size_t index = std::string_view::npos;
            // Mostly the column after the last one, or one of the next few
            // (the columns between are NULL), followed by '='.
            const size_t probeEnd = std::min(m_ctx.xmlNames.size(), expect + 4);
            for (size_t k = expect; k < probeEnd; ++k) {
                const std::string& x = m_ctx.xmlNames[k];
                if (static_cast<size_t>(end - p) > x.size() && p[x.size()] == '=' &&
                    SameBytes(p, x.data(), x.size())) {
                    index = k;
                    p += x.size();
                    break;
                }
            }
            if (index == std::string_view::npos) {
                const char* const name = p;
                while (p < end && *p != '=' && !IsXmlSpace(*p)) ++p;
                index = ColumnOf(name, static_cast<size_t>(p - name), expect);
                if (index == std::string_view::npos) return giveBack();
            }
            expect = index + 1;
            while (p < end && IsXmlSpace(*p)) ++p;
            if (p == end || *p != '=') return giveBack();
            ++p;
            while (p < end && IsXmlSpace(*p)) ++p;
            if (p == end || (*p != '\'' && *p != '"')) return giveBack();
            const char quote = *p++;
            const char* const value = p;
            bool plain = true;
            for (;;) {
                p = ScanValue(p, end, quote);
                if (p == end) return giveBack();
                const auto b = static_cast<unsigned char>(*p);
                if (b == static_cast<unsigned char>(quote)) break;
                if (b >= 0x80) {
                    p = SkipUtf8Char(p, end);
                    if (!p) return giveBack();
                } else if (b == '&' || b == '\t' || b == '\n' || b == '\r') {
                    // References and white space that the value normalises.
                    plain = false;
                    ++p;
                } else {
                    // A '<' or a control character: the parser reports it.
                    return giveBack();
                }
            }
            TakeValue(index, std::string_view(value, static_cast<size_t>(p - value)), plain);
            ++p;
        }
        m_sink.EndRow();
    }
}

void PartReader::ReadPart(size_t from, size_t to, Container container) {
    // Once the first row has been read through the parser, and its name and
    // namespace checked, rows are read from the text directly.
    const size_t scanned = m_rowName.empty() ? 0 : ScanRows(from, to, container);
    if (from + scanned < to) {
        // The rest is parsed in place in a copy of its own.  The text is
        // checked as it is copied, a part at a time while it is in the
        // cache.  The head was checked when it was parsed, and what lies
        // between and after the parts (container tags, end tags) was matched
        // against names and white space.
        const size_t size = to - from - scanned;
        if (size > m_partCapacity) {
            m_part.reset();
            m_part = std::make_unique_for_overwrite<char[]>(size);
            m_partCapacity = size;
        }
        if (!CopyXmlUtf8(m_text.substr(from + scanned, size), m_part.get())) Stop();
        ParseNodes(size, container);
    }
    m_bytesRead += to - from;
    if (!m_hinted && m_rowNumber > 0) {
        m_hinted = true;
        const double perRow = static_cast<double>(m_bytesRead) / static_cast<double>(m_rowNumber);
        m_sink.ExpectRows(static_cast<size_t>(static_cast<double>(m_bodyEnd - m_bodyStart) / perRow * 1.05) + 16);
    }
}

// The nodes of the part's copy, parsed in place.
void PartReader::ParseNodes(size_t size, Container container) {
    const pugi::xml_parse_result r = m_partDoc.load_buffer_inplace(m_part.get(), size, kParseFlags, pugi::encoding_utf8);
    if (!r) Stop();
    const size_t depth = container == Container::Data ? 2 : 3;
    for (pugi::xml_node n : m_partDoc.children()) {
        switch (n.type()) {
        case pugi::node_element:
            if (IsRow(n)) {
                ReadRowFast(n, container);
            } else if (container == Container::Data) {
                const ExpandedName en = ElementName(n);
                if (en.Is(kNsRow, "row") || en.Is(kNsRowset, "insert") || en.Is(kNsRowset, "delete")) Stop();
                if (CheckSubtree(n, depth)) Stop();
                if (en.Is(kNsRowset, "update")) {
                    Row row;
                    if (m_reader->ReadUpdate(n, m_ctx, row)) Stop();
                    m_sink.AddRow(std::move(row));
                }
                // Other elements in the data section are ignored, as ADO does.
            } else {
                Stop();
            }
            break;
        case pugi::node_pcdata: {
            DecodeFailure failure;
            if (!DecodeXmlText(n.value(), false, nullptr, failure)) Stop();
            break;
        }
        case pugi::node_cdata:
        case pugi::node_comment:
        case pugi::node_pi: break;
        default: Stop();
        }
    }
}

// The content of one container between `from` and `to`, cut into parts
// before a '<' near every m_partBytes, outside the elements parts may not cut.
void PartReader::ReadSegment(size_t from, size_t to, Container container) {
    while (from < to) {
        // Until a first row has been read through the parser, parts are
        // small: from then on rows are read from the text.
        const size_t partBytes = m_rowName.empty() ? std::min(m_partBytes, kFirstPartBytes) : m_partBytes;
        size_t cut = to;
        if (to - from > partBytes + partBytes / 2) {
            size_t at = from + partBytes;
            for (;;) {
                while (m_span < m_spans.size() && m_spans[m_span].second <= at) ++m_span;
                if (m_span < m_spans.size() && m_spans[m_span].first < at) at = m_spans[m_span].second;
                const void* hit = at < to ? std::memchr(m_text.data() + at, '<', to - at) : nullptr;
                if (!hit) break;
                const size_t c = static_cast<size_t>(static_cast<const char*>(hit) - m_text.data());
                if (m_span < m_spans.size() && m_spans[m_span].first <= c && c < m_spans[m_span].second) {
                    at = m_spans[m_span].second;
                    continue;
                }
                cut = c;
                break;
            }
        }
        ReadPart(from, cut, container);
        from = cut;
    }
}

void PartReader::Run() {
    FindDataSection();
    FindBodyEnd();
    ReadHead();
    FindRowsetTags();
    OuterScope scope(&m_outer);

    // Spans of the elements other than the containers, outermost only.
    size_t depth = 0, start = 0;
    for (const RowsetTag& t : m_tags) {
        if (t.local == "insert" || t.local == "delete") {
            if (depth != 0) Stop();
            continue;
        }
        if (t.empty) continue;
        if (!t.close) {
            if (depth++ == 0) start = t.pos;
        } else {
            if (depth == 0) Stop();
            if (--depth == 0) m_spans.push_back({start, t.end});
        }
    }
    if (depth != 0) Stop();

    // The containers, with nothing on their tags but the name.
    auto plainTag = [&](const RowsetTag& t) {
        size_t j = t.pos + (t.close ? 2 : 1) + m_prefix.size() + 1 + t.local.size();
        while (j < t.end - 1 && IsXmlSpace(m_text[j])) ++j;
        return j == t.end - 1 && !t.empty;
    };
    Container container = Container::Data;
    size_t from = m_bodyStart;
    for (const RowsetTag& t : m_tags) {
        if (t.local != "insert" && t.local != "delete") continue;
        if (!plainTag(t)) Stop();
        const Container which = t.local == "insert" ? Container::Insert : Container::Delete;
        if (t.close ? container != which : container != Container::Data) Stop();
        ReadSegment(from, t.pos, container);
        container = t.close ? Container::Data : which;
        from = t.end;
    }
    if (container != Container::Data) Stop();
    ReadSegment(from, m_bodyEnd, container);
}

// Replays a table read whole into a sink.
void Replay(Table&& table, RowSink& sink) {
    sink.SetSchema(table.schema);
    sink.ExpectRows(table.rows.size());
    for (Row& row : table.rows) sink.AddRow(std::move(row));
}

}  // namespace

Result<Table> Load(std::string_view document) noexcept {
    try {
        auto doc = std::make_unique<XmlDocument>();
        if (auto e = doc->Parse(document)) return *e;
        Reader reader(*doc);
        return reader.Run();
    } catch (const std::bad_alloc&) {
        return OutOfMemory();
    } catch (const std::length_error&) {
        return OutOfMemory();
    } catch (const std::exception& ex) {
        Error e;
        e.category = ErrorCategory::BadData;
        e.message = std::string("the document could not be read: ") + ex.what();
        return e;
    }
}

namespace {

// The bytes of a file, read without first clearing the buffer.
struct FileBytes {
    std::unique_ptr<char[]> data;
    size_t size = 0;
    std::string_view View() const noexcept { return {data.get(), size}; }
};

std::optional<Error> ReadWholeFile(const std::string& path, FileBytes& out) {
    auto ioError = [&](int err, const char* what) {
        Error e;
        e.category = ErrorCategory::Io;
        e.message = std::string(what) + " '" + path + "': " + std::generic_category().message(err);
        return e;
    };
    auto tooLarge = [&](const std::string& what) {
        Error e;
        e.category = ErrorCategory::TooLarge;
        e.message = "the file '" + path + "' " + what;
        return e;
    };
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return ioError(errno, "cannot open");
    struct FdCloser {
        int fd;
        ~FdCloser() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) return ioError(errno, "cannot read");
    if (S_ISDIR(st.st_mode)) return ioError(EISDIR, "cannot read");
    if (!S_ISREG(st.st_mode)) {
        Error e;
        e.category = ErrorCategory::Io;
        e.message = "cannot read '" + path + "': not a regular file";
        return e;
    }
    if (st.st_size > 0 && static_cast<uint64_t>(st.st_size) > kMaxDocumentBytes)
        return tooLarge("is " + std::to_string(st.st_size) + " bytes long; at most " +
                        std::to_string(kMaxDocumentBytes) + " are read");
    // One byte more than the size, so that the end of the file is seen
    // without growing the buffer.
    size_t capacity = (st.st_size > 0 ? static_cast<size_t>(st.st_size) : 0) + 1;
    out.data = std::make_unique_for_overwrite<char[]>(capacity);
    out.size = 0;
    for (;;) {
        if (out.size == capacity) {
            // The file grew while it was read.
            const size_t grown = capacity + std::max<size_t>(capacity / 2, 65536);
            auto bigger = std::make_unique_for_overwrite<char[]>(grown);
            std::memcpy(bigger.get(), out.data.get(), out.size);
            out.data = std::move(bigger);
            capacity = grown;
        }
        const ssize_t n = ::read(fd, out.data.get() + out.size, capacity - out.size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return ioError(errno, "cannot read");
        }
        if (n == 0) break;
        out.size += static_cast<size_t>(n);
        if (out.size > kMaxDocumentBytes)
            return tooLarge("is longer than " + std::to_string(kMaxDocumentBytes) + " bytes");
    }
    return std::nullopt;
}

}  // namespace

Result<Table> LoadFile(const std::string& path) noexcept {
    try {
        FileBytes bytes;
        if (auto e = ReadWholeFile(path, bytes)) return *e;
        return Load(bytes.View());
    } catch (const std::bad_alloc&) {
        return OutOfMemory();
    } catch (const std::length_error&) {
        return OutOfMemory();
    }
}

std::optional<Error> Read(std::string_view document, RowSink& sink, size_t byPartsFrom, size_t partBytes) noexcept {
    try {
        std::string_view text;
        if (document.size() >= byPartsFrom && document.size() <= kMaxDocumentBytes &&
            Utf8DocumentText(document, text)) {
            try {
                PartReader reader(text, sink, partBytes);
                reader.Run();
                return std::nullopt;
            } catch (const GiveUp&) {
                sink.Reset();
            }
        }
        Result<Table> table = Load(document);
        if (!table) return table.error();
        Replay(std::move(table.value()), sink);
        return std::nullopt;
    } catch (const std::bad_alloc&) {
        return OutOfMemory();
    } catch (const std::length_error&) {
        return OutOfMemory();
    }
}

std::optional<Error> ReadFile(const std::string& path, RowSink& sink) noexcept {
    try {
        FileBytes bytes;
        if (auto e = ReadWholeFile(path, bytes)) return *e;
        return Read(bytes.View(), sink);
    } catch (const std::bad_alloc&) {
        return OutOfMemory();
    } catch (const std::length_error&) {
        return OutOfMemory();
    }
}

}  // namespace comhost::persist
