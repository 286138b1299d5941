// Save: every type and edge value comes back equal, pending changes keep
// their states, awkward names and characters survive, the layout is the one
// ADO writes, and tables that could not be read back are refused.
#include "persist_test_util.h"

#include <cmath>
#include <limits>
#include <sstream>

namespace persist_test {
namespace {

std::u16string Utf16(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

Guid SampleGuid() {
    Guid g;
    for (size_t i = 0; i < 16; ++i) g.bytes[i] = static_cast<uint8_t>(0x10 * i + 1);
    return g;
}

// One column of each type with a set of values to put through a round trip.
struct TypeCase {
    DataType type;
    std::optional<uint32_t> size;
    std::vector<Value> values;
};

std::vector<TypeCase> AllTypes() {
    using L = std::numeric_limits<int64_t>;
    using U = std::numeric_limits<uint64_t>;
    return {
        {DataType::Boolean, 2u, {true, false}},
        {DataType::TinyInt, 1u, {int64_t{-128}, int64_t{127}, int64_t{0}}},
        {DataType::SmallInt, 2u, {int64_t{-32768}, int64_t{32767}}},
        {DataType::Integer, 4u, {int64_t{-2147483647 - 1}, int64_t{2147483647}}},
        {DataType::BigInt, 8u, {L::min(), L::max()}},
        {DataType::UnsignedTinyInt, 1u, {uint64_t{0}, uint64_t{255}}},
        {DataType::UnsignedSmallInt, 2u, {uint64_t{65535}}},
        {DataType::UnsignedInt, 4u, {uint64_t{4294967295u}}},
        {DataType::UnsignedBigInt, 8u, {U::max(), uint64_t{1}}},
        {DataType::Single, 4u, {0.1f, -3.4028235e38f, 1e-45f, -0.0f}},
        {DataType::Double, 8u, {3.141592653589793, -1.7976931348623157e308, 5e-324, 1e21, 123456789.125,
                                std::numeric_limits<double>::infinity()}},
        {DataType::Currency, 8u, {Currency{L::min()}, Currency{L::max()}, Currency{-12345}, Currency{0}}},
        {DataType::Decimal, 16u,
         {Decimal{0, 12345, 2, true}, Decimal{0xFFFFFFFFu, ~uint64_t{0}, 28, false}, Decimal{0, 0, 5, false},
          Decimal{7, 1, 0, false}}},
        {DataType::Numeric, 19u, {Decimal{0, 100, 2, false}}},
        {DataType::VarNumeric, 38u, {Decimal{0, 5, 0, true}}},
        {DataType::Date, 16u,
         {Date{37289.0846064814814}, Date{-1.25}, Date{-657434.0}, Date{2958465.5}, Date{0.0},
          Date{40000.123456789}}},
        {DataType::DBTimeStamp, 16u, {Date{39472.544444444444}, Date{-36522.75}}},
        {DataType::FileTime, 8u, {Date{43000.5}}},
        {DataType::DBDate, 6u, {Date{-109512.0}, Date{37135.0}}},
        {DataType::DBTime, 6u, {Date{0.75}, Date{(12 * 3600 + 1) / 86400.0}}},
        {DataType::GUID, 16u, {SampleGuid()}},
        {DataType::Binary, 4u, {Bytes{0xDE, 0xAD, 0xBE, 0xEF}, Bytes{}}},
        {DataType::VarBinary, 100u, {Bytes{0x00}, Bytes{0xFF, 0x00, 0x7F}}},
        {DataType::LongVarBinary, 2147483647u, {Bytes(3000, 0xA5)}},
        {DataType::Char, 6u, {std::u16string(u"123   "), std::u16string()}},
        {DataType::VarChar, 50u, {std::u16string(u"O'Leary & <Sons> \"quoted\"")}},
        {DataType::LongVarChar, 4294967295u, {std::u16string(5000, u'x')}},
        {DataType::WChar, 3u, {std::u16string(u"\u00e9\u4e2d\u0416")}},
        {DataType::VarWChar, 40u, {std::u16string(u"line1\r\nline2\ttab  two spaces ")}},
        {DataType::LongVarWChar, 1073741823u, {std::u16string(u"\U0001F600 beyond the BMP")}},
        {DataType::BSTR, std::nullopt, {std::u16string(u"a\u0001b\u0000c\uFFFE\uFFFF", 8)}},
    };
}

TEST(RoundTrip, EveryTypeWithEdgeValuesAndNulls) {
    Table t;
    t.schema.updatable = true;
    const std::vector<TypeCase> cases = AllTypes();
    size_t rows = 0;
    for (size_t i = 0; i < cases.size(); ++i) {
        const DataType type = cases[i].type;
        // Fixed and long string and binary columns carry those attributes, as ADO's do.
        uint32_t attributes = field_attr::MayBeNull | field_attr::IsNullable;
        if (type == DataType::Char || type == DataType::WChar || type == DataType::Binary)
            attributes |= field_attr::Fixed;
        if (type == DataType::LongVarChar || type == DataType::LongVarWChar || type == DataType::LongVarBinary)
            attributes |= field_attr::Long;
        t.schema.columns.push_back(
            MakeColumn(u"col" + Utf16(std::to_string(i)), type, cases[i].size, attributes));
        rows = std::max(rows, cases[i].values.size());
    }
    // One more row than the longest list: every column also gets a NULL.
    for (size_t r = 0; r <= rows; ++r) {
        Row row;
        for (const TypeCase& tc : cases) row.values.push_back(r < tc.values.size() ? tc.values[r] : Value());
        t.rows.push_back(row);
    }
    ExpectRoundTrip(t);
}

TEST(RoundTrip, TypeDetailsAndColumnMetadataSurvive) {
    Table t;
    t.schema.properties = {{"CommandTimeout", u"30"}, {"ReshapeName", u"DSRowset1"}};
    Column key = MakeColumn(u"ROWID", DataType::Char, 18u, field_attr::Fixed | field_attr::RowID | field_attr::KeyColumn);
    key.number = 34;
    key.hidden = true;
    key.autoIncrement = true;
    key.baseCatalog = u"cat";
    key.baseSchema = u"dbo";
    key.baseTable = u"orders";
    key.baseColumn = u"ROWID";
    key.extra = {{"somethingnew", u"kept"}};
    key.extraDatatype = {{"other", u"1"}};
    Column price = MakeColumn(u"Price", DataType::Numeric, 19u,
                              field_attr::Fixed | field_attr::MayDefer | field_attr::Updatable |
                                  field_attr::UnknownUpdatable | field_attr::IsNullable | field_attr::MayBeNull |
                                  field_attr::RowVersion | field_attr::CacheDeferred | field_attr::NegativeScale);
    price.number = 40;
    price.precision = 38;
    price.scale = 255;
    // The document's own spelling of an equivalent type is kept.
    Column count = MakeColumn(u"Count", DataType::Integer, 4u, field_attr::Fixed);
    count.number = 41;
    count.dtType = "i4";
    Column stamp = MakeColumn(u"When", DataType::DBTimeStamp, 16u);
    stamp.number = 42;
    stamp.dtType = "dateTime";  // no rs:dbtype, as older writers did
    stamp.precision = 23;
    stamp.scale = 3;
    Column blob = MakeColumn(u"Blob", DataType::VarBinary, 10u);
    blob.number = 43;
    blob.dtType = "bin.base64";
    // A long column may also say fixed length; the type stays long.
    Column memo = MakeColumn(u"Memo", DataType::LongVarWChar, 536870910u, field_attr::Long | field_attr::Fixed);
    memo.number = 44;
    t.schema.columns = {key, price, count, stamp, blob, memo};
    t.rows.push_back({{std::u16string(u"AAAAAAAAAAAAAAAAAA"), Decimal{0, 1999, 2, false}, int64_t{7}, Date{40000.5},
                       Bytes{1, 2, 3, 4, 5}, std::u16string(u"memo")},
                      {},
                      RowState::Unchanged,
                      {}});
    ExpectRoundTrip(t);

    const std::string xml = Save(t).value();
    EXPECT_NE(xml.find("dt:type='i4'"), std::string::npos);
    EXPECT_NE(xml.find("dt:type='bin.base64'"), std::string::npos);
    EXPECT_NE(xml.find("Blob='AQIDBAU='"), std::string::npos);
    EXPECT_NE(xml.find("rs:CommandTimeout='30'"), std::string::npos);
    EXPECT_EQ(xml.find("dbtype='timestamp'"), std::string::npos);
}

TEST(RoundTrip, UnknownRowsetAttributesAreKeptWhereverTheyAppear) {
    // rs: attributes this library has no field for, also ones whose names
    // mean something elsewhere in the format.
    const Table t = MustLoad(Doc(
        "<s:Schema id='RowsetSchema'><s:ElementType name='row' rs:name='n' rs:relation='r' rs:number='3'>"
        "<s:AttributeType name='a' rs:setnull='x' rs:relation='y'><s:datatype dt:type='int' rs:name='z'/>"
        "</s:AttributeType></s:ElementType></s:Schema><rs:data><z:row a='1'/></rs:data>"));
    EXPECT_EQ(t.schema.properties.size(), 3u);
    EXPECT_EQ(t.schema.columns[0].extra.size(), 2u);
    ExpectRoundTrip(t);
}

TEST(RoundTrip, StoredTypeNamesThatNoLongerFitAreReplaced) {
    // A column loaded as "dateTime/variantdate" whose type was changed
    // afterwards must be written with its new type's names.
    Table t;
    Column c = MakeColumn(u"d", DataType::DBDate, 6u);
    c.dtType = "dateTime";
    c.dbType = "variantdate";
    t.schema.columns = {c};
    t.rows.push_back({{Date{37135.0}}, {}, RowState::Unchanged, {}});
    const std::string xml = Save(t).value();
    EXPECT_NE(xml.find("<s:datatype dt:type='date' dt:maxLength='6'/>"), std::string::npos) << xml;
    const Table back = MustLoad(xml);
    EXPECT_EQ(back.schema.columns[0].type, DataType::DBDate);
    EXPECT_EQ(back.schema.columns[0].dtType, "") << "the usual spelling is not stored";
    EXPECT_EQ(back.rows[0].values[0], Value(Date{37135.0}));
}

TEST(RoundTrip, EmptyRowsetAndAllNullRow) {
    Table t;
    t.schema.columns = {MakeColumn(u"a", DataType::Integer, 4u), MakeColumn(u"b", DataType::VarWChar, 10u)};
    ExpectRoundTrip(t);
    t.rows.push_back({{Value(), Value()}, {}, RowState::Unchanged, {}});
    t.rows.push_back({{Value(), std::u16string()}, {}, RowState::Unchanged, {}});
    ExpectRoundTrip(t);
    // The empty string is written (a='') and is not NULL.
    EXPECT_NE(Save(t).value().find("b=''"), std::string::npos);
}

// ---------------------------------------------------------------- pending changes

Table PendingTable() {
    Table t;
    t.schema.updatable = true;
    t.schema.columns = {MakeColumn(u"ShipperID", DataType::Integer, 4u, field_attr::Fixed | field_attr::KeyColumn),
                        MakeColumn(u"CompanyName", DataType::VarWChar, 40u),
                        MakeColumn(u"Phone", DataType::VarWChar, 24u)};
    auto row = [](int id, const char16_t* name, const char16_t* phone) {
        return std::vector<Value>{int64_t{id}, name ? Value(std::u16string(name)) : Value(),
                                  phone ? Value(std::u16string(phone)) : Value()};
    };
    t.rows.push_back({row(1, u"Speedy Express", u"(503) 555-9831"), {}, RowState::Unchanged, {}});
    // Changed: one column to a new value, one to NULL.
    t.rows.push_back({row(2, u"United Package", nullptr), row(2, u"United Parcel", u"(503) 555-3199"),
                      RowState::Modified, {}});
    t.rows.push_back({row(3, u"Federal Shipping", u"(503) 555-9931"), {}, RowState::Unchanged, {}});
    t.rows.push_back({row(12, u"Li", u"(503) 555-1212"), {}, RowState::Inserted, {}});
    t.rows.push_back({row(13, u"Ya", nullptr), {}, RowState::Inserted, {}});
    t.rows.push_back({row(4, u"Gone", u"(503) 555-0000"), {}, RowState::Deleted, {}});
    // Modified without any difference still reads back as modified.
    t.rows.push_back({row(5, u"Same", u"1"), row(5, u"Same", u"1"), RowState::Modified, {}});
    return t;
}

TEST(PendingChanges, EveryStateAndOrderSurvives) {
    ExpectRoundTrip(PendingTable());
}

TEST(PendingChanges, SectionsAreWrittenAsAdoWritesThem) {
    const std::string xml = Save(PendingTable()).value();
    // Consecutive inserts share one rs:insert; an update holds the whole
    // original row and only the changed columns, a column set to NULL in
    // rs:setnull.
    EXPECT_NE(xml.find("\t<rs:insert>\n\t\t<z:row ShipperID='12'"), std::string::npos) << xml;
    EXPECT_EQ(xml.find("<rs:insert>", xml.find("<rs:insert>") + 1), std::string::npos) << xml;
    EXPECT_NE(xml.find("\t\t\t<z:row ShipperID='2' CompanyName='United Parcel' Phone='(503) 555-3199'/>\n"
                       "\t\t</rs:original>\n\t\t<z:row CompanyName='United Package' rs:setnull='Phone'/>"),
              std::string::npos)
        << xml;
    EXPECT_NE(xml.find("<rs:delete>\n\t\t<z:row ShipperID='4'"), std::string::npos) << xml;
    EXPECT_NE(xml.find("rs:updatable='true'"), std::string::npos);
}

TEST(PendingChanges, PartialUpdateRowsKeepTheOriginalValuesOfOtherColumns) {
    // The documented example: the changed row gives only the new phone.
    const Table t = MustLoad(Doc(
        "<s:Schema id='RowsetSchema'><s:ElementType name='row' content='eltOnly' rs:updatable='true'>"
        "<s:AttributeType name='ShipperID' rs:number='1'><s:datatype dt:type='int'/></s:AttributeType>"
        "<s:AttributeType name='CompanyName' rs:number='2'><s:datatype dt:type='string'/></s:AttributeType>"
        "<s:AttributeType name='Phone' rs:number='3'><s:datatype dt:type='string'/></s:AttributeType>"
        "</s:ElementType></s:Schema><rs:data>"
        "<z:row ShipperID='2' CompanyName='United Package' Phone='(503) 555-3199'/>"
        "<rs:update><rs:original><z:row ShipperID='3' CompanyName='Federal Shipping' Phone='(503) 555-9931'/>"
        "</rs:original><z:row Phone='(503) 552-7134'/></rs:update>"
        "<rs:insert><z:row ShipperID='12' CompanyName='Lightning Shipping' Phone='(503) 555-1212'/>"
        "<z:row ShipperID='13' CompanyName='Thunder Overnight' Phone='(503) 555-0000'/></rs:insert>"
        "<rs:delete><z:row ShipperID='1' CompanyName='Speedy Express' Phone='(503) 555-9831'/></rs:delete>"
        "</rs:data>"));
    ASSERT_EQ(t.rows.size(), 5u);
    EXPECT_EQ(t.rows[0].state, RowState::Unchanged);
    const Row& u = t.rows[1];
    EXPECT_EQ(u.state, RowState::Modified);
    EXPECT_EQ(u.values[0], Value(int64_t{3}));
    EXPECT_EQ(u.values[1], Value(std::u16string(u"Federal Shipping")));
    EXPECT_EQ(u.values[2], Value(std::u16string(u"(503) 552-7134")));
    EXPECT_EQ(u.original[2], Value(std::u16string(u"(503) 555-9931")));
    EXPECT_EQ(t.rows[2].state, RowState::Inserted);
    EXPECT_EQ(t.rows[3].state, RowState::Inserted);
    EXPECT_EQ(t.rows[4].state, RowState::Deleted);
    EXPECT_EQ(t.rows[4].values[1], Value(std::u16string(u"Speedy Express")));
    ExpectRoundTrip(t);
}

// ---------------------------------------------------------------- names

TEST(ColumnNames, NamesXmlCannotCarryGetAdoStyleAliases) {
    Table t;
    t.schema.columns = {MakeColumn(u"First Name", DataType::VarWChar, 20u),  // space
                        MakeColumn(u"ROWID", DataType::Integer, 4u),
                        MakeColumn(u"ROWID", DataType::Integer, 4u),  // duplicate name
                        MakeColumn(u"1st", DataType::Integer, 4u),
                        MakeColumn(u"xmlns", DataType::Integer, 4u),
                        MakeColumn(u"a:b", DataType::Integer, 4u),
                        MakeColumn(u"c0", DataType::Integer, 4u),  // collides with the first alias
                        MakeColumn(u"", DataType::Integer, 4u),
                        MakeColumn(u"\u00c9t\u00e9", DataType::Integer, 4u)};
    Row row;
    for (size_t i = 0; i < t.schema.columns.size(); ++i)
        row.values.push_back(i == 0 ? Value(std::u16string(u"Ann")) : Value(int64_t(i)));
    t.rows.push_back(row);
    const std::string xml = Save(t).value();
    EXPECT_NE(xml.find("name='c0' rs:name='First Name'"), std::string::npos) << xml;
    EXPECT_NE(xml.find("name='ROWID' rs:number='2'"), std::string::npos) << xml;
    EXPECT_NE(xml.find("name='c2' rs:name='ROWID'"), std::string::npos) << xml;
    EXPECT_NE(xml.find("name='c3' rs:name='1st'"), std::string::npos) << xml;
    EXPECT_NE(xml.find("name='c4' rs:name='xmlns'"), std::string::npos) << xml;
    EXPECT_NE(xml.find("name='c6' rs:name='c0'"), std::string::npos) << xml;
    EXPECT_NE(xml.find("name='\xC3\x89t\xC3\xA9'"), std::string::npos) << xml;

    const Table back = MustLoad(xml);
    ASSERT_EQ(back.schema.columns.size(), t.schema.columns.size());
    for (size_t i = 0; i < t.schema.columns.size(); ++i) {
        EXPECT_EQ(back.schema.columns[i].name, t.schema.columns[i].name) << i;
        EXPECT_EQ(back.rows[0].values[i], t.rows[0].values[i]) << i;
    }
    EXPECT_EQ(back.schema.columns[2].xmlName, u"c2");
    EXPECT_TRUE(back.schema.columns[1].xmlName.empty());
    // Saving what was loaded writes the same document again.
    EXPECT_EQ(Save(back).value(), xml);
}

TEST(ColumnNames, RsNumberIsKeptWhenItStillOrdersTheColumns) {
    Table t;
    Column a = MakeColumn(u"a", DataType::Integer, 4u);
    Column b = MakeColumn(u"b", DataType::Integer, 4u);
    a.number = 3;
    b.number = 7;
    t.schema.columns = {a, b};
    ExpectRoundTrip(t);
    EXPECT_NE(Save(t).value().find("name='b' rs:number='7'"), std::string::npos);
    // Out of order (e.g. after columns were moved): positions are written,
    // and a number equal to the position reads back as 0.
    t.schema.columns = {b, a};
    const std::string xml = Save(t).value();
    EXPECT_NE(xml.find("name='b' rs:number='1'"), std::string::npos) << xml;
    const Table back = MustLoad(xml);
    EXPECT_EQ(back.schema.columns[0].name, u"b");
    EXPECT_EQ(back.schema.columns[0].number, 0);
    EXPECT_EQ(back.schema.columns[1].number, 0);
}

// ---------------------------------------------------------------- chapters

TEST(Chapters, NestedRowsetsRoundTrip) {
    Schema inner;
    inner.columns = {MakeColumn(u"qty", DataType::SmallInt, 2u)};
    Schema child;
    child.relation = u"0100";
    child.columns = {MakeColumn(u"ord", DataType::VarWChar, 20u)};
    Column deeper;
    deeper.name = u"lines";
    deeper.type = DataType::Chapter;
    deeper.attributes = field_attr::MayBeNull | field_attr::IsChapter;
    deeper.chapter = Indirect<Schema>(inner);
    child.columns.push_back(deeper);
    Column chapter;
    chapter.name = u"orders";
    chapter.type = DataType::Chapter;
    chapter.attributes = field_attr::MayBeNull | field_attr::IsChapter;
    chapter.chapter = Indirect<Schema>(child);

    Table t;
    t.schema.columns = {MakeColumn(u"store", DataType::VarWChar, 10u), chapter,
                        MakeColumn(u"state", DataType::WChar, 2u, field_attr::Fixed)};
    Row lineRow{{int64_t{5}}, {}, RowState::Unchanged, {}};
    Row orderRow{{std::u16string(u"A1"), Value()}, {}, RowState::Unchanged, {{lineRow, lineRow}}};
    Row emptyOrder{{std::u16string(u"A2"), Value()}, {}, RowState::Unchanged, {{}}};
    t.rows.push_back({{std::u16string(u"s1"), Value(), std::u16string(u"WA")}, {}, RowState::Unchanged,
                      {{orderRow, emptyOrder}}});
    t.rows.push_back({{std::u16string(u"s2"), Value(), Value()}, {}, RowState::Unchanged, {{}}});
    // The chapter column in the middle keeps its place through rs:number.
    ExpectRoundTrip(t);
    EXPECT_NE(Save(t).value().find("<s:ElementType name='orders' content='eltOnly' rs:number='2' rs:relation='0100'>"),
              std::string::npos)
        << Save(t).value();
}

// ---------------------------------------------------------------- layout

TEST(Layout, AdoDocumentShape) {
    const std::string xml = Save(PendingTable()).value();
    EXPECT_EQ(xml.rfind("<xml xmlns:s='uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882'\n"
                        "\txmlns:dt='uuid:C2F41010-65B3-11d1-A29F-00AA00C14882'\n"
                        "\txmlns:rs='urn:schemas-microsoft-com:rowset'\n"
                        "\txmlns:z='#RowsetSchema'>\n<s:Schema id='RowsetSchema'>\n"
                        "\t<s:ElementType name='row' content='eltOnly' rs:updatable='true'>\n",
                        0),
              0u)
        << xml;
    EXPECT_NE(xml.find("\t\t<s:AttributeType name='ShipperID' rs:number='1' rs:keycolumn='true'>\n"
                       "\t\t\t<s:datatype dt:type='int' dt:maxLength='4' rs:fixedlength='true' rs:maybenull='false'/>\n"
                       "\t\t</s:AttributeType>\n"),
              std::string::npos)
        << xml;
    EXPECT_NE(xml.find("\t\t<s:extends type='rs:rowbase'/>\n\t</s:ElementType>\n</s:Schema>\n<rs:data>\n"),
              std::string::npos);
    EXPECT_EQ(xml.size() - xml.rfind("</rs:data>\n</xml>\n"), 18u);
}

TEST(Layout, LongStartTagsWrapBefore120Columns) {
    Table t;
    for (int i = 0; i < 12; ++i)
        t.schema.columns.push_back(MakeColumn(u"column_number_" + std::u16string(1, static_cast<char16_t>(u'a' + i)),
                                              DataType::VarWChar, 30u));
    Row r;
    for (int i = 0; i < 12; ++i) r.values.push_back(std::u16string(u"value"));
    r.state = RowState::Inserted;
    t.rows.push_back(r);
    const std::string xml = Save(t).value();
    std::istringstream lines(xml);
    std::string line;
    bool wrapped = false;
    while (std::getline(lines, line)) {
        EXPECT_LE(line.size(), 120u) << line;
        if (line.rfind("\t\t\t column_number_", 0) == 0) wrapped = true;
    }
    EXPECT_TRUE(wrapped) << "continuation lines are indented one tab deeper plus a space\n" << xml;
    ExpectRoundTrip(t);
}

// ---------------------------------------------------------------- refusals

TEST(SaveRefuses, TypesTheFormatCannotHold) {
    for (DataType type : {DataType::Variant, DataType::IDispatch, DataType::IUnknown, DataType::Error, DataType::Empty,
                          DataType::UserDefined, DataType::PropVariant, static_cast<DataType>(77)}) {
        Table t;
        t.schema.columns = {MakeColumn(u"x", type)};
        Result<std::string> r = Save(t);
        ASSERT_FALSE(r.ok()) << DataTypeName(type);
        EXPECT_EQ(r.error().category, ErrorCategory::UnsupportedType);
        EXPECT_NE(r.error().message.find(DataTypeName(type)), std::string::npos) << r.error().message;
    }
}

TEST(SaveRefuses, TablesThatWouldNotReadBack) {
    auto refused = [](const Table& t, ErrorCategory category, const char* fragment) {
        Result<std::string> r = Save(t);
        ASSERT_FALSE(r.ok()) << fragment;
        EXPECT_EQ(r.error().category, category) << r.error().message;
        EXPECT_NE(r.error().message.find(fragment), std::string::npos) << r.error().message;
    };
    Table t;
    refused(t, ErrorCategory::InvalidTable, "no column");

    t.schema.columns = {MakeColumn(u"n", DataType::TinyInt, 1u), MakeColumn(u"s", DataType::Char, 3u)};
    t.rows = {{{int64_t{1}}, {}, RowState::Unchanged, {}}};
    refused(t, ErrorCategory::InvalidTable, "1 values for 2 columns");
    t.rows = {{{int64_t{200}, Value()}, {}, RowState::Unchanged, {}}};
    refused(t, ErrorCategory::ValueOutOfRange, "row 1, column \"n\"");
    t.rows = {{{uint64_t{1}, Value()}, {}, RowState::Unchanged, {}}};
    refused(t, ErrorCategory::InvalidTable, "wrong kind");
    t.rows = {{{Value(), std::u16string(u"abcd")}, {}, RowState::Unchanged, {}}};
    refused(t, ErrorCategory::ValueOutOfRange, "4 characters");
    t.rows = {{{Value(), std::u16string(1, u'\xDC00')}, {}, RowState::Unchanged, {}}};
    refused(t, ErrorCategory::InvalidTable, "surrogate");
    t.rows = {{{Value(), Value()}, {int64_t{1}}, RowState::Modified, {}}};
    refused(t, ErrorCategory::InvalidTable, "original values");
    t.rows = {{{Value(), Value()}, {int64_t{999}, Value()}, RowState::Modified, {}}};
    refused(t, ErrorCategory::ValueOutOfRange, "original value");

    Table d;
    d.schema.columns = {MakeColumn(u"d", DataType::Date, 16u)};
    d.rows = {{{Date{3e6}}, {}, RowState::Unchanged, {}}};
    refused(d, ErrorCategory::ValueOutOfRange, "years 100 to 9999");
    d.rows = {{{Date{std::nan("")}}, {}, RowState::Unchanged, {}}};
    refused(d, ErrorCategory::ValueOutOfRange, "years 100 to 9999");
    d.schema.columns[0].type = DataType::DBDate;
    d.rows = {{{Date{37135.5}}, {}, RowState::Unchanged, {}}};
    refused(d, ErrorCategory::ValueOutOfRange, "time of day, which an adDBDate column cannot keep");
    d.schema.columns[0].type = DataType::DBTime;
    refused(d, ErrorCategory::ValueOutOfRange, "a date, which an adDBTime column cannot keep");

    Table e;
    e.schema.columns = {MakeColumn(u"x", DataType::Integer, 4u)};
    e.schema.columns[0].extra = {{"nullable", u"true"}};
    refused(e, ErrorCategory::InvalidTable, "rs:nullable");
    e.schema.columns[0].extra = {{"bad name", u"1"}};
    refused(e, ErrorCategory::InvalidTable, "not a valid XML name");

    Table c;
    Column chapter;
    chapter.name = u"kids";
    chapter.type = DataType::Chapter;
    c.schema.columns = {chapter};
    refused(c, ErrorCategory::InvalidTable, "chapter without a schema");
    Schema kid;
    kid.columns = {MakeColumn(u"k", DataType::Integer, 4u)};
    c.schema.columns[0].chapter = Indirect<Schema>(kid);
    c.rows = {{{Value()}, {}, RowState::Unchanged, {{Row{{int64_t{1}}, {}, RowState::Inserted, {}}}}}};
    refused(c, ErrorCategory::InvalidTable, "pending change");
    c.rows = {{{Value(int64_t{1})}, {}, RowState::Unchanged, {}}};
    refused(c, ErrorCategory::InvalidTable, "chapter column");
}

}  // namespace
}  // namespace persist_test
