// The frei0r API header, whose declarations need C linkage from C++.
#pragma once

extern "C" {
#include <frei0r.h>
}
