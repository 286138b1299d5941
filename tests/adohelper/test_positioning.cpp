// The row mover's boundary rules, watched through a scripted recordset.
#include "scripted_recordset.h"

namespace nuv::test {
namespace {

class PositioningTest : public MethodTest {
protected:
    void SetUp() override {
        MethodTest::SetUp();
        real = Fabricate({{u"n", adInteger, 4, adFldIsNullable}}, {{1}, {2}, {3}, {4}});
        scripted = new ScriptedRecordset(real.Get());
    }
    void TearDown() override {
        EXPECT_EQ(0u, scripted->Release());
        EXPECT_EQ(1u, RefCount(real.Get()));
    }

    CComPtr<Recordset15> real;
    ScriptedRecordset* scripted = nullptr;
};

TEST_F(PositioningTest, ZeroStepsDoNotEvenReadEof) {
    EXPECT_EQ(S_OK, helper->RecordsetWrite(scripted, *Var(u"n"), *Var(LONG{9}), 0));
    EXPECT_EQ(0, scripted->eofReads);
    EXPECT_EQ(0, scripted->nextCalls);
}

TEST_F(PositioningTest, OnlyMinusOneCountsAsABoundary) {
    scripted->eof = [] { return static_cast<VARIANT_BOOL>(1); };
    EXPECT_EQ(S_OK, helper->RecordsetWrite(scripted, *Var(u"n"), *Var(LONG{9}), 2));
    EXPECT_EQ(2, scripted->nextCalls);
    EXPECT_EQ(3, PositionOf(real.Get()));

    scripted->eof = [] { return VARIANT_TRUE; };
    EXPECT_EQ(S_OK, helper->RecordsetWrite(scripted, *Var(u"n"), *Var(LONG{9}), 2));
    EXPECT_EQ(2, scripted->nextCalls);   // already "at the end": no move
}

TEST_F(PositioningTest, BackwardMovesTestEofFirstThenBof) {
    ASSERT_EQ(S_OK, real->MoveLast());
    scripted->eof = [] { return VARIANT_FALSE; };
    scripted->bof = [] { return static_cast<VARIANT_BOOL>(0x7FFF); };   // not -1: not set
    EXPECT_EQ(S_OK, helper->RecordsetWrite(scripted, *Var(u"n"), *Var(LONG{9}), -3));
    EXPECT_EQ(3, scripted->previousCalls);
    EXPECT_EQ(1, scripted->eofReads);
    EXPECT_EQ(3, scripted->bofReads);
    EXPECT_EQ(1, PositionOf(real.Get()));

    // EOF set before the first backward step: nothing moves, BOF is not read.
    scripted->eof = [] { return VARIANT_TRUE; };
    EXPECT_EQ(S_OK, helper->RecordsetWrite(scripted, *Var(u"n"), *Var(LONG{9}), -1));
    EXPECT_EQ(3, scripted->previousCalls);
    EXPECT_EQ(3, scripted->bofReads);
}

TEST_F(PositioningTest, FailedMoveEndsTheMethodWithItsResult) {
    const HRESULT failure = static_cast<HRESULT>(0x800A0BCD);
    for (bool reports : {true, false}) {
        scripted->failMoves = failure;
        scripted->reportsErrors = reports;
        EXPECT_EQ(failure, helper->RecordsetWrite(scripted, *Var(u"n"), *Var(LONG{9}), 1)) << reports;
        // Taken and handed back when the recordset reports errors, left on the
        // thread otherwise: the caller reads the description either way.
        EXPECT_EQ(u"scripted move failure", TakeErrorDescription()) << reports;
        ASSERT_EQ(S_OK, real->MoveFirst());
        EXPECT_EQ(1, V_I4(&*ValueOf(real.Get(), Var(u"n"))));   // nothing written
    }
}

// Against the real recordset's own flags: exact failures and exact moves.
constexpr HRESULT kNoCurrentRecord = static_cast<HRESULT>(0x800A0BCD);

TEST_F(PositioningTest, ForwardStepsStopAtTheEndAndTheWriteFailsThere) {
    ASSERT_EQ(S_OK, real->MoveNext());
    ASSERT_EQ(S_OK, real->MoveNext());   // two rows left before the end
    // Five steps asked, two taken: the mover stops at EOF without error and
    // the write then fails there with ADO's "no current record".
    EXPECT_EQ(kNoCurrentRecord, helper->RecordsetWrite(scripted, *Var(u"n"), *Var(LONG{5}), 5));
    EXPECT_EQ(2, scripted->nextCalls);
    EXPECT_TRUE(AtEof(real.Get()));
    // Already after the last row: nothing moves.
    EXPECT_EQ(kNoCurrentRecord, helper->RecordsetWrite(scripted, *Var(u"n"), *Var(LONG{5}), 7));
    EXPECT_EQ(2, scripted->nextCalls);
    EXPECT_EQ(4, scripted->eofReads);   // one read before the steps of each call, one after each step
}

TEST_F(PositioningTest, BackwardStepsFromAfterTheLastRowMoveNothing) {
    ASSERT_EQ(S_OK, real->MoveLast());
    ASSERT_EQ(S_OK, real->MoveNext());
    ASSERT_TRUE(AtEof(real.Get()));
    EXPECT_EQ(kNoCurrentRecord, helper->RecordsetWrite(scripted, *Var(u"n"), *Var(LONG{5}), -2));
    EXPECT_EQ(0, scripted->previousCalls);
    EXPECT_EQ(0, scripted->bofReads);
    EXPECT_TRUE(AtEof(real.Get()));
}

TEST_F(PositioningTest, BackwardStepFromBeforeTheFirstRowRaisesMovePreviousFailure) {
    ASSERT_EQ(S_OK, real->MovePrevious());
    ASSERT_TRUE(AtBof(real.Get()));
    EXPECT_EQ(kNoCurrentRecord, helper->RecordsetWrite(scripted, *Var(u"n"), *Var(LONG{5}), -1));
    EXPECT_EQ(1, scripted->previousCalls);   // EOF is false, so the first step is tried
    EXPECT_EQ(0, scripted->bofReads);
    // ADO's description travels with the raised failure.
    EXPECT_FALSE(TakeErrorDescription().empty());
}

TEST_F(PositioningTest, TwoStepsBackFromTheSecondRowReachBofAndWriteNothing) {
    ASSERT_EQ(S_OK, real->MoveNext());
    EXPECT_EQ(kNoCurrentRecord, helper->RecordsetWrite(scripted, *Var(u"n"), *Var(LONG{5}), -2));
    EXPECT_EQ(2, scripted->previousCalls);
    EXPECT_EQ(2, scripted->bofReads);
    EXPECT_TRUE(AtBof(real.Get()));
    ASSERT_EQ(S_OK, real->MoveFirst());
    EXPECT_EQ(1, V_I4(&*ValueOf(real.Get(), Var(u"n"))));   // nothing was written
}

TEST_F(PositioningTest, EveryRowMovingMethodUsesTheMover) {
    scripted->failMoves = E_FAIL;
    scripted->reportsErrors = false;
    IUnknown* obj = nullptr;
    _Parameter* parameter = nullptr;
    CComPtr<Command15> command;
    ASSERT_EQ(S_OK, CoCreateInstance(kCLSID_Command, nullptr, CLSCTX_INPROC_SERVER, kIID_Command15,
                                     reinterpret_cast<void**>(command.ReleaseAndGetAddressOf())));
    CComPtr<_Parameter> existing;
    ASSERT_EQ(S_OK, command->CreateParameter(nullptr, adInteger, adParamInput, 4, *Var(LONG{0}), existing.ReleaseAndGetAddressOf()));
    EXPECT_EQ(E_FAIL, helper->SetFieldNumericScaleProperty(scripted, *Var(u"n"), 1, 1));
    EXPECT_EQ(E_FAIL, helper->SetFieldPrecisionProperty(scripted, *Var(u"n"), 1, 1));
    EXPECT_EQ(E_FAIL, helper->RecordsetGetObjectFromField(scripted, *Var(u"n"), 1, &obj));
    EXPECT_EQ(E_FAIL, helper->CommandCreateParameter(command.Get(), nullptr, adInteger, adParamInput, 4, scripted,
                                                     *Var(u"n"), 1, &parameter));
    EXPECT_EQ(E_FAIL, helper->ParameterPutValueFromField(existing.Get(), scripted, *Var(u"n"), 1));
    EXPECT_EQ(E_FAIL, helper->RecordsetWriteFromField(real.Get(), *Var(u"n"), 0, scripted, *Var(u"n"), 1));
    EXPECT_EQ(6, scripted->nextCalls);
    EXPECT_EQ(nullptr, obj);
    EXPECT_EQ(nullptr, parameter);
}

// ParameterPutValueFromField reads as rows only what GetRows really returns.
TEST_F(PositioningTest, PutValueFromFieldRefusesRowsOfAnyOtherShape) {
    CComPtr<Command15> command;
    ASSERT_EQ(S_OK, CoCreateInstance(kCLSID_Command, nullptr, CLSCTX_INPROC_SERVER, kIID_Command15,
                                     reinterpret_cast<void**>(command.ReleaseAndGetAddressOf())));
    CComPtr<_Parameter> parameter;
    ASSERT_EQ(S_OK, command->CreateParameter(nullptr, adInteger, adParamInput, 4, *Var(LONG{-1}),
                                             parameter.ReleaseAndGetAddressOf()));
    auto array = [](VARTYPE vt, UINT dims) {
        SAFEARRAYBOUND bounds[2] = {{1, 0}, {1, 0}};
        return SafeArrayCreate(vt, dims, bounds);
    };
    SAFEARRAY* byReference = array(VT_VARIANT, 2);   // owned here, lent by reference
    const std::function<HRESULT(VARIANT*)> shapes[] = {
        [&](VARIANT* out) { V_VT(out) = VT_ARRAY | VT_VARIANT; V_ARRAY(out) = array(VT_VARIANT, 1); return S_OK; },
        [&](VARIANT* out) { V_VT(out) = VT_ARRAY | VT_I4; V_ARRAY(out) = array(VT_I4, 2); return S_OK; },
        [&](VARIANT* out) { V_VT(out) = VT_BYREF | VT_ARRAY | VT_VARIANT; V_ARRAYREF(out) = &byReference; return S_OK; },
        [&](VARIANT* out) { V_VT(out) = VT_ARRAY | VT_VARIANT; V_ARRAY(out) = nullptr; return S_OK; },
        [&](VARIANT* out) { V_VT(out) = VT_I4; V_I4(out) = 7; return S_OK; },
    };
    for (size_t i = 0; i < std::size(shapes); ++i) {
        scripted->getRows = shapes[i];
        EXPECT_EQ(DISP_E_TYPEMISMATCH, helper->ParameterPutValueFromField(parameter.Get(), scripted, *Var(u"n"), 0))
            << i;
        Var value;
        ASSERT_EQ(S_OK, parameter->get_Value(&value));
        EXPECT_EQ(-1, V_I4(&*value)) << i;   // untouched
    }
    SafeArrayDestroy(byReference);
    // The real two-dimensional array of VARIANTs is read.
    scripted->getRows = nullptr;
    EXPECT_EQ(S_OK, helper->ParameterPutValueFromField(parameter.Get(), scripted, *Var(u"n"), 0));
    Var value;
    ASSERT_EQ(S_OK, parameter->get_Value(&value));
    EXPECT_EQ(1, V_I4(&*value));
}

}  // namespace
}  // namespace nuv::test
