// avrboard as the benches that measure the real firmware start it: the
// image built for a board, the chip's UART on a pseudo-terminal of its own
// and every exchange noted in a log, both in a folder that goes with the
// board.  POSIX only, like avrboard.
#pragma once

#include <string>
#include <vector>

#include "child_process.h"
#include "files.h"

namespace bench {

// The ELF image firmware/build.sh writes as `image` (uno/arduino_block-9600,
// say: the path without its extension) under `firmware_dir`;
// `why_not` is empty when it can be read, and otherwise says what is
// missing and, after it, `how_to_build` it.
struct FirmwareImage {
  std::string path;
  std::string why_not;
};
FirmwareImage FindImage(const std::string& firmware_dir, const std::string& image,
                        const std::string& how_to_build);

class AvrBenchBoard {
 public:
  // Starts `avrboard` with the image at `image` on `mcu`, `extra` after the
  // rest (pins, analog inputs, Ethernet), and waits until it is ready: its
  // terminal is there to open.  Throws with what it said when it does not
  // get there.
  AvrBenchBoard(const std::string& avrboard, const std::string& mcu, const std::string& image,
                const std::vector<std::string>& extra);

  // The pseudo-terminal of the chip's UART.
  const std::string& tty() const { return tty_; }
  // avrboard's log of the exchanges it saw (--exchanges).
  const std::string& exchanges() const { return exchanges_; }
  harness::ChildProcess& process() { return process_; }

  // Stops avrboard; throws when it did not stop cleanly, since its log is
  // then not to be trusted.  The log stays until the object goes.
  void Stop();

 private:
  harness::TempDir dir_;  // before process_, so the board ends before its folder
  std::string tty_, exchanges_;
  harness::ChildProcess process_;
};

}  // namespace bench
