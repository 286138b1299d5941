// Writing a table in the layout ADO itself writes: no XML declaration,
// namespace declarations on their own lines, single-quoted attributes, tab
// indentation, start tags wrapped before 120 columns, NULL as an absent
// attribute and pending changes in rs:insert / rs:update / rs:delete.
#include "persist.h"

#include "text.h"
#include "values.h"

#include <algorithm>
#include <new>
#include <array>
#include <set>
#include <stdexcept>
#include <unordered_set>

namespace comhost::persist {

namespace {

using namespace detail;

constexpr size_t kWrapColumn = 120;

std::string Utf8(const std::u16string& s) {
    std::string out;
    Utf16ToUtf8(s, out);
    return out;
}

std::string Quoted(const std::u16string& name) { return "\"" + Utf8(name) + "\""; }

Error Refuse(ErrorCategory category, std::string message) {
    Error e;
    e.category = category;
    e.message = std::move(message);
    return e;
}

bool IsFixedKind(DataType t) { return t == DataType::Char || t == DataType::WChar || t == DataType::Binary; }
bool IsLongKind(DataType t) {
    return t == DataType::LongVarChar || t == DataType::LongVarWChar || t == DataType::LongVarBinary;
}
bool IsSizedKind(DataType t) {
    return IsFixedKind(t) || IsLongKind(t) || t == DataType::VarChar || t == DataType::VarWChar ||
           t == DataType::VarBinary;
}

// rs: attributes this writer produces itself (and the reader interprets);
// extra attributes may not repeat them.
const std::set<std::string_view> kColumnAttributes = {
    "name",       "number",     "nullable",   "maydefer",      "write",         "writeunknown",
    "rowid",      "rowver",     "cachedeferred", "negativescale", "basecatalog", "baseschema",
    "basetable",  "basecolumn", "keycolumn",  "hidden",        "autoincrement", "precision",
    "scale",      "fixedlength", "long",      "maybenull",     "dbtype"};
const std::set<std::string_view> kRowTypeAttributes = {"updatable"};
const std::set<std::string_view> kChapterTypeAttributes = {"updatable", "relation", "name", "number"};

// What writing one schema's rows needs: the chosen attribute names and forms.
struct SchemaPlan {
    const Schema* schema = nullptr;
    std::vector<std::string> xmlNames;
    std::vector<ValueForm> forms;
    std::vector<int32_t> numbers;  // rs:number to write; 0: none
    std::vector<size_t> chapterColumns;
    std::vector<std::unique_ptr<SchemaPlan>> chapters;  // per chapter column
};

// The text of string values a RowSource handed over as UTF-8, by column
// (nullopt: the value is in the row).
using RowTexts = std::vector<std::optional<std::string_view>>;

class Writer {
public:
    std::optional<Error> Plan(const Schema& schema, SchemaPlan& plan, size_t nesting);
    std::optional<Error> CheckRows(const SchemaPlan& plan, const std::vector<Row>& rows, bool top,
                                   const std::string& where);
    // The checks of CheckRows for one row, the `number`th, whose string
    // values may partly be given by `texts`.
    std::optional<Error> CheckRow(const SchemaPlan& plan, const Row& row, bool top, const std::string& where,
                                  size_t number, const RowTexts* texts = nullptr);

    void WriteDocument(const SchemaPlan& plan, const std::vector<Row>& rows);
    // The same document, its rows taken one at a time from `source` and
    // checked as they come.  With a sink, the text goes to it between rows
    // whenever `out` holds kSaveChunkBytes, and what is left at the end.
    std::optional<Error> WriteDocument(const SchemaPlan& plan, RowSource& source, TextSink* sink);

    std::string out;

private:
    // ---- low-level layout
    void Tabs(int depth) { out.append(static_cast<size_t>(depth), '\t'); }
    void StartTag(int depth, std::string_view qname) {
        Tabs(depth);
        m_lineStart = out.size() - static_cast<size_t>(depth);
        m_tagDepth = depth;
        out += '<';
        out += qname;
    }
    void Attr(std::string_view name, std::string_view utf8Value);
    // An attribute whose value the caller appends to `out` between the two
    // (text that needs no escaping); EndAttr closes it and wraps the line.
    size_t BeginAttr(std::string_view name);
    void EndAttr(size_t start);
    void EndEmpty() { out += "/>\n"; }
    void EndOpen() { out += ">\n"; }
    void EndTag(int depth, std::string_view qname) {
        Tabs(depth);
        out += "</";
        out += qname;
        out += ">\n";
    }

    // The row definition, or with `chapter` the nested definition of a
    // chapter column's rows (named by the parent's plan at `index`).
    void WriteSchema(const SchemaPlan& plan, int depth, const SchemaPlan* parent, size_t index);
    void WriteColumn(const SchemaPlan& plan, size_t index, int depth);
    void WriteRow(const SchemaPlan& plan, const Row& row, int depth, std::string_view element,
                  const std::vector<Value>& values, const std::vector<Value>* original,
                  const RowTexts* texts = nullptr);

    size_t m_lineStart = 0;
    int m_tagDepth = 0;
    // Scratch of WriteRow, kept to reuse its storage.
    std::string m_text;
    std::string m_setNull;
};

// Escapes a value for a single-quoted attribute.  Characters XML would
// normalise away (TAB, CR, LF) or cannot hold literally (the other C0
// controls, U+FFFE, U+FFFF) become character references.
// Bytes AppendEscaped looks at more closely: controls, markup characters,
// and 0xEF, which starts U+FFFE and U+FFFF.
constexpr std::array<bool, 256> kEscapeCandidate = [] {
    std::array<bool, 256> t{};
    for (int c = 0; c < 0x20; ++c) t[static_cast<size_t>(c)] = true;
    t['&'] = t['<'] = t['>'] = t['\''] = t['"'] = t[0xEF] = true;
    return t;
}();

void AppendEscaped(std::string& out, std::string_view s) {
    static const char hex[] = "0123456789ABCDEF";
    size_t i = 0;
    while (i < s.size()) {
        // Runs of plain characters are copied at once.
        size_t plain = i;
        while (plain < s.size() && !kEscapeCandidate[static_cast<unsigned char>(s[plain])]) ++plain;
        if (plain != i) {
            out.append(s.data() + i, plain - i);
            i = plain;
            if (i == s.size()) break;
        }
        const auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x20) {
            out += "&#x";
            if (b >= 16) out += hex[b >> 4];
            out += hex[b & 15];
            out += ';';
            ++i;
            continue;
        }
        switch (b) {
        case '&': out += "&amp;"; ++i; continue;
        case '<': out += "&lt;"; ++i; continue;
        case '>': out += "&gt;"; ++i; continue;
        case '\'': out += "&#x27;"; ++i; continue;
        case '"': out += "&quot;"; ++i; continue;
        default: break;
        }
        if (b == 0xEF && i + 2 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0xBF &&
            (static_cast<unsigned char>(s[i + 2]) == 0xBE || static_cast<unsigned char>(s[i + 2]) == 0xBF)) {
            out += static_cast<unsigned char>(s[i + 2]) == 0xBE ? "&#xFFFE;" : "&#xFFFF;";
            i += 3;
            continue;
        }
        out += s[i];
        ++i;
    }
}

size_t Writer::BeginAttr(std::string_view name) {
    // Written in place, then moved to a line of its own if the start tag
    // gets too long with it.
    const size_t start = out.size();
    out += ' ';
    out += name;
    out += "='";
    return start;
}

void Writer::EndAttr(size_t start) {
    out += '\'';
    const size_t lineLength = start - m_lineStart;
    const size_t textSize = out.size() - start - 1;
    // Long start tags continue on the next line, one tab deeper plus a space.
    if (lineLength + 1 + textSize > kWrapColumn && lineLength > static_cast<size_t>(m_tagDepth) + 2) {
        const size_t tabs = static_cast<size_t>(m_tagDepth) + 1;
        out.insert(start, 1 + tabs, '\t');
        out[start] = '\n';
        m_lineStart = start + 1;
    }
}

void Writer::Attr(std::string_view name, std::string_view utf8Value) {
    const size_t start = BeginAttr(name);
    AppendEscaped(out, utf8Value);
    EndAttr(start);
}

// ---------------------------------------------------------------- planning

std::optional<Error> CheckExtras(const std::vector<ExtraAttribute>& extras, const std::set<std::string_view>& known,
                                 const std::string& owner) {
    std::set<std::string_view> seen;
    for (const ExtraAttribute& x : extras) {
        if (!IsNcName(Utf8ToUtf16(x.name)))
            return Refuse(ErrorCategory::InvalidTable,
                          owner + " has the extra attribute name '" + x.name + "', which is not a valid XML name");
        if (known.count(x.name) != 0 || !seen.insert(x.name).second)
            return Refuse(ErrorCategory::InvalidTable,
                          owner + " has the extra attribute rs:" + x.name + " twice or in place of a known one");
        std::string scratch;
        if (!Utf16ToUtf8(x.value, scratch))
            return Refuse(ErrorCategory::InvalidTable, owner + " has an extra attribute value with an unpaired surrogate");
    }
    return std::nullopt;
}

std::optional<Error> Writer::Plan(const Schema& schema, SchemaPlan& plan, size_t nesting) {
    if (nesting > 16) return Refuse(ErrorCategory::InvalidTable, "chapters are nested more than 16 levels deep");
    const size_t n = schema.columns.size();
    if (n == 0) return Refuse(ErrorCategory::InvalidTable, "the table has no column");
    plan.schema = &schema;
    plan.forms.resize(n);
    plan.numbers.resize(n);
    plan.xmlNames.resize(n);
    if (auto e = CheckExtras(schema.properties, nesting == 0 ? kRowTypeAttributes : kChapterTypeAttributes,
                             "the row definition"))
        return e;

    // Attribute names: the given alias, else the name when XML allows it,
    // else c<zero-based position>; never twice.
    std::unordered_set<std::u16string> used;
    std::vector<bool> named(n, false);
    auto usable = [&](const std::u16string& s) { return IsNcName(s) && s != u"xmlns" && used.count(s) == 0; };
    for (size_t i = 0; i < n; ++i) {
        const Column& c = schema.columns[i];
        if (!c.xmlName.empty() && usable(c.xmlName)) {
            used.insert(c.xmlName);
            plan.xmlNames[i] = Utf8(c.xmlName);
            named[i] = true;
        }
    }
    for (size_t i = 0; i < n; ++i) {
        if (named[i]) continue;
        const Column& c = schema.columns[i];
        std::u16string chosen;
        if (c.xmlName.empty() && usable(c.name)) {
            chosen = c.name;
        } else {
            const std::string base = "c" + std::to_string(i);
            chosen = Utf8ToUtf16(base);
            for (size_t k = 1; used.count(chosen) != 0; ++k) chosen = Utf8ToUtf16(base + "_" + std::to_string(k));
        }
        used.insert(chosen);
        plan.xmlNames[i] = Utf8(chosen);
    }

    // rs:number: the positions when no number is stored; the stored numbers
    // when they still order the columns as they are (unnumbered columns only
    // at the end, written without rs:number); else the positions.
    bool anyNumber = false;
    bool stored = true;
    int32_t last = 0;
    bool unnumbered = false;
    for (const Column& c : schema.columns) {
        if (c.number > 0) {
            anyNumber = true;
            if (unnumbered || c.number <= last) stored = false;
            last = c.number;
        } else {
            unnumbered = true;
        }
    }
    for (size_t i = 0; i < n; ++i)
        plan.numbers[i] = anyNumber && stored ? schema.columns[i].number : static_cast<int32_t>(i + 1);

    for (size_t i = 0; i < n; ++i) {
        const Column& c = schema.columns[i];
        const std::string owner = "column " + Quoted(c.name);
        std::string scratch;
        if (!Utf16ToUtf8(c.name, scratch) || !Utf16ToUtf8(c.baseCatalog, scratch) ||
            !Utf16ToUtf8(c.baseSchema, scratch) || !Utf16ToUtf8(c.baseTable, scratch) ||
            !Utf16ToUtf8(c.baseColumn, scratch))
            return Refuse(ErrorCategory::InvalidTable, "column " + std::to_string(i + 1) +
                                                           " has a name or base name with an unpaired surrogate");
        plan.forms[i] = FormOf(c);
        if (plan.forms[i] == ValueForm::None)
            return Refuse(ErrorCategory::UnsupportedType, owner + " has the type " + DataTypeName(c.type) +
                                                              ", which the XML format cannot hold");
        if (auto e = CheckExtras(c.extra, kColumnAttributes, owner)) return e;
        if (auto e = CheckExtras(c.extraDatatype, kColumnAttributes, owner)) return e;
        if (c.type == DataType::Chapter) {
            if (!c.chapter) return Refuse(ErrorCategory::InvalidTable, owner + " is a chapter without a schema");
            if (!Utf16ToUtf8(c.chapter->relation, scratch))
                return Refuse(ErrorCategory::InvalidTable, owner + " has a relation with an unpaired surrogate");
            auto child = std::make_unique<SchemaPlan>();
            if (auto e = Plan(*c.chapter, *child, nesting + 1)) return e;
            plan.chapterColumns.push_back(i);
            plan.chapters.push_back(std::move(child));
        }
    }
    return std::nullopt;
}

std::optional<Error> Writer::CheckRows(const SchemaPlan& plan, const std::vector<Row>& rows, bool top,
                                       const std::string& where) {
    for (size_t r = 0; r < rows.size(); ++r) {
        if (auto e = CheckRow(plan, rows[r], top, where, r + 1)) return e;
    }
    return std::nullopt;
}

std::optional<Error> Writer::CheckRow(const SchemaPlan& plan, const Row& row, bool top, const std::string& where,
                                      size_t number, const RowTexts* texts) {
    const Schema& schema = *plan.schema;
    const size_t n = schema.columns.size();
    {
        auto at = [&] { return where + "row " + std::to_string(number); };
        if (row.values.size() != n)
            return Refuse(ErrorCategory::InvalidTable, at() + " has " + std::to_string(row.values.size()) +
                                                           " values for " + std::to_string(n) + " columns");
        if (!top && row.state != RowState::Unchanged)
            return Refuse(ErrorCategory::InvalidTable, at() + " is a chapter row with a pending change, which "
                                                            "the format cannot hold");
        if (row.state == RowState::Modified && row.original.size() != n)
            return Refuse(ErrorCategory::InvalidTable, at() + " is modified but has " +
                                                           std::to_string(row.original.size()) +
                                                           " original values for " + std::to_string(n) + " columns");
        if (!row.chapters.empty() && row.chapters.size() != plan.chapterColumns.size())
            return Refuse(ErrorCategory::InvalidTable, at() + " has rows for " + std::to_string(row.chapters.size()) +
                                                           " chapters; the schema has " +
                                                           std::to_string(plan.chapterColumns.size()));
        for (int pass = 0; pass < 2; ++pass) {
            const std::vector<Value>& values = pass == 0 ? row.values : row.original;
            if (pass == 1 && row.state != RowState::Modified) break;
            for (size_t i = 0; i < n; ++i) {
                std::string why;
                const ValueStatus st = pass == 0 && texts && (*texts)[i]
                                           ? CheckText(schema.columns[i], *(*texts)[i], why)
                                           : CheckValue(schema.columns[i], plan.forms[i], values[i], why);
                if (st != ValueStatus::Ok)
                    return Refuse(st == ValueStatus::Range ? ErrorCategory::ValueOutOfRange : ErrorCategory::InvalidTable,
                                  at() + ", column " + Quoted(schema.columns[i].name) + (pass == 1 ? " (original value) " : " ") +
                                      why);
            }
        }
        for (size_t k = 0; k < row.chapters.size(); ++k) {
            if (auto e = CheckRows(*plan.chapters[k], row.chapters[k], false,
                                   at() + ", chapter " + Quoted(schema.columns[plan.chapterColumns[k]].name) + ", "))
                return e;
        }
    }
    return std::nullopt;
}

// ---------------------------------------------------------------- writing

void Writer::WriteColumn(const SchemaPlan& plan, size_t index, int depth) {
    const Column& c = plan.schema->columns[index];
    const std::string& xmlName = plan.xmlNames[index];
    const std::string name = Utf8(c.name);
    const uint32_t a = c.attributes;
    auto flag = [&](std::string_view attr, bool on) {
        if (on) Attr(attr, "true");
    };

    StartTag(depth, "s:AttributeType");
    Attr("name", xmlName);
    if (name != xmlName) Attr("rs:name", name);
    if (plan.numbers[index] > 0) Attr("rs:number", std::to_string(plan.numbers[index]));
    flag("rs:nullable", a & field_attr::IsNullable);
    flag("rs:maydefer", a & field_attr::MayDefer);
    flag("rs:write", a & field_attr::Updatable);
    flag("rs:writeunknown", a & field_attr::UnknownUpdatable);
    flag("rs:rowid", a & field_attr::RowID);
    flag("rs:rowver", a & field_attr::RowVersion);
    flag("rs:cachedeferred", a & field_attr::CacheDeferred);
    flag("rs:negativescale", a & field_attr::NegativeScale);
    if (!c.baseCatalog.empty()) Attr("rs:basecatalog", Utf8(c.baseCatalog));
    if (!c.baseSchema.empty()) Attr("rs:baseschema", Utf8(c.baseSchema));
    if (!c.baseTable.empty()) Attr("rs:basetable", Utf8(c.baseTable));
    if (!c.baseColumn.empty()) Attr("rs:basecolumn", Utf8(c.baseColumn));
    flag("rs:keycolumn", a & field_attr::KeyColumn);
    flag("rs:hidden", c.hidden);
    flag("rs:autoincrement", c.autoIncrement);
    for (const ExtraAttribute& x : c.extra) Attr("rs:" + x.name, Utf8(x.value));
    EndOpen();

    // rs:fixedlength and rs:long also choose between the string and binary
    // types, so for those they follow the type.
    bool fixed = (a & field_attr::Fixed) != 0;
    bool isLong = (a & field_attr::Long) != 0;
    if (IsSizedKind(c.type)) {
        // rs:long wins over rs:fixedlength, so a long column may keep both.
        isLong = IsLongKind(c.type);
        fixed = IsFixedKind(c.type) || (isLong && fixed);
    }
    std::string_view dt = c.dtType;
    std::string_view db = c.dbType;
    if (dt.empty() || TypeFromXml(dt, db, fixed, isLong) != c.type) {
        const XmlType canonical = CanonicalXmlType(c.type);
        dt = canonical.dtType;
        db = canonical.dbType;
    }
    StartTag(depth + 1, "s:datatype");
    Attr("dt:type", dt);
    if (!db.empty()) Attr("rs:dbtype", db);
    if (c.maxLength) Attr("dt:maxLength", std::to_string(*c.maxLength));
    if (c.scale) Attr("rs:scale", std::to_string(*c.scale));
    if (c.precision) Attr("rs:precision", std::to_string(*c.precision));
    flag("rs:fixedlength", fixed);
    flag("rs:long", isLong);
    if (!(a & field_attr::MayBeNull)) Attr("rs:maybenull", "false");
    for (const ExtraAttribute& x : c.extraDatatype) Attr("rs:" + x.name, Utf8(x.value));
    EndEmpty();
    EndTag(depth, "s:AttributeType");
}

void Writer::WriteSchema(const SchemaPlan& plan, int depth, const SchemaPlan* parent, size_t index) {
    const Schema& schema = *plan.schema;
    StartTag(depth, "s:ElementType");
    if (!parent) {
        Attr("name", "row");
        Attr("content", "eltOnly");
    } else {
        const std::string& xmlName = parent->xmlNames[index];
        const std::string name = Utf8(parent->schema->columns[index].name);
        Attr("name", xmlName);
        Attr("content", "eltOnly");
        if (name != xmlName) Attr("rs:name", name);
        if (parent->numbers[index] > 0) Attr("rs:number", std::to_string(parent->numbers[index]));
    }
    if (schema.updatable) Attr("rs:updatable", "true");
    if (parent && !schema.relation.empty()) Attr("rs:relation", Utf8(schema.relation));
    for (const ExtraAttribute& x : schema.properties) Attr("rs:" + x.name, Utf8(x.value));
    EndOpen();
    size_t chapter = 0;
    for (size_t i = 0; i < schema.columns.size(); ++i) {
        if (schema.columns[i].type == DataType::Chapter)
            WriteSchema(*plan.chapters[chapter++], depth + 1, &plan, i);
        else
            WriteColumn(plan, i, depth + 1);
    }
    StartTag(depth + 1, "s:extends");
    Attr("type", "rs:rowbase");
    EndEmpty();
    EndTag(depth, "s:ElementType");
}

void Writer::WriteRow(const SchemaPlan& plan, const Row& row, int depth, std::string_view element,
                      const std::vector<Value>& values, const std::vector<Value>* original, const RowTexts* texts) {
    StartTag(depth, element);
    m_setNull.clear();
    for (size_t i = 0; i < values.size(); ++i) {
        if (original && values[i] == (*original)[i]) continue;
        if (IsNull(values[i])) {
            if (texts && (*texts)[i]) {
                Attr(plan.xmlNames[i], *(*texts)[i]);
                continue;
            }
            // Only the changed row of an update needs to say that a column
            // became NULL; everywhere else an absent attribute is NULL.
            if (original) {
                if (!m_setNull.empty()) m_setNull += ' ';
                m_setNull += plan.xmlNames[i];
            }
            continue;
        }
        if (plan.forms[i] == ValueForm::String) {
            m_text.clear();
            FormatValue(plan.forms[i], values[i], m_text);
            Attr(plan.xmlNames[i], m_text);
        } else {
            // The other forms are made of digits, letters and a few marks
            // (- + . : { }) that need no escaping: written in place.
            const size_t start = BeginAttr(plan.xmlNames[i]);
            FormatValue(plan.forms[i], values[i], out);
            EndAttr(start);
        }
    }
    if (!m_setNull.empty()) Attr("rs:setnull", m_setNull);
    bool children = false;
    for (const auto& rows : row.chapters) children = children || !rows.empty();
    if (!children) {
        EndEmpty();
        return;
    }
    EndOpen();
    for (size_t k = 0; k < row.chapters.size(); ++k) {
        const SchemaPlan& child = *plan.chapters[k];
        const std::string& name = plan.xmlNames[plan.chapterColumns[k]];
        for (const Row& r : row.chapters[k]) WriteRow(child, r, depth + 1, name, r.values, nullptr);
    }
    EndTag(depth, element);
}

std::optional<Error> Writer::WriteDocument(const SchemaPlan& plan, RowSource& source, TextSink* sink) {
    // The head as for a whole table: written for no rows, then cut before
    // the end of the data section.
    WriteDocument(plan, {});
    const std::string_view tail = "</rs:data>\n</xml>\n";
    out.resize(out.size() - tail.size());
    const std::vector<Column>& columns = plan.schema->columns;
    Row row;
    RowTexts texts(columns.size());
    size_t number = 0;
    const char* section = nullptr;  // the rs:insert or rs:delete open
    while (source.Next(row)) {
        ++number;
        // String values the source gives as UTF-8 (never those of a
        // modified row, whose values are compared with the originals).
        const RowTexts* given = nullptr;
        if (row.state != RowState::Modified) {
            for (size_t i = 0; i < texts.size(); ++i) {
                texts[i] = plan.forms[i] == ValueForm::String && i < row.values.size() && IsNull(row.values[i])
                               ? source.Text(i)
                               : std::nullopt;
                if (texts[i]) given = &texts;
            }
        }
        if (auto e = CheckRow(plan, row, true, "", number, given)) return e;
        const char* wanted = row.state == RowState::Inserted  ? "rs:insert"
                             : row.state == RowState::Deleted ? "rs:delete"
                                                              : nullptr;
        if (section && section != wanted) {
            out += "\t</";
            out += section;
            out += ">\n";
            section = nullptr;
        }
        switch (row.state) {
        case RowState::Unchanged:
            WriteRow(plan, row, 1, "z:row", row.values, nullptr, given);
            break;
        case RowState::Modified:
            out += "\t<rs:update>\n\t\t<rs:original>\n";
            WriteRow(plan, row, 3, "z:row", row.original, nullptr);
            out += "\t\t</rs:original>\n";
            WriteRow(plan, row, 2, "z:row", row.values, &row.original);
            out += "\t</rs:update>\n";
            break;
        case RowState::Inserted:
        case RowState::Deleted:
            if (!section) {
                section = wanted;
                out += "\t<";
                out += section;
                out += ">\n";
            }
            WriteRow(plan, row, 2, "z:row", row.values, nullptr, given);
            break;
        }
        if (sink && out.size() >= kSaveChunkBytes) {
            sink->Write(out);
            out.clear();
        }
    }
    if (section) {
        out += "\t</";
        out += section;
        out += ">\n";
    }
    out += tail;
    if (sink) {
        sink->Write(out);
        out.clear();
    }
    return std::nullopt;
}

void Writer::WriteDocument(const SchemaPlan& plan, const std::vector<Row>& rows) {
    out += "<xml xmlns:s='uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882'\n"
           "\txmlns:dt='uuid:C2F41010-65B3-11d1-A29F-00AA00C14882'\n"
           "\txmlns:rs='urn:schemas-microsoft-com:rowset'\n"
           "\txmlns:z='#RowsetSchema'>\n";
    out += "<s:Schema id='RowsetSchema'>\n";
    WriteSchema(plan, 1, nullptr, 0);
    out += "</s:Schema>\n";
    out += "<rs:data>\n";
    size_t i = 0;
    while (i < rows.size()) {
        const Row& row = rows[i];
        switch (row.state) {
        case RowState::Unchanged:
            WriteRow(plan, row, 1, "z:row", row.values, nullptr);
            ++i;
            break;
        case RowState::Modified:
            out += "\t<rs:update>\n\t\t<rs:original>\n";
            WriteRow(plan, row, 3, "z:row", row.original, nullptr);
            out += "\t\t</rs:original>\n";
            WriteRow(plan, row, 2, "z:row", row.values, &row.original);
            out += "\t</rs:update>\n";
            ++i;
            break;
        case RowState::Inserted:
        case RowState::Deleted: {
            const RowState state = row.state;
            const char* section = state == RowState::Inserted ? "rs:insert" : "rs:delete";
            out += "\t<";
            out += section;
            out += ">\n";
            for (; i < rows.size() && rows[i].state == state; ++i)
                WriteRow(plan, rows[i], 2, "z:row", rows[i].values, nullptr);
            out += "\t</";
            out += section;
            out += ">\n";
            break;
        }
        }
    }
    out += "</rs:data>\n";
    out += "</xml>\n";
}

}  // namespace

Result<std::string> Save(const Table& table) noexcept {
    try {
        Writer writer;
        SchemaPlan plan;
        if (auto e = writer.Plan(table.schema, plan, 0)) return *e;
        if (auto e = writer.CheckRows(plan, table.rows, true, "")) return *e;
        // A first guess at the size, so that the text is seldom moved.
        writer.out.reserve(4096 + table.rows.size() * (16 + table.schema.columns.size() * 24));
        writer.WriteDocument(plan, table.rows);
        return std::move(writer.out);
    } catch (const std::bad_alloc&) {
        return Refuse(ErrorCategory::OutOfMemory, "out of memory");
    } catch (const std::length_error&) {
        return Refuse(ErrorCategory::OutOfMemory, "out of memory");
    }
}

Result<std::string> SaveRows(const Schema& schema, RowSource& rows, size_t rowCount) noexcept {
    try {
        Writer writer;
        SchemaPlan plan;
        if (auto e = writer.Plan(schema, plan, 0)) return *e;
        writer.out.reserve(4096 + rowCount * (16 + schema.columns.size() * 24));
        if (auto e = writer.WriteDocument(plan, rows, nullptr)) return *e;
        return std::move(writer.out);
    } catch (const std::bad_alloc&) {
        return Refuse(ErrorCategory::OutOfMemory, "out of memory");
    } catch (const std::length_error&) {
        return Refuse(ErrorCategory::OutOfMemory, "out of memory");
    }
}

std::optional<Error> SaveRows(const Schema& schema, RowSource& rows, TextSink& out) noexcept {
    try {
        Writer writer;
        SchemaPlan plan;
        if (auto e = writer.Plan(schema, plan, 0)) return *e;
        // Room for a chunk and the row that ends it, so that the buffer is
        // allocated once.
        writer.out.reserve(kSaveChunkBytes + kSaveChunkBytes / 4);
        return writer.WriteDocument(plan, rows, &out);
    } catch (const std::bad_alloc&) {
        return Refuse(ErrorCategory::OutOfMemory, "out of memory");
    } catch (const std::length_error&) {
        return Refuse(ErrorCategory::OutOfMemory, "out of memory");
    }
}

}  // namespace comhost::persist
