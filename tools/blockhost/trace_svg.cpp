// A plain SVG line plot: stacked panels sharing the time axis, each with its
// own value axis and a legend beside it.  Values hold between steps, so the
// lines are drawn as steps.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>

#include "errors.h"
#include "trace.h"

namespace blockhost {
namespace {

constexpr double kWidth = 960;
constexpr double kLeft = 70;
constexpr double kRight = 200;  // room for the legend
constexpr double kTop = 56;     // the title, then the first panel's name
constexpr double kPanelHeight = 200;
constexpr double kPanelGap = 56;
constexpr double kBottom = 50;
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

struct Panel {
  std::string name;
  std::vector<const TraceChannel*> channels;
};

std::vector<Panel> PanelsOf(const Trace& trace) {
  std::vector<Panel> panels;
  for (const TraceChannel& channel : trace.channels) {
    if (!channel.plotted) continue;
    auto found = std::find_if(panels.begin(), panels.end(),
                              [&](const Panel& p) { return p.name == channel.panel; });
    if (found == panels.end()) {
      panels.push_back({channel.panel, {}});
      found = panels.end() - 1;
    }
    found->channels.push_back(&channel);
  }
  return panels;
}

}  // namespace

std::string RenderSvgPlot(const Trace& trace) {
  std::vector<Panel> panels = PanelsOf(trace);
  const size_t panel_count = std::max<size_t>(panels.size(), 1);
  const double height = kTop + panel_count * kPanelHeight + (panel_count - 1) * kPanelGap + kBottom;
  const double plot_width = kWidth - kLeft - kRight;

  double t_low = 0.0;
  double t_high = trace.time_ms.empty() ? 1.0 : trace.time_ms.back() / 1000.0;
  std::vector<double> t_ticks = Ticks(&t_low, &t_high);
  auto x_of = [&](double ms) {
    return kLeft + (ms / 1000.0 - t_low) / (t_high - t_low) * plot_width;
  };

  std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Number(kWidth) +
                    "\" height=\"" + Number(height) + "\" viewBox=\"0 0 " + Number(kWidth) + " " +
                    Number(height) + "\" font-family=\"sans-serif\" font-size=\"12\">\n";
  svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  svg += "<text x=\"" + Number(kLeft) + "\" y=\"24\" font-size=\"16\" font-weight=\"bold\">" +
         Escape(trace.title) + "</text>\n";
  if (panels.empty()) {
    svg += "<text x=\"" + Number(kLeft) + "\" y=\"" + Number(kTop + 40) +
           "\">No channel in use: every pin of the block is unused.</text>\n";
  }

  size_t colour = 0;
  for (size_t p = 0; p < panels.size(); ++p) {
    const Panel& panel = panels[p];
    const double top = kTop + p * (kPanelHeight + kPanelGap);
    const double bottom = top + kPanelHeight;
    double v_low = std::numeric_limits<double>::infinity();
    double v_high = -v_low;
    for (const TraceChannel* channel : panel.channels) {
      for (double v : channel->values) {
        v_low = std::min(v_low, v);
        v_high = std::max(v_high, v);
      }
    }
    if (!std::isfinite(v_low)) v_low = v_high = 0.0;
    std::vector<double> v_ticks = Ticks(&v_low, &v_high);
    auto y_of = [&](double v) { return bottom - (v - v_low) / (v_high - v_low) * kPanelHeight; };

    svg += "<g>\n<text x=\"" + Number(kLeft) + "\" y=\"" + Coordinate(top - 8) +
           "\" font-weight=\"bold\">" + Escape(panel.name) + "</text>\n";
    for (double tick : v_ticks) {
      std::string y = Coordinate(y_of(tick));
      svg += "<line x1=\"" + Number(kLeft) + "\" x2=\"" + Number(kLeft + plot_width) + "\" y1=\"" +
             y + "\" y2=\"" + y + "\" stroke=\"#e0e0e0\"/>\n";
      svg += "<text x=\"" + Number(kLeft - 6) + "\" y=\"" + y +
             "\" text-anchor=\"end\" dominant-baseline=\"middle\">" + Number(tick) + "</text>\n";
    }
    for (double tick : t_ticks) {
      std::string x = Coordinate(kLeft + (tick - t_low) / (t_high - t_low) * plot_width);
      svg += "<line x1=\"" + x + "\" x2=\"" + x + "\" y1=\"" + Coordinate(top) + "\" y2=\"" +
             Coordinate(bottom) + "\" stroke=\"#f0f0f0\"/>\n";
      svg += "<text x=\"" + x + "\" y=\"" + Coordinate(bottom + 16) + "\" text-anchor=\"middle\">" +
             Number(tick) + "</text>\n";
    }
    svg += "<rect x=\"" + Number(kLeft) + "\" y=\"" + Coordinate(top) + "\" width=\"" +
           Number(plot_width) + "\" height=\"" + Number(kPanelHeight) +
           "\" fill=\"none\" stroke=\"#404040\"/>\n";

    for (size_t c = 0; c < panel.channels.size(); ++c, ++colour) {
      const TraceChannel& channel = *panel.channels[c];
      const char* stroke = kColours[colour % std::size(kColours)];
      std::string points;
      for (size_t i = 0; i < channel.values.size(); ++i) {
        std::string y = Coordinate(y_of(channel.values[i]));
        if (i > 0)
          points += Coordinate(x_of(trace.time_ms[i])) + "," +
                    Coordinate(y_of(channel.values[i - 1])) + " ";
        points += Coordinate(x_of(trace.time_ms[i])) + "," + y + " ";
      }
      svg += "<polyline fill=\"none\" stroke=\"" + std::string(stroke) +
             "\" stroke-width=\"1.6\" points=\"" + points + "\"/>\n";
      const double legend_y = top + 14 + c * 18;
      const double legend_x = kLeft + plot_width + 16;
      svg += "<line x1=\"" + Number(legend_x) + "\" x2=\"" + Number(legend_x + 22) + "\" y1=\"" +
             Coordinate(legend_y) + "\" y2=\"" + Coordinate(legend_y) + "\" stroke=\"" + stroke +
             "\" stroke-width=\"3\"/>\n";
      svg += "<text x=\"" + Number(legend_x + 28) + "\" y=\"" + Coordinate(legend_y) +
             "\" dominant-baseline=\"middle\">" + Escape(channel.name) + "</text>\n";
    }
    svg += "</g>\n";
  }
  const double axis_y = kTop + panel_count * kPanelHeight + (panel_count - 1) * kPanelGap + 38;
  svg += "<text x=\"" + Number(kLeft + plot_width / 2) + "\" y=\"" + Coordinate(axis_y) +
         "\" text-anchor=\"middle\">time (s)</text>\n";
  svg += "</svg>\n";
  return svg;
}

void WriteSvgPlot(const Trace& trace, const std::string& path) {
  WriteTraceFile(path, RenderSvgPlot(trace));
}

}  // namespace blockhost
