// A price list of 100,000 rows: totals, the dearest products, and a 5 %
// rise of every price with RecordsetWrite.
//
// data/recordsets/recordset3.xml is generated, not kept in the repository:
//   build/linux/genrecordset 100000 examples/data/recordsets/recordset3.xml
//   cd examples && ../build/linux/comscript large_price_list.js

var adLockBatchOptimistic = 4;

function totals(rs) {
    var cents = 0, stock = 0, missing = 0, dearest = [];
    rs.MoveFirst();
    var code = rs.Fields("code"), price = rs.Fields("price"), units = rs.Fields("stock");
    while (!rs.EOF) {
        var p = Math.round(price.Value * 100);
        cents += p;
        var s = units.Value;
        if (s === null) ++missing;
        else stock += s;
        if (dearest.length < 3 || p > dearest[dearest.length - 1].cents) {
            dearest.push({code: code.Value, cents: p});
            dearest.sort(function (a, b) { return b.cents - a.cents || (a.code < b.code ? -1 : 1); });
            if (dearest.length > 3) dearest.pop();
        }
        rs.MoveNext();
    }
    return {cents: cents, stock: stock, missing: missing, dearest: dearest};
}

function report(t) {
    WScript.Echo("  sum of prices " + (t.cents / 100).toFixed(2) + ", units in stock " + t.stock +
                 ", rows without a stock figure " + t.missing);
    for (var i = 0; i < t.dearest.length; ++i)
        WScript.Echo("  " + t.dearest[i].code + " " + (t.dearest[i].cents / 100).toFixed(2));
}

var helper = new ActiveXObject("Orvane.ADOHelper.1");
var rs = new ActiveXObject("ADODB.Recordset");
rs.LockType = adLockBatchOptimistic;
var box = new ByRef(rs);
helper.RecordsetLoadFromFile(3, box);
WScript.Echo("Loaded " + rs.RecordCount + " rows.");
report(totals(rs));

rs.MoveFirst();
var price = rs.Fields("price");
var count = 0;
while (!rs.EOF) {
    helper.RecordsetWrite(rs, "price", Math.round(price.Value * 105) / 100, 0);
    ++count;
    rs.MoveNext();
}
WScript.Echo("Raised " + count + " prices by 5 % with RecordsetWrite.");
report(totals(rs));
