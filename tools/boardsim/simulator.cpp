#include "simulator.h"

#include <netinet/in.h>
#include <poll.h>
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "board_protocol.h"
#include "byte_escape.h"
#include "option_values.h"
#include "pty_link.h"
#include "reply_shaper.h"
#include "serial_framer.h"
#include "sim_board.h"
#include "speed_mismatch.h"
#include "udp_link.h"

namespace boardsim {
namespace {

using Clock = std::chrono::steady_clock;

// How long a serial hang-up waits for the peer to read the last reply.  A
// peer that waits for it reads it within milliseconds; the rest is room for
// a loaded machine.
constexpr int kHangupLingerMs = 500;
// How often a pty with no peer on its slave looks for one.  Its master polls
// as hung up until a peer opens the slave, so it cannot be waited on.
constexpr long kNoPeerRecheckNs = 10'000'000;

volatile sig_atomic_t g_stop_signal = 0;

void OnStopSignal(int signal_number) { g_stop_signal = signal_number; }

struct PendingReply {
  Clock::time_point due;
  std::string bytes;
  sockaddr_in destination;  // UDP only.
};

class Simulator {
 public:
  explicit Simulator(const Options& options)
      : options_(options), protocol_(board_), shaper_(options), start_(Clock::now()) {
    for (const auto& [from, to] : options.wires) board_.AddWire(from, to);
    for (const auto& [pin, source] : options.analog) board_.SetAnalogSource(pin, source);
  }

  int Run();

 private:
  bool SetUp();
  void ReceiveAll();
  void HandleCommand(const std::string& command, const sockaddr_in& sender);
  void SendDueReplies();
  int64_t NowMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count();
  }
  bool HungUp() const { return options_.hangup_after && handled_ >= *options_.hangup_after; }
  // What the board's UART reads of bytes from the peer, and what the peer
  // reads of bytes the board sends: the bytes themselves unless --baud
  // gives the board a speed the peer's line settings do not match.
  std::string AsTheBoardReads(const std::string& bytes);
  std::string AsThePeerReads(const std::string& bytes);
  // The speed the peer set, said on stderr whenever it changes.
  std::optional<int32_t> PeerBaud();

  const Options& options_;
  SimBoard board_;
  board::BoardProtocol protocol_;
  board::SerialFramer framer_;
  ReplyShaper shaper_;
  Clock::time_point start_;
  std::optional<UdpLink> udp_;
  std::optional<PtyLink> pty_;
  std::unique_ptr<FILE, int (*)(FILE*)> log_{nullptr, fclose};
  // Every reply waits the same time, so replies fall due in the order they
  // were queued and a plain FIFO serves as the timer queue.
  std::deque<PendingReply> pending_;
  long long handled_ = 0;
  // The peer's speed as last said on stderr; unset until first said.
  std::optional<std::optional<int32_t>> said_peer_baud_;
};

bool Simulator::SetUp() {
  std::string error;
  if (!options_.log_path.empty()) {
    log_.reset(fopen(options_.log_path.c_str(), "a"));
    if (!log_) {
      fprintf(stderr, "boardsim: cannot open log '%s': %s\n", options_.log_path.c_str(),
              strerror(errno));
      return false;
    }
  }
  if (options_.transport == Transport::kUdp) {
    std::optional<UdpLink> link = UdpLink::Open(options_.udp_host, options_.udp_port, &error);
    if (!link) {
      fprintf(stderr, "boardsim: %s\n", error.c_str());
      return false;
    }
    udp_.emplace(std::move(*link));
    fprintf(stderr, "boardsim: listening on udp %s\n", udp_->LocalAddress().c_str());
  } else {
    std::optional<PtyLink> link = PtyLink::Open(options_.pty_path, &error);
    if (!link) {
      fprintf(stderr, "boardsim: %s\n", error.c_str());
      return false;
    }
    pty_.emplace(std::move(*link));
    fprintf(stderr, "boardsim: serial on %s -> %s\n", options_.pty_path.c_str(),
            pty_->slave_name().c_str());
  }
  return true;
}

std::optional<int32_t> Simulator::PeerBaud() {
  const std::optional<int32_t> peer = pty_->LineBaudRate();
  if (said_peer_baud_ != peer) {
    said_peer_baud_ = peer;
    const int board = *options_.baud;
    if (!peer) {
      fprintf(stderr, "boardsim: the line is at a speed without a baud rate; the board is at %d\n",
              board);
    } else if (*peer == board) {
      fprintf(stderr, "boardsim: the line is at %d baud, as the board\n", board);
    } else {
      fprintf(stderr, "boardsim: the line is at %d baud, the board at %d: bytes are garbled\n",
              *peer, board);
    }
  }
  return peer;
}

std::string Simulator::AsTheBoardReads(const std::string& bytes) {
  if (!options_.baud || bytes.empty()) return bytes;
  const std::optional<int32_t> peer = PeerBaud();
  // No UART runs at a speed that has no rate; nothing it sends gets through.
  return peer ? ReadAtOtherSpeed(bytes, *peer, *options_.baud) : std::string();
}

std::string Simulator::AsThePeerReads(const std::string& bytes) {
  if (!options_.baud || bytes.empty()) return bytes;
  const std::optional<int32_t> peer = PeerBaud();
  return peer ? ReadAtOtherSpeed(bytes, *options_.baud, *peer) : std::string();
}

void Simulator::HandleCommand(const std::string& command, const sockaddr_in& sender) {
  if (HungUp()) return;
  ++handled_;
  if (log_) {
    fprintf(log_.get(), "%s\n",
            byte_text::EscapeBytes(command, byte_text::HexDigits::kLower).c_str());
    fflush(log_.get());
  }

  board_.set_now_ms(NowMs());
  board::Reply reply;
  protocol_.Handle(command.data(), command.size(), &reply);
  std::string text(reply.text, reply.length);
  // The override replaces only the reply; the command still acts on the
  // board, so a test can fake a bad reading without changing what happens.
  if (const auto found = options_.replies.find(command); found != options_.replies.end()) {
    text = found->second;
  }

  std::optional<std::string> bytes = shaper_.Shape(text);
  if (!bytes) return;
  sockaddr_in destination = sender;
  if (options_.reply_port) destination.sin_port = htons(*options_.reply_port);
  const auto delay = std::chrono::milliseconds(options_.delay_ms + options_.late_ms);
  pending_.push_back({Clock::now() + delay, std::move(*bytes), destination});
}

void Simulator::ReceiveAll() {
  if (udp_) {
    std::string datagram;
    sockaddr_in sender{};
    while (!HungUp() && udp_->Receive(&datagram, &sender)) HandleCommand(datagram, sender);
    return;
  }
  std::string received;
  pty_->Read(&received);
  const std::string bytes = AsTheBoardReads(received);
  const auto now = static_cast<uint32_t>(NowMs());
  for (const char byte : bytes) {
    if (framer_.Feed(byte, now)) {
      HandleCommand(std::string(framer_.command(), framer_.length()), sockaddr_in{});
    }
  }
}

void Simulator::SendDueReplies() {
  const auto now = Clock::now();
  while (!pending_.empty() && pending_.front().due <= now) {
    const PendingReply& reply = pending_.front();
    std::string error;
    const bool sent = udp_ ? udp_->Send(reply.bytes, reply.destination, &error)
                           : pty_->Write(AsThePeerReads(reply.bytes), &error);
    if (!sent) fprintf(stderr, "boardsim: reply lost: %s\n", error.c_str());
    pending_.pop_front();
  }
}

int Simulator::Run() {
  // Block the stop signals except inside ppoll, so a signal can never slip
  // in between checking the flag and going to sleep.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  sigset_t poll_mask;
  sigprocmask(SIG_BLOCK, &stop_signals, &poll_mask);
  sigdelset(&poll_mask, SIGINT);
  sigdelset(&poll_mask, SIGTERM);
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // A test harness that goes away must not kill us mid-write.
  signal(SIGPIPE, SIG_IGN);

  if (!SetUp()) return 1;

  bool no_peer = false;
  while (g_stop_signal == 0) {
    if (HungUp() && pending_.empty()) {
      if (pty_) pty_->WaitUntilRead(kHangupLingerMs);
      fprintf(stderr, "boardsim: hanging up after %lld commands\n", handled_);
      return 0;
    }
    pollfd watched{udp_ ? udp_->fd() : pty_->fd(), static_cast<short>(HungUp() ? 0 : POLLIN), 0};
    timespec timeout{};
    timespec* timeout_pointer = nullptr;
    if (!pending_.empty()) {
      const auto wait = std::max(Clock::duration::zero(), pending_.front().due - Clock::now());
      const auto wait_ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
      timeout.tv_sec = static_cast<time_t>(wait_ns / 1'000'000'000);
      timeout.tv_nsec = static_cast<long>(wait_ns % 1'000'000'000);
      timeout_pointer = &timeout;
    }
    if (no_peer &&
        (timeout_pointer == nullptr || timeout.tv_sec > 0 || timeout.tv_nsec > kNoPeerRecheckNs)) {
      timeout = {0, kNoPeerRecheckNs};
      timeout_pointer = &timeout;
    }
    // With no peer, a pause that still ends at once on a stop signal.
    const int ready =
        ppoll(no_peer ? nullptr : &watched, no_peer ? 0 : 1, timeout_pointer, &poll_mask);
    if (ready < 0 && errno != EINTR) {
      fprintf(stderr, "boardsim: poll: %s\n", strerror(errno));
      return 1;
    }
    if (no_peer) {
      no_peer = false;  // look again with the next poll
    } else if (ready > 0) {
      if (watched.revents & POLLIN) ReceiveAll();
      no_peer = pty_ && PtyLink::NoPeer(watched.revents);
    }
    SendDueReplies();
  }
  fprintf(stderr, "boardsim: stopped by %s\n", g_stop_signal == SIGINT ? "SIGINT" : "SIGTERM");
  return 0;
}

}  // namespace

int RunSimulator(const Options& options) { return Simulator(options).Run(); }

}  // namespace boardsim
