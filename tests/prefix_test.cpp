// Replaced by the prefix tests.
#include "tests/support.h"
