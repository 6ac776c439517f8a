// The bytes the firmware sent, on their way out.  simavr hands out a sent
// byte when the firmware writes it to UDR0, a whole frame before its stop
// bit is on the line; avrboard writes it to the terminal only when the frame
// is over, as a wire would deliver it.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace avrboard {

// Bytes the firmware sent, each held until its frame has left the wire.
class HeldOutput {
 public:
  // `cycles[i]` is when bytes[i] went into the transmitter; its frame is
  // over frame_cycles later.
  void Add(const std::string& bytes, const std::vector<uint64_t>& cycles, uint64_t frame_cycles);
  // Takes the bytes whose frames are over at now_cycle, in order, and
  // their send cycles into *cycles.
  std::string TakeDone(uint64_t now_cycle, std::vector<uint64_t>* cycles);
  // When the next held byte is done; nothing when none is held.
  std::optional<uint64_t> NextDone() const;
  void Clear() { held_.clear(); }
  bool empty() const { return held_.empty(); }

 private:
  struct Held {
    char byte;
    uint64_t sent_cycle;
    uint64_t done_cycle;
  };
  std::deque<Held> held_;
};

}  // namespace avrboard
