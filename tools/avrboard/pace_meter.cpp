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

uint64_t PaceMeter::Observe(uint64_t wall_cycle, uint64_t chip_cycle, bool resumed) {
  uint64_t behind = wall_cycle > chip_cycle ? wall_cycle - chip_cycle : 0;
  uint64_t stop = 0;
  if (resumed && behind > last_behind_) {
    stop = behind - last_behind_;
    behind = last_behind_;
    stopped_ += stop;
    stretch_stopped_ += stop;
  }
  last_behind_ = behind;
  most_behind_ = std::max(most_behind_, behind);
  stretch_most_behind_ = std::max(stretch_most_behind_, behind);
  return stop;
}

PaceReport PaceMeter::TakeReport(uint64_t wall_cycle, uint64_t chip_cycle) {
  const uint64_t behind = wall_cycle > chip_cycle ? wall_cycle - chip_cycle : 0;
  PaceReport report;
  report.chip_ms = chip_cycle / cycles_per_ms_;
  report.wall_ms = wall_cycle / cycles_per_ms_;
  report.behind_ms = behind / cycles_per_ms_;
  report.most_behind_ms = std::max(stretch_most_behind_, behind) / cycles_per_ms_;
  report.stopped_ms = stretch_stopped_ / cycles_per_ms_;
  // The next stretch begins with the lag the chip has now.
  stretch_most_behind_ = behind;
  stretch_stopped_ = 0;
  return report;
}

}  // namespace avrboard
