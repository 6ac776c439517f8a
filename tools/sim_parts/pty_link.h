// The serial side of boardsim: a pseudo-terminal whose slave end stands in
// for the board's USB serial port.
#pragma once

#include <poll.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace boardsim {

// Only the master end is held.  A program that has the slave open looks to
// the block like one that holds its port, so an emulated board that kept the
// slave open itself would never be free.  While no peer has the slave open,
// the master reads EIO and polls as hung up; callers wait some other way
// then (see WaitForInput).  The line settings live with the pair, not with
// the slave's descriptors: they are set and read on the master, and a peer
// that comes back finds them as it left them.
class PtyLink {
 public:
  // Creates the pseudo-terminal in raw mode and a symlink to its slave at
  // link_path.  A stale symlink there is replaced; any other file is not.
  static std::optional<PtyLink> Open(const std::string& link_path, std::string* error);

  PtyLink(PtyLink&& other) noexcept;
  PtyLink& operator=(PtyLink&&) = delete;
  // Closes the master, so a peer sees the line drop, and removes the link.
  ~PtyLink();

  int fd() const { return master_; }
  const std::string& slave_name() const { return slave_name_; }

  // Appends whatever bytes are waiting, without blocking.
  void Read(std::string* bytes);
  // Waits at most timeout_ms for bytes from the peer.  While no peer has the
  // slave open there can be none, and the master would report a hang-up at
  // once, so the wait is then simply a pause of the whole time.
  void WaitForInput(int timeout_ms) const;
  // Whether the last poll of the master saw no peer: its slave is not open.
  static bool NoPeer(short revents) { return (revents & (POLLHUP | POLLIN)) == POLLHUP; }
  // The speed the peer set on the line, read on the master; nothing for a
  // speed termios has no rate for, or when the settings cannot be read.  A
  // pty carries bytes at any speed, so an emulated board that should answer
  // at one speed only has to compare this with its own.
  std::optional<int32_t> LineBaudRate() const;
  // Returns false with *error set when the bytes could not all be written.
  bool Write(const std::string& bytes, std::string* error);

  // Throws away what was written and not yet read, as a line does whose
  // listener went away.  Bytes written while no peer has the slave open wait
  // there for the next one, so a program that opens the port gets them too
  // unless they are discarded.  Bytes written a moment before may still be
  // on their way into that queue, and escape.  The line's settings stay as
  // the peer has them.  True when the slave was opened to do it, which a
  // watch of its opens then sees as well.
  bool DiscardUnread();

  // Gives the peer max_wait_ms to read what was written, less if it closes
  // the slave first.  Closing the master discards what the peer has not yet
  // read, so a hang-up without this would swallow the last reply.  The
  // master cannot see how much of it the peer has read, hence the fixed wait.
  void WaitUntilRead(int max_wait_ms) const;

 private:
  PtyLink(int master, std::string slave_name, std::string link_path)
      : master_(master), slave_name_(std::move(slave_name)), link_path_(std::move(link_path)) {}

  int master_;
  // Whether Write has put bytes in the slave's queue since the last
  // DiscardUnread, which has nothing to do otherwise.
  bool written_since_discard_ = false;
  std::string slave_name_;
  std::string link_path_;
};

}  // namespace boardsim
