// Reading row by row, large documents a part at a time: the same tables and
// the same errors, at the same places, as reading documents whole.
#include "persist_test_util.h"

#include "text.h"

#include "../../../bench/saved_recordset_gen.h"

#include <optional>
#include <string_view>
#include <vector>

namespace persist_test {
namespace {

TEST(ReadByParts, CorpusAndTestDocumentsReadAsLoaded) {
    for (const char* name : {"file01.xml", "file02.xml", "file03.xml", "file04.xml", "file04_repaired.xml",
                             "file05.xml", "file06.xml", "file06_repaired.xml", "file07.xml"}) {
        SCOPED_TRACE(name);
        ExpectReadAsLoad(ReadData(name));
    }
}

TEST(ReadByParts, LargeDocumentsAreCutIntoPartsBetweenRows) {
    // About 3 MB: several parts, rows in rs:data and in rs:insert.
    const std::string xml = bench_gen::SavedRecordset(20000, 7);
    ExpectReadAsLoad(xml);
    ExpectReadAsLoad(xml, kReadByPartsFrom);
    ExpectReadAsLoad(xml, 0, 100);
    TableSink sink;
    ASSERT_FALSE(Read(xml, sink, 0));
    ASSERT_EQ(sink.table.rows.size(), 20000u);
    EXPECT_EQ(sink.table.rows[0].state, RowState::Unchanged);
    EXPECT_EQ(sink.table.rows[19999].state, RowState::Inserted);
}

// A data section between the standard schema and the document's end.
std::string WithData(const std::string& data) {
    return Doc("<s:Schema id='RowsetSchema'><s:ElementType name='row' content='eltOnly' rs:updatable='true'>"
               "<s:AttributeType name='id' rs:number='1'><s:datatype dt:type='int'/></s:AttributeType>"
               "<s:AttributeType name='t' rs:number='2'><s:datatype dt:type='string' dt:maxLength='4'/>"
               "</s:AttributeType></s:ElementType></s:Schema>\n<rs:data>" +
               data + "</rs:data>\n");
}

TEST(ReadByParts, EveryKindOfDataSectionContentReadsAsLoaded) {
    const char* const cases[] = {
        // Values that need decoding, whitespace normalisation, NULLs.
        "<z:row id='1' t='a&amp;b'/><z:row id='2' t='&#x27;&#10;x'/><z:row id='3'/>\n<z:row id='4' t='a\r\nb'/>",
        "<z:row id='1' t='&#xD800;'/>",       // a reference to a surrogate
        "<z:row id='1' t='a<b'/>",            // '<' in a value
        "<z:row id='1' t='&bogus;'/>",         // undefined entity
        "<z:row id='1' t='&#0;'/>",            // a reference to NUL
        "<z:row id='1' t='abcde'/>",           // longer than the column
        "<z:row id='1' t='ééé'/><z:row id='2' t='éééé'/>",
        "<z:row id='1' t='éééée'/>",
        "<z:row id='x'/>",                     // not an integer
        "<z:row id='1' id='2'/>",              // the same attribute twice
        "<z:row id='1' other='2'/>",           // no such column
        "<z:row id='1' rs:extra='2'/>",        // attributes of other namespaces
        "<z:row id='1' q:extra='2'/>",         // an undeclared prefix
        "<z:row id='1' xmlns:q='urn:q' q:a='1' q:a='2'/>",
        "<z:row id='1'>text</z:row>",          // content in a row
        "<z:row id='1'><x/></z:row>",
        "<r:row xmlns:r='#RowsetSchema' id='5'/>",
        "<row id='5'/>",                       // no namespace: not a row
        "<z:row id='1'/><!-- a comment --><?pi x?><![CDATA[c]]>text &amp; more",
        "<z:row id='1'/>text &bogus;",
        "<unknown a='1'><z:row id='9'/></unknown><z:row id='2'/>",
        "<rs:insert><z:row id='1'/></rs:insert><rs:delete><z:row id='2'/></rs:delete>",
        "<rs:insert ><z:row id='1'/></rs:insert ><rs:insert><z:row id='2'/></rs:insert>",
        "<rs:insert a='1'><z:row id='1'/></rs:insert>",
        "<rs:insert><rs:insert><z:row id='1'/></rs:insert></rs:insert>",
        "<rs:insert><z:row id='1'/><other/></rs:insert>",
        "<rs:insert><z:row id='1'/>",
        "</rs:insert><z:row id='1'/>",
        "<rs:insert/><z:row id='1'/>",
        "<rs:update><rs:original><z:row id='1' t='a'/></rs:original><z:row t='b'/></rs:update><z:row id='2'/>",
        "<rs:update><rs:original><z:row id='1' t='a'/></rs:original><z:row rs:setnull='t'/></rs:update>",
        "<rs:update><z:row t='b'/></rs:update>",
        "<rs:data><z:row id='1'/></rs:data>",
        "<z:row id='1'/><!-- <rs:insert> -->",
        "<z:row id='1' t='\xC3'/>",              // not UTF-8
        "<z:row id='1' t='\x01'/>",              // not an XML character
        // Characters of every UTF-8 length, and byte sequences that are
        // no XML character: U+FFFE, an overlong form, a surrogate, a cut
        // sequence, a stray continuation byte, a control.
        "<z:row id='1' t='\xE2\x82\xAC\xF0\x9F\x98\x80'/><z:row id='2' t='\xF0\x9F\x98\x80\xF0\x9F\x98\x80'/>",
        "<z:row id='1' t='\xEF\xBF\xBE'/>",
        "<z:row id='1' t='\xC0\x80'/>",
        "<z:row id='1' t='\xED\xA0\x80'/>",
        "<z:row id='1' t='\xE2\x82'/>",
        "<z:row id='1' t='a\x80'/>",
        "<z:row id='1' t='a&amp;\x1F'/>",
        "<z:row id='1'",
        "<z:row id='1'/></extra>",
        // Spellings of a row tag that the reader of row text must take as
        // the parser does, or leave to it.
        "<z:row id = \"1\"\tt='a'\n/>",
        "<z:row id='1't='a'/>",
        "<z:row id='1' / >",
        "<z:row/><z:row />",
        "<z:row id='1'></z:row>",
        "<z:rowx id='1'/>",
        "<z:row id='1' t=\"it's\"/>",
        "<z:row id='1' t='a\"b'/>",
        "<z:row id='1' t='>'/>",
        "<z:row id='1' =''/>",
        "<z:row id='1' t/>",
        "<z:row id='1' t='a/>",
        "<z:row id='1' t='a'",
        "<z:row id='1' t='\t&#9;'/>",
        "<z:row id='1' t='&#x27;'/>  \n\t<z:row id='2' t='\xC3\xA9\xC3\xA9'/>",
        "<z:row id='2' t=''/>  text",
    };
    for (const char* data : cases) {
        SCOPED_TRACE(data);
        ExpectReadAsLoad(WithData(data));
        // After a first row, in parts small enough that rows are read from
        // the text and parts are cut everywhere.
        const std::string afterRow = WithData(std::string("<z:row id='0' t='x'/>\n") + data);
        for (size_t partBytes : {size_t{1}, size_t{24}, size_t{64}, kPartBytes}) ExpectReadAsLoad(afterRow, 0, partBytes);
    }
    // What follows the data section and precedes the document.
    ExpectReadAsLoad(WithData("<z:row id='1'/>") + "<!-- after -->");
    ExpectReadAsLoad("\xEF\xBB\xBF<?xml version='1.0' encoding='utf-8'?>\n" + WithData("<z:row id='1'/>"));
    ExpectReadAsLoad("<?xml version='1.0' encoding='iso-8859-1'?>\n" + WithData("<z:row id='1' t='\xE9'/>"));
    std::string twoData = WithData("<z:row id='1'/>");
    twoData.insert(twoData.rfind("</xml>"), "<rs:data><z:row id='2'/></rs:data>");
    ExpectReadAsLoad(twoData);
}

TEST(ReadByParts, DamagedLargeDocumentsFailWhereLoadFails) {
    std::string xml = bench_gen::SavedRecordset(12000, 3);
    // Damage far into the data section, in a later part.
    for (const std::string& damage : {std::string("<z:row pro_numpro='x'/>"), std::string("<z:row pro_numpro='1' "),
                                      std::string("&bogus;"), std::string("<!-- open"),
                                      std::string("<z:row pro_nom='a<b' pro_actif='True'/>"),
                                      std::string("<z:row pro_nom='\xFF' pro_actif='True'/>"),
                                      std::string("<z:row pro_nom='&#x27;\xEF\xBF\xBF'/>")}) {
        SCOPED_TRACE(damage);
        std::string bad = xml;
        bad.insert(bad.find("<z:row", bad.size() * 3 / 4), damage);
        ExpectReadAsLoad(bad);
        ExpectReadAsLoad(bad, 0, 1000);
    }
    // Cut anywhere near the end: truncated documents.
    for (size_t cut : {size_t{10}, size_t{25}, size_t{100}, size_t{200}}) ExpectReadAsLoad(xml.substr(0, xml.size() - cut));
}

}  // namespace
}  // namespace persist_test

namespace persist_test {
namespace {

// Hands a table's rows to SaveRows one at a time; with `asText`, the
// strings of rows that are not modified as UTF-8 through Text, as a source
// that keeps them so does.
class TableSource final : public RowSource {
public:
    explicit TableSource(const Table& table, bool asText = false) : m_table(table), m_asText(asText) {}
    bool Next(Row& row) override {
        if (m_next >= m_table.rows.size()) return false;
        row = m_table.rows[m_next++];
        m_texts.assign(row.values.size(), std::nullopt);
        if (!m_asText || row.state == RowState::Modified) return true;
        m_storage.assign(row.values.size(), std::string());
        for (size_t i = 0; i < row.values.size(); ++i) {
            const auto* s = std::get_if<std::u16string>(&row.values[i]);
            // Texts with unpaired surrogates have no UTF-8 form: left as they are.
            if (!s || !detail::Utf16ToUtf8(*s, m_storage[i])) continue;
            m_texts[i] = m_storage[i];
            row.values[i] = std::monostate{};
        }
        return true;
    }
    std::optional<std::string_view> Text(size_t column) override { return m_texts[column]; }

private:
    const Table& m_table;
    bool m_asText;
    size_t m_next = 0;
    std::vector<std::string> m_storage;
    std::vector<std::optional<std::string_view>> m_texts;
};

// Gathers what SaveRows hands to a sink, and the sizes of the pieces.
class StringSink final : public TextSink {
public:
    void Write(std::string_view piece) override {
        text += piece;
        pieces.push_back(piece.size());
    }
    std::string text;
    std::vector<size_t> pieces;
};

void ExpectSaveRowsAsSave(const Table& table) {
    const Result<std::string> whole = Save(table);
    for (bool asText : {false, true}) {
        SCOPED_TRACE(asText ? "strings as UTF-8" : "strings as UTF-16");
        TableSource source(table, asText);
        const Result<std::string> streamed = SaveRows(table.schema, source, table.rows.size());
        TableSource again(table, asText);
        StringSink sink;
        const std::optional<Error> sunk = SaveRows(table.schema, again, sink);
        ASSERT_EQ(whole.ok(), streamed.ok());
        ASSERT_EQ(whole.ok(), !sunk.has_value());
        if (whole.ok()) {
            EXPECT_EQ(whole.value(), streamed.value());
            EXPECT_EQ(whole.value(), sink.text);
            // Pieces of about kSaveChunkBytes: only the last one shorter.
            for (size_t i = 0; i + 1 < sink.pieces.size(); ++i) {
                EXPECT_GE(sink.pieces[i], kSaveChunkBytes);
                EXPECT_LT(sink.pieces[i], kSaveChunkBytes + 4096);
            }
        } else {
            EXPECT_EQ(whole.error().category, streamed.error().category);
            EXPECT_EQ(whole.error().message, streamed.error().message);
            EXPECT_EQ(whole.error().category, sunk->category);
            EXPECT_EQ(whole.error().message, sunk->message);
        }
    }
}

TEST(SaveRowByRow, WritesWhatSaveWrites) {
    for (const char* name : {"file01.xml", "file02.xml", "file05.xml", "file06_repaired.xml", "file07.xml"}) {
        SCOPED_TRACE(name);
        ExpectSaveRowsAsSave(MustLoad(ReadData(name)));
    }
    // Pending changes of every kind, in runs and alone.
    Table t = MustLoad(bench_gen::SavedRecordset(300, 5));
    t.rows[3].state = RowState::Deleted;
    t.rows[4].state = RowState::Deleted;
    t.rows[7].state = RowState::Modified;
    t.rows[7].original = t.rows[8].values;
    t.rows[9].state = RowState::Inserted;
    t.rows.back().state = RowState::Deleted;
    ExpectSaveRowsAsSave(t);
    // Strings at their column's size (60) and beyond, counted in UTF-16
    // units: a character beyond the BMP counts twice, an accent once.
    const size_t nom = 2;
    ASSERT_EQ(60u, *t.schema.columns[nom].maxLength);
    t.rows[10].values[nom] = Value(std::u16string(58, u'\u00E9') + u"\U0001F36E");
    t.rows[11].values[nom] = Value(std::u16string(u"a&b<c>'d\"e\tf\r\ng\x01h\uFFFE\uFFFF"));
    t.rows[12].values[nom] = Value(std::u16string());
    ASSERT_TRUE(Save(t).ok());
    ExpectSaveRowsAsSave(t);
    Table longer = t;
    longer.rows[40].values[nom] = Value(std::u16string(59, u'\u00E9') + u"\U0001F36E");
    ASSERT_FALSE(Save(longer).ok());
    ExpectSaveRowsAsSave(longer);
    // Refusals: the first bad row, as Save reports it.
    t.rows[20].values.pop_back();
    t.rows[30].values[0] = Value(std::u16string(u"not a number"));
    ExpectSaveRowsAsSave(t);
}

TEST(SaveRowByRow, LargeDocumentsGoToTheSinkInPieces) {
    // About 1.5 MB: several pieces, rows in rs:data and in rs:insert, start
    // tags wrapped.
    ExpectSaveRowsAsSave(MustLoad(bench_gen::SavedRecordset(10000, 11)));
}

}  // namespace
}  // namespace persist_test
