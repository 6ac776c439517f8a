// The signals `blockhost run` feeds into the block's inputs.
#pragma once

#include <string>
#include <string_view>

namespace blockhost {

class InputSignal {
 public:
  enum class Shape { kConstant, kSquare, kSine, kRamp };

  // Parses "3.7", "square:LOW:HIGH:PERIOD_MS", "sine:AMPL:OFFSET:PERIOD_MS" or
  // "ramp:FROM:TO:PERIOD_MS"; throws UsageError naming what is wrong.
  static InputSignal Parse(std::string_view text);

  // The value at `time_ms` after the start of the run.  A square wave is LOW
  // for the first half of each period; a ramp climbs from FROM towards TO and
  // starts again at FROM.
  double ValueAt(double time_ms) const;

 private:
  Shape shape_ = Shape::kConstant;
  double first_ = 0.0;   // constant value, LOW, amplitude or FROM
  double second_ = 0.0;  // HIGH, offset or TO
  double period_ms_ = 0.0;
};

// One --input argument: the pin it drives and its signal.
struct InputAssignment {
  int pin = 0;
  InputSignal signal;
};
// Parses "PIN=SIGNAL" where PIN is 2..9 (or pin2..pin9).
InputAssignment ParseInputAssignment(std::string_view text);

}  // namespace blockhost
