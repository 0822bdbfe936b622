// Fixed pauses measured on a wrapping 32-bit millisecond counter. No <windows.h> here.
#pragma once
#include <cstdint>
#include <functional>

using TickSource = std::function<uint32_t()>;
using Yield = std::function<void()>;

// Returns once the unsigned difference between a fresh reading and the first reading
// is at least milliseconds, so a counter that wraps past 0xFFFFFFFF ends the pause on
// time. Between readings it calls yield, which should give up the processor briefly.
void PauseFor(uint32_t milliseconds, const TickSource& ticks, const Yield& yield);
