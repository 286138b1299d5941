// The SDK-named client (sdk_names.cpp) against the host layer's objects.
#include "ado_test_util.h"
#include "sdk_names.h"

namespace adotest {
namespace {

TEST(SdkNamesTest, ClientWrittenAgainstTheSdkRunsOnTheHostLayer) {
    Ptr<Recordset15> rs;
    ASSERT_EQ(S_OK, CoCreateInstance(kCLSID_Recordset, nullptr, 0x15, kIID_Recordset15, rs.outVoid()));
    Ptr<Command15> cmd;
    ASSERT_EQ(S_OK, CoCreateInstance(kCLSID_Command, nullptr, CLSCTX_INPROC_SERVER, kIID_Command15, cmd.outVoid()));
    SdkNamesResult r{};
    RunSdkNamesClient(rs.get(), cmd.get(), &r);
    EXPECT_EQ(S_OK, r.append);
    EXPECT_EQ(S_OK, r.open);
    EXPECT_EQ(S_OK, r.addNew);
    EXPECT_EQ(S_OK, r.item);
    EXPECT_EQ(S_OK, r.putValue);
    EXPECT_EQ(S_OK, r.getValue);
    EXPECT_EQ(42, r.value);
    // Column properties are fixed once the recordset is open.
    EXPECT_EQ(kObjectOpen, r.putPrecision);
    EXPECT_EQ(kObjectOpen, r.putNumericScale);
    EXPECT_EQ(S_OK, r.moveNext);
    EXPECT_EQ(S_OK, r.movePrevious);
    EXPECT_EQ(VARIANT_FALSE, r.eof);
    EXPECT_EQ(VARIANT_FALSE, r.bof);
    EXPECT_EQ(S_OK, r.getRows);
    EXPECT_EQ(42, r.rowsValue);
    EXPECT_EQ(1, r.recordCount);
    EXPECT_EQ(adPosEOF, r.position);
    EXPECT_EQ(kObjectOpen, r.deleteField);
    EXPECT_EQ(S_OK, r.createParameter);
    EXPECT_EQ(S_OK, r.parameterPutValue);
    EXPECT_EQ(43, r.parameterValue);
    EXPECT_EQ(1u, RefCount(rs.get()));
    EXPECT_EQ(1u, RefCount(cmd.get()));
}

}  // namespace
}  // namespace adotest
