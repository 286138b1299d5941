// The errors a script gets: each failed call throws an Error whose number is
// the HRESULT and whose description is the server's (or ADO's) own text.
//
//   cd examples && ../build/linux/comscript errors.js

function hex(n) {
    return "0x" + (n >>> 0).toString(16).toUpperCase();
}

function attempt(title, action) {
    try {
        action();
        WScript.Echo(title + ": no error");
    } catch (err) {
        WScript.Echo(title + ": error " + hex(err.number) + ": " + err.description);
    }
}

var helper = new ActiveXObject("Orvane.ADOHelper.1");

attempt("Missing file (recordset99.xml)", function () {
    helper.RecordsetLoadFromFile(99, new ByRef());
});

var box = new ByRef();
helper.RecordsetLoadFromFile(1, box);
var rs = box.value;

attempt("Unknown field", function () {
    helper.RecordsetWrite(rs, "colour", "red", 0);
});
attempt("Writing to a read-only recordset", function () {
    helper.RecordsetWrite(rs, "price", 1, 0);
});
attempt("Wrong argument type", function () {
    helper.RecordsetWrite("not a recordset", "price", 1, 0);
});
attempt("Unknown method", function () {
    helper.RecordsetRead(rs, "price");
});
attempt("Unknown ProgID", function () {
    new ActiveXObject("Orvane.NoSuchThing");
});

WScript.Echo("An error nobody catches ends the script with status 1:");
helper.RecordsetWrite(rs, "colour", "red", 0);
WScript.Echo("not reached");
