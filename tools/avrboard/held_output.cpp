#include "held_output.h"

namespace avrboard {

void HeldOutput::Add(const std::string& bytes, const std::vector<uint64_t>& cycles,
                     uint64_t frame_cycles) {
  for (size_t i = 0; i < bytes.size(); ++i) {
    const uint64_t sent = i < cycles.size() ? cycles[i] : 0;
    held_.push_back({bytes[i], sent, sent + frame_cycles});
  }
}

std::string HeldOutput::TakeDone(uint64_t now_cycle, std::vector<uint64_t>* cycles) {
  std::string done;
  cycles->clear();
  // Frames leave one after the other, so the first held is the first done.
  while (!held_.empty() && held_.front().done_cycle <= now_cycle) {
    done += held_.front().byte;
    cycles->push_back(held_.front().sent_cycle);
    held_.pop_front();
  }
  return done;
}

std::optional<uint64_t> HeldOutput::NextDone() const {
  if (held_.empty()) return std::nullopt;
  return held_.front().done_cycle;
}

}  // namespace avrboard
