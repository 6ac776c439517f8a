// What both benchmarks drive: a block that runs from its creation to its
// end, configured as a host loads a project, and the raw UDP exchange that
// takes turns with it.  Built on the harness; portable C++ only.
#pragma once

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "loaded_block.h"
#include "tool_api/block_codes.h"
#include "tool_api/link_waits.h"
#include "udp_peer.h"

namespace bench {

// Pairs run before the measured ones, so that page faults, the first
// allocations and a cold cache weigh on neither side.
inline constexpr int kWarmUpPairs = 200;
// The command of every measured exchange: read pin 2.
inline const std::string kCommand = "?02s?";

// Pin 2 alone makes one exchange per step; the default pins, all analog
// inputs included, make 14.
enum class Pins { kPinTwo, kDefault };

inline harness::BlockSettings WithPins(harness::BlockSettings settings, Pins pins) {
  if (pins == Pins::kPinTwo) {
    settings.pin_mode.fill(arduino::pmUnused);
    settings.pin_mode[0] = arduino::pmDigitalInput;
    settings.analog_used.fill(0);
  }
  return settings;
}

inline harness::BlockSettings UdpSettings(uint16_t port, Pins pins) {
  harness::BlockSettings settings;
  settings.interface_kind = arduino::kInterfaceEthernet;
  settings.com_port = 1;
  settings.udp_port = port;
  return WithPins(settings, pins);
}

// One block, configured through ReadFromFile and in a simulation run from
// its creation to its end, as a host runs a loaded project.
class Block {
 public:
  Block(const harness::BlockExports& exports, const harness::BlockSettings& settings)
      : block_(exports),
        run_(&block_),
        inputs_(harness::Values::Inputs()),
        outputs_(harness::Values::Outputs()) {
    block_.Configure(settings);
    run_.Init(&inputs_, &outputs_);
  }

  void Step() { run_.Step(&inputs_, &outputs_); }

 private:
  harness::LoadedBlock block_;
  harness::SimulationRun run_;
  harness::Values inputs_, outputs_;
};

// The raw client waits for a UDP reply as long as the block does.
inline constexpr std::chrono::milliseconds kUdpReplyLimit{arduino::kUdpReplyWaitMs};

// The Wine bench's raw UDP exchange: one datagram out and one back, on a
// peer connected to the board, waiting for the reply with the block's
// limit: the send, one wait, one read.  Its wall time is reported there and
// held to nothing; the native bench holds the library against a client that
// does all the block must (raw_udp_client.h).
inline void RawUdpExchange(const harness::UdpPeer& peer) {
  peer.Send(kCommand);
  if (!peer.Receive(kUdpReplyLimit)) throw std::runtime_error("raw UDP exchange failed");
}

}  // namespace bench
