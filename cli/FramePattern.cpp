#include "cli/FramePattern.h"

#include <cctype>
#include <cstdio>

namespace qbcli {

namespace {

// One frame-number field found at `at`: its length in the name, its width
// and whether it pads with zeros.
struct Field {
  size_t length = 0;
  int width = 0;
  bool zeros = true;
};

Field FieldAt(std::string_view name, size_t at) {
  Field field;
  if (name[at] == '#') {
    while (at + field.length < name.size() && name[at + field.length] == '#') ++field.length;
    field.width = static_cast<int>(field.length);
    return field;
  }
  if (name[at] != '%') return field;
  size_t end = at + 1;
  field.zeros = end < name.size() && name[end] == '0';
  if (field.zeros) ++end;
  // At most two digits: wider fields are not frame numbers anyone means.
  for (int digits = 0;
       digits < 2 && end < name.size() && std::isdigit(static_cast<unsigned char>(name[end]));
       ++digits) {
    field.width = field.width * 10 + (name[end++] - '0');
  }
  if (end < name.size() && name[end] == 'd') field.length = end + 1 - at;
  return field;
}

}  // namespace

bool HasFramePattern(std::string_view name) {
  for (size_t at = 0; at < name.size(); ++at) {
    if (FieldAt(name, at).length > 0) return true;
  }
  return false;
}

std::string ExpandFramePattern(std::string_view name, int frame) {
  std::string result;
  for (size_t at = 0; at < name.size();) {
    const Field field = FieldAt(name, at);
    if (field.length == 0) {
      result += name[at++];
      continue;
    }
    char digits[32];
    std::snprintf(digits, sizeof digits, field.zeros ? "%0*d" : "%*d", field.width, frame);
    result += digits;
    at += field.length;
  }
  return result;
}

}  // namespace qbcli
