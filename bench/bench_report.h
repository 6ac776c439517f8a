// What the benchmarks share: the table of targets, the statistics of
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

// The limits hold on any machine: system calls per exchange, counted, and
// what the library adds to an exchange as a share of a fair raw client of
// the same transport that alternates with it, pair by pair, the median over
// the pairs.  The raw client waits as the library must (with the reply's
// time limit), so both make the same kind of calls and a machine where a
// system call costs more weighs on both alike.  Microseconds are reported
// and never held: they measure the machine.
inline constexpr Target kTargets[] = {
    // A UDP exchange makes no more calls than the raw client's send, one
    // wait and one read: the ratio is at most one.
    {"udp_library_over_raw_calls", "UDP exchange: system calls, library over raw client", 1, ""},
    // Over serial the library runs one pump pass per reply byte, which the
    // raw client does not; that pass is all it may add.
    {"pty_added_calls_per_reply_byte", "pty reply: system calls the library adds per reply byte", 1,
     "calls"},
    {"udp_added_wall_percent", "UDP exchange: wall time the library adds (median share)", 15, "%"},
    {"udp_added_cpu_percent", "UDP exchange: CPU time the library adds (median share)", 15, "%"},
    {"pty_added_wall_percent", "pty reply: wall time the library adds (median share)", 15, "%"},
    {"pty_added_cpu_percent", "pty reply: CPU time the library adds (median share)", 15, "%"},
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

// What the library adds per exchange: library minus raw, pair by pair, in
// microseconds and as a percentage of the pair's raw exchange.
struct Added {
  Stats raw_wall, library_wall, added_wall, added_cpu;
  Stats added_wall_percent, added_cpu_percent;
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
  // adds (wall and, when measured, CPU, each in µs and as a share of the
  // raw exchange), and their ratio.
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
