// A long run of one block against boardsim, checking every step: the built
// library loaded as a host loads it, all 8 pins and 6 analog inputs in use,
// the board wiring outputs back to inputs so that every reply can be checked
// against what the block sent.  Made for the sanitizer build and valgrind,
// which find what goes wrong; the program itself finds replies that went to
// the wrong command and memory or descriptors that pile up.
//
//   block_soak [--steps N] [--link udp|pty]
//
// Exit status 0 when every step read what it had to and nothing grew, 1
// otherwise, 2 for bad arguments.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "e2e_harness.h"
#include "process_usage.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kComPort = 9;
constexpr long kWarmUpSteps = 1000;
// Heap that may come and go between two points of a steady run: buffers of
// the socket layer and GLib that are sized on demand.  A leak of even a few
// bytes per step exceeds it long before the run ends.
constexpr size_t kHeapNoiseBytes = 64 * 1024;

// Pins 6, 7 and 8 drive inputs 2, 3 and 4; pin 9 is a PWM output whose
// level comes back on A5.  The other analog inputs are constants and two
// moving sources whose range is known.
const std::vector<std::string> kBoardOptions = {
    "--wire",   "6=2",         "--wire",   "7=3",
    "--wire",   "8=4",         "--analog", "A0=const:100",
    "--analog", "A1=const:0",  "--analog", "A2=const:1023",
    "--analog", "A3=ramp:700", "--analog", "A4=sine:400:512:900",
    "--analog", "A5=pwm:9"};

struct Options {
  long steps = 10000;
  bool serial = false;
};

bool ParseArguments(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (i + 1 >= argc) return false;
    const std::string value = argv[++i];
    if (name == "--steps") {
      char* end = nullptr;
      options->steps = std::strtol(value.c_str(), &end, 10);
      if (*end != '\0' || options->steps < 1) return false;
    } else if (name == "--link" && (value == "udp" || value == "pty")) {
      options->serial = value == "pty";
    } else {
      return false;
    }
  }
  return true;
}

long double Level(long double input) { return input > 2.5L ? 5.0L : 0.0L; }

// The inputs of step k: pins 6..8 count in binary, pin 9 walks the PWM range.
void SetInputs(long k, harness::Values* inputs) {
  for (int bit = 0; bit < 3; ++bit) inputs->Set(4 + bit, ((k >> bit) & 1) != 0 ? 5.0L : 0.0L);
  inputs->Set(7, static_cast<long double>((k * 37) % 1024));
}

class Checker {
 public:
  // Compares the outputs of step k with what the board must have said.
  // Pins 2..4 are read before pins 6..8 are written, so they show the
  // previous step's levels; A5 is read after pin 9 is written.
  void Check(long k, const harness::Values& previous_inputs, const harness::Values& inputs,
             const harness::Values& outputs) {
    if (k > 0) {
      for (int bit = 0; bit < 3; ++bit) {
        Expect(k, "pin " + std::to_string(2 + bit), outputs[bit], Level(previous_inputs[4 + bit]));
      }
    }
    Expect(k, "A0", outputs[8], 100.0L);
    Expect(k, "A1", outputs[9], 0.0L);
    Expect(k, "A2", outputs[10], 1023.0L);
    ExpectWithin(k, "A3", outputs[11], 0.0L, 1023.0L);
    ExpectWithin(k, "A4", outputs[12], 112.0L, 912.0L);
    Expect(k, "A5", outputs[13], inputs[7]);
  }

  long mismatches() const { return mismatches_; }

 private:
  void Expect(long k, const std::string& what, long double got, long double want) {
    if (got == want) return;
    Report(k, what + " read " + std::to_string(static_cast<double>(got)) + ", expected " +
                  std::to_string(static_cast<double>(want)));
  }
  void ExpectWithin(long k, const std::string& what, long double got, long double low,
                    long double high) {
    if (got >= low && got <= high) return;
    Report(k, what + " read " + std::to_string(static_cast<double>(got)) + ", outside its range");
  }
  void Report(long k, const std::string& text) {
    if (++mismatches_ <= 10) std::fprintf(stderr, "soak: step %ld: %s\n", k, text.c_str());
  }

  long mismatches_ = 0;
};

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0;
  const size_t at = static_cast<size_t>(fraction * static_cast<double>(values.size() - 1));
  std::nth_element(values.begin(), values.begin() + static_cast<long>(at), values.end());
  return values[at];
}

int Soak(const Options& options) {
  harness::TempDir dir;
  const std::string tty = dir.File("tty");
  std::vector<std::string> args = {"--udp", "127.0.0.1:0"};
  if (options.serial) args = {"--pty", tty};
  args.insert(args.end(), kBoardOptions.begin(), kBoardOptions.end());
  std::string error;
  std::optional<harness::ChildProcess> board =
      harness::TryStartBoardsim(BOARDSIM_PATH, args, &error);
  if (!board) {
    std::fprintf(stderr, "soak: boardsim did not start: %s\n", error.c_str());
    return 1;
  }

  harness::BlockSettings
      settings;  // the defaults: pins 2..5 inputs, 6..9 outputs, all analog inputs
  settings.pin_mode[7] = 3;
  if (options.serial) {
    setenv(("ARDUINO_BLOCK_COM" + std::to_string(kComPort)).c_str(), tty.c_str(), 1);
    settings.interface_kind = 1;
    settings.com_port = kComPort;
  } else {
    settings.udp_port = board->udp_port();
  }

  Checker checker;
  // Filled in place, so that its pages are resident before the first step.
  std::vector<double> step_ms(static_cast<size_t>(options.steps), 0.0);
  size_t heap_after_warm_up = 0;
  size_t heap_at_end = 0;
  size_t descriptors_at_end = 0;
  long resident_after_warm_up = 0;
  size_t descriptors_after_warm_up = 0;
  // The first block starts what the library keeps for its whole life (the
  // main context's wake-up descriptor among it); count from after that.
  { harness::LoadedBlock first(e2e::Module()); }
  const size_t descriptors_before = soak::OpenDescriptors();
  const auto run_start = Clock::now();
  {
    harness::LoadedBlock block(e2e::Module());
    block.Configure(settings);
    harness::Values inputs = harness::Values::Inputs(0.0L),
                    previous = harness::Values::Inputs(0.0L),
                    outputs = harness::Values::Outputs(-1.0L);
    const harness::BlockExports& module = e2e::Module();
    if (module.CanSimulateDLL(block.record()) != 1) {
      std::fprintf(stderr, "soak: the block refuses to simulate\n");
      return 1;
    }
    try {
      SetInputs(0, &inputs);
      module.InitSimulationDLL(block.record(), inputs.data(), outputs.data());
      checker.Check(0, previous, inputs, outputs);
      for (long k = 1; k <= options.steps; ++k) {
        previous = inputs;
        SetInputs(k, &inputs);
        const auto start = Clock::now();
        module.SimulateDLL(Lead12{}, block.record(), inputs.data(), outputs.data());
        step_ms[static_cast<size_t>(k - 1)] =
            std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        checker.Check(k, previous, inputs, outputs);
        if (k == std::min(kWarmUpSteps, options.steps)) {
          heap_after_warm_up = soak::HeapInUse();
          resident_after_warm_up = soak::ResidentKiB();
          descriptors_after_warm_up = soak::OpenDescriptors();
        }
      }
      heap_at_end = soak::HeapInUse();
      descriptors_at_end = soak::OpenDescriptors();
    } catch (const std::exception& failure) {
      std::fprintf(stderr, "soak: the library failed: %s\n", failure.what());
      module.EndSimulationDLL2(block.record());
      return 1;
    }
    module.EndSimulationDLL2(block.record());
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - run_start).count();
  const long long heap_growth =
      static_cast<long long>(heap_at_end) - static_cast<long long>(heap_after_warm_up);
  const size_t descriptors_after = soak::OpenDescriptors();

  std::printf(
      "soak: %ld steps over %s in %.1f s (%.0f steps/s); step median %.3f ms, p99 %.3f ms, "
      "max %.3f ms\n",
      options.steps, options.serial ? "a pseudo-terminal" : "UDP", seconds,
      static_cast<double>(options.steps) / seconds, Percentile(step_ms, 0.5),
      Percentile(step_ms, 0.99), *std::max_element(step_ms.begin(), step_ms.end()));
  std::printf(
      "soak: after the first %ld steps: heap in use %+lld bytes%s, resident %+ld KiB, "
      "descriptors %zu -> %zu (%zu with the block disposed, %zu before it)\n",
      std::min(kWarmUpSteps, options.steps), heap_growth,
      soak::kSanitized ? " (not measured under the sanitizers)" : "",
      soak::ResidentKiB() - resident_after_warm_up, descriptors_after_warm_up, descriptors_at_end,
      descriptors_after, descriptors_before);
  std::printf("soak: %ld mismatched readings\n", checker.mismatches());

  bool ok = checker.mismatches() == 0;
  if (descriptors_at_end != descriptors_after_warm_up) {
    std::fprintf(stderr, "soak: descriptors grew from %zu to %zu during the run\n",
                 descriptors_after_warm_up, descriptors_at_end);
    ok = false;
  }
  if (descriptors_after != descriptors_before) {
    std::fprintf(stderr, "soak: %zu descriptors before the block, %zu after it was disposed\n",
                 descriptors_before, descriptors_after);
    ok = false;
  }
  if (!soak::kSanitized && heap_growth > static_cast<long long>(kHeapNoiseBytes)) {
    std::fprintf(stderr, "soak: the heap grew by %lld bytes after the warm-up\n", heap_growth);
    ok = false;
  }
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseArguments(argc, argv, &options)) {
    std::fprintf(stderr, "usage: block_soak [--steps N] [--link udp|pty]\n");
    return 2;
  }
  return Soak(options);
}
