' A late-binding client, as a script host sees the plug-in: the object is
' created by its ProgID and its operations are called by name. Script
' variables are variants, so the operations with typed by-reference
' parameters (String or Long passed ByRef) answer "Type mismatch" here; the
' C++ client covers those. Prints "vbscript: N passed, N failed".
Option Explicit

Dim passed, failed
passed = 0
failed = 0

Sub Check(ok, what)
  If ok Then
    passed = passed + 1
  Else
    failed = failed + 1
    WScript.Echo "FAIL " & what
  End If
End Sub

Dim plugin, result
Set plugin = CreateObject("ZuvoFileSharing.beta")
Check IsObject(plugin), "CreateObject gives an object"

result = plugin.Initialize(2, "someone@example.com", Nothing)
Check VarType(result) = vbBoolean, "Initialize answers a Boolean"
Check result = True, "Initialize answers True"

result = plugin.Uninitialize()
Check IsEmpty(result), "Uninitialize answers an empty variant"

' Still usable after Uninitialize.
Check plugin.Initialize(0, "", Nothing) = True, "Initialize again"

' A by-reference String parameter cannot take a script variant.
Dim name, commands, tags
name = ""
commands = 0
tags = 0
On Error Resume Next
result = plugin.GetPublishInfo(name, commands, tags)
Check Err.Number <> 0, "GetPublishInfo refuses variant arguments"
Err.Clear
On Error GoTo 0

Set plugin = Nothing
WScript.Echo "vbscript: " & passed & " passed, " & failed & " failed"
