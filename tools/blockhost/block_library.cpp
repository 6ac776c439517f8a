#include "block_library.h"

#include "errors.h"
#include "library_call.h"

namespace blockhost {
namespace {

template <class Fn>
void Resolve(const DynamicLibrary& library, const std::string& path, const char* name, Fn* slot,
             bool required = true) {
  *slot = reinterpret_cast<Fn>(library.Find(name));
  if (*slot == nullptr && required) {
    throw LibraryError("'" + path + "' is not a block library: it does not export " + name);
  }
}

}  // namespace

BlockLibrary::BlockLibrary(const std::string& path) : path_(path), library_(path) {
  BlockExports& e = exports_;
  Resolve(library_, path, "IsUserDLL32", &e.IsUserDLL32);
  Resolve(library_, path, "GetDLLName", &e.GetDLLName);
  Resolve(library_, path, "InitUserDLL", &e.InitUserDLL);
  Resolve(library_, path, "DisposeUserDLL", &e.DisposeUserDLL);
  Resolve(library_, path, "GetNumberOfInputsOutputs", &e.GetNumberOfInputsOutputs);
  Resolve(library_, path, "GetParameterStruct", &e.GetParameterStruct);
  Resolve(library_, path, "GetDialogEnableStruct", &e.GetDialogEnableStruct);
  Resolve(library_, path, "SetInputChar", &e.SetInputChar);
  Resolve(library_, path, "SetOutputChar", &e.SetOutputChar);
  Resolve(library_, path, "CanSimulateDLL", &e.CanSimulateDLL);
  Resolve(library_, path, "InitSimulationDLL", &e.InitSimulationDLL);
  Resolve(library_, path, "SimulateDLL", &e.SimulateDLL);
  Resolve(library_, path, "EndSimulationDLL2", &e.EndSimulationDLL2);
  Resolve(library_, path, "CallParameterDialogDLL", &e.CallParameterDialogDLL, false);
  Resolve(library_, path, "WriteToFile", &e.WriteToFile);
  Resolve(library_, path, "ReadFromFile", &e.ReadFromFile);
}

std::string BlockLibrary::Name() const {
  const char* name = CallLibraryFor([&] { return exports_.GetDLLName(); });
  return name ? name : "";
}

}  // namespace blockhost
