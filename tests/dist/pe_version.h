// Reads the version resource of a Windows PE file (DLL or EXE) without
// Windows: the fixed file and product versions and the texts of the first
// string table.  The distribution tests use it on ArduinoBlock.dll as
// Explorer's Properties page would.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace dist_test {

struct PeVersionInfo {
  std::array<uint16_t, 4> file_version{};      // FILEVERSION a,b,c,d
  std::array<uint16_t, 4> product_version{};   // PRODUCTVERSION a,b,c,d
  std::string language;                        // the string table's key, e.g. "040904E4"
  std::map<std::string, std::string> strings;  // VALUE "name", "text"; non-ASCII as '?'
};

// Thrown for a file that is no PE file, has no version resource, or whose
// resource runs past its bounds; what() says which.
class PeFormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

PeVersionInfo ReadPeVersionInfo(const std::vector<uint8_t>& image);
PeVersionInfo ReadPeVersionInfoFile(const std::string& path);

}  // namespace dist_test
