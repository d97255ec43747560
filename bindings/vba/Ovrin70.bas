Attribute VB_Name = "Ovrin70"
' Ovrin70 for Office VBA (Excel, Word, Access): the C interface of
' Ovrin70.dll, declared for 32- and 64-bit Office, and a macro that puts the
' meter's distance in the active cell.
'
' Put the Ovrin70.dll of Office's word size (x86 for 32-bit Office, x64 for
' 64-bit) beside the workbook's folder on PATH, or in the folder Office
' starts in. File > Import File... adds this module; MeasureIntoActiveCell
' can then be given a button or a shortcut key.
Option Explicit

' One decoded reply line (16 bytes).
Public Type OvrinRecord
    kind As Integer       ' 6: a distance; 1: a device error (value1 is the code)
    reserved1 As Integer
    auxDigit As Integer
    reserved2 As Integer
    value1 As Long
    value2 As Long
End Type

' One reply line as it was received (176 bytes).
Public Type OvrinReading
    record As OvrinRecord
    sequence As Currency   ' 64-bit integers, read as Currency: VBA shows each divided by 10 000
    utcNs As Currency
    monotonicNs As Currency
    lineLength As Long
    reserved As Long
    line(0 To 127) As Byte
End Type

#If VBA7 Then
Public Declare PtrSafe Function ovrin_create Lib "Ovrin70.dll" () As LongPtr
Public Declare PtrSafe Sub ovrin_destroy Lib "Ovrin70.dll" (ByVal connection As LongPtr)
Public Declare PtrSafe Function ovrin_open Lib "Ovrin70.dll" (ByVal connection As LongPtr, ByVal port As String, ByVal portSize As LongPtr, ByVal window As LongPtr) As Long
Public Declare PtrSafe Function ovrin_close Lib "Ovrin70.dll" (ByVal connection As LongPtr) As Long
Public Declare PtrSafe Function ovrin_measure Lib "Ovrin70.dll" (ByVal connection As LongPtr) As Long
Public Declare PtrSafe Sub ovrin_latest_record Lib "Ovrin70.dll" (ByVal connection As LongPtr, ByRef record As OvrinRecord)
Public Declare PtrSafe Function ovrin_next_reading Lib "Ovrin70.dll" (ByVal connection As LongPtr, ByRef reading As OvrinReading) As Long
Public Declare PtrSafe Function ovrin_wait_reading Lib "Ovrin70.dll" (ByVal connection As LongPtr, ByRef reading As OvrinReading, ByVal timeoutMs As Long) As Long
' The dropped count, a 64-bit integer: 32-bit Office has no such type and
' takes its low half, a plain Long (Currency would show it divided by 10 000).
#If Win64 Then
Public Declare PtrSafe Function ovrin_dropped_readings Lib "Ovrin70.dll" (ByVal connection As LongPtr) As LongLong
#Else
Public Declare PtrSafe Function ovrin_dropped_readings Lib "Ovrin70.dll" (ByVal connection As LongPtr) As Long
#End If
Public Declare PtrSafe Sub ovrin_error_text Lib "Ovrin70.dll" (ByVal code As Long, ByVal buffer As String, ByVal bufferLength As Long)
Public Declare PtrSafe Function ovrin_set_remembered_port Lib "Ovrin70.dll" (ByVal port As String) As Long
#Else
Public Declare Function ovrin_create Lib "Ovrin70.dll" () As Long
Public Declare Sub ovrin_destroy Lib "Ovrin70.dll" (ByVal connection As Long)
Public Declare Function ovrin_open Lib "Ovrin70.dll" (ByVal connection As Long, ByVal port As String, ByVal portSize As Long, ByVal window As Long) As Long
Public Declare Function ovrin_close Lib "Ovrin70.dll" (ByVal connection As Long) As Long
Public Declare Function ovrin_measure Lib "Ovrin70.dll" (ByVal connection As Long) As Long
Public Declare Sub ovrin_latest_record Lib "Ovrin70.dll" (ByVal connection As Long, ByRef record As OvrinRecord)
Public Declare Function ovrin_next_reading Lib "Ovrin70.dll" (ByVal connection As Long, ByRef reading As OvrinReading) As Long
Public Declare Function ovrin_wait_reading Lib "Ovrin70.dll" (ByVal connection As Long, ByRef reading As OvrinReading, ByVal timeoutMs As Long) As Long
Public Declare Function ovrin_dropped_readings Lib "Ovrin70.dll" (ByVal connection As Long) As Long
Public Declare Sub ovrin_error_text Lib "Ovrin70.dll" (ByVal code As Long, ByVal buffer As String, ByVal bufferLength As Long)
Public Declare Function ovrin_set_remembered_port Lib "Ovrin70.dll" (ByVal port As String) As Long
#End If

' The English text of a device error code.
Public Function OvrinErrorText(ByVal code As Long) As String
    Dim text As String
    text = String$(64, vbNullChar)
    ovrin_error_text code, text, 64
    OvrinErrorText = Left$(text, InStr(text, vbNullChar) - 1)
End Function

' Opens the meter, measures, puts the distance in the active cell (the number
' the meter sent) and moves one cell down; tells the user when the meter did
' not answer.
Public Sub MeasureIntoActiveCell()
#If VBA7 Then
    Dim connection As LongPtr
#Else
    Dim connection As Long
#End If
    Dim port As String
    Dim reading As OvrinReading
    Dim answered As Boolean
    connection = ovrin_create()
    port = String$(256, vbNullChar)
    If ovrin_open(connection, port, 256, 0) <> 1 Then
        MsgBox "No meter was found. Is it switched on and paired?", vbExclamation, "Ovrin70"
    ElseIf ovrin_measure(connection) <> 1 Then
        MsgBox "The measure command could not be sent.", vbExclamation, "Ovrin70"
    Else
        Do While ovrin_wait_reading(connection, reading, 5000) = 1
            If reading.record.kind = 6 Then
                ActiveCell.Value = reading.record.value1
                ActiveCell.Offset(1, 0).Select
                answered = True
                Exit Do
            ElseIf reading.record.kind = 1 Then
                MsgBox OvrinErrorText(reading.record.value1), vbExclamation, "Ovrin70"
                answered = True
                Exit Do
            End If
        Loop
        If Not answered Then MsgBox "The meter did not answer within 5 seconds.", vbExclamation, "Ovrin70"
    End If
    ovrin_close connection
    ovrin_destroy connection
End Sub
