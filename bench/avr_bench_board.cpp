#include "avr_bench_board.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace bench {
namespace {

harness::ChildProcess StartAvrboard(const std::string& avrboard, const std::string& mcu,
                                    const std::string& image, const std::string& tty,
                                    const std::string& exchanges,
                                    const std::vector<std::string>& extra) {
  std::vector<std::string> args = {"--mcu", mcu, "--firmware",  image,
                                   "--pty", tty, "--exchanges", exchanges};
  args.insert(args.end(), extra.begin(), extra.end());
  return harness::StartAvrboard(avrboard, args);
}

}  // namespace

FirmwareImage FindImage(const std::string& firmware_dir, const std::string& image,
                        const std::string& how_to_build) {
  FirmwareImage found{firmware_dir + "/" + image + ".elf", ""};
  if (access(found.path.c_str(), R_OK) != 0) {
    found.why_not = "no image at " + found.path + " (" + how_to_build + ")";
  }
  return found;
}

AvrBenchBoard::AvrBenchBoard(const std::string& avrboard, const std::string& mcu,
                             const std::string& image, const std::vector<std::string>& extra)
    : tty_(dir_.File("tty")),
      exchanges_(dir_.File("exchanges.log")),
      process_(StartAvrboard(avrboard, mcu, image, tty_, exchanges_, extra)) {}

void AvrBenchBoard::Stop() {
  if (process_.Stop(SIGTERM) != 0) {
    throw std::runtime_error("avrboard did not stop cleanly: " + process_.stderr_text());
  }
}

}  // namespace bench
