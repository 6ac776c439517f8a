// The terminal's speed against the firmware's UART0.  While the two rates
// disagree, bytes cross as a wire at those rates would carry them
// (serial_wire.h); avrboard says once which rate the firmware set, and once
// for each terminal speed that does not match it when bytes first cross at
// it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "serial_wire.h"

namespace avrboard {

class LineSpeeds {
 public:
  // Messages go to `messages`, stderr unless a test reads them.
  explicit LineSpeeds(std::FILE* messages = stderr) : messages_(messages) {}

  // Takes in both rates: the firmware's UART0 as it is programmed, 0 while
  // it is off, and the terminal's, 0 when it is unknown or nobody has the
  // port open.
  void Update(double firmware_baud, double terminal_baud);
  // While quiet, a rate the chip sets is taken in but not told: a chip that
  // runs a blank flash sets whatever its stray instructions write.
  void set_quiet(bool quiet) { quiet_ = quiet; }

  // Whether the two ends disagree.  A UART never yet set up takes bytes as
  // simavr hands them; a speed avrboard does not know counts as agreeing.
  bool garbled() const;

  // What the firmware reads of bytes the block wrote.
  std::string ToFirmware(const std::string& bytes);

  // Takes bytes the firmware sent at `cycles`, and gives what the block
  // reads of them.  While the line garbles, bytes are held until the line
  // has been idle for longer than a frame at either rate, so that a reply's
  // frames are read as the one stream they are on the wire.
  std::string FromFirmware(const std::string& bytes, const std::vector<uint64_t>& cycles,
                           uint64_t now_cycle);

 private:
  void ReportMismatch(double terminal_baud);

  std::FILE* messages_;
  double uart_baud_ = 0;
  double terminal_baud_ = 0;
  double reported_uart_baud_ = 0;
  double reported_terminal_baud_ = 0;
  bool quiet_ = false;
  std::vector<boardsim::SentFrame> held_;
};

}  // namespace avrboard
