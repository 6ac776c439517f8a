// The values of a run, step by step, and the two ways blockhost writes them
// out: a CSV table and an SVG plot.
#pragma once

#include <string>
#include <vector>

namespace blockhost {

struct TraceChannel {
  std::string name;
  std::string panel;     // channels with the same panel share a plot panel
  bool plotted = false;  // channels the block does not use stay out of the plot
  std::vector<double> values;
};

struct Trace {
  std::string title;
  std::vector<double> time_ms;
  std::vector<TraceChannel> channels;
};

// Throws InputError with the system's reason when `path` cannot be written;
// leaves an existing file as it is and creates none.
void RequireWritable(const std::string& path);
// Puts `text` into the file at `path`; throws InputError with the system's
// reason when it cannot.
void WriteTraceFile(const std::string& path, const std::string& text);

// One row per step: the time, then every channel.  Throws InputError when
// the file cannot be written.
void WriteCsv(const Trace& trace, const std::string& path);

// The plotted channels over time, one panel per panel name in the order the
// channels first name them.
std::string RenderSvgPlot(const Trace& trace);
void WriteSvgPlot(const Trace& trace, const std::string& path);

}  // namespace blockhost
