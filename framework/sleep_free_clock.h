// Milliseconds on a clock that stands still while the machine sleeps and
// never moves with the wall clock: the interrupt time without its sleep,
// where the system has it (Windows 7 and later), else the tick count. Any
// thread; cheap enough for every message of the agent.
#pragma once

#include <cstdint>

uint64_t SleepFreeMs();
