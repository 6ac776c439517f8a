// What both benchmarks share: the table of targets, the statistics of
// alternated raw and library exchanges, and the report that holds the
// measurements to the targets and writes them as Markdown and JSON.
// Portable C++ only: the native bench and the Windows one under Wine both
// build it.
#pragma once

#include <string>
#include <vector>

namespace bench {

// One limit the library is held to.  The check and both tables of the
// report read this, so a limit is written down nowhere else.
struct Target {
  const char* key;    // the name in the JSON file
  const char* label;  // the row in the Markdown table
  double limit;       // the measured value must not exceed it
  const char* unit;   // "µs", "%" or "KiB"
};

// The time limits are on what the library adds to one exchange, measured
// against a minimal client of the same transport that alternates with it,
// and taken as the median over the pairs.  A ratio of the two would swing
// with the round trip itself, which on an idle machine depends mostly on
// how deeply its cores sleep, so ratios are reported and never held.
inline constexpr Target kTargets[] = {
    {"udp_added_wall_us", "UDP exchange: wall time the library adds (median)", 5, "µs"},
    {"udp_added_cpu_us", "UDP exchange: CPU time the library adds (median)", 5, "µs"},
    {"pty_added_wall_us", "pty reply: wall time the library adds (median)", 5, "µs"},
    {"pty_added_cpu_us", "pty reply: CPU time the library adds (median)", 5, "µs"},
    {"udp_silent_cpu_percent", "CPU share of a silent UDP wait", 5, "%"},
    {"serial_silent_cpu_percent", "CPU share of a silent serial wait", 5, "%"},
    // The run is long enough for a leak of a few bytes per step to show;
    // below this the figure is the allocator's own noise.
    {"rss_growth_kib", "resident memory growth over 100,000 steps", 256, "KiB"},
};

struct Stats {
  double median = 0;
  double p99 = 0;
};

Stats Summarise(std::vector<double> samples);

// The samples of one measurement that alternated a raw exchange with a
// library exchange, pair i of each vector taken together, timed by wall
// clock and, where the platform can, by the process's CPU clock.  All in
// microseconds; the CPU vectors stay empty where they cannot be measured.
struct Alternation {
  std::vector<double> raw_wall, library_wall, raw_cpu, library_cpu;
};

// What the library adds per exchange: library minus raw, pair by pair.
struct Added {
  Stats raw_wall, library_wall, added_wall, added_cpu;
  double ratio = 0;  // library median over raw median, reported only
  bool has_cpu = false;
};

Added Compare(const Alternation& samples);

class Report {
 public:
  // One line of the measurement table.  A negative p99 prints as a dash.
  void Row(const std::string& key, const std::string& label, double median, double p99,
           const std::string& unit, const std::string& note);

  // The rows of one alternated measurement: raw, library, what the library
  // adds (wall and, when measured, CPU), and their ratio.
  void Rows(const std::string& key, const std::string& what, const Added& added,
            const std::string& raw_note, const std::string& library_note);

  // Holds a value to the target of that key (which must be in kTargets).
  void Hold(const std::string& key, double value);
  // A target this run could not measure, with the reason; it is not met,
  // but does not fail the run either.
  void NotMeasured(const std::string& key, const std::string& reason);

  bool AllMet() const;
  // The targets missed, one line each, for the error output.
  std::vector<std::string> Missed() const;

  // The two tables, measurements and targets, with a line about the run.
  std::string Markdown(const std::string& preamble) const;
  std::string Json(const std::string& host, int cores, int count) const;

 private:
  struct Line {
    std::string key, label, unit, note;
    double median, p99;
  };
  struct Held {
    const Target* target;
    double value;
    std::string reason;  // why it was not measured; empty when it was
  };
  std::vector<Line> lines_;
  std::vector<Held> held_;
};

// The one JSON writer of the benches: a text as a JSON string, every
// control character escaped, since reasons carry a child's stderr with its
// newlines; and the members of one object, in the order they were added.
std::string JsonString(const std::string& text);

class JsonObject {
 public:
  JsonObject& Text(const std::string& key, const std::string& value);
  // A number printed with printf's FORMAT, which must print a JSON number.
  JsonObject& Number(const std::string& key, double value, const char* format = "%.4g");
  JsonObject& Bool(const std::string& key, bool value);
  // A value already written as JSON: an object, an array, null.
  JsonObject& Json(const std::string& key, const std::string& json);
  std::string str() const { return "{" + members_ + "}"; }

 private:
  std::string members_;
};

// The items, each already JSON, as an array of one item a line.
std::string JsonArray(const std::vector<std::string>& items);

// Today's date in UTC, as the reports print it.
std::string TodayUtc();

}  // namespace bench
