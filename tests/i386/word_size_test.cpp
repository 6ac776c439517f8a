// What a 32-bit x86 build of the library does that a 64-bit one never
// shows: the record's UserData slot holds the block's own pointer, each
// 10-byte value of the host's arrays goes through a 12-byte long double,
// and every export runs under the block's x87 state whatever the host's,
// giving the host its own back word for word.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "arduino_block.h"
#include "base/extended.h"
#include "block/block_record.h"
#include "block_record.h"
#include "fake_platform.h"

#if !defined(__i386__)
#error "word_size_test is a test of the i386 build (cmake --preset i386)"
#endif

static_assert(sizeof(void*) == 4, "the record's slot holds the pointer only where it fits");
static_assert(sizeof(long double) == 12, "i386 pads the 10-byte x87 value to 12 bytes");

namespace arduino {
namespace {

using hostmodel::BlockRecord;
using Bytes = std::vector<uint8_t>;
constexpr uint8_t kFill = 0xA5;
constexpr size_t kSlot = ARDUINO_BLOCK_USERDATA_OFFSET;

TEST(UserDataSlotTest, HoldsEachBlocksOwnPointerAndNothingBeside) {
  std::vector<BlockRecord> records(3, BlockRecord(kFill));
  for (BlockRecord& record : records) InitUserDLL(record.data());
  for (size_t i = 0; i < records.size(); ++i) {
    const uint32_t slot = records[i].UserDataSlot();
    EXPECT_EQ(slot, reinterpret_cast<uintptr_t>(&UserDataOf(records[i].data()))) << i;
    EXPECT_EQ(records[i].bytes()[kSlot - 1], kFill) << i;
    EXPECT_EQ(records[i].bytes()[kSlot + 4], kFill) << i;
    if (i > 0) {
      EXPECT_NE(slot, records[i - 1].UserDataSlot());
    }
  }
  for (BlockRecord& record : records) DisposeUserDLL(record.data());
  EXPECT_EQ(LiveBlockCount(), 0u);
}

// A pointer for a key must not let a record reach memory that is no live
// block: the table is still asked.
TEST(UserDataSlotTest, ASlotNamingNoLiveBlockIsRefused) {
  BlockRecord live(kFill), gone(kFill);
  InitUserDLL(live.data());
  InitUserDLL(gone.data());
  const uint32_t gone_key = gone.UserDataSlot();
  DisposeUserDLL(gone.data());
  const struct {
    const char* name;
    uint32_t slot;
  } cases[] = {
      {"the host's fill", 0xA5A5A5A5u},
      {"zero", 0},
      {"a disposed block's pointer", gone_key},
      {"a pointer into a live block", live.UserDataSlot() + 4},
  };
  for (const auto& c : cases) {
    BlockRecord record(kFill);
    std::memcpy(static_cast<uint8_t*>(record.data()) + kSlot, &c.slot, sizeof c.slot);
    EXPECT_THROW(CanSimulateDLL(record.data()), Exception) << c.name;
  }
  EXPECT_EQ(CanSimulateDLL(live.data()), 1);
  DisposeUserDLL(live.data());
}

struct ExtendedCase {
  const char* name;
  long double value;
  Bytes bytes;
};

const ExtendedCase kExtendedCases[] = {
    {"1", 1.0L, {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F}},
    {"-1023", -1023.0L, {0, 0, 0, 0, 0, 0, 0xC0, 0xFF, 0x08, 0xC0}},
    {"-0", -0.0L, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80}},
    {"infinity",
     std::numeric_limits<long double>::infinity(),
     {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x7F}},
    {"the largest",
     std::numeric_limits<long double>::max(),
     {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0x7F}},
    {"the smallest denormal",
     std::numeric_limits<long double>::denorm_min(),
     {1, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
};

// A long double here is two bytes longer than the host's value: a write
// that copied the whole of it would overwrite the next value of the array.
TEST(ExtendedInTwelveBytesTest, AValueTakesItsTenBytesOfThePackedArray) {
  for (const ExtendedCase& c : kExtendedCases) {
    Bytes array(3 * kExtendedSize, kFill);
    WriteValue(array.data(), 1, c.value);
    EXPECT_EQ(Bytes(array.begin() + 10, array.begin() + 20), c.bytes) << c.name;
    EXPECT_EQ(Bytes(array.begin(), array.begin() + 10), Bytes(10, kFill)) << c.name;
    EXPECT_EQ(Bytes(array.begin() + 20, array.end()), Bytes(10, kFill)) << c.name;

    const long double read = ReadValue(array.data(), 1);
    unsigned char read_bytes[sizeof read];
    std::memcpy(read_bytes, &read, sizeof read);
    EXPECT_EQ(Bytes(read_bytes, read_bytes + 10), c.bytes) << c.name;
  }
}

// What code can see of the floating-point state: the x87 control, status and
// tag words as fnstenv stores them, and MXCSR.
struct FloatWords {
  uint16_t control, status, tag;
  uint32_t mxcsr;
  bool operator==(const FloatWords&) const = default;
};

std::ostream& operator<<(std::ostream& out, const FloatWords& w) {
  return out << std::hex << "{control " << w.control << ", status " << w.status << ", tag " << w.tag
             << ", mxcsr " << w.mxcsr << "}";
}

struct X87Environment {
  unsigned char bytes[28];
};

FloatWords CurrentWords() {
  X87Environment environment;
  asm volatile("fnstenv %0" : "=m"(environment));
  // fnstenv has just masked every exception: the state as it was comes back.
  asm volatile("fldenv %0" ::"m"(environment));
  FloatWords words{};
  std::memcpy(&words.control, environment.bytes, 2);
  std::memcpy(&words.status, environment.bytes + 4, 2);
  std::memcpy(&words.tag, environment.bytes + 8, 2);
  asm volatile("stmxcsr %0" : "=m"(words.mxcsr));
  return words;
}

void PutHostState(uint16_t control, uint32_t mxcsr) {
  asm volatile("fninit" ::: "memory");
  asm volatile("fldcw %0" ::"m"(control));
  asm volatile("ldmxcsr %0" ::"m"(mxcsr));
}

// Sets the x87 precision flag, which every host state here masks, as host
// code that rounded a value leaves it.
void RaisePrecisionFlag() {
  volatile long double third = 1.0L;
  third = third / 3.0L;
}

struct HostState {
  const char* name;
  uint16_t control;
  uint32_t mxcsr;
  bool flag_pending;
};

// Pascal's $1332 unmasks invalid operation, zero divide and overflow, so
// the library's NaN compares and its overflowing conversions would trap if
// they ran under it.  Under qemu-i386 no x87 exception ever traps, so these
// cases do not count on a trap: they compare the words.
const HostState kHostStates[] = {
    {"C's $037F", 0x037F, 0x1F80, false},
    {"Pascal's $1332", 0x1332, 0x1900, false},
    {"Pascal's $1332 with the precision flag set", 0x1332, 0x1900, true},
};

constexpr long double kNaN = std::numeric_limits<long double>::quiet_NaN();
constexpr long double kInf = std::numeric_limits<long double>::infinity();

class ExportFloatStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = CurrentWords();
    InitUserDLL(record_.data());
    AnswerWith("0");
    Bytes inputs(ARDUINO_BLOCK_INPUTS * kExtendedSize, 0),
        outputs(ARDUINO_BLOCK_OUTPUTS * kExtendedSize);
    InitSimulationDLL(record_.data(), inputs.data(), outputs.data());
  }
  void TearDown() override {
    fakes::SetBoard(nullptr);
    PutHostState(saved_.control, saved_.mxcsr);
    DisposeUserDLL(record_.data());
  }

  // Answers every command as a board on the default pins would, the analog
  // inputs with `analog`; notes the state that the library's code runs under.
  void AnswerWith(std::string analog) {
    fakes::SetBoard([this, analog](const std::string& command) -> std::optional<std::string> {
      const FloatWords now = CurrentWords();
      in_library_.push_back({now.control, now.mxcsr});
      if (command[0] != '?') return std::string("OK");
      return command[1] == '1' ? analog : std::string(command[2] == '3' ? "LOW" : "HIGH");
    });
  }

  BlockRecord record_{kFill};
  std::vector<std::pair<uint16_t, uint32_t>> in_library_;

 private:
  FloatWords saved_{};
};

TEST_F(ExportFloatStateTest, TheHostsWordsAroundAndInsideAStepComeBackAsTheyWere) {
  const struct {
    const char* name;
    const char* analog_reply;
    bool raises;
    Bytes a0;
  } steps[] = {
      {"a step", "1.5", false, {0, 0, 0, 0, 0, 0, 0, 0xC0, 0xFF, 0x3F}},
      {"a step whose reply underflows", "1e-5000", false, Bytes(10, 0)},
      {"a step whose reply overflows", "1e5000", true, Bytes(10, kFill)},
  };
  for (const HostState& host : kHostStates) {
    for (const auto& step : steps) {
      AnswerWith(step.analog_reply);
      in_library_.clear();
      // The digital outputs (pins 6 to 9) compare these with the threshold.
      Bytes inputs(ARDUINO_BLOCK_INPUTS * kExtendedSize, kFill);
      for (size_t i = 4; i < 8; ++i) WriteValue(inputs.data(), i, i % 2 ? kNaN : kInf);
      Bytes outputs(ARDUINO_BLOCK_OUTPUTS * kExtendedSize, kFill);

      PutHostState(host.control, host.mxcsr);
      if (host.flag_pending) RaisePrecisionFlag();
      const FloatWords before = CurrentWords();
      EXPECT_EQ((before.status & 0x20) != 0, host.flag_pending) << host.name;
      std::vector<FloatWords> in_host_code;
      fakes::PostHostCode([&in_host_code] { in_host_code.push_back(CurrentWords()); });
      bool raised = false;
      try {
        SimulateDLL(Lead12{}, record_.data(), inputs.data(), outputs.data());
      } catch (const EConvertError&) {
        raised = true;
      }
      const FloatWords after = CurrentWords();
      PutHostState(0x037F, 0x1F80);

      const std::string what = std::string(host.name) + ", " + step.name;
      EXPECT_EQ(after, before) << what;
      EXPECT_EQ(raised, step.raises) << what;
      ASSERT_EQ(in_host_code.size(), 1u) << what;
      EXPECT_EQ(in_host_code[0], before) << what;
      ASSERT_FALSE(in_library_.empty()) << what;
      for (const auto& [control, mxcsr] : in_library_) {
        EXPECT_EQ(control, 0x037F) << what;
        EXPECT_EQ(mxcsr, 0x1F80u) << what;
      }
      EXPECT_EQ(Bytes(outputs.begin() + 8 * kExtendedSize, outputs.begin() + 9 * kExtendedSize),
                step.a0)
          << what;
      fakes::TakeSent();
    }
  }
}

}  // namespace
}  // namespace arduino
