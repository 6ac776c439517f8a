// The DLL's tables: exactly the header's functions leave it under their
// plain names, and it needs no DLL that Windows does not bring.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>

#include "block_dll.h"

namespace arduino::testing {
namespace {

// Every function of the public header.  Naming it here also checks that the
// header declares it, so this list cannot drift from the header.
#define ARDUINO_BLOCK_FUNCTION(name) (static_cast<void>(&::name), #name)
const std::set<std::string> kHeaderFunctions = {
    ARDUINO_BLOCK_FUNCTION(IsUserDLL32),
    ARDUINO_BLOCK_FUNCTION(GetDLLName),
    ARDUINO_BLOCK_FUNCTION(InitUserDLL),
    ARDUINO_BLOCK_FUNCTION(DisposeUserDLL),
    ARDUINO_BLOCK_FUNCTION(GetNumberOfInputsOutputs),
    ARDUINO_BLOCK_FUNCTION(GetParameterStruct),
    ARDUINO_BLOCK_FUNCTION(GetDialogEnableStruct),
    ARDUINO_BLOCK_FUNCTION(SetInputChar),
    ARDUINO_BLOCK_FUNCTION(SetOutputChar),
    ARDUINO_BLOCK_FUNCTION(CanSimulateDLL),
    ARDUINO_BLOCK_FUNCTION(InitSimulationDLL),
    ARDUINO_BLOCK_FUNCTION(SimulateDLL),
    ARDUINO_BLOCK_FUNCTION(EndSimulationDLL2),
    ARDUINO_BLOCK_FUNCTION(CallParameterDialogDLL),
    ARDUINO_BLOCK_FUNCTION(WriteToFile),
    ARDUINO_BLOCK_FUNCTION(ReadFromFile),
};
#undef ARDUINO_BLOCK_FUNCTION

// Header functions the DLL does not export yet.  When one lands, its line
// goes; nothing else in this file changes.  Today the DLL offers them all.
const std::set<std::string> kNotYetExported = {};

// The DLLs that every Windows since 7 ships.  Anything else, the compiler's
// own runtime DLLs above all, would have to be shipped with ours.
const std::set<std::string> kSystemDlls = {
    "kernel32.dll", "user32.dll",   "gdi32.dll",   "comctl32.dll", "wsock32.dll",  "ws2_32.dll",
    "msvcrt.dll",   "advapi32.dll", "shell32.dll", "ole32.dll",    "comdlg32.dll", "oleaut32.dll",
};

const BYTE* Base() { return reinterpret_cast<const BYTE*>(DllModule()); }

// The headers of the DLL's own kind: PE32 in the product, PE32+ in the
// 64-bit test build, whose optional header is laid out differently.
const IMAGE_DATA_DIRECTORY& Directory(int index) {
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(Base());
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(Base() + dos->e_lfanew);
  return nt->OptionalHeader.DataDirectory[index];
}

std::string Lowercase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

TEST(ExportTableTest, ExactlyTheHeaderFunctionsUnderPlainNames) {
  std::set<std::string> expected;
  for (const std::string& name : kHeaderFunctions) {
    if (!kNotYetExported.count(name)) expected.insert(name);
  }
  const IMAGE_DATA_DIRECTORY& directory = Directory(IMAGE_DIRECTORY_ENTRY_EXPORT);
  ASSERT_NE(directory.VirtualAddress, 0u) << "the DLL exports nothing";
  const auto* exports =
      reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(Base() + directory.VirtualAddress);
  const auto* names = reinterpret_cast<const DWORD*>(Base() + exports->AddressOfNames);
  std::set<std::string> actual;
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
    actual.insert(reinterpret_cast<const char*>(Base() + names[i]));
  }
  EXPECT_EQ(actual, expected);
  EXPECT_EQ(exports->NumberOfFunctions, expected.size()) << "exports without a name";
  EXPECT_EQ(kHeaderFunctions.size(), 16u);
}

TEST(ExportTableTest, ImportsOnlyDllsThatWindowsBrings) {
  const IMAGE_DATA_DIRECTORY& directory = Directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
  ASSERT_NE(directory.VirtualAddress, 0u);
  const auto* import =
      reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(Base() + directory.VirtualAddress);
  int count = 0;
  for (; import->Name != 0; ++import, ++count) {
    std::string name = Lowercase(reinterpret_cast<const char*>(Base() + import->Name));
    EXPECT_TRUE(kSystemDlls.count(name)) << "imports " << name;
  }
  EXPECT_GT(count, 0);
}

}  // namespace
}  // namespace arduino::testing
