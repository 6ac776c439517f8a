#include "line_speeds.h"

#include "board_layout.h"

namespace avrboard {

void LineSpeeds::Update(double firmware_baud, double terminal_baud) {
  // Between a reset and the firmware's Serial.begin the UART is off; the
  // image sets the same rate again, so the last one still decides what
  // becomes of bytes that arrive meanwhile.
  if (firmware_baud > 0) uart_baud_ = firmware_baud;
  if (uart_baud_ > 0 && uart_baud_ != reported_uart_baud_) {
    if (!quiet_)
      std::fprintf(messages_, "avrboard: the firmware set UART0 to %.0f baud\n", uart_baud_);
    reported_uart_baud_ = uart_baud_;
    reported_terminal_baud_ = 0;
  }
  terminal_baud_ = terminal_baud;
}

bool LineSpeeds::garbled() const {
  return uart_baud_ > 0 && terminal_baud_ > 0 && !boardsim::RatesAgree(terminal_baud_, uart_baud_);
}

std::string LineSpeeds::ToFirmware(const std::string& bytes) {
  if (!garbled() || bytes.empty()) return bytes;
  ReportMismatch(terminal_baud_);
  return boardsim::AsFirmwareReads(boardsim::ReceiveBurst(bytes, terminal_baud_, uart_baud_));
}

std::string LineSpeeds::FromFirmware(const std::string& bytes, const std::vector<uint64_t>& cycles,
                                     uint64_t now_cycle) {
  if (!garbled() && held_.empty()) return bytes;
  for (size_t i = 0; i < bytes.size(); ++i) {
    held_.push_back({static_cast<uint8_t>(bytes[i]), static_cast<double>(cycles[i]) / kClockHz});
  }
  if (held_.empty()) return "";
  const double now_s = static_cast<double>(now_cycle) / kClockHz;
  const double send_baud = uart_baud_ > 0 ? uart_baud_ : 9600;
  const double read_baud = terminal_baud_ > 0 ? terminal_baud_ : send_baud;
  if (now_s < held_.back().start_s + 12 / send_baud + 12 / read_baud) return "";
  std::string read;
  if (boardsim::RatesAgree(send_baud, read_baud)) {
    for (const boardsim::SentFrame& frame : held_) read += static_cast<char>(frame.byte);
  } else {
    ReportMismatch(read_baud);
    read = boardsim::AsTerminalReads(boardsim::ReceiveFrames(held_, send_baud, read_baud));
  }
  held_.clear();
  return read;
}

// Said once per terminal speed, when bytes first cross at it: a program
// that opens the port and only then sets its speed is not reported for the
// moment in between.
void LineSpeeds::ReportMismatch(double terminal_baud) {
  if (terminal_baud == reported_terminal_baud_) return;
  std::fprintf(messages_,
               "avrboard: the port is set to %.0f baud but the firmware's UART0 runs at "
               "%.0f: the line garbles every byte both ways\n",
               terminal_baud, uart_baud_);
  reported_terminal_baud_ = terminal_baud;
}

}  // namespace avrboard
