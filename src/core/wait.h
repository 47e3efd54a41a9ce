// The program's one time base: the one-shot timer and the waits on it. Everything that waits
// (the serial link, the HEX reader, the keyboard port, the serial-menu products) waits here,
// processing events, so clicks and the timer's tick are handled while it waits.
#pragma once

#include <cstdint>

namespace rompush {

// Waits ms milliseconds on the one-shot timer, processing events.
void Delay(std::int16_t ms);
// Starts the one-shot timer: DelayActive turns False after ms.
void StartTimer(std::int32_t ms);
void StopTimer();
// Timer1's tick: the time has run out.
void Timer1_Timer();

}  // namespace rompush
