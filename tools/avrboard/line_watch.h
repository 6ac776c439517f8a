// Who has the board's USB serial port open.  A real board's line carries
// nothing while no program has the port open, and an Uno resets whenever a
// program opens it (the USB chip pulses the reset line), so avrboard has to
// know both: replies written into the terminal while nobody listens would
// otherwise wait there for the next program to open it, one reply out of
// step.
//
// The watch counts the opens and closes of the terminal's slave device that
// the kernel reports through inotify.  avrboard opens the slave only to
// empty its queue, and says so first (OwnOpenFollows), so every open
// counted is another program's.
#pragma once

#include <string>

namespace avrboard {

class LineWatch {
 public:
  // Watches `device` (the slave, e.g. /dev/pts/3).  False with *error set
  // when the kernel refuses the watch.
  bool Start(const std::string& device, std::string* error);
  LineWatch() = default;
  LineWatch(const LineWatch&) = delete;
  LineWatch& operator=(const LineWatch&) = delete;
  ~LineWatch();

  // Takes in what happened since the last call.  True when some program
  // opened the port meanwhile, even if it has closed it again since.
  bool Update();
  // Whether some program has the port open now, as of the last Update.
  bool InUse() const { return holders_ > 0; }
  // avrboard opened and closed the slave itself since the last Update: one
  // open and one close are not counted.  Which ones is all the same, as
  // only the count and whether anything opened matter.
  void OwnOpenFollows() {
    ++own_opens_;
    ++own_closes_;
  }

 private:
  int fd_ = -1;
  int holders_ = 0;
  int own_opens_ = 0;
  int own_closes_ = 0;
};

}  // namespace avrboard
