// What the i386 build links in place of the platform's pump, links and
// clock: a board that answers every datagram at once, a pump that runs what
// it has queued, and a clock that moves only when the pump sleeps.  A wait
// for a reply that never comes thus ends after its limit in fake time, at
// once.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace arduino::fakes {

// The board behind every endpoint: the reply to a command, or nothing for
// none.  Without one set, nothing ever answers.
using Board = std::function<std::optional<std::string>(const std::string& command)>;
void SetBoard(Board board);

// Host code for a pump pass to run, as a host's window procedure runs when a
// wait of the library dispatches its message.
void PostHostCode(std::function<void()> code);

// The fake clock, in milliseconds.
uint32_t Now();

// Called by the link: a datagram has arrived for the pump to deliver.
void PostArrival(std::function<void()> deliver);

}  // namespace arduino::fakes
