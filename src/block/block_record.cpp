#include "block/block_record.h"

#include <cstring>
#include <unordered_map>

#include "arduino_block.h"

namespace arduino {
namespace {

struct BlockTable {
  std::unordered_map<uint32_t, TUserData*> live;
  uint32_t next_key = 1;
};

BlockTable& Table() {
  static BlockTable table;
  return table;
}

uint32_t ReadSlot(const void* block, size_t offset) {
  uint32_t value = 0;
  std::memcpy(&value, static_cast<const unsigned char*>(block) + offset, sizeof value);
  return value;
}

void WriteSlot(void* block, size_t offset, uint32_t value) {
  std::memcpy(static_cast<unsigned char*>(block) + offset, &value, sizeof value);
}

}  // namespace

void AttachUserData(void* block, TUserData* user_data) {
  BlockTable& table = Table();
  uint32_t key;
  if constexpr (sizeof(void*) == sizeof(uint32_t)) {
    key = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(user_data));
  } else {
    if (table.next_key == 0) throw Exception("No more block keys: too many blocks were created");
    key = table.next_key++;
  }
  table.live[key] = user_data;
  WriteSlot(block, ARDUINO_BLOCK_USERDATA_OFFSET, key);
}

TUserData& UserDataOf(const void* block) {
  auto& live = Table().live;
  auto found = live.find(ReadSlot(block, ARDUINO_BLOCK_USERDATA_OFFSET));
  if (found == live.end()) throw Exception("The block record does not belong to a live block");
  return *found->second;
}

void DetachUserData(const void* block) {
  Table().live.erase(ReadSlot(block, ARDUINO_BLOCK_USERDATA_OFFSET));
}

size_t LiveBlockCount() { return Table().live.size(); }

uint32_t AppHandleOf(const void* block) { return ReadSlot(block, ARDUINO_BLOCK_APPHANDLE_OFFSET); }

}  // namespace arduino
