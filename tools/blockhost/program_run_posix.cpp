#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "program_run.h"

namespace blockhost {
namespace {

// Both ends of a pipe, closed with the object unless handed on.
struct Pipe {
  int read_end = -1, write_end = -1;
  bool Open(int flags) {
    int ends[2];
    if (pipe2(ends, flags) != 0) return false;
    read_end = ends[0];
    write_end = ends[1];
    return true;
  }
  static void Close(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
  ~Pipe() {
    Close(read_end);
    Close(write_end);
  }
};

// In the child: the program with its output and errors on `output`; a
// program that cannot be executed sends its errno down `exec_report`,
// which otherwise closes on the exec.
[[noreturn]] void ExecInChild(const std::string& program, const std::vector<std::string>& args,
                              Pipe& output, Pipe& exec_report) {
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  Pipe::Close(output.read_end);
  Pipe::Close(exec_report.read_end);
  dup2(output.write_end, STDOUT_FILENO);
  dup2(output.write_end, STDERR_FILENO);
  Pipe::Close(output.write_end);
  execv(program.c_str(), argv.data());
  const int error = errno;
  (void)!write(exec_report.write_end, &error, sizeof error);
  _exit(127);
}

// Echoes what comes down `fd` to stderr as it comes, and keeps a copy,
// until the last writer closes it.
void EchoUntilClosed(int fd, std::string* copy) {
  char buffer[512];
  ssize_t count;
  while ((count = read(fd, buffer, sizeof buffer)) != 0) {
    if (count < 0) {
      if (errno == EINTR) continue;
      break;
    }
    fwrite(buffer, 1, static_cast<size_t>(count), stderr);
    fflush(stderr);
    copy->append(buffer, static_cast<size_t>(count));
  }
}

int WaitForExit(pid_t child) {
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

ProgramRun RunProgramEchoing(const std::string& program, const std::vector<std::string>& args) {
  ProgramRun run;
  Pipe output, exec_report;
  if (!output.Open(0) || !exec_report.Open(O_CLOEXEC)) {
    run.why_not = std::strerror(errno);
    return run;
  }
  fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) ExecInChild(program, args, output, exec_report);
  if (child < 0) {
    run.why_not = std::strerror(errno);
    return run;
  }
  // Only the child writes now, so each read end sees its end of file when
  // the child has gone (or, for the report, has executed the program).
  Pipe::Close(output.write_end);
  Pipe::Close(exec_report.write_end);
  EchoUntilClosed(output.read_end, &run.output);
  int exec_error = 0;
  const bool exec_failed =
      read(exec_report.read_end, &exec_error, sizeof exec_error) == sizeof exec_error;
  const int exit_code = WaitForExit(child);
  if (exec_failed) {
    run.why_not = std::strerror(exec_error);
    return run;
  }
  run.started = true;
  run.exit_code = exit_code;
  return run;
}

}  // namespace blockhost
