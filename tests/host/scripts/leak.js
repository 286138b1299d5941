// Leaves a recordset that holds itself and the helper object: the library
// cannot be unloaded at the end, which --check-leaks turns into status 3.
var adIDispatch = 9;
var helper = new ActiveXObject("Orvane.ADOHelper.1");
var rs = new ActiveXObject("ADODB.Recordset");
rs.Fields.Append("helper", adIDispatch);
rs.Fields.Append("self", adIDispatch);
rs.Open();
rs.AddNew();
rs("helper").Value = helper;
rs("self").Value = rs;
rs.Update();
