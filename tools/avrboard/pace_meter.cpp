#include "pace_meter.h"

#include <algorithm>
#include <cstdio>

namespace avrboard {
namespace {

// The one layout of the line, written and read.
constexpr const char* kReportFormat =
    "avrboard: pace: chip %.3f ms, wall %.3f ms, behind %.1f ms, at most %.1f ms behind since "
    "the last report, %.1f ms stopped";
constexpr const char* kReportScan =
    "avrboard: pace: chip %lf ms, wall %lf ms, behind %lf ms, at most %lf ms behind since "
    "the last report, %lf ms stopped%n";

}  // namespace

std::string FormatPaceReport(const PaceReport& report) {
  char line[256];
  std::snprintf(line, sizeof line, kReportFormat, report.chip_ms, report.wall_ms, report.behind_ms,
                report.most_behind_ms, report.stopped_ms);
  return line;
}

std::optional<PaceReport> ParsePaceReport(std::string_view line) {
  // sscanf wants a terminated string, and the line may come with its end.
  std::string text(line);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  PaceReport report;
  int used = -1;
  const int read =
      std::sscanf(text.c_str(), kReportScan, &report.chip_ms, &report.wall_ms, &report.behind_ms,
                  &report.most_behind_ms, &report.stopped_ms, &used);
  if (read != 5 || used != static_cast<int>(text.size())) return std::nullopt;
  return report;
}

void PaceMeter::Observe(uint64_t wall_cycle, uint64_t chip_cycle, bool resumed) {
  if (resumed && wall_cycle > last_wall_) {
    const uint64_t stop = wall_cycle - last_wall_;
    excused_ += stop;
    stopped_ += stop;
    stretch_stopped_ += stop;
  }
  last_wall_ = std::max(last_wall_, wall_cycle);
  const uint64_t behind = wall_cycle > chip_cycle ? wall_cycle - chip_cycle : 0;
  excused_ = std::min(excused_, behind);
  const uint64_t starved = behind - excused_;
  most_behind_ = std::max(most_behind_, starved);
  stretch_most_behind_ = std::max(stretch_most_behind_, starved);
}

uint64_t PaceMeter::Starved(uint64_t wall_cycle, uint64_t chip_cycle) const {
  const uint64_t behind = wall_cycle > chip_cycle ? wall_cycle - chip_cycle : 0;
  return behind - std::min(excused_, behind);
}

PaceReport PaceMeter::TakeReport(uint64_t wall_cycle, uint64_t chip_cycle) {
  const uint64_t starved = Starved(wall_cycle, chip_cycle);
  PaceReport report;
  report.chip_ms = chip_cycle / cycles_per_ms_;
  report.wall_ms = wall_cycle / cycles_per_ms_;
  report.behind_ms = starved / cycles_per_ms_;
  report.most_behind_ms = std::max(stretch_most_behind_, starved) / cycles_per_ms_;
  report.stopped_ms = stretch_stopped_ / cycles_per_ms_;
  // The next stretch begins with the lag the chip has now.
  stretch_most_behind_ = starved;
  stretch_stopped_ = 0;
  return report;
}

}  // namespace avrboard
