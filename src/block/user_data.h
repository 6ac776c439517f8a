// The state of one block instance.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "block/block_codes.h"

namespace arduino {

// The UDP endpoint lives in link/; the block only owns it.
class TNMUDP;
// Destroys an endpoint where its type is complete, so that the block state
// can be created and destroyed without knowing it.
struct TNMUDPDeleter {
  void operator()(TNMUDP* udp) const;
};

struct TUserData;

// Carries a block's UDP receive handler; its one field leads back to the
// block's state.  The handler belongs to the UDP link and is defined there.
class TDummy {
 public:
  explicit TDummy(TUserData* user_data) : UserData(user_data) {}
  void UdpDataReceived(TNMUDP* Sender, int32_t NumberBytes, const std::string& FromIP,
                       int32_t Port);

  TUserData* UserData;
};

// Modes of digital pins 2 to 9, indexed by pin number.
class TPinModes {
 public:
  int32_t& operator[](int pin) { return modes_[pin - kFirstPin]; }
  int32_t operator[](int pin) const { return modes_[pin - kFirstPin]; }

 private:
  std::array<int32_t, kDigitalPins> modes_{};
};

struct TUserData {
  std::unique_ptr<TDummy> Dummy;
  bool ReplyReceived = false;
  std::string ReplyText;
  std::unique_ptr<TNMUDP, TNMUDPDeleter> Udp;
  int32_t InterfaceKind = kInterfaceEthernet;
  int32_t ComPort = 0;
  int32_t BaudRate = 0;
  int32_t UdpPort = 0;
  std::string IPAddress;
  TPinModes PinMode;
  std::array<int32_t, kAnalogInputs> AnalogUsed{};  // 0 unused, 1 used
};

// The settings of a newly created block.
void SetDefaults(TUserData& user_data);

}  // namespace arduino
