#include "ui/pause.h"

void PauseFor(uint32_t milliseconds, const TickSource& ticks, const Yield& yield)
{
    const uint32_t start = ticks();
    while (static_cast<uint32_t>(ticks() - start) < milliseconds)
        yield();
}
