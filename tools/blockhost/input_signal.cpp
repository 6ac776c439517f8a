#include "input_signal.h"

#include <cmath>
#include <numbers>
#include <optional>
#include <vector>

#include "block_settings.h"
#include "errors.h"
#include "number_text.h"

namespace blockhost {
namespace {

// A signal's values are plotted and sent to the board: infinity has no
// place in either.
std::optional<double> ParseNumber(std::string_view text) {
  std::optional<double> value = tool_cli::ParseNumber<double>(text);
  if (!value || !std::isfinite(*value)) return std::nullopt;
  return value;
}

std::vector<std::string_view> SplitColons(std::string_view text) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (true) {
    size_t colon = text.find(':', start);
    parts.push_back(text.substr(start, colon - start));
    if (colon == text.npos) return parts;
    start = colon + 1;
  }
}

}  // namespace

InputSignal InputSignal::Parse(std::string_view text) {
  InputSignal signal;
  if (auto constant = ParseNumber(text)) {
    signal.first_ = *constant;
    return signal;
  }
  std::vector<std::string_view> parts = SplitColons(text);
  struct Form {
    std::string_view name;
    Shape shape;
    const char* pattern;
  };
  constexpr Form kForms[] = {{"square", Shape::kSquare, "square:LOW:HIGH:PERIOD_MS"},
                             {"sine", Shape::kSine, "sine:AMPL:OFFSET:PERIOD_MS"},
                             {"ramp", Shape::kRamp, "ramp:FROM:TO:PERIOD_MS"}};
  for (const Form& form : kForms) {
    if (parts[0] != form.name) continue;
    const std::string why = "'" + std::string(text) + "' does not match " + form.pattern;
    if (parts.size() != 4) throw UsageError(why);
    std::optional<double> first = ParseNumber(parts[1]);
    std::optional<double> second = ParseNumber(parts[2]);
    std::optional<double> period = ParseNumber(parts[3]);
    if (!first || !second || !period) throw UsageError(why + " (a part is no number)");
    if (*period <= 0.0) throw UsageError(why + " (the period must be positive)");
    signal.shape_ = form.shape;
    signal.first_ = *first;
    signal.second_ = *second;
    signal.period_ms_ = *period;
    return signal;
  }
  throw UsageError("'" + std::string(text) +
                   "' is no signal: give a number, square:LOW:HIGH:PERIOD_MS, "
                   "sine:AMPL:OFFSET:PERIOD_MS or ramp:FROM:TO:PERIOD_MS");
}

double InputSignal::ValueAt(double time_ms) const {
  double phase = period_ms_ > 0.0 ? std::fmod(time_ms, period_ms_) / period_ms_ : 0.0;
  switch (shape_) {
    case Shape::kConstant:
      return first_;
    case Shape::kSquare:
      return phase < 0.5 ? first_ : second_;
    case Shape::kSine:
      return first_ * std::sin(2.0 * std::numbers::pi * phase) + second_;
    case Shape::kRamp:
      return first_ + (second_ - first_) * phase;
  }
  return first_;
}

InputAssignment ParseInputAssignment(std::string_view text) {
  size_t equals = text.find('=');
  if (equals == text.npos) {
    throw UsageError("--input '" + std::string(text) + "' is not PIN=SIGNAL");
  }
  std::string_view pin_text = text.substr(0, equals);
  if (pin_text.starts_with("pin")) pin_text.remove_prefix(3);
  const std::optional<int> pin = tool_cli::ParseNumber<int>(pin_text);
  if (!pin || *pin < kFirstPin || *pin >= kFirstPin + kDigitalPins) {
    throw UsageError("--input '" + std::string(text) + "': the block's inputs are pins 2..9");
  }
  return {*pin, InputSignal::Parse(text.substr(equals + 1))};
}

}  // namespace blockhost
