// Every method of the helper, called by name through IDispatch.
var adInteger = 3, adNumeric = 131, adVarWChar = 202, adCurrency = 6, adIDispatch = 9;
var adParamInput = 1, adFldIsNullable = 0x20, adLockBatchOptimistic = 4;
var helper = new ActiveXObject("Orvane.ADOHelper.1");

// 10. RecordsetLoadFromFile, into a recordset handed in and into a new one
var rs = new ActiveXObject("ADODB.Recordset");
rs.LockType = adLockBatchOptimistic;
var box = new ByRef(rs);
helper.RecordsetLoadFromFile(1, box);
var other = new ByRef();
helper.RecordsetLoadFromFile(2, other);
WScript.Echo("RecordsetLoadFromFile", rs.RecordCount, other.value.RecordCount, box.value.Fields.Count);

// 4. RecordsetWrite: moves one row, then writes
helper.RecordsetWrite(rs, "price", 1.25, 1);
WScript.Echo("RecordsetWrite", rs("code").Value, rs("price").Value);

// 5. RecordsetWriteFromField: input moves 2, target moves 1
helper.RecordsetWriteFromField(rs, 2, 1, other.value, "list_price", 2);
WScript.Echo("RecordsetWriteFromField", rs("code").Value, rs("price").Value, other.value("code").Value);

// 3. CommandCreateParameter and 9. ParameterPutValueFromField
var command = new ActiveXObject("ADODB.Command");
var p = helper.CommandCreateParameter(command, "p", adVarWChar, adParamInput, 8, rs, "code", -1);
WScript.Echo("CommandCreateParameter", p.Name, p.Value, rs("code").Value);
helper.ParameterPutValueFromField(p, rs, "product", 0);
WScript.Echo("ParameterPutValueFromField", p.Value, rs("code").Value);

// 6. RecordsetGetObjectFromField
var holder = new ActiveXObject("ADODB.Recordset");
holder.Fields.Append("obj", adIDispatch);
// 7. RecordsetAddColumn, 8. RecordsetDeleteColumn
helper.RecordsetAddColumn(holder, "amount", adNumeric, 0, adFldIsNullable);
helper.RecordsetAddColumn(holder, "gone", adInteger, 0, 0);
helper.RecordsetDeleteColumn(holder, "gone");
// 1. SetFieldNumericScaleProperty, 2. SetFieldPrecisionProperty
helper.SetFieldPrecisionProperty(holder, "amount", 12, 0);
helper.SetFieldNumericScaleProperty(holder, 1, 4, 0);
WScript.Echo("RecordsetAddColumn/RecordsetDeleteColumn", holder.Fields.Count, holder.Fields(1).Name);
WScript.Echo("SetFieldPrecisionProperty/SetFieldNumericScaleProperty", holder("amount").Precision,
             holder("amount").NumericScale);
holder.Open();
holder.AddNew();
holder("obj").Value = command;
holder.Update();
var obj = helper.RecordsetGetObjectFromField(holder, "obj", 0);
WScript.Echo("RecordsetGetObjectFromField", obj.Parameters.Count);
