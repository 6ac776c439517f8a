// The simulation cycle: probe, start, one step per host step, end.
#pragma once

#include <cstdint>
#include <string>

namespace arduino {

struct TUserData;

constexpr long double kPwmMax = 1023.0L;
constexpr long double kInputHigh = 5.0L;
constexpr long double kInputLow = 0.0L;

// 1 if a run can start: always for Ethernet, when the COM port opens for USB.
int32_t CanSimulate(TUserData& block);
// Gives the link its destination or opens the COM port, sends every used
// pin's mode, then performs the first step.
void InitSimulation(TUserData& block, void* inputs, void* outputs);
// One step: pins 2 to 9, then A0 to A5, one exchange each (two for PWM).
void SimulateStep(TUserData& block, void* inputs, void* outputs);
// Closes the shared COM port at the end of a USB run.
void EndSimulation(TUserData& block);

// The PWM value for an input: clamped to 0..1023 (NaN as 0), rounded half
// to even.
long double ClampPwm(long double value);
int32_t RoundHalfEven(long double value);

}  // namespace arduino
