#include "project_file.h"

#include "errors.h"
#include "library_call.h"
#include "native_file.h"

namespace blockhost {
namespace {

constexpr size_t kMaxHeaderLine = 256;
constexpr char kBlockPrefix[] = "block ";

// Reads a header line byte by byte, so that the file stays positioned at the
// first byte after it for the library.
std::string ReadHeaderLine(NativeFile* file, const std::string& path) {
  std::string line;
  char byte;
  while (file->ReadByte(&byte)) {
    if (byte == '\n') {
      // The header's lines end in LF alone; a CR before it means a program
      // changed the file's line ends, and would end up raw in a message.
      if (!line.empty() && line.back() == '\r') {
        throw InputError("'" + path +
                         "' has lines that end in CR LF instead of LF; a program has changed "
                         "its line ends");
      }
      return line;
    }
    if (line.size() == kMaxHeaderLine) break;
    line += byte;
  }
  throw InputError("'" + path + "' is not a blockhost project (its header is incomplete)");
}

}  // namespace

void LoadProject(const std::string& path, const std::string& block_name, BlockInstance* block) {
  NativeFile file = NativeFile::OpenForReading(path);
  if (ReadHeaderLine(&file, path) != kProjectMagic) {
    throw InputError("'" + path + "' is not a blockhost project (its first line is not '" +
                     kProjectMagic + "')");
  }
  std::string block_line = ReadHeaderLine(&file, path);
  if (block_line != kBlockPrefix + block_name) {
    throw InputError("'" + path + "' holds the settings of another block ('" + block_line +
                     "', expected '" + kBlockPrefix + block_name + "')");
  }
  CallLibrary([&] { block->exports().ReadFromFile(file.handle(), block->record()); });
}

void SaveProject(const std::string& path, const std::string& block_name, BlockInstance* block) {
  NativeFile file = NativeFile::Replacement(path);
  file.Write(std::string(kProjectMagic) + "\n" + kBlockPrefix + block_name + "\n");
  CallLibrary([&] { block->exports().WriteToFile(file.handle(), block->record()); });
  file.Commit();
}

BlockSettings ReadSettings(BlockInstance* block) {
  NativeFile scratch = NativeFile::Scratch();
  CallLibrary([&] { block->exports().WriteToFile(scratch.handle(), block->record()); });
  return ParseSettingsLines(scratch.Contents());
}

void ApplySettings(const BlockSettings& settings, BlockInstance* block) {
  NativeFile scratch = NativeFile::Scratch();
  scratch.Write(FormatSettingsLines(settings));
  scratch.Rewind();
  CallLibrary([&] { block->exports().ReadFromFile(scratch.handle(), block->record()); });
}

}  // namespace blockhost
