// Creates command parameters from the fields of a saved recordset and fills
// them from later rows: CommandCreateParameter and ParameterPutValueFromField.
// RecordsetGetObjectFromField hands out an object kept in a field.
//
//   cd examples && ../build/linux/comscript parameters.js

var adVarWChar = 202, adCurrency = 6, adIDispatch = 9, adParamInput = 1;

var helper = new ActiveXObject("Orvane.ADOHelper.1");
var box = new ByRef();
helper.RecordsetLoadFromFile(1, box);
var rs = box.value;

var command = new ActiveXObject("ADODB.Command");
var code = helper.CommandCreateParameter(command, "code", adVarWChar, adParamInput, 8, rs, "code", 0);
var price = helper.CommandCreateParameter(command, "price", adCurrency, adParamInput, 0, rs, "price", 0);
command.Parameters.Append(code);
command.Parameters.Append(price);
WScript.Echo("Parameters made from row 1:");
for (var e = new Enumerator(command.Parameters); !e.atEnd(); e.moveNext()) {
    var p = e.item();
    WScript.Echo("  " + p.Name + " (type " + p.Type + ", direction " + p.Direction + ") = " + p.Value);
}

// ParameterPutValueFromField reads one row of the field and leaves the
// recordset one row further on, so the script steps back before the second
// parameter reads the same row.
WScript.Echo("Filled row by row:");
rs.MoveFirst();
for (var row = 0; row < rs.RecordCount; ++row) {
    helper.ParameterPutValueFromField(code, rs, "code", 0);
    rs.MovePrevious();
    helper.ParameterPutValueFromField(price, rs, "price", 0);
    WScript.Echo("  " + command.Parameters("code").Value + " " + command.Parameters.Item(1).Value);
}
try {
    helper.ParameterPutValueFromField(code, rs, "code", 0);
} catch (err) {
    WScript.Echo("After the last row: " + err.description);
    WScript.Echo("The parameter keeps its value: " + code.Value);
}

// An object kept in a field of a fabricated recordset.
var holder = new ActiveXObject("ADODB.Recordset");
holder.Fields.Append("label", adVarWChar, 20);
holder.Fields.Append("command", adIDispatch);
holder.Open();
holder.AddNew();
holder("label").Value = "stored command";
holder("command").Value = command;
holder.Update();
holder.MoveFirst();
var stored = helper.RecordsetGetObjectFromField(holder, "command", 0);
WScript.Echo("RecordsetGetObjectFromField gave an object with " + stored.Parameters.Count + " parameters.");
try {
    helper.RecordsetGetObjectFromField(holder, "label", 0);
} catch (err) {
    WScript.Echo("A text field is no object: error 0x" + (err.number >>> 0).toString(16).toUpperCase());
}
holder.Close();
