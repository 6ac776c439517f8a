#include "check_timing.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "step_timing.h"

namespace blockhost {
namespace {

// A round trip to a tenth of a millisecond; a step, from 10 ms, to a whole
// one.
std::string Milliseconds(double ms, double whole_from = 100) {
  char text[32];
  snprintf(text, sizeof text, ms < 1 ? "%.2f ms" : ms < whole_from ? "%.1f ms" : "%.0f ms", ms);
  return text;
}

std::string Hex4(uint16_t value) {
  char text[8];
  snprintf(text, sizeof text, "%04x", value);
  return text;
}

enum class Bridge { kNone, kAtmegaU2, kFtdi, kCh340 };

Bridge BridgeOf(uint16_t vendor_id, uint16_t product_id) {
  // The genuine Uno and Mega 2560 carry an ATmega16U2 (the oldest an 8U2)
  // with the same serial firmware, under both of the maker's vendor IDs.
  if (vendor_id == 0x2341 || vendor_id == 0x2A03) {
    switch (product_id) {
      case 0x0001:
      case 0x0010:
      case 0x0042:
      case 0x0043:
      case 0x0243:
        return Bridge::kAtmegaU2;
      default:
        return Bridge::kNone;
    }
  }
  if (vendor_id == 0x0403 && (product_id == 0x6001 || product_id == 0x6015)) return Bridge::kFtdi;
  if (vendor_id == 0x1A86 && product_id == 0x7523) return Bridge::kCh340;
  return Bridge::kNone;
}

}  // namespace

RoundTrips SummariseRoundTrips(std::vector<double> took_ms) {
  RoundTrips trips;
  trips.count = took_ms.size();
  if (took_ms.empty()) return trips;
  const TimingSummary summary = Summarise(took_ms);
  trips.median_ms = summary.median_ms;
  std::sort(took_ms.begin(), took_ms.end());
  const size_t rank = static_cast<size_t>(std::ceil(0.95 * static_cast<double>(took_ms.size())));
  trips.p95_ms = took_ms[std::max<size_t>(rank, 1) - 1];
  return trips;
}

std::string RoundTripText(const RoundTrips& trips) {
  return "round trip over " + std::to_string(trips.count) + " read" +
         (trips.count == 1 ? "" : "s") + ": median " + Milliseconds(trips.median_ms) +
         ", 95th percentile " + Milliseconds(trips.p95_ms);
}

std::string StepRateText(const BlockSettings& settings, const RoundTrips& trips) {
  const int exchanges = LoadOf(settings).step_exchanges;
  if (exchanges == 0) return "no pin in use: a step makes no exchange";
  const double step_ms = exchanges * trips.median_ms;
  std::string text = std::to_string(exchanges) + " exchange" + (exchanges == 1 ? "" : "s") +
                     " a step, about " + Milliseconds(step_ms, 10);
  if (step_ms <= 0) return text;
  const long rate = static_cast<long>(std::floor(1000.0 / step_ms));
  return text + ": at most " + std::to_string(rate) + " step" + (rate == 1 ? "" : "s") +
         " a second";
}

std::vector<std::string> BridgeNotes(uint16_t vendor_id, uint16_t product_id) {
  const std::string ids = Hex4(vendor_id) + ":" + Hex4(product_id);
  switch (BridgeOf(vendor_id, product_id)) {
    case Bridge::kAtmegaU2:
      return {"USB bridge: the board's ATmega16U2 (" + ids + ")",
              "  its serial firmware passes a reply on at its next 4.096 ms tick, so each "
              "exchange may wait up to about 4 ms in it (published behaviour, not measured here)",
              "  fewer pins in use, or the Ethernet link, make a step shorter"};
    case Bridge::kFtdi:
      return {"USB bridge: FTDI (" + ids + ")",
              "  it holds a reply until its latency timer runs out, 16 ms unless lowered "
              "(settable 1 to 255 ms; published behaviour, not measured here)",
#ifdef _WIN32
              "  lower the port's Latency Timer to 1 ms: Device Manager, the port's Properties, "
              "Port Settings, Advanced",
#else
              "  the block asks the driver for low latency, which runs the timer at 1 ms; "
              "where the round trip above is still much longer, the driver did not grant it",
#endif
              "  fewer pins in use, or the Ethernet link, make a step shorter"};
    case Bridge::kCh340:
      return {"USB bridge: WCH CH340 (" + ids + ")",
              "  it has no latency timer; a reply waits about a USB frame, 1 ms, in it "
              "(published behaviour, not measured here)",
              "  fewer pins in use, or the Ethernet link, make a step shorter"};
    case Bridge::kNone:
      break;
  }
  return {};
}

}  // namespace blockhost
