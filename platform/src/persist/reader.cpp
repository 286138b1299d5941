// Reading a saved recordset: the schema section becomes the columns, the
// data section the rows with their pending-change states.
#include "persist.h"

#include "text.h"
#include "values.h"
#include "xml_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

    Result<Table> Run();

private:
    using MaybeError = std::optional<Error>;

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
    MaybeError ReadUpdate(pugi::xml_node update, const RowContext& ctx, Row& row);
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

    Table table;
    RowContext ctx;
    if (auto e = ReadSchema(schemaEl, table.schema, ctx)) return *e;
    if (auto e = ReadRows(dataEl, ctx, table.rows)) return *e;
    return table;
}

Error OutOfMemory() {
    Error e;
    e.category = ErrorCategory::OutOfMemory;
    e.message = "out of memory";
    return e;
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

Result<Table> LoadFile(const std::string& path) noexcept {
    try {
        auto ioError = [&](int err, const char* what) {
            Error e;
            e.category = ErrorCategory::Io;
            e.message = std::string(what) + " '" + path + "': " + std::generic_category().message(err);
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
        if (st.st_size > 0 && static_cast<uint64_t>(st.st_size) > kMaxDocumentBytes) {
            Error e;
            e.category = ErrorCategory::TooLarge;
            e.message = "the file '" + path + "' is " + std::to_string(st.st_size) + " bytes long; at most " +
                        std::to_string(kMaxDocumentBytes) + " are read";
            return e;
        }
        std::string bytes;
        bytes.reserve(st.st_size > 0 ? static_cast<size_t>(st.st_size) : 0);
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0) {
                if (errno == EINTR) continue;
                return ioError(errno, "cannot read");
            }
            if (n == 0) break;
            bytes.append(buffer, static_cast<size_t>(n));
            if (bytes.size() > kMaxDocumentBytes) {
                Error e;
                e.category = ErrorCategory::TooLarge;
                e.message = "the file '" + path + "' is longer than " + std::to_string(kMaxDocumentBytes) + " bytes";
                return e;
            }
        }
        return Load(bytes);
    } catch (const std::bad_alloc&) {
        return OutOfMemory();
    } catch (const std::length_error&) {
        return OutOfMemory();
    }
}

}  // namespace comhost::persist
