#include "project_file.h"

#include "errors.h"
#include "library_call.h"
#include "native_file.h"

namespace blockhost {
namespace {

constexpr size_t kMaxHeaderLine = 256;
constexpr char kBlockPrefix[] = "block ";
constexpr int kHeaderLines = 2;

std::string MendCommand(const std::string& path) {
  const std::string quoted =
      path.find_first_of(" \t'\"") == std::string::npos ? path : "\"" + path + "\"";
  return "To mend it: `blockhost set --project " + quoted + " --fix-line-ends`";
}

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
                         "its line ends. " +
                         MendCommand(path));
      }
      return line;
    }
    if (line.size() == kMaxHeaderLine) break;
    line += byte;
  }
  throw InputError("'" + path + "' is not a blockhost project (its header is incomplete)");
}

}  // namespace

std::optional<std::string> MendedLineEnds(std::string_view text) {
  // Every kind of line end becomes one LF first: CR LF and CR CR LF as a
  // whole, then a lone CR.  No line of a project holds a CR of its own.
  std::string lines;
  for (size_t k = 0; k < text.size(); ++k) {
    if (text[k] != '\r') {
      lines += text[k];
      continue;
    }
    size_t end = k;
    while (end < text.size() && text[end] == '\r') ++end;
    lines += '\n';
    k = end < text.size() && text[end] == '\n' ? end : end - 1;
  }
  std::string mended;
  int number = 0;
  for (size_t start = 0; start < lines.size();) {
    size_t end = lines.find('\n', start);
    if (end == std::string::npos) {
      mended += lines.substr(start);  // a last line without an end stays so
      break;
    }
    mended += lines.substr(start, end - start);
    mended += ++number <= kHeaderLines ? "\n" : "\r\n";
    start = end + 1;
  }
  if (mended == text) return std::nullopt;
  return mended;
}

void LoadProject(const std::string& path, const std::string& block_name, BlockInstance* block,
                 bool fix_line_ends) {
  NativeFile file = NativeFile::OpenForReading(path);
  // The mended text is read in place of the file; the file itself changes
  // only when the project is saved.
  std::optional<NativeFile> mended_file;
  if (fix_line_ends) {
    if (std::optional<std::string> mended = MendedLineEnds(file.Contents())) {
      mended_file.emplace(NativeFile::Scratch());
      mended_file->Write(*mended);
      mended_file->Rewind();
    }
  }
  NativeFile& source = mended_file ? *mended_file : file;
  if (ReadHeaderLine(&source, path) != kProjectMagic) {
    throw InputError("'" + path + "' is not a blockhost project (its first line is not '" +
                     kProjectMagic + "')");
  }
  std::string block_line = ReadHeaderLine(&source, path);
  if (block_line != kBlockPrefix + block_name) {
    throw InputError("'" + path + "' holds the settings of another block ('" + block_line +
                     "', expected '" + kBlockPrefix + block_name + "')");
  }
  try {
    CallLibrary([&] { block->exports().ReadFromFile(source.handle(), block->record()); });
  } catch (const LibraryError& error) {
    // The block's own words say what it found; whether the line ends were
    // changed is told by the whole file, and so is the mend.
    if (mended_file || !MendedLineEnds(file.Contents())) throw;
    // The message may quote a line, line breaks and all; it stays one line.
    std::string said;
    for (char c : std::string(error.what()))
      said += c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
    throw InputError("'" + path + "': " + said + ". " + MendCommand(path));
  }
}

void SaveProject(const std::string& path, const std::string& block_name, BlockInstance* block) {
  NativeFile file = NativeFile::Replacement(path);
  file.Write(std::string(kProjectMagic) + "\n" + kBlockPrefix + block_name + "\n");
  CallLibrary([&] { block->exports().WriteToFile(file.handle(), block->record()); });
  file.Commit();
}

std::string SettingsBytes(BlockInstance* block) {
  NativeFile scratch = NativeFile::Scratch();
  CallLibrary([&] { block->exports().WriteToFile(scratch.handle(), block->record()); });
  return scratch.Contents();
}

BlockSettings ReadSettings(BlockInstance* block) {
  return ParseSettingsLines(SettingsBytes(block));
}

void ApplySettings(const BlockSettings& settings, BlockInstance* block) {
  NativeFile scratch = NativeFile::Scratch();
  scratch.Write(FormatSettingsLines(settings));
  scratch.Rewind();
  CallLibrary([&] { block->exports().ReadFromFile(scratch.handle(), block->record()); });
}

}  // namespace blockhost
