#include "board_bench.h"

#include <stdlib.h>

#include <cstddef>
#include <cstdio>
#include <stdexcept>

#include "tool_api/block_codes.h"

namespace bench {

std::optional<BoardBenchLine> ReadBoardBenchLine(const char* name, int argc, char** argv) {
  if (argc < 5 || argc > 6) {
    std::cerr << "usage: " << name << " AVRBOARD MODULE FIRMWARE_DIR OUT_DIR [SECONDS]\n";
    return std::nullopt;
  }
  BoardBenchLine line{argv[1], argv[2], argv[3], argv[4]};
  if (argc == 6) line.seconds = std::atof(argv[5]);
  if (!(line.seconds > 0)) {
    std::cerr << name << ": SECONDS must be a positive number\n";
    return std::nullopt;
  }
  return line;
}

harness::BlockSettings SerialSettings(const AvrBenchBoard& board, int com_port, int32_t baud) {
  setenv(("ARDUINO_BLOCK_COM" + std::to_string(com_port)).c_str(), board.tty().c_str(), 1);
  harness::BlockSettings settings;
  settings.interface_kind = arduino::kInterfaceUsb;
  settings.com_port = com_port;
  settings.baud_rate = baud;
  return settings;
}

double UnpacedSpeed(const std::string& said) {
  const std::string key = "unpaced speed ";
  const size_t at = said.rfind(key);
  return at == std::string::npos ? 0 : std::atof(said.c_str() + at + key.size());
}

std::string Format(double value, const char* format) {
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

namespace {

std::vector<avrboard::Exchange> ReadLog(const std::string& log) {
  std::ifstream in(log);
  return avrboard::ReadExchanges(in);
}

}  // namespace

size_t ExchangeCount(const std::string& log) { return ReadLog(log).size(); }

std::vector<avrboard::Exchange> ExchangesAfter(const std::string& log, size_t before) {
  std::vector<avrboard::Exchange> logged = ReadLog(log);
  if (logged.size() <= before) throw std::runtime_error("avrboard noted no exchanges in " + log);
  logged.erase(logged.begin(), logged.begin() + static_cast<std::ptrdiff_t>(before));
  size_t errors = 0;
  for (const avrboard::Exchange& exchange : logged) {
    if (exchange.reply.starts_with("ERR")) ++errors;
  }
  if (errors > 0) {
    throw std::runtime_error(std::to_string(errors) + " exchanges got ERR in " + log +
                             ": the block and the firmware disagree");
  }
  return logged;
}

}  // namespace bench
