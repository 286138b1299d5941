// The headline example: load a saved price list, print it as a table, raise
// every price by 10 % with RecordsetWrite and print the result.
//
//   cd examples && ../build/linux/comscript price_list.js
//
// RecordsetLoadFromFile(1, ...) opens data/recordsets/recordset1.xml below the
// working directory.  A recordset handed in with its LockType set is opened
// for writing; an empty ByRef would get a new, read-only one.

var adLockBatchOptimistic = 4;

function pad(text, width, right) {
    text = String(text);
    while (text.length < width) text = right ? " " + text : text + " ";
    return text;
}

function money(value) {
    return value === null ? "-" : value.toFixed(2);
}

function printTable(rs, title) {
    WScript.Echo(title);
    WScript.Echo(pad("code", 8) + " " + pad("product", 24) + " " + pad("price", 8, true) + " " + pad("stock", 6, true));
    WScript.Echo(pad("", 8, "-").replace(/ /g, "-") + " " + pad("", 24).replace(/ /g, "-") + " " +
                 pad("", 8).replace(/ /g, "-") + " " + pad("", 6).replace(/ /g, "-"));
    rs.MoveFirst();
    while (!rs.EOF) {
        var stock = rs("stock").Value;
        WScript.Echo(pad(rs("code").Value, 8) + " " + pad(rs("product").Value, 24) + " " +
                     pad(money(rs("price").Value), 8, true) + " " + pad(stock === null ? "-" : stock, 6, true));
        rs.MoveNext();
    }
}

var helper = new ActiveXObject("Orvane.ADOHelper.1");
var rs = new ActiveXObject("ADODB.Recordset");
rs.LockType = adLockBatchOptimistic;
var box = new ByRef(rs);
helper.RecordsetLoadFromFile(1, box);
rs = box.value;

WScript.Echo("Loaded data/recordsets/recordset1.xml: " + rs.RecordCount + " products, " +
             rs.Fields.Count + " fields.");
printTable(rs, "Price list");

var raised = 0;
rs.MoveFirst();
while (!rs.EOF) {
    var price = rs("price").Value;
    if (price !== null) {
        helper.RecordsetWrite(rs, "price", Math.round(price * 110) / 100, 0);
        ++raised;
    }
    rs.MoveNext();
}
WScript.Echo("");
WScript.Echo("Raised " + raised + " prices by 10 % with RecordsetWrite.");
printTable(rs, "New price list");
