// Child processes for the end-to-end tests: boardsim running beside a test,
// and blockhost run to completion with its output captured.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

// Generous, because the test machines are shared and noisy.
constexpr std::chrono::milliseconds kStartTimeout{10'000};
constexpr std::chrono::milliseconds kRunTimeout{120'000};

// A program running in the background until the object goes away.
class BackgroundProcess {
 public:
  // Starts `args` and waits for the first line it writes on stderr; returns
  // nothing when it exits or stays silent, with *error saying what happened.
  static std::optional<BackgroundProcess> Start(const std::vector<std::string>& args,
                                                std::string* error);
  BackgroundProcess(BackgroundProcess&& other) noexcept;
  BackgroundProcess& operator=(BackgroundProcess&&) = delete;
  ~BackgroundProcess();  // SIGTERM, then waits

  const std::string& first_line() const { return first_line_; }

 private:
  BackgroundProcess(pid_t pid, int stderr_fd) : pid_(pid), stderr_fd_(stderr_fd) {}

  pid_t pid_;
  int stderr_fd_;
  std::string first_line_;
};

struct ProgramResult {
  int exit_code = -1;  // -1 when it did not exit normally in time
  std::string out;
  std::string err;
};

// Runs `args` to completion with `environment` (NAME=VALUE) added.
ProgramResult RunProgram(const std::vector<std::string>& args,
                         const std::vector<std::string>& environment = {});

// A private scratch directory, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
std::vector<std::string> ReadLines(const std::string& path);

}  // namespace e2e
