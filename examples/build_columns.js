// Builds a fabricated recordset in memory, then adds and deletes columns and
// sets a numeric column's precision and scale through the helper.
//
//   cd examples && ../build/linux/comscript build_columns.js

var adInteger = 3, adNumeric = 131, adVarWChar = 202, adDouble = 5;
var adFldIsNullable = 0x20;

function describe(rs) {
    var e = new Enumerator(rs.Fields);
    for (; !e.atEnd(); e.moveNext()) {
        var f = e.item();
        WScript.Echo("  " + f.Name + ": type " + f.Type + ", size " + f.DefinedSize +
                     ", precision " + f.Precision + ", scale " + f.NumericScale);
    }
}

var helper = new ActiveXObject("Orvane.ADOHelper.1");
var rs = new ActiveXObject("ADODB.Recordset");

// Columns can only be added while the recordset is closed.
rs.Fields.Append("id", adInteger);
rs.Fields.Append("name", adVarWChar, 30);
helper.RecordsetAddColumn(rs, "weight", adNumeric, 0, adFldIsNullable);
helper.RecordsetAddColumn(rs, "scratch", adDouble, 0, adFldIsNullable);
WScript.Echo("Columns after RecordsetAddColumn:");
describe(rs);

helper.SetFieldPrecisionProperty(rs, "weight", 8, 0);
helper.SetFieldNumericScaleProperty(rs, "weight", 3, 0);
helper.RecordsetDeleteColumn(rs, "scratch");
WScript.Echo("After SetFieldPrecisionProperty(8), SetFieldNumericScaleProperty(3) and RecordsetDeleteColumn:");
describe(rs);

rs.Open();
var rows = [[1, "anchor", 12.5], [2, "chain", 0.875], [3, "shackle", 1.25]];
for (var i = 0; i < rows.length; ++i) {
    rs.AddNew();
    rs("id").Value = rows[i][0];
    rs("name").Value = rows[i][1];
    rs("weight").Value = rows[i][2];
    rs.Update();
}
WScript.Echo("Rows of the fabricated recordset:");
rs.MoveFirst();
while (!rs.EOF) {
    WScript.Echo("  " + rs("id").Value + " " + rs("name").Value + " " + rs("weight").Value);
    rs.MoveNext();
}
rs.Close();
