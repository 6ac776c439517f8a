{ A host written in Object Pascal, as the block's real hosts may be: it loads
  ArduinoBlock.dll, declares the exports as a Pascal program declares them
  (stdcall, the leading argument of SimulateDLL as an Extended, the records
  as var parameters), and runs a block against the board on loopback UDP
  whose port it is given:

    pascal_host.exe PORT

  It runs under the control word Object Pascal programs start with, $1332,
  which unmasks invalid operation, zero divide and overflow.  Around every
  call it checks that ESP, EBP, EBX, ESI and EDI, the x87 control, status and
  tag words and MXCSR come back as they were; an error of the block is caught
  with try..except, and the run goes on.  Every check that fails prints a
  line starting "FAIL"; the exit code is the number of them.  What the board
  received is for the caller to check. }
program pascal_host;

{$mode objfpc}{$H+}
{$asmmode intel}
{ The register checks below rely on no optimisation: between Snap and Verify
  the compiler only pushes the arguments and calls, with EAX, ECX and EDX. }
{$optimization off}

uses
  Windows, SysUtils;

type
  TBlockRecord = packed array[0..8191] of Byte;
  TValueArray = packed array[0..13] of Extended;
  TIODescription = packed array[0..4101] of Byte;
  TParameterRecord = packed array[0..1023] of Byte;

  TIsUserDLL32 = procedure; stdcall;
  TGetDLLName = function: PChar; stdcall;
  TBlockProc = procedure(var Block: TBlockRecord); stdcall;
  TGetNumberOfInputsOutputs = procedure(var Description: TIODescription); stdcall;
  TGetParameterStruct = procedure(var Parameters: TParameterRecord); stdcall;
  TGetDialogEnableStruct = procedure(var Enable: TParameterRecord; Unused: LongInt); stdcall;
  TGetChars = function: PChar; stdcall;
  TCanSimulateDLL = function(var Block: TBlockRecord): LongInt; stdcall;
  TInitSimulationDLL = procedure(var Block: TBlockRecord;
    var Inputs, Outputs: TValueArray); stdcall;
  TSimulateDLL = procedure(Lead: Extended; var Block: TBlockRecord;
    var Inputs, Outputs: TValueArray); stdcall;
  TFileProc = procedure(Handle: LongWord; var Block: TBlockRecord); stdcall;

  TExtendedBits = packed record
    Mantissa: QWord;
    SignAndExponent: Word;
  end;

const
  PascalControlWord = $1332;
  { The same masks with 53-bit precision, as many Windows hosts set it. }
  DoublePrecisionControlWord = $1232;
  SentinelEbx = $0EB0EB0E;
  SentinelEsi = $05105105;
  SentinelEdi = $0ED10ED1;

var
  IsUserDLL32: TIsUserDLL32;
  GetDLLName: TGetDLLName;
  InitUserDLL, DisposeUserDLL, EndSimulationDLL2: TBlockProc;
  GetNumberOfInputsOutputs: TGetNumberOfInputsOutputs;
  GetParameterStruct: TGetParameterStruct;
  GetDialogEnableStruct: TGetDialogEnableStruct;
  SetInputChar, SetOutputChar: TGetChars;
  CanSimulateDLL: TCanSimulateDLL;
  InitSimulationDLL: TInitSimulationDLL;
  SimulateDLL: TSimulateDLL;
  WriteToFile, ReadFromFile: TFileProc;

  Failures: LongInt = 0;

  { What Snap saw before a call and Verify after it. }
  OrigEbx, OrigEsi, OrigEdi: LongWord;
  SnapEsp, SnapEbp, SeenEsp, SeenEbp, SeenEbx, SeenEsi, SeenEdi: LongWord;
  EnvBefore, EnvAfter: packed array[0..6] of LongWord;
  MxcsrBefore, MxcsrAfter: LongWord;

procedure Fail(const Text: string);
begin
  WriteLn('FAIL ', Text);
  Inc(Failures);
end;

{ Notes the registers, the x87 environment and MXCSR, and puts markers into
  EBX, ESI and EDI, which the callee must preserve. }
procedure Snap; assembler; nostackframe;
asm
  mov OrigEbx, ebx
  mov OrigEsi, esi
  mov OrigEdi, edi
  lea eax, [esp + 4]
  mov SnapEsp, eax
  mov SnapEbp, ebp
  lea eax, EnvBefore
  fnstenv [eax]
  fldenv [eax]
  cmp has_sse_support, 0
  je @nosse
  lea eax, MxcsrBefore
  stmxcsr [eax]
@nosse:
  mov ebx, SentinelEbx
  mov esi, SentinelEsi
  mov edi, SentinelEdi
end;

{ Notes what came back, then gives EBX, ESI and EDI their values again. }
procedure Verify; assembler; nostackframe;
asm
  mov SeenEbx, ebx
  mov SeenEsi, esi
  mov SeenEdi, edi
  lea eax, [esp + 4]
  mov SeenEsp, eax
  mov SeenEbp, ebp
  lea eax, EnvAfter
  fnstenv [eax]
  fldenv [eax]
  cmp has_sse_support, 0
  je @nosse
  lea eax, MxcsrAfter
  stmxcsr [eax]
@nosse:
  mov ebx, OrigEbx
  mov esi, OrigEsi
  mov edi, OrigEdi
end;

{ After an error the call never reached Verify. }
procedure RestoreRegisters; assembler; nostackframe;
asm
  mov ebx, OrigEbx
  mov esi, OrigEsi
  mov edi, OrigEdi
end;

function StatusWord: Word; assembler; nostackframe;
asm
  fnstsw ax
end;

procedure Compare(const Call, What: string; Before, After: LongWord);
begin
  if Before <> After then
    Fail(Format('%s: %s was %.8x before the call and %.8x after it', [Call, What, Before, After]));
end;

procedure CheckCall(const Call: string);
begin
  Compare(Call, 'ESP', SnapEsp, SeenEsp);
  Compare(Call, 'EBP', SnapEbp, SeenEbp);
  Compare(Call, 'EBX', SentinelEbx, SeenEbx);
  Compare(Call, 'ESI', SentinelEsi, SeenEsi);
  Compare(Call, 'EDI', SentinelEdi, SeenEdi);
  Compare(Call, 'the x87 control word', EnvBefore[0] and $FFFF, EnvAfter[0] and $FFFF);
  Compare(Call, 'the x87 status word', EnvBefore[1] and $FFFF, EnvAfter[1] and $FFFF);
  { An empty register stack is all ones; a value left on it would be found
    by the host's next push. }
  Compare(Call, 'the x87 tag word', $FFFF, EnvAfter[2] and $FFFF);
  if has_sse_support then
    Compare(Call, 'MXCSR', MxcsrBefore, MxcsrAfter);
end;

{ What the host sees of an error, and the state it finds in its handler. }
procedure CheckError(const Call: string; E: Exception; const Expected: string);
var
  Seen: string;
begin
  RestoreRegisters;
  Seen := E.ClassName + ': ' + E.Message;
  WriteLn(Call, ' raised ', Seen);
  if Seen <> Expected then
    Fail(Format('%s raised "%s", expected "%s"', [Call, Seen, Expected]));
  Compare(Call + ' (error path)', 'the x87 control word', EnvBefore[0] and $FFFF, Get8087CW);
  Compare(Call + ' (error path)', 'the x87 status word', EnvBefore[1] and $FFFF, StatusWord);
end;

const
  BlockError = 'EExternalException: External exception E0417244';

var
  Library_: HMODULE;
  Block: TBlockRecord;
  Description: TIODescription;
  Parameters: TParameterRecord;
  Inputs, Outputs: TValueArray;
  Port: string;
  Answer: LongInt;
  Name: PChar;

function Export(const Name: string): Pointer;
begin
  Result := GetProcAddress(Library_, PChar(Name));
  if Result = nil then
  begin
    WriteLn('FAIL ArduinoBlock.dll does not export ', Name);
    Halt(100);
  end;
end;

procedure LoadExports;
begin
  Library_ := LoadLibrary('ArduinoBlock.dll');
  if Library_ = 0 then
  begin
    WriteLn('FAIL ArduinoBlock.dll does not load: error ', GetLastError);
    Halt(100);
  end;
  Pointer(IsUserDLL32) := Export('IsUserDLL32');
  Pointer(GetDLLName) := Export('GetDLLName');
  Pointer(InitUserDLL) := Export('InitUserDLL');
  Pointer(DisposeUserDLL) := Export('DisposeUserDLL');
  Pointer(GetNumberOfInputsOutputs) := Export('GetNumberOfInputsOutputs');
  Pointer(GetParameterStruct) := Export('GetParameterStruct');
  Pointer(GetDialogEnableStruct) := Export('GetDialogEnableStruct');
  Pointer(SetInputChar) := Export('SetInputChar');
  Pointer(SetOutputChar) := Export('SetOutputChar');
  Pointer(CanSimulateDLL) := Export('CanSimulateDLL');
  Pointer(InitSimulationDLL) := Export('InitSimulationDLL');
  Pointer(SimulateDLL) := Export('SimulateDLL');
  Pointer(EndSimulationDLL2) := Export('EndSimulationDLL2');
  Pointer(WriteToFile) := Export('WriteToFile');
  Pointer(ReadFromFile) := Export('ReadFromFile');
end;

{ The mantissa in two halves: a 64-bit literal with the top bit set would be
  a negative Int64 to the compiler. }
function Bits(MantissaHigh, MantissaLow: LongWord; SignAndExponent: Word): Extended;
var
  Parts: TExtendedBits absolute Result;
begin
  Parts.Mantissa := QWord(MantissaHigh) shl 32 or MantissaLow;
  Parts.SignAndExponent := SignAndExponent;
end;

procedure FillInputs(Value: Extended);
var
  I: Integer;
begin
  for I := 0 to High(Inputs) do
    Inputs[I] := Value;
end;

{ The settings block as the project file holds it, every line ended by
  CR LF: Ethernet to the board; pins 2 to 9 as digital output, PWM, digital
  input, digital output, PWM, unused, digital input, PWM; only A0 used. }
function SettingsText: string;
const
  Lines: array[0..18] of string = ('0', '1', '9600', '127.0.0.1', '',
    '2', '3', '1', '2', '3', '0', '1', '3', '1', '0', '0', '0', '0', '0');
var
  I: Integer;
begin
  Result := '';
  for I := 0 to High(Lines) do
    if I = 4 then
      Result := Result + Port + #13#10
    else
      Result := Result + Lines[I] + #13#10;
end;

function ReadWholeFile(const Path: string): string;
var
  Handle: HFILE;
  Buffer: array[0..4095] of Char;
  Count: UINT;
begin
  Result := '';
  Handle := _lopen(PChar(Path), OF_READ);
  if Handle = HFILE_ERROR then
  begin
    Fail('_lopen cannot open ' + Path);
    Exit;
  end;
  repeat
    Count := _lread(Handle, @Buffer, SizeOf(Buffer));
    if (Count > 0) and (Count <> UINT(HFILE_ERROR)) then
      Result := Result + Copy(Buffer, 1, Count);
  until (Count = 0) or (Count = UINT(HFILE_ERROR));
  _lclose(Handle);
end;

procedure SettingsThroughTheProjectFile;
var
  Handle: HFILE;
  Text, Stored, Path: string;
begin
  Path := 'pascal_host_project.tmp';
  Text := 'header line' + #13#10 + SettingsText + 'after the block' + #13#10;
  Handle := _lcreat(PChar(Path), 0);
  _lwrite(Handle, PChar(Text), Length(Text));
  _lclose(Handle);

  { The host's file is positioned at the block; the block reads to its end. }
  Handle := _lopen(PChar(Path), OF_READ);
  _llseek(Handle, Length('header line' + #13#10), 0);
  Snap;
  ReadFromFile(Handle, Block);
  Verify;
  CheckCall('ReadFromFile');
  if _llseek(Handle, 0, 1) <> Length('header line' + #13#10 + SettingsText) then
    Fail('ReadFromFile did not stop at the end of the block');
  _lclose(Handle);

  Handle := _lcreat(PChar(Path), 0);
  Snap;
  WriteToFile(Handle, Block);
  Verify;
  CheckCall('WriteToFile');
  _lclose(Handle);
  Stored := ReadWholeFile(Path);
  if Stored <> SettingsText then
    Fail('WriteToFile stored "' + Stored + '" instead of the block read');
  DeleteFile(Path);
end;

procedure Step(const Name: string);
begin
  try
    Snap;
    SimulateDLL(0.0, Block, Inputs, Outputs);
    Verify;
    CheckCall('SimulateDLL with ' + Name);
  except
    on E: Exception do
    begin
      RestoreRegisters;
      Fail('SimulateDLL with ' + Name + ' raised ' + E.ClassName + ': ' + E.Message);
    end;
  end;
end;

{ A step whose reply on A0 the block cannot convert. }
procedure FailingStep(const Name: string);
begin
  try
    Snap;
    SimulateDLL(0.0, Block, Inputs, Outputs);
    Verify;
    Fail('SimulateDLL with ' + Name + ' raised nothing');
  except
    on E: Exception do
      CheckError('SimulateDLL with ' + Name, E, BlockError);
  end;
end;

procedure CheckPwmWrittenBack(const Name: string);
const
  PwmInputs: array[0..2] of Integer = (1, 4, 7);
var
  I: Integer;
begin
  for I in PwmInputs do
    if not ((Inputs[I] >= 0) and (Inputs[I] <= 1023)) then
      Fail(Format('SimulateDLL with %s left PWM input %d outside 0..1023', [Name, I]));
end;

procedure CheckA0(const Name: string; Expected: Extended);
begin
  if Outputs[8] <> Expected then
    Fail(Format('%s: A0 reads %g instead of %g', [Name, Outputs[8], Expected]));
end;

procedure SpecialInputs;
const
  Names: array[0..8] of string = ('a quiet NaN', 'a negative quiet NaN', 'a signalling NaN',
    '+Inf', '-Inf', '1e4000', '-1e4000', 'a denormal', '-0');
var
  Values: array[0..8] of Extended;
  I: Integer;
begin
  Values[0] := Bits($C0000000, 0, $7FFF);
  Values[1] := Bits($C0000000, 0, $FFFF);
  Values[2] := Bits($A0000000, 0, $7FFF);
  Values[3] := Bits($80000000, 0, $7FFF);
  Values[4] := Bits($80000000, 0, $FFFF);
  Values[5] := 1e4000;
  Values[6] := -1e4000;
  Values[7] := Bits(0, 1, 0);
  Values[8] := Bits(0, 0, $8000);
  for I := 0 to High(Values) do
  begin
    FillInputs(Values[I]);
    Step(Names[I]);
    CheckPwmWrittenBack(Names[I]);
    CheckA0(Names[I], 512);
  end;
end;

procedure RepliesOutOfRange;
begin
  FillInputs(0);
  FailingStep('the reply 1e5000');
  Step('the reply 1e-5000');
  CheckA0('the reply 1e-5000', 0);
  FailingStep('the reply 1,5');
  Step('a good reply after the errors');
  CheckA0('a good reply after the errors', 512);
end;

{ 510.5 + 2^-54 rounds up to 511 with all 64 bits; at the host's 53-bit
  precision its fraction would round to the tie, and to the even 510. }
procedure HostWithLowerPrecision;
var
  Tiny: Extended;
  I: Integer;
begin
  Tiny := 1;
  for I := 1 to 54 do
    Tiny := Tiny / 2;
  FillInputs(0);
  Inputs[1] := 510.5 + Tiny;
  Set8087CW(DoublePrecisionControlWord);
  Step('510.5 + 2^-54 at 53-bit precision');
  Set8087CW(PascalControlWord);
end;

begin
  Set8087CW(PascalControlWord);
  if ParamCount < 1 then
  begin
    WriteLn('usage: pascal_host.exe PORT');
    Halt(100);
  end;
  Port := ParamStr(1);
  LoadExports;

  Snap;
  IsUserDLL32();
  Verify;
  CheckCall('IsUserDLL32');
  Snap;
  Name := GetDLLName();
  Verify;
  CheckCall('GetDLLName');
  if Name <> 'Arduino' then
    Fail('GetDLLName gave ' + Name);
  Snap;
  GetNumberOfInputsOutputs(Description);
  Verify;
  CheckCall('GetNumberOfInputsOutputs');
  if (Description[0] <> 8) or (Description[1] <> 14) then
    Fail('GetNumberOfInputsOutputs gave the wrong counts');
  Snap;
  GetParameterStruct(Parameters);
  Verify;
  CheckCall('GetParameterStruct');
  Snap;
  GetDialogEnableStruct(Parameters, 0);
  Verify;
  CheckCall('GetDialogEnableStruct');
  Snap;
  Name := SetInputChar();
  Verify;
  CheckCall('SetInputChar');
  Snap;
  Name := SetOutputChar();
  Verify;
  CheckCall('SetOutputChar');

  FillChar(Block, SizeOf(Block), 0);
  Snap;
  InitUserDLL(Block);
  Verify;
  CheckCall('InitUserDLL');
  SettingsThroughTheProjectFile;
  Snap;
  Answer := CanSimulateDLL(Block);
  Verify;
  CheckCall('CanSimulateDLL');
  if Answer <> 1 then
    Fail(Format('CanSimulateDLL gave %d', [Answer]));

  FillInputs(0);
  FillChar(Outputs, SizeOf(Outputs), 0);
  Snap;
  InitSimulationDLL(Block, Inputs, Outputs);
  Verify;
  CheckCall('InitSimulationDLL');
  CheckA0('InitSimulationDLL', 512);
  SpecialInputs;
  RepliesOutOfRange;
  HostWithLowerPrecision;
  Snap;
  EndSimulationDLL2(Block);
  Verify;
  CheckCall('EndSimulationDLL2');
  Snap;
  DisposeUserDLL(Block);
  Verify;
  CheckCall('DisposeUserDLL');

  { The record now belongs to no block: the error path of another export. }
  try
    Snap;
    WriteToFile(0, Block);
    Verify;
    Fail('WriteToFile on a disposed block raised nothing');
  except
    on E: Exception do
      CheckError('WriteToFile on a disposed block', E, BlockError);
  end;

  WriteLn(Failures, ' failure(s)');
  Halt(Failures);
end.
