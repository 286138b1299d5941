// Helpers shared by the persistence tests.
#pragma once

#include "persist.h"
#include "table_sink.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

namespace persist_test {

using namespace comhost::persist;

inline std::string DataPath(const std::string& name) { return std::string(PERSIST_TEST_DATA_DIR) + "/" + name; }

inline std::string ReadData(const std::string& name) {
    std::ifstream in(DataPath(name), std::ios::binary);
    EXPECT_TRUE(in.good()) << DataPath(name);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Loads a document that must load.
inline Table MustLoad(std::string_view xml) {
    Result<Table> r = Load(xml);
    if (!r) {
        ADD_FAILURE() << "Load failed: " << r.error().message;
        return {};
    }
    return std::move(r).value();
}

// Loads a document that must be refused and returns the error.
inline Error MustFail(std::string_view xml) {
    Result<Table> r = Load(xml);
    if (r) {
        ADD_FAILURE() << "Load succeeded where it should fail";
        return {};
    }
    return r.error();
}

// A document with the standard namespaces around `body` (schema and data).
inline std::string Doc(const std::string& body) {
    return "<xml xmlns:s='uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882' "
           "xmlns:dt='uuid:C2F41010-65B3-11d1-A29F-00AA00C14882' "
           "xmlns:rs='urn:schemas-microsoft-com:rowset' xmlns:z='#RowsetSchema'>" +
           body + "</xml>";
}

// A one-column document: the column's <s:datatype> attributes and the rows.
inline std::string OneColumn(const std::string& datatype, const std::string& rows) {
    return Doc("<s:Schema id='RowsetSchema'><s:ElementType name='row' content='eltOnly'>"
               "<s:AttributeType name='v' rs:number='1' rs:nullable='true'><s:datatype " +
               datatype +
               "/></s:AttributeType><s:extends type='rs:rowbase'/></s:ElementType></s:Schema>"
               "<rs:data>" +
               rows + "</rs:data>");
}

inline Column MakeColumn(std::u16string name, DataType type, std::optional<uint32_t> maxLength = std::nullopt,
                         uint32_t attributes = field_attr::MayBeNull | field_attr::IsNullable) {
    Column c;
    c.name = std::move(name);
    c.type = type;
    c.maxLength = maxLength;
    c.attributes = attributes;
    return c;
}

// The first difference between two tables, for failure messages.
inline std::string FirstDifference(const Table& a, const Table& b) {
    const auto& ca = a.schema.columns;
    const auto& cb = b.schema.columns;
    if (ca.size() != cb.size()) return "column count " + std::to_string(ca.size()) + " vs " + std::to_string(cb.size());
    for (size_t i = 0; i < ca.size(); ++i) {
        const Column& x = ca[i];
        const Column& y = cb[i];
        const std::string at = "column " + std::to_string(i) + ": ";
        if (x.name != y.name) return at + "name";
        if (x.xmlName != y.xmlName) return at + "xmlName";
        if (x.number != y.number) return at + "number " + std::to_string(x.number) + " vs " + std::to_string(y.number);
        if (x.type != y.type) return at + "type " + DataTypeName(x.type) + " vs " + DataTypeName(y.type);
        if (x.maxLength != y.maxLength) return at + "maxLength";
        if (x.precision != y.precision || x.scale != y.scale) return at + "precision/scale";
        if (x.attributes != y.attributes)
            return at + "attributes " + std::to_string(x.attributes) + " vs " + std::to_string(y.attributes);
        if (x.dtType != y.dtType || x.dbType != y.dbType)
            return at + "dt/db " + x.dtType + "/" + x.dbType + " vs " + y.dtType + "/" + y.dbType;
        if (!(x == y)) return at + "other column fields";
    }
    if (!(a.schema == b.schema)) return "schema properties";
    if (a.rows.size() != b.rows.size())
        return "row count " + std::to_string(a.rows.size()) + " vs " + std::to_string(b.rows.size());
    for (size_t r = 0; r < a.rows.size(); ++r) {
        const Row& x = a.rows[r];
        const Row& y = b.rows[r];
        if (x.state != y.state) return "row " + std::to_string(r) + " state";
        for (size_t i = 0; i < x.values.size() && i < y.values.size(); ++i)
            if (!(x.values[i] == y.values[i])) return "row " + std::to_string(r) + " value " + std::to_string(i);
        if (!(x == y)) return "row " + std::to_string(r) + " (original values or chapters)";
    }
    return "none";
}

// Saves and loads again; the result must equal the input.
inline void ExpectRoundTrip(const Table& table) {
    Result<std::string> saved = Save(table);
    ASSERT_TRUE(saved.ok()) << saved.error().message;
    Result<Table> back = Load(saved.value());
    ASSERT_TRUE(back.ok()) << back.error().message << "\n" << saved.value();
    EXPECT_TRUE(back.value() == table) << FirstDifference(table, back.value()) << "\n" << saved.value();
}

// Read (by parts from `byPartsFrom` bytes on) and Load agree on `xml`: the
// same table, or the same error at the same place.
// Reads `xml` by parts of `partBytes` (small parts: many cuts, and rows
// after the first of each container read from the text directly).
inline void ExpectReadAsLoad(std::string_view xml, size_t byPartsFrom = 0, size_t partBytes = kPartBytes) {
    SCOPED_TRACE("parts of " + std::to_string(partBytes) + " bytes");
    const Result<Table> loaded = Load(xml);
    TableSink sink;
    const std::optional<Error> error = Read(xml, sink, byPartsFrom, partBytes);
    ASSERT_EQ(loaded.ok(), !error) << (error ? error->message : loaded.error().message);
    if (error) {
        EXPECT_EQ(error->category, loaded.error().category);
        EXPECT_EQ(error->message, loaded.error().message);
        EXPECT_EQ(error->line, loaded.error().line);
        EXPECT_EQ(error->column, loaded.error().column);
    } else {
        EXPECT_TRUE(sink.table == loaded.value()) << FirstDifference(sink.table, loaded.value());
    }
}

}  // namespace persist_test
