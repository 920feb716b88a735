#include "support/TestUi.h"
