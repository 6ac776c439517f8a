// The links of the i386 build.  The UDP endpoint hands each datagram to the
// fake board, and the board's reply arrives at the endpoint's next pump
// pass, from 127.0.0.1:1600.  The machine has no serial port: every open
// fails, as with a board unplugged.
#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <utility>

#include "fake_platform.h"
#include "link/NMUDP.h"
#include "link/serial.h"

namespace arduino {
namespace {

fakes::Board g_board;

}  // namespace

namespace fakes {

void SetBoard(Board board) { g_board = std::move(board); }

}  // namespace fakes

struct TNMUDP::Platform {
  uint16_t port = 0;
  std::deque<std::string> waiting;
  // Arrivals queued for a pass check it: an endpoint may go before they run.
  std::shared_ptr<bool> alive = std::make_shared<bool>(true);
};

void TNMUDP::PlatformDeleter::operator()(Platform* platform) const { delete platform; }

void TNMUDP::CreatePlatform() { platform_.reset(new Platform); }
void TNMUDP::DestroyPlatform() { platform_.reset(); }

void TNMUDP::RecreateSocket() { platform_.reset(new Platform); }

void TNMUDP::BindAndRegister(uint16_t port) { platform_->port = port; }

std::optional<uint32_t> TNMUDP::ParseAddressLiteral(const std::string& host) const {
  in_addr address{};
  if (inet_pton(AF_INET, host.c_str(), &address) != 1) return std::nullopt;
  return address.s_addr;
}

// The fake network knows no names.
std::optional<uint32_t> TNMUDP::LookUpHost(const std::string&) { return std::nullopt; }

void TNMUDP::SendTo(uint32_t, uint16_t, const char* data, int32_t length) {
  std::optional<std::string> reply =
      g_board ? g_board(std::string(data, static_cast<size_t>(length))) : std::nullopt;
  if (!reply) return;
  platform_->waiting.push_back(*reply);
  std::weak_ptr<bool> alive = platform_->alive;
  fakes::PostArrival([this, alive] {
    if (!alive.expired()) ReceiveWaiting();
  });
}

void TNMUDP::ReceiveWaiting() {
  constexpr uint32_t kLoopback = 0x0100007F;  // 127.0.0.1 in network byte order
  while (!platform_->waiting.empty()) {
    std::string datagram = std::move(platform_->waiting.front());
    platform_->waiting.pop_front();
    size_t length = std::min(datagram.size(), kReceiveBufferSize);
    std::memcpy(receive_buffer_, datagram.data(), length);
    Deliver(static_cast<int32_t>(length), kLoopback, 1600);
  }
}

uint16_t TNMUDP::BoundPort() const { return platform_ ? platform_->port : 0; }

PortOpenResult PlatformOpenPort(const std::string&) { return {false, 0}; }
void PlatformConfigurePort(PortHandle, int32_t) {}
void PlatformClosePort(PortHandle) {}
WriteOutcome PlatformWriteByte(PortHandle, uint8_t) { return WriteOutcome::kFailed; }
ReadOutcome PlatformReadByte(PortHandle, uint8_t&) { return ReadOutcome::kFailed; }
void PlatformPause(uint32_t) {}

}  // namespace arduino
