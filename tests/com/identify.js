// VorSensorNLib from JScript (cscript): the templates are put in by
// scripts/test_windows.sh. A JScript array reaches Identify as an object.
var pass = 0, fail = 0;
function check(what, answer, expected) {
  if (answer === expected) { pass++; WScript.Echo("ok   JScript " + what + " = " + answer); }
  else { fail++; WScript.Echo("FAIL JScript " + what + " = " + answer + " (expected " + expected + ")"); }
}
var enrolled = "@ENROLLED@", same = "@SAME@", other = "@OTHER@";
try {
  var sensor = new ActiveXObject("VorSensorNLib.VorSensorN");
  check("Verify before Open", sensor.Verify(enrolled, same), 0);
  sensor.Open();
  check("Verify(enrolled, same finger)", sensor.Verify(enrolled, same), 1);
  check("Verify(enrolled, other finger)", sensor.Verify(enrolled, other), 0);
  check("Identify(same, [other, enrolled])", sensor.Identify(same, [other, enrolled]), 1);
  check("Identify(same, [enrolled])", sensor.Identify(same, [enrolled]), 0);
  check("Identify(same, [other])", sensor.Identify(same, [other]), -1);
  check("Identify(same, [])", sensor.Identify(same, []), -1);
  check("SetDisplay(5)", sensor.SetDisplay(5), 0);
  check("SetDisplay(0)", sensor.SetDisplay(0), 5);
  sensor.Close();
  check("Identify after Close", sensor.Identify(same, [enrolled]), -1);
} catch (e) {
  fail++;
  WScript.Echo("FAIL JScript exception " + e.number + ": " + e.message);
}
WScript.Echo("RESULT pass=" + pass + " fail=" + fail);
