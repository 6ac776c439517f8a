// The values of a run, step by step, and the two ways blockhost writes them
// out: a CSV table and an SVG plot.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace blockhost {

// How a channel's values are drawn.
enum class TraceScale {
  kAuto,   // an axis fitted to the values
  kLevel,  // a digital level, 0 or 5 V: a lane of its own, as a logic analyser draws it
  kCount,  // a PWM value or an analog reading: the axis runs 0..1023
};

struct TraceChannel {
  std::string name;
  std::string panel;     // channels with the same panel share a plot panel
  bool plotted = false;  // channels the block does not use stay out of the plot
  std::vector<double> values;
  TraceScale scale = TraceScale::kAuto;  // the same for every channel of a panel
  // A level the block sends: the board gets high where the value is above
  // this and low elsewhere (NaN included), and the plot draws that level
  // with the value itself faintly beside it.  Nothing: drawn as it is.
  std::optional<double> high_above;
};

struct Trace {
  std::string title;
  // Lines under the title that say what the values alone do not, such as
  // how the board's pins are wired to each other.
  std::vector<std::string> notes;
  std::vector<double> time_ms;
  std::vector<TraceChannel> channels;
  // A serial run's first step waits while the port opens and the board
  // restarts; the values hold still meanwhile, and the plot marks the
  // stretch from 0 to here as no data.  0: no such wait.
  double open_pause_ms = 0.0;
};

// Throws InputError with the system's reason when `path` cannot be written;
// leaves an existing file as it is and creates none.
void RequireWritable(const std::string& path);
// Puts `text` into the file at `path` through a file beside it, so that an
// old file is replaced whole or not at all; throws InputError with the
// system's reason when it cannot.
void WriteTraceFile(const std::string& path, const std::string& text);

// One row per step: the time, then every channel.  Throws InputError when
// the file cannot be written.
void WriteCsv(const Trace& trace, const std::string& path);

// The plotted channels over time, one panel per panel name in the order the
// channels first name them.
std::string RenderSvgPlot(const Trace& trace);
void WriteSvgPlot(const Trace& trace, const std::string& path);

}  // namespace blockhost
