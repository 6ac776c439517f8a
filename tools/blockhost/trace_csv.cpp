#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "errors.h"
#include "native_file.h"
#include "trace.h"

namespace blockhost {
namespace {

InputError CannotWrite(const std::string& path, int error) {
  return InputError("cannot write '" + path + "': " + std::strerror(error));
}

}  // namespace

void RequireWritable(const std::string& path) {
  std::error_code ignored;
  const bool existed = std::filesystem::exists(path, ignored);
  // Appending opens the file as writing it would, without touching what an
  // existing one holds.
  errno = 0;
  std::FILE* file = std::fopen(path.c_str(), "ab");
  if (file == nullptr) throw CannotWrite(path, errno != 0 ? errno : EACCES);
  std::fclose(file);
  if (!existed) std::filesystem::remove(path, ignored);
}

void WriteTraceFile(const std::string& path, const std::string& text) {
  // Written beside the old file and put in its place only when complete: a
  // run cut short in the writing, or a disk that fills, leaves the last good
  // trace as it was.
  NativeFile file = NativeFile::Replacement(path);
  file.Write(text);
  file.Commit();
}

void WriteCsv(const Trace& trace, const std::string& path) {
  std::string text = "time_ms";
  for (const TraceChannel& channel : trace.channels) text += ',' + channel.name;
  text += '\n';
  char number[32];
  for (size_t row = 0; row < trace.time_ms.size(); ++row) {
    snprintf(number, sizeof number, "%.3f", trace.time_ms[row]);
    text += number;
    for (const TraceChannel& channel : trace.channels) {
      snprintf(number, sizeof number, "%.10g", channel.values[row]);
      text += ',';
      text += number;
    }
    text += '\n';
  }
  WriteTraceFile(path, text);
}

}  // namespace blockhost
