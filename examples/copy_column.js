// Copies a column between two saved recordsets with RecordsetWriteFromField:
// the supplier's list prices (recordset2.xml) go into our price list
// (recordset1.xml), row by row.
//
//   cd examples && ../build/linux/comscript copy_column.js

var adLockBatchOptimistic = 4;

function load(helper, index, writable) {
    var box = new ByRef();
    if (writable) {
        box.value = new ActiveXObject("ADODB.Recordset");
        box.value.LockType = adLockBatchOptimistic;
    }
    helper.RecordsetLoadFromFile(index, box);
    return box.value;
}

var helper = new ActiveXObject("Orvane.ADOHelper.1");
var prices = load(helper, 1, true);
var supplier = load(helper, 2, false);
WScript.Echo("Our list: " + prices.RecordCount + " rows; supplier's list: " + supplier.RecordCount + " rows.");

// The first call copies the current rows; each later call first moves both
// recordsets one row on (StepsToMove 1, InputRsStepsToMove 1).
var copied = 0;
while (copied < prices.RecordCount) {
    var step = copied === 0 ? 0 : 1;
    helper.RecordsetWriteFromField(prices, "price", step, supplier, "list_price", step);
    if (prices("code").Value !== supplier("code").Value) throw new Error("the lists are not in the same order");
    ++copied;
}
WScript.Echo("Copied " + copied + " prices with RecordsetWriteFromField.");

prices.MoveFirst();
while (!prices.EOF) {
    WScript.Echo(prices("code").Value + "  " + prices("price").Value.toFixed(2));
    prices.MoveNext();
}
