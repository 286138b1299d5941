// Opening saved recordsets through the persistence provider and saving
// recordsets: round trips, Windows paths, and files that cannot be opened.
#include "ado_test_util.h"

#include "persist.h"

#include "../../../bench/saved_recordset_gen.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

namespace adotest {
namespace {

namespace fs = std::filesystem;
namespace persist = comhost::persist;

std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// A fresh working directory for each test, removed afterwards.
class PersistTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearError();
        char pattern[] = "/tmp/ado_persist_XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        dir = pattern;
        previous = fs::current_path();
        fs::current_path(dir);
    }
    void TearDown() override {
        fs::current_path(previous);
        fs::remove_all(dir);
    }

    static HRESULT Open(_Recordset* rs, const std::u16string& source, const Var& connection,
                        LockTypeEnum lock = adLockUnspecified) {
        return rs->Open(*Var(source.c_str()), *connection, adOpenUnspecified, lock, adCmdUnspecified);
    }
    static HRESULT Save(_Recordset* rs, const std::u16string& path) {
        return rs->Save(*Var(path.c_str()), adPersistXML);
    }
    static void WriteText(const fs::path& path, const std::string& text) {
        std::ofstream out(path, std::ios::binary);
        out << text;
    }
    static std::string ReadText(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    fs::path dir, previous;
};

TEST_F(PersistTest, SaveThenOpenGivesTheSameColumnsAndValues) {
    Ptr<_Recordset> rs = NewRecordset();
    AppendColumns(rs.get(), {{u"id", adInteger, 0, adFldUnspecified},
                             {u"name", adVarWChar, 30, adFldIsNullable},
                             {u"price", adCurrency, 0, adFldIsNullable},
                             {u"when", adDate, 0, adFldIsNullable},
                             {u"ok", adBoolean, 0, adFldIsNullable},
                             {u"big", adBigInt, 0, adFldIsNullable},
                             {u"ratio", adDouble, 0, adFldIsNullable}});
    ASSERT_EQ(S_OK, rs->Open(*Var::Missing(), *Var::Missing(), adOpenUnspecified, adLockUnspecified,
                             adCmdUnspecified));
    ASSERT_EQ(S_OK, rs->AddNew(*Var::Missing(), *Var::Missing()));
    ASSERT_EQ(S_OK, PutValue(rs.get(), Var(u"id"), Var(1)));
    ASSERT_EQ(S_OK, PutValue(rs.get(), Var(u"name"), Var(u"Grüße & <tags> \"quoted\"")));
    ASSERT_EQ(S_OK, PutValue(rs.get(), Var(u"price"), Var(u"-12.5")));
    ASSERT_EQ(S_OK, PutValue(rs.get(), Var(u"when"), Var(37289.25)));   // 2002-02-02T06:00:00
    ASSERT_EQ(S_OK, PutValue(rs.get(), Var(u"ok"), Var(-1)));
    ASSERT_EQ(S_OK, PutValue(rs.get(), Var(u"big"), Var(u"9007199254740993")));
    ASSERT_EQ(S_OK, PutValue(rs.get(), Var(u"ratio"), Var(0.125)));
    ASSERT_EQ(S_OK, rs->AddNew(*Var(u"id"), *Var(2)));   // all other fields NULL
    ASSERT_EQ(S_OK, Save(rs.get(), u"saved.xml"));
    EXPECT_EQ(1, Position(rs.get())) << "Save moves to the first row";

    Ptr<_Recordset> back = NewRecordset();
    ASSERT_EQ(S_OK, Open(back.get(), u"saved.xml", Var(u"Provider=MSPersist;")));
    EXPECT_EQ(2, Count(back.get()));
    Ptr<Fields> fields = FieldsOf(back.get());
    LONG columns = 0;
    ASSERT_EQ(S_OK, fields->get_Count(&columns));
    ASSERT_EQ(7, columns);
    const DataTypeEnum types[] = {adInteger, adVarWChar, adCurrency, adDate, adBoolean, adBigInt, adDouble};
    for (LONG i = 0; i < columns; ++i) {
        Ptr<Field> field;
        ASSERT_EQ(S_OK, fields->get_Item(*Var(i), field.out()));
        DataTypeEnum type = adEmpty;
        ASSERT_EQ(S_OK, field->get_Type(&type));
        EXPECT_EQ(types[i], type) << i;
    }
    EXPECT_EQ(1, I4(ValueOf(back.get(), Var(u"id"))));
    EXPECT_EQ(u"Grüße & <tags> \"quoted\"", Text(*ValueOf(back.get(), Var(u"name"))));
    Var price = ValueOf(back.get(), Var(u"price"));
    ASSERT_EQ(VT_CY, price.vt());
    EXPECT_EQ(-125000, V_CY(price.get()).int64);
    Var when = ValueOf(back.get(), Var(u"when"));
    ASSERT_EQ(VT_DATE, when.vt());
    EXPECT_EQ(37289.25, V_DATE(when.get()));
    Var ok = ValueOf(back.get(), Var(u"ok"));
    ASSERT_EQ(VT_BOOL, ok.vt());
    EXPECT_EQ(VARIANT_TRUE, V_BOOL(ok.get()));
    Var big = ValueOf(back.get(), Var(u"big"));
    ASSERT_EQ(VT_I8, big.vt());
    EXPECT_EQ(9007199254740993LL, V_I8(big.get()));
    Var ratio = ValueOf(back.get(), Var(u"ratio"));
    ASSERT_EQ(VT_R8, ratio.vt());
    EXPECT_EQ(0.125, V_R8(ratio.get()));
    ASSERT_EQ(S_OK, back->MoveNext());
    EXPECT_EQ(2, I4(ValueOf(back.get(), Var(u"id"))));
    EXPECT_EQ(VT_NULL, ValueOf(back.get(), Var(u"name")).vt());
    EXPECT_EQ(VT_NULL, ValueOf(back.get(), Var(u"price")).vt());

    // Saving what was opened gives the same document again.
    ASSERT_EQ(S_OK, Save(back.get(), u"again.xml"));
    EXPECT_EQ(ReadText(dir / "saved.xml"), ReadText(dir / "again.xml"));
}

TEST_F(PersistTest, WindowsRelativePathResolvesAgainstTheWorkingDirectory) {
    Ptr<_Recordset> rs = Fabricate({{u"v", adInteger, 0, adFldUnspecified}}, {{7}});
    fs::create_directories(dir / "data" / "recordsets");
    ASSERT_EQ(S_OK, Save(rs.get(), u"data\\recordsets\\recordset7.xml"));
    ASSERT_TRUE(fs::exists(dir / "data" / "recordsets" / "recordset7.xml"));

    // No connection: a file name goes to the persistence provider.
    Ptr<_Recordset> back = NewRecordset();
    ASSERT_EQ(S_OK, Open(back.get(), u"data\\recordsets\\recordset7.xml", Var::Missing()));
    EXPECT_EQ(7, I4(ValueOf(back.get(), Var(u"v"))));
    // The provider keyword in any case, with spaces and other keywords.
    ASSERT_EQ(S_OK, back->Close());
    ASSERT_EQ(S_OK, Open(back.get(), u"data/recordsets/recordset7.xml",
                         Var(u" provider = msPersist ; Persist Security Info=False")));
    EXPECT_EQ(7, I4(ValueOf(back.get(), Var(u"v"))));
    // Another working directory, another file.
    ASSERT_EQ(S_OK, back->Close());
    fs::create_directories(dir / "other");
    fs::current_path(dir / "other");
    EXPECT_EQ(kOpeningFile, Open(back.get(), u"data\\recordsets\\recordset7.xml", Var(u"Provider=MSPersist;")));
}

TEST_F(PersistTest, MissingAndMalformedFilesLeaveTheRecordsetClosed) {
    Ptr<_Recordset> rs = NewRecordset();
    EXPECT_EQ(kOpeningFile, Open(rs.get(), u"data\\recordsets\\recordset42.xml", Var(u"Provider=MSPersist;")));
    ErrorText e = TakeError();
    ASSERT_TRUE(e.present);
    EXPECT_TRUE(Contains(e.description, u"File could not be opened.")) << Narrow(e.description);
    EXPECT_TRUE(Contains(e.description, u"recordset42.xml")) << Narrow(e.description);
    LONG state = -1;
    ASSERT_EQ(S_OK, rs->get_State(&state));
    EXPECT_EQ(adStateClosed, state);

    const std::string good = [&] {
        Ptr<_Recordset> saved = Fabricate({{u"v", adInteger, 0, adFldUnspecified}}, {{1}, {2}});
        EXPECT_EQ(S_OK, Save(saved.get(), u"good.xml"));
        return ReadText(dir / "good.xml");
    }();
    ASSERT_FALSE(good.empty());
    // Not XML, truncated, wrapped in another element, a value that is no number.
    std::string wrongValue = good;
    const size_t at = wrongValue.find("v='2'") != std::string::npos ? wrongValue.find("v='2'")
                                                                   : wrongValue.find("v=\"2\"");
    ASSERT_NE(std::string::npos, at);
    wrongValue.replace(at + 3, 1, "x");
    for (const std::string& text :
         {std::string("not xml at all"), good.substr(0, good.size() / 2), "<outer>" + good + "</outer>", wrongValue}) {
        WriteText(dir / "bad.xml", text);
        EXPECT_EQ(kReadFile, Open(rs.get(), u"bad.xml", Var(u"Provider=MSPersist;")));
        ErrorText bad = TakeError();
        EXPECT_TRUE(bad.present);
        EXPECT_FALSE(bad.description.empty());
        ASSERT_EQ(S_OK, rs->get_State(&state));
        EXPECT_EQ(adStateClosed, state);
        LONG columns = -1;
        ASSERT_EQ(S_OK, FieldsOf(rs.get())->get_Count(&columns));
        EXPECT_EQ(0, columns) << "nothing half-loaded";
    }
    // A directory is not a file.
    EXPECT_EQ(kOpeningFile, Open(rs.get(), Wide(dir.string()), Var::Missing()));
}

TEST_F(PersistTest, SaveRules) {
    Ptr<_Recordset> rs = Fabricate({{u"v", adInteger, 0, adFldUnspecified}}, {{1}});
    // ADTG is ADO's default format; only XML is written here.
    EXPECT_EQ(kFeatureNotAvailable, rs->Save(*Var(u"x.adtg"), adPersistADTG));
    EXPECT_FALSE(fs::exists(dir / "x.adtg"));
    ASSERT_EQ(S_OK, Save(rs.get(), u"first.xml"));
    // A file that exists is not overwritten by naming it again ...
    EXPECT_EQ(kFileExists, Save(rs.get(), u"first.xml"));
    WriteText(dir / "taken.xml", "keep");
    EXPECT_EQ(kFileExists, Save(rs.get(), u"taken.xml"));
    EXPECT_EQ("keep", ReadText(dir / "taken.xml"));
    // ... but saving again without a destination writes the same file anew.
    ASSERT_EQ(S_OK, rs->AddNew(*Var(u"v"), *Var(2)));
    ASSERT_EQ(S_OK, rs->Save(*Var::Missing(), adPersistXML));
    Ptr<_Recordset> back = NewRecordset();
    ASSERT_EQ(S_OK, Open(back.get(), u"first.xml", Var::Missing()));
    EXPECT_EQ(2, Count(back.get()));
    // A directory that does not exist cannot be written.
    EXPECT_EQ(static_cast<HRESULT>(0x800A0BBC), Save(rs.get(), u"no\\such\\dir\\x.xml"));
}

// A recordset opened from a file is saved a piece at a time from its stored
// rows: the document is the one the persistence library writes for the
// whole table (large enough for several pieces, strings with markup
// characters, accents and characters beyond the BMP, rows in rs:insert).
TEST_F(PersistTest, SavingAnOpenedFileWritesWhatTheLibraryWritesForTheTable) {
    std::vector<std::pair<std::string, std::string>> files;
    files.emplace_back("generated.xml", bench_gen::SavedRecordset(4000, 9));
    // (file07.xml numbers its one column 2; a recordset numbers its fields
    // from 1, so it is not among them.)
    for (const char* name : {"file01.xml", "file02.xml", "file05.xml"})
        files.emplace_back(name, ReadText(fs::path(ADO_TEST_DATA_DIR) / name));
    for (const auto& [name, text] : files) {
        SCOPED_TRACE(name);
        const persist::Result<persist::Table> table = persist::Load(text);
        ASSERT_TRUE(table.ok()) << table.error().message;
        const persist::Result<std::string> expected = persist::Save(table.value());
        ASSERT_TRUE(expected.ok()) << expected.error().message;
        WriteText(dir / name, text);
        Ptr<_Recordset> rs = NewRecordset();
        ASSERT_EQ(S_OK, Open(rs.get(), Wide(name), Var::Missing()));
        ASSERT_EQ(S_OK, Save(rs.get(), Wide("saved_" + name)));
        EXPECT_TRUE(ReadText(dir / ("saved_" + name)) == expected.value());
    }
}

// A row refused part way through (here a string with an unpaired
// surrogate, which UTF-8 cannot carry, after more rows than the writer
// holds at once) leaves no file behind, and an earlier file under the name
// as it was.
TEST_F(PersistTest, ARowRefusedPartWayLeavesNoFileAndKeepsTheEarlierOne) {
    Ptr<_Recordset> rs = NewRecordset();
    AppendColumns(rs.get(), {{u"id", adInteger, 0, adFldUnspecified},
                             {u"text", adVarWChar, 200, adFldIsNullable}});
    ASSERT_EQ(S_OK, rs->Open(*Var::Missing(), *Var::Missing(), adOpenUnspecified, adLockBatchOptimistic,
                             adCmdUnspecified));
    const std::u16string filler(150, u'x');
    const LONG rows = 3000;   // about 600 KB of rows
    for (LONG i = 0; i < rows; ++i) {
        ASSERT_EQ(S_OK, rs->AddNew(*Var::Missing(), *Var::Missing()));
        ASSERT_EQ(S_OK, PutValue(rs.get(), Var(u"id"), Var(i)));
        ASSERT_EQ(S_OK, PutValue(rs.get(), Var(u"text"), Var(filler.c_str())));
    }
    ASSERT_EQ(S_OK, rs->Update(*Var::Missing(), *Var::Missing()));
    ASSERT_EQ(S_OK, Save(rs.get(), u"first.xml"));
    const std::string first = ReadText(dir / "first.xml");
    ASSERT_GT(first.size(), size_t{500000});

    ASSERT_EQ(S_OK, rs->Move(rows - 10, *Var(adBookmarkFirst)));
    ASSERT_EQ(S_OK, PutValue(rs.get(), Var(u"text"), Var(u"half a pair: \xD800")));
    ASSERT_EQ(S_OK, rs->Update(*Var::Missing(), *Var::Missing()));
    // To a new name, to a name taken (the refusal is reported first) and to
    // the file saved before.
    const HRESULT kWriteFile = static_cast<HRESULT>(0x800A0BBC);
    EXPECT_EQ(kWriteFile, Save(rs.get(), u"second.xml"));
    EXPECT_TRUE(Contains(TakeError().description, u"unpaired surrogate"));
    WriteText(dir / "taken.xml", "keep");
    EXPECT_EQ(kWriteFile, Save(rs.get(), u"taken.xml"));
    EXPECT_EQ(kWriteFile, rs->Save(*Var::Missing(), adPersistXML));
    EXPECT_FALSE(fs::exists(dir / "second.xml"));
    EXPECT_EQ("keep", ReadText(dir / "taken.xml"));
    EXPECT_TRUE(ReadText(dir / "first.xml") == first);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::string>{"first.xml", "taken.xml"}), names) << "no temporary file is left";

    // Put right, the same file is written anew; a new name may not be taken.
    ASSERT_EQ(S_OK, PutValue(rs.get(), Var(u"text"), Var(u"whole again")));
    ASSERT_EQ(S_OK, rs->Update(*Var::Missing(), *Var::Missing()));
    EXPECT_EQ(kFileExists, Save(rs.get(), u"taken.xml"));
    EXPECT_EQ("keep", ReadText(dir / "taken.xml"));
    ASSERT_EQ(S_OK, rs->Save(*Var::Missing(), adPersistXML));
    EXPECT_NE(first, ReadText(dir / "first.xml"));
    Ptr<_Recordset> back = NewRecordset();
    ASSERT_EQ(S_OK, Open(back.get(), u"first.xml", Var::Missing()));
    EXPECT_EQ(rows, Count(back.get()));
}

// Three plain rows, as a provider's recordset is saved.
constexpr const char* kThreeRows =
    "<xml xmlns:s='uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882' xmlns:dt='uuid:C2F41010-65B3-11d1-A29F-00AA00C14882'\n"
    "\txmlns:rs='urn:schemas-microsoft-com:rowset' xmlns:z='#RowsetSchema'>\n"
    "<s:Schema id='RowsetSchema'>\n"
    "\t<s:ElementType name='row' content='eltOnly' rs:updatable='true'>\n"
    "\t\t<s:AttributeType name='v' rs:number='1' rs:write='true'>\n"
    "\t\t\t<s:datatype dt:type='int' dt:maxLength='4' rs:precision='10' rs:fixedlength='true'/>\n"
    "\t\t</s:AttributeType>\n"
    "\t\t<s:extends type='rs:rowbase'/>\n"
    "\t</s:ElementType>\n"
    "</s:Schema>\n"
    "<rs:data>\n"
    "\t<z:row v='1'/>\n"
    "\t<z:row v='2'/>\n"
    "\t<z:row v='3'/>\n"
    "</rs:data>\n"
    "</xml>\n";

TEST_F(PersistTest, PendingChangesSurviveTheRoundTrip) {
    WriteText(dir / "one.xml", kThreeRows);
    // Opened for batch changes: one row changed, one deleted, one added.
    Ptr<_Recordset> edit = NewRecordset();
    ASSERT_EQ(S_OK, Open(edit.get(), u"one.xml", Var::Missing(), adLockBatchOptimistic));
    LONG status = 0;
    ASSERT_EQ(S_OK, edit->get_Status(&status));
    EXPECT_EQ(adRecUnmodified, status);
    ASSERT_EQ(S_OK, PutValue(edit.get(), Var(u"v"), Var(10)));
    ASSERT_EQ(S_OK, edit->MoveNext());
    ASSERT_EQ(S_OK, edit->Delete(adAffectCurrent));
    ASSERT_EQ(S_OK, edit->AddNew(*Var(u"v"), *Var(4)));
    ASSERT_EQ(S_OK, Save(edit.get(), u"two.xml"));
    const std::string saved = ReadText(dir / "two.xml");
    EXPECT_NE(std::string::npos, saved.find("rs:update")) << saved;
    EXPECT_NE(std::string::npos, saved.find("rs:delete")) << saved;
    EXPECT_NE(std::string::npos, saved.find("rs:insert")) << saved;

    Ptr<_Recordset> back = NewRecordset();
    ASSERT_EQ(S_OK, Open(back.get(), u"two.xml", Var::Missing(), adLockBatchOptimistic));
    EXPECT_EQ(3, Count(back.get()));
    EXPECT_EQ(10, I4(ValueOf(back.get(), Var(u"v"))));
    ASSERT_EQ(S_OK, back->get_Status(&status));
    EXPECT_EQ(adRecModified, status);
    Ptr<Field> field;
    ASSERT_EQ(S_OK, FieldsOf(back.get())->get_Item(*Var(u"v"), field.out()));
    Var original;
    ASSERT_EQ(S_OK, field->get_OriginalValue(original.out()));
    EXPECT_EQ(1, I4(original));
    // CancelBatch returns to the rows as first saved: 1, 3 and the deleted 2.
    ASSERT_EQ(S_OK, back->CancelBatch(adAffectAll));
    Var all;
    ASSERT_EQ(S_OK, back->GetRows(adGetRowsRest, *Var(adBookmarkFirst), *Var::Missing(), all.out()));
    LONG hi = -1;
    ASSERT_EQ(S_OK, SafeArrayGetUBound(V_ARRAY(all.get()), 2, &hi));
    EXPECT_EQ(2, hi);
    LONG sum = 0;
    for (LONG r = 0; r <= hi; ++r) {
        LONG at[2] = {0, r};
        Var v;
        ASSERT_EQ(S_OK, SafeArrayGetElement(V_ARRAY(all.get()), at, v.out()));
        sum += I4(v);
    }
    EXPECT_EQ(6, sum);
}

TEST_F(PersistTest, OpenedFilesAreReadOnlyUnlessALockTypeSaysOtherwise) {
    Ptr<_Recordset> rs = Fabricate({{u"v", adInteger, 0, adFldUnspecified}}, {{1}});
    ASSERT_EQ(S_OK, Save(rs.get(), u"f.xml"));
    Ptr<_Recordset> readOnly = NewRecordset();
    ASSERT_EQ(S_OK, Open(readOnly.get(), u"f.xml", Var::Missing()));
    EXPECT_EQ(kFeatureNotAvailable, PutValue(readOnly.get(), Var(u"v"), Var(2)));
    // The LockType property set before Open is used when Open names none.
    Ptr<_Recordset> writable = NewRecordset();
    ASSERT_EQ(S_OK, writable->put_LockType(adLockOptimistic));
    ASSERT_EQ(S_OK, Open(writable.get(), u"f.xml", Var::Missing()));
    EXPECT_EQ(S_OK, PutValue(writable.get(), Var(u"v"), Var(2)));
    // Columns of an opened file cannot be appended or deleted.
    Str name(u"w");
    EXPECT_EQ(kObjectOpen, FieldsOf(writable.get())->_Append(name.get(), adInteger, 0, adFldUnspecified));
    // Closing drops the file's columns with its rows.
    ASSERT_EQ(S_OK, writable->Update(*Var::Missing(), *Var::Missing()));
    ASSERT_EQ(S_OK, writable->Close());
    LONG columns = -1;
    ASSERT_EQ(S_OK, FieldsOf(writable.get())->get_Count(&columns));
    EXPECT_EQ(0, columns);
}

// Files saved by other writers (copies of real saved recordsets and of
// documented examples): the loadable ones open with their rows and columns,
// the wrapped and damaged ones are refused with a description.
TEST_F(PersistTest, OpensRealSavedFilesAndRefusesDamagedOnes) {
    struct Case {
        const char* file;
        HRESULT result;
        LONG rows;
        LONG columns;
        const char16_t* reason;   // part of the description of a refusal
    };
    const Case cases[] = {
        {"file01.xml", S_OK, 9, 6, nullptr},
        {"file02.xml", S_OK, 3, 4, nullptr},
        {"file03.xml", kReadFile, 0, 0, u"<targets>"},   // a recordset inside another document
        {"file04.xml", kReadFile, 0, 0, u"line 58"},     // a quote lost in copying
        {"file05.xml", S_OK, 3, 3, nullptr},
        {"file06.xml", kReadFile, 0, 0, u"&"},           // a raw ampersand
        {"file07.xml", S_OK, 2, 1, nullptr},
    };
    for (const Case& c : cases) {
        const fs::path path = fs::path(ADO_TEST_DATA_DIR) / c.file;
        ASSERT_TRUE(fs::exists(path)) << path;
        Ptr<_Recordset> rs = NewRecordset();
        EXPECT_EQ(c.result, Open(rs.get(), Wide(path.string()), Var(u"Provider=MSPersist;"))) << c.file;
        ErrorText e = TakeError();
        if (FAILED(c.result)) {
            EXPECT_TRUE(Contains(e.description, c.reason)) << c.file << ": " << Narrow(e.description);
            continue;
        }
        EXPECT_EQ(c.rows, Count(rs.get())) << c.file;
        LONG columns = -1;
        ASSERT_EQ(S_OK, FieldsOf(rs.get())->get_Count(&columns));
        EXPECT_EQ(c.columns, columns) << c.file;
    }
}

TEST_F(PersistTest, ValuesAndAttributesOfARealSavedFile) {
    Ptr<_Recordset> rs = NewRecordset();
    const fs::path corpus = fs::path(ADO_TEST_DATA_DIR) / "file01.xml";
    ASSERT_EQ(S_OK, Open(rs.get(), Wide(corpus.string()), Var(u"Provider=MSPersist;")));
    EXPECT_EQ(1, I4(ValueOf(rs.get(), Var(u"DebtorKey"))));
    EXPECT_EQ(u"Kakaa", Text(*ValueOf(rs.get(), Var(u"debtorcode"))));
    Var amount = ValueOf(rs.get(), Var(u"DebtorAmount"));
    ASSERT_EQ(VT_CY, amount.vt());
    EXPECT_EQ(20000000, V_CY(amount.get()).int64);
    Var date = ValueOf(rs.get(), Var(u"DebtorDate"));
    ASSERT_EQ(VT_DATE, date.vt());
    EXPECT_EQ(37135.0, V_DATE(date.get()));   // 2001-09-01
    Ptr<Field> key;
    ASSERT_EQ(S_OK, FieldsOf(rs.get())->get_Item(*Var(0), key.out()));
    LONG attributes = 0, size = 0;
    DataTypeEnum type = adEmpty;
    ASSERT_EQ(S_OK, key->get_Attributes(&attributes));
    ASSERT_EQ(S_OK, key->get_DefinedSize(&size));
    ASSERT_EQ(S_OK, key->get_Type(&type));
    EXPECT_EQ(adInteger, type);
    EXPECT_EQ(4, size);
    EXPECT_EQ(0, attributes & adFldIsNullable);
    EXPECT_NE(0, attributes & adFldFixed);
    // Not nullable: NULL is refused once the recordset takes changes.
    ASSERT_EQ(S_OK, rs->Close());
    ASSERT_EQ(S_OK, rs->put_LockType(adLockBatchOptimistic));
    ASSERT_EQ(S_OK, Open(rs.get(), Wide(corpus.string()), Var(u"Provider=MSPersist;")));
    EXPECT_EQ(kMultipleStep, PutValue(rs.get(), Var(u"DebtorKey"), Var::Null()));
    EXPECT_EQ(S_OK, PutValue(rs.get(), Var(u"DebtorCode"), Var::Null()));
    // The alias of a column whose name is no XML name is not its name.
    Ptr<_Recordset> aliased = NewRecordset();
    ASSERT_EQ(S_OK, Open(aliased.get(), Wide((fs::path(ADO_TEST_DATA_DIR) / "file07.xml").string()), Var::Missing()));
    EXPECT_EQ(u"Seattle", Text(*ValueOf(aliased.get(), Var(u"Cities"))));
}

}  // namespace
}  // namespace adotest
