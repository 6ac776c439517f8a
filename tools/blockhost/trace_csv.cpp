#include <cstdio>
#include <fstream>

#include "errors.h"
#include "trace.h"

namespace blockhost {

void WriteCsv(const Trace& trace, const std::string& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw InputError("cannot write '" + path + "'");
  out << "time_ms";
  for (const TraceChannel& channel : trace.channels) out << ',' << channel.name;
  out << '\n';
  char number[32];
  for (size_t row = 0; row < trace.time_ms.size(); ++row) {
    snprintf(number, sizeof number, "%.3f", trace.time_ms[row]);
    out << number;
    for (const TraceChannel& channel : trace.channels) {
      snprintf(number, sizeof number, "%.10g", channel.values[row]);
      out << ',' << number;
    }
    out << '\n';
  }
  out.flush();
  if (!out) throw InputError("cannot write '" + path + "'");
}

}  // namespace blockhost
