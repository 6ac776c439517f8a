// The serial side of boardsim: a pseudo-terminal whose slave end stands in
// for the board's USB serial port.
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace boardsim {

class PtyLink {
 public:
  // Creates the pseudo-terminal in raw mode and a symlink to its slave at
  // link_path.  A stale symlink there is replaced; any other file is not.
  static std::optional<PtyLink> Open(const std::string& link_path, std::string* error);

  PtyLink(PtyLink&& other) noexcept;
  PtyLink& operator=(PtyLink&&) = delete;
  // Closes both ends, so a peer sees the line drop, and removes the link.
  ~PtyLink();

  int fd() const { return master_; }
  const std::string& slave_name() const { return slave_name_; }

  // Appends whatever bytes are waiting, without blocking.
  void Read(std::string* bytes);
  // Returns false with *error set when the bytes could not all be written.
  bool Write(const std::string& bytes, std::string* error);

  // Throws away what was written and not yet read, as a line does whose
  // listener went away.
  void DiscardUnread();

  // Waits until the peer has read everything written, or max_wait_ms has
  // passed.  Closing the master discards what the peer has not yet read, so
  // a hang-up without this would swallow the last reply.
  void WaitUntilRead(int max_wait_ms);

 private:
  PtyLink(int master, int slave, std::string slave_name, std::string link_path)
      : master_(master),
        slave_(slave),
        slave_name_(std::move(slave_name)),
        link_path_(std::move(link_path)) {}

  int master_;
  // Held open for the simulator's whole life.  Without it, the master reports
  // a hang-up once the peer closes the slave, and a reopening peer would find
  // the line settings reset; with it, the peer can come and go freely.
  int slave_;
  std::string slave_name_;
  std::string link_path_;
};

}  // namespace boardsim
