// What avrboard takes from the terminal in one look: the bytes a program
// wrote to the board's port, whether a program opened the port, and the
// speed the line was set to.  A real board's USB bridge takes the speed
// from the host's request before any byte at it, so each byte is read at
// the speed in force when it was written; a program may set its speed and
// write at once, before avrboard looks again.  Hence the order of one look:
// the bytes first, then the opens and the speed, which are then at least as
// new as the bytes' writing.
#pragma once

#include <string>

#include "line_watch.h"
#include "pty_link.h"

namespace avrboard {

struct TerminalInput {
  std::string bytes;
  // Some program opened the port since the last look, at the latest before
  // it wrote `bytes`: an Uno resets, and the bytes reach the reset board.
  bool opened = false;
  // The terminal's speed, 0 when avrboard does not know it or nobody has
  // the port open.
  double baud = 0;
};

// The three things a look reads, as one seam: the pseudo-terminal and its
// watch in avrboard, and a test's stand-in that acts as the program at the
// port between them.
class Terminal {
 public:
  virtual ~Terminal() = default;
  // Appends what the program wrote since the last call, without blocking.
  virtual void Read(std::string* bytes) = 0;
  // True when some program opened the port since the last call.
  virtual bool Opened() = 0;
  // The speed the program set, 0 when unknown or nobody has the port open.
  virtual double Baud() = 0;
};

TerminalInput TakeInput(Terminal* terminal);

// The pseudo-terminal avrboard serves and the watch on its opens, neither
// owned.
class PtyTerminal : public Terminal {
 public:
  PtyTerminal(boardsim::PtyLink* pty, LineWatch* line) : pty_(pty), line_(line) {}
  void Read(std::string* bytes) override { pty_->Read(bytes); }
  bool Opened() override { return line_->Update(); }
  double Baud() override;

 private:
  boardsim::PtyLink* pty_;
  LineWatch* line_;
};

}  // namespace avrboard
