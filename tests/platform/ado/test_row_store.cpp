// Rows opened from a file are kept by column and become VARIANTs when read
// or changed: every kind of value reads back as it was written, changed rows
// keep their changes and originals, and what is saved after changes opens
// again the same; large files (read by parts) give the same as small ones.
#include "ado_test_util.h"

#include <comhost/testing.h>

#include <cstdio>
#include <fstream>
#include <string>

#include <unistd.h>

namespace adotest {
namespace {

const char* const kHead =
    "<xml xmlns:s='uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882' xmlns:dt='uuid:C2F41010-65B3-11d1-A29F-00AA00C14882'\n"
    "\txmlns:rs='urn:schemas-microsoft-com:rowset' xmlns:z='#RowsetSchema'>\n"
    "<s:Schema id='RowsetSchema'><s:ElementType name='row' content='eltOnly' rs:updatable='true'>\n"
    "<s:AttributeType name='id' rs:number='1'><s:datatype dt:type='int' rs:maybenull='false'/></s:AttributeType>\n"
    "<s:AttributeType name='name' rs:number='2' rs:nullable='true'><s:datatype dt:type='string' dt:maxLength='8'/>"
    "</s:AttributeType>\n"
    "<s:AttributeType name='memo' rs:number='3' rs:nullable='true'><s:datatype dt:type='string' rs:long='true'/>"
    "</s:AttributeType>\n"
    "<s:AttributeType name='blob' rs:number='4' rs:nullable='true'><s:datatype dt:type='bin.hex' dt:maxLength='16'/>"
    "</s:AttributeType>\n"
    "<s:AttributeType name='amount' rs:number='5' rs:nullable='true'><s:datatype dt:type='number' rs:dbtype='numeric'"
    " rs:precision='18' rs:scale='4'/></s:AttributeType>\n"
    "<s:AttributeType name='price' rs:number='6' rs:nullable='true'><s:datatype dt:type='number'"
    " rs:dbtype='currency'/></s:AttributeType>\n"
    "<s:AttributeType name='stamp' rs:number='7' rs:nullable='true'><s:datatype dt:type='dateTime'"
    " rs:dbtype='variantdate'/></s:AttributeType>\n"
    "<s:AttributeType name='key' rs:number='8' rs:nullable='true'><s:datatype dt:type='uuid'/></s:AttributeType>\n"
    "<s:AttributeType name='flag' rs:number='9' rs:nullable='true'><s:datatype dt:type='boolean'/></s:AttributeType>\n"
    "<s:AttributeType name='small' rs:number='10' rs:nullable='true'><s:datatype dt:type='i2'/></s:AttributeType>\n"
    "<s:AttributeType name='hidden' rs:number='11' rs:hidden='true'><s:datatype dt:type='int'/></s:AttributeType>\n"
    "<s:extends type='rs:rowbase'/></s:ElementType></s:Schema>\n<rs:data>\n";

// Every kind of value, a row of NULLs and empty values.
const char* const kRows =
    "\t<z:row id='1' name='caf&#xE9; ok' memo='' blob='00ff10' amount='-12.3456' price='9.99'"
    " stamp='2001-02-03T04:05:06' key='{8AC68D3D-8A09-4403-8860-D0E494BBE894}' flag='True' small='-2' hidden='7'/>\n"
    "\t<z:row id='2'/>\n"
    "\t<z:row id='3' name='' blob='' hidden='1'/>\n";

std::u16string Utf16(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

std::string LongMemo() {
    std::string memo;
    for (int i = 0; i < 700; ++i) memo += "Crème brûlée \xF0\x9F\x8D\xAE ";
    return memo;
}

// The document: the rows above, one with a long text, then `padding` plain
// rows (enough of them and the file is read by parts), then an insert.
std::string Document(size_t padding) {
    std::string doc = kHead;
    doc += kRows;
    doc += "\t<z:row id='4' memo='" + LongMemo() + "'/>\n";
    for (size_t i = 0; i < padding; ++i)
        doc += "\t<z:row id='" + std::to_string(100 + i) + "' name='row " + std::to_string(i % 1000) +
               "' memo='some text to pad the row out to a realistic length' small='5'/>\n";
    doc += "\t<rs:insert><z:row id='5' name='new'/></rs:insert>\n</rs:data>\n</xml>\n";
    return doc;
}

class RowStoreTest : public ::testing::TestWithParam<size_t> {
protected:
    void SetUp() override {
        ClearError();
        path = "/tmp/ado_row_store_" + std::to_string(getpid()) + ".xml";
        std::ofstream(path, std::ios::binary) << Document(GetParam());
    }
    void TearDown() override {
        std::remove(path.c_str());
        std::remove((path + ".saved.xml").c_str());
    }
    std::u16string WidePath(const std::string& p) const { return std::u16string(p.begin(), p.end()); }
    Ptr<_Recordset> OpenFile(const std::string& p) {
        Ptr<_Recordset> rs = NewRecordset();
        EXPECT_EQ(S_OK, rs->Open(*Var(WidePath(p).c_str()), *Var(u"Provider=MSPersist;"), adOpenUnspecified,
                                 adLockBatchOptimistic, adCmdUnspecified));
        return rs;
    }
    std::string path;
};

// 700 times "Crème brûlée", a character beyond the BMP and a space.
void ExpectLongMemo(const Var& memo) {
    ASSERT_EQ(VT_BSTR, memo.vt());
    const std::u16string text = Text(*memo);
    ASSERT_EQ(700u * 16, text.size());
    EXPECT_EQ(u"Crème brûlée \U0001F36E Crème", text.substr(0, 21));
    EXPECT_EQ(u"brûlée \U0001F36E ", text.substr(text.size() - 10));
}

void ExpectFirstRows(_Recordset* rs) {
    ASSERT_EQ(S_OK, rs->MoveFirst());
    EXPECT_EQ(1, I4(ValueOf(rs, Var(u"id"))));
    EXPECT_EQ(u"café ok", Text(*ValueOf(rs, Var(u"name"))));
    Var memo = ValueOf(rs, Var(u"memo"));
    EXPECT_EQ(VT_BSTR, memo.vt());
    EXPECT_EQ(u"", Text(*memo)) << "an empty string is not NULL";
    Var blob = ValueOf(rs, Var(u"blob"));
    ASSERT_EQ(VT_ARRAY | VT_UI1, blob.vt());
    EXPECT_EQ(3u, V_ARRAY(blob.get())->rgsabound[0].cElements);
    EXPECT_EQ(0xFF, static_cast<unsigned char*>(V_ARRAY(blob.get())->pvData)[1]);
    Var amount = ValueOf(rs, Var(u"amount"));
    ASSERT_EQ(VT_DECIMAL, amount.vt());
    EXPECT_EQ(4, V_DECIMAL(amount.get()).scale);
    EXPECT_EQ(DECIMAL_NEG, V_DECIMAL(amount.get()).sign);
    EXPECT_EQ(123456u, V_DECIMAL(amount.get()).Lo64);
    Var price = ValueOf(rs, Var(u"price"));
    ASSERT_EQ(VT_CY, price.vt());
    EXPECT_EQ(99900, V_CY(price.get()).int64);
    Var stamp = ValueOf(rs, Var(u"stamp"));
    ASSERT_EQ(VT_DATE, stamp.vt());
    EXPECT_NEAR(36925.170208, V_DATE(stamp.get()), 1e-6);
    EXPECT_EQ(u"{8AC68D3D-8A09-4403-8860-D0E494BBE894}", Text(*ValueOf(rs, Var(u"key"))));
    Var flag = ValueOf(rs, Var(u"flag"));
    ASSERT_EQ(VT_BOOL, flag.vt());
    EXPECT_EQ(VARIANT_TRUE, V_BOOL(flag.get()));
    Var small = ValueOf(rs, Var(u"small"));
    ASSERT_EQ(VT_I2, small.vt());
    EXPECT_EQ(-2, V_I2(small.get()));

    ASSERT_EQ(S_OK, rs->MoveNext());
    for (const char16_t* name : {u"name", u"memo", u"blob", u"amount", u"price", u"stamp", u"key", u"flag", u"small"})
        EXPECT_EQ(VT_NULL, ValueOf(rs, Var(name)).vt()) << Narrow(name);
    ASSERT_EQ(S_OK, rs->MoveNext());
    EXPECT_EQ(u"", Text(*ValueOf(rs, Var(u"name"))));
    Var emptyBlob = ValueOf(rs, Var(u"blob"));
    ASSERT_EQ(VT_ARRAY | VT_UI1, emptyBlob.vt());
    EXPECT_EQ(0u, V_ARRAY(emptyBlob.get())->rgsabound[0].cElements);
    ASSERT_EQ(S_OK, rs->MoveNext());
    ExpectLongMemo(ValueOf(rs, Var(u"memo")));
}

TEST_P(RowStoreTest, EveryKindOfValueReadsBack) {
    Ptr<_Recordset> rs = OpenFile(path);
    EXPECT_EQ(static_cast<LONG>(GetParam()) + 5, Count(rs.get()));
    LONG fields = 0;
    ASSERT_EQ(S_OK, FieldsOf(rs.get())->get_Count(&fields));
    EXPECT_EQ(10, fields) << "the hidden column is not a field";
    ExpectFirstRows(rs.get());
    ASSERT_EQ(S_OK, rs->MoveLast());
    EXPECT_EQ(5, I4(ValueOf(rs.get(), Var(u"id"))));
    LONG status = 0;
    ASSERT_EQ(S_OK, rs->get_Status(&status));
    EXPECT_EQ(adRecNew, status);

    // GetRows and GetString read the same values.
    ASSERT_EQ(S_OK, rs->MoveFirst());
    Var rows;
    ASSERT_EQ(S_OK, rs->GetRows(3, *Var::Missing(), *Var(u"name"), rows.out()));
    LONG at[2] = {0, 0};
    Var cell;
    ASSERT_EQ(S_OK, SafeArrayGetElement(V_ARRAY(rows.get()), at, cell.out()));
    EXPECT_EQ(u"café ok", Text(*cell));
    at[1] = 1;
    ASSERT_EQ(S_OK, SafeArrayGetElement(V_ARRAY(rows.get()), at, cell.out()));
    EXPECT_EQ(VT_NULL, cell.vt());
    ASSERT_EQ(S_OK, rs->MoveFirst());
    BSTR text = nullptr;
    ASSERT_EQ(S_OK, rs->GetString(adClipString, 2, nullptr, nullptr, nullptr, &text));
    const std::u16string clip = Text(text);
    SysFreeString(text);
    EXPECT_EQ(0u, clip.find(u"1\tcafé ok\t\t")) << Narrow(clip);
    EXPECT_NE(std::u16string::npos, clip.find(u"\r2\t\t")) << Narrow(clip);
}

TEST_P(RowStoreTest, ChangedRowsKeepTheirChangesAndOriginals) {
    Ptr<_Recordset> rs = OpenFile(path);
    ASSERT_EQ(S_OK, rs->MoveFirst());
    ASSERT_EQ(S_OK, PutValue(rs.get(), Var(u"name"), Var(u"changed")));
    ASSERT_EQ(S_OK, rs->MoveNext());
    ASSERT_EQ(S_OK, PutValue(rs.get(), Var(u"small"), Var(7)));
    ASSERT_EQ(S_OK, rs->CancelUpdate());
    ASSERT_EQ(S_OK, rs->MoveNext());
    ASSERT_EQ(S_OK, rs->Delete(adAffectCurrent));
    ASSERT_EQ(S_OK, rs->MoveFirst());
    EXPECT_EQ(u"changed", Text(*ValueOf(rs.get(), Var(u"name"))));
    EXPECT_EQ(u"", Text(*ValueOf(rs.get(), Var(u"memo")))) << "the other values stay";
    Ptr<Field> field;
    ASSERT_EQ(S_OK, FieldsOf(rs.get())->get_Item(*Var(u"name"), field.out()));
    Var original;
    ASSERT_EQ(S_OK, field->get_OriginalValue(original.out()));
    EXPECT_EQ(u"café ok", Text(*original));
    ASSERT_EQ(S_OK, rs->MoveNext());
    EXPECT_EQ(VT_NULL, ValueOf(rs.get(), Var(u"small")).vt()) << "a cancelled change leaves the value";
    EXPECT_EQ(static_cast<LONG>(GetParam()) + 4, Count(rs.get()));

    // Saved with the pending changes and opened again.
    const std::string saved = path + ".saved.xml";
    ASSERT_EQ(S_OK, rs->Save(*Var(WidePath(saved).c_str()), adPersistXML));
    Ptr<_Recordset> back = OpenFile(saved);
    EXPECT_EQ(static_cast<LONG>(GetParam()) + 4, Count(back.get()));
    ASSERT_EQ(S_OK, back->MoveFirst());
    EXPECT_EQ(u"changed", Text(*ValueOf(back.get(), Var(u"name"))));
    LONG status = 0;
    ASSERT_EQ(S_OK, back->get_Status(&status));
    EXPECT_EQ(adRecModified, status);
    ASSERT_EQ(S_OK, FieldsOf(back.get())->get_Item(*Var(u"amount"), field.out()));
    ASSERT_EQ(S_OK, field->get_OriginalValue(original.out()));
    EXPECT_EQ(VT_DECIMAL, original.vt());
    ASSERT_EQ(S_OK, back->MoveNext());
    ASSERT_EQ(S_OK, back->MoveNext());
    ExpectLongMemo(ValueOf(back.get(), Var(u"memo")));

    // Back to the file's rows: the change undone, the deleted row back.
    ASSERT_EQ(S_OK, rs->CancelBatch(adAffectAll));
    EXPECT_EQ(static_cast<LONG>(GetParam()) + 4, Count(rs.get())) << "the inserted row goes, the deleted returns";
    ASSERT_EQ(S_OK, rs->MoveFirst());
    EXPECT_EQ(u"café ok", Text(*ValueOf(rs.get(), Var(u"name"))));
}

TEST_P(RowStoreTest, ChunksReadStoredLongValues) {
    Ptr<_Recordset> rs = OpenFile(path);
    ASSERT_EQ(S_OK, rs->Move(3, *Var::Missing()));
    Ptr<Field> memo;
    ASSERT_EQ(S_OK, FieldsOf(rs.get())->get_Item(*Var(u"memo"), memo.out()));
    LONG size = 0;
    ASSERT_EQ(S_OK, memo->get_ActualSize(&size));
    EXPECT_EQ(static_cast<LONG>(700 * 16), size);
    Var chunk;
    ASSERT_EQ(S_OK, memo->GetChunk(5, chunk.out()));
    EXPECT_EQ(u"Crème", Text(*chunk));
}

// No padding: read whole; 3000 rows of padding: read by parts.
INSTANTIATE_TEST_SUITE_P(Sizes, RowStoreTest, ::testing::Values(size_t{0}, size_t{3000}));

TEST(RowStoreTextRows, RowsLeftToTheParserMidwayAreStoredOnce) {
    // Rows written with an end tag are read as far as their start tag's end
    // straight from the text, then handed back and read by the parser; some
    // of them start a block of 64 rows, where the store keeps NULL bits.
    ClearError();
    std::string doc = kHead;
    doc += kRows;
    // Long enough rows that the file is read by parts.
    const std::string kTail = " and some text to make the row as long as rows of real files are";
    for (int i = 0; i < 3000; ++i) {
        const std::string id = std::to_string(100 + i);
        doc += "\t<z:row id='" + id + "' name='n" + std::to_string(i % 1000) + "' memo='memo " + id + kTail + "'" +
               (i % 61 == 0 || i % 64 == 60 ? "></z:row>\n" : "/>\n");
    }
    doc += "</rs:data>\n</xml>\n";
    const std::string path = "/tmp/ado_row_store_back_" + std::to_string(getpid()) + ".xml";
    std::ofstream(path, std::ios::binary) << doc;
    const std::u16string wide(path.begin(), path.end());
    Ptr<_Recordset> rs = NewRecordset();
    ASSERT_EQ(S_OK, rs->Open(*Var(wide.c_str()), *Var(u"Provider=MSPersist;"), adOpenUnspecified, adLockUnspecified,
                             adCmdUnspecified));
    LONG count = 0;
    ASSERT_EQ(S_OK, rs->get_RecordCount(&count));
    ASSERT_EQ(3003, count);
    ASSERT_EQ(S_OK, rs->Move(3, *Var::Missing()));
    for (int i = 0; i < 3000; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(100 + i, I4(ValueOf(rs.get(), Var(u"id"))));
        ASSERT_EQ(u"n" + Utf16(std::to_string(i % 1000)), Text(*ValueOf(rs.get(), Var(u"name"))));
        ASSERT_EQ(Utf16("memo " + std::to_string(100 + i) + kTail), Text(*ValueOf(rs.get(), Var(u"memo"))));
        ASSERT_EQ(VT_NULL, ValueOf(rs.get(), Var(u"small")).vt());
        ASSERT_EQ(S_OK, rs->MoveNext());
    }
    std::remove(path.c_str());
}

TEST(RowStoreAllocationTest, OpeningALargeFileMayFailAtAnyAllocation) {
    ClearError();
    const std::string path = "/tmp/ado_row_store_alloc_" + std::to_string(getpid()) + ".xml";
    std::ofstream(path, std::ios::binary) << Document(3000);
    const std::u16string wide(path.begin(), path.end());
    bool through = false;
    for (LONG nth = 1; nth < 3000 && !through; ++nth) {
        ComHostFailAllocation(nth);
        HRESULT hr = S_OK;
        LONG count = 0;
        {
            Ptr<_Recordset> rs;
            hr = CoCreateInstance(kCLSID_Recordset, nullptr, 0x15, kIID_Recordset, rs.outVoid());
            if (SUCCEEDED(hr))
                hr = rs->Open(*Var(wide.c_str()), *Var::Missing(), adOpenUnspecified, adLockUnspecified,
                              adCmdUnspecified);
            if (SUCCEEDED(hr))
                hr = rs->get_RecordCount(&count);
        }
        through = ComHostAllocationFailurePending() != FALSE;
        ComHostFailAllocation(0);
        ClearError();
        EXPECT_NE(E_UNEXPECTED, hr) << nth;
        if (SUCCEEDED(hr)) {
            EXPECT_EQ(3005, count) << nth;
        }
    }
    EXPECT_TRUE(through) << "opening never got through";
    std::remove(path.c_str());
}

}  // namespace
}  // namespace adotest
