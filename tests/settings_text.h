// A settings block as it stands in the host's project file: every line
// followed by CR LF.  The tests that hand the library a block to read build
// it here.
#pragma once

#include <string>
#include <vector>

namespace arduino::testing {

inline std::string SettingsText(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

}  // namespace arduino::testing
