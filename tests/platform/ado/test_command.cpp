// Command, Parameters and Parameter objects.
#include "ado_test_util.h"

namespace adotest {
namespace {

Ptr<_Command> NewCommand() {
    Ptr<_Command> command;
    EXPECT_EQ(S_OK, CoCreateInstance(kCLSID_Command, nullptr, CLSCTX_INPROC_SERVER, kIID_Command, command.outVoid()));
    return command;
}

LONG ParameterCount(_Command* command) {
    Ptr<Parameters> parameters;
    EXPECT_EQ(S_OK, command->get_Parameters(parameters.out()));
    LONG count = -1;
    EXPECT_EQ(S_OK, parameters->get_Count(&count));
    return count;
}

class CommandTest : public ::testing::Test {
protected:
    void SetUp() override { ClearError(); }
};

TEST_F(CommandTest, CreateParameterSetsEverythingAndAppendsNothing) {
    Ptr<_Command> command = NewCommand();
    Str name(u"p1");
    Ptr<_Parameter> parameter;
    ASSERT_EQ(S_OK, command->CreateParameter(name.get(), adInteger, adParamInputOutput, 4, *Var(u"17"),
                                             parameter.out()));
    EXPECT_EQ(0, ParameterCount(command.get()));
    BSTR text = nullptr;
    ASSERT_EQ(S_OK, parameter->get_Name(&text));
    EXPECT_EQ(u"p1", Text(text));
    SysFreeString(text);
    DataTypeEnum type = adEmpty;
    ParameterDirectionEnum direction = adParamUnknown;
    LONG size = 0;
    ASSERT_EQ(S_OK, parameter->get_Type(&type));
    ASSERT_EQ(S_OK, parameter->get_Direction(&direction));
    ASSERT_EQ(S_OK, parameter->get_Size(&size));
    EXPECT_EQ(adInteger, type);
    EXPECT_EQ(adParamInputOutput, direction);
    EXPECT_EQ(4, size);
    // The value is held in the parameter's type.
    Var value;
    ASSERT_EQ(S_OK, parameter->get_Value(value.out()));
    EXPECT_EQ(17, I4(value));
    // Only the caller holds the new parameter; the command holds nothing of it.
    EXPECT_EQ(1u, RefCount(parameter.get()));
    EXPECT_EQ(1u, RefCount(command.get()));

    Ptr<IUnknown> p;
    EXPECT_EQ(S_OK, parameter->QueryInterface(kIID_Parameter, p.outVoid()));
    EXPECT_EQ(E_NOINTERFACE, parameter->QueryInterface(kIID_Command15, p.outVoid()));
}

TEST_F(CommandTest, ParameterValuesConvertOrAreRefused) {
    Ptr<_Command> command = NewCommand();
    Ptr<_Parameter> parameter;
    // A value that the type cannot hold is refused by CreateParameter.
    EXPECT_EQ(kDataConversion, command->CreateParameter(nullptr, adInteger, adParamInput, 0, *Var(u"abc"),
                                                        parameter.out()));
    EXPECT_EQ(nullptr, parameter.get());
    ErrorText e = TakeError();
    EXPECT_EQ(u"Application uses a value of the wrong type for the current operation.", e.description);
    EXPECT_EQ(u"ADODB.Command", e.source);
    EXPECT_EQ(kInvalidArgument, command->CreateParameter(nullptr, adInteger, static_cast<ParameterDirectionEnum>(7),
                                                         0, *Var::Missing(), parameter.out()));

    ASSERT_EQ(S_OK, command->CreateParameter(nullptr, adSmallInt, adParamInput, 0, *Var::Missing(),
                                             parameter.out()));
    Var value;
    ASSERT_EQ(S_OK, parameter->get_Value(value.out()));
    EXPECT_EQ(VT_EMPTY, value.vt());
    ASSERT_EQ(S_OK, parameter->put_Value(*Var(12.0)));
    ASSERT_EQ(S_OK, parameter->get_Value(value.out()));
    ASSERT_EQ(VT_I2, value.vt());
    EXPECT_EQ(12, V_I2(value.get()));
    // Refused: the parameter keeps its value.
    EXPECT_EQ(kDataConversion, parameter->put_Value(*Var(70000)));
    EXPECT_EQ(u"ADODB.Parameter", TakeError().source);
    ASSERT_EQ(S_OK, parameter->get_Value(value.out()));
    EXPECT_EQ(12, V_I2(value.get()));
    ASSERT_EQ(S_OK, parameter->put_Value(*Var::Null()));
    ASSERT_EQ(S_OK, parameter->get_Value(value.out()));
    EXPECT_EQ(VT_NULL, value.vt());
    // Changing the type converts the value held, or is refused.
    ASSERT_EQ(S_OK, parameter->put_Value(*Var(5)));
    ASSERT_EQ(S_OK, parameter->put_Type(adVarWChar));
    ASSERT_EQ(S_OK, parameter->get_Value(value.out()));
    EXPECT_EQ(u"5", Text(*value));
    ASSERT_EQ(S_OK, parameter->put_Value(*Var(u"x")));
    EXPECT_EQ(kDataConversion, parameter->put_Type(adInteger));
}

TEST_F(CommandTest, ParametersCollection) {
    Ptr<_Command> command = NewCommand();
    Ptr<Parameters> parameters;
    ASSERT_EQ(S_OK, command->get_Parameters(parameters.out()));
    Ptr<Parameters> again;
    ASSERT_EQ(S_OK, command->get_Parameters(again.out()));
    EXPECT_EQ(parameters.get(), again.get());

    Str a(u"a"), b(u"b");
    Ptr<_Parameter> pa, pb, untyped, unsized;
    ASSERT_EQ(S_OK, command->CreateParameter(a.get(), adInteger, adParamInput, 0, *Var(1), pa.out()));
    ASSERT_EQ(S_OK, command->CreateParameter(b.get(), adVarChar, adParamInput, 10, *Var(u"x"), pb.out()));
    ASSERT_EQ(S_OK, command->CreateParameter(nullptr, adEmpty, adParamInput, 0, *Var::Missing(), untyped.out()));
    ASSERT_EQ(S_OK, command->CreateParameter(nullptr, adVarChar, adParamInput, 0, *Var::Missing(), unsized.out()));
    ASSERT_EQ(S_OK, parameters->Append(pa.get()));
    ASSERT_EQ(S_OK, parameters->Append(pb.get()));
    EXPECT_EQ(2u, RefCount(pa.get()));
    EXPECT_EQ(static_cast<HRESULT>(0x800A0D27), parameters->Append(pa.get()));
    EXPECT_EQ(static_cast<HRESULT>(0x800A0E7C), parameters->Append(untyped.get()));
    EXPECT_EQ(static_cast<HRESULT>(0x800A0E7C), parameters->Append(unsized.get()));
    Ptr<_Recordset> notAParameter = NewRecordset();
    EXPECT_EQ(kInvalidArgument, parameters->Append(notAParameter.get()));
    EXPECT_EQ(2, ParameterCount(command.get()));

    Ptr<_Parameter> found;
    ASSERT_EQ(S_OK, parameters->get_Item(*Var(u"B"), found.out()));
    EXPECT_EQ(pb.get(), found.get());
    ASSERT_EQ(S_OK, parameters->get_Item(*Var(0), found.out()));
    EXPECT_EQ(pa.get(), found.get());
    EXPECT_EQ(kItemNotFound, parameters->get_Item(*Var(2), found.out()));
    found.reset();

    ASSERT_EQ(S_OK, parameters->Delete(*Var(u"a")));
    EXPECT_EQ(1u, RefCount(pa.get()));
    EXPECT_EQ(kItemNotFound, parameters->Delete(*Var(u"a")));
    EXPECT_EQ(1, ParameterCount(command.get()));
    // Releasing the command releases the parameters it holds.
    again.reset();
    parameters.reset();
    command.reset();
    EXPECT_EQ(1u, RefCount(pb.get()));
}

TEST_F(CommandTest, ExecuteNeedsAConnection) {
    Ptr<_Command> command = NewCommand();
    Str text(u"select 1");
    ASSERT_EQ(S_OK, command->put_CommandText(text.get()));
    Ptr<_Recordset> result;
    EXPECT_EQ(kInvalidConnection, command->Execute(nullptr, nullptr, adCmdText, result.out()));
    EXPECT_EQ(nullptr, result.get());
    BSTR back = nullptr;
    ASSERT_EQ(S_OK, command->get_CommandText(&back));
    EXPECT_EQ(u"select 1", Text(back));
    SysFreeString(back);
}

}  // namespace
}  // namespace adotest
