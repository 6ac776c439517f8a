#include "link/NMUDP.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "arduino_block.h"
#include "block/user_data.h"

namespace arduino {

void RaiseSocketError(int error_number) {
  throw UDPSockError(error_number == 0 ? std::string()
                                       : "Unknown Error No. " + std::to_string(error_number));
}

TNMUDP::TNMUDP() {
  ready_ = false;
  CreatePlatform();
  ready_ = true;
}

TNMUDP::~TNMUDP() { DestroyPlatform(); }

void TNMUDPDeleter::operator()(TNMUDP* udp) const { delete udp; }

void TNMUDP::SetLocalPort(int32_t port) {
  RecreateSocket();
  local_port_ = port;
  BindAndRegister(static_cast<uint16_t>(port));
}

void TNMUDP::SendDatagram(const char* Buffer, int32_t Length) {
  if (Length == 0) throw Exception("Invalid buffer");
  if (!parsed_ || parsed_host_ != remote_host_) {
    parsed_address_ = ParseAddressLiteral(remote_host_);
    parsed_host_ = remote_host_;
    parsed_ = true;
  }
  std::optional<uint32_t> address = parsed_address_;
  if (!address) {
    address = LookUpHost(remote_host_);
    if (!address) throw UDPSockError("Host Lookup Canceled");
  }
  if (*address == 0) throw UDPSockError("Null Remote Address");
  SendTo(*address, static_cast<uint16_t>(remote_port_), Buffer, Length);
}

void TNMUDP::ReadDatagram(char* Buffer, int32_t MaxLength, int32_t& Length) const {
  if (received_length_ > 0 && MaxLength > 0) {
    std::memcpy(Buffer, receive_buffer_, std::min(received_length_, MaxLength));
  }
  Length = received_length_;
}

void TNMUDP::Deliver(int32_t length, uint32_t from_address, uint16_t from_port) {
  received_length_ = length;
  if (!on_data_received_) return;
  if (from_address_ != from_address) {
    const auto* octets = reinterpret_cast<const unsigned char*>(&from_address);
    char text[16];
    char* end = text;
    for (int i = 0; i < 4; ++i) {
      if (i > 0) *end++ = '.';
      end = std::to_chars(end, text + sizeof text, octets[i]).ptr;
    }
    from_text_.assign(text, end);
    from_address_ = from_address;
  }
  on_data_received_(this, received_length_, from_text_, from_port);
}

}  // namespace arduino
