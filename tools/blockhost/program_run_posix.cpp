#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "program_run.h"

namespace blockhost {

ProgramRun RunProgramEchoing(const std::string& program, const std::vector<std::string>& args) {
  ProgramRun run;
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) {
    run.why_not = std::strerror(errno);
    return run;
  }
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  // A program that cannot be executed says so through a second pipe that
  // closes on a successful exec.
  int exec_report[2];
  if (pipe2(exec_report, O_CLOEXEC) != 0) {
    run.why_not = std::strerror(errno);
    close(pipe_ends[0]);
    close(pipe_ends[1]);
    return run;
  }
  fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    close(pipe_ends[0]);
    close(exec_report[0]);
    dup2(pipe_ends[1], STDOUT_FILENO);
    dup2(pipe_ends[1], STDERR_FILENO);
    close(pipe_ends[1]);
    execv(program.c_str(), argv.data());
    const int error = errno;
    (void)!write(exec_report[1], &error, sizeof error);
    _exit(127);
  }
  close(pipe_ends[1]);
  close(exec_report[1]);
  if (child < 0) {
    run.why_not = std::strerror(errno);
    close(pipe_ends[0]);
    close(exec_report[0]);
    return run;
  }
  char buffer[512];
  ssize_t count;
  while ((count = read(pipe_ends[0], buffer, sizeof buffer)) != 0) {
    if (count < 0) {
      if (errno == EINTR) continue;
      break;
    }
    fwrite(buffer, 1, static_cast<size_t>(count), stderr);
    fflush(stderr);
    run.output.append(buffer, static_cast<size_t>(count));
  }
  close(pipe_ends[0]);
  int exec_error = 0;
  const bool exec_failed =
      read(exec_report[0], &exec_error, sizeof exec_error) == sizeof exec_error;
  close(exec_report[0]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (exec_failed) {
    run.why_not = std::strerror(exec_error);
    return run;
  }
  run.started = true;
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

}  // namespace blockhost
