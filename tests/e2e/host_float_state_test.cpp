// The built library under a host's floating-point state that is not C's: a
// host may unmask invalid operation, zero divide and overflow (as Object
// Pascal does) or lower the x87 precision (as many C hosts on Windows do).
// Every export must then run as under C's default, trap on nothing, and
// return with the host's control and status words exactly as it found them.
#include <fenv.h>
#include <fpu_control.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "e2e_harness.h"
#include "udp_peer.h"

namespace e2e {
namespace {

#if defined(__x86_64__) || defined(__i386__)

using Lines = std::vector<std::string>;

// The pin modes of the settings block.
constexpr int kUnused = 0;
constexpr int kDigitalInput = 1;
constexpr int kDigitalOutput = 2;
constexpr int kPwmOutput = 3;

// The three exceptions that a Pascal host leaves unmasked.
constexpr int kHostTraps = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW;

struct FloatState {
  uint16_t control = 0;
  uint16_t status = 0;
  uint32_t mxcsr = 0;

  bool operator==(const FloatState&) const = default;
};

std::ostream& operator<<(std::ostream& out, const FloatState& state) {
  char text[64];
  std::snprintf(text, sizeof text, "control %04X status %04X mxcsr %08X", state.control,
                state.status, state.mxcsr);
  return out << text;
}

FloatState CurrentState() {
  FloatState state;
  asm volatile("fnstcw %0" : "=m"(state.control));
  asm volatile("fnstsw %0" : "=m"(state.status));
  asm volatile("stmxcsr %0" : "=m"(state.mxcsr));
  return state;
}

// A trap inside the library would end the program; say so instead of
// leaving a bare signal.
void ReportTrap(int) {
  static const char text[] = "floating-point exception trapped inside the library\n";
  (void)!write(2, text, sizeof text - 1);
  _exit(1);
}

// Runs `call` as the host would: under the host's state, with a flag of the
// host's own left set (inexact, masked) that must still be set afterwards.
// Returns the state seen after the call, once C's default is back in force
// for the test's own code.  An error from the library is passed on.
class HostState {
 public:
  // `traps` are unmasked; `precision` is the x87 precision control.
  explicit HostState(int traps = kHostTraps, fpu_control_t precision = _FPU_EXTENDED)
      : traps_(traps), precision_(precision) {}

  template <class Call>
  void Run(Call call) {
    Enter();
    try {
      call();
    } catch (...) {
      Leave();
      throw;
    }
    Leave();
  }

  FloatState before() const { return before_; }
  FloatState after() const { return after_; }

 private:
  void Enter() {
    signal(SIGFPE, ReportTrap);
    fpu_control_t control;
    _FPU_GETCW(control);
    control = (control & ~_FPU_EXTENDED) | precision_;
    _FPU_SETCW(control);
    feclearexcept(FE_ALL_EXCEPT);
    feraiseexcept(FE_INEXACT);
    feenableexcept(traps_);
    before_ = CurrentState();
  }

  void Leave() {
    after_ = CurrentState();
    fedisableexcept(FE_ALL_EXCEPT);
    feclearexcept(FE_ALL_EXCEPT);
    fpu_control_t control;
    _FPU_GETCW(control);
    control = (control & ~_FPU_EXTENDED) | _FPU_EXTENDED;
    _FPU_SETCW(control);
    signal(SIGFPE, SIG_DFL);
  }

  int traps_;
  fpu_control_t precision_;
  FloatState before_;
  FloatState after_;
};

// An 80-bit value from its parts, for the encodings that no literal gives.
std::vector<uint8_t> Encoded(uint64_t mantissa, uint16_t sign_and_exponent) {
  std::vector<uint8_t> bytes(ARDUINO_BLOCK_EXTENDED_SIZE);
  std::memcpy(bytes.data(), &mantissa, sizeof mantissa);
  std::memcpy(bytes.data() + 8, &sign_and_exponent, sizeof sign_and_exponent);
  return bytes;
}

std::vector<uint8_t> Encoded(long double value) {
  std::vector<uint8_t> bytes(ARDUINO_BLOCK_EXTENDED_SIZE);
  std::memcpy(bytes.data(), &value, bytes.size());
  return bytes;
}

struct InputCase {
  const char* name;
  std::vector<uint8_t> bytes;
  const char* digital;  // what a digital output pin sends
  const char* pwm;      // what a PWM pin sends after "pwm05"
};

std::vector<InputCase> InputCases() {
  using Limits = std::numeric_limits<long double>;
  return {
      {"quiet NaN", Encoded(Limits::quiet_NaN()), "!05s0", "w0000"},
      {"negative quiet NaN", Encoded(-Limits::quiet_NaN()), "!05s0", "w0000"},
      {"signalling NaN", Encoded(0xA000000000000000ull, 0x7FFF), "!05s0", "w0000"},
      {"positive infinity", Encoded(Limits::infinity()), "!05s1", "w1023"},
      {"negative infinity", Encoded(-Limits::infinity()), "!05s0", "w0000"},
      {"1e4000", Encoded(1e4000L), "!05s1", "w1023"},
      {"-1e4000", Encoded(-1e4000L), "!05s0", "w0000"},
      {"smallest denormal", Encoded(1, 0), "!05s0", "w0000"},
      {"largest denormal", Encoded(0x7FFFFFFFFFFFFFFFull, 0), "!05s0", "w0000"},
      {"negative denormal", Encoded(1, 0x8000), "!05s0", "w0000"},
      {"negative zero", Encoded(-0.0L), "!05s0", "w0000"},
      {"largest finite", Encoded(Limits::max()), "!05s1", "w1023"},
  };
}

// Pin 5 as `mode`, A0 used when `analog`; everything else unused.
BlockSettings PinFive(int mode, bool analog, uint16_t port) {
  BlockSettings settings;
  settings.pin_mode.fill(0);
  settings.pin_mode[5 - 2] = mode;
  settings.analog_used.fill(0);
  settings.analog_used[0] = analog ? 1 : 0;
  settings.udp_port = port;
  return settings;
}

class HostFloatStateTest : public ::testing::Test {
 protected:
  // Runs a step with `input` on pin 5 in `mode` under the host's state and
  // returns the commands of the step.
  Lines StepWith(int mode, const std::vector<uint8_t>& input, HostState* host,
                 std::vector<uint8_t>* written_back = nullptr) {
    harness::AnsweringPeer board([](const std::string& command) -> std::optional<std::string> {
      if (command == "?05s?") return std::string("HIGH");
      return std::string("OK");
    });
    LoadedBlock block(Module());
    block.Configure(PinFive(mode, false, board.port()));
    Values inputs(ARDUINO_BLOCK_INPUTS, 0.0L);
    Values outputs(ARDUINO_BLOCK_OUTPUTS, -1.0L);
    auto* pin5 = static_cast<uint8_t*>(inputs.data()) + 3 * ARDUINO_BLOCK_EXTENDED_SIZE;
    SimulationRun run(&block);
    run.Init(&inputs, &outputs);
    const size_t before = board.commands().size();
    std::memcpy(pin5, input.data(), input.size());
    host->Run([&] { run.Step(&inputs, &outputs); });
    if (written_back) written_back->assign(pin5, pin5 + ARDUINO_BLOCK_EXTENDED_SIZE);
    Lines commands = board.commands();
    return Lines(commands.begin() + before, commands.end());
  }
};

TEST_F(HostFloatStateTest, EveryInputOnEveryPinModeStepsWithoutATrap) {
  for (const InputCase& c : InputCases()) {
    SCOPED_TRACE(c.name);
    HostState host;
    EXPECT_EQ(StepWith(kDigitalOutput, c.bytes, &host), Lines{c.digital});
    EXPECT_EQ(host.after(), host.before());

    std::vector<uint8_t> written_back;
    EXPECT_EQ(StepWith(kPwmOutput, c.bytes, &host, &written_back), (Lines{"pwm05", c.pwm}));
    EXPECT_EQ(host.after(), host.before());
    long double clamped = 0.0L;
    std::memcpy(&clamped, written_back.data(), ARDUINO_BLOCK_EXTENDED_SIZE);
    EXPECT_TRUE(clamped >= 0.0L && clamped <= 1023.0L) << "the PWM input is written back clamped";

    // Digital input and unused pins never look at the input.
    EXPECT_EQ(StepWith(kDigitalInput, c.bytes, &host), Lines{"?05s?"});
    EXPECT_EQ(host.after(), host.before());
    EXPECT_EQ(StepWith(kUnused, c.bytes, &host), Lines{});
    EXPECT_EQ(host.after(), host.before());
  }
}

TEST_F(HostFloatStateTest, AnUnsupportedEncodingStepsWithoutATrap) {
  // Exponent set but no integer bit: the x87 unit refuses to compute with
  // it, which is an invalid operation.  What the pin sends is whatever the
  // masked comparison gives; what matters is that nothing traps.
  const std::vector<uint8_t> unnormal = Encoded(0x4000000000000000ull, 0x4000);
  for (int mode : {kDigitalOutput, kPwmOutput}) {
    HostState host;
    Lines commands = StepWith(mode, unnormal, &host);
    EXPECT_FALSE(commands.empty());
    EXPECT_EQ(host.after(), host.before());
  }
}

TEST_F(HostFloatStateTest, RepliesOutOfRangeConvertWithoutATrap) {
  struct ReplyCase {
    const char* reply;
    std::optional<long double> value;  // none: the step raises EConvertError
  };
  for (const ReplyCase& c : {ReplyCase{"1e5000", std::nullopt}, ReplyCase{"-1e5000", std::nullopt},
                             ReplyCase{"1e-5000", 0.0L}, ReplyCase{"-1e-5000", -0.0L},
                             ReplyCase{"1e-4940", 1e-4940L}, ReplyCase{"1023", 1023.0L}}) {
    SCOPED_TRACE(c.reply);
    const std::string reply = c.reply;
    harness::AnsweringPeer board([reply](const std::string& command) -> std::optional<std::string> {
      return command == "?14s?" ? reply : "OK";
    });
    LoadedBlock block(Module());
    block.Configure(PinFive(kUnused, true, board.port()));
    Values inputs(ARDUINO_BLOCK_INPUTS, 0.0L);
    Values outputs(ARDUINO_BLOCK_OUTPUTS, -1.0L);
    SimulationRun run(&block);
    HostState host;
    if (c.value) {
      host.Run([&] { run.Init(&inputs, &outputs); });
      EXPECT_EQ(outputs[8], *c.value);
      EXPECT_EQ(std::signbit(outputs[8]), std::signbit(*c.value));
    } else {
      EXPECT_THROW(host.Run([&] { run.Init(&inputs, &outputs); }), EConvertError);
    }
    EXPECT_EQ(host.after(), host.before()) << "the error path gives the host its state back too";
  }
}

TEST_F(HostFloatStateTest, EveryOtherExportLeavesTheHostsStateAsItWas) {
  harness::AnsweringPeer board([](const std::string&) { return std::string("OK"); });
  // Loaded first: the system libraries that come with it are no business of
  // the block's.
  const harness::BlockExports& exports = Module();
  HostState host;
  std::optional<LoadedBlock> block;
  host.Run([&] { block.emplace(exports); });
  EXPECT_EQ(host.after(), host.before()) << "InitUserDLL";
  host.Run([&] { block->Configure(PinFive(kPwmOutput, false, board.port())); });
  EXPECT_EQ(host.after(), host.before()) << "ReadFromFile";
  int32_t can = 0;
  host.Run([&] { can = exports.CanSimulateDLL(block->record()); });
  EXPECT_EQ(can, 1);
  EXPECT_EQ(host.after(), host.before()) << "CanSimulateDLL";
  host.Run([&] { exports.EndSimulationDLL2(block->record()); });
  EXPECT_EQ(host.after(), host.before()) << "EndSimulationDLL2";
  host.Run([&] { block.reset(); });
  EXPECT_EQ(host.after(), host.before()) << "DisposeUserDLL";
  // A record that belongs to no block: the error path.
  std::vector<uint8_t> stray(hostmodel::kBlockRecordSize, 0);
  EXPECT_THROW(host.Run([&] { exports.EndSimulationDLL2(stray.data()); }), Exception);
  EXPECT_EQ(host.after(), host.before()) << "an export that fails";
}

TEST_F(HostFloatStateTest, LowerHostPrecisionStillRoundsWithAllSixtyFourBits) {
  // 510.5 + 2^-54 lies just above the tie: with 64-bit precision its
  // fraction is above one half and it rounds up; a host's 53-bit precision
  // would round the fraction itself to the tie, and the even neighbour 510
  // would go to the board.
  const long double just_above_tie = 510.5L + std::ldexp(1.0L, -54);
  for (fpu_control_t precision : {_FPU_DOUBLE, _FPU_SINGLE}) {
    HostState host(0, precision);
    EXPECT_EQ(StepWith(kPwmOutput, Encoded(just_above_tie), &host), (Lines{"pwm05", "w0511"}));
    EXPECT_EQ(host.after(), host.before());
    EXPECT_EQ(host.before().control & _FPU_EXTENDED, precision) << "the host's precision stays";
  }
}

TEST_F(HostFloatStateTest, HostCodeThatTheWaitDispatchesRunsUnderTheHostsState) {
  // The host's own event source, run by the pump pass of the step's reply
  // wait: its code must see the host's control word, not the block's.
  harness::AnsweringPeer silent([](const std::string&) { return std::nullopt; });
  LoadedBlock block(Module());
  block.Configure(PinFive(kDigitalInput, false, silent.port()));
  Values inputs(ARDUINO_BLOCK_INPUTS, 0.0L);
  Values outputs(ARDUINO_BLOCK_OUTPUTS, -1.0L);
  SimulationRun run(&block);
  run.Init(&inputs, &outputs);

  std::optional<FloatState> seen;
  guint source = g_idle_add(
      [](gpointer data) -> gboolean {
        *static_cast<std::optional<FloatState>*>(data) = CurrentState();
        return G_SOURCE_REMOVE;
      },
      &seen);
  HostState host;
  host.Run([&] { run.Step(&inputs, &outputs); });
  if (!seen) g_source_remove(source);
  ASSERT_TRUE(seen) << "the wait ran no pump pass";
  EXPECT_EQ(*seen, host.before());
  EXPECT_EQ(host.after(), host.before());
}

#else

TEST(HostFloatStateTest, NeedsAnX86Processor) { GTEST_SKIP() << "x87 state is x86 only"; }

#endif

}  // namespace
}  // namespace e2e
