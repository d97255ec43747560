{ Finds the meter, measures once and prints the distance.
  Build: fpc -Mdelphi -Fu.. OvrinExample.dpr, or add ..\Ovrin70.pas to a Delphi project. }
program OvrinExample;

{$APPTYPE CONSOLE}

uses
  {$IFDEF FPC}{$IFDEF UNIX}cthreads,{$ENDIF}{$ENDIF}
  SysUtils, Ovrin70;

var
  Meter: TOvrinMeter;
  Reading: TOvrinReading;
begin
  Meter := TOvrinMeter.Create;
  try
    WriteLn('meter on ', Meter.Open);
    Meter.Measure;
    // The start-up answer comes first: wait for the distance (kind 6) or an error.
    repeat
      if not Meter.WaitReading(Reading, 5000) then
        raise EOvrinError.Create('no reply in time');
    until Reading.record_.kind in [1, 6];
    if Reading.record_.kind = 1 then
      WriteLn('error ', Reading.record_.value1, ': ', TOvrinMeter.ErrorText(Reading.record_.value1))
    else
      WriteLn('distance ', Reading.record_.value1, ' (', ReadingLine(Reading), ')');
    Meter.Close;
  finally
    Meter.Free;
  end;
end.
