// Kept apart: the kernel's termios2 header cannot share a unit with <termios.h>.
#include "sim/qt/PtySpeed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

int PtyLineSpeed(int masterFd) {
  struct termios2 t {};
  if (ioctl(masterFd, TCGETS2, &t) != 0) return 0;
  return static_cast<int>(t.c_ospeed);
}
