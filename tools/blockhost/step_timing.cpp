#include "step_timing.h"

#include <algorithm>

namespace blockhost {

TimingSummary Summarise(std::vector<double> durations_ms) {
  TimingSummary summary;
  summary.count = durations_ms.size();
  if (durations_ms.empty()) return summary;
  std::sort(durations_ms.begin(), durations_ms.end());
  const size_t n = durations_ms.size();
  summary.min_ms = durations_ms.front();
  summary.max_ms = durations_ms.back();
  summary.median_ms =
      n % 2 == 1 ? durations_ms[n / 2] : (durations_ms[n / 2 - 1] + durations_ms[n / 2]) / 2.0;
  return summary;
}

}  // namespace blockhost
