// A block library and its exports, found by name.  The settings dialog is
// optional: a library without it can still be run from blockhost.
#pragma once

#include <string>

#include "arduino_block.h"
#include "dynamic_library.h"

namespace blockhost {

struct BlockExports {
  IsUserDLL32Fn IsUserDLL32 = nullptr;
  GetDLLNameFn GetDLLName = nullptr;
  InitUserDLLFn InitUserDLL = nullptr;
  DisposeUserDLLFn DisposeUserDLL = nullptr;
  GetNumberOfInputsOutputsFn GetNumberOfInputsOutputs = nullptr;
  GetParameterStructFn GetParameterStruct = nullptr;
  GetDialogEnableStructFn GetDialogEnableStruct = nullptr;
  SetInputCharFn SetInputChar = nullptr;
  SetOutputCharFn SetOutputChar = nullptr;
  CanSimulateDLLFn CanSimulateDLL = nullptr;
  InitSimulationDLLFn InitSimulationDLL = nullptr;
  SimulateDLLFn SimulateDLL = nullptr;
  EndSimulationDLL2Fn EndSimulationDLL2 = nullptr;
  CallParameterDialogDLLFn CallParameterDialogDLL = nullptr;  // may stay null
  WriteToFileFn WriteToFile = nullptr;
  ReadFromFileFn ReadFromFile = nullptr;
};

class BlockLibrary {
 public:
  // Loads the library and resolves its exports; throws LibraryError naming
  // the first required export that is missing.
  explicit BlockLibrary(const std::string& path);

  const std::string& path() const { return path_; }
  const BlockExports& exports() const { return exports_; }
  const DynamicLibrary& library() const { return library_; }
  // The block's name as the library reports it.
  std::string Name() const;

 private:
  std::string path_;
  DynamicLibrary library_;
  BlockExports exports_;
};

}  // namespace blockhost
