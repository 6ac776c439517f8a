#include "flash_plan.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iterator>
#include <system_error>

#include "tool_command_line.h"

namespace blockhost {
namespace {

// The Nanos take the Uno's images, from its folder.  Today's Nano has the
// Uno's optiboot at 115200 baud; the old bootloader (ATmegaBOOT) speaks the
// same protocol at 57600.
constexpr FlashBoardFacts kBoards[] = {
    {FlashBoard::kUno, "uno", "Arduino Uno", "uno", "atmega328p", "arduino", 115200, false},
    {FlashBoard::kMega2560, "mega2560", "Arduino Mega 2560", "mega2560", "atmega2560", "wiring",
     115200, true},
    {FlashBoard::kNano, "nano", "Arduino Nano", "uno", "atmega328p", "arduino", 115200, false},
    {FlashBoard::kNanoOld, "nano-old", "Arduino Nano (old bootloader)", "uno", "atmega328p",
     "arduino", 57600, false},
};

std::string Join(const std::string& folder, const std::string& name, bool windows) {
  if (folder.empty()) return name;
  const char last = folder.back();
  if (last == '/' || (windows && last == '\\')) return folder + name;
  return folder + (windows ? "\\" : "/") + name;
}

// "7.1.0-arduino1" before "6.3.0-arduino17": the numbers compared one by
// one, as a version reads, not as text.
bool NewerVersion(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const bool digits =
        isdigit(static_cast<unsigned char>(a[i])) && isdigit(static_cast<unsigned char>(b[j]));
    if (!digits) {
      if (a[i] != b[j]) return a[i] > b[j];
      ++i, ++j;
      continue;
    }
    unsigned long x = 0, y = 0;
    for (; i < a.size() && isdigit(static_cast<unsigned char>(a[i])); ++i)
      x = x * 10 + (a[i] - '0');
    for (; j < b.size() && isdigit(static_cast<unsigned char>(b[j])); ++j)
      y = y * 10 + (b[j] - '0');
    if (x != y) return x > y;
  }
  return a.size() - i > b.size() - j;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    const size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// Looks at one candidate: the program, and its configuration where the
// layout has one of its own.
bool Consider(const AvrdudeTool& candidate, const FileView& files, AvrdudeSearch& search) {
  search.looked.push_back(candidate.program);
  if (!files.is_file(candidate.program)) return false;
  AvrdudeTool tool = candidate;
  if (!tool.config.empty() && !files.is_file(tool.config)) tool.config.clear();
  search.tool = tool;
  return true;
}

}  // namespace

const FlashBoardFacts& FactsOf(FlashBoard board) {
  for (const FlashBoardFacts& facts : kBoards) {
    if (facts.board == board) return facts;
  }
  return kBoards[0];
}

std::string BoardOptions() {
  std::vector<std::string> options;
  for (const auto& board : kBoards) options.emplace_back(board.option);
  return tool_cli::Alternatives(options);
}

FlashBoard LikelyMixUp(FlashBoard board) {
  switch (board) {
    case FlashBoard::kUno:
      return FlashBoard::kMega2560;
    case FlashBoard::kMega2560:
      return FlashBoard::kUno;
    case FlashBoard::kNano:
      return FlashBoard::kNanoOld;
    case FlashBoard::kNanoOld:
      return FlashBoard::kNano;
  }
  return FlashBoard::kUno;
}

std::optional<FlashBoard> BoardFromOption(std::string_view text) {
  if (text == "mega") return FlashBoard::kMega2560;
  for (const FlashBoardFacts& facts : kBoards) {
    if (text == facts.option) return facts.board;
  }
  return std::nullopt;
}

std::optional<FlashBoard> BoardFromUsbName(std::string_view likely_board) {
  for (const FlashBoardFacts& facts : kBoards) {
    if (likely_board == facts.name) return facts.board;
  }
  return std::nullopt;
}

std::string ImageFileName(bool ethernet, int32_t baud) {
  return "arduino_block-" + (ethernet ? std::string("ethernet") : std::to_string(baud)) + ".hex";
}

FileView RealFiles() {
  FileView view;
  view.is_file = [](const std::string& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
  };
  view.names_in = [](const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
      names.push_back(it->path().filename().string());
    }
    return names;
  };
  return view;
}

Search FindImage(const std::vector<std::string>& firmware_folders, FlashBoard board,
                 const std::string& file, const FileView& files) {
  Search search;
  for (const std::string& folder : firmware_folders) {
    const std::string path = Join(Join(folder, FactsOf(board).folder, false), file, false);
    search.looked.push_back(path);
    if (files.is_file(path)) {
      search.found = path;
      break;
    }
  }
  return search;
}

AvrdudeSearch FindAvrdude(const AvrdudePlaces& places, const FileView& files) {
  AvrdudeSearch search;
  const bool w = places.windows;
  const std::string program = w ? "avrdude.exe" : "avrdude";
  // Only what was asked for: a named program that is missing is an error,
  // not a reason to take some other avrdude.
  if (places.named) {
    Consider({*places.named, ""}, files, search);
    return search;
  }
  for (const std::string& folder : Split(places.path_variable, w ? ';' : ':')) {
    if (folder.empty()) continue;
    if (Consider({Join(folder, program, w), ""}, files, search)) return search;
  }
  if (!w) return search;
  // The IDE 1.x: Arduino\hardware\tools\avr\{bin\avrdude.exe,etc\avrdude.conf}.
  for (const std::string& program_files : places.program_files) {
    const std::string tools = Join(program_files, "Arduino\\hardware\\tools\\avr", true);
    if (Consider({Join(tools, "bin\\avrdude.exe", true), Join(tools, "etc\\avrdude.conf", true)},
                 files, search)) {
      return search;
    }
  }
  // IDE 2 and arduino-cli: Arduino15\packages\arduino\tools\avrdude\<version>.
  if (!places.local_app_data.empty()) {
    const std::string versions =
        Join(places.local_app_data, "Arduino15\\packages\\arduino\\tools\\avrdude", true);
    std::vector<std::string> names = files.names_in(versions);
    std::sort(names.begin(), names.end(), NewerVersion);
    if (names.empty()) search.looked.push_back(Join(versions, "<version>\\bin\\avrdude.exe", true));
    for (const std::string& version : names) {
      const std::string folder = Join(versions, version, true);
      if (Consider(
              {Join(folder, "bin\\avrdude.exe", true), Join(folder, "etc\\avrdude.conf", true)},
              files, search)) {
        return search;
      }
    }
  }
  return search;
}

std::vector<std::string> AvrdudeArguments(const AvrdudeTool& tool, FlashBoard board,
                                          const std::string& port_device,
                                          const std::string& image) {
  const FlashBoardFacts& facts = FactsOf(board);
  std::vector<std::string> args;
  if (!tool.config.empty()) args.insert(args.end(), {"-C", tool.config});
  args.insert(args.end(), {"-p", facts.part, "-c", facts.programmer, "-P", port_device, "-b",
                           std::to_string(facts.bootloader_baud)});
  if (facts.no_chip_erase) args.push_back("-D");
  // avrdude reads the image back after writing it unless told not to.
  args.insert(args.end(), {"-U", "flash:w:" + image + ":i"});
  return args;
}

AvrdudeFailure ClassifyAvrdudeOutput(std::string_view output) {
  if (Contains(output, "can't open device") || Contains(output, "cannot open port") ||
      Contains(output, "cannot open device")) {
    return AvrdudeFailure::kPortUnusable;
  }
  if (Contains(output, "xpected signature for") || Contains(output, "Invalid device signature")) {
    return AvrdudeFailure::kWrongChip;
  }
  if (Contains(output, "not in sync") || Contains(output, "not responding") ||
      Contains(output, "timeout communicating") || Contains(output, "ReceiveMessage(): timeout")) {
    return AvrdudeFailure::kNoBootloader;
  }
  if (Contains(output, "verification error") || Contains(output, "verification mismatch")) {
    return AvrdudeFailure::kVerifyFailed;
  }
  return AvrdudeFailure::kOther;
}

std::string LastErrorLine(std::string_view output) {
  std::string_view last_said;
  std::string_view last_error;
  // avrdude ends lines with LF, or CR LF on Windows, and redraws its
  // progress bar with CR alone: each of them ends a line here.
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = output.size();
    std::string_view line = output.substr(start, end - start);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
    if (!line.empty()) {
      last_said = line;
      std::string lower(line);
      for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
      if (Contains(lower, "error") || Contains(lower, "not in sync") ||
          Contains(lower, "not responding") || Contains(lower, "mismatch")) {
        last_error = line;
      }
    }
    start = end + 1;
  }
  if (!last_error.empty()) return std::string(last_error);
  if (!last_said.empty()) return std::string(last_said);
  return "no output";
}

}  // namespace blockhost
