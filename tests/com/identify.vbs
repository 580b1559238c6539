' VorSensorNLib from VBScript (cscript): the templates are put in by
' scripts/test_windows.sh. Array(...) reaches Identify by reference.
Option Explicit
Dim pass, fail, sensor, enrolled, same, other, list
pass = 0
fail = 0
Sub Check(what, answer, expected)
  If answer = expected Then
    pass = pass + 1
    WScript.Echo "ok   VBScript " & what & " = " & answer
  Else
    fail = fail + 1
    WScript.Echo "FAIL VBScript " & what & " = " & answer & " (expected " & expected & ")"
  End If
End Sub
enrolled = "@ENROLLED@"
same = "@SAME@"
other = "@OTHER@"
On Error Resume Next
Set sensor = CreateObject("VorSensorNLib.VorSensorN.1")
If Err.Number <> 0 Then
  fail = fail + 1
  WScript.Echo "FAIL VBScript CreateObject: " & Hex(Err.Number)
Else
  On Error GoTo 0
  Check "Verify before Open", sensor.Verify(enrolled, same), 0
  sensor.Open
  Check "Verify(enrolled, same finger)", sensor.Verify(enrolled, same), 1
  Check "Verify(enrolled, other finger)", sensor.Verify(enrolled, other), 0
  list = Array(other, enrolled)
  Check "Identify(same, Array(other, enrolled))", sensor.Identify(same, list), 1
  Check "Identify(same, Array(enrolled)) inline", sensor.Identify(same, Array(enrolled)), 0
  Check "Identify(same, Array(other))", sensor.Identify(same, Array(other)), -1
  Check "Identify(same, Array())", sensor.Identify(same, Array()), -1
  Check "SetDisplay(7)", sensor.SetDisplay(7), 0
  Check "SetDisplay(0)", sensor.SetDisplay(0), 7
  sensor.Close
  Check "Verify after Close", sensor.Verify(enrolled, same), 0
End If
WScript.Echo "RESULT pass=" & pass & " fail=" & fail
