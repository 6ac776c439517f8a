// Another program with a serial port open the way a serial monitor, screen
// or cat has it: no flock, no TIOCEXCL, no lock file.  It is cat itself, the
// port on its standard input, until the object goes.  POSIX only.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>

namespace harness {

class UnlockedPortUser {
 public:
  explicit UnlockedPortUser(const std::string& path) {
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
      if (fd < 0 || dup2(fd, STDIN_FILENO) < 0) _exit(127);
      // A port left with VMIN 0 by an earlier user would read as end of
      // file at once and end cat; it has to wait for bytes instead.
      termios settings{};
      if (tcgetattr(STDIN_FILENO, &settings) == 0) {
        settings.c_cc[VMIN] = 1;
        (void)tcsetattr(STDIN_FILENO, TCSANOW, &settings);
      }
      const int null = open("/dev/null", O_WRONLY);
      if (null >= 0) dup2(null, STDOUT_FILENO);
      execlp("cat", "cat", static_cast<char*>(nullptr));
      _exit(127);
    }
    // The port is open before the exec, and the name changes with it.
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Program() != "cat") {
      if (std::chrono::steady_clock::now() > give_up || waitpid(pid_, nullptr, WNOHANG) != 0) {
        Stop();
        throw std::runtime_error("cat did not start on " + path);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  ~UnlockedPortUser() { Stop(); }
  UnlockedPortUser(const UnlockedPortUser&) = delete;
  UnlockedPortUser& operator=(const UnlockedPortUser&) = delete;

  pid_t pid() const { return pid_; }

  // Ends cat and waits for it, so the port is free again.
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  std::string Program() const {
    std::ifstream comm("/proc/" + std::to_string(pid_) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
  }

  pid_t pid_ = -1;
};

}  // namespace harness
