// `blockhost info`: what a host learns about a block before placing it.
#include <cstdio>
#include <string>
#include <vector>

#include "arduino_block_version.h"
#include "block_instance.h"
#include "block_library.h"
#include "commands.h"
#include "errors.h"
#include "library_call.h"
#include "process_environment.h"
#include "tool_command_line.h"

namespace blockhost {
namespace {

// Room for the host's parameter and dialog records; the block writes only
// the first few hundred bytes.
constexpr size_t kProbeRecordSize = 4096;

// The bytes a record-filling export writes.  It runs twice, over records of
// all-zero and all-one bytes, so that a byte written with the value of the
// fill still shows up in the other pass.
std::string WrittenBytes(const std::function<void(void*)>& fill_record) {
  std::vector<uint8_t> zeros(kProbeRecordSize, 0x00);
  std::vector<uint8_t> ones(kProbeRecordSize, 0xFF);
  CallLibrary([&] { fill_record(zeros.data()); });
  CallLibrary([&] { fill_record(ones.data()); });
  std::string text;
  char item[32];
  size_t offset = 0;
  while (offset < kProbeRecordSize) {
    if (zeros[offset] == 0x00 && ones[offset] == 0xFF) {
      ++offset;
      continue;
    }
    size_t end = offset;
    while (end < kProbeRecordSize && !(zeros[end] == 0x00 && ones[end] == 0xFF)) ++end;
    snprintf(item, sizeof item, "  [%zu..%zu]", offset, end - 1);
    text += item;
    for (size_t i = offset; i < end; ++i) {
      snprintf(item, sizeof item, " %02x", zeros[i]);
      text += item;
    }
    text += "\n";
    offset = end;
  }
  return text.empty() ? "  nothing written\n" : text;
}

std::string Quoted(const char* text) { return text ? "\"" + std::string(text) + "\"" : "(null)"; }

int InfoCommand(const CommandLine& line) {
  BlockLibrary library(LibraryPath(line));
  const BlockExports& e = library.exports();
  CallLibrary([&] { e.IsUserDLL32(); });
  IoDescription io = DescribeIo(e);
  const char* input_labels = CallLibraryFor([&] { return e.SetInputChar(); });
  const char* output_labels = CallLibraryFor([&] { return e.SetOutputChar(); });

  printf("blockhost       %s\n", ARDUINO_BLOCK_VERSION);
  printf("library         %s\n", library.path().c_str());
  const std::string library_version = LibraryFileVersion(library.path());
  printf("library version %s\n", library_version.empty() ? "(none)" : library_version.c_str());
  printf("name            %s\n", library.Name().c_str());
  printf("inputs          %zu\n", io.inputs.size());
  for (size_t k = 0; k < io.inputs.size(); ++k) printf("  %2zu  %s\n", k + 1, io.inputs[k].c_str());
  printf("outputs         %zu\n", io.outputs.size());
  for (size_t k = 0; k < io.outputs.size(); ++k) {
    printf("  %2zu  %s\n", k + 1, io.outputs[k].c_str());
  }
  printf("input labels    %s\n", Quoted(input_labels).c_str());
  printf("output labels   %s\n", Quoted(output_labels).c_str());
  printf("parameter record (bytes written, offset range and hex):\n%s",
         WrittenBytes([&](void* record) { e.GetParameterStruct(record); }).c_str());
  printf("dialog enable record (bytes written, offset range and hex):\n%s",
         WrittenBytes([&](void* record) { e.GetDialogEnableStruct(record, 0); }).c_str());
  printf("settings dialog %s\n",
         e.CallParameterDialogDLL ? "provided" : "not provided (settings only through set)");
  return kExitOk;
}

void AddInfoOptions(CLI::App* command, CommandLine* line) { AddLibraryOption(command, line); }

}  // namespace

const Command kInfoCommand = {"info", "usage: blockhost info [--lib PATH]\n",
                              "name, inputs, outputs and records", AddInfoOptions, InfoCommand};

std::string LibraryPath(const CommandLine& line) {
  if (!line.library.empty()) return line.library;
  return DefaultLibraryPath();
}

}  // namespace blockhost
