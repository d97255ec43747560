{ Ovrin70 for Delphi (7 and later) and Free Pascal (-Mdelphi): the whole C
  interface of ovrin.h, and TOvrinMeter, a small class over it.

  Add this unit to the project; Ovrin70.dll (Windows) or libOvrin70.so
  (Linux) goes beside the program or on the library path.

  Calling convention: stdcall on 32-bit Windows, the platform's one
  convention elsewhere, as ovrin.h declares OVRIN_CALL. The record layouts are
  checked by size when the unit compiles.

  Threads: TOvrinMeter.OnReading runs on the connection's receive thread,
  never on the main thread. A VCL form hands the reading over with
  TThread.Queue (Delphi 2010 and later; Synchronize would wait for the main
  thread, which may itself be waiting in Close):

    procedure TForm1.MeterReading(Sender: TObject; const Reading: TOvrinReading);
    var
      Value: Integer;
    begin
      Value := Reading.record_.value1;   // copy what the main thread needs
      TThread.Queue(nil, procedure
        begin
          Label1.Caption := IntToStr(Value);
        end);
    end;

  Keep the handler short. It may call Measure; it must not call Open, Close or
  Free (ovrin_open and ovrin_close return 0 at once there, and the connection
  must not be destroyed from its own thread): queue them to the main thread. }
unit Ovrin70;

{$IFDEF FPC}
  {$MODE DELPHI}
  {$PACKRECORDS C}
{$ELSE}
  {$ALIGN 8}
{$ENDIF}
{$IFDEF MSWINDOWS}
  {$IFNDEF WIN64}
    {$DEFINE OVRIN_STDCALL}
  {$ENDIF}
{$ENDIF}

interface

uses
  {$IFDEF MSWINDOWS}Windows,{$ENDIF} SysUtils, Classes;

const
  {$IFDEF MSWINDOWS}
  OvrinLibrary = 'Ovrin70.dll';
  {$ELSE}
  OvrinLibrary = 'libOvrin70.so';
  {$ENDIF}

  OVRIN_MEASURE_READY = 1124;
  OVRIN_LINK_LOST = 1125;

  OVRIN_BUTTON_OK = 1;
  OVRIN_BUTTON_YES = 6;
  OVRIN_BUTTON_NO = 7;
  OVRIN_STYLE_OK = $00;
  OVRIN_STYLE_WARNING = $30;
  OVRIN_STYLE_YES_NO = $04;

  OVRIN_TRACE_CANDIDATE = 0;
  OVRIN_TRACE_CONNECTED = 1;
  OVRIN_TRACE_LINK_LOST = 2;
  OVRIN_TRACE_CLOSED = 3;
  OVRIN_TRACE_SENT = 4;
  OVRIN_TRACE_RECEIVED = 5;

  OVRIN_PORT_OPENED = 0;
  OVRIN_PORT_BUSY = 1;
  OVRIN_PORT_NO_PERMISSION = 2;
  OVRIN_PORT_NO_SUCH_DEVICE = 3;
  OVRIN_PORT_NOT_SERIAL = 4;
  OVRIN_PORT_NO_ANSWER = 5;
  OVRIN_PORT_WRONG_ANSWER = 6;
  OVRIN_PORT_ACCEPTED = 7;
  OVRIN_PORT_CANNOT_OPEN = 8;

  OVRIN_PORT_KIND_UNKNOWN = 0;
  OVRIN_PORT_KIND_BLUETOOTH_OUTGOING = 1;
  OVRIN_PORT_KIND_BLUETOOTH_INCOMING = 2;
  OVRIN_PORT_KIND_USB = 3;
  OVRIN_PORT_KIND_BUILT_IN = 4;
  OVRIN_PORT_KIND_VIRTUAL = 5;

type
  { size_t and the unsigned 64-bit integer, for compilers that lack the names
    (Delphi 7 has no UInt64 and no NativeUInt). }
  {$IFDEF FPC}
  TOvrinSize = SizeUInt;
  TOvrinUInt64 = QWord;
  {$ELSE}
    {$IF CompilerVersion >= 20}
  TOvrinSize = NativeUInt;
    {$ELSE}
  TOvrinSize = Cardinal;
    {$IFEND}
    {$IF CompilerVersion >= 18}
  TOvrinUInt64 = UInt64;
    {$ELSE}
  TOvrinUInt64 = Int64;
    {$IFEND}
  {$ENDIF}

  { One decoded reply line (16 bytes). kind: 0 "?" or unknown, 1 device error
    (value1 = code), 2..16 data, 6 a distance. }
  POvrinRecord = ^TOvrinRecord;
  TOvrinRecord = record
    kind: SmallInt;
    reserved1: SmallInt;
    auxDigit: SmallInt;    // kinds 6, 10, 11: the digit in column 5
    reserved2: SmallInt;
    value1: Integer;
    value2: Integer;       // kinds 3 and 4
  end;

  { One reply line as it was received (176 bytes on every platform). }
  POvrinReading = ^TOvrinReading;
  TOvrinReading = record
    record_: TOvrinRecord;
    sequence: TOvrinUInt64;  // 1 for the first line after ovrin_open, then +1 per line
    utcNs: Int64;            // nanoseconds since 1970-01-01 UTC
    monotonicNs: Int64;
    lineLength: Cardinal;    // bytes in line, without CR LF
    reserved: Cardinal;
    line: array[0..127] of AnsiChar;  // the bytes as received, then a NUL
  end;

  { One event of the trace. }
  POvrinTrace = ^TOvrinTrace;
  TOvrinTrace = record
    kind: Integer;         // OVRIN_TRACE_...
    outcome: Integer;      // OVRIN_TRACE_CANDIDATE: OVRIN_PORT_...
    port: PAnsiChar;
    bytes: PAnsiChar;      // not NUL-terminated
    size: TOvrinSize;
    monotonicNs: Int64;
    systemError: Integer;
  end;

  { What is known of a port; an unknown text is empty. }
  POvrinPortIdentity = ^TOvrinPortIdentity;
  TOvrinPortIdentity = record
    kind: Integer;         // OVRIN_PORT_KIND_...
    description: array[0..255] of AnsiChar;
    hardwareId: array[0..255] of AnsiChar;
    vid: array[0..7] of AnsiChar;
    pid: array[0..7] of AnsiChar;
    serialNumber: array[0..127] of AnsiChar;
    manufacturer: array[0..127] of AnsiChar;
    product: array[0..127] of AnsiChar;
    bluetoothAddress: array[0..23] of AnsiChar;
  end;

  { The layouts of ovrin.h, checked here: a wrong size is an empty range. }
  TOvrinRecordSizeCheck = array[0..Ord(SizeOf(TOvrinRecord) = 16) - 1] of Byte;
  TOvrinReadingSizeCheck = array[0..Ord(SizeOf(TOvrinReading) = 176) - 1] of Byte;
  TOvrinTraceSizeCheck = array[0..Ord(SizeOf(TOvrinTrace) = 40 + 8 * Ord(SizeOf(Pointer) = 8)) - 1] of Byte;
  TOvrinPortIdentitySizeCheck = array[0..Ord(SizeOf(TOvrinPortIdentity) = 940) - 1] of Byte;

  POvrinConnection = Pointer;
  {$IFDEF MSWINDOWS}
  TOvrinWindow = HWND;     // the window that receives the notifications
  {$ELSE}
  POvrinQueue = Pointer;   // a queue the host owns, standing in for a window
  TOvrinWindow = POvrinQueue;
  {$ENDIF}

  TOvrinReadingCallback = procedure(reading: POvrinReading; context: Pointer);
    {$IFDEF OVRIN_STDCALL}stdcall{$ELSE}cdecl{$ENDIF};
  TOvrinTraceCallback = procedure(trace: POvrinTrace; context: Pointer);
    {$IFDEF OVRIN_STDCALL}stdcall{$ELSE}cdecl{$ENDIF};
  TOvrinMessageBoxHandler = function(text: PAnsiChar; style: Cardinal; context: Pointer): Integer;
    {$IFDEF OVRIN_STDCALL}stdcall{$ELSE}cdecl{$ENDIF};

{$IFNDEF MSWINDOWS}
function ovrin_queue_create: POvrinQueue;
  cdecl; external OvrinLibrary;
procedure ovrin_queue_destroy(queue: POvrinQueue);
  cdecl; external OvrinLibrary;
function ovrin_queue_wait(queue: POvrinQueue; message: PCardinal; timeoutMs: Integer): Integer;
  cdecl; external OvrinLibrary;
function ovrin_queue_fd(queue: POvrinQueue): Integer;
  cdecl; external OvrinLibrary;
{$ENDIF}

function ovrin_create: POvrinConnection;
  {$IFDEF OVRIN_STDCALL}stdcall{$ELSE}cdecl{$ENDIF}; external OvrinLibrary;
procedure ovrin_destroy(connection: POvrinConnection);
  {$IFDEF OVRIN_STDCALL}stdcall{$ELSE}cdecl{$ENDIF}; external OvrinLibrary;
function ovrin_open(connection: POvrinConnection; port: PAnsiChar; portSize: TOvrinSize;
  window: TOvrinWindow): Integer;
  {$IFDEF OVRIN_STDCALL}stdcall{$ELSE}cdecl{$ENDIF}; external OvrinLibrary;
function ovrin_close(connection: POvrinConnection): Integer;
  {$IFDEF OVRIN_STDCALL}stdcall{$ELSE}cdecl{$ENDIF}; external OvrinLibrary;
function ovrin_measure(connection: POvrinConnection): Integer;
  {$IFDEF OVRIN_STDCALL}stdcall{$ELSE}cdecl{$ENDIF}; external OvrinLibrary;
procedure ovrin_set_listen(connection: POvrinConnection; listen: Integer);
  {$IFDEF OVRIN_STDCALL}stdcall{$ELSE}cdecl{$ENDIF}; external OvrinLibrary;
procedure ovrin_latest_record(connection: POvrinConnection; recordOut: POvrinRecord);
  {$IFDEF OVRIN_STDCALL}stdcall{$ELSE}cdecl{$ENDIF}; external OvrinLibrary;
function ovrin_next_reading(connection: POvrinConnection; reading: POvrinReading): Integer;
  {$IFDEF OVRIN_STDCALL}stdcall{$ELSE}cdecl{$ENDIF}; external OvrinLibrary;
function ovrin_wait_reading(connection: POvrinConnection; reading: POvrinReading; timeoutMs: Integer): Integer;
  {$IFDEF OVRIN_STDCALL}stdcall{$ELSE}cdecl{$ENDIF}; external OvrinLibrary;
function ovrin_dropped_readings(connection: POvrinConnection): TOvrinUInt64;
  {$IFDEF OVRIN_STDCALL}stdcall{$ELSE}cdecl{$ENDIF}; external OvrinLibrary;
function ovrin_set_reading_capacity(connection: POvrinConnection; capacity: TOvrinSize): Integer;
  {$IFDEF OVRIN_STDCALL}stdcall{$ELSE}cdecl{$ENDIF}; external OvrinLibrary;
procedure ovrin_notify_link_lost(connection: POvrinConnection; notify: Integer);
  {$IFDEF OVRIN_STDCALL}stdcall{$ELSE}cdecl{$ENDIF}; external OvrinLibrary;
procedure ovrin_set_reading_callback(connection: POvrinConnection; callback: TOvrinReadingCallback;
  context: Pointer);
  {$IFDEF OVRIN_STDCALL}stdcall{$ELSE}cdecl{$ENDIF}; external OvrinLibrary;
procedure ovrin_set_trace_callback(callback: TOvrinTraceCallback; context: Pointer);
  {$IFDEF OVRIN_STDCALL}stdcall{$ELSE}cdecl{$ENDIF}; external OvrinLibrary;
function ovrin_identify_port(port: PAnsiChar; identity: POvrinPortIdentity): Integer;
  {$IFDEF OVRIN_STDCALL}stdcall{$ELSE}cdecl{$ENDIF}; external OvrinLibrary;
function ovrin_outcome_text(outcome: Integer): PAnsiChar;
  {$IFDEF OVRIN_STDCALL}stdcall{$ELSE}cdecl{$ENDIF}; external OvrinLibrary;
procedure ovrin_error_text(code: Integer; buffer: PAnsiChar; bufferLength: Integer);
  {$IFDEF OVRIN_STDCALL}stdcall{$ELSE}cdecl{$ENDIF}; external OvrinLibrary;
procedure ovrin_set_message_box_handler(handler: TOvrinMessageBoxHandler; context: Pointer);
  {$IFDEF OVRIN_STDCALL}stdcall{$ELSE}cdecl{$ENDIF}; external OvrinLibrary;
function ovrin_set_remembered_port(port: PAnsiChar): Integer;
  {$IFDEF OVRIN_STDCALL}stdcall{$ELSE}cdecl{$ENDIF}; external OvrinLibrary;

type
  EOvrinError = class(Exception);

  { Raised on the receive thread for every reading, in order. }
  TOvrinReadingEvent = procedure(Sender: TObject; const Reading: TOvrinReading) of object;
  { Raised on the receive thread when an OnReading handler raised E; the
    exception goes no further (it would cross the library's own frames). }
  TOvrinHandlerFailedEvent = procedure(Sender: TObject; E: Exception; const Reading: TOvrinReading) of object;

  { One connection with one meter. Set OnReading before Open. }
  TOvrinMeter = class
  private
    FConnection: POvrinConnection;
    FPort: string;
    FOnReading: TOvrinReadingEvent;
    FOnHandlerFailed: TOvrinHandlerFailedEvent;
  public
    constructor Create;
    destructor Destroy; override;
    { Finds the meter and opens it; returns its port. EOvrinError when no meter is found. }
    function Open: string;
    { Closes the connection at once; a WaitReading on another thread ends.
      An OnReading under way on the receive thread is not waited for: it
      finishes on its own, and no other follows. Free waits for it. }
    procedure Close;
    { Sends the measure command; its answer comes as a reading. }
    procedure Measure;
    { Takes the oldest reading, waiting up to TimeoutMs (-1: no limit): True
      taken, False time-out. EOvrinError when none will come (the link is
      lost, or the connection is not open or was closed). }
    function WaitReading(out Reading: TOvrinReading; TimeoutMs: Integer): Boolean;
    { The English text of a device error code. }
    class function ErrorText(Code: Integer): string;
    property Port: string read FPort;
    property Connection: POvrinConnection read FConnection;
    property OnReading: TOvrinReadingEvent read FOnReading write FOnReading;
    property OnHandlerFailed: TOvrinHandlerFailedEvent read FOnHandlerFailed write FOnHandlerFailed;
  end;

{ The bytes of a reading's line as a string. }
function ReadingLine(const Reading: TOvrinReading): string;

implementation

procedure ReadingArrived(reading: POvrinReading; context: Pointer);
  {$IFDEF OVRIN_STDCALL}stdcall{$ELSE}cdecl{$ENDIF};
var
  Meter: TOvrinMeter;
begin
  Meter := TOvrinMeter(context);
  try
    if Assigned(Meter.FOnReading) then
      Meter.FOnReading(Meter, reading^);
  except
    on E: Exception do
      try
        if Assigned(Meter.FOnHandlerFailed) then
          Meter.FOnHandlerFailed(Meter, E, reading^);
      except
        // Dropped: nothing may cross into the library's receive thread.
      end;
  end;
end;

constructor TOvrinMeter.Create;
begin
  inherited Create;
  FConnection := ovrin_create;
  if FConnection = nil then
    raise EOvrinError.Create('out of memory');
  ovrin_set_reading_callback(FConnection, ReadingArrived, Self);
end;

destructor TOvrinMeter.Destroy;
begin
  ovrin_destroy(FConnection);  // closes first: no callback runs after this
  inherited Destroy;
end;

function TOvrinMeter.Open: string;
var
  Name: array[0..255] of AnsiChar;
begin
  if ovrin_open(FConnection, Name, SizeOf(Name), {$IFDEF MSWINDOWS}0{$ELSE}nil{$ENDIF}) <> 1 then
    raise EOvrinError.Create('no meter found');
  FPort := string(AnsiString(PAnsiChar(@Name[0])));
  Result := FPort;
end;

procedure TOvrinMeter.Close;
begin
  ovrin_close(FConnection);
end;

procedure TOvrinMeter.Measure;
begin
  if ovrin_measure(FConnection) <> 1 then
    raise EOvrinError.Create('the measure command was not sent');
end;

function TOvrinMeter.WaitReading(out Reading: TOvrinReading; TimeoutMs: Integer): Boolean;
begin
  case ovrin_wait_reading(FConnection, @Reading, TimeoutMs) of
    1: Result := True;
    0: Result := False;
  else
    raise EOvrinError.Create('the link to the meter was lost');
  end;
end;

class function TOvrinMeter.ErrorText(Code: Integer): string;
var
  Text: array[0..63] of AnsiChar;
begin
  ovrin_error_text(Code, Text, SizeOf(Text));
  Result := string(AnsiString(PAnsiChar(@Text[0])));
end;

function ReadingLine(const Reading: TOvrinReading): string;
var
  Bytes: AnsiString;
begin
  SetString(Bytes, PAnsiChar(@Reading.line[0]), Reading.lineLength);
  Result := string(Bytes);
end;

initialization
  // The callbacks come on threads the library starts: the memory manager
  // must lock even when the program starts no TThread of its own.
  IsMultiThread := True;
end.
