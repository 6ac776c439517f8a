// Block instances and the description exports.
#include <gtest/gtest.h>

#include "base/application.h"
#include "link/NMUDP.h"
#include "settings_fields.h"
#include "test_support.h"

namespace arduino {
namespace {

using testing::HostBlock;
using testing::kHostFill;

TEST(BlockTest, NewBlockHasTheDefaults) {
  HostBlock block;
  TUserData& d = block.data();
  EXPECT_EQ(testing::FieldsOf(d), testing::DefaultFields());
  EXPECT_FALSE(d.ReplyReceived);
  EXPECT_TRUE(d.ReplyText.empty());
  ASSERT_TRUE(d.Dummy);
  EXPECT_EQ(d.Dummy->UserData, &d);
  ASSERT_TRUE(d.Udp);
  EXPECT_EQ(d.Udp->LocalPort(), 1600);
}

TEST(BlockTest, InitTouchesOnlyTheUserDataSlot) {
  HostBlock block(0x12345678);
  const auto& bytes = block.bytes();
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i >= ARDUINO_BLOCK_USERDATA_OFFSET && i < ARDUINO_BLOCK_USERDATA_OFFSET + 4) continue;
    if (i >= ARDUINO_BLOCK_APPHANDLE_OFFSET && i < ARDUINO_BLOCK_APPHANDLE_OFFSET + 4) continue;
    ASSERT_EQ(bytes[i], kHostFill) << "byte " << i;
  }
  EXPECT_NE(block.key(), 0u);
  EXPECT_EQ(Application().OwnerWindow(), 0x12345678u);
}

TEST(BlockTest, KeysAreNeverReused) {
  if (sizeof(void*) == sizeof(uint32_t)) {
    GTEST_SKIP() << "on 32-bit systems the key is the block's address, which a later block may "
                    "get again";
  }
  uint32_t first_key;
  {
    HostBlock first;
    first_key = first.key();
  }
  HostBlock second;
  EXPECT_NE(second.key(), first_key);
  EXPECT_NE(second.key(), 0u);
}

TEST(BlockTest, DisposedBlockIsRefusedNotTouched) {
  HostBlock block;
  block.Dispose();
  EXPECT_THROW(block.data(), Exception);
  EXPECT_THROW(WriteToFile(0, block.record()), Exception);
}

TEST(BlockTest, OwnerWindowStaysWhileAnyBlockLives) {
  HostBlock first(0x100);
  {
    HostBlock second(0x100);
    second.Dispose();
    EXPECT_EQ(Application().OwnerWindow(), 0x100u);
  }
  first.Dispose();
  EXPECT_EQ(Application().OwnerWindow(), 0u);
}

TEST(DescriptionTest, EightInputsFourteenOutputsWhateverTheSettings) {
  HostBlock block;
  for (int pin = 2; pin <= 9; ++pin) block.data().PinMode[pin] = pmUnused;
  block.data().AnalogUsed.fill(0);
  std::vector<uint8_t> d(ARDUINO_BLOCK_IO_DESCRIPTION_SIZE + 64, kHostFill);
  GetNumberOfInputsOutputs(d.data());
  EXPECT_EQ(d[0], 8);
  EXPECT_EQ(d[1], 14);
  auto name_at = [&](size_t offset) { return std::string(reinterpret_cast<char*>(&d[offset])); };
  EXPECT_EQ(name_at(2), "Pin2");
  EXPECT_EQ(name_at(2 + 41 * 7), "Pin9");
  EXPECT_EQ(d[2 + 41 * 8], kHostFill) << "input slots stop at index 7";
  EXPECT_EQ(name_at(2052), "Pin2");
  EXPECT_EQ(name_at(2052 + 41 * 8), "Analog Input A0");
  EXPECT_EQ(name_at(2052 + 41 * 13), "Analog Input A5");
  EXPECT_EQ(d[2052 + 41 * 14], kHostFill) << "output slots stop at index 13";
  // Bytes after each name's zero are the host's.
  EXPECT_EQ(d[2 + 5], kHostFill);
  EXPECT_EQ(d[2052 + 41 * 8 + 16], kHostFill);
}

// The header's names hold the host's layout; a changed value would move
// bytes the host reads.
constexpr uint8_t kParameterLead[] = {ARDUINO_BLOCK_PARAMETER_LEAD_BYTES};
static_assert(sizeof kParameterLead == 3 && kParameterLead[0] == 0 && kParameterLead[1] == 1 &&
              kParameterLead[2] == 0);
static_assert(ARDUINO_BLOCK_PARAMETER_FIELD_OFFSET == 323);
static_assert(ARDUINO_BLOCK_DIALOG_ENABLE_FIELDS == 3 &&
              ARDUINO_BLOCK_DIALOG_ENABLE_BYTE_OFFSET == 12);

TEST(DescriptionTest, RecordsGetExactlyTheirBytes) {
  std::vector<uint8_t> parameters(400, kHostFill);
  GetParameterStruct(parameters.data());
  const size_t field = ARDUINO_BLOCK_PARAMETER_FIELD_OFFSET;
  for (size_t i = 0; i < parameters.size(); ++i) {
    uint8_t expected = kHostFill;
    if (i < sizeof kParameterLead) expected = kParameterLead[i];
    if (i >= field && i < field + 4) expected = 0;
    EXPECT_EQ(parameters[i], expected) << "parameter byte " << i;
  }
  std::vector<uint8_t> enable(32, kHostFill);
  GetDialogEnableStruct(enable.data(), 0);
  const size_t fields_end = 4 * ARDUINO_BLOCK_DIALOG_ENABLE_FIELDS;
  for (size_t i = 0; i < enable.size(); ++i) {
    uint8_t expected = kHostFill;
    if (i < fields_end) expected = 0xff;
    if (i == ARDUINO_BLOCK_DIALOG_ENABLE_BYTE_OFFSET) expected = 1;
    EXPECT_EQ(enable[i], expected) << "dialog-enable byte " << i;
  }
}

TEST(DescriptionTest, NameAndLabels) {
  EXPECT_STREQ(GetDLLName(), "Arduino");
  EXPECT_STREQ(SetInputChar(), "23456789");
  EXPECT_STREQ(SetOutputChar(), "23456789A&0A&1A&2A&3A&4A&5");
}

}  // namespace
}  // namespace arduino
