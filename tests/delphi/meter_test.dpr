{ The Delphi unit (bindings/delphi/Ovrin70.pas) against a simulated meter that
  sends a burst of 1000 consecutive distances with its start-up answer (where
  another host took a burst before, they go on from its last).
  Usage: meter_test [PORT]   (PORT: tried first, as the remembered port)
  Prints the record sizes, then one line per check; exits 1 on a failure. }
program meter_test;

{$APPTYPE CONSOLE}

uses
  {$IFDEF FPC}{$IFDEF UNIX}cthreads,{$ENDIF}{$ENDIF}
  SysUtils, Classes, Ovrin70;

type
  TRecorder = class
    Lock: TRTLCriticalSection;
    Sequences: array of TOvrinUInt64;
    Values: array of Integer;
    OffMainThread: Boolean;
    Failed: Integer;
    procedure Reading(Sender: TObject; const Reading: TOvrinReading);
    procedure HandlerFailed(Sender: TObject; E: Exception; const Reading: TOvrinReading);
  end;

var
  Failures: Integer = 0;

procedure Check(Passed: Boolean; const What: string);
begin
  if Passed then WriteLn('  ', What, ': ok') else WriteLn('  ', What, ': FAILED');
  if not Passed then Inc(Failures);
end;

procedure TRecorder.Reading(Sender: TObject; const Reading: TOvrinReading);
var
  N: Integer;
begin
  EnterCriticalSection(Lock);
  N := Length(Sequences);
  SetLength(Sequences, N + 1);
  SetLength(Values, N + 1);
  Sequences[N] := Reading.sequence;
  Values[N] := Reading.record_.value1;
  if GetCurrentThreadId <> MainThreadID then OffMainThread := True;
  LeaveCriticalSection(Lock);
  if Reading.sequence mod 100 = 0 then
    raise Exception.Create('a handler that fails');
end;

procedure TRecorder.HandlerFailed(Sender: TObject; E: Exception; const Reading: TOvrinReading);
begin
  if E.Message = 'a handler that fails' then InterlockedIncrement(Failed);
end;

{ Close does not wait for a handler under way: the last reading's handler may
  still be recording. Up to 10 s. }
function Recorded(Recorder: TRecorder; Count: Integer): Boolean;
var
  Waited: Integer;
  Seen: Integer;
begin
  Waited := 0;
  repeat
    EnterCriticalSection(Recorder.Lock);
    Seen := Length(Recorder.Sequences);
    LeaveCriticalSection(Recorder.Lock);
    Result := Seen >= Count;
    if Result or (Waited >= 10000) then Exit;
    Sleep(10);
    Inc(Waited, 10);
  until False;
end;

function InOrder(const Recorder: TRecorder): Boolean;
var
  I: Integer;
  Told: Boolean;
begin
  Result := Length(Recorder.Sequences) = 1002;  // with the answer to Measure
  if not Result then WriteLn('  ', Length(Recorder.Sequences), ' readings handled');
  Told := False;
  for I := 0 to High(Recorder.Sequences) do
    if (Recorder.Sequences[I] <> TOvrinUInt64(I + 1)) or (I >= 1) and (I <= 1000) and (Recorder.Values[I] <> Recorder.Values[1] + I - 1) then
    begin
      if not Told then
        WriteLn('  handled as reading ', I + 1, ': sequence ', Recorder.Sequences[I], ', value ', Recorder.Values[I]);
      Told := True;
      Result := False;
    end;
end;

var
  Meter: TOvrinMeter;
  Recorder: TRecorder;
  Reading: TOvrinReading;
  Taken: Integer;
  Raised: Boolean;
begin
  WriteLn('sizes ', SizeOf(TOvrinRecord), ' ', SizeOf(TOvrinReading), ' ', SizeOf(TOvrinTrace), ' ',
    SizeOf(TOvrinPortIdentity));
  if ParamCount > 0 then ovrin_set_remembered_port(PAnsiChar(AnsiString(ParamStr(1))));
  Recorder := TRecorder.Create;
  InitCriticalSection(Recorder.Lock);
  Meter := TOvrinMeter.Create;
  Meter.OnReading := Recorder.Reading;
  Meter.OnHandlerFailed := Recorder.HandlerFailed;
  Meter.Open;
  Taken := 0;
  while (Taken < 1001) and Meter.WaitReading(Reading, 10000) do
    Inc(Taken);
  Check(Taken = 1001, 'WaitReading: the start-up answer and 1000 distances');
  Meter.Measure;
  Check(Meter.WaitReading(Reading, 5000) and (Reading.record_.kind = 6) and (Reading.sequence = 1002) and
    (Copy(ReadingLine(Reading), 1, 7) = '31..00+'), 'Measure: a distance follows');
  Check(not Meter.WaitReading(Reading, 100), 'WaitReading: False on time-out');
  Check(Recorded(Recorder, 1002), 'OnReading: the burst and the answer reach the handler');
  Meter.Close;
  Check(InOrder(Recorder), 'OnReading: every reading once, in order, with its distance (the burst, then the answer)');
  Check(Recorder.OffMainThread, 'OnReading runs on the receive thread');
  Check(Recorder.Failed = 10, 'a handler that raises: OnHandlerFailed, and the readings still come');
  Raised := False;
  try
    Meter.WaitReading(Reading, 1000);
  except
    on EOvrinError do Raised := True;
  end;
  Check(Raised, 'WaitReading after Close: EOvrinError');
  Check(TOvrinMeter.ErrorText(252) = 'Temperature too high', 'ErrorText');
  Meter.Free;
  DoneCriticalSection(Recorder.Lock);
  Recorder.Free;
  WriteLn('meter_test: ', Failures, ' failed');
  if Failures > 0 then Halt(1);
end.
