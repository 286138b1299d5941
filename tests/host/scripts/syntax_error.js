WScript.Echo("this line never runs");
var helper = new ActiveXObject("Orvane.ADOHelper.1";
