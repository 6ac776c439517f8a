#include "bench_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace bench {
namespace {

// Microseconds to a tenth, percentages and system calls to a hundredth,
// memory in whole KiB, ratios (no unit) to a thousandth.  A value that rounds to zero prints as
// 0, not -0: a CPU clock that counts in ticks can step back by a hair.
std::string Format(double value, const std::string& unit) {
  struct Style {
    const char* unit;
    const char* format;
    double step;
  };
  static constexpr Style kStyles[] = {{"µs", "%.1f µs", 0.1},
                                      {"%", "%.2f %%", 0.01},
                                      {"KiB", "%.0f KiB", 1},
                                      {"calls", "%.2f calls", 0.01},
                                      {"", "%.3f", 0.001}};
  const Style* style = &kStyles[std::size(kStyles) - 1];
  for (const Style& s : kStyles) {
    if (unit == s.unit) style = &s;
  }
  if (std::fabs(value) < style->step / 2) value = 0;
  char text[64];
  std::snprintf(text, sizeof text, style->format, value);
  return text;
}

std::string Number(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.4g", value);
  return text;
}

const Target& TargetOf(const std::string& key) {
  for (const Target& target : kTargets) {
    if (key == target.key) return target;
  }
  throw std::logic_error("no target named " + key);
}

std::vector<double> Differences(const std::vector<double>& library,
                                const std::vector<double>& raw) {
  std::vector<double> out(library.size());
  for (size_t i = 0; i < library.size(); ++i) out[i] = library[i] - raw[i];
  return out;
}

// Each pair's difference as a percentage of its raw exchange.  A raw
// exchange that a coarse clock saw take no time has no share; its pair is
// left out rather than counted as infinite.
std::vector<double> Shares(const std::vector<double>& library, const std::vector<double>& raw) {
  std::vector<double> out;
  for (size_t i = 0; i < library.size(); ++i) {
    if (raw[i] > 0) out.push_back(100 * (library[i] - raw[i]) / raw[i]);
  }
  return out;
}

}  // namespace

Stats Summarise(std::vector<double> samples) {
  if (samples.empty()) return {};
  std::sort(samples.begin(), samples.end());
  return {samples[samples.size() / 2],
          samples[std::min(samples.size() - 1, samples.size() * 99 / 100)]};
}

Added Compare(const Alternation& samples) {
  Added added;
  added.raw_wall = Summarise(samples.raw_wall);
  added.library_wall = Summarise(samples.library_wall);
  // Each pair saw the same machine: the difference within a pair is what the
  // library costs, whatever the round trip itself did at that moment.
  added.added_wall = Summarise(Differences(samples.library_wall, samples.raw_wall));
  added.added_wall_percent = Summarise(Shares(samples.library_wall, samples.raw_wall));
  added.has_cpu = !samples.library_cpu.empty();
  if (added.has_cpu) {
    added.added_cpu = Summarise(Differences(samples.library_cpu, samples.raw_cpu));
    added.added_cpu_percent = Summarise(Shares(samples.library_cpu, samples.raw_cpu));
  }
  added.ratio = added.raw_wall.median > 0 ? added.library_wall.median / added.raw_wall.median : 0;
  return added;
}

void Report::Row(const std::string& key, const std::string& label, double median, double p99,
                 const std::string& unit, const std::string& note) {
  lines_.push_back({key, label, unit, note, median, p99});
}

void Report::Rows(const std::string& key, const std::string& what, const Added& added,
                  const std::string& raw_note, const std::string& library_note) {
  Row(key + "_raw_wall_us", what + " raw round trip", added.raw_wall.median, added.raw_wall.p99,
      "µs", raw_note);
  Row(key + "_library_wall_us", what + " library exchange", added.library_wall.median,
      added.library_wall.p99, "µs", library_note);
  Row(key + "_added_wall_us", what + " wall time the library adds", added.added_wall.median,
      added.added_wall.p99, "µs", "library minus raw, pair by pair");
  Row(key + "_added_wall_percent", what + " wall time the library adds, share of raw",
      added.added_wall_percent.median, added.added_wall_percent.p99, "%",
      "library minus raw over raw, pair by pair");
  if (added.has_cpu) {
    Row(key + "_added_cpu_us", what + " CPU time the library adds", added.added_cpu.median,
        added.added_cpu.p99, "µs", "the bench process's CPU clock, pair by pair");
    Row(key + "_added_cpu_percent", what + " CPU time the library adds, share of raw",
        added.added_cpu_percent.median, added.added_cpu_percent.p99, "%",
        "library minus raw over raw, pair by pair");
  }
  Row(key + "_library_over_raw", what + " library/raw", added.ratio, -1, "",
      "ratio of the medians; reported, not a target");
}

void Report::Hold(const std::string& key, double value) {
  held_.push_back({&TargetOf(key), value, ""});
}

void Report::NotMeasured(const std::string& key, const std::string& reason) {
  held_.push_back({&TargetOf(key), 0, reason});
}

bool Report::AllMet() const { return Missed().empty(); }

std::vector<std::string> Report::Missed() const {
  std::vector<std::string> missed;
  for (const Held& held : held_) {
    if (held.reason.empty() && held.value > held.target->limit) {
      missed.push_back(std::string(held.target->label) + ": " +
                       Format(held.value, held.target->unit) + ", limit " +
                       Format(held.target->limit, held.target->unit));
    }
  }
  return missed;
}

std::string Report::Markdown(const std::string& preamble) const {
  std::ostringstream out;
  out << preamble << "\n\n| measurement | median | p99 | note |\n|---|---:|---:|---|\n";
  for (const Line& line : lines_) {
    out << "| " << line.label << " | " << Format(line.median, line.unit) << " | "
        << (line.p99 < 0 ? "–" : Format(line.p99, line.unit)) << " | " << line.note << " |\n";
  }
  out << "\n| target | measured | limit | |\n|---|---:|---:|---|\n";
  for (const Held& held : held_) {
    const Target& target = *held.target;
    out << "| " << target.label << " | "
        << (held.reason.empty() ? Format(held.value, target.unit) : "not measured") << " | ≤ "
        << Format(target.limit, target.unit) << " | "
        << (!held.reason.empty()         ? held.reason
            : held.value <= target.limit ? "met"
                                         : "**missed**")
        << " |\n";
  }
  return out.str();
}

std::string Report::Json(const std::string& host, int cores, int count) const {
  std::ostringstream out;
  out << "{\n  \"date\": " << JsonString(TodayUtc()) << ",\n  \"host\": " << JsonString(host)
      << ",\n  \"cores\": " << cores << ",\n  \"count\": " << count << ",\n  \"measurements\": {";
  const char* separator = "\n";
  for (const Line& line : lines_) {
    out << separator << "    " << JsonString(line.key) << ": ";
    if (line.p99 < 0) {
      out << Number(line.median);
    } else {
      out << "{\"median\": " << Number(line.median) << ", \"p99\": " << Number(line.p99) << "}";
    }
    separator = ",\n";
  }
  out << "\n  },\n  \"targets\": {";
  separator = "\n";
  for (const Held& held : held_) {
    out << separator << "    " << JsonString(held.target->key) << ": {";
    if (held.reason.empty()) {
      out << "\"measured\": " << Number(held.value) << ", \"limit\": " << Number(held.target->limit)
          << ", \"met\": " << (held.value <= held.target->limit ? "true" : "false");
    } else {
      out << "\"measured\": null, \"limit\": " << Number(held.target->limit)
          << ", \"met\": null, \"reason\": " << JsonString(held.reason);
    }
    out << "}";
    separator = ",\n";
  }
  out << "\n  }\n}\n";
  return out.str();
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (byte < 0x20 || byte == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;  // UTF-8 passes as it is
    }
  }
  return out + "\"";
}

JsonObject& JsonObject::Text(const std::string& key, const std::string& value) {
  return Json(key, JsonString(value));
}

JsonObject& JsonObject::Number(const std::string& key, double value, const char* format) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return Json(key, text);
}

JsonObject& JsonObject::Bool(const std::string& key, bool value) {
  return Json(key, value ? "true" : "false");
}

JsonObject& JsonObject::Json(const std::string& key, const std::string& json) {
  if (!members_.empty()) members_ += ", ";
  members_ += JsonString(key) + ": " + json;
  return *this;
}

std::string JsonArray(const std::vector<std::string>& items) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) out += (i ? ",\n  " : "\n  ") + items[i];
  return out + "\n]\n";
}

std::string TodayUtc() {
  std::time_t now = std::time(nullptr);
  char date[32];
  std::strftime(date, sizeof date, "%Y-%m-%d", std::gmtime(&now));
  return date;
}

}  // namespace bench
