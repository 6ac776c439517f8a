#include "block_instance.h"

#include <cstdio>
#include <cstring>

#include "errors.h"
#include "library_call.h"

namespace blockhost {

BlockInstance::BlockInstance(const BlockLibrary& library) : exports_(library.exports()) {
  CallLibrary([&] { exports_.InitUserDLL(record_.data()); });
}

BlockInstance::~BlockInstance() {
  try {
    CallLibrary([&] { exports_.DisposeUserDLL(record_.data()); });
  } catch (const LibraryError& error) {
    fprintf(stderr, "blockhost: library error while disposing the block: %s\n", error.what());
  }
}

IoDescription DescribeIo(const BlockExports& exports) {
  std::vector<uint8_t> description(ARDUINO_BLOCK_IO_DESCRIPTION_SIZE, 0);
  CallLibrary([&] { exports.GetNumberOfInputsOutputs(description.data()); });
  // The name slots leave room for 50 names each; more than that would run
  // past the record and cannot be trusted.
  constexpr int kMaxNames = 50;
  auto names = [&](size_t count, size_t first_slot) {
    std::vector<std::string> result;
    for (size_t k = 0; k < count && k < kMaxNames; ++k) {
      const char* slot = reinterpret_cast<const char*>(description.data()) + first_slot +
                         ARDUINO_BLOCK_IO_NAME_SIZE * k;
      result.emplace_back(slot, strnlen(slot, ARDUINO_BLOCK_IO_NAME_SIZE));
    }
    return result;
  };
  return {names(description[0], ARDUINO_BLOCK_IO_INPUT_NAMES),
          names(description[1], ARDUINO_BLOCK_IO_OUTPUT_NAMES)};
}

}  // namespace blockhost
