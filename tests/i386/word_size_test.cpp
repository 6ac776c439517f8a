// What only a 32-bit x86 build shows: the UserData slot holding the block's
// pointer, 10-byte values through 12-byte long doubles, and the host's x87
// words around an export.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "arduino_block.h"
#include "base/extended.h"
#include "block/block_record.h"
#include "block_record.h"
#include "fake_platform.h"

static_assert(sizeof(void*) == 4, "a test of the i386 build (cmake --preset i386)");
static_assert(sizeof(long double) == 12, "i386 pads the 10-byte x87 value to 12 bytes");

namespace arduino {
namespace {

using hostmodel::BlockRecord;
using Bytes = std::vector<uint8_t>;
using Limits = std::numeric_limits<long double>;
constexpr uint8_t kFill = 0xA5;
constexpr size_t kSlot = ARDUINO_BLOCK_USERDATA_OFFSET;

// The slot holds each block's own pointer, yet a record still reaches only
// a block the table knows.
TEST(UserDataSlotTest, HoldsTheBlocksPointerAndNamesOnlyALiveBlock) {
  std::vector<BlockRecord> records(2, BlockRecord(kFill));
  for (BlockRecord& record : records) {
    InitUserDLL(record.data());
    EXPECT_EQ(record.UserDataSlot(), reinterpret_cast<uintptr_t>(&UserDataOf(record.data())));
    EXPECT_EQ(record.bytes()[kSlot - 1], kFill);
    EXPECT_EQ(record.bytes()[kSlot + 4], kFill);
  }
  DisposeUserDLL(records[1].data());
  for (uint32_t slot :
       {0xA5A5A5A5u, 0u, records[1].UserDataSlot(), records[0].UserDataSlot() + 4}) {
    BlockRecord record(kFill);
    std::memcpy(static_cast<uint8_t*>(record.data()) + kSlot, &slot, sizeof slot);
    EXPECT_THROW(CanSimulateDLL(record.data()), Exception) << std::hex << slot;
  }
  DisposeUserDLL(records[0].data());
}

// A long double here is two bytes longer than the host's value: a write
// that copied the whole of it would overwrite the next value of the array.
TEST(ExtendedInTwelveBytesTest, AValueTakesItsTenBytesOfThePackedArray) {
  const std::pair<long double, Bytes> cases[] = {
      {-1023.0L, {0, 0, 0, 0, 0, 0, 0xC0, 0xFF, 0x08, 0xC0}},
      {-0.0L, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80}},
      {Limits::infinity(), {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x7F}},
      {Limits::max(), {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0x7F}},
      {Limits::denorm_min(), {1, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (const auto& [value, bytes] : cases) {
    Bytes array(3 * kExtendedSize, kFill), expected(3 * kExtendedSize, kFill);
    WriteValue(array.data(), 1, value);
    std::memcpy(expected.data() + 10, bytes.data(), 10);
    EXPECT_EQ(array, expected) << static_cast<double>(value);
    const long double read = ReadValue(array.data(), 1);
    EXPECT_EQ(std::memcmp(&read, bytes.data(), 10), 0) << static_cast<double>(value);
  }
}

// The x87 control, status and tag words as fnstenv stores them, and MXCSR.
struct FloatWords {
  uint16_t control, status, tag;
  uint32_t mxcsr;
  bool operator==(const FloatWords&) const = default;
};

FloatWords CurrentWords() {
  uint16_t environment[14];
  // fnstenv masks every exception after it stores: fldenv puts them back.
  asm volatile("fnstenv %0\n\tfldenv %0" : "+m"(environment));
  FloatWords words{environment[0], environment[2], environment[4], 0};
  asm volatile("stmxcsr %0" : "=m"(words.mxcsr));
  return words;
}

void PutHostState(uint16_t control, uint32_t mxcsr, bool precision_flag = false) {
  asm volatile("fninit\n\tfldcw %0\n\tldmxcsr %1" ::"m"(control), "m"(mxcsr) : "memory");
  // Masked in every state here, as host code that rounded a value leaves it.
  volatile long double third = 1.0L;
  if (precision_flag) third = third / 3.0L;
}

// Pascal's $1332 unmasks invalid operation, zero divide and overflow, so the
// NaN compares of a step and its overflowing reply would trap if the library
// ran under it.  Under qemu-i386 no x87 exception traps at all, so these
// cases never count on a trap: they compare the words.
TEST(ExportFloatStateTest, TheHostsWordsAroundAndInsideAStepComeBackAsTheyWere) {
  // The host's control word and MXCSR, and whether a masked flag is set.
  const std::tuple<const char*, uint16_t, uint32_t, bool> hosts[] = {
      {"C's", 0x037F, 0x1F80, false},
      {"Pascal's", 0x1332, 0x1900, false},
      {"Pascal's, the precision flag set", 0x1332, 0x1900, true},
  };
  // Every analog input's reply, whether the step raises, its commands, A0's bytes.
  const std::tuple<std::string, bool, size_t, Bytes> steps[] = {
      {"1.5", false, 14, {0, 0, 0, 0, 0, 0, 0, 0xC0, 0xFF, 0x3F}},
      {"1e5000", true, 9, Bytes(10, kFill)},
  };
  BlockRecord record(kFill);
  InitUserDLL(record.data());
  Bytes inputs(ARDUINO_BLOCK_INPUTS * kExtendedSize, kFill);
  // The digital outputs, pins 6 to 9, compare these with the threshold.
  for (size_t i = 4; i < 8; ++i)
    WriteValue(inputs.data(), i, i % 2 ? Limits::quiet_NaN() : -Limits::infinity());
  std::vector<std::pair<uint16_t, uint32_t>> in_library;
  std::string analog = "0";
  fakes::SetBoard([&](const std::string& command) -> std::optional<std::string> {
    in_library.push_back({CurrentWords().control, CurrentWords().mxcsr});
    return command[0] != '?' ? "OK" : command[1] == '1' ? analog : "HIGH";
  });
  Bytes outputs(ARDUINO_BLOCK_OUTPUTS * kExtendedSize, kFill);
  InitSimulationDLL(record.data(), inputs.data(), outputs.data());

  for (const auto& [host, control, mxcsr, flag_set] : hosts) {
    for (const auto& [reply, raises, commands, a0] : steps) {
      SCOPED_TRACE(std::string(host) + " state, replies " + reply);
      analog = reply;
      in_library.clear();
      outputs.assign(outputs.size(), kFill);
      std::vector<FloatWords> in_host_code;
      fakes::PostHostCode([&in_host_code] { in_host_code.push_back(CurrentWords()); });
      PutHostState(control, mxcsr, flag_set);
      const FloatWords before = CurrentWords();
      bool raised = false;
      try {
        SimulateDLL(Lead12{}, record.data(), inputs.data(), outputs.data());
      } catch (const EConvertError&) {
        raised = true;
      }
      const FloatWords after = CurrentWords();
      PutHostState(0x037F, 0x1F80);  // the test program's own

      EXPECT_EQ((before.status & 0x20) != 0, flag_set);
      EXPECT_EQ(after, before);
      EXPECT_EQ(in_host_code, std::vector<FloatWords>{before});
      EXPECT_EQ(raised, raises);
      EXPECT_EQ(in_library, decltype(in_library)(commands, {0x037F, 0x1F80}));
      EXPECT_EQ(Bytes(outputs.begin() + 80, outputs.begin() + 90), a0);
    }
  }
  fakes::SetBoard(nullptr);
  DisposeUserDLL(record.data());
}

}  // namespace
}  // namespace arduino
