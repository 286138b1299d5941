// Saved recordsets from real programs and from the format's documentation:
// what they load as, which ones are refused and why, and that no truncated
// or damaged copy of them is ever taken for a recordset.
#include "persist_test_util.h"

#include <random>

namespace persist_test {
namespace {

constexpr double kSecond = 1.0 / 86400.0;

const Value& Cell(const Table& t, size_t row, size_t column) { return t.rows.at(row).values.at(column); }
std::u16string Str(const Table& t, size_t row, size_t column) { return std::get<std::u16string>(Cell(t, row, column)); }

TEST(Corpus, File01JetTableThroughDomResave) {
    const Table t = MustLoad(ReadData("file01.xml"));
    ASSERT_EQ(t.schema.columns.size(), 6u);
    EXPECT_FALSE(t.schema.updatable);
    const auto& c = t.schema.columns;
    EXPECT_EQ(c[0].name, u"DebtorKey");
    EXPECT_EQ(c[0].type, DataType::Integer);
    EXPECT_EQ(c[0].maxLength, 4u);
    EXPECT_EQ(c[0].precision, 10);
    // Neither rs:nullable nor rs:maybenull: may be null, not nullable.
    EXPECT_EQ(c[0].attributes, field_attr::MayDefer | field_attr::Fixed | field_attr::MayBeNull);
    EXPECT_EQ(c[1].type, DataType::VarChar);
    EXPECT_EQ(c[1].maxLength, 50u);
    EXPECT_EQ(c[1].attributes, field_attr::MayDefer | field_attr::UnknownUpdatable | field_attr::IsNullable |
                                   field_attr::MayBeNull);
    EXPECT_EQ(c[2].maxLength, 100u);
    EXPECT_EQ(c[3].type, DataType::Date);
    EXPECT_EQ(c[3].maxLength, 16u);
    EXPECT_EQ(c[4].type, DataType::Currency);
    EXPECT_EQ(c[4].precision, 19);
    EXPECT_TRUE(c[4].attributes & field_attr::Fixed);
    EXPECT_EQ(c[5].type, DataType::VarChar);

    ASSERT_EQ(t.rows.size(), 9u);
    for (const Row& r : t.rows) EXPECT_EQ(r.state, RowState::Unchanged);
    EXPECT_EQ(Cell(t, 0, 0), Value(int64_t{1}));
    EXPECT_EQ(Str(t, 0, 1), u"Kakaa");
    EXPECT_EQ(Str(t, 0, 2), u"Kak Pinjam buat beli kayu buat rumah");
    EXPECT_EQ(Cell(t, 0, 3), Value(Date{37135}));  // 2001-09-01
    EXPECT_EQ(Cell(t, 0, 4), Value(Currency{20000000}));
    EXPECT_EQ(Str(t, 0, 5), u"Unpaid");
    EXPECT_EQ(Cell(t, 3, 4), Value(Currency{26352300}));  // 2635.23
    EXPECT_EQ(Cell(t, 4, 4), Value(Currency{8955560}));   // 895.556
    EXPECT_EQ(Str(t, 6, 1), u"Azhan ?");
    // The gap in the keys stays; the last row has a time of day.
    EXPECT_EQ(Cell(t, 8, 0), Value(int64_t{10}));
    const double expected = 37289 + (2 * 3600 + 2 * 60 + 2) * kSecond;  // 2002-02-02T02:02:02
    EXPECT_EQ(Cell(t, 8, 3), Value(Date{expected}));
    EXPECT_EQ(Cell(t, 8, 4), Value(Currency{121200}));
}

TEST(Corpus, File02NullsAndTrailingApplicationElement) {
    const Table t = MustLoad(ReadData("file02.xml"));
    ASSERT_EQ(t.schema.columns.size(), 4u);
    EXPECT_TRUE(t.schema.updatable);
    const Column& estado = t.schema.columns[0];
    EXPECT_EQ(estado.type, DataType::VarWChar);
    EXPECT_EQ(estado.maxLength, 1u);
    EXPECT_EQ(estado.precision, 0);
    // rs:maybenull='false' clears MayBeNull; rs:write and rs:writeunknown both set.
    EXPECT_EQ(estado.attributes, field_attr::Updatable | field_attr::UnknownUpdatable);
    EXPECT_EQ(t.schema.columns[2].type, DataType::SmallInt);
    EXPECT_EQ(t.schema.columns[3].type, DataType::Integer);
    ASSERT_EQ(t.rows.size(), 3u);
    for (const Row& r : t.rows) EXPECT_TRUE(IsNull(r.values[2])) << "orden is absent from every row";
    EXPECT_EQ(Str(t, 1, 0), u"B");
    EXPECT_EQ(Str(t, 1, 1), u"Precarga");
    EXPECT_EQ(Cell(t, 1, 3), Value(int64_t{21}));
}

TEST(Corpus, File03EmbeddedDocumentIsRefused) {
    const Error e = MustFail(ReadData("file03.xml"));
    EXPECT_EQ(e.category, ErrorCategory::NotRecordset);
    EXPECT_NE(e.message.find("<targets>"), std::string::npos) << e.message;
    EXPECT_EQ(e.line, 1u);
}

TEST(Corpus, File04DamagedCopyIsRefusedAtTheBadQuote) {
    const Error e = MustFail(ReadData("file04.xml"));
    EXPECT_EQ(e.category, ErrorCategory::NotWellFormed);
    EXPECT_EQ(e.line, 58u);
    EXPECT_NE(e.message.find("line 58"), std::string::npos) << e.message;
}

TEST(Corpus, File04RepairedAnsiColumnsAndBooleans) {
    const Table t = MustLoad(ReadData("file04_repaired.xml"));
    ASSERT_EQ(t.schema.columns.size(), 9u);
    const auto& c = t.schema.columns;
    EXPECT_EQ(c[0].type, DataType::VarChar);
    EXPECT_EQ(c[3].type, DataType::Char);  // phone char(12)
    EXPECT_EQ(c[3].maxLength, 12u);
    EXPECT_EQ(c[6].type, DataType::Char);
    EXPECT_EQ(c[8].type, DataType::Boolean);
    EXPECT_EQ(c[8].attributes, field_attr::UnknownUpdatable | field_attr::Fixed);
    // The recordset property on the row definition is kept.
    ASSERT_EQ(t.schema.properties.size(), 1u);
    EXPECT_EQ(t.schema.properties[0].name, "CommandTimeout");
    EXPECT_EQ(t.schema.properties[0].value, u"30");

    ASSERT_EQ(t.rows.size(), 23u);
    EXPECT_EQ(Str(t, 3, 1), u"O'Leary");
    EXPECT_EQ(Str(t, 0, 3), u"408 496-7223");
    int falses = 0;
    for (const Row& r : t.rows) falses += std::get<bool>(r.values[8]) ? 0 : 1;
    EXPECT_EQ(falses, 4);
    EXPECT_EQ(Cell(t, 5, 8), Value(false));  // Smith
    EXPECT_EQ(Str(t, 22, 2), u"Albert");
}

TEST(Corpus, File05BaseTableMetadata) {
    const Table t = MustLoad(ReadData("file05.xml"));
    ASSERT_EQ(t.schema.columns.size(), 3u);
    const Column& id = t.schema.columns[0];
    EXPECT_EQ(id.baseTable, u"shippers");
    EXPECT_EQ(id.baseColumn, u"ShipperID");
    EXPECT_EQ(id.attributes, field_attr::KeyColumn | field_attr::Fixed);
    EXPECT_EQ(t.schema.columns[1].attributes,
              field_attr::IsNullable | field_attr::Updatable | field_attr::MayBeNull);
    ASSERT_EQ(t.rows.size(), 3u);
    EXPECT_EQ(Cell(t, 2, 0), Value(int64_t{3}));
    EXPECT_EQ(Str(t, 2, 1), u"Federal Shipping");
    EXPECT_EQ(Str(t, 0, 2), u"(503) 555-9831");
}

TEST(Corpus, File06DamagedCopyIsRefusedAtTheRawAmpersand) {
    const Error e = MustFail(ReadData("file06.xml"));
    EXPECT_EQ(e.category, ErrorCategory::NotWellFormed);
    EXPECT_EQ(e.line, 59u);
    EXPECT_NE(e.message.find("&amp;"), std::string::npos) << e.message;
}

TEST(Corpus, File06RepairedHierarchicalRecordset) {
    const Table t = MustLoad(ReadData("file06_repaired.xml"));
    ASSERT_EQ(t.schema.columns.size(), 4u);
    const Column& chapter = t.schema.columns[3];
    EXPECT_EQ(chapter.name, u"rsSales");
    EXPECT_EQ(chapter.type, DataType::Chapter);
    EXPECT_TRUE(chapter.attributes & field_attr::IsChapter);
    ASSERT_TRUE(chapter.chapter);
    EXPECT_EQ(chapter.chapter->relation, u"010000000100000000000000");
    EXPECT_TRUE(chapter.chapter->updatable);
    ASSERT_EQ(chapter.chapter->columns.size(), 4u);
    EXPECT_EQ(chapter.chapter->columns[2].type, DataType::DBTimeStamp);  // dateTime without rs:dbtype
    EXPECT_EQ(chapter.chapter->columns[2].scale, 3);
    EXPECT_EQ(chapter.chapter->columns[3].type, DataType::SmallInt);

    ASSERT_EQ(t.rows.size(), 3u);
    EXPECT_EQ(Str(t, 1, 1), u"Barnum's");
    EXPECT_EQ(Str(t, 2, 1), u"News & Brews");
    const size_t expectedChildren[] = {2, 2, 4};
    for (size_t r = 0; r < 3; ++r) {
        EXPECT_TRUE(IsNull(Cell(t, r, 3)));
        ASSERT_EQ(t.rows[r].chapters.size(), 1u);
        EXPECT_EQ(t.rows[r].chapters[0].size(), expectedChildren[r]);
    }
    const Row& child = t.rows[1].chapters[0][1];
    EXPECT_EQ(child.values[1], Value(std::u16string(u"QA7442.3")));
    EXPECT_EQ(child.values[3], Value(int64_t{75}));
    EXPECT_EQ(t.rows[0].chapters[0][0].values[2], Value(Date{34591}));  // 1994-09-14
}

TEST(Corpus, File07AliasedColumnWithGapInNumbers) {
    const Table t = MustLoad(ReadData("file07.xml"));
    ASSERT_EQ(t.schema.columns.size(), 1u);
    EXPECT_EQ(t.schema.columns[0].name, u"Cities");
    EXPECT_EQ(t.schema.columns[0].xmlName, u"c1");
    EXPECT_EQ(t.schema.columns[0].number, 2);
    ASSERT_EQ(t.rows.size(), 2u);
    EXPECT_EQ(Str(t, 0, 0), u"Seattle");
    EXPECT_EQ(Str(t, 1, 0), u"Redmond");
}

TEST(Corpus, LoadFileReadsTheSameAsLoad) {
    Result<Table> fromFile = LoadFile(DataPath("file05.xml"));
    ASSERT_TRUE(fromFile.ok()) << fromFile.error().message;
    EXPECT_EQ(fromFile.value(), MustLoad(ReadData("file05.xml")));
}

const char* const kLoadable[] = {"file01.xml", "file02.xml",          "file04_repaired.xml",
                                 "file05.xml", "file06_repaired.xml", "file07.xml"};

TEST(Corpus, EveryLoadableFileSavesAndLoadsBackEqual) {
    for (const char* name : kLoadable) {
        SCOPED_TRACE(name);
        ExpectRoundTrip(MustLoad(ReadData(name)));
    }
}

TEST(Corpus, SavingIsStableAfterTheFirstRoundTrip) {
    for (const char* name : kLoadable) {
        SCOPED_TRACE(name);
        const Result<std::string> first = Save(MustLoad(ReadData(name)));
        ASSERT_TRUE(first.ok());
        const Result<std::string> second = Save(MustLoad(first.value()));
        ASSERT_TRUE(second.ok());
        EXPECT_EQ(first.value(), second.value());
    }
}

// Every prefix of a valid document is refused as not well-formed, except
// the ones that still hold the whole document element, which load equal.
TEST(Corpus, EveryTruncationIsRefusedOrComplete) {
    for (const char* name : kLoadable) {
        SCOPED_TRACE(name);
        const std::string text = ReadData(name);
        const Table full = MustLoad(text);
        const size_t end = text.rfind("</xml>") + 6;
        for (size_t n = 0; n < text.size(); ++n) {
            Result<Table> r = Load(std::string_view(text).substr(0, n));
            if (n >= end) {
                ASSERT_TRUE(r.ok()) << "prefix " << n << ": " << r.error().message;
                EXPECT_TRUE(r.value() == full) << FirstDifference(full, r.value());
            } else {
                ASSERT_FALSE(r.ok()) << "prefix of " << n << " bytes loaded";
                EXPECT_EQ(r.error().category, ErrorCategory::NotWellFormed) << n << ": " << r.error().message;
            }
        }
    }
}

// Damaged copies: random byte changes never crash the reader, and whatever
// still loads can be saved and loads back equal.
TEST(Corpus, DamagedCopiesAreRefusedOrConsistent) {
    std::mt19937 rng(20240607);
    const char replacements[] = {'<', '>', '\'', '"', '&', '=', ':', ' ', '/', 'z', '1', '-', '.', '\0', '\xC3',
                                 '\xFF', 'x', ';', '#', 'T'};
    int loaded = 0;
    for (const char* name : kLoadable) {
        SCOPED_TRACE(name);
        const std::string text = ReadData(name);
        for (int round = 0; round < 400; ++round) {
            std::string damaged = text;
            const int edits = 1 + static_cast<int>(rng() % 3);
            for (int k = 0; k < edits; ++k) {
                const size_t at = rng() % damaged.size();
                switch (rng() % 3) {
                case 0: damaged[at] = replacements[rng() % sizeof replacements]; break;
                case 1: damaged.erase(at, 1 + rng() % 8); break;
                default: damaged.insert(at, 1, replacements[rng() % sizeof replacements]); break;
                }
            }
            Result<Table> r = Load(damaged);
            if (!r) {
                EXPECT_FALSE(r.error().message.empty());
                continue;
            }
            ++loaded;
            Result<std::string> saved = Save(r.value());
            ASSERT_TRUE(saved.ok()) << saved.error().message << "\n" << damaged;
            Result<Table> back = Load(saved.value());
            ASSERT_TRUE(back.ok()) << back.error().message;
            EXPECT_TRUE(back.value() == r.value()) << FirstDifference(r.value(), back.value()) << "\n" << damaged;
        }
    }
    EXPECT_GT(loaded, 0) << "some edits (inside values) leave a loadable document";
}

}  // namespace
}  // namespace persist_test
