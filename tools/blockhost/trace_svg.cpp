// A plain SVG plot: stacked panels sharing the time axis.  Digital levels
// get a lane each, as a logic analyser draws them, named at the left; PWM
// values and analog readings share an axis of 0..1023, the block's range;
// anything else gets an axis fitted to its values and a legend beside it.
// Values hold between steps, so the lines are drawn as steps.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <limits>

#include "errors.h"
#include "trace.h"

namespace blockhost {
namespace {

constexpr double kWidth = 960;
constexpr double kLeft = 90;    // room for the lanes' names and the value axis
constexpr double kRight = 200;  // room for the legend
constexpr double kTitleY = 24;
constexpr double kNoteHeight = 18;  // one line under the title
constexpr double kPanelNameRoom = 30;
constexpr double kPanelHeight = 170;
constexpr double kLaneHeight = 30;
constexpr double kLanePad = 7;    // between a lane's edge and its high or low level
constexpr double kPanelGap = 26;  // below the time axis' labels
constexpr double kTimeLabelsRoom = 24;
constexpr double kBottom = 34;
constexpr double kLevelHigh = 5.0;  // volts of a digital high
constexpr double kCountMax = 1023;  // PWM values and analog readings: 10 bits
constexpr const char* kPauseFill = "#c8c8c8";
constexpr const char* kColours[] = {"#1f77b4", "#d62728", "#2ca02c", "#ff7f0e", "#9467bd",
                                    "#8c564b", "#e377c2", "#17becf", "#7f7f7f", "#bcbd22"};

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string Number(double value) {
  char text[32];
  snprintf(text, sizeof text, "%.6g", std::abs(value) < 1e-12 ? 0.0 : value);
  return text;
}

std::string Coordinate(double value) {
  char text[32];
  snprintf(text, sizeof text, "%.1f", value);
  return text;
}

// Round tick positions (1, 2 or 5 times a power of ten) covering [low, high].
std::vector<double> Ticks(double* low, double* high) {
  if (!(*high > *low)) {
    double pad = std::max(1.0, std::abs(*low) * 0.1);
    *low -= pad;
    *high += pad;
  }
  double rough = (*high - *low) / 5.0;
  double power = std::pow(10.0, std::floor(std::log10(rough)));
  double step = power;
  for (double factor : {1.0, 2.0, 5.0, 10.0}) {
    step = factor * power;
    if (step >= rough) break;
  }
  *low = std::floor(*low / step) * step;
  *high = std::ceil(*high / step) * step;
  std::vector<double> ticks;
  for (double tick = *low; tick <= *high + step * 1e-9; tick += step) ticks.push_back(tick);
  return ticks;
}

// `value` within [low, high]; a value that is no number sits at `low`.
double Clamped(double value, double low, double high) {
  return std::isfinite(value) ? std::clamp(value, low, high) : low;
}

struct Panel {
  std::string name;
  TraceScale scale;
  std::vector<const TraceChannel*> channels;
  double Height() const {
    return scale == TraceScale::kLevel ? kLaneHeight * channels.size() : kPanelHeight;
  }
};

std::vector<Panel> PanelsOf(const Trace& trace) {
  std::vector<Panel> panels;
  for (const TraceChannel& channel : trace.channels) {
    if (!channel.plotted) continue;
    auto found = std::find_if(panels.begin(), panels.end(),
                              [&](const Panel& p) { return p.name == channel.panel; });
    if (found == panels.end()) {
      panels.push_back({channel.panel, channel.scale, {}});
      found = panels.end() - 1;
    }
    found->channels.push_back(&channel);
  }
  return panels;
}

// The points of a line that holds each value until the next step.
std::string StepPoints(const Trace& trace, const std::vector<double>& values,
                       const std::function<double(double)>& x_of,
                       const std::function<double(double)>& y_of) {
  std::string points;
  for (size_t i = 0; i < values.size() && i < trace.time_ms.size(); ++i) {
    const std::string x = Coordinate(x_of(trace.time_ms[i]));
    if (i > 0) points += x + "," + Coordinate(y_of(values[i - 1])) + " ";
    points += x + "," + Coordinate(y_of(values[i])) + " ";
  }
  return points;
}

// What the board got of a level the block sends: high or low, never between.
std::vector<double> LevelsSent(const TraceChannel& channel) {
  std::vector<double> levels;
  levels.reserve(channel.values.size());
  for (double v : channel.values) levels.push_back(v > *channel.high_above ? kLevelHigh : 0.0);
  return levels;
}

bool DrawsLevelsSent(const std::vector<const TraceChannel*>& channels) {
  return std::any_of(channels.begin(), channels.end(),
                     [](const TraceChannel* channel) { return channel->high_above.has_value(); });
}

std::string Line(double x1, double y1, double x2, double y2, const std::string& stroke,
                 const std::string& extra = "") {
  return "<line x1=\"" + Coordinate(x1) + "\" x2=\"" + Coordinate(x2) + "\" y1=\"" +
         Coordinate(y1) + "\" y2=\"" + Coordinate(y2) + "\" stroke=\"" + stroke + "\"" + extra +
         "/>\n";
}

std::string Text(double x, double y, const std::string& text, const std::string& attributes) {
  return "<text x=\"" + Coordinate(x) + "\" y=\"" + Coordinate(y) + "\" " + attributes + ">" +
         Escape(text) + "</text>\n";
}

// Where everything of the plot goes: the panels stacked from first_top
// down, and the time axis they share.
struct Layout {
  std::vector<Panel> panels;
  bool paused = false;      // the plot marks a serial port's opening pause
  double pause_end_ms = 0;  // where that pause ends
  double first_top = 0;     // the top of the first panel
  double height = 0;        // of the whole plot
  double plot_width = kWidth - kLeft - kRight;
  double t_low = 0.0;  // the time axis, in s
  double t_high = 1.0;
  std::vector<double> t_ticks;

  double XOfMs(double ms) const { return XOfSeconds(ms / 1000.0); }
  double XOfSeconds(double s) const { return kLeft + (s - t_low) / (t_high - t_low) * plot_width; }
};

Layout LayOut(const Trace& trace) {
  Layout layout;
  layout.panels = PanelsOf(trace);
  layout.paused = trace.open_pause_ms > 0 && !trace.time_ms.empty();
  layout.pause_end_ms = layout.paused ? std::min(trace.open_pause_ms, trace.time_ms.back()) : 0;
  const size_t header_lines = trace.notes.size() + (layout.paused ? 1 : 0);
  layout.first_top = kTitleY + header_lines * kNoteHeight + kPanelNameRoom;
  double height = layout.first_top;
  for (const Panel& panel : layout.panels) {
    height += panel.Height() + kTimeLabelsRoom + kPanelGap;
  }
  layout.height =
      layout.panels.empty() ? layout.first_top + 40 + kBottom : height - kPanelGap + kBottom;
  layout.t_high = trace.time_ms.empty() ? 1.0 : trace.time_ms.back() / 1000.0;
  layout.t_ticks = Ticks(&layout.t_low, &layout.t_high);
  return layout;
}

// The opening tag, the title and the lines under it.
std::string Header(const Trace& trace, const Layout& layout) {
  std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Number(kWidth) +
                    "\" height=\"" + Number(layout.height) + "\" viewBox=\"0 0 " + Number(kWidth) +
                    " " + Number(layout.height) +
                    "\" font-family=\"sans-serif\" font-size=\"12\">\n";
  svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  svg += Text(kLeft, kTitleY, trace.title, "font-size=\"16\" font-weight=\"bold\"");
  double note_y = kTitleY;
  for (const std::string& note : trace.notes) {
    note_y += kNoteHeight;
    svg += Text(kLeft, note_y, note, "fill=\"#333333\"");
  }
  if (layout.paused) {
    note_y += kNoteHeight;
    svg += "<rect x=\"" + Coordinate(kLeft) + "\" y=\"" + Coordinate(note_y - 10) +
           "\" width=\"22\" height=\"12\" fill=\"" + kPauseFill + "\"/>\n";
    char text[160];
    snprintf(text, sizeof text,
             "the first %.1f s: the serial port opening and the board restarting; no data yet",
             layout.pause_end_ms / 1000.0);
    svg += Text(kLeft + 28, note_y, text, "fill=\"#333333\"");
  }
  if (layout.panels.empty()) {
    svg += Text(kLeft, layout.first_top + 10,
                "No channel in use: every pin of the block is unused.", "");
  }
  return svg;
}

// Where a value of the panel's channel `lane` goes on the panel.
using YOf = std::function<double(size_t lane, double value)>;

// Lanes of digital levels: no value axis, a rule between the lanes.
YOf LaneAxis(const Panel& panel, const Layout& layout, double top, std::string* svg) {
  for (size_t lane = 1; lane < panel.channels.size(); ++lane) {
    *svg += Line(kLeft, top + lane * kLaneHeight, kLeft + layout.plot_width,
                 top + lane * kLaneHeight, "#d8d8d8");
  }
  return [top](size_t lane, double v) {
    const double low_y = top + (lane + 1) * kLaneHeight - kLanePad;
    const double high_y = top + lane * kLaneHeight + kLanePad;
    return low_y - Clamped(v, 0, kLevelHigh) / kLevelHigh * (low_y - high_y);
  };
}

// A value axis: 0..1023 for counts, fitted to the values otherwise.
YOf ValueAxis(const Panel& panel, const Layout& layout, double bottom, std::string* svg) {
  double v_low = 0, v_high = kCountMax;
  std::vector<double> v_ticks = {0, 256, 512, 768, kCountMax};
  if (panel.scale == TraceScale::kAuto) {
    v_low = std::numeric_limits<double>::infinity();
    v_high = -v_low;
    for (const TraceChannel* channel : panel.channels) {
      for (double v : channel->values) {
        if (!std::isfinite(v)) continue;
        v_low = std::min(v_low, v);
        v_high = std::max(v_high, v);
      }
    }
    if (!std::isfinite(v_low)) v_low = v_high = 0.0;
    v_ticks = Ticks(&v_low, &v_high);
  }
  YOf y_of = [bottom, v_low, v_high](size_t, double v) {
    return bottom - (Clamped(v, v_low, v_high) - v_low) / (v_high - v_low) * kPanelHeight;
  };
  for (double tick : v_ticks) {
    const double y = y_of(0, tick);
    *svg += Line(kLeft, y, kLeft + layout.plot_width, y, "#e0e0e0");
    *svg += Text(kLeft - 6, y, Number(tick), "text-anchor=\"end\" dominant-baseline=\"middle\"");
  }
  return y_of;
}

std::string TimeGrid(const Layout& layout, double top, double bottom) {
  std::string svg;
  for (double tick : layout.t_ticks) {
    const double x = layout.XOfSeconds(tick);
    svg += Line(x, top, x, bottom, "#f0f0f0");
    svg += Text(x, bottom + 16, Number(tick), "text-anchor=\"middle\"");
  }
  return svg;
}

// Each channel's line, named in its lane or in the legend; `colour` counts
// on across the panels, so that no two channels share one.
std::string ChannelLines(const Trace& trace, const Layout& layout, const Panel& panel, double top,
                         const YOf& y_of, size_t* colour) {
  std::string svg;
  const auto x_of = [&](double ms) { return layout.XOfMs(ms); };
  for (size_t c = 0; c < panel.channels.size(); ++c, ++*colour) {
    const TraceChannel& channel = *panel.channels[c];
    const std::string stroke = kColours[*colour % std::size(kColours)];
    const auto y = [&](double v) { return y_of(c, v); };
    if (channel.high_above) {
      svg += "<polyline data-channel=\"" + Escape(channel.name) +
             " (input)\" fill=\"none\" stroke=\"" + stroke +
             "\" stroke-width=\"1\" stroke-opacity=\"0.35\" stroke-dasharray=\"4 3\" points=\"" +
             StepPoints(trace, channel.values, x_of, y) + "\"/>\n";
    }
    const std::vector<double> drawn = channel.high_above ? LevelsSent(channel) : channel.values;
    svg += "<polyline data-channel=\"" + Escape(channel.name) + "\" fill=\"none\" stroke=\"" +
           stroke + "\" stroke-width=\"1.6\" points=\"" + StepPoints(trace, drawn, x_of, y) +
           "\"/>\n";
    if (panel.scale == TraceScale::kLevel) {
      // The lane's name at its left, where a logic analyser puts it.
      svg += Text(kLeft - 6, top + (c + 0.5) * kLaneHeight, channel.name,
                  "text-anchor=\"end\" dominant-baseline=\"middle\" fill=\"" + stroke + "\"");
      continue;
    }
    const double legend_y = top + 14 + c * 18;
    const double legend_x = kLeft + layout.plot_width + 16;
    svg += Line(legend_x, legend_y, legend_x + 22, legend_y, stroke, " stroke-width=\"3\"");
    svg += Text(legend_x + 28, legend_y, channel.name, "dominant-baseline=\"middle\"");
  }
  return svg;
}

// One panel, its top at `top`.
std::string PanelSvg(const Trace& trace, const Layout& layout, const Panel& panel, double top,
                     size_t* colour) {
  const double bottom = top + panel.Height();
  std::string name = panel.name;
  if (panel.scale == TraceScale::kLevel) {
    name += DrawsLevelsSent(panel.channels)
                ? " (a lane each: the level sent, high 5 V, low 0 V; dashed, the input)"
                : " (a lane each: high 5 V, low 0 V)";
  }
  std::string svg = "<g>\n" + Text(kLeft, top - 11, name, "font-weight=\"bold\"");
  const YOf y_of = panel.scale == TraceScale::kLevel ? LaneAxis(panel, layout, top, &svg)
                                                     : ValueAxis(panel, layout, bottom, &svg);
  svg += TimeGrid(layout, top, bottom);
  svg += ChannelLines(trace, layout, panel, top, y_of, colour);
  // Over the lines, so that what they show there reads as held, not measured.
  if (layout.paused) {
    svg += "<rect class=\"open-pause\" x=\"" + Coordinate(layout.XOfMs(0)) + "\" y=\"" +
           Coordinate(top) + "\" width=\"" +
           Coordinate(layout.XOfMs(layout.pause_end_ms) - layout.XOfMs(0)) + "\" height=\"" +
           Coordinate(panel.Height()) + "\" fill=\"" + kPauseFill + "\" fill-opacity=\"0.6\"/>\n";
  }
  svg += "<rect x=\"" + Coordinate(kLeft) + "\" y=\"" + Coordinate(top) + "\" width=\"" +
         Coordinate(layout.plot_width) + "\" height=\"" + Coordinate(panel.Height()) +
         "\" fill=\"none\" stroke=\"#404040\"/>\n";
  svg += "</g>\n";
  return svg;
}

}  // namespace

std::string RenderSvgPlot(const Trace& trace) {
  const Layout layout = LayOut(trace);
  std::string svg = Header(trace, layout);
  size_t colour = 0;
  double top = layout.first_top;
  for (const Panel& panel : layout.panels) {
    svg += PanelSvg(trace, layout, panel, top, &colour);
    top = top + panel.Height() + kTimeLabelsRoom + kPanelGap;
  }
  svg +=
      Text(kLeft + layout.plot_width / 2, layout.height - 10, "time (s)", "text-anchor=\"middle\"");
  svg += "</svg>\n";
  return svg;
}

void WriteSvgPlot(const Trace& trace, const std::string& path) {
  WriteTraceFile(path, RenderSvgPlot(trace));
}

}  // namespace blockhost
