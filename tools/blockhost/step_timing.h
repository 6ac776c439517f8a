// The durations of a run's steps, summarised as minimum, median and maximum.
#pragma once

#include <cstddef>
#include <vector>

namespace blockhost {

struct TimingSummary {
  size_t count = 0;
  double min_ms = 0.0;
  double median_ms = 0.0;  // the mean of the middle two for an even count
  double max_ms = 0.0;
};

TimingSummary Summarise(std::vector<double> durations_ms);

}  // namespace blockhost
