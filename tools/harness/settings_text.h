// A settings block as it stands in the host's project file: every line
// followed by CR LF.  Everything that hands the library a block to read
// builds it here.
#pragma once

#include <string>
#include <vector>

namespace harness {

inline std::string SettingsText(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

}  // namespace harness

namespace arduino::testing {
using harness::SettingsText;
}  // namespace arduino::testing
