// Errors leave the DLL as the documented structured exception, with the
// class name and the code-page-1252 message as its parameters, and the DLL
// keeps working after the host has caught one.
#include <gtest/gtest.h>

#include "block_dll.h"
#include "test_platform.h"
#include "udp_peer.h"

namespace arduino::testing {
namespace {

// Ethernet to the peer; of all pins and inputs only analog input A0 is used.
std::string AnalogOnlyBlock(uint16_t port) {
  return SettingsText({"0", "1", "9600", "127.0.0.1", std::to_string(port), "0", "0", "0", "0", "0",
                       "0", "0", "0", "1", "0", "0", "0", "0", "0"});
}

TEST(ErrorBoundaryTest, BadAnalogReplyRaisesEConvertErrorWithItsText) {
  harness::AnsweringPeer board(
      [](const std::string& command) { return command == "?14s?" ? "1,5" : "OK"; });
  DllBlock block;
  block.Configure(AnalogOnlyBlock(board.port()));
  std::vector<uint8_t> inputs(ARDUINO_BLOCK_INPUTS * ARDUINO_BLOCK_EXTENDED_SIZE);
  std::vector<uint8_t> outputs(ARDUINO_BLOCK_OUTPUTS * ARDUINO_BLOCK_EXTENDED_SIZE);

  auto error = CatchBlockError(
      [&] { Dll().InitSimulationDLL(block.record(), inputs.data(), outputs.data()); });
  ASSERT_TRUE(error) << "no structured exception";
  EXPECT_EQ(error->class_name, "EConvertError");
  EXPECT_EQ(error->message, "'1,5' ist kein g\xfcltiger Gleitkommawert");
  EXPECT_EQ(board.commands(), (std::vector<std::string>{"!14mi", "?14s?"}));

  // The next step fails the same way: nothing was left half-done.
  error = CatchBlockError(
      [&] { Dll().SimulateDLL(Lead12{}, block.record(), inputs.data(), outputs.data()); });
  ASSERT_TRUE(error);
  EXPECT_EQ(error->message, "'1,5' ist kein g\xfcltiger Gleitkommawert");
}

TEST(ErrorBoundaryTest, RecordOfADisposedBlockRaisesException) {
  DllBlock block;
  block.Dispose();
  ScratchFile file;
  auto error = CatchBlockError([&] { Dll().WriteToFile(file.handle(), block.record()); });
  ASSERT_TRUE(error);
  EXPECT_EQ(error->class_name, "Exception");
  EXPECT_EQ(error->message, "The block record does not belong to a live block");
  EXPECT_EQ(file.Contents(), "") << "nothing is written for a dead block";
}

TEST(ErrorBoundaryTest, CallThatSucceedsRaisesNothing) {
  DllBlock block;
  ScratchFile file;
  EXPECT_FALSE(CatchBlockError([&] { Dll().WriteToFile(file.handle(), block.record()); }));
  EXPECT_EQ(file.Contents().size(), 75u);
}

}  // namespace
}  // namespace arduino::testing
