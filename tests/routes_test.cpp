// Replaced by the routes tests.
#include "tests/support.h"
