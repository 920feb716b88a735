// Line speed of a pseudo-terminal as its user set it (read through the
// master, which reports the slave's settings), custom rates included.
#pragma once

// Bits per second, or 0 when it cannot be read.
int PtyLineSpeed(int masterFd);
