// The program-wide time-out clock: one start value for every wait.
#pragma once
#include <cstdint>

class IHost;

// Mode 0 starts the clock, mode 1 tells (1) whether ms have passed since the
// start; the difference is taken modulo 2^32 so a tick wrap is measured right.
int TimeOutCheck(int mode, uint32_t ms);

// Milliseconds left until ms have passed since the start (0 when passed).
uint32_t TimeOutRemaining(uint32_t ms);

// The tick source of the clock; set by the controller at construction.
void SetTimeOutHost(IHost* host);
