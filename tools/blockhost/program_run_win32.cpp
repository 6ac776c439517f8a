#include <windows.h>

#include <cstdio>

#include "program_run.h"
#include "system_error_win32.h"

namespace blockhost {

ProgramRun RunProgramEchoing(const std::string& program, const std::vector<std::string>& args) {
  ProgramRun run;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE read_end = nullptr, write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inherit, 0)) {
    run.why_not = SystemErrorText(GetLastError());
    return run;
  }
  // Only the child's end is inherited.
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  std::string command_line = QuotedForWindows(program);
  for (const std::string& arg : args) command_line += " " + QuotedForWindows(arg);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = write_end;
  startup.hStdError = write_end;
  PROCESS_INFORMATION process{};
  const BOOL created = CreateProcessA(program.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                                      0, nullptr, nullptr, &startup, &process);
  const DWORD create_error = GetLastError();
  CloseHandle(write_end);
  if (!created) {
    CloseHandle(read_end);
    run.why_not = SystemErrorText(create_error);
    return run;
  }
  run.started = true;
  char buffer[512];
  DWORD count = 0;
  while (ReadFile(read_end, buffer, sizeof buffer, &count, nullptr) && count > 0) {
    fwrite(buffer, 1, count, stderr);
    fflush(stderr);
    run.output.append(buffer, count);
  }
  CloseHandle(read_end);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exit_code = 0;
  GetExitCodeProcess(process.hProcess, &exit_code);
  run.exit_code = static_cast<int>(exit_code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return run;
}

}  // namespace blockhost
