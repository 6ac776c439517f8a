// `blockhost show`, `set` and `configure`: the block settings inside a
// project.
#include <cstdio>

#include "block_instance.h"
#include "block_library.h"
#include "commands.h"
#include "errors.h"
#include "library_call.h"
#include "native_file.h"
#include "project_file.h"

namespace blockhost {

int ShowCommand(const CommandLine& line) {
  BlockLibrary library(LibraryPath(line));
  const std::string name = library.Name();
  BlockInstance block(library);
  LoadProject(line.project, name, &block);
  printf("%s", DescribeSettings(ReadSettings(&block)).c_str());
  return kExitOk;
}

int SetCommand(const CommandLine& line) {
  BlockLibrary library(LibraryPath(line));
  const std::string name = library.Name();
  BlockInstance block(library);
  // A new project starts from the settings of a newly placed block.
  if (NativeFile::Exists(line.project)) LoadProject(line.project, name, &block);
  BlockSettings settings = ReadSettings(&block);
  for (const std::string& assignment : line.assignments) ApplySetting(assignment, &settings);
  ApplySettings(settings, &block);
  SaveProject(line.project, name, &block);
  printf("%s", DescribeSettings(ReadSettings(&block)).c_str());
  return kExitOk;
}

int ConfigureCommand(const CommandLine& line) {
  BlockLibrary library(LibraryPath(line));
  const BlockExports& exports = library.exports();
  if (exports.CallParameterDialogDLL == nullptr) {
    throw LibraryError(library.path() + " has no settings dialog (CallParameterDialogDLL)");
  }
  const std::string name = library.Name();
  BlockInstance block(library);
  if (NativeFile::Exists(line.project)) LoadProject(line.project, name, &block);
  // The dialog is modal: the call returns when the user closes it, with the
  // settings stored only if they pressed OK.  Saving either way leaves the
  // project as the dialog left the block, as a host does on closing it.
  CallLibrary([&] { exports.CallParameterDialogDLL(block.record(), 0); });
  SaveProject(line.project, name, &block);
  printf("%s", DescribeSettings(ReadSettings(&block)).c_str());
  return kExitOk;
}

}  // namespace blockhost
