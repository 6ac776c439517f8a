#include "terminal_input.h"

#include <cstdint>
#include <optional>

namespace avrboard {

TerminalInput TakeInput(Terminal* terminal) {
  TerminalInput input;
  terminal->Read(&input.bytes);
  // A program sets its speed before it writes, and the kernel reports its
  // open before the open returns, so both are in place by now for every
  // byte just read.  Looked at before the read, they could be older than
  // the bytes: a new pseudo-terminal's 38400 baud, or nobody at the port.
  input.opened = terminal->Opened();
  input.baud = terminal->Baud();
  return input;
}

double PtyTerminal::Baud() {
  // The block sets its speed on the slave; the pair shares one set of line
  // settings, so it is read on the master, and avrboard never opens the
  // slave (see line_watch.h).
  if (!line_->InUse()) return 0;
  const std::optional<int32_t> baud = pty_->LineBaudRate();
  return baud ? *baud : 0;
}

}  // namespace avrboard
