// Turns the protocol's reply text into the bytes boardsim puts on the wire,
// applying the line end and whichever faults were asked for.
#pragma once

#include <optional>
#include <random>
#include <string>

#include "boardsim_command_line.h"

namespace boardsim {

class ReplyShaper {
 public:
  // Size of every reply datagram under --oversized; larger than any sane
  // receive buffer on the block's side.
  static constexpr size_t kOversizedLength = 3000;

  explicit ReplyShaper(const Options& options);

  // Returns the bytes to send, or nothing when --drop-rate drops the reply.
  std::optional<std::string> Shape(const std::string& reply);

 private:
  bool serial_;
  bool line_end_;
  bool garbage_;
  bool oversized_;
  double drop_rate_;
  std::mt19937 random_;
};

}  // namespace boardsim
