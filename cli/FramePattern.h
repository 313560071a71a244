// Frame-numbered file names for sequences. A run of N '#' stands for the
// frame number zero-padded to N digits; a printf-style %d or %0Nd does the
// same. Every occurrence in a name is replaced.
#pragma once

#include <string>
#include <string_view>

namespace qbcli {

bool HasFramePattern(std::string_view name);
std::string ExpandFramePattern(std::string_view name, int frame);

}  // namespace qbcli
