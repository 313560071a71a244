// frei0r has no way to report an error to the host: what the plug-ins cannot
// do is written to stderr instead, each message once per process, since hosts
// call set_param_value and update for every frame.
#pragma once

#include <string>

namespace qbfrei0r {

void WarnOnce(const std::string& message);

}  // namespace qbfrei0r
