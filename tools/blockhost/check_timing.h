// What `check` makes of the round trips it timed: their median and 95th
// percentile, the step and the step rate that follow for a project's pins,
// and what a board's USB bridge is known to add to every reply.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "block_settings.h"

namespace blockhost {

struct RoundTrips {
  size_t count = 0;
  double median_ms = 0.0;
  double p95_ms = 0.0;  // nearest rank: no more than 5 % of the reads took longer
};

RoundTrips SummariseRoundTrips(std::vector<double> took_ms);

// "round trip over 40 reads: median 1.2 ms, 95th percentile 1.9 ms".
std::string RoundTripText(const RoundTrips& trips);

// The step that `settings`' pins make at the median round trip: "14
// exchanges a step, about 17 ms: at most 58 steps a second".  Analog reads
// cost a little more than the others, so it is an estimate.
std::string StepRateText(const BlockSettings& settings, const RoundTrips& trips);

// What is known of the USB bridge with these IDs: its name, what it adds to
// a reply and what the user can do about it, a line each.  Published
// behaviour, not measured here.  Empty for IDs of no known bridge.
std::vector<std::string> BridgeNotes(uint16_t vendor_id, uint16_t product_id);

}  // namespace blockhost
