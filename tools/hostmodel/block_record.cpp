#include "block_record.h"

#include <cstring>

#include "arduino_block.h"

namespace hostmodel {

BlockRecord::BlockRecord(uint8_t fill, uint32_t app_handle) : bytes_(kBlockRecordSize, fill) {
  std::memcpy(bytes_.data() + ARDUINO_BLOCK_APPHANDLE_OFFSET, &app_handle, sizeof app_handle);
}

uint32_t BlockRecord::UserDataSlot() const {
  uint32_t slot = 0;
  std::memcpy(&slot, bytes_.data() + ARDUINO_BLOCK_USERDATA_OFFSET, sizeof slot);
  return slot;
}

}  // namespace hostmodel
