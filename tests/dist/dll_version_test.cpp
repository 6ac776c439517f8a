// ArduinoBlock.dll's version resource, read back as Explorer reads it, and
// the reader itself on files it must refuse.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "arduino_block_version.h"
#include "pe_version.h"

namespace dist_test {
namespace {

// The DLL of the Windows build beside this one, or the one a test names in
// ARDUINO_BLOCK_DLL (the distribution test points it into the zip).
std::string DllPath() {
  if (const char* path = std::getenv("ARDUINO_BLOCK_DLL")) return path;
  return std::string(WIN32_BUILD_DIR) + "/ArduinoBlock.dll";
}

class DllVersionTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(DllPath())) {
      GTEST_SKIP() << "no " << DllPath() << " (cmake --build --preset win32)";
    }
    info_ = ReadPeVersionInfoFile(DllPath());
  }
  PeVersionInfo info_;
};

TEST_F(DllVersionTest, CarriesTheVersionOfThisTree) {
  EXPECT_EQ(info_.strings["FileVersion"], ARDUINO_BLOCK_VERSION)
      << "if the tree has changed since build/win32 was configured, build it again";
  EXPECT_EQ(info_.strings["ProductVersion"], ARDUINO_BLOCK_VERSION);
  const std::array<uint16_t, 4> numbers{ARDUINO_BLOCK_VERSION_MAJOR, ARDUINO_BLOCK_VERSION_MINOR,
                                        ARDUINO_BLOCK_VERSION_PATCH, ARDUINO_BLOCK_VERSION_BUILD};
  EXPECT_EQ(info_.file_version, numbers);
  EXPECT_EQ(info_.product_version, numbers);
  // The text starts with the release the numbers name.
  const std::string release = std::to_string(numbers[0]) + "." + std::to_string(numbers[1]) + "." +
                              std::to_string(numbers[2]);
  EXPECT_EQ(info_.strings["FileVersion"].substr(0, release.size()), release);
}

TEST_F(DllVersionTest, NamesTheProductAndTheFileInUsEnglish) {
  EXPECT_EQ(info_.language, "040904E4");
  EXPECT_EQ(info_.strings["OriginalFilename"], "ArduinoBlock.dll");
  EXPECT_EQ(info_.strings["ProductName"], "Arduino block");
  for (const char* name : {"FileDescription", "CompanyName", "LegalCopyright"}) {
    EXPECT_FALSE(info_.strings[name].empty()) << name;
  }
}

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TEST(PeVersionReaderTest, RefusesWhatIsNoPeFile) {
  EXPECT_THROW(ReadPeVersionInfo({}), PeFormatError);
  std::vector<uint8_t> text(200, 'x');
  EXPECT_THROW(ReadPeVersionInfo(text), PeFormatError);
}

TEST(PeVersionReaderTest, RefusesATruncatedDllAtEveryLength) {
  if (!std::filesystem::exists(DllPath())) GTEST_SKIP() << "no " << DllPath();
  const std::vector<uint8_t> whole = ReadAll(DllPath());
  ASSERT_NO_THROW(ReadPeVersionInfo(whole));
  // Cut inside the headers, the section table and the resource itself.
  const std::u16string key = u"VS_VERSION_INFO";
  const auto* key_bytes = reinterpret_cast<const uint8_t*>(key.data());
  const auto found = std::search(whole.begin(), whole.end(), key_bytes, key_bytes + 2 * key.size());
  ASSERT_NE(found, whole.end());
  const size_t resource = static_cast<size_t>(found - whole.begin());
  for (size_t length : {size_t{64}, size_t{0x90}, size_t{0x200}, resource + 20, resource + 200}) {
    std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
    EXPECT_THROW(ReadPeVersionInfo(cut), PeFormatError) << length << " bytes";
  }
}

TEST(PeVersionReaderTest, SaysSoWhenAProgramHasNoVersionResource) {
  const std::string exe = std::string(WIN32_BUILD_DIR) + "/blockhost.exe";
  if (!std::filesystem::exists(exe)) GTEST_SKIP() << "no " << exe;
  try {
    ReadPeVersionInfoFile(exe);
    FAIL() << "blockhost.exe was read as if it had a version resource";
  } catch (const PeFormatError& error) {
    EXPECT_NE(std::string(error.what()).find("no"), std::string::npos) << error.what();
  }
}

}  // namespace
}  // namespace dist_test
