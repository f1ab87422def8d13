// Replaced by the control tests.
#include "tests/support.h"
