// Documents that are not saved recordsets, or not XML, or whose schema or
// values are wrong: each is refused with the right category and a message
// that says where and what; variations ADO itself writes or reads load.
#include "persist_test_util.h"

#include <unistd.h>

namespace persist_test {
namespace {

const char* const kSchema =
    "<s:Schema id='RowsetSchema'><s:ElementType name='row' content='eltOnly' rs:updatable='true'>"
    "<s:AttributeType name='id' rs:number='1'><s:datatype dt:type='int' dt:maxLength='4'/></s:AttributeType>"
    "<s:AttributeType name='name' rs:number='2' rs:nullable='true'>"
    "<s:datatype dt:type='string' dt:maxLength='10'/></s:AttributeType>"
    "<s:extends type='rs:rowbase'/></s:ElementType></s:Schema>";

std::string WithRows(const std::string& rows) { return Doc(std::string(kSchema) + "<rs:data>" + rows + "</rs:data>"); }

void ExpectError(const std::string& xml, ErrorCategory category, const std::string& fragment) {
    const Error e = MustFail(xml);
    EXPECT_EQ(e.category, category) << CategoryName(e.category) << ": " << e.message;
    EXPECT_NE(e.message.find(fragment), std::string::npos) << e.message;
}

// ---------------------------------------------------------------- document shape

TEST(DocumentShape, OnlyAnXmlRootWithSchemaAndDataIsARecordset) {
    ExpectError("<root/>", ErrorCategory::NotRecordset, "<root>");
    ExpectError("<x:xml xmlns:x='urn:other'/>", ErrorCategory::NotRecordset, "<x:xml>");
    ExpectError(Doc("<rs:data/>"), ErrorCategory::NotRecordset, "no schema section");
    ExpectError(Doc(kSchema), ErrorCategory::NotRecordset, "no data section");
    ExpectError(Doc(std::string("<rs:data/>") + kSchema), ErrorCategory::NotRecordset, "follows the data");
    ExpectError(Doc(std::string(kSchema) + kSchema + "<rs:data/>"), ErrorCategory::NotRecordset, "two schema");
    ExpectError(Doc(std::string(kSchema) + "<rs:data/><rs:data/>"), ErrorCategory::NotRecordset, "two rs:data");
    ExpectError(Doc("<s:Schema id='Other'/><rs:data/>"), ErrorCategory::NotRecordset, "'Other'");
    ExpectError(Doc("<s:Schema id='RowsetSchema'><s:ElementType name='other'/></s:Schema><rs:data/>"),
                ErrorCategory::NotRecordset, "no row definition");
    ExpectError(Doc("<s:Schema id='RowsetSchema'><s:ElementType name='row'/></s:Schema><rs:data/>"),
                ErrorCategory::BadSchema, "no column");
}

TEST(DocumentShape, PrefixesAreResolvedNotMatched) {
    // Other prefixes, a default namespace for the schema vocabulary and
    // double quotes: the same recordset.
    const std::string xml =
        "<?xml version=\"1.0\"?>\n<!-- saved -->\n<xml xmlns:a=\"uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882\" "
        "xmlns:b=\"uuid:C2F41010-65B3-11d1-A29F-00AA00C14882\" xmlns:c=\"urn:schemas-microsoft-com:rowset\" "
        "xmlns:d=\"#RowsetSchema\"><Schema xmlns=\"uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882\" id=\"RowsetSchema\">"
        "<ElementType name=\"row\" content=\"eltOnly\"><AttributeType name=\"id\" c:number=\"1\">"
        "<datatype b:type=\"i4\"/></AttributeType></ElementType></Schema>"
        "<c:data><?pi ignored?><d:row id=\"5\" /><![CDATA[text is ignored]]></c:data></xml>";
    const Table t = MustLoad(xml);
    ASSERT_EQ(t.schema.columns.size(), 1u);
    EXPECT_EQ(t.schema.columns[0].type, DataType::Integer);
    ASSERT_EQ(t.rows.size(), 1u);
    EXPECT_EQ(t.rows[0].values[0], Value(int64_t{5}));
}

TEST(DocumentShape, SchemaVariantsAdoReads) {
    // Columns declared at schema level and referenced with s:attribute, out
    // of order; the type directly on s:AttributeType; a column with no type;
    // an empty data section.
    const Table t = MustLoad(Doc(
        "<s:Schema id='RowsetSchema'><s:ElementType name='row' content='eltOnly'>"
        "<s:attribute type='b'/><s:attribute type='a'/><s:attribute type='plain'/>"
        "<s:extends type='rs:rowbase'/></s:ElementType>"
        "<s:AttributeType name='a' rs:number='1' dt:type='i2'/>"
        "<s:AttributeType name='b' rs:number='2'><s:datatype dt:type='uuid' dt:maxLength='16'/></s:AttributeType>"
        "<s:AttributeType name='plain' rs:number='3'/></s:Schema><rs:data/>"));
    ASSERT_EQ(t.schema.columns.size(), 3u);
    EXPECT_EQ(t.schema.columns[0].name, u"a");
    EXPECT_EQ(t.schema.columns[0].type, DataType::SmallInt);
    EXPECT_EQ(t.schema.columns[1].type, DataType::GUID);
    EXPECT_EQ(t.schema.columns[2].type, DataType::VarWChar);
    EXPECT_TRUE(t.rows.empty());
}

TEST(DocumentShape, UnknownContentIsIgnoredWhereAdoIgnoresIt) {
    const Table t = MustLoad(
        Doc(std::string(kSchema) +
            "<rs:data><z:row id='1' rs:extra='x' other:thing='y' xmlns:other='urn:o'/><unknown id='9'/>"
            "<rs:insert><note/><z:row id='2'/></rs:insert></rs:data><app:params xmlns:app='urn:app' a='1'/>"));
    ASSERT_EQ(t.rows.size(), 2u);
    EXPECT_EQ(t.rows[1].state, RowState::Inserted);
}

// ---------------------------------------------------------------- schema errors

TEST(SchemaErrors, ColumnDefinitions) {
    auto schema = [](const std::string& columns) {
        return Doc("<s:Schema id='RowsetSchema'><s:ElementType name='row'>" + columns +
                   "</s:ElementType></s:Schema><rs:data/>");
    };
    ExpectError(schema("<s:AttributeType name='m' rs:number='1'><s:datatype dt:type='money'/></s:AttributeType>"),
                ErrorCategory::UnsupportedType, "column \"m\" has the data type 'money'");
    ExpectError(schema("<s:AttributeType name='a' rs:number='1'/><s:AttributeType name='a' rs:number='2'/>"),
                ErrorCategory::BadSchema, "two columns are named 'a'");
    ExpectError(schema("<s:AttributeType name='a' rs:number='1'/><s:AttributeType name='b' rs:number='1'/>"),
                ErrorCategory::BadSchema, "same rs:number 1");
    ExpectError(schema("<s:attribute type='missing'/>"), ErrorCategory::BadSchema, "'missing'");
    ExpectError(schema("<s:AttributeType rs:number='1'/>"), ErrorCategory::BadSchema, "has no name");
    ExpectError(schema("<s:AttributeType name='a b'/>"), ErrorCategory::BadSchema, "not a valid XML attribute name");
    ExpectError(schema("<s:AttributeType name='a' rs:number='0'/>"), ErrorCategory::BadSchema, "rs:number");
    ExpectError(schema("<s:AttributeType name='a' rs:number='x'/>"), ErrorCategory::BadSchema, "rs:number");
    ExpectError(schema("<s:AttributeType name='a'><s:datatype dt:maxLength='-1'/></s:AttributeType>"),
                ErrorCategory::BadSchema, "dt:maxLength");
    ExpectError(schema("<s:AttributeType name='a'><s:datatype dt:maxLength='4294967296'/></s:AttributeType>"),
                ErrorCategory::BadSchema, "4294967296");
    ExpectError(schema("<s:AttributeType name='a' rs:nullable='yes'/>"), ErrorCategory::BadSchema,
                "rs:nullable has the value 'yes'");
    ExpectError(schema("<s:AttributeType name='a'><s:datatype rs:precision='256'/></s:AttributeType>"),
                ErrorCategory::BadSchema, "rs:precision");
    ExpectError(schema("<s:AttributeType name='a'><s:datatype/><s:datatype/></s:AttributeType>"),
                ErrorCategory::BadSchema, "two s:datatype");
    ExpectError(schema("<s:AttributeType name='a' rs:number='99999999999999999999999'/>"), ErrorCategory::BadSchema,
                "rs:number");
    ExpectError(schema("<s:AttributeType name='a'/><s:ElementType name='kids'><s:extends type='rs:rowbase'/>"
                       "</s:ElementType>"),
                ErrorCategory::BadSchema, "chapter 'kids' defines no column");

    const Table big = MustLoad(
        schema("<s:AttributeType name='a'><s:datatype dt:type='string' rs:dbtype='str' dt:maxLength='4294967295' "
               "rs:long='true'/></s:AttributeType>"));
    EXPECT_EQ(big.schema.columns[0].maxLength, 4294967295u);
    EXPECT_EQ(big.schema.columns[0].type, DataType::LongVarChar);
}

TEST(SchemaErrors, ColumnsFollowRsNumberNotDocumentOrder) {
    const Table t = MustLoad(Doc(
        "<s:Schema id='RowsetSchema'><s:ElementType name='row'>"
        "<s:AttributeType name='z' rs:number='3'/><s:AttributeType name='unnumbered'/>"
        "<s:AttributeType name='x' rs:number='1'/><s:AttributeType name='y' rs:number='2'/>"
        "</s:ElementType></s:Schema><rs:data><z:row x='1' y='2' z='3' unnumbered='4'/></rs:data>"));
    ASSERT_EQ(t.schema.columns.size(), 4u);
    EXPECT_EQ(t.schema.columns[0].name, u"x");
    EXPECT_EQ(t.schema.columns[2].name, u"z");
    EXPECT_EQ(t.schema.columns[3].name, u"unnumbered");
    EXPECT_EQ(t.rows[0].values[3], Value(std::u16string(u"4")));
}

// ---------------------------------------------------------------- value errors

TEST(ValueErrors, EachTellsTheColumnTheValueAndThePlace) {
    const Error e = MustFail(Doc(std::string(kSchema) + "<rs:data>\n<z:row id='1'/>\n<z:row id='12x'/></rs:data>"));
    EXPECT_EQ(e.category, ErrorCategory::BadValue);
    EXPECT_EQ(e.line, 3u);
    EXPECT_EQ(e.column, 1u);
    EXPECT_EQ(e.message,
              "line 3, column 1: the value '12x' of column \"id\" (adInteger) is not an integer");
    EXPECT_EQ(e.Description(), u"line 3, column 1: the value '12x' of column \"id\" (adInteger) is not an integer");
}

TEST(ValueErrors, ByType) {
    ExpectError(WithRows("<z:row id='2147483648'/>"), ErrorCategory::ValueOutOfRange, "outside the range of adInteger");
    ExpectError(WithRows("<z:row id='1' name='eleven char'/>"), ErrorCategory::ValueOutOfRange,
                "longer than the column's size 10");
    ExpectError(OneColumn("dt:type='dateTime'", "<z:row v='2001-02-30T00:00:00'/>"), ErrorCategory::ValueOutOfRange,
                "not a valid date");
    ExpectError(OneColumn("dt:type='dateTime'", "<z:row v='01/02/2001'/>"), ErrorCategory::BadValue,
                "is not a date and time");
    ExpectError(OneColumn("dt:type='uuid'", "<z:row v='{123}'/>"), ErrorCategory::BadValue, "GUID");
    ExpectError(OneColumn("dt:type='bin.hex'", "<z:row v='abc'/>"), ErrorCategory::BadValue, "hexadecimal");
    ExpectError(OneColumn("dt:type='boolean'", "<z:row v='yes'/>"), ErrorCategory::BadValue, "boolean");
    ExpectError(OneColumn("dt:type='number' rs:dbtype='currency'", "<z:row v='1,5'/>"), ErrorCategory::BadValue,
                "decimal number");
    ExpectError(OneColumn("dt:type='number' rs:dbtype='currency'", "<z:row v='1e20'/>"),
                ErrorCategory::ValueOutOfRange, "adCurrency");
    ExpectError(OneColumn("dt:type='ui1'", "<z:row v='-1'/>"), ErrorCategory::ValueOutOfRange, "adUnsignedTinyInt");
    ExpectError(OneColumn("dt:type='r4'", "<z:row v='1e39'/>"), ErrorCategory::ValueOutOfRange, "adSingle");
    ExpectError(OneColumn("dt:type='string' dt:maxLength='3' rs:fixedlength='true'", "<z:row v='abcd'/>"),
                ErrorCategory::ValueOutOfRange, "size 3");
    // A long value is cut short in the message.
    const Error e = MustFail(OneColumn("dt:type='int'", "<z:row v='" + std::string(500, '7') + "x'/>"));
    EXPECT_LT(e.message.size(), 200u);
    EXPECT_NE(e.message.find("7777..."), std::string::npos) << e.message;
}

TEST(ValueErrors, RowAttributesMustNameColumns) {
    ExpectError(WithRows("<z:row id='1' nmae='typo'/>"), ErrorCategory::UnknownColumn, "'nmae'");
    // Child elements named like no chapter are ignored; attributes are not.
    const Table t = MustLoad(WithRows("<z:row id='1'><child x='1'/></z:row>"));
    EXPECT_EQ(t.rows.size(), 1u);
}

// ---------------------------------------------------------------- pending-change structure

TEST(PendingChangeErrors, UpdateSectionsMustBeComplete) {
    ExpectError(WithRows("<rs:update><z:row id='1'/></rs:update>"), ErrorCategory::BadData, "rs:original");
    ExpectError(WithRows("<rs:update><rs:original><z:row id='1'/></rs:original></rs:update>"), ErrorCategory::BadData,
                "changed z:row");
    ExpectError(WithRows("<rs:update><rs:original/><z:row id='1'/></rs:update>"), ErrorCategory::BadData, "no row");
    ExpectError(WithRows("<rs:update><rs:original><z:row id='1'/><z:row id='2'/></rs:original><z:row/></rs:update>"),
                ErrorCategory::BadData, "more than one row");
    ExpectError(WithRows("<rs:update><rs:original><z:row id='1'/></rs:original><z:row/><z:row/></rs:update>"),
                ErrorCategory::BadData, "one changed z:row");
    ExpectError(WithRows("<rs:update><rs:original><z:row id='1'/></rs:original><z:row rs:setnull='id nope'/>"
                         "</rs:update>"),
                ErrorCategory::UnknownColumn, "'nope'");
    ExpectError(WithRows("<rs:update><rs:original><z:row id='1'/></rs:original><z:row id='x'/></rs:update>"),
                ErrorCategory::BadValue, "'x'");
    // rs:setnull outside an update is not a column and is ignored.
    const Table t = MustLoad(WithRows("<z:row id='1' name='n' rs:setnull='name'/>"));
    EXPECT_EQ(t.rows[0].values[1], Value(std::u16string(u"n")));
}

// ---------------------------------------------------------------- not XML

TEST(NotWellFormed, MarkupErrorsTheParserWouldLetThrough) {
    ExpectError(WithRows("<z:row id='1' id='2'/>"), ErrorCategory::NotWellFormed, "attribute 'id' twice");
    ExpectError(WithRows("<z:row id='1' a:x='1' b:x='2' xmlns:a='urn:n' xmlns:b='urn:n'/>"),
                ErrorCategory::NotWellFormed, "same namespace and name");
    ExpectError(WithRows("<z:row id='1' name='a&b'/>"), ErrorCategory::NotWellFormed, "&amp;");
    ExpectError(WithRows("<z:row id='1' name='&nbsp;'/>"), ErrorCategory::NotWellFormed, "undefined entity");
    ExpectError(WithRows("<z:row id='1' name='&#0x41;'/>"), ErrorCategory::NotWellFormed, "character reference");
    ExpectError(WithRows("<z:row id='1' name='a<b'/>"), ErrorCategory::NotWellFormed, "");
    ExpectError(WithRows("text & more"), ErrorCategory::NotWellFormed, "&amp;");
    ExpectError(WithRows("<q:row id='1'/>"), ErrorCategory::NotWellFormed, "undeclared namespace prefix 'q'");
    ExpectError(WithRows("<z:row q:id='1'/>"), ErrorCategory::NotWellFormed, "undeclared namespace prefix 'q'");
    ExpectError(WithRows("<z:row xmlns:e='' id='1'/>"), ErrorCategory::NotWellFormed, "empty name");
    ExpectError(WithRows("<a:b:c xmlns:a='urn:a'/>"), ErrorCategory::NotWellFormed, "qualified name");
    ExpectError("<!DOCTYPE xml [<!ENTITY e 'x'>]>" + WithRows(""), ErrorCategory::NotWellFormed, "document type");
    ExpectError(WithRows("") + "<xml/>", ErrorCategory::NotWellFormed, "2 top-level elements");
    ExpectError(WithRows("") + "trailing", ErrorCategory::NotWellFormed, "");
    ExpectError("", ErrorCategory::NotWellFormed, "no element");
    ExpectError("   \n", ErrorCategory::NotWellFormed, "no element");
}

TEST(NotWellFormed, TruncatedDocumentsSaySo) {
    const std::string doc = WithRows("<z:row id='1'/>\n<z:row id='2'/>");
    const Error e = MustFail(doc.substr(0, doc.find("<z:row id='2'")));
    EXPECT_EQ(e.category, ErrorCategory::NotWellFormed);
    EXPECT_NE(e.message.find("truncated"), std::string::npos) << e.message;
}

TEST(NotWellFormed, BadCharactersAreReportedWithTheirLine) {
    const Error utf8 = MustFail(WithRows("\n\n<z:row id='1' name='\xC3('/>"));
    EXPECT_EQ(utf8.category, ErrorCategory::NotWellFormed);
    EXPECT_EQ(utf8.line, 3u);
    EXPECT_NE(utf8.message.find("not valid UTF-8"), std::string::npos) << utf8.message;
    ExpectError(WithRows("<z:row id='1' name='\x07'/>"), ErrorCategory::NotWellFormed, "does not allow");
    ExpectError(WithRows(std::string("<z:row id='1' name='a\0b'/>", 25)), ErrorCategory::NotWellFormed,
                "does not allow");
}

TEST(NotWellFormed, DeepNestingIsRefusedWithoutExhaustingTheStack) {
    for (size_t depth : {300u, 200000u}) {
        std::string nested;
        for (size_t i = 0; i < depth; ++i) nested += "<a>";
        for (size_t i = 0; i < depth; ++i) nested += "</a>";
        ExpectError(WithRows(nested), ErrorCategory::TooLarge, "nested");
    }
}

// ---------------------------------------------------------------- encodings

std::string ToUtf16(const std::string& ascii, bool bigEndian) {
    std::string out = bigEndian ? std::string("\xFE\xFF") : std::string("\xFF\xFE");
    for (char c : ascii) {
        if (bigEndian) out += '\0';
        out += c;
        if (!bigEndian) out += '\0';
    }
    return out;
}

TEST(Encodings, ByteOrderMarksAndDeclaredEncodings) {
    const std::string doc = WithRows("<z:row id='1' name='abc'/>");
    const Table expected = MustLoad(doc);
    EXPECT_EQ(MustLoad("\xEF\xBB\xBF" + doc), expected);
    EXPECT_EQ(MustLoad(ToUtf16("<?xml version='1.0' encoding='UTF-16'?>" + doc, false)), expected);
    EXPECT_EQ(MustLoad(ToUtf16(doc, true)), expected);

    const Table latin1 =
        MustLoad("<?xml version='1.0' encoding='ISO-8859-1'?>" + WithRows("<z:row id='1' name='caf\xE9'/>"));
    EXPECT_EQ(latin1.rows[0].values[1], Value(std::u16string(u"caf\u00e9")));
    ExpectError("<?xml version='1.0' encoding='x-no-such-encoding'?>" + doc, ErrorCategory::NotWellFormed,
                "not supported");
    ExpectError("\xEF\xBB\xBF<?xml version='1.0' encoding='ISO-8859-1'?>" + doc, ErrorCategory::NotWellFormed,
                "byte-order mark");
    // UTF-16 with an unpaired surrogate.
    std::string broken = ToUtf16(doc, false);
    broken.insert(broken.size() - 20, std::string("\x00\xD8", 2));
    ExpectError(broken, ErrorCategory::NotWellFormed, "UTF-16");
}

// ---------------------------------------------------------------- files

TEST(Files, MissingFilesAndDirectoriesAreIoErrors) {
    Result<Table> missing = LoadFile(DataPath("no-such-file.xml"));
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().category, ErrorCategory::Io);
    EXPECT_NE(missing.error().message.find("no-such-file.xml"), std::string::npos);
    Result<Table> dir = LoadFile(PERSIST_TEST_DATA_DIR);
    ASSERT_FALSE(dir.ok());
    EXPECT_EQ(dir.error().category, ErrorCategory::Io);
    // A device would be read without end.
    Result<Table> device = LoadFile("/dev/zero");
    ASSERT_FALSE(device.ok());
    EXPECT_EQ(device.error().category, ErrorCategory::Io);
    EXPECT_NE(device.error().message.find("not a regular file"), std::string::npos);

    char path[] = "/tmp/persist_test_XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    Result<Table> empty = LoadFile(path);
    unlink(path);
    ASSERT_FALSE(empty.ok());
    EXPECT_EQ(empty.error().category, ErrorCategory::NotWellFormed);
}

TEST(Names, CategoryAndTypeNames) {
    EXPECT_EQ(CategoryName(ErrorCategory::UnknownColumn), "UnknownColumn");
    EXPECT_EQ(DataTypeName(DataType::LongVarWChar), "adLongVarWChar");
    EXPECT_EQ(DataTypeName(static_cast<DataType>(999)), "type 999");
}

}  // namespace
}  // namespace persist_test
