// One block as a host holds it: a host-owned record that the library
// initialises, and the description of its inputs and outputs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "block_library.h"
#include "block_record.h"

namespace blockhost {

class BlockInstance {
 public:
  // Calls InitUserDLL on a fresh record without a host window.
  explicit BlockInstance(const BlockLibrary& library);
  // Calls DisposeUserDLL; an error there is reported on stderr, since a
  // destructor has no one to hand it to.
  ~BlockInstance();
  BlockInstance(const BlockInstance&) = delete;
  BlockInstance& operator=(const BlockInstance&) = delete;

  const BlockExports& exports() const { return exports_; }
  void* record() { return record_.data(); }

 private:
  const BlockExports& exports_;
  hostmodel::BlockRecord record_;
};

// The names of a block's inputs and outputs as GetNumberOfInputsOutputs
// fills them in.
struct IoDescription {
  std::vector<std::string> inputs;
  std::vector<std::string> outputs;
};
IoDescription DescribeIo(const BlockExports& exports);

}  // namespace blockhost
