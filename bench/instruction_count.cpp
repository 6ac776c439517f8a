#include "instruction_count.h"

#include <unistd.h>

#include <charconv>
#include <sstream>

namespace bench {
namespace {

std::optional<uint64_t> NumberAfter(const std::string& line, const std::string& head) {
  if (line.rfind(head, 0) != 0) return std::nullopt;
  size_t begin = head.size();
  while (begin < line.size() && line[begin] == ' ') ++begin;
  uint64_t value = 0;
  const char* end = line.data() + line.size();
  auto [stop, failed] = std::from_chars(line.data() + begin, end, value);
  // The first event is the instructions; others may follow it.
  if (failed != std::errc() || (stop != end && *stop != ' ')) return std::nullopt;
  return value;
}

}  // namespace

std::optional<uint64_t> CallgrindTotal(const std::string& output) {
  std::istringstream lines(output);
  std::optional<uint64_t> summary;
  for (std::string line; std::getline(lines, line);) {
    if (std::optional<uint64_t> total = NumberAfter(line, "totals:")) return total;
    if (!summary) summary = NumberAfter(line, "summary:");
  }
  return summary;
}

std::string FindProgram(const std::string& name, const std::string& path) {
  size_t begin = 0;
  while (begin <= path.size()) {
    size_t end = path.find(':', begin);
    if (end == std::string::npos) end = path.size();
    // An empty entry is the current folder, as the shell takes it.
    const std::string folder = end > begin ? path.substr(begin, end - begin) : ".";
    const std::string candidate = folder + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    begin = end + 1;
  }
  return "";
}

}  // namespace bench
