// The record a host allocates for each block and hands to every export: the
// library keeps its UserData slot there and reads the host's window from
// AppHandle; every other byte is the host's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace hostmodel {

// The size of the record a host allocates for each block.
constexpr size_t kBlockRecordSize = 8192;

class BlockRecord {
 public:
  // A record of `fill` bytes with `app_handle` in AppHandle.  A fill other
  // than zero shows whether the library writes where it should not.
  explicit BlockRecord(uint8_t fill = 0, uint32_t app_handle = 0);

  void* data() { return bytes_.data(); }
  const std::vector<uint8_t>& bytes() const { return bytes_; }
  // What the library left in the UserData slot.
  uint32_t UserDataSlot() const;

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace hostmodel
